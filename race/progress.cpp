// Riders against the timing: gate progress and gate times, laps, the
// running order, the cutting penalty, the starting gates' drop, the false
// start and the time-trial back-up.

#include "race/race_local.h"

#include "track/track.h"

#include <algorithm>
#include <cmath>

namespace {

// The gates visited around the progress p each tic; p - 1, the gate last
// reached, is left out.
constexpr int k_window[] = {-3, -2, 0, 1, 2};

constexpr int32_t k_cut_grace = RACE_TICS_PER_SECOND;               // 1 s
constexpr double k_no_reference = 60.0 * RACE_TICS_PER_SECOND;      // 60 s
constexpr int32_t k_drop_time = 10 * RACE_TICS_PER_SECOND;          // the gates keep falling for 10 s
constexpr int32_t k_false_start_hold = 15 * RACE_TICS_PER_SECOND;
constexpr float k_false_start_distance = 3.0f;

bool at_gate(const checkpoint &g, const std::array<float, 3> &p) {
    float dx = p[0] - g.x, dz = p[2] - g.z;
    return dx * dx + dz * dz <= g.radius * g.radius && dx * g.nx + dz * g.nz >= 0.0f;
}

// The stretch from gate a to gate b in rider r, when a..b all have stamps
// (a = -1 counts as stamped at tic 0) and it does not run backwards.
bool stretch_time(const race_rider &r, int64_t a, int64_t b, double *out) {
    if (a < -1 || b <= a || b >= int64_t(r.gate_times.size()))
        return false;
    for (int64_t k = std::max<int64_t>(a, 0); k <= b; ++k)
        if (r.gate_times[size_t(k)] < 0)
            return false;
    int32_t ta = a < 0 ? 0 : r.gate_times[size_t(a)];
    int32_t tb = r.gate_times[size_t(b)];
    if (tb < ta)
        return false;
    *out = double(tb) - double(ta);
    return true;
}

// A rider's own time for the stretch a..b in the reference sense: the
// stretch itself in the first lap, else averaged over every normal lap
// where it is complete.
bool reference_stretch(const race_timing &rt, const race_rider &r, int32_t a, int32_t b, double *out) {
    if (a < rt.first_lap)
        return stretch_time(r, a, b, out);
    int64_t m = rt.normal_lap;
    int64_t shift = (int64_t(a) - rt.first_lap) / m * m;  // back to the stretch in the first normal lap
    double sum = 0;
    int laps = 0;
    for (int64_t a2 = a - shift, b2 = b - shift; b2 < int64_t(r.gate_times.size()); a2 += m, b2 += m) {
        double t;
        if (stretch_time(r, a2, b2, &t)) {
            sum += t;
            ++laps;
        }
    }
    if (laps == 0)
        return false;
    *out = sum / laps;
    return true;
}

}  // namespace

// ---------------------------------------------------------------- gate times

void race_rider_move(race_rider *r, const std::array<float, 3> &front_wheel) {
    r->previous_position = r->position;
    r->position = front_wheel;
}

int32_t gate_time(const race_rider &r, int32_t k) {
    if (k < 0 || size_t(k) >= r.gate_times.size())
        return -1;
    return r.gate_times[size_t(k)];
}

bool set_gate_time(race_rider *r, int32_t k, int32_t tic) {
    if (k < 0 || k >= MAX_GATE_INDEX)
        return false;
    if (size_t(k) >= r->gate_times.size())
        r->gate_times.resize(size_t(k) + 1, -1);
    r->gate_times[size_t(k)] = tic;
    return true;
}

bool rewind_progress(race_rider *r, int32_t a) {
    if (a < 0)
        return false;
    if (size_t(a) < r->gate_times.size())
        r->gate_times.resize(size_t(a));
    if (a < r->progress)
        r->finished = false;
    r->progress = a;
    return true;
}

int32_t completed_laps(const race_timing &rt, const race_rider &r) {
    if (!rt.valid || rt.normal_lap <= 0 || r.progress < rt.first_lap)
        return 0;
    return (r.progress - rt.first_lap) / rt.normal_lap + 1;
}

double lap_time(const race_timing &rt, const race_rider &r, int32_t lap, int32_t start_tic) {
    if (!rt.valid || lap < 1)
        return 0.0;
    int32_t end = gate_time(r, finish_gate(rt, lap));
    int32_t begin = lap == 1 ? start_tic : gate_time(r, finish_gate(rt, lap - 1));
    if (end < 0 || (lap > 1 && begin < 0))
        return 0.0;
    return (double(end) - double(begin)) * RACE_TIC_LENGTH;
}

gate_progress_result update_gate_progress(const race_timing &rt, race_rider *r, const race_clock &clock,
                                          int32_t leader_progress) {
    gate_progress_result res;
    if (!rt.valid || r->finished)
        return res;
    int32_t p = r->progress;
    bool noted = false;
    for (int j : k_window) {
        int64_t k64 = int64_t(p) + j;
        if (k64 < 0)
            continue;
        if (k64 >= MAX_GATE_INDEX)
            return res;
        int32_t k = int32_t(k64);
        bool no_time = gate_time(*r, k) < 0;
        noted = noted || no_time;
        bool here = at_gate(gate_checkpoint(rt, k), r->position);
        if (!here && is_finish_gate(rt, k) && no_time)
            return res;  // a finish line is never skipped
        if (here && (j >= 0 || noted)) {
            if (!set_gate_time(r, k, clock.tic))
                return res;
            r->progress = k + 1;
            res.gate = k;
            break;
        }
        if (here)
            noted = false;
    }
    if (res.gate < 0)
        return res;
    int32_t d = r->progress - rt.first_lap;
    if (d >= 0 && d % rt.normal_lap == 0) {
        res.lap_done = true;
        int64_t last_finish = int64_t(rt.first_lap) + int64_t(rt.normal_lap) * (int64_t(clock.lap_target) - 1) - 1;
        if (completed_laps(rt, *r) >= clock.lap_target || int64_t(leader_progress) > last_finish)
            r->finished = true;
    }
    return res;
}

// ---------------------------------------------------------------- order and penalties

std::vector<order_entry> running_order(std::span<const race_rider> riders) {
    std::vector<order_entry> order;
    order.reserve(riders.size());
    for (const race_rider &r : riders) {
        int32_t t = r.progress > 0 ? gate_time(r, r.progress - 1) : 0;
        order.push_back({r.slot, r.progress, t});
    }
    std::sort(order.begin(), order.end(), [](const order_entry &a, const order_entry &b) {
        if (a.progress != b.progress)
            return a.progress > b.progress;
        if (a.tic != b.tic)
            return a.tic < b.tic;
        return a.slot < b.slot;
    });
    return order;
}

int32_t cutting_penalty(const race_timing &rt, const race_rider &r, std::span<const race_rider> field) {
    if (!rt.valid)
        return 0;
    int32_t end = std::min<int32_t>(r.progress, int32_t(r.gate_times.size()));
    double penalty = 0;
    int32_t a = -1;  // last stamped gate
    for (int32_t k = 0; k < end; ++k) {
        if (r.gate_times[size_t(k)] < 0)
            continue;
        if (k > a + 1) {
            // Gates a+1 .. k-1 have no time.
            int32_t ta = a < 0 ? 0 : r.gate_times[size_t(a)];
            double own = double(r.gate_times[size_t(k)]) - double(ta);
            double sum = 0;
            int count = 0;
            for (const race_rider &o : field) {
                double t;
                if (reference_stretch(rt, o, a, k, &t)) {
                    sum += t;
                    ++count;
                }
            }
            double ref = count > 0 ? sum / count : k_no_reference;
            if (own < ref + k_cut_grace)
                penalty += ref + k_cut_grace - own;
        }
        a = k;
    }
    return int32_t(std::lround(std::min(penalty, double(INT32_MAX))));
}

bool rider_finished(const race_timing &rt, const race_rider &r, const race_rider *leader, int32_t lap_target) {
    if (r.finished)
        return true;
    if (!leader || !rt.valid)
        return false;
    int32_t c = gate_time(*leader, finish_gate(rt, lap_target));
    int32_t laps = completed_laps(rt, r);
    if (c < 0 || laps < 1)
        return false;
    int32_t mine = gate_time(r, finish_gate(rt, laps));
    return mine >= 0 && mine >= c;
}

bool realign_target(const race_state &rs, int slot, std::array<double, 3> *out) {
    if (!rs.timing || !rs.timing->valid || slot < 0 || slot >= RACE_SLOTS)
        return false;
    const race_timing &rt = *rs.timing;
    const race_rider &r = rs.riders[size_t(slot)];
    if (r.progress < 1)
        return false;
    // The leader by the running order's keys, without building the order.
    const race_rider *leader = nullptr;
    int32_t leader_tic = 0;
    for (const race_rider &o : rs.riders) {
        int32_t t = o.progress > 0 ? gate_time(o, o.progress - 1) : 0;
        if (!leader || o.progress > leader->progress || (o.progress == leader->progress && t < leader_tic)) {
            leader = &o;
            leader_tic = t;
        }
    }
    if (rider_finished(rt, r, leader, rs.clock.lap_target))
        return false;
    const checkpoint &g = gate_checkpoint(rt, r.progress);
    *out = {g.x, g.y, g.z};
    return true;
}

// ---------------------------------------------------------------- starting gates

void raise_starting_gates(race_timing *rt, track_objects *objects) {
    for (starting_gate &g : rt->gates) {
        g.up = 1.0f;
        g.speed = 0.0f;
        tilt_gate_object(g, objects);
    }
}

void update_starting_gates(race_timing *rt, const race_clock &clock, track_objects *objects) {
    int64_t drop = int64_t(clock.start_tic) + clock.replay_delay;
    if (clock.tic < drop) {
        raise_starting_gates(rt, objects);
        return;
    }
    if (clock.tic > drop + k_drop_time)
        return;
    const float h = float(RACE_TIC_LENGTH);
    for (starting_gate &g : rt->gates) {
        g.speed = std::min(g.speed + 32.0f * h, 8.0f);
        g.up = std::max(g.up - g.speed * h, 0.0f);
        tilt_gate_object(g, objects);
    }
}

// ---------------------------------------------------------------- false start

start_hold false_start_step(race_rider *r, const race_clock &clock) {
    if (!clock.online)
        return start_hold::none;
    if (r->false_started && clock.tic < r->hold_until)
        return start_hold::penalty;
    if (clock.tic >= clock.start_tic)
        return start_hold::none;
    if (!r->false_started) {
        float dx = r->position[0] - r->grid[0], dy = r->position[1] - r->grid[1], dz = r->position[2] - r->grid[2];
        if (dx * dx + dy * dy + dz * dz >= k_false_start_distance * k_false_start_distance) {
            r->false_started = true;
            r->hold_until = int32_t(std::min<int64_t>(int64_t(clock.start_tic) + k_false_start_hold, INT32_MAX));
            race_message("15 second false start penalty");
            return start_hold::penalty;
        }
    }
    return start_hold::dab;
}

// ---------------------------------------------------------------- time-trial back-up

bool time_trial_backup(const race_timing &rt, race_rider *r, int32_t count, const Terrain *t, backup_pose *out) {
    if (!rt.valid)
        return false;
    int32_t k = std::max(rt.first_lap - 1 - std::max(count, 0), 0);
    const checkpoint &g = gate_checkpoint(rt, k);
    out->gate = k;
    out->position = {g.x, g.y, g.z};
    if (t && !t->heights.empty())
        out->position[1] = terrain_height_at(t, g.x, g.z);
    // A bike at rest faces -z: heading h faces (-sin h, -cos h).
    out->heading = (g.nx == 0.0f && g.nz == 0.0f) ? 0.0f : std::atan2(-g.nx, -g.nz);
    (void)rewind_progress(r, k);
    return true;
}
