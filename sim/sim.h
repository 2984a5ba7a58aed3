// sim.h -- bike and rider simulation. So far: the built-in bike models and
// the rider's setup (the adjustable values, setup files, and how a setup
// turns into a rider's physical parameters).
//
// Owns:      the table of bike models (read-only, built on first use), the
//            one global set of setup items (the local rider's setup), the
//            setup_out_of_range flag.
// Depends:   files/ (streams, setting objects), platform/ (log).
// Called by: start-up (defaults, the configuration's setup block through
//            config_set_setup_hooks), the console's readsetup/writesetup,
//            the menus, the network client, and the physics code that
//            builds riders from models and applies setups.
// Lifetime:  everything here lives for the run; nothing is freed.
//
// Units: feet, slugs, seconds, radians, pounds-force. Model coordinates are
// bike coordinates: x to the rider's side, y up, z backwards.
#pragma once

#include "files/files.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// ---------------------------------------------------------------- bike models

struct vec3f {
    float x, y, z;
};

constexpr int TORQUE_POINTS = 50;  // one per 500 rpm from 0 rpm
constexpr int BIKE_FILE_NAMES = 23;
constexpr int BIKE_MODEL_COUNT = 80;

// One row of the built-in table. Fields in the table's order.
struct BikeModel {
    char name[16];
    char bike_class[16];  // "50", "125", "250", "250f", "450f"
    vec3f front_wheel;
    float front_ring_radius, front_tube_radius, front_ring_mass, front_hub_radius, front_hub_mass;
    vec3f rear_wheel;
    float rear_ring_radius, rear_tube_radius, rear_ring_mass, rear_hub_radius, rear_hub_mass;
    vec3f frame;
    float frame_mass;
    float frame_box[3];  // width, height, length
    vec3f upper_fork;
    vec3f swing_arm;
    vec3f swing_arm_pivot;
    vec3f lower_fork;
    float fork_tube_spacing;
    float fork_tube_length;
    float fork_mass;
    float fork_spring_rate[2];  // at 0 % and 100 %, lbf/ft per leg
    float fork_preload[2];
    float fork_oil_level[2];
    float fork_compression_base;
    float fork_slow_compression_base;
    float fork_rebound_base;
    float fork_slow_rebound_base;
    float fork_travel;
    float swing_arm_mass;
    float shock_spring_rate[2];
    float shock_preload[2];
    float shock_compression_base;
    float shock_slow_compression_base;
    float shock_rebound_base;
    float shock_slow_rebound_base;
    float linkage[7];
    float primary_reduction;
    float countershaft_teeth;
    float rear_sprocket_teeth;
    float gear_ratios[6];  // -1: the model has no such gear
    float engine_inertia;
    float coupling_stiffness;
    float coupling_damping;
    float closed_torque[TORQUE_POINTS];  // lbf ft
    float open_torque[TORQUE_POINTS];
    float down_shift_rpm;
    float up_shift_rpm;
    float rev_mark;
    vec3f rider_direction;
    vec3f rider;
    float rider_values[2];
    float rider_mass;
    char files[BIKE_FILE_NAMES][64];
    vec3f rider_point;
    vec3f left_shoulder, right_shoulder;
    vec3f left_hip, right_hip;
    vec3f left_grip, right_grip;
    vec3f left_peg, right_peg;
    float upper_arm_length, forearm_length;
    float thigh_length, shin_length;
    vec3f drawing_points[9];
};

// The 80 models in table order (the order lookups search).
[[nodiscard]] std::span<const BikeModel> bike_models();
// The row of exactly this name, or -1.
[[nodiscard]] int bike_model_index(const char *name);
// The row to build for a requested name: the exact row, else the first row
// whose name contains "125" when the request does, else the first "250f"
// row. When it falls back, `message` (if given) gets "bike info for '%.20s'
// not found using '%.20s' instead".
[[nodiscard]] int bike_model_for(const char *name, char *message, size_t size);
// The bike menu's names, newest first (the "Bike" choice's list).
[[nodiscard]] std::span<const char *const> bike_menu_names();

// ---------------------------------------------------------------- setup items

enum class setup_kind { numeric, choice, text };

struct SetupItem {
    const char *key;
    setup_kind kind;
    number_setting number;  // numeric
    choice_setting choice;  // choice
    text_setting text;      // text
};

// Every item, in the order write_setup writes them.
[[nodiscard]] std::span<SetupItem> setup_items();
// The item of a key, or null.
[[nodiscard]] SetupItem *setup_item(const char *key);
// Every item to its default, then the stability blend of the default (100).
void setup_set_defaults();
// One key=value line; 1 when the key is a setup key and the value taken.
int setup_set_key(const char *key, const char *value);
// Every item as key=value lines, in table order.
void write_setup(data_file *f);
// Overwrites the sixteen advanced values from a Stability value.
void stability_blend(int stability);
// The name given by a texture key, to be matched against the graphics lists
// once they exist ("" when none was given).
[[nodiscard]] const char *setup_pending_texture(const char *key);
// Gives a texture key its list (riding gear, helmets, bike or wheel
// graphics; the texts must live for the run) and selects the pending name
// in it, or the first entry when the name is not there.
void setup_set_texture_list(const char *key, const char *const *names, int count);
// "%s|%s|%s|%s|%s\n%s\n%s" (bike, riding gear, bike graphics, wheel
// graphics, helmet, number, name) when it fits, else "%s\n%s\n%s" (bike,
// number, name).
void bike_description(char *buf, size_t size);
// The menus' display text of a suspension or gearing key for a model
// ("0.452 kg/mm", "12.70 mm", "1.00 teeth"); false for other keys.
bool setup_display(const char *key, const BikeModel &model, char *buf, size_t size);

// Setup files under "@setups/". The user's name may not leave the folder:
// false for names holding "/", "\\" or "..", or empty ones.
bool setup_file_name(const char *user_name, char *out, size_t size);
// Reads a setup file through setup_set_key; false when it cannot be opened.
bool read_setup_file(const char *user_name);
// Writes write_setup to a setup file; false when that fails.
bool write_setup_file(const char *user_name);
// Reads key=value lines (at most 1023 characters; longer ones are skipped).
void read_setup(data_file *f);

// ---------------------------------------------------------------- setup to physics

// The parameters of one rider that the setup sets (and the build-time
// values a rider has before any setup is applied).
struct rider_setup_params {
    float leveling, roll_damping, roll_limit_angle, roll_limit_factor;
    float steering_damping, steering_strength, max_steering_force;
    bool arcade, front_antilock, rear_antilock;
    bool wheelie_limiter, stoppie_limiter;
    bool auto_shift, auto_dab, auto_align;
    float direct_steering, slow_damping_speed, slow_damping_factor;
    float land_damping_rampup, land_damping_falloff, land_damping_factor;
    float full_lock_speed, restricted_lock_speed, restricted_lock;
    float auto_clutch_rpm, front_brake_torque, rear_brake_torque, max_dab_speed;
    float countershaft_teeth, rear_sprocket_teeth, final_drive;
    // fork and shock: damping multipliers and low-speed fractions applied
    // to the model's bases; spring rate, preload and oil level as values
    float fork_compression, fork_slow_compression, fork_rebound, fork_slow_rebound;
    float fork_spring_rate, fork_preload, fork_oil_level;
    float shock_compression, shock_slow_compression, shock_rebound, shock_slow_rebound;
    float shock_spring_rate, shock_preload;
    float rider_yspring, rider_zspring, rider_ydamping, rider_zdamping;
    float rider_mass_distribution;
    float frame_body_mass, rider_body_mass;
};

// The values of a freshly built rider of the model.
[[nodiscard]] rider_setup_params rider_build_params(const BikeModel &model);
// The setup's values, clamped, for a rider of the model. `allow_arcade` is
// false when the server forbids arcade physics. Values beyond an eighth of
// a range outside it set setup_out_of_range.
void apply_setup_params(rider_setup_params *p, const BikeModel &model, bool allow_arcade);
// Set once any applied value was well out of range; never cleared.
[[nodiscard]] bool setup_out_of_range();

enum class setup_request { apply, refused, refused_with_message };
// Whether a setup may be applied to a bike moving at `speed` ft/s at game
// time `now`: only at 0.125 ft/s or less. A refusal within 10 s of the
// previous refusal asks for the message below.
[[nodiscard]] setup_request request_apply_setup(double speed, double now);
inline constexpr const char *SETUP_REFUSED_MESSAGE = "Settings not applied.  Mechanic can't keep up error.";
