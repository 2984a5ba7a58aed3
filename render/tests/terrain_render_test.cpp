// The terrain renderer on a real context (Mesa under Xvfb): a small
// generated terrain goes through the load steps, is drawn from a known
// camera, follows height changes and moves its detail levels.
#include "platform/platform.h"
#include "render/render_local.h"
#include "render/tests/terrain_fixture.h"
#include "render/tests/test_util.h"

#include <cstdlib>

namespace {

constexpr int k_width = 96, k_height = 64;

struct terrain_gl : testing::Test {
    velk_window *window = nullptr;
    Terrain t;
    terrain_render_settings saved = terrain_render_config();

    void SetUp() override {
        const char *d = std::getenv("DISPLAY");
        if (!d || !*d)
            GTEST_SKIP() << "no display";
        velk_set_gl_request(3, 3, velk_gl_kind::core);
        window = velk_window_open("terrain test", k_width, k_height, 24, false, 8, 24, 0, 0);
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(krglInit());
        ASSERT_TRUE(krglCreatePrograms());
        terrain_render_settings s;
        s.texture_dim = 128;
        s.texture_levels = 1;  // High, plus the whole field
        s.mesh_exponent = 2;
        terrain_render_configure(s);
        make_test_terrain(&t, 7, 2.0f, 4.0f);  // 257 samples, 512 ft: 2x2 height blocks
        load(&t);
    }
    void TearDown() override {
        if (!window)
            return;
        terrain_render_unload(&t);
        terrain_render_configure(saved);
        DeleteStaleTextures(true);
        krglShutdown();
        velk_window_close(window);
    }
    static void load(Terrain *t) {
        terrain_render_upload_heights(t);
        terrain_render_build_tile_atlas(t);
        terrain_render_load_treadmarks(t);
        terrain_render_upload_tilemap(t);
        terrain_render_build_lod(t);
        terrain_render_sort_decals(t);
        t->loaded = true;
    }
    // Above the field's south-west part, looking north-east and down.
    terrain_camera camera() const {
        terrain_camera c;
        c.position[0] = 60;
        c.position[1] = t.max_height + 40;
        c.position[2] = 60;
        c.forward[0] = 1;
        c.forward[1] = -0.6f;
        c.forward[2] = 1;
        c.width = k_width;
        c.height = k_height;
        return c;
    }
    std::array<uint8_t, 3> draw_and_read(int x, int y) {
        krglViewport(0, 0, k_width, k_height);
        krglClearColor(0.196078f, 0.6f, 0.8f, 0.0f);
        krglClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        krgl_stats().ground_polygons.count = 0;
        terrain_draw_view(&t, camera(), nullptr);
        krglFlush();
        std::array<uint8_t, 3> p{};
        EXPECT_TRUE(read_pixels_rgb(x, y, 1, 1, p.data()));
        return p;
    }
};

bool is_sky(std::array<uint8_t, 3> p) {
    return std::abs(p[0] - 50) <= 2 && std::abs(p[1] - 153) <= 2 && std::abs(p[2] - 204) <= 2;
}

TEST_F(terrain_gl, GroundCoversTheLowerViewAndSkyStaysAbove) {
    terrain_gpu *g = terrain_gpu_of(&t);
    ASSERT_NE(g->heights, 0u);
    ASSERT_EQ(g->levels.size(), 2u);
    EXPECT_EQ(g->levels.back().size, 256);

    std::array<uint8_t, 3> ground = draw_and_read(k_width / 2, 4);
    EXPECT_FALSE(is_sky(ground)) << int(ground[0]) << " " << int(ground[1]) << " " << int(ground[2]);
    // White tiles lit by the default sun: a grey, not black.
    EXPECT_GT(ground[0], 40);
    EXPECT_NEAR(ground[0], ground[2], 3);
    std::array<uint8_t, 3> sky = draw_and_read(k_width / 2, k_height - 2);
    EXPECT_TRUE(is_sky(sky)) << int(sky[0]) << " " << int(sky[1]) << " " << int(sky[2]);
    EXPECT_GT(krgl_stats().ground_polygons.count, 0);
    EXPECT_EQ(krglGetError(), GLenum(GL_NO_ERROR));

    // The wireframe pass draws over the same patches without errors.
    terrain_render_set_wireframe(true);
    (void)draw_and_read(k_width / 2, 4);
    terrain_render_set_wireframe(false);
    EXPECT_EQ(krglGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(terrain_gl, AFieldWithOnlyTheWholeLevelStillDraws) {
    terrain_render_unload(&t);
    terrain_render_settings s = terrain_render_config();
    s.texture_levels = 0;
    terrain_render_configure(s);
    load(&t);
    ASSERT_EQ(terrain_gpu_of(&t)->levels.size(), 1u);
    EXPECT_FALSE(is_sky(draw_and_read(k_width / 2, 4)));
}

TEST_F(terrain_gl, LoadStepsKeepTheLoadingScreenAlive) {
    static int ticks = 0;
    track_services saved_services = track_get_services();
    track_services s = saved_services;
    s.tick = [] { ++ticks; };
    track_set_services(s);
    terrain_render_unload(&t);
    struct step {
        const char *name;
        void (*run)(Terrain *);
    };
    const step steps[] = {
        {"heights", terrain_render_upload_heights},
        {"level of detail", terrain_render_build_lod},
        {"detail textures", terrain_render_sort_decals},
    };
    for (const step &st : steps) {
        ticks = 0;
        st.run(&t);
        EXPECT_GT(ticks, 0) << st.name;
    }
    track_set_services(saved_services);
    EXPECT_TRUE(terrain_gpu_of(&t)->levels.back().composed);
}

TEST_F(terrain_gl, HeightChangesReachTheTextureWithinTheBudget) {
    // Sink the whole field far below the camera's view: the ground leaves
    // the bottom of the picture once the blocks are uploaded.
    for (float &h : t.heights)
        h -= 2000;
    terrain_mark_dirty(&t, 0, 0, t.dim - 1, t.dim - 1);
    ++t.change_counter;
    EXPECT_EQ(terrain_update_heights(&t, 1), 1);
    EXPECT_EQ(terrain_update_heights(&t, -1), 3);
    EXPECT_EQ(terrain_update_heights(&t, -1), 0);
    EXPECT_TRUE(is_sky(draw_and_read(k_width / 2, 4)));
}

TEST_F(terrain_gl, DetailLevelsFollowTheCameraAStepAFrame) {
    terrain_gpu *g = terrain_gpu_of(&t);
    const terrain_detail_level &high = g->levels.front();
    ASSERT_EQ(high.size, 64);
    EXPECT_EQ(high.x, terrain_level_origin(128, 64, t.dim));
    // The load composes the whole-terrain level only; the finer one waits
    // for the first frame's camera.
    EXPECT_TRUE(g->levels.back().composed);
    EXPECT_FALSE(high.composed);
    EXPECT_EQ(high.colour, 0u);
    terrain_update_detail_textures(&t);
    EXPECT_EQ(g->updating, -1);
    (void)draw_and_read(k_width / 2, 4);  // the camera at sample 30, 30
    int frames = 0;
    while (high.x != terrain_level_origin(30, 64, t.dim) && frames < 200) {
        terrain_render_update(&t, 1);
        terrain_update_detail_textures(&t);
        ++frames;
    }
    EXPECT_EQ(high.x, terrain_level_origin(30, 64, t.dim));
    EXPECT_EQ(high.z, terrain_level_origin(30, 64, t.dim));
    EXPECT_TRUE(high.composed);
    EXPECT_NE(high.colour, 0u);
    EXPECT_GT(frames, 3);  // spread over frames, not done at once
    EXPECT_EQ(g->updating, -1);
    EXPECT_EQ(krglGetError(), GLenum(GL_NO_ERROR));
    EXPECT_FALSE(is_sky(draw_and_read(k_width / 2, 4)));
}

// Texel (x, y) of a detail level's colour texture.
std::array<uint8_t, 3> level_texel(terrain_gpu *g, GLuint tex, int x, int y) {
    krglBindFramebuffer(GL_FRAMEBUFFER, g->framebuffer);
    krglFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, tex, 0);
    std::array<uint8_t, 4> p{};
    krglReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p.data());
    krglBindFramebuffer(GL_FRAMEBUFFER, 0);
    return {p[0], p[1], p[2]};
}

TEST_F(terrain_gl, DecalsAreBakedIntoTheLevelsTheyTouch) {
    kr_image red;
    red.width = red.height = 4;
    red.components = 4;
    red.levels = 1;
    for (int i = 0; i < 16; ++i)
        red.pixels.insert(red.pixels.end(), {220, 10, 10, 255});
    build_mip_chain(&red, "red");
    terrain_decal d;
    d.texture = CreateTexture(red.pixels.data(), 4, 4, 4);
    ASSERT_NE(d.texture, 0u);
    d.x = d.z = 256;  // the field's centre: 128 samples
    d.size = 64;
    d.aspect = 1;
    terrain_gpu *g = terrain_gpu_of(&t);
    const terrain_detail_level &whole = g->levels.back();
    // 128 texels over 256 samples: the centre is texel 64.
    EXPECT_EQ(level_texel(g, whole.colour, 64, 64), (std::array<uint8_t, 3>{255, 255, 255}));
    terrain_decal_append(&t, d);
    EXPECT_TRUE(whole.flags & 2);
    (void)draw_and_read(k_width / 2, 4);  // the finer level waits for a camera
    int frames = 0;
    auto busy = [&] {
        if (g->updating >= 0)
            return true;
        for (const terrain_detail_level &l : g->levels)
            if (l.flags)
                return true;
        return false;
    };
    while (busy() && frames < 500) {
        terrain_render_update(&t, 1);
        terrain_update_detail_textures(&t);
        ++frames;
    }
    ASSERT_FALSE(busy());
    std::array<uint8_t, 3> c = level_texel(g, whole.colour, 64, 64);
    EXPECT_NEAR(c[0], 220, 3);
    EXPECT_NEAR(c[1], 10, 3);
    // Outside the decal the tiles stay.
    EXPECT_EQ(level_texel(g, whole.colour, 10, 10), (std::array<uint8_t, 3>{255, 255, 255}));
    EXPECT_GT(krgl_stats().decals.count, 0);
    EXPECT_EQ(krglGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(terrain_gl, TreadmarkAtlasGivesEveryNameItsOwnCell) {
    // Two found textures (32 and 16 pixels) and a missing one: largest
    // first into a 64-pixel square; the missing name keeps no cell.
    std::vector<uint8_t> px(32 * 32 * 4, 200);
    std::string big = (dirs().root / "tread_big.png").string();
    std::string small = (dirs().root / "tread_small.png").string();
    ASSERT_TRUE(write_png_rgba_top_down(big.c_str(), px.data(), 32, 32));
    ASSERT_TRUE(write_png_rgba_top_down(small.c_str(), px.data(), 16, 8));
    ASSERT_TRUE(write_png_rgba_top_down((dirs().root / "tread_small_tnorm.png").string().c_str(), px.data(), 16, 16));
    t.tile_types.resize(2, tile_type_defaults());
    TreadmarkType m;
    m.defined = 1;
    m.texture_name = small;
    t.tile_types[0].treadmark[0] = m;
    m.texture_name = big;
    t.tile_types[0].treadmark[1] = m;
    m.texture_name = (dirs().root / "missing.png").string();
    t.tile_types[1].treadmark[0] = m;
    terrain_render_load_treadmarks(&t);
    terrain_gpu *g = terrain_gpu_of(&t);
    ASSERT_EQ(g->tread_uv.size(), size_t(2 * TREADMARK_TYPES));
    using uv = std::array<float, 8>;
    EXPECT_EQ(g->tread_uv[1], (uv{0, 0, 0.5f, 0, 0.5f, 0.5f, 0, 0.5f}));
    EXPECT_EQ(g->tread_uv[0], (uv{0.5f, 0, 0.75f, 0, 0.75f, 0.25f, 0.5f, 0.25f}));
    EXPECT_EQ(g->tread_uv[TREADMARK_TYPES], uv{});
    EXPECT_NE(g->tread_colour, 0u);
    EXPECT_EQ(t.tile_types[0].treadmark[0].normal_texture, g->tread_normal);
    EXPECT_EQ(krglGetError(), GLenum(GL_NO_ERROR));
}

}  // namespace
