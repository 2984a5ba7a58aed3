// race.h -- timing: the checkpoint gates of a track and the two lap
// sequences over them, every rider's gate progress and gate times, laps and
// lap times, the running order, the cutting penalty, the starting-gate
// pieces and their drop, the false-start rule and the time-trial back-up.
//
// Owns:      the `race_timing` of the loaded track (read from and written to
//            "timing_gates"); nothing global but the services.
// Depends:   files/ (data streams), track/ (terrain heights, the track
//            objects that draw the starting-gate pieces, digging), sim/ (the
//            race tic steps the physics world and collides the bikes with the
//            track objects' shapes), platform/ (log).
// Called by: the track lifecycle (read, raise the gates, back-up), the race
//            tic (gate progress, starting gates, false start, each tic), the
//            results and the HUD (laps, order, penalties), the editor (write).
// Lifetime:  a race_timing lives from a track load to the next; a
//            race_rider's timing record from the rider's creation to the next
//            load. The race tic fills each rider's positions every tic.
#pragma once

#include "sim/sim.h"
#include "track/track.h"

#include <array>
#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <vector>


constexpr int MAX_CHECKPOINTS = 1024;
constexpr int MAX_LAP_ENTRIES = 1024;     // per sequence
constexpr int MAX_STARTING_GATES = 160;
constexpr int32_t GATE_NO_LEARN = 100000; // entry mark: no line learning at this gate
// Gate times are kept for this many gate indices at most: 1000 laps of the
// longest lap. A stamp or a gate index from outside beyond it is refused.
constexpr int32_t MAX_GATE_INDEX = 1 << 20;
constexpr int32_t RACE_TICS_PER_SECOND = 128;
constexpr double RACE_TIC_LENGTH = 1.0 / RACE_TICS_PER_SECOND;

// ---------------------------------------------------------------- services

struct race_services {
    void (*log)(const char *text) = nullptr;      // default: the log
    void (*message)(const char *text) = nullptr;  // message line; default: the log
    int (*verbosity)() = nullptr;                 // default 0
};
// Members left null take the defaults.
void race_set_services(const race_services &s);

// ---------------------------------------------------------------- timing data

struct checkpoint {
    float x = 0, y = 0, z = 0;     // centre
    float nx = 0, ny = 0, nz = 0;  // direction of travel through the gate
    float radius = 0;
};

struct starting_gate {
    float x = 0, y = 0, z = 0;  // as in the file (y absolute)
    float heading = 0;          // radians, -pi..pi
    std::string model, texture, shape;  // "" = none
    int object = -1;            // statue drawing it, -1 none
    float up = 1;               // 1 raised, 0 down
    float speed = 0;            // fall speed, per second
};

struct race_timing {
    std::vector<checkpoint> checkpoints;  // at most 1024
    // The first-lap entries followed by the normal-lap entries: checkpoint
    // indices, + GATE_NO_LEARN for gates that take no part in line learning.
    std::vector<int32_t> sequence;
    int first_lap = 0;        // entries in the first lap
    int normal_lap = 0;       // entries in every later lap
    int counting_first = 0;   // unmarked first-lap entries
    int counting_normal = 0;  // unmarked normal-lap entries
    bool valid = false;       // false: the track has no timing
    std::vector<starting_gate> gates;  // kept even when the timing is not valid
};

// Reads folder + "/timing_gates". The starting-gate pieces become statues
// of `objects` (when not null) placed 3 ft behind their position. False,
// and no timing, on any error (see the log).
bool read_timing(race_timing *rt, const char *folder, track_objects *objects, const Terrain *t);
// Writes folder + "/timing_gates"; "Can't open 'timing_gates'\n" on failure.
[[nodiscard]] bool write_timing(const race_timing &rt, const char *folder);

// The sequence entry (mark kept) / checkpoint of gate index k >= 0.
[[nodiscard]] int32_t gate_entry(const race_timing &rt, int32_t k);
[[nodiscard]] const checkpoint &gate_checkpoint(const race_timing &rt, int32_t k);
// Whether gate index k is the finish line of a lap.
[[nodiscard]] bool is_finish_gate(const race_timing &rt, int32_t k);
// Gate index of the finish line of lap n >= 1.
[[nodiscard]] int32_t finish_gate(const race_timing &rt, int32_t lap);

// ---------------------------------------------------------------- riders

// The race clock values the track lifecycle sets.
struct race_clock {
    int32_t tic = 0;
    int32_t start_tic = 0;      // the gates drop
    int32_t replay_delay = 0;   // tics
    int32_t race_length = 0;    // tics, 0 for a lap race
    int32_t extra_laps = 0;
    int32_t halfway_lap = 0;
    int32_t lap_target = 0;
    bool online = false;
};

// A rider as timing sees it. The race tic moves `position` to
// `previous_position` and sets `position` from the bike's front wheel body
// each tic (race_rider_move).
struct race_rider {
    int slot = 0;
    std::array<float, 3> position{};
    std::array<float, 3> previous_position{};
    int32_t progress = 0;               // gates reached; the next gate's index
    std::vector<int32_t> gate_times;    // tic per gate index, -1 none
    bool finished = false;
    // false start (online, local rider)
    std::array<float, 3> grid{};        // where it was placed
    int32_t hold_until = 0;             // tic the false-start hold ends
    bool false_started = false;
};

void race_rider_move(race_rider *r, const std::array<float, 3> &front_wheel);

// Stamp of gate index k, -1 when it has none.
[[nodiscard]] int32_t gate_time(const race_rider &r, int32_t k);
// Sets a stamp, appending -1 entries up to k. False (nothing changes) for a
// negative index or one at or past MAX_GATE_INDEX.
[[nodiscard]] bool set_gate_time(race_rider *r, int32_t k, int32_t tic);
// Rewinds to progress a: cuts the times to a entries and clears the
// finished flag when a is below the progress. False for a negative a.
bool rewind_progress(race_rider *r, int32_t a);

[[nodiscard]] int32_t completed_laps(const race_timing &rt, const race_rider &r);
// Lap time of lap n >= 1 in seconds, 0 when a stamp is missing.
[[nodiscard]] double lap_time(const race_timing &rt, const race_rider &r, int32_t lap, int32_t start_tic);

struct gate_progress_result {
    int32_t gate = -1;       // the gate stamped this tic, -1 none
    bool lap_done = false;   // the stamp completed a lap: refresh the results
};
// One tic of gate progress for a rider (nothing for a finished rider or a
// track without timing). `leader_progress` is the running order's first
// rider's progress (-1 when there is none). After a stamp the caller feeds
// line learning, and refreshes the results when a lap was completed.
gate_progress_result update_gate_progress(const race_timing &rt, race_rider *r, const race_clock &clock,
                                          int32_t leader_progress);

// ---------------------------------------------------------------- order and penalties

struct order_entry {
    int slot = 0;
    int32_t progress = 0;
    int32_t tic = 0;  // stamp of gate progress - 1, 0 when progress is 0
};
// Higher progress first; equal progress, earlier tic first; then lower slot.
[[nodiscard]] std::vector<order_entry> running_order(std::span<const race_rider> riders);

// Cutting penalty in tics: for every stretch of gates without time, the
// reference time of the `field` for that stretch (60 s when none has one)
// plus 1 s, less the rider's own time, when that is positive.
[[nodiscard]] int32_t cutting_penalty(const race_timing &rt, const race_rider &r,
                                      std::span<const race_rider> field);

// Finished: the flag, or the leader has a stamp at the last lap's finish line
// and the rider's last completed lap ended no earlier than it.
[[nodiscard]] bool rider_finished(const race_timing &rt, const race_rider &r, const race_rider *leader,
                                  int32_t lap_target);

// ---------------------------------------------------------------- starting gates

// Every piece up (up 1, speed 0), its statue tilted to match.
void raise_starting_gates(race_timing *rt, track_objects *objects);
// One tic: raised before start tic + replay delay, then falling for 10 s.
void update_starting_gates(race_timing *rt, const race_clock &clock, track_objects *objects);

// ---------------------------------------------------------------- false start

enum class start_hold {
    none,
    dab,      // before the start: sit/dab 1
    penalty,  // false-start hold: front and rear brake 1, throttle 0,
              // clutch engagement 0, back up 0, sit/dab 1
};
// Online, local rider, each tic: the hold to apply to its controls. A move
// of 3 ft or more from the grid before the start begins a hold until
// start tic + 15 s, with the message "15 second false start penalty".
start_hold false_start_step(race_rider *r, const race_clock &clock);

// ---------------------------------------------------------------- time-trial back-up

struct backup_pose {
    int32_t gate = 0;               // gate index the bike stands at
    std::array<float, 3> position{};  // the gate's centre (y: the ground, when a terrain is given)
    float heading = 0;              // facing along the gate's direction
};
// Puts the rider `count` gates before the first lap's finish line: rewinds
// its progress to that gate (the next to stamp) and returns where the bike
// goes. False without timing.
bool time_trial_backup(const race_timing &rt, race_rider *r, int32_t count, const Terrain *t, backup_pose *out);

// ---------------------------------------------------------------- race tic
//
// One tic of the whole simulation (offline game): contacts with the ground
// and the track objects, rider collisions, the physics step, roost, digging,
// the rider updates (which get the race start tic and, for realigning after
// a fall, the next gate), gate progress, the roost particles' flight, the
// starting gates, the tic count.

constexpr int RACE_SLOTS = MAX_RIDERS;  // one per slot of sim's rider table
constexpr int ROOST_POOL_SIZE = 2000;

// A track object that bikes collide with: the collision shape of a statue,
// placed where the statue stands when a bike comes near it.
struct solid_object {
    uint32_t shape = 0;  // the statue's shape handle it was made from
    int gate = -1;       // the starting-gate piece the statue draws, -1 none
    ShapeInstance placed;
};

// Slot modes.
constexpr int32_t SLOT_LOCAL = 0;
constexpr int32_t SLOT_REPLAYED = 1;
constexpr int32_t SLOT_COMPUTER = 2;

// A clod of thrown dirt (simulated here, drawn by the scene effects).
struct roost_particle {
    std::array<float, 3> position{}, velocity{};
    RoostType type{};  // a copy: the particle may outlive a terrain edit
    float size = 0;
    std::array<uint8_t, 4> colour{};
    bool active = false;
};

struct roost_pool {
    std::vector<roost_particle> particles;  // ROOST_POOL_SIZE once created
    std::vector<int> free_list;              // indices of free particles
    std::vector<int> active;                 // indices in flight, in start order
};
// (Re)creates the pool: every particle free.
void roost_pool_reset(roost_pool *p);
// Starts a particle of the type; false (nothing started) when none is free.
bool roost_start(roost_pool *p, const RoostType &type, const std::array<float, 3> &position,
                 const std::array<float, 3> &velocity);
// One tic of flight for every particle; those that fall below the ground end.
void roost_move(roost_pool *p, const Terrain *t);

// Everything the race tic works on. Owned by the track lifecycle, which
// fills it at each load; the race tic changes the clock, riders, digging,
// roost and starting gates.
struct race_state {
    Terrain *terrain = nullptr;
    terrain_erosion *erosion = nullptr;
    race_timing *timing = nullptr;
    track_objects *objects = nullptr;
    race_clock clock;
    // SLOT_*; every slot is replayed (and empty) until a load says otherwise
    std::array<int32_t, RACE_SLOTS> mode = [] {
        std::array<int32_t, RACE_SLOTS> m;
        m.fill(SLOT_REPLAYED);
        return m;
    }();
    std::array<race_rider, RACE_SLOTS> riders{};
    std::array<std::array<dig_accumulator, 2>, RACE_SLOTS> dig{};  // front, rear
    roost_pool roost;
    // One per statue of `objects`, remade when the statues change.
    std::vector<solid_object> solids;
    int roost_frequency = 1000;  // 0..1000
    bool time_trial = false;
    // Time trial: how many gates before the finish line a back-up reset
    // puts the bike.
    int32_t backup_count = 2;
    std::mt19937 rng{1};
    // A rider's lap was completed (results refresh); may be null.
    void (*lap_done)(void *ctx, int slot) = nullptr;
    void *ctx = nullptr;
};

// The race tic. Slots with a built bike in sim's slot table take part.
// Bikes driven here touch every statue with a shape, and the starting-gate
// pieces while these stand (up above 0) up to the start tic + 10 s; a
// replayed bike touches only those gate pieces.
void race_tic(race_state *rs);

// Where a rider that realigns after a fall turns to: the next gate it must
// pass. False without timing, before its first gate and once it has
// finished (or the leader has finished and it has crossed a finish line
// since).
[[nodiscard]] bool realign_target(const race_state &rs, int slot, std::array<double, 3> *out);

// Whether a slot counts as present on the track (drawing, sound): a bike
// driven here (local or computer); a replayed slot needs recent replay
// samples, which only demos and the server give, so offline it is absent.
[[nodiscard]] bool slot_present(const race_state &rs, int slot);

// The roost a bike throws this tic (front wheel, then rear), drawn from the
// roost frequency.
void throw_roost(race_state *rs, int slot);
