// core.h -- the application core: start-up, command line, shutdown and the
// frame loop with its fixed simulation clock.
//
// Owns:      the program-lifetime state (start-up switches, the window, the
//            loop's clocks and statistics, the quit flag).
// Depends:   platform (log, clock, window, events, input devices), files
//            (data lookup, configuration, bindings), hash (digests), track,
//            race, sim (the ride and the watched setup values), render.
// Called by: main() only; start-up hands the message line and the
//            verbosity below to the other folders as services.
// Lifetime:  everything here lives from kessrun_main's start to its return.
#pragma once

#include <cstdint>

// One simulation tic: 1/128 s.
constexpr double TIC_LENGTH = 1.0 / 128.0;
constexpr int TICS_PER_SECOND = 128;

// The build's version text, logged at start-up.
inline constexpr const char *KESSRUN_VERSION = "2024-07-22-1670 snapshot";

// The program: start-up, frame loop, shutdown. Returns the process exit code.
int kessrun_main(int argc, char **argv);

// A line for the user during play; it goes to the log.
void show_message_line(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// The log verbosity chosen on the command line (0, 1 "--debug", 2 "--super-debug").
[[nodiscard]] int verbosity();
