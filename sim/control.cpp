// control.cpp -- the rider's controls and their mapping from the player's
// inputs, and the per-tic rider update: steering by torque about the
// steering head with its stability aids, the arcade variant, dabbing,
// walking the bike backwards, and the balance force of a foot on the ground.
#include "sim/physics_local.h"

#include <algorithm>
#include <cstring>
#include <numbers>

namespace {

constexpr double PI = std::numbers::pi;
constexpr double H = PHYSICS_TIC;
constexpr double SLOW_SPEED = 5;
constexpr double DAB_SPEED = 15;

realign_target_fn g_realign = nullptr;
void *g_realign_ctx = nullptr;

float clamped(float v, float lo, float hi)
{
    return std::isfinite(v) ? sim_clamp(v, lo, hi) : 0.0f;
}

const BikeModel &model_of(const RiderState *r)
{
    return bike_models()[size_t(r->model)];
}

double dead_zone(double v, double z)
{
    return v > z ? v - z : v < -z ? v + z : 0.0;
}

double max_dab_speed(const RiderState *r)
{
    double s = r->params.max_dab_speed;
    return r->bump_timer <= -512 ? std::max(s, 75.0) : s;
}

v3 rel_point(dBodyID b, v3 p)
{
    dVector3 w;
    dBodyGetRelPointPos(b, p.x, p.y, p.z, w);
    return to_v3(w);
}

// A one-tic angular motor about the world's vertical turning the frame.
void yaw_motor(RiderState *r, double rate, double fmax)
{
    dJointID j = dJointCreateAMotor(physics_world(), physics_contact_group());
    dJointAttach(j, r->body[BODY_FRAME].get(), nullptr);
    dJointSetAMotorNumAxes(j, 1);
    dJointSetAMotorAxis(j, 0, 0, 0, 1, 0);
    dJointSetAMotorParam(j, dParamVel, std::isfinite(rate) ? rate : 0.0);
    dJointSetAMotorParam(j, dParamFMax, std::isfinite(fmax) ? fmax : 0.0);
}

double terrain_y(double x, double z)
{
    const Terrain *t = physics_current_terrain();
    return t ? terrain_height_at(t, float(x), float(z)) : 0.0;
}

// ---------------------------------------------------------------- steps

void air_time(RiderState *r, int32_t tic)
{
    bool front = touches(r->wheel[0]), rear = touches(r->wheel[1]);
    rider_ride_state &s = r->ride;
    if (!front && !rear && body_vel(r->body[BODY_FRAME].get()).y < 0 && s.landing_tic >= s.takeoff_tic)
        s.takeoff_tic = tic;
    else if ((front || rear) && s.landing_tic < s.takeoff_tic)
        s.landing_tic = tic;
}

void detect_crash(RiderState *r, int32_t tic)
{
    const rider_ride_state &s = r->ride;
    double A, G;
    crash_limits(s.takeoff_tic, s.landing_tic, tic, &A, &G);
    if (r->bump_timer < 0)
        return;
    dBodyID rider = r->body[BODY_RIDER].get();
    v3 v = body_vel(rider);
    v3 rel = v - point_vel(r->body[BODY_FRAME].get(), body_pos(rider));
    v3 old = to_v3(s.rider_vel[size_t(tic & 3)]);
    v3 acc = (v - old) * (0.25 / H) + v3{0, 32, 0};
    if (length2(rel) > A * A || length2(acc) > G * G)
        crash(r);
}

// Walking backwards and the automatic dab, for a rider on the bike.
void feet_and_back_up(RiderState *r, int32_t tic)
{
    dBodyID frame = r->body[BODY_FRAME].get();
    double v = length(body_vel(frame));
    rider_controls &c = r->controls;
    double phi = lean_angle(frame);
    if (c.back_up > 0 && v < SLOW_SPEED) {
        double w = (1 - std::sin((tic & 127) * (2 * PI / 127))) * 0.5;
        int32_t first_step = (r->ride.race_start_tic + 128) & ~127;
        if (tic < first_step && (tic & 511) >= 128)
            w = 0;
        c.sit = 1;
        pull_frame(r, body_axis(frame, 2) * (4 * w), 2000);
        yaw_motor(r, -c.steer * PI / 2 * w, 2000);
        return;
    }
    if (!r->params.auto_dab)
        return;
    double vmax = max_dab_speed(r);
    if (v > vmax)
        return;
    if (v > DAB_SPEED && std::fabs(phi) < std::min((v - DAB_SPEED) / DAB_SPEED, 1.0) * PI / 4)
        return;
    if (c.throttle == 0 || c.clutch == 0 || v < SLOW_SPEED || std::fabs(phi) > PI / 16) {
        c.sit = float(std::clamp((vmax - v) / vmax, double(c.sit), 1.0));
        if (v < SLOW_SPEED && (c.throttle == 0 || c.clutch == 0) && touches(r->wheel[0]) && touches(r->wheel[1])) {
            c.front_brake = c.rear_brake = 1;
            pull_frame(r, {}, 1000);
        }
    }
}

void arcade_steering(RiderState *r)
{
    const BikeModel &m = model_of(r);
    const rider_setup_params &p = r->params;
    dBodyID frame = r->body[BODY_FRAME].get();
    dJointID steer_joint = r->joint[JOINT_STEERING].get();
    double delta = dJointGetHingeAngle(steer_joint);
    double s = r->controls.steer;
    v3 pos = body_pos(frame), u = body_vel(frame);
    bool high = !touches(r->wheel[0]) && pos.y + u.y - 16 - terrain_y(pos.x + u.x, pos.z + u.z) >= m.frame.y;
    if (high) {
        apply_steer_torque(r, (-50 * delta + s * p.steering_strength * p.direct_steering) * 1.5);
        return;
    }
    double phi = lean_angle(frame);
    double e = std::fabs(PI / 4 * s + phi);
    double q = std::clamp((p.roll_damping - 40) * 0.025, 0.0, 1.0);
    double rate = std::min(e, 1.0 / 16) * (1.5 - 0.5 * q) * 16;
    if (phi >= -PI / 4 * s)
        rate = -rate;
    dJointID j = dJointCreateAMotor(physics_world(), physics_contact_group());
    dJointAttach(j, frame, nullptr);
    dJointSetAMotorNumAxes(j, 1);
    // ODE takes the axis in world coordinates whatever body it is anchored
    // to: pass the frame's own z as it stands now, not (0, 0, 1)
    v3 roll_axis = body_axis(frame, 2);
    dJointSetAMotorAxis(j, 0, 1, roll_axis.x, roll_axis.y, roll_axis.z);
    dJointSetAMotorParam(j, dParamVel, rate);
    dJointSetAMotorParam(j, dParamFMax, 1000);

    double d = dead_zone(std::clamp(neutral_steer_angle(r) - 0.5 * s - delta, -0.25, 0.25), 1.0 / 32);
    double e2 = dead_zone(8 * d - dJointGetHingeAngleRate(steer_joint), 1.0 / 2400);
    double k = e2 < -4.0 / 3 ? -2.0 / 3 : e2 > 4.0 / 3 ? 2.0 / 3 : e2 / 2;
    apply_steer_torque(r, p.steering_strength * k);
    v3 tail = point_vel(frame, rel_point(frame, {0, 0, 20})) * -0.25;
    if (finite(tail))
        dBodyAddForceAtRelPos(frame, tail.x, tail.y, tail.z, 0, 0, 20);
}

void normal_steering(RiderState *r)
{
    const BikeModel &m = model_of(r);
    const rider_setup_params &p = r->params;
    rider_ride_state &st = r->ride;
    dBodyID frame = r->body[BODY_FRAME].get();
    dJointID steer_joint = r->joint[JOINT_STEERING].get();
    const WheelContact &fw = r->wheel[0];
    double delta = dJointGetHingeAngle(steer_joint);
    double phi = lean_angle(frame);
    double uf = (fw.ring_radius + fw.tube_radius) * dJointGetHingeAngleRate(r->joint[JOINT_FRONT_AXLE].get());
    double d0 = neutral_steer_angle(r);
    double s = r->controls.steer, ks = p.steering_strength, F = p.max_steering_force, dsteer = p.direct_steering;

    // the lock: full at low speed, restricted at high, in inverse speed
    double mu0 = 1;
    const Terrain *t = physics_current_terrain();
    if (t && fw.tile >= 0 && size_t(fw.tile) < t->tile_types.size())
        mu0 = t->tile_types[size_t(fw.tile)].friction[0].coefficient;
    double N = std::min(p.restricted_lock / std::max(mu0, 0.125), PI / 4);
    double fls = std::max(double(p.full_lock_speed), 1.0);
    double far = 1 / std::max(1 + fls, double(p.restricted_lock_speed));
    double b = std::clamp((1 / std::max(1.0, uf) - far) / (1 / fls - far), 0.0, 1.0);
    double lock = N + (PI / 4 - N) * b;

    double lo = -F, hi = F;
    v3 wc = body_pos(fw.body);
    double clearance = wc.y - terrain_y(wc.x, wc.z) - fw.ring_radius - fw.tube_radius;
    if (uf > 1 && clearance < 0.5) {
        double P = std::clamp(2 * clearance, 0.0, 1.0) * (PI / 4 - lock) + lock;
        double S = 1.125 * P + 0.015;
        if (d0 > P)
            lo = (0.25 - 1.25 * std::clamp((d0 - S) / (P - S), 0.0, 1.0)) * F;
        else if (d0 < -P)
            hi = (1.25 * std::clamp((d0 + S) / (S - P), 0.0, 1.0) - 0.25) * F;
    }

    double td = s * ks * dsteer;
    double cs;
    double front_spin = dJointGetHingeAngleRate(r->joint[JOINT_FRONT_AXLE].get());
    if (!touches(fw) || std::fabs(front_spin) < PI / 4) {
        double target = p.land_damping_factor;
        if (p.land_damping_rampup <= 0)
            st.landing_damping = float(target);
        else
            st.landing_damping =
                float(std::min(double(target), st.landing_damping + (target - 1) * H / p.land_damping_rampup));
        cs = -50 * delta;
    } else {
        double fl = st.landing_damping;
        if (p.land_damping_falloff <= 0)
            st.landing_damping = 1;
        else
            st.landing_damping = float(
                std::max(1.0, st.landing_damping - (p.land_damping_factor - 1) * H / p.land_damping_falloff));
        double omega = dot(to_v3(dBodyGetAngularVel(frame)), body_axis(frame, 2));
        double v = length(body_vel(frame));
        cs = p.roll_damping * fl * omega;
        double lev = p.leveling * phi;
        if (v < p.slow_damping_speed) {
            double mm = std::clamp(v / p.slow_damping_speed, 0.0, 1.0) * (1 - p.slow_damping_factor) +
                        p.slow_damping_factor;
            cs *= mm, lev *= mm;
        }
        if (phi * omega > 0 && std::fabs(phi) > p.roll_limit_angle)
            cs *= p.roll_limit_factor * (std::fabs(phi) - p.roll_limit_angle) + 1;
        cs += lev;
        if (dsteer < 1) {
            double rho = -(s * p.roll_limit_angle + phi) * 2.5;
            // towards upright may be quick, further over only gently
            double lim = rho * phi < 0 ? 9.817477 : 3.926991;
            rho = std::clamp(rho, -lim, lim);
            double e = dead_zone(omega - rho, 1.0 / 8);
            double tl = e < -0.25 ? -ks : e > 0.25 ? ks : 4 * ks * e;
            td = (td - tl) * dsteer + tl;
        }
    }
    if (r->bump_timer > 0) {
        double lim = 200 * std::clamp((64.0 - r->bump_timer) / 64, 0.0, 1.0);
        cs = std::clamp(cs, -lim, lim);
    }

    double ef = std::clamp((uf - 5) / 10, 0.0, 1.0);
    double x = 0.25 * ef * lock, y = (0.375 * ef + 0.125) * lock;
    if (y <= 0)
        y = 1e-6;
    if (phi < 0)
        st.lock_indicator = float(std::max(std::min((d0 - x) / y, 1.0), std::clamp(-(delta + PI / 12) * 12 / PI, 0.0, 1.0)));
    else
        st.lock_indicator = float(std::max(std::min(-(d0 + x) / y, 1.0), std::clamp((delta - PI / 12) * 12 / PI, 0.0, 1.0)));

    (void)m;
    apply_steer_torque(r, std::clamp((cs + td) * 1.5, std::min(lo, hi), std::max(lo, hi)));
}

void steering_damping(RiderState *r)
{
    dBodyID wheel = r->body[BODY_FRONT_WHEEL].get();
    v3 w = to_v3(dBodyGetAngularVel(wheel));
    v3 a = body_axis(wheel, 0);
    v3 t = (w - a * dot(w, a)) * -double(r->params.steering_damping);
    if (!finite(t))
        return;
    dBodyAddTorque(wheel, t.x, t.y, t.z);
    dBodyAddTorque(r->body[BODY_FRAME].get(), -t.x, -t.y, -t.z);
}

// Turning towards the realign target; false when the foot force is to be
// left out (the bike pivots on the spot).
bool realign(RiderState *r, double v, double phi)
{
    if (!g_realign || !r->params.auto_align || r->controls.back_up > 0.125)
        return true;
    if (!(v < SLOW_SPEED && std::fabs(phi) > PI / 8 && std::fabs(phi) < 7 * PI / 20))
        return true;
    double target[3];
    if (!g_realign(g_realign_ctx, r, target))
        return true;
    dBodyID frame = r->body[BODY_FRAME].get();
    v3 off = to_v3(target) - body_pos(frame);
    v3 back = body_axis(frame, 2);
    back.y = 0;
    back = unit_or(back, {0, 0, 1});
    v3 left{-back.z, 0, back.x};
    double e = dot(off, back), l = dot(off, left);
    double rate = r->bump_timer < 0 ? PI : PI / 2;
    // a positive yaw turns the nose to the left
    double turn = l > 0 ? rate : -rate;
    double fmax = 320 * r->total_mass;
    bool ahead = std::fabs(l) < -e / 4;
    if (ahead)
        fmax *= e != 0 ? std::fabs(4 * l / e) : 0.0;
    yaw_motor(r, turn, fmax);
    if (ahead)
        return true;
    for (const WheelContact &w : r->wheel)
        if (touches(w))
            dBodyAddForce(w.body, 0, r->total_mass * 32, 0);
    return false;
}

void sit_dab_balance(RiderState *r)
{
    const BikeModel &m = model_of(r);
    const rider_setup_params &p = r->params;
    rider_controls &c = r->controls;
    dBodyID frame = r->body[BODY_FRAME].get();
    v3 rp = body_pos(r->body[BODY_RIDER].get());
    if (!touches(r->wheel[0]) && rp.y - terrain_y(rp.x, rp.z) > 1 + m.rider.y)
        return;
    double v = length(body_vel(frame));
    double vmax = max_dab_speed(r);
    double phi = lean_angle(frame);
    if (v > vmax)
        return;
    if (v > DAB_SPEED && (!touches(r->wheel[0]) || !touches(r->wheel[1]) || std::fabs(phi) < 3 * PI / 16))
        return;
    r->ride.foot_down = std::min(1.0f, r->ride.foot_down + float(8 * H));
    double omega = dot(to_v3(dBodyGetAngularVel(frame)), body_axis(frame, 2));
    if (!realign(r, v, phi))
        return;

    double P = phi < 0 ? PI / 8 : -PI / 8;
    if (p.auto_dab && r->bump_timer < 0)
        P = phi < 0 ? 3 * PI / 8 : -3 * PI / 8;
    if (std::fabs(phi) < PI / 16)
        P *= 16 * std::fabs(phi) / PI;
    double e = P > 0 && omega < P ? -400 : P < 0 && omega > P ? 400 : 0;
    if (std::fabs(phi) < PI / 32)
        e *= 32 * std::fabs(phi) / PI;
    if (c.back_up < 0.125 || v > SLOW_SPEED) {
        double rl = p.roll_limit_angle;
        double x = v * v / (vmax * vmax), k;
        if (x >= 1)
            k = 2.5 * PI;
        else if (v > DAB_SPEED)
            k = (rl + (2 * PI - rl) * std::clamp((v * v - 225) / (vmax * vmax - 225), 0.0, 1.0)) * 1.25;
        else
            k = rl * 1.25 * (1 - std::pow(1 - x, 32));
        double d = std::fabs(phi) - k, g = std::clamp(4 * d, 0.0, 1.0);
        double sp = P < 0 ? c.steer : -c.steer;
        double q = std::clamp((sp - 0.5) * 2, 0.0, 1.0);
        e *= q * (1 - g) + g;
        if (v > SLOW_SPEED)
            e *= r->ride.lock_indicator;
    }
    if (e == 0)
        return;
    if (body_axis(frame, 1).y < 0.707) {
        dBodyAddForceAtRelPos(frame, 0, std::fabs(e), 0, 0, 4, 0);
    } else {
        dBodyAddForceAtRelPos(frame, 0, std::fabs(e) / 8, 0, 0, 4, 0);
        dBodyAddRelForceAtRelPos(frame, e, 0, 0, 0, 4, 0);
    }
}

} // namespace

void crash_limits(int32_t takeoff, int32_t landing, int32_t now, double *speed, double *accel)
{
    if (landing < takeoff) {
        *speed = 46.5, *accel = 2064;
        return;
    }
    // a hard landing after a long jump is forgiven less for a moment
    double T = (landing - takeoff) * H, L = (now - landing) * H;
    double a = std::clamp((T - 0.559) * 7.9365087, 0.0, 1.0), b = std::clamp((L - 0.25) * -8, 0.0, 1.0);
    double m = 1.5 - 0.5 * a * b;
    *speed = 31 * m, *accel = 1376 * m;
}

// ---------------------------------------------------------------- setters

void set_throttle(RiderState *r, float v)
{
    r->controls.throttle = r->crash_timer > 0 ? 0.0f : clamped(v, 0, 1);
}
void set_clutch(RiderState *r, float v)
{
    r->controls.clutch = clamped(v, 0, 1);
}
void set_front_brake(RiderState *r, float v)
{
    r->controls.front_brake = clamped(v, 0, 1);
}
void set_rear_brake(RiderState *r, float v)
{
    r->controls.rear_brake = clamped(v, 0, 1);
}
void set_steer(RiderState *r, float v)
{
    r->controls.steer = clamped(v, -1, 1);
}
void set_sit(RiderState *r, float v)
{
    r->controls.sit = r->crash_timer > 0 ? 0.0f : clamped(v, 0, 1);
}
void set_back_up(RiderState *r, float v)
{
    r->controls.back_up = r->crash_timer > 0 ? 0.0f : clamped(v, 0, 1);
}
void set_lean(RiderState *r, float v)
{
    r->controls.lean = r->crash_timer > 0 ? 0.0f : clamped(v, -1, 1);
}

rider_input_options setup_input_options()
{
    rider_input_options o;
    auto yes = [](const char *key) {
        const SetupItem *it = setup_item(key);
        return it && it->kind == setup_kind::choice && std::strcmp(choice_setting_name(&it->choice), "Yes") == 0;
    };
    o.reverse_steering = yes("reverse_steering");
    o.sticky_dab = yes("sticky_dab");
    return o;
}

void map_rider_inputs(RiderState *r, const float in[9], const rider_input_options &opt)
{
    if (!r || !r->built)
        return;
    rider_controls &c = r->controls;
    set_steer(r, opt.reverse_steering ? -in[0] : in[0]);
    set_front_brake(r, in[2]);
    set_rear_brake(r, in[3]);
    set_throttle(r, in[1]);
    float sit = in[6];
    if (opt.sticky_dab) {
        if (sit > 0.5f && !(c.sit_input_prev > 0.5f))
            c.sit_toggled = !c.sit_toggled;
        sit = c.sit_toggled ? 1.0f : 0.0f;
    }
    c.sit_input_prev = std::isfinite(in[6]) ? in[6] : 0.0f;
    set_sit(r, sit);
    set_back_up(r, in[7]);
    set_lean(r, in[8]);
    float target = clamped(1 - (std::isfinite(in[5]) ? in[5] : 0.0f) * 8.0f / 7.0f, 0, 1);
    c.clutch_target = target;
    set_clutch(r, target < c.clutch ? target : std::min(target, c.clutch + float(4 * H)));
    c.shift = in[4] > 0.5f ? 1 : in[4] < -0.5f ? -1 : 0;
    shift(r, c.shift);
}

// ---------------------------------------------------------------- geometry

double lean_angle(dxBody *b)
{
    v3 u = body_axis(b, 1);
    v3 f = -body_axis(b, 2);
    f.y = 0;
    double l2 = length2(f);
    if (!(l2 > 1e-12))
        return 0;  // pointing straight up or down: no lean to speak of
    f = f * (1 / std::sqrt(l2));
    return std::acos(std::clamp(f.x * u.z - f.z * u.x, -1.0, 1.0)) - PI / 2;
}

double heading_angle(dxBody *b)
{
    v3 back = body_axis(b, 2);
    return std::atan2(back.x, back.z);
}

double neutral_steer_angle(RiderState *r)
{
    const BikeModel &m = model_of(r);
    v3 s = unit_or(to_v3(m.upper_fork) - to_v3(m.lower_fork), {0, 1, 0});
    v3 vw = body_vel(r->body[BODY_FRONT_WHEEL].get());
    dVector3 vl;
    dBodyVectorFromWorld(r->body[BODY_UPPER_FORK].get(), vw.x, vw.y, vw.z, vl);
    double a = vl[2] * s.y, e = vl[1] * s.z, g = vl[0];
    if ((a - e) * (a - e) + g * g > 1)
        return -std::atan2(g, e - a);
    return 0;
}

void apply_steer_torque(RiderState *r, double tau)
{
    if (!std::isfinite(tau))
        return;
    const BikeModel &m = model_of(r);
    v3 axis = unit_or(to_v3(m.upper_fork) - to_v3(m.lower_fork), {0, 1, 0});
    dVector3 w;
    dBodyVectorToWorld(r->body[BODY_FRAME].get(), axis.x, axis.y, axis.z, w);
    v3 t = to_v3(w) * tau;
    dBodyAddTorque(r->body[BODY_FRONT_WHEEL].get(), t.x, t.y, t.z);
    dBodyAddTorque(r->body[BODY_FRAME].get(), -t.x, -t.y, -t.z);
}

void pull_frame(RiderState *r, v3 target, double limit)
{
    dBodyID frame = r->body[BODY_FRAME].get();
    v3 dv = body_vel(frame) - target;
    dv.y = 0;
    double l = length(dv);
    if (!(l >= 0.25))
        return;
    v3 f = dv * (-std::clamp((l - 0.25) * 0.8, 0.0, 1.0) * limit / l);
    dBodyAddForce(frame, f.x, 0, f.z);
}

void set_realign_target(realign_target_fn fn, void *ctx)
{
    g_realign = fn;
    g_realign_ctx = ctx;
}

// ---------------------------------------------------------------- the update

void rider_update(RiderState *r, int32_t tic)
{
    if (!r || !r->built)
        return;
    dBodyID frame = r->body[BODY_FRAME].get();
    if (!r->ride.in_trouble && tic - r->ride.race_start_tic > 256 && length2(body_vel(frame)) < 25)
        r->ride.in_trouble = true;
    if (r->presence <= 0.25f) {
        foot_placement(r);
        return;
    }
    const rider_controls held = r->controls;
    if (r->bump_timer < -1)
        r->bump_timer += 1;
    else if (r->bump_timer > 1)
        r->bump_timer -= 1;
    else
        r->bump_timer = 0;
    air_time(r, tic);
    if (!r->down && !r->params.arcade)
        detect_crash(r, tic);
    if (r->down)
        fallen_rider_step(r, tic);
    else
        feet_and_back_up(r, tic);
    // the springs see this tic's automatic dab and walking
    rider_mount_springs(r);
    suspension_forces(r);
    if (!r->down) {
        if (r->params.arcade)
            arcade_steering(r);
        else
            normal_steering(r);
    }
    drivetrain_update(r);
    auto_shift(r, tic);
    brakes_update(r);
    steering_damping(r);
    if (!r->down && tic >= 2)
        joint_drift_correction(r);
    if (!r->down && r->controls.sit > 0 && !r->params.arcade)
        sit_dab_balance(r);
    // the automatic dab, brakes and walking last one tic
    r->controls.sit = r->down ? 0.0f : clamped(held.sit, 0, 1);
    r->controls.front_brake = clamped(held.front_brake, 0, 1);
    r->controls.rear_brake = clamped(held.rear_brake, 0, 1);
    foot_placement(r);
    v3 v = body_vel(r->body[BODY_RIDER].get());
    r->ride.rider_vel[size_t(tic & 3)] = {float(v.x), float(v.y), float(v.z)};
}

physics_hooks standard_rider_hooks()
{
    physics_hooks h;
    h.crash = crash_hook;
    h.update = rider_update;
    return h;
}
