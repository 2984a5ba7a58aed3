// Riders driven along scripted paths around a six-gate oval: gate progress,
// laps and lap times, skipped gates and their penalty, the running order,
// the starting gates, the false start and the time-trial back-up.

#include "race/tests/race_test_util.h"

#include "track/track.h"

#include <cmath>
#include <functional>
#include <memory>

namespace {

constexpr double k_pi = 3.14159265358979323846;
constexpr double k_lap_tics = 1280.0;  // 10 s a lap
constexpr double k_step = 2.0 * k_pi / k_lap_tics;
constexpr double k_gate_angle = 2.0 * k_pi / 6.0;

// A rider following the oval: each tic it moves on by `speed` racing-line
// steps, `out(a)` feet outside the line.
struct scripted_rider {
    race_rider r;
    double a = -0.05;
    std::function<double(double)> out = [](double) { return 0.0; };
    std::function<double(double)> speed = [](double) { return 1.0; };
};

class oval : public race_test {
protected:
    void SetUp() override {
        race_test::SetUp();
        rt = oval_timing();
        clock.lap_target = 3;
    }
    // Runs tics until every rider has passed angle `until`, the leader's
    // progress taken from the running order as the race tic will.
    void ride(std::vector<scripted_rider *> riders, double until) {
        while (true) {
            bool any = false;
            std::vector<race_rider> field;
            for (scripted_rider *s : riders)
                field.push_back(s->r);
            std::vector<order_entry> order = running_order(field);
            int32_t leader = order.empty() ? -1 : order[0].progress;
            for (scripted_rider *s : riders) {
                if (s->a > until)
                    continue;
                any = true;
                race_rider_move(&s->r, oval_point(s->a, s->out(s->a)));
                (void)update_gate_progress(rt, &s->r, clock, leader);
                s->a += k_step * s->speed(s->a);
            }
            if (!any)
                return;
            clock.tic++;
        }
    }
    race_timing rt;
    race_clock clock;
};

// Whether angle a lies within w of gate g's angle in any lap.
bool near_gate(double a, int g, double w) {
    double d = std::remainder(a - k_gate_angle * (g + 1), 2.0 * k_pi);
    return std::fabs(d) < w;
}

TEST_F(oval, LapsAndLapTimesAreCounted) {
    scripted_rider s;
    s.r.slot = 0;
    ride({&s}, 2.0 * k_pi + 0.2);
    EXPECT_EQ(s.r.progress, 6);
    EXPECT_EQ(completed_laps(rt, s.r), 1);
    EXPECT_FALSE(s.r.finished);
    // The first stamp is the first tic inside the half-disc: 0.05 rad of the
    // start plus one lap, rounded up to a whole tic.
    EXPECT_NEAR(gate_time(s.r, 5), std::ceil((2.0 * k_pi + 0.05) / k_step), 1.0);
    ride({&s}, 6.0 * k_pi + 0.2);
    EXPECT_EQ(s.r.progress, 18);
    EXPECT_EQ(completed_laps(rt, s.r), 3);
    EXPECT_TRUE(s.r.finished) << "three laps reach the lap target";
    EXPECT_NEAR(lap_time(rt, s.r, 1, clock.start_tic), (2.0 * k_pi + 0.05) / k_step / 128.0, 1.0 / 128.0);
    EXPECT_NEAR(lap_time(rt, s.r, 2, clock.start_tic), 10.0, 1.0 / 128.0);
    EXPECT_NEAR(lap_time(rt, s.r, 3, clock.start_tic), 10.0, 1.0 / 128.0);
    EXPECT_EQ(lap_time(rt, s.r, 4, clock.start_tic), 0.0);
    EXPECT_EQ(cutting_penalty(rt, s.r, std::span(&s.r, 1)), 0);
    // A finished rider's progress stays where it is.
    ride({&s}, 7.0 * k_pi);
    EXPECT_EQ(s.r.progress, 18);
}

TEST_F(oval, SkippedGateKeepsCountingAndCostsAPenalty) {
    scripted_rider clean, cutter;
    clean.r.slot = 0;
    cutter.r.slot = 1;
    // The cutter takes a short cut 40 ft outside gate 2, in both laps, at
    // twice the pace.
    cutter.out = [](double a) { return near_gate(a, 2, 0.3) ? 40.0 : 0.0; };
    cutter.speed = [](double a) { return near_gate(a, 2, 0.3) ? 2.0 : 1.0; };
    ride({&clean, &cutter}, 4.0 * k_pi + 0.2);
    ASSERT_EQ(clean.r.progress, 12);
    ASSERT_EQ(cutter.r.progress, 12) << "one skipped gate does not stop the count";
    EXPECT_EQ(completed_laps(rt, cutter.r), 2);
    EXPECT_EQ(gate_time(cutter.r, 2), -1);
    EXPECT_EQ(gate_time(cutter.r, 8), -1);

    std::vector<race_rider> field = {clean.r, cutter.r};
    auto stretch = [](const race_rider &r, int a, int b) { return gate_time(r, b) - gate_time(r, a); };
    // First lap: the clean rider's stretch 1..3; normal laps: its 7..9.
    int32_t expected = 0;
    for (int a : {1, 7}) {
        int32_t ref = stretch(clean.r, a, a + 2), own = stretch(cutter.r, a, a + 2);
        ASSERT_LT(own, ref);
        expected += ref + 128 - own;
    }
    EXPECT_EQ(cutting_penalty(rt, cutter.r, field), expected);
    EXPECT_EQ(cutting_penalty(rt, clean.r, field), 0);
    // Alone, the cutter has no reference: 60 s + 1 s less its own time.
    EXPECT_EQ(cutting_penalty(rt, cutter.r, std::span(&cutter.r, 1)),
              2 * (60 * 128 + 128) - stretch(cutter.r, 1, 3) - stretch(cutter.r, 7, 9));

    // The short cut made it faster: it leads the running order.
    std::vector<order_entry> order = running_order(field);
    ASSERT_EQ(order.size(), 2u);
    EXPECT_EQ(order[0].slot, 1);
    EXPECT_EQ(order[0].tic, gate_time(cutter.r, 11));
}

TEST_F(oval, FinishLineIsNeverSkipped) {
    scripted_rider s;
    s.out = [](double a) { return near_gate(a, 5, 0.3) ? 40.0 : 0.0; };
    ride({&s}, 4.0 * k_pi + 0.2);
    EXPECT_EQ(s.r.progress, 5);
    EXPECT_EQ(completed_laps(rt, s.r), 0);
}

TEST_F(oval, RiderBackAtASkippedGateIsMovedBackToIt) {
    scripted_rider s;
    s.out = [](double a) { return near_gate(a, 2, 0.3) ? 40.0 : 0.0; };
    ride({&s}, 4.0 * k_gate_angle + 0.1);  // past gate 3
    ASSERT_EQ(s.r.progress, 4);
    race_rider_move(&s.r, oval_point(3.0 * k_gate_angle + 0.02));
    gate_progress_result g = update_gate_progress(rt, &s.r, clock, -1);
    EXPECT_EQ(g.gate, 2);
    EXPECT_FALSE(g.lap_done);
    EXPECT_EQ(s.r.progress, 3);
    EXPECT_EQ(gate_time(s.r, 2), clock.tic);
    // Back at a gate already stamped, with no gap: nothing changes.
    race_rider_move(&s.r, oval_point(2.0 * k_gate_angle + 0.02));
    EXPECT_EQ(update_gate_progress(rt, &s.r, clock, -1).gate, -1);
    EXPECT_EQ(s.r.progress, 3);
}

TEST_F(oval, LeaderPastTheLastFinishFinishesTheOthersAtTheirLine) {
    scripted_rider s;
    clock.lap_target = 5;
    ride({&s}, 2.0 * k_pi + 0.2);
    ASSERT_EQ(completed_laps(rt, s.r), 1);
    EXPECT_FALSE(s.r.finished);
    s.r.progress = 11;  // just before the finish of lap 2
    s.r.gate_times.resize(11, clock.tic);
    race_rider_move(&s.r, oval_point(4.0 * k_pi + 0.01));
    // The leader is beyond the finish line of lap 5 (gate index 29).
    gate_progress_result g = update_gate_progress(rt, &s.r, clock, 30);
    EXPECT_TRUE(g.lap_done);
    EXPECT_TRUE(s.r.finished);

    race_rider leader, late;
    leader.progress = 30;
    ASSERT_TRUE(set_gate_time(&leader, 29, 5000));
    late.progress = 18;
    ASSERT_TRUE(set_gate_time(&late, 17, 4990));
    EXPECT_FALSE(rider_finished(rt, late, &leader, 5));
    (void)set_gate_time(&late, 17, 5000);
    EXPECT_TRUE(rider_finished(rt, late, &leader, 5));
    EXPECT_FALSE(rider_finished(rt, late, nullptr, 5));
}

TEST(RunningOrder, ProgressThenTicThenSlot) {
    auto rider = [](int slot, int32_t progress, int32_t tic) {
        race_rider r;
        r.slot = slot;
        r.progress = progress;
        if (progress > 0)
            (void)set_gate_time(&r, progress - 1, tic);
        return r;
    };
    std::vector<race_rider> riders = {rider(0, 3, 500), rider(1, 5, 900), rider(2, 3, 400),
                                      rider(3, 0, 0),   rider(4, 3, 400), rider(5, 5, 950)};
    std::vector<order_entry> order = running_order(riders);
    std::vector<int> slots;
    for (const order_entry &e : order)
        slots.push_back(e.slot);
    EXPECT_EQ(slots, (std::vector<int>{1, 5, 2, 4, 0, 3}));
    EXPECT_EQ(order.back().tic, 0);
}

TEST(GateTimes, IndicesFromOutsideAreBounded) {
    race_rider r;
    EXPECT_FALSE(set_gate_time(&r, -1, 5));
    EXPECT_FALSE(set_gate_time(&r, MAX_GATE_INDEX, 5));
    EXPECT_FALSE(set_gate_time(&r, INT32_MAX, 5));
    EXPECT_TRUE(r.gate_times.empty());
    ASSERT_TRUE(set_gate_time(&r, 4, 77));
    EXPECT_EQ(r.gate_times, (std::vector<int32_t>{-1, -1, -1, -1, 77}));
    EXPECT_EQ(gate_time(r, 100), -1);
    EXPECT_EQ(gate_time(r, -3), -1);
    r.progress = 5;
    r.finished = true;
    EXPECT_FALSE(rewind_progress(&r, -1));
    EXPECT_TRUE(r.finished);
    EXPECT_TRUE(rewind_progress(&r, 2));
    EXPECT_EQ(r.gate_times.size(), 2u);
    EXPECT_FALSE(r.finished);
    EXPECT_EQ(r.progress, 2);
    // Near the bound the window stops instead of stamping past it: at the
    // checkpoint of gate index MAX_GATE_INDEX (checkpoint 4 on the oval).
    race_timing rt = oval_timing();
    race_clock clock;
    r.progress = MAX_GATE_INDEX - 1;
    ASSERT_FLOAT_EQ(gate_checkpoint(rt, MAX_GATE_INDEX).x, rt.checkpoints[4].x);
    race_rider_move(&r, {rt.checkpoints[4].x, 0.0f, rt.checkpoints[4].z});
    EXPECT_EQ(update_gate_progress(rt, &r, clock, -1).gate, -1);
    EXPECT_EQ(r.gate_times.size(), 2u);
}

TEST_F(oval, NoTimingNoLaps) {
    race_timing none;
    race_rider r;
    r.progress = 40;
    EXPECT_EQ(completed_laps(none, r), 0);
    EXPECT_EQ(update_gate_progress(none, &r, clock, -1).gate, -1);
    EXPECT_EQ(cutting_penalty(none, r, std::span(&r, 1)), 0);
}

TEST_F(oval, StartingGatesDropInAQuarterSecond) {
    track_objects objects;
    track_objects_reset(&objects, dir.c_str());
    starting_gate g;
    g.heading = 0.0f;
    g.object = add_statue(&objects, nullptr, 0.0f, 0.0f, -3.0f, 0.0f, nullptr, nullptr, nullptr);
    rt.gates = {g, g};
    clock.start_tic = 100;
    clock.replay_delay = 20;
    clock.tic = 50;
    rt.gates[0].up = 0.3f;
    update_starting_gates(&rt, clock, &objects);
    EXPECT_EQ(rt.gates[0].up, 1.0f);
    const statue &s = objects.statues[0];
    // Raised, the piece's back (+z, towards the riders) is lifted.
    EXPECT_NEAR(s.orientation[4], std::cos(3.0 * k_pi / 16.0), 1e-6);
    EXPECT_NEAR(s.orientation[7], std::sin(3.0 * k_pi / 16.0), 1e-6);
    EXPECT_NEAR(s.orientation[5], -std::sin(3.0 * k_pi / 16.0), 1e-6);
    clock.tic = 119;
    update_starting_gates(&rt, clock, &objects);
    EXPECT_EQ(rt.gates[0].up, 1.0f) << "held until start tic + replay delay";
    int tics = 0;
    for (clock.tic = 120; rt.gates[1].up > 0.0f && tics < 100; ++clock.tic, ++tics)
        update_starting_gates(&rt, clock, &objects);
    EXPECT_EQ(tics, 32);
    EXPECT_FLOAT_EQ(rt.gates[1].speed, 8.0f);
    EXPECT_NEAR(s.orientation[4], 1.0, 1e-6);
    EXPECT_NEAR(s.orientation[5], 0.0, 1e-6);
    // 10 s after the drop the pieces are left alone.
    rt.gates[0].up = 0.5f;
    clock.tic = 120 + 1281;
    update_starting_gates(&rt, clock, &objects);
    EXPECT_EQ(rt.gates[0].up, 0.5f);
    raise_starting_gates(&rt, &objects);
    EXPECT_EQ(rt.gates[0].up, 1.0f);
    EXPECT_EQ(rt.gates[0].speed, 0.0f);
}

TEST_F(oval, FalseStartHoldsTheRiderFifteenSeconds) {
    race_rider r;
    r.grid = {10.0f, 0.0f, 10.0f};
    r.position = r.grid;
    clock.start_tic = 1000;
    clock.tic = 900;
    EXPECT_EQ(false_start_step(&r, clock), start_hold::none) << "offline: no rule";
    clock.online = true;
    EXPECT_EQ(false_start_step(&r, clock), start_hold::dab);
    r.position = {12.9f, 0.0f, 10.0f};
    EXPECT_EQ(false_start_step(&r, clock), start_hold::dab);
    EXPECT_TRUE(messages().empty());
    r.position = {13.0f, 0.0f, 10.0f};
    EXPECT_EQ(false_start_step(&r, clock), start_hold::penalty);
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0], "15 second false start penalty");
    EXPECT_EQ(r.hold_until, 1000 + 15 * 128);
    clock.tic = 1000 + 15 * 128 - 1;
    EXPECT_EQ(false_start_step(&r, clock), start_hold::penalty);
    clock.tic++;
    EXPECT_EQ(false_start_step(&r, clock), start_hold::none);
    EXPECT_EQ(messages().size(), 1u);
}

TEST_F(oval, TimeTrialBackUpRestartsBeforeTheFinish) {
    scripted_rider s;
    s.a = 0.0;
    ride({&s}, 4.0 * k_pi - 0.5);
    ASSERT_EQ(s.r.progress, 11);
    s.r.finished = true;
    backup_pose pose;
    ASSERT_TRUE(time_trial_backup(rt, &s.r, 2, nullptr, &pose));
    EXPECT_EQ(pose.gate, 3);
    EXPECT_EQ(s.r.progress, 3);
    EXPECT_EQ(s.r.gate_times.size(), 3u);
    EXPECT_FALSE(s.r.finished);
    const checkpoint &g = rt.checkpoints[3];
    EXPECT_FLOAT_EQ(pose.position[0], g.x);
    EXPECT_FLOAT_EQ(pose.position[2], g.z);
    // A bike at rest faces -z: the heading turns that onto the gate's direction.
    EXPECT_NEAR(-std::sin(pose.heading), g.nx, 1e-5);
    EXPECT_NEAR(-std::cos(pose.heading), g.nz, 1e-5);
    // Riding on from there stamps the gate it stands at and finishes lap 1.
    s.a = 4.0 * k_gate_angle;
    ride({&s}, 2.0 * k_pi + 0.1);
    EXPECT_EQ(s.r.progress, 6);
    EXPECT_EQ(completed_laps(rt, s.r), 1);
    EXPECT_FALSE(time_trial_backup(race_timing{}, &s.r, 2, nullptr, &pose));
    // A count past the start of the lap stops at its first gate.
    ASSERT_TRUE(time_trial_backup(rt, &s.r, 50, nullptr, &pose));
    EXPECT_EQ(pose.gate, 0);
}

// Where a rider realigning after a fall turns: the next gate, once it has
// passed one, until it has finished.
TEST_F(oval, RealignTargetIsTheNextGateUntilTheFinish) {
    auto rs = std::make_unique<race_state>();
    rs->timing = &rt;
    rs->clock.lap_target = 1;
    // Slot 1 leads and has finished lap 1 at tic 1000.
    race_rider &leader = rs->riders[1];
    for (int32_t k = 0; k < 6; ++k)
        ASSERT_TRUE(set_gate_time(&leader, k, 100 * (k + 5)));
    leader.progress = 6;
    leader.finished = true;
    struct row {
        const char *what;
        int32_t progress;
        int32_t finish_tic;  // its stamp at the finish line, -1 none
        bool finished, timing, realigns;
    } rows[] = {
        {"before the first gate", 0, -1, false, true, false},
        {"between gates 2 and 3", 3, -1, false, true, true},
        {"finished", 6, 1100, true, true, false},
        {"crossed the line after the leader", 6, 1100, false, true, false},
        {"no timing", 3, -1, false, false, false},
    };
    for (const row &c : rows) {
        race_rider &r = rs->riders[0];
        r = race_rider{};
        for (int32_t k = 0; k < c.progress; ++k)
            ASSERT_TRUE(set_gate_time(&r, k, k == 5 ? c.finish_tic : 100 * (k + 1)));
        r.progress = c.progress;
        r.finished = c.finished;
        rt.valid = c.timing;
        std::array<double, 3> at{};
        EXPECT_EQ(realign_target(*rs, 0, &at), c.realigns) << c.what;
        if (c.realigns) {
            const checkpoint &g = gate_checkpoint(rt, c.progress);
            EXPECT_EQ(at, (std::array<double, 3>{g.x, g.y, g.z})) << c.what;
        }
    }
}

}  // namespace
