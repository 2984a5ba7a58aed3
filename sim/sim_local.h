// sim_local.h -- private to sim/: small helpers shared by its files.
#pragma once

#include "sim/sim.h"

template <typename T> constexpr T sim_clamp(T v, T lo, T hi)
{
    return v < lo ? lo : v > hi ? hi : v;
}

// Test hook: forget the time of the last refused setup request.
void setup_requests_reset_for_tests();
// Test hook: clear the setup_out_of_range flag.
void setup_out_of_range_reset_for_tests();
