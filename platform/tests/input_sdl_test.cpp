// Input devices and key names on SDL: SDL's key names as the system names,
// the cursor device, and controllers and joysticks hot-plugged as SDL
// virtual joysticks. The window tests need an X display.
#include "platform/input_local.h"
#include "platform/platform.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

uint32_t code_of(const char *name)
{
    uint32_t code = 0xFFFFFFFF;
    EXPECT_TRUE(input_key_code(name, &code)) << name;
    return code;
}

TEST(InputNamesSdl, SystemNamesAreSdlKeyNames)
{
    input_names_reset_for_tests();
    // SDL calls Enter "Return"; the built-in name still resolves.
    EXPECT_STREQ(input_code_name(VELK_KEY_BASE + 0x1C), "Return");
    EXPECT_EQ(code_of("Return"), VELK_KEY_BASE + 0x1C);
    EXPECT_EQ(code_of("Enter"), VELK_KEY_BASE + 0x1C);
    EXPECT_STREQ(input_code_name(VELK_KEY_BASE + 0x2D), "X");
    EXPECT_STREQ(input_code_name(VELK_KEY_BASE + 0x11C), "Keypad Enter");
    struct name_case {
        const char *name;
        uint32_t code;
    };
    const name_case cases[] = {
        {"x", 0x2D},          {"left", 0x14B},  {"right ctrl", 0x11D}, {"pause", 0x45},   {"KEYPAD_ENTER", 0x11C},
        {"page up", 0x149},   {"esc", 0x01},    {"escape", 0x01},      {"\\", 0x2B},      {".", 0x34},
        {"keypad enter", 0x11C}, {"up", 0x148}, {"down", 0x150},       {"Left Alt", 0x38}, {"0x1c", 0x1C},
    };
    for (const name_case &c : cases) {
        EXPECT_EQ(code_of(c.name), VELK_KEY_BASE + c.code) << c.name;
    }
    // Every key with a name resolves back to itself.
    for (uint32_t k = 0; k < 512; k++) {
        const char *n = input_code_name(VELK_KEY_BASE + k);
        ASSERT_NE(n, nullptr);
        uint32_t back = 0;
        ASSERT_TRUE(input_key_code(n, &back)) << n;
        if (std::string(n) != " ") {
            EXPECT_EQ(back, VELK_KEY_BASE + k) << n;
        }
    }
}

bool have_display()
{
    const char *d = std::getenv("DISPLAY");
    return d && *d;
}

class InputSdl : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!have_display()) {
            GTEST_SKIP() << "no display";
        }
        unsetenv("VELK_OPTIONS");
        velk_set_gl_request(3, 1, velk_gl_kind::core);
        window = velk_window_open("input test", 320, 240, 32, false, 8, 24, 8, 0);
        ASSERT_NE(window, nullptr);
        pump();
    }

    void TearDown() override
    {
        for (int i : virtuals) {
            SDL_JoystickDetachVirtual(i);
        }
        velk_window_close(window);
        window = nullptr;
    }

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

    // Attaches a virtual joystick and lets its plug-in event arrive.
    int attach(SDL_JoystickType type, int axes, int buttons)
    {
        int index = SDL_JoystickAttachVirtual(type, axes, buttons, 0);
        EXPECT_GE(index, 0) << SDL_GetError();
        virtuals.push_back(index);
        pump();
        return index;
    }

    velk_window *window = nullptr;
    std::vector<int> virtuals;
};

TEST_F(InputSdl, CursorIsATwoAxisDevice)
{
    velk_axis *x = input_axis_open("cursor-x");
    velk_axis *y = input_axis_open("cursor-y");
    ASSERT_NE(x, nullptr);
    ASSERT_NE(y, nullptr);
    EXPECT_EQ(input_axis_open("cursor.axis[2]"), nullptr);
    EXPECT_EQ(input_axis_open("mouse-x"), nullptr);
    (void)input_axis_read(x);
    input_axis_close(x);
    input_axis_close(y);
}

TEST_F(InputSdl, JoysticksAppearWhenPluggedAndTakeUniqueNames)
{
    attach(SDL_JOYSTICK_TYPE_WHEEL, 3, 10);
    attach(SDL_JOYSTICK_TYPE_WHEEL, 3, 10);
    // SDL names a virtual wheel "Virtual Wheel"; blanks are dropped.
    velk_input_device *a = input_device_by_name("VirtualWheel");
    velk_input_device *b = input_device_by_name("VirtualWheel#2");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(a->axes, 3);
    EXPECT_EQ(a->buttons, 10);
    bool listed = false;
    for (const char *n : input_axis_names()) {
        listed |= std::string(n) == "VirtualWheel#2 axis 2";
    }
    EXPECT_TRUE(listed);

    velk_axis *axis = input_axis_open("VirtualWheel.axis[1]");
    ASSERT_NE(axis, nullptr);
    SDL_Joystick *stick = SDL_JoystickFromInstanceID(SDL_JoystickGetDeviceInstanceID(virtuals[0]));
    ASSERT_NE(stick, nullptr);
    SDL_JoystickSetVirtualAxis(stick, 1, -32768);
    SDL_JoystickUpdate();
    EXPECT_EQ(input_axis_read(axis), -32767);

    // A bound button queues its presses; an unbound device stays quiet.
    uint32_t code = code_of("VirtualWheel button 4");
    SDL_JoystickSetVirtualButton(stick, 4, SDL_PRESSED);
    SDL_JoystickUpdate();
    std::vector<velk_event> got = pump();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].code, code);
    EXPECT_TRUE(got[0].pressed);
    input_axis_close(axis);
}

TEST_F(InputSdl, ControllersArePadsWithSixAxes)
{
    int index = attach(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 6, 15);
    if (!SDL_IsGameController(index)) {
        GTEST_SKIP() << "SDL has no mapping for virtual controllers";
    }
    velk_input_device *pad = input_device_by_name("XInputGamepad0");
    ASSERT_NE(pad, nullptr);
    EXPECT_EQ(pad->buttons, 16);
    EXPECT_EQ(pad->axes, 6);
    EXPECT_EQ(input_axis_open("XInputGamepad0 axis 6"), nullptr);
    velk_axis *trigger = input_axis_open("XInputGamepad0 axis 5");
    ASSERT_NE(trigger, nullptr);
    EXPECT_EQ(input_axis_read(trigger), 0);

    uint32_t a_button = code_of("XInputGamepad0.key[12]");
    SDL_Joystick *stick = SDL_JoystickFromInstanceID(SDL_JoystickGetDeviceInstanceID(index));
    ASSERT_NE(stick, nullptr);
    SDL_JoystickSetVirtualButton(stick, SDL_CONTROLLER_BUTTON_A, SDL_PRESSED);
    SDL_JoystickSetVirtualAxis(stick, SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 32767);
    SDL_JoystickUpdate();
    std::vector<velk_event> got = pump();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back().code, a_button);
    EXPECT_EQ(input_axis_read(trigger), 32767);

    // Unplugged, the handle reads idle; plugged again, the same pad.
    SDL_JoystickDetachVirtual(index);
    virtuals.clear();
    pump();
    EXPECT_EQ(input_axis_read(trigger), 0);
    EXPECT_FALSE(pad->attached);
    attach(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 6, 15);
    EXPECT_TRUE(pad->attached);
    EXPECT_EQ(input_device_by_name("XInputGamepad1"), nullptr);
    input_axis_close(trigger);
}

} // namespace
