// A bike that can be ridden: engine and drivetrain, brakes, steering and
// balance, crashing and getting back on, and the player's input mapping.
#include "sim/physics_local.h"
#include "sim/tests/physics_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <numbers>

namespace {

constexpr double PI = std::numbers::pi;

class ride : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(physics_init());
        install_starter_shapes();
        physics_set_hooks(standard_rider_hooks());
    }
    void TearDown() override
    {
        for (int s = 0; s < MAX_RIDERS; ++s)
            destroy_rider(rider_slot(s));
        physics_set_hooks({});
        setup_set_defaults();
    }
    void step(const Terrain &t, int n = 1) { run_tics(&t, n, &tic); }
    int32_t tic = 0;
};

// 2048 ft square, flat at y = 2.
const Terrain &big_flat()
{
    static Terrain t = make_terrain(8, 4.0f, [](double, double) { return 2.0; });
    return t;
}

double speed(const RiderState *r)
{
    return length(body_vel(r->body[BODY_FRAME].get()));
}
v3 pos(const RiderState *r, int body = BODY_FRAME)
{
    return body_pos(r->body[size_t(body)].get());
}

// Every body moving at v with the wheels rolling.
void set_velocity(RiderState *r, v3 v)
{
    for (ode_body &b : r->body)
        dBodySetLinearVel(b.get(), v.x, v.y, v.z);
    for (int w = 0; w < 2; ++w) {
        double rho = r->wheel[size_t(w)].ring_radius + r->wheel[size_t(w)].tube_radius;
        v3 om = cross(v3{0, 1, 0}, v) * (1.0 / rho);
        dBodySetAngularVel(r->wheel[size_t(w)].body, om.x, om.y, om.z);
    }
}

// The controls a player holds for a whole test.
void hold(RiderState *r, float throttle, float clutch, float brake, float steer = 0)
{
    set_throttle(r, throttle);
    set_clutch(r, clutch);
    set_front_brake(r, brake);
    set_rear_brake(r, brake);
    set_steer(r, steer);
    set_sit(r, 0);
}

RiderState *cr125(const Terrain &t, double z = 1900)
{
    RiderState *r = standing_rider(0, "cr125", t, 1024, z);
    if (r) {
        // the default setup with arcade physics, automatic shifting and the
        // automatic dab off
        r->params.arcade = false;
        r->params.auto_shift = false;
        r->params.auto_dab = false;
    }
    return r;
}

// ---------------------------------------------------------------- engine

TEST_F(ride, idle_settles_where_the_closed_curve_crosses_zero)
{
    const Terrain &t = big_flat();
    RiderState *r = cr125(t);
    ASSERT_NE(r, nullptr);
    double peak = 0;
    for (int k = 0; k < 128 * 6; ++k) {
        hold(r, 0, 1, 1);
        step(t);
        peak = std::max(peak, engine_rpm(r));
    }
    std::printf("idle: %.1f rpm, peak %.1f\n", engine_rpm(r), peak);
    EXPECT_NEAR(engine_rpm(r), 1500, 15);
    EXPECT_LE(peak, 1500.5);  // approached from below, never past
}

TEST_F(ride, clutch_pulled_full_throttle_revs_to_the_open_curve_zero)
{
    const Terrain &t = big_flat();
    RiderState *r = cr125(t);
    ASSERT_NE(r, nullptr);
    double peak = 0;
    for (int k = 0; k < 128 * 4; ++k) {
        hold(r, 1, 0, 1);
        step(t);
        peak = std::max(peak, engine_rpm(r));
    }
    std::printf("open: %.1f rpm, peak %.1f\n", engine_rpm(r), peak);
    EXPECT_NEAR(engine_rpm(r), 13000, 50);
    EXPECT_LE(peak, 13100);
    // the wheel stays still: nothing reaches it
    EXPECT_LT(speed(r), 0.5);
}

TEST_F(ride, full_throttle_accelerates_and_shifts_up_with_matching_speeds)
{
    const Terrain &t = big_flat();
    RiderState *r = cr125(t);
    ASSERT_NE(r, nullptr);
    r->params.auto_shift = true;
    double z0 = pos(r).z;
    int top = 0, checked = 0;
    double worst = 0;
    for (int k = 0; k < 128 * 10; ++k) {
        hold(r, 1, 1, 0);
        int before = r->gear;
        step(t);
        top = std::max(top, r->gear);
        // coupled and settled: engine speed = wheel speed x overall ratio
        if (k > 256 && r->gear == before && r->ride.clutch_used == 1 && (tic % 32) > 16) {
            double wheel = dJointGetHingeAngleRate(r->joint[JOINT_REAR_AXLE].get());
            double err = std::fabs(r->engine_speed - wheel * total_ratio(r)) / r->engine_speed;
            worst = std::max(worst, err);
            ++checked;
        }
    }
    std::printf("after 10 s: %.1f ft/s, gear %d (top %d), %.0f ft, rpm %.0f, worst ratio error %.4f over %d tics\n",
                speed(r), r->gear + 1, top + 1, z0 - pos(r).z, engine_rpm(r), worst, checked);
    EXPECT_GT(speed(r), 60);
    EXPECT_GT(z0 - pos(r).z, 300);  // forward is -z
    EXPECT_GE(top, 3);
    EXPECT_GT(checked, 100);
    EXPECT_LT(worst, 0.02);
    EXPECT_GT(body_axis(r->body[BODY_FRAME].get(), 1).y, 0.9);  // still upright
    EXPECT_FALSE(r->down);
}

TEST_F(ride, coasting_with_the_clutch_pulled_loses_speed_to_rolling_resistance_only)
{
    const Terrain &t = big_flat();
    RiderState *r = cr125(t);
    ASSERT_NE(r, nullptr);
    step(t, 64);
    set_velocity(r, {0, 0, -40});
    step(t, 32);
    double v0 = speed(r);
    for (int k = 0; k < 128 * 3; ++k) {
        hold(r, 0, 0, 0);
        step(t);
    }
    double v1 = speed(r);
    // default surface: at most 15 lbf per wheel
    double bound = 2 * 15 / r->total_mass * 3;
    std::printf("coast: %.2f -> %.2f ft/s in 3 s (rolling bound %.2f)\n", v0, v1, bound);
    EXPECT_LT(v1, v0);
    EXPECT_LE(v0 - v1, bound * 1.1);
}

TEST_F(ride, full_brakes_from_30_mph_stop_within_the_friction_distance_and_never_shorter)
{
    const Terrain &t = big_flat();
    RiderState *r = cr125(t);
    ASSERT_NE(r, nullptr);
    step(t, 64);
    const double v0 = 44;  // 30 mph
    set_velocity(r, {0, 0, -v0});
    double z0 = pos(r).z;
    // down to walking pace (a bike without a foot down topples once stopped)
    int k = 0;
    for (; k < 128 * 6 && (k < 8 || speed(r) > 1.5); ++k) {
        hold(r, 0, 0, 1);
        step(t);
    }
    double dist = z0 - pos(r).z;
    double ideal = v0 * v0 / (2 * 32.0);  // friction coefficient 1
    std::printf("braking: stopped in %.2f ft, %.2f s (friction limit %.2f ft)\n", dist, k / 128.0, ideal);
    EXPECT_LT(speed(r), 1.5);
    EXPECT_GE(dist, ideal * 0.97);
    EXPECT_LE(dist, ideal * 2);
    EXPECT_FALSE(r->down);
}

// ---------------------------------------------------------------- steering

TEST_F(ride, held_steer_leans_and_turns_in_agreement_with_speed)
{
    const Terrain &t = big_flat();
    // part throttle in a fixed gear holds the speed roughly steady
    struct row {
        float steer, throttle;
        int gear;
        double v0;
    } rows[] = {{0.3f, 0.4f, 0, 30}, {0.15f, 0.45f, 1, 45}, {0.5f, 0.35f, 0, 22}};
    for (const row &c : rows) {
        RiderState *r = cr125(t, 1024);
        ASSERT_NE(r, nullptr);
        r->gear = c.gear;
        step(t, 64);
        set_velocity(r, {0, 0, -c.v0});
        double sum_lean = 0, sum_rhs = 0;
        int n = 0;
        for (int k = 0; k < 128 * 5; ++k) {
            hold(r, c.throttle, 1, 0, c.steer);
            step(t);
            if (k >= 128 * 3) {
                dBodyID f = r->body[BODY_FRAME].get();
                sum_lean += std::tan(lean_angle(f));
                sum_rhs += speed(r) * dBodyGetAngularVel(f)[1] / 32;
                ++n;
            }
        }
        double lean = sum_lean / n, rhs = sum_rhs / n;
        std::printf("turn: steer %.2f: tan lean %.4f, v yaw / 32 %.4f, speed %.1f\n", c.steer, lean, rhs, speed(r));
        EXPECT_LT(lean, -0.05);  // steer right: leans right ...
        EXPECT_LT(rhs, 0);       // ... and turns right
        EXPECT_NEAR(lean, rhs, 0.2 * std::fabs(rhs)) << c.steer;
        EXPECT_FALSE(r->down);
        destroy_rider(r);
    }
}

TEST_F(ride, arcade_steering_drives_the_lean_to_the_steer_input)
{
    const Terrain &t = big_flat();
    RiderState *r = cr125(t, 1024);
    ASSERT_NE(r, nullptr);
    r->params.arcade = true;
    step(t, 64);
    set_velocity(r, {0, 0, -30});
    for (int k = 0; k < 128 * 3; ++k) {
        hold(r, 0.4f, 1, 0, 0.5f);
        step(t);
    }
    double phi = lean_angle(r->body[BODY_FRAME].get());
    std::printf("arcade: lean %.3f (target %.3f), yaw %.3f\n", phi, -PI / 8, dBodyGetAngularVel(r->body[BODY_FRAME].get())[1]);
    EXPECT_NEAR(phi, -PI / 8, 0.05);
    EXPECT_LT(dBodyGetAngularVel(r->body[BODY_FRAME].get())[1], -0.05);
    EXPECT_FALSE(r->down);
}

// The lean motor turns about the frame's own axis, so a start grid facing
// any way is held the same (a world-fixed axis pushed bikes facing away
// from -z over).
TEST_F(ride, arcade_holds_a_standing_bike_up_whatever_its_heading)
{
    const Terrain &t = big_flat();
    for (double heading : {0.0, 0.9, 1.8, PI, -2.4}) {
        RiderState *r = standing_rider(0, "cr125", t, 1024, 1024, heading);
        ASSERT_NE(r, nullptr);
        r->params.arcade = true;
        r->params.auto_dab = false;
        dBodySetAngularVel(r->body[BODY_FRAME].get(), 0, 0, 0.3);
        double worst = 0;
        for (int k = 0; k < 128 * 5; ++k) {
            hold(r, 0, 1, 1);
            step(t);
            worst = std::max(worst, std::fabs(lean_angle(r->body[BODY_FRAME].get())));
        }
        EXPECT_LT(worst, 0.1) << heading;
        EXPECT_LT(std::fabs(lean_angle(r->body[BODY_FRAME].get())), 0.02) << heading;
        EXPECT_FALSE(r->down) << heading;
        destroy_rider(r);
    }
}

TEST_F(ride, dab_when_stopped_holds_a_standing_bike_up)
{
    const Terrain &t = big_flat();
    RiderState *r = cr125(t);
    ASSERT_NE(r, nullptr);
    r->params.auto_dab = true;
    // a small push to one side
    dBodySetAngularVel(r->body[BODY_FRAME].get(), 0, 0, 0.3);
    for (int k = 0; k < 128 * 5; ++k) {
        hold(r, 0, 1, 0);
        step(t);
    }
    double phi = lean_angle(r->body[BODY_FRAME].get());
    std::printf("dab: lean %.3f, foot down %.2f, speed %.2f\n", phi, r->ride.foot_down, speed(r));
    EXPECT_LT(std::fabs(phi), PI / 4);
    EXPECT_GT(r->ride.foot_down, 0.5f);
    EXPECT_FALSE(r->down);
    EXPECT_EQ(r->controls.sit, 0);  // the automatic dab lasts one tic at a time
}

// How far the rider body sits above its rest point on the frame, along the
// frame's up axis.
double seat_height(const RiderState *r)
{
    const BikeModel &m = bike_models()[size_t(r->model)];
    dBodyID frame = r->body[BODY_FRAME].get();
    v3 off = to_v3(m.rider) - to_v3(m.frame);
    dVector3 rest;
    dBodyGetRelPointPos(frame, off.x, off.y, off.z, rest);
    return dot(pos(r, BODY_RIDER) - to_v3(rest), body_axis(frame, 1));
}

// The mount springs see the sit/dab of the tic: the rider's own, and the
// one the automatic dab and walking backwards set for that tic alone.
TEST_F(ride, automatic_dab_and_walking_lower_the_rider_like_sitting)
{
    const Terrain &t = big_flat();
    struct row {
        const char *what;
        float sit, back_up;
        bool auto_dab, lowered;
    } rows[] = {
        {"riding", 0, 0, false, false},
        {"sitting", 1, 0, false, true},
        {"automatic dab", 0, 0, true, true},
        {"walking backwards", 0, 1, false, true},
    };
    double riding = 0;
    for (const row &c : rows) {
        RiderState *r = cr125(t, 1024);
        ASSERT_NE(r, nullptr);
        r->params.arcade = true;  // holds the standing bike up, no dab of its own
        r->params.auto_dab = c.auto_dab;
        for (int k = 0; k < 192; ++k) {
            hold(r, 0, 0, 0);
            set_sit(r, c.sit);
            set_back_up(r, c.back_up);
            step(t);
        }
        double h = seat_height(r);
        std::printf("%s: rider %.3f ft above the rest point\n", c.what, h);
        if (!c.lowered)
            riding = h;
        else
            EXPECT_LT(h, riding - 0.25) << c.what;
        EXPECT_FALSE(r->down) << c.what;
        destroy_rider(r);
    }
}

TEST_F(ride, backing_up_walks_the_bike_backwards_only_when_slow)
{
    const Terrain &t = big_flat();
    RiderState *r = cr125(t);
    ASSERT_NE(r, nullptr);
    step(t, 128);
    double z0 = pos(r).z;
    for (int k = 0; k < 128 * 3; ++k) {
        hold(r, 0, 0, 0);
        set_back_up(r, 1);
        step(t);
    }
    double moved = pos(r).z - z0;  // backwards is +z
    std::printf("back up: %.2f ft in 3 s, lean %.3f\n", moved, lean_angle(r->body[BODY_FRAME].get()));
    EXPECT_GT(moved, 1.0);
    EXPECT_FALSE(r->down);

    // rolling forwards at 6 ft/s: no pull
    RiderState *f = standing_rider(1, "cr125", t, 1024, 1024);
    ASSERT_NE(f, nullptr);
    f->params.auto_dab = false;
    step(t, 64);
    set_velocity(f, {0, 0, -8});
    step(t, 16);
    double v0 = speed(f);
    for (int k = 0; k < 32; ++k) {
        hold(f, 0, 0, 0);
        set_back_up(f, 1);
        step(t);
    }
    EXPECT_GT(v0, 5.5);
    EXPECT_GT(speed(f), v0 - 1.0);  // rolling resistance only
}

// ---------------------------------------------------------------- crashes

TEST_F(ride, landing_upside_down_crashes_and_the_rider_is_put_back_after_the_delay)
{
    const Terrain &t = big_flat();
    RiderState *r = cr125(t, 1024);
    ASSERT_NE(r, nullptr);
    // turned over about the frame's long axis, 3 ft up, falling
    v3 c = pos(r) + v3{0, 3, 0};
    dMatrix3 R;
    dRFromAxisAndAngle(R, 0, 0, 1, PI);
    for (ode_body &b : r->body) {
        v3 p = body_pos(b.get()) - pos(r);
        dBodySetPosition(b.get(), c.x - p.x, c.y - p.y, c.z + p.z);
        dBodySetRotation(b.get(), R);
        dBodySetLinearVel(b.get(), 0, -10, 0);
    }
    int k = 0;
    for (; k < 256 && !r->down; ++k)
        step(t);
    ASSERT_TRUE(r->down);
    EXPECT_EQ(r->crashes, 1);
    EXPECT_GE(r->crash_timer, 500);
    int down_at = k, max_timer = r->crash_timer;
    for (; k < 128 * 40 && r->down; ++k) {
        hold(r, 1, 1, 0);
        EXPECT_EQ(r->controls.throttle, 0);
        step(t);
        max_timer = std::max(max_timer, r->crash_timer);
    }
    std::printf("crash: down at tic %d, back on after %d tics\n", down_at, k - down_at);
    EXPECT_FALSE(r->down);
    EXPECT_GE(k - down_at, 512);
    EXPECT_LE(max_timer, 512);
    EXPECT_EQ(dJointGetBody(r->joint[JOINT_RIDER_MOUNT].get(), 0), r->body[BODY_RIDER].get());
    v3 seat = pos(r, BODY_RIDER) - pos(r);
    EXPECT_LT(length(seat), 3.0);
}

TEST_F(ride, rider_thrown_off_the_frame_crashes_unless_arcade_or_shielded)
{
    const Terrain &t = big_flat();
    struct row {
        double jolt;  // rider body speed relative to the frame, ft/s
        bool arcade;
        int32_t bump;
        bool crashes;
    } rows[] = {
        {20, false, 0, false}, {50, false, 0, true}, {50, true, 0, false}, {50, false, -10, false},
    };
    for (const row &c : rows) {
        RiderState *r = cr125(t, 1024);
        ASSERT_NE(r, nullptr);
        step(t, 64);
        r->params.arcade = c.arcade;
        r->bump_timer = c.bump;
        dBodyID rider = r->body[BODY_RIDER].get();
        dBodySetLinearVel(rider, 0, 0, -c.jolt);
        // the ring remembers the same speed: only the speed difference counts
        for (vec3f &v : r->ride.rider_vel)
            v = {0, 0, float(-c.jolt)};
        rider_update(r, tic);
        EXPECT_EQ(r->down, c.crashes) << c.jolt << " " << c.arcade << " " << c.bump;
        destroy_rider(r);
    }
}

// Every body turned by `angle` about the long axis through the ground under
// the frame (positive: leaning left).
void tilt(RiderState *r, double angle, double ground_y)
{
    v3 c = pos(r);
    c.y = ground_y;
    dMatrix3 R;
    dRFromAxisAndAngle(R, 0, 0, 1, angle);
    for (ode_body &b : r->body) {
        v3 p = body_pos(b.get()) - c;
        v3 q{R[0] * p.x + R[1] * p.y + R[2] * p.z, R[4] * p.x + R[5] * p.y + R[6] * p.z, R[8] * p.x + R[9] * p.y + R[10] * p.z};
        dBodySetPosition(b.get(), c.x + q.x, c.y + q.y, c.z + q.z);
        dBodySetRotation(b.get(), R);
    }
}

bool target_left_behind(void *, RiderState *r, double out[3])
{
    v3 p = body_pos(r->body[BODY_FRAME].get());
    store(out, p + v3{-20, 0, 10});
    return true;
}
bool no_target(void *, RiderState *, double *)
{
    return false;
}

TEST_F(ride, realign_turns_a_leaning_slow_bike_towards_its_target)
{
    const Terrain &t = big_flat();
    for (bool have : {true, false}) {
        RiderState *r = cr125(t, 1024);
        ASSERT_NE(r, nullptr);
        r->params.auto_align = true;
        tilt(r, 0.6, 2.0);
        set_realign_target(have ? target_left_behind : no_target, nullptr);
        double yaw = 0;
        for (int k = 0; k < 16; ++k) {
            hold(r, 0, 0, 0);
            set_sit(r, 1);
            step(t);
            yaw = dBodyGetAngularVel(r->body[BODY_FRAME].get())[1];
        }
        std::printf("realign %d: yaw rate %.3f\n", int(have), yaw);
        if (have)
            EXPECT_GT(yaw, 0.5);  // left, towards the target
        else
            EXPECT_LT(std::fabs(yaw), 0.5);
        destroy_rider(r);
    }
    set_realign_target(nullptr, nullptr);
}

// A rider at or below a quarter presence still gets its trouble flag and its
// feet placed; the rest of the update waits.
TEST_F(ride, absent_rider_still_gets_the_trouble_flag_and_the_feet)
{
    const Terrain &t = big_flat();
    for (float presence : {1.0f, 0.2f}) {
        RiderState *r = cr125(t, 1024);
        ASSERT_NE(r, nullptr);
        r->params.arcade = true;
        step(t, 16);
        set_presence(r, presence);
        r->ride.race_start_tic = tic;
        r->ride.in_trouble = false;
        r->ride.foot_down = 1;
        r->ride.foot = {};
        step(t, 200);
        EXPECT_FALSE(r->ride.in_trouble) << presence;  // not 2 s yet
        step(t, 100);
        EXPECT_TRUE(r->ride.in_trouble) << presence;
        EXPECT_EQ(r->ride.foot_down, 0.0f) << presence;
        for (const vec3f &f : r->ride.foot)
            EXPECT_LT(length(to_v3(f) - pos(r)), 4.0) << presence;  // on the pegs
        destroy_rider(r);
    }
}

// Getting up: below 320 tics down the foot on the low side is drawn towards
// the point 3 ft above and 1 ft behind its peg, at up to 4 ft/s.
TEST_F(ride, fallen_rider_draws_the_low_foot_in_below_320_tics)
{
    const Terrain &t = big_flat();
    for (int32_t timer : {300, 400}) {
        RiderState *r = cr125(t, 1024);
        ASSERT_NE(r, nullptr);
        step(t, 16);
        crash(r);
        for (int k = 0; k < 256; ++k)  // the bike and rider fall and lie still
            step(t);
        ASSERT_TRUE(r->down);
        r->crash_timer = timer;
        const BikeModel &m = bike_models()[size_t(r->model)];
        size_t side = lean_angle(r->body[BODY_FRAME].get()) > 0 ? 0 : 1;
        v3 peg = to_v3(side == 0 ? m.left_peg : m.right_peg) + v3{0, 3, 1};
        auto gap = [&] {
            dVector3 p;
            dBodyGetRelPointPos(r->body[BODY_FRAME].get(), peg.x, peg.y, peg.z, p);
            return length(to_v3(r->ride.foot[side]) - to_v3(p));
        };
        double before = gap();
        step(t, 64);
        double after = gap();
        std::printf("timer %d: foot %.2f ft from its point, then %.2f\n", timer, before, after);
        if (timer < 320)
            EXPECT_LT(after, before - 0.2) << timer;
        else
            EXPECT_GT(after, before - 0.05) << timer;
        destroy_rider(r);
    }
}

TEST_F(ride, crash_penalty_adds_tics_by_crash_count)
{
    const Terrain &t = big_flat();
    RiderState *r = cr125(t, 1024);
    ASSERT_NE(r, nullptr);
    std::array<int32_t, 16> pen{};
    pen[0] = 100, pen[1] = 7, pen[15] = 3;
    set_crash_penalties(pen);
    crash(r);
    EXPECT_EQ(r->crash_timer, 612);
    reseat(r);
    crash(r);
    EXPECT_EQ(r->crash_timer, 519);
    r->crashes = 40;
    reseat(r);
    crash(r);
    EXPECT_EQ(r->crash_timer, 515);  // count held at 15
    set_crash_penalties({});
    reset_rider(r);
    EXPECT_FALSE(r->down);
    EXPECT_EQ(r->crash_timer, 0);
}

// ---------------------------------------------------------------- engine parts

TEST_F(ride, engine_torque_follows_the_curves_and_clamps_past_the_table)
{
    const Terrain &t = big_flat();
    RiderState *r = cr125(t);
    ASSERT_NE(r, nullptr);
    const BikeModel &m = bike_models()[size_t(r->model)];
    struct row {
        double rpm, throttle, expect;
    } rows[] = {
        {0, 0, 2},           {1500, 0, 0},          {1250, 0, 0.5},         {2000, 1, 5},
        {10000, 1, 15.97},   {13000, 1, 0},         {30000, 0, m.closed_torque[49]},
        {24500, 1, m.open_torque[49]}, {99999, 0.5, 0.5 * (m.closed_torque[49] + m.open_torque[49])},
    };
    for (const row &c : rows) {
        r->engine_speed = c.rpm / RPM_PER_RAD_S;
        r->controls.throttle = float(c.throttle);
        EXPECT_NEAR(engine_torque(r), c.expect, 1e-3) << c.rpm << " rpm, throttle " << c.throttle;
    }
}

TEST_F(ride, shifting_by_hand_acts_once_per_press_and_skips_missing_gears)
{
    const Terrain &t = big_flat();
    RiderState *r = standing_rider(0, "crf250(2008)", t, 1024, 1024);  // five speeds
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->gear, 0);
    for (int k = 0; k < 10; ++k)
        shift(r, 1);
    EXPECT_EQ(r->gear, 1);  // held: once
    for (int k = 0; k < 8; ++k) {
        shift(r, 0);
        shift(r, 1);
    }
    EXPECT_EQ(r->gear, 4);  // fifth and no further
    shift(r, 0);
    shift(r, -1);
    EXPECT_EQ(r->gear, 3);
    shift(r, 5);  // out of range: ignored
    EXPECT_EQ(r->gear, 3);
    shift(r, 0);
    r->crash_timer = 10;
    shift(r, -1);
    EXPECT_EQ(r->gear, 3);  // not while down
    r->crash_timer = 0;
    for (int k = 0; k < 8; ++k) {
        shift(r, 0);
        shift(r, -1);
    }
    EXPECT_EQ(r->gear, 0);
}

TEST_F(ride, automatic_clutch_engages_with_rpm_but_not_against_engine_braking)
{
    const Terrain &t = big_flat();
    RiderState *r = cr125(t);
    ASSERT_NE(r, nullptr);
    step(t, 128);
    r->params.auto_clutch_rpm = 5000;
    struct row {
        double rpm, throttle, expect;
    } rows[] = {{5500, 1, 0.25}, {6000, 1, 0.5}, {7100, 1, 1}, {4000, 1, 0}, {12000, 0, 1}};
    for (const row &c : rows) {
        r->engine_speed = c.rpm / RPM_PER_RAD_S;
        r->controls.throttle = float(c.throttle);
        r->controls.clutch = 1;
        r->drive_angle = dJointGetHingeAngle(r->joint[JOINT_REAR_AXLE].get());
        drivetrain_update(r);
        EXPECT_NEAR(r->ride.clutch_used, c.expect, 1e-3) << c.rpm;
    }
    // lever pulled: the drive follows the wheel, no wind-up
    r->controls.clutch = 0;
    r->controls.throttle = 1;
    r->drive_angle = dJointGetHingeAngle(r->joint[JOINT_REAR_AXLE].get()) + 0.5;
    r->engine_speed = 8000 / RPM_PER_RAD_S;
    double before = r->engine_speed;
    drivetrain_update(r);
    EXPECT_EQ(r->ride.clutch_used, 0);
    EXPECT_GT(r->engine_speed, before);  // free revving: no load
}

TEST_F(ride, missing_gear_ratio_leaves_the_engine_uncoupled)
{
    const Terrain &t = big_flat();
    RiderState *r = standing_rider(0, "crf250(2008)", t, 1024, 1024);
    ASSERT_NE(r, nullptr);
    r->gear = 5;  // the model has no sixth
    EXPECT_EQ(total_ratio(r), 0);
    r->controls.throttle = 1;
    r->controls.clutch = 1;
    r->engine_speed = 500;
    drivetrain_update(r);
    EXPECT_TRUE(std::isfinite(r->engine_speed));
    EXPECT_TRUE(std::isfinite(r->drive_angle));
}

TEST_F(ride, lean_angle_is_signed_and_defined_pointing_straight_up)
{
    const Terrain &t = big_flat();
    RiderState *r = cr125(t);
    ASSERT_NE(r, nullptr);
    dBodyID f = r->body[BODY_FRAME].get();
    dMatrix3 R;
    dRFromAxisAndAngle(R, 0, 0, 1, 0.3);  // right side up: leaning left
    dBodySetRotation(f, R);
    EXPECT_NEAR(lean_angle(f), 0.3, 1e-9);
    dRFromAxisAndAngle(R, 0, 0, 1, -0.3);
    dBodySetRotation(f, R);
    EXPECT_NEAR(lean_angle(f), -0.3, 1e-9);
    dRFromAxisAndAngle(R, 1, 0, 0, PI / 2);  // nose straight up
    dBodySetRotation(f, R);
    EXPECT_EQ(lean_angle(f), 0);
}

// ---------------------------------------------------------------- brakes

TEST_F(ride, antilock_and_stoppie_limiter_release_the_brakes)
{
    const Terrain &t = big_flat();
    RiderState *r = cr125(t);
    ASSERT_NE(r, nullptr);
    auto fmax = [r](int j) { return dJointGetHingeParam(r->joint[size_t(j)].get(), dParamFMax); };
    r->params.front_brake_torque = 500;
    r->params.rear_brake_torque = 250;
    r->controls.front_brake = r->controls.rear_brake = 1;
    struct row {
        bool front_abs, rear_abs, wheelie, stoppie;
        double front_depth, rear_depth, front_slide, rear_slide;
        double expect_front, expect_rear;
    } rows[] = {
        {true, false, false, true, 0.1, 0.1, 0, 0, 500, 250},
        {true, false, false, true, 0.1, 0.1, 3, 3, 0, 250},    // front slides: released
        {true, true, false, true, 0.1, 0.1, 1, 3, 500, 0},     // rear antilock
        {true, false, false, true, 0.1, 0, 0, 0, 0, 250},      // rear in the air: stoppie limiter
        {true, false, false, true, 0, 0.1, 3, 0, 500, 250},    // front in the air: antilock off duty
        {false, false, false, true, 0.1, 0, 3, 0, 0, 250},
        {false, false, false, false, 0.1, 0, 3, 3, 500, 250},
    };
    for (const row &c : rows) {
        r->params.front_antilock = c.front_abs;
        r->params.rear_antilock = c.rear_abs;
        r->params.wheelie_limiter = c.wheelie;
        r->params.stoppie_limiter = c.stoppie;
        r->wheel[0].depth = c.front_depth;
        r->wheel[1].depth = c.rear_depth;
        r->wheel[0].velocity[0] = c.front_slide;
        r->wheel[1].velocity[0] = c.rear_slide;
        brakes_update(r);
        EXPECT_EQ(fmax(JOINT_FRONT_AXLE), c.expect_front);
        EXPECT_EQ(fmax(JOINT_REAR_AXLE), c.expect_rear);
    }
}

// ---------------------------------------------------------------- input mapping

TEST_F(ride, player_inputs_map_onto_the_controls)
{
    const Terrain &t = big_flat();
    RiderState *r = cr125(t);
    ASSERT_NE(r, nullptr);
    float in[9] = {0.5f, 0.7f, 0.2f, 0.3f, 0, 0, 0.4f, 0.1f, -0.6f};
    map_rider_inputs(r, in, {true, false});
    EXPECT_FLOAT_EQ(r->controls.steer, -0.5f);
    EXPECT_FLOAT_EQ(r->controls.throttle, 0.7f);
    EXPECT_FLOAT_EQ(r->controls.front_brake, 0.2f);
    EXPECT_FLOAT_EQ(r->controls.rear_brake, 0.3f);
    EXPECT_FLOAT_EQ(r->controls.sit, 0.4f);
    EXPECT_FLOAT_EQ(r->controls.back_up, 0.1f);
    EXPECT_FLOAT_EQ(r->controls.lean, -0.6f);
    map_rider_inputs(r, in, {false, false});
    EXPECT_FLOAT_EQ(r->controls.steer, 0.5f);
    in[0] = 3;  // clamped
    map_rider_inputs(r, in, {});
    EXPECT_FLOAT_EQ(r->controls.steer, 1);
}

TEST_F(ride, sticky_dab_flips_once_per_rise_through_half)
{
    const Terrain &t = big_flat();
    RiderState *r = cr125(t);
    ASSERT_NE(r, nullptr);
    float in[9] = {};
    struct row {
        float button, expect;
    } rows[] = {{0, 0}, {0.6f, 1}, {1, 1}, {0.7f, 1}, {0.2f, 1}, {0.9f, 0}, {0.9f, 0}, {0, 0}, {0.51f, 1}};
    for (const row &c : rows) {
        in[6] = c.button;
        map_rider_inputs(r, in, {false, true});
        EXPECT_EQ(r->controls.sit, c.expect) << c.button;
    }
}

TEST_F(ride, clutch_lever_drops_at_once_and_engages_at_four_per_second)
{
    const Terrain &t = big_flat();
    RiderState *r = cr125(t);
    ASSERT_NE(r, nullptr);
    float in[9] = {};
    in[5] = 1;  // pulled
    map_rider_inputs(r, in, {});
    EXPECT_EQ(r->controls.clutch, 0);
    in[5] = 0.875f;  // the last eighth does nothing
    map_rider_inputs(r, in, {});
    EXPECT_EQ(r->controls.clutch, 0);
    in[5] = 0;
    for (int k = 1; k <= 40; ++k) {
        map_rider_inputs(r, in, {});
        EXPECT_NEAR(r->controls.clutch, std::min(1.0, k * 4.0 / 128), 1e-6) << k;
    }
    in[5] = 0.4375f;  // target 0.5, lower: at once
    map_rider_inputs(r, in, {});
    EXPECT_NEAR(r->controls.clutch, 0.5, 1e-6);
}

TEST_F(ride, gear_requests_shift_once_per_press)
{
    const Terrain &t = big_flat();
    RiderState *r = cr125(t);
    ASSERT_NE(r, nullptr);
    float in[9] = {};
    auto feed = [&](float v, int n) {
        in[4] = v;
        for (int k = 0; k < n; ++k)
            map_rider_inputs(r, in, {});
    };
    feed(0.8f, 20);
    EXPECT_EQ(r->gear, 1);
    feed(0.4f, 1);  // inside the dead band: released
    feed(0.6f, 3);
    EXPECT_EQ(r->gear, 2);
    feed(0, 1);
    feed(-0.9f, 5);
    EXPECT_EQ(r->gear, 1);
    EXPECT_EQ(r->controls.shift, -1);
}

TEST_F(ride, controls_store_zero_while_down)
{
    const Terrain &t = big_flat();
    RiderState *r = cr125(t);
    ASSERT_NE(r, nullptr);
    crash(r);
    float in[9] = {0.5f, 1, 1, 1, 0, 0, 1, 1, 1};
    map_rider_inputs(r, in, {});
    EXPECT_EQ(r->controls.throttle, 0);
    EXPECT_EQ(r->controls.sit, 0);
    EXPECT_EQ(r->controls.back_up, 0);
    EXPECT_EQ(r->controls.lean, 0);
    EXPECT_EQ(r->controls.front_brake, 1);
    EXPECT_FLOAT_EQ(r->controls.steer, 0.5f);
}

// ---------------------------------------------------------------- setup

TEST_F(ride, apply_setup_fills_a_player_and_leaves_a_computer_rider_alone)
{
    const Terrain &t = big_flat();
    int idx = bike_model_index("cr125");
    ASSERT_TRUE(build_rider(0, idx));
    ASSERT_TRUE(build_rider(1, idx));
    RiderState *player = rider_slot(0), *cpu = rider_slot(1);
    cpu->ride.computer = true;
    setup_set_defaults();
    ASSERT_EQ(setup_set_key("brake_torque", "320"), 1);
    ASSERT_EQ(setup_set_key("auto_clutch_rpms", "3000"), 1);
    ASSERT_EQ(setup_set_key("stop_wheelies", "No"), 1);
    ASSERT_EQ(setup_set_key("rear_sprocket_adjustment", "2"), 1);
    apply_setup(player, true);
    apply_setup(cpu, true);
    const BikeModel &m = bike_models()[size_t(idx)];
    EXPECT_EQ(player->params.front_brake_torque, 320);
    EXPECT_EQ(player->params.auto_clutch_rpm, 3000);
    EXPECT_FALSE(player->params.wheelie_limiter);
    EXPECT_FALSE(player->params.stoppie_limiter);
    EXPECT_FLOAT_EQ(player->params.final_drive, (m.rear_sprocket_teeth + 2) / m.countershaft_teeth);
    rider_setup_params b = rider_build_params(m);
    EXPECT_EQ(cpu->params.front_brake_torque, b.front_brake_torque);
    EXPECT_EQ(cpu->params.auto_clutch_rpm, 5000);
    EXPECT_TRUE(cpu->params.stoppie_limiter);
    EXPECT_FLOAT_EQ(cpu->params.final_drive, b.final_drive);
    (void)t;
}

} // namespace

namespace {

TEST(crash_limits, drop_to_two_thirds_briefly_after_a_long_jump)
{
    struct row {
        int32_t takeoff, landing, now;
        double speed, accel;
    } rows[] = {
        {100, 50, 120, 46.5, 2064},           // in the air
        {0, 64, 64, 46.5, 2064},              // half a second up: no change
        {0, 102, 102, 31, 1376},              // 0.8 s up, at touchdown
        {0, 102, 102 + 16, 31, 1376},         // 0.125 s after
        {0, 102, 102 + 24, 38.75, 1720},      // halfway back
        {0, 102, 102 + 32, 46.5, 2064},       // a quarter second: full again
        {0, 80, 80, 31 * (1.5 - 0.5 * (0.625 - 0.559) * 7.9365087), 1376 * (1.5 - 0.5 * (0.625 - 0.559) * 7.9365087)},
    };
    for (const row &c : rows) {
        double A = 0, G = 0;
        crash_limits(c.takeoff, c.landing, c.now, &A, &G);
        EXPECT_NEAR(A, c.speed, 1e-6) << c.takeoff << " " << c.landing << " " << c.now;
        EXPECT_NEAR(G, c.accel, 1e-4);
    }
}

} // namespace
