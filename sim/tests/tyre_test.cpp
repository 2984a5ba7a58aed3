// The tyre: friction and rolling resistance curves, the torus search
// against terrain triangles and its guards.
#include "sim/physics_local.h"
#include "sim/tests/physics_test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

TileType two_point_curve(int slip)
{
    TileType t = tile_type_defaults();
    t.slip_function = slip;
    t.friction[0] = {1.2f, 2.0f};
    t.friction[1] = {0.8f, 5.0f};
    return t;
}

double mu_at(const TileType &t, double speed)
{
    double v[3] = {speed, 0, 0};
    return surface_friction(t, v, v);
}

TEST(tyre, friction_curves)
{
    struct row {
        int slip;
        double speed, mu;
    };
    const row rows[] = {
        {1, 0.5, 1.2}, {1, 3.5, 1.0}, {1, 5.0, 0.8}, {1, 50, 0.8},
        {0, 1.0, 1.2}, {0, 3.5, 1.2 - 0.4 * (12.25 - 4) / (25 - 4)}, {0, 7, 0.8},
        {2, 0.03, 1.2}, {2, 3.5, 1.0},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << "slip " << r.slip << " at " << r.speed);
        EXPECT_NEAR(mu_at(two_point_curve(r.slip), r.speed), r.mu, 1e-6);
    }
    // no entry: 1 everywhere
    TileType none = tile_type_defaults();
    for (auto &p : none.friction)
        p.abscissa = FRICTION_EMPTY_ABSCISSA;
    EXPECT_EQ(mu_at(none, 0), 1.0);
    EXPECT_EQ(mu_at(none, 40), 1.0);
    EXPECT_EQ(mu_at(tile_type_defaults(), 17), 1.0);
    // two equal abscissae: a step, never NaN
    TileType step = tile_type_defaults();
    step.slip_function = 1;
    step.friction[0] = {1.0f, 2.0f};
    step.friction[1] = {0.5f, 2.0f};
    step.friction[2] = {0.4f, 4.0f};
    for (double s : {1.0, 2.0, 3.0, 9.0})
        EXPECT_TRUE(std::isfinite(mu_at(step, s)));
    EXPECT_NEAR(mu_at(step, 3.0), 0.45, 1e-6);
}

TEST(tyre, slip_function_two_reads_the_sliding_speed)
{
    TileType t = two_point_curve(2);
    // sliding sideways without spin: the full sliding speed
    double v[3] = {6, 0, 0};
    EXPECT_NEAR(surface_friction(t, v, v), 0.8, 1e-6);
    // spinning on the spot: the contact point moves, the wheel does not
    double still[3] = {0, 0, 0};
    EXPECT_NEAR(surface_friction(t, v, still), 1.2, 1e-6);
}

TEST(tyre, rolling_resistance_and_arcade_grip)
{
    TileType t = tile_type_defaults();
    double lo, hi;
    rolling_resistance(t, 0.5, &lo, &hi);
    EXPECT_EQ(lo, 5);
    EXPECT_EQ(hi, 15);
    t.roll_resist[1] = {10, 30, 11};
    rolling_resistance(t, 6, &lo, &hi);
    EXPECT_NEAR(lo, 7.5, 1e-6);
    EXPECT_NEAR(hi, 22.5, 1e-6);
    rolling_resistance(t, 100, &lo, &hi);
    EXPECT_EQ(lo, 10);
    t.roll_resist[1].speed = 1;  // equal speeds
    rolling_resistance(t, 1, &lo, &hi);
    EXPECT_TRUE(std::isfinite(lo) && std::isfinite(hi));
    EXPECT_DOUBLE_EQ(arcade_friction_factor(0), 1.0);
    EXPECT_DOUBLE_EQ(arcade_friction_factor(std::numbers::pi / 4), 0.625);
    EXPECT_DOUBLE_EQ(arcade_friction_factor(-1.2), 0.625);
}

class wheel : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(physics_init());
        body = dBodyCreate(physics_world());
        w.body = body;
        w.ring_radius = 0.8333;
        w.tube_radius = 0.3333;
    }
    void TearDown() override
    {
        dJointGroupEmpty(physics_contact_group());
        dBodyDestroy(body);
    }
    void at(double x, double y, double z, const dReal *rot = nullptr)
    {
        dBodySetPosition(body, x, y, z);
        if (rot)
            dBodySetRotation(body, rot);
    }
    dBodyID body = nullptr;
    WheelContact w;
    Terrain ground = make_terrain(4, 1.0f, [](double, double) { return 1.0; });
};

TEST_F(wheel, resting_tyre_touches_with_the_tube)
{
    at(10, 1 + 0.8333 + 0.3333 - 0.1, 10);
    ASSERT_TRUE(wheel_probe(&ground, &w));
    EXPECT_NEAR(w.depth, 0.1, 1e-6);
    EXPECT_NEAR(w.normal[1], 1, 1e-9);
    EXPECT_NEAR(w.point[1], 1, 1e-6);
    EXPECT_NEAR(w.point[2], 10, 1e-6);
    at(10, 1 + 0.8333 + 0.3333 + 0.01, 10);
    EXPECT_FALSE(wheel_probe(&ground, &w));
    EXPECT_EQ(w.depth, 0);
}

TEST_F(wheel, sunk_ring_is_pushed_straight_up)
{
    at(10.3, 0.5, 10.6);
    ASSERT_TRUE(wheel_probe(&ground, &w));
    EXPECT_NEAR(w.depth, 2 * 0.8333, 1e-9);
    EXPECT_EQ(w.normal[1], 1);
}

TEST_F(wheel, wheel_lying_flat_stays_finite)
{
    dMatrix3 R;
    dRFromAxisAndAngle(R, 0, 0, 1, std::numbers::pi / 2);  // axle straight up
    at(10, 1 + 0.3333 - 0.05, 10, R);
    ASSERT_TRUE(wheel_probe(&ground, &w));
    EXPECT_NEAR(w.depth, 0.05, 1e-3);
    for (double n : w.normal)
        EXPECT_TRUE(std::isfinite(n));
    EXPECT_TRUE(wheel_contact(&ground, &w, 1.0));
}

TEST_F(wheel, search_stays_inside_the_grid)
{
    for (double x : {-1e6, 1e9, double(NAN), double(INFINITY)}) {
        at(x, 1.5, x);
        EXPECT_FALSE(wheel_probe(&ground, &w));
    }
    // just past the edge: the edge cells still carry it
    at(ground.extent + 0.2, 1 + 1.1666 - 0.1, 5);
    EXPECT_TRUE(wheel_probe(&ground, &w));
    EXPECT_FALSE(wheel_probe(nullptr, &w));
}

TEST_F(wheel, contact_on_a_ridge_uses_the_edge)
{
    // a sharp ridge along x at z = 8: the ring hangs over it sideways
    Terrain ridge = make_terrain(4, 1.0f, [](double, double z) { return z == 8 ? 2.0 : 0.0; });
    at(10, 2 + 1.1666 - 0.1, 8);
    ASSERT_TRUE(wheel_probe(&ridge, &w));
    EXPECT_NEAR(w.depth, 0.1, 0.01);
    EXPECT_GT(w.normal[1], 0.9);
}

TEST_F(wheel, contact_makes_a_joint_with_the_surface_friction)
{
    TileType ice = tile_type_defaults();
    ice.friction[0] = {0.1f, 1.0f};
    Terrain t = make_terrain(4, 1.0f, [](double, double) { return 1.0; }, &ice);
    at(10, 1 + 1.1666 - 0.1, 10);
    dBodySetLinearVel(body, 0, 0, -0.5);
    EXPECT_TRUE(wheel_contact(&t, &w, 0.5));
    EXPECT_NEAR(w.mu, 0.05, 1e-6);
    // rolling resistance: at 0.5 ft/s half of low + f (high - low)
    double f = 0.1 / 0.3333;
    const dReal *force = dBodyGetForce(body);
    EXPECT_NEAR(force[2], 0.5 * (5 + f * 10), 1e-3);
    double slip[3];
    EXPECT_TRUE(wheel_slip_velocity(w, slip));
    EXPECT_NEAR(slip[2], -0.5, 1e-9);
}

} // namespace
