// The race tic on the generated motocross track: a bike carried along a
// scripted line through the gates gets laps, lap times and, when it leaves a
// gate out, a cutting penalty; a bike ridden into the raised starting gate
// or a hay bale stops against it. Also the roost pool's limits.

#include "race/tests/race_test_util.h"

#include "sim/sim.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <numbers>

namespace {

// The generated data directory is where "@" names are found: the bikes'
// and the starting gate's shapes. Set before any name is looked up.
const bool data_dir_set = [] {
    setenv("KR_HOME", KR_DATA_DIR, 1);
    return true;
}();

std::vector<std::string> &track_messages() {
    static std::vector<std::string> m;
    return m;
}

class race_tic_test : public race_test {
protected:
    void SetUp() override {
        race_test::SetUp();
        folder = fs::path(KR_DATA_DIR) / "tracks" / "motocross";
        // the project's own output: missing means the build is broken
        ASSERT_TRUE(fs::exists(folder / "terrain.hf")) << "no generated data at " << folder;
        ASSERT_TRUE(data_dir_set);
        track_messages().clear();
        track_services ts;
        ts.message = [](const char *text) { track_messages().emplace_back(text); };
        ts.load_shape = load_shape_handle;
        track_set_services(ts);
        ASSERT_TRUE(terrain_load(&terrain, folder.c_str()));
        track_objects_reset(&objects, folder.c_str());
        ASSERT_TRUE(read_timing(&rt, folder.c_str(), &objects, &terrain));
        ASSERT_TRUE(physics_init());
        rs = std::make_unique<race_state>();
        rs->terrain = &terrain;
        rs->timing = &rt;
        rs->objects = &objects;
        rs->mode.fill(SLOT_REPLAYED);
        rs->mode[0] = SLOT_LOCAL;
        rs->clock.lap_target = 2;
        roost_pool_reset(&rs->roost);
        ASSERT_TRUE(build_rider(0, bike_model_index("rm125")));
        rider = rider_slot(0);
    }
    void TearDown() override {
        physics_set_hooks({});
        physics_shutdown();
        terrain_unload(&terrain);
        track_set_services({});
        race_test::TearDown();
    }

    // Where the track lifecycle puts the bike of grid place k, standing
    // behind piece k of the starting gate.
    void put_on_grid(const starting_gate &g) {
        double d = 0.625;
        double x = g.x + std::sin(double(g.heading)) * d, z = g.z + std::cos(double(g.heading)) * d;
        double y = terrain_height_at(&terrain, float(x), float(z));
        for (int n = 0; n < 400; ++n) {
            place_rider(rider, x, y, z, g.heading);
            if (!rider_touches_terrain(rider, &terrain))
                break;
            y += 0.25;
        }
    }

    // Puts the bike so that its front wheel is at p, heading along d.
    void carry_to(const std::array<double, 3> &p, double dx, double dz) {
        double heading = std::atan2(-dx, -dz);
        place_rider(rider, 0, 0, 0, heading);
        const std::array<double, 3> fw = read_body_state(rider->body[BODY_FRONT_WHEEL].get()).position;
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

    // Stands the bike at (x, z) facing `heading`, leaning by `lean` (radians,
    // positive to its left), just clear of the ground, at rest.
    void stand(double x, double z, double heading, double lean) {
        double y = terrain_height_at(&terrain, float(x), float(z));
        place_rider(rider, x, y, z, heading);
        // the turn about the heading direction, as a quaternion and a matrix
        const double ax = std::sin(heading), az = std::cos(heading);
        const double cw = std::cos(lean / 2), sw = std::sin(lean / 2);
        const std::array<double, 4> q = {cw, ax * sw, 0, az * sw};
        const double R[3][3] = {
            {1 - 2 * q[3] * q[3], -2 * q[0] * q[3], 2 * q[1] * q[3]},
            {2 * q[0] * q[3], 1 - 2 * (q[1] * q[1] + q[3] * q[3]), -2 * q[0] * q[1]},
            {2 * q[1] * q[3], 2 * q[0] * q[1], 1 - 2 * q[1] * q[1]},
        };
        const std::array<double, 3> f = read_body_state(rider->body[BODY_FRAME].get()).position;
        double c[3] = {f[0], y, f[2]};
        for (ode_body &b : rider->body) {
            const body_state s = read_body_state(b.get());
            double d[3] = {s.position[0] - c[0], s.position[1] - c[1], s.position[2] - c[2]};
            double pos[3];
            for (int i = 0; i < 3; ++i)
                pos[i] = c[i] + R[i][0] * d[0] + R[i][1] * d[1] + R[i][2] * d[2];
            const std::array<double, 4> &o = s.quaternion;
            const double turned[4] = {
                q[0] * o[0] - q[1] * o[1] - q[2] * o[2] - q[3] * o[3],
                q[0] * o[1] + q[1] * o[0] + q[2] * o[3] - q[3] * o[2],
                q[0] * o[2] - q[1] * o[3] + q[2] * o[0] + q[3] * o[1],
                q[0] * o[3] + q[1] * o[2] - q[2] * o[1] + q[3] * o[0],
            };
            set_body_pose(b.get(), pos, turned);
        }
        for (int n = 0; n < 64 && rider_touches_terrain(rider, &terrain); ++n)
            for (ode_body &b : rider->body) {
                const body_state s = read_body_state(b.get());
                const double up[3] = {s.position[0], s.position[1] + 0.25, s.position[2]};
                set_body_pose(b.get(), up, s.quaternion.data());
            }
    }
    fs::path folder;
    Terrain terrain;
    track_objects objects;
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

// A rider that has passed a gate and lies leaning, nearly still, across the
// track realigns after its fall: the bike turns towards the next gate, on
// whichever side it lies, and only once a gate has been passed.
TEST_F(race_tic_test, RealignAfterFallTurnsTowardsTheNextGate) {
    struct row {
        const char *what;
        bool passed;      // gate 0 reached before the fall
        double side;      // +1: the next gate on the bike's left
        bool realign;     // the setup's "Realign After Fall"
        double turn;      // expected sign of the turn, 0 none
    } rows[] = {
        {"next gate on the left", true, 1, true, 1},
        {"next gate on the right", true, -1, true, -1},
        {"no gate passed yet", false, 1, true, 0},
        {"realign off", true, 1, false, 0},
    };
    const checkpoint &g0 = gate_checkpoint(rt, 0), &g1 = gate_checkpoint(rt, 1);
    // Between gates 0 and 1, inside neither.
    double x = g0.x + (g1.x - g0.x) * 0.4, z = g0.z + (g1.z - g0.z) * 0.4;
    ASSERT_GT(std::hypot(x - g0.x, z - g0.z), g0.radius + 3.0);
    ASSERT_GT(std::hypot(x - g1.x, z - g1.z), g1.radius + 3.0);
    double to_gate = std::atan2(-(g1.x - x), -(g1.z - z));
    setup_set_defaults();
    for (const row &c : rows) {
        physics_set_hooks({});
        rs->riders[0] = race_rider{};
        rs->clock.tic = 0;
        if (c.passed)
            ride(1);
        ASSERT_EQ(rs->riders[0].progress, c.passed ? 1 : 0) << c.what;
        apply_setup(rider, true);
        rider->params.arcade = false;
        rider->params.auto_align = c.realign;
        physics_set_hooks(standard_rider_hooks());
        stand(x, z, to_gate - c.side * std::numbers::pi / 2, 0.6);
        double h0 = heading_angle(rider->body[BODY_FRAME].get());
        for (int n = 0; n < 48; ++n) {
            set_throttle(rider, 0);
            set_sit(rider, 1);
            race_tic(rs.get());
        }
        double turned = std::remainder(heading_angle(rider->body[BODY_FRAME].get()) - h0, 2 * std::numbers::pi);
        std::printf("%s: turned %.3f rad\n", c.what, turned);
        EXPECT_FALSE(rider->down) << c.what;
        if (c.turn != 0)
            EXPECT_GT(turned * c.turn, 0.25) << c.what;
        else
            EXPECT_LT(std::fabs(turned), 0.1) << c.what;
    }
}

// The rider counts from the race's start tic, not from tic 0: standing
// still before the start is no trouble, and walking backwards waits for
// the start (but for a step in the first second of every four).
TEST_F(race_tic_test, RiderCountsFromTheRaceStartTic) {
    struct row {
        int32_t start_tic;
        bool trouble, walks;
    } rows[] = {{2000, false, false}, {0, true, true}};
    const checkpoint &g0 = gate_checkpoint(rt, 0);
    double heading0 = std::atan2(-g0.nx, -g0.nz);
    physics_set_hooks(standard_rider_hooks());
    for (const row &c : rows) {
        rs->clock.start_tic = c.start_tic;
        rs->clock.tic = 200;
        rider->params.arcade = true;  // holds the bike up
        stand(g0.x - g0.nx * 40.0, g0.z - g0.nz * 40.0, heading0, 0.0);
        rider->ride.in_trouble = false;
        std::array<float, 3> p0 = body_position(rider, BODY_FRAME);
        for (int n = 0; n < 300; ++n) {  // tics 200 .. 499
            set_back_up(rider, 1);
            race_tic(rs.get());
        }
        std::array<float, 3> p1 = body_position(rider, BODY_FRAME);
        double moved = std::hypot(p1[0] - p0[0], p1[2] - p0[2]);
        std::printf("start tic %d: moved %.2f ft, trouble %d\n", c.start_tic, moved, int(rider->ride.in_trouble));
        EXPECT_EQ(rider->ride.in_trouble, c.trouble) << c.start_tic;
        if (c.walks)
            EXPECT_GT(moved, 1.0) << c.start_tic;
        else
            EXPECT_LT(moved, 0.3) << c.start_tic;
    }
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

// A bike on the grid at full throttle: the raised starting gate holds it
// where it stands; with the gate down it rides away over it, and so it does
// through a gate left standing long after the start (a time trial's clock
// starts there).
TEST_F(race_tic_test, RaisedStartingGateStopsABike) {
    ASSERT_GE(rt.gates.size(), 5u);
    for (const starting_gate &g : rt.gates) {
        ASSERT_GE(g.object, 0);
        EXPECT_NE(objects.statues[size_t(g.object)].shape, 0u) << "the gate's shape loads";
    }
    EXPECT_TRUE(track_messages().empty()) << track_messages().front();
    physics_set_hooks(standard_rider_hooks());
    const BikeModel &model = bike_models()[size_t(rider->model)];
    struct {
        const char *name;
        float up;
        int32_t start_tic;
        double min_advance, max_advance;  // ft the front wheel moves in 3 s
    } cases[] = {
        {"raised before the start", 1.0f, 100000, -1.0, 1.5},
        {"down", 0.0f, -100000, 30.0, 1e9},
        {"standing 10 s past the start", 1.0f, -100000, 30.0, 1e9},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const starting_gate &g = rt.gates[4];
        put_on_grid(g);
        rider_setup_params p = rider_build_params(model);
        apply_setup_params(&p, model, true);
        apply_rider_params(rider, p);
        for (starting_gate &piece : rt.gates)
            piece.up = c.up;
        rs->clock.tic = 0;
        rs->clock.start_tic = c.start_tic;
        std::array<float, 3> from = body_position(rider, BODY_FRONT_WHEEL);
        for (int k = 0; k < 3 * 128; ++k) {
            set_throttle(rider, 1);
            set_clutch(rider, 1);
            race_tic(rs.get());
        }
        std::array<float, 3> to = body_position(rider, BODY_FRONT_WHEEL);
        double advance = -(to[0] - from[0]) * std::sin(g.heading) - (to[2] - from[2]) * std::cos(g.heading);
        std::array<float, 3> v = body_velocity(rider, BODY_FRAME);
        std::printf("gate %s: the front wheel moved %.2f ft, frame at %.2f ft/s\n", c.name, advance,
                    std::hypot(v[0], v[2]));
        EXPECT_GT(advance, c.min_advance);
        EXPECT_LT(advance, c.max_advance);
        EXPECT_EQ(rt.gates[4].up, c.up);
        EXPECT_FALSE(rider->down);
    }
}

// The statues are solid too. The motocross track's own (hay bales and a
// flag tower) load with their shapes; a bale put on the start straight
// stops a bike ridden at it from the grid once the gate is down.
TEST_F(race_tic_test, HayBaleStopsABike) {
    load_statues(&objects, &terrain);
    EXPECT_TRUE(track_messages().empty()) << track_messages().front();
    int bales = 0, towers = 0;
    for (const statue &st : objects.statues) {
        bales += st.shape_name == "@haybale.shp";
        towers += st.shape_name == "@flagtower.shp";
        EXPECT_NE(st.shape, 0u) << st.shape_name;
    }
    EXPECT_GE(bales, 3);
    EXPECT_EQ(towers, 1);
    physics_set_hooks(standard_rider_hooks());
    const starting_gate &g = rt.gates[4];
    double fx = -std::sin(double(g.heading)), fz = -std::cos(double(g.heading));  // facing
    double bx = g.x + fx * 25, bz = g.z + fz * 25;
    ASSERT_GE(add_statue(&objects, &terrain, float(bx), 0, float(bz), float(g.heading) + 1.5707963f, "null",
                         "null", "@haybale.shp"),
              0);
    for (starting_gate &piece : rt.gates)
        piece.up = 0;
    rs->clock.start_tic = -100000;
    put_on_grid(g);
    double closest = -1e9;
    for (int k = 0; k < 4 * 128; ++k) {
        set_throttle(rider, 1);
        set_clutch(rider, 1);
        race_tic(rs.get());
        std::array<float, 3> w = body_position(rider, BODY_FRONT_WHEEL);
        closest = std::max(closest, (w[0] - bx) * fx + (w[2] - bz) * fz);
    }
    std::printf("hay bale: the front axle came within %.2f ft of the bale's middle\n", -closest);
    EXPECT_LT(closest, -1.0);
}

TEST_F(race_tic_test, NoRoostAtFrequencyZero) {
    rs->roost_frequency = 0;
    ride(3);
    EXPECT_TRUE(rs->roost.active.empty());
}

}  // namespace
