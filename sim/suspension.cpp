// suspension.cpp -- the forces computed after each step for the next one:
// fork and shock as force-limited joint motors, the soft springs that hold
// the rider on the bike, tethers, and the joint drift correction.
#include "sim/physics_local.h"

#include <algorithm>

namespace {

// High-speed coefficient k and low-speed value L at speed |v|: never below
// an eighth of the linear damping, never above eight times it.
double damping_magnitude(double speed, double k, double low)
{
    double s = speed * k;
    return std::max(s / 8, std::min(8 * s, s + low));
}

// Hermite segment from (0, y0) to (1, y1) with tangents m0, m1 already
// scaled by the segment's length.
void hermite(double t, double y0, double y1, double m0, double m1, double *y, double *dy)
{
    double t2 = t * t, t3 = t2 * t;
    *y = (2 * t3 - 3 * t2 + 1) * y0 + (t3 - 2 * t2 + t) * m0 + (-2 * t3 + 3 * t2) * y1 + (t3 - t2) * m1;
    *dy = (6 * t2 - 6 * t) * y0 + (3 * t2 - 4 * t + 1) * m0 + (-6 * t2 + 6 * t) * y1 + (3 * t2 - 2 * t) * m1;
}

void set_motor(dJointID j, bool slider, double force)
{
    double vel = force >= 0 ? 100.0 : 0.0;
    double fmax = std::fabs(force);
    if (!std::isfinite(fmax))
        vel = 0, fmax = 0;
    if (slider) {
        dJointSetSliderParam(j, dParamVel, vel);
        dJointSetSliderParam(j, dParamFMax, fmax);
    } else {
        dJointSetHingeParam(j, dParamVel, vel);
        dJointSetHingeParam(j, dParamFMax, fmax);
    }
}

// A soft spring contact from the rider body (pushed along n) to the frame.
void mount_spring(dBodyID rider, dBodyID frame, v3 pos, v3 n, double depth, double kp, double kd)
{
    add_contact(rider, frame, pos, n, depth, 0.0, soft_spring(kp, kd));
}

} // namespace

void linkage_curve(const float p[7], double x, double *y, double *dy)
{
    double b = std::clamp(double(p[3]), 0.0, 1.0);
    x = std::clamp(x, 0.0, 1.0);
    // A split at either end leaves one piece of zero length: use the other.
    bool first = (x <= b && b > 1e-9) || b >= 1 - 1e-9;
    double start = first ? 0 : b, len = first ? b : 1 - b;
    double y0 = first ? 0 : p[0], y1 = first ? p[0] : p[1];
    double m0 = first ? p[4] : p[5], m1 = first ? p[5] : p[6];
    double t = (x - start) / len;
    hermite(t, y0, y1, m0 * len, m1 * len, y, dy);
    *dy /= len;
}

double fork_force(const BikeModel &m, const rider_setup_params &p, double x, double v, double *damping)
{
    double c = -x;
    bool compressing = v < 0;
    double k = compressing ? m.fork_compression_base * p.fork_compression : m.fork_rebound_base * p.fork_rebound;
    double low = compressing ? m.fork_slow_compression_base * p.fork_slow_compression
                             : m.fork_slow_rebound_base * p.fork_slow_rebound;
    double d = damping_magnitude(std::fabs(v), k, low);
    if (!compressing)
        d = -d;
    *damping = d;
    double T = m.fork_travel;
    double f = (p.fork_preload + c) * p.fork_spring_rate + d;
    double g = p.fork_oil_level;
    double gap = g + T - std::min(c, T);
    if (gap > 1e-6 && g + T > 0)
        f += 82.46169 * (std::pow((g + T) / gap, 1.4) - 1);
    double ramp = T > 0 ? std::clamp(32 * c / T, 0.0, 1.0) : 0.0;
    return f * ramp;
}

void suspension_forces(RiderState *r)
{
    if (!r || !r->built)
        return;
    const BikeModel &m = bike_models()[size_t(r->model)];
    const rider_setup_params &p = r->params;
    suspension_readout &out = r->suspension;

    dJointID fork = r->joint[JOINT_FORK].get();
    double x = dJointGetSliderPosition(fork), v = dJointGetSliderPositionRate(fork);
    double fd = 0;
    double f = fork_force(m, p, x, v, &fd);
    set_motor(fork, true, f);
    out.fork_travel = m.fork_travel > 0 ? float(-x / m.fork_travel) : 0.0f;
    out.fork_velocity = float(v);
    out.fork_force = float(f);
    out.fork_ratio = float(32.0 / (std::fabs(fd) + 32.0));

    dJointID arm = r->joint[JOINT_SWING_ARM].get();
    double a = dJointGetHingeAngle(arm), w_rate = dJointGetHingeAngleRate(arm);
    double R = m.linkage[2];
    double xs = R > 0 ? std::clamp(-a / R, 0.0, 1.0) : 0.0;
    double y = 0, dy = 0;
    linkage_curve(m.linkage, xs, &y, &dy);
    double w = dy * w_rate;
    bool compressing = w < 0;
    double k = compressing ? m.shock_compression_base * p.shock_compression : m.shock_rebound_base * p.shock_rebound;
    double low = compressing ? m.shock_slow_compression_base * p.shock_slow_compression
                             : m.shock_slow_rebound_base * p.shock_slow_rebound;
    double sd = damping_magnitude(std::fabs(w), k, low);
    if (!compressing)
        sd = -sd;
    double ramp = R > 0 ? std::clamp(-32 * a / R, 0.0, 1.0) : 0.0;
    double tau = ramp * dy * ((p.shock_preload + y) * p.shock_spring_rate + sd);
    set_motor(arm, false, tau);
    out.shock_travel = float(xs);
    out.shock_velocity = float(w);
    out.shock_torque = float(tau);
    out.shock_ratio = float(32.0 / (std::fabs(sd) + 32.0));
}

void rider_mount_springs(RiderState *r)
{
    if (!r || !r->built)
        return;
    const BikeModel &m = bike_models()[size_t(r->model)];
    const rider_setup_params &p = r->params;
    dJointID mount = r->joint[JOINT_RIDER_MOUNT].get();
    double Q = m.rider_mass / 4.6875;
    double cfm_den = Q * (30.0 * p.rider_zdamping + 5.0);
    dJointSetHinge2Param(mount, dParamSuspensionERP, 0);
    dJointSetHinge2Param(mount, dParamSuspensionCFM, cfm_den > 0 ? 1.0 / cfm_den : 1.0);
    if (r->down)
        return;

    dBodyID frame = r->body[BODY_FRAME].get(), rider = r->body[BODY_RIDER].get();
    v3 off = to_v3(m.rider) - to_v3(m.frame);
    dVector3 tw;
    dBodyGetRelPointPos(frame, off.x, off.y, off.z, tw);
    v3 t = to_v3(tw), pos = body_pos(rider);
    v3 d = t - pos;
    if (length2(d) < 1.0 / 1024)
        return;
    v3 up = body_axis(frame, 1), back = body_axis(frame, 2);
    double e = dot(d, up), j = dot(d, back);
    double sit = r->controls.sit, lean = r->controls.lean;

    // fore and aft
    double n = std::clamp((1 + sit) * 0.5 * e - lean, -0.75, 0.75);
    double kp, kd;
    if (j >= -0.75 && j <= 0.75)
        kp = std::fabs(j - n) * 100 + 600 * p.rider_zspring, kd = 0;
    else
        kp = kd = 2500;
    if (kp * Q > 0) {
        if (j < n)
            mount_spring(rider, frame, pos, -back, n - j, kp * Q, kd * Q);
        else
            mount_spring(rider, frame, pos, back, j - n, kp * Q, kd * Q);
    }

    // vertical
    double u = e + 0.125 - 0.5 * sit;
    if (e >= -0.75 && e <= 0.5)
        kp = 400 * p.rider_yspring, kd = 100 * p.rider_ydamping;
    else
        kp = kd = 2500;
    if (kp * Q + kd * Q > 0) {
        if (u < 0)
            mount_spring(rider, frame, pos, -up, -u, kp * Q, kd * Q);
        else
            mount_spring(rider, frame, pos, up, u, kp * Q, kd * Q);
    }
}

void tether(dxBody *a, const double pa[3], dxBody *b, const double pb[3], double len)
{
    if (!a && !b)
        return;
    dVector3 wa, wb;
    if (a)
        dBodyGetRelPointPos(a, pa[0], pa[1], pa[2], wa);
    else
        wa[0] = pa[0], wa[1] = pa[1], wa[2] = pa[2];
    if (b)
        dBodyGetRelPointPos(b, pb[0], pb[1], pb[2], wb);
    else
        wb[0] = pb[0], wb[1] = pb[1], wb[2] = pb[2];
    v3 sep = to_v3(wb) - to_v3(wa);
    double dist = length(sep);
    if (!(dist > len))
        return;
    // the separation as it stands, not normalised: the pull grows with it
    if (a)
        add_contact(a, b, to_v3(wa), sep, dist - len, 0.0, soft_spring(5000, 500));
    else
        add_contact(b, nullptr, to_v3(wa), -sep, dist - len, 0.0, soft_spring(5000, 500));
}

void joint_drift_correction(RiderState *r)
{
    if (!r || !r->built)
        return;
    v3 F, T;
    v3 c = body_pos(r->body[BODY_FRAME].get());
    for (int k = 0; k < JOINT_COUNT; ++k) {
        dJointID j = r->joint[size_t(k)].get();
        dBodyID b1 = dJointGetBody(j, 0), b2 = dJointGetBody(j, 1);
        if (!b1 || !b2)
            return;
        const joint_feedback &fb = r->feedback[size_t(k)];
        v3 f1 = to_v3(fb.f1), f2 = to_v3(fb.f2);
        F = F + f1 + f2;
        T = T + to_v3(fb.t1) + to_v3(fb.t2) + cross(body_pos(b1) - c, f1) + cross(body_pos(b2) - c, f2);
    }
    if (!finite(F) || !finite(T))
        return;
    dBodyID frame = r->body[BODY_FRAME].get();
    dBodyAddForce(frame, -F.x, -F.y, -F.z);
    dBodyAddTorque(frame, -T.x, -T.y, -T.z);
}
