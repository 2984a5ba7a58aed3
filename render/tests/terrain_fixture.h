// A small generated terrain for the terrain renderer's tests: rolling hills
// on a 2^(n+1)+1 grid, one white tile type, no shadows.
#pragma once

#include "track/track.h"

#include <algorithm>
#include <cmath>

inline void make_test_terrain(Terrain *t, int n, float spacing, float amplitude = 8.0f) {
    *t = Terrain{};
    t->n = n;
    t->dim = (1 << (n + 1)) + 1;
    t->tiles = 1 << n;
    t->spacing = spacing;
    t->inv_spacing = 1.0f / spacing;
    t->extent = spacing * float(t->dim - 1);
    size_t count = size_t(t->dim) * size_t(t->dim);
    t->heights.resize(count);
    for (int j = 0; j < t->dim; ++j)
        for (int i = 0; i < t->dim; ++i)
            t->heights[size_t(j) * size_t(t->dim) + size_t(i)] =
                amplitude * (std::sin(float(i) * 0.31f) * std::cos(float(j) * 0.17f) +
                             0.3f * std::sin(float(i + 2 * j) * 0.9f));
    auto [lo, hi] = std::minmax_element(t->heights.begin(), t->heights.end());
    t->min_height = *lo;
    t->max_height = *hi;
    t->base_heights = t->heights;
    t->shadow.assign(count, 0);
    t->tilemap.assign(size_t(t->tiles) * size_t(t->tiles), 0);
    t->tile_types.push_back(tile_type_defaults());
    t->blocks = std::max(1, (t->dim - 1) / TERRAIN_BLOCK);
    t->dirty_mask.assign((size_t(t->blocks) * size_t(t->blocks) + 7) / 8, 0);
    size_t nodes = (size_t(1) << (2 * (n + 1))) / 3;
    t->lod_error.assign(nodes, 0.0f);
    t->lod_height.assign(nodes, 0.0f);
    t->lod_flags.assign((nodes + 7) / 8, 0);
}
