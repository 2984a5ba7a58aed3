// world.cpp -- the one physics world and its contact group, the rider slot
// table, and the order of one simulation tic.
//
// Every rider shares the world, so every contact, tether and per-tic motor
// lives in the one contact group and is thrown away after the step.
#include "sim/physics_local.h"

#include <algorithm>

void body_deleter::operator()(dxBody *b) const
{
    dBodyDestroy(b);
}
void joint_deleter::operator()(dxJoint *j) const
{
    dJointDestroy(j);
}

namespace {

struct world_deleter {
    void operator()(dxWorld *w) const { dWorldDestroy(w); }
};
struct group_deleter {
    void operator()(dxJointGroup *g) const { dJointGroupDestroy(g); }
};

// Declared before the rider table: statics die in reverse order, so any
// rider still built at exit is destroyed while its world still exists.
bool g_ode_open = false;
std::unique_ptr<dxWorld, world_deleter> g_world;
std::unique_ptr<dxJointGroup, group_deleter> g_group;
std::array<RiderState, MAX_RIDERS> g_riders;
physics_hooks g_hooks;
int32_t g_tic = 0;
const Terrain *g_terrain = nullptr;

void update_rider(RiderState *r, int32_t tic)
{
    if (g_hooks.before_update)
        g_hooks.before_update(r, tic);
    if (g_hooks.update) {
        g_hooks.update(r, tic);
    } else if (r->presence > 0.25f) {
        // a bare bike: suspension and the rider held on, nobody riding
        rider_mount_springs(r);
        suspension_forces(r);
        if (!r->down && tic >= 2)
            joint_drift_correction(r);
    }
}

double frame_speed2(const RiderState *r)
{
    return length2(body_vel(r->body[BODY_FRAME].get()));
}

} // namespace

bool physics_init()
{
    if (g_world)
        return true;
    if (!g_ode_open) {
        if (!dInitODE2(0))
            return false;
        g_ode_open = true;
    }
    g_world.reset(dWorldCreate());
    g_group.reset(dJointGroupCreate(0));
    if (!g_world || !g_group) {
        g_group.reset();
        g_world.reset();
        return false;
    }
    dWorldSetGravity(g_world.get(), 0, GRAVITY_Y, 0);
    return true;
}

void physics_shutdown()
{
    for (RiderState &r : g_riders)
        destroy_rider(&r);
    g_group.reset();
    g_world.reset();
    shape_cache_clear();
    if (g_ode_open) {
        dCloseODE();
        g_ode_open = false;
    }
}

dxWorld *physics_world()
{
    return g_world.get();
}
dxJointGroup *physics_contact_group()
{
    return g_group.get();
}

RiderState *rider_slot(int slot)
{
    if (slot < 0 || slot >= MAX_RIDERS)
        return nullptr;
    return &g_riders[size_t(slot)];
}

void physics_set_hooks(const physics_hooks &h)
{
    g_hooks = h;
}

std::vector<const char *> missing_physics_hooks()
{
    std::vector<const char *> missing;
    if (!g_hooks.crash)
        missing.push_back("crash");
    if (!g_hooks.update)
        missing.push_back("update");
    return missing;
}

int32_t physics_current_tic()
{
    return g_tic;
}

const Terrain *physics_current_terrain()
{
    return g_terrain;
}

void rider_crash(RiderState *r)
{
    r->crashes++;
    if (g_hooks.crash)
        g_hooks.crash(r);
}

dJointID add_contact(dBodyID b1, dBodyID b2, v3 pos, v3 normal, double depth, double mu, soft_params sp,
                     const v3 *fdir1)
{
    dContact c{};
    c.surface.mode = CONTACT_MODE;
    c.surface.mu = mu;
    c.surface.soft_erp = sp.erp;
    c.surface.soft_cfm = sp.cfm;
    store(c.geom.pos, pos);
    store(c.geom.normal, normal);
    c.geom.depth = depth;
    if (fdir1) {
        c.surface.mode |= dContactFDir1;
        store(c.fdir1, *fdir1);
    }
    dJointID j = dJointCreateContact(g_world.get(), g_group.get(), &c);
    dJointAttach(j, b1, b2);
    return j;
}

void physics_tic(const physics_tic_params &p)
{
    if (!g_world)
        return;
    g_tic = p.tic;
    g_terrain = p.terrain;
    auto active = [](const RiderState &r) { return r.built && r.presence > 0.25f; };

    // Contacts of the riders simulated here.
    for (RiderState &r : g_riders)
        if (active(r) && r.simulated)
            terrain_contacts(&r, p.terrain);

    // Rider collisions, fastest first.
    if (p.rider_collisions) {
        std::vector<RiderState *> order;
        for (RiderState &r : g_riders)
            if (active(r) && r.collides)
                order.push_back(&r);
        std::stable_sort(order.begin(), order.end(),
                         [](const RiderState *a, const RiderState *b) { return frame_speed2(a) > frame_speed2(b); });
        if (!p.online) {
            for (size_t a = 0; a < order.size(); ++a)
                for (size_t b = a + 1; b < order.size(); ++b)
                    (void)collide_riders(order[a], order[b], 0, p.tic);
        } else {
            RiderState *local = rider_slot(p.local_slot);
            if (local && active(*local) && local->collides)
                for (RiderState *o : order)
                    if (o != local)
                        (void)collide_riders(local, o, 1, p.tic);
        }
    }

    // Roost and tyre marks are not made here: the race tic throws them
    // after this function returns, from the contacts this step used
    // (race/race_tic.cpp).

    // The step; this tic's contacts go with it.
    dWorldStep(g_world.get(), PHYSICS_TIC);
    dJointGroupEmpty(g_group.get());

    // Digging is not done here either: the race tic digs after this
    // function returns, with the race's dig accumulators (race/race_tic.cpp).

    // Rider updates: forces and motors for the next step.
    for (RiderState &r : g_riders)
        if (r.built && r.simulated)
            update_rider(&r, p.tic);
}
