// The terrain load sequence and save: files, messages, hostile input.

#include "track/tests/track_test_util.h"
#include "hash/hash.h"

#include <cmath>

namespace {

std::vector<uint16_t> ramp(int dim) {
    std::vector<uint16_t> s;
    for (int k = 0; k < dim * dim; ++k)
        s.push_back(uint16_t(k * 97));
    return s;
}

TEST_F(track_test, LoadsEveryFileOfAFolder) {
    std::vector<uint16_t> s = ramp(5);
    write_track(dir, 1, 2.0f, -10.0f, 10.0f, s);
    std::string pgm = "P5\n# light\n5 5\n255\n" + std::string(25, '\xff');
    pgm[pgm.size() - 1] = 5;
    write_file(dir / "shadows.pgm", pgm);
    write_file(dir / "decals", "[1 2] 0.5 3 1 @a.png\n[1e999 2] 0 1 1 @b.png\n[4 5] 0 2 2 @c.png\n[oops");
    Terrain t;
    ASSERT_TRUE(terrain_load(&t, dir.c_str()));
    EXPECT_TRUE(t.loaded);
    EXPECT_EQ(t.dim, 5);
    EXPECT_EQ(t.tiles, 2);
    EXPECT_EQ(t.blocks, 1);
    EXPECT_FLOAT_EQ(t.extent, 8.0f);
    EXPECT_FLOAT_EQ(t.heights[0], -10.0f);
    EXPECT_NEAR(t.heights[24], -10.0f + 20.0f * (24 * 97) / 65535.0f, 1e-5);
    EXPECT_EQ(t.base_heights, t.heights);
    EXPECT_EQ(t.shadow[0], 0);
    EXPECT_EQ(t.shadow[24], 250);  // stored as 255 - v
    EXPECT_EQ(t.lod_error.size(), 5u);  // (4^2)/3
    EXPECT_EQ(t.dirty_mask.size(), 1u);
    ASSERT_EQ(t.decals.size(), 2u);  // the infinite record is skipped, the broken one ends the file
    EXPECT_EQ(t.decals[1].texture_name, "@c.png");
    EXPECT_FLOAT_EQ(t.decals[0].sin_angle, std::sin(0.5f));

    std::string bytes;
    for (uint16_t v : s) {
        bytes += char(v & 0xff);
        bytes += char(v >> 8);
    }
    auto digest = ripemd160(std::span(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()));
    EXPECT_TRUE(std::equal(digest.begin(), digest.end(), t.digest.begin()));
    EXPECT_TRUE(messages().empty());
}

TEST_F(track_test, ReadingALargeFieldKeepsTheLoadingScreenAlive) {
    // Ticks while the heights are read and converted, counted per stage.
    static int ticks = 0, ticks_in_terrain = 0;
    static bool in_terrain = false;
    ticks = ticks_in_terrain = 0;
    track_services s = track_get_services();
    s.stage = [](const char *name) { in_terrain = std::string(name) == "Loading terrain"; };
    s.stage_done = [](const char *) { in_terrain = false; };
    s.tick = [] {
        ++ticks;
        ticks_in_terrain += in_terrain;
    };
    track_set_services(s);
    const int dim = 257;  // several bands of rows
    std::vector<uint16_t> samples(size_t(dim) * dim);
    for (size_t k = 0; k < samples.size(); ++k)
        samples[k] = uint16_t(k * 7919);
    write_track(dir, 7, 1.0f, 0.0f, 100.0f, samples);
    Terrain t;
    ASSERT_TRUE(terrain_load(&t, dir.c_str()));
    EXPECT_GE(ticks_in_terrain, 2 * (dim / 64));  // reading, then converting
    // The banded read gives the same samples and digest as a whole one.
    std::string bytes;
    for (uint16_t v : samples) {
        bytes += char(v & 0xff);
        bytes += char(v >> 8);
    }
    auto digest = ripemd160(std::span(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()));
    EXPECT_TRUE(std::equal(digest.begin(), digest.end(), t.digest.begin()));
    for (size_t k : {size_t(0), size_t(64 * dim + 3), samples.size() - 1})
        EXPECT_FLOAT_EQ(t.heights[k], 100.0f * float(samples[k]) / 65535.0f) << k;
}

TEST_F(track_test, SizeExponentZeroIsTheSmallestField) {
    write_track(dir, 0, 1.0f, 0.0f, 1.0f, std::vector<uint16_t>(9, 0));
    Terrain t;
    ASSERT_TRUE(terrain_load(&t, dir.c_str()));
    EXPECT_EQ(t.dim, 3);
    EXPECT_EQ(t.tiles, 1);
    EXPECT_EQ(t.tilemap.size(), 1u);
    EXPECT_EQ(t.blocks, 1);
}

TEST_F(track_test, HostileHeadersFailBeforeAnythingIsSized) {
    const char *headers[] = {
        "-1 2 0 10\n:",  "12 2 0 10\n:",     "2147483647 2 0 10\n:", "1 0 0 10\n:",  "1 -2 0 10\n:",
        "1 nan 0 10\n:", "1 inf 0 10\n:",    "1 2 -inf 10\n:",       "1 2 0 nan\n:", "1 2 10 0\n:",
        "1 2 0 1e30\n:", "1 1e-9 0 10\n:",   "1 2 0\n",              "x 2 0 10\n:",  "",
    };
    for (const char *h : headers) {
        track_test::SetUp();
        write_track(dir, 1, 2.0f, 0.0f, 1.0f, {});
        write_file(dir / "terrain.hf", h);
        Terrain t;
        EXPECT_FALSE(terrain_load(&t, dir.c_str())) << h;
        EXPECT_EQ(messages(), (std::vector<std::string>{"Bad height field parameters", "Error reading heights"}))
            << h;
        EXPECT_TRUE(t.heights.empty());
        EXPECT_FALSE(t.loaded);
    }
}

TEST_F(track_test, ShortSampleBlockFails) {
    std::string hf = height_field(1, 2.0f, 0.0f, 1.0f, ramp(5));
    hf.pop_back();
    write_track(dir, 1, 2.0f, 0.0f, 1.0f, {});
    write_file(dir / "terrain.hf", hf);
    Terrain t;
    EXPECT_FALSE(terrain_load(&t, dir.c_str()));
    EXPECT_EQ(messages(), std::vector<std::string>{"Error reading heights"});
}

TEST_F(track_test, MissingHeightFieldNamesThePath) {
    Terrain t;
    EXPECT_FALSE(terrain_load(&t, dir.c_str()));
    EXPECT_TRUE(said("Can't open '" + (dir / "terrain.hf").string() + "'"));
    EXPECT_TRUE(said("Error reading heights"));
}

TEST_F(track_test, HeightsFromTheImageLayerOrFlat) {
    write_track(dir, 1, 2.0f, 5.0f, 15.0f, {});
    write_file(dir / "terrain.hf", "1 2 5 15\n");  // no ':': the samples are in terrain.png
    Terrain t;
    ASSERT_TRUE(terrain_load(&t, dir.c_str()));  // no image layer: flat at the minimum
    for (float h : t.heights)
        EXPECT_EQ(h, 5.0f);

    track_services s = track_get_services();
    s.read_height_image = [](const char *path, height_image *out) {
        if (!std::string(path).ends_with("/terrain.png"))
            return false;
        *out = {2, 2, {0, 65535, 13107, 26214}};
        return true;
    };
    track_set_services(s);
    ASSERT_TRUE(terrain_load(&t, dir.c_str()));
    // sample (i, j) takes pixel (min(i, 1), min(j, 1))
    EXPECT_FLOAT_EQ(t.heights[0], 5.0f);
    EXPECT_FLOAT_EQ(t.heights[1], 15.0f);
    EXPECT_FLOAT_EQ(t.heights[4], 15.0f);
    EXPECT_FLOAT_EQ(t.heights[4 * 5], 7.0f);
    EXPECT_FLOAT_EQ(t.heights[24], 9.0f);
}

TEST_F(track_test, BadFilesFailTheLoadWithTheirMessage) {
    const struct {
        const char *what;
        const char *file;
        std::string content;  // empty: the file is removed
        std::string message;  // empty: any message
    } cases[] = {
        {"shadows of the wrong size", "shadows.pgm", "P5 4 4 255\n" + std::string(16, 'x'),
         "Bad shadow dimensions (4x4)"},
        {"shadows that are no image", "shadows.pgm", "P6 5 5 255\n", "Error reading shadows"},
        {"shadows cut short", "shadows.pgm", "P5 5 5 255\n" + std::string(20, 'x'), "Error reading shadows"},
        {"shadows of absurd size", "shadows.pgm", "P5 999999 999999 255\n", "Error reading shadows"},
        {"short tile map", "tilemap", std::string(3, '\0'), ""},
        {"no tile map", "tilemap", "", "Can't open '" + (dir / "tilemap").string() + "'"},
        {"tile set without tile types", "tileinfo", "name dirt\n", ""},
    };
    for (const auto &c : cases) {
        track_test::SetUp();
        write_track(dir, 1, 2.0f, 0.0f, 1.0f, ramp(5));
        if (c.content.empty())
            fs::remove(dir / c.file);
        else
            write_file(dir / c.file, c.content);
        Terrain t;
        EXPECT_FALSE(terrain_load(&t, dir.c_str())) << c.what;
        EXPECT_FALSE(messages().empty()) << c.what;
        if (!c.message.empty()) {
            EXPECT_TRUE(said(c.message)) << c.what << ": " << (messages().empty() ? "" : messages()[0]);
        }
        EXPECT_TRUE(t.heights.empty() && t.tile_types.empty()) << c.what;
    }
}

TEST_F(track_test, TexturelistStandsInForTileinfo) {
    write_track(dir, 1, 2.0f, 0.0f, 1.0f, ramp(5));
    fs::remove(dir / "tileinfo");
    Terrain t;
    EXPECT_FALSE(terrain_load(&t, dir.c_str()));
    EXPECT_TRUE(said("Can't open '" + (dir / "texturelist").string() + "'"));
    write_file(dir / "texturelist", "0.5 3 9 dirt.png\n");
    ASSERT_TRUE(terrain_load(&t, dir.c_str()));
    ASSERT_EQ(t.tile_types.size(), 1u);
    EXPECT_EQ(t.tile_types[0].name, "dirt.png");
    EXPECT_TRUE(t.tile_types[0].texture.empty());  // released once the atlas is built
}

TEST_F(track_test, SaveWritesWholeFilesThatLoadBack) {
    write_track(dir, 1, 2.0f, 0.0f, 10.0f, ramp(5));
    Terrain t;
    ASSERT_TRUE(terrain_load(&t, dir.c_str()));
    terrain_add_bump(&t, 4.0f, 4.0f, 3.0f, 25.0f);
    fs::path out = dir / "saved";
    ASSERT_TRUE(terrain_save(&t, out.c_str(), track_lighting{}));
    for (const char *f : {"terrain.hf", "shading.ppm", "shadingx2.ppm", "tilemap", "decals"}) {
        EXPECT_TRUE(fs::exists(out / f)) << f;
        EXPECT_FALSE(fs::exists(out / (std::string(f) + ".tmp"))) << f;
    }
    EXPECT_EQ(read_file(out / "shading.ppm").rfind("P6\n5 5\n255\n", 0), 0u);
    EXPECT_EQ(read_file(out / "shading.ppm").size(), 11u + 75u);
    fs::copy_file(dir / "tileinfo", out / "tileinfo");
    Terrain back;
    ASSERT_TRUE(terrain_load(&back, out.c_str()));
    float range = back.max_height - back.min_height;
    for (size_t k = 0; k < t.heights.size(); ++k)
        EXPECT_NEAR(back.heights[k], t.heights[k], range / 65535.0f + 1e-4f) << k;
}

TEST_F(track_test, SaveOfAFlatFieldWritesZeroSamples) {
    write_track(dir, 1, 2.0f, 4.0f, 4.0f, std::vector<uint16_t>(25, 0));
    Terrain t;
    ASSERT_TRUE(terrain_load(&t, dir.c_str()));
    ASSERT_TRUE(terrain_save(&t, dir.c_str(), track_lighting{}));
    Terrain back;
    ASSERT_TRUE(terrain_load(&back, dir.c_str()));
    for (float h : back.heights)
        EXPECT_EQ(h, 4.0f);
}

TEST_F(track_test, FailedSaveLeavesTheOldFile) {
    write_track(dir, 1, 2.0f, 0.0f, 10.0f, ramp(5));
    Terrain t;
    ASSERT_TRUE(terrain_load(&t, dir.c_str()));
    std::string before = read_file(dir / "terrain.hf");
    fs::create_directories(dir / "terrain.hf.tmp");  // the temporary file cannot be made
    terrain_add_bump(&t, 4.0f, 4.0f, 3.0f, 25.0f);
    EXPECT_FALSE(terrain_save(&t, dir.c_str(), track_lighting{}));
    EXPECT_TRUE(said("Can't open 'terrain.hf'"));
    EXPECT_EQ(read_file(dir / "terrain.hf"), before);
}

TEST_F(track_test, RendererHooksRunInLoadOrder) {
    static std::string order;
    order.clear();
    track_services s = track_get_services();
    s.render_upload_heights = [](Terrain *) { order += "h"; };
    s.render_build_tile_atlas = [](Terrain *t) { order += t->tile_types[0].texture.empty() ? "A" : "a"; };
    s.render_load_treadmarks = [](Terrain *) { order += "t"; };
    s.render_upload_tilemap = [](Terrain *) { order += "m"; };
    s.render_build_lod = [](Terrain *) { order += "l"; };
    s.render_sort_decals = [](Terrain *) { order += "d"; };
    track_set_services(s);
    write_track(dir, 1, 2.0f, 0.0f, 10.0f, ramp(5));
    write_file(dir / "tileinfo", "texture @dirt.png\naddtile\n");
    write_file(dir / "decals", "[1 2] 0.5 3 1 @a.png\n");
    Terrain t;
    ASSERT_TRUE(terrain_load(&t, dir.c_str()));
    EXPECT_EQ(order, "hatmld");  // the atlas still sees the texture names
    // Without a decals file the renderer is still handed the (empty) list.
    fs::remove(dir / "decals");
    order.clear();
    ASSERT_TRUE(terrain_load(&t, dir.c_str()));
    EXPECT_EQ(order, "hatmld");
}

}  // namespace
