// Helpers of the physics tests: terrains made in memory, the starter shapes
// in the home directory, and a cr125 with its default setup.
#pragma once

#include "sim/sim.h"
#include "track/track.h"

#include <functional>

// A square terrain of 2^(n+1)+1 samples per side, one tile type (the
// defaults unless given), heights from h(x, z).
Terrain make_terrain(int n, float spacing, const std::function<double(double, double)> &h,
                     const TileType *tile = nullptr);
// Writes the starter shapes where "@" names find them (once).
void install_starter_shapes();
// Builds the model in a slot with the default setup applied and drops it
// onto the terrain at (x, z) facing `heading`.
RiderState *standing_rider(int slot, const char *model, const Terrain &t, double x, double z, double heading = 0);
// Runs n tics of the world (no hooks).
void run_tics(const Terrain *t, int n, int32_t *tic);
