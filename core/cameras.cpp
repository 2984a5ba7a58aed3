// Camera maths of the views: the rider's eye with its gimbal, the orbit
// camera, the camera operator of the trackside and free cameras, the smoothed
// ground under a camera and the flaggers' timing. No GL and no physics
// handles here: views.cpp feeds in the bodies and draws.

#include "core/views_local.h"
#include "track/track.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double PI = std::numbers::pi;

vec3d add(const vec3d &a, const vec3d &b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
vec3d sub(const vec3d &a, const vec3d &b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
vec3d scale(const vec3d &a, double s) { return {a[0] * s, a[1] * s, a[2] * s}; }
double dot(const vec3d &a, const vec3d &b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
vec3d cross(const vec3d &a, const vec3d &b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double length(const vec3d &a) { return std::sqrt(dot(a, a)); }
vec3d normalise(const vec3d &a, const vec3d &fallback) {
    double l = length(a);
    return l > 1e-12 ? scale(a, 1.0 / l) : fallback;
}

double wrap_pi(double a) {
    if (!std::isfinite(a))
        return 0;
    a = std::remainder(a, 2 * PI);
    return a;
}

// Moves v towards target by at most step.
double approach(double v, double target, double step) {
    if (v < target)
        return std::min(v + step, target);
    return std::max(v - step, target);
}

bool same_sign(double rate, double error) {
    return (rate >= 0) == (error >= 0);
}

}  // namespace

vec3d body_point(const body_frame &b, const vec3d &p) {
    return add(b.position, add(scale(b.x, p[0]), add(scale(b.y, p[1]), scale(b.z, p[2]))));
}

double vertical_fov(double fov, int width, int height) {
    double t = std::tan(fov * PI / 360.0);
    double yh = (height > 0 && double(width) / height > 4.0 / 3.0) ? 0.75 * t
                : width > 0                                         ? double(height) * t / width
                                                                    : 0.75 * t;
    return 2.0 * std::atan(yh) * 180.0 / PI;
}

void camera_axes_from_angles(double yaw, double pitch, view_camera *out) {
    vec3d forward = {std::sin(yaw) * std::cos(pitch), std::sin(pitch), std::cos(yaw) * std::cos(pitch)};
    out->z = scale(forward, -1);
    out->x = {-std::cos(yaw), 0, std::sin(yaw)};
    out->y = cross(out->z, out->x);
}

void camera_look_at(const vec3d &eye, const vec3d &target, view_camera *out) {
    out->eye = eye;
    out->z = normalise(sub(eye, target), {0, 0, 1});
    out->x = normalise(cross({0, 1, 0}, out->z), {1, 0, 0});
    out->y = cross(out->z, out->x);
}

// ---------------------------------------------------------------- ride view

vec3d ride_eye(const body_frame &rider, double h) {
    return body_point(rider, {0, 0.558383 * h + 0.5, -0.79336953 * h - 0.4});
}

void ride_view_camera(const body_frame &rider, const ride_view_settings &s, double time, ride_gimbal *g,
                      view_camera *out, vec3d *z_before_pitch) {
    out->eye = ride_eye(rider, s.height);
    vec3d x = rider.x, y = rider.y, z = rider.z;
    if (s.gimbal > 0.5) {
        const vec3d &p = g->last_z;
        double angle = std::clamp(std::atan2(dot(p, y), dot(p, z)), -PI / 4, PI / 4);
        double elapsed = std::min(std::max(time - g->time, 0.0), 0.125);
        double k = 1.0 - s.gimbal / 100.0;
        double settled = angle * (1.0 - (k * k * k * 100.0 + 5.0) * elapsed);
        angle = (settled > 0) == (angle > 0) ? settled : 0.0;
        vec3d z1 = normalise(add(z, scale(y, std::tan(angle))), z);
        y = cross(z1, x);
        z = z1;
        g->last_z = z;
        g->time = time;
    }
    if (z_before_pitch)
        *z_before_pitch = z;
    double a = s.angle * PI / 180.0;
    out->x = x;
    out->y = sub(scale(y, std::cos(a)), scale(z, std::sin(a)));
    out->z = add(scale(y, std::sin(a)), scale(z, std::cos(a)));
    out->fov_y = s.fov_y;
}

// ---------------------------------------------------------------- orbit view

void orbit_tic(orbit_state *o, const float in[9], double h) {
    o->yaw = wrap_pi(o->yaw + double(in[0]) * 2 * PI / 1024);
    if (in[1] > 0.5f)
        o->distance = std::max(o->distance - 1.0 / 64, 0.25);
    if (in[2] > 0.5f)
        o->distance += 1.0 / 64;
    o->height += double(in[4]) * h;
}

void orbit_view_camera(const orbit_state &o, const body_frame &frame, const orbit_view_params &p,
                       double (*ground)(const void *ctx, double x, double z), const void *ground_ctx,
                       view_camera *out) {
    vec3d target = body_point(frame, {p.chase_center[0], p.chase_center[1], p.chase_center[2]});
    vec3d eye;
    double height;
    if (p.local_active) {
        // Behind the bike along its forward axis (-Z), swung towards where it
        // is going once it is moving fast.
        vec3d dir = normalise({-frame.z[0], 0, -frame.z[2]}, {0, 0, -1});
        if (!p.rigid) {
            double v = std::hypot(frame.velocity[0], frame.velocity[2]);
            double f = v >= 30 ? 1.0 : std::clamp((v - 10) * 0.05, 0.0, 1.0);
            if (f > 0 && v > 0) {
                vec3d along = {frame.velocity[0] / v, 0, frame.velocity[2] / v};
                dir = normalise(add(scale(dir, 1 - f), scale(along, f)), along);
            }
        }
        height = p.follow_height;
        eye = add(sub(target, scale(dir, p.follow_distance)), {0, height, 0});
    } else {
        height = o.height;
        eye = add(target, {std::sin(o.yaw) * o.distance, height, std::cos(o.yaw) * o.distance});
    }
    if (ground)
        eye[1] = std::max(eye[1], ground(ground_ctx, eye[0], eye[2]) + 5);
    eye[1] = std::max(eye[1], target[1] + height);
    camera_look_at(eye, target, out);
}

double smoothed_terrain_height(const Terrain *t, double x, double z) {
    if (!t || t->heights.empty() || t->dim <= 0 || !(t->spacing > 0))
        return 0;
    double s = t->spacing;
    double reach = 10 + s;
    auto index = [&](double w) { return std::clamp(int(std::floor(w / s)), 0, t->dim - 1); };
    int i0 = index(x - reach), i1 = index(x + reach) + 1;
    int j0 = index(z - reach), j1 = index(z + reach) + 1;
    double sum = 0, weights = 0;
    for (int j = j0; j <= std::min(j1, t->dim - 1); ++j) {
        for (int i = i0; i <= std::min(i1, t->dim - 1); ++i) {
            double d = std::hypot(i * s - x, j * s - z);
            double w = d < 10 ? 1.0 : d < reach ? 1.0 - (d - 10) / s : 0.0;
            if (w > 0) {
                sum += w * t->heights[size_t(j) * size_t(t->dim) + size_t(i)];
                weights += w;
            }
        }
    }
    if (weights > 0)
        return sum / weights;
    auto nearest = [&](double w) { return std::clamp(int(std::lround(std::clamp(w / s, -1.0, double(t->dim)))), 0, t->dim - 1); };
    return t->heights[size_t(nearest(z)) * size_t(t->dim) + size_t(nearest(x))];
}

// ---------------------------------------------------------------- camera operator

void camera_operator_tic(operated_camera *c, const operator_input &in, double h) {
    if (!in.following) {
        c->yaw_rate_target = in.steer * 3 * PI / 8;
        c->pitch_rate_target = in.shift * PI / 4;
    } else {
        vec3d d = sub(in.target, c->position);
        vec3d d1 = sub(add(in.target, scale(in.velocity, h)), c->position);
        double yaw0 = std::atan2(d[0], d[2]), yaw1 = std::atan2(d1[0], d1[2]);
        double pitch0 = std::atan2(d[1], std::hypot(d[0], d[2]));
        double pitch1 = std::atan2(d1[1], std::hypot(d1[0], d1[2]));
        double wy = std::clamp(wrap_pi(yaw1 - yaw0) / h, -2 * PI, 2 * PI);
        double wp = std::clamp((pitch1 - pitch0) / h, -2 * PI, 2 * PI);
        double distance = length(d);
        double auto_fov = 2 * std::atan2(c->autofovsize, distance) * 180 / PI;
        if (in.just_switched) {
            c->yaw = yaw0;
            c->pitch = pitch0;
            c->yaw_rate = c->yaw_rate_target = wy >= 0 ? wy : 0;
            c->pitch_rate = c->pitch_rate_target = wp > 0 ? wp : 0;
            if (c->autofovsize > 0)
                c->fov = auto_fov;
        } else {
            double ey = wrap_pi(yaw0 - c->yaw);
            c->yaw_rate_target = std::clamp(ey, -PI / 2, PI / 2) + (same_sign(wy, ey) ? wy : 0);
            double ep = pitch0 - c->pitch;
            c->pitch_rate_target = ep * PI / 4 + (same_sign(wp, ep) ? wp : 0);
            if (c->autofovsize > 0)
                c->fov = approach(c->fov, auto_fov, (2 * std::fabs(c->fov - auto_fov) + 1) * h);
        }
    }
    double a = PI * h;
    c->yaw_rate = approach(c->yaw_rate, c->yaw_rate_target, a);
    c->pitch_rate = approach(c->pitch_rate, c->pitch_rate_target, a);
    c->yaw = wrap_pi(c->yaw + c->yaw_rate * h);
    c->pitch = std::clamp(c->pitch + c->pitch_rate * h, -PI / 2, PI / 2);
}

void free_camera_move(operated_camera *c, double *speed, const float in[9], double h,
                      double (*ground)(const void *ctx, double x, double z), const void *ground_ctx) {
    double v = *speed + (double(in[1]) - double(in[2])) * 80 * h;
    v = std::clamp(v, -100.0, 100.0);
    v = approach(v, 0, 60 * h);
    *speed = v;
    vec3d forward = {std::sin(c->yaw) * std::cos(c->pitch), std::sin(c->pitch), std::cos(c->yaw) * std::cos(c->pitch)};
    c->position = add(c->position, scale(forward, v * h));
    if (ground)
        c->position[1] = std::max(c->position[1], ground(ground_ctx, c->position[0], c->position[2]) + 2);
}

// ---------------------------------------------------------------- flaggers

int walking_flagger_frame(double t, double c, double walk_time) {
    if (t < c + 0.1)
        return 0;
    if (t < c + 0.4)
        return 1;
    if (t < c + 1)
        return 2;
    if (t < c + 1 + walk_time)
        return 3;
    return 4;
}

double walking_flagger_progress(double t, double c, double walk_time) {
    // A walk time of 0 (or a bad one) steps straight to the end.
    if (!(walk_time > 0))
        return t >= c + 1 ? 1.0 : 0.0;
    return std::clamp((t - c - 1) / walk_time, 0.0, 1.0);
}

int standing_flagger_frame(const standing_flagger_input &in) {
    int32_t w = in.leader_progress, d = in.first_lap, m = in.normal_lap;
    int32_t n = 0, g = 0;
    // A track without a normal lap never counts past its first.
    if (w >= d - 1) {
        int32_t laps = m > 0 ? (w + 1 - d) / m : 0;
        n = laps + 1;
        g = d - 1 + m * laps;
    }
    int32_t target = in.lap_target;
    if (in.time_up && w == g)
        target = std::min(target, n + in.extra_laps);
    if (n >= target)
        return 3;
    if (n == target - 1)
        return 2;
    if (n == in.halfway_lap)
        return 1;
    return 0;
}

double bike_opacity(bool replayed, double d, bool present, double fade) {
    if (replayed && d >= 0)
        return ghost_opacity(d, fade);
    return present ? 1 : 0;
}

double ghost_opacity(double d, double fade) {
    if (!(fade > 0))
        return 1;
    return std::clamp((d - fade / 2) / (fade - fade / 2), 0.0, 1.0);
}
