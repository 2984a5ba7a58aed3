#include "core/core_local.h"
#include "files/files.h"
#include "sim/sim.h"
#include "track/track.h"

#include <gtest/gtest.h>

#include <algorithm>
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

TEST(TicLoop, EditorViewStopsTheRaceOffline) {
    frame_loop L;
    fake_world w;
    attach(&L, &w);
    L.editor_enabled = true;
    round_taking(&L, &w, 0.01);
    w.events.push_back(key_at(L.keys.tab, true, w.t));
    round_taking(&L, &w, 0.01);
    ASSERT_EQ(L.view, view_mode::editor);
    int before = w.race_tics;
    round_taking(&L, &w, 0.1);
    EXPECT_EQ(w.race_tics, before);
    // Online the race goes on behind the editor.
    L.connected = true;
    round_taking(&L, &w, 0.1);
    EXPECT_GT(w.race_tics, before);
}

// The Previous and Next Bike keys: a spectator moves along the running
// order; a rider may not, unless in spy mode or waiting online for a slot.
TEST(TicLoop, PreviousAndNextBikeKeys) {
    struct key_case {
        bool local, spy, connected, warmup;
        bool moves;
    };
    const key_case cases[] = {
        {false, false, false, false, true},
        {true, false, false, false, false},
        {true, true, false, false, true},
        {true, false, true, true, true},
        {true, false, true, false, false},
        {true, false, false, true, false},  // warmup means nothing offline
    };
    for (const key_case &c : cases) {
        frame_loop L;
        fake_world w;
        w.local = c.local;
        attach(&L, &w);
        static std::vector<int> steps;
        steps.clear();
        L.hooks.step_viewed_rider = [](void *, int direction) { steps.push_back(direction); };
        config().spy = c.spy ? 1 : 0;
        L.connected = c.connected;
        L.warmup = c.warmup;
        w.events.push_back(key_at(L.keys.next_rider, true, 0.001));
        w.events.push_back(key_at(L.keys.prev_rider, true, 0.002));
        w.events.push_back(key_at(L.keys.prev_rider, false, 0.003));
        round_taking(&L, &w, 0.01);
        config().spy = 0;
        EXPECT_EQ(steps, c.moves ? std::vector<int>({1, -1}) : std::vector<int>()) << c.local << c.spy << c.connected;
    }
}

TEST(TicLoop, WarpRestartsAFinishedRace) {
    frame_loop L;
    fake_world w;
    attach(&L, &w);
    static bool finished;
    static int restarts;
    finished = false;
    restarts = 0;
    L.hooks.race_finished = [](void *) { return finished; };
    L.hooks.restart_race = [](void *) { ++restarts; };
    round_taking(&L, &w, 0.0);
    EXPECT_EQ(restarts, 0);
    finished = true;
    round_taking(&L, &w, 0.0);
    EXPECT_EQ(restarts, 0);  // only with "--warp"
    L.warp = true;
    round_taking(&L, &w, 0.0);
    EXPECT_EQ(restarts, 1);
}

// Ruts at any frame rate: every race tic queues a stroke behind a rider
// moving over a flat field, and the heights seen at each of 600 tics must
// not depend on how the tics were grouped into frames.
struct rut_world : fake_world {
    Terrain terrain;
    terrain_erosion erosion;
    int tics = 0;
    std::vector<uint64_t> seen;  // a hash of the heights at the start of each tic
    std::vector<float> heights;  // after 600 tics
    float rider_x() const { return 12.0f + 0.08f * float(tics); }
};

void flat_field(Terrain *t) {
    t->n = 5;
    t->dim = 65;
    t->tiles = 32;
    t->spacing = t->inv_spacing = 1.0f;
    t->extent = 64.0f;
    t->heights.assign(65 * 65, 50.0f);
    t->base_heights = t->heights;
    t->tilemap.assign(32 * 32, 0);
    t->tile_types = {tile_type_defaults()};
}

struct rut_ride {
    std::vector<uint64_t> seen;
    std::vector<float> heights;
};

rut_ride ride_in_frames(double fps, bool headless) {
    frame_loop L;
    rut_world w;
    flat_field(&w.terrain);
    w.erosion.level = 100 * 1024;
    attach(&L, &w);
    L.terrain = &w.terrain;
    L.erosion = &w.erosion;
    L.lock_fps = fps;
    L.headless = headless;
    L.hooks.race_tic = [](void *c) {
        auto *rw = static_cast<rut_world *>(static_cast<fake_world *>(c));
        uint64_t hash = 1469598103934665603ull;
        for (float h : rw->terrain.heights) {
            uint32_t bits;
            std::memcpy(&bits, &h, sizeof bits);
            hash = (hash ^ bits) * 1099511628211ull;
        }
        rw->seen.push_back(hash);
        if (rw->tics == 600)
            rw->heights = rw->terrain.heights;
        // Most strokes lie clear of the rider; every 50 tics a few lie close
        // enough to wait for it.
        float behind = rw->tics % 50 < 10 ? 6.0f : 12.0f;
        ErodeStroke s{rw->rider_x() - behind, 32.0f + 3.0f * std::sin(0.05f * float(rw->tics)), 0.0f, 0.9f, 15};
        uint8_t packet[ERODE_PACKET_MAX];
        int n = encode_erode_packet(&s, 1, 0, 0, 0, 0, rw->terrain.extent, packet);
        queue_erode_packet(&rw->erosion, &rw->terrain, packet, size_t(n));
        rw->tics++;
    };
    L.hooks.local_position = [](void *c, float out[3]) {
        auto *rw = static_cast<rut_world *>(static_cast<fake_world *>(c));
        out[0] = rw->rider_x();
        out[1] = 50.0f;
        out[2] = 32.0f;
        return true;
    };
    while (w.tics <= 600)
        EXPECT_TRUE(frame_round(&L));
    w.seen.resize(601);
    return {w.seen, w.heights};
}

TEST(TicLoop, RutsDoNotDependOnTheFrameRate) {
    rut_ride one_tic_frames = ride_in_frames(128, false);
    ASSERT_FALSE(one_tic_frames.heights.empty());
    EXPECT_LT(*std::min_element(one_tic_frames.heights.begin(), one_tic_frames.heights.end()), 49.9f);
    struct frames {
        double fps;
        bool headless;
    };
    const frames cases[] = {{0, true}, {30, false}, {60, false}, {144, false}, {200, false}, {47.3, false}};
    for (const frames &f : cases) {
        rut_ride r = ride_in_frames(f.fps, f.headless);
        size_t tics_that_differ = 0;
        for (size_t i = 0; i < r.seen.size(); ++i)
            tics_that_differ += r.seen[i] != one_tic_frames.seen[i];
        EXPECT_EQ(tics_that_differ, 0u) << (f.headless ? "headless" : "") << " " << f.fps << " fps";
        EXPECT_TRUE(r.heights == one_tic_frames.heights) << (f.headless ? "headless" : "") << " " << f.fps << " fps";
    }
}

TEST(SetupWatch, ChangedValuesAreAnnouncedByLetter) {
    setup_set_defaults();
    setup_watch_snapshot();
    std::string line;
    EXPECT_FALSE(setup_watch_report(&line));
    // Changed but not applied: nothing to say yet.
    setup_item("leveling")->number.value += 1;
    setup_item("rider_mass_distribution")->number.value = 0.4;
    setup_item("fork_compression_adjustment")->number.value = 10;
    EXPECT_FALSE(setup_watch_report(&line));
    setup_watch_applied();
    ASSERT_TRUE(setup_watch_report(&line));
    EXPECT_EQ(line, "[SPAM] Setup change l---------------------C----------------m\n");
    // Reported once: the report takes new snapshots.
    setup_watch_applied();
    EXPECT_FALSE(setup_watch_report(&line));
    // A load's snapshot forgets changes applied before it.
    setup_item("leveling")->number.value += 1;
    setup_watch_applied();
    setup_watch_snapshot();
    EXPECT_FALSE(setup_watch_report(&line));
    setup_set_defaults();
}

TEST(SetupWatch, TheLoopLooksEveryFiveSeconds) {
    setup_set_defaults();
    setup_watch_snapshot();
    frame_loop L;
    fake_world w;
    attach(&L, &w);
    setup_item("shock_preload_adjustment")->number.value = 70;
    setup_watch_applied();
    while (L.game_clock < 4.9)
        round_taking(&L, &w, 0.1);
    EXPECT_DOUBLE_EQ(L.next_setup_check, 5.0);
    while (L.game_clock < 5.0)
        round_taking(&L, &w, 0.1);
    // The loop has said it and taken new snapshots.
    std::string line;
    EXPECT_FALSE(setup_watch_report(&line));
    EXPECT_DOUBLE_EQ(L.next_setup_check, L.game_clock + 5.0);
    setup_set_defaults();
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
