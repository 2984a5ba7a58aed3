// setup.cpp -- the rider's setup: the adjustable values with their defaults
// and ranges, setting them from key=value lines, writing them, the
// stability blend, setup files, and turning a setup into the parameters of
// a rider.
#include "sim/sim_local.h"
#include "platform/platform.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr const char *no_yes[] = {"No", "Yes"};
constexpr const char *brake_names[] = {"Normal", "Antilock"};
constexpr const char *wheelie_names[] = {"No", "Yes", "Front Only"};

// The name the setup starts with; the player changes it in the menus.
constexpr const char *default_rider_name = "Rookie";
constexpr const char *default_bike = "yz250f(2017)";

// Bike names from before models carried their year.
constexpr struct {
    const char *old_name;
    const char *name;
} bike_aliases[] = {
    {"crf250", "crf250(2008)"},
    {"kx250f", "kx250f(2008)"},
    {"rmz250", "rmz250(2008)"},
    {"yz250f", "yz250f(2008)"},
};

constexpr const char *texture_keys[] = {"rider_texture", "head_texture", "bike_texture", "wheel_texture"};
constexpr int TEXTURE_NAME_MAX = 1023;

struct numeric_default {
    const char *key;
    const char *label;
    double value, step, min, max;
};

// Numeric items in file order, by where they sit among the others.
constexpr numeric_default assists[] = {
    {"stability", "Stability", 100, 1, 0, 100},
    {"leveling", "Leveling", 20, 1, 0, 100},
    {"roll_damping", "Roll Damping", 60, 1, 0, 100},
    {"roll_limit_angle", "Roll Limit Angle", 45, 1, 0, 180},
    {"roll_limit_factor", "Roll Limit Factor", 10, 1, 0, 64},
    {"steering_damping", "Steering Damping", 45, 1, 0, 100},
    {"steering_strength", "Steering Strength", 75, 1, 0, 100},
    {"max_steering_force", "Max Steering Force", 400, 5, 0, 1000},
    {"direct_steering", "Direct Steering", 1, 0.125, 0, 1},
    {"slow_damping_speed", "Slow Damping Speed", 40, 1, 0, 100},
    {"slow_damping_factor", "Slow Damping Factor", 2, 0.25, 1, 10},
    {"land_damping_rampup", "Landing Damping Ramp Up", 0.0625, 0.0078125, 0, 0.5},
    {"land_damping_falloff", "Landing Damping Falloff", 0.25, 0.0625, 0, 0.5},
    {"land_damping_factor", "Landing Damping Factor", 2, 0.25, 1, 3},
    {"full_lock_speed", "Full Lock Speed", 10, 1, 1, 100},
    {"restricted_lock_speed", "Restricted Lock Speed", 50, 1, 1, 100},
    {"restricted_lock", "Restricted Lock Angle", 7.5, 0.125, 0, 45},
};

struct choice_default {
    const char *key;
    const char *label;
    const char *const *names;
    int count;
    int selected;
};

constexpr choice_default switches[] = {
    {"arcade", "Arcade Physics", no_yes, 2, 1},
    {"front_brake", "Front Brake", brake_names, 2, 1},
    {"rear_brake", "Rear Brake", brake_names, 2, 0},
    {"stop_wheelies", "Stop Wheelies", wheelie_names, 3, 1},
    {"auto_shift", "Automatic Shifting", no_yes, 2, 1},
    {"auto_dab", "Dab When Stopped", no_yes, 2, 1},
    {"auto_align", "Realign After Fall", no_yes, 2, 1},
    {"sticky_dab", "Sticky Sit/Dab", no_yes, 2, 0},
    {"reverse_steering", "Reversed Steering", no_yes, 2, 1},
    {"lean_indicator", "Lean Indicator", no_yes, 2, 1},
};

constexpr numeric_default mechanics[] = {
    {"auto_clutch_rpms", "Auto Clutch RPMs", 5000, 100, 0, 5000},
    {"brake_torque", "Braking Torque (Front)", 500, 10, 0, 500},
    {"rear_brake_torque", "Braking Torque (Rear)", 250, 10, 0, 500},
    {"max_dab_speed", "Max Dab Speed (MPH)", 60, 1, 5, 60},
    {"front_sprocket_adjustment", "Countershaft Sprocket", 0, 1, -2, 2},
    {"rear_sprocket_adjustment", "Rear Sprocket", 0, 1, -2, 2},
    {"fork_compression_adjustment", "Fork High Speed Compression Damping", 50, 1, 0, 100},
    {"fork_slow_compression_adjustment", "Fork Low Speed Compression Damping", 50, 1, 0, 100},
    {"fork_rebound_adjustment", "Fork High Speed Rebound Damping", 50, 1, 0, 100},
    {"fork_slow_rebound_adjustment", "Fork Low Speed Rebound Damping", 50, 1, 0, 100},
    {"fork_spring_rate_adjustment", "Fork Spring Rate", 50, 1, 0, 100},
    {"fork_preload_adjustment", "Fork Preload", 50, 1, 0, 100},
    {"fork_oil_level_adjustment", "Fork Oil Level", 50, 1, 0, 100},
    {"shock_compression_adjustment", "Shock High Speed Compression Damping", 75, 1, 0, 100},
    {"shock_slow_compression_adjustment", "Shock Low Speed Compression Damping", 50, 1, 0, 100},
    {"shock_rebound_adjustment", "Shock High Speed Rebound Damping", 75, 1, 0, 100},
    {"shock_slow_rebound_adjustment", "Shock Low Speed Rebound Damping", 50, 1, 0, 100},
    {"shock_spring_rate_adjustment", "Shock Spring Rate", 50, 1, 0, 100},
    {"shock_preload_adjustment", "Shock Preload", 50, 1, 0, 100},
    {"rider_yspring", "Rider Vertical Spring", 50, 1, 0, 100},
    {"rider_ydamping", "Rider Vertical Damping", 50, 1, 0, 100},
    {"rider_zspring", "Rider Forward Spring", 50, 1, 0, 100},
    {"rider_zdamping", "Rider Forward Damping", 50, 1, 0, 100},
    {"rider_mass_distribution", "Rider Mass Distribution", 0.33, 0.01, 0.33, 0.5},
};

// The advanced values the Stability setting blends, at stability 0, 20,
// 40, 60, 80 and 100.
constexpr struct {
    const char *key;
    double at[6];
} blend_table[] = {
    {"leveling", {20, 20, 20, 20, 20, 20}},
    {"roll_damping", {40, 50, 60, 70, 75, 80}},
    {"roll_limit_angle", {90, 45, 45, 45, 45, 45}},
    {"roll_limit_factor", {0, 5, 10, 32, 32, 32}},
    {"steering_damping", {45, 45, 45, 45, 50, 60}},
    {"steering_strength", {75, 75, 75, 75, 75, 75}},
    {"direct_steering", {1, 1, 1, 1, 1, 0.125}},
    {"max_steering_force", {400, 400, 400, 400, 400, 400}},
    {"slow_damping_speed", {40, 40, 40, 40, 40, 40}},
    {"slow_damping_factor", {1, 1, 1.5, 2, 2, 2}},
    {"land_damping_rampup", {0.0625, 0.0625, 0.0625, 0.0625, 0.0625, 0.0625}},
    {"land_damping_falloff", {0, 0.125, 0.25, 0.25, 0.25, 0.25}},
    {"land_damping_factor", {1, 1.5, 2, 2, 2, 2}},
    {"full_lock_speed", {10, 10, 10, 10, 10, 10}},
    {"restricted_lock_speed", {50, 50, 50, 50, 50, 50}},
    {"restricted_lock", {45, 15, 10, 5, 2.5, 1}},
};

std::vector<SetupItem> items;
char pending_textures[4][TEXTURE_NAME_MAX + 1];
// The graphics lists given so far; they survive a reset to the defaults.
struct texture_list {
    const char *const *names;
    int count;
};
texture_list texture_lists[4];
bool out_of_range = false;
double last_refused = -20;

SetupItem numeric_item(const numeric_default &d)
{
    SetupItem it{};
    it.key = d.key;
    it.kind = setup_kind::numeric;
    it.number = number_setting{d.label, d.value, d.step, d.min, d.max};
    return it;
}

SetupItem choice_item(const char *key, const char *label, const char *const *names, int count, int selected)
{
    SetupItem it{};
    it.key = key;
    it.kind = setup_kind::choice;
    it.choice = choice_setting{label, names, count, selected};
    return it;
}

SetupItem text_item(const char *key, const char *label, int max_length, const char *value)
{
    SetupItem it{};
    it.key = key;
    it.kind = setup_kind::text;
    it.text.label = label;
    it.text.max_length = max_length;
    text_setting_set(&it.text, value);
    return it;
}

void build_items()
{
    items.clear();
    std::span<const char *const> bikes = bike_menu_names();
    int bike = 0;
    for (size_t i = 0; i < bikes.size(); i++) {
        if (std::strcmp(bikes[i], default_bike) == 0) {
            bike = int(i);
        }
    }
    items.push_back(choice_item("bike", "Bike", bikes.data(), int(bikes.size()), bike));
    items.push_back(text_item("name", "Name", 63, default_rider_name));
    items.push_back(text_item("number", "Number", 3, "999"));
    // The graphics lists come from the drawing code; until they are known
    // the chosen names wait in the pending buffers.
    const char *texture_labels[4] = {"Riding Gear", "Helmet", "Bike Graphics", "Wheel Graphics"};
    for (int i = 0; i < 4; i++) {
        items.push_back(choice_item(texture_keys[i], texture_labels[i], texture_lists[i].names,
                                    texture_lists[i].count, 0));
    }
    for (const numeric_default &d : assists) {
        items.push_back(numeric_item(d));
    }
    for (const choice_default &c : switches) {
        items.push_back(choice_item(c.key, c.label, c.names, c.count, c.selected));
    }
    for (const numeric_default &d : mechanics) {
        items.push_back(numeric_item(d));
    }
}

std::vector<SetupItem> &all_items()
{
    if (items.empty()) {
        setup_set_defaults();
    }
    return items;
}

int texture_index(const char *key)
{
    for (int i = 0; i < 4; i++) {
        if (std::strcmp(texture_keys[i], key) == 0) {
            return i;
        }
    }
    return -1;
}

// The name a texture item stands for: its list entry when lists are known,
// else the pending name.
const char *texture_name(int i)
{
    const SetupItem *it = setup_item(texture_keys[i]);
    if (it && it->choice.count > 0) {
        return choice_setting_name(&it->choice);
    }
    return pending_textures[i];
}

bool selected_is(const char *key, const char *name)
{
    const SetupItem *it = setup_item(key);
    return it && std::strcmp(choice_setting_name(&it->choice), name) == 0;
}

// The value clamped to [lo, hi]; values more than an eighth of the item's
// range outside it mark the setup as out of range.
double checked(const char *key, double lo, double hi)
{
    const SetupItem *it = setup_item(key);
    double v = it ? it->number.value : lo;
    if (it) {
        double slack = (it->number.max - it->number.min) / 8;
        if (!(v >= it->number.min - slack && v <= it->number.max + slack)) {
            out_of_range = true;
        }
    }
    if (!std::isfinite(v)) {
        v = lo;
    }
    return sim_clamp(v, lo, hi);
}

float damping_multiplier(double a)
{
    return float(sim_clamp(std::exp2(0.04 * a - 2), 0.25, 4.0));
}

float low_speed_fraction(double a)
{
    return float(sim_clamp(0.02 * a - 1, -1.0, 1.0));
}

float between(const float range[2], double a)
{
    return float(range[0] + sim_clamp(0.01 * a, 0.0, 1.0) * (range[1] - range[0]));
}

void set_masses(rider_setup_params *p, const BikeModel &m)
{
    float d = p->rider_mass_distribution;
    p->frame_body_mass = m.frame_mass + m.rider_mass * (1 - d);
    p->rider_body_mass = m.rider_mass * d;
}

} // namespace

// ---------------------------------------------------------------- items

std::span<SetupItem> setup_items()
{
    return all_items();
}

SetupItem *setup_item(const char *key)
{
    for (SetupItem &it : all_items()) {
        if (std::strcmp(it.key, key) == 0) {
            return &it;
        }
    }
    return nullptr;
}

void setup_set_defaults()
{
    build_items();
    for (char *p : pending_textures) {
        p[0] = 0;
    }
    stability_blend(100);
}

int setup_set_key(const char *key, const char *value)
{
    SetupItem *it = setup_item(key);
    if (!it) {
        return 0;
    }
    int tex = texture_index(key);
    if (tex >= 0) {
        std::snprintf(pending_textures[tex], sizeof pending_textures[tex], "%s", value);
        if (it->choice.count > 0) {
            (void)choice_setting_select(&it->choice, value);
        }
        return 1;
    }
    switch (it->kind) {
    case setup_kind::numeric: {
        double v = 0;
        if (std::sscanf(value, "%lf", &v) != 1 || !number_setting_set(&it->number, v)) {
            return 0;
        }
        if (std::strcmp(key, "stability") == 0) {
            stability_blend(int(it->number.value));
        }
        return 1;
    }
    case setup_kind::choice:
        if (std::strcmp(key, "bike") == 0) {
            for (const auto &a : bike_aliases) {
                if (std::strcmp(value, a.old_name) == 0) {
                    value = a.name;
                }
            }
        }
        return choice_setting_select(&it->choice, value) ? 1 : 0;
    case setup_kind::text:
        text_setting_set(&it->text, value);
        return 1;
    }
    return 0;
}

void write_setup(data_file *f)
{
    for (const SetupItem &it : all_items()) {
        int tex = texture_index(it.key);
        if (tex >= 0) {
            data_printf(f, "%s=%s\n", it.key, texture_name(tex));
            continue;
        }
        switch (it.kind) {
        case setup_kind::numeric:
            data_printf(f, "%s=%f\n", it.key, it.number.value);
            break;
        case setup_kind::choice:
            data_printf(f, "%s=%s\n", it.key, choice_setting_name(&it.choice));
            break;
        case setup_kind::text:
            data_printf(f, "%s=%s\n", it.key, it.text.text);
            break;
        }
    }
}

void stability_blend(int stability)
{
    double u = sim_clamp(stability * 5 * 0.01, 0.0, 5.0);
    int i = sim_clamp(int(std::floor(u)), 0, 4);
    double f = u - i;
    for (const auto &b : blend_table) {
        if (SetupItem *it = setup_item(b.key)) {
            it->number.value = b.at[i] + (b.at[i + 1] - b.at[i]) * f;
        }
    }
}

const char *setup_pending_texture(const char *key)
{
    int i = texture_index(key);
    return i >= 0 ? pending_textures[i] : "";
}

void setup_set_texture_list(const char *key, const char *const *names, int count)
{
    int i = texture_index(key);
    SetupItem *it = setup_item(key);
    if (i < 0 || !it) {
        return;
    }
    texture_lists[i] = {names, count < 0 ? 0 : count};
    it->choice.names = names;
    it->choice.count = texture_lists[i].count;
    it->choice.selected = 0;
    (void)choice_setting_select(&it->choice, pending_textures[i]);
}

void bike_description(char *buf, size_t size)
{
    if (!buf || size == 0) {
        return;
    }
    const char *bike = choice_setting_name(&setup_item("bike")->choice);
    const char *number = setup_item("number")->text.text;
    const char *name = setup_item("name")->text.text;
    std::string full = std::string(bike) + "|" + texture_name(0) + "|" + texture_name(2) + "|" + texture_name(3) +
                       "|" + texture_name(1) + "\n" + number + "\n" + name;
    if (full.size() + 6 < size) {
        std::snprintf(buf, size, "%s", full.c_str());
    } else {
        std::snprintf(buf, size, "%s\n%s\n%s", bike, number, name);
    }
}

bool setup_display(const char *key, const BikeModel &m, char *buf, size_t size)
{
    const SetupItem *it = setup_item(key);
    if (!it || it->kind != setup_kind::numeric) {
        return false;
    }
    double a = it->number.value;
    double x = sim_clamp(a * 0.01, 0.0, 1.0);
    auto at = [&](const float r[2]) { return r[0] + x * (r[1] - r[0]); };
    if (std::strcmp(key, "fork_spring_rate_adjustment") == 0) {
        std::snprintf(buf, size, "%.3f kg/mm", at(m.fork_spring_rate) * 0.000744082);
    } else if (std::strcmp(key, "shock_spring_rate_adjustment") == 0) {
        std::snprintf(buf, size, "%.2f kg/mm", at(m.shock_spring_rate) * 0.0014881639);
    } else if (std::strcmp(key, "fork_preload_adjustment") == 0) {
        std::snprintf(buf, size, "%.2f mm", at(m.fork_preload) * 304.8);
    } else if (std::strcmp(key, "fork_oil_level_adjustment") == 0) {
        std::snprintf(buf, size, "%.2f mm", at(m.fork_oil_level) * 304.8);
    } else if (std::strcmp(key, "shock_preload_adjustment") == 0) {
        std::snprintf(buf, size, "%.2f mm", at(m.shock_preload) * 304.8);
    } else if (std::strcmp(key, "front_sprocket_adjustment") == 0) {
        std::snprintf(buf, size, "%.2f teeth", m.countershaft_teeth + a);
    } else if (std::strcmp(key, "rear_sprocket_adjustment") == 0) {
        std::snprintf(buf, size, "%.2f teeth", m.rear_sprocket_teeth + a);
    } else {
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- setup files

bool setup_file_name(const char *user_name, char *out, size_t size)
{
    if (!user_name || !*user_name || std::strchr(user_name, '/') || std::strchr(user_name, '\\') ||
        std::strstr(user_name, "..")) {
        return false;
    }
    int n = std::snprintf(out, size, "@setups/%s", user_name);
    return n > 0 && size_t(n) < size;
}

void read_setup(data_file *f)
{
    char line[1024];
    char *value;
    while (data_get_key_value(f, line, sizeof line, &value)) {
        (void)setup_set_key(line, value);
    }
}

bool read_setup_file(const char *user_name)
{
    char name[1100];
    if (!setup_file_name(user_name, name, sizeof name)) {
        return false;
    }
    data_file_ptr f(data_open(name, "rb"));
    if (!f) {
        return false;
    }
    read_setup(f.get());
    return true;
}

bool write_setup_file(const char *user_name)
{
    char name[1100];
    if (!setup_file_name(user_name, name, sizeof name)) {
        return false;
    }
    data_file_ptr f(data_open(name, "wb"));
    if (!f) {
        return false;
    }
    write_setup(f.get());
    return data_flush(f.get()) == 0;
}

// ---------------------------------------------------------------- setup to physics

rider_setup_params rider_build_params(const BikeModel &m)
{
    rider_setup_params p{};
    p.countershaft_teeth = m.countershaft_teeth;
    p.rear_sprocket_teeth = m.rear_sprocket_teeth;
    p.final_drive = m.rear_sprocket_teeth / m.countershaft_teeth;
    p.fork_compression = 1;
    p.fork_rebound = 1;
    p.fork_slow_compression = 0;
    p.fork_slow_rebound = 0;
    p.fork_spring_rate = between(m.fork_spring_rate, 50);
    p.fork_preload = between(m.fork_preload, 50);
    p.fork_oil_level = m.fork_oil_level[0];
    p.shock_compression = 2;
    p.shock_rebound = 2;
    p.shock_slow_compression = 0;
    p.shock_slow_rebound = 1;
    p.shock_spring_rate = between(m.shock_spring_rate, 50);
    p.shock_preload = between(m.shock_preload, 50);
    p.rider_yspring = 0.5f;
    p.rider_zspring = 0.5f;
    p.rider_ydamping = 0.75f;
    p.rider_zdamping = 0.75f;
    p.leveling = 20;
    p.roll_damping = 60;
    p.roll_limit_angle = float(std::numbers::pi / 4);
    p.roll_limit_factor = 10;
    p.steering_damping = 45;
    p.steering_strength = 75;
    p.max_steering_force = 400;
    p.auto_clutch_rpm = 5000;
    p.front_brake_torque = 250;
    p.rear_brake_torque = 250;
    p.max_dab_speed = 30;
    p.direct_steering = 1;
    p.slow_damping_speed = 0;
    p.slow_damping_factor = 1;
    p.land_damping_rampup = 0.0625f;
    p.land_damping_falloff = 0.25f;
    p.land_damping_factor = 2;
    p.arcade = false;
    p.full_lock_speed = 10;
    p.restricted_lock_speed = 50;
    p.restricted_lock = 0.08726646f;
    p.wheelie_limiter = false;
    p.stoppie_limiter = true;
    p.front_antilock = true;
    p.rear_antilock = false;
    p.auto_shift = false;
    p.auto_dab = false;
    p.auto_align = true;
    p.rider_mass_distribution = 0.33f;
    set_masses(&p, m);
    return p;
}

void apply_setup_params(rider_setup_params *p, const BikeModel &m, bool allow_arcade)
{
    constexpr double deg = std::numbers::pi / 180;
    p->leveling = float(checked("leveling", 0, 100));
    p->roll_damping = float(checked("roll_damping", 0, 100));
    p->roll_limit_angle = float(sim_clamp(checked("roll_limit_angle", -1e9, 1e9) * deg, 0.0, std::numbers::pi));
    p->roll_limit_factor = float(checked("roll_limit_factor", 0, 64));
    p->steering_damping = float(checked("steering_damping", 0, 100));
    p->steering_strength = float(checked("steering_strength", 0, 100));
    p->max_steering_force = float(checked("max_steering_force", 0, 1000));
    p->arcade = allow_arcade && selected_is("arcade", "Yes");
    p->front_antilock = selected_is("front_brake", "Antilock");
    p->rear_antilock = selected_is("rear_brake", "Antilock");
    p->wheelie_limiter = selected_is("stop_wheelies", "Yes");
    p->stoppie_limiter = selected_is("stop_wheelies", "Yes") || selected_is("stop_wheelies", "Front Only");
    p->auto_shift = selected_is("auto_shift", "Yes");
    p->auto_dab = selected_is("auto_dab", "Yes");
    p->auto_align = selected_is("auto_align", "Yes");
    p->direct_steering = float(checked("direct_steering", 0, 1));
    p->slow_damping_speed = float(checked("slow_damping_speed", 0, 100));
    p->slow_damping_factor = float(checked("slow_damping_factor", 1, 10));
    p->land_damping_rampup = float(checked("land_damping_rampup", 0, 0.5));
    p->land_damping_falloff = float(checked("land_damping_falloff", 0, 0.5));
    p->land_damping_factor = float(checked("land_damping_factor", 1, 3));
    p->full_lock_speed = float(checked("full_lock_speed", 1, 100));
    p->restricted_lock_speed = float(checked("restricted_lock_speed", 1, 100));
    p->restricted_lock =
        float(sim_clamp(checked("restricted_lock", -1e9, 1e9) * deg, 0.0, std::numbers::pi / 4));
    p->auto_clutch_rpm = float(checked("auto_clutch_rpms", 0, 5000));
    p->front_brake_torque = float(checked("brake_torque", 0, 500));
    p->rear_brake_torque = float(checked("rear_brake_torque", 0, 500));
    p->max_dab_speed = float(sim_clamp(checked("max_dab_speed", -1e9, 1e9) * 1.4666667, 7.0, 100.0));

    double front = checked("front_sprocket_adjustment", -2, 2);
    double rear = checked("rear_sprocket_adjustment", -2, 2);
    p->countershaft_teeth = float(std::max(3.0, std::floor(m.countershaft_teeth + front)));
    p->rear_sprocket_teeth = float(std::max(3.0, std::floor(m.rear_sprocket_teeth + rear)));
    p->final_drive = p->rear_sprocket_teeth / p->countershaft_teeth;

    p->fork_compression = damping_multiplier(checked("fork_compression_adjustment", 0, 100));
    p->fork_slow_compression = low_speed_fraction(checked("fork_slow_compression_adjustment", 0, 100));
    p->fork_rebound = damping_multiplier(checked("fork_rebound_adjustment", 0, 100));
    p->fork_slow_rebound = low_speed_fraction(checked("fork_slow_rebound_adjustment", 0, 100));
    p->fork_spring_rate = between(m.fork_spring_rate, checked("fork_spring_rate_adjustment", 0, 100));
    p->fork_preload = between(m.fork_preload, checked("fork_preload_adjustment", 0, 100));
    p->fork_oil_level = between(m.fork_oil_level, checked("fork_oil_level_adjustment", 0, 100));
    p->shock_compression = damping_multiplier(checked("shock_compression_adjustment", 0, 100));
    p->shock_slow_compression = low_speed_fraction(checked("shock_slow_compression_adjustment", 0, 100));
    p->shock_rebound = damping_multiplier(checked("shock_rebound_adjustment", 0, 100));
    p->shock_slow_rebound = low_speed_fraction(checked("shock_slow_rebound_adjustment", 0, 100));
    p->shock_spring_rate = between(m.shock_spring_rate, checked("shock_spring_rate_adjustment", 0, 100));
    p->shock_preload = between(m.shock_preload, checked("shock_preload_adjustment", 0, 100));

    p->rider_yspring = float(checked("rider_yspring", -1e9, 1e9) * 0.01);
    p->rider_zspring = float(checked("rider_zspring", -1e9, 1e9) * 0.01);
    p->rider_ydamping = float(checked("rider_ydamping", -1e9, 1e9) * 0.01);
    p->rider_zdamping = float(checked("rider_zdamping", -1e9, 1e9) * 0.01);
    p->rider_yspring = sim_clamp(p->rider_yspring, 0.0f, 1.0f);
    p->rider_zspring = sim_clamp(p->rider_zspring, 0.0f, 1.0f);
    p->rider_ydamping = sim_clamp(p->rider_ydamping, 0.0f, 1.0f);
    p->rider_zdamping = sim_clamp(p->rider_zdamping, 0.0f, 1.0f);
    p->rider_mass_distribution = float(checked("rider_mass_distribution", 0.33, 0.5));
    set_masses(p, m);
}

bool setup_out_of_range()
{
    return out_of_range;
}

setup_request request_apply_setup(double speed, double now)
{
    if (speed <= 0.125) {
        return setup_request::apply;
    }
    bool recent = now - last_refused < 10;
    last_refused = now;
    return recent ? setup_request::refused_with_message : setup_request::refused;
}

void setup_requests_reset_for_tests()
{
    last_refused = -20;
}

void setup_out_of_range_reset_for_tests()
{
    out_of_range = false;
}
