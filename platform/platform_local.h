// platform_local.h -- internals shared inside platform/: the hooks between
// platform_common and the window half (SDL or null), and test-only resets.
// Nothing outside platform/ includes this.
#pragma once

// Shows a modal box with an OK button. Defined by the window half: the SDL
// build shows one when a display is available; the null build returns false.
// Returns whether a box was shown. velk_message_box has already written the
// text to standard error. log.cpp holds a weak fallback returning false, so
// programs that link no window object still link.
bool velk_show_system_message_box(const char *caption, const char *text);

// Whether the window half refuses a video driver that shows nothing
// ("offscreen", "dummy", "evdev"): it does unless `asked` (SDL_VIDEODRIVER,
// a comma-separated list, null when unset) names it.
bool invisible_driver_refused(const char *driver, const char *asked);

// Whether SIGINT or SIGTERM arrived since the last call (clears it). The
// event queue turns it into a VELK_CLOSE event.
bool velk_take_interrupt();

// Test hooks: put the log back to its never-opened state (closing any open
// file), and make the options be read again from VELK_OPTIONS.
void velk_log_reset_for_tests();
void velk_options_reset_for_tests();
// Makes velk_local_data_dir and velk_executable_dir look their folders up
// again (they are found once and kept).
void velk_dirs_reset_for_tests();
