// Terrain queries and the height-changing primitives.
//
// The grid is drawn and collided as a checkerboard of triangles: cell (i, j)
// is split from (i, j) to (i+1, j+1) when i+j is even, from (i+1, j) to
// (i, j+1) when odd. HeightAt and FaceNormal use that same split, so the
// simulation stands on exactly what is drawn.

#include "track/track_local.h"

#include <algorithm>
#include <cmath>

namespace {

float sample(const Terrain *t, int i, int j) {
    i = std::clamp(i, 0, t->dim - 1);
    j = std::clamp(j, 0, t->dim - 1);
    return t->heights[size_t(j) * size_t(t->dim) + size_t(i)];
}

// Grid coordinate of a world coordinate. Beyond the grid the edge heights
// continue, so holding the coordinate one sample outside changes no result
// and keeps the integer conversion defined (NaN goes to the low edge).
float grid_coord(const Terrain *t, float w) {
    float u = w / t->spacing;
    if (!(u >= -1.0f))
        return -1.0f;
    if (u > float(t->dim))
        return float(t->dim);
    return u;
}

// The triangle under a point: c0 is the corner where its x leg and z leg
// meet, cx and cz the far ends of those legs, fx and fz the point's
// fractions along them.
struct triangle {
    int i0, j0;
    int ix, jx;
    int iz, jz;
    float fx, fz;
};

triangle locate(const Terrain *t, float x, float z) {
    float u = grid_coord(t, x), v = grid_coord(t, z);
    int i = int(std::floor(u)), j = int(std::floor(v));
    float du = u - float(i), dv = v - float(j);
    if (((i + j) & 1) == 0) {
        if (dv > du)
            return {i, j + 1, i + 1, j + 1, i, j, du, 1.0f - dv};
        return {i + 1, j, i, j, i + 1, j + 1, 1.0f - du, dv};
    }
    if (du + dv > 1.0f)
        return {i + 1, j + 1, i, j + 1, i + 1, j, 1.0f - du, 1.0f - dv};
    return {i, j, i + 1, j, i, j + 1, du, dv};
}

// A bump's footprint in samples.
struct bump_area {
    double cx, cz;  // centre
    double r;       // radius
    int reach;      // R = ceil(r)
    int i0, j0;     // floor of the centre
};

bump_area bump_area_of(const Terrain *t, float x, float z, float radius) {
    bump_area a;
    // Held where the loops stay bounded and the integers defined; a bump
    // that far away touches no sample either way.
    a.cx = std::clamp(double(x) / t->spacing, -1e6, 1e6);
    a.cz = std::clamp(double(z) / t->spacing, -1e6, 1e6);
    a.r = std::min(double(radius) / t->spacing, double(t->dim));
    a.reach = int(std::ceil(a.r));
    a.i0 = int(std::floor(a.cx));
    a.j0 = int(std::floor(a.cz));
    return a;
}

// Smooth step weight: 1 at the centre, 0 at the rim; -1 outside.
double bump_weight(const bump_area &a, int i, int j) {
    double d = std::sqrt((a.cx - i) * (a.cx - i) + (a.cz - j) * (a.cz - j));
    if (d > a.r)
        return -1.0;
    double w = d / a.r;
    return (2.0 * w - 3.0) * w * w + 1.0;
}

bool bump_allowed(const Terrain *t, float x, float z, float radius, float amount) {
    return amount != 0.0f && !t->heights.empty() && all_finite(x, z, radius, amount) && radius > 0.0f;
}

void raise_sample(Terrain *t, int i, int j, double add) {
    if (t->frozen || i < 0 || j < 0 || i >= t->dim || j >= t->dim)
        return;
    float &h = t->heights[size_t(j) * size_t(t->dim) + size_t(i)];
    h = float(double(h) + add);
    t->min_height = std::min(t->min_height, h);
    t->max_height = std::max(t->max_height, h);
    t->dirty_flags = TERRAIN_DIRTY_ALL;
}

void finish_bump(Terrain *t, const bump_area &a) {
    terrain_mark_dirty(t, a.i0 - a.reach + 1, a.j0 - a.reach + 1, a.i0 + a.reach, a.j0 + a.reach);
    t->change_counter++;
}

}  // namespace

int terrain_tile_at(const Terrain *t, float x, float z) {
    if (t->tilemap.empty())
        return 0;
    auto cell = [t](float w) {
        float c = w / (2.0f * t->spacing);
        if (!(c >= 1.0f))
            return 0;  // negative, NaN, or the first cell
        if (c >= float(t->tiles - 1))
            return t->tiles - 1;
        return int(c);
    };
    return t->tilemap[size_t(cell(z)) * size_t(t->tiles) + size_t(cell(x))];
}

float terrain_height_at(const Terrain *t, float x, float z) {
    if (t->heights.empty())
        return 0.0f;
    triangle tr = locate(t, x, z);
    float h0 = sample(t, tr.i0, tr.j0);
    return h0 + tr.fx * (sample(t, tr.ix, tr.jx) - h0) + tr.fz * (sample(t, tr.iz, tr.jz) - h0);
}

std::array<float, 3> terrain_face_normal(const Terrain *t, float x, float z) {
    float s = t->spacing;
    if (t->heights.empty())
        return {0.0f, s * s, 0.0f};
    triangle tr = locate(t, x, z);
    float h0 = sample(t, tr.i0, tr.j0);
    // Height change over one spacing in +x and in +z on this triangle.
    float dx = (sample(t, tr.ix, tr.jx) - h0) * (tr.ix > tr.i0 ? 1.0f : -1.0f);
    float dz = (sample(t, tr.iz, tr.jz) - h0) * (tr.jz > tr.j0 ? 1.0f : -1.0f);
    return {-dx * s, s * s, -dz * s};
}

float terrain_add_bump(Terrain *t, float x, float z, float radius, float amount) {
    if (!bump_allowed(t, x, z, radius, amount))
        return 0.0f;
    bump_area a = bump_area_of(t, x, z, radius);
    double sum = 0;
    for (int j = a.j0 - a.reach + 1; j <= a.j0 + a.reach; ++j) {
        for (int i = a.i0 - a.reach + 1; i <= a.i0 + a.reach; ++i) {
            double w = bump_weight(a, i, j);
            if (w < 0)
                continue;
            double add = double(amount) * w;
            sum += add;
            raise_sample(t, i, j, add);
        }
    }
    finish_bump(t, a);
    return float(sum);
}

void terrain_spread_bump(Terrain *t, float x, float z, float radius, float amount) {
    if (!bump_allowed(t, x, z, radius, amount))
        return;
    bump_area a = bump_area_of(t, x, z, radius);
    double total = 0;
    for (int j = a.j0 - a.reach + 1; j <= a.j0 + a.reach; ++j)
        for (int i = a.i0 - a.reach + 1; i <= a.i0 + a.reach; ++i)
            total += std::max(bump_weight(a, i, j), 0.0);
    double scale = double(amount) / std::max(total, 1.0);
    for (int j = a.j0 - a.reach + 1; j <= a.j0 + a.reach; ++j) {
        for (int i = a.i0 - a.reach + 1; i <= a.i0 + a.reach; ++i) {
            double w = bump_weight(a, i, j);
            if (w >= 0)
                raise_sample(t, i, j, scale * w);
        }
    }
    finish_bump(t, a);
}

void terrain_mark_dirty(Terrain *t, int i0, int j0, int i1, int j1) {
    if (t->dirty_mask.empty())
        return;
    int last = t->blocks - 1;
    auto block = [last](int64_t c) { return int(std::clamp<int64_t>(c / TERRAIN_BLOCK, 0, last)); };
    int bx0 = block(i0), bx1 = block(int64_t(i1) + TERRAIN_BLOCK - 1);
    int by0 = block(j0), by1 = block(int64_t(j1) + TERRAIN_BLOCK - 1);
    for (int by = by0; by <= by1; ++by) {
        for (int bx = bx0; bx <= bx1; ++bx) {
            size_t k = size_t(by) * size_t(t->blocks) + size_t(bx);
            t->dirty_mask[k / 8] |= uint8_t(1u << (k % 8));
        }
    }
}

bool terrain_block_dirty(const Terrain *t, int bx, int by) {
    if (bx < 0 || by < 0 || bx >= t->blocks || by >= t->blocks || t->dirty_mask.empty())
        return false;
    size_t k = size_t(by) * size_t(t->blocks) + size_t(bx);
    return (t->dirty_mask[k / 8] >> (k % 8)) & 1;
}
