// Terrain queries and height changes on small generated fields, against
// heights and normals worked out by hand.

#include "track/tests/track_test_util.h"

#include <cmath>
#include <limits>

namespace {

// 5 x 5 samples, spacing 2, heights h(i, j) = 8ij + 2i + j (header range
// 0..65535, so a sample is its height). Within a cell the two triangles of
// the split lie on different planes, so a wrong split shows.
class small_field : public track_test {
protected:
    void SetUp() override {
        track_test::SetUp();
        std::vector<uint16_t> s;
        for (int j = 0; j < 5; ++j)
            for (int i = 0; i < 5; ++i)
                s.push_back(uint16_t(8 * i * j + 2 * i + j));
        write_track(dir, 1, 2.0f, 0.0f, 65535.0f, s);
        ASSERT_TRUE(terrain_load(&t, dir.c_str()));
    }
    void TearDown() override {
        terrain_unload(&t);
        track_test::TearDown();
    }
    Terrain t;
};

struct query_case {
    const char *what;
    float x, z;
    float height;
    std::array<float, 3> normal;
};

TEST_F(small_field, HeightAndNormalFollowTheCheckerboardSplit) {
    const query_case cases[] = {
        // cell (0,0), even: below the diagonal h = 2u + 9v, above it h = 10u + v
        {"even cell, lower triangle", 1.0f, 0.5f, 3.25f, {-4, 4, -18}},
        {"even cell, upper triangle", 0.4f, 1.6f, 2.8f, {-20, 4, -2}},
        // cell (1,0), odd: near triangle from (1,0); far triangle from (2,1)
        {"odd cell, near triangle", 2.6f, 0.4f, 4.4f, {-4, 4, -18}},
        {"odd cell, far triangle", 3.6f, 1.6f, 15.6f, {-20, 4, -34}},
        // outside the grid the edge heights continue: h(0, j) = j,
        // h(4, j) = 33j + 8, h(i, 0) = 2i, h(i, 4) = 34i + 4
        {"left of the grid", -10.0f, 1.0f, 0.5f, {0, 4, -2}},
        {"right of the grid", 100.0f, 3.0f, 57.5f, {0, 4, -66}},
        {"in front of the grid", 3.0f, -7.0f, 3.0f, {-4, 4, 0}},
        {"behind the grid", 5.0f, 50.0f, 89.0f, {-68, 4, 0}},
        {"near corner", -5.0f, -5.0f, 0.0f, {0, 4, 0}},
        {"corner beyond x", 20.0f, -3.0f, 8.0f, {0, 4, 0}},
        {"corner beyond z", -1.0f, 30.0f, 4.0f, {0, 4, 0}},
        {"far corner", 1e30f, 1e30f, 140.0f, {0, 4, 0}},
    };
    for (const query_case &c : cases) {
        EXPECT_NEAR(terrain_height_at(&t, c.x, c.z), c.height, 1e-4) << c.what;
        std::array<float, 3> n = terrain_face_normal(&t, c.x, c.z);
        for (size_t k = 0; k < 3; ++k)
            EXPECT_NEAR(n[k], c.normal[k], 1e-4) << c.what << " component " << k;
    }
}

TEST_F(small_field, NonFiniteCoordinatesStayInsideTheGrid) {
    const float values[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity()};
    for (float x : values) {
        for (float z : values) {
            float h = terrain_height_at(&t, x, z);
            EXPECT_TRUE(h >= 0.0f && h <= 140.0f) << x << " " << z << " gave " << h;
            std::array<float, 3> n = terrain_face_normal(&t, x, z);
            EXPECT_TRUE(std::isfinite(n[0]) && n[1] == 4.0f && std::isfinite(n[2]));
            int tile = terrain_tile_at(&t, x, z);
            EXPECT_EQ(tile, 0);
        }
    }
}

TEST_F(track_test, FlatFieldNormalIsStraightUpEverywhere) {
    write_track(dir, 1, 2.5f, 3.0f, 3.0f, std::vector<uint16_t>(25, 0));
    Terrain t;
    ASSERT_TRUE(terrain_load(&t, dir.c_str()));
    for (float x : {-50.0f, 0.0f, 3.3f, 9.99f, 400.0f}) {
        std::array<float, 3> n = terrain_face_normal(&t, x, x * 0.7f);
        EXPECT_EQ(n, (std::array<float, 3>{0.0f, 6.25f, 0.0f})) << x;
        EXPECT_EQ(terrain_height_at(&t, x, -x), 3.0f);
    }
}

TEST_F(track_test, TileAtClampsToTheMapAndTheTileCount) {
    write_track(dir, 1, 2.0f, 0.0f, 1.0f, std::vector<uint16_t>(25, 0));
    write_file(dir / "tileinfo", "name a\naddtile\nname b\naddtile\nname c\naddtile\n");
    write_file(dir / "tilemap", std::string("\x00\x01\x02\xc8", 4));
    Terrain t;
    ASSERT_TRUE(terrain_load(&t, dir.c_str()));
    EXPECT_EQ(terrain_tile_at(&t, 1.0f, 1.0f), 0);
    EXPECT_EQ(terrain_tile_at(&t, 5.0f, 1.0f), 1);
    EXPECT_EQ(terrain_tile_at(&t, -3.0f, 100.0f), 2);
    EXPECT_EQ(terrain_tile_at(&t, 7.9f, 7.9f), 2);  // 200 with 3 tile types becomes 2
}

// Flat 5 x 5 field at spacing 1 for the bumps.
class bump_field : public track_test {
protected:
    void SetUp() override {
        track_test::SetUp();
        write_track(dir, 1, 1.0f, 0.0f, 1.0f, std::vector<uint16_t>(25, 0));
        ASSERT_TRUE(terrain_load(&t, dir.c_str()));
    }
    float h(int i, int j) const { return t.heights[size_t(j * t.dim + i)]; }
    Terrain t;
};

// Radius 2, amount 2 at a sample: the centre gets 2, the four neighbours at
// distance 1 get 1, the diagonals (w = 1/sqrt 2) get 2((sqrt2 - 3)/2 + 1).
constexpr double k_diagonal = 2.0 * ((2.0 * 0.70710678 - 3.0) * 0.5 + 1.0);
constexpr double k_bump_sum = 2.0 + 4.0 + 4.0 * k_diagonal;

TEST_F(bump_field, AddBumpRaisesTheSmoothStepAndReturnsItsSum) {
    uint32_t before = t.change_counter;
    EXPECT_NEAR(terrain_add_bump(&t, 2.0f, 2.0f, 2.0f, 2.0f), k_bump_sum, 1e-4);
    EXPECT_NEAR(h(2, 2), 2.0, 1e-6);
    EXPECT_NEAR(h(1, 2), 1.0, 1e-6);
    EXPECT_NEAR(h(2, 3), 1.0, 1e-6);
    EXPECT_NEAR(h(3, 3), k_diagonal, 1e-5);
    EXPECT_EQ(h(4, 2), 0.0f);  // on the rim
    EXPECT_EQ(h(0, 0), 0.0f);
    EXPECT_EQ(t.change_counter, before + 1);
    EXPECT_EQ(t.dirty_flags, TERRAIN_DIRTY_ALL);
    EXPECT_FLOAT_EQ(t.max_height, 2.0f);
    EXPECT_TRUE(terrain_block_dirty(&t, 0, 0));
}

TEST_F(bump_field, BumpAtTheCornerCountsSamplesOutsideTheGrid) {
    EXPECT_NEAR(terrain_add_bump(&t, 0.0f, 0.0f, 2.0f, 2.0f), k_bump_sum, 1e-4);
    EXPECT_NEAR(h(0, 0), 2.0, 1e-6);
    EXPECT_NEAR(h(1, 1), k_diagonal, 1e-5);
}

TEST_F(bump_field, FrozenTerrainKeepsItsHeightsButCounts) {
    t.frozen = true;
    EXPECT_NEAR(terrain_add_bump(&t, 2.0f, 2.0f, 2.0f, 2.0f), k_bump_sum, 1e-4);
    EXPECT_EQ(h(2, 2), 0.0f);
    EXPECT_EQ(t.change_counter, 1u);
    EXPECT_EQ(t.dirty_flags, 0);
}

TEST_F(bump_field, DegenerateBumpsChangeNothing) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        float x, z, radius, amount;
    } cases[] = {{2, 2, 0, 1}, {2, 2, -1, 1}, {2, 2, 2, 0}, {nan, 2, 2, 1}, {2, 2, inf, 1}, {2, 2, 2, nan}};
    for (const auto &c : cases) {
        EXPECT_EQ(terrain_add_bump(&t, c.x, c.z, c.radius, c.amount), 0.0f);
        terrain_spread_bump(&t, c.x, c.z, c.radius, c.amount);
    }
    for (float v : t.heights)
        EXPECT_EQ(v, 0.0f);
    EXPECT_EQ(t.change_counter, 0u);
}

TEST_F(bump_field, HugeRadiusAndFarPositionsStayBounded) {
    EXPECT_GT(terrain_add_bump(&t, 2.0f, 2.0f, 1e30f, 1.0f), 0.0f);
    EXPECT_GT(h(2, 2), 0.0f);
    terrain_add_bump(&t, 1e30f, -1e30f, 3.0f, 1.0f);  // touches nothing, must not overflow
}

TEST_F(bump_field, SpreadBumpAddsExactlyTheAmount) {
    terrain_spread_bump(&t, 2.0f, 2.0f, 2.0f, 3.0f);
    double total = 0;
    for (float v : t.heights)
        total += v;
    EXPECT_NEAR(total, 3.0, 1e-4);
    EXPECT_NEAR(h(2, 2) / h(1, 2), 2.0, 1e-4);  // same shape as AddBump
}

TEST_F(track_test, MarkDirtyRoundsUpOnTheHighSide) {
    // n = 7: 257 samples per side, 2 x 2 blocks of 128.
    write_track(dir, 7, 1.0f, 0.0f, 1.0f, std::vector<uint16_t>(257 * 257, 0));
    Terrain t;
    ASSERT_TRUE(terrain_load(&t, dir.c_str()));
    ASSERT_EQ(t.blocks, 2);
    ASSERT_EQ(t.dirty_mask.size(), 1u);
    const struct {
        int i0, j0, i1, j1;
        uint8_t mask;  // bit by * 2 + bx
    } cases[] = {
        {0, 0, 10, 10, 0x0f},          // ends inside block 0: block 1 is marked too
        {130, 130, 140, 140, 0x08},    // clamped to the last block
        {-500, -500, -300, -300, 0x01},
        {200, 0, 100000, 0, 0x02},     // column 1 of row 0
        {-2147483647, 0, 2147483647, 0, 0x03},
    };
    for (const auto &c : cases) {
        std::fill(t.dirty_mask.begin(), t.dirty_mask.end(), 0);
        terrain_mark_dirty(&t, c.i0, c.j0, c.i1, c.j1);
        EXPECT_EQ(t.dirty_mask[0], c.mask) << c.i0 << "," << c.j0 << " " << c.i1 << "," << c.j1;
    }
}

}  // namespace
