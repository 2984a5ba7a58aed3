// files.h -- data files: the search directories, the index of every data
// file (loose files and ".saf" archive members), opening a name as a stream
// (inflating ".gz" variants), the text readers on streams, and the checked
// allocator.
//
// Owns:      the search directories, the file index and its name list, every
//            open data_file, the allocation table of the allocation checker.
// Depends:   platform/ (directories, directory walk, log), zlib.
// Called by: everyone who reads or writes a file; start-up builds the index
//            (file_index_build), sets the loading-screen tick and frees the
//            index at shutdown (file_index_free); kr_alloc_report runs last.
// Lifetime:  the search directories are fixed on first use; the index is
//            built once and not refreshed (files written later are still
//            found by direct path). A data_file lives from data_open to
//            data_close. Nothing here is thread-safe except the allocator.
//
// Names: "@rest" is a data name, looked up under each search directory (home
// first, then the game data directory), then in the index, ignoring case;
// anything else is a path used unchanged. "/" is the separator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// ---------------------------------------------------------------- streams

struct data_file;

// Reading. The end of a stream is the end of the file, of an archive member,
// or of the compressed data; reads there return -1 or short counts.
// The next byte, or the push-back character if there is one.
[[nodiscard]] int data_getc(data_file *f);
// Like data_getc, but the character stays as the push-back character.
[[nodiscard]] int data_peekc(data_file *f);
// Reads up to and including "\n", or size - 1 bytes, and ends the text with
// a zero byte; null when the stream was already at its end.
char *data_gets(data_file *f, char *buf, int size);
// Reads at most `count` bytes; returns how many were stored.
[[nodiscard]] size_t data_read(data_file *f, void *buf, size_t count);
// scanf conventions over the stream: returns the number of assigned
// conversions, or -1 when the input ended before the first conversion. The
// first character that does not fit is left as the push-back character.
// Field widths bound every store ("%15s" stores at most 15 characters and a
// zero); integers that overflow saturate at the limits of their type.
int data_scanf(data_file *f, const char *fmt, ...) __attribute__((format(scanf, 2, 3)));
// Skips white space and "#" comments up to the next item.
void data_skip_comments(data_file *f);
// Skips white space; returns how many characters were skipped, -1 at the end.
int data_skip_space(data_file *f);

// Writing (streams opened in a write mode; -1 / 0 otherwise).
int data_putc(data_file *f, int c);
int data_puts(data_file *f, const char *s);
[[nodiscard]] size_t data_write(data_file *f, const void *buf, size_t count);
int data_printf(data_file *f, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
int data_flush(data_file *f);

// Moves to `offset` from the start of the stream's data. Not on inflated
// streams, and only below the stream's limit. Drops the push-back character.
[[nodiscard]] bool data_seek(data_file *f, uint32_t offset);
// Ends inflation, closes the file, releases the stream. Null is ignored.
void data_close(data_file *f);

struct data_file_closer {
    void operator()(data_file *f) const { data_close(f); }
};
using data_file_ptr = std::unique_ptr<data_file, data_file_closer>;

// Opens a name: "rb", "wb", "w", "r+b" ... ; a leading "~" keeps a numbered
// backup ("path.~N~") of a file about to be overwritten. Write modes make the
// missing directories along the path. Null when nothing is found, a directory
// cannot be made, a path is too long, a gzip header is bad or a backup cannot
// be made; nothing is logged.
[[nodiscard]] data_file *data_open(const char *name, const char *mode);
// The whole of a data name or path as a zero-ended string (release with
// kr_free); null when it cannot be opened, memory is short, or it holds
// 16 MiB or more (logged).
[[nodiscard]] char *file_to_string(const char *name);
// Moves a file: "@" names are taken in the home directory. The destination
// is replaced atomically, so it survives a missing source or a failed move.
[[nodiscard]] bool data_rename(const char *from, const char *to);

// ---------------------------------------------------------------- search directories and index

// Search directory i ("/"-terminated), null past the end: the home directory
// ($XDG_DATA_HOME/Kessrun/) first, then the game data directory (KR_HOME, else
// the executable's directory). Writers use entry 0.
[[nodiscard]] const char *search_dir(int i);
// Whether the game data directory holds a "tracks" directory or a ".saf" file.
[[nodiscard]] bool data_present();
// Called once per directory walked and per archive read while the index is
// built, so the window stays responsive. Null (the default) for none.
void file_index_set_tick(bool (*tick)());
// Builds the index on its first call; returns the name list: every distinct
// key once, in case-insensitive order, ended by a null. Null when memory is
// short. Later calls return the same list.
[[nodiscard]] const char *const *file_index_build();
// Position of the best (lowest-rank) entry for a key (no "@"), or -1.
[[nodiscard]] int file_index_find(const char *key);
// Writes "key -> open path" into buf, each piece cut to fit; false for a
// position outside the index.
bool file_index_describe(int pos, char *buf, size_t size);
// Whether the index holds the key.
[[nodiscard]] bool data_exists(const char *key);
// Releases the index and the name list.
void file_index_free();
// Makes the home directory and opens it in the desktop's file browser.
[[nodiscard]] bool open_home_in_shell();
// Asks for a working set and high priority, logging each result; left alone
// below 64 MB of physical memory. Called after each track load.
void tune_process_memory();

// ---------------------------------------------------------------- checked allocator

// With KR_CHECK_ALLOC > 0 every live block is tracked, freed blocks are
// zeroed, a free of an unknown address is refused, and kr_alloc_report lists
// the leaks on standard error. Thread-safe.
[[nodiscard]] void *kr_malloc(size_t size);
[[nodiscard]] void *kr_calloc(size_t count, size_t size);
[[nodiscard]] void *kr_realloc(void *block, size_t size);
void kr_free(void *block);
void kr_alloc_report();
// Called when an allocation fails, before null is returned (start-up sets one
// that closes audio and the window, shows "Out of virtual memory", exits).
void kr_set_out_of_memory_handler(void (*handler)(size_t size));

// ---------------------------------------------------------------- configuration and control bindings
//
// Every user setting is a setting object below; the menus edit the same
// objects. config_read fills them from "@config" at start-up, after
// config_set_defaults; config_write saves them at exit. The bike setup block
// is read and written through hooks that start-up connects to the bike code,
// so this folder does not depend on it.

struct velk_axis;

// A number with the menus' step and its range.
struct number_setting {
    const char *label;
    double value;
    double step;
    double min;
    double max;
};
// Stores the value clamped to the range; a value that is not a finite
// number is refused (false).
bool number_setting_set(number_setting *s, double value);

// One of a list of names.
struct choice_setting {
    const char *label;
    const char *const *names;
    int count;
    int selected;
};
// Selects the choice of exactly this name; false (nothing changes) otherwise.
bool choice_setting_select(choice_setting *s, const char *name);
// The selected choice's name ("" when the list is empty).
[[nodiscard]] const char *choice_setting_name(const choice_setting *s);

constexpr int TEXT_SETTING_SIZE = 128;
// A line of text of at most max_length characters (below TEXT_SETTING_SIZE).
struct text_setting {
    const char *label;
    int max_length;
    char text[TEXT_SETTING_SIZE];
    int cursor;
    bool insert;
};
// Copies the text, cut to the maximum length.
void text_setting_set(text_setting *s, const char *text);

// A control: a key or an axis by name, as stored, and what it is bound to
// while the game runs.
struct control_binding {
    const char *label;
    const char *key_name;   // interned, or null
    const char *axis_name;  // interned, or null
    float low;              // axis range: the raw value that reads 0 ...
    float high;             // ... and the one that reads 1
    // Run time, set by binding_bind.
    bool has_code;
    uint32_t code;
    velk_axis *axis;
    float value;  // 0..1: a key's 1 while down, an axis's calibrated value
};

// The control bindings, in the file's order.
enum control_index : int {
    CONTROL_THROTTLE,
    CONTROL_FRONT_BRAKE,
    CONTROL_REAR_BRAKE,
    CONTROL_LEFT,
    CONTROL_RIGHT,
    CONTROL_CLUTCH,
    CONTROL_UPSHIFT,
    CONTROL_DOWNSHIFT,
    CONTROL_DAB,
    CONTROL_BACK_UP,
    CONTROL_LEAN_FORWARD,
    CONTROL_LEAN_BACKWARD,
    CONTROL_PAUSE,
    CONTROL_STEP,
    CONTROL_REWIND,
    CONTROL_SKIP,
    CONTROL_PREV,
    CONTROL_NEXT,
    CONTROL_CONSOLE,
    CONTROL_SCREENSHOT,
    CONTROL_COUNT
};

constexpr int SERVER_HISTORY = 16;
constexpr int GATE_SLOTS = 40;

struct config_settings {
    // plain integers
    int xres, yres, draw_fps, draw_time, draw_ping, draw_speed, spy;
    int billboard_optimize_lookahead, message_lines, demo_backups;
    // numbers
    number_setting minutes, laps, ghost_fade_distance, ground_detail, ground_texture_detail,
        ground_texture_update_rate, roost_density, treadmark_limit, reshade_delay, terrain_resync_rate,
        model_detail, model_texture_detail, fov, first_person_height, first_person_angle, first_person_gimbal,
        third_person_height, third_person_distance, volume, comp_volume;
    double map_scale;  // 0.125..8, no menu
    // choices
    choice_setting record, skill, time_trial_abort, video_mode, ground_mesh_dim, ground_texture_levels,
        ground_texture_dim, ground_texture_dim_new, ground_mipmaps, texture_compress, render_texture, use_shader,
        lens_flare, reflections, hide_rider, rigid_camera, playback_mode;
    choice_setting slots[GATE_SLOTS];
    // texts
    text_setting server_name;
    text_setting server_history[SERVER_HISTORY];
    // the last track (interned, or null)
    const char *track;
    control_binding controls[CONTROL_COUNT];
};

// The program's settings. Program lifetime.
[[nodiscard]] config_settings &config();
// Every setting to its default, the Compatibility preset applied. Keeps the
// video mode names and the setup hooks.
void config_set_defaults();
// The video mode choices after "Default Fullscreen" and "Windowed" ("%dx%d"
// per display mode); the texts must live for the run.
void config_set_video_modes(const char *const *mode_names, int count);
// The bike setup block: set_key takes one key=value line (1 when it is a
// setup key and taken), write writes the whole block.
void config_set_setup_hooks(int (*set_key)(const char *key, const char *value), void (*write)(data_file *f));

// Reads the next line of at most size - 1 characters into buf, without its
// line end ("\n", "\r\n"). A longer line is skipped whole rather than read
// as several lines. False at the end of the stream.
bool data_get_line(data_file *f, char *buf, int size);
// The next "key=value" line (lines without "=" are passed over): buf holds
// the key, *value points at the value in buf, stray "\r"s at its end cut.
bool data_get_key_value(data_file *f, char *buf, int size, char **value);

// Reads "@config" (or another name); a missing file keeps every value.
void config_read();
void config_read_from(const char *name);
// Writes "@config" (or another name) through a temporary file renamed over
// it, so a failed write leaves the old file whole; false (and a log line)
// when writing fails.
bool config_write();
bool config_write_to(const char *name);
// One line, split at its first "=": the setup hook first, then the
// configuration's own keys. Unknown keys are ignored.
void config_set_key(const char *key, const char *value);

// The binding of a configuration key ("throttle_key" ...), or null.
[[nodiscard]] control_binding *binding_for_key(const char *key);
// The configuration key of control i.
[[nodiscard]] const char *control_key(int i);
// Reads a binding's value text: "(k)name" or a bare name is a key,
// "(low,high)name" an axis with its range. Releases nothing: call on an
// unbound binding.
void binding_parse(control_binding *b, const char *value);
// "name=(k)key\n" or "name=(low,high)axis\n" into buf; "" for an unbound
// control. Returns the length it needed (as snprintf).
int binding_format(char *buf, size_t size, const char *name, const control_binding *b);
// Resolves a binding's key or opens its axis; false when its name means
// nothing now (it stays stored and unbound).
bool binding_bind(control_binding *b);
// Closes the binding's axis and forgets its code; the names stay.
void binding_release(control_binding *b);
// Every control binding.
void bindings_bind_all();
// Tries again every named control that is not bound (its device may have
// been plugged in since); bound ones are left alone. Returns how many bound.
int bindings_bind_missing();
void bindings_release_all();
// A key or button event: every binding of that code takes 1 or 0.
void bindings_key_event(uint32_t code, bool pressed);
// The calibrated value of a raw axis reading: (raw / 32768 - low) /
// (high - low) clamped to 0..1; with low equal to high, 1 at or above it.
[[nodiscard]] float binding_axis_value(int raw, float low, float high);
// Reads every bound axis into its binding's value.
void bindings_update_axes();
// The rider's nine inputs from the bindings: 0 steer (Left +1, Right -1),
// 1 throttle, 2 front brake, 3 rear brake, 4 shift (Upshift +1, Downshift
// -1), 5 clutch, 6 sit/dab, 7 back up, 8 lean (forward -1, backward +1).
constexpr int INPUT_COUNT = 9;
void bindings_input_vector(float out[INPUT_COUNT]);

// Graphics presets 0..3: Compatibility, High FPS, Normal, High Detail.
constexpr int PRESET_COUNT = 4;
void preset_apply(int preset);
// Whether the fourteen preset settings equal the preset's.
[[nodiscard]] bool preset_matches(int preset);
// The menu's label: "Current Settings: ..." for the last matching preset,
// else "Current Settings: Custom".
[[nodiscard]] const char *preset_label();

// Puts the current server name at the head of the history, unless it is
// empty or already there.
void server_history_push();
