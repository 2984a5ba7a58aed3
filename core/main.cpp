#include "core/core.h"

int main(int argc, char **argv) {
    return kessrun_main(argc, argv);
}
