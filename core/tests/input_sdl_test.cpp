// A key pressed in an SDL window (under Xvfb in the test run) reaches the
// rider's input vector in the tic whose time it falls in.
#include "core/core_local.h"
#include "files/files.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

struct tic_record {
    double due;
    float throttle;
};

struct world {
    frame_loop *loop = nullptr;
    std::vector<tic_record> tics;
};

TEST(InputVectorSdl, PressedKeyReachesItsTic) {
    const char *display = std::getenv("DISPLAY");
    if (!display || !*display)
        GTEST_SKIP() << "no display";
    velk_window *window = velk_window_open("input vector test", 320, 240, 32, false, 8, 24, 8, 0);
    ASSERT_NE(window, nullptr);
    velk_pump_events(window);
    input_clear_events();
    config_set_defaults();
    bindings_bind_all();

    frame_loop L;
    world w;
    w.loop = &L;
    L.clock = platform_loop_clock();
    L.clock.sleep = [](void *, double) {};
    L.input = platform_loop_input();
    L.input.ctx = window;
    L.keys = default_loop_keys();
    L.hooks.ctx = &w;
    L.hooks.track_loaded = [](void *) { return true; };
    L.hooks.viewed_slot_has_bike = [](void *) { return true; };
    L.hooks.viewed_slot_local = [](void *) { return true; };
    L.hooks.race_tic = [](void *c) {
        auto *fw = static_cast<world *>(c);
        const frame_loop *l = fw->loop;
        fw->tics.push_back({l->frame_wall - l->target_time + l->sim_time, l->inputs[1]});
    };
    frame_loop_init(&L);

    // The frame's middle: the throttle key goes down.
    SDL_Delay(40);
    double before = velk_seconds();
    SDL_Event e = {};
    e.type = SDL_KEYDOWN;
    e.key.state = SDL_PRESSED;
    e.key.windowID = 0;
    e.key.keysym.scancode = SDL_SCANCODE_X;
    e.key.keysym.sym = SDLK_x;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
    double after = velk_seconds();
    SDL_Delay(40);
    ASSERT_TRUE(frame_round(&L));

    size_t first = w.tics.size();
    for (size_t i = 0; i < w.tics.size(); i++) {
        if (w.tics[i].throttle == 1.0f) {
            first = i;
            break;
        }
    }
    ASSERT_GT(first, 0u) << "the key was there before its time";
    ASSERT_LT(first, w.tics.size()) << "the key never arrived";
    for (size_t i = first; i < w.tics.size(); i++)
        EXPECT_EQ(w.tics[i].throttle, 1.0f);
    // SDL stamps events in whole milliseconds.
    EXPECT_GE(w.tics[first].due, before - 0.003);
    EXPECT_LT(w.tics[first - 1].due, after);

    bindings_release_all();
    velk_window_close(window);
}

} // namespace
