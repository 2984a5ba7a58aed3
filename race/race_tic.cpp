// The race tic: one 1/128 s step of everything on the track, in a fixed
// order, and the roost particles the wheels throw.
//
// The physics tic makes the contacts and rider collisions, steps the world
// and runs the rider updates; around it come the roost, the digging and the
// timing. Roost is thrown after the step, from the contacts the step used,
// so that the physics layer's hook table stays with the simulation code.

#include "race/race_local.h"

#include "sim/sim.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

using vec = std::array<double, 3>;

vec v3(const double *p) {
    return {p[0], p[1], p[2]};
}
vec add(const vec &a, const vec &b) {
    return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}
vec sub(const vec &a, const vec &b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
vec mul(const vec &a, double s) {
    return {a[0] * s, a[1] * s, a[2] * s};
}
double dot(const vec &a, const vec &b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
vec cross(const vec &a, const vec &b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
std::array<float, 3> to_f(const vec &a) {
    return {float(a[0]), float(a[1]), float(a[2])};
}

double uniform(race_state *rs) {
    return std::uniform_real_distribution<double>(0.0, 1.0)(rs->rng);
}

// Rotates p about the axis (unit) through c by angle (right-handed).
vec rotate_about(const vec &p, const vec &c, const vec &axis, double angle) {
    vec r = sub(p, c);
    double cs = std::cos(angle), sn = std::sin(angle);
    vec out = add(add(mul(r, cs), mul(cross(axis, r), sn)), mul(axis, dot(axis, r) * (1 - cs)));
    return add(out, c);
}

// One wheel's roost for one tic; A is the draw from the roost frequency.
void wheel_roost(race_state *rs, const WheelContact &w, double angle_cap, int A) {
    if (!(w.depth > 0) || !w.body || !rs->terrain || rs->terrain->tile_types.empty())
        return;
    const Terrain *t = rs->terrain;
    int tile = terrain_tile_at(t, float(w.point[0]), float(w.point[2]));
    if (tile < 0 || size_t(tile) >= t->tile_types.size())
        return;
    const double h = RACE_TIC_LENGTH;
    vec P = v3(w.point), vc = v3(w.velocity), N = v3(w.normal);
    const body_state wheel = read_body_state(w.body);
    vec v = wheel.velocity, om = wheel.angular_velocity;
    for (const RoostType &type : t->tile_types[size_t(tile)].roost) {
        if (type.kind == 0)
            break;
        int C = int(std::floor(type.count));
        if (uniform(rs) < type.count - std::floor(type.count))
            ++C;
        int n = std::min(A, C);
        if (n <= 0)
            continue;
        auto jitter = [&] {
            return vec{(uniform(rs) - 0.5) * type.randomize, (uniform(rs) - 0.5) * type.randomize,
                       (uniform(rs) - 0.5) * type.randomize};
        };
        if (type.kind == 2) {
            vec tv = sub(v, mul(N, dot(v, N)));
            double s = std::sqrt(dot(tv, tv));
            if (!(s > 0))
                continue;
            vec k = mul(tv, 1.0 / s);
            vec kn = cross(k, N);
            vec d1 = mul(sub(N, kn), s / std::numbers::sqrt2);
            vec d2 = mul(add(N, kn), s / std::numbers::sqrt2);
            for (int i = 0; i < n; ++i) {
                const vec &d = ((i ^ rs->clock.tic) & 1) == 0 ? d1 : d2;
                vec pos = add(P, mul(d, i * h / n));
                vec vel = mul(add(d, jitter()), type.vscale * uniform(rs));
                (void)roost_start(&rs->roost, type, to_f(pos), to_f(vel));
            }
        } else if (type.kind == 1) {
            if (std::sqrt(dot(vc, vc)) < type.slip_threshold)
                continue;
            double S = std::numbers::pi / 64;
            if (dot(v, vc) < 0) {
                double span = double(type.fast_speed) * type.fast_speed - double(type.slow_speed) * type.slow_speed;
                double f = span != 0 ? (dot(om, om) - double(type.slow_speed) * type.slow_speed) / span : 1.0;
                f = std::clamp(f, 0.0, 1.0);
                S = std::min(type.slow_angle + (type.fast_angle - type.slow_angle) * f, angle_cap);
            }
            vec axis = body_vector_to_world(w.body, {1, 0, 0});
            double len = std::sqrt(dot(axis, axis));
            if (!(len > 0))
                continue;
            axis = mul(axis, 1.0 / len);
            vec c = wheel.position;
            for (int i = 0; i < n; ++i) {
                double theta = uniform(rs) * S;
                vec Q = rotate_about(P, c, axis, -theta);
                vec W = body_point_velocity(w.body, Q);
                vec pos = add(Q, mul(W, i * h / n));
                vec vel = mul(add(W, jitter()), type.vscale);
                (void)roost_start(&rs->roost, type, to_f(pos), to_f(vel));
            }
        }
    }
}

// The contact of a wheel as the digging takes it.
dig_contact dig_from_wheel(const WheelContact &w) {
    dig_contact c;
    c.touching = w.depth > 0 && w.body;
    if (!c.touching)
        return c;
    for (int i = 0; i < 3; ++i) {
        c.point[size_t(i)] = float(w.point[i]);
        c.force[size_t(i)] = float(w.feedback.f1[i]);
        c.point_velocity[size_t(i)] = float(w.velocity[i]);
    }
    const vec v = read_body_state(w.body).velocity;
    c.wheel_velocity = {float(v[0]), float(v[1]), float(v[2])};
    return c;
}

bool has_bike(int slot) {
    const RiderState *r = rider_slot(slot);
    return r && r->built;
}

// Every part of a rider lies within this distance of its frame body.
double rider_reach(const RiderState *r) {
    vec c = read_body_state(r->body[BODY_FRAME].get()).position;
    double reach = 0;
    for (int part = 0; part < BODY_COUNT; ++part) {
        double size = 0;
        if (part == BODY_FRONT_WHEEL || part == BODY_REAR_WHEEL) {
            const WheelContact &w = r->wheel[part == BODY_FRONT_WHEEL ? 0 : 1];
            size = w.ring_radius + w.tube_radius;
        } else if (const Shape *s = r->shape[size_t(part)].shape) {
            size = s->bounding_radius;
        }
        vec d = sub(read_body_state(r->body[size_t(part)].get()).position, c);
        reach = std::max(reach, std::sqrt(dot(d, d)) + size);
    }
    return reach;
}

// One solid per statue; remade (the only allocation) when the statues or
// their shapes change. The gate marks are set afresh every tic.
void sync_solids(race_state *rs) {
    const std::vector<statue> &st = rs->objects->statues;
    bool same = rs->solids.size() == st.size();
    for (size_t i = 0; same && i < st.size(); ++i)
        same = rs->solids[i].shape == st[i].shape;
    if (!same) {
        rs->solids.assign(st.size(), solid_object{});
        for (size_t i = 0; i < st.size(); ++i) {
            rs->solids[i].shape = st[i].shape;
            rs->solids[i].placed = InstanceShape(shape_from_handle(st[i].shape));
        }
    }
    for (solid_object &o : rs->solids)
        o.gate = -1;
    if (!rs->timing)
        return;
    for (size_t g = 0; g < rs->timing->gates.size(); ++g) {
        int k = rs->timing->gates[g].object;
        if (k >= 0 && size_t(k) < rs->solids.size())
            rs->solids[size_t(k)].gate = int(g);
    }
}

// The statue's shape where the statue stands. Its orientation rows are the
// model's axes in the world; ODE's layout holds them as columns.
void place_solid(solid_object *o, const statue &s) {
    const double pos[3] = {s.x, s.y, s.z};
    double rot[12] = {};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            rot[4 * r + c] = s.orientation[size_t(3 * c + r)];
    place_shape(&o->placed, pos, rot);
}

// Contacts of the bikes with the track objects near them, made in this
// tic's contact group alongside the ground contacts.
void object_contacts(race_state *rs) {
    if (!rs->objects)
        return;
    sync_solids(rs);
    if (rs->solids.empty())
        return;
    const std::vector<statue> &st = rs->objects->statues;
    // The gate pieces are solid while they stand, up to 10 s after the
    // start: a time trial, whose clock starts past that, rides through.
    bool gate_time = int64_t(rs->clock.tic) <= int64_t(rs->clock.start_tic) + 10 * RACE_TICS_PER_SECOND;
    for (int k = 0; k < RACE_SLOTS; ++k) {
        RiderState *r = rider_slot(k);
        if (!r || !r->built || !(r->presence > 0.25f))
            continue;
        bool replayed = rs->mode[size_t(k)] == SLOT_REPLAYED;
        if (replayed && !gate_time)
            continue;
        vec c = read_body_state(r->body[BODY_FRAME].get()).position;
        double reach = rider_reach(r);
        for (size_t i = 0; i < rs->solids.size(); ++i) {
            solid_object &o = rs->solids[i];
            if (!o.placed.shape)
                continue;
            if (o.gate >= 0 ? !(gate_time && rs->timing->gates[size_t(o.gate)].up > 0) : replayed)
                continue;
            const statue &s = st[i];
            vec d = sub(c, vec{s.x, s.y, s.z});
            double near = reach + o.placed.shape->bounding_radius;
            if (!(dot(d, d) <= near * near))
                continue;
            place_solid(&o, s);
            (void)collide_with_object(r, &o.placed, nullptr);
        }
    }
}

bool realign_to_next_gate(void *ctx, RiderState *r, double target[3]) {
    std::array<double, 3> p;
    if (!realign_target(*static_cast<const race_state *>(ctx), r->slot, &p))
        return false;
    std::copy(p.begin(), p.end(), target);
    return true;
}

}  // namespace

void roost_pool_reset(roost_pool *p) {
    p->particles.assign(ROOST_POOL_SIZE, roost_particle{});
    p->free_list.resize(ROOST_POOL_SIZE);
    // Popped from the back: particle 0 is started first.
    for (int i = 0; i < ROOST_POOL_SIZE; ++i)
        p->free_list[size_t(i)] = ROOST_POOL_SIZE - 1 - i;
    p->active.clear();
    p->active.reserve(ROOST_POOL_SIZE);
}

bool roost_start(roost_pool *p, const RoostType &type, const std::array<float, 3> &position,
                 const std::array<float, 3> &velocity) {
    if (p->free_list.empty())
        return false;
    int k = p->free_list.back();
    p->free_list.pop_back();
    roost_particle &q = p->particles[size_t(k)];
    q.position = position;
    q.velocity = velocity;
    q.type = type;
    q.size = type.size;
    q.colour = {type.r, type.g, type.b, type.a};
    q.active = true;
    p->active.push_back(k);
    return true;
}

void roost_move(roost_pool *p, const Terrain *t) {
    const float h = float(RACE_TIC_LENGTH);
    size_t kept = 0;
    for (size_t n = 0; n < p->active.size(); ++n) {
        int k = p->active[n];
        roost_particle &q = p->particles[size_t(k)];
        for (int i = 0; i < 3; ++i)
            q.position[size_t(i)] += q.velocity[size_t(i)] * h;
        float m = 1.0f - q.type.drag * h;
        q.velocity[0] *= m;
        q.velocity[1] *= m;
        q.velocity[2] *= m;
        q.velocity[1] -= 32.0f * h;
        q.size += q.type.grow * h;
        const int8_t fade[4] = {q.type.fade_r, q.type.fade_g, q.type.fade_b, q.type.fade_a};
        for (int c = 0; c < 4; ++c)
            q.colour[size_t(c)] = uint8_t(std::clamp(int(q.colour[size_t(c)]) + fade[c], 0, 255));
        bool landed = q.velocity[1] < 0 && t && t->loaded &&
                      q.position[1] < terrain_height_at(t, q.position[0], q.position[2]);
        bool lost = !std::isfinite(q.position[0]) || !std::isfinite(q.position[1]) || !std::isfinite(q.position[2]);
        if (landed || lost) {
            q.active = false;
            p->free_list.push_back(k);
        } else {
            p->active[kept++] = k;
        }
    }
    p->active.resize(kept);
}

void throw_roost(race_state *rs, int slot) {
    RiderState *r = rider_slot(slot);
    if (!r || !r->built)
        return;
    int A = rs->roost_frequency / 100;
    if (uniform(rs) < double(rs->roost_frequency % 100) / 100.0)
        ++A;
    if (A <= 0)
        return;
    const WheelContact *front = rider_wheel(r, 0, rs->terrain, rs->clock.tic);
    const WheelContact *rear = rider_wheel(r, 1, rs->terrain, rs->clock.tic);
    if (front)
        wheel_roost(rs, *front, std::numbers::pi / 8, A);
    if (rear)
        wheel_roost(rs, *rear, 2 * std::numbers::pi, A);
}

bool slot_present(const race_state &rs, int slot) {
    if (slot < 0 || slot >= RACE_SLOTS || !has_bike(slot))
        return false;
    return rs.mode[size_t(slot)] != SLOT_REPLAYED;
}

void race_tic(race_state *rs) {
    // Which bikes collide: offline every bike driven here; replayed bikes
    // only meet the starting-gate pieces.
    for (int k = 0; k < RACE_SLOTS; ++k) {
        RiderState *r = rider_slot(k);
        if (!r || !r->built)
            continue;
        bool replayed = rs->mode[size_t(k)] == SLOT_REPLAYED;
        r->simulated = !replayed;
        r->collides = !replayed;
        r->ride.race_start_tic = rs->clock.start_tic;
    }

    object_contacts(rs);

    // Ground contacts, collisions, the step, the contact group emptied and
    // the rider updates.
    physics_tic_params p;
    p.terrain = rs->terrain;
    p.tic = rs->clock.tic;
    p.rider_collisions = true;
    set_realign_target(realign_to_next_gate, rs);
    physics_tic(p);
    set_realign_target(nullptr, nullptr);

    // Roost: the slots with bikes, starting at tic mod their count.
    std::array<int, RACE_SLOTS> bikes{};
    int count = 0;
    for (int k = 0; k < RACE_SLOTS; ++k)
        if (has_bike(k))
            bikes[size_t(count++)] = k;
    if (count > 0) {
        int first = int(((int64_t(rs->clock.tic) % count) + count) % count);
        for (int n = 0; n < count; ++n)
            throw_roost(rs, bikes[size_t((first + n) % count)]);
    }

    // Digging: front wheel, then rear, for every bike driven here.
    if (rs->erosion && rs->terrain && rs->erosion->level > 0) {
        dig_env env;
        env.terrain = rs->terrain;
        env.erosion = rs->erosion;
        env.tic = rs->clock.tic;
        for (int n = 0; n < count; ++n) {
            int k = bikes[size_t(n)];
            if (rs->mode[size_t(k)] == SLOT_REPLAYED)
                continue;
            RiderState *r = rider_slot(k);
            dig_wheel(&rs->dig[size_t(k)][0], dig_from_wheel(r->wheel[0]), true, env);
            dig_wheel(&rs->dig[size_t(k)][1], dig_from_wheel(r->wheel[1]), false, env);
        }
    }

    // Gate progress for every bike, in slot order, against the leader.
    if (rs->timing) {
        std::vector<race_rider> field;
        for (int n = 0; n < count; ++n)
            field.push_back(rs->riders[size_t(bikes[size_t(n)])]);
        std::vector<order_entry> order = running_order(field);
        int32_t leader = order.empty() ? -1 : order.front().progress;
        for (int n = 0; n < count; ++n) {
            int k = bikes[size_t(n)];
            RiderState *r = rider_slot(k);
            race_rider &rr = rs->riders[size_t(k)];
            rr.slot = k;
            race_rider_move(&rr, body_position(r, BODY_FRONT_WHEEL));
            gate_progress_result g = update_gate_progress(*rs->timing, &rr, rs->clock, leader);
            if (g.lap_done && rs->lap_done)
                rs->lap_done(rs->ctx, k);
        }
    }

    roost_move(&rs->roost, rs->terrain);

    if (rs->timing)
        update_starting_gates(rs->timing, rs->clock, rs->objects);

    if (rs->clock.tic < INT32_MAX)
        ++rs->clock.tic;
}
