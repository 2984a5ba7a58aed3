// bindings.cpp -- control bindings: their two text forms in the
// configuration, resolving them to key codes and axis handles through the
// platform's control names, and the values that drive the rider.
#include "files/files_local.h"
#include "platform/platform.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char *control_keys[CONTROL_COUNT] = {
    "throttle_key",  "front_brake_key",   "rear_brake_key", "left_key",     "right_key",
    "clutch_key",    "upshift_key",       "downshift_key",  "dab_key",      "back_up_key",
    "lean_forward_key", "lean_backward_key", "pause_key",   "step_key",     "rewind_key",
    "skip_key",      "prev_key",          "next_key",       "console_key",  "screenshot_key",
};

// Which rider input each control feeds, and with which sign; -1 for the
// controls that are keys of the game rather than of the rider.
struct input_route {
    int input;
    float sign;
};

constexpr input_route routes[CONTROL_COUNT] = {
    {1, 1},  {2, 1},  {3, 1},  {0, 1},  {0, -1}, {5, 1},  {4, 1},  {4, -1}, {6, 1},  {7, 1},
    {8, -1}, {8, 1},  {-1, 0}, {-1, 0}, {-1, 0}, {-1, 0}, {-1, 0}, {-1, 0}, {-1, 0}, {-1, 0},
};

} // namespace

const char *control_key(int i)
{
    return i >= 0 && i < CONTROL_COUNT ? control_keys[i] : nullptr;
}

control_binding *binding_for_key(const char *key)
{
    for (int i = 0; i < CONTROL_COUNT; i++) {
        if (std::strcmp(control_keys[i], key) == 0) {
            return &config().controls[i];
        }
    }
    return nullptr;
}

void binding_parse(control_binding *b, const char *value)
{
    while (*value && std::isspace(static_cast<unsigned char>(*value))) {
        value++;
    }
    b->key_name = nullptr;
    b->axis_name = nullptr;
    b->low = 0.0f;
    b->high = 1.0f;
    b->has_code = false;
    b->value = 0;
    const char *close = std::strchr(value, ')');
    if (value[0] == '(' && close) {
        float low = 0, high = 0;
        if (std::sscanf(value, "(%f,%f)", &low, &high) == 2 && std::isfinite(low) && std::isfinite(high)) {
            b->low = low;
            b->high = high;
            b->axis_name = input_intern(close + 1);
            return;
        }
    }
    if (std::strncmp(value, "(k)", 3) == 0) {
        value += 3;
    }
    b->key_name = input_intern(value);
}

int binding_format(char *buf, size_t size, const char *name, const control_binding *b)
{
    if (b->axis_name) {
        return std::snprintf(buf, size, "%s=(%f,%f)%s\n", name, double(b->low), double(b->high), b->axis_name);
    }
    if (b->key_name) {
        return std::snprintf(buf, size, "%s=(k)%s\n", name, b->key_name);
    }
    if (size > 0) {
        buf[0] = 0;
    }
    return 0;
}

bool binding_bind(control_binding *b)
{
    binding_release(b);
    if (b->axis_name) {
        b->axis = input_axis_open(b->axis_name);
        return b->axis != nullptr;
    }
    if (b->key_name) {
        b->has_code = input_key_code(b->key_name, &b->code);
        return b->has_code;
    }
    return false;
}

void binding_release(control_binding *b)
{
    input_axis_close(b->axis);
    b->axis = nullptr;
    b->has_code = false;
    b->code = 0;
    b->value = 0;
}

void bindings_bind_all()
{
    for (control_binding &b : config().controls) {
        if (!binding_bind(&b) && (b.key_name || b.axis_name)) {
            velk_log("Can't bind %s to \"%s\"\n", b.label, b.axis_name ? b.axis_name : b.key_name);
        }
    }
}

int bindings_bind_missing()
{
    int bound = 0;
    for (control_binding &b : config().controls) {
        bool named = b.key_name || b.axis_name;
        if (!named || b.has_code || b.axis) {
            continue;
        }
        if (binding_bind(&b)) {
            velk_log("Bound %s to \"%s\"\n", b.label, b.axis_name ? b.axis_name : b.key_name);
            ++bound;
        }
    }
    return bound;
}

void bindings_release_all()
{
    for (control_binding &b : config().controls) {
        binding_release(&b);
    }
}

void bindings_key_event(uint32_t code, bool pressed)
{
    for (control_binding &b : config().controls) {
        if (b.has_code && b.code == code) {
            b.value = pressed ? 1.0f : 0.0f;
        }
    }
}

float binding_axis_value(int raw, float low, float high)
{
    float a = float(raw) * (1.0f / 32768.0f);
    if (high == low) {
        // A range of no width is a switch at that point.
        return a >= high ? 1.0f : 0.0f;
    }
    float v = (a - low) / (high - low);
    return v < 0 ? 0.0f : v > 1 ? 1.0f : v;
}

void bindings_update_axes()
{
    for (control_binding &b : config().controls) {
        if (b.axis) {
            b.value = binding_axis_value(input_axis_read(b.axis), b.low, b.high);
        }
    }
}

void bindings_input_vector(float out[INPUT_COUNT])
{
    for (int i = 0; i < INPUT_COUNT; i++) {
        out[i] = 0;
    }
    const config_settings &c = config();
    for (int i = 0; i < CONTROL_COUNT; i++) {
        if (routes[i].input >= 0) {
            out[routes[i].input] += c.controls[i].value * routes[i].sign;
        }
    }
}
