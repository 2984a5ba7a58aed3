// The views in the frame loop: reads the viewed bike's bodies, places the
// camera of the view being drawn, moves the orbit and trackside cameras each
// tic, animates the flaggers and draws the scene in its fixed order. Bikes,
// statues, billboards and ghosts have no drawing code yet: their places in
// the order (and their stutter labels) are kept so they slot in later.

#include "core/lifecycle_local.h"
#include "core/views_local.h"
#include "files/files.h"
#include "render/render.h"
#include "sim/sim.h"

#include <algorithm>
#include <cmath>

namespace {

// A body of a built rider as the cameras see it; false when there is none.
bool read_body(const RiderState *r, int body, body_frame *out) {
    if (!r || !r->built || body < 0 || body >= BODY_COUNT || !r->body[size_t(body)])
        return false;
    const body_state b = read_body_state(r->body[size_t(body)].get());
    const std::array<double, 12> &m = b.rotation;  // 3 rows of 4
    out->position = b.position;
    out->x = {m[0], m[4], m[8]};
    out->y = {m[1], m[5], m[9]};
    out->z = {m[2], m[6], m[10]};
    out->velocity = b.velocity;
    return true;
}

const RiderState *viewed_rider(const views_state *v) {
    const RiderState *r = rider_slot(v->track->viewed_slot);
    return r && r->built ? r : nullptr;
}

double ground_height(const void *ctx, double x, double z) {
    return smoothed_terrain_height(static_cast<const Terrain *>(ctx), x, z);
}

bool local_rider_active(const views_state *v) {
    const track_state *ts = v->track;
    return ts->viewed_slot >= 0 && ts->viewed_slot < RACE_SLOTS &&
           ts->race.mode[size_t(ts->viewed_slot)] == SLOT_LOCAL;
}

void stutter(views_state *v, const char *label) {
    if (v->loop)
        stutter_check(v->loop, label);
}

// ---------------------------------------------------------------- flaggers

uint32_t flagger_texture(const std::string &name) {
    const track_services &s = track_get_services();
    return s.load_texture && !name.empty() ? s.load_texture(name.c_str()) : 0;
}

void load_flagger_textures(views_state *v) {
    const track_objects &o = v->track->objects;
    flagger_frames &f = v->flaggers;
    uint32_t generation = texture_generation();
    if (f.loaded && f.generation == generation && f.walking.size() == o.walking_flaggers.size() &&
        f.standing.size() == o.standing_flaggers.size() && f.gate.size() == o.gate_flaggers.size())
        return;
    f = flagger_frames{};
    f.loaded = true;
    f.generation = generation;
    for (const walking_flagger &w : o.walking_flaggers) {
        f.walking.push_back(-1);
        auto &tex = f.walking_tex.emplace_back();
        for (size_t k = 0; k < tex.size(); ++k)
            tex[k] = flagger_texture(w.frames[k]);
    }
    for (const standing_flagger &s : o.standing_flaggers) {
        f.standing.push_back(-1);
        auto &tex = f.standing_tex.emplace_back();
        for (size_t k = 0; k < tex.size(); ++k)
            tex[k] = flagger_texture(s.frames[k]);
    }
    for (const gate_flagger &g : o.gate_flaggers) {
        f.gate.push_back(-1);
        auto &tex = f.gate_tex.emplace_back();
        for (size_t k = 0; k < tex.size(); ++k)
            tex[k] = flagger_texture(g.frames[k]);
    }
}

// Shows `frame` on a flagger's billboard: the old frame's animation pauses,
// the new one restarts now.
template <size_t N>
void show_flagger_frame(track_objects *o, int billboard, int *current, const std::array<uint32_t, N> &tex, int frame,
                        int32_t tic) {
    if (*current == frame)
        return;
    if (*current >= 0 && tex[size_t(*current)])
        pause_animation(tex[size_t(*current)]);
    *current = frame;
    uint32_t t = tex[size_t(frame)];
    if (t)
        restart_animation(t, tic);
    if (billboard >= 0 && size_t(billboard) < o->billboards.size() && t)
        o->billboards[size_t(billboard)].texture = t;
}

void animate_flaggers(views_state *v) {
    track_state *ts = v->track;
    track_objects &o = ts->objects;
    load_flagger_textures(v);
    flagger_frames &f = v->flaggers;
    int32_t tic = ts->race.clock.tic;
    double t = tic * TIC_LENGTH;

    for (size_t i = 0; i < o.walking_flaggers.size(); ++i) {
        const walking_flagger &w = o.walking_flaggers[i];
        double along = walking_flagger_progress(t, v->walking_cue, w.walk_time);
        if (w.billboard >= 0 && size_t(w.billboard) < o.billboards.size()) {
            billboard &b = o.billboards[size_t(w.billboard)];
            b.x = float(w.start[0] + (w.end[0] - w.start[0]) * along);
            b.z = float(w.start[2] + (w.end[2] - w.start[2]) * along);
            b.y = float(w.start[1] + (w.end[1] - w.start[1]) * along) + terrain_height_at(&ts->terrain, b.x, b.z);
        }
        show_flagger_frame(&o, w.billboard, &f.walking[i], f.walking_tex[i],
                           walking_flagger_frame(t, v->walking_cue, w.walk_time), tic);
    }

    if (!o.standing_flaggers.empty()) {
        std::vector<order_entry> order = running_order(ts->race.riders);
        const race_clock &c = ts->race.clock;
        standing_flagger_input in;
        in.leader_progress = order.empty() ? 0 : order.front().progress;
        in.first_lap = ts->timing.first_lap;
        in.normal_lap = ts->timing.normal_lap;
        in.lap_target = c.lap_target;
        in.halfway_lap = c.halfway_lap;
        in.extra_laps = c.extra_laps;
        in.time_up = c.race_length > 0 && int64_t(c.tic) >= int64_t(c.start_tic) + c.race_length;
        int frame = standing_flagger_frame(in);
        for (size_t i = 0; i < o.standing_flaggers.size(); ++i)
            show_flagger_frame(&o, o.standing_flaggers[i].billboard, &f.standing[i], f.standing_tex[i], frame, tic);
    }

    // Gate flaggers wave their second frame for riders in trouble; until the
    // computer riders' trouble flag exists no checkpoint is ever marked.
    for (size_t i = 0; i < o.gate_flaggers.size(); ++i)
        show_flagger_frame(&o, o.gate_flaggers[i].billboard, &f.gate[i], f.gate_tex[i], 0, tic);
}

// ---------------------------------------------------------------- the scene

void bike_opacities(views_state *v) {
    const track_state *ts = v->track;
    const RiderState *local = rider_slot(ts->local_slot);
    body_frame mine;
    bool have_local = !(v->loop && v->loop->connected) && read_body(local, BODY_FRAME, &mine);
    double fade = config().ghost_fade_distance.value;
    for (int k = 0; k < RACE_SLOTS; ++k) {
        bool replayed = ts->race.mode[size_t(k)] == SLOT_REPLAYED;
        double d = -1;
        body_frame other;
        if (have_local && replayed && read_body(rider_slot(k), BODY_FRAME, &other))
            d = std::hypot(other.position[0] - mine.position[0], other.position[1] - mine.position[1],
                           other.position[2] - mine.position[2]);
        v->opacity[size_t(k)] = float(bike_opacity(replayed, d, slot_present(ts->race, k), fade));
    }
}

bool place_camera(views_state *v, view_mode view, int width, int height, view_camera *cam) {
    const config_settings &c = config();
    const RiderState *r = viewed_rider(v);
    switch (view) {
    case view_mode::ride: {
        body_frame rider;
        if (!read_body(r, BODY_RIDER, &rider))
            return false;
        ride_view_settings s;
        s.height = c.first_person_height.value;
        s.angle = c.first_person_angle.value;
        s.gimbal = c.first_person_gimbal.value;
        s.fov_y = vertical_fov(c.fov.value, width, height);
        double time = v->track->race.clock.tic * TIC_LENGTH;
        vec3d z1;
        ride_view_camera(rider, s, time, &v->gimbal, cam, &z1);
        if (v->print_orientation)
            velk_log("t=%f p0=%f p1=%f p2=%f x0=%f x1=%f x2=%f z0=%f z1=%f z2=%f\n", time, cam->eye[0], cam->eye[1],
                     cam->eye[2], cam->x[0], cam->x[1], cam->x[2], z1[0], z1[1], z1[2]);
        v->listener_velocity = rider.velocity;
        return true;
    }
    case view_mode::orbit: {
        body_frame frame;
        if (!read_body(r, BODY_FRAME, &frame))
            return false;
        orbit_view_params p;
        p.chase_center = v->chase_center;
        p.local_active = local_rider_active(v);
        p.rigid = c.rigid_camera.selected != 0;
        p.follow_distance = c.third_person_distance.value;
        p.follow_height = c.third_person_height.value;
        orbit_view_camera(v->orbit, frame, p, ground_height, &v->track->terrain, cam);
        cam->fov_y = vertical_fov(c.fov.value, width, height);
        v->listener_velocity = frame.velocity;
        return true;
    }
    case view_mode::trackside: {
        const operated_camera &oc = v->chosen >= 0 && size_t(v->chosen) < v->cameras.size()
                                        ? v->cameras[size_t(v->chosen)]
                                        : v->free_camera;
        camera_axes_from_angles(oc.yaw, oc.pitch, cam);
        cam->eye = oc.position;
        double fov = v->chosen >= 0 ? oc.fov : c.fov.value;
        cam->fov_y = vertical_fov(fov, width, height);
        v->listener_velocity = {};
        return true;
    }
    case view_mode::editor:
    case view_mode::no_track:
        break;
    }
    return false;
}

// ---------------------------------------------------------------- hooks

void hook_draw(void *ctx, view_mode view, int width, int height) {
    auto *v = static_cast<views_state *>(ctx);
    if (!v->track || v->track->folder.empty() || !v->track->terrain.loaded) {
        // The no-track screen says why there is no track.
        if (!v->no_track_message.empty())
            draw_message_text(v->no_track_message, width, height);
        return;
    }
    views_sync_track(v);
    view_camera cam;
    if (place_camera(v, view, width, height, &cam))
        views_draw_scene(v, cam, width, height);
}

int hook_camera_count(void *ctx) {
    auto *v = static_cast<views_state *>(ctx);
    views_sync_track(v);
    return int(v->cameras.size());
}

void hook_select_camera(void *ctx, int camera) {
    views_select_camera(static_cast<views_state *>(ctx), camera);
}

void hook_camera_tic(void *ctx, view_mode view, const float inputs[9]) {
    auto *v = static_cast<views_state *>(ctx);
    views_camera_tic(v, view, inputs, v->loop && v->loop->paused);
}

}  // namespace

void views_draw_scene(views_state *v, const view_camera &cam, int width, int height) {
    track_state *ts = v->track;
    if (ts->timing.valid)
        animate_flaggers(v);
    AdvanceAnimations(ts->race.clock.tic);
    stutter(v, "js");

    terrain_update_detail_textures(&ts->terrain);
    stutter(v, "rendertex");

    // Sky box and fog come with the scene effects; the frame was cleared to
    // the sky colour.
    terrain_camera tc;
    for (int i = 0; i < 3; ++i) {
        tc.position[i] = float(cam.eye[size_t(i)]);
        tc.forward[i] = float(-cam.z[size_t(i)]);
        tc.up[i] = float(cam.y[size_t(i)]);
    }
    tc.fov_y = float(cam.fov_y);
    tc.width = width;
    tc.height = height;
    tc.near_plane = ts->lighting.near_plane;
    tc.far_plane = ts->lighting.far_plane;
    terrain_draw_view(&ts->terrain, tc, &ts->lighting);
    stutter(v, "drawterrain");

    bike_opacities(v);
    // Bikes of opacity 1 are drawn here.
    stutter(v, "drawbikes");
    // Statues.
    stutter(v, "drawstatues");
    // Billboards (the flaggers among them).
    stutter(v, "drawbillboards");
    // Bikes below opacity 1.
    stutter(v, "drawghosts");
}

void views_sync_track(views_state *v) {
    if (!v->track)
        return;
    const track_objects &o = v->track->objects;
    if (v->cameras_of == &o && v->cameras_load == v->track->full_loads)
        return;
    v->cameras_of = &o;
    v->cameras_load = v->track->full_loads;
    v->cameras.clear();
    for (const track_camera &c : o.cameras) {
        operated_camera oc;
        oc.position = {c.x, c.y, c.z};
        oc.fov = c.fov;
        oc.autofovsize = c.autofovsize;
        v->cameras.push_back(oc);
    }
    if (v->chosen >= int(v->cameras.size()))
        v->chosen = -1;
    v->switched = true;
    v->walking_cue = WALKING_FLAGGER_CUE;
    v->flaggers = flagger_frames{};
}

void views_select_camera(views_state *v, int camera) {
    int chosen = camera >= 0 && camera < int(v->cameras.size()) ? camera : -1;
    if (chosen != v->chosen)
        v->switched = true;
    v->chosen = chosen;
}

void views_camera_tic(views_state *v, view_mode view, const float in[9], bool paused) {
    if (!v->track || v->track->folder.empty())
        return;
    if (view == view_mode::orbit) {
        orbit_tic(&v->orbit, in, TIC_LENGTH);
        return;
    }
    if (view != view_mode::trackside)
        return;
    views_sync_track(v);
    track_state *ts = v->track;

    if (in[6] > 0.5f && v->sit_prev <= 0.5f)
        v->following = !v->following;
    v->sit_prev = in[6];

    // Following with laps: the camera that watches the viewed rider's next gate.
    int viewed = ts->viewed_slot;
    if (v->following && ts->timing.valid && !ts->timing.sequence.empty() && v->chosen != -1 && viewed >= 0 && viewed < RACE_SLOTS) {
        int32_t next = ts->race.riders[size_t(viewed)].progress;
        int32_t cp = gate_entry(ts->timing, next) % GATE_NO_LEARN;
        if (cp >= 0 && cp < MAX_GATES) {
            int cam = ts->objects.gate_camera[size_t(cp)];
            if (cam >= 0 && cam < int(v->cameras.size()) && cam != v->chosen)
                views_select_camera(v, cam);
        }
    }

    operated_camera *c = v->chosen >= 0 ? &v->cameras[size_t(v->chosen)] : &v->free_camera;
    body_frame frame;
    operator_input op;
    op.following = v->following;
    op.just_switched = v->switched;
    op.steer = in[0];
    op.shift = in[4];
    if (read_body(viewed_rider(v), BODY_FRAME, &frame)) {
        op.target = frame.position;
        op.velocity = paused ? vec3d{} : frame.velocity;
    } else {
        op.following = false;
    }
    camera_operator_tic(c, op, TIC_LENGTH);
    v->switched = false;
    if (v->chosen < 0) {
        free_camera_move(c, &v->free_speed, in, TIC_LENGTH, ground_height, &ts->terrain);
        c->fov = config().fov.value;
    }
}

void views_attach(frame_loop *L, views_state *v) {
    v->loop = L;
    L->hooks.view_ctx = v;
    L->hooks.draw = hook_draw;
    L->hooks.camera_count = hook_camera_count;
    L->hooks.select_camera = hook_select_camera;
    L->hooks.camera_tic = hook_camera_tic;
}
