// race_local.h -- private to race/: the services with their defaults.
#pragma once

#include "race/race.h"

// Formats (at most 1023 characters) and hands the text on.
void race_log(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void race_message(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
[[nodiscard]] int race_verbosity();

// Turns a statue into a starting-gate piece raised by `up`: its heading
// about the vertical, tilted about its hinge (the piece's own x axis).
void tilt_gate_object(const starting_gate &g, track_objects *objects);
