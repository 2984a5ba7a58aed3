// Terrain renderer: settings, the load-time hooks of the track layer, the
// GPU copies of the ground data (height, shadow and tile-map textures, the
// tile atlas, the treadmark atlases), the patch mesh buffers, the height
// block re-uploads and the release.
#include "platform/platform.h"
#include "render/render_local.h"
#include "track/track.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace {

terrain_render_settings g_settings;

constexpr int k_upload_rows = 256;         // height texture rows uploaded between loading ticks
constexpr long k_radii_load_budget = 1 << 20;  // split-radius units between loading ticks

GLuint make_texture(GLint internal_format, int w, int h, GLenum format, GLenum type, const void *pixels,
                    GLint min_filter, GLint mag_filter) {
    GLuint tex = krglGenTexture();
    krglBindTexture(GL_TEXTURE_2D, tex);
    krglPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    krglTexImage2D(GL_TEXTURE_2D, 0, internal_format, w, h, format, type, pixels);
    krglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, min_filter);
    krglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, mag_filter);
    krglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    krglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    return tex;
}

void delete_texture(GLuint *tex) {
    if (*tex)
        krglDeleteTexture(*tex);
    *tex = 0;
}

// The first dim-1 columns of rows j0..j1-1 of a row-major dim-wide array.
template <typename T>
std::vector<T> rect_of(const std::vector<T> &src, int dim, int i0, int j0, int w, int h) {
    std::vector<T> out(size_t(w) * size_t(h));
    for (int j = 0; j < h; ++j)
        std::memcpy(&out[size_t(j) * size_t(w)], &src[size_t(j0 + j) * size_t(dim) + size_t(i0)],
                    size_t(w) * sizeof(T));
    return out;
}

void upload_mip_chain(const kr_image &img, GLenum format) {
    int w = img.width, h = img.height;
    size_t offset = 0;
    GLint internal = GLint(format == GL_RGBA ? GL_RGBA8 : format == GL_RGB ? GL_RGB8 : GL_R8);
    for (int level = 0; level < img.levels; ++level) {
        krglTexImage2D(GL_TEXTURE_2D, level, internal, w, h, format, GL_UNSIGNED_BYTE, img.pixels.data() + offset);
        offset += size_t(w) * size_t(h) * size_t(img.components);
        w = std::max(1, w / 2);
        h = std::max(1, h / 2);
    }
}

void delete_meshes(terrain_gpu *g) {
    for (int v = 0; v < TERRAIN_VARIANTS; ++v) {
        for (GLuint *a : {&g->tri_vao[size_t(v)], &g->line_vao[size_t(v)]})
            if (*a)
                krglDeleteVertexArray(*a), *a = 0;
        for (GLuint *b : {&g->tri_buffer[size_t(v)], &g->line_buffer[size_t(v)]})
            if (*b)
                krglDeleteBuffer(*b), *b = 0;
    }
    for (GLuint *b : {&g->patch_vertices, &g->stream})
        if (*b)
            krglDeleteBuffer(*b), *b = 0;
}

void build_meshes(terrain_gpu *g, int m) {
    delete_meshes(g);
    g->mesh_exponent = m;
    std::vector<float> verts = terrain_patch_vertices(m);
    g->patch_vertices = krglGenBuffer();
    krglBindBuffer(GL_ARRAY_BUFFER, g->patch_vertices);
    krglBufferData(GL_ARRAY_BUFFER, verts.size() * sizeof(float), verts.data(), GL_STATIC_DRAW);
    for (int v = 0; v < TERRAIN_VARIANTS; ++v) {
        for (bool lines : {false, true}) {
            std::vector<uint16_t> idx = terrain_patch_indices(m, v, lines);
            GLuint vao = krglGenVertexArray();
            krglBindVertexArray(vao);
            krglBindBuffer(GL_ARRAY_BUFFER, g->patch_vertices);
            krglVertexAttribPointer(ATTR_POSITION, 2, GL_FLOAT, false, 0, 0);
            krglEnableVertexAttribArray(ATTR_POSITION);
            GLuint ebo = krglGenBuffer();
            krglBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ebo);
            krglBufferData(GL_ELEMENT_ARRAY_BUFFER, idx.size() * sizeof(uint16_t), idx.data(), GL_STATIC_DRAW);
            krglBindVertexArray(0);
            (lines ? g->line_vao : g->tri_vao)[size_t(v)] = vao;
            (lines ? g->line_buffer : g->tri_buffer)[size_t(v)] = ebo;
            (lines ? g->line_indices : g->tri_indices)[size_t(v)] = int(idx.size());
        }
    }
    g->stream = krglGenBuffer();
    krglBindBuffer(GL_ARRAY_BUFFER, g->stream);
    krglBufferData(GL_ARRAY_BUFFER, TERRAIN_STREAM_BYTES, nullptr, GL_STREAM_DRAW);
    krglBindBuffer(GL_ARRAY_BUFFER, 0);
}

std::string replace_extension(const std::string &name, const char *suffix) {
    size_t dot = name.rfind('.');
    return (dot == std::string::npos ? name : name.substr(0, dot)) + suffix;
}

// Bilinear resize of level 0 to w x h (RGBA).
std::vector<uint8_t> resize_rgba(const kr_image &img, int w, int h) {
    std::vector<uint8_t> out(size_t(w) * size_t(h) * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float fx = (float(x) + 0.5f) * float(img.width) / float(w) - 0.5f;
            float fy = (float(y) + 0.5f) * float(img.height) / float(h) - 0.5f;
            int x0 = std::clamp(int(std::floor(fx)), 0, img.width - 1);
            int y0 = std::clamp(int(std::floor(fy)), 0, img.height - 1);
            int x1 = std::min(x0 + 1, img.width - 1), y1 = std::min(y0 + 1, img.height - 1);
            float ax = std::clamp(fx - float(x0), 0.0f, 1.0f), ay = std::clamp(fy - float(y0), 0.0f, 1.0f);
            for (int c = 0; c < 4; ++c) {
                auto p = [&](int px, int py) {
                    return float(img.pixels[(size_t(py) * size_t(img.width) + size_t(px)) * 4 + size_t(c)]);
                };
                float v = (p(x0, y0) * (1 - ax) + p(x1, y0) * ax) * (1 - ay) +
                          (p(x0, y1) * (1 - ax) + p(x1, y1) * ax) * ay;
                out[(size_t(y) * size_t(w) + size_t(x)) * 4 + size_t(c)] = uint8_t(std::clamp(v + 0.5f, 0.0f, 255.0f));
            }
        }
    return out;
}

}  // namespace

// ---------------------------------------------------------------- settings and services

void terrain_render_configure(const terrain_render_settings &s) {
    g_settings = s;
    g_settings.mesh_exponent = std::clamp(s.mesh_exponent, 0, TERRAIN_MAX_MESH_EXPONENT);
    g_settings.texture_levels = s.texture_levels & 15;
    g_settings.texture_dim = std::clamp(s.texture_dim, 16, 4096);
    g_settings.texture_update_rate = std::clamp(s.texture_update_rate, 1, 16);
}

const terrain_render_settings &terrain_render_config() {
    return g_settings;
}

void terrain_render_set_wireframe(bool on) {
    g_settings.wireframe = on;
}

void terrain_render_fill_services(track_services *s) {
    s->render_upload_heights = terrain_render_upload_heights;
    s->render_build_tile_atlas = terrain_render_build_tile_atlas;
    s->render_load_treadmarks = terrain_render_load_treadmarks;
    s->render_upload_tilemap = terrain_render_upload_tilemap;
    s->render_build_lod = terrain_render_build_lod;
    s->render_sort_decals = terrain_render_sort_decals;
    s->render_unload = terrain_render_unload;
    height_image_fill_services(s);
}

void height_image_fill_services(track_services *s) {
    s->read_height_image = [](const char *path, height_image *out) {
        return image_read_png_grey16(path, &out->samples, &out->width, &out->height, terrain_loading_tick);
    };
    s->write_height_image = [](const char *path, const height_image &image) {
        return image.samples.size() >= size_t(image.width) * size_t(image.height) &&
               WritePng16(path, image.samples.data(), image.width, image.height);
    };
}

void terrain_loading_tick() {
    track_get_services().tick();
}

terrain_gpu *terrain_gpu_of(Terrain *t) {
    if (!t->render)
        t->render = new terrain_gpu;
    return static_cast<terrain_gpu *>(t->render);
}

// ---------------------------------------------------------------- load steps

void terrain_render_upload_heights(Terrain *t) {
    if (!krgl.ready || t->heights.empty())
        return;
    terrain_gpu *g = terrain_gpu_of(t);
    int side = t->dim - 1;
    delete_texture(&g->heights);
    g->heights = make_texture(GL_R32F, side, side, GL_RED, GL_FLOAT, nullptr, GL_LINEAR, GL_LINEAR);
    // In bands, with the loading screen kept alive between them.
    for (int j = 0; j < side; j += k_upload_rows) {
        int rows = std::min(k_upload_rows, side - j);
        std::vector<float> texels = rect_of(t->heights, t->dim, 0, j, side, rows);
        krglBindTexture(GL_TEXTURE_2D, g->heights);
        krglPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        krglTexSubImage2D(GL_TEXTURE_2D, 0, 0, j, side, rows, GL_RED, GL_FLOAT, texels.data());
        terrain_loading_tick();
    }
    g->height_cursor = 0;
}

int tile_atlas_cells(int count) {
    int b = 1;
    while (b * b < count)
        b *= 2;
    return b;
}

std::vector<uint8_t> tile_atlas_pixels(const std::vector<const kr_image *> &tiles) {
    int cells = tile_atlas_cells(int(tiles.size()));
    int cell = TILE_ATLAS_DIM / cells;
    std::vector<uint8_t> out(size_t(TILE_ATLAS_DIM) * TILE_ATLAS_DIM * 3, 255);
    for (size_t i = 0; i < tiles.size(); ++i) {
        const kr_image *img = tiles[i];
        if (!img || img->width <= 0 || img->height <= 0 || img->components < 3)
            continue;
        // Halve while both sides are even and the image is larger than the
        // cell; the chain's levels are exactly those halvings.
        int w = img->width, h = img->height, level = 0;
        size_t offset = 0;
        while ((w > cell || h > cell) && w % 2 == 0 && h % 2 == 0 && level + 1 < std::max(1, img->levels)) {
            offset += size_t(w) * size_t(h) * size_t(img->components);
            w /= 2;
            h /= 2;
            ++level;
        }
        int cx = int(i) % cells * cell, cy = int(i) / cells * cell;
        for (int y = 0; y < cell; ++y)
            for (int x = 0; x < cell; ++x) {
                int sx = x * w / cell, sy = y * h / cell;
                const uint8_t *p =
                    &img->pixels[offset + (size_t(sy) * size_t(w) + size_t(sx)) * size_t(img->components)];
                uint8_t *q = &out[(size_t(cy + y) * TILE_ATLAS_DIM + size_t(cx + x)) * 3];
                q[0] = p[0];
                q[1] = p[1];
                q[2] = p[2];
            }
    }
    return out;
}

void terrain_render_build_tile_atlas(Terrain *t) {
    if (!krgl.ready)
        return;
    terrain_gpu *g = terrain_gpu_of(t);
    std::vector<kr_image> images(t->tile_types.size());
    std::vector<const kr_image *> tiles;
    for (size_t i = 0; i < t->tile_types.size(); ++i) {
        const std::string &name = t->tile_types[i].texture;
        bool ok = !name.empty() && image_read_rgb(name.c_str(), &images[i]);
        if (ok && images[i].levels < 1)
            build_mip_chain(&images[i], name.c_str());
        tiles.push_back(ok ? &images[i] : nullptr);
        terrain_loading_tick();
    }
    kr_image atlas;
    atlas.width = atlas.height = TILE_ATLAS_DIM;
    atlas.components = 3;
    atlas.levels = 1;
    atlas.pixels = tile_atlas_pixels(tiles);
    build_mip_chain(&atlas, "tile atlas");
    g->atlas_cells = tile_atlas_cells(int(tiles.size()));
    g->atlas_cell_px = TILE_ATLAS_DIM / g->atlas_cells;
    delete_texture(&g->atlas);
    g->atlas = krglGenTexture();
    krglBindTexture(GL_TEXTURE_2D, g->atlas);
    krglPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    upload_mip_chain(atlas, GL_RGB);
    int max_level = 0;
    while ((1 << max_level) < g->atlas_cell_px)
        ++max_level;
    krglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, max_level);
    krglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST_MIPMAP_NEAREST);
    krglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    krglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    krglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}

void terrain_render_load_treadmarks(Terrain *t) {
    if (!krgl.ready)
        return;
    terrain_gpu *g = terrain_gpu_of(t);
    std::vector<std::string> names;
    for (const TileType &tt : t->tile_types)
        for (const TreadmarkType &m : tt.treadmark)
            if (m.defined && !m.texture_name.empty())
                names.push_back(m.texture_name);
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());

    struct cell {
        std::string name;
        std::array<kr_image, 3> img;
        std::array<bool, 3> found{};
        int size = 0;
        int x = 0, y = 0;
    };
    std::vector<cell> cells(names.size());
    static const char *const kinds[3] = {"colors", "normals", "specs"};
    for (size_t k = 0; k < names.size(); ++k) {
        cell &c = cells[k];
        c.name = names[k];
        std::string files[3] = {names[k], replace_extension(names[k], "_tnorm.png"),
                                replace_extension(names[k], "_tspec.png")};
        for (int i = 0; i < 3; ++i) {
            c.found[size_t(i)] = image_read_rgba(files[i].c_str(), &c.img[size_t(i)]);
            if (render_verbosity() > 0)
                velk_log("treadmark %s %s %s\n", names[k].c_str(), kinds[i],
                         c.found[size_t(i)] ? "found" : "not found");
            if (c.found[size_t(i)])
                c.size = std::max({c.size, c.img[size_t(i)].width, c.img[size_t(i)].height});
        }
    }
    // Largest first, shelves in a power-of-two square that grows until all fit.
    std::vector<size_t> order(cells.size());
    for (size_t k = 0; k < order.size(); ++k)
        order[k] = k;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return cells[a].size > cells[b].size; });
    int side = 1;
    for (const cell &c : cells)
        while (side < c.size)
            side *= 2;
    for (;;) {
        int x = 0, y = 0, shelf = 0;
        bool fits = true;
        for (size_t k : order) {
            cell &c = cells[k];
            if (c.size == 0)
                continue;
            if (x + c.size > side) {
                x = 0;
                y += shelf;
                shelf = 0;
            }
            if (y + c.size > side) {
                fits = false;
                break;
            }
            c.x = x;
            c.y = y;
            x += c.size;
            shelf = std::max(shelf, c.size);
        }
        if (fits || side >= 4096)
            break;
        side *= 2;
    }
    static const uint8_t clear[3][4] = {{0, 0, 0, 0}, {128, 128, 255, 0}, {0, 0, 0, 0}};
    std::array<GLuint *, 3> targets = {&g->tread_colour, &g->tread_normal, &g->tread_specular};
    for (int i = 0; i < 3; ++i) {
        kr_image atlas;
        atlas.width = atlas.height = side;
        atlas.components = 4;
        atlas.levels = 1;
        atlas.pixels.resize(size_t(side) * size_t(side) * 4);
        for (size_t p = 0; p < atlas.pixels.size(); p += 4)
            std::memcpy(&atlas.pixels[p], clear[i], 4);
        for (const cell &c : cells) {
            if (!c.found[size_t(i)] || c.size == 0 || c.y + c.size > side || c.x + c.size > side)
                continue;
            std::vector<uint8_t> px = resize_rgba(c.img[size_t(i)], c.size, c.size);
            for (int y = 0; y < c.size; ++y)
                std::memcpy(&atlas.pixels[(size_t(c.y + y) * size_t(side) + size_t(c.x)) * 4],
                            &px[size_t(y) * size_t(c.size) * 4], size_t(c.size) * 4);
        }
        build_mip_chain(&atlas, "treadmark atlas");
        delete_texture(targets[size_t(i)]);
        *targets[size_t(i)] = krglGenTexture();
        krglBindTexture(GL_TEXTURE_2D, *targets[size_t(i)]);
        krglPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        upload_mip_chain(atlas, GL_RGBA);
        krglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
        krglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        krglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        krglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }
    // Each treadmark type's corners: its cell, or nothing without a colour image.
    g->tread_uv.assign(t->tile_types.size() * TREADMARK_TYPES, {});
    for (size_t tile = 0; tile < t->tile_types.size(); ++tile)
        for (size_t slot = 0; slot < TREADMARK_TYPES; ++slot) {
            TreadmarkType &m = t->tile_types[tile].treadmark[slot];
            if (!m.defined)
                continue;
            m.texture = g->tread_colour;
            m.normal_texture = g->tread_normal;
            m.specular_texture = g->tread_specular;
            for (const cell &c : cells)
                if (c.name == m.texture_name && c.found[0] && c.size > 0) {
                    float s0 = float(c.x) / float(side), t0 = float(c.y) / float(side);
                    float s1 = float(c.x + c.size) / float(side), t1 = float(c.y + c.size) / float(side);
                    g->tread_uv[tile * TREADMARK_TYPES + slot] = {s0, t0, s1, t0, s1, t1, s0, t1};
                }
        }
}

void terrain_render_upload_tilemap(Terrain *t) {
    if (!krgl.ready || t->tilemap.empty())
        return;
    terrain_gpu *g = terrain_gpu_of(t);
    delete_texture(&g->tilemap);
    g->tilemap = make_texture(GL_R8, t->tiles, t->tiles, GL_RED, GL_UNSIGNED_BYTE, t->tilemap.data(), GL_NEAREST,
                              GL_NEAREST);
}

void terrain_render_build_lod(Terrain *t) {
    if (t->heights.empty())
        return;
    terrain_gpu *g = terrain_gpu_of(t);
    // All the radii now (the first frame needs them), in parts with the
    // loading screen kept alive between them.
    g->radii = {};
    while (!terrain_update_split_radii(t, &g->radii, g_settings.detail, k_radii_load_budget) && g->radii.active)
        terrain_loading_tick();
    terrain_loading_tick();
    if (!krgl.ready)
        return;
    int side = t->dim - 1;
    if (!t->shadow.empty()) {
        // The chain is built here rather than by the GL: on a software
        // renderer generating it costs a shader compile at every start.
        kr_image img;
        img.width = img.height = side;
        img.components = 1;
        img.levels = 1;
        img.pixels = rect_of(t->shadow, t->dim, 0, 0, side, side);
        terrain_loading_tick();
        build_mip_chain(&img, "shadow map");
        terrain_loading_tick();
        delete_texture(&g->shadow);
        g->shadow = krglGenTexture();
        krglBindTexture(GL_TEXTURE_2D, g->shadow);
        krglPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        upload_mip_chain(img, GL_RED);
        krglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
        krglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        krglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        krglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }
    build_meshes(g, g_settings.disable_tmesh ? 0 : g_settings.mesh_exponent);
    terrain_create_detail_levels(t);
}

// ---------------------------------------------------------------- per frame

std::vector<int> terrain_take_dirty_blocks(Terrain *t, int *cursor, int budget) {
    std::vector<int> out;
    int total = t->blocks * t->blocks;
    if (t->dirty_mask.empty() || total <= 0)
        return out;
    int k = std::clamp(*cursor, 0, total - 1);
    for (int visited = 0; visited < total && (budget < 0 || int(out.size()) < budget); ++visited) {
        if (terrain_block_dirty(t, k % t->blocks, k / t->blocks)) {
            t->dirty_mask[size_t(k) >> 3] = uint8_t(t->dirty_mask[size_t(k) >> 3] & ~(1u << (k & 7)));
            out.push_back(k);
        }
        k = (k + 1) % total;
    }
    *cursor = k;
    return out;
}

int terrain_update_heights(Terrain *t, int budget) {
    if (!t->render || t->heights.empty())
        return 0;
    terrain_gpu *g = terrain_gpu_of(t);
    std::vector<int> blocks = terrain_take_dirty_blocks(t, &g->height_cursor, budget);
    if (!krgl.ready || !g->heights)
        return int(blocks.size());
    krglBindTexture(GL_TEXTURE_2D, g->heights);
    krglPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    int side = t->dim - 1;
    for (int k : blocks) {
        int i0 = (k % t->blocks) * TERRAIN_BLOCK, j0 = (k / t->blocks) * TERRAIN_BLOCK;
        int w = std::min(TERRAIN_BLOCK, side - i0), h = std::min(TERRAIN_BLOCK, side - j0);
        if (w <= 0 || h <= 0)
            continue;
        std::vector<float> texels = rect_of(t->heights, t->dim, i0, j0, w, h);
        krglTexSubImage2D(GL_TEXTURE_2D, 0, i0, j0, w, h, GL_RED, GL_FLOAT, texels.data());
    }
    return int(blocks.size());
}

void terrain_render_update(Terrain *t, int height_budget) {
    if (!t->loaded || !t->render)
        return;
    terrain_gpu *g = terrain_gpu_of(t);
    (void)terrain_update_heights(t, height_budget);
    (void)terrain_update_split_radii(t, &g->radii, g_settings.detail,
                                     height_budget < 0 ? -1 : TERRAIN_RADII_BUDGET);
}

// ---------------------------------------------------------------- release

void terrain_render_unload(Terrain *t) {
    if (!t->render)
        return;
    terrain_gpu *g = static_cast<terrain_gpu *>(t->render);
    if (krgl.ready) {
        for (GLuint *tex : {&g->heights, &g->shadow, &g->tilemap, &g->atlas, &g->tread_colour, &g->tread_normal,
                            &g->tread_specular})
            delete_texture(tex);
        delete_meshes(g);
        terrain_delete_detail_levels(g);
    }
    delete g;
    t->render = nullptr;
}
