// Control names and the device registry without a window system: the
// built-in key table, aliases, the resolution order, device buttons and axes
// on test devices, device ids and unique names.
#include "platform/input_local.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct fake_pad {
    int axis_values[6] = {};
    int opens = 0;
    int closes = 0;
    int destroyed = 0;
};

bool fake_open(velk_input_device *d)
{
    static_cast<fake_pad *>(d->state)->opens++;
    return true;
}
void fake_close(velk_input_device *d) { static_cast<fake_pad *>(d->state)->closes++; }
int fake_read(velk_input_device *d, int axis) { return static_cast<fake_pad *>(d->state)->axis_values[axis]; }
void fake_destroy(velk_input_device *d) { static_cast<fake_pad *>(d->state)->destroyed++; }

constexpr velk_device_ops fake_ops = {fake_open, fake_close, fake_read, nullptr, fake_destroy};

class input_names_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        input_devices_close_all();
        input_names_reset_for_tests();
    }
    void TearDown() override { input_devices_close_all(); }
    // Device states outlive each test body: the registry destroys them in
    // TearDown.
    fake_pad s, s1, s2, s3;
};

uint32_t code_of(const char *name)
{
    uint32_t code = 0xFFFFFFFF;
    EXPECT_TRUE(input_key_code(name, &code)) << name;
    return code;
}

bool resolves(const char *name)
{
    uint32_t code = 0;
    return input_key_code(name, &code);
}

TEST_F(input_names_test, names_resolve_in_order_exact_loose_hex)
{
    struct name_case {
        const char *name;
        uint32_t code;
    };
    const name_case cases[] = {
        {"Close", VELK_CLOSE},
        {"Mouse Left", VELK_MOUSE_LEFT},
        {"Mouse Middle", VELK_MOUSE_MIDDLE},
        {"Mouse Right", VELK_MOUSE_RIGHT},
        {"Keypad Enter", VELK_KEY_BASE + 0x11C},
        // Regardless of case, "_" and white space as a blank.
        {"KEYPAD_ENTER", VELK_KEY_BASE + 0x11C},
        {"keypad\tenter", VELK_KEY_BASE + 0x11C},
        {"close", VELK_CLOSE},
        // The configuration's default names.
        {"x", VELK_KEY_BASE + 0x2D},
        {"left", VELK_KEY_BASE + 0x14B},
        {"right ctrl", VELK_KEY_BASE + 0x11D},
        {"pause", VELK_KEY_BASE + 0x45},
        {"\\", VELK_KEY_BASE + 0x2B},
        {" ", VELK_KEY_BASE + 0x39},
        {"Space", VELK_KEY_BASE + 0x39},
        {"0", VELK_KEY_BASE + 0x0B},
        {"F11", VELK_KEY_BASE + 0x57},
        // Hexadecimal scan codes up to 0x1FF.
        {"0x1c", VELK_KEY_BASE + 0x1C},
        {"0x1ff", VELK_KEY_BASE + 0x1FF},
        {"0x0", VELK_KEY_BASE},
        // Aliases come first.
        {"cursor-left", VELK_MOUSE_LEFT},
        {"cursor-right", VELK_MOUSE_RIGHT},
    };
    for (const name_case &c : cases) {
        EXPECT_EQ(code_of(c.name), c.code) << c.name;
    }
    for (const char *bad : {"0x200", "", "nothing", "Keypad  Enter", "0x1cz", "Joystick1.key[0]", "mouse-left"}) {
        EXPECT_FALSE(resolves(bad)) << bad;
    }
    uint32_t code = 0;
    EXPECT_FALSE(input_key_code(nullptr, &code));
}

TEST_F(input_names_test, codes_name_back)
{
    EXPECT_STREQ(input_code_name(VELK_CLOSE), "Close");
    EXPECT_STREQ(input_code_name(VELK_MOUSE_RIGHT), "Mouse Right");
    EXPECT_STREQ(input_code_name(VELK_KEY_BASE + 0x1C), "Enter");
    EXPECT_STREQ(input_code_name(VELK_KEY_BASE + 0x11C), "Keypad Enter");
    // No name anywhere: the hexadecimal form, which resolves again.
    EXPECT_STREQ(input_code_name(VELK_KEY_BASE + 0x1F0), "0x1f0");
    EXPECT_EQ(code_of(input_code_name(VELK_KEY_BASE + 0x1F0)), VELK_KEY_BASE + 0x1F0);
    EXPECT_EQ(input_code_name('a'), nullptr);
    EXPECT_EQ(input_code_name(0x00450003), nullptr);
    // Every named key resolves to its own code.
    for (uint32_t k = 0; k < 512; k++) {
        const char *n = input_code_name(VELK_KEY_BASE + k);
        ASSERT_NE(n, nullptr);
        uint32_t back = 0;
        ASSERT_TRUE(input_key_code(n, &back)) << n;
        // " " and "Space" share a key; letters and digits are unique.
        EXPECT_EQ(back, VELK_KEY_BASE + k) << n;
    }
}

TEST_F(input_names_test, interned_texts_are_shared)
{
    std::string a = "Joystick axis 3";
    std::string b = a;
    EXPECT_EQ(input_intern(a.c_str()), input_intern(b.c_str()));
    EXPECT_NE(input_intern(a.c_str()), a.c_str());
    EXPECT_STREQ(input_intern(a.c_str()), "Joystick axis 3");
    EXPECT_NE(input_intern("x"), input_intern("X"));
    EXPECT_EQ(input_intern(nullptr), nullptr);
}

TEST_F(input_names_test, second_alias_is_ignored)
{
    input_alias("gas", "X");
    input_alias("gas", "Z");
    EXPECT_EQ(code_of("gas"), VELK_KEY_BASE + 0x2D);
    input_alias("cursor-x", "elsewhere");
    EXPECT_STREQ(input_resolve_alias("cursor-x"), "cursor.axis[0]");
}

TEST_F(input_names_test, device_ids_hash_the_name_and_avoid_collisions)
{
    // "ab": d = 'a', a = 'b'.
    EXPECT_EQ(input_device_hash("ab"), ((uint32_t('b') * 256 + 'a') << 16) & VELK_DEVICE_ID_MASK);
    velk_input_device *a = input_device_add("ab", 4, 2, &fake_ops, &s1);
    // "ba" sums differently; "ab" again is renamed "ab#2".
    velk_input_device *b = input_device_add("ab", 4, 2, &fake_ops, &s2);
    EXPECT_EQ(a->name, "ab");
    EXPECT_EQ(b->name, "ab#2");
    EXPECT_NE(a->id, b->id);
    // A name hashing to an id in use moves up by 0x10000.
    velk_input_device *c = input_device_add("", 1, 0, &fake_ops, &s3);
    EXPECT_EQ(c->id, 0x10000u);  // an empty name hashes to 0, which is never used
    for (velk_input_device *d : {a, b, c}) {
        EXPECT_EQ(d->id & ~VELK_DEVICE_ID_MASK, 0u);
        EXPECT_NE(d->id, 0u);
    }
}

TEST_F(input_names_test, added_devices_are_counted)
{
    uint32_t before = input_device_additions();
    velk_input_device *d = input_device_add("Pedals", 2, 3, &fake_ops, &s1);
    EXPECT_EQ(input_device_additions(), before + 1);
    // The same device plugged in again is no new device.
    input_device_detach(d);
    input_device_reattach(input_device_find_detached("Pedals", 2, 3), &s2);
    EXPECT_EQ(input_device_additions(), before + 1);
}

TEST_F(input_names_test, device_buttons_resolve_and_name)
{
    velk_input_device *d = input_device_add("XInputGamepad0", 16, 6, &fake_ops, &s);
    EXPECT_FALSE(d->polling);
    EXPECT_EQ(code_of("XInputGamepad0.key[12]"), d->id | 12);
    EXPECT_TRUE(d->polling);
    EXPECT_EQ(code_of("XInputGamepad0 button 15"), d->id | 15);
    EXPECT_FALSE(resolves("XInputGamepad0.key[16]"));
    EXPECT_FALSE(resolves("XInputGamepad0 button -1"));
    EXPECT_FALSE(resolves("XInputGamepad1.key[0]"));
    EXPECT_STREQ(input_code_name(d->id | 3), "XInputGamepad0 button 3");
    EXPECT_EQ(code_of(input_code_name(d->id | 3)), d->id | 3);
}

TEST_F(input_names_test, axis_handles_open_read_and_close_the_device)
{
    s.axis_values[5] = 32767;
    input_device_add("XInputGamepad0", 16, 6, &fake_ops, &s);
    velk_axis *a = input_axis_open("XInputGamepad0 axis 5");
    velk_axis *b = input_axis_open("XInputGamepad0.axis[0]");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(s.opens, 1);
    EXPECT_EQ(input_axis_read(a), 32767);
    EXPECT_EQ(input_axis_open("XInputGamepad0 axis 6"), nullptr);
    EXPECT_EQ(input_axis_open("XInputGamepad0 axis -1"), nullptr);
    EXPECT_EQ(input_axis_open("Nobody axis 0"), nullptr);
    EXPECT_EQ(input_axis_open("mouse-x"), nullptr);
    input_axis_close(a);
    EXPECT_EQ(s.closes, 0);
    input_axis_close(b);
    EXPECT_EQ(s.closes, 1);
    input_axis_close(nullptr);
    EXPECT_EQ(input_axis_read(nullptr), 0);
}

TEST_F(input_names_test, cursor_aliases_reach_the_cursor_device)
{
    s.axis_values[1] = 123;
    input_device_add("cursor", 0, 2, &fake_ops, &s);
    velk_axis *y = input_axis_open("cursor-y");
    ASSERT_NE(y, nullptr);
    EXPECT_EQ(input_axis_read(y), 123);
    input_axis_close(y);
}

TEST_F(input_names_test, unplugged_device_reads_idle_and_comes_back)
{
    s1.axis_values[0] = 500;
    velk_input_device *d = input_device_add("Wheel", 8, 3, &fake_ops, &s1);
    velk_axis *a = input_axis_open("Wheel axis 0");
    uint32_t button = code_of("Wheel button 2");
    input_device_detach(d);
    EXPECT_EQ(s1.destroyed, 1);
    EXPECT_EQ(input_axis_read(a), 0);
    // The same device back: its old record, name and id.
    s2.axis_values[0] = 700;
    velk_input_device *again = input_device_find_detached("Wheel", 8, 3);
    ASSERT_EQ(again, d);
    input_device_reattach(again, &s2);
    EXPECT_EQ(s2.opens, 1);  // a handle is open on it
    EXPECT_EQ(input_axis_read(a), 700);
    EXPECT_EQ(code_of("Wheel button 2"), button);
    input_axis_close(a);
    // Handles outliving the devices read 0.
    velk_axis *late = input_axis_open("Wheel axis 1");
    input_devices_close_all();
    EXPECT_EQ(input_axis_read(late), 0);
    input_axis_close(late);
}

} // namespace
