// The terrain renderer's CPU side without a GL context: the patch mesh and
// its stitching variants, split radii, patch selection for a camera, the
// detail-level plan and placement, the tile atlas, dirty height blocks and
// the decal map.
#include "render/render_local.h"
#include "render/tests/terrain_fixture.h"
#include "render/tests/test_util.h"

#include <bit>
#include <map>
#include <random>
#include <set>

namespace {

// ---------------------------------------------------------------- patch mesh

double signed_area(const std::vector<float> &v, uint16_t a, uint16_t b, uint16_t c) {
    double ax = v[2 * a], ay = v[2 * a + 1], bx = v[2 * b], by = v[2 * b + 1], cx = v[2 * c], cy = v[2 * c + 1];
    return 0.5 * ((bx - ax) * (cy - ay) - (by - ay) * (cx - ax));
}

TEST(TerrainPatchMesh, EveryVariantTilesThePatchFacingUpWithFewerTrianglesOnFlaggedEdges) {
    for (int m = 0; m <= 4; ++m) {
        std::vector<float> v = terrain_patch_vertices(m);
        int k = 1 << m, side = 2 * k + 1;
        ASSERT_EQ(v.size(), size_t(side * side * 2));
        for (int flags = 0; flags < TERRAIN_VARIANTS; ++flags) {
            SCOPED_TRACE(testing::Message() << "m " << m << " flags " << flags);
            std::vector<uint16_t> tri = terrain_patch_indices(m, flags, false);
            ASSERT_EQ(tri.size() % 3, 0u);
            EXPECT_EQ(int(tri.size() / 3), 8 * k * k - k * std::popcount(unsigned(flags)));
            double area = 0;
            bool all_up = true;
            for (size_t i = 0; i < tri.size(); i += 3) {
                // Grid u is x, v is z: counter-clockwise seen from +y is a
                // negative area in the (u, v) plane.
                double a = signed_area(v, tri[i], tri[i + 1], tri[i + 2]);
                all_up = all_up && a < 0;
                area -= a;
            }
            EXPECT_TRUE(all_up);
            EXPECT_NEAR(area, 1.0, 1e-9);
            std::vector<uint16_t> lines = terrain_patch_indices(m, flags, true);
            EXPECT_EQ(lines.size(), tri.size() * 2);
        }
    }
}

// The vertices a variant uses on one patch edge, as grid steps along it.
std::set<int> edge_vertices(int m, int flags, int edge) {
    int side = 2 * (1 << m) + 1;
    std::set<int> out;
    for (uint16_t i : terrain_patch_indices(m, flags, false)) {
        int x = i % side, y = i / side;
        if (edge == EDGE_V0 && y == 0)
            out.insert(x);
        if (edge == EDGE_U0 && x == 0)
            out.insert(y);
        if (edge == EDGE_V1 && y == side - 1)
            out.insert(x);
        if (edge == EDGE_U1 && x == side - 1)
            out.insert(y);
    }
    return out;
}

TEST(TerrainPatchMesh, AFlaggedEdgeUsesExactlyTheVerticesOfAPatchTwiceTheSize) {
    for (int m = 0; m <= 4; ++m)
        for (int edge : {EDGE_V0, EDGE_U0, EDGE_V1, EDGE_U1}) {
            SCOPED_TRACE(testing::Message() << "m " << m << " edge " << edge);
            int side = 2 * (1 << m) + 1;
            std::set<int> all, even;
            for (int i = 0; i < side; ++i) {
                all.insert(i);
                if (i % 2 == 0)
                    even.insert(i);
            }
            EXPECT_EQ(edge_vertices(m, 0, edge), all);
            EXPECT_EQ(edge_vertices(m, edge, edge), even);
            // The other edges keep every vertex.
            int other = edge == EDGE_V0 ? EDGE_V1 : EDGE_V0;
            EXPECT_EQ(edge_vertices(m, edge, other), all);
        }
}

// ---------------------------------------------------------------- quadtree

struct lod_fixture : testing::Test {
    Terrain t;
    void SetUp() override {
        make_test_terrain(&t, 6, 2.0f);  // 129 samples, 256 ft
        ASSERT_TRUE(terrain_update_split_radii(&t, &radii, 0.125f / 70.0f, -1));
    }
    terrain_radii_pass radii;
};

// Checks that the patches cover the field once and that every shared edge
// joins patches at most one level apart with the finer one's edge flagged.
void check_tiling(const Terrain &t, int last, const std::vector<terrain_patch> &patches) {
    int cells = 1 << last;
    std::vector<int> owner(size_t(cells) * size_t(cells), -1);
    for (size_t k = 0; k < patches.size(); ++k) {
        const terrain_patch &p = patches[k];
        ASSERT_LE(p.level, last);
        int span = 1 << (last - p.level);
        for (int y = p.b * span; y < (p.b + 1) * span; ++y)
            for (int x = p.a * span; x < (p.a + 1) * span; ++x) {
                int &o = owner[size_t(y) * size_t(cells) + size_t(x)];
                ASSERT_EQ(o, -1) << "overlap at " << x << "," << y;
                o = int(k);
            }
    }
    for (int o : owner)
        ASSERT_NE(o, -1) << "hole in the tiling";
    (void)t;
    for (const terrain_patch &p : patches) {
        int span = 1 << (last - p.level);
        struct side {
            int flag, dx, dy;
        };
        for (side s : {side{EDGE_V0, 0, -1}, side{EDGE_U0, -1, 0}, side{EDGE_V1, 0, 1}, side{EDGE_U1, 1, 0}}) {
            for (int i = 0; i < span; ++i) {
                int x = s.dx < 0 ? p.a * span - 1 : s.dx > 0 ? (p.a + 1) * span : p.a * span + i;
                int y = s.dy < 0 ? p.b * span - 1 : s.dy > 0 ? (p.b + 1) * span : p.b * span + i;
                if (x < 0 || y < 0 || x >= cells || y >= cells) {
                    EXPECT_FALSE(p.flags & s.flag) << "flag on the field's border";
                    continue;
                }
                const terrain_patch &q = patches[size_t(owner[size_t(y) * size_t(cells) + size_t(x)])];
                ASSERT_LE(std::abs(q.level - p.level), 1)
                    << "patch " << p.level << ":" << p.a << "," << p.b << " beside " << q.level << ":" << q.a << ","
                    << q.b;
                EXPECT_EQ(bool(p.flags & s.flag), q.level < p.level)
                    << "patch " << p.level << ":" << p.a << "," << p.b << " flags " << p.flags;
            }
        }
    }
}

TEST_F(lod_fixture, NeighbouringPatchesAlwaysHaveAStitchingVariant) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> pos(-40.0f, 256.0f + 40.0f);
    std::uniform_int_distribution<int> origin(0, 128 - 32);
    const float down[3] = {0, -1, 0};
    std::vector<terrain_patch> patches;
    // Rough ground splits nearly everything by radius; on gentle ground the
    // detail regions' own splits meet coarse neighbours.
    for (float amplitude : {8.0f, 0.02f}) {
        make_test_terrain(&t, 6, 2.0f, amplitude);
        radii = {};
        ASSERT_TRUE(terrain_update_split_radii(&t, &radii, 0.125f / 70.0f, -1));
        for (int m : {0, 2, 4}) {
            int last = t.n - m;
            for (int trial = 0; trial < 60; ++trial) {
                SCOPED_TRACE(testing::Message() << "amplitude " << amplitude << " m " << m << " trial " << trial);
                float far = trial % 3 == 0 ? 3000.0f : 0.0f;
                float cam[3] = {pos(rng) + far, t.max_height + 5.0f, pos(rng)};
                terrain_region regions[3] = {
                    {origin(rng), origin(rng), 16}, {origin(rng), origin(rng), 32}, {0, 0, 128}};
                int count = trial % 2 ? 3 : 1;
                terrain_mark_splits(&t, m, cam, regions + (3 - count), count);
                terrain_select_patches(&t, m, cam, down, &patches);
                check_tiling(t, last, patches);
                if (HasFatalFailure())
                    return;
            }
        }
    }
}

TEST_F(lod_fixture, PatchesAreFinestUnderTheCameraAndCoarseFarAway) {
    // Gentle ground: on the rough fixture every node is close enough to split.
    make_test_terrain(&t, 6, 2.0f, 0.05f);
    radii = {};
    ASSERT_TRUE(terrain_update_split_radii(&t, &radii, 0.125f / 70.0f, -1));
    const float cam[3] = {10.0f, t.max_height + 2.0f, 10.0f};
    const float down[3] = {0, -1, 0};
    std::vector<terrain_patch> patches;
    terrain_mark_splits(&t, 2, cam, nullptr, 0);
    terrain_select_patches(&t, 2, cam, down, &patches);
    int last = t.n - 2;
    auto level_at = [&](float x, float z) {
        for (const terrain_patch &p : patches) {
            float s = float((t.dim - 1) >> p.level) * t.spacing;
            if (x >= float(p.a) * s && x < float(p.a + 1) * s && z >= float(p.b) * s && z < float(p.b + 1) * s)
                return p.level;
        }
        return -1;
    };
    EXPECT_EQ(level_at(10, 10), last);
    EXPECT_LT(level_at(250, 250), last);
    EXPECT_GE(level_at(250, 250), 1);
    EXPECT_GT(patches.size(), 4u);

    // A coarser detail setting chooses fewer patches for the same camera.
    terrain_radii_pass coarse;
    ASSERT_TRUE(terrain_update_split_radii(&t, &coarse, 0.125f / 5.0f, -1));
    std::vector<terrain_patch> fewer;
    terrain_mark_splits(&t, 2, cam, nullptr, 0);
    terrain_select_patches(&t, 2, cam, down, &fewer);
    EXPECT_LT(fewer.size(), patches.size());
}

TEST_F(lod_fixture, PatchesBehindTheCameraAreLeftOut) {
    // In the middle of the field, looking along +x.
    const float cam[3] = {128.0f, 0.0f, 128.0f};
    const float ahead[3] = {1, 0, 0};
    std::vector<terrain_patch> patches;
    terrain_mark_splits(&t, 4, cam, nullptr, 0);
    terrain_select_patches(&t, 4, cam, ahead, &patches);
    ASSERT_FALSE(patches.empty());
    for (const terrain_patch &p : patches) {
        float s = float((t.dim - 1) >> p.level) * t.spacing;
        EXPECT_GE(float(p.a + 1) * s, cam[0]);
    }
    // Looking the other way chooses the other half.
    const float back[3] = {-1, 0, 0};
    std::vector<terrain_patch> other;
    terrain_select_patches(&t, 4, cam, back, &other);
    for (const terrain_patch &p : other) {
        float s = float((t.dim - 1) >> p.level) * t.spacing;
        EXPECT_LE(float(p.a) * s, cam[0]);
    }
}

TEST_F(lod_fixture, DetailRegionsSplitTheirNodesToAQuarterOfTheirSize) {
    const float far_cam[3] = {-5000, 0, -5000};
    const float down[3] = {0, -1, 0};
    terrain_region r{32, 64, 32};
    std::vector<terrain_patch> patches;
    terrain_mark_splits(&t, 0, far_cam, &r, 1);
    terrain_select_patches(&t, 0, far_cam, down, &patches);
    for (const terrain_patch &p : patches) {
        int s = (t.dim - 1) >> p.level;
        bool inside = p.a * s < r.x + r.size && (p.a + 1) * s > r.x && p.b * s < r.z + r.size && (p.b + 1) * s > r.z;
        if (inside) {
            EXPECT_LE(s, r.size / 4) << p.level << ":" << p.a << "," << p.b;
        }
    }
}

TEST_F(lod_fixture, BudgetedRadiiMatchAWholePassAndFollowHeightChanges) {
    std::vector<float> whole = t.lod_error;
    std::fill(t.lod_error.begin(), t.lod_error.end(), 0.0f);
    terrain_radii_pass p;
    int frames = 0;
    while (!terrain_update_split_radii(&t, &p, 0.125f / 70.0f, TERRAIN_RADII_BUDGET))
        ASSERT_LT(++frames, 10000);
    EXPECT_GT(frames, 5);
    EXPECT_EQ(t.lod_error, whole);
    // Nothing more to do until the heights change.
    EXPECT_FALSE(terrain_update_split_radii(&t, &p, 0.125f / 70.0f, 0));
    EXPECT_FALSE(p.active);

    // Wheels dig every frame: a pass still finishes (in about as many frames
    // as one pass takes) and the one after it sees the new heights.
    const int pass_frames = frames;
    frames = 0;
    std::vector<float> saved = t.heights;
    bool finished = false;
    while (!finished && frames < 4 * pass_frames) {
        (void)terrain_add_bump(&t, 100, 100, 6, 0.25f);
        finished = terrain_update_split_radii(&t, &p, 0.125f / 70.0f, TERRAIN_RADII_BUDGET);
        ++frames;
    }
    EXPECT_TRUE(finished) << "the pass never finished under continuous digging";
    // A big change: the radii grow once the pass after it is through.
    t.heights = saved;
    (void)terrain_add_bump(&t, 128, 128, 30, 5000.0f);
    while (!terrain_update_split_radii(&t, &p, 0.125f / 70.0f, -1)) {
    }
    EXPECT_GT(t.lod_error[lod_node_index(t.n, 32, 32)], whole[lod_node_index(t.n, 32, 32)]);
    t.heights = saved;
    // Consistent: a node's radius reaches past every child's.
    for (int level = 0; level < t.n; ++level)
        for (int b = 0; b < (1 << level); ++b)
            for (int a = 0; a < (1 << level); ++a)
                for (int k = 0; k < 4; ++k)
                    EXPECT_GT(t.lod_error[lod_node_index(level, a, b)],
                              t.lod_error[lod_node_index(level + 1, 2 * a + (k & 1), 2 * b + (k >> 1))]);
}

TEST(TerrainRadii, AFlatFieldNeedsOnlyTheNodeSizes) {
    Terrain t;
    make_test_terrain(&t, 3, 1.0f, 0.0f);
    terrain_radii_pass p;
    ASSERT_TRUE(terrain_update_split_radii(&t, &p, 0.01f, -1));
    // The finest level: size * sqrt(1/2), squared.
    float size = t.extent / 8;
    EXPECT_NEAR(t.lod_error[lod_node_index(3, 2, 5)], size * size * 0.5f, 1e-3f);
}

// ---------------------------------------------------------------- detail levels

TEST(TerrainDetailLevels, PlanFollowsSpacingLevelBitsAndFieldSize) {
    struct row {
        int dim;
        float spacing;
        int bits;
        std::vector<std::pair<int, int>> want;  // bit, size
    } rows[] = {
        {513, 2.0f, 5, {{1, 64}, {4, 256}, {16, 512}}},  // Low+High
        {513, 2.0f, 0, {{16, 512}}},                     // None
        {513, 0.5f, 1, {{1, 128}, {16, 512}}},           // 128 * 0.5 ft reaches 64 ft
        {513, 0.25f, 3, {{1, 256}, {2, 512}, {16, 512}}},
        {129, 1.0f, 15, {{1, 64}, {2, 128}, {16, 128}}}, // only levels smaller than the field
        {33, 1.0f, 15, {{16, 32}}},                      // no level fits beside the whole one
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << r.dim << " " << r.spacing << " " << r.bits);
        std::vector<std::pair<int, int>> got;
        for (const terrain_level_plan &p : terrain_plan_levels(r.dim, r.spacing, r.bits))
            got.emplace_back(p.bit, p.size);
        EXPECT_EQ(got, r.want);
    }
}

TEST(TerrainDetailLevels, LevelsMoveOnlyPastAQuarterAndInQuarterSteps) {
    const int size = 64, dim = 513;
    int x = terrain_level_origin(256, size, dim);
    EXPECT_EQ(x, 224);  // centred on the camera
    // Up to a quarter of the size away the level stays.
    for (int c = 256 - 16; c <= 256 + 16; ++c)
        EXPECT_FALSE(terrain_level_must_move(x, x, size, c, 256)) << c;
    EXPECT_TRUE(terrain_level_must_move(x, x, size, 273, 256));
    EXPECT_TRUE(terrain_level_must_move(x, x, size, 256, 239));
    int moved = terrain_level_origin(273, size, dim);
    EXPECT_EQ(moved - x, 16);
    EXPECT_EQ(moved % 16, 0);
    EXPECT_FALSE(terrain_level_must_move(moved, moved, size, 273, 273));
    // Clamped to the field, also for cameras outside it.
    EXPECT_EQ(terrain_level_origin(-100, size, dim), 0);
    EXPECT_EQ(terrain_level_origin(5000, size, dim), 512 - 64);
}

// ---------------------------------------------------------------- tile atlas

kr_image solid(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    kr_image img;
    img.width = w;
    img.height = h;
    img.components = 3;
    img.levels = 1;
    for (int i = 0; i < w * h; ++i)
        img.pixels.insert(img.pixels.end(), {r, g, b});
    return img;
}

std::array<uint8_t, 3> atlas_at(const std::vector<uint8_t> &px, int x, int y) {
    const uint8_t *p = &px[(size_t(y) * TILE_ATLAS_DIM + size_t(x)) * 3];
    return {p[0], p[1], p[2]};
}

TEST(TerrainTileAtlas, CellsFollowTheTileCount) {
    EXPECT_EQ(tile_atlas_cells(0), 1);
    EXPECT_EQ(tile_atlas_cells(1), 1);
    EXPECT_EQ(tile_atlas_cells(4), 2);
    EXPECT_EQ(tile_atlas_cells(5), 4);
    EXPECT_EQ(tile_atlas_cells(10), 4);
    EXPECT_EQ(tile_atlas_cells(17), 8);
    EXPECT_EQ(tile_atlas_cells(256), 16);

    // Ten tiles: 4x4 cells of 64 pixels, tile i at (i mod 4, i div 4); the
    // cells past the last tile and a tile without an image stay white.
    std::vector<kr_image> imgs;
    for (int i = 0; i < 10; ++i)
        imgs.push_back(solid(16, 16, uint8_t(i * 20), 7, 9));
    std::vector<const kr_image *> tiles;
    for (auto &i : imgs)
        tiles.push_back(&i);
    tiles[3] = nullptr;
    std::vector<uint8_t> px = tile_atlas_pixels(tiles);
    ASSERT_EQ(px.size(), size_t(256 * 256 * 3));
    for (int i = 0; i < 10; ++i) {
        auto want = i == 3 ? std::array<uint8_t, 3>{255, 255, 255} : std::array<uint8_t, 3>{uint8_t(i * 20), 7, 9};
        EXPECT_EQ(atlas_at(px, (i % 4) * 64 + 5, (i / 4) * 64 + 60), want) << i;
    }
    EXPECT_EQ(atlas_at(px, 3 * 64 + 10, 3 * 64 + 10), (std::array<uint8_t, 3>{255, 255, 255}));

    // One tile fills the whole atlas, sampled nearest: a two-colour image
    // keeps a sharp edge in the middle.
    kr_image two = solid(8, 8, 200, 0, 0);
    for (int y = 0; y < 8; ++y)
        for (int x = 4; x < 8; ++x)
            two.pixels[size_t(y * 8 + x) * 3] = 10;
    std::vector<uint8_t> one = tile_atlas_pixels({&two});
    EXPECT_EQ(atlas_at(one, 127, 0)[0], 200);
    EXPECT_EQ(atlas_at(one, 128, 255)[0], 10);
}

TEST(TerrainTileAtlas, LargeTilesAreHalvedThroughTheirMipChain) {
    // 128x128 with a chain whose first smaller level is another colour: in a
    // 64-pixel cell (five tiles) the halved level is what shows.
    kr_image big = solid(128, 128, 50, 50, 50);
    build_mip_chain(&big, "big");
    size_t level1 = size_t(128 * 128 * 3);
    for (size_t i = level1; i < level1 + size_t(64 * 64 * 3); i += 3)
        big.pixels[i] = 99;
    std::vector<const kr_image *> tiles(5, nullptr);
    tiles[1] = &big;
    std::vector<uint8_t> px = tile_atlas_pixels(tiles);
    EXPECT_EQ(atlas_at(px, 64 + 10, 10)[0], 99);
}

// ---------------------------------------------------------------- height blocks

TEST(TerrainHeightBlocks, DirtyBlocksGoRoundRobinWithinTheBudget) {
    Terrain t;
    make_test_terrain(&t, 8, 1.0f);  // 513 samples: 4x4 blocks
    ASSERT_EQ(t.blocks, 4);
    for (int k : {1, 5, 6, 14})
        t.dirty_mask[size_t(k) >> 3] = uint8_t(t.dirty_mask[size_t(k) >> 3] | 1u << (k & 7));
    int cursor = 3;
    EXPECT_EQ(terrain_take_dirty_blocks(&t, &cursor, 2), (std::vector<int>{5, 6}));
    EXPECT_EQ(cursor, 7);
    EXPECT_EQ(terrain_take_dirty_blocks(&t, &cursor, 2), (std::vector<int>{14, 1}));
    EXPECT_EQ(cursor, 2);
    EXPECT_TRUE(terrain_take_dirty_blocks(&t, &cursor, 2).empty());
    // No limit: everything marked, in one call.
    terrain_mark_dirty(&t, 0, 0, 512, 512);
    EXPECT_EQ(terrain_take_dirty_blocks(&t, &cursor, -1).size(), 16u);
    for (uint8_t b : t.dirty_mask)
        EXPECT_EQ(b, 0);
}

// ---------------------------------------------------------------- decals

terrain_decal decal_at(float x, float z, float size, float aspect, float angle) {
    terrain_decal d;
    d.x = x;
    d.z = z;
    d.size = size;
    d.aspect = aspect;
    d.angle = angle;
    d.sin_angle = std::sin(angle);
    d.cos_angle = std::cos(angle);
    return d;
}

TEST(TerrainDecalMap, DecalsEnterTheCellsTheirBoxTouchesClampedToTheField) {
    const float extent = 800;  // cells of 100 ft
    struct row {
        terrain_decal d;
        std::vector<int> cells;
    } rows[] = {
        {decal_at(150, 150, 10, 1, 0), {9}},
        {decal_at(198, 150, 10, 0.5f, 0), {9, 10}},          // half width 2.5 reaches past x = 200
        {decal_at(200, 150, 10, 1, 0), {9, 10}},
        {decal_at(150, 100, 10, 0.5f, 1.5707964f), {1, 9}},  // turned: length along x, width along z
        {decal_at(-3, 795, 20, 1, 0), {56}},                 // straddles the corner: the clamped edge cell only
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << r.d.x << "," << r.d.z);
        EXPECT_EQ(terrain_decal_cells(r.d, extent), r.cells);
    }
}

TEST(TerrainDecalMap, ListOperationsKeepCellsAscendingAndRejectBadIndices) {
    Terrain t;
    make_test_terrain(&t, 3, 100.0f);  // 1600 ft, cells of 200 ft
    terrain_decal_append(&t, decal_at(50, 50, 10, 1, 0));
    terrain_decal_append(&t, decal_at(60, 50, 10, 1, 0));
    terrain_decal_insert(&t, 0, decal_at(1500, 1500, 10, 1, 0));
    terrain_gpu *g = terrain_gpu_of(&t);
    EXPECT_EQ(g->cells[0], (std::vector<int>{1, 2}));
    EXPECT_EQ(g->cells[63], (std::vector<int>{0}));

    console_lines().clear();
    terrain_decal_remove(&t, 3);
    terrain_decal_replace(&t, -1, decal_at(0, 0, 1, 1, 0));
    terrain_decal_insert(&t, 4, decal_at(0, 0, 1, 1, 0));
    EXPECT_EQ(console_lines().size(), 3u);
    EXPECT_TRUE(console_has("Out of range decal index"));
    EXPECT_EQ(t.decals.size(), 3u);

    terrain_decal_remove(&t, 0);
    EXPECT_EQ(g->cells[0], (std::vector<int>{0, 1}));
    EXPECT_TRUE(g->cells[63].empty());

    // Hidden decals stay listed but leave the map.
    terrain_toggle_decals(&t);
    EXPECT_EQ(t.decals.size(), 2u);
    EXPECT_TRUE(g->cells[0].empty());
    terrain_toggle_decals(&t);
    EXPECT_EQ(g->cells[0].size(), 2u);
    terrain_render_unload(&t);
    EXPECT_EQ(t.render, nullptr);
}

TEST(TerrainDecalMap, TreadmarksStopPastTheLimit) {
    Terrain t;
    make_test_terrain(&t, 2, 1.0f);
    terrain_render_settings s = terrain_render_config();
    terrain_render_settings limited = s;
    limited.treadmark_limit = 2;
    terrain_render_configure(limited);
    int laid = 0;
    while (laid < 10 && terrain_lay_treadmark(&t))
        ++laid;
    EXPECT_EQ(laid, 3);  // laid while the count does not exceed the limit
    terrain_render_configure(s);
    terrain_render_unload(&t);
}

// ---------------------------------------------------------------- services

TEST(TerrainServices, HooksAreFilledAndTheHeightImageRoundTrips) {
    track_services s;
    terrain_render_fill_services(&s);
    EXPECT_NE(s.render_upload_heights, nullptr);
    EXPECT_NE(s.render_build_lod, nullptr);
    EXPECT_NE(s.render_unload, nullptr);
    ASSERT_NE(s.read_height_image, nullptr);
    ASSERT_NE(s.write_height_image, nullptr);
    height_image img{3, 2, {0, 1, 65535, 300, 40000, 7}};
    std::string path = (dirs().root / "terrain.png").string();
    ASSERT_TRUE(s.write_height_image(path.c_str(), img));
    height_image back;
    ASSERT_TRUE(s.read_height_image(path.c_str(), &back));
    EXPECT_EQ(back.width, 3);
    EXPECT_EQ(back.height, 2);
    EXPECT_EQ(back.samples, img.samples);
    // A short sample array is refused rather than read past.
    height_image bad{4, 4, {1, 2}};
    EXPECT_FALSE(s.write_height_image(path.c_str(), bad));
}

}  // namespace
