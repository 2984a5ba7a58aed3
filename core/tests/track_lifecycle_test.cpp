// Load track on the generated starter tracks (the build directory is the
// game data directory), the roster shuffle and the lineup codes.

#include "core/core_local.h"
#include "core/lifecycle_local.h"
#include "files/files.h"
#include "sim/sim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------- roster

TEST(Roster, EightyRidersNumberedTwentyToNinetyNine) {
    std::set<std::string> numbers;
    for (const roster_entry &e : roster()) {
        numbers.insert(e.number);
        EXPECT_GE(bike_model_index(e.bike), 0) << e.bike;
    }
    EXPECT_EQ(numbers.size(), size_t(ROSTER_SIZE));
    EXPECT_STREQ(roster()[0].number, "20");
    EXPECT_STREQ(roster()[79].number, "99");
}

TEST(Roster, ShuffleIsAPermutationAndDependsOnTheSeed) {
    std::array<int, ROSTER_SIZE> a = shuffle_roster(1), b = shuffle_roster(2);
    std::array<int, ROSTER_SIZE> sorted = a;
    std::sort(sorted.begin(), sorted.end());
    for (int i = 0; i < ROSTER_SIZE; ++i)
        EXPECT_EQ(sorted[size_t(i)], i);
    EXPECT_NE(a, b);
    EXPECT_EQ(a, shuffle_roster(1));
}

// A uniform shuffle leaves an entry in its place with probability 1/80; the
// "(r / 65536) mod i" formula never does for the last entry.
TEST(Roster, ShuffleIsUniform) {
    constexpr int runs = 16000;
    std::array<int, ROSTER_SIZE> last{};  // which entry ends in the last place
    int fixed_last = 0;
    for (int s = 0; s < runs; ++s) {
        std::array<int, ROSTER_SIZE> o = shuffle_roster(uint32_t(s) * 2654435761u);
        ++last[size_t(o[79])];
        fixed_last += o[79] == 79;
    }
    EXPECT_GT(fixed_last, 0);
    // Chi-square over 80 cells, 79 degrees of freedom: 140 is far in the tail.
    double expected = double(runs) / ROSTER_SIZE, chi2 = 0;
    for (int c : last)
        chi2 += (c - expected) * (c - expected) / expected;
    EXPECT_LT(chi2, 140.0);
}

// ---------------------------------------------------------------- lineup codes

lineup_cursor identity_cursor() {
    lineup_cursor c;
    for (int i = 0; i < ROSTER_SIZE; ++i)
        c.order[size_t(i)] = i;
    return c;
}

TEST(LineupCodes, OnlyTheFirstOneIsTheLocalPlayer) {
    lineup_cursor c = identity_cursor();
    local_rider_info me{"Pat", "crf250"};
    slot_plan a = resolve_lineup_code(1, &c, me);
    slot_plan b = resolve_lineup_code(1, &c, me);
    EXPECT_EQ(a.mode, SLOT_LOCAL);
    EXPECT_TRUE(a.bike);
    EXPECT_EQ(a.name, "Pat");
    EXPECT_EQ(a.model, "crf250(2008)");  // alias
    EXPECT_EQ(b.mode, SLOT_REPLAYED);    // became 0: no demo, so empty
    EXPECT_FALSE(b.bike);
}

TEST(LineupCodes, TableOfCodes) {
    local_rider_info me;
    struct code_case {
        int32_t code;
        int32_t mode;
        bool bike;
    };
    const code_case cases[] = {
        {0, SLOT_REPLAYED, false}, {2, SLOT_COMPUTER, true}, {5, SLOT_REPLAYED, true},
        {7, SLOT_REPLAYED, true},  {-3, SLOT_REPLAYED, true},
    };
    for (const code_case &k : cases) {
        lineup_cursor c = identity_cursor();
        slot_plan p = resolve_lineup_code(k.code, &c, me);
        EXPECT_EQ(p.mode, k.mode) << k.code;
        EXPECT_EQ(p.bike, k.bike) << k.code;
    }
    lineup_cursor c = identity_cursor();
    EXPECT_EQ(resolve_lineup_code(7, &c, me).model, "rm125");  // placeholder
}

TEST(LineupCodes, ComputerRidersComeInRosterOrder) {
    lineup_cursor c = identity_cursor();
    std::swap(c.order[0], c.order[5]);
    local_rider_info me;
    EXPECT_EQ(resolve_lineup_code(2, &c, me).roster, 5);
    EXPECT_EQ(resolve_lineup_code(2, &c, me).roster, 1);
}

TEST(LineupCodes, NumberedRiderIsSwappedIntoTheNextPlace) {
    lineup_cursor c = identity_cursor();
    local_rider_info me;
    slot_plan p = resolve_lineup_code(1042, &c, me);
    EXPECT_EQ(p.mode, SLOT_COMPUTER);
    EXPECT_STREQ(roster()[size_t(p.roster)].number, "42");
    EXPECT_EQ(c.order[0], 22);
    EXPECT_EQ(c.order[22], 0);
    // Taken already: the next entry instead.
    slot_plan q = resolve_lineup_code(1042, &c, me);
    EXPECT_EQ(q.roster, 1);
    // No such number at all.
    EXPECT_EQ(resolve_lineup_code(1000 + 7, &c, me).roster, 2);
}

TEST(LineupCodes, ClassCodesSearchTheUnusedPartFromItsEnd) {
    local_rider_info me;
    for (int32_t code : {3, 4}) {
        const char *cls = code == 3 ? "125" : "250";
        lineup_cursor c = identity_cursor();
        slot_plan p = resolve_lineup_code(code, &c, me);
        ASSERT_GE(p.roster, 0);
        EXPECT_NE(std::strstr(roster()[size_t(p.roster)].bike, cls), nullptr) << code;
        // The last matching entry of the order was taken.
        int last = -1;
        for (int i = ROSTER_SIZE - 1; i >= 0 && last < 0; --i)
            if (std::strstr(roster()[size_t(i)].bike, cls))
                last = i;
        EXPECT_EQ(p.roster, last);
        // With no match left in the unused part: the next entry.
        lineup_cursor d;
        int used = 0;
        for (int pass = 0; pass < 2; ++pass)
            for (int i = 0; i < ROSTER_SIZE; ++i)
                if ((std::strstr(roster()[size_t(i)].bike, cls) != nullptr) == (pass == 0))
                    d.order[size_t(used++)] = i;
        d.next = 0;
        while (d.next < ROSTER_SIZE && std::strstr(roster()[size_t(d.order[size_t(d.next)])].bike, cls))
            ++d.next;
        ASSERT_LT(d.next, ROSTER_SIZE);
        int expect = d.order[size_t(d.next)];
        slot_plan q = resolve_lineup_code(code, &d, me);
        EXPECT_EQ(q.roster, expect) << code;
    }
}

// ---------------------------------------------------------------- load track

class LoadTrack : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        home = fs::temp_directory_path() /
               ("kessrun_lifecycle_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(home);
        setenv("KR_HOME", KR_DATA_DIR, 1);
        setenv("XDG_DATA_HOME", home.c_str(), 1);
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        fs::remove_all(home, ec);
    }
    void SetUp() override {
        // The build generates the starter tracks; their absence is a build fault.
        ASSERT_TRUE(fs::exists(fs::path(KR_DATA_DIR) / "tracks" / "motocross" / "terrain.hf"))
            << "no generated data in " << KR_DATA_DIR;
        (void)file_index_build();
        ASSERT_TRUE(physics_init());
        ts.reset(new track_state);
    }
    void TearDown() override {
        if (ts)
            free_track(ts.get());
        physics_shutdown();
    }
    load_track_request race(const char *track, std::initializer_list<int32_t> codes) {
        load_track_request rq;
        rq.folder = std::string("tracks/") + track;
        rq.laps = 3;
        rq.lineup.fill(0);
        std::copy(codes.begin(), codes.end(), rq.lineup.begin());
        rq.seed = 7;
        return rq;
    }
    static float horizontal_distance(const std::array<float, 3> &a, float x, float z) {
        return std::hypot(a[0] - x, a[2] - z);
    }

    static inline fs::path home;
    std::unique_ptr<track_state, track_state_deleter> ts;
};

TEST_F(LoadTrack, RaceLineupOnTheGrid) {
    ASSERT_TRUE(load_track(ts.get(), race("motocross", {1, 2, 2, 1042, 3, 1})));
    EXPECT_EQ(ts->folder, "tracks/motocross");
    EXPECT_EQ(ts->bike_count, 5);
    EXPECT_EQ(ts->race.mode[0], SLOT_LOCAL);
    EXPECT_EQ(ts->local_slot, 0);
    EXPECT_EQ(ts->viewed_slot, 0);
    EXPECT_EQ(ts->race.mode[1], SLOT_COMPUTER);
    EXPECT_STREQ(roster()[size_t(ts->slots[3].roster)].number, "42");
    EXPECT_NE(ts->slots[4].bike.find("125"), std::string::npos);
    EXPECT_EQ(ts->race.mode[5], SLOT_REPLAYED);  // a second 1
    EXPECT_FALSE(rider_slot(5)->built);
    // Race clock: a lap race of 3, gates dropping 13 to 15 s after the load.
    const race_clock &c = ts->race.clock;
    EXPECT_EQ(c.tic, 0);
    EXPECT_GE(c.start_tic, 13 * 128);
    EXPECT_LT(c.start_tic, 15 * 128);
    EXPECT_EQ(c.lap_target, 3);
    EXPECT_EQ(c.halfway_lap, 2);
    // Each bike behind its own starting gate, standing clear of the ground.
    const std::vector<starting_gate> &gates = ts->timing.gates;
    ASSERT_GE(gates.size(), 5u);
    for (int k = 0; k < 5; ++k) {
        RiderState *r = rider_slot(k);
        ASSERT_TRUE(r->built) << k;
        std::array<float, 3> frame = body_position(r, BODY_FRAME);
        // The same spot relative to each gate (the gates share a heading).
        std::array<float, 3> first = body_position(rider_slot(0), BODY_FRAME);
        EXPECT_NEAR(frame[0] - gates[size_t(k)].x, first[0] - gates[0].x, 0.01f) << k;
        EXPECT_NEAR(frame[2] - gates[size_t(k)].z, first[2] - gates[0].z, 0.01f) << k;
        EXPECT_LT(horizontal_distance(frame, gates[size_t(k)].x, gates[size_t(k)].z), 6.0f) << k;
        EXPECT_FALSE(rider_touches_terrain(r, &ts->terrain)) << k;
        EXPECT_LT(frame[1] - terrain_height_at(&ts->terrain, frame[0], frame[2]), 5.0f) << k;
        EXPECT_EQ(ts->race.riders[size_t(k)].grid, ts->race.riders[size_t(k)].position);
    }
    for (const starting_gate &g : gates)
        EXPECT_EQ(g.up, 1.0f);
    // Neighbours on the grid stand clear of each other.
    for (int k = 1; k < 5; ++k)
        EXPECT_FALSE(collide_riders(rider_slot(k - 1), rider_slot(k), -1, 0)) << k;
}

TEST_F(LoadTrack, RowsBehindTheGates) {
    load_track_request rq = race("motocross", {});
    size_t gates = 0;
    ASSERT_TRUE(load_track(ts.get(), rq));
    gates = ts->timing.gates.size();
    ASSERT_GT(gates, 0u);
    rq.lineup.fill(0);
    for (size_t k = 0; k <= gates; ++k)
        rq.lineup[k] = 2;
    ASSERT_TRUE(load_track(ts.get(), rq));
    // Slot `gates` stands a row (10 ft) behind slot 0.
    std::array<float, 3> a = body_position(rider_slot(0), BODY_FRAME);
    std::array<float, 3> b = body_position(rider_slot(int(gates)), BODY_FRAME);
    EXPECT_NEAR(std::hypot(a[0] - b[0], a[2] - b[2]), 10.0, 0.5);
}

TEST_F(LoadTrack, WithoutStartingGatesBikesStandFiveFeetApart) {
    ASSERT_TRUE(load_track(ts.get(), race("practice", {2, 2, 2})));
    ASSERT_TRUE(ts->timing.gates.empty());
    for (int k = 1; k < 3; ++k) {
        std::array<float, 3> a = body_position(rider_slot(k - 1), BODY_FRAME);
        std::array<float, 3> b = body_position(rider_slot(k), BODY_FRAME);
        EXPECT_NEAR(b[0] - a[0], 5.0f, 1e-3f);
        EXPECT_NEAR(b[2] - a[2], 0.0f, 1e-3f);
    }
    EXPECT_EQ(ts->viewed_slot, 0);  // no local player: the first bike
}

TEST_F(LoadTrack, ResetKeepsTheTrackAndReloadRereadsIt) {
    ASSERT_TRUE(load_track(ts.get(), race("motocross", {1})));
    EXPECT_EQ(ts->full_loads, 1);
    std::string digest = track_digest_hex(*ts);
    EXPECT_NE(digest, std::string(40, '0'));
    ASSERT_TRUE(load_track(ts.get(), race("motocross", {1, 2})));
    EXPECT_EQ(ts->full_loads, 1);
    EXPECT_EQ(track_digest_hex(*ts), digest);
    EXPECT_EQ(ts->bike_count, 2);
    ts->force_reload = true;
    ASSERT_TRUE(load_track(ts.get(), race("motocross", {1})));
    EXPECT_EQ(ts->full_loads, 2);
    EXPECT_EQ(track_digest_hex(*ts), digest);
    EXPECT_EQ(ts->bike_count, 1);
    // Another track: another digest.
    ASSERT_TRUE(load_track(ts.get(), race("supercross", {1})));
    EXPECT_EQ(ts->full_loads, 3);
    EXPECT_NE(track_digest_hex(*ts), digest);
}

TEST_F(LoadTrack, TimeTrialPutsOneBikeInSlotZeroWithTheStartPast) {
    load_track_request rq = race("motocross", {2, 2, 2});
    rq.time_trial = true;
    ASSERT_TRUE(load_track(ts.get(), rq));
    EXPECT_EQ(ts->bike_count, 1);
    EXPECT_TRUE(rider_slot(0)->built);
    EXPECT_EQ(ts->race.mode[0], SLOT_LOCAL);
    EXPECT_EQ(ts->race.clock.tic, 38400);
    EXPECT_GT(ts->race.clock.tic, ts->race.clock.start_tic);
    // Two gates before the first lap's finish line, facing along that gate,
    // and the next back-up reset goes one further.
    int32_t gate = ts->timing.first_lap - 3;
    ASSERT_GE(gate, 0);
    EXPECT_EQ(ts->race.riders[0].progress, gate);
    const checkpoint &g = gate_checkpoint(ts->timing, gate);
    EXPECT_LT(horizontal_distance(body_position(rider_slot(0), BODY_FRONT_WHEEL), g.x, g.z), 6.0f);
    EXPECT_EQ(ts->race.backup_count, 3);
}

// A slot that waits for replay samples (code 5, and the placeholder of an
// unknown code) holds a bike that is absent until samples come: it takes no
// part in the world step and does not fall through the ground.
TEST_F(LoadTrack, SlotsWaitingForSamplesStayPutAndAbsent) {
    for (int32_t code : {5, 7, -3}) {
        ASSERT_TRUE(load_track(ts.get(), race("motocross", {code, 1})));
        RiderState *r = rider_slot(0);
        ASSERT_TRUE(r->built) << code;
        EXPECT_EQ(ts->race.mode[0], SLOT_REPLAYED) << code;
        std::array<float, 3> before = body_position(r, BODY_FRAME);
        for (int n = 0; n < 256; ++n)
            race_tic(&ts->race);
        std::array<float, 3> after = body_position(r, BODY_FRAME);
        EXPECT_EQ(after, before) << code;
        EXPECT_FLOAT_EQ(r->presence, 0.0f) << code;
        EXPECT_FALSE(slot_present(ts->race, 0)) << code;
        // The local rider beside it is present.
        EXPECT_TRUE(slot_present(ts->race, 1)) << code;
        EXPECT_FLOAT_EQ(rider_slot(1)->presence, 1.0f) << code;
    }
}

TEST_F(LoadTrack, MissingTerrainLeavesNoTrack) {
    ASSERT_TRUE(load_track(ts.get(), race("motocross", {1})));
    EXPECT_FALSE(load_track(ts.get(), race("no-such-track", {1})));
    EXPECT_TRUE(ts->folder.empty());
    EXPECT_EQ(ts->bike_count, 0);
    EXPECT_FALSE(rider_slot(0)->built);
}

}  // namespace
