// The bike in the world: standing, sagging, rolling, colliding; the
// suspension curves, masses and presence.
#include "sim/physics_local.h"
#include "sim/tests/physics_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <numbers>

namespace {

class physics : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(physics_init());
        install_starter_shapes();
        physics_set_hooks({});
    }
    void TearDown() override
    {
        for (int s = 0; s < MAX_RIDERS; ++s)
            destroy_rider(rider_slot(s));
        physics_set_hooks({});
    }
    int32_t tic = 0;
};

Terrain flat()
{
    return make_terrain(5, 1.0f, [](double, double) { return 2.0; });
}

double speed(const RiderState *r, int body = BODY_FRAME)
{
    return length(body_vel(r->body[size_t(body)].get()));
}
v3 pos(const RiderState *r, int body = BODY_FRAME)
{
    return body_pos(r->body[size_t(body)].get());
}

void set_velocity(RiderState *r, v3 v)
{
    const double rho = r->wheel[0].ring_radius + r->wheel[0].tube_radius;
    for (ode_body &b : r->body)
        dBodySetLinearVel(b.get(), v.x, v.y, v.z);
    // rolling: no slip at the contact (v = -omega x rho y)
    for (int w = 0; w < 2; ++w) {
        v3 om = cross(v3{0, 1, 0}, v) * (1.0 / rho);
        dBodySetAngularVel(r->wheel[size_t(w)].body, om.x, om.y, om.z);
    }
}

TEST_F(physics, bike_settles_on_flat_ground_with_plausible_sag)
{
    Terrain t = flat();
    RiderState *r = standing_rider(0, "cr125", t, 32, 26);
    ASSERT_NE(r, nullptr);
    const BikeModel &m = bike_models()[size_t(r->model)];
    double lo_fork = 0, hi_fork = -1, lo_arm = 0, hi_arm = -1;
    for (int k = 0; k < 320; ++k) {
        run_tics(&t, 1, &tic);
        double x = dJointGetSliderPosition(r->joint[JOINT_FORK].get());
        double a = dJointGetHingeAngle(r->joint[JOINT_SWING_ARM].get());
        lo_fork = std::min(lo_fork, x), hi_fork = std::max(hi_fork, x);
        lo_arm = std::min(lo_arm, a), hi_arm = std::max(hi_arm, a);
    }
    // settled within 2.5 s
    EXPECT_LT(speed(r), 0.05);
    EXPECT_LT(speed(r, BODY_RIDER), 0.05);
    for (const WheelContact &w : r->wheel) {
        EXPECT_GT(w.depth, 0.06);
        EXPECT_LT(w.depth, 0.14);
    }
    double fork = r->suspension.fork_travel, shock = r->suspension.shock_travel;
    EXPECT_GT(fork, 0.05);
    EXPECT_LT(fork, 0.5);
    EXPECT_GT(shock, 0.1);
    EXPECT_LT(shock, 0.6);
    EXPECT_GE(lo_fork, -m.fork_travel - 0.01);
    EXPECT_LE(hi_fork, 0.01);
    EXPECT_GE(lo_arm, -m.linkage[2] - 0.01);
    EXPECT_LE(hi_arm, 0.01);
    std::printf("settled: tyres %.4f %.4f ft, fork %.3f, shock %.3f of travel, frame speed %.5f\n",
                r->wheel[0].depth, r->wheel[1].depth, fork, shock, speed(r));

    // and stays put
    v3 before = pos(r);
    run_tics(&t, 256, &tic);
    v3 moved = pos(r) - before;
    EXPECT_LT(length(moved), 0.01);
    std::printf("drift over 2 s: %.5f ft\n", length(moved));
    EXPECT_FALSE(r->trouble);
    EXPECT_EQ(r->crashes, 0);
}

TEST_F(physics, fork_tops_out_in_the_air_with_no_force)
{
    Terrain t = flat();
    RiderState *r = standing_rider(0, "cr125", t, 32, 26);
    ASSERT_NE(r, nullptr);
    run_tics(&t, 256, &tic);
    ASSERT_GT(r->suspension.fork_travel, 0.05);
    set_velocity(r, {0, 24, 0});  // thrown up: about 0.75 s in the air
    run_tics(&t, 64, &tic);
    EXPECT_EQ(r->wheel[0].depth, 0);
    EXPECT_EQ(r->wheel[1].depth, 0);
    EXPECT_LT(r->suspension.fork_travel, 0.002);
    EXPECT_LT(std::fabs(r->suspension.fork_force), 1.0);
    EXPECT_LT(r->suspension.shock_travel, 0.002);
}

TEST_F(physics, suspension_stays_inside_its_stops_after_a_drop)
{
    Terrain t = flat();
    RiderState *r = standing_rider(0, "cr125", t, 32, 26);
    ASSERT_NE(r, nullptr);
    const BikeModel &m = bike_models()[size_t(r->model)];
    place_rider(r, 32, 2 + 4, 26, 0);  // four feet up
    double lo_fork = 0, hi_fork = -1, lo_arm = 0, hi_arm = -1;
    for (int k = 0; k < 384; ++k) {
        run_tics(&t, 1, &tic);
        double x = dJointGetSliderPosition(r->joint[JOINT_FORK].get());
        double a = dJointGetHingeAngle(r->joint[JOINT_SWING_ARM].get());
        lo_fork = std::min(lo_fork, x), hi_fork = std::max(hi_fork, x);
        lo_arm = std::min(lo_arm, a), hi_arm = std::max(hi_arm, a);
        ASSERT_TRUE(finite(pos(r)));
    }
    EXPECT_GE(lo_fork, -m.fork_travel - 0.02);
    EXPECT_LE(hi_fork, 0.01);
    EXPECT_GE(lo_arm, -m.linkage[2] - 0.02);
    EXPECT_LE(hi_arm, 0.01);
    EXPECT_LT(lo_fork, -0.2);  // the landing did use the travel
    EXPECT_LT(speed(r), 0.2);
    std::printf("drop: fork %.3f..%.3f ft, swing arm %.3f..%.3f rad\n", lo_fork, hi_fork, lo_arm, hi_arm);
}

// Released on a slope rising towards +z, the bike rolls forwards (-z). Any
// grip spins up the free wheels (the ratio counts the tyre's full radius,
// so rolling on a pressed tyre reads a little above 1); a surface without
// friction lets them slide unturned.
TEST_F(physics, bike_rolls_down_a_slope_with_the_surface_friction)
{
    struct surface {
        float mu;
        double min_roll_ratio, max_roll_ratio;
    };
    const surface cases[] = {{1.0f, 1.0, 1.2}, {0.0f, -0.05, 0.05}};
    for (const surface &c : cases) {
        SCOPED_TRACE(c.mu);
        TileType tile = tile_type_defaults();
        tile.friction[0] = {c.mu, 1.0f};
        Terrain t = make_terrain(5, 1.0f, [](double, double z) { return 0.2 * z; }, &tile);
        RiderState *r = standing_rider(0, "cr125", t, 32, 30);
        ASSERT_NE(r, nullptr);
        double z0 = pos(r).z;
        run_tics(&t, 256, &tic);
        v3 v = body_vel(r->body[BODY_FRAME].get());
        EXPECT_LT(pos(r).z, z0 - 3);
        EXPECT_LT(v.z, -3);
        EXPECT_LT(std::fabs(v.x), 0.01);
        // wheel surface speed against ground speed
        const WheelContact &w = r->wheel[1];
        double spin = -to_v3(dBodyGetAngularVel(w.body)).x * (w.ring_radius + w.tube_radius);
        double ratio = spin / -v.z;
        EXPECT_GT(ratio, c.min_roll_ratio);
        EXPECT_LT(ratio, c.max_roll_ratio);
        EXPECT_NEAR(r->wheel[0].mu, c.mu, 1e-6);
        std::printf("slope 0.2, mu %.2f: %.2f ft/s after 2 s, rolling ratio %.2f\n", double(c.mu), -v.z, ratio);
        destroy_rider(r);
    }
}

TEST_F(physics, bikes_driven_into_each_other_push_apart)
{
    Terrain t = flat();
    RiderState *a = standing_rider(0, "cr125", t, 32, 22.0, 0);  // facing -z
    RiderState *b = standing_rider(1, "cr125", t, 32, 16.8, std::numbers::pi);  // facing +z
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    run_tics(&t, 128, &tic);
    double gap0 = pos(a, BODY_FRONT_WHEEL).z - pos(b, BODY_FRONT_WHEEL).z;
    ASSERT_GT(gap0, 2.4);
    set_velocity(a, {0, 0, -8});
    set_velocity(b, {0, 0, 8});
    double closest = gap0;
    for (int k = 0; k < 192; ++k) {
        run_tics(&t, 1, &tic);
        closest = std::min(closest, pos(a, BODY_FRONT_WHEEL).z - pos(b, BODY_FRONT_WHEEL).z);
    }
    EXPECT_GT(closest, 1.5);  // the tyres (2.33 ft across together) never pass
    EXPECT_GT(pos(a, BODY_FRONT_WHEEL).z - pos(b, BODY_FRONT_WHEEL).z, closest);
    EXPECT_GE(body_vel(a->body[BODY_FRAME].get()).z, -0.5);
    EXPECT_LE(body_vel(b->body[BODY_FRAME].get()).z, 0.5);
    EXPECT_NE(a->last_collision_tic, INT32_MIN);
    std::printf("head-on at 16 ft/s: closest front axles %.3f ft apart\n", closest);
}

// A statue's sphere just in front of the rider's torso, the whole bike
// flying at it.
TEST_F(physics, statue_hit_crashes_above_20_ft_per_s)
{
    struct hit_case {
        double speed;
        int crashes;
    };
    for (hit_case c : {hit_case{21, 1}, hit_case{19, 0}}) {
        SCOPED_TRACE(c.speed);
        int idx = bike_model_index("cr125");
        ASSERT_TRUE(build_rider(0, idx));
        RiderState *r = rider_slot(0);
        place_rider(r, 0, 100, 0, 0);
        Shape statue_shape;
        statue_shape.spheres.push_back({{0, 0, 0}, 1.0f, 0.5f, 2500, 100});
        statue_shape.bounding_radius = 1;
        ShapeInstance statue = InstanceShape(&statue_shape);
        v3 torso = pos(r, BODY_RIDER);
        const double at[3] = {torso.x, torso.y, torso.z - 1.75};
        dMatrix3 I;
        dRSetIdentity(I);
        place_shape(&statue, at, I);
        set_velocity(r, {0, 0, -c.speed});
        int hits = 0;
        for (int k = 0; k < 16; ++k) {
            hits |= collide_with_object(r, &statue, nullptr);
            run_tics(nullptr, 1, &tic);
        }
        EXPECT_TRUE(hits & hit_bit(BODY_RIDER));
        EXPECT_EQ(r->crashes, c.crashes);
        destroy_rider(r);
    }
}

TEST_F(physics, mass_distribution_moves_mass_without_changing_the_total)
{
    int idx = bike_model_index("cr125");
    ASSERT_TRUE(build_rider(3, idx));
    RiderState *r = rider_slot(3);
    const BikeModel &m = bike_models()[size_t(idx)];
    double built = r->total_mass;
    dMass q;
    dBodyGetMass(r->body[BODY_RIDER].get(), &q);
    EXPECT_NEAR(q.mass, m.rider_mass / 3.0, 1e-9);
    for (float d : {0.33f, 0.5f}) {
        rider_setup_params p = rider_build_params(m);
        p.rider_mass_distribution = d;
        p.frame_body_mass = m.frame_mass + m.rider_mass * (1 - d);
        p.rider_body_mass = m.rider_mass * d;
        apply_rider_params(r, p);
        dBodyGetMass(r->body[BODY_RIDER].get(), &q);
        EXPECT_NEAR(q.mass, m.rider_mass * d, 1e-6);
        EXPECT_NEAR(r->total_mass, built, 1e-5);
    }
    // wheels, forks and swing arm as the geometry gives them
    dBodyGetMass(r->body[BODY_FRONT_WHEEL].get(), &q);
    EXPECT_NEAR(q.mass, m.front_ring_mass + m.front_hub_mass, 1e-6);
    dBodyGetMass(r->body[BODY_SWING_ARM].get(), &q);
    EXPECT_NEAR(q.mass, 2 * m.swing_arm_mass, 1e-6);
    dBodyGetMass(r->body[BODY_UPPER_FORK].get(), &q);
    EXPECT_NEAR(q.mass, m.fork_mass, 1e-6);
}

TEST_F(physics, absent_rider_is_frozen_and_comes_back)
{
    Terrain t = flat();
    RiderState *r = standing_rider(0, "cr125", t, 32, 26);
    ASSERT_NE(r, nullptr);
    place_rider(r, 32, 10, 26, 0);
    set_presence(r, 0.2f);
    v3 p0 = pos(r);
    run_tics(&t, 32, &tic);
    EXPECT_EQ(pos(r).y, p0.y);
    set_presence(r, std::nanf(""));
    EXPECT_EQ(r->presence, 0.0f);
    set_presence(r, 7);
    EXPECT_EQ(r->presence, 1.0f);
    run_tics(&t, 32, &tic);
    EXPECT_LT(pos(r).y, p0.y - 1);
}

TEST_F(physics, reset_puts_every_body_back_at_rest)
{
    Terrain t = flat();
    RiderState *r = standing_rider(0, "cr125", t, 32, 26);
    ASSERT_NE(r, nullptr);
    r->controls.throttle = 1;
    r->down = true;
    run_tics(&t, 64, &tic);
    reset_rider(r);
    const BikeModel &m = bike_models()[size_t(r->model)];
    EXPECT_EQ(pos(r).z, m.frame.z);
    EXPECT_EQ(pos(r, BODY_RIDER).y, m.rider.y);
    EXPECT_EQ(speed(r), 0);
    EXPECT_EQ(r->controls.throttle, 0);
    EXPECT_FALSE(r->down);
    EXPECT_EQ(dJointGetBody(r->joint[JOINT_RIDER_MOUNT].get(), 0), r->body[BODY_RIDER].get());
}

TEST_F(physics, replayed_rider_is_probed_once_per_tic)
{
    Terrain t = flat();
    RiderState *r = standing_rider(0, "cr125", t, 32, 26);
    ASSERT_NE(r, nullptr);
    r->simulated = false;
    const BikeModel &m = bike_models()[size_t(r->model)];
    place_rider(r, 32, 2 - 0.1, 26, 0);  // tyres 0.1 - 0.077 into the ground
    const WheelContact *w = rider_wheel(r, 0, &t, 7);
    ASSERT_NE(w, nullptr);
    EXPECT_NEAR(w->depth, 0.1 - (m.front_wheel.y - m.front_ring_radius - m.front_tube_radius), 1e-4);
    dBodySetPosition(r->wheel[1].body, 32, 10, 32);
    EXPECT_GT(rider_wheel(r, 1, &t, 7)->depth, 0);  // same tic: not searched again
    EXPECT_EQ(rider_wheel(r, 1, &t, 8)->depth, 0);
    EXPECT_EQ(rider_wheel(r, 2, &t, 8), nullptr);
}

TEST_F(physics, replayed_pose_with_a_degenerate_rotation_is_ignored)
{
    ASSERT_TRUE(build_rider(0, bike_model_index("cr125")));
    dBodyID b = rider_slot(0)->body[BODY_FRAME].get();
    const double p[3] = {1, 2, 3};
    const double turn[4] = {2, 0, 2, 0};  // 90 degrees about y, not normalised
    set_body_pose(b, p, turn);
    EXPECT_NEAR(dBodyGetQuaternion(b)[0], std::sqrt(0.5), 1e-12);
    EXPECT_EQ(body_pos(b).z, 3);
    const double tiny[4] = {1e-9, 0, 0, 0};
    const double nan_pos[3] = {NAN, 0, 0};
    set_body_pose(b, nan_pos, tiny);
    EXPECT_NEAR(dBodyGetQuaternion(b)[2], std::sqrt(0.5), 1e-12);
    EXPECT_EQ(body_pos(b).x, 1);
}

TEST_F(physics, tether_pulls_only_beyond_its_length)
{
    dBodyID a = dBodyCreate(physics_world()), b = dBodyCreate(physics_world());
    dMass m;
    dMassSetSphereTotal(&m, 1, 0.5);
    dBodySetMass(a, &m);
    dBodySetMass(b, &m);
    dBodySetGravityMode(a, 0);
    dBodySetGravityMode(b, 0);
    dBodySetPosition(a, 0, 0, 0);
    dBodySetPosition(b, 3, 0, 0);
    const double origin[3] = {0, 0, 0};
    tether(a, origin, b, origin, 4);  // slack: nothing
    dWorldStep(physics_world(), PHYSICS_TIC);
    dJointGroupEmpty(physics_contact_group());
    EXPECT_EQ(body_vel(a).x, 0);
    tether(a, origin, b, origin, 2);
    dWorldStep(physics_world(), PHYSICS_TIC);
    dJointGroupEmpty(physics_contact_group());
    EXPECT_GT(body_vel(a).x, 0);
    EXPECT_LT(body_vel(b).x, 0);
    dBodyDestroy(a);
    dBodyDestroy(b);
}

TEST_F(physics, drift_correction_cancels_the_joints_net_force)
{
    ASSERT_TRUE(build_rider(0, bike_model_index("cr125")));
    RiderState *r = rider_slot(0);
    dBodyID frame = r->body[BODY_FRAME].get();
    r->feedback[JOINT_FORK].f1[1] = 3;  // a joint that pushes more than it holds
    joint_drift_correction(r);
    EXPECT_EQ(dBodyGetForce(frame)[1], -3);
    v3 arm = body_pos(r->body[BODY_UPPER_FORK].get()) - body_pos(frame);
    EXPECT_NEAR(dBodyGetTorque(frame)[0], -cross(arm, v3{0, 3, 0}).x, 1e-12);
    // the rider off the bike: the mount lacks a body, nothing is applied
    dBodySetForce(frame, 0, 0, 0);
    dBodySetTorque(frame, 0, 0, 0);
    dJointAttach(r->joint[JOINT_RIDER_MOUNT].get(), nullptr, nullptr);
    joint_drift_correction(r);
    EXPECT_EQ(dBodyGetForce(frame)[1], 0);
}

// --------------------------------------------------------------- suspension curves

TEST(suspension, linkage_curve_meets_its_points_and_slopes)
{
    const BikeModel &m = bike_models()[0];
    const float *p = m.linkage;
    double y, dy;
    linkage_curve(p, 0, &y, &dy);
    EXPECT_NEAR(y, 0, 1e-9);
    EXPECT_NEAR(dy, p[4], 1e-6);
    linkage_curve(p, p[3], &y, &dy);
    EXPECT_NEAR(y, p[0], 1e-6);
    EXPECT_NEAR(dy, p[5], 1e-6);
    linkage_curve(p, p[3] + 1e-9, &y, &dy);
    EXPECT_NEAR(y, p[0], 1e-6);
    EXPECT_NEAR(dy, p[5], 1e-5);
    linkage_curve(p, 1, &y, &dy);
    EXPECT_NEAR(y, p[1], 1e-6);
    EXPECT_NEAR(dy, p[6], 1e-6);
    // a split at either end leaves one piece, and no division by zero
    for (float split : {0.0f, 1.0f}) {
        float q[7];
        std::copy(p, p + 7, q);
        q[3] = split;
        for (double x : {0.0, 0.5, 1.0}) {
            linkage_curve(q, x, &y, &dy);
            EXPECT_TRUE(std::isfinite(y) && std::isfinite(dy));
        }
    }
}

TEST(suspension, fork_force_tops_out_and_only_brakes_when_negative)
{
    const BikeModel &m = bike_models()[size_t(bike_model_index("cr125"))];
    rider_setup_params p = rider_build_params(m);
    double d;
    EXPECT_EQ(fork_force(m, p, 0, 0, &d), 0);
    EXPECT_EQ(fork_force(m, p, 0, 5, &d), 0);
    // a thirty-second of travel ramps in
    double near = fork_force(m, p, -m.fork_travel / 64, 0, &d);
    double full = fork_force(m, p, -m.fork_travel / 16, 0, &d);
    EXPECT_GT(near, 0);
    EXPECT_GT(full, 2 * near * 0.99);
    // fast rebound with heavy damping: negative
    p.fork_rebound = 4;
    double f = fork_force(m, p, -0.3, 20, &d);
    EXPECT_LT(f, 0);
    EXPECT_LT(d, 0);
    // compression pushes out
    EXPECT_GT(fork_force(m, p, -0.3, -5, &d), fork_force(m, p, -0.3, 0, &d));
    // fully compressed without an oil gap: finite
    p.fork_oil_level = 0;
    EXPECT_TRUE(std::isfinite(fork_force(m, p, -m.fork_travel, 0, &d)));
}

TEST_F(physics, negative_fork_force_sets_a_braking_motor)
{
    int idx = bike_model_index("cr125");
    ASSERT_TRUE(build_rider(0, idx));
    RiderState *r = rider_slot(0);
    r->params.fork_rebound = 4;
    // lower fork pulled away from the upper: extending fast from mid travel
    dBodyID lower = r->body[BODY_LOWER_FORK].get();
    v3 p = body_pos(lower);
    const BikeModel &m = bike_models()[size_t(idx)];
    v3 axis = unit_or(to_v3(m.upper_fork) - to_v3(m.lower_fork), {0, 1, 0});
    dBodySetPosition(lower, p.x + axis.x * 0.3, p.y + axis.y * 0.3, p.z + axis.z * 0.3);
    dBodySetLinearVel(lower, -axis.x * 20, -axis.y * 20, -axis.z * 20);
    suspension_forces(r);
    dJointID fork = r->joint[JOINT_FORK].get();
    EXPECT_LT(r->suspension.fork_force, 0);
    EXPECT_EQ(dJointGetSliderParam(fork, dParamVel), 0);
    EXPECT_NEAR(dJointGetSliderParam(fork, dParamFMax), -r->suspension.fork_force, 1e-3);
}

} // namespace

// Start-up refuses to run riders without the crash and update hooks; the
// check names each one that is missing.
TEST(physics_hooks_check, names_each_missing_required_hook)
{
    physics_set_hooks({});
    std::vector<const char *> none = missing_physics_hooks();
    EXPECT_EQ(std::vector<std::string>(none.begin(), none.end()), (std::vector<std::string>{"crash", "update"}));
    physics_hooks only_crash;
    only_crash.crash = standard_rider_hooks().crash;
    physics_set_hooks(only_crash);
    std::vector<const char *> missing = missing_physics_hooks();
    ASSERT_EQ(missing.size(), 1u);
    EXPECT_STREQ(missing[0], "update");
    physics_set_hooks(standard_rider_hooks());
    EXPECT_TRUE(missing_physics_hooks().empty());
    physics_set_hooks({});
}
