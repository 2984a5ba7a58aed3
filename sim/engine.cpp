// engine.cpp -- the engine as one rotating inertia, its torsional coupling
// to the rear wheel through clutch, gearbox and chain, gear changes by hand
// and automatic, and the brakes as axle motors.
#include "sim/physics_local.h"

#include <algorithm>
#include <numbers>

namespace {

constexpr double PI = std::numbers::pi;

const BikeModel &model_of(const RiderState *r)
{
    return bike_models()[size_t(r->model)];
}

double wrap_angle(double a)
{
    if (!std::isfinite(a))
        return 0;
    while (a > PI)
        a -= 2 * PI;
    while (a < -PI)
        a += 2 * PI;
    return a;
}

// gear + step, skipping gears the model lacks downwards: at most three
// tries, then second gear if it exists, else first.
int next_gear(const BikeModel &m, int gear, int step)
{
    int g = gear + step;
    if (g <= 0)
        return 0;
    g = std::min(g, 5);
    for (int k = 0; k < 3; ++k) {
        if (m.gear_ratios[g] > 0)
            return g;
        --g;
        if (g <= 0)
            return 0;
    }
    if (m.gear_ratios[g] > 0)
        return g;
    return m.gear_ratios[1] > 0 ? 1 : 0;
}

// The axle hinge's speed of a slide at the contact point is above 2 ft/s.
bool sliding(const WheelContact &w)
{
    return touches(w) && length2(to_v3(w.velocity)) > 4;
}

void set_brake(dJointID j, double torque)
{
    dJointSetHingeParam(j, dParamVel, 0);
    dJointSetHingeParam(j, dParamFMax, std::isfinite(torque) ? std::max(torque, 0.0) : 0.0);
}

} // namespace

double engine_rpm(const RiderState *r)
{
    return r->engine_speed * RPM_PER_RAD_S;
}

double total_ratio(const RiderState *r)
{
    const BikeModel &m = model_of(r);
    int g = std::clamp(r->gear, 0, 5);
    double G = double(m.primary_reduction) * m.gear_ratios[g] * r->params.final_drive;
    return G > 0 && std::isfinite(G) ? G : 0.0;
}

double engine_torque(RiderState *r)
{
    const BikeModel &m = model_of(r);
    double x = std::clamp(engine_rpm(r) * 0.002, 0.0, double(TORQUE_POINTS - 1));
    if (!std::isfinite(x))
        x = 0;
    int i = int(std::floor(x));
    int j = std::min(i + 1, TORQUE_POINTS - 1);
    double f = x - i;
    double closed = m.closed_torque[i] + (m.closed_torque[j] - m.closed_torque[i]) * f;
    double open = m.open_torque[i] + (m.open_torque[j] - m.open_torque[i]) * f;
    double t = closed + (open - closed) * r->controls.throttle;
    if (r->params.wheelie_limiter && !touches(r->wheel[0]) && touches(r->wheel[1])) {
        // the nose is not already coming down
        dBodyID frame = r->body[BODY_FRAME].get();
        if (dot(to_v3(dBodyGetAngularVel(frame)), body_axis(frame, 0)) > -1.0 / 32)
            t = std::min(t, 0.0);
    }
    return t;
}

void drivetrain_update(RiderState *r)
{
    const BikeModel &m = model_of(r);
    const rider_setup_params &p = r->params;
    dJointID axle = r->joint[JOINT_REAR_AXLE].get();
    double wheel_angle = dJointGetHingeAngle(axle);
    double wheel_rate = dJointGetHingeAngleRate(axle);
    double G = total_ratio(r);
    double c = r->controls.clutch;
    double te = engine_torque(r);
    r->ride.engine_torque = float(te);
    double inertia = m.engine_inertia > 0 ? m.engine_inertia : 1e-3;

    if (G <= 0) {
        // no gear to drive through: the engine spins free, the drive follows
        r->ride.clutch_used = 0;
        r->engine_speed += te / inertia * PHYSICS_TIC;
        r->drive_angle = wrap_angle(wheel_angle);
        return;
    }

    double phi = wrap_angle(r->drive_angle - wheel_angle);
    double rpm = engine_rpm(r);
    double c_eff = c;
    if (rpm <= p.auto_clutch_rpm + 2000)
        c_eff = std::min(c, std::clamp((rpm - p.auto_clutch_rpm) * 0.0005, 0.0, 1.0));
    double s = r->engine_speed - wheel_rate * G;
    double T = std::clamp(m.coupling_damping * s, -500.0, 500.0) + m.coupling_stiffness * phi;
    if (T < 0)
        c_eff = c;  // the automatic clutch never opens against engine braking
    double w = PI / 4 * c_eff;
    if (phi > w)
        r->drive_angle = wheel_angle + w;
    else if (phi < -w)
        r->drive_angle = wheel_angle - w;
    T = std::clamp(T, -1e6, 1e6) * c_eff * c_eff;
    if (!std::isfinite(T))
        T = 0;
    r->ride.clutch_used = float(c_eff);
    dBodyAddRelTorque(r->body[BODY_REAR_WHEEL].get(), -T, 0, 0);
    dBodyAddRelTorque(r->body[BODY_FRAME].get(), T, 0, 0);

    double alpha = (-T / G + te) / inertia;
    r->engine_speed += alpha * PHYSICS_TIC;
    if (!std::isfinite(r->engine_speed))
        r->engine_speed = 0;
    r->drive_angle = wrap_angle(r->drive_angle + r->engine_speed * PHYSICS_TIC / G);
}

void shift(RiderState *r, int input)
{
    if (!r || !r->built || r->crash_timer > 0 || input == r->ride.last_shift || input < -1 || input > 1)
        return;
    r->ride.last_shift = input;
    r->gear = next_gear(model_of(r), r->gear, input);
}

void auto_shift(RiderState *r, int32_t tic)
{
    if (!r->params.auto_shift || (tic & 31) != 0)
        return;
    if (!(-dJointGetHingeAngle(r->joint[JOINT_SWING_ARM].get()) > 0.01))
        return;
    const WheelContact &rear = r->wheel[1];
    if (touches(rear) && length2(to_v3(rear.velocity)) > 4)
        return;
    const BikeModel &m = model_of(r);
    double rate = dJointGetHingeAngleRate(r->joint[JOINT_REAR_AXLE].get());
    double rpm = double(m.primary_reduction) * m.gear_ratios[std::clamp(r->gear, 0, 5)] * r->params.final_drive *
                 RPM_PER_RAD_S * rate;
    if (rpm > m.up_shift_rpm)
        r->gear = next_gear(m, r->gear, 1);
    else if (rpm < m.down_shift_rpm)
        r->gear = r->gear <= 1 ? 0 : next_gear(m, r->gear, -1);
}

void brakes_update(RiderState *r)
{
    const rider_setup_params &p = r->params;
    const WheelContact &front = r->wheel[0], &rear = r->wheel[1];
    double bf = double(r->controls.front_brake) * p.front_brake_torque;
    double b = bf;
    if (p.front_antilock) {
        if (touches(front) && sliding(front))
            b = 0;
        if (p.stoppie_limiter && !touches(rear))
            b = 0;
    } else if (p.stoppie_limiter && touches(front) && !touches(rear)) {
        b = 0;
    }
    set_brake(r->joint[JOINT_FRONT_AXLE].get(), b);
    b = p.rear_antilock && sliding(rear) ? 0.0 : double(r->controls.rear_brake) * p.rear_brake_torque;
    set_brake(r->joint[JOINT_REAR_AXLE].get(), b);
}
