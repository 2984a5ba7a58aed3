// The rider's input vector, rebuilt each tic: bound keys set their controls in
// the tic whose time their events fall in, with the real binding table.
#include "core/core_local.h"
#include "files/files.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

namespace {

struct tic_record {
    double due;
    std::array<float, 9> inputs;
};

struct world {
    frame_loop *loop = nullptr;
    double t = 0;
    std::deque<velk_event> events;
    std::vector<tic_record> tics;
};

void attach(frame_loop *L, world *w) {
    w->loop = L;
    L->clock.now = [](void *c) { return static_cast<world *>(c)->t; };
    L->clock.sleep = [](void *c, double s) {
        if (s > 0)
            static_cast<world *>(c)->t += s;
    };
    L->clock.ctx = w;
    L->input.next_until = [](void *c, double deadline, velk_event *ev) {
        auto *fw = static_cast<world *>(c);
        if (fw->events.empty() || velk_clock_seconds(fw->events.front().time) > deadline)
            return false;
        *ev = fw->events.front();
        fw->events.pop_front();
        return true;
    };
    L->input.ctx = w;
    L->keys = default_loop_keys();
    L->hooks.ctx = w;
    L->hooks.track_loaded = [](void *) { return true; };
    L->hooks.viewed_slot_has_bike = [](void *) { return true; };
    L->hooks.viewed_slot_local = [](void *) { return true; };
    L->hooks.race_tic = [](void *c) {
        auto *fw = static_cast<world *>(c);
        const frame_loop *l = fw->loop;
        fw->tics.push_back({l->frame_wall - l->target_time + l->sim_time, l->inputs});
    };
    frame_loop_init(L);
}

class input_vector_test : public ::testing::Test {
protected:
    void SetUp() override {
        config_set_defaults();
        bindings_bind_all();
    }
    void TearDown() override { bindings_release_all(); }
};

TEST_F(input_vector_test, keys_reach_the_tic_their_time_falls_in) {
    frame_loop L;
    world w;
    attach(&L, &w);
    // One long frame of 0.1 s (13 tics, the last reaching past it) with the throttle pressed at
    // 0.05 s and left held, steering left from 0.02 s to 0.07 s.
    const uint32_t x = VELK_KEY_BASE + 0x2D;
    const uint32_t left = VELK_KEY_BASE + 0x14B;
    w.events.push_back({left, true, velk_clock_from_seconds(0.02)});
    w.events.push_back({x, true, velk_clock_from_seconds(0.05)});
    w.events.push_back({left, false, velk_clock_from_seconds(0.07)});
    w.t = 0.1;
    ASSERT_TRUE(frame_round(&L));
    ASSERT_EQ(w.tics.size(), 13u);
    for (const tic_record &r : w.tics) {
        EXPECT_EQ(r.inputs[1], r.due >= 0.05 ? 1.0f : 0.0f) << r.due;
        EXPECT_EQ(r.inputs[0], r.due >= 0.02 && r.due < 0.07 ? 1.0f : 0.0f) << r.due;
        for (int i = 2; i < 9; i++)
            EXPECT_EQ(r.inputs[size_t(i)], 0.0f);
    }
}

} // namespace
