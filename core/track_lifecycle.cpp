// The track lifecycle: load track, reset against reload, the rider slot
// table, the lineup codes and the roster, grid placement, free track.
//
// A load reads the track's files only when the folder changes or a reload
// is forced; the race clock, the lineup and the bikes are set up every time.

#include "core/core_local.h"
#include "core/lifecycle_local.h"
#include "files/files.h"
#include "hash/hash.h"
#include "render/render.h"
#include "sim/sim.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>

namespace {

constexpr int32_t TIME_TRIAL_START_TIC = 300 * TICS_PER_SECOND;  // the start lies in the past
constexpr int TIME_TRIAL_START_GATES = 2;  // gates before the finish line a lap starts
constexpr int TIME_TRIAL_BACKUP = 3;       // the back-up count after the load
constexpr int MAX_DROP_STEPS = 4096;  // 1024 ft of quarter-foot raises

const char *const personalities[] = {"steady", "charger", "rookie"};
const char *const roster_bikes[] = {
    "cr125",        "crf250(2008)", "kx250f(2008)", "yz450f(2018)", "rm125",        "rmz250(2008)",
    "kx125",        "yz250f(2008)", "crf450(2018)", "yz125",        "250sxf(2018)", "450sxf(2018)",
    "cr250(2007)",  "kx250(2006)",  "rm250(2008)",  "yz250(2012)",
};

std::array<roster_entry, ROSTER_SIZE> build_roster() {
    std::array<roster_entry, ROSTER_SIZE> r{};
    for (int i = 0; i < ROSTER_SIZE; ++i) {
        std::snprintf(r[size_t(i)].number, sizeof r[size_t(i)].number, "%d", 20 + i);
        r[size_t(i)].personality = personalities[size_t(i) % std::size(personalities)];
        r[size_t(i)].bike = roster_bikes[size_t(i * 7) % std::size(roster_bikes)];
    }
    return r;
}

// A stage text; keeps the longest wall time between two stages.
void stage(track_state *ts, const char *name) {
    double now = velk_seconds();
    if (now - ts->stage_time > ts->max_delay) {
        ts->max_delay = now - ts->stage_time;
        ts->max_delay_stage = ts->stage_name;
    }
    ts->stage_time = now;
    ts->stage_name = name;
    const track_services &s = track_get_services();
    if (s.stage)
        s.stage(name);
    else
        velk_log("%s\n", name);
}

void stage_done(const char *name) {
    const track_services &s = track_get_services();
    if (s.stage_done)
        s.stage_done(name);
    else
        velk_log("%.64s...done\n", name);
}

unsigned long texture_bytes() {
    const track_services &s = track_get_services();
    return s.texture_memory ? (unsigned long)s.texture_memory() : 0;
}

void log_texture_memory(const char *after) {
    if (verbosity() > 0)
        velk_log("%lu bytes texture memory used after %s creation\n", texture_bytes(), after);
}

// Feeds a whole file into the digest; a missing file adds nothing.
void digest_file(ripemd160_ctx *c, const std::string &name) {
    data_file *f = data_open(name.c_str(), "rb");
    if (!f)
        return;
    uint8_t block[16384];
    size_t n, fed = 0;
    while ((n = data_read(f, block, sizeof block)) > 0) {
        ripemd160_feed(c, block, n);
        if (++fed % 64 == 0)  // a megabyte: large height fields take a while
            (void)loading_screen_tick();
    }
    data_close(f);
}

void free_bikes() {
    velk_log("Deallocating bikes\n");
    for (int slot = 0; slot < MAX_RIDERS; ++slot)
        destroy_rider(rider_slot(slot));
    velk_log("Finished deallocating bikes\n");
}

// Takes a roster entry whose bike or number matches, searching the unused
// part of the order from its end and swapping the match into the next
// position; without a match the next entry.
int take_roster(lineup_cursor *c, bool (*match)(const roster_entry &, int), int arg) {
    int next = c->next % ROSTER_SIZE;
    if (match) {
        for (int j = ROSTER_SIZE - 1; j >= next; --j) {
            if (match(roster()[size_t(c->order[size_t(j)])], arg)) {
                std::swap(c->order[size_t(j)], c->order[size_t(next)]);
                break;
            }
        }
    }
    c->next = next + 1;
    return c->order[size_t(next)];
}

// Places the rider at (x, y, z) facing `heading`, raised a quarter foot at a
// time until nothing touches the ground.
void drop_onto_ground(RiderState *r, const Terrain *t, double x, double y, double z, double heading) {
    for (int n = 0; n < MAX_DROP_STEPS; ++n) {
        place_rider(r, x, y, z, heading);
        if (!rider_touches_terrain(r, t))
            break;
        y += 0.25;
    }
}

slot_plan computer_plan(int entry) {
    const roster_entry &e = roster()[size_t(entry)];
    slot_plan p;
    p.mode = SLOT_COMPUTER;
    p.bike = true;
    p.model = bike_alias(e.bike);
    p.name = std::string("#") + e.number;
    p.roster = entry;
    p.personality = e.personality;
    return p;
}

}  // namespace

void track_state_deleter::operator()(track_state *t) const {
    delete t;
}

const std::array<roster_entry, ROSTER_SIZE> &roster() {
    static const std::array<roster_entry, ROSTER_SIZE> r = build_roster();
    return r;
}

std::array<int, ROSTER_SIZE> shuffle_roster(uint32_t seed) {
    std::array<int, ROSTER_SIZE> order{};
    for (int i = 0; i < ROSTER_SIZE; ++i)
        order[size_t(i)] = i;
    // Fisher-Yates with j uniform over 0..i, so every order is equally likely.
    std::mt19937 gen(seed);
    for (int i = ROSTER_SIZE - 1; i >= 1; --i) {
        int j = std::uniform_int_distribution<int>(0, i)(gen);
        std::swap(order[size_t(i)], order[size_t(j)]);
    }
    return order;
}

std::string bike_alias(const std::string &name) {
    static const char *const aliases[][2] = {
        {"crf250", "crf250(2008)"}, {"kx250f", "kx250f(2008)"}, {"rmz250", "rmz250(2008)"}, {"yz250f", "yz250f(2008)"}};
    for (const auto &a : aliases)
        if (name == a[0])
            return a[1];
    return name;
}

slot_plan resolve_lineup_code(int32_t code, lineup_cursor *c, const local_rider_info &me) {
    slot_plan p;
    if (code == 1 && c->local_taken)
        code = 0;
    switch (code) {
    case 0:  // the next rider of a played demo; without one the slot stays empty
        return p;
    case 1:
        c->local_taken = true;
        p.mode = SLOT_LOCAL;
        p.bike = true;
        p.model = bike_alias(me.bike);
        p.name = me.name;
        return p;
    case 2:
        return computer_plan(take_roster(c, nullptr, 0));
    case 3:
    case 4:
        return computer_plan(take_roster(
            c, [](const roster_entry &e, int cls) { return std::strstr(e.bike, cls == 3 ? "125" : "250") != nullptr; },
            code));
    case 5:
        p.mode = SLOT_REPLAYED;
        p.bike = true;
        p.model = bike_alias(me.bike);
        p.name = me.name;
        return p;
    default:
        break;
    }
    if (code >= 1000 && code - 1000 < 1000000) {
        return computer_plan(take_roster(
            c, [](const roster_entry &e, int n) { return std::strcmp(e.number, std::to_string(n).c_str()) == 0; },
            code - 1000));
    }
    p.mode = SLOT_REPLAYED;
    p.bike = true;
    p.model = "rm125";
    return p;
}

void place_on_grid(track_state *ts, int slot, int k) {
    RiderState *r = rider_slot(slot);
    if (!r || !r->built)
        return;
    double x, z, heading;
    const std::vector<starting_gate> &gates = ts->timing.gates;
    if (!gates.empty()) {
        const starting_gate &g = gates[size_t(k) % gates.size()];
        double d = (double(k / int(gates.size())) + 0.0625) * 10.0;
        x = g.x + std::sin(double(g.heading)) * d;
        z = g.z + std::cos(double(g.heading)) * d;
        heading = g.heading;
    } else {
        x = ts->terrain.extent / 2.0 + 5.0 * k;
        z = ts->terrain.extent / 2.0;
        heading = 0;
    }
    drop_onto_ground(r, &ts->terrain, x, terrain_height_at(&ts->terrain, float(x), float(z)), z, heading);
}

void free_track(track_state *ts) {
    velk_log("Deallocating track\n");
    free_bikes();
    ts->bike_count = 0;
    terrain_unload(&ts->terrain);
    track_objects_reset(&ts->objects, "");
    ts->timing = race_timing{};
    ts->race.timing = nullptr;
    ts->race.terrain = nullptr;
    ts->race.roost.particles.clear();
    ts->race.roost.free_list.clear();
    ts->race.roost.active.clear();
    reset_erode_queue(&ts->erosion);
    ts->folder.clear();
    ts->title.clear();
    ts->digest = {};
    velk_log("Finished deallocating track\n");
}

std::string track_digest_hex(const track_state &ts) {
    char hex[41];
    digest_to_hex(ts.digest.data(), ts.digest.size(), hex);
    return hex;
}

namespace {

// The load's first stage: the longest-delay record starts over.
void begin_load(track_state *ts) {
    velk_log("Resetting\n");
    ts->max_delay = 0;
    ts->max_delay_stage.clear();
    ts->stage_time = velk_seconds();
    ts->stage_name = "Resetting";
}

// The race clock, whose gates drop 13 to 15 s after the load, and the
// race's settings from the request.
void reset_race(track_state *ts, const load_track_request &rq, std::mt19937 &gen) {
    race_state &rs = ts->race;
    rs.clock = race_clock{};
    rs.clock.race_length = rq.race_length;
    rs.clock.extra_laps = rq.laps;
    double u = std::uniform_real_distribution<double>(0.0, 2.0)(gen);
    rs.clock.start_tic = int32_t((u + 13.0) / TIC_LENGTH);
    rs.clock.replay_delay = 0;
    rs.time_trial = rq.time_trial;
    ts->erosion.level = rq.erode_amount;
    rs.roost_frequency = std::clamp(rq.roost_frequency, 0, 1000);
    rs.rng.seed(uint32_t(gen()));
}

// Lighting and terrain, the track files fed into the digest first. False
// when the terrain cannot be loaded.
bool load_terrain_files(track_state *ts, const std::string &base, ripemd160_ctx *digest) {
    stage(ts, "Scanning");
    for (const char *f : {"/terrain.hf", "/terrain.png", "/texturelist", "/tilemap", "/tileinfo", "/nofrills.js"})
        digest_file(digest, base + f);
    if (verbosity() > 0)
        velk_log("Loading '%s'\n", base.c_str());
    load_lighting(&ts->lighting, base.c_str());
    ++ts->full_loads;
    if (!terrain_load(&ts->terrain, base.c_str()))
        return false;
    log_texture_memory("hf");
    return true;
}

// The objects, the timing and the roost pool; the map, then every distinct
// shape the statues use, ending the digest; the cameras.
void load_track_objects(track_state *ts, const std::string &base, ripemd160_ctx *digest) {
    track_objects_reset(&ts->objects, base.c_str());
    digest_file(digest, base + "/timing_gates");
    (void)read_timing(&ts->timing, base.c_str(), &ts->objects, &ts->terrain);
    roost_pool_reset(&ts->race.roost);
    stage(ts, "Loading flaggers");
    load_flaggers(&ts->objects, &ts->terrain, int(ts->timing.checkpoints.size()));
    log_texture_memory("flagger");
    stage(ts, "Loading billboards");
    load_billboards(&ts->objects, &ts->terrain);
    log_texture_memory("billboard");
    stage(ts, "Loading statues");
    load_statues(&ts->objects, &ts->terrain);
    log_texture_memory("statue");
    stage(ts, "Loading map");
    load_map(&ts->objects);
    std::set<std::string> seen;
    for (const statue &s : ts->objects.statues)
        if (!s.shape_name.empty() && seen.insert(s.shape_name).second)
            digest_file(digest, s.shape_name);
    ripemd160_finish(digest, ts->digest.data());
    load_cameras(&ts->objects, &ts->terrain);
    if (verbosity() > 0)
        velk_log("%d cameras found\n", int(ts->objects.cameras.size()));
}

// The track's files, after the previous track is freed. False, with no
// track named, when the terrain cannot be loaded.
bool load_track_files(track_state *ts, const load_track_request &rq) {
    if (!ts->folder.empty() || ts->terrain.loaded)
        free_track(ts);
    ts->force_reload = false;
    // A new texture generation: the textures this load names survive it,
    // the previous track's others are deleted at its end.
    texture_begin_track_load();
    ts->folder = rq.folder;
    ts->title = rq.title;
    std::string base = "@" + rq.folder;
    ripemd160_ctx digest;
    ripemd160_start(&digest);
    if (!load_terrain_files(ts, base, &digest)) {
        ts->folder.clear();
        ts->title.clear();
        return false;
    }
    load_track_objects(ts, base, &digest);
    return true;
}

// The race state points at the loaded track; the erode queue and the dig
// accumulators start empty.
void connect_race_state(track_state *ts) {
    race_state &rs = ts->race;
    rs.terrain = &ts->terrain;
    rs.erosion = &ts->erosion;
    rs.timing = &ts->timing;
    rs.objects = &ts->objects;
    reset_erode_queue(&ts->erosion);
    for (auto &wheels : rs.dig)
        wheels = {dig_accumulator{}, dig_accumulator{}};
}

// The lineup codes: a time trial is the local rider alone, its clock long
// past the start. The viewed slot is the first local rider's.
std::array<int32_t, RACE_SLOTS> choose_lineup(track_state *ts, const load_track_request &rq) {
    std::array<int32_t, RACE_SLOTS> lineup = rq.lineup;
    if (rq.time_trial) {
        lineup.fill(0);
        lineup[0] = 1;
        ts->race.clock.tic = TIME_TRIAL_START_TIC;
    }
    ts->viewed_slot = RACE_SLOTS;
    for (int k = 0; k < RACE_SLOTS; ++k)
        if (lineup[size_t(k)] == 1) {
            ts->viewed_slot = k;
            break;
        }
    return lineup;
}

// Slot k's bike from its plan, set up (the local rider's from the setup)
// and placed on the grid. False, and no bike, when the model cannot be built.
bool build_slot_bike(track_state *ts, int k, const slot_plan &plan) {
    char note[128] = "";
    int model = bike_model_for(plan.model.c_str(), note, sizeof note);
    if (note[0])
        show_message_line("%s", note);
    if (model < 0 || !build_rider(k, model))
        return false;
    RiderState *r = rider_slot(k);
    ts->slots[size_t(k)].bike = bike_models()[size_t(model)].name;
    ++ts->bike_count;
    r->simulated = plan.mode != SLOT_REPLAYED;
    r->collides = plan.mode != SLOT_REPLAYED;
    if (plan.mode == SLOT_LOCAL) {
        ts->local_slot = k;
        rider_setup_params p = rider_build_params(bike_models()[size_t(model)]);
        apply_setup_params(&p, bike_models()[size_t(model)], true);
        apply_rider_params(r, p);
        setup_watch_applied();
    }
    place_on_grid(ts, k, k);
    race_rider &rr = ts->race.riders[size_t(k)];
    rr.position = rr.previous_position = body_position(r, BODY_FRONT_WHEEL);
    rr.grid = rr.position;
    return true;
}

// Every slot's rider from its lineup code, in slot order.
void load_bikes(track_state *ts, const load_track_request &rq, const std::array<int32_t, RACE_SLOTS> &lineup) {
    race_state &rs = ts->race;
    stage(ts, "Loading bikes");
    lineup_cursor cursor;
    cursor.order = ts->roster_order;
    ts->local_slot = RACE_SLOTS;
    for (int k = 0; k < RACE_SLOTS; ++k) {
        slot_plan plan = resolve_lineup_code(lineup[size_t(k)], &cursor, rq.me);
        rider_slot_entry &slot = ts->slots[size_t(k)];
        slot.name = plan.name;
        slot.roster = plan.roster;
        slot.personality = plan.personality;
        slot.bike.clear();
        rs.mode[size_t(k)] = plan.mode;
        rs.riders[size_t(k)] = race_rider{};
        rs.riders[size_t(k)].slot = k;
        if (plan.bike && build_slot_bike(ts, k, plan))
            (void)loading_screen_tick();
    }
    stage_done("Loading bikes");
}

// Every replay history starts empty; a replayed bike waits, absent, for
// its first samples.
void clear_replay_histories(track_state *ts) {
    for (int k = 0; k < RACE_SLOTS; ++k) {
        rider_slot_entry &s = ts->slots[size_t(k)];
        s.history.tic.fill(-1);
        s.history.write = 0;
        s.history.pending = 0;
        RiderState *r = rider_slot(k);
        if (ts->race.mode[size_t(k)] == SLOT_REPLAYED && r->built)
            set_presence(r, 0);
    }
}

// The laps to ride; a race of fixed length has no lap target.
// The texture memory, then the textures no part of this load named.
void release_unused_textures() {
    show_message_line("%lu MB texture memory used", texture_bytes() >> 20);
    DeleteStaleTextures(false);
}

void set_lap_target(race_clock *clock, const load_track_request &rq) {
    if (rq.race_length > 0) {
        clock->lap_target = 1000000;
        clock->halfway_lap = 1000000;
    } else {
        clock->lap_target = rq.laps;
        clock->halfway_lap = (rq.laps + 1) / 2;
    }
}

// A time trial starts two gates before the finish line: the local bike is
// backed up there and dropped onto the ground.
void place_time_trial_start(track_state *ts, const load_track_request &rq) {
    race_state &rs = ts->race;
    rs.backup_count = TIME_TRIAL_START_GATES;
    if (!rq.time_trial || ts->local_slot >= RACE_SLOTS)
        return;
    backup_pose pose;
    race_rider &rr = rs.riders[size_t(ts->local_slot)];
    rs.backup_count = TIME_TRIAL_BACKUP;
    if (time_trial_backup(ts->timing, &rr, TIME_TRIAL_START_GATES, &ts->terrain, &pose)) {
        RiderState *r = rider_slot(ts->local_slot);
        drop_onto_ground(r, &ts->terrain, pose.position[0], pose.position[1], pose.position[2], pose.heading);
        rr.position = rr.previous_position = body_position(r, BODY_FRONT_WHEEL);
    }
}

// With no bike in the viewed slot, view the leader (the first bike).
void view_leader_without_bike(track_state *ts) {
    if (ts->viewed_slot < RACE_SLOTS && rider_slot(ts->viewed_slot)->built)
        return;
    ts->viewed_slot = RACE_SLOTS;
    for (int k = 0; k < RACE_SLOTS; ++k)
        if (rider_slot(k)->built) {
            ts->viewed_slot = k;
            break;
        }
}

}  // namespace

bool load_track(track_state *ts, const load_track_request &rq) {
    begin_load(ts);
    std::mt19937 gen(rq.seed);
    ts->roster_order = shuffle_roster(uint32_t(gen()));
    stage(ts, "Cleaning up");
    free_bikes();
    ts->bike_count = 0;
    reset_race(ts, rq, gen);
    bool keep = !ts->folder.empty() && ts->folder == rq.folder && !ts->force_reload;
    if (!keep && !load_track_files(ts, rq))
        return false;
    connect_race_state(ts);
    std::array<int32_t, RACE_SLOTS> lineup = choose_lineup(ts, rq);
    load_bikes(ts, rq, lineup);
    clear_replay_histories(ts);
    roost_pool_reset(&ts->race.roost);
    release_unused_textures();
    set_lap_target(&ts->race.clock, rq);
    raise_starting_gates(&ts->timing, &ts->objects);
    place_time_trial_start(ts, rq);
    velk_log("Max loading delay was %f (%s)\n", ts->max_delay, ts->max_delay_stage.c_str());
    view_leader_without_bike(ts);
    return true;
}
