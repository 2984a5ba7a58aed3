// Screenshots and "--record-video" frames: the framebuffer read back as RGB.
#include "files/files.h"
#include "platform/platform.h"
#include "render/render_local.h"

#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>

namespace {

// The number the next screenshot gets; -1 until the first one.
int64_t next_number = -1;

// Whether a screenshot of that number exists in the home directory (the file
// index is not refreshed after start-up, so the disk is asked directly).
bool shot_exists(int64_t n)
{
    const char *home = search_dir(0);
    if (!home) {
        return false;
    }
    char path[1200];
    std::snprintf(path, sizeof path, "%sscreenshot%03" PRId64 ".png", home, n);
    return velk_path_exists(path);
}

} // namespace

int64_t screenshot_first_number(const char *const *names)
{
    // The numbers below the limit; a name with a larger one is left alone,
    // so a single stray file cannot use up every number.
    std::vector<int64_t> numbers;
    for (const char *const *n = names; n && *n; ++n) {
        const char *s = *n;
        if (std::strncmp(s, "screenshot", 10) != 0 || s[10] < '0' || s[10] > '9') {
            continue;
        }
        // "screenshot%u", read without wrapping.
        int64_t v = 0;
        for (const char *p = s + 10; *p >= '0' && *p <= '9' && v <= INT32_MAX; p++) {
            v = v * 10 + (*p - '0');
        }
        if (v <= INT32_MAX) {
            numbers.push_back(v);
        }
    }
    int64_t highest = numbers.empty() ? 0 : *std::max_element(numbers.begin(), numbers.end());
    if (highest < INT32_MAX) {
        return highest + 1;
    }
    // The top number is taken: the first free one from 1.
    std::sort(numbers.begin(), numbers.end());
    int64_t next = 1;
    for (int64_t v : numbers) {
        if (v == next) {
            next++;
        } else if (v > next) {
            break;
        }
    }
    return next;
}

bool read_pixels_rgb(int x, int y, int width, int height, uint8_t *rgb)
{
    if (!krgl.ready || width <= 0 || height <= 0) {
        return false;
    }
    // RGBA is the one read-back format every context must offer (OpenGL ES
    // refuses RGB).
    size_t n = size_t(width) * size_t(height);
    std::vector<uint8_t> rgba(n * 4);
    krglPixelStorei(GL_PACK_ALIGNMENT, 1);
    krglReadPixels(x, y, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    for (size_t i = 0; i < n; i++) {
        std::memcpy(rgb + i * 3, &rgba[i * 4], 3);
    }
    return true;
}

bool read_frame_rgb(int width, int height, std::vector<uint8_t> *rgb)
{
    if (width <= 0 || height <= 0) {
        return false;
    }
    size_t row = size_t(width) * 3;
    std::vector<uint8_t> raw(row * size_t(height));
    if (!read_pixels_rgb(0, 0, width, height, raw.data())) {
        return false;
    }
    rgb->resize(raw.size());
    // GL rows run bottom-up.
    for (size_t y = 0; y < size_t(height); y++) {
        std::memcpy(rgb->data() + y * row, raw.data() + (size_t(height) - 1 - y) * row, row);
    }
    return true;
}

bool save_screenshot(const char *const *names, int width, int height, std::string *saved)
{
    if (!krgl.ready || width <= 0 || height <= 0) {
        return false;
    }
    if (next_number < 0) {
        next_number = screenshot_first_number(names);
    }
    // Never overwrite a file made since the index was built; past the
    // limit the count goes on from the first free number.
    for (bool wrapped = false;;) {
        while (next_number <= INT32_MAX && shot_exists(next_number)) {
            next_number++;
        }
        if (next_number <= INT32_MAX) {
            break;
        }
        if (wrapped) {
            velk_log("Can't save screenshot: no free number\n");
            return false;
        }
        wrapped = true;
        next_number = 1;
    }
    std::vector<uint8_t> raw(size_t(width) * 3 * size_t(height));
    if (!read_pixels_rgb(0, 0, width, height, raw.data())) {
        return false;
    }
    char name[64];
    std::snprintf(name, sizeof name, "@screenshot%03" PRId64 ".png", next_number);
    if (!WritePngRgb(name, raw.data(), width, height)) {
        velk_log("Can't save screenshot %s\n", name + 1);
        return false;
    }
    next_number++;
    if (saved) {
        *saved = name + 1;
    }
    return true;
}
