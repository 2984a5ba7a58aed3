// input_devices.cpp -- the registry of input devices, their ids, the axis
// handles and the axis name list. The back ends (SDL controllers, the
// cursor) add and detach devices; everything else finds them by name here.
#include "platform/input_local.h"
#include "platform/platform.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

struct velk_axis {
    velk_input_device *device;
    int index;
};

namespace {

struct registry {
    // Newest first, as the roll call meets them.
    std::vector<velk_input_device *> devices;
    // Records live to the end of the run: an axis handle may outlive its
    // device's window, and must then read 0 rather than freed memory.
    std::vector<std::unique_ptr<velk_input_device>> records;
    std::vector<const char *> axis_names;
    // Devices added so far; bindings that named a missing device try again
    // when it grows.
    std::atomic<uint32_t> additions{0};
};

registry &reg()
{
    static registry r;
    return r;
}

bool id_used(uint32_t id)
{
    for (velk_input_device *d : reg().devices) {
        if (d->id == id) {
            return true;
        }
    }
    return false;
}

} // namespace

uint32_t input_device_hash(const char *name)
{
    uint16_t d = 0;
    uint8_t a = 0;
    for (size_t i = 0; name[i]; i++) {
        auto c = static_cast<unsigned char>(name[i]);
        if (i % 2 == 0) {
            d = uint16_t(d + c);
        } else {
            a = uint8_t(a + c);
        }
    }
    return ((uint32_t(a) * 256u + d) << 16) & VELK_DEVICE_ID_MASK;
}

velk_input_device *input_device_add(const char *base_name, int buttons, int axes, const velk_device_ops *ops,
                                    void *state)
{
    registry &r = reg();
    auto rec = std::make_unique<velk_input_device>();
    rec->base_name = base_name ? base_name : "";
    rec->name = rec->base_name;
    for (int n = 2; input_device_by_name(rec->name.c_str()); n++) {
        rec->name = rec->base_name + "#" + std::to_string(n);
    }
    uint32_t id = input_device_hash(rec->name.c_str());
    while (id == 0 || id_used(id)) {
        id = (id + 0x10000) & VELK_DEVICE_ID_MASK;
    }
    rec->id = id;
    rec->buttons = buttons < 0 ? 0 : buttons > 256 ? 256 : buttons;
    rec->axes = axes < 0 ? 0 : axes;
    rec->ops = ops;
    rec->state = state;
    velk_input_device *d = rec.get();
    r.records.push_back(std::move(rec));
    r.devices.insert(r.devices.begin(), d);
    r.additions.fetch_add(1, std::memory_order_relaxed);
    return d;
}

uint32_t input_device_additions()
{
    return reg().additions.load(std::memory_order_relaxed);
}

velk_input_device *input_device_find_detached(const char *base_name, int buttons, int axes)
{
    for (velk_input_device *d : reg().devices) {
        if (!d->attached && d->base_name == base_name && d->buttons == buttons && d->axes == axes) {
            return d;
        }
    }
    return nullptr;
}

void input_device_reattach(velk_input_device *d, void *state)
{
    d->state = state;
    d->attached = true;
    if (d->open_count > 0 && d->ops && d->ops->open) {
        (void)d->ops->open(d);
    }
}

void input_device_detach(velk_input_device *d)
{
    if (!d || !d->attached) {
        return;
    }
    if (d->open_count > 0 && d->ops && d->ops->close) {
        d->ops->close(d);
    }
    if (d->ops && d->ops->destroy) {
        d->ops->destroy(d);
    }
    d->state = nullptr;
    d->attached = false;
}

velk_input_device *input_device_by_name(const char *name)
{
    for (velk_input_device *d : reg().devices) {
        if (d->name == name) {
            return d;
        }
    }
    return nullptr;
}

velk_input_device *input_device_by_id(uint32_t id)
{
    for (velk_input_device *d : reg().devices) {
        if (d->id == id) {
            return d;
        }
    }
    return nullptr;
}

void input_devices_close_all()
{
    registry &r = reg();
    for (velk_input_device *d : r.devices) {
        input_device_detach(d);
        d->open_count = 0;
    }
    r.devices.clear();
    r.axis_names.clear();
}

void input_axis_name_add(const char *name)
{
    reg().axis_names.push_back(input_intern(name));
}

std::span<const char *const> input_axis_names()
{
    return reg().axis_names;
}

void input_poll_devices()
{
    for (velk_input_device *d : reg().devices) {
        if (d->polling && d->attached && d->ops && d->ops->poll_buttons) {
            d->ops->poll_buttons(d);
        }
    }
}

velk_axis *input_axis_open(const char *name)
{
    if (!name) {
        return nullptr;
    }
    name = input_resolve_alias(name);
    char device[64];
    int index = -1;
    char tail = 0;
    bool parsed = std::sscanf(name, "%63[^.].axis[%d%c", device, &index, &tail) == 3 && tail == ']';
    if (!parsed) {
        parsed = std::sscanf(name, "%63s axis %d", device, &index) == 2;
    }
    if (!parsed || index < 0) {
        return nullptr;
    }
    velk_input_device *d = input_device_by_name(device);
    if (!d || index >= d->axes) {
        return nullptr;
    }
    if (d->open_count == 0 && d->attached && d->ops && d->ops->open && !d->ops->open(d)) {
        return nullptr;
    }
    d->open_count++;
    return new velk_axis{d, index};
}

int input_axis_read(velk_axis *a)
{
    if (!a || !a->device->attached || !a->device->ops || !a->device->ops->read_axis) {
        return 0;
    }
    return a->device->ops->read_axis(a->device, a->index);
}

void input_axis_close(velk_axis *a)
{
    if (!a) {
        return;
    }
    velk_input_device *d = a->device;
    if (d->open_count > 0 && --d->open_count == 0 && d->attached && d->ops && d->ops->close) {
        d->ops->close(d);
    }
    delete a;
}
