// input_local.h -- the input device registry shared by the name code and the
// device back ends inside platform/. Nothing outside platform/ includes this.
//
// A device record stays in the registry from roll call (or hot-plug) to the
// window's close. An unplugged device is detached: its back-end state is
// destroyed, it reads as idle, and it keeps its name, id and open handles, so
// a binding survives the cable being pulled and works again when the same
// device comes back.
#pragma once

#include <cstdint>
#include <string>

struct velk_input_device;

// What varies between device kinds. Any entry may be null.
struct velk_device_ops {
    bool (*open)(velk_input_device *d);
    void (*close)(velk_input_device *d);
    int (*read_axis)(velk_input_device *d, int axis);
    void (*poll_buttons)(velk_input_device *d);
    void (*destroy)(velk_input_device *d);
};

struct velk_input_device {
    std::string name;       // unique: base name, or base name + "#2", "#3", ...
    std::string base_name;  // as the back end asked for it
    uint32_t id = 0;        // bits 16..30
    int open_count = 0;     // axis handles open on it
    bool polling = false;   // a button of it is bound: queue its button events
    bool attached = true;
    int buttons = 0;
    int axes = 0;
    const velk_device_ops *ops = nullptr;
    void *state = nullptr;  // the back end's
};

// The id a name hashes to before collisions are resolved.
[[nodiscard]] uint32_t input_device_hash(const char *name);
// Adds a device, naming it uniquely and giving it a free id. Buttons are
// limited to 256 (the codes hold 8 bits of button number).
velk_input_device *input_device_add(const char *base_name, int buttons, int axes, const velk_device_ops *ops,
                                    void *state);
// A detached device with this base name and shape, or null.
[[nodiscard]] velk_input_device *input_device_find_detached(const char *base_name, int buttons, int axes);
// Gives a detached device its new back-end state.
void input_device_reattach(velk_input_device *d, void *state);
// Destroys the back-end state; the record stays (see above).
void input_device_detach(velk_input_device *d);
[[nodiscard]] velk_input_device *input_device_by_name(const char *name);
[[nodiscard]] velk_input_device *input_device_by_id(uint32_t id);
// Detaches and forgets every device (window close). Open axis handles read 0.
void input_devices_close_all();
// Adds an interned name to the axis name list.
void input_axis_name_add(const char *name);
// Empties the alias list and the key-name table (tests).
void input_names_reset_for_tests();

// The system's name for a set-1 scan code (0..511), or an empty text. The
// window half provides it; the fallback has no names.
const char *velk_system_key_name(int scan);
