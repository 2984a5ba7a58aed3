// window_sdl.cpp -- the window half of VELK on SDL2: display modes, the one
// window with its GL context, the frame protocol, and window events turned
// into input events.
//
// SDL on Linux wants its video and event calls on the thread that opened the
// window, so window events are always pumped on that thread when input is
// read; the "threaded" option is read and logged but cannot be honoured.
#include "platform/input_sdl.h"
#include "platform/keys_sdl.h"
#include "platform/platform.h"
#include "platform/platform_local.h"

#include <SDL.h>
#include <dlfcn.h>
#include <link.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct sdl_window_deleter {
    void operator()(SDL_Window *w) const { SDL_DestroyWindow(w); }
};
struct gl_context_deleter {
    void operator()(void *c) const { SDL_GL_DeleteContext(c); }
};
using window_handle = std::unique_ptr<SDL_Window, sdl_window_deleter>;
using context_handle = std::unique_ptr<void, gl_context_deleter>;

// SDL video state for the run: initialised on first use, kept until exit so
// the mode list and a reopened window need no second start-up.
bool video_tried = false;
bool video_ready = false;
// velk_time minus SDL's tick count, in microseconds, measured at start-up:
// turns SDL event time stamps into velk_time readings.
int64_t ticks_to_velk_us = 0;

std::once_flag modes_once;
std::vector<velk_display_mode> display_modes;
// Headless runs touch no video system: one fixed mode, as without a window system.
bool headless_run = false;

velk_gl_request gl_request = {3, 1, velk_gl_kind::core};

bool options_logged = false;
bool threaded_option = false;

int64_t clock_us(velk_clock c) { return c.sec * 1000000 + c.usec; }

velk_clock clock_from_us(int64_t us) { return velk_clock{us / 1000000, int32_t(us % 1000000)}; }

// Why the last window could not be opened; logged as it is set.
std::string window_failure;

void fail(const std::string &text)
{
    window_failure = text;
    velk_log("%s\n", text.c_str());
}

bool video_init()
{
    if (video_tried) {
        return video_ready;
    }
    video_tried = true;
    // Draw at the display's real pixel size rather than letting the system
    // scale a low-resolution buffer.
    SDL_SetHint(SDL_HINT_VIDEO_HIGHDPI_DISABLED, "0");
    SDL_SetHint(SDL_HINT_WINDOWS_DPI_AWARENESS, "permonitorv2");
    // SDL's quit event becomes the close request and the game decides.
    // (SIGINT and SIGTERM are caught by velk_prepare_process, so SDL leaves
    // them alone.)
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
        fail(std::string("Can't initialise SDL video: ") + SDL_GetError());
        return false;
    }
    // Without a display SDL may fall back to a driver that shows nothing:
    // the game would run unseen for ever. Only a driver named in
    // SDL_VIDEODRIVER is taken as it is.
    const char *driver = SDL_GetCurrentVideoDriver();
    if (driver && invisible_driver_refused(driver, SDL_getenv("SDL_VIDEODRIVER"))) {
        fail(std::string("No display: SDL offers only its \"") + driver +
             "\" video driver, which shows nothing (set SDL_VIDEODRIVER to use it anyway)");
        SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
        return false;
    }
    velk_log("Display scaling disabled via SDL high-DPI hints\n");
    int64_t now = clock_us(velk_time());
    ticks_to_velk_us = now - int64_t(SDL_GetTicks64()) * 1000;
    video_ready = true;
    return true;
}

// GL drivers are not made to be unloaded: SDL lets go of the library with
// the last window (and reloads it, maybe through GLX or EGL, for the next),
// which can leave a driver's threads and allocations behind in unmapped
// code. Every library loaded so far is marked never to be unloaded.
int pin_library(dl_phdr_info *info, size_t, void *)
{
    if (info->dlpi_name && info->dlpi_name[0]) {
        // The handle is kept on purpose: the library stays for the run.
        (void)dlopen(info->dlpi_name, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
    }
    return 0;
}

void pin_loaded_libraries() { dl_iterate_phdr(pin_library, nullptr); }

// 4-byte pixels count as 32 bits whatever SDL calls the padding byte, so the
// same display lists one depth as on other systems.
int mode_depth(Uint32 format)
{
    int bpp = int(SDL_BITSPERPIXEL(format));
    if (bpp == 24 && SDL_BYTESPERPIXEL(format) == 4) {
        bpp = 32;
    }
    return bpp;
}

bool depth_accepted(int bpp) { return bpp == 15 || bpp == 16 || bpp == 24 || bpp == 32; }

void add_mode(const SDL_DisplayMode &m, bool desktop)
{
    int bpp = mode_depth(m.format);
    bool ok = depth_accepted(bpp);
    if (desktop) {
        velk_log(ok ? "Registry mode is %dx%dx%d@%dhz\n" : "Registry mode is %dx%dx%d@%dhz (ignored)\n", m.w, m.h,
                 bpp, m.refresh_rate);
    } else if (!ok) {
        velk_log("Found mode %dx%dx%d@%dhz (ignored)\n", m.w, m.h, bpp, m.refresh_rate);
    }
    if (!ok) {
        return;
    }
    for (const velk_display_mode &d : display_modes) {
        if (d.width == m.w && d.height == m.h && d.bpp == bpp) {
            return;
        }
    }
    display_modes.push_back(velk_display_mode{m.w, m.h, bpp});
    if (!desktop) {
        velk_log("Found mode %dx%dx%d@%dhz\n", m.w, m.h, bpp, m.refresh_rate);
    }
}

void build_modes()
{
    if (headless_run) {
        display_modes.push_back(velk_display_mode{640, 480, 32});
        return;
    }
    if (!video_init()) {
        return;
    }
    SDL_DisplayMode m;
    if (SDL_GetDesktopDisplayMode(0, &m) == 0) {
        add_mode(m, true);
    } else {
        velk_log("Can't read the desktop mode: %s\n", SDL_GetError());
    }
    int n = SDL_GetNumDisplayModes(0);
    for (int i = 0; i < n; i++) {
        if (SDL_GetDisplayMode(0, i, &m) == 0) {
            add_mode(m, false);
        }
    }
}

// The desktop's size: the first listed mode, 640 x 480 when none is known.
velk_display_mode desktop_mode(std::span<const velk_display_mode> modes)
{
    return modes.empty() ? velk_display_mode{640, 480, 32} : modes[0];
}

// Per-channel colour sizes for a total depth; 32 is asked as 24 (the fourth
// byte is padding or alpha, which is asked separately).
void set_colour_bits(int colour_bits)
{
    int r = 0, g = 0, b = 0;
    if (colour_bits >= 24) {
        r = g = b = 8;
    } else if (colour_bits == 16) {
        r = 5, g = 6, b = 5;
    } else if (colour_bits == 15) {
        r = g = b = 5;
    } else {
        return;
    }
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, r);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, g);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, b);
}

int profile_mask(velk_gl_kind kind)
{
    switch (kind) {
    case velk_gl_kind::es:
        return SDL_GL_CONTEXT_PROFILE_ES;
    case velk_gl_kind::core:
        return SDL_GL_CONTEXT_PROFILE_CORE;
    default:
        return SDL_GL_CONTEXT_PROFILE_COMPATIBILITY;
    }
}

// GL enums for reading the created context back.
constexpr unsigned gl_version = 0x1F02;
constexpr unsigned gl_num_extensions = 0x821D;
constexpr unsigned gl_extensions = 0x1F03;
constexpr unsigned gl_context_profile_mask = 0x9126;
constexpr int gl_context_core_profile_bit = 0x1;

using gl_get_string_fn = const unsigned char *(*)(unsigned);
using gl_get_stringi_fn = const unsigned char *(*)(unsigned, unsigned);
using gl_get_integerv_fn = void (*)(unsigned, int *);

bool has_arb_compatibility()
{
    auto get_stringi = reinterpret_cast<gl_get_stringi_fn>(SDL_GL_GetProcAddress("glGetStringi"));
    auto get_integerv = reinterpret_cast<gl_get_integerv_fn>(SDL_GL_GetProcAddress("glGetIntegerv"));
    if (!get_stringi || !get_integerv) {
        return true;
    }
    int n = 0;
    get_integerv(gl_num_extensions, &n);
    for (int i = 0; i < n; i++) {
        const unsigned char *e = get_stringi(gl_extensions, unsigned(i));
        if (e && std::strcmp(reinterpret_cast<const char *>(e), "GL_ARB_compatibility") == 0) {
            return true;
        }
    }
    return false;
}

// The version and kind of the current context, from GL itself: SDL only
// remembers what was asked for.
velk_gl_request read_context_kind(velk_gl_request asked)
{
    velk_gl_request got = asked;
    auto get_string = reinterpret_cast<gl_get_string_fn>(SDL_GL_GetProcAddress("glGetString"));
    const char *v = get_string ? reinterpret_cast<const char *>(get_string(gl_version)) : nullptr;
    if (!v) {
        velk_log("Can't read the OpenGL version\n");
        return got;
    }
    velk_log("OpenGL version %s\n", v);
    int major = 0, minor = 0;
    if (std::strncmp(v, "OpenGL ES", 9) == 0) {
        const char *p = v + 9;
        while (*p && (*p < '0' || *p > '9')) {
            p++;
        }
        if (std::sscanf(p, "%d.%d", &major, &minor) == 2) {
            got = {major, minor, velk_gl_kind::es};
        }
        return got;
    }
    if (std::sscanf(v, "%d.%d", &major, &minor) != 2) {
        return got;
    }
    got.major = major;
    got.minor = minor;
    if (major > 3 || (major == 3 && minor >= 2)) {
        auto get_integerv = reinterpret_cast<gl_get_integerv_fn>(SDL_GL_GetProcAddress("glGetIntegerv"));
        int mask = 0;
        if (get_integerv) {
            get_integerv(gl_context_profile_mask, &mask);
        }
        got.kind = (mask & gl_context_core_profile_bit) ? velk_gl_kind::core : velk_gl_kind::compatibility;
    } else if (major == 3 && minor == 1) {
        // 3.1 has no profiles: it is core unless it still offers the old API.
        got.kind = has_arb_compatibility() ? velk_gl_kind::compatibility : velk_gl_kind::core;
    } else {
        got.kind = velk_gl_kind::compatibility;
    }
    return got;
}

// Microseconds in the velk_time domain for an SDL event time stamp (32-bit
// milliseconds since SDL started), never later than now.
velk_clock event_time(Uint32 stamp)
{
    int64_t now = clock_us(velk_time());
    Uint64 ticks = SDL_GetTicks64();
    // Unwrap the 32-bit stamp against the 64-bit tick count.
    Uint64 full = ticks - Uint32(Uint32(ticks) - stamp);
    int64_t us = int64_t(full) * 1000 + ticks_to_velk_us;
    if (us > now) {
        us = now;
    }
    return clock_from_us(us);
}

// The code point of each UTF-8 sequence; malformed bytes pass as themselves.
template <typename F> void for_each_code_point(const char *s, F emit)
{
    const auto *p = reinterpret_cast<const unsigned char *>(s);
    while (*p) {
        unsigned c = *p;
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        unsigned cp = extra == 3 ? (c & 0x07) : extra == 2 ? (c & 0x0F) : extra == 1 ? (c & 0x1F) : c;
        int i = 1;
        for (; i <= extra; i++) {
            if ((p[i] & 0xC0) != 0x80) {
                break;
            }
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        if (i <= extra || c >= 0xF8 || (c >= 0x80 && c < 0xC0)) {
            emit(c);
            p++;
            continue;
        }
        emit(cp);
        p += extra + 1;
    }
}

} // namespace

bool invisible_driver_refused(const char *driver, const char *asked)
{
    static const char *const invisible[] = {"offscreen", "dummy", "evdev"};
    bool is_invisible = false;
    for (const char *name : invisible) {
        is_invisible = is_invisible || SDL_strcasecmp(driver, name) == 0;
    }
    if (!is_invisible) {
        return false;
    }
    // SDL_VIDEODRIVER may list several drivers, separated by commas.
    size_t len = std::strlen(driver);
    for (const char *p = asked; p && *p;) {
        const char *end = std::strchr(p, ',');
        size_t n = end ? size_t(end - p) : std::strlen(p);
        if (n == len && SDL_strncasecmp(p, driver, n) == 0) {
            return false;
        }
        p = end ? end + 1 : p + n;
    }
    return true;
}

struct velk_window {
    window_handle window;
    context_handle context;
    std::thread::id thread;
    std::string title;
    velk_gl_request gl = {};
    bool fullscreen = false;

    // Held from velk_frame_begin to velk_frame_end; mode switches take it so
    // they fall between frames.
    std::mutex frame_mutex;
    std::atomic<std::thread::id> frame_owner{};

    // Guards the fields below, which any thread may read.
    mutable std::mutex state_mutex;
    int width = 0;
    int height = 0;
    bool paused = false;
    bool minimised = false;
    bool hidden = false;
    bool mode_pending = false;
    int pending_width = 0;
    int pending_height = 0;
    bool pending_fullscreen = false;

    std::atomic<bool> closed{false};
};

namespace {

void store_drawable_size(velk_window *w)
{
    int dw = 0, dh = 0;
    SDL_GL_GetDrawableSize(w->window.get(), &dw, &dh);
    std::lock_guard lock(w->state_mutex);
    w->width = dw;
    w->height = dh;
}

void switch_mode(velk_window *w, int width, int height, bool fullscreen)
{
    SDL_Window *win = w->window.get();
    std::span<const velk_display_mode> modes = velk_display_modes();
    velk_display_mode desktop = desktop_mode(modes);
    int rc = 0;
    if (fullscreen) {
        velk_display_mode m = velk_choose_mode(modes, width, height);
        velk_log("Switching to full screen %dx%d\n", m.width, m.height);
        if (!modes.empty() && m.width == desktop.width && m.height == desktop.height) {
            // The desktop's own mode: no mode change at all.
            rc = SDL_SetWindowFullscreen(win, SDL_WINDOW_FULLSCREEN_DESKTOP);
        } else {
            SDL_DisplayMode dm = {0, m.width, m.height, 0, nullptr};
            rc = SDL_SetWindowDisplayMode(win, &dm);
            if (rc == 0) {
                rc = SDL_SetWindowFullscreen(win, SDL_WINDOW_FULLSCREEN);
            }
        }
        if (rc == 0) {
            w->fullscreen = true;
        }
    } else {
        int cw = width > 0 && height > 0 ? width : desktop.width;
        int ch = width > 0 && height > 0 ? height : desktop.height;
        velk_log("Switching to a %dx%d window\n", cw, ch);
        bool was_fullscreen = w->fullscreen;
        rc = SDL_SetWindowFullscreen(win, 0);
        if (rc == 0) {
            w->fullscreen = false;
            SDL_SetWindowResizable(win, SDL_TRUE);
            SDL_SetWindowSize(win, cw, ch);
            if (was_fullscreen) {
                SDL_SetWindowPosition(win, 0, 0);
            }
        }
    }
    if (rc != 0) {
        velk_log("Can't switch mode: %s\n", SDL_GetError());
    }
    store_drawable_size(w);
}

// Runs a mode switch asked for by velk_set_mode, on the window's thread and
// only between frames; otherwise it stays pending for the next pump.
void apply_pending_mode(velk_window *w)
{
    if (std::this_thread::get_id() != w->thread || w->frame_owner.load() == std::this_thread::get_id()) {
        return;
    }
    int width, height;
    bool fullscreen;
    {
        std::lock_guard lock(w->state_mutex);
        if (!w->mode_pending) {
            return;
        }
    }
    if (!w->frame_mutex.try_lock()) {
        return;
    }
    std::lock_guard frame(w->frame_mutex, std::adopt_lock);
    {
        std::lock_guard lock(w->state_mutex);
        width = w->pending_width;
        height = w->pending_height;
        fullscreen = w->pending_fullscreen;
        w->mode_pending = false;
        w->paused = true;
    }
    switch_mode(w, width, height, fullscreen);
    std::lock_guard lock(w->state_mutex);
    w->paused = false;
}

struct gl_bits {
    int colour;
    int alpha;
    int depth;
    int stencil;
    int accum;
};

void set_gl_attributes(velk_gl_request req, const gl_bits &bits)
{
    SDL_GL_ResetAttributes();
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, req.major);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, req.minor);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, profile_mask(req.kind));
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    set_colour_bits(bits.colour);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, bits.alpha > 0 ? bits.alpha : 0);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, bits.depth > 0 ? bits.depth : 0);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, bits.stencil > 0 ? bits.stencil : 0);
    // The accumulation bits are a total over four channels.
    int accum = bits.accum > 0 ? bits.accum / 4 : 0;
    SDL_GL_SetAttribute(SDL_GL_ACCUM_RED_SIZE, accum);
    SDL_GL_SetAttribute(SDL_GL_ACCUM_GREEN_SIZE, accum);
    SDL_GL_SetAttribute(SDL_GL_ACCUM_BLUE_SIZE, accum);
    SDL_GL_SetAttribute(SDL_GL_ACCUM_ALPHA_SIZE, accum);
}

struct window_shape {
    int width;
    int height;
    Uint32 flags;
};

window_shape choose_shape(int width, int height, bool fullscreen)
{
    std::span<const velk_display_mode> modes = velk_display_modes();
    velk_display_mode desktop = desktop_mode(modes);
    window_shape s = {desktop.width, desktop.height, SDL_WINDOW_OPENGL | SDL_WINDOW_ALLOW_HIGHDPI | SDL_WINDOW_SHOWN};
    if (fullscreen) {
        velk_display_mode m = velk_choose_mode(modes, width, height);
        s.width = m.width;
        s.height = m.height;
        bool is_desktop = !modes.empty() && m.width == desktop.width && m.height == desktop.height;
        s.flags |= is_desktop ? SDL_WINDOW_FULLSCREEN_DESKTOP : SDL_WINDOW_FULLSCREEN;
    } else {
        if (width > 0 && height > 0) {
            s.width = width;
            s.height = height;
        }
        s.flags |= SDL_WINDOW_RESIZABLE;
    }
    return s;
}

bool create_window(velk_window *w, const window_shape &s)
{
    velk_log("Creating window\n");
    w->window.reset(SDL_CreateWindow(w->title.c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, s.width,
                                     s.height, s.flags));
    if (!w->window) {
        velk_log("Can't create window!\n");
        velk_log("SDL: %s\n", SDL_GetError());
        velk_error("Can't create window!");
        window_failure = std::string("Can't create window! (") + SDL_GetError() + ")";
        return false;
    }
    // SDL has loaded the GL library for this window by now.
    pin_loaded_libraries();
    return true;
}

bool create_context(velk_window *w)
{
    velk_log("Creating OpenGL context\n");
    w->context.reset(SDL_GL_CreateContext(w->window.get()));
    return w->context != nullptr;
}

} // namespace

std::span<const velk_display_mode> velk_display_modes()
{
    std::call_once(modes_once, build_modes);
    return display_modes;
}

void velk_set_gl_request(int major, int minor, velk_gl_kind kind) { gl_request = {major, minor, kind}; }

void velk_set_headless(bool on) { headless_run = on; }

velk_gl_request velk_get_gl_request() { return gl_request; }

velk_window *velk_window_open(const char *title, int width, int height, int colour_bits, bool fullscreen,
                              int alpha_bits, int depth_bits, int stencil_bits, int accum_bits)
{
    (void)velk_display_modes();
    if (!options_logged) {
        options_logged = true;
        threaded_option = velk_option_bool("threaded", false);
        velk_log("Options:\n");
        velk_log("%10s [%s]\n", "threaded:", threaded_option ? "on" : "off");
        if (threaded_option) {
            velk_log("Window messages run on the main thread with SDL: threaded not honoured\n");
        }
    }
    if (!video_ready) {
        velk_log("Can't create window!\n");
        velk_error("Can't create window!");
        if (window_failure.empty())
            window_failure = "Can't create window!";
        return nullptr;
    }
    window_failure.clear();

    // The context asked for, as the options may override it.
    velk_gl_request asked = gl_request;
    bool want_es = velk_option_bool("gles", asked.kind == velk_gl_kind::es);
    bool want_core = velk_option_bool("glcore", asked.kind == velk_gl_kind::core);
    asked.major = velk_option_int("glmajor", asked.major);
    asked.minor = velk_option_int("glminor", asked.minor);
    velk_gl_kind desktop_kind = want_core ? velk_gl_kind::core : velk_gl_kind::compatibility;
    asked.kind = want_es ? velk_gl_kind::es : desktop_kind;

    auto w = std::make_unique<velk_window>();
    w->thread = std::this_thread::get_id();
    w->title = title ? title : "";
    window_shape shape = choose_shape(width, height, fullscreen);

    // Attempts in order: the request, with a core profile below 3.2 asked
    // as 3.2 (earlier versions have no profiles, so drivers hand out a
    // compatibility context); the exact request; for ES, the desktop kind.
    // Each retry starts on a fresh window, as the first window's visual may
    // have been picked for the failed kind.
    gl_bits bits = {colour_bits, alpha_bits, depth_bits, stencil_bits, accum_bits};
    velk_gl_request attempts[3];
    int count = 0;
    if (asked.kind == velk_gl_kind::core && (asked.major < 3 || (asked.major == 3 && asked.minor < 2))) {
        attempts[count++] = {3, 2, velk_gl_kind::core};
    }
    attempts[count++] = asked;
    if (asked.kind == velk_gl_kind::es) {
        attempts[count++] = {asked.major, asked.minor, desktop_kind};
    }
    bool ok = false;
    for (int i = 0; i < count && !ok; i++) {
        if (i > 0) {
            if (attempts[i - 1].kind == velk_gl_kind::es) {
                velk_log("Can't create OpenGL ES context: %s\n", SDL_GetError());
            } else {
                velk_log("Couldn't create OpenGL %d.%d context: %s\n", attempts[i - 1].major,
                         attempts[i - 1].minor, SDL_GetError());
            }
            w->window.reset();
        }
        set_gl_attributes(attempts[i], bits);
        if (!create_window(w.get(), shape)) {
            return nullptr;
        }
        ok = create_context(w.get());
        asked = attempts[i];
    }
    if (!ok) {
        velk_log("Couldn't create OpenGL context with attributes\n");
        velk_log("SDL: %s\n", SDL_GetError());
        window_failure = std::string("Couldn't create OpenGL ") + std::to_string(asked.major) + "." +
                         std::to_string(asked.minor) + " context (" + SDL_GetError() + ")";
        velk_log("Destroying window\n");
        return nullptr;
    }
    pin_loaded_libraries();
    w->gl = read_context_kind(asked);
    velk_log("Created OpenGL %s %d.%d context\n",
             w->gl.kind == velk_gl_kind::es     ? "ES"
             : w->gl.kind == velk_gl_kind::core ? "core"
                                                : "compatibility",
             w->gl.major, w->gl.minor);

    w->fullscreen = (shape.flags & SDL_WINDOW_FULLSCREEN) != 0;
    Uint32 flags = SDL_GetWindowFlags(w->window.get());
    w->hidden = (flags & SDL_WINDOW_HIDDEN) != 0;
    w->minimised = (flags & SDL_WINDOW_MINIMIZED) != 0;
    store_drawable_size(w.get());
    SDL_RaiseWindow(w->window.get());
    // The screen saver and monitor power-down stay off while the game runs.
    SDL_DisableScreenSaver();
    SDL_StartTextInput();
    velk_input_roll_call();
    return w.release();
}

void velk_window_close(velk_window *w)
{
    if (!w) {
        return;
    }
    w->closed = true;
    std::unique_ptr<velk_window> owned(w);
    SDL_StopTextInput();
    SDL_GL_MakeCurrent(w->window.get(), nullptr);
    velk_log("Deleting OpenGL context\n");
    w->context.reset();
    velk_log("Closing input devices\n");
    velk_input_close();
    input_clear_events();
    velk_log("Destroying window\n");
    w->window.reset();
    SDL_EnableScreenSaver();
    velk_log("Window shutdown complete\n");
}

const char *velk_window_error() { return window_failure.c_str(); }

velk_gl_request velk_window_gl(const velk_window *w) { return w ? w->gl : velk_gl_request{0, 0, velk_gl_kind::compatibility}; }

bool velk_window_visible(const velk_window *w)
{
    if (!w) {
        return false;
    }
    std::lock_guard lock(w->state_mutex);
    return !w->hidden && !w->minimised;
}

bool velk_window_closed(const velk_window *w) { return !w || w->closed.load(); }

void velk_pump_events(velk_window *w)
{
    // SDL's events belong to the thread that opened the window.
    if (!w || std::this_thread::get_id() != w->thread) {
        return;
    }
    Uint32 id = SDL_GetWindowID(w->window.get());
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        switch (e.type) {
        case SDL_QUIT:
            input_queue_event_now(VELK_CLOSE, true);
            break;
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            // Held keys repeat their key-down, as the game's key handling expects.
            bool down = e.type == SDL_KEYDOWN;
            velk_clock t = event_time(e.key.timestamp);
            int scan = velk_set1_scan_code(e.key.keysym.scancode);
            if (scan != 0) {
                input_queue_event(VELK_KEY_BASE | uint32_t(scan), down, t);
            }
            if (!down) {
                break;
            }
            // Keys that type control characters, which SDL's text events leave out.
            uint32_t ch = 0;
            switch (e.key.keysym.scancode) {
            case SDL_SCANCODE_BACKSPACE:
                ch = 8;
                break;
            case SDL_SCANCODE_TAB:
                ch = 9;
                break;
            case SDL_SCANCODE_RETURN:
            case SDL_SCANCODE_KP_ENTER:
                ch = 13;
                break;
            case SDL_SCANCODE_ESCAPE:
                ch = 27;
                break;
            default:
                if ((e.key.keysym.mod & KMOD_CTRL) && !(e.key.keysym.mod & KMOD_ALT) &&
                    e.key.keysym.sym >= SDLK_a && e.key.keysym.sym <= SDLK_z) {
                    ch = uint32_t(e.key.keysym.sym - SDLK_a + 1);
                }
                break;
            }
            if (ch != 0) {
                input_queue_event(ch, true, t);
            }
            break;
        }
        case SDL_TEXTINPUT: {
            velk_clock t = event_time(e.text.timestamp);
            for_each_code_point(e.text.text, [&](unsigned cp) { input_queue_event(cp & 0xFF, true, t); });
            break;
        }
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            uint32_t code = e.button.button == SDL_BUTTON_LEFT     ? VELK_MOUSE_LEFT
                            : e.button.button == SDL_BUTTON_MIDDLE ? VELK_MOUSE_MIDDLE
                            : e.button.button == SDL_BUTTON_RIGHT  ? VELK_MOUSE_RIGHT
                                                                   : 0;
            if (code != 0) {
                input_queue_event(code, e.type == SDL_MOUSEBUTTONDOWN, event_time(e.button.timestamp));
            }
            break;
        }
        case SDL_WINDOWEVENT:
            if (e.window.windowID != id) {
                break;
            }
            switch (e.window.event) {
            case SDL_WINDOWEVENT_CLOSE:
                input_queue_event_now(VELK_CLOSE, true);
                break;
            case SDL_WINDOWEVENT_SIZE_CHANGED: {
                store_drawable_size(w);
                std::lock_guard lock(w->state_mutex);
                velk_log("WM_SIZE message %dx%d\n", w->width, w->height);
                break;
            }
            case SDL_WINDOWEVENT_MINIMIZED: {
                std::lock_guard lock(w->state_mutex);
                w->minimised = true;
                break;
            }
            case SDL_WINDOWEVENT_RESTORED:
            case SDL_WINDOWEVENT_MAXIMIZED: {
                std::lock_guard lock(w->state_mutex);
                w->minimised = false;
                break;
            }
            case SDL_WINDOWEVENT_HIDDEN: {
                std::lock_guard lock(w->state_mutex);
                w->hidden = true;
                break;
            }
            case SDL_WINDOWEVENT_SHOWN: {
                std::lock_guard lock(w->state_mutex);
                w->hidden = false;
                break;
            }
            default:
                break;
            }
            break;
        default:
            velk_input_sdl_event(e, event_time(e.common.timestamp));
            break;
        }
    }
    apply_pending_mode(w);
}

bool velk_frame_begin(velk_window *w, int *width, int *height)
{
    if (!w || !velk_window_visible(w)) {
        return false;
    }
    w->frame_mutex.lock();
    std::unique_lock lock(w->state_mutex);
    if (w->paused) {
        lock.unlock();
        w->frame_mutex.unlock();
        return false;
    }
    if (width) {
        *width = w->width;
    }
    if (height) {
        *height = w->height;
    }
    w->frame_owner = std::this_thread::get_id();
    return true;
}

void velk_frame_end(velk_window *w)
{
    // Only the thread that began the frame may end it.
    if (!w || w->frame_owner.load() != std::this_thread::get_id()) {
        return;
    }
    SDL_GL_SwapWindow(w->window.get());
    w->frame_owner = std::thread::id{};
    w->frame_mutex.unlock();
}

void velk_set_mode(velk_window *w, int width, int height, bool fullscreen)
{
    if (!w) {
        return;
    }
    {
        std::lock_guard lock(w->state_mutex);
        w->mode_pending = true;
        w->pending_width = width;
        w->pending_height = height;
        w->pending_fullscreen = fullscreen;
    }
    apply_pending_mode(w);
}

void *velk_gl_proc(const char *name) { return name ? SDL_GL_GetProcAddress(name) : nullptr; }

bool velk_show_system_message_box(const char *caption, const char *text)
{
    const char *x = std::getenv("DISPLAY");
    const char *wl = std::getenv("WAYLAND_DISPLAY");
    if ((!x || !*x) && (!wl || !*wl)) {
        return false;
    }
    return SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption ? caption : "", text ? text : "", nullptr) == 0;
}
