// platform.h -- VELK, the platform layer: the only code that talks to the
// operating system (POSIX) and to SDL2.
//
// Owns:      the log file, the platform options (VELK_OPTIONS), the clock and
//            precise sleep, the message box, the user's directories, the file
//            system calls the data-file code needs, the one window with its GL
//            context, the display mode list, the time-stamped input event
//            queue, the standard descriptors and the interrupt signals.
// Depends:   nothing in the program; SDL2 and POSIX underneath.
// Called by: every other folder (log, clock); start-up and the frame loop
//            (window, events); the data-file code (directories, files).
// Lifetime:  the log opens on its first message and closes with
//            velk_log(nullptr) at the very end of shutdown. The window lives
//            from velk_window_open to velk_window_close. Options are read once.
//
// Two implementations of the window half exist: platform_sdl (the game) and
// platform_null (tests, headless runs). Both share platform_common: log,
// options, clock, files and the event queue.
#pragma once

#include <cstdint>
#include <span>

// ---------------------------------------------------------------- log

// printf-style; the message carries its own newline. A message that starts
// with "VELK_LOGFILE=" is a directive naming the log file (an environment
// VELK_LOGFILE wins over it). A null format closes the log for good.
void velk_log(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// Logs "Error: %s\n".
void velk_error(const char *text);
// A modal box with an OK button when a display is available; always also
// writes "caption: text" to standard error, so a run without a display
// never blocks. Formats at most 1023 characters.
void velk_message_box(const char *caption, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

// ---------------------------------------------------------------- options

// Platform options from VELK_OPTIONS, "[name:value]" anywhere in the text.
[[nodiscard]] bool velk_option_bool(const char *name, bool def);
[[nodiscard]] int velk_option_int(const char *name, int def);

// ---------------------------------------------------------------- clock

// A reading of the monotonic clock: whole seconds and microseconds 0..999999.
// 64-bit seconds: a reading never wraps and never goes backwards.
struct velk_clock {
    int64_t sec;
    int32_t usec;
};
[[nodiscard]] velk_clock velk_time();
// The same reading in seconds, for arithmetic.
[[nodiscard]] double velk_seconds();
[[nodiscard]] inline double velk_clock_seconds(velk_clock c) { return double(c.sec) + double(c.usec) * 1e-6; }
[[nodiscard]] velk_clock velk_clock_from_seconds(double s);
// Sleeps for the duration, waking on time although the system sleep is
// coarse: sleeps a millisecond short, then yields until the deadline.
void velk_sleep(int64_t sec, int32_t usec);

// ---------------------------------------------------------------- directories and files

// The user's local application data folder ($XDG_DATA_HOME, else
// ~/.local/share), without a trailing "/"; null when neither can be found.
[[nodiscard]] const char *velk_local_data_dir();
// The folder holding the running executable, without a trailing "/"; null
// when it cannot be read.
[[nodiscard]] const char *velk_executable_dir();
// Creates every missing directory along the path (each prefix up to a "/";
// a trailing part without "/" is taken as a file name and not created).
[[nodiscard]] bool velk_make_dirs_for(const char *path);
// Whether the path names an existing directory.
[[nodiscard]] bool velk_is_dir(const char *path);
// Opens a folder in the desktop's file browser (xdg-open), without waiting.
[[nodiscard]] bool velk_open_folder(const char *path);

// First thing at start-up: closed standard descriptors 0-2 are opened on
// /dev/null, so no file opened later takes their place ("--record-video"
// frames never land in the log); a reader of standard output that goes away
// makes writes fail instead of killing the process; SIGINT and SIGTERM
// become the close request (VELK_CLOSE), taken from the event queue like any
// other event, and a second such signal ends the process at once.
void velk_prepare_process();

// ---------------------------------------------------------------- display modes

struct velk_display_mode {
    int width;
    int height;
    int bpp;
};
// Built on first call: the desktop's mode first, then each further mode the
// display lists, duplicates and unusable depths left out.
[[nodiscard]] std::span<const velk_display_mode> velk_display_modes();
// The full-screen mode for a requested size: of the modes at least that
// large, the one with the smallest width + height (first on a tie); the
// default (first) mode when none fits or no size is asked for; 640 x 480
// when the list is empty.
[[nodiscard]] velk_display_mode velk_choose_mode(std::span<const velk_display_mode> modes, int width, int height);

// ---------------------------------------------------------------- window and GL context

enum class velk_gl_kind : int { compatibility = 0, core = 1, es = 2 };

struct velk_gl_request {
    int major;
    int minor;
    velk_gl_kind kind;
};
void velk_set_gl_request(int major, int minor, velk_gl_kind kind);
// Headless runs: before the first display-mode query, so that the video
// system is never started (the mode list is one fixed mode).
void velk_set_headless(bool on);
[[nodiscard]] velk_gl_request velk_get_gl_request();

struct velk_window;

// Window titled `title` with a GL context of the requested version and kind.
// Full screen at the mode chosen for width x height (0 x 0: the desktop's),
// or windowed at that client size. Null on failure (logged).
[[nodiscard]] velk_window *velk_window_open(const char *title, int width, int height, int colour_bits,
                                            bool fullscreen, int alpha_bits, int depth_bits, int stencil_bits,
                                            int accum_bits);
void velk_window_close(velk_window *w);
// Why the last velk_window_open failed, one line without a newline (already
// logged); empty after a success.
[[nodiscard]] const char *velk_window_error();
// The version and kind of the context actually created.
[[nodiscard]] velk_gl_request velk_window_gl(const velk_window *w);
// Whether the window is shown (mapped and not minimised).
[[nodiscard]] bool velk_window_visible(const velk_window *w);
// Whether the window has been closed (by the system, after a close request
// the game accepted, or a failed swap).
[[nodiscard]] bool velk_window_closed(const velk_window *w);
// Drains pending window-system events into the input queue.
void velk_pump_events(velk_window *w);
// False when nothing should be drawn (hidden, minimised, paused); otherwise
// takes the frame mutex and gives the client size in pixels.
[[nodiscard]] bool velk_frame_begin(velk_window *w, int *width, int *height);
// Swaps the buffers and releases the frame mutex.
void velk_frame_end(velk_window *w);
// Switches to full screen at the mode for the size, or to a window of that
// client size (0 x 0: the desktop's size).
void velk_set_mode(velk_window *w, int width, int height, bool fullscreen);
// Address of a GL entry point, null when absent.
[[nodiscard]] void *velk_gl_proc(const char *name);

// ---------------------------------------------------------------- input events

// Button codes: 0..255 typed characters; 0x1000 + scan code for keys (PC set-1
// scan codes, bit 8 for extended keys); 0x2000..0x2002 mouse buttons; 0xDEAD
// the window's close request; device id | n for controller buttons.
constexpr uint32_t VELK_KEY_BASE = 0x1000;
constexpr uint32_t VELK_MOUSE_LEFT = 0x2000;
constexpr uint32_t VELK_MOUSE_MIDDLE = 0x2001;
constexpr uint32_t VELK_MOUSE_RIGHT = 0x2002;
constexpr uint32_t VELK_CLOSE = 0xDEAD;
constexpr int VELK_EVENT_QUEUE_SIZE = 256;

struct velk_event {
    uint32_t code;
    bool pressed;
    velk_clock time;
};

// Queues an event; a full queue drops it. Thread-safe.
void input_queue_event(uint32_t code, bool pressed, velk_clock time);
void input_queue_event_now(uint32_t code, bool pressed);
// The oldest queued event, if any.
[[nodiscard]] bool input_next_event(velk_event *out);
// The oldest queued event only if its time is not later than `until`.
[[nodiscard]] bool input_next_event_until(velk_clock until, velk_event *out);
// Empties the queue (window close, tests).
void input_clear_events();

// ---------------------------------------------------------------- directory walk and file system (data files)

// One entry met by velk_walk_dir. `path` is the root joined with `relative`
// (the name below the root, no leading "/"); `size` is a file's size in bytes.
struct velk_dir_entry {
    const char *path;
    const char *relative;
    uint64_t size;
    bool is_dir;
};
// Called for each entry; for a directory the return value says whether to
// walk into it (it is reported before its contents). Files: ignored.
using velk_walk_fn = bool (*)(const velk_dir_entry *entry, void *context);
// Walks the tree under `root` depth first, skipping "." and "..", and every
// entry whose status cannot be read. Symbolic links are followed, but a
// directory is never entered again while it is being walked, so a link back
// up the tree does not loop. Order within a directory is the system's.
// False when the root cannot be read as a directory.
[[nodiscard]] bool velk_walk_dir(const char *root, velk_walk_fn fn, void *context);
// Whether anything (file, directory, link) exists at the path.
[[nodiscard]] bool velk_path_exists(const char *path);
// Moves `from` to `to`, atomically replacing an existing `to`; on failure
// both are left as they were.
[[nodiscard]] bool velk_rename(const char *from, const char *to);
// Removes a file.
[[nodiscard]] bool velk_remove(const char *path);
// Total physical memory in bytes; 0 when unknown.
[[nodiscard]] uint64_t velk_physical_memory();
// Linux has no working-set range for a process: nothing is changed and the
// result is always false.
[[nodiscard]] bool velk_set_working_set(uint64_t min_bytes, uint64_t max_bytes);
// Raises the process's scheduling priority (a nice value of -10), which
// needs privilege on Linux; false when the system refuses.
[[nodiscard]] bool velk_raise_priority();

// ---------------------------------------------------------------- control names and input devices

// Device button codes are the device's id (bits 16..30) | the button (0..255).
constexpr uint32_t VELK_DEVICE_ID_MASK = 0x7FFF0000;

// The one shared copy of a text for the run (equal texts, equal pointers).
// Null for null. Thread-safe.
[[nodiscard]] const char *input_intern(const char *text);
// Adds an alias; a second alias for the same name is logged and ignored.
// The standard aliases ("cursor-x", "mouse-left", "joystick-a-1" ...) exist
// from the first use of any name function.
void input_alias(const char *alias, const char *target);
// The alias's target, or the name itself.
[[nodiscard]] const char *input_resolve_alias(const char *name);
// Resolves a key or button name: alias; exact match of the special names,
// the system key names and the built-in key names; the same regardless of
// case with "_" and white space as a blank; "0x%x" scan code up to 0x1FF;
// "Device.key[n]" / "Device button n" of an existing device, which switches
// its button events on. False when the name means nothing.
[[nodiscard]] bool input_key_code(const char *name, uint32_t *code);
// The display name of a code (interned), or null for codes without names
// (typed characters, unknown devices).
[[nodiscard]] const char *input_code_name(uint32_t code);

// An open axis of a device. Values are -32767..32767 for absolute axes.
struct velk_axis;
// "Device.axis[n]" or "Device axis n" (aliases first); null when there is no
// such device or axis. The first handle of a device opens it.
[[nodiscard]] velk_axis *input_axis_open(const char *name);
// The axis's raw value now; 0 for null or an unplugged device.
[[nodiscard]] int input_axis_read(velk_axis *a);
// Releases a handle; the last one closes the device. Null is ignored.
void input_axis_close(velk_axis *a);
// Every absolute axis found ("XInputGamepad0 axis 2", "Device axis 1"), for
// the controls menu's axis capture.
[[nodiscard]] std::span<const char *const> input_axis_names();
// Queues the changed buttons of every device whose buttons are bound.
void input_poll_devices();
// How many devices have been added since start; grows when one is plugged in.
[[nodiscard]] uint32_t input_device_additions();
