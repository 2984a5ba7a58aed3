// Terrain geometry level of detail, all on the CPU: the shared patch mesh
// and its 16 stitching variants, the split radii of the quadtree, the split
// marking and the traversal that picks the patches for a camera.
#include "render/render_local.h"
#include "track/track.h"

#include <algorithm>
#include <cmath>

// ---------------------------------------------------------------- split bits

bool lod_split(const Terrain *t, int level, int a, int b) {
    size_t k = lod_node_index(level, a, b);
    return (t->lod_flags[k >> 3] >> (k & 7)) & 1;
}

void lod_set_split(Terrain *t, int level, int a, int b) {
    size_t k = lod_node_index(level, a, b);
    t->lod_flags[k >> 3] = uint8_t(t->lod_flags[k >> 3] | (1u << (k & 7)));
}

// ---------------------------------------------------------------- patch mesh

std::vector<float> terrain_patch_vertices(int m) {
    int side = 2 * (1 << m) + 1;
    std::vector<float> v;
    v.reserve(size_t(side * side * 2));
    float step = 1.0f / float(side - 1);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            v.push_back(float(x) * step);
            v.push_back(float(y) * step);
        }
    return v;
}

std::vector<uint16_t> terrain_patch_indices(int m, int flags, bool lines) {
    int blocks = 1 << m;
    int side = 2 * blocks + 1;
    auto at = [side](int x, int y) { return uint16_t(y * side + x); };
    // The ring of a block counter-clockwise seen from above (+y): with x
    // east and z south, that is (0,0) (0,1) (0,2) (1,2) ... on the grid.
    static const int ring[8][2] = {{0, 0}, {0, 1}, {0, 2}, {1, 2}, {2, 2}, {2, 1}, {2, 0}, {1, 0}};
    std::vector<uint16_t> out;
    auto emit = [&](uint16_t c, uint16_t p, uint16_t q) {
        if (lines) {
            uint16_t e[6] = {c, p, p, q, q, c};
            out.insert(out.end(), e, e + 6);
        } else {
            out.push_back(c);
            out.push_back(p);
            out.push_back(q);
        }
    };
    for (int by = 0; by < blocks; ++by)
        for (int bx = 0; bx < blocks; ++bx) {
            int x0 = 2 * bx, y0 = 2 * by;
            uint16_t c = at(x0 + 1, y0 + 1);
            // Which block edge a ring segment k..k+1 lies on (its middle vertex).
            bool merge_u0 = (flags & EDGE_U0) && bx == 0;
            bool merge_v1 = (flags & EDGE_V1) && by == blocks - 1;
            bool merge_u1 = (flags & EDGE_U1) && bx == blocks - 1;
            bool merge_v0 = (flags & EDGE_V0) && by == 0;
            const bool merged[4] = {merge_u0, merge_v1, merge_u1, merge_v0};
            for (int e = 0; e < 4; ++e) {
                const int *p0 = ring[2 * e], *p1 = ring[2 * e + 1], *p2 = ring[(2 * e + 2) & 7];
                uint16_t a0 = at(x0 + p0[0], y0 + p0[1]);
                uint16_t a1 = at(x0 + p1[0], y0 + p1[1]);
                uint16_t a2 = at(x0 + p2[0], y0 + p2[1]);
                if (merged[e]) {
                    emit(c, a0, a2);
                } else {
                    emit(c, a0, a1);
                    emit(c, a1, a2);
                }
            }
        }
    return out;
}

// ---------------------------------------------------------------- split radii

namespace {

constexpr double k_half_diagonal = 0.7071067811865476;
constexpr double k_neighbour_reach = 1.5826829301659018;

float sample(const Terrain *t, int i, int j) {
    return t->heights[size_t(j) * size_t(t->dim) + size_t(i)];
}

// Deviation of one row of a node's samples from the planes of its two
// triangles (the node square split along its checkerboard diagonal).
float row_deviation(const Terrain *t, int level, int a, int b, int row) {
    int s = (t->dim - 1) >> level;
    int i0 = a * s, j0 = b * s;
    float h00 = sample(t, i0, j0), h10 = sample(t, i0 + s, j0);
    float h01 = sample(t, i0, j0 + s), h11 = sample(t, i0 + s, j0 + s);
    bool even = ((a + b) & 1) == 0;
    float inv = 1.0f / float(s);
    float fz = float(row) * inv;
    float dev = 0;
    for (int c = 0; c <= s; ++c) {
        float fx = float(c) * inv;
        float plane;
        if (even)
            plane = fz > fx ? h00 + fz * (h01 - h00) + fx * (h11 - h01) : h00 + fx * (h10 - h00) + fz * (h11 - h10);
        else
            plane = fx + fz <= 1.0f ? h00 + fx * (h10 - h00) + fz * (h01 - h00)
                                    : h11 + (1.0f - fx) * (h01 - h11) + (1.0f - fz) * (h10 - h11);
        dev = std::max(dev, std::fabs(sample(t, i0 + c, j0 + row) - plane));
    }
    return dev;
}

// Bottom-up: every node's radius covers its children's and its finer
// edge neighbours' radii, so a node splits whenever one of them does.
void make_radii_consistent(Terrain *t) {
    for (int level = t->n; level >= 0; --level) {
        int count = 1 << level;
        double reach = double(t->extent) * k_neighbour_reach / double(size_t(2) << level);
        for (int b = 0; b < count; ++b)
            for (int a = 0; a < count; ++a) {
                double r = t->lod_height[lod_node_index(level, a, b)];
                if (level < t->n) {
                    int fine = count * 2;
                    float finest = 0;
                    auto take = [&](int fa, int fb) {
                        if (fa >= 0 && fb >= 0 && fa < fine && fb < fine)
                            finest = std::max(finest, t->lod_error[lod_node_index(level + 1, fa, fb)]);
                    };
                    for (int y = 2 * b - 1; y <= 2 * b + 2; ++y)
                        for (int x = 2 * a - 1; x <= 2 * a + 2; ++x) {
                            bool corner = (x < 2 * a || x > 2 * a + 1) && (y < 2 * b || y > 2 * b + 1);
                            if (!corner)
                                take(x, y);
                        }
                    r = std::max(r, std::sqrt(double(finest)) + reach);
                }
                t->lod_error[lod_node_index(level, a, b)] = float(r * r);
            }
    }
}

}  // namespace

bool terrain_update_split_radii(Terrain *t, terrain_radii_pass *p, float detail, long budget) {
    if (t->heights.empty() || t->lod_error.empty())
        return false;
    // A pass that has begun runs to its end even when the heights change
    // meanwhile; the next one picks the changes up. Restarting on every
    // change would never finish while wheels dig every frame.
    if (!p->active) {
        if (p->done && p->seen_counter == t->change_counter)
            return false;  // the radii match the heights
        *p = terrain_radii_pass{};
        p->active = true;
        p->seen_counter = t->change_counter;
    }
    float inv_detail = detail > 0 ? 1.0f / detail : 1e30f;
    long spent = 0;
    while (p->level <= t->n) {
        int count = 1 << p->level;
        int s = (t->dim - 1) >> p->level;
        int a = p->node % count, b = p->node / count;
        if (p->row < 0) {
            spent += 20;  // two triangles
            p->row = 0;
            p->deviation = 0;
        }
        while (p->row <= s) {
            if (budget >= 0 && spent >= budget)
                return false;
            p->deviation = std::max(p->deviation, row_deviation(t, p->level, a, b, p->row));
            spent += s + 1;
            ++p->row;
        }
        double size = double(t->extent) / double(count);
        t->lod_height[lod_node_index(p->level, a, b)] = float(p->deviation * inv_detail + size * k_half_diagonal);
        p->row = -1;
        if (++p->node == count * count) {
            p->node = 0;
            ++p->level;
        }
    }
    make_radii_consistent(t);
    p->active = false;
    p->done = true;
    return true;
}

// ---------------------------------------------------------------- split marking

namespace {

// Marks the node and every ancestor split.
void split_with_ancestors(Terrain *t, int level, int a, int b) {
    while (level >= 0 && !lod_split(t, level, a, b)) {
        lod_set_split(t, level, a, b);
        --level;
        a >>= 1;
        b >>= 1;
    }
}

void split_by_radius(Terrain *t, int level, int a, int b, int last, const float camera[3]) {
    if (level >= last)
        return;
    int s = (t->dim - 1) >> level;
    float cx = (float(a) + 0.5f) * float(s) * t->spacing;
    float cz = (float(b) + 0.5f) * float(s) * t->spacing;
    float dx = camera[0] - cx, dz = camera[2] - cz;
    bool split = lod_split(t, level, a, b) || t->lod_error[lod_node_index(level, a, b)] > dx * dx + dz * dz;
    if (!split)
        return;
    lod_set_split(t, level, a, b);
    for (int k = 0; k < 4; ++k)
        split_by_radius(t, level + 1, 2 * a + (k & 1), 2 * b + (k >> 1), last, camera);
}

}  // namespace

void terrain_mark_splits(Terrain *t, int mesh_exponent, const float camera[3], const terrain_region *regions,
                         int region_count) {
    std::fill(t->lod_flags.begin(), t->lod_flags.end(), uint8_t(0));
    // Nodes at the finest patch level are drawn whatever their bit says.
    int last = std::max(0, t->n - std::clamp(mesh_exponent, 0, TERRAIN_MAX_MESH_EXPONENT));
    int cells = t->dim - 1;
    for (int r = 0; r < region_count; ++r) {
        const terrain_region &g = regions[r];
        for (int level = 0; level < last; ++level) {
            int s = cells >> level;
            if (s * 4 <= g.size)
                break;
            int a0 = std::max(0, g.x / s), a1 = std::min((1 << level) - 1, (g.x + g.size - 1) / s);
            int b0 = std::max(0, g.z / s), b1 = std::min((1 << level) - 1, (g.z + g.size - 1) / s);
            for (int b = b0; b <= b1; ++b)
                for (int a = a0; a <= a1; ++a)
                    lod_set_split(t, level, a, b);
        }
    }
    split_by_radius(t, 0, 0, 0, last, camera);
    // Keep neighbouring patches within one level: the children of a split
    // node X reach the edges X shares with its parent G, so the nodes beside
    // G across those edges must split too. Coarser levels come later, so
    // one pass from fine to coarse settles everything it adds.
    for (int level = last - 1; level >= 2; --level) {
        int count = 1 << level;
        int parents = count >> 1;
        for (int b = 0; b < count; ++b)
            for (int a = 0; a < count; ++a) {
                if (!lod_split(t, level, a, b))
                    continue;
                int ga = a >> 1, gb = b >> 1;
                int na = (a & 1) ? ga + 1 : ga - 1;
                int nb = (b & 1) ? gb + 1 : gb - 1;
                if (na >= 0 && na < parents)
                    split_with_ancestors(t, level - 1, na, gb);
                if (nb >= 0 && nb < parents)
                    split_with_ancestors(t, level - 1, ga, nb);
            }
    }
}

// ---------------------------------------------------------------- traversal

namespace {

struct traversal {
    const Terrain *t;
    int last;
    const float *camera;
    const float *dir;
    std::vector<terrain_patch> *out;
};

int edge_flags(const Terrain *t, int level, int a, int b) {
    if (level == 0)
        return 0;
    int count = 1 << level;
    int flags = 0;
    auto coarser = [&](int na, int nb) {
        return na >= 0 && nb >= 0 && na < count && nb < count && !lod_split(t, level - 1, na >> 1, nb >> 1);
    };
    if (coarser(a, b - 1))
        flags |= EDGE_V0;
    if (coarser(a - 1, b))
        flags |= EDGE_U0;
    if (coarser(a, b + 1))
        flags |= EDGE_V1;
    if (coarser(a + 1, b))
        flags |= EDGE_U1;
    return flags;
}

void visit(const traversal &v, int level, int a, int b) {
    const Terrain *t = v.t;
    float s = float((t->dim - 1) >> level) * t->spacing;
    float corner[3] = {
        (float(a) + (v.dir[0] >= 0 ? 1.0f : 0.0f)) * s,
        v.dir[1] > 0 ? t->max_height : t->min_height,
        (float(b) + (v.dir[2] >= 0 ? 1.0f : 0.0f)) * s,
    };
    float d = (corner[0] - v.camera[0]) * v.dir[0] + (corner[1] - v.camera[1]) * v.dir[1] +
              (corner[2] - v.camera[2]) * v.dir[2];
    if (d < 0)
        return;
    if (level >= v.last || !lod_split(t, level, a, b)) {
        v.out->push_back({level, a, b, edge_flags(t, level, a, b)});
        return;
    }
    for (int k = 0; k < 4; ++k)
        visit(v, level + 1, 2 * a + (k & 1), 2 * b + (k >> 1));
}

}  // namespace

void terrain_select_patches(const Terrain *t, int mesh_exponent, const float camera[3], const float view_dir[3],
                            std::vector<terrain_patch> *out) {
    out->clear();
    if (t->heights.empty() || t->lod_flags.empty())
        return;
    int last = std::max(0, t->n - std::clamp(mesh_exponent, 0, TERRAIN_MAX_MESH_EXPONENT));
    traversal v{t, last, camera, view_dir, out};
    visit(v, 0, 0, 0);
}
