// The frame loop drawing into a real window (Xvfb and Mesa in the test run):
// each frame clears to the sky colour, and the Screenshot key saves the next
// frame as "screenshot%03d.png" in the home directory.
#include "core/core_local.h"
#include "files/files.h"
#include "render/render.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>

namespace {

namespace fs = std::filesystem;

// The home directory is fixed on first use: point it at a scratch folder
// before anything asks.
fs::path make_home()
{
    std::random_device rd;
    fs::path root = fs::temp_directory_path() / ("kr_draw_test_" + std::to_string(rd()));
    fs::create_directories(root / "Kessrun");
    setenv("XDG_DATA_HOME", root.c_str(), 1);
    return root;
}
const fs::path g_root = make_home();

struct remove_root {
    ~remove_root()
    {
        std::error_code ec;
        fs::remove_all(g_root, ec);
    }
} g_remove;

TEST(DrawSdl, ScreenshotKeySavesTheSkyColouredFrame)
{
    const char *display = std::getenv("DISPLAY");
    if (!display || !*display)
        GTEST_SKIP() << "no display";
    velk_set_gl_request(3, 1, velk_gl_kind::core);
    velk_window *window = velk_window_open("draw test", 160, 120, 32, false, 8, 24, 0, 0);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(krglInit());
    ASSERT_TRUE(krglCreatePrograms());
    velk_pump_events(window);
    input_clear_events();

    frame_loop L;
    L.window = window;
    L.clock = platform_loop_clock();
    L.clock.sleep = [](void *, double) {};
    L.input = platform_loop_input();
    L.input.ctx = window;
    L.keys = default_loop_keys();
    L.hooks.track_loaded = [](void *) { return true; };
    L.hooks.viewed_slot_has_bike = [](void *) { return true; };
    L.hooks.viewed_slot_local = [](void *) { return true; };
    const char *names[] = {"screenshot004.png", "tracks/x/desc", nullptr};
    L.data_names = names;
    frame_loop_init(&L);

    ASSERT_TRUE(frame_round(&L));
    input_queue_event_now(L.keys.screenshot, true);
    input_queue_event_now(L.keys.screenshot, false);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(frame_round(&L));

    fs::path shot = g_root / "Kessrun" / "screenshot005.png";
    ASSERT_TRUE(fs::exists(shot));
    std::vector<uint8_t> bytes(fs::file_size(shot));
    data_file *f = data_open(shot.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(data_read(f, bytes.data(), bytes.size()), bytes.size());
    data_close(f);
    kr_image img;
    ASSERT_TRUE(image_decode_png(bytes, "shot", &img));
    int width = 0, height = 0;
    ASSERT_TRUE(velk_frame_begin(window, &width, &height));
    velk_frame_end(window);
    EXPECT_EQ(img.width, width);
    EXPECT_EQ(img.height, height);
    const int sky[3] = {50, 153, 204};
    for (size_t p : {size_t(0), size_t(img.width * img.height / 2), size_t(img.width * img.height - 1)})
        for (size_t c = 0; c < 3; ++c)
            EXPECT_NEAR(int(img.pixels[p * 3 + c]), sky[c], 2) << "pixel " << p;

    // Not in editor view.
    L.editor_enabled = true;
    L.view = view_mode::editor;
    input_queue_event_now(L.keys.screenshot, true);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(frame_round(&L));
    EXPECT_FALSE(fs::exists(g_root / "Kessrun" / "screenshot006.png"));

    krglShutdown();
    velk_window_close(window);
}

}  // namespace
