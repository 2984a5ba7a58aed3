// kessrun_content OUT_DIR: writes the game data that ships with the program.

#include "content/content.h"

#include <cstdio>

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kessrun_content OUT_DIR\n");
        return 2;
    }
    const char *out = argv[1];
    if (!generate_tracks(out))
        return 1;
    if (!generate_images(out))
        return 1;
    if (!generate_shapes(out))
        return 1;
    return 0;
}
