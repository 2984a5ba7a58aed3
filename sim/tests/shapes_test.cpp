// ".shp" loading, the cache, placement, and the starter shapes.
#include "sim/physics_local.h"
#include "sim/tests/physics_test_util.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <numbers>

namespace fs = std::filesystem;

namespace {

std::string write_temp(const std::string &name, const std::string &text)
{
    fs::path p = fs::path(search_dir(0)) / "shape_tests" / name;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
    return p.string();
}

TEST(shapes, loads_and_caches_by_name)
{
    std::string path = write_temp("two.shp", "2\n0 1 0 0.5 0.6 2500 50\n3 0 4 1 0.2 100 10\n");
    const Shape *s = LoadShape(path.c_str());
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->spheres.size(), 2u);
    EXPECT_FLOAT_EQ(s->spheres[1].radius, 1);
    EXPECT_FLOAT_EQ(s->spheres[1].damping, 10);
    EXPECT_FLOAT_EQ(s->bounding_radius, 6);
    EXPECT_EQ(LoadShape(path.c_str()), s);
    uint32_t h = load_shape_handle(path.c_str());
    EXPECT_NE(h, 0u);
    EXPECT_EQ(shape_from_handle(h), s);
    EXPECT_EQ(shape_from_handle(0), nullptr);
    EXPECT_EQ(shape_from_handle(h + 1000), nullptr);
}

TEST(shapes, bad_files_load_nothing)
{
    const char *bad[] = {
        "",                                   // no count
        "2\n0 0 0 1 1 1 1\n",                 // one record short
        "1\n0 0 0 1 1 1\n",                   // record cut short
        "-1\n",                               // negative count
        "99999999\n0 0 0 1 1 1 1\n",          // absurd count
        "1\n0 0 0 -1 1 1 1\n",                // negative radius
        "1\n0 nan 0 1 1 1 1\n",               // not a number
    };
    int k = 0;
    for (const char *text : bad) {
        SCOPED_TRACE(text);
        std::string p = write_temp("bad" + std::to_string(k++) + ".shp", text);
        EXPECT_EQ(LoadShape(p.c_str()), nullptr);
    }
    EXPECT_EQ(LoadShape("@no_such_shape.shp"), nullptr);
    EXPECT_EQ(LoadShape(""), nullptr);
    EXPECT_EQ(load_shape_handle("@no_such_shape.shp"), 0u);
}

TEST(shapes, instance_follows_position_and_rotation)
{
    Shape s;
    s.spheres.push_back({{0, 0, -2}, 0.5f, 1, 1, 1});
    ShapeInstance i = InstanceShape(&s);
    ASSERT_EQ(i.world.size(), 1u);
    dMatrix3 R;
    dRFromAxisAndAngle(R, 0, 1, 0, std::numbers::pi / 2);
    const double p[3] = {10, 1, 5};
    place_shape(&i, p, R);
    EXPECT_NEAR(i.world[0][0], 10 - 2, 1e-9);
    EXPECT_NEAR(i.world[0][1], 1, 1e-9);
    EXPECT_NEAR(i.world[0][2], 5, 1e-9);
    EXPECT_EQ(InstanceShape(nullptr).world.size(), 0u);
}

// The generated shapes of every part a bike model names load, and on a
// standing bike none of them reaches the ground.
TEST(shapes, starter_shapes_load_for_every_part)
{
    install_starter_shapes();
    const BikeModel &m = bike_models()[0];
    for (int k : {1, 4, 6, 8, 11, 12, 18}) {
        SCOPED_TRACE(m.files[k]);
        const Shape *s = LoadShape(m.files[k]);
        ASSERT_NE(s, nullptr);
        EXPECT_GT(s->spheres.size(), 0u);
    }
    ASSERT_TRUE(physics_init());
    ASSERT_TRUE(build_rider(5, 0));
    RiderState *r = rider_slot(5);
    for (int b = 0; b < BODY_COUNT; ++b)
        EXPECT_NE(r->shape[size_t(b)].shape, nullptr);
    Terrain t = make_terrain(4, 1.0f, [](double, double) { return -0.05; });
    // the tyres touch, nothing else does
    terrain_contacts(r, &t);
    dJointGroupEmpty(physics_contact_group());
    EXPECT_GT(r->wheel[0].depth, 0);
    EXPECT_FALSE(r->trouble);
    destroy_rider(r);
}

} // namespace
