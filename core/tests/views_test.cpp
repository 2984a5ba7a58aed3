// The views' cameras without GL: the rider's eye and its gimbal, the orbit
// camera, the camera operator and the free camera, the digit keys' choice of
// track camera through the frame loop, the flaggers' timing, ghost fading.
#include "core/lifecycle_local.h"
#include "core/views_local.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <memory>
#include <numbers>

namespace {

constexpr double PI = std::numbers::pi;
constexpr double H = 1.0 / 128;

double dotp(const vec3d &a, const vec3d &b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

void expect_vec(const vec3d &got, const vec3d &want, double tol = 1e-9) {
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(got[size_t(i)], want[size_t(i)], tol) << "component " << i;
}

// A body turned by `yaw` about y, then pitched nose-up by `pitch` about its x.
body_frame turned_body(const vec3d &pos, double yaw, double pitch = 0) {
    body_frame b;
    b.position = pos;
    double cy = std::cos(yaw), sy = std::sin(yaw), cp = std::cos(pitch), sp = std::sin(pitch);
    vec3d x = {cy, 0, -sy}, y = {0, 1, 0}, z = {sy, 0, cy};
    b.x = x;
    for (int i = 0; i < 3; ++i) {
        b.y[size_t(i)] = cp * y[size_t(i)] + sp * z[size_t(i)];
        b.z[size_t(i)] = -sp * y[size_t(i)] + cp * z[size_t(i)];
    }
    return b;
}

// The view's lag behind the rider body: the camera Z axis's angle towards Y.
double lag(const view_camera &c, const body_frame &b) {
    return std::atan2(dotp(c.z, b.y), dotp(c.z, b.z));
}

TEST(RideView, EyeSitsOnTheRiderBodyAndTurnsWithIt) {
    struct eye_case {
        double yaw, height;
        vec3d want;
    };
    const eye_case cases[] = {
        {0, 0, {10, 20.5, 29.6}},
        {0, 1, {10, 20 + 0.558383 + 0.5, 30 - 0.79336953 - 0.4}},
        // a quarter turn: the body's -Z (its front) now points to -x
        {PI / 2, 0, {9.6, 20.5, 30}},
    };
    for (const eye_case &c : cases) {
        body_frame b = turned_body({10, 20, 30}, c.yaw);
        expect_vec(ride_eye(b, c.height), c.want, 1e-6);
        ride_gimbal g;
        view_camera cam;
        ride_view_settings s;
        s.height = c.height;
        ride_view_camera(b, s, 1.0, &g, &cam, nullptr);
        expect_vec(cam.eye, c.want, 1e-6);
        expect_vec(cam.z, b.z);
        expect_vec(cam.y, b.y);
    }
}

TEST(RideView, PositiveAngleLooksDown) {
    body_frame b = turned_body({0, 0, 0}, 0.3);
    ride_view_settings s;
    s.angle = 20;
    ride_gimbal g;
    view_camera cam;
    ride_view_camera(b, s, 0, &g, &cam, nullptr);
    // The view looks along -Z: its forward direction drops 20 degrees.
    EXPECT_NEAR(-cam.z[1], -std::sin(20 * PI / 180), 1e-9);
    EXPECT_NEAR(dotp(cam.y, cam.z), 0, 1e-12);
}

TEST(RideView, GimbalAtHundredSettlesAtFivePerSecond) {
    ride_view_settings s;
    s.gimbal = 100;
    ride_gimbal g;
    view_camera cam;
    body_frame level = turned_body({0, 0, 0}, 0.2);
    ride_view_camera(level, s, 1.0, &g, &cam, nullptr);
    EXPECT_NEAR(lag(cam, level), 0, 1e-12);

    // A sudden pitch of 0.5 rad: the view lags behind, shrinking by 5/s.
    body_frame pitched = turned_body({0, 0, 0}, 0.2, 0.5);
    double want = 0.5;
    for (int frame = 1; frame <= 4; ++frame) {
        ride_view_camera(pitched, s, 1.0 + frame * H, &g, &cam, nullptr);
        want *= 1 - 5 * H;
        EXPECT_NEAR(lag(cam, pitched), want, 1e-9) << "frame " << frame;
    }
    // A frame at the same game time leaves the lag where it is.
    ride_view_camera(pitched, s, 1.0 + 4 * H, &g, &cam, nullptr);
    EXPECT_NEAR(lag(cam, pitched), want, 1e-9);

    // The lag is at most 45 degrees however hard the bike pitches.
    ride_gimbal g2;
    ride_view_camera(level, s, 0, &g2, &cam, nullptr);
    ride_view_camera(turned_body({0, 0, 0}, 0.2, 1.4), s, 0, &g2, &cam, nullptr);
    EXPECT_NEAR(lag(cam, turned_body({0, 0, 0}, 0.2, 1.4)), PI / 4, 1e-9);
}

TEST(RideView, WithoutGimbalTheViewTurnsWithTheBody) {
    ride_view_settings s;
    s.gimbal = 0;
    ride_gimbal g;
    view_camera cam;
    ride_view_camera(turned_body({0, 0, 0}, 0), s, 0, &g, &cam, nullptr);
    body_frame pitched = turned_body({0, 0, 0}, 0, 0.5);
    ride_view_camera(pitched, s, H, &g, &cam, nullptr);
    EXPECT_NEAR(lag(cam, pitched), 0, 1e-12);
}

TEST(RideView, LongGapsSettleNoFurtherThanAnEighthOfASecond) {
    // At gimbal 1 the settling rate is about 102 per second: a long gap
    // would overshoot, and the sign flip puts the view straight instead.
    ride_view_settings s;
    s.gimbal = 1;
    ride_gimbal g;
    view_camera cam;
    ride_view_camera(turned_body({0, 0, 0}, 0), s, 0, &g, &cam, nullptr);
    body_frame pitched = turned_body({0, 0, 0}, 0, 0.5);
    ride_view_camera(pitched, s, 3.0, &g, &cam, nullptr);
    EXPECT_NEAR(lag(cam, pitched), 0, 1e-12);
}

TEST(OrbitView, TicTurnsZoomsAndRaises) {
    orbit_state o;
    float in[9] = {};
    in[0] = 1;
    orbit_tic(&o, in, H);
    EXPECT_NEAR(o.yaw, 2 * PI / 1024, 1e-12);
    o.yaw = PI - 0.001;
    orbit_tic(&o, in, H);
    EXPECT_LT(o.yaw, 0);  // wrapped to -pi..pi

    in[0] = 0;
    in[1] = 1;  // throttle shortens, never below 0.25
    for (int i = 0; i < 2000; ++i)
        orbit_tic(&o, in, H);
    EXPECT_DOUBLE_EQ(o.distance, 0.25);
    in[1] = 0;
    in[2] = 1;  // front brake lengthens
    orbit_tic(&o, in, H);
    EXPECT_DOUBLE_EQ(o.distance, 0.25 + 1.0 / 64);
    in[2] = 0;
    in[4] = -1;
    orbit_tic(&o, in, H);
    EXPECT_DOUBLE_EQ(o.height, 5 - H);
}

double flat_100(const void *, double, double) { return 100; }

TEST(OrbitView, CirclesTheChaseCentreAndKeepsAboveGround) {
    body_frame bike = turned_body({10, 0, 20}, 0);
    orbit_state o;
    orbit_view_params p;
    view_camera cam;
    orbit_view_camera(o, bike, p, nullptr, nullptr, &cam);
    vec3d target = {10, 2.52, 20.52};
    expect_vec(cam.eye, {10, 7.52, 30.52}, 1e-6);
    // It looks at the target.
    double d = std::sqrt(25.0 + 100.0);
    expect_vec(cam.z, {0, 5 / d, 10 / d}, 1e-6);

    o.yaw = PI / 2;
    orbit_view_camera(o, bike, p, nullptr, nullptr, &cam);
    expect_vec(cam.eye, {20, 7.52, 20.52}, 1e-6);

    orbit_view_camera(o, bike, p, flat_100, nullptr, &cam);
    EXPECT_DOUBLE_EQ(cam.eye[1], 105);
    (void)target;
}

TEST(OrbitView, LocalRiderIsChasedAndSwungTowardsItsVelocity) {
    orbit_state o;
    orbit_view_params p;
    p.local_active = true;
    p.chase_center = {0, 0, 0};
    view_camera cam;
    struct chase_case {
        double vx;
        bool rigid;
        vec3d want;
    };
    double k = 10 / std::sqrt(2.0);
    const chase_case cases[] = {
        {0, false, {0, 5, 10}},    // standing: behind along the bike's front (-z)
        {10, false, {0, 5, 10}},   // slow: no swing yet
        {20, false, {-k, 5, k}},   // half way between front and velocity
        {30, false, {-10, 5, 0}},  // fast: fully along the velocity
        {30, true, {0, 5, 10}},    // rigid camera never swings
    };
    for (const chase_case &c : cases) {
        body_frame bike = turned_body({0, 0, 0}, 0);
        bike.velocity = {c.vx, 0, 0};
        p.rigid = c.rigid;
        orbit_view_camera(o, bike, p, nullptr, nullptr, &cam);
        expect_vec(cam.eye, c.want, 1e-6);
    }
}

Terrain flat_terrain(int dim, float spacing, float height) {
    Terrain t;
    t.dim = dim;
    t.spacing = spacing;
    t.heights.assign(size_t(dim) * size_t(dim), height);
    return t;
}

TEST(OrbitView, SmoothedHeightAveragesNearSamples) {
    Terrain t = flat_terrain(65, 2, 3);
    EXPECT_DOUBLE_EQ(smoothed_terrain_height(&t, 40, 40), 3);
    // A spike under the point is averaged with the ground around it.
    t.heights[20 * 65 + 20] = 3 + 400;
    double h = smoothed_terrain_height(&t, 40, 40);
    EXPECT_GT(h, 3);
    EXPECT_LT(h, 3 + 400.0 / 50);
    // Far outside the field: the nearest sample.
    t.heights[64 * 65 + 64] = 9;
    EXPECT_DOUBLE_EQ(smoothed_terrain_height(&t, 1000, 1000), 9);
    EXPECT_DOUBLE_EQ(smoothed_terrain_height(nullptr, 0, 0), 0);
}

TEST(CameraOperator, JustSwitchedPointsAtTheBikeAtOnce) {
    operated_camera c;
    c.position = {0, 0, 0};
    operator_input in;
    in.following = true;
    in.just_switched = true;
    in.target = {30, 10, 40};
    camera_operator_tic(&c, in, H);
    // One tic of (zero) rate after facing the target.
    EXPECT_NEAR(c.yaw, std::atan2(30.0, 40.0), 1e-9);
    EXPECT_NEAR(c.pitch, std::atan2(10.0, 50.0), 1e-9);
    EXPECT_DOUBLE_EQ(c.fov, 90);  // autofovsize 0 keeps the file's field of view

    // Later the bike jumps aside: the rates change by at most pi per second squared.
    in.just_switched = false;
    in.target = {-30, 10, 40};
    double prev = c.yaw_rate;
    for (int i = 0; i < 20; ++i) {
        camera_operator_tic(&c, in, H);
        EXPECT_LE(std::fabs(c.yaw_rate - prev), PI * H + 1e-12);
        prev = c.yaw_rate;
    }
    EXPECT_LT(c.yaw_rate, 0);  // turning towards the bike
}

TEST(CameraOperator, AutoFovFollowsTheDistance) {
    operated_camera c;
    c.autofovsize = 5;
    operator_input in;
    in.following = true;
    in.just_switched = true;
    in.target = {0, 0, 50};
    camera_operator_tic(&c, in, H);
    double want = 2 * std::atan2(5.0, 50.0) * 180 / PI;
    EXPECT_NEAR(c.fov, want, 1e-9);

    // The bike comes closer: the field of view widens towards the new value,
    // a step at a time and never past it.
    in.just_switched = false;
    in.target = {0, 0, 10};
    double target_fov = 2 * std::atan2(5.0, 10.0) * 180 / PI;
    double f0 = c.fov;
    camera_operator_tic(&c, in, H);
    double step = (2 * std::fabs(f0 - target_fov) + 1) * H;
    EXPECT_NEAR(c.fov, f0 + step, 1e-9);
    for (int i = 0; i < 2000; ++i)
        camera_operator_tic(&c, in, H);
    EXPECT_NEAR(c.fov, target_fov, 1e-6);
    EXPECT_LE(c.fov, target_fov + 1e-12);
}

TEST(CameraOperator, WithoutFollowingThePlayerPans) {
    operated_camera c;
    operator_input in;
    in.steer = 1;
    in.shift = -1;
    camera_operator_tic(&c, in, H);
    EXPECT_NEAR(c.yaw_rate, PI * H, 1e-12);
    EXPECT_NEAR(c.pitch_rate, -PI * H, 1e-12);
    for (int i = 0; i < 256; ++i)
        camera_operator_tic(&c, in, H);
    EXPECT_NEAR(c.yaw_rate, 3 * PI / 8, 1e-12);
    EXPECT_NEAR(c.pitch_rate, -PI / 4, 1e-12);
    EXPECT_GE(c.pitch, -PI / 2);
}

TEST(FreeCamera, ThrottleFliesAlongTheViewAndGroundStopsIt) {
    operated_camera c;
    c.position = {0, 200, 0};
    c.yaw = PI / 2;  // looking along +x
    double speed = 0;
    float in[9] = {};
    in[1] = 1;
    for (int i = 0; i < 128; ++i)
        free_camera_move(&c, &speed, in, H, nullptr, nullptr);
    // +80/s, -60/s of decay: 20 per second after one second.
    EXPECT_NEAR(speed, 20, 1e-9);
    EXPECT_GT(c.position[0], 9);
    EXPECT_NEAR(c.position[1], 200, 1e-9);
    EXPECT_NEAR(c.position[2], 0, 1e-9);
    for (int i = 0; i < 128 * 10; ++i)
        free_camera_move(&c, &speed, in, H, nullptr, nullptr);
    EXPECT_DOUBLE_EQ(speed, 100 - 60 * H);  // capped at 100, then the decay

    // Diving into the ground stops two above it.
    c.pitch = -PI / 2;
    for (int i = 0; i < 1000; ++i)
        free_camera_move(&c, &speed, in, H, flat_100, nullptr);
    EXPECT_DOUBLE_EQ(c.position[1], 102);
    // Released, the speed runs down to 0.
    in[1] = 0;
    for (int i = 0; i < 128 * 3; ++i)
        free_camera_move(&c, &speed, in, H, nullptr, nullptr);
    EXPECT_DOUBLE_EQ(speed, 0);
}

// The frame loop's digit keys reach the views' camera choice.
struct key_feed {
    std::deque<velk_event> events;
};

TEST(ViewsInLoop, DigitKeysChooseAmongThreeCameras) {
    auto ts = std::make_unique<track_state>();
    ts->folder = "tracks/test";
    ts->objects.cameras.resize(3);
    for (int i = 0; i < 3; ++i)
        ts->objects.cameras[size_t(i)].x = float(i);
    views_state v;
    v.track = ts.get();
    frame_loop L;
    key_feed feed;
    L.clock.now = [](void *) { return 0.0; };
    L.clock.sleep = [](void *, double) {};
    L.input.ctx = &feed;
    L.input.next_until = [](void *c, double, velk_event *ev) {
        auto *f = static_cast<key_feed *>(c);
        if (f->events.empty())
            return false;
        *ev = f->events.front();
        f->events.pop_front();
        return true;
    };
    L.keys = default_loop_keys();
    L.lock_fps = 128;
    L.hooks.track_loaded = [](void *) { return true; };
    L.hooks.viewed_slot_has_bike = [](void *) { return true; };
    views_attach(&L, &v);
    L.hooks.draw = nullptr;  // no GL here
    frame_loop_init(&L);

    struct digit_case {
        int digit, camera;
    };
    for (digit_case c : {digit_case{2, 1}, digit_case{9, 2}, digit_case{0, -1}, digit_case{1, 0}, digit_case{3, 2}}) {
        feed.events.push_back(velk_event{L.keys.digits[size_t(c.digit)], true, {}});
        ASSERT_TRUE(frame_round(&L));
        ASSERT_TRUE(frame_round(&L));
        EXPECT_EQ(v.chosen, c.camera) << "digit " << c.digit;
        EXPECT_EQ(L.camera, c.camera);
    }

    // Esc ends the program until there is a menu to open.
    feed.events.push_back(velk_event{L.keys.esc, true, {}});
    (void)frame_round(&L);
    EXPECT_TRUE(L.quit);
    EXPECT_FALSE(frame_round(&L));
}

TEST(ViewsInLoop, TracksideTicMovesTheFreeCameraWithThrottle) {
    auto ts = std::make_unique<track_state>();
    ts->folder = "tracks/test";
    views_state v;
    v.track = ts.get();
    v.free_camera.position = {0, 50, 0};
    float in[9] = {};
    in[1] = 1;
    for (int i = 0; i < 64; ++i)
        views_camera_tic(&v, view_mode::trackside, in, false);
    EXPECT_GT(v.free_speed, 0);
    EXPECT_GT(v.free_camera.position[2], 0);  // yaw 0 looks along +z
    // In the ride view the cameras stand still.
    vec3d before = v.free_camera.position;
    views_camera_tic(&v, view_mode::ride, in, false);
    expect_vec(v.free_camera.position, before);

    // The sit/dab input toggles following on each rise.
    in[6] = 1;
    views_camera_tic(&v, view_mode::trackside, in, false);
    views_camera_tic(&v, view_mode::trackside, in, false);
    EXPECT_TRUE(v.following);
    in[6] = 0;
    views_camera_tic(&v, view_mode::trackside, in, false);
    in[6] = 1;
    views_camera_tic(&v, view_mode::trackside, in, false);
    EXPECT_FALSE(v.following);
}

TEST(Flaggers, WalkingFlaggerTiming) {
    struct walk_case {
        double t;
        int frame;
        double along;
    };
    // cue 5, walk time 4
    const walk_case cases[] = {
        {0, 0, 0}, {5.05, 0, 0}, {5.1, 1, 0}, {5.5, 2, 0}, {6.0, 3, 0}, {8.0, 3, 0.5}, {10.0, 4, 1}, {300, 4, 1},
    };
    for (const walk_case &c : cases) {
        EXPECT_EQ(walking_flagger_frame(c.t, 5, 4), c.frame) << c.t;
        EXPECT_DOUBLE_EQ(walking_flagger_progress(c.t, 5, 4), c.along) << c.t;
    }
    // A walk time of 0 jumps to the end instead of dividing by zero.
    EXPECT_DOUBLE_EQ(walking_flagger_progress(5.5, 5, 0), 0);
    EXPECT_DOUBLE_EQ(walking_flagger_progress(6.0, 5, 0), 1);
}

TEST(Flaggers, StandingFlaggerCountsLapsOfTheLeader) {
    // First lap 3 gates (D), normal lap 5 (M): finish lines at 2, 7, 12, ...
    struct stand_case {
        int32_t w, target, half, extra;
        bool time_up;
        int frame;
    };
    const stand_case cases[] = {
        {0, 3, 2, 0, false, 0},   // n 0
        {2, 3, 2, 0, false, 0},   // n 1
        {7, 3, 2, 0, false, 2},   // n 2: last lap
        {7, 5, 2, 0, false, 1},   // n 2: half way
        {12, 3, 2, 0, false, 3},  // n 3: finished
        {7, 10, 4, 1, true, 2},   // time up at a finish line: target n + 1
        {8, 10, 4, 1, true, 0},   // time up but past the line: no change
        {12, 10, 4, 0, true, 3},
    };
    for (const stand_case &c : cases) {
        standing_flagger_input in;
        in.leader_progress = c.w;
        in.first_lap = 3;
        in.normal_lap = 5;
        in.lap_target = c.target;
        in.halfway_lap = c.half;
        in.extra_laps = c.extra;
        in.time_up = c.time_up;
        EXPECT_EQ(standing_flagger_frame(in), c.frame) << "w " << c.w << " target " << c.target;
    }
    standing_flagger_input no_laps;
    no_laps.leader_progress = 40;
    no_laps.lap_target = 3;
    no_laps.halfway_lap = 2;
    EXPECT_EQ(standing_flagger_frame(no_laps), 0);  // no normal lap: never past lap 1
}

TEST(Views, GhostOpacityAndFieldOfView) {
    EXPECT_DOUBLE_EQ(ghost_opacity(5, 10), 0);
    EXPECT_DOUBLE_EQ(ghost_opacity(2, 10), 0);
    EXPECT_DOUBLE_EQ(ghost_opacity(7.5, 10), 0.5);
    EXPECT_DOUBLE_EQ(ghost_opacity(10, 10), 1);
    EXPECT_DOUBLE_EQ(ghost_opacity(50, 10), 1);
    EXPECT_DOUBLE_EQ(ghost_opacity(1, 0), 1);

    // The rules in order: a replayed bike fades whether present or not; only
    // then does absence hide a bike.
    struct slot_case {
        bool replayed;
        double d;
        bool present;
        double opacity;
    };
    const slot_case slots[] = {
        {true, 7.5, true, 0.5},  {true, 50, true, 1},   {true, 2, true, 0},  {true, 7.5, false, 0.5},
        {true, -1, true, 1},     {true, -1, false, 0},  {false, -1, true, 1}, {false, -1, false, 0},
    };
    for (const slot_case &c : slots)
        EXPECT_DOUBLE_EQ(bike_opacity(c.replayed, c.d, c.present, 10), c.opacity)
            << c.replayed << " " << c.d << " " << c.present;

    // `fov` is horizontal on a 4:3 screen; wider screens keep its height.
    double four_three = vertical_fov(90, 640, 480);
    EXPECT_NEAR(four_three, 2 * std::atan(0.75) * 180 / PI, 1e-9);
    EXPECT_NEAR(vertical_fov(90, 1920, 1080), four_three, 1e-9);
    EXPECT_NEAR(vertical_fov(90, 500, 500), 90, 1e-9);
}

}  // namespace
