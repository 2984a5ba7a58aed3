// contacts.cpp -- contacts of the body shapes: against the terrain, against
// other riders and against track objects (spheres against spheres).
#include "sim/physics_local.h"

#include <algorithm>

namespace {

bool is_wheel(int part)
{
    return part == BODY_FRONT_WHEEL || part == BODY_REAR_WHEEL;
}

void place(RiderState *r, int part)
{
    ShapeInstance &s = r->shape[size_t(part)];
    if (!s.shape)
        return;
    dBodyID b = r->body[size_t(part)].get();
    place_shape(&s, dBodyGetPosition(b), dBodyGetRotation(b));
}

// Every sphere of `a` against every sphere of `b`; returns whether any pair
// touches.
bool collide_spheres(const ShapeInstance &a, dBodyID ba, const ShapeInstance &b, dBodyID bb, int mode)
{
    if (!a.shape || !b.shape)
        return false;
    bool touched = false;
    for (size_t i = 0; i < a.world.size(); ++i) {
        const shape_sphere &sa = a.shape->spheres[i];
        v3 ca = to_v3(a.world[i].data());
        for (size_t k = 0; k < b.world.size(); ++k) {
            const shape_sphere &sb = b.shape->spheres[k];
            v3 d = to_v3(b.world[k].data()) - ca;
            double sum = double(sa.radius) + sb.radius;
            double dist2 = length2(d);
            if (!(dist2 < sum * sum))
                continue;
            touched = true;
            double dist = std::sqrt(dist2);
            // Centres this close give no direction to push along.
            if (dist < std::min(sa.radius, sb.radius) / 16.0)
                continue;
            v3 n = d * (1.0 / dist);
            double depth = sum - dist;
            v3 pos = ca + n * (sa.radius - depth / 2);
            double stiff = std::min(sa.stiffness, sb.stiffness);
            sphere_contact(ba, bb, pos, n, depth, std::min(sa.friction, sb.friction), stiff,
                           std::min(sa.damping, sb.damping), mode);
        }
    }
    return touched;
}

// Whether two parts' bounding spheres can meet: the shape's bounding radius
// about its body, the torus' outer radius about a wheel.
double part_reach(const RiderState *r, int part)
{
    if (is_wheel(part)) {
        const WheelContact &w = r->wheel[part == BODY_FRONT_WHEEL ? 0 : 1];
        return w.ring_radius + w.tube_radius;
    }
    const Shape *s = r->shape[size_t(part)].shape;
    return s ? s->bounding_radius : 0;
}

bool parts_near(const RiderState *a, int pa, const RiderState *b, int pb, double ra)
{
    double reach = ra + part_reach(b, pb);
    return length2(body_pos(a->body[size_t(pa)].get()) - body_pos(b->body[size_t(pb)].get())) <= reach * reach;
}

// Everything of a rider lies within this distance of its frame.
double rider_reach(const RiderState *r)
{
    v3 c = body_pos(r->body[BODY_FRAME].get());
    double reach = 0;
    for (int part = 0; part < BODY_COUNT; ++part) {
        double d = length(body_pos(r->body[size_t(part)].get()) - c) + part_reach(r, part);
        reach = std::max(reach, d);
    }
    return reach;
}

double roll_angle(dBodyID frame)
{
    return std::asin(std::clamp(body_axis(frame, 0).y, -1.0, 1.0));
}

} // namespace

v3 closest_on_triangle(v3 p, v3 a, v3 b, v3 c)
{
    v3 ab = b - a, ac = c - a, ap = p - a;
    double d1 = dot(ab, ap), d2 = dot(ac, ap);
    if (d1 <= 0 && d2 <= 0)
        return a;
    v3 bp = p - b;
    double d3 = dot(ab, bp), d4 = dot(ac, bp);
    if (d3 >= 0 && d4 <= d3)
        return b;
    double vc = d1 * d4 - d3 * d2;
    if (vc <= 0 && d1 >= 0 && d3 <= 0)
        return a + ab * (d1 / (d1 - d3));
    v3 cp = p - c;
    double d5 = dot(ab, cp), d6 = dot(ac, cp);
    if (d6 >= 0 && d5 <= d6)
        return c;
    double vb = d5 * d2 - d1 * d6;
    if (vb <= 0 && d2 >= 0 && d6 <= 0)
        return a + ac * (d2 / (d2 - d6));
    double va = d3 * d6 - d5 * d4;
    if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0)
        return b + (c - b) * ((d4 - d3) / ((d4 - d3) + (d5 - d6)));
    double den = va + vb + vc;
    if (!(std::fabs(den) > 0))
        return a;
    double v = vb / den, w = vc / den;
    return a + ab * v + ac * w;
}

bool inside_triangle(v3 p, v3 a, v3 b, v3 c, v3 n)
{
    double s0 = dot(cross(b - a, p - a), n), s1 = dot(cross(c - b, p - b), n), s2 = dot(cross(a - c, p - c), n);
    return (s0 >= 0 && s1 >= 0 && s2 >= 0) || (s0 <= 0 && s1 <= 0 && s2 <= 0);
}

sphere_hit sphere_terrain(const Terrain *t, v3 centre, double radius)
{
    sphere_hit best;
    if (!(radius > 0))
        return best;
    for_each_triangle(t, centre.x, centre.z, radius, [&](v3 p0, v3 p1, v3 p2, v3 n) {
        double above = dot(centre - p0, n);
        double depth;
        v3 point, normal;
        if (above < radius && inside_triangle(centre, p0, p1, p2, n)) {
            // over or sunk into the face: straight along its normal
            depth = radius - above;
            point = centre - n * above;
            normal = n;
        } else {
            v3 cp = closest_on_triangle(centre, p0, p1, p2);
            v3 d = centre - cp;
            depth = radius - length(d);
            point = cp;
            normal = unit_or(d, n);
        }
        if (depth > best.depth) {
            best.depth = depth;
            best.point = point;
            best.normal = normal;
        }
    });
    return best;
}

void sphere_contact(dBodyID first, dBodyID second, v3 pos, v3 normal, double depth, double mu, double stiffness,
                    double damping, int mode)
{
    if (mode < 0)
        return;
    double D = stiffness;
    if (D * depth > 2500)
        D = 2500 / depth;
    if (mode == 0) {
        if (!(D + damping > 0))
            return;
        // the contact pushes its first body along the normal: the second
        // one away from the first
        if (second)
            add_contact(second, first, pos, normal, depth, mu, soft_spring(D, damping));
        else if (first)
            add_contact(first, nullptr, pos, -normal, depth, mu, soft_spring(D, damping));
        return;
    }
    v3 v1 = first ? point_vel(first, pos) : v3{};
    v3 v2 = second ? point_vel(second, pos) : v3{};
    double f = std::clamp(D * depth + damping * dot(v1 - v2, normal), -1000.0, 1000.0);
    if (second && dBodyIsEnabled(second))
        dBodyAddForceAtPos(second, f * normal.x, f * normal.y, f * normal.z, pos.x, pos.y, pos.z);
    if (first && dBodyIsEnabled(first))
        dBodyAddForceAtPos(first, -f * normal.x, -f * normal.y, -f * normal.z, pos.x, pos.y, pos.z);
}

void terrain_contacts(RiderState *r, const Terrain *t)
{
    if (!r || !r->built)
        return;
    r->trouble = false;
    double factor = r->params.arcade ? arcade_friction_factor(roll_angle(r->body[BODY_FRAME].get())) : 1.0;
    for (WheelContact &w : r->wheel)
        (void)wheel_contact(t, &w, factor);

    const soft_params ground = soft_spring(2500, 250);
    bool crash = false;
    for (int part = 0; part < BODY_COUNT; ++part) {
        if (is_wheel(part) || !r->shape[size_t(part)].shape)
            continue;
        place(r, part);
        const ShapeInstance &s = r->shape[size_t(part)];
        dBodyID b = r->body[size_t(part)].get();
        for (size_t i = 0; i < s.world.size(); ++i) {
            const shape_sphere &sp = s.shape->spheres[i];
            sphere_hit h = sphere_terrain(t, to_v3(s.world[i].data()), sp.radius);
            if (!(h.depth > 0))
                continue;
            add_contact(b, nullptr, h.point, h.normal, h.depth, sp.friction, ground);
            r->trouble = true;
            if (part == BODY_RIDER && body_axis(b, 1).y < 0 && length2(body_vel(b)) > 25 && !r->down &&
                r->bump_timer >= 0)
                crash = true;
        }
    }
    if (crash)
        rider_crash(r);
}

bool collide_riders(RiderState *a, RiderState *b, int mode, int32_t tic)
{
    if (!a || !b || a == b || !a->built || !b->built)
        return false;
    double reach = rider_reach(a) + rider_reach(b);
    if (!(length2(body_pos(a->body[BODY_FRAME].get()) - body_pos(b->body[BODY_FRAME].get())) <= reach * reach))
        return false;
    for (int part = 0; part < BODY_COUNT; ++part) {
        place(a, part);
        place(b, part);
    }
    bool earlier = a->last_collision_tic == tic || b->last_collision_tic == tic;
    bool touched = false, front = false;
    for (int pa = 0; pa < BODY_COUNT; ++pa) {
        const ShapeInstance &sa = a->shape[size_t(pa)];
        if (!sa.shape)
            continue;
        int m = mode;
        if (earlier && (pa == BODY_FRONT_WHEEL || pa == BODY_UPPER_FORK || pa == BODY_LOWER_FORK))
            m = -1;
        dBodyID ba = a->body[size_t(pa)].get();
        double ra = sa.shape->bounding_radius;
        bool part_touched = false;
        for (int pb = 0; pb < BODY_COUNT; ++pb) {
            if (!parts_near(a, pa, b, pb, ra))
                continue;
            if (is_wheel(pb)) {
                if (wheel_against_shape(&sa, ba, &b->wheel[pb == BODY_FRONT_WHEEL ? 0 : 1], m)) {
                    part_touched = true;
                    front |= pb == BODY_FRONT_WHEEL;
                }
                continue;
            }
            if (collide_spheres(sa, ba, b->shape[size_t(pb)], b->body[size_t(pb)].get(), m)) {
                part_touched = true;
                front |= pb == BODY_LOWER_FORK;
            }
        }
        touched |= part_touched;
        front |= part_touched && (pa == BODY_FRONT_WHEEL || pa == BODY_LOWER_FORK);
    }
    if (touched) {
        a->last_collision_tic = tic;
        b->last_collision_tic = tic;
    }
    if (front) {
        for (RiderState *r : {a, b})
            if (length2(body_vel(r->body[BODY_FRAME].get())) >= 100)
                r->bump_timer = std::max(r->bump_timer, 64);
    }
    return touched;
}

int collide_with_object(RiderState *r, const ShapeInstance *object, dxBody *object_body)
{
    if (!r || !r->built || !object || !object->shape)
        return 0;
    int hits = 0;
    for (int part = 0; part < BODY_COUNT; ++part) {
        if (is_wheel(part)) {
            if (wheel_against_shape(object, object_body, &r->wheel[part == BODY_FRONT_WHEEL ? 0 : 1], 0))
                hits |= 1 << part;
            continue;
        }
        place(r, part);
        if (collide_spheres(r->shape[size_t(part)], r->body[size_t(part)].get(), *object, object_body, 0))
            hits |= 1 << part;
    }
    if (hits & hit_bit(BODY_RIDER)) {
        dBodyID rb = r->body[BODY_RIDER].get();
        v3 rel = body_vel(rb) - (object_body ? body_vel(object_body) : v3{});
        if (length2(rel) > 400 && !r->down && r->bump_timer >= 0)
            rider_crash(r);
    }
    return hits;
}

bool collide_own_parts(RiderState *r, int a, int b, int mode)
{
    if (!r || !r->built || a < 0 || b < 0 || a >= BODY_COUNT || b >= BODY_COUNT)
        return false;
    place(r, a);
    place(r, b);
    return collide_spheres(r->shape[size_t(a)], r->body[size_t(a)].get(), r->shape[size_t(b)],
                           r->body[size_t(b)].get(), mode);
}
