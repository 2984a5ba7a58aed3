// The ride inside the frame loop: the loop's hooks for the loaded track, the
// local rider's inputs (the bindings, or a controls file for scripted and
// batch runs), the race tic and the telemetry stream.

#include "core/core_local.h"
#include "core/lifecycle_local.h"
#include "files/files.h"
#include "sim/sim.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

constexpr double MPH_PER_FT_S = 0.6818182;

bool hook_track_loaded(void *ctx) {
    return !static_cast<ride_session *>(ctx)->track->folder.empty();
}

bool hook_viewed_has_bike(void *ctx) {
    const track_state *ts = static_cast<ride_session *>(ctx)->track;
    const RiderState *r = rider_slot(ts->viewed_slot);
    return r && r->built;
}

bool hook_viewed_local(void *ctx) {
    const track_state *ts = static_cast<ride_session *>(ctx)->track;
    return ts->viewed_slot < RACE_SLOTS && ts->race.mode[size_t(ts->viewed_slot)] == SLOT_LOCAL;
}

void hook_race_tic(void *ctx) {
    ride_session_tic(static_cast<ride_session *>(ctx));
}

void hook_rider_inputs(void *ctx, const float inputs[9]) {
    ride_session_inputs(static_cast<ride_session *>(ctx), inputs);
}

bool hook_race_finished(void *ctx) {
    return ride_session_race_finished(static_cast<ride_session *>(ctx));
}

void hook_restart_race(void *ctx) {
    ride_session_restart(static_cast<ride_session *>(ctx));
}

void hook_step_viewed(void *ctx, int direction) {
    ride_session_step_viewed(static_cast<ride_session *>(ctx), direction);
}

// The running order of the slots that hold a bike.
std::vector<order_entry> riders_in_order(const track_state &ts) {
    std::vector<order_entry> order = running_order(ts.race.riders);
    std::erase_if(order, [](const order_entry &e) {
        const RiderState *r = rider_slot(e.slot);
        return !r || !r->built;
    });
    return order;
}

bool hook_local_position(void *ctx, float out[3]) {
    const track_state *ts = static_cast<ride_session *>(ctx)->track;
    for (int k = 0; k < RACE_SLOTS; ++k) {
        const RiderState *r = rider_slot(k);
        if (ts->race.mode[size_t(k)] == SLOT_LOCAL && r && r->built) {
            std::array<float, 3> p = body_position(r, BODY_FRAME);
            out[0] = p[0];
            out[1] = p[1];
            out[2] = p[2];
            return true;
        }
    }
    return false;
}

// Reads one number; false at the end of the text or for a bad or non-finite one.
bool next_number(const char **p, double *out) {
    char *end = nullptr;
    double d = std::strtod(*p, &end);
    if (end == *p || !std::isfinite(d))
        return false;
    *p = end;
    *out = d;
    return true;
}

}  // namespace

bool read_controls_file(const char *path, std::vector<controls_line> *out) {
    data_file *f = data_open(path, "r");
    if (!f)
        return false;
    std::vector<controls_line> lines;
    char buf[1024];
    bool ok = true;
    while (ok && data_get_line(f, buf, sizeof buf)) {
        const char *p = buf;
        while (*p == ' ' || *p == '\t')
            ++p;
        if (*p == '\0' || *p == '#' || *p == '\r')
            continue;
        controls_line line;
        ok = next_number(&p, &line.time) && line.time >= 0 && (lines.empty() || line.time >= lines.back().time);
        for (int i = 0; ok && i < 9; ++i) {
            double v = 0;
            ok = next_number(&p, &v);
            line.inputs[size_t(i)] = float(v);
        }
        while (ok && (*p == ' ' || *p == '\t' || *p == '\r'))
            ++p;
        ok = ok && *p == '\0';
        if (ok)
            lines.push_back(line);
    }
    data_close(f);
    if (!ok)
        return false;
    *out = std::move(lines);
    return true;
}

std::array<float, 9> controls_at(const std::vector<controls_line> &lines, double t) {
    std::array<float, 9> in{};
    for (const controls_line &l : lines) {
        if (l.time > t)
            break;
        in = l.inputs;
    }
    return in;
}

void write_telemetry_header(std::FILE *f) {
    std::fputs("tic,time,x,y,z,vx,vy,vz,speed_mph,rpm,gear,clutch,throttle,steer,front_brake,rear_brake,"
               "lean,fork_travel,shock_travel,front_depth,rear_depth,crashed,gates,laps,heading\n",
               f);
}

void write_telemetry_line(std::FILE *f, const track_state &ts, int slot) {
    const RiderState *r = rider_slot(slot);
    int32_t tic = ts.race.clock.tic;
    if (!r || !r->built) {
        std::fprintf(f, "%d,%.6f,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0\n", tic, tic * TIC_LENGTH);
        return;
    }
    std::array<float, 3> p = body_position(r, BODY_FRAME);
    std::array<float, 3> v = body_velocity(r, BODY_FRAME);
    double speed = std::sqrt(double(v[0]) * v[0] + double(v[1]) * v[1] + double(v[2]) * v[2]);
    const race_rider &rr = ts.race.riders[size_t(slot)];
    const rider_controls &c = r->controls;
    std::fprintf(f, "%d,%.6f,%.4f,%.4f,%.4f,%.4f,%.4f,%.4f,%.3f,%.1f,%d,%.3f,%.3f,%.3f,%.3f,%.3f,%.4f,%.4f,%.4f,%.4f,%.4f,%d,%d,%d,%.4f\n",
                 tic, tic * TIC_LENGTH, p[0], p[1], p[2], v[0], v[1], v[2], speed * MPH_PER_FT_S, engine_rpm(r),
                 r->gear + 1, c.clutch, c.throttle, c.steer, c.front_brake, c.rear_brake,
                 lean_angle(r->body[BODY_FRAME].get()), r->suspension.fork_travel, r->suspension.shock_travel,
                 r->wheel[0].depth, r->wheel[1].depth, r->down ? 1 : 0, rr.progress,
                 ts.timing.valid ? completed_laps(ts.timing, rr) : 0,
                 heading_angle(r->body[BODY_FRAME].get()));
}

void attach_ride_session(frame_loop *L, ride_session *s) {
    s->loop = L;
    L->hooks.ctx = s;
    L->hooks.track_loaded = hook_track_loaded;
    L->hooks.viewed_slot_has_bike = hook_viewed_has_bike;
    L->hooks.viewed_slot_local = hook_viewed_local;
    L->hooks.race_tic = hook_race_tic;
    L->hooks.local_position = hook_local_position;
    L->hooks.rider_inputs = hook_rider_inputs;
    L->hooks.race_finished = hook_race_finished;
    L->hooks.restart_race = hook_restart_race;
    L->hooks.step_viewed_rider = hook_step_viewed;
    L->terrain = &s->track->terrain;
    L->erosion = &s->track->erosion;
}

void ride_session_inputs(ride_session *s, const float inputs[9]) {
    const track_state *ts = s->track;
    RiderState *r = rider_slot(ts->viewed_slot);
    if (!r || !r->built || ts->race.mode[size_t(ts->viewed_slot)] != SLOT_LOCAL)
        return;
    std::array<float, 9> in{};
    if (s->use_controls)
        in = controls_at(s->controls, s->tics_since_load * TIC_LENGTH);
    else
        std::copy(inputs, inputs + 9, in.begin());
    map_rider_inputs(r, in.data(), setup_input_options());
}

void ride_session_tic(ride_session *s) {
    track_state *ts = s->track;
    race_tic(&ts->race);
    ++s->tics_since_load;
    if (s->telemetry)
        write_telemetry_line(s->telemetry, *ts, ts->viewed_slot);
}

void ride_session_seed(ride_session *s, bool fixed, uint32_t seed) {
    s->fixed_seed = fixed;
    s->seeds.seed(seed);
}

bool ride_session_load(ride_session *s, load_track_request rq) {
    rq.seed = s->fixed_seed ? uint32_t(s->seeds()) : uint32_t(velk_seconds() * 1000.0) ^ uint32_t(std::time(nullptr));
    s->request = rq;
    bool ok = load_track(s->track, rq);
    s->tics_since_load = 0;
    if (ok)
        config().track = input_intern(rq.folder.c_str());
    setup_watch_snapshot();
    tune_process_memory();
    return ok;
}

bool ride_session_race_finished(const ride_session *s) {
    const track_state &ts = *s->track;
    if (!ts.timing.valid || ts.race.clock.lap_target <= 0)
        return false;
    std::vector<order_entry> order = riders_in_order(ts);
    return !order.empty() &&
           completed_laps(ts.timing, ts.race.riders[size_t(order.front().slot)]) >= ts.race.clock.lap_target;
}

void ride_session_restart(ride_session *s) {
    load_track_request rq = s->request;
    std::rotate(rq.lineup.rbegin(), rq.lineup.rbegin() + 1, rq.lineup.rend());
    const config_settings &c = config();
    rq.race_length = int32_t(60.0 * c.minutes.value / TIC_LENGTH);
    rq.laps = int32_t(c.laps.value);
    (void)ride_session_load(s, rq);
}

void ride_session_step_viewed(ride_session *s, int direction) {
    track_state *ts = s->track;
    std::vector<order_entry> order = riders_in_order(*ts);
    if (order.empty())
        return;
    int at = -1;
    for (size_t i = 0; i < order.size(); ++i)
        if (order[i].slot == ts->viewed_slot)
            at = int(i);
    int next = at < 0 ? 0 : std::clamp(at + direction, 0, int(order.size()) - 1);
    ts->viewed_slot = order[size_t(next)].slot;
}
