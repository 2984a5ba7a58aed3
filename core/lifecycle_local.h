// lifecycle_local.h -- private to core/: the track lifecycle. Load track
// tears down the previous ride, loads the track's files when the track
// differs from the one in memory, builds the riders of a lineup on the grid
// and restarts the race clock; free track releases it all. Owns the rider
// slot table's names (the modes live in the race state), the roster order
// and the track digest.
#pragma once

#include "race/race.h"
#include "track/track.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

constexpr int ROSTER_SIZE = 80;
constexpr int REPLAY_HISTORY = 128;
constexpr int STATE_SAMPLE_BYTES = 39;

// One computer rider of the built-in roster.
struct roster_entry {
    char number[4];            // "20".."99"
    const char *personality;
    const char *bike;
    const char *textures[4];   // rider body, head, bike, wheels; null = default
};
[[nodiscard]] const std::array<roster_entry, ROSTER_SIZE> &roster();

// A fresh roster order: 0..79 shuffled uniformly (every permutation equally
// likely) by a 32-bit Mersenne generator seeded with `seed`.
[[nodiscard]] std::array<int, ROSTER_SIZE> shuffle_roster(uint32_t seed);

// The replay history of a slot: samples with their tics (-1 empty).
struct replay_history {
    std::array<std::array<uint8_t, STATE_SAMPLE_BYTES>, REPLAY_HISTORY> sample{};
    std::array<int32_t, REPLAY_HISTORY> tic{};
    int write = 0;
    int pending = 0;
};

struct rider_slot_entry {
    std::string name;
    std::string bike;     // model name the bike was built from, "" = no bike
    int roster = -1;      // roster entry of a computer rider
    std::string personality;
    replay_history history;
};

// What a slot's lineup code resolves to.
struct slot_plan {
    int32_t mode = SLOT_REPLAYED;
    bool bike = false;  // a bike is built
    std::string model;  // after the aliases
    std::string name;
    int roster = -1;
    std::string personality;
};

// The state of one lineup's resolution: the roster order and how far it
// has been used, whether the local player's slot was given.
struct lineup_cursor {
    std::array<int, ROSTER_SIZE> order{};
    int next = 0;
    bool local_taken = false;
};

// The local player as the configuration gives it.
struct local_rider_info {
    std::string name = "Rider";
    std::string bike = "rm125";
};

// The model name a requested bike name builds ("crf250" -> "crf250(2008)"...).
[[nodiscard]] std::string bike_alias(const std::string &name);
// Resolves one code (no demo is playing: code 0 leaves the slot empty).
[[nodiscard]] slot_plan resolve_lineup_code(int32_t code, lineup_cursor *c, const local_rider_info &me);

struct load_track_request {
    std::string folder;  // data folder without "@", e.g. "tracks/motocross"
    std::string title;
    bool time_trial = false;        // no lineup given: slot 0 the local player
    std::array<int32_t, RACE_SLOTS> lineup{};
    int32_t race_length = 0;        // tics, 0: a lap race
    int32_t laps = 0;
    local_rider_info me;
    int erode_amount = 0;           // erosion level (1/1024 units)
    int roost_frequency = 1000;
    uint32_t seed = 0;              // roster shuffle and start time
};

// Everything a loaded track owns. One per run (heap: it is large).
struct track_state {
    std::string folder;  // empty: no track
    std::string title;
    std::array<uint8_t, 20> digest{};
    bool force_reload = false;
    Terrain terrain;
    terrain_erosion erosion;
    track_lighting lighting;
    track_objects objects;
    race_timing timing;
    race_state race;
    std::array<rider_slot_entry, RACE_SLOTS> slots;
    int bike_count = 0;
    int viewed_slot = RACE_SLOTS;
    int local_slot = RACE_SLOTS;
    std::array<int, ROSTER_SIZE> roster_order{};
    int full_loads = 0;  // loads that read the track's files
    double max_delay = 0;
    std::string max_delay_stage;
    double stage_time = 0;  // wall time of the last stage text
    std::string stage_name;
};

// Load track. False when the track cannot be loaded (no track afterwards).
bool load_track(track_state *ts, const load_track_request &rq);
// Releases the track's data and bikes ("Deallocating track").
void free_track(track_state *ts);
// Puts slot k's bike on the grid and drops it onto the ground.
void place_on_grid(track_state *ts, int slot, int k);
// The track digest as 40 hex digits.
[[nodiscard]] std::string track_digest_hex(const track_state &ts);

// ---------------------------------------------------------------- the ride in the frame loop

struct frame_loop;
struct RiderState;

// One line of a controls file: the nine inputs from `time` (game seconds
// after the load) until the next line.
struct controls_line {
    double time = 0;
    std::array<float, 9> inputs{};
};
// Reads "SECONDS v0 .. v8" lines ("#" comments and blank lines skipped);
// times may not decrease. False for a file that cannot be read or a bad line.
[[nodiscard]] bool read_controls_file(const char *path, std::vector<controls_line> *out);
// The inputs in force at game time t (all 0 before the first line).
[[nodiscard]] std::array<float, 9> controls_at(const std::vector<controls_line> &lines, double t);

// The telemetry CSV: the header, and one line for a rider after a tic.
void write_telemetry_header(std::FILE *f);
void write_telemetry_line(std::FILE *f, const track_state &ts, int slot);

// What the frame loop's hooks work on: the track, the local rider's inputs
// (the loop's input vector, or a controls file), the telemetry stream.
struct ride_session {
    track_state *track = nullptr;
    frame_loop *loop = nullptr;
    std::vector<controls_line> controls;
    bool use_controls = false;
    std::FILE *telemetry = nullptr;
    int32_t tics_since_load = 0;
    load_track_request request;  // the last load's (a restart repeats it)
    bool fixed_seed = false;     // "--seed": the loads' seeds come from `seeds`
    std::mt19937 seeds;
};
// Where the loads' seeds come from: a generator seeded with `seed` when
// `fixed`, so that a run repeats exactly; else the clock at each load.
void ride_session_seed(ride_session *s, bool fixed, uint32_t seed);
// Load track with a fresh seed. After it the configured track names the
// loaded one (so the next start finds it), the watched setup values are
// snapshotted and the process's memory and priority tuned. False when the
// track could not be loaded.
bool ride_session_load(ride_session *s, load_track_request rq);
// Whether the running order's leader has completed the race's laps.
[[nodiscard]] bool ride_session_race_finished(const ride_session *s);
// The next race: every lineup code one slot on (modulo 160), the race
// length and laps from the configuration, the track loaded again.
void ride_session_restart(ride_session *s);
// Moves the viewed slot to the rider before (-1) or after (+1) it in the
// running order of the riders on the track, clamped to the first and last.
void ride_session_step_viewed(ride_session *s, int direction);
// Fills the loop's hooks (track loaded, viewed slot, rider inputs, race tic,
// local position).
void attach_ride_session(frame_loop *L, ride_session *s);
// The viewed local rider takes the inputs (those of the controls file
// when one was given).
void ride_session_inputs(ride_session *s, const float inputs[9]);
// One tic: the race tic, the telemetry line.
void ride_session_tic(ride_session *s);
