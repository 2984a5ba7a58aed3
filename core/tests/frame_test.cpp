#include "core/core_local.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>

namespace {

// A clock that only moves when told to, and an event list with time stamps.
struct fake_world {
    double t = 0;
    double slept = 0;
    std::deque<velk_event> events;
    int race_tics = 0;
    bool track = true;
    bool bike = true;
    bool local = true;
    int cameras = 3;
    int selected_camera = -100;
    std::vector<int> event_tics;  // race tic count when each event was taken
};

velk_event key_at(uint32_t code, bool pressed, double t) {
    return velk_event{code, pressed, velk_clock_from_seconds(t)};
}

void attach(frame_loop *L, fake_world *w) {
    L->clock.now = [](void *c) { return static_cast<fake_world *>(c)->t; };
    L->clock.sleep = [](void *c, double s) {
        auto *fw = static_cast<fake_world *>(c);
        if (s > 0) {
            fw->t += s;
            fw->slept += s;
        }
    };
    L->clock.ctx = w;
    L->input.next_until = [](void *c, double deadline, velk_event *ev) {
        auto *fw = static_cast<fake_world *>(c);
        if (fw->events.empty() || velk_clock_seconds(fw->events.front().time) > deadline)
            return false;
        *ev = fw->events.front();
        fw->events.pop_front();
        fw->event_tics.push_back(fw->race_tics);
        return true;
    };
    L->input.ctx = w;
    L->keys = default_loop_keys();
    L->hooks.ctx = w;
    L->hooks.track_loaded = [](void *c) { return static_cast<fake_world *>(c)->track; };
    L->hooks.viewed_slot_has_bike = [](void *c) { return static_cast<fake_world *>(c)->bike; };
    L->hooks.viewed_slot_local = [](void *c) { return static_cast<fake_world *>(c)->local; };
    L->hooks.race_tic = [](void *c) { static_cast<fake_world *>(c)->race_tics++; };
    L->hooks.camera_count = [](void *c) { return static_cast<fake_world *>(c)->cameras; };
    L->hooks.select_camera = [](void *c, int cam) { static_cast<fake_world *>(c)->selected_camera = cam; };
    frame_loop_init(L);
}

// Runs one round whose own work takes `cost` seconds of wall time.
void round_taking(frame_loop *L, fake_world *w, double cost) {
    w->t += cost;
    ASSERT_TRUE(frame_round(L));
}

TEST(FrameStep, LongFrameIsCappedAtSixteenTics) {
    frame_loop L;
    fake_world w;
    attach(&L, &w);
    round_taking(&L, &w, 0.5);
    EXPECT_DOUBLE_EQ(L.target_time, 0.125);
    EXPECT_DOUBLE_EQ(L.game_clock, 0.125);
    EXPECT_EQ(w.race_tics, 16);
    EXPECT_EQ(L.histogram[7], 1u);
}

TEST(FrameStep, FastFramesSleepToOneTic) {
    frame_loop L;
    fake_world w;
    attach(&L, &w);
    for (int i = 0; i < 10; ++i)
        round_taking(&L, &w, 0.001);
    EXPECT_EQ(w.race_tics, 10);
    EXPECT_NEAR(w.slept, 10 * (TIC_LENGTH - 0.001), 1e-9);
    EXPECT_EQ(L.histogram[0], 10u);
    EXPECT_NEAR(L.max_step, TIC_LENGTH, 1e-12);
}

TEST(FrameStep, LockedRateIgnoresWallTime) {
    frame_loop L;
    fake_world w;
    attach(&L, &w);
    L.lock_fps = 30;
    round_taking(&L, &w, 0.001);  // sleeps the rest of 1/30 s
    round_taking(&L, &w, 0.5);    // too slow: no sleep, still 1/30 s
    EXPECT_NEAR(w.slept, 1.0 / 30 - 0.001, 1e-12);
    EXPECT_DOUBLE_EQ(L.min_step, 1.0 / 30);
    EXPECT_DOUBLE_EQ(L.max_step, 1.0 / 30);
    EXPECT_DOUBLE_EQ(L.game_clock, 2.0 / 30);
    // 2/30 s holds 8.53 tics: 9 have been started.
    EXPECT_EQ(w.race_tics, 9);
}

TEST(FrameStep, WarpRunsHundredTicsWithoutWaiting) {
    frame_loop L;
    fake_world w;
    attach(&L, &w);
    L.warp = true;
    round_taking(&L, &w, 0.0);
    round_taking(&L, &w, 0.0);
    EXPECT_EQ(w.race_tics, 200);
    EXPECT_EQ(w.slept, 0.0);
}

TEST(FrameStep, HistogramBuckets) {
    const double elapsed_in_tics[] = {1.5, 3, 5, 9, 20, 40, 70};
    frame_loop L;
    fake_world w;
    attach(&L, &w);
    for (double e : elapsed_in_tics)
        round_taking(&L, &w, e * TIC_LENGTH);
    for (int b = 1; b <= 7; ++b)
        EXPECT_EQ(L.histogram[size_t(b)], 1u) << "bucket " << b;
    EXPECT_EQ(L.history.size(), 7u);
    EXPECT_GE(L.history.capacity(), size_t(FRAME_HISTORY_SIZE));
}

TEST(TicLoop, NoRaceTicsWithoutTrack) {
    frame_loop L;
    fake_world w;
    w.track = false;
    attach(&L, &w);
    round_taking(&L, &w, 0.1);
    EXPECT_EQ(L.view, view_mode::no_track);
    EXPECT_EQ(w.race_tics, 0);
    EXPECT_GT(L.sim_time, 0.09);
}

TEST(TicLoop, PauseAndStepThreeTimes) {
    frame_loop L;
    fake_world w;
    attach(&L, &w);
    round_taking(&L, &w, 0.05);
    int before = w.race_tics;
    double t = w.t + 0.001;
    w.events.push_back(key_at(L.keys.pause, true, t));
    w.events.push_back(key_at(L.keys.pause, false, t));
    for (int i = 0; i < 3; ++i) {
        w.events.push_back(key_at(L.keys.step, true, t + 0.01 * (i + 1)));
        w.events.push_back(key_at(L.keys.step, false, t + 0.01 * (i + 1)));
    }
    round_taking(&L, &w, 0.1);
    EXPECT_TRUE(L.paused);
    // Tics before the pause tic ran normally; while paused only the steps.
    int steps_and_early = w.race_tics - before;
    int early = w.event_tics[0] - before;
    EXPECT_EQ(steps_and_early - early, 3);
    round_taking(&L, &w, 0.1);
    EXPECT_EQ(w.race_tics - before, steps_and_early);
    w.events.push_back(key_at(L.keys.pause, true, w.t + 0.001));
    round_taking(&L, &w, 0.1);
    EXPECT_FALSE(L.paused);
    EXPECT_GT(w.race_tics - before, steps_and_early);
}

TEST(TicLoop, EventReachesTheTicItFallsIn) {
    frame_loop L;
    fake_world w;
    attach(&L, &w);
    // One frame of 8 tics from 0 to 0.0625; tic k falls due at k/128 s.
    w.events.push_back(key_at(L.keys.pause, true, 0.03));
    round_taking(&L, &w, 0.0625);
    // Due at 0.03125, tic 4 takes the event: tics 1 to 3 ran before it.
    ASSERT_EQ(w.event_tics.size(), 1u);
    EXPECT_EQ(w.event_tics[0], 3);
    EXPECT_EQ(w.race_tics, 3);
}

TEST(TicLoop, LateEventStaysForItsTic) {
    frame_loop L;
    fake_world w;
    attach(&L, &w);
    w.events.push_back(key_at(L.keys.pause, true, 0.2));
    round_taking(&L, &w, 0.1);
    EXPECT_EQ(w.events.size(), 1u);
    EXPECT_FALSE(L.paused);
}

TEST(TicLoop, DigitKeysPickCameras) {
    frame_loop L;
    fake_world w;
    attach(&L, &w);
    round_taking(&L, &w, 0.01);
    w.events.push_back(key_at(L.keys.digits[0], true, w.t));
    round_taking(&L, &w, 0.01);
    EXPECT_EQ(w.selected_camera, -1);
    w.events.push_back(key_at(L.keys.digits[9], true, w.t));
    round_taking(&L, &w, 0.01);
    EXPECT_EQ(w.selected_camera, 2);
    w.events.push_back(key_at(L.keys.digits[2], true, w.t));
    round_taking(&L, &w, 0.01);
    EXPECT_EQ(w.selected_camera, 1);
}

TEST(TicLoop, TabCyclesViews) {
    frame_loop L;
    fake_world w;
    w.local = false;  // a watched rider keeps the trackside view
    attach(&L, &w);
    round_taking(&L, &w, 0.01);
    ASSERT_EQ(L.view, view_mode::ride);
    const view_mode expected[] = {view_mode::orbit, view_mode::trackside, view_mode::ride};
    for (view_mode v : expected) {
        w.events.push_back(key_at(L.keys.tab, true, w.t));
        round_taking(&L, &w, 0.01);
        EXPECT_EQ(L.view, v);
    }
    L.editor_enabled = true;
    w.events.push_back(key_at(L.keys.tab, true, w.t));
    round_taking(&L, &w, 0.01);
    EXPECT_EQ(L.view, view_mode::editor);
}

TEST(TicLoop, CloseEndsTheLoop) {
    frame_loop L;
    fake_world w;
    attach(&L, &w);
    w.events.push_back(key_at(VELK_CLOSE, true, 0.001));
    w.t += 0.02;
    EXPECT_FALSE(frame_round(&L));
    EXPECT_TRUE(L.quit);
    EXPECT_FALSE(frame_round(&L));
}

TEST(RecordVideo, FailedStreamStopsRecording) {
    const uint8_t rgb[2 * 2 * 3] = {};
    std::FILE *full = std::fopen("/dev/full", "wb");
    if (!full)
        GTEST_SKIP() << "no /dev/full";
    EXPECT_FALSE(write_ppm_frame(full, rgb, 2, 2));
    std::fclose(full);

    std::FILE *tmp = std::tmpfile();
    ASSERT_TRUE(tmp);
    ASSERT_TRUE(write_ppm_frame(tmp, rgb, 2, 2));
    EXPECT_EQ(std::ftell(tmp), long(std::strlen("P6\n2 2\n255\n") + sizeof rgb));
    std::fclose(tmp);
}

}  // namespace
