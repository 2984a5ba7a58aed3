// The object files: lighting, billboards, statues, flaggers, cameras, map,
// and the billboard and statue writers.

#include "track/tests/track_test_util.h"

#include <cmath>

namespace {

// A folder with a sloped terrain (h = x / 4) for the ground-relative files.
class objects : public track_test {
protected:
    void SetUp() override {
        track_test::SetUp();
        std::vector<uint16_t> s;
        for (int j = 0; j < 5; ++j)
            for (int i = 0; i < 5; ++i)
                s.push_back(uint16_t(i));
        write_track(dir, 1, 2.0f, 0.0f, 65535.0f * 0.5f, s);  // h(i, j) = i/2, so h = x/4
        ASSERT_TRUE(terrain_load(&t, dir.c_str()));
        track_objects_reset(&o, dir.c_str());
    }
    Terrain t;
    track_objects o;
};

TEST_F(track_test, LightingReadsUntilAnUnknownIdentifier) {
    write_file(dir / "lighting", "sun_vector [ 0 3 4 ]\n"
                                 "  near_plane 2\n"
                                 "sky_q @x.ppm\n"
                                 "ambient [ 0.1 0.1 0.1 ]\n");
    track_lighting l;
    load_lighting(&l, dir.c_str());
    EXPECT_EQ(l.sun_vector, (std::array<float, 3>{0.0f, 0.6f, 0.8f}));
    EXPECT_EQ(l.near_plane, 0.875f);
    EXPECT_EQ(l.ambient, (std::array<float, 3>{0.5f, 0.5f, 0.5f}));  // after the stop: default
    EXPECT_EQ(l.sky_names[SKY_N], "@sky-n.ppm");
    EXPECT_EQ(l.sky_names[SKY_ENV], "@sky-env.ppm");
    EXPECT_EQ(messages(), std::vector<std::string>{"Error reading lighting: Unknown identifier 'sky_q'"});
}

TEST_F(track_test, LightingValuesAndTheirLimits) {
    write_file(dir / "lighting", "sun_vector [ 0 0 0 ]\n"
                                 "far_plane 0.1\n"
                                 "sky_u  @up.png  \n"
                                 "fog [ 0.5 0.6 0.7 ] 0.01\n"
                                 "fog [ 1 1 1 ]\n"
                                 "dynamic_lighting 3\n"
                                 "flare_element [ 1 2 ] [ 0.5 0.5 0.5 ] 3 @f.png\n"
                                 "flare_element [ 1 2 ] [ 0.5 0.5 ] 3 @g.png\n"
                                 "flare_vector [ 0 1 0 ]\n"
                                 "flare_point [ 5 6 7 ]\n"
                                 "\n"
                                 "sun_color [ nan 1 1 ]\n");
    track_lighting l;
    load_lighting(&l, dir.c_str());
    EXPECT_EQ(l.far_plane, 0.25f);
    EXPECT_EQ(l.sun_vector, track_lighting{}.sun_vector);  // a zero vector has no direction
    EXPECT_EQ(l.sky_names[SKY_U], "@up.png");
    EXPECT_EQ(l.fog_colour, (std::array<float, 3>{0.5f, 0.6f, 0.7f}));
    EXPECT_EQ(l.fog_density, 0.01f);
    EXPECT_TRUE(l.dynamic_lighting);
    ASSERT_EQ(l.flares.size(), 2u);
    EXPECT_EQ(l.flares[0].kind, 1);
    ASSERT_EQ(l.flares[0].elements.size(), 1u);
    EXPECT_EQ(l.flares[0].elements[0].texture_name, "@f.png");
    EXPECT_EQ(l.flares[1].kind, 0);
    EXPECT_TRUE(l.flares[1].elements.empty());
    EXPECT_EQ(l.sun_colour, (std::array<float, 3>{1, 1, 1}));
    EXPECT_TRUE(messages().empty());

    fs::remove(dir / "lighting");
    load_lighting(&l, dir.c_str());
    EXPECT_EQ(l.far_plane, 5000.0f);
    EXPECT_TRUE(l.sky_names[SKY_N].empty());  // no file: no sky is loaded
}

TEST_F(objects, BillboardsStandOnTheGroundAndTakeTints) {
    write_file(dir / "billboards", "[ 4 1 0 ] 2 0.5 #ff8000#tree.png\n"
                                   "[ 1e999 1 0 ] 2 0.5 skipped.png\n"
                                   "[ 8 0 0 ] 1 1 #ff8000tree.png\n"
                                   "[ 8 0 0 ] 1 oops\n"
                                   "[ 0 0 0 ] 1 1 never.png\n");
    load_billboards(&o, &t);
    ASSERT_EQ(o.billboards.size(), 2u);
    const billboard &a = o.billboards[0];
    EXPECT_EQ(a.texture_name, "tree.png");
    EXPECT_EQ((std::array<int, 4>{a.r, a.g, a.b, a.a}), (std::array<int, 4>{255, 128, 0, 255}));
    EXPECT_FLOAT_EQ(a.y, 2.0f);  // 1 above the ground at x = 4
    EXPECT_EQ(a.rel_y, 1.0f);
    EXPECT_EQ(o.billboards[1].texture_name, "#ff8000tree.png");
    EXPECT_EQ(o.billboards[1].r, 255);
    EXPECT_EQ(add_billboard(&o, &t, 1, INFINITY, 1, 1, 1, "x.png"), -1);
}

TEST_F(objects, StatuesFaceTheCameraOrFollowTheGround) {
    write_file(dir / "statues", "[ 4 0 4 ] 4 @m.jm @t.png null\n"
                                "[ 4 0 4 ] -7 @m.jm null null\n"
                                "[ 4 0 4 ] 0 null null null\n"
                                "[ 4 0 4 ] 1.5 @m.jm\n");
    load_statues(&o, &t);
    ASSERT_EQ(o.statues.size(), 3u);
    const statue &a = o.statues[0];
    EXPECT_EQ(a.facing_distance, 16.0f);
    EXPECT_EQ(a.orientation, (std::array<float, 9>{1, 0, 0, 0, 1, 0, 0, 0, 1}));
    EXPECT_EQ(a.shape_name, "");
    EXPECT_FLOAT_EQ(a.y, 1.0f);
    const statue &b = o.statues[1];
    EXPECT_EQ(b.facing_distance, 0.0f);
    EXPECT_NEAR(b.orientation[0], std::cos(-7.0), 1e-6);
    EXPECT_NEAR(b.orientation[2], -std::sin(-7.0), 1e-6);
    EXPECT_EQ(b.orientation[4], 1.0f);  // not tilted although the ground slopes
    const statue &c = o.statues[2];
    // angle 0 on a slope of 1/4 along x: up follows the ground normal
    EXPECT_NEAR(c.orientation[3], -0.25 / std::sqrt(1.0625), 1e-6);
    EXPECT_NEAR(c.orientation[4], 1.0 / std::sqrt(1.0625), 1e-6);
    EXPECT_TRUE(c.model_name.empty() && c.texture_name.empty());
}

TEST_F(objects, MissingShapeWarnsWhenTheShapeLayerIsThere) {
    track_services s = track_get_services();
    s.load_model = [](const char *) { return 7u; };
    s.load_shape = [](const char *) { return 0u; };
    s.load_texture = [](const char *name) { return std::string(name) == "@rock_norm.png" ? 3u : 0u; };
    track_set_services(s);
    ASSERT_EQ(add_statue(&o, &t, 1, 0, 1, 0, "@rock.jm", "@rock.png", "@rock.shp"), 0);
    EXPECT_EQ(o.statues[0].model, 7u);
    EXPECT_EQ(o.statues[0].normal_texture, 3u);
    EXPECT_EQ(o.statues[0].specular_texture, 0u);
    EXPECT_EQ(messages(), std::vector<std::string>{"Warning: missing shape file @rock.shp"});
}

TEST(texture_companions, CandidateNamesInOrder) {
    EXPECT_EQ(texture_companions("@wall-repeat.png", "@m.jm", "norm"),
              (std::vector<std::string>{"@wall_norm-repeat.seq", "@wall_norm-repeat.png", "@wall_norm-repeat.ppm",
                                        "@m_norm.seq", "@m_norm.png", "@m_norm.ppm"}));
    EXPECT_EQ(texture_companions("@a.b.png", "", "spec"),
              (std::vector<std::string>{"@a.b_spec.seq", "@a.b_spec.png", "@a.b_spec.ppm"}));
}

TEST_F(objects, CamerasTakePendingSettingsAndGateLists) {
    write_file(dir / "cameras", "fov -60\n"
                                "gate 3 5 x 7\n"
                                "addcamera 4 10 0\n"
                                "autofovsize -2.5\n"
                                "gate 5000 -1 9\n"
                                "addcamera 0 0 0\n"
                                "addcamera 1e999 0 0\n"
                                "gate 1\n"
                                "something else\n");
    load_cameras(&o, &t);
    ASSERT_EQ(o.cameras.size(), 2u);
    EXPECT_EQ(o.cameras[0].fov, 60.0f);
    EXPECT_FLOAT_EQ(o.cameras[0].y, 11.0f);
    EXPECT_EQ(o.cameras[1].fov, 90.0f);
    EXPECT_EQ(o.cameras[1].autofovsize, 2.5f);
    EXPECT_EQ(o.gate_camera[3], 0);
    EXPECT_EQ(o.gate_camera[5], 0);
    EXPECT_EQ(o.gate_camera[7], -1);  // after the letter
    EXPECT_EQ(o.gate_camera[9], 1);   // numbers outside the table are skipped, not the rest
    EXPECT_EQ(o.gate_camera[1], 2);   // the camera that the next addcamera would make
}

TEST_F(objects, FlaggersAreBillboardsThatAreNeverSaved) {
    write_file(dir / "flaggers", "[ 0 0 0 ] [ 8 0 0 ] 3 0.5 2  w1 w2 w3 w4 w5\n"
                                 "[ 1 0 1 ] 3 0.5 s1 s2 s3 s4\n"
                                 "[ 2 0 2 ] 3 0.5 -5 0 4 99 g1 g2\n"
                                 "[ 3 0 3 ] 3 0.5 1 2 3\n");
    load_flaggers(&o, &t, 4);
    ASSERT_EQ(o.walking_flaggers.size(), 1u);
    EXPECT_EQ(o.walking_flaggers[0].walk_time, 2.0f);
    EXPECT_EQ(o.walking_flaggers[0].frames[4], "w5");
    ASSERT_EQ(o.standing_flaggers.size(), 1u);
    ASSERT_EQ(o.gate_flaggers.size(), 1u);
    EXPECT_EQ(o.gate_flaggers[0].gates, (std::array<int, 4>{-1, 0, 3, 3}));
    EXPECT_EQ(o.billboards.size(), 3u);
    add_billboard(&o, &t, 6, 2, 6, 1, 1, "#102030#sign.png");
    ASSERT_TRUE(save_billboards(&o, &t));
    EXPECT_EQ(read_file(dir / "billboards"), "[6.000000 2.000000 6.000000] 1.000000 1.000000 #102030#sign.png\n");
}

TEST_F(objects, SavedObjectsLoadBackRelativeToTheGround) {
    add_billboard(&o, &t, 4, 1, 2, 3, 0.5f, "a.png");
    add_statue(&o, &t, 6, 0.5f, 2, 1.25f, "@m.jm", nullptr, "null");
    ASSERT_TRUE(save_billboards(&o, &t));
    ASSERT_TRUE(save_statues(&o, &t));
    EXPECT_EQ(read_file(dir / "statues"), "[6.000000 0.500000 2.000000] 1.250000 @m.jm null null\n");
    track_objects back;
    track_objects_reset(&back, dir.c_str());
    load_billboards(&back, &t);
    load_statues(&back, &t);
    ASSERT_EQ(back.billboards.size(), 1u);
    EXPECT_FLOAT_EQ(back.billboards[0].y, o.billboards[0].y);
    ASSERT_EQ(back.statues.size(), 1u);
    EXPECT_FLOAT_EQ(back.statues[0].y, 2.0f);
    EXPECT_FALSE(fs::exists(dir / "statues.tmp"));
}

TEST_F(objects, FailedSaveKeepsTheOldFile) {
    write_file(dir / "statues", "old\n");
    fs::create_directories(dir / "statues.tmp");
    add_statue(&o, &t, 6, 0.5f, 2, 1.25f, "@m.jm", nullptr, nullptr);
    EXPECT_FALSE(save_statues(&o, &t));
    EXPECT_EQ(read_file(dir / "statues"), "old\n");
    EXPECT_TRUE(said("Can't open 'statues'"));
}

TEST_F(objects, MapIsKeptByName) {
    load_map(&o);
    EXPECT_TRUE(o.map_name.empty());
    write_file(dir / "map.png", "not really");
    load_map(&o);
    EXPECT_EQ(o.map_name, (dir / "map.png").string());
}

}  // namespace
