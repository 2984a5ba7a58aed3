// input_sdl.h -- the SDL input devices, private to platform/: the window
// half calls these at window creation, for each SDL event it does not handle
// itself, and at window close.
#pragma once

#include "platform/platform.h"

union SDL_Event;

// Finds the controllers and joysticks attached now, then the cursor.
void velk_input_roll_call();
// Controller and joystick events: buttons, hot-plugging. `t` is the event's
// time on the velk_time clock.
void velk_input_sdl_event(const SDL_Event &e, velk_clock t);
// Closes every device (logged by the window as "Closing input devices").
void velk_input_close();
