// views_local.h -- private to core/: the views and their cameras. Places the
// camera of each view (the rider's eyes, the orbit camera round the chase
// centre, the track's cameras run by the camera operator, the free camera),
// moves the orbit and trackside cameras once per tic, animates the flaggers
// and draws the scene in its fixed order. The camera maths below is pure
// (no GL, no physics handles) so the tests reach it directly; views.cpp
// reads the bodies and draws. Lives from start-up to shutdown; the track's
// cameras are re-read from the loaded track whenever it changes.
#pragma once

#include "core/core_local.h"
#include "race/race.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct track_state;

using vec3d = std::array<double, 3>;

// A body as the cameras see it: position, the world directions of its own
// X, Y and Z axes, and its linear velocity.
struct body_frame {
    vec3d position{};
    vec3d x{1, 0, 0}, y{0, 1, 0}, z{0, 0, 1};
    vec3d velocity{};
};

// Where a view looks from: eye point, the side, up and backward axes (the
// view looks along -z) and the vertical field of view in degrees.
struct view_camera {
    vec3d eye{};
    vec3d x{1, 0, 0}, y{0, 1, 0}, z{0, 0, 1};
    double fov_y = 60;
};

// A point given in a body's own coordinates, in the world.
[[nodiscard]] vec3d body_point(const body_frame &b, const vec3d &local);
// The vertical field of view of the `fov` setting for a viewport: `fov` is
// horizontal on a 4:3 screen; wider screens see more at the sides.
[[nodiscard]] double vertical_fov(double fov, int width, int height);
// Side, up and back axes of a camera at yaw/pitch (yaw = atan2(dir.x,
// dir.z), pitch = elevation of the view direction).
void camera_axes_from_angles(double yaw, double pitch, view_camera *out);
// Side, up and back axes of a camera at `eye` looking at `target`.
void camera_look_at(const vec3d &eye, const vec3d &target, view_camera *out);

// ---------------------------------------------------------------- ride view

// The remembered camera Z axis of the last gimbal frame and its game time.
struct ride_gimbal {
    vec3d last_z{};  // zero: none yet
    double time = 0;
};

struct ride_view_settings {
    double height = 0;  // first_person_height
    double angle = 0;   // first_person_angle, degrees; positive looks down
    double gimbal = 0;  // first_person_gimbal, 0..100; off at 0.5 and below
    double fov_y = 60;
};

// The eye point on the rider body for a first-person height h.
[[nodiscard]] vec3d ride_eye(const body_frame &rider, double h);
// The ride view's camera from the rider body at game time `time`; the
// gimbal's memory is updated. `z_before_pitch` (may be null) receives Z'.
void ride_view_camera(const body_frame &rider, const ride_view_settings &s, double time, ride_gimbal *g,
                      view_camera *out, vec3d *z_before_pitch);

// ---------------------------------------------------------------- orbit view

struct orbit_state {
    double yaw = 0;
    double distance = 10;
    double height = 5;
};
// One tic of the orbit camera from the nine inputs.
void orbit_tic(orbit_state *o, const float inputs[9], double h);

struct orbit_view_params {
    std::array<float, 3> chase_center = {0.0f, 2.52f, 0.52f};
    bool local_active = false;
    bool rigid = false;             // rigid_camera
    double follow_distance = 10;    // third_person_distance
    double follow_height = 5;       // third_person_height
};
// The orbit camera round the bike's frame body. `ground` is the smoothed
// terrain height under a point (null: no floor from the ground).
void orbit_view_camera(const orbit_state &o, const body_frame &frame, const orbit_view_params &p,
                       double (*ground)(const void *ctx, double x, double z), const void *ground_ctx,
                       view_camera *out);

// The weighted mean of the height samples within 10 (fading out over one
// more sample spacing) of (x, z); the nearest sample when none weighs.
[[nodiscard]] double smoothed_terrain_height(const Terrain *t, double x, double z);

// ---------------------------------------------------------------- trackside cameras

// A track camera or the free camera with its operator's state.
struct operated_camera {
    vec3d position{};
    double fov = 90;          // degrees
    double autofovsize = 0;   // 0: the field of view stays
    double yaw = 0, pitch = 0;
    double yaw_rate = 0, pitch_rate = 0;
    double yaw_rate_target = 0, pitch_rate_target = 0;
};

struct operator_input {
    bool following = false;
    bool just_switched = false;
    vec3d target{};
    vec3d velocity{};
    double steer = 0;  // input 0
    double shift = 0;  // input 4
};
// One tic of the camera operator.
void camera_operator_tic(operated_camera *c, const operator_input &in, double h);
// The free camera's own move after its operator tic: throttle and front
// brake change the speed, which decays towards 0; the camera flies along its
// view direction, never below the ground height + 2.
void free_camera_move(operated_camera *c, double *speed, const float inputs[9], double h,
                      double (*ground)(const void *ctx, double x, double z), const void *ground_ctx);

// ---------------------------------------------------------------- flaggers

// The walking flagger at time t (seconds) with cue time c and walk time W:
// frame 0..4 and how far along its walk (0..1).
[[nodiscard]] int walking_flagger_frame(double t, double c, double walk_time);
[[nodiscard]] double walking_flagger_progress(double t, double c, double walk_time);

// The standing flagger's frame 0..3 from the leader's progress w.
struct standing_flagger_input {
    int32_t leader_progress = 0;
    int32_t first_lap = 0;        // timing entries in the first lap
    int32_t normal_lap = 0;       // timing entries in every later lap
    int32_t lap_target = 0;       // laps in the race
    int32_t halfway_lap = 0;
    int32_t extra_laps = 0;
    bool time_up = false;         // tic counter at least start tic + race length
};
[[nodiscard]] int standing_flagger_frame(const standing_flagger_input &in);

// A bike's opacity from its distance d to the local bike with fade
// distance F (ghost_fade_distance): invisible up to F/2, whole from F on.
[[nodiscard]] double ghost_opacity(double d, double fade);
// A slot's opacity, by these rules in this order: offline while a local
// bike exists, a replayed bike fades with its distance `d` from the local
// bike (d < 0: no such distance: online, no local bike, or no body); a slot
// that is not present is hidden (0); every other bike is whole (1).
[[nodiscard]] double bike_opacity(bool replayed, double d, bool present, double fade);

// ---------------------------------------------------------------- the views' state

constexpr double WALKING_FLAGGER_CUE = 5.0;

struct flagger_frames {
    std::vector<int> walking, standing, gate;  // current frame, -1 none yet
    std::vector<std::array<uint32_t, 5>> walking_tex;
    std::vector<std::array<uint32_t, 4>> standing_tex;
    std::vector<std::array<uint32_t, 2>> gate_tex;
    uint32_t generation = 0;  // texture generation the handles belong to
    bool loaded = false;
};

struct views_state {
    frame_loop *loop = nullptr;
    track_state *track = nullptr;
    std::array<float, 3> chase_center = {0.0f, 2.52f, 0.52f};
    bool print_orientation = false;
    int verbosity = 0;
    std::string no_track_message;  // drawn on the no-track screen when not empty

    orbit_state orbit;
    ride_gimbal gimbal;

    // track cameras (copied from the track when it changes) and the free camera
    std::vector<operated_camera> cameras;
    const void *cameras_of = nullptr;  // the objects they were copied from
    int cameras_load = -1;             // and that load's count
    operated_camera free_camera;
    int chosen = -1;                   // track camera index, -1 free camera
    bool switched = true;              // the next operator tic starts afresh
    double free_speed = 0;             // -100..100
    bool following = false;
    float sit_prev = 0;

    double walking_cue = WALKING_FLAGGER_CUE;
    flagger_frames flaggers;
    std::array<float, RACE_SLOTS> opacity{};
    vec3d listener_velocity{};
};

// The camera records of the loaded track, refreshed after a load.
void views_sync_track(views_state *v);
// The digit keys' choice: a track camera or -1 for the free camera.
void views_select_camera(views_state *v, int camera);
// One tic of the orbit or trackside camera from the nine inputs.
void views_camera_tic(views_state *v, view_mode view, const float inputs[9], bool paused);
// The scene from a placed camera, in its fixed order (the track's terrain
// must be loaded).
void views_draw_scene(views_state *v, const view_camera &cam, int width, int height);
// Hooks the views into the frame loop (draw, cameras, camera tic).
void views_attach(frame_loop *L, views_state *v);
