// core_local.h -- private to core/: the start-up switches, the command-line
// parser and the frame loop's state and steps.
#pragma once

#include "core/core.h"
#include "platform/platform.h"
#include "track/track.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// ---------------------------------------------------------------- start-up switches

// Filled with defaults, then from the configuration, then overridden by the
// command line. Program lifetime; owned by start-up.
struct startup_switches {
    bool fugly = false;               // flat clear colour instead of the sky box
    bool nosound = false;
    bool novertexarrays = false;
    bool learn = false;               // write learned riding lines
    bool practice = false;            // every computer rider is a "tester"
    bool warp = false;                // 100 tics per frame, restart finished races
    bool record_video = false;        // PPM frames to standard output
    bool editor = false;
    bool hidden_pause = false;
    bool hidden_hud = false;
    bool accurate_skip = false;
    bool glfinish = false;
    bool print_orientation = false;
    bool terrain_wireframe = false;
    bool disable_tmesh = false;
    bool debug_ground_textures = false;
    int verbosity = 0;

    int texture_reduction = 0;        // 0..4 from the command line, 0..10 from the configuration
    int roost_frequency = 1000;       // 0..1000
    int erode_amount = 0;             // 1/1024 units, 0 = off
    bool detail_set = false;
    double terrain_detail = 0.125;    // 0.125 / ground_detail
    bool max_detail_distance_set = false;
    double max_detail_distance = 0;
    double detail_fade_distance = 0;  // max_detail_distance + 5
    double lod_scale = 1.0;
    double lod_bias = 0.0;
    double lock_fps = 0;              // frames per second, 0 = off
    double fake_lag = 0;              // seconds, 0..1
    int fake_loss = 0;                // percent, 0..100
    std::string record_audio;         // file for offline audio, empty = off
    int rotate_lineup = 0;
    int width = 640;                  // windowed size (configuration xres, yres)
    int height = 480;
    int colour_bits = 16;
    int depth_bits = 16;
    int draw_fps = 0;
    int draw_time = 0;
    int draw_ping = 0;
    int draw_speed = 0;
    int draw_render_stats = 0;
    std::string track;                // start track, empty = none
    std::string connect;              // server to join, empty = none
    std::string password;
    std::array<float, 3> chase_center = {0.0f, 2.52f, 0.52f};
    int gl_major = 3;
    int gl_minor = 1;
    velk_gl_kind gl_kind = velk_gl_kind::core;
    std::string file;                 // the demo named on the command line
    // Headless and batch runs.
    bool headless = false;            // no window, GL, audio or input; no frame-rate cap
    double quit_after = 0;            // game seconds, 0 = run until closed
    std::vector<int32_t> lineup;      // load-track codes for slots 0, 1, ...; empty = none
    std::string controls_file;        // the local rider's inputs by game time
    std::string telemetry_file;       // one CSV line per tic for the viewed rider
    bool seed_set = false;            // "--seed N": every random choice of the run from N
    uint32_t seed = 0;
};

struct config_settings;
// The switches the configuration gives before the command line is read
// (window size, HUD switches, start track, roost frequency, texture
// reduction level).
void switches_from_config(const config_settings &c, startup_switches *sw);

// ---------------------------------------------------------------- command line

enum class cmdline_status {
    ok,         // go on with start-up
    open_home,  // "--open-home" was reached: open the home folder, exit 0
    error,      // message holds the text for standard error; exit 1
};

struct cmdline_result {
    cmdline_status status = cmdline_status::ok;
    std::string message;  // error text, or "--bikes" notes for standard error
};

// Parses argv[1..argc-1] into the switches. Stops at the first error or at
// "--open-home". Pure: no output, no side effects beyond `sw`.
[[nodiscard]] cmdline_result parse_command_line(int argc, const char *const *argv, startup_switches *sw);
// Lines for options that are taken but have no effect in this build
// ("--record-audio", a demo file), each ending in a newline; "" for none.
[[nodiscard]] std::string ignored_options_note(const startup_switches &sw);

// ---------------------------------------------------------------- frame loop

enum class view_mode { ride, editor, orbit, trackside, no_track };

// Wall clock and sleep, injectable so the frame rules are tested without sleeping.
struct loop_clock {
    double (*now)(void *ctx);
    void (*sleep)(void *ctx, double seconds);
    void *ctx;
};

// The input source: the next event whose time is not after `deadline`.
struct loop_input {
    bool (*next_until)(void *ctx, double deadline, velk_event *ev);
    void *ctx;
};

// Codes of the keys the loop handles itself.
struct loop_keys {
    uint32_t close = VELK_CLOSE;
    uint32_t esc = 0;
    uint32_t tab = 0;
    uint32_t pause = 0;
    uint32_t step = 0;
    uint32_t rewind = 0;
    uint32_t skip = 0;
    uint32_t prev_rider = 0;
    uint32_t next_rider = 0;
    uint32_t chat = 0;
    uint32_t screenshot = 0;
    std::array<uint32_t, 10> digits = {};  // digit keys 0..9
};

// What the subsystems do inside a frame, filled by the ride session and the
// views. The loop leaves out the step of a null entry.
struct loop_hooks {
    void *ctx = nullptr;
    bool (*track_loaded)(void *ctx) = nullptr;
    bool (*viewed_slot_has_bike)(void *ctx) = nullptr;
    bool (*viewed_slot_local)(void *ctx) = nullptr;
    void (*race_tic)(void *ctx) = nullptr;
    void (*draw)(void *ctx, view_mode view, int width, int height) = nullptr;
    void (*demo_seek)(void *ctx, int direction) = nullptr;
    int (*camera_count)(void *ctx) = nullptr;
    void (*select_camera)(void *ctx, int camera) = nullptr;  // -1: the free camera
    // The first local bike's position (x, y, z); false when there is none.
    bool (*local_position)(void *ctx, float out[3]) = nullptr;
    // The local rider's nine inputs, each tic the viewed local rider
    // rides (map them with map_rider_inputs).
    void (*rider_inputs)(void *ctx, const float inputs[9]) = nullptr;
    // The views' own context for draw, camera_count, select_camera and
    // camera_tic (null: they get ctx).
    void *view_ctx = nullptr;
    // The cameras' tic in the orbit and trackside views.
    void (*camera_tic)(void *ctx, view_mode view, const float inputs[9]) = nullptr;
    // "--warp": whether the leader has completed the race's laps, and the
    // restart (the lineup one slot on, the track loaded again).
    bool (*race_finished)(void *ctx) = nullptr;
    void (*restart_race)(void *ctx) = nullptr;
    // The Previous (-1) and Next (+1) Bike keys: the viewed slot moves along
    // the running order.
    void (*step_viewed_rider)(void *ctx, int direction) = nullptr;
};

constexpr int FRAME_HISTORY_SIZE = 1 << 20;
constexpr double MAX_FRAME_STEP = 0.125;
constexpr int WARP_TICS = 100;
constexpr double SETUP_CHECK_PERIOD = 5.0;  // seconds of game clock

// The loop's state. Program lifetime: created by start-up before the loop.
struct frame_loop {
    // settings from the command line
    bool warp = false;
    double lock_fps = 0;
    bool hidden_pause = false;
    bool hidden_hud = false;
    bool glfinish = false;
    bool editor_enabled = false;
    bool connected = false;  // online play drives the step from the server
    bool warmup = false;     // online, the local rider has no race slot yet
    bool headless = false;   // no frame-rate cap: every frame stands for the longest step
    double quit_after = 0;   // game seconds; 0 = no limit

    loop_clock clock{};
    loop_input input{};
    loop_keys keys{};
    loop_hooks hooks{};
    velk_window *window = nullptr;

    // clocks (seconds)
    double game_clock = 0;
    double sim_time = 0;
    double target_time = 0;
    double prev_frame_end = 0;  // wall time the previous round ended
    double frame_wall = 0;      // wall time of this frame's step reading
    double step = 0;
    double min_step = 0;
    double max_step = 0;
    bool have_step = false;

    // statistics
    std::array<uint32_t, 8> histogram{};
    std::vector<float> history;  // reserved once, never grown past FRAME_HISTORY_SIZE

    // stutter diagnostics
    double stutter_threshold = 0;
    double stutter_checkpoint = 0;
    bool have_checkpoint = false;

    // The rider's nine inputs, rebuilt from the control bindings each tic.
    std::array<float, 9> inputs{};

    // drawing: "--record-video" frames, a screenshot asked for by the key
    // (taken at the next drawn frame), the data names that number them
    bool record_video = false;
    bool screenshot_pending = false;
    const char *const *data_names = nullptr;

    bool quit = false;
    bool paused = false;
    bool had_track = false;
    view_mode view = view_mode::no_track;
    int camera = -1;  // trackside camera, -1 = free camera

    // The loaded terrain and its erosion work; null for none. A share of
    // the erode queue is applied after every race tic, so the same inputs
    // dig the same ruts at any frame rate.
    Terrain *terrain = nullptr;
    terrain_erosion *erosion = nullptr;
    int32_t race_tics = 0;  // race tics the loop has run: the erode queue's clock

    double next_setup_check = SETUP_CHECK_PERIOD;  // game clock of the next "Setup change" check
    uint32_t device_additions = 0;                 // input devices seen added; a new one rebinds
};

// Prepares the loop: reserves the history, reads the clock for the first frame.
void frame_loop_init(frame_loop *L);
// The game time the coming frame represents; sleeps to keep to 128 frames a
// second or to the locked rate. Counts the frame in the histogram.
[[nodiscard]] double frame_step(frame_loop *L);
// Runs the tics that fit below the target time.
void frame_run_tics(frame_loop *L);
// One round of the loop; false when the loop is to end.
[[nodiscard]] bool frame_round(frame_loop *L);
// Runs rounds until the quit flag or a closed window.
void frame_loop_run(frame_loop *L);
// Stutter diagnostics at a labelled point of the frame.
void stutter_check(frame_loop *L, const char *label);
// The real clock and event queue of the platform.
[[nodiscard]] loop_clock platform_loop_clock();
[[nodiscard]] loop_input platform_loop_input();
// The default key codes (headless runs, which bind nothing).
[[nodiscard]] loop_keys default_loop_keys();
// The eight configurable keys (pause, step, rewind, skip, previous and next
// rider, console, screenshot) from the bound controls; 0 for unbound ones.
void loop_keys_take_bindings(loop_keys *k);

// Writes one "--record-video" frame (8-bit RGB rows, top to bottom) as a
// binary PPM. False, and recording should stop, when the stream fails.
[[nodiscard]] bool write_ppm_frame(std::FILE *out, const uint8_t *rgb, int width, int height);

// The loading screen's tick for long loads: drains window events, redraws
// and swaps at most every 0.0625 s while visible; false once the window has
// closed. Uses the program's window (none: nothing is drawn).
bool loading_screen_tick();

// ---------------------------------------------------------------- watched setup values

constexpr int SETUP_WATCH_COUNT = 40;
// Every watched value copies its current value; the changed marks clear.
void setup_watch_snapshot();
// The setup was applied to the bike: values that differ from their
// snapshot are marked changed.
void setup_watch_applied();
// When any value is marked changed: "[SPAM] Setup change " with one
// character per watched value (its letter when changed, "-" otherwise) and
// a newline; then new snapshots. False (nothing to say) otherwise.
[[nodiscard]] bool setup_watch_report(std::string *line);

// ---------------------------------------------------------------- program state

// One entry of the display mode list: 0 "Default Fullscreen" (desktop size),
// 1 "Windowed", then "%dx%d" for each mode of the first mode's depth.
struct display_mode_entry {
    int width;
    int height;
    std::string name;
};

// A demo of the demo list: its data name and the name shown in the menus.
struct demo_entry {
    std::string file;
    std::string display_name;
};

struct track_state;
struct track_state_deleter {
    void operator()(track_state *t) const;
};

// Everything that lives for the whole run. Created and cleared by
// kessrun_main only.
struct program_state {
    startup_switches sw;
    std::vector<display_mode_entry> display_modes;
    int display_mode = 0;  // index into display_modes (configuration value)
    std::vector<demo_entry> demos;
    std::vector<track_entry> tracks;  // the track list
    int start_track = -1;             // index into tracks, -1 = none
    std::string track_title;          // the start track's description
    std::unique_ptr<track_state, track_state_deleter> track;  // the loaded track and its riders
    int exit_code = 0;                    // of a run that ends through shutdown
    std::string dead_end;                 // why there is no track (the no-track screen shows it)
    bool fixed_file_match = false;
    velk_window *window = nullptr;
    frame_loop loop;
};

// The display mode list for the platform's modes.
[[nodiscard]] std::vector<display_mode_entry> build_display_mode_list(std::span<const velk_display_mode> modes);
// The demo list from the data name list: "demos/....krdemo", sorted by name.
[[nodiscard]] std::vector<demo_entry> build_demo_list(const char *const *names);
// Digest of the physics shape files; true when it is one of the accepted ones.
[[nodiscard]] bool fixed_files_match(char hex_out[41]);
