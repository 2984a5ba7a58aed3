// The ride view drawn into a real window (Xvfb and Mesa in the test run): a
// rider standing on a generated terrain sees the ground in the lower part of
// the picture and the sky above it, and riding on changes the picture; a
// track camera draws through the frame loop's hook.
#include "core/lifecycle_local.h"
#include "core/views_local.h"
#include "render/render.h"
#include "render/tests/terrain_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

constexpr int k_width = 96, k_height = 64;

bool is_sky(const uint8_t *p) {
    return std::abs(p[0] - 50) <= 2 && std::abs(p[1] - 153) <= 2 && std::abs(p[2] - 204) <= 2;
}

struct views_gl : testing::Test {
    velk_window *window = nullptr;
    terrain_render_settings saved = terrain_render_config();
    std::unique_ptr<track_state> ts = std::make_unique<track_state>();
    views_state v;

    void SetUp() override {
        const char *display = std::getenv("DISPLAY");
        if (!display || !*display)
            GTEST_SKIP() << "no display";
        velk_set_gl_request(3, 3, velk_gl_kind::core);
        window = velk_window_open("views test", k_width, k_height, 24, false, 8, 24, 0, 0);
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(krglInit());
        ASSERT_TRUE(krglCreatePrograms());
        terrain_render_settings s;
        s.texture_dim = 128;
        s.texture_levels = 1;
        s.mesh_exponent = 2;
        terrain_render_configure(s);

        ts->folder = "tracks/test";
        Terrain *t = &ts->terrain;
        make_test_terrain(t, 7, 2.0f, 4.0f);
        terrain_render_upload_heights(t);
        terrain_render_build_tile_atlas(t);
        terrain_render_load_treadmarks(t);
        terrain_render_upload_tilemap(t);
        terrain_render_build_lod(t);
        terrain_render_sort_decals(t);
        t->loaded = true;
        v.track = ts.get();
    }
    void TearDown() override {
        if (!window)
            return;
        terrain_render_unload(&ts->terrain);
        terrain_render_configure(saved);
        DeleteStaleTextures(true);
        krglShutdown();
        velk_window_close(window);
    }
    static void clear() {
        krglViewport(0, 0, k_width, k_height);
        krglClearColor(0.196078f, 0.6f, 0.8f, 0.0f);
        krglClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
    static std::vector<uint8_t> read_back() {
        krglFlush();
        std::vector<uint8_t> rgb(size_t(k_width) * k_height * 3);
        EXPECT_TRUE(read_pixels_rgb(0, 0, k_width, k_height, rgb.data()));  // bottom row first
        return rgb;
    }
    static const uint8_t *pixel(const std::vector<uint8_t> &rgb, int x, int y) {
        return &rgb[(size_t(y) * k_width + size_t(x)) * 3];
    }
};

TEST_F(views_gl, RideViewShowsGroundBelowAndSkyAbove) {
    Terrain *t = &ts->terrain;
    // A rider body upright over the field's middle, facing -z.
    auto picture = [&](double z) {
        body_frame rider;
        rider.position = {256, terrain_height_at(t, 256, float(z)) + 1.5, z};
        ride_view_settings rs;
        rs.fov_y = vertical_fov(90, k_width, k_height);
        rs.angle = 10;
        ride_gimbal g;
        view_camera cam;
        ride_view_camera(rider, rs, 0, &g, &cam, nullptr);
        clear();
        views_draw_scene(&v, cam, k_width, k_height);
        return read_back();
    };

    std::vector<uint8_t> a = picture(300);
    const uint8_t *bottom = pixel(a, k_width / 2, 2);
    const uint8_t *top = pixel(a, k_width / 2, k_height - 2);
    EXPECT_FALSE(is_sky(bottom)) << int(bottom[0]) << " " << int(bottom[1]) << " " << int(bottom[2]);
    EXPECT_TRUE(is_sky(top)) << int(top[0]) << " " << int(top[1]) << " " << int(top[2]);
    EXPECT_GT(krgl_stats().ground_polygons.count, 0);

    // Twenty feet further on the hills are seen from elsewhere.
    std::vector<uint8_t> b = picture(280);
    EXPECT_NE(a, b);
    EXPECT_EQ(krglGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(views_gl, TracksideCameraDrawsThroughTheLoopHook) {
    // A track camera above the hills looking along +z; no rider is needed.
    track_camera c;
    c.x = 256;
    c.y = ts->terrain.max_height + 6;
    c.z = 60;
    ts->objects.cameras.push_back(c);
    frame_loop L;
    views_attach(&L, &v);
    ASSERT_EQ(L.hooks.camera_count(L.hooks.view_ctx), 1);
    views_select_camera(&v, 0);
    EXPECT_EQ(v.chosen, 0);

    clear();
    L.hooks.draw(L.hooks.view_ctx, view_mode::trackside, k_width, k_height);
    std::vector<uint8_t> rgb = read_back();
    EXPECT_FALSE(is_sky(pixel(rgb, k_width / 2, 2)));
    EXPECT_TRUE(is_sky(pixel(rgb, k_width / 2, k_height - 2)));

    // The ride view without a rider in the viewed slot draws nothing.
    clear();
    L.hooks.draw(L.hooks.view_ctx, view_mode::ride, k_width, k_height);
    rgb = read_back();
    EXPECT_TRUE(is_sky(pixel(rgb, k_width / 2, 2)));
    EXPECT_EQ(krglGetError(), GLenum(GL_NO_ERROR));
}

}  // namespace
