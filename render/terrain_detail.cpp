// Terrain detail textures ("terrain texture pyramid"): nested square levels
// around the camera plus one over the whole field, each with colour, normal
// and specular textures composed on the GPU from the tile atlas, the shadow
// map and the ground decals; a small state machine redraws them a step per
// frame. Also the decal map (8x8 cells of decal indices) and the decal list
// operations.
#include "platform/platform.h"
#include "render/render_local.h"
#include "track/track.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

enum compose_state : int {
    COLOUR_BASE,
    COLOUR_DECALS,
    COLOUR_MIPMAPS,
    NORMAL_BASE,
    NORMAL_DECALS,
    NORMAL_MIPMAPS,
    SPECULAR_BASE,
    SPECULAR_DECALS,
    SPECULAR_MIPMAPS,
    SWAP,
    COMPOSE_DONE,
};
constexpr uint16_t k_all_squares = 0xffff;

// "KR_TERRAIN_TEXTURE_TORTURE": read once.
bool torture() {
    static const bool on = [] {
        const char *v = std::getenv("KR_TERRAIN_TEXTURE_TORTURE");
        bool yes = v && std::atoi(v) > 0;
        if (yes)
            std::fputs("Terrain texture torture test enabled!\n", stderr);
        return yes;
    }();
    return on;
}

int floor_div(int a, int b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// Storage for level 0 only, contents undefined: a level's textures are
// drawn only once a composition has filled them and built their mipmaps, so
// uploading zeros and a chain here would be work thrown away (most of a
// load's time on a software renderer).
GLuint make_level_texture(int dim, bool mipmaps) {
    GLuint tex = krglGenTexture();
    krglBindTexture(GL_TEXTURE_2D, tex);
    krglTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, dim, dim, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    krglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, mipmaps ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
    krglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    krglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    krglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    return tex;
}

// The decal's four corners (x, z) in the order of its texture coordinates.
std::array<float, 8> decal_corners(const terrain_decal &d) {
    float w = d.size * d.aspect * 0.5f, l = d.size * 0.5f;
    float ux = d.cos_angle, uz = -d.sin_angle, vx = d.sin_angle, vz = d.cos_angle;
    const float su[4] = {-1, 1, 1, -1}, sv[4] = {-1, -1, 1, 1};
    std::array<float, 8> c{};
    for (int k = 0; k < 4; ++k) {
        c[size_t(2 * k)] = d.x + su[k] * w * ux + sv[k] * l * vx;
        c[size_t(2 * k + 1)] = d.z + su[k] * w * uz + sv[k] * l * vz;
    }
    return c;
}

void decal_box(const terrain_decal &d, float box[4]) {
    float w = d.size * d.aspect * 0.5f, l = d.size * 0.5f;
    float hx = std::fabs(d.cos_angle * w) + std::fabs(d.sin_angle * l);
    float hz = std::fabs(d.sin_angle * w) + std::fabs(d.cos_angle * l);
    box[0] = d.x - hx;
    box[1] = d.z - hz;
    box[2] = d.x + hx;
    box[3] = d.z + hz;
}

// Flags every detail level whose region overlaps the decal's box.
void flag_levels_for(terrain_gpu *g, const Terrain *t, const terrain_decal &d) {
    float box[4];
    decal_box(d, box);
    for (terrain_detail_level &l : g->levels) {
        float x0 = float(l.x) * t->spacing, z0 = float(l.z) * t->spacing;
        float x1 = x0 + float(l.size) * t->spacing, z1 = z0 + float(l.size) * t->spacing;
        if (box[0] < x1 && box[2] > x0 && box[1] < z1 && box[3] > z0)
            l.flags |= 2;
    }
}

void add_to_map(terrain_gpu *g, const Terrain *t, int index) {
    for (int c : terrain_decal_cells(t->decals[size_t(index)], t->extent)) {
        std::vector<int> &list = g->cells[size_t(c)];
        list.insert(std::upper_bound(list.begin(), list.end(), index), index);
        g->changed_cells |= uint64_t(1) << c;
    }
}

// ---------------------------------------------------------------- composition

struct compose_target {
    terrain_gpu *g;
    const Terrain *t;
    const terrain_detail_level *level;
    int x, z;  // the new origin
};

// Points the framebuffer at `tex` and the projection at sub-square `sq`
// (0..15, or -1 for the whole region). False when the framebuffer is not
// complete.
bool begin_target(const compose_target &c, GLuint tex, int sq) {
    krglBindFramebuffer(GL_FRAMEBUFFER, c.g->framebuffer);
    krglFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, tex, 0);
    GLenum status = krglCheckFramebufferStatus(GL_FRAMEBUFFER);
    if (status != GL_FRAMEBUFFER_COMPLETE) {
        console_line("Framebuffer error %x", unsigned(status));
        return false;
    }
    int d = c.g->texture_dim;
    float sp = c.t->spacing;
    float size = float(c.level->size) * sp;
    float x0 = float(c.x) * sp, z0 = float(c.z) * sp;
    if (sq < 0) {
        krglViewport(0, 0, d, d);
    } else {
        int qx = sq & 3, qz = sq >> 2;
        krglViewport(qx * d / 4, qz * d / 4, d / 4, d / 4);
        x0 += float(qx) * size / 4;
        z0 += float(qz) * size / 4;
        size /= 4;
    }
    krglMatrixMode(KRGL_PROJECTION);
    krglLoadIdentity();
    krglOrtho(x0, x0 + size, z0, z0 + size, -1, 1);
    krglMatrixMode(KRGL_MODELVIEW);
    // Ground (x, y, z) to the target's (x, z): heights play no part.
    const float swap[16] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1};
    krglLoadMatrix(swap);
    return true;
}

// Texture matrix 1: ground (x, z) to the shadow texture, whose texel k
// holds sample k.
void set_shadow_matrix(const Terrain *t, GLuint shadow) {
    float inv = 1.0f / float(t->dim - 1);
    float k = inv * t->inv_spacing;
    const float to_shadow[16] = {k, 0, 0, 0, 0, 0, 0, 0, 0, k, 0, 0, 0.5f * inv, 0.5f * inv, 0, 1};
    krglActiveTexture(GL_TEXTURE1);
    krglMatrixMode(KRGL_TEXTURE);
    krglLoadMatrix(to_shadow);
    krglMatrixMode(KRGL_MODELVIEW);
    krglBindTexture(GL_TEXTURE_2D, shadow ? shadow : krgl_black_texture());
    krglActiveTexture(GL_TEXTURE0);
}

void region_quad(const compose_target &c) {
    float sp = c.t->spacing;
    float x0 = float(c.x) * sp, z0 = float(c.z) * sp, s = float(c.level->size) * sp;
    krglBegin(KRGL_QUADS);
    krglTexCoord(0, 0);
    krglVertex(x0, 0, z0);
    krglTexCoord(1, 0);
    krglVertex(x0 + s, 0, z0);
    krglTexCoord(1, 1);
    krglVertex(x0 + s, 0, z0 + s);
    krglTexCoord(0, 1);
    krglVertex(x0, 0, z0 + s);
    krglEnd();
}

// The decals of a sub-square's cells, ascending, each once.
std::vector<int> decals_in(const compose_target &c, int sq) {
    const Terrain *t = c.t;
    float sp = t->spacing, q = float(c.level->size) * sp / 4;
    float x0 = float(c.x) * sp + float(sq & 3) * q, z0 = float(c.z) * sp + float(sq >> 2) * q;
    float cell = t->extent / TERRAIN_DECAL_CELLS;
    int a0 = std::clamp(int(std::floor(x0 / cell)), 0, 7), a1 = std::clamp(int(std::floor((x0 + q) / cell)), 0, 7);
    int b0 = std::clamp(int(std::floor(z0 / cell)), 0, 7), b1 = std::clamp(int(std::floor((z0 + q) / cell)), 0, 7);
    std::vector<int> out;
    for (int b = b0; b <= b1; ++b)
        for (int a = a0; a <= a1; ++a) {
            const std::vector<int> &list = c.g->cells[size_t(b * 8 + a)];
            out.insert(out.end(), list.begin(), list.end());
        }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

// kind 0 colour, 1 normal, 2 specular.
void draw_decals(const compose_target &c, const std::vector<int> &decals, int kind) {
    GLuint bound = 0;
    bool open = false;
    for (int i : decals) {
        if (size_t(i) >= c.t->decals.size())
            continue;
        const terrain_decal &d = c.t->decals[size_t(i)];
        GLuint tex = kind == 0 ? d.texture : kind == 1 ? d.normal_texture : d.specular_texture;
        if (!tex)
            continue;
        if (tex != bound || !open) {
            if (open)
                krglEnd();
            krglBindTexture(GL_TEXTURE_2D, tex);
            bound = tex;
            krglBegin(KRGL_QUADS);
            open = true;
        }
        std::array<float, 8> p = decal_corners(d);
        for (int k = 0; k < 4; ++k) {
            krglTexCoord(d.uv[size_t(2 * k)], d.uv[size_t(2 * k + 1)]);
            krglVertex(p[size_t(2 * k)], 0, p[size_t(2 * k + 1)]);
        }
        ++krgl_stats().decals.count;
    }
    if (open)
        krglEnd();
}

// Runs one state; `squares` is the number of decal sub-squares allowed
// (< 0: all). Returns the next state.
int run_state(compose_target &c, int state, int squares, uint16_t *done) {
    terrain_gpu *g = c.g;
    const Terrain *t = c.t;
    const terrain_render_settings &s = terrain_render_config();
    int target = state / 3;  // 0 colour, 1 normal, 2 specular
    GLuint tex = state == SWAP ? 0 : g->spare[size_t(std::min(target, 2))];
    switch (state) {
    case COLOUR_BASE: {
        if (!begin_target(c, tex, -1))
            return state + 1;
        krglDisable(GL_BLEND);
        krglUseProgram(KRGL_TILEMAP);
        krglTilemapSizes(t->inv_spacing, 1.0f / float(g->atlas_cells), 1.0f / float(std::max(1, t->tiles)));
        // One atlas level whose cell holds as many texels as a tile covers.
        float per_tile = std::max(1.0f, 2.0f * float(g->texture_dim) / float(c.level->size));
        int j = 0;
        while ((g->atlas_cell_px >> j) > per_tile && (g->atlas_cell_px >> j) > 1)
            ++j;
        krglActiveTexture(GL_TEXTURE1);
        krglBindTexture(GL_TEXTURE_2D, g->tilemap);
        krglActiveTexture(GL_TEXTURE0);
        krglBindTexture(GL_TEXTURE_2D, g->atlas);
        krglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_LOD, j);
        krglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LOD, j);
        region_quad(c);
        krglFlush();
        return state + 1;
    }
    case NORMAL_BASE: {
        if (!begin_target(c, tex, -1))
            return state + 1;
        krglDisable(GL_BLEND);
        krglUseProgram(KRGL_TERRAIN_NORMALS);
        set_shadow_matrix(t, g->shadow);
        krglBindTexture(GL_TEXTURE_2D, krgl_flat_normal_texture());
        region_quad(c);
        krglFlush();
        return state + 1;
    }
    case SPECULAR_BASE: {
        if (!begin_target(c, tex, -1))
            return state + 1;
        krglDisable(GL_BLEND);
        krglUseProgram(KRGL_UNLIT);
        krglBindTexture(GL_TEXTURE_2D, krgl_white_texture());
        krglColor(0, 1, 1, 1);
        region_quad(c);
        krglColor(1, 1, 1, 1);
        krglFlush();
        return state + 1;
    }
    case COLOUR_DECALS:
    case NORMAL_DECALS:
    case SPECULAR_DECALS: {
        int kind = state == COLOUR_DECALS ? 0 : state == NORMAL_DECALS ? 1 : 2;
        if (g->decals_hidden) {
            *done = 0;
            return state + 1;
        }
        for (int sq = 0; sq < 16 && squares != 0; ++sq) {
            if (*done & (1u << sq))
                continue;
            *done = uint16_t(*done | (1u << sq));
            // A sub-square without decals has nothing to draw and costs
            // none of the step's budget.
            std::vector<int> decals = decals_in(c, sq);
            if (decals.empty())
                continue;
            --squares;
            if (!begin_target(c, tex, sq))
                continue;
            krglEnable(GL_BLEND);
            krglBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
            if (kind == 1) {
                krglUseProgram(KRGL_TERRAIN_NORMALS);
                set_shadow_matrix(t, g->shadow);
            } else {
                krglUseProgram(KRGL_UNLIT);
            }
            draw_decals(c, decals, kind);
            krglFlush();
            krglDisable(GL_BLEND);
        }
        if (*done != k_all_squares)
            return state;
        *done = 0;
        return state + 1;
    }
    case COLOUR_MIPMAPS:
    case NORMAL_MIPMAPS:
    case SPECULAR_MIPMAPS:
        if (state != COLOUR_MIPMAPS || s.mipmaps) {
            krglBindTexture(GL_TEXTURE_2D, tex);
            krglGenerateMipmap(GL_TEXTURE_2D);
        }
        return state + 1;
    case SWAP: {
        terrain_detail_level &l = g->levels[size_t(g->updating)];
        std::swap(l.colour, g->spare[0]);
        std::swap(l.normal, g->spare[1]);
        std::swap(l.specular, g->spare[2]);
        l.x = c.x;
        l.z = c.z;
        l.composed = true;
        return COMPOSE_DONE;
    }
    default:
        return COMPOSE_DONE;
    }
}

// Runs the composition of the level being updated: one step, or all.
void run_composition(Terrain *t, terrain_gpu *g, bool to_end) {
    compose_target c{g, t, &g->levels[size_t(g->updating)], g->new_x, g->new_z};
    krglMatrixMode(KRGL_PROJECTION);
    krglPushMatrix();
    krglMatrixMode(KRGL_MODELVIEW);
    krglPushMatrix();
    krglDisable(GL_DEPTH_TEST);
    krglDisable(GL_CULL_FACE);
    int rate = terrain_render_config().texture_update_rate;
    do {
        g->state = run_state(c, g->state, to_end ? -1 : rate, &g->squares_done);
    } while (to_end && g->state != COMPOSE_DONE);
    if (g->state == COMPOSE_DONE) {
        g->updating = -1;
        g->state = 0;
    }
    krglBindFramebuffer(GL_FRAMEBUFFER, 0);
    krglUseProgram(KRGL_UNLIT);
    krglActiveTexture(GL_TEXTURE1);
    krglMatrixMode(KRGL_TEXTURE);
    krglLoadIdentity();
    krglMatrixMode(KRGL_MODELVIEW);
    krglBindTexture(GL_TEXTURE_2D, 0);
    krglActiveTexture(GL_TEXTURE0);
    krglEnable(GL_CULL_FACE);
    krglMatrixMode(KRGL_PROJECTION);
    krglPopMatrix();
    krglMatrixMode(KRGL_MODELVIEW);
    krglPopMatrix();
}

void start_composition(terrain_gpu *g, int level, int x, int z) {
    g->updating = level;
    g->state = COLOUR_BASE;
    g->squares_done = 0;
    g->new_x = x;
    g->new_z = z;
    g->levels[size_t(level)].flags = 0;
}

// Makes the first missing spare; false when none was missing.
bool replace_a_spare(terrain_gpu *g) {
    for (size_t k = 0; k < g->spare.size(); ++k)
        if (!g->spare[k]) {
            g->spare[k] = make_level_texture(g->texture_dim, k > 0 || terrain_render_config().mipmaps);
            return true;
        }
    return false;
}

// Composes level k completely, in place, within this call; while loading,
// the loading screen is kept alive between the steps.
void compose_now(Terrain *t, terrain_gpu *g, size_t k, bool loading) {
    if (g->updating >= 0 && size_t(g->updating) != k)
        run_composition(t, g, true);  // the composition under way finishes first
    while (replace_a_spare(g)) {
    }
    start_composition(g, int(k), g->levels[k].x, g->levels[k].z);
    if (!loading) {
        run_composition(t, g, true);
        return;
    }
    while (g->updating >= 0) {
        run_composition(t, g, false);
        terrain_loading_tick();
    }
}

}  // namespace

// ---------------------------------------------------------------- plans and placement

std::vector<terrain_level_plan> terrain_plan_levels(int dim, float spacing, int level_bits) {
    int first = 64;
    if (spacing < 1.0f) {
        first = 128;
        while (float(first) * spacing < 64.0f)
            first *= 2;
    }
    std::vector<terrain_level_plan> out;
    for (int k = 0; k < 4; ++k) {
        int size = first << k;
        if ((level_bits >> k & 1) && size < dim)
            out.push_back({1 << k, size});
    }
    out.push_back({TERRAIN_WHOLE_LEVEL, dim - 1});
    return out;
}

bool terrain_level_must_move(int origin_x, int origin_z, int size, int cx, int cz) {
    int half = size / 2, quarter = size / 4;
    return std::abs(cx - (origin_x + half)) > quarter || std::abs(cz - (origin_z + half)) > quarter;
}

int terrain_level_origin(int c, int size, int dim) {
    int q = std::max(1, size / 4);
    int p = c + size / 8;
    int o = p - (p - floor_div(p, q) * q) - size / 2;
    return std::clamp(o, 0, std::max(0, dim - 1 - size));
}

// ---------------------------------------------------------------- detail levels

void terrain_delete_detail_levels(terrain_gpu *g) {
    for (terrain_detail_level &l : g->levels)
        for (GLuint *tex : {&l.colour, &l.normal, &l.specular})
            if (*tex)
                krglDeleteTexture(*tex), *tex = 0;
    for (GLuint &tex : g->spare)
        if (tex)
            krglDeleteTexture(tex), tex = 0;
    if (g->framebuffer)
        krglDeleteFramebuffer(g->framebuffer);
    g->framebuffer = 0;
    g->levels.clear();
    g->updating = -1;
    g->state = 0;
}

void terrain_create_detail_levels(Terrain *t) {
    terrain_gpu *g = terrain_gpu_of(t);
    terrain_delete_detail_levels(g);
    const terrain_render_settings &s = terrain_render_config();
    g->texture_dim = s.texture_dim;
    g->framebuffer = krglGenFramebuffer();
    int d = g->texture_dim;
    for (const terrain_level_plan &p : terrain_plan_levels(t->dim, t->spacing, s.texture_levels)) {
        terrain_detail_level l;
        l.bit = p.bit;
        l.size = p.size;
        l.x = l.z = p.bit == TERRAIN_WHOLE_LEVEL ? 0 : terrain_level_origin((t->dim - 1) / 2, p.size, t->dim);
        // No textures yet: a level's first composition hands it the spares.
        l.flags = 1;
        g->levels.push_back(l);
        velk_log("Detail level %d is %dx%d covering %dx%d height elements\n", p.bit, d, d, p.size, p.size);
    }
    for (size_t k = 0; k < 3; ++k)
        g->spare[k] = make_level_texture(d, k > 0 || s.mipmaps);
    // The whole-terrain level is composed once the decals are in (the end of
    // the load), so the first frame has ground everywhere. The finer levels
    // follow after the first frame, a budgeted step per frame, where the
    // camera then is; until then the draw takes the whole-terrain level.
}

namespace {

// The level the update works on next and the origin it gets: the first,
// coarse to fine (the whole level is last in the list), that must follow the
// camera or needs a redraw. A level not yet composed waits for a camera to
// be centred on.
bool next_level_work(const Terrain *t, const terrain_gpu *g, size_t *level, int *x, int *z) {
    int cx = 0, cz = 0;
    if (g->have_camera) {
        cx = int(std::floor(g->camera[0] * t->inv_spacing));
        cz = int(std::floor(g->camera[2] * t->inv_spacing));
    }
    for (size_t k = g->levels.size(); k-- > 0;) {
        const terrain_detail_level &l = g->levels[k];
        bool whole = l.bit == TERRAIN_WHOLE_LEVEL;
        if (!l.composed && !whole && !g->have_camera)
            continue;
        *level = k;
        if (!whole && g->have_camera && terrain_level_must_move(l.x, l.z, l.size, cx, cz)) {
            *x = terrain_level_origin(cx, l.size, t->dim);
            *z = terrain_level_origin(cz, l.size, t->dim);
            return true;
        }
        if (l.flags & 3) {
            *x = l.x;
            *z = l.z;
            return true;
        }
    }
    return false;
}

}  // namespace

void terrain_update_detail_textures(Terrain *t) {
    if (!krgl.ready || !t->render)
        return;
    terrain_gpu *g = terrain_gpu_of(t);
    if (g->levels.empty() || !g->framebuffer)
        return;
    bool all = torture();
    if (all)
        for (terrain_detail_level &l : g->levels)
            l.flags |= 1;
    // Ground everywhere before anything is drawn.
    if (!g->levels.back().composed) {
        compose_now(t, g, g->levels.size() - 1, false);
        return;
    }
    do {
        if (g->updating < 0) {
            size_t k = 0;
            int x = 0, z = 0;
            if (!next_level_work(t, g, &k, &x, &z)) {
                g->changed_cells = 0;  // the cell lists are kept up to date as decals change
                return;
            }
            // Spares handed to a level by its first composition are
            // replaced one a frame, so no frame pays for them all.
            if (replace_a_spare(g))
                return;
            start_composition(g, int(k), x, z);
        }
        run_composition(t, g, all);
    } while (all);
}

// ---------------------------------------------------------------- decal map

std::vector<int> terrain_decal_cells(const terrain_decal &d, float extent) {
    std::vector<int> out;
    if (!(extent > 0))
        return out;
    float box[4];
    decal_box(d, box);
    float k = TERRAIN_DECAL_CELLS / extent;
    auto cell = [k](float v) {
        float c = std::floor(v * k);
        return std::isfinite(c) ? int(std::clamp(c, 0.0f, float(TERRAIN_DECAL_CELLS - 1))) : 0;
    };
    for (int b = cell(box[1]); b <= cell(box[3]); ++b)
        for (int a = cell(box[0]); a <= cell(box[2]); ++a)
            out.push_back(b * TERRAIN_DECAL_CELLS + a);
    return out;
}

void terrain_rebuild_decal_map(Terrain *t) {
    terrain_gpu *g = terrain_gpu_of(t);
    for (std::vector<int> &c : g->cells)
        c.clear();
    g->changed_cells = ~uint64_t(0);
    if (g->decals_hidden)
        return;
    for (size_t i = 0; i < t->decals.size(); ++i)
        add_to_map(g, t, int(i));
}

void terrain_render_sort_decals(Terrain *t) {
    terrain_gpu *g = terrain_gpu_of(t);
    terrain_rebuild_decal_map(t);
    for (const terrain_decal &d : t->decals)
        flag_levels_for(g, t, d);
    // The end of the load: the whole-terrain level is composed with its
    // decals (and any other composed level they touch is redrawn); the finer
    // levels get theirs with their first composition.
    if (!krgl.ready || !g->framebuffer || g->levels.empty())
        return;
    for (size_t k = 0; k < g->levels.size(); ++k) {
        const terrain_detail_level &l = g->levels[k];
        if (l.composed ? l.flags != 0 : l.bit == TERRAIN_WHOLE_LEVEL)
            compose_now(t, g, k, true);
    }
}

namespace {

bool check_index(const Terrain *t, int index, size_t limit) {
    if (index < 0 || size_t(index) > limit) {
        console_line("Out of range decal index");
        return false;
    }
    (void)t;
    return true;
}

}  // namespace

void terrain_decal_append(Terrain *t, const terrain_decal &d) {
    terrain_gpu *g = terrain_gpu_of(t);
    t->decals.push_back(d);
    if (!g->decals_hidden)
        add_to_map(g, t, int(t->decals.size() - 1));
    flag_levels_for(g, t, d);
}

void terrain_decal_insert(Terrain *t, int index, const terrain_decal &d) {
    if (!check_index(t, index, t->decals.size()))
        return;
    t->decals.insert(t->decals.begin() + index, d);
    terrain_rebuild_decal_map(t);
    flag_levels_for(terrain_gpu_of(t), t, d);
}

void terrain_decal_replace(Terrain *t, int index, const terrain_decal &d) {
    if (t->decals.empty() || !check_index(t, index, t->decals.size() - 1))
        return;
    terrain_gpu *g = terrain_gpu_of(t);
    flag_levels_for(g, t, t->decals[size_t(index)]);
    t->decals[size_t(index)] = d;
    terrain_rebuild_decal_map(t);
    flag_levels_for(g, t, d);
}

void terrain_decal_remove(Terrain *t, int index) {
    if (t->decals.empty() || !check_index(t, index, t->decals.size() - 1))
        return;
    terrain_gpu *g = terrain_gpu_of(t);
    flag_levels_for(g, t, t->decals[size_t(index)]);
    t->decals.erase(t->decals.begin() + index);
    terrain_rebuild_decal_map(t);
}

void terrain_toggle_decals(Terrain *t) {
    terrain_gpu *g = terrain_gpu_of(t);
    g->decals_hidden = !g->decals_hidden;
    terrain_rebuild_decal_map(t);
    for (terrain_detail_level &l : g->levels)
        l.flags |= 2;
}

bool terrain_lay_treadmark(Terrain *t) {
    terrain_gpu *g = terrain_gpu_of(t);
    if (g->treadmarks > terrain_render_config().treadmark_limit)
        return false;
    ++g->treadmarks;
    return true;
}
