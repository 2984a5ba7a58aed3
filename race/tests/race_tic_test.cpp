// The race tic on the generated motocross track: a bike carried along a
// scripted line through the gates gets laps, lap times and, when it leaves a
// gate out, a cutting penalty. Also the roost pool's limits.

#include "race/tests/race_test_util.h"

#include "sim/sim.h"

#include <ode/ode.h>

#include <cmath>
#include <memory>

namespace {

class race_tic_test : public race_test {
protected:
    void SetUp() override {
        race_test::SetUp();
        folder = fs::path(KR_DATA_DIR) / "tracks" / "motocross";
        if (!fs::exists(folder / "terrain.hf"))
            GTEST_SKIP() << "no generated data at " << folder;
        ASSERT_TRUE(terrain_load(&terrain, folder.c_str()));
        ASSERT_TRUE(read_timing(&rt, folder.c_str(), nullptr, &terrain));
        ASSERT_TRUE(physics_init());
        rs = std::make_unique<race_state>();
        rs->terrain = &terrain;
        rs->timing = &rt;
        rs->mode.fill(SLOT_REPLAYED);
        rs->mode[0] = SLOT_LOCAL;
        rs->clock.lap_target = 2;
        roost_pool_reset(&rs->roost);
        ASSERT_TRUE(build_rider(0, bike_model_index("rm125")));
        rider = rider_slot(0);
    }
    void TearDown() override {
        physics_shutdown();
        terrain_unload(&terrain);
        race_test::TearDown();
    }

    // Puts the bike so that its front wheel is at p, heading along d.
    void carry_to(const std::array<double, 3> &p, double dx, double dz) {
        double heading = std::atan2(-dx, -dz);
        place_rider(rider, 0, 0, 0, heading);
        const double *fw = dBodyGetPosition(rider->body[BODY_FRONT_WHEEL].get());
        place_rider(rider, p[0] - fw[0], p[1] - fw[1], p[2] - fw[2], heading);
    }

    // Carries the bike through gate indices [0, last), around `skip`, 2 ft a
    // tic, running one race tic per step.
    void ride(int32_t last, int32_t skip = -1) {
        const checkpoint &g0 = gate_checkpoint(rt, 0);
        std::array<double, 3> at = {g0.x - g0.nx * 10.0, g0.y + 2.0, g0.z - g0.nz * 10.0};
        for (int32_t k = 0; k < last; ++k) {
            const checkpoint &g = gate_checkpoint(rt, k);
            // A skipped gate is passed 60 ft to its side.
            double side = k == skip ? 60.0 : 0.0;
            double gx = g.x - g.nz * side, gz = g.z + g.nx * side;
            std::array<double, 3> to = {gx + g.nx * 3.0, double(terrain_height_at(&terrain, float(gx), float(gz))) + 2.0,
                                        gz + g.nz * 3.0};
            double dx = to[0] - at[0], dy = to[1] - at[1], dz = to[2] - at[2];
            double len = std::sqrt(dx * dx + dz * dz);
            int steps = std::max(1, int(len / 2.0));
            for (int s = 1; s <= steps; ++s) {
                double f = double(s) / steps;
                carry_to({at[0] + dx * f, at[1] + dy * f, at[2] + dz * f}, dx, dz);
                race_tic(rs.get());
            }
            at = to;
        }
    }

    fs::path folder;
    Terrain terrain;
    race_timing rt;
    std::unique_ptr<race_state> rs;
    RiderState *rider = nullptr;
};

TEST_F(race_tic_test, ScriptedLineCountsLapsAndLapTimes) {
    int32_t two_laps = rt.first_lap + rt.normal_lap;
    ride(two_laps);
    const race_rider &r = rs->riders[0];
    EXPECT_EQ(r.progress, two_laps);
    EXPECT_EQ(completed_laps(rt, r), 2);
    EXPECT_TRUE(r.finished);
    double lap1 = lap_time(rt, r, 1, rs->clock.start_tic);
    double lap2 = lap_time(rt, r, 2, rs->clock.start_tic);
    EXPECT_GT(lap1, 1.0);
    EXPECT_GT(lap2, 1.0);
    EXPECT_EQ(cutting_penalty(rt, r, std::span<const race_rider>(&r, 1)), 0);
}

TEST_F(race_tic_test, SkippedGateGivesACuttingPenalty) {
    // Gate 2 is not a finish line; the next gate's stamp leaves it without time.
    ASSERT_FALSE(is_finish_gate(rt, 2));
    ride(rt.first_lap, 2);
    const race_rider &r = rs->riders[0];
    EXPECT_EQ(completed_laps(rt, r), 1);
    EXPECT_LT(gate_time(r, 2), 0);
    EXPECT_GT(cutting_penalty(rt, r, std::span<const race_rider>(&r, 1)), 0);
}

TEST_F(race_tic_test, ReplayedSlotIsNotSimulatedNorPresent) {
    ASSERT_TRUE(build_rider(1, bike_model_index("rm125")));
    race_tic(rs.get());
    EXPECT_TRUE(slot_present(*rs, 0));
    EXPECT_FALSE(slot_present(*rs, 1));
    EXPECT_FALSE(slot_present(*rs, 2));  // no bike
    EXPECT_FALSE(rider_slot(1)->simulated);
    EXPECT_FALSE(rider_slot(1)->collides);
    EXPECT_TRUE(rider_slot(0)->simulated);
}

TEST(roost_pool, FullPoolDropsParticlesUntilSomeLand) {
    roost_pool p;
    roost_pool_reset(&p);
    RoostType type;
    type.kind = 1;
    for (int i = 0; i < ROOST_POOL_SIZE; ++i)
        ASSERT_TRUE(roost_start(&p, type, {0, 1, 0}, {0, -10, 0}));
    EXPECT_FALSE(roost_start(&p, type, {0, 1, 0}, {0, 0, 0}));
    EXPECT_EQ(p.active.size(), size_t(ROOST_POOL_SIZE));
    // Flat ground at height 0.
    Terrain t;
    t.n = 1;
    t.dim = 5;
    t.tiles = 2;
    t.extent = 4;
    t.heights.assign(25, 0.0f);
    t.tilemap.assign(4, 0);
    t.loaded = true;
    for (int k = 0; k < 128 && !p.active.empty(); ++k)
        roost_move(&p, &t);
    EXPECT_TRUE(p.active.empty());
    EXPECT_EQ(p.free_list.size(), size_t(ROOST_POOL_SIZE));
    EXPECT_TRUE(roost_start(&p, type, {0, 1, 0}, {0, 0, 0}));
}

TEST(roost_pool, FlightFollowsDragGravityAndFade) {
    roost_pool p;
    roost_pool_reset(&p);
    RoostType type;
    type.drag = 0.5f;
    type.grow = 4.0f;
    type.a = 10;
    type.fade_a = -20;
    ASSERT_TRUE(roost_start(&p, type, {0, 100, 0}, {128, 0, 0}));
    roost_move(&p, nullptr);
    const roost_particle &q = p.particles[size_t(p.active[0])];
    float h = 1.0f / 128;
    EXPECT_FLOAT_EQ(q.position[0], 1.0f);
    EXPECT_FLOAT_EQ(q.velocity[0], 128.0f * (1 - 0.5f * h));
    EXPECT_FLOAT_EQ(q.velocity[1], -32.0f * h);
    EXPECT_FLOAT_EQ(q.size, type.size + 4.0f * h);
    EXPECT_EQ(q.colour[3], 0);  // clamped, not wrapped
}

TEST_F(race_tic_test, NoRoostAtFrequencyZero) {
    rs->roost_frequency = 0;
    ride(3);
    EXPECT_TRUE(rs->roost.active.empty());
}

}  // namespace
