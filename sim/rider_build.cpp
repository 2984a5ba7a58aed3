// rider_build.cpp -- the seven bodies and six joints of a bike and rider:
// build, reset, placement, destruction, presence.
#include "sim/physics_local.h"

#include <algorithm>
#include <numbers>

namespace {

// Indices into BikeModel::files of each body's shape ("" for none).
constexpr int k_shape_file[BODY_COUNT] = {1, 11, 12, 4, 6, 8, 18};

v3 rest_position(const BikeModel &m, int body)
{
    switch (body) {
    case BODY_FRAME: return to_v3(m.frame);
    case BODY_FRONT_WHEEL: return to_v3(m.front_wheel);
    case BODY_REAR_WHEEL: return to_v3(m.rear_wheel);
    case BODY_UPPER_FORK: return to_v3(m.upper_fork);
    case BODY_LOWER_FORK: return to_v3(m.lower_fork);
    case BODY_SWING_ARM: return to_v3(m.swing_arm);
    default: return to_v3(m.rider);
    }
}

// atan(num / den) that stays defined when den is 0 (parts drawn at the same
// height or depth).
double safe_atan_ratio(double num, double den)
{
    if (den == 0)
        return num == 0 ? 0 : std::copysign(std::numbers::pi / 2, num);
    return std::atan(num / den);
}

void rotate_mass_x(dMass *m, double angle)
{
    dMatrix3 R;
    dRFromAxisAndAngle(R, 1, 0, 0, angle);
    dMassRotate(m, R);
}

// A symmetric sum can leave round-off in the centre; ODE wants it at the
// body's origin.
void centre_mass(dMass *m)
{
    dMassTranslate(m, -m->c[0], -m->c[1], -m->c[2]);
}

dMass wheel_mass(float ring_radius, float tube_radius, float ring_mass, float hub_radius, float hub_mass)
{
    dMass total, ring;
    dMassSetSphereTotal(&total, hub_mass, hub_radius);
    dMassSetZero(&ring);
    for (int k = 0; k < 16; ++k) {
        dMass s;
        dMassSetSphereTotal(&s, ring_mass / 16.0, tube_radius);
        dMassTranslate(&s, 0, ring_radius, 0);
        dMassAdd(&ring, &s);
        rotate_mass_x(&ring, std::numbers::pi / 8);
    }
    dMassAdd(&total, &ring);
    centre_mass(&total);
    return total;
}

dMass fork_mass(const BikeModel &m)
{
    dMass total;
    dMassSetZero(&total);
    for (double side : {0.5, -0.5}) {
        dMass c;
        dMassSetCylinderTotal(&c, m.fork_mass / 2.0, 2, m.fork_tube_spacing / 8.0, m.fork_tube_length * 2.0 / 3.0);
        dMassTranslate(&c, side * m.fork_tube_spacing, 0, 0);
        dMassAdd(&total, &c);
    }
    rotate_mass_x(&total, safe_atan_ratio(double(m.lower_fork.z) - m.upper_fork.z,
                                          double(m.lower_fork.y) - m.upper_fork.y));
    centre_mass(&total);
    return total;
}

dMass swing_arm_mass(const BikeModel &m)
{
    double w = m.frame_box[0];
    double l = length(to_v3(m.rear_wheel) - to_v3(m.swing_arm_pivot));
    dMass total;
    dMassSetZero(&total);
    for (double side : {0.5, -0.5}) {
        dMass b;
        dMassSetBoxTotal(&b, m.swing_arm_mass, w / 4, w / 4, std::max(l, 1e-3));
        dMassTranslate(&b, side * w, 0, 0);
        dMassAdd(&total, &b);
    }
    rotate_mass_x(&total, -safe_atan_ratio(double(m.rear_wheel.y) - m.swing_arm_pivot.y,
                                           double(m.rear_wheel.z) - m.swing_arm_pivot.z));
    centre_mass(&total);
    return total;
}

void set_frame_and_rider_mass(RiderState *r, double frame_total, double rider_total)
{
    const BikeModel &m = bike_models()[size_t(r->model)];
    dMass f, s;
    dMassSetBoxTotal(&f, frame_total, m.frame_box[0], m.frame_box[1], m.frame_box[2]);
    dBodySetMass(r->body[BODY_FRAME].get(), &f);
    dMassSetSphereTotal(&s, rider_total, 1.0);
    dBodySetMass(r->body[BODY_RIDER].get(), &s);
    r->total_mass = 0;
    for (const ode_body &b : r->body) {
        dMass q;
        dBodyGetMass(b.get(), &q);
        r->total_mass += q.mass;
    }
}

dJointID make_hinge(dBodyID a, dBodyID b, v3 anchor, v3 axis)
{
    dJointID j = dJointCreateHinge(physics_world(), nullptr);
    dJointAttach(j, a, b);
    dJointSetHingeAnchor(j, anchor.x, anchor.y, anchor.z);
    dJointSetHingeAxis(j, axis.x, axis.y, axis.z);
    return j;
}

} // namespace

// The rider mount's anchor and axes, in the frame's coordinates, moved into
// the world wherever the frame now stands.
void attach_mount(RiderState *r)
{
    const BikeModel &m = bike_models()[size_t(r->model)];
    dBodyID frame = r->body[BODY_FRAME].get();
    dJointID j = r->joint[JOINT_RIDER_MOUNT].get();
    dJointAttach(j, r->body[BODY_RIDER].get(), frame);
    v3 rel = v3{0, m.rider.y, -50} - to_v3(m.frame);
    dVector3 anchor, a1, a2;
    dBodyGetRelPointPos(frame, rel.x, rel.y, rel.z, anchor);
    dBodyVectorToWorld(frame, 0, 1, 1, a1);
    dBodyVectorToWorld(frame, 1, 0, 0, a2);
    dJointSetHinge2Anchor(j, anchor[0], anchor[1], anchor[2]);
    dJointSetHinge2Axes(j, a1, a2);
    dJointSetHinge2Param(j, dParamLoStop, 0);
    dJointSetHinge2Param(j, dParamHiStop, 0);
}

namespace {

void init_wheel(WheelContact *w, dBodyID body, float ring, float tube)
{
    *w = WheelContact{};
    w->body = body;
    w->ring_radius = ring;
    w->tube_radius = tube;
}

} // namespace

bool build_rider(int slot, int model_index)
{
    RiderState *r = rider_slot(slot);
    if (!r || !physics_world() || model_index < 0 || size_t(model_index) >= bike_models().size())
        return false;
    destroy_rider(r);
    const BikeModel &m = bike_models()[size_t(model_index)];
    r->slot = slot;
    r->model = model_index;
    r->params = rider_build_params(m);

    for (int k = 0; k < BODY_COUNT; ++k) {
        r->body[size_t(k)].reset(dBodyCreate(physics_world()));
        v3 p = rest_position(m, k);
        dBodySetPosition(r->body[size_t(k)].get(), p.x, p.y, p.z);
    }
    auto B = [r](int k) { return r->body[size_t(k)].get(); };

    dMass mass = wheel_mass(m.front_ring_radius, m.front_tube_radius, m.front_ring_mass, m.front_hub_radius,
                            m.front_hub_mass);
    dBodySetMass(B(BODY_FRONT_WHEEL), &mass);
    mass = wheel_mass(m.rear_ring_radius, m.rear_tube_radius, m.rear_ring_mass, m.rear_hub_radius, m.rear_hub_mass);
    dBodySetMass(B(BODY_REAR_WHEEL), &mass);
    dBodySetFiniteRotationMode(B(BODY_FRONT_WHEEL), 1);
    dBodySetFiniteRotationMode(B(BODY_REAR_WHEEL), 1);
    mass = fork_mass(m);
    dBodySetMass(B(BODY_UPPER_FORK), &mass);
    dBodySetMass(B(BODY_LOWER_FORK), &mass);
    mass = swing_arm_mass(m);
    dBodySetMass(B(BODY_SWING_ARM), &mass);
    set_frame_and_rider_mass(r, m.frame_mass + m.rider_mass * 2.0 / 3.0, m.rider_mass / 3.0);

    v3 fork_axis = to_v3(m.upper_fork) - to_v3(m.lower_fork);
    r->joint[JOINT_FRONT_AXLE].reset(
        make_hinge(B(BODY_LOWER_FORK), B(BODY_FRONT_WHEEL), to_v3(m.front_wheel), {1, 0, 0}));
    r->joint[JOINT_REAR_AXLE].reset(
        make_hinge(B(BODY_SWING_ARM), B(BODY_REAR_WHEEL), to_v3(m.rear_wheel), {1, 0, 0}));
    dJointID steer = make_hinge(B(BODY_UPPER_FORK), B(BODY_FRAME), to_v3(m.upper_fork), fork_axis);
    dJointSetHingeParam(steer, dParamLoStop, -std::numbers::pi / 4);
    dJointSetHingeParam(steer, dParamHiStop, std::numbers::pi / 4);
    r->joint[JOINT_STEERING].reset(steer);

    dJointID fork = dJointCreateSlider(physics_world(), nullptr);
    dJointAttach(fork, B(BODY_UPPER_FORK), B(BODY_LOWER_FORK));
    dJointSetSliderAxis(fork, fork_axis.x, fork_axis.y, fork_axis.z);
    dJointSetSliderParam(fork, dParamBounce, 0);
    dJointSetSliderParam(fork, dParamLoStop, -m.fork_travel);
    dJointSetSliderParam(fork, dParamHiStop, 0);
    r->joint[JOINT_FORK].reset(fork);

    dJointID arm = make_hinge(B(BODY_SWING_ARM), B(BODY_FRAME), to_v3(m.swing_arm_pivot), {1, 0, 0});
    dJointSetHingeParam(arm, dParamBounce, 0);
    dJointSetHingeParam(arm, dParamLoStop, -m.linkage[2]);
    dJointSetHingeParam(arm, dParamHiStop, 0);
    r->joint[JOINT_SWING_ARM].reset(arm);

    r->joint[JOINT_RIDER_MOUNT].reset(dJointCreateHinge2(physics_world(), nullptr));
    attach_mount(r);

    for (int k = 0; k < JOINT_COUNT; ++k)
        dJointSetFeedback(r->joint[size_t(k)].get(), reinterpret_cast<dJointFeedback *>(&r->feedback[size_t(k)]));

    init_wheel(&r->wheel[0], B(BODY_FRONT_WHEEL), m.front_ring_radius, m.front_tube_radius);
    init_wheel(&r->wheel[1], B(BODY_REAR_WHEEL), m.rear_ring_radius, m.rear_tube_radius);
    for (int k = 0; k < BODY_COUNT; ++k)
        r->shape[size_t(k)] = InstanceShape(LoadShape(m.files[k_shape_file[k]]));

    r->built = true;
    reset_rider(r);
    return true;
}

void apply_rider_params(RiderState *r, const rider_setup_params &p)
{
    if (!r || !r->built)
        return;
    r->params = p;
    set_frame_and_rider_mass(r, p.frame_body_mass, p.rider_body_mass);
}

void reset_rider(RiderState *r)
{
    if (!r || !r->built)
        return;
    const BikeModel &m = bike_models()[size_t(r->model)];
    dMatrix3 I;
    dRSetIdentity(I);
    for (int k = 0; k < BODY_COUNT; ++k) {
        dBodyID b = r->body[size_t(k)].get();
        v3 p = rest_position(m, k);
        dBodySetPosition(b, p.x, p.y, p.z);
        dBodySetRotation(b, I);
        dBodySetLinearVel(b, 0, 0, 0);
        dBodySetAngularVel(b, 0, 0, 0);
        dBodySetForce(b, 0, 0, 0);
        dBodySetTorque(b, 0, 0, 0);
    }
    r->controls = rider_controls{};
    r->gear = 0;
    r->engine_speed = 0;
    r->drive_angle = 0;
    r->crash_timer = 0;
    r->bump_timer = 0;
    r->down = false;
    r->trouble = false;
    r->last_collision_tic = INT32_MIN;
    r->probe_tic = INT32_MIN;
    r->suspension = suspension_readout{};
    reset_ride_state(r);
    for (WheelContact &w : r->wheel)
        w.depth = 0;
    attach_mount(r);
    set_presence(r, 1);
}

void place_rider(RiderState *r, double x, double y, double z, double heading)
{
    if (!r || !r->built)
        return;
    reset_rider(r);
    dMatrix3 R;
    dRFromAxisAndAngle(R, 0, 1, 0, std::isfinite(heading) ? heading : 0.0);
    for (ode_body &b : r->body) {
        v3 p = body_pos(b.get());
        v3 q{R[0] * p.x + R[1] * p.y + R[2] * p.z + x, R[4] * p.x + R[5] * p.y + R[6] * p.z + y,
             R[8] * p.x + R[9] * p.y + R[10] * p.z + z};
        dBodySetPosition(b.get(), q.x, q.y, q.z);
        dBodySetRotation(b.get(), R);
    }
}

void destroy_rider(RiderState *r)
{
    if (!r)
        return;
    for (ode_joint &j : r->joint)
        j.reset();
    for (ode_body &b : r->body)
        b.reset();
    *r = RiderState{};
}

void set_presence(RiderState *r, float value)
{
    if (!r || !r->built)
        return;
    r->presence = value >= 0 ? std::min(value, 1.0f) : 0.0f;  // NaN counts as absent
    for (ode_body &b : r->body) {
        if (r->presence <= 0.25f) {
            dBodySetForce(b.get(), 0, 0, 0);
            dBodySetTorque(b.get(), 0, 0, 0);
            dBodyDisable(b.get());
        } else {
            dBodyEnable(b.get());
        }
    }
}

bool rider_touches_terrain(RiderState *r, const Terrain *t)
{
    if (!r || !r->built)
        return false;
    for (WheelContact &w : r->wheel) {
        WheelContact probe = w;
        if (wheel_probe(t, &probe))
            return true;
    }
    for (int k = 0; k < BODY_COUNT; ++k) {
        if (k == BODY_FRONT_WHEEL || k == BODY_REAR_WHEEL)
            continue;
        ShapeInstance &s = r->shape[size_t(k)];
        if (!s.shape)
            continue;
        dBodyID b = r->body[size_t(k)].get();
        place_shape(&s, dBodyGetPosition(b), dBodyGetRotation(b));
        for (size_t i = 0; i < s.world.size(); ++i)
            if (sphere_terrain(t, to_v3(s.world[i].data()), s.shape->spheres[i].radius).depth > 0)
                return true;
    }
    return false;
}

void set_body_pose(dxBody *b, const double pos[3], const double quat[4])
{
    if (!b)
        return;
    if (std::isfinite(pos[0]) && std::isfinite(pos[1]) && std::isfinite(pos[2]))
        dBodySetPosition(b, pos[0], pos[1], pos[2]);
    double l2 = quat[0] * quat[0] + quat[1] * quat[1] + quat[2] * quat[2] + quat[3] * quat[3];
    if (!(l2 > 1e-12) || !std::isfinite(l2))
        return;
    double s = 1.0 / std::sqrt(l2);
    dQuaternion q = {quat[0] * s, quat[1] * s, quat[2] * s, quat[3] * s};
    dBodySetQuaternion(b, q);
}

body_state read_body_state(dxBody *b)
{
    body_state s;
    if (!b)
        return s;
    const double *p = dBodyGetPosition(b);
    const double *v = dBodyGetLinearVel(b);
    const double *w = dBodyGetAngularVel(b);
    const double *m = dBodyGetRotation(b);
    const double *q = dBodyGetQuaternion(b);
    s.position = {p[0], p[1], p[2]};
    s.velocity = {v[0], v[1], v[2]};
    s.angular_velocity = {w[0], w[1], w[2]};
    std::copy(m, m + 12, s.rotation.begin());
    s.quaternion = {q[0], q[1], q[2], q[3]};
    return s;
}

std::array<double, 3> body_point_velocity(dxBody *b, const std::array<double, 3> &p)
{
    dVector3 v;
    dBodyGetPointVel(b, p[0], p[1], p[2], v);
    return {v[0], v[1], v[2]};
}

std::array<double, 3> body_vector_to_world(dxBody *b, const std::array<double, 3> &d)
{
    dVector3 v;
    dBodyVectorToWorld(b, d[0], d[1], d[2], v);
    return {v[0], v[1], v[2]};
}

std::array<float, 3> body_position(const RiderState *r, int body)
{
    if (!r || !r->built || body < 0 || body >= BODY_COUNT || !r->body[size_t(body)])
        return {};
    const double *p = dBodyGetPosition(r->body[size_t(body)].get());
    return {float(p[0]), float(p[1]), float(p[2])};
}

std::array<float, 3> body_velocity(const RiderState *r, int body)
{
    if (!r || !r->built || body < 0 || body >= BODY_COUNT || !r->body[size_t(body)])
        return {};
    const double *p = dBodyGetLinearVel(r->body[size_t(body)].get());
    return {float(p[0]), float(p[1]), float(p[2])};
}

const WheelContact *rider_wheel(RiderState *r, int wheel, const Terrain *t, int32_t tic)
{
    if (!r || !r->built || wheel < 0 || wheel > 1)
        return nullptr;
    if (!r->simulated && r->probe_tic != tic) {
        r->probe_tic = tic;
        for (WheelContact &w : r->wheel)
            (void)wheel_probe(t, &w);
    }
    return &r->wheel[size_t(wheel)];
}
