// The tyre: friction and rolling resistance curves, the torus search
// against terrain triangles and its guards.
#include "sim/physics_local.h"
#include "sim/tests/physics_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// Upright wheels whose whole ring lies below the triangle's plane, down to
// far deeper than the tyre's outer radius: pushed straight up by 2R, on a
// slope too.
TEST_F(wheel, sunk_ring_is_pushed_straight_up)
{
    Terrain slope = make_terrain(4, 1.0f, [](double x, double z) { return 1 + 0.1 * x + 0.05 * z; });
    const double R = 0.8333, r = 0.3333;
    struct row {
        const char *what;
        double below;  // the ring's top under the ground
    };
    const row rows[] = {
        {"just under", 0.01},
        {"tube deep", r},
        {"deeper than R + r", 2 * R + r},
        {"far down", 50},
    };
    for (const Terrain *t : {&ground, &slope}) {
        for (const row &k : rows) {
            SCOPED_TRACE(testing::Message() << k.what << (t == &ground ? " on flat ground" : " on a slope"));
            double x = 10.3, z = 10.6;
            at(x, terrain_height_at(t, float(x), float(z)) - R - k.below, z);
            ASSERT_TRUE(wheel_probe(t, &w));
            EXPECT_NEAR(w.depth, 2 * R, 1e-9);
            EXPECT_EQ(w.normal[0], 0);
            EXPECT_EQ(w.normal[1], 1);
            EXPECT_EQ(w.normal[2], 0);
        }
    }
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

// Beyond the height field the border heights continue: the queries there
// answer the border's height and tile and the border's slope along the edge,
// and the wheel and the body spheres stand on that ground.
TEST_F(wheel, ground_continues_beyond_the_edge)
{
    // 9 x 9 samples at spacing 1, a tilted plane, a tile per cell
    Terrain t = make_terrain(2, 1.0f, [](double x, double z) { return 1 + 0.1 * x + 0.05 * z; });
    t.tile_types.resize(16, tile_type_defaults());
    for (size_t k = 0; k < t.tilemap.size(); ++k)
        t.tilemap[k] = uint8_t(k);
    const double e = t.extent, R = 0.8333, r = 0.3333;
    struct row {
        const char *what;
        double x, z;
        double nx, nz;  // the normal's horizontal part on that ground
    };
    const row rows[] = {
        {"beyond x = 0", -3, 2.5, 0, -0.05},
        {"beyond x = extent", e + 7.2, 5.5, 0, -0.05},
        {"beyond z = 0", 6.5, -0.4, -0.1, 0},
        {"beyond z = extent", 1.5, e + 40, -0.1, 0},
        {"beyond both lows", -2, -9, 0, 0},
        {"beyond x high, z low", e + 1, -1, 0, 0},
        {"beyond x low, z high", -30, e + 3, 0, 0},
        {"beyond both highs", e + 1e4, e + 1e5, 0, 0},
    };
    for (const row &k : rows) {
        SCOPED_TRACE(k.what);
        auto x = float(k.x), z = float(k.z);
        float bx = std::clamp(x, 0.0f, float(e)), bz = std::clamp(z, 0.0f, float(e));
        float ground_y = terrain_height_at(&t, bx, bz);
        EXPECT_FLOAT_EQ(terrain_height_at(&t, x, z), ground_y);
        EXPECT_EQ(terrain_tile_at(&t, x, z), terrain_tile_at(&t, bx, bz));
        std::array<float, 3> n = terrain_face_normal(&t, x, z);
        EXPECT_NEAR(n[0], k.nx, 1e-5);
        EXPECT_EQ(n[1], 1.0f);
        EXPECT_NEAR(n[2], k.nz, 1e-5);

        // an upright wheel pressed 0.1 ft into that ground
        at(k.x, ground_y + R + r - 0.1, k.z);
        ASSERT_TRUE(wheel_probe(&t, &w));
        EXPECT_NEAR(w.depth, 0.1, 0.01);
        double len = std::sqrt(k.nx * k.nx + 1 + k.nz * k.nz);
        EXPECT_NEAR(w.normal[0], k.nx / len, 1e-3);
        EXPECT_NEAR(w.normal[1], 1 / len, 1e-3);
        EXPECT_NEAR(w.normal[2], k.nz / len, 1e-3);
        // and a body sphere
        sphere_hit h = sphere_terrain(&t, {k.x, ground_y + 0.4, k.z}, 0.5);
        EXPECT_NEAR(h.depth, 0.1, 0.01);
    }
}

// Non-finite or absurdly distant positions give no contact, and only the
// cells around the point are visited however far out it is.
TEST_F(wheel, runaway_positions_stay_bounded)
{
    for (double x : {double(NAN), double(INFINITY), -double(INFINITY), 1e13, -1e300}) {
        SCOPED_TRACE(x);
        at(x, 1.5, x);
        EXPECT_FALSE(wheel_probe(&ground, &w));
        EXPECT_FALSE(sphere_terrain(&ground, {x, 0.5, 5}, 1).depth > 0);
    }
    // a million feet out the ground is still there
    at(-1e6, 1 + 1.1666 - 0.1, 1e6);
    EXPECT_TRUE(wheel_probe(&ground, &w));
    EXPECT_FALSE(wheel_probe(nullptr, &w));

    auto count = [&](double x, double z, double reach) {
        int n = 0;
        for_each_triangle(&ground, x, z, reach, [&n](v3, v3, v3, v3) { ++n; });
        return n;
    };
    EXPECT_EQ(count(-1e9 + 0.5, 3e8 + 0.5, 1.1666), 2 * 3 * 3);
    EXPECT_EQ(count(5.5, 5.5, 1.1666), 2 * 3 * 3);
    // a huge reach is held to the grid's size per side
    int side = ground.dim + 1;
    EXPECT_EQ(count(5, 5, 1e9), 2 * side * side);
    EXPECT_EQ(count(5, 5, double(NAN)), 0);
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
