// crash.cpp -- taking the rider off the bike, the fallen rider with its
// tethers and countdown, putting the rider back on, the feet, and applying
// the setup to a player's rider.
#include "sim/physics_local.h"

#include <algorithm>
#include <numbers>

namespace {

constexpr double H = PHYSICS_TIC;
constexpr int32_t DOWN_TICS = 512;

std::array<int32_t, 16> g_penalty{};

const BikeModel &model_of(const RiderState *r)
{
    return bike_models()[size_t(r->model)];
}

vec3f to_f(v3 a)
{
    return {float(a.x), float(a.y), float(a.z)};
}

v3 rel_point(dBodyID b, v3 p)
{
    dVector3 w;
    dBodyGetRelPointPos(b, p.x, p.y, p.z, w);
    return to_v3(w);
}

void take_off(RiderState *r, int count)
{
    const BikeModel &m = model_of(r);
    dJointAttach(r->joint[JOINT_RIDER_MOUNT].get(), nullptr, nullptr);
    dBodyID rider = r->body[BODY_RIDER].get();
    // the feet fly off with the points of the rider body they hang from
    v3 hips[2] = {to_v3(m.left_hip), to_v3(m.right_hip)};
    for (int k = 0; k < 2; ++k) {
        v3 p = rel_point(rider, hips[k]);
        r->ride.foot_vel[size_t(k)] = to_f(point_vel(rider, p));
    }
    r->crash_timer = DOWN_TICS + g_penalty[size_t(std::clamp(count, 0, 15))];
    r->down = true;
    r->controls.throttle = r->controls.sit = r->controls.back_up = r->controls.lean = 0;
}

// Hip point of a side in the world (the model's hips are rider-body
// points).
v3 hip_world(const RiderState *r, int side)
{
    const BikeModel &m = model_of(r);
    return rel_point(r->body[BODY_RIDER].get(), side == 0 ? to_v3(m.left_hip) : to_v3(m.right_hip));
}

} // namespace

void set_crash_penalties(const std::array<int32_t, 16> &tics)
{
    for (size_t k = 0; k < tics.size(); ++k)
        g_penalty[k] = std::max(tics[k], 0);
}

void crash(RiderState *r)
{
    if (!r || !r->built || r->down)
        return;
    take_off(r, r->crashes);
    r->crashes++;
}

void crash_hook(RiderState *r)
{
    // rider_crash has already counted this one
    if (!r || !r->built || r->down)
        return;
    take_off(r, r->crashes - 1);
}

void reseat(RiderState *r)
{
    if (!r || !r->built)
        return;
    const BikeModel &m = model_of(r);
    dBodyID frame = r->body[BODY_FRAME].get(), rider = r->body[BODY_RIDER].get();
    v3 p = rel_point(frame, to_v3(m.rider) - to_v3(m.frame));
    dBodySetPosition(rider, p.x, p.y, p.z);
    dBodySetRotation(rider, dBodyGetRotation(frame));
    v3 v = point_vel(frame, p);
    dBodySetLinearVel(rider, v.x, v.y, v.z);
    const dReal *w = dBodyGetAngularVel(frame);
    dBodySetAngularVel(rider, w[0], w[1], w[2]);
    r->crash_timer = 0;
    r->down = false;
    attach_mount(r);
    for (vec3f &rv : r->ride.rider_vel)
        rv = to_f(v);
}

void reset_ride_state(RiderState *r)
{
    int32_t start = r->ride.race_start_tic;
    bool computer = r->ride.computer;
    r->ride = rider_ride_state{};
    r->ride.race_start_tic = start;
    r->ride.computer = computer;
    foot_placement(r);
}

void fallen_rider_step(RiderState *r, int32_t tic)
{
    (void)tic;
    const BikeModel &m = model_of(r);
    rider_ride_state &s = r->ride;
    s.foot_down = std::min(1.0f, s.foot_down + float(8 * H));
    dBodyID frame = r->body[BODY_FRAME].get(), rider = r->body[BODY_RIDER].get();
    dBodyID fork = r->body[BODY_UPPER_FORK].get();
    v3 rest = to_v3(m.rider);
    if (length2(body_vel(rider)) < 4) {
        r->crash_timer--;
    } else {
        double arm = (m.upper_arm_length + m.forearm_length) * 0.875;
        double a[3], b[3];
        store(a, to_v3(m.left_shoulder)), store(b, to_v3(m.left_grip));
        tether(rider, a, fork, b, arm);
        store(a, to_v3(m.right_shoulder)), store(b, to_v3(m.right_grip));
        tether(rider, a, fork, b, arm);
        if (r->crash_timer > 511) {
            v3 hip = to_v3(m.right_hip), grip = to_v3(m.right_grip);
            store(a, {0, hip.y, hip.z}), store(b, {0, grip.y, grip.z + 10});
            tether(rider, a, fork, b, 8);
        }
    }
    // the fallen rider lands on its own bike rather than through it
    (void)collide_own_parts(r, BODY_RIDER, BODY_FRAME, 0);
    (void)collide_own_parts(r, BODY_RIDER, BODY_UPPER_FORK, 0);
    if (r->crash_timer <= 511) {
        double len = 5 * std::clamp((r->crash_timer - 128) / 384.0, 0.0, 1.0);
        v3 seat = rest - to_v3(m.frame);
        for (v3 off : {v3{}, v3{-5, 10, 0}, v3{5, 10, 0}}) {
            double a[3], b[3];
            store(a, seat + off), store(b, off);
            tether(frame, a, rider, b, len);
        }
    }
    // getting up: the foot on the low side is drawn in beside the bike
    if (r->crash_timer < 320) {
        size_t side = lean_angle(frame) > 0 ? 0 : 1;
        v3 peg = side == 0 ? to_v3(m.left_peg) : to_v3(m.right_peg);
        v3 target = rel_point(frame, peg + v3{0, 3, 1});
        v3 p = to_v3(s.foot[side]), d = target - p;
        double l = length(d), most = 4 * H;
        if (finite(d))
            s.foot[side] = to_f(l > most ? p + d * (most / l) : target);
    }
    if (r->crash_timer <= 0)
        reseat(r);
}

void foot_placement(RiderState *r)
{
    const BikeModel &m = model_of(r);
    rider_ride_state &s = r->ride;
    s.foot_down = std::max(0.0f, s.foot_down - float(4 * H));
    dBodyID frame = r->body[BODY_FRAME].get();
    const Terrain *t = physics_current_terrain();
    auto ground = [t](v3 p) { return t ? double(terrain_height_at(t, float(p.x), float(p.z))) : -1e9; };
    v3 pegs[2] = {to_v3(m.left_peg), to_v3(m.right_peg)};
    double legs = m.thigh_length + m.shin_length;
    if (!r->down) {
        double phi = lean_angle(frame);
        int inside = phi > 0 ? 0 : 1;  // leaning left puts the left foot down
        for (int k = 0; k < 2; ++k) {
            v3 p = rel_point(frame, pegs[k]);
            if (k == inside && s.foot_down > 0 && r->crash_timer <= 127) {
                v3 g{p.x, ground(p), p.z};
                p = p + (g - p) * double(s.foot_down);
            }
            s.foot[size_t(k)] = to_f(p);
            s.foot_vel[size_t(k)] = {};
        }
        return;
    }
    for (int k = 0; k < 2; ++k) {
        v3 p = to_v3(s.foot[size_t(k)]), v = to_v3(s.foot_vel[size_t(k)]);
        v.y -= 32 * H;
        p = p + v * H;
        double gy = ground(p) + 0.25;
        if (p.y < gy) {
            p.y = gy;
            v = {};
        } else {
            v = v * (15.0 / 16);
        }
        v3 hip = hip_world(r, k);
        v3 d = p - hip;
        double l = length(d);
        if (l > legs && l > 0) {
            v3 n = d * (1 / l);
            p = hip + n * legs;
            v3 hv = point_vel(frame, hip);
            v = v - n * dot(v, n) + n * dot(hv, n);
        }
        if (!finite(p))
            p = hip;
        s.foot[size_t(k)] = to_f(p);
        s.foot_vel[size_t(k)] = to_f(finite(v) ? v : v3{});
    }
}

void apply_setup(RiderState *r, bool allow_arcade)
{
    if (!r || !r->built || r->ride.computer)
        return;
    rider_setup_params p = r->params;
    apply_setup_params(&p, model_of(r), allow_arcade);
    apply_rider_params(r, p);
}
