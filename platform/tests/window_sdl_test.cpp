// Tests for the SDL window half: the key table, display modes, GL context
// kinds, the frame protocol and SDL events turned into input events. The
// window tests need an X display (tools/with-display.sh starts Xvfb).
#include "platform/keys_sdl.h"
#include "platform/platform.h"
#include "platform/platform_local.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

namespace {

// ---------------------------------------------------------------- video drivers

TEST(VideoDriver, DriversThatShowNothingOnlyWhenAskedFor)
{
    struct driver_case {
        const char *driver;
        const char *asked;
        bool refused;
    };
    const driver_case cases[] = {
        {"x11", nullptr, false},          {"wayland", "", false},          {"offscreen", nullptr, true},
        {"dummy", nullptr, true},         {"evdev", "", true},             {"offscreen", "x11", true},
        {"dummy", "dummy", false},        {"offscreen", "OFFSCREEN", false}, {"offscreen", "x11,offscreen", false},
        {"dummy", "dummy2", true},        {"dummy", "x11,dum", true},
    };
    for (const driver_case &c : cases) {
        EXPECT_EQ(invisible_driver_refused(c.driver, c.asked), c.refused)
            << c.driver << " asked " << (c.asked ? c.asked : "(unset)");
    }
}

// ---------------------------------------------------------------- key table

struct key_case {
    SDL_Scancode sdl;
    int set1;
};

TEST(KeysSdl, KnownKeysMapToTheirSet1Codes)
{
    const key_case cases[] = {
        {SDL_SCANCODE_A, 0x1E},       {SDL_SCANCODE_Z, 0x2C},         {SDL_SCANCODE_0, 0x0B},
        {SDL_SCANCODE_1, 0x02},       {SDL_SCANCODE_ESCAPE, 0x01},    {SDL_SCANCODE_RETURN, 0x1C},
        {SDL_SCANCODE_KP_ENTER, 0x11C}, {SDL_SCANCODE_LCTRL, 0x1D},   {SDL_SCANCODE_RCTRL, 0x11D},
        {SDL_SCANCODE_LALT, 0x38},    {SDL_SCANCODE_RALT, 0x138},     {SDL_SCANCODE_PAUSE, 0x45},
        {SDL_SCANCODE_NUMLOCKCLEAR, 0x145}, {SDL_SCANCODE_KP_DIVIDE, 0x135}, {SDL_SCANCODE_KP_MULTIPLY, 0x37},
        {SDL_SCANCODE_F10, 0x44},     {SDL_SCANCODE_F11, 0x57},       {SDL_SCANCODE_F12, 0x58},
        {SDL_SCANCODE_UP, 0x148},     {SDL_SCANCODE_PAGEDOWN, 0x151}, {SDL_SCANCODE_DELETE, 0x153},
        {SDL_SCANCODE_KP_PERIOD, 0x53}, {SDL_SCANCODE_GRAVE, 0x29},   {SDL_SCANCODE_BACKSLASH, 0x2B},
    };
    for (const key_case &c : cases) {
        EXPECT_EQ(velk_set1_scan_code(c.sdl), c.set1) << SDL_GetScancodeName(c.sdl);
    }
    EXPECT_EQ(velk_set1_scan_code(SDL_SCANCODE_UNKNOWN), 0);
    EXPECT_EQ(velk_set1_scan_code(-1), 0);
    EXPECT_EQ(velk_set1_scan_code(SDL_NUM_SCANCODES), 0);
}

// Every key of the built-in name table must be reachable from some SDL key,
// or a binding to it could never fire.
TEST(KeysSdl, EveryBuiltInKeyNameIsReachable)
{
    const int named[] = {
        0x01, 0x0B, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x1E, 0x30, 0x2E, 0x20, 0x12,
        0x21, 0x22, 0x23, 0x17, 0x24, 0x25, 0x26, 0x32, 0x31, 0x18, 0x19, 0x10, 0x13, 0x1F, 0x14, 0x16,
        0x2F, 0x11, 0x2D, 0x15, 0x2C, 0x0C, 0x0D, 0x1A, 0x1B, 0x27, 0x28, 0x29, 0x2B, 0x33, 0x34, 0x35,
        0x0E, 0x0F, 0x1C, 0x1D, 0x2A, 0x36, 0x39, 0x3A, 0x11D, 0x152, 0x153, 0x147, 0x14F, 0x149, 0x151,
        0x148, 0x150, 0x14B, 0x14D, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x40, 0x41, 0x42, 0x43, 0x44, 0x57,
        0x58, 0x45, 0x145, 0x135, 0x37, 0x4A, 0x47, 0x48, 0x49, 0x4E, 0x4B, 0x4C, 0x4D, 0x4F, 0x50, 0x51,
        0x11C, 0x52, 0x53,
    };
    std::set<int> reachable;
    for (int s = 0; s < SDL_NUM_SCANCODES; s++) {
        reachable.insert(velk_set1_scan_code(s));
    }
    for (int code : named) {
        EXPECT_TRUE(reachable.count(code)) << std::hex << code;
    }
}

// Two SDL keys sharing a code would make them indistinguishable; the ISO
// hash key is the one deliberate alias of backslash.
TEST(KeysSdl, NoTwoKeysShareACode)
{
    std::set<int> seen;
    for (int s = 0; s < SDL_NUM_SCANCODES; s++) {
        int code = velk_set1_scan_code(s);
        if (code == 0 || s == SDL_SCANCODE_NONUSHASH) {
            continue;
        }
        EXPECT_LE(code, 0x1FF);
        EXPECT_TRUE(seen.insert(code).second) << SDL_GetScancodeName(SDL_Scancode(s)) << " 0x" << std::hex << code;
    }
}

// ---------------------------------------------------------------- window

bool have_display()
{
    const char *d = std::getenv("DISPLAY");
    return d && *d;
}

class WindowSdl : public ::testing::Test {
protected:
    static void SetUpTestSuite() { unsetenv("VELK_OPTIONS"); }

    void SetUp() override
    {
        if (!have_display()) {
            GTEST_SKIP() << "no display";
        }
        velk_set_gl_request(3, 1, velk_gl_kind::core);
    }

    void TearDown() override
    {
        velk_window_close(window);
        window = nullptr;
        velk_set_gl_request(3, 1, velk_gl_kind::core);
    }

    void open(int width = 320, int height = 240)
    {
        window = velk_window_open("window test", width, height, 32, false, 8, 24, 8, 0);
        ASSERT_NE(window, nullptr);
    }

    // Pumps and drains the queue.
    std::vector<velk_event> pump()
    {
        velk_pump_events(window);
        std::vector<velk_event> out;
        velk_event e;
        while (input_next_event(&e)) {
            out.push_back(e);
        }
        return out;
    }

    velk_window *window = nullptr;
};

TEST_F(WindowSdl, DesktopModeComesFirstAndModesAreUnique)
{
    std::span<const velk_display_mode> modes = velk_display_modes();
    ASSERT_FALSE(modes.empty());
    SDL_DisplayMode desktop;
    ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &desktop), 0);
    EXPECT_EQ(modes[0].width, desktop.w);
    EXPECT_EQ(modes[0].height, desktop.h);
    for (size_t i = 0; i < modes.size(); i++) {
        int bpp = modes[i].bpp;
        EXPECT_TRUE(bpp == 15 || bpp == 16 || bpp == 24 || bpp == 32) << bpp;
        for (size_t j = 0; j < i; j++) {
            EXPECT_FALSE(modes[j].width == modes[i].width && modes[j].height == modes[i].height &&
                         modes[j].bpp == modes[i].bpp);
        }
    }
}

struct gl_case {
    int major;
    int minor;
    velk_gl_kind kind;
};

TEST_F(WindowSdl, ContextHasAtLeastTheAskedVersionAndKind)
{
    const gl_case cases[] = {
        {3, 1, velk_gl_kind::core},
        {3, 3, velk_gl_kind::compatibility},
        {3, 0, velk_gl_kind::es},
    };
    for (const gl_case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.major << "." << c.minor << " kind " << int(c.kind));
        velk_set_gl_request(c.major, c.minor, c.kind);
        open();
        velk_gl_request got = velk_window_gl(window);
        EXPECT_EQ(got.kind, c.kind);
        EXPECT_TRUE(got.major > c.major || (got.major == c.major && got.minor >= c.minor))
            << got.major << "." << got.minor;
        EXPECT_NE(velk_gl_proc("glGetString"), nullptr);
        velk_window_close(window);
        window = nullptr;
    }
}

// An ES version the driver lacks falls back to a desktop context of the
// same version; the options override the program's request.
struct override_case {
    const char *options;
    gl_case asked;
    gl_case want;
};

TEST_F(WindowSdl, OptionsAndEsFallbackChooseTheContext)
{
    const override_case cases[] = {
        {"", {3, 3, velk_gl_kind::es}, {3, 3, velk_gl_kind::compatibility}},
        {"[gles:off]", {3, 0, velk_gl_kind::es}, {3, 0, velk_gl_kind::compatibility}},
        {"[gles:on]", {3, 1, velk_gl_kind::core}, {3, 1, velk_gl_kind::es}},
        {"[glcore:on][glmajor:3][glminor:3]", {2, 1, velk_gl_kind::compatibility}, {3, 3, velk_gl_kind::core}},
        {"[glcore:off]", {3, 2, velk_gl_kind::core}, {3, 2, velk_gl_kind::compatibility}},
    };
    for (const override_case &c : cases) {
        SCOPED_TRACE(c.options);
        setenv("VELK_OPTIONS", c.options, 1);
        velk_options_reset_for_tests();
        velk_set_gl_request(c.asked.major, c.asked.minor, c.asked.kind);
        open();
        velk_gl_request got = velk_window_gl(window);
        EXPECT_EQ(got.kind, c.want.kind);
        EXPECT_TRUE(got.major > c.want.major || (got.major == c.want.major && got.minor >= c.want.minor))
            << got.major << "." << got.minor;
        velk_window_close(window);
        window = nullptr;
    }
    unsetenv("VELK_OPTIONS");
    velk_options_reset_for_tests();
}

TEST_F(WindowSdl, FrameGivesTheClientSizeUntilMinimised)
{
    open(320, 240);
    pump();
    EXPECT_TRUE(velk_window_visible(window));
    EXPECT_FALSE(velk_window_closed(window));
    int w = 0, h = 0;
    ASSERT_TRUE(velk_frame_begin(window, &w, &h));
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 240);
    velk_frame_end(window);

    SDL_Event e = {};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = SDL_GetWindowID(SDL_GL_GetCurrentWindow());
    e.window.event = SDL_WINDOWEVENT_MINIMIZED;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
    pump();
    EXPECT_FALSE(velk_window_visible(window));
    EXPECT_FALSE(velk_frame_begin(window, &w, &h));

    e.window.event = SDL_WINDOWEVENT_RESTORED;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
    pump();
    ASSERT_TRUE(velk_frame_begin(window, &w, &h));
    velk_frame_end(window);
}

TEST_F(WindowSdl, SetModeResizesTheWindowBetweenFrames)
{
    open(320, 240);
    int w = 0, h = 0;
    ASSERT_TRUE(velk_frame_begin(window, &w, &h));
    // Asked for mid-frame: the switch waits for the frame to end.
    velk_set_mode(window, 400, 300, false);
    velk_pump_events(window);
    velk_frame_end(window);
    for (int i = 0; i < 200; i++) {
        pump();
        ASSERT_TRUE(velk_frame_begin(window, &w, &h));
        velk_frame_end(window);
        if (w == 400 && h == 300) {
            break;
        }
        SDL_Delay(10);
    }
    EXPECT_EQ(w, 400);
    EXPECT_EQ(h, 300);
}

SDL_Event key_event(Uint32 type, SDL_Scancode scan, Uint8 repeat = 0)
{
    SDL_Event e = {};
    e.type = type;
    e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.key.repeat = repeat;
    e.key.keysym.scancode = scan;
    e.key.keysym.sym = SDL_GetKeyFromScancode(scan);
    return e;
}

TEST_F(WindowSdl, SdlEventsBecomeInputEvents)
{
    open();
    pump();

    std::vector<SDL_Event> in;
    in.push_back(key_event(SDL_KEYDOWN, SDL_SCANCODE_A));
    in.push_back(key_event(SDL_KEYDOWN, SDL_SCANCODE_A, 1));
    in.push_back(key_event(SDL_KEYUP, SDL_SCANCODE_A));
    in.push_back(key_event(SDL_KEYUP, SDL_SCANCODE_KP_ENTER));
    in.push_back(key_event(SDL_KEYDOWN, SDL_SCANCODE_RALT));
    SDL_Event text = {};
    text.type = SDL_TEXTINPUT;
    std::strcpy(text.text.text, "a\xC3\xA9");
    in.push_back(text);
    SDL_Event mouse = {};
    mouse.type = SDL_MOUSEBUTTONDOWN;
    mouse.button.button = SDL_BUTTON_RIGHT;
    in.push_back(mouse);
    mouse.type = SDL_MOUSEBUTTONUP;
    mouse.button.button = SDL_BUTTON_LEFT;
    in.push_back(mouse);
    SDL_Event quit = {};
    quit.type = SDL_QUIT;
    in.push_back(quit);
    for (SDL_Event &e : in) {
        ASSERT_EQ(SDL_PushEvent(&e), 1);
    }

    struct expected {
        uint32_t code;
        bool pressed;
    };
    const expected want[] = {
        {0x101E, true},  {0x101E, true}, {0x101E, false}, {0x111C, false}, {0x1138, true},
        {'a', true},     {0xE9, true},   {VELK_MOUSE_RIGHT, true},         {VELK_MOUSE_LEFT, false},
        {VELK_CLOSE, true},
    };
    double now = velk_seconds();
    std::vector<velk_event> got = pump();
    ASSERT_EQ(got.size(), std::size(want));
    for (size_t i = 0; i < got.size(); i++) {
        EXPECT_EQ(got[i].code, want[i].code) << i;
        EXPECT_EQ(got[i].pressed, want[i].pressed) << i;
        // Stamped in the velk clock, never ahead of it.
        double t = velk_clock_seconds(got[i].time);
        EXPECT_LE(t, velk_seconds()) << i;
        EXPECT_GT(t, now - 5.0) << i;
    }
}

// Enter, Backspace, Tab, Esc and Ctrl+letter type control characters as
// well as their key events.
TEST_F(WindowSdl, ControlKeysAlsoTypeCharacters)
{
    open();
    pump();
    SDL_Event e = key_event(SDL_KEYDOWN, SDL_SCANCODE_BACKSPACE);
    ASSERT_EQ(SDL_PushEvent(&e), 1);
    e = key_event(SDL_KEYDOWN, SDL_SCANCODE_RETURN);
    ASSERT_EQ(SDL_PushEvent(&e), 1);
    e = key_event(SDL_KEYDOWN, SDL_SCANCODE_C);
    e.key.keysym.mod = KMOD_LCTRL;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
    e = key_event(SDL_KEYUP, SDL_SCANCODE_ESCAPE);
    ASSERT_EQ(SDL_PushEvent(&e), 1);

    std::vector<velk_event> got = pump();
    std::vector<uint32_t> codes;
    for (const velk_event &g : got) {
        codes.push_back(g.code);
    }
    EXPECT_EQ(codes, (std::vector<uint32_t>{0x100E, 8, 0x101C, 13, 0x102E, 3, 0x1001}));
}

} // namespace
