// sim.h -- bike and rider simulation: the built-in bike models and the
// rider's setup (the adjustable values, setup files, and how a setup turns
// into a rider's physical parameters); the rigid-body world with the
// riders' bodies and joints, suspension, collisions and tyre contacts; the
// engine, drivetrain and brakes; the rider's controls, steering and balance
// aids, crashes and getting back on; the collision shapes (".shp" sphere
// lists).
//
// Owns:      the table of bike models (read-only, built on first use), the
//            one global set of setup items (the local rider's setup), the
//            setup_out_of_range flag, the physics world with its contact
//            group, the 160-slot RiderState table, the shape cache, the
//            crash penalty table and the realign target function.
// Depends:   files/ (streams, setting objects), platform/ (log), track/
//            (terrain queries and surface types), ODE (kept out of this
//            header: its handles appear only as forward-declared types).
// Called by: start-up (defaults, the configuration's setup block through
//            config_set_setup_hooks), the console's readsetup/writesetup,
//            the menus, the network client, the physics code that builds
//            riders from models and applies setups, and every reader of a
//            rider's bodies (race tic, views, ride session), which read
//            them only through the body accessors here.
// Lifetime:  models and setup live for the run. The world and contact
//            group live from physics_init (start-up) to physics_shutdown;
//            a rider from build_rider to destroy_rider; shapes until
//            shutdown.
//
// Units: feet, slugs, seconds, radians, pounds-force. Model coordinates are
// bike coordinates: x to the rider's side, y up, z backwards.
#pragma once

#include "files/files.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

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
// The name given by a texture key, kept to be matched against a graphics
// list when one is given ("" when none was given).
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

// ---------------------------------------------------------------- collision shapes
//
// A shape is a list of spheres in a part's body coordinates. ".shp" text:
// "%d" (the count), then per sphere the centre "%f %f %f" and "%f %f %f %f"
// (radius, friction, stiffness, damping). The shape code sits here until
// the model layer exists; the collision code is its only user so far.

struct shape_sphere {
    float centre[3];
    float radius, friction, stiffness, damping;
};

struct Shape {
    std::string name;
    std::vector<shape_sphere> spheres;
    float bounding_radius = 0;  // largest |centre| + radius
};

// A shape placed in the world: the spheres' centres in world coordinates.
struct ShapeInstance {
    const Shape *shape = nullptr;
    std::vector<std::array<double, 3>> world;
};

// The cached shape of a data name or path, loading it on first use; null
// when the file is missing or any record fails to read (not cached, so a
// later call tries again). Shapes live until shape_cache_clear.
[[nodiscard]] const Shape *LoadShape(const char *name);
[[nodiscard]] ShapeInstance InstanceShape(const Shape *shape);
// Moves an instance to a position and rotation (ODE's 3x4 row layout, 12
// values, the fourth of each row unused).
void place_shape(ShapeInstance *s, const double pos[3], const double rot[12]);
// Handles for the track layer's load_shape service: 0 is none.
[[nodiscard]] uint32_t load_shape_handle(const char *name);
[[nodiscard]] const Shape *shape_from_handle(uint32_t handle);
void shape_cache_clear();

// ---------------------------------------------------------------- physics world

struct dxWorld;
struct dxJointGroup;
struct dxBody;
struct dxJoint;
struct Terrain;
struct TileType;

constexpr int MAX_RIDERS = 160;
constexpr int NO_RIDER = MAX_RIDERS;  // "none" wherever a slot is stored
constexpr double PHYSICS_TIC = 1.0 / 128;
constexpr double GRAVITY_Y = -32.0;

enum rider_body_index {
    BODY_FRAME,
    BODY_FRONT_WHEEL,
    BODY_REAR_WHEEL,
    BODY_UPPER_FORK,
    BODY_LOWER_FORK,
    BODY_SWING_ARM,
    BODY_RIDER,
    BODY_COUNT
};
enum rider_joint_index {
    JOINT_FRONT_AXLE,
    JOINT_REAR_AXLE,
    JOINT_STEERING,
    JOINT_FORK,
    JOINT_SWING_ARM,
    JOINT_RIDER_MOUNT,
    JOINT_COUNT
};
// Bits of collide_with_object's result: 1 << rider_body_index.
constexpr int hit_bit(rider_body_index b) { return 1 << b; }

// The forces and torques a joint applied to its two bodies in the last step
// (laid out as ODE's dJointFeedback).
struct joint_feedback {
    double f1[4], t1[4], f2[4], t2[4];
};

struct body_deleter {
    void operator()(dxBody *b) const;
};
struct joint_deleter {
    void operator()(dxJoint *j) const;
};
using ode_body = std::unique_ptr<dxBody, body_deleter>;
using ode_joint = std::unique_ptr<dxJoint, joint_deleter>;

// One tyre's contact with the ground, rewritten every tic.
struct WheelContact {
    dxBody *body = nullptr;
    double axle[3] = {1, 0, 0};  // in wheel-body coordinates
    double ring_radius = 0, tube_radius = 0;
    double point[3] = {}, velocity[3] = {}, normal[3] = {0, 1, 0};
    double depth = 0;  // 0: not touching
    double mu = 0;     // friction coefficient of the last contact
    int tile = 0;      // surface type under the last contact
    joint_feedback feedback{};
};

struct rider_controls {
    float throttle, front_brake, rear_brake, clutch;
    float steer;  // -1..1
    float lean;   // fore and aft, -1 (forward) .. 1
    float sit;    // sit/dab, 0..1
    float back_up;        // walking the bike backwards, 0..1
    float clutch_target;  // where the lever asks the engagement to go
    int shift;            // gear request -1, 0, +1
    // the input mapping's memory for a toggling sit/dab button
    bool sit_toggled;
    float sit_input_prev;
};

// Engine, crash and balance state of a rider beyond the bodies.
struct rider_ride_state {
    int last_shift = 0;
    float engine_torque = 0;  // this tic's engine torque, lbf ft
    float clutch_used = 0;    // engagement after the automatic clutch
    int32_t takeoff_tic = 0, landing_tic = 0;
    float landing_damping = 1;
    float foot_down = 0;  // 0 feet on the pegs .. 1 a foot on the ground
    std::array<vec3f, 2> foot{};      // left and right foot targets, world
    std::array<vec3f, 2> foot_vel{};  // while down
    float lock_indicator = 0;
    std::array<vec3f, 4> rider_vel{};  // rider body velocity, slot tic & 3
    int32_t race_start_tic = 0;
    bool in_trouble = false;  // slow more than 2 s after the start
    bool computer = false;    // keeps the build-time parameters
};

// The suspension values of the last tic, for the graph and the scripts.
struct suspension_readout {
    float fork_travel, shock_travel;       // 0 extended .. 1 compressed
    float fork_velocity, shock_velocity;   // signed damping velocities
    float fork_ratio, shock_ratio;         // g / (|damping| + g)
    float fork_force, shock_torque;        // as applied (signed)
};

struct RiderState {
    bool built = false;
    int slot = NO_RIDER;
    int model = -1;
    // Contacts and the rider update run here (false for replayed and
    // remote copies, which are only placed).
    bool simulated = true;
    bool collides = true;  // takes part in rider collisions (the race decides)
    std::array<ode_body, BODY_COUNT> body;     // destroyed after the joints
    std::array<ode_joint, JOINT_COUNT> joint;
    std::array<joint_feedback, JOINT_COUNT> feedback{};
    std::array<WheelContact, 2> wheel;         // 0 front, 1 rear
    std::array<ShapeInstance, BODY_COUNT> shape;  // wheel shapes meet only other riders
    rider_setup_params params{};
    double total_mass = 0;
    rider_controls controls{};
    suspension_readout suspension{};
    float presence = 1;
    bool down = false;          // crashed, off the bike
    int32_t crash_timer = 0;    // tics until put back on the bike; 0 riding
    int32_t bump_timer = 0;
    bool trouble = false;       // a body part touched something this tic
    int32_t last_collision_tic = INT32_MIN;
    int32_t crashes = 0;        // crashes registered since the build
    int32_t probe_tic = INT32_MIN;
    int gear = 0;  // 0 first .. 5 sixth
    double engine_speed = 0, drive_angle = 0;
    rider_ride_state ride{};
};

// Start-up and shutdown of the world (and the physics library) and its
// contact group; physics_shutdown destroys every rider first and empties
// the shape cache. Both idempotent.
[[nodiscard]] bool physics_init();
void physics_shutdown();
[[nodiscard]] dxWorld *physics_world();
[[nodiscard]] dxJointGroup *physics_contact_group();

// The slot table (never reallocated); null outside 0..159.
[[nodiscard]] RiderState *rider_slot(int slot);
// Builds the bike and rider of a model in a slot (destroying what was
// there) at the model's rest positions; false for a bad slot or model or
// without a world. Shapes that fail to load leave that part without one.
[[nodiscard]] bool build_rider(int slot, int model_index);
// Takes a rider's setup-derived parameters and moves mass between frame and
// rider body accordingly.
void apply_rider_params(RiderState *r, const rider_setup_params &p);
void reset_rider(RiderState *r);
// reset_rider, then the whole bike turned by `heading` about y and moved so
// that the model origin lies at (x, y, z).
void place_rider(RiderState *r, double x, double y, double z, double heading);
void destroy_rider(RiderState *r);
void set_presence(RiderState *r, float value);
// Sets a body's position and orientation (a quaternion w, x, y, z, as a
// replay stores it), normalised; a quaternion too short to have a
// direction, or anything non-finite, leaves the orientation as it is.
// Non-finite positions leave the position.
void set_body_pose(dxBody *b, const double pos[3], const double quat[4]);
// A body as the world holds it now, in world coordinates: rotation as 3
// rows of 4 (the fourth of each row unused) and as a quaternion w, x, y, z.
struct body_state {
    std::array<double, 3> position{}, velocity{}, angular_velocity{};
    std::array<double, 12> rotation{};
    std::array<double, 4> quaternion{1, 0, 0, 0};
};
[[nodiscard]] body_state read_body_state(dxBody *b);
// The world velocity of the body's material point now at world point `p`.
[[nodiscard]] std::array<double, 3> body_point_velocity(dxBody *b, const std::array<double, 3> &p);
// A direction in body coordinates turned into world coordinates.
[[nodiscard]] std::array<double, 3> body_vector_to_world(dxBody *b, const std::array<double, 3> &v);
// A body of a built rider: its position and linear velocity (zero for a
// rider that is not built).
[[nodiscard]] std::array<float, 3> body_position(const RiderState *r, int body);
[[nodiscard]] std::array<float, 3> body_velocity(const RiderState *r, int body);
// A wheel's contact record (0 front, 1 rear) for the other subsystems: for
// a rider whose contacts this tic's simulation does not compute, both
// wheels are probed first, at most once per tic. Null for a bad rider or
// wheel.
[[nodiscard]] const WheelContact *rider_wheel(RiderState *r, int wheel, const Terrain *t, int32_t tic);
// Whether any wheel or body shape touches the terrain (no joints made).
[[nodiscard]] bool rider_touches_terrain(RiderState *r, const Terrain *t);

// Contacts of one tic (made in the contact group).
void terrain_contacts(RiderState *r, const Terrain *t);
// mode 0: joints; 1: forces on the enabled bodies; -1: test only. Returns
// whether the riders touch.
bool collide_riders(RiderState *a, RiderState *b, int mode, int32_t tic);
// A track object's shape (already placed with place_shape at pos/rot) and
// its body or null; returns the hit bits.
int collide_with_object(RiderState *r, const ShapeInstance *object, dxBody *object_body);

// Per-tic forces for the next step.
void suspension_forces(RiderState *r);
void rider_mount_springs(RiderState *r);
void tether(dxBody *a, const double pa[3], dxBody *b, const double pb[3], double length);
void joint_drift_correction(RiderState *r);

// Hooks for the steps that other parts of the simulation fill in; a null
// hook is skipped. Roost, tyre marks and digging are the race tic's own
// steps around physics_tic.
struct physics_hooks {
    void (*crash)(RiderState *r) = nullptr;                        // rider control
    void (*before_update)(RiderState *r, int32_t tic) = nullptr;    // computer riders, false start
    // The whole rider update (suspension and mount springs included);
    // without it a bike gets only its suspension and mount springs.
    void (*update)(RiderState *r, int32_t tic) = nullptr;
};
void physics_set_hooks(const physics_hooks &h);
// The hooks riding cannot do without ("crash", "update") that are not in
// place; empty when the rider update is complete. Start-up checks it after
// setting the hooks and refuses to go on, naming each missing one.
[[nodiscard]] std::vector<const char *> missing_physics_hooks();

struct physics_tic_params {
    const Terrain *terrain = nullptr;
    int32_t tic = 0;
    bool rider_collisions = true;
    bool online = false;   // only the local rider against the others, mode 1
    int local_slot = 0;
};
// One tic for every built rider: contacts, collisions, the step, the group
// emptied, the rider updates.
void physics_tic(const physics_tic_params &p);

// ---------------------------------------------------------------- tyres

// Fills the contact record from the terrain, makes the contact joint and
// adds the rolling resistance; whether the wheel touches.
bool wheel_contact(const Terrain *t, WheelContact *w, double friction_factor);
// The same search without joint or force.
bool wheel_probe(const Terrain *t, WheelContact *w);
// The wheel against a placed shape of another rider or an object; mode as
// for collide_riders. Returns whether they touch.
bool wheel_against_shape(const ShapeInstance *s, dxBody *shape_body, WheelContact *w, int mode);
// The contact point's velocity without the wheel's spin; false when not
// touching.
bool wheel_slip_velocity(const WheelContact &w, double out[3]);
// Friction coefficient of a surface for a contact point moving at `v`,
// with `v_nospin` its velocity without the wheel's spin (slip function 2).
[[nodiscard]] double surface_friction(const TileType &t, const double v[3], const double v_nospin[3]);
// The friction curve at abscissa u (squared: interpolate in u^2).
[[nodiscard]] double friction_curve(const TileType &t, double u, bool squared);
// Rolling resistance pair (low, high) at a speed.
void rolling_resistance(const TileType &t, double speed, double *low, double *high);
// Arcade grip: 1 - 0.375 * min(1, 4 |roll| / pi).
[[nodiscard]] double arcade_friction_factor(double roll);

// ---------------------------------------------------------------- engine, drivetrain, brakes

constexpr double RPM_PER_RAD_S = 9.549296585513721;  // 60 / 2 pi

// The engine's torque this tic from the model's two curves and the throttle
// (cut by the wheelie limiter).
[[nodiscard]] double engine_torque(RiderState *r);
// Couples engine and rear wheel through clutch, gearbox and chain and
// integrates the engine over one tic.
void drivetrain_update(RiderState *r);
// Manual gear request -1/0/+1: acts once per change of the request.
void shift(RiderState *r, int input);
// Automatic gear choice from the wheel speed (every 32nd tic).
void auto_shift(RiderState *r, int32_t tic);
// Sets the two axle motors from the brake inputs and the antilock.
void brakes_update(RiderState *r);
[[nodiscard]] double engine_rpm(const RiderState *r);
// Engine turns per rear-wheel turn in the current gear; 0 for a gear the
// model lacks.
[[nodiscard]] double total_ratio(const RiderState *r);

// ---------------------------------------------------------------- rider control

// Control setters; each clamps (non-finite values count as 0). While the
// rider is down throttle, sit/dab, back up and lean store 0.
void set_throttle(RiderState *r, float v);
void set_clutch(RiderState *r, float v);
void set_front_brake(RiderState *r, float v);
void set_rear_brake(RiderState *r, float v);
void set_steer(RiderState *r, float v);
void set_sit(RiderState *r, float v);
void set_back_up(RiderState *r, float v);
void set_lean(RiderState *r, float v);

// How the player's setup reads the raw inputs.
struct rider_input_options {
    bool reverse_steering = false;
    bool sticky_dab = false;
};
// The setup's "Reversed Steering" and "Sticky Sit/Dab" choices.
[[nodiscard]] rider_input_options setup_input_options();
// One tic of the local player's nine inputs (steer, throttle, front brake,
// rear brake, shift, clutch lever, sit/dab, back up, lean) onto a rider's
// controls: steering reversed by option, a toggling sit/dab, the clutch
// lever's target reached at once when lower and at 4/s when higher, and
// the gear request handed to shift().
void map_rider_inputs(RiderState *r, const float inputs[9], const rider_input_options &opt);

// The roll angle of a body: 0 upright, positive leaning to its left; 0 when
// its forward axis points straight up or down.
[[nodiscard]] double lean_angle(dxBody *b);
// The turn of a body about the vertical: 0 facing -z, positive turned to
// its left (towards -x).
[[nodiscard]] double heading_angle(dxBody *b);
// The steering angle at which the front wheel would roll along its own
// velocity.
[[nodiscard]] double neutral_steer_angle(RiderState *r);
// Torque about the steering head: tau on the front wheel, -tau on the frame.
void apply_steer_torque(RiderState *r, double tau);

// Takes the rider off the bike (through rider_crash's count) and back on.
void crash(RiderState *r);
void reseat(RiderState *r);
// Extra tics down per crash count (the server may send them); 0 by default.
void set_crash_penalties(const std::array<int32_t, 16> &tics);

// Where the realigning rider turns to: false when it should not realign
// (no gates, none passed yet, finished). The race tic puts its own in
// place (with itself as `ctx`) while it steps the world; null: no
// realigning.
using realign_target_fn = bool (*)(void *ctx, RiderState *r, double target[3]);
void set_realign_target(realign_target_fn fn, void *ctx);

// The per-tic rider update, in this order: the trouble flag (2 s after the
// race start tic), then, for a present rider only (else just the feet):
// bump timer, air time, crash detection, the fallen rider or feet and
// backing up, mount springs and suspension, steering, engine and brakes,
// steering damping and drift correction, sit/dab balance, and last the
// controls written back (so the automatic dab, brakes and walking act
// within the tic they are decided), the feet and the velocity ring.
void rider_update(RiderState *r, int32_t tic);
// The hooks with crash and update filled in (others null).
[[nodiscard]] physics_hooks standard_rider_hooks();

// Copies the current setup into a player's rider (a computer rider keeps
// its build-time values). `allow_arcade` false when the server forbids it.
void apply_setup(RiderState *r, bool allow_arcade);
