// keys_sdl.cpp -- the fixed table from SDL scancodes (USB usage ids) to the
// PC set-1 scan codes that Windows reports in its key messages. Key names and
// saved bindings are built on set-1 codes, so the table keeps them portable.
#include "platform/keys_sdl.h"

#include <SDL.h>

#include <array>
#include <cstdint>

namespace {

struct key_pair {
    SDL_Scancode sdl;
    uint16_t set1;
};

// Extended keys (an E0 prefix in set 1) carry bit 8.
constexpr key_pair key_pairs[] = {
    {SDL_SCANCODE_ESCAPE, 0x01},
    {SDL_SCANCODE_1, 0x02}, {SDL_SCANCODE_2, 0x03}, {SDL_SCANCODE_3, 0x04}, {SDL_SCANCODE_4, 0x05},
    {SDL_SCANCODE_5, 0x06}, {SDL_SCANCODE_6, 0x07}, {SDL_SCANCODE_7, 0x08}, {SDL_SCANCODE_8, 0x09},
    {SDL_SCANCODE_9, 0x0A}, {SDL_SCANCODE_0, 0x0B},
    {SDL_SCANCODE_MINUS, 0x0C}, {SDL_SCANCODE_EQUALS, 0x0D}, {SDL_SCANCODE_BACKSPACE, 0x0E},
    {SDL_SCANCODE_TAB, 0x0F},
    {SDL_SCANCODE_Q, 0x10}, {SDL_SCANCODE_W, 0x11}, {SDL_SCANCODE_E, 0x12}, {SDL_SCANCODE_R, 0x13},
    {SDL_SCANCODE_T, 0x14}, {SDL_SCANCODE_Y, 0x15}, {SDL_SCANCODE_U, 0x16}, {SDL_SCANCODE_I, 0x17},
    {SDL_SCANCODE_O, 0x18}, {SDL_SCANCODE_P, 0x19},
    {SDL_SCANCODE_LEFTBRACKET, 0x1A}, {SDL_SCANCODE_RIGHTBRACKET, 0x1B}, {SDL_SCANCODE_RETURN, 0x1C},
    {SDL_SCANCODE_LCTRL, 0x1D},
    {SDL_SCANCODE_A, 0x1E}, {SDL_SCANCODE_S, 0x1F}, {SDL_SCANCODE_D, 0x20}, {SDL_SCANCODE_F, 0x21},
    {SDL_SCANCODE_G, 0x22}, {SDL_SCANCODE_H, 0x23}, {SDL_SCANCODE_J, 0x24}, {SDL_SCANCODE_K, 0x25},
    {SDL_SCANCODE_L, 0x26},
    {SDL_SCANCODE_SEMICOLON, 0x27}, {SDL_SCANCODE_APOSTROPHE, 0x28}, {SDL_SCANCODE_GRAVE, 0x29},
    {SDL_SCANCODE_LSHIFT, 0x2A}, {SDL_SCANCODE_BACKSLASH, 0x2B},
    // The ISO key next to Enter sits where ANSI boards have backslash.
    {SDL_SCANCODE_NONUSHASH, 0x2B},
    {SDL_SCANCODE_Z, 0x2C}, {SDL_SCANCODE_X, 0x2D}, {SDL_SCANCODE_C, 0x2E}, {SDL_SCANCODE_V, 0x2F},
    {SDL_SCANCODE_B, 0x30}, {SDL_SCANCODE_N, 0x31}, {SDL_SCANCODE_M, 0x32},
    {SDL_SCANCODE_COMMA, 0x33}, {SDL_SCANCODE_PERIOD, 0x34}, {SDL_SCANCODE_SLASH, 0x35},
    {SDL_SCANCODE_RSHIFT, 0x36}, {SDL_SCANCODE_KP_MULTIPLY, 0x37}, {SDL_SCANCODE_LALT, 0x38},
    {SDL_SCANCODE_SPACE, 0x39}, {SDL_SCANCODE_CAPSLOCK, 0x3A},
    {SDL_SCANCODE_F1, 0x3B}, {SDL_SCANCODE_F2, 0x3C}, {SDL_SCANCODE_F3, 0x3D}, {SDL_SCANCODE_F4, 0x3E},
    {SDL_SCANCODE_F5, 0x3F}, {SDL_SCANCODE_F6, 0x40}, {SDL_SCANCODE_F7, 0x41}, {SDL_SCANCODE_F8, 0x42},
    {SDL_SCANCODE_F9, 0x43}, {SDL_SCANCODE_F10, 0x44},
    // Windows reports Pause without the extended bit and Num Lock with it.
    {SDL_SCANCODE_PAUSE, 0x45}, {SDL_SCANCODE_NUMLOCKCLEAR, 0x145},
    {SDL_SCANCODE_SCROLLLOCK, 0x46},
    {SDL_SCANCODE_KP_7, 0x47}, {SDL_SCANCODE_KP_8, 0x48}, {SDL_SCANCODE_KP_9, 0x49},
    {SDL_SCANCODE_KP_MINUS, 0x4A},
    {SDL_SCANCODE_KP_4, 0x4B}, {SDL_SCANCODE_KP_5, 0x4C}, {SDL_SCANCODE_KP_6, 0x4D},
    {SDL_SCANCODE_KP_PLUS, 0x4E},
    {SDL_SCANCODE_KP_1, 0x4F}, {SDL_SCANCODE_KP_2, 0x50}, {SDL_SCANCODE_KP_3, 0x51},
    {SDL_SCANCODE_KP_0, 0x52}, {SDL_SCANCODE_KP_PERIOD, 0x53},
    {SDL_SCANCODE_SYSREQ, 0x54}, {SDL_SCANCODE_NONUSBACKSLASH, 0x56},
    {SDL_SCANCODE_F11, 0x57}, {SDL_SCANCODE_F12, 0x58}, {SDL_SCANCODE_KP_EQUALS, 0x59},
    {SDL_SCANCODE_F13, 0x64}, {SDL_SCANCODE_F14, 0x65}, {SDL_SCANCODE_F15, 0x66}, {SDL_SCANCODE_F16, 0x67},
    {SDL_SCANCODE_F17, 0x68}, {SDL_SCANCODE_F18, 0x69}, {SDL_SCANCODE_F19, 0x6A}, {SDL_SCANCODE_F20, 0x6B},
    {SDL_SCANCODE_F21, 0x6C}, {SDL_SCANCODE_F22, 0x6D}, {SDL_SCANCODE_F23, 0x6E}, {SDL_SCANCODE_F24, 0x76},
    {SDL_SCANCODE_INTERNATIONAL2, 0x70}, {SDL_SCANCODE_INTERNATIONAL1, 0x73},
    {SDL_SCANCODE_INTERNATIONAL4, 0x79}, {SDL_SCANCODE_INTERNATIONAL5, 0x7B},
    {SDL_SCANCODE_INTERNATIONAL3, 0x7D}, {SDL_SCANCODE_KP_COMMA, 0x7E},
    // Extended keys.
    {SDL_SCANCODE_AUDIOPREV, 0x110}, {SDL_SCANCODE_AUDIONEXT, 0x119},
    {SDL_SCANCODE_KP_ENTER, 0x11C}, {SDL_SCANCODE_RCTRL, 0x11D},
    {SDL_SCANCODE_MUTE, 0x120}, {SDL_SCANCODE_CALCULATOR, 0x121}, {SDL_SCANCODE_AUDIOPLAY, 0x122},
    {SDL_SCANCODE_AUDIOSTOP, 0x124}, {SDL_SCANCODE_VOLUMEDOWN, 0x12E}, {SDL_SCANCODE_VOLUMEUP, 0x130},
    {SDL_SCANCODE_AC_HOME, 0x132}, {SDL_SCANCODE_KP_DIVIDE, 0x135}, {SDL_SCANCODE_PRINTSCREEN, 0x137},
    {SDL_SCANCODE_RALT, 0x138},
    {SDL_SCANCODE_HOME, 0x147}, {SDL_SCANCODE_UP, 0x148}, {SDL_SCANCODE_PAGEUP, 0x149},
    {SDL_SCANCODE_LEFT, 0x14B}, {SDL_SCANCODE_RIGHT, 0x14D},
    {SDL_SCANCODE_END, 0x14F}, {SDL_SCANCODE_DOWN, 0x150}, {SDL_SCANCODE_PAGEDOWN, 0x151},
    {SDL_SCANCODE_INSERT, 0x152}, {SDL_SCANCODE_DELETE, 0x153},
    {SDL_SCANCODE_LGUI, 0x15B}, {SDL_SCANCODE_RGUI, 0x15C}, {SDL_SCANCODE_APPLICATION, 0x15D},
    {SDL_SCANCODE_POWER, 0x15E}, {SDL_SCANCODE_SLEEP, 0x15F},
    {SDL_SCANCODE_AC_SEARCH, 0x165}, {SDL_SCANCODE_AC_BOOKMARKS, 0x166}, {SDL_SCANCODE_AC_REFRESH, 0x167},
    {SDL_SCANCODE_AC_STOP, 0x168}, {SDL_SCANCODE_AC_FORWARD, 0x169}, {SDL_SCANCODE_AC_BACK, 0x16A},
    {SDL_SCANCODE_COMPUTER, 0x16B}, {SDL_SCANCODE_MAIL, 0x16C}, {SDL_SCANCODE_MEDIASELECT, 0x16D},
};

constexpr std::array<uint16_t, SDL_NUM_SCANCODES> build_table()
{
    std::array<uint16_t, SDL_NUM_SCANCODES> t{};
    for (const key_pair &p : key_pairs) {
        t[p.sdl] = p.set1;
    }
    return t;
}

constexpr std::array<uint16_t, SDL_NUM_SCANCODES> set1_table = build_table();

constexpr std::array<uint16_t, 512> build_reverse_table()
{
    std::array<uint16_t, 512> t{};
    for (const key_pair &p : key_pairs) {
        if (t[p.set1] == 0) {
            t[p.set1] = uint16_t(p.sdl);
        }
    }
    return t;
}

constexpr std::array<uint16_t, 512> sdl_table = build_reverse_table();

} // namespace

int velk_set1_scan_code(int sdl_scancode)
{
    if (sdl_scancode < 0 || sdl_scancode >= SDL_NUM_SCANCODES) {
        return 0;
    }
    return set1_table[size_t(sdl_scancode)];
}

int velk_sdl_scan_code(int set1)
{
    if (set1 <= 0 || set1 >= 512) {
        return 0;
    }
    return sdl_table[size_t(set1)];
}
