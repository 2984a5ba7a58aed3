// The frame loop: the program's only main loop.
//
// Each round draws one frame, decides how much game time the frame stands
// for (the frame step), then runs as many fixed 1/128 s tics as fit below the
// target time. Inputs: the wall clock and the time-stamped event queue.
// Outputs: the game clock (UI timers), the simulated time (tics run), frame
// statistics, and the quit flag.
//
// A round, in order:
//   - quit flag set -> leave
//   - view mode update
//   - draw (when the window is visible), swap, leave when the window closed
//   - sound
//   - frame step: 1..16 tics of game time, or 1/R s with "--lock-fps R",
//     or 100 tics with "--warp"; sleeps to cap the rate at 128 frames/s
//   - target time and game clock += step; frame-time history
//   - controls that named a device plugged in since are bound
//   - tics: while simulated < target: simulated += tic, then
//       events due by the tic's wall time (frame wall - target + simulated),
//       the input vector from the control bindings,
//       rider inputs / camera tic (in the editor view, offline, the tic
//       ends here),
//       the race tic (unless paused or there is no track), then a share of
//       the erode queue
//   - "--warp": a race whose leader has completed its laps starts again
//   - terrain renderer update
//   - every 5 s of game clock: "[SPAM] Setup change" when the setup changed
//   - remember the round's end wall time
//
// A slow frame never stands for more than 0.125 s (16 tics): time beyond that
// is dropped rather than caught up, so the game slows instead of spiralling.
// The time spent running tics is not counted into the next frame's step.
//
// The erode queue is applied after every race tic rather than once a frame,
// so the heights change at the same tics, and the same inputs dig the same
// ruts, whatever the frame rate.

#include "core/core_local.h"
#include "files/files.h"
#include "render/render.h"
#include "track/track.h"

#include <algorithm>
#include <cmath>

static_assert(std::tuple_size_v<decltype(frame_loop::inputs)> == INPUT_COUNT);

namespace {

int histogram_bucket(double elapsed) {
    int bucket = 0;
    double limit = TIC_LENGTH;
    while (bucket < 7 && elapsed >= limit) {
        ++bucket;
        limit *= 2;
    }
    return bucket;
}

double now(const frame_loop *L) {
    return L->clock.now(L->clock.ctx);
}

bool hook_true(bool (*f)(void *), void *ctx) {
    return f && f(ctx);
}

void *view_ctx(const frame_loop *L) {
    return L->hooks.view_ctx ? L->hooks.view_ctx : L->hooks.ctx;
}

void update_view_mode(frame_loop *L) {
    bool loaded = hook_true(L->hooks.track_loaded, L->hooks.ctx);
    bool has_bike = hook_true(L->hooks.viewed_slot_has_bike, L->hooks.ctx);
    bool local = hook_true(L->hooks.viewed_slot_local, L->hooks.ctx);
    // A spy watching from a trackside camera is no rider.
    if (config().spy && L->view == view_mode::trackside)
        local = false;
    if (!loaded) {
        L->view = view_mode::no_track;
        L->had_track = false;
        return;
    }
    if (!L->had_track) {
        L->had_track = true;
        L->view = has_bike ? view_mode::ride : view_mode::trackside;
        return;
    }
    if (!has_bike)
        L->view = view_mode::trackside;
    else if (L->view == view_mode::editor || L->view == view_mode::orbit)
        return;
    else if (local)
        L->view = view_mode::ride;
}

// The erode queue's share of one race tic, held back near the first local bike.
void erode_tic(frame_loop *L) {
    if (!L->erosion || !L->terrain || L->erosion->level <= 0)
        return;
    float rider[3];
    bool have_rider = L->hooks.local_position && L->hooks.local_position(L->hooks.ctx, rider);
    apply_erode_queue(L->erosion, L->terrain, have_rider ? rider : nullptr, float(L->erosion->level) / 1024.0f,
                      L->race_tics);
}

// The race tic and the erosion that follows it: the loop's tics and the
// step key both come here, so stepping digs as running does.
void run_race_tic(frame_loop *L) {
    if (L->hooks.race_tic)
        L->hooks.race_tic(L->hooks.ctx);
    if (L->race_tics < INT32_MAX)
        ++L->race_tics;
    stutter_check(L, "tic");
    erode_tic(L);
    stutter_check(L, "erode");
}

void cycle_view(frame_loop *L) {
    switch (L->view) {
    case view_mode::ride:
        L->view = L->editor_enabled ? view_mode::editor : view_mode::orbit;
        break;
    case view_mode::editor:
        L->view = view_mode::orbit;
        break;
    case view_mode::orbit:
        L->view = view_mode::trackside;
        break;
    case view_mode::trackside:
        L->view = view_mode::ride;
        break;
    case view_mode::no_track:
        break;
    }
}

void select_digit_camera(frame_loop *L, int digit) {
    if (!L->hooks.camera_count)
        return;
    int cameras = L->hooks.camera_count(view_ctx(L));
    L->camera = std::min(digit, cameras) - 1;
    if (L->hooks.select_camera)
        L->hooks.select_camera(view_ctx(L), L->camera);
}

// The drawing between the frame's begin and its swap.
void draw_frame(frame_loop *L, int width, int height) {
    krgl_stats_new_frame();
    krglViewport(0, 0, width, height);
    krglClearColor(0.196078f, 0.6f, 0.8f, 0.0f);
    krglClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (L->hooks.draw)
        L->hooks.draw(view_ctx(L), L->view, width, height);
    // Whatever the drawing left queued reaches GL before the swap.
    krglFlush();
    if (L->record_video && !L->paused && hook_true(L->hooks.track_loaded, L->hooks.ctx)) {
        std::vector<uint8_t> rgb;
        if (!read_frame_rgb(width, height, &rgb) || !write_ppm_frame(stdout, rgb.data(), width, height)) {
            velk_log("Video recording stopped: can't write a frame\n");
            L->record_video = false;
        }
    }
    if (L->screenshot_pending) {
        L->screenshot_pending = false;
        std::string saved;
        if (save_screenshot(L->data_names, width, height, &saved))
            show_message_line("Saved \"%s\"", saved.c_str());
    }
}

// One input event of a tic.
void handle_event(frame_loop *L, const velk_event &ev) {
    const loop_keys &k = L->keys;
    if (ev.code == k.close && ev.pressed) {
        L->quit = true;
        return;
    }
    // Esc ends the program.
    if (k.esc != 0 && ev.code == k.esc && ev.pressed) {
        L->quit = true;
        return;
    }
    bindings_key_event(ev.code, ev.pressed);
    if (!ev.pressed)
        return;
    if (L->view == view_mode::no_track)
        return;
    if (ev.code == k.pause) {
        if (!L->connected)
            L->paused = !L->paused;
    } else if (ev.code == k.step) {
        if (L->paused)
            run_race_tic(L);
    } else if (ev.code == k.tab) {
        cycle_view(L);
    } else if (ev.code == k.rewind) {
        if (L->hooks.demo_seek)
            L->hooks.demo_seek(L->hooks.ctx, -1);
    } else if (ev.code == k.skip) {
        if (L->hooks.demo_seek)
            L->hooks.demo_seek(L->hooks.ctx, +1);
    } else if ((ev.code == k.prev_rider && k.prev_rider != 0) || (ev.code == k.next_rider && k.next_rider != 0)) {
        // A rider may not watch another; a spy, or a rider waiting online
        // for a race slot, may.
        bool local_active = hook_true(L->hooks.viewed_slot_local, L->hooks.ctx);
        if (L->hooks.step_viewed_rider && (!local_active || (L->connected && L->warmup) || config().spy))
            L->hooks.step_viewed_rider(L->hooks.ctx, ev.code == k.prev_rider ? -1 : +1);
    } else if (ev.code == k.screenshot && k.screenshot != 0) {
        // Taken after the next frame is drawn, so it holds a whole frame.
        if (L->view != view_mode::editor)
            L->screenshot_pending = true;
    } else {
        for (int d = 0; d < 10; ++d) {
            if (ev.code == k.digits[size_t(d)]) {
                select_digit_camera(L, d);
                break;
            }
        }
    }
}

}  // namespace

void stutter_check(frame_loop *L, const char *label) {
    if (!(L->stutter_threshold > 0))
        return;
    double t = now(L);
    if (L->have_checkpoint && t - L->stutter_checkpoint > L->stutter_threshold)
        show_message_line("Stutter in %s - %f seconds", label, t - L->stutter_checkpoint);
    L->stutter_checkpoint = t;
    L->have_checkpoint = true;
}

void frame_loop_init(frame_loop *L) {
    L->history.clear();
    L->history.reserve(FRAME_HISTORY_SIZE);
    L->prev_frame_end = now(L);
    L->device_additions = input_device_additions();
}

double frame_step(frame_loop *L) {
    double t = now(L);
    double elapsed = t - L->prev_frame_end;
    L->histogram[size_t(histogram_bucket(elapsed))]++;

    double step;
    if (!L->connected && L->lock_fps > 0) {
        double period = 1.0 / L->lock_fps;
        if (elapsed < period) {
            L->clock.sleep(L->clock.ctx, period - elapsed);
            t = now(L);
        }
        step = period;
    } else if (!L->connected && L->warp) {
        step = WARP_TICS * TIC_LENGTH;
    } else if (L->headless) {
        // Game time runs as fast as the processor allows.
        step = MAX_FRAME_STEP;
    } else {
        while (elapsed < TIC_LENGTH) {
            L->clock.sleep(L->clock.ctx, L->prev_frame_end + TIC_LENGTH - t);
            t = now(L);
            elapsed = t - L->prev_frame_end;
        }
        step = std::min(elapsed, MAX_FRAME_STEP);
    }
    L->frame_wall = t;
    if (!L->have_step) {
        L->min_step = L->max_step = step;
        L->have_step = true;
    } else {
        L->min_step = std::min(L->min_step, step);
        L->max_step = std::max(L->max_step, step);
    }
    L->step = step;
    return step;
}

void frame_run_tics(frame_loop *L) {
    while (L->sim_time < L->target_time) {
        L->sim_time += TIC_LENGTH;

        // The events that happened by the time this tic falls due.
        double due = L->frame_wall - L->target_time + L->sim_time;
        velk_event ev;
        while (!L->quit && L->input.next_until && L->input.next_until(L->input.ctx, due, &ev)) {
            stutter_check(L, "getmessage");
            handle_event(L, ev);
        }
        stutter_check(L, "processmessage");

        // Analog bindings, then the rider's inputs from every binding.
        bindings_update_axes();
        bindings_input_vector(L->inputs.data());

        // In the editor view the race stands still offline.
        if (L->view == view_mode::editor && !L->connected)
            continue;
        // The viewed local rider takes the inputs.
        if (L->hooks.rider_inputs && L->view != view_mode::no_track && L->view != view_mode::editor &&
            hook_true(L->hooks.viewed_slot_local, L->hooks.ctx) &&
            hook_true(L->hooks.viewed_slot_has_bike, L->hooks.ctx))
            L->hooks.rider_inputs(L->hooks.ctx, L->inputs.data());
        if (L->hooks.camera_tic && (L->view == view_mode::orbit || L->view == view_mode::trackside))
            L->hooks.camera_tic(view_ctx(L), L->view, L->inputs.data());
        stutter_check(L, "action");

        // The race tic, and the erosion that goes with it.
        if (!L->paused && L->view != view_mode::no_track)
            run_race_tic(L);
    }
}

void loop_keys_take_bindings(loop_keys *k) {
    const config_settings &c = config();
    auto bound = [&](int i) { return c.controls[i].has_code ? c.controls[i].code : 0u; };
    k->pause = bound(CONTROL_PAUSE);
    k->step = bound(CONTROL_STEP);
    k->rewind = bound(CONTROL_REWIND);
    k->skip = bound(CONTROL_SKIP);
    k->prev_rider = bound(CONTROL_PREV);
    k->next_rider = bound(CONTROL_NEXT);
    k->chat = bound(CONTROL_CONSOLE);
    k->screenshot = bound(CONTROL_SCREENSHOT);
}

bool frame_round(frame_loop *L) {
    if (L->quit)
        return false;
    update_view_mode(L);

    if (L->window && velk_window_visible(L->window)) {
        int width = 0, height = 0;
        if (velk_frame_begin(L->window, &width, &height)) {
            draw_frame(L, width, height);
            stutter_check(L, "draw");
            if (L->glfinish)
                krglFinish();
            velk_frame_end(L->window);
            if (velk_window_closed(L->window))
                return false;
            stutter_check(L, "flip");
        }
    }

    double step = frame_step(L);
    L->target_time += step;
    L->game_clock += step;
    if (L->history.size() < size_t(FRAME_HISTORY_SIZE))
        L->history.push_back(float(L->frame_wall - L->prev_frame_end));

    // A controller plugged in since the last round: the controls that
    // named it are bound now.
    if (!L->headless) {
        uint32_t added = input_device_additions();
        if (added != L->device_additions) {
            L->device_additions = added;
            if (bindings_bind_missing() > 0)
                loop_keys_take_bindings(&L->keys);
        }
    }

    frame_run_tics(L);
    if (L->quit_after > 0 && L->game_clock >= L->quit_after)
        L->quit = true;

    // "--warp": a finished race starts again.
    if (L->warp && hook_true(L->hooks.track_loaded, L->hooks.ctx) && L->hooks.restart_race &&
        hook_true(L->hooks.race_finished, L->hooks.ctx))
        L->hooks.restart_race(L->hooks.ctx);

    // The terrain renderer catches up with the height changes: at most
    // 2^terrain_resync_rate height blocks a frame, all of them in the editor.
    if (L->terrain && L->terrain->loaded && !L->headless) {
        int budget = L->view == view_mode::editor ? -1 : int(std::exp2(config().terrain_resync_rate.value));
        terrain_render_update(L->terrain, budget);
        stutter_check(L, "update");
    }

    // Setup changes applied to the bike since the last check.
    if (L->game_clock >= L->next_setup_check) {
        L->next_setup_check = L->game_clock + SETUP_CHECK_PERIOD;
        std::string line;
        if (setup_watch_report(&line)) {
            line.pop_back();  // the message line carries no newline of its own
            show_message_line("%s", line.c_str());
        }
    }

    L->prev_frame_end = now(L);
    return !L->quit;
}

void frame_loop_run(frame_loop *L) {
    frame_loop_init(L);
    while (frame_round(L)) {
    }
}

loop_clock platform_loop_clock() {
    loop_clock c;
    c.now = [](void *) { return velk_seconds(); };
    c.sleep = [](void *, double seconds) {
        if (seconds <= 0)
            return;
        velk_clock d = velk_clock_from_seconds(seconds);
        velk_sleep(d.sec, d.usec);
    };
    c.ctx = nullptr;
    return c;
}

loop_input platform_loop_input() {
    loop_input in;
    in.next_until = [](void *ctx, double deadline, velk_event *ev) {
        if (ctx)
            velk_pump_events(static_cast<velk_window *>(ctx));
        return input_next_event_until(velk_clock_from_seconds(deadline), ev);
    };
    in.ctx = nullptr;
    return in;
}

loop_keys default_loop_keys() {
    loop_keys k;
    k.esc = VELK_KEY_BASE + 0x01;
    k.tab = VELK_KEY_BASE + 0x0F;
    k.pause = VELK_KEY_BASE + 0x45;
    k.step = VELK_KEY_BASE + 0x34;        // "."
    k.rewind = VELK_KEY_BASE + 0x2B;      // "\"
    k.skip = VELK_KEY_BASE + 0x35;        // "/"
    k.prev_rider = VELK_KEY_BASE + 0x1A;  // "["
    k.next_rider = VELK_KEY_BASE + 0x1B;  // "]"
    k.chat = VELK_KEY_BASE + 0x14;        // "t"
    k.screenshot = VELK_KEY_BASE + 0x1F;  // "s"
    k.digits[0] = VELK_KEY_BASE + 0x0B;
    for (uint32_t d = 1; d < 10; ++d)
        k.digits[d] = VELK_KEY_BASE + 0x01 + d;
    return k;
}

bool write_ppm_frame(std::FILE *out, const uint8_t *rgb, int width, int height) {
    if (!out || width <= 0 || height <= 0)
        return false;
    if (std::fprintf(out, "P6\n%d %d\n255\n", width, height) < 0)
        return false;
    size_t row = size_t(width) * 3;
    if (std::fwrite(rgb, row, size_t(height), out) != size_t(height))
        return false;
    return std::fflush(out) == 0;
}
