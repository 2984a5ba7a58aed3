// input_names.cpp -- the text names of keys, mouse buttons and device
// buttons, and the codes they stand for: interned strings, the alias list,
// the special names, the system's key names, the built-in key table,
// input_key_code and input_code_name.
//
// Names are what the configuration stores, so resolution is forgiving: exact
// first, then regardless of case with "_" read as a blank, then a raw scan
// code written in hexadecimal, then a device button.
#include "platform/input_local.h"
#include "platform/platform.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// No window half linked: no system names, the built-in table serves.
__attribute__((weak)) const char *velk_system_key_name(int)
{
    return "";
}

namespace {

struct special_name {
    const char *name;
    uint32_t code;
};

constexpr special_name special_names[] = {
    {"Close", VELK_CLOSE},
    {"Mouse Left", VELK_MOUSE_LEFT},
    {"Mouse Middle", VELK_MOUSE_MIDDLE},
    {"Mouse Right", VELK_MOUSE_RIGHT},
};

struct builtin_key {
    uint16_t scan;
    const char *name;
};

constexpr builtin_key builtin_keys[] = {
    {0x01, "Esc"}, {0x0B, "0"}, {0x02, "1"}, {0x03, "2"}, {0x04, "3"}, {0x05, "4"}, {0x06, "5"},
    {0x07, "6"}, {0x08, "7"}, {0x09, "8"}, {0x0A, "9"},
    {0x1E, "A"}, {0x30, "B"}, {0x2E, "C"}, {0x20, "D"}, {0x12, "E"}, {0x21, "F"}, {0x22, "G"},
    {0x23, "H"}, {0x17, "I"}, {0x24, "J"}, {0x25, "K"}, {0x26, "L"}, {0x32, "M"}, {0x31, "N"},
    {0x18, "O"}, {0x19, "P"}, {0x10, "Q"}, {0x13, "R"}, {0x1F, "S"}, {0x14, "T"}, {0x16, "U"},
    {0x2F, "V"}, {0x11, "W"}, {0x2D, "X"}, {0x15, "Y"}, {0x2C, "Z"},
    {0x0C, "-"}, {0x0D, "="}, {0x1A, "["}, {0x1B, "]"}, {0x27, ";"}, {0x28, "'"}, {0x29, "`"},
    {0x2B, "\\"}, {0x33, ","}, {0x34, "."}, {0x35, "/"},
    {0x0E, "Backspace"}, {0x0F, "Tab"}, {0x1C, "Enter"}, {0x1D, "Left Ctrl"}, {0x2A, "Left Shift"},
    {0x36, "Right Shift"}, {0x39, "Space"}, {0x39, " "}, {0x3A, "Caps Lock"}, {0x11D, "Right Ctrl"},
    {0x152, "Insert"}, {0x153, "Delete"}, {0x147, "Home"}, {0x14F, "End"}, {0x149, "Page Up"},
    {0x151, "Page Down"}, {0x148, "Up"}, {0x150, "Down"}, {0x14B, "Left"}, {0x14D, "Right"},
    {0x3B, "F1"}, {0x3C, "F2"}, {0x3D, "F3"}, {0x3E, "F4"}, {0x3F, "F5"}, {0x40, "F6"}, {0x41, "F7"},
    {0x42, "F8"}, {0x43, "F9"}, {0x44, "F10"}, {0x57, "F11"}, {0x58, "F12"},
    {0x45, "Pause"}, {0x145, "Num Lock"}, {0x135, "Keypad /"}, {0x37, "Keypad *"}, {0x4A, "Keypad -"},
    {0x47, "Keypad 7"}, {0x48, "Keypad 8"}, {0x49, "Keypad 9"}, {0x4E, "Keypad +"}, {0x4B, "Keypad 4"},
    {0x4C, "Keypad 5"}, {0x4D, "Keypad 6"}, {0x4F, "Keypad 1"}, {0x50, "Keypad 2"}, {0x51, "Keypad 3"},
    {0x11C, "Keypad Enter"}, {0x52, "Keypad 0"}, {0x53, "Keypad ."},
};
static_assert(std::size(builtin_keys) == 98);

constexpr int SCAN_CODES = 512;

struct alias_entry {
    const char *alias;
    const char *target;
};

constexpr alias_entry startup_aliases[] = {
    {"cursor-left", "Mouse Left"},        {"cursor-middle", "Mouse Middle"},
    {"cursor-right", "Mouse Right"},      {"cursor-x", "cursor.axis[0]"},
    {"cursor-y", "cursor.axis[1]"},       {"mouse-x", "Mouse.axis[0]"},
    {"mouse-y", "Mouse.axis[1]"},         {"mouse-left", "Mouse.key[0]"},
    {"mouse-right", "Mouse.key[1]"},      {"mouse-middle", "Mouse.key[2]"},
    {"joystick-a-x", "Joystick1.axis[0]"}, {"joystick-a-y", "Joystick1.axis[1]"},
    {"joystick-a-1", "Joystick1.key[0]"}, {"joystick-a-2", "Joystick1.key[1]"},
    {"joystick-b-x", "Joystick2.axis[0]"}, {"joystick-b-y", "Joystick2.axis[1]"},
    {"joystick-b-1", "Joystick2.key[0]"}, {"joystick-b-2", "Joystick2.key[1]"},
};

struct name_state {
    std::mutex lock;  // interning may happen on any thread
    std::set<std::string, std::less<>> interned;
    std::vector<alias_entry> aliases;  // interned texts
    bool aliases_made = false;
    std::array<const char *, SCAN_CODES> system_names{};
    bool system_names_built = false;
};

name_state &names()
{
    static name_state s;
    return s;
}

const char *intern_locked(name_state &s, std::string_view text)
{
    auto it = s.interned.find(text);
    if (it == s.interned.end()) {
        it = s.interned.emplace(text).first;
    }
    return it->c_str();
}

void add_alias(name_state &s, const char *alias, const char *target)
{
    for (const alias_entry &a : s.aliases) {
        if (std::strcmp(a.alias, alias) == 0) {
            velk_log("Second alias for '%s' ('%s') ignored\n", alias, target);
            return;
        }
    }
    s.aliases.push_back({intern_locked(s, alias), intern_locked(s, target)});
}

void make_aliases(name_state &s)
{
    if (s.aliases_made) {
        return;
    }
    s.aliases_made = true;
    for (const alias_entry &a : startup_aliases) {
        add_alias(s, a.alias, a.target);
    }
}

void build_system_names(name_state &s)
{
    if (s.system_names_built) {
        return;
    }
    s.system_names_built = true;
    for (int k = 0; k < SCAN_CODES; k++) {
        const char *n = velk_system_key_name(k);
        s.system_names[size_t(k)] = intern_locked(s, n ? n : "");
    }
}

// The alias target for a name, or the name itself.
const char *resolve_alias(const char *name)
{
    name_state &s = names();
    std::lock_guard guard(s.lock);
    make_aliases(s);
    build_system_names(s);
    for (const alias_entry &a : s.aliases) {
        if (std::strcmp(a.alias, name) == 0) {
            return a.target;
        }
    }
    return name;
}

char fold(char c)
{
    if (c == '_' || std::isspace(static_cast<unsigned char>(c))) {
        return ' ';
    }
    return char(std::tolower(static_cast<unsigned char>(c)));
}

bool loose_equal(const char *a, const char *b)
{
    for (; *a && *b; a++, b++) {
        if (fold(*a) != fold(*b)) {
            return false;
        }
    }
    return *a == *b;
}

using compare_fn = bool (*)(const char *, const char *);

bool exact_equal(const char *a, const char *b)
{
    return std::strcmp(a, b) == 0;
}

// The specials, then the system names, then the built-in names.
bool find_in_lists(const char *name, compare_fn equal, uint32_t *code)
{
    for (const special_name &sp : special_names) {
        if (equal(sp.name, name)) {
            *code = sp.code;
            return true;
        }
    }
    name_state &s = names();
    for (int k = 0; k < SCAN_CODES; k++) {
        // A key the system cannot name must not match an empty name.
        const char *n = s.system_names[size_t(k)];
        if (n && *n && equal(n, name)) {
            *code = VELK_KEY_BASE + uint32_t(k);
            return true;
        }
    }
    for (const builtin_key &b : builtin_keys) {
        if (equal(b.name, name)) {
            *code = VELK_KEY_BASE + b.scan;
            return true;
        }
    }
    return false;
}

// "Device.key[n]" or "Device button n".
bool find_device_button(const char *name, uint32_t *code)
{
    char device[64];
    int n = -1;
    char tail = 0;
    bool parsed = std::sscanf(name, "%63[^.].key[%d%c", device, &n, &tail) == 3 && tail == ']';
    if (!parsed) {
        parsed = std::sscanf(name, "%63s button %d", device, &n) == 2;
    }
    if (!parsed || n < 0 || n > 255) {
        return false;
    }
    velk_input_device *d = input_device_by_name(device);
    if (!d || n >= d->buttons) {
        return false;
    }
    d->polling = true;
    *code = d->id | uint32_t(n);
    return true;
}

} // namespace

const char *input_intern(const char *text)
{
    if (!text) {
        return nullptr;
    }
    name_state &s = names();
    std::lock_guard guard(s.lock);
    return intern_locked(s, text);
}

void input_alias(const char *alias, const char *target)
{
    if (!alias || !target) {
        return;
    }
    name_state &s = names();
    std::lock_guard guard(s.lock);
    make_aliases(s);
    add_alias(s, alias, target);
}

const char *input_resolve_alias(const char *name)
{
    return name ? resolve_alias(name) : nullptr;
}

bool input_key_code(const char *name, uint32_t *code)
{
    if (!name || !code || !*name) {
        return false;
    }
    name = resolve_alias(name);
    if (find_in_lists(name, exact_equal, code) || find_in_lists(name, loose_equal, code)) {
        return true;
    }
    unsigned scan = 0;
    char tail = 0;
    int got = std::sscanf(name, "0x%x%c", &scan, &tail);
    if (got == 1 && scan <= 0x1FF) {
        *code = VELK_KEY_BASE + scan;
        return true;
    }
    if (got >= 1) {
        return false;
    }
    return find_device_button(name, code);
}

const char *input_code_name(uint32_t code)
{
    for (const special_name &sp : special_names) {
        if (sp.code == code) {
            return sp.name;
        }
    }
    if (code >= VELK_KEY_BASE && code < VELK_KEY_BASE + SCAN_CODES) {
        int scan = int(code - VELK_KEY_BASE);
        name_state &s = names();
        {
            std::lock_guard guard(s.lock);
            build_system_names(s);
            const char *n = s.system_names[size_t(scan)];
            if (n && *n) {
                return n;
            }
        }
        for (const builtin_key &b : builtin_keys) {
            if (b.scan == scan) {
                return b.name;
            }
        }
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%x", unsigned(scan));
        return input_intern(hex);
    }
    if (code & VELK_DEVICE_ID_MASK) {
        velk_input_device *d = input_device_by_id(code & VELK_DEVICE_ID_MASK);
        if (!d || (code & ~VELK_DEVICE_ID_MASK) > 255) {
            return nullptr;
        }
        char text[1100];
        std::snprintf(text, sizeof text, "%.1000s button %d", d->name.c_str(), int(code & 0xFF));
        return input_intern(text);
    }
    return nullptr;
}

void input_names_reset_for_tests()
{
    name_state &s = names();
    std::lock_guard guard(s.lock);
    s.aliases.clear();
    s.aliases_made = false;
    s.system_names_built = false;
}
