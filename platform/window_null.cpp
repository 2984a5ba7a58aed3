// window_null.cpp -- the window half of VELK without a window system, for
// tests and headless runs: a fixed mode list and one window record that is
// always visible, so the frame loop runs without drawing anything.
#include "platform/platform.h"
#include "platform/platform_local.h"

#include <array>

namespace {

constexpr std::array<velk_display_mode, 3> null_modes = {{
    {640, 480, 32},
    {800, 600, 32},
    {1024, 768, 32},
}};

velk_gl_request gl_request = {3, 1, velk_gl_kind::core};
bool options_logged = false;

} // namespace

struct velk_window {
    int width;
    int height;
    velk_gl_request gl;
    bool open;
};

namespace {

velk_window null_window = {};

// The size a window of this request would have: full screen at the chosen
// mode, or the requested client size (0 x 0: the desktop's).
void set_size(velk_window *w, int width, int height, bool fullscreen)
{
    velk_display_mode m = fullscreen ? velk_choose_mode(null_modes, width, height) : null_modes[0];
    if (!fullscreen && width > 0 && height > 0) {
        m.width = width;
        m.height = height;
    }
    w->width = m.width;
    w->height = m.height;
}

} // namespace

std::span<const velk_display_mode> velk_display_modes() { return null_modes; }

void velk_set_gl_request(int major, int minor, velk_gl_kind kind) { gl_request = {major, minor, kind}; }

void velk_set_headless(bool) {}

velk_gl_request velk_get_gl_request() { return gl_request; }

velk_window *velk_window_open(const char *title, int width, int height, int colour_bits, bool fullscreen,
                              int alpha_bits, int depth_bits, int stencil_bits, int accum_bits)
{
    if (!options_logged) {
        options_logged = true;
        bool threaded = velk_option_bool("threaded", false);
        velk_log("Options:\n");
        velk_log("%10s [%s]\n", "threaded:", threaded ? "on" : "off");
    }
    null_window = {};
    set_size(&null_window, width, height, fullscreen);
    null_window.gl = gl_request;
    null_window.open = true;
    return &null_window;
}

void velk_window_close(velk_window *w)
{
    if (!w) {
        return;
    }
    velk_log("Deleting OpenGL context\n");
    velk_log("Closing input devices\n");
    input_clear_events();
    velk_log("Destroying window\n");
    w->open = false;
    velk_log("Window shutdown complete\n");
}

const char *velk_window_error() { return ""; }

velk_gl_request velk_window_gl(const velk_window *w) { return w ? w->gl : velk_gl_request{0, 0, velk_gl_kind::compatibility}; }

bool velk_window_visible(const velk_window *w) { return w && w->open; }

bool velk_window_closed(const velk_window *w) { return !w || !w->open; }

void velk_pump_events(velk_window *) {}

bool velk_frame_begin(velk_window *w, int *width, int *height)
{
    if (!w || !w->open) {
        return false;
    }
    if (width) {
        *width = w->width;
    }
    if (height) {
        *height = w->height;
    }
    return true;
}

void velk_frame_end(velk_window *) {}

void velk_set_mode(velk_window *w, int width, int height, bool fullscreen)
{
    if (w) {
        set_size(w, width, height, fullscreen);
    }
}

void *velk_gl_proc(const char *) { return nullptr; }

bool velk_show_system_message_box(const char *, const char *) { return false; }
