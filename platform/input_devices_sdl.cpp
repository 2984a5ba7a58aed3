// input_devices_sdl.cpp -- input devices on SDL2: game controllers in the
// role of XInput pads, every other joystick in the role of a DirectInput
// device, and the mouse cursor as a two-axis device; plus the system key
// names, which are SDL's names for the keys.
//
// Controllers and joysticks are hot-plugged: SDL's device events add them
// and detach them while the game runs. A device that comes back under the
// same name gets its old record, so its bindings work again.
#include "platform/input_local.h"
#include "platform/input_sdl.h"
#include "platform/keys_sdl.h"
#include "platform/platform.h"

#include <SDL.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int PAD_BUTTONS = 16;
constexpr int PAD_AXES = 6;
constexpr int MAX_STICK_AXES = 100;
constexpr int MAX_STICK_BUTTONS = 500;

// A pad's button n is bit n of the XInput button word.
constexpr std::array<int, SDL_CONTROLLER_BUTTON_MAX> pad_bit = [] {
    std::array<int, SDL_CONTROLLER_BUTTON_MAX> b{};
    b.fill(-1);
    b[SDL_CONTROLLER_BUTTON_DPAD_UP] = 0;
    b[SDL_CONTROLLER_BUTTON_DPAD_DOWN] = 1;
    b[SDL_CONTROLLER_BUTTON_DPAD_LEFT] = 2;
    b[SDL_CONTROLLER_BUTTON_DPAD_RIGHT] = 3;
    b[SDL_CONTROLLER_BUTTON_START] = 4;
    b[SDL_CONTROLLER_BUTTON_BACK] = 5;
    b[SDL_CONTROLLER_BUTTON_LEFTSTICK] = 6;
    b[SDL_CONTROLLER_BUTTON_RIGHTSTICK] = 7;
    b[SDL_CONTROLLER_BUTTON_LEFTSHOULDER] = 8;
    b[SDL_CONTROLLER_BUTTON_RIGHTSHOULDER] = 9;
    b[SDL_CONTROLLER_BUTTON_GUIDE] = 10;
    b[SDL_CONTROLLER_BUTTON_A] = 12;
    b[SDL_CONTROLLER_BUTTON_B] = 13;
    b[SDL_CONTROLLER_BUTTON_X] = 14;
    b[SDL_CONTROLLER_BUTTON_Y] = 15;
    return b;
}();

struct pad_state {
    SDL_GameController *pad;
    SDL_JoystickID instance;
};

struct stick_state {
    SDL_Joystick *stick;
    SDL_JoystickID instance;
};

bool subsystems_up = false;
bool xinput_on = true;
bool dinput_on = true;

int clamp_axis(int v)
{
    return v < -32767 ? -32767 : v;
}

// ---------------------------------------------------------------- pads

int pad_read_axis(velk_input_device *d, int axis)
{
    auto *s = static_cast<pad_state *>(d->state);
    static constexpr SDL_GameControllerAxis axes[PAD_AXES] = {
        SDL_CONTROLLER_AXIS_LEFTX,  SDL_CONTROLLER_AXIS_LEFTY,       SDL_CONTROLLER_AXIS_RIGHTX,
        SDL_CONTROLLER_AXIS_RIGHTY, SDL_CONTROLLER_AXIS_TRIGGERLEFT, SDL_CONTROLLER_AXIS_TRIGGERRIGHT,
    };
    if (axis < 0 || axis >= PAD_AXES) {
        return 0;
    }
    int v = SDL_GameControllerGetAxis(s->pad, axes[axis]);
    // XInput's sticks count up as positive, SDL's count down.
    if (axis == 1 || axis == 3) {
        v = -v;
    }
    return clamp_axis(v > 32767 ? 32767 : v);
}

void pad_destroy(velk_input_device *d)
{
    auto *s = static_cast<pad_state *>(d->state);
    if (s) {
        SDL_GameControllerClose(s->pad);
        delete s;
    }
}

constexpr velk_device_ops pad_ops = {nullptr, nullptr, pad_read_axis, nullptr, pad_destroy};

// ---------------------------------------------------------------- other joysticks

int stick_read_axis(velk_input_device *d, int axis)
{
    auto *s = static_cast<stick_state *>(d->state);
    return clamp_axis(SDL_JoystickGetAxis(s->stick, axis));
}

void stick_destroy(velk_input_device *d)
{
    auto *s = static_cast<stick_state *>(d->state);
    if (s) {
        velk_log("Killing %s\n", d->name.c_str());
        SDL_JoystickClose(s->stick);
        delete s;
    }
}

constexpr velk_device_ops stick_ops = {nullptr, nullptr, stick_read_axis, nullptr, stick_destroy};

// ---------------------------------------------------------------- cursor

int cursor_read_axis(velk_input_device *, int axis)
{
    int x = 0, y = 0;
    SDL_GetMouseState(&x, &y);
    return axis == 0 ? x : y;
}

constexpr velk_device_ops cursor_ops = {nullptr, nullptr, cursor_read_axis, nullptr, nullptr};

// ---------------------------------------------------------------- lookup

// The devices this back end made. The registry has no notion of SDL
// instances; the back-end states do.
std::vector<velk_input_device *> sdl_devices;

velk_input_device *device_of_instance(SDL_JoystickID instance)
{
    for (velk_input_device *d : sdl_devices) {
        if (!d->attached || !d->state) {
            continue;
        }
        if (d->ops == &pad_ops && static_cast<pad_state *>(d->state)->instance == instance) {
            return d;
        }
        if (d->ops == &stick_ops && static_cast<stick_state *>(d->state)->instance == instance) {
            return d;
        }
    }
    return nullptr;
}

void add_pad(int index)
{
    SDL_JoystickID instance = SDL_JoystickGetDeviceInstanceID(index);
    if (instance < 0 || device_of_instance(instance)) {
        return;
    }
    SDL_GameController *pad = SDL_GameControllerOpen(index);
    if (!pad) {
        velk_log("Can't open game controller: %s\n", SDL_GetError());
        return;
    }
    auto *s = new pad_state{pad, instance};
    for (int n = 0;; n++) {
        char name[32];
        std::snprintf(name, sizeof name, "XInputGamepad%d", n);
        velk_input_device *d = input_device_by_name(name);
        if (d && d->attached) {
            continue;
        }
        velk_log("%s found\n", name);
        if (d) {
            input_device_reattach(d, s);
            return;
        }
        d = input_device_add(name, PAD_BUTTONS, PAD_AXES, &pad_ops, s);
        sdl_devices.push_back(d);
        for (int a = 0; a < PAD_AXES; a++) {
            char axis[48];
            std::snprintf(axis, sizeof axis, "XInputGamepad%d axis %d", n, a);
            input_axis_name_add(axis);
        }
        return;
    }
}

void add_stick(int index)
{
    SDL_JoystickID instance = SDL_JoystickGetDeviceInstanceID(index);
    if (instance < 0 || device_of_instance(instance)) {
        return;
    }
    SDL_Joystick *stick = SDL_JoystickOpen(index);
    if (!stick) {
        velk_log("Can't create \"%s\"\n", SDL_JoystickNameForIndex(index) ? SDL_JoystickNameForIndex(index) : "");
        return;
    }
    const char *product = SDL_JoystickName(stick);
    if (!product) {
        product = "";
    }
    char guid[40];
    SDL_JoystickGetGUIDString(SDL_JoystickGetGUID(stick), guid, sizeof guid);
    velk_log("%s (%s)\n", product, guid);
    std::string base;
    for (const char *p = product; *p; p++) {
        if (*p != ' ' && *p != '.') {
            base += *p;
        }
    }
    if (base.empty()) {
        base = "Joystick";
    }
    int axes = SDL_JoystickNumAxes(stick);
    int buttons = SDL_JoystickNumButtons(stick);
    if (axes <= 0 && buttons <= 0) {
        velk_log("Ignoring Dunsel device\n");
        SDL_JoystickClose(stick);
        return;
    }
    velk_log("%d axes, %d keys\n", axes, buttons);
    if (axes > MAX_STICK_AXES) {
        velk_log("Wow! This thing has a lot of axes!\nThe first ignored axis is called \"axis %d\"\n",
                 MAX_STICK_AXES);
        axes = MAX_STICK_AXES;
    }
    if (buttons > MAX_STICK_BUTTONS) {
        velk_log("Wow! This thing has a lot of buttons!\nThe first ignored button is called \"button %d\"\n",
                 MAX_STICK_BUTTONS);
        buttons = MAX_STICK_BUTTONS;
    }
    auto *s = new stick_state{stick, instance};
    int kept_buttons = buttons > 256 ? 256 : buttons;
    if (velk_input_device *old = input_device_find_detached(base.c_str(), kept_buttons, axes)) {
        input_device_reattach(old, s);
        return;
    }
    velk_input_device *d = input_device_add(base.c_str(), buttons, axes, &stick_ops, s);
    sdl_devices.push_back(d);
    for (int a = 0; a < axes; a++) {
        char axis[256];
        std::snprintf(axis, sizeof axis, "%.200s axis %d", d->name.c_str(), a);
        velk_log("Adding axis \"%s\"\n", axis);
        input_axis_name_add(axis);
    }
}

void add_device(int index)
{
    if (SDL_IsGameController(index)) {
        if (xinput_on) {
            add_pad(index);
        }
    } else if (dinput_on) {
        add_stick(index);
    }
}

void queue_button(SDL_JoystickID instance, int button, bool down, velk_clock t, bool pad)
{
    velk_input_device *d = device_of_instance(instance);
    if (!d || (d->ops == &pad_ops) != pad || !d->polling) {
        return;
    }
    if (pad) {
        if (button < 0 || button >= SDL_CONTROLLER_BUTTON_MAX || pad_bit[size_t(button)] < 0) {
            return;
        }
        button = pad_bit[size_t(button)];
    }
    if (button < 0 || button >= d->buttons) {
        return;
    }
    input_queue_event(d->id | uint32_t(button), down, t);
}

} // namespace

const char *velk_system_key_name(int scan)
{
    int sc = velk_sdl_scan_code(scan);
    if (sc == 0) {
        return "";
    }
    const char *name = SDL_GetScancodeName(SDL_Scancode(sc));
    return name ? name : "";
}

void velk_input_roll_call()
{
    xinput_on = velk_option_bool("xinput", true);
    dinput_on = velk_option_bool("dinput", true);
    if (!xinput_on) {
        velk_log("XInput disabled\n");
    }
    if (!dinput_on) {
        velk_log("DirectInput disabled\n");
    }
    if ((xinput_on || dinput_on) && !subsystems_up) {
        if (SDL_InitSubSystem(SDL_INIT_JOYSTICK | SDL_INIT_GAMECONTROLLER) == 0) {
            subsystems_up = true;
        } else {
            velk_log("Can't open joystick support: %s\n", SDL_GetError());
        }
    }
    if (subsystems_up) {
        int count = SDL_NumJoysticks();
        if (dinput_on) {
            velk_log("DirectInput roll call...\n");
            for (int i = 0; i < count; i++) {
                if (!SDL_IsGameController(i)) {
                    add_stick(i);
                }
            }
            velk_log("End of DirectInput roll call\n");
        }
        if (xinput_on) {
            velk_log("XInput roll call...\n");
            for (int i = 0; i < count; i++) {
                if (SDL_IsGameController(i)) {
                    add_pad(i);
                }
            }
            velk_log("End of XInput roll call\n");
        }
    }
    if (!input_device_by_name("cursor")) {
        sdl_devices.push_back(input_device_add("cursor", 0, 2, &cursor_ops, nullptr));
    } else {
        input_device_reattach(input_device_by_name("cursor"), nullptr);
    }
}

void velk_input_sdl_event(const SDL_Event &e, velk_clock t)
{
    if (!subsystems_up) {
        return;
    }
    switch (e.type) {
    case SDL_JOYDEVICEADDED:
    case SDL_CONTROLLERDEVICEADDED:
        add_device(e.jdevice.which);
        break;
    case SDL_JOYDEVICEREMOVED:
        if (velk_input_device *d = device_of_instance(e.jdevice.which)) {
            velk_log("%s removed\n", d->name.c_str());
            input_device_detach(d);
        }
        break;
    case SDL_CONTROLLERBUTTONDOWN:
    case SDL_CONTROLLERBUTTONUP:
        queue_button(e.cbutton.which, e.cbutton.button, e.type == SDL_CONTROLLERBUTTONDOWN, t, true);
        break;
    case SDL_JOYBUTTONDOWN:
    case SDL_JOYBUTTONUP:
        queue_button(e.jbutton.which, e.jbutton.button, e.type == SDL_JOYBUTTONDOWN, t, false);
        break;
    default:
        break;
    }
}

void velk_input_close()
{
    input_devices_close_all();
    sdl_devices.clear();
    if (subsystems_up) {
        SDL_QuitSubSystem(SDL_INIT_JOYSTICK | SDL_INIT_GAMECONTROLLER);
        subsystems_up = false;
    }
}
