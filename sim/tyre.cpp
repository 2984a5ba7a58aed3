// tyre.cpp -- the wheel as a torus against the terrain's triangles: the
// deepest penetration becomes one soft contact joint whose friction comes
// from the surface type, plus rolling resistance added by hand.
#include "sim/physics_local.h"

#include <algorithm>
#include <numbers>
#include <vector>

namespace {

// Some unit vector perpendicular to a (a unit).
v3 any_perpendicular(v3 a)
{
    v3 t = std::fabs(a.x) < 0.6 ? v3{1, 0, 0} : v3{0, 1, 0};
    return unit_or(cross(a, t), {0, 0, 1});
}

struct ring {
    v3 c, a;  // centre, unit axle
    double R;
};

// Distance from p to the ring circle, with the circle's closest point.
double ring_distance(const ring &g, v3 p, v3 *on_ring)
{
    v3 rel = p - g.c;
    double h = dot(rel, g.a);
    v3 perp = rel - g.a * h;
    // a point on the axle is equally far from every point of the circle
    double p2 = length2(perp);
    v3 dir = p2 > 1e-24 ? perp * (1.0 / std::sqrt(p2)) : any_perpendicular(g.a);
    *on_ring = g.c + dir * g.R;
    return length(p - *on_ring);
}

// Closest points of the ring circle and the segment e0-e1: sampled, then
// refined by golden section around the best sample.
double ring_segment(const ring &g, v3 e0, v3 e1, v3 *on_ring, v3 *on_seg)
{
    constexpr int N = 8;
    v3 e = e1 - e0;
    auto f = [&](double t, v3 *q) { return ring_distance(g, e0 + e * t, q); };
    v3 q;
    int best = 0;
    double best_d = f(0, &q);
    for (int k = 1; k <= N; ++k) {
        double d = f(double(k) / N, &q);
        if (d < best_d)
            best_d = d, best = k;
    }
    double lo = std::max(0.0, (best - 1.0) / N), hi = std::min(1.0, (best + 1.0) / N);
    const double phi = 0.6180339887498949;
    double x1 = hi - phi * (hi - lo), x2 = lo + phi * (hi - lo);
    double f1 = f(x1, &q), f2 = f(x2, &q);
    for (int it = 0; it < 18; ++it) {
        if (f1 < f2) {
            hi = x2, x2 = x1, f2 = f1;
            x1 = hi - phi * (hi - lo);
            f1 = f(x1, &q);
        } else {
            lo = x1, x1 = x2, f1 = f2;
            x2 = lo + phi * (hi - lo);
            f2 = f(x2, &q);
        }
    }
    double t = best_d <= std::min(f1, f2) ? double(best) / N : (lo + hi) / 2;
    *on_seg = e0 + e * t;
    return ring_distance(g, *on_seg, on_ring);
}

// A lower bound of the ring's distance to a segment, from the range of the
// segment's distances to the centre.
double ring_segment_bound(const ring &g, v3 e0, v3 e1)
{
    v3 e = e1 - e0;
    double l2 = length2(e);
    double t = l2 > 0 ? std::clamp(dot(g.c - e0, e) / l2, 0.0, 1.0) : 0.0;
    double dmin = length(e0 + e * t - g.c);
    double dmax = std::max(length(e0 - g.c), length(e1 - g.c));
    if (g.R >= dmin && g.R <= dmax)
        return 0;
    return std::min(std::fabs(dmin - g.R), std::fabs(dmax - g.R));
}

bool inside_xz(v3 p, v3 a, v3 b, v3 c)
{
    auto side = [](v3 o, v3 u, v3 v) { return (u.x - o.x) * (v.z - o.z) - (u.z - o.z) * (v.x - o.x); };
    double s0 = side(a, b, p), s1 = side(b, c, p), s2 = side(c, a, p);
    return (s0 >= 0 && s1 >= 0 && s2 >= 0) || (s0 <= 0 && s1 <= 0 && s2 <= 0);
}

struct edge_candidate {
    v3 p0, p1, p2, n;
    double delta;  // height of the ring's lowest point over the plane
};

struct wheel_hit {
    double depth = 0;
    v3 point, normal{0, 1, 0};
};

wheel_hit search(const Terrain *t, const WheelContact &w)
{
    wheel_hit best;
    if (!w.body)
        return best;
    dVector3 aw;
    dBodyVectorToWorld(w.body, w.axle[0], w.axle[1], w.axle[2], aw);
    ring g{body_pos(w.body), unit_or(to_v3(aw), {1, 0, 0}), w.ring_radius};
    double r = w.tube_radius;
    if (!finite(g.c))
        return best;
    double reach = g.R + r;
    // triangles left to the edge test (the search covers a few dozen)
    static thread_local std::vector<edge_candidate> pending;
    pending.clear();
    for_each_triangle(t, g.c.x, g.c.z, reach, [&](v3 p0, v3 p1, v3 p2, v3 n) {
        // Nothing of the triangle within the torus' reach, and the wheel
        // above its plane: no contact. A wheel sunk that deep below the
        // plane is still pushed out.
        v3 nearest = closest_on_triangle(g.c, p0, p1, p2);
        bool far = length2(nearest - g.c) >= reach * reach;
        if (far && dot(g.c - p0, n) > 0)
            return;
        // The ring's lowest point towards this plane. A wheel lying flat
        // (axle along the normal) has none: any point of the ring will do.
        v3 d = unit_or(cross(g.a, cross(g.a, n)), any_perpendicular(g.a));
        if (dot(d, n) > 0)
            d = -d;
        v3 q = g.c + d * g.R, top = g.c - d * g.R;
        double delta = dot(q - p0, n), delta_top = dot(top - p0, n);
        double depth;
        v3 point, normal;
        double dn = dot(d, n);
        if (delta > 0 && inside_triangle(q, p0, p1, p2, n)) {
            depth = r - delta;
            point = q - n * delta;
            normal = n;
        } else if (delta <= 0 && delta_top <= 0 && inside_xz(g.c, p0, p1, p2)) {
            depth = 2 * g.R;
            point = q;
            normal = {0, 1, 0};
        } else if (delta <= 0 && delta_top > 0 && dn < -1e-12 &&
                   inside_triangle(g.c + d * (-dot(g.c - p0, n) / dn), p0, p1, p2, n)) {
            depth = r - delta;
            point = q;
            normal = n;
        } else {
            if (far)
                return;  // the tube cannot reach an edge either
            // edges and corners later, once the faces have set the depth to
            // beat; the ring is at least delta clear of this whole plane
            pending.push_back({p0, p1, p2, n, delta});
            return;
        }
        if (depth > best.depth) {
            best.depth = depth;
            best.point = point;
            best.normal = normal;
        }
    });
    for (const edge_candidate &c : pending) {
        if (r - std::max(c.delta, 0.0) <= best.depth)
            continue;
        const v3 edge[3][2] = {{c.p0, c.p1}, {c.p1, c.p2}, {c.p2, c.p0}};
        for (const auto &e : edge) {
            if (r - ring_segment_bound(g, e[0], e[1]) <= best.depth)
                continue;
            v3 on_ring, on_seg;
            double dist = ring_segment(g, e[0], e[1], &on_ring, &on_seg);
            if (r - dist > best.depth) {
                best.depth = r - dist;
                best.point = on_seg;
                best.normal = unit_or(on_ring - on_seg, c.n);
            }
        }
    }
    if (best.depth > 0) {
        v3 n = unit_or(best.normal, {0, 1, 0});
        if (n.y < 0) {
            v3 h{n.x, 0, n.z};
            n = length2(h) < 1.0 / 1024 ? v3{0, 1, 0} : unit_or(h, {0, 1, 0});
        }
        best.normal = n;
    }
    return best;
}

const TileType &tile_of(const Terrain *t, v3 p, int *index)
{
    static const TileType fallback = tile_type_defaults();
    int k = t ? terrain_tile_at(t, float(p.x), float(p.z)) : 0;
    *index = k;
    if (!t || k < 0 || size_t(k) >= t->tile_types.size())
        return fallback;
    return t->tile_types[size_t(k)];
}

v3 axle_world(const WheelContact &w)
{
    dVector3 aw;
    dBodyVectorToWorld(w.body, w.axle[0], w.axle[1], w.axle[2], aw);
    return unit_or(to_v3(aw), {1, 0, 0});
}

v3 nospin_velocity(const WheelContact &w, v3 p)
{
    v3 a = axle_world(w);
    v3 om = to_v3(dBodyGetAngularVel(w.body));
    v3 om2 = om - a * dot(om, a);
    return body_vel(w.body) + cross(om2, p - body_pos(w.body));
}

} // namespace

double friction_curve(const TileType &t, double u, bool squared)
{
    int n = 0;
    while (n < FRICTION_POINTS && t.friction[size_t(n)].abscissa < FRICTION_EMPTY_ABSCISSA)
        ++n;
    if (n == 0)
        return 1.0;
    auto key = [squared](double x) { return squared ? x * x : x; };
    auto coef = [&t](int k) { return double(t.friction[size_t(k)].coefficient); };
    auto absc = [&t](int k) { return double(t.friction[size_t(k)].abscissa); };
    double U = key(u);
    if (n == 1 || U < key(absc(0)))
        return coef(0);
    for (int k = 1; k < n; ++k) {
        double hi = key(absc(k)), lo = key(absc(k - 1));
        if (U < hi) {
            // two slots at the same abscissa: a step, not a division by zero
            double f = hi - lo > 0 ? std::clamp((U - lo) / (hi - lo), 0.0, 1.0) : 1.0;
            return coef(k - 1) + f * (coef(k) - coef(k - 1));
        }
    }
    return coef(n - 1);
}

double surface_friction(const TileType &t, const double v[3], const double v_nospin[3])
{
    v3 vel = to_v3(v);
    double speed = length(vel);
    if (t.slip_function == 1)
        return friction_curve(t, speed, false);
    if (t.slip_function == 2) {
        double u = speed;
        if (speed >= 0.0625)
            u = std::clamp(dot(to_v3(v_nospin), vel) / speed, -speed, speed);
        return friction_curve(t, u, false);
    }
    return friction_curve(t, speed, true);
}

void rolling_resistance(const TileType &t, double speed, double *low, double *high)
{
    int n = 0;
    while (n < ROLL_RESIST_POINTS && t.roll_resist[size_t(n)].speed != 0)
        ++n;
    if (n == 0) {
        *low = *high = 0;
        return;
    }
    auto &pts = t.roll_resist;
    if (n == 1 || speed < pts[0].speed) {
        *low = pts[0].low, *high = pts[0].high;
        return;
    }
    for (int k = 1; k < n; ++k) {
        const roll_resist_point &a = pts[size_t(k - 1)], &b = pts[size_t(k)];
        if (speed < b.speed) {
            double den = double(b.speed) - a.speed;
            double f = den > 0 ? std::clamp((speed - a.speed) / den, 0.0, 1.0) : 1.0;
            *low = a.low + f * (b.low - a.low);
            *high = a.high + f * (b.high - a.high);
            return;
        }
    }
    *low = pts[size_t(n - 1)].low, *high = pts[size_t(n - 1)].high;
}

double arcade_friction_factor(double roll)
{
    return 1.0 - 0.375 * std::min(1.0, 4.0 * std::fabs(roll) / std::numbers::pi);
}

bool wheel_probe(const Terrain *t, WheelContact *w)
{
    wheel_hit h = search(t, *w);
    if (!(h.depth > 0)) {
        w->depth = 0;
        return false;
    }
    w->depth = h.depth;
    store(w->point, h.point);
    store(w->normal, h.normal);
    store(w->velocity, point_vel(w->body, h.point));
    return true;
}

bool wheel_slip_velocity(const WheelContact &w, double out[3])
{
    if (!(w.depth > 0) || !w.body)
        return false;
    store(out, nospin_velocity(w, to_v3(w.point)));
    return true;
}

bool wheel_contact(const Terrain *t, WheelContact *w, double friction_factor)
{
    if (!wheel_probe(t, w))
        return false;
    v3 p = to_v3(w->point), n = to_v3(w->normal), v = to_v3(w->velocity);
    const TileType &tile = tile_of(t, p, &w->tile);
    double vn[3];
    store(vn, nospin_velocity(*w, p));
    w->mu = surface_friction(tile, w->velocity, vn) * friction_factor;

    v3 fdir;
    const v3 *fd = nullptr;
    v3 nv = cross(n, v);
    if (length2(nv) >= 1.0 / 1024) {
        fdir = unit_or(nv, {});
        fd = &fdir;
    } else {
        v3 na = cross(n, axle_world(*w));
        if (length2(na) > 1e-12) {
            fdir = unit_or(na, {});
            fd = &fdir;
        }
    }
    double f = std::min(w->depth / w->tube_radius, 1.0);
    double f3 = f * f * f;
    dJointID j = add_contact(w->body, nullptr, p, n, w->depth, w->mu, soft_spring(24000 * f3 + 1000, 2300 * f3 + 200),
                             fd);
    dJointSetFeedback(j, reinterpret_cast<dJointFeedback *>(&w->feedback));

    v3 lin = body_vel(w->body);
    v3 tang = lin - n * dot(lin, n);
    double W = length(tang);
    double low = 0, high = 0;
    rolling_resistance(tile, W, &low, &high);
    double mag = low + f * (high - low);
    v3 dir = W > 1 ? tang * (1.0 / W) : tang;
    v3 force = dir * -mag;
    if (finite(force))
        dBodyAddForce(w->body, force.x, force.y, force.z);
    return true;
}

bool wheel_against_shape(const ShapeInstance *s, dxBody *shape_body, WheelContact *w, int mode)
{
    if (!s || !s->shape || !w->body)
        return false;
    bool touched = false;
    for (size_t i = 0; i < s->world.size(); ++i) {
        const shape_sphere &sp = s->shape->spheres[i];
        v3 centre = to_v3(s->world[i].data());
        sphere_hit h = torus_sphere(*w, centre, sp.radius);
        if (!(h.depth > 0))
            continue;
        touched = true;
        sphere_contact(shape_body, w->body, h.point, h.normal, h.depth, sp.friction, sp.stiffness, sp.damping, mode);
    }
    return touched;
}

sphere_hit torus_sphere(const WheelContact &w, v3 centre, double radius)
{
    sphere_hit h;
    ring g{body_pos(w.body), axle_world(w), w.ring_radius};
    v3 on_ring;
    double dist = ring_distance(g, centre, &on_ring);
    double depth = w.tube_radius + radius - dist;
    if (!(depth > 0))
        return h;
    h.depth = depth;
    // from the sphere towards the tyre; a centre on the ring itself pushes
    // along the ring's radius
    h.normal = unit_or(on_ring - centre, unit_or(on_ring - g.c, {0, 1, 0}));
    h.point = centre + h.normal * (radius - depth / 2);
    return h;
}
