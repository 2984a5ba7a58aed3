// physics_local.h -- private to sim/'s physics files: the ODE headers, small
// vector helpers and the contact builders shared by the body, tyre and
// collision code.
#pragma once

#include "sim/sim_local.h"
#include "track/track.h"

#include <ode/ode.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

static_assert(sizeof(dReal) == sizeof(double), "ODE must be built with double precision");
static_assert(sizeof(joint_feedback) == sizeof(dJointFeedback));

// soft ERP + soft CFM + friction pyramid on both directions
constexpr int CONTACT_MODE = dContactSoftERP | dContactSoftCFM | dContactApprox1_1 | dContactApprox1_2;
static_assert(CONTACT_MODE == 12312);

struct v3 {
    double x = 0, y = 0, z = 0;
};
inline v3 operator+(v3 a, v3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline v3 operator-(v3 a, v3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline v3 operator-(v3 a) { return {-a.x, -a.y, -a.z}; }
inline v3 operator*(v3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline v3 operator*(double s, v3 a) { return a * s; }
inline double dot(v3 a, v3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline v3 cross(v3 a, v3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
inline double length2(v3 a) { return dot(a, a); }
inline double length(v3 a) { return std::sqrt(dot(a, a)); }
inline v3 to_v3(const dReal *p) { return {p[0], p[1], p[2]}; }
inline v3 to_v3(const float *p) { return {p[0], p[1], p[2]}; }
inline v3 to_v3(vec3f p) { return {p.x, p.y, p.z}; }
inline void store(double out[3], v3 a) { out[0] = a.x, out[1] = a.y, out[2] = a.z; }
// a/|a|, or `fallback` when |a|^2 is below `min2` (a zero or tiny vector has
// no direction to keep).
inline v3 unit_or(v3 a, v3 fallback, double min2 = 1e-24)
{
    double l2 = length2(a);
    if (!(l2 >= min2) || !std::isfinite(l2))
        return fallback;
    return a * (1.0 / std::sqrt(l2));
}
inline bool finite(v3 a) { return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z); }

inline v3 body_pos(dBodyID b) { return to_v3(dBodyGetPosition(b)); }
inline v3 body_vel(dBodyID b) { return to_v3(dBodyGetLinearVel(b)); }
inline v3 body_axis(dBodyID b, int k)  // body axis k in world coordinates
{
    const dReal *r = dBodyGetRotation(b);
    return {r[k], r[4 + k], r[8 + k]};
}
inline v3 point_vel(dBodyID b, v3 p)
{
    dVector3 v;
    dBodyGetPointVel(b, p.x, p.y, p.z, v);
    return to_v3(v);
}

// Soft ERP and CFM of a spring kp and damper kd over one tic.
struct soft_params {
    double erp, cfm;
};
inline soft_params soft_spring(double kp, double kd)
{
    double cfm = 1.0 / (kd + kp * PHYSICS_TIC);
    return {kp * PHYSICS_TIC * cfm, cfm};
}

// One contact joint in the tic's group, pushing `b1` along `normal`
// (b2 may be null: the static world). Returns the joint.
dJointID add_contact(dBodyID b1, dBodyID b2, v3 pos, v3 normal, double depth, double mu, soft_params sp,
                     const v3 *fdir1 = nullptr);

// The terrain triangles of the cells that a box of half-size `reach` around
// (x, z) covers, inside the grid or beyond it, where the border heights
// continue. Calls fn(p0, p1, p2, n) with n the unit upward normal. Nothing
// for a non-finite or absurdly distant point.
template <typename Fn> void for_each_triangle(const Terrain *t, double x, double z, double reach, Fn &&fn);

// Sphere against the terrain: deepest contact under the sphere.
struct sphere_hit {
    double depth = 0;  // > 0 when touching
    v3 point, normal;
};
sphere_hit sphere_terrain(const Terrain *t, v3 centre, double radius);

// The wheel torus against one sphere (centre, radius): depth > 0 when
// touching; normal from the sphere towards the tyre.
sphere_hit torus_sphere(const WheelContact &w, v3 centre, double radius);

// Applies sphere-pair contact parameters in `mode` (0 joint, 1 force, -1
// test only) for a touching pair: normal from the first to the second,
// `depth` > 0. `mu`, `stiffness`, `damping` already combined.
void sphere_contact(dBodyID first, dBodyID second, v3 pos, v3 normal, double depth, double mu, double stiffness,
                    double damping, int mode);

// -------------------------------------------------------------- grid walking

// Cells farther than this from the origin are never visited: the indices
// stay exact in a double and the loops stay bounded for a runaway body.
constexpr double FAR_CELL = 1099511627776.0;  // 2^40

template <typename Fn> void for_each_triangle(const Terrain *t, double x, double z, double reach, Fn &&fn)
{
    if (!t || t->dim < 2 || t->heights.size() < size_t(t->dim) * size_t(t->dim))
        return;
    if (!std::isfinite(x) || !std::isfinite(z) || !(reach >= 0) || !std::isfinite(reach))
        return;
    double inv = 1.0 / double(t->spacing);
    double lo_i = std::floor((x - reach) * inv), hi_i = std::floor((x + reach) * inv);
    double lo_j = std::floor((z - reach) * inv), hi_j = std::floor((z + reach) * inv);
    if (!(lo_i >= -FAR_CELL && hi_i <= FAR_CELL && lo_j >= -FAR_CELL && hi_j <= FAR_CELL))
        return;
    // never more cells per side than the grid has, however large the reach
    auto i0 = int64_t(lo_i), i1 = std::min(int64_t(hi_i), i0 + t->dim);
    auto j0 = int64_t(lo_j), j1 = std::min(int64_t(hi_j), j0 + t->dim);
    double s = t->spacing;
    int64_t last = t->dim - 1;
    auto corner = [&](int64_t i, int64_t j) {
        size_t ci = size_t(std::clamp<int64_t>(i, 0, last)), cj = size_t(std::clamp<int64_t>(j, 0, last));
        return v3{double(i) * s, double(t->heights[cj * size_t(t->dim) + ci]), double(j) * s};
    };
    for (int64_t j = j0; j <= j1; ++j) {
        for (int64_t i = i0; i <= i1; ++i) {
            v3 a = corner(i, j), b = corner(i + 1, j), c = corner(i, j + 1), d = corner(i + 1, j + 1);
            // the checkerboard split of the drawn mesh
            v3 tri[2][3];
            if (((i + j) & 1) == 0) {
                tri[0][0] = a, tri[0][1] = d, tri[0][2] = b;
                tri[1][0] = a, tri[1][1] = c, tri[1][2] = d;
            } else {
                tri[0][0] = a, tri[0][1] = c, tri[0][2] = b;
                tri[1][0] = b, tri[1][1] = c, tri[1][2] = d;
            }
            for (auto &tr : tri) {
                v3 n = cross(tr[1] - tr[0], tr[2] - tr[0]);
                if (n.y < 0)
                    n = -n;
                n = unit_or(n, {0, 1, 0});
                fn(tr[0], tr[1], tr[2], n);
            }
        }
    }
}

// Closest point of triangle (a, b, c) to p.
v3 closest_on_triangle(v3 p, v3 a, v3 b, v3 c);
// Whether p, projected along n, lies inside triangle (a, b, c).
bool inside_triangle(v3 p, v3 a, v3 b, v3 c, v3 n);

// Crashes the rider through the rider-control hook.
void rider_crash(RiderState *r);
// The tic of the current physics step (for the collision bookkeeping).
int32_t physics_current_tic();

// The rear linkage: shock compression y and its slope y' at swing-arm
// travel x (0..1) from the model's seven linkage values.
void linkage_curve(const float p[7], double x, double *y, double *dy);
// The fork's force at slider position x (<= 0) and rate v for a rider's
// parameters (before the motor turns it into velocity and limit).
double fork_force(const BikeModel &m, const rider_setup_params &p, double x, double v, double *damping);

// (Re)attaches the rider mount between rider body and frame where the frame
// now stands.
void attach_mount(RiderState *r);
// The terrain of the current physics tic (null before the first).
const Terrain *physics_current_terrain();

// ---------------------------------------------------------------- rider control internals

// Engine, drivetrain and crash state back to a fresh rider's (gear first,
// engine stopped, feet on the pegs); keeps the race's start tic and the
// computer flag.
void reset_ride_state(RiderState *r);
// The fallen rider's tethers and countdown (one tic), and the feet.
void fallen_rider_step(RiderState *r, int32_t tic);
void foot_placement(RiderState *r);
// The pull towards a horizontal target velocity with at most `limit` lbf.
void pull_frame(RiderState *r, v3 target, double limit);
// Whether a wheel touches (contact depth above 0).
inline bool touches(const WheelContact &w)
{
    return w.depth > 0;
}
// The crash hook of rider_crash (which has counted the crash already).
void crash_hook(RiderState *r);
// The crash limits of the rider/frame speed difference (ft/s) and the rider
// body's acceleration (ft/s^2) for the air time between take-off and
// landing tics, `now` after the landing.
void crash_limits(int32_t takeoff, int32_t landing, int32_t now, double *speed, double *accel);
// Two parts of one rider against each other (the fallen rider against its
// own bike); mode as for collide_riders.
bool collide_own_parts(RiderState *r, int a, int b, int mode);
