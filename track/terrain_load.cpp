// Terrain load, unload and save: "terrain.hf" (header and samples),
// "shadows.pgm", "tileinfo" / "texturelist", "tilemap", "decals".
//
// Track folders are shared between players, so the header is checked before
// anything is sized from it, and every count read from a file is bounded.

#include "track/track_local.h"
#include "hash/hash.h"
#include "platform/platform.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Largest shadow image read before its size is compared with the grid.
constexpr int k_max_image_side = 16384;
// Rows of samples read or converted between two loading ticks.
constexpr int k_rows_per_tick = 64;

[[nodiscard]] bool header_sane(int n, float spacing, float lo, float hi) {
    if (n < 0 || n > TERRAIN_MAX_N)
        return false;
    if (!all_finite(spacing, lo, hi) || !(spacing >= 1.0f / 1024.0f) || spacing > 1024.0f)
        return false;
    return lo <= hi && std::fabs(lo) <= 1e7f && std::fabs(hi) <= 1e7f;
}

void size_grid(Terrain *t, int n, float spacing) {
    t->n = n;
    t->dim = (1 << (n + 1)) + 1;
    t->tiles = 1 << n;
    t->spacing = spacing;
    t->inv_spacing = 1.0f / spacing;
    t->extent = spacing * float(t->dim - 1);
    t->blocks = std::max(1, (t->dim - 1) / TERRAIN_BLOCK);
}

// The inline samples after ':', in bands of rows with the loading screen
// kept alive between them (memory is touched as it fills, not all at once).
bool read_inline_samples(data_file *f, size_t dim, std::vector<uint16_t> *samples) {
    samples->clear();
    samples->reserve(dim * dim);
    std::vector<uint8_t> raw(dim * 2 * k_rows_per_tick);
    for (size_t j = 0; j < dim; j += k_rows_per_tick) {
        size_t band = std::min<size_t>(k_rows_per_tick, dim - j) * dim;
        if (data_read(f, raw.data(), band * 2) != band * 2)
            return false;
        for (size_t k = 0; k < band; ++k)
            samples->push_back(uint16_t(raw[2 * k] | raw[2 * k + 1] << 8));
        loading_tick();
    }
    return true;
}

// The samples of "terrain.png": sample (i, j) takes pixel (min(i, width-1),
// min(j, height-1)); all 0 when the image cannot be read.
void read_image_samples(const char *folder, size_t dim, std::vector<uint16_t> *samples) {
    height_image image;
    std::string png = folder_file(folder, "terrain.png");
    const track_services &s = services();
    bool have = s.read_height_image && s.read_height_image(png.c_str(), &image) && image.width > 0 &&
                image.height > 0 && image.samples.size() >= size_t(image.width) * size_t(image.height);
    if (!have) {
        samples->assign(dim * dim, 0);
        return;
    }
    samples->clear();
    samples->reserve(dim * dim);
    size_t w = size_t(image.width), h = size_t(image.height);
    for (size_t j = 0; j < dim; ++j)
        for (size_t i = 0; i < dim; ++i)
            samples->push_back(image.samples[std::min(j, h - 1) * w + std::min(i, w - 1)]);
}

// Heights, base heights and the digest of the samples (little-endian pairs in
// file order), a row at a time.
void take_samples(Terrain *t, const std::vector<uint16_t> &samples, float lo, float hi) {
    size_t dim = size_t(t->dim);
    ripemd160_ctx ctx;
    ripemd160_start(&ctx);
    t->heights.clear();
    t->heights.reserve(dim * dim);
    t->base_heights.clear();
    t->base_heights.reserve(dim * dim);
    float range = hi - lo;
    std::vector<uint8_t> le(dim * 2);
    std::vector<float> row(dim);
    for (size_t j = 0; j < dim; ++j) {
        const uint16_t *in = &samples[j * dim];
        for (size_t i = 0; i < dim; ++i) {
            le[2 * i] = uint8_t(in[i] & 0xff);
            le[2 * i + 1] = uint8_t(in[i] >> 8);
            row[i] = lo + range * float(in[i]) / 65535.0f;
        }
        t->heights.insert(t->heights.end(), row.begin(), row.end());
        t->base_heights.insert(t->base_heights.end(), row.begin(), row.end());
        ripemd160_feed(&ctx, le.data(), le.size());
        if ((j + 1) % k_rows_per_tick == 0)
            loading_tick();
    }
    ripemd160_finish(&ctx, t->digest.data());
}

// "terrain.hf": the header, then ':' and the raw samples, or anything else
// and the samples come from "terrain.png".
bool read_height_field(Terrain *t, const char *folder) {
    std::string path = folder_file(folder, "terrain.hf");
    data_file_ptr f(data_open(path.c_str(), "rb"));
    if (!f) {
        console("Can't open '%.950s'", path.c_str());
        return false;
    }
    int n = 0;
    float spacing = 0, lo = 0, hi = 0;
    if (data_scanf(f.get(), "%d %f %f %f ", &n, &spacing, &lo, &hi) != 4 || !header_sane(n, spacing, lo, hi)) {
        console("Bad height field parameters");
        return false;
    }
    size_grid(t, n, spacing);
    t->min_height = lo;
    t->max_height = hi;
    std::vector<uint16_t> samples;
    if (data_getc(f.get()) == ':') {
        if (!read_inline_samples(f.get(), size_t(t->dim), &samples))
            return false;
    } else {
        read_image_samples(folder, size_t(t->dim), &samples);
    }
    take_samples(t, samples, lo, hi);
    if (track_verbosity() >= 2) {
        char hex[41];
        digest_to_hex(t->digest.data(), t->digest.size(), hex);
        velk_log("%s\n", hex);
    }
    size_t nodes = (size_t(1) << (2 * (n + 1))) / 3;  // (4^(n+1))/3
    t->lod_error.assign(nodes, 0.0f);
    loading_tick();
    t->lod_height.assign(nodes, 0.0f);
    t->lod_flags.assign((nodes + 7) / 8, 0);
    loading_tick();
    return true;
}

// A binary or plain PGM. False on anything malformed or short.
bool read_pgm(data_file *f, int *width, int *height, std::vector<uint8_t> *pixels) {
    if (data_getc(f) != 'P')
        return false;
    int kind = data_getc(f);
    if (kind != '5' && kind != '2')
        return false;
    int w = 0, h = 0, maxval = 0;
    data_skip_comments(f);
    if (data_scanf(f, "%d", &w) != 1)
        return false;
    data_skip_comments(f);
    if (data_scanf(f, "%d", &h) != 1)
        return false;
    data_skip_comments(f);
    if (data_scanf(f, "%d", &maxval) != 1)
        return false;
    if (w <= 0 || h <= 0 || w > k_max_image_side || h > k_max_image_side || maxval <= 0 || maxval > 65535)
        return false;
    *width = w;
    *height = h;
    size_t count = size_t(w) * size_t(h);
    pixels->resize(count);
    if (kind == '2') {
        for (size_t k = 0; k < count; ++k) {
            int v;
            if (data_scanf(f, "%d", &v) != 1)
                return false;
            (*pixels)[k] = uint8_t(std::clamp(v, 0, maxval) * 255 / maxval);
        }
        return true;
    }
    (void)data_getc(f);  // the single white space before the data
    size_t bytes = maxval < 256 ? 1 : 2;
    std::vector<uint8_t> raw(count * bytes);
    if (data_read(f, raw.data(), raw.size()) != raw.size())
        return false;
    for (size_t k = 0; k < count; ++k) {
        int v = bytes == 1 ? raw[k] : raw[2 * k] << 8 | raw[2 * k + 1];
        (*pixels)[k] = uint8_t(std::min(v, maxval) * 255 / maxval);
    }
    return true;
}

bool read_shadows(Terrain *t, const char *folder) {
    size_t count = size_t(t->dim) * size_t(t->dim);
    t->shadow.assign(count, 0);
    std::string path = folder_file(folder, "shadows.pgm");
    data_file_ptr f(data_open(path.c_str(), "rb"));
    if (!f)
        return true;
    stage_begin("Loading shadows");
    int w = 0, h = 0;
    std::vector<uint8_t> light;
    if (!read_pgm(f.get(), &w, &h, &light)) {
        console("Error reading shadows");
        return false;
    }
    if (w != t->dim || h != t->dim) {
        console("Bad shadow dimensions (%dx%d)\n", w, h);
        return false;
    }
    for (size_t k = 0; k < count; ++k)
        t->shadow[k] = uint8_t(255 - light[k]);
    stage_end("Loading shadows");
    return true;
}

bool read_tile_types(Terrain *t, const char *folder) {
    stage_begin("Loading tileinfo");
    std::string path = folder_file(folder, "tileinfo");
    if (data_file_ptr f{data_open(path.c_str(), "rb")}) {
        read_tileinfo(f.get(), &t->tile_types);
    } else {
        path = folder_file(folder, "texturelist");
        data_file_ptr g(data_open(path.c_str(), "rb"));
        if (!g) {
            console("Can't open '%.950s'", path.c_str());
            return false;
        }
        read_texturelist(g.get(), &t->tile_types);
    }
    // The tile map is clamped to count - 1: with no tile type nothing is
    // valid, so such a set fails the load.
    if (t->tile_types.empty()) {
        console("No tile types in '%.950s'", path.c_str());
        return false;
    }
    stage_end("Loading tileinfo");
    return true;
}

bool read_tilemap(Terrain *t, const char *folder) {
    stage_begin("Loading tilemap");
    std::string path = folder_file(folder, "tilemap");
    data_file_ptr f(data_open(path.c_str(), "rb"));
    if (!f) {
        console("Can't open '%.950s'", path.c_str());
        return false;
    }
    t->tilemap.assign(size_t(t->tiles) * size_t(t->tiles), 0);
    if (data_read(f.get(), t->tilemap.data(), t->tilemap.size()) != t->tilemap.size()) {
        console("Short tile map '%.950s'", path.c_str());
        return false;
    }
    uint8_t last = uint8_t(t->tile_types.size() - 1);
    for (uint8_t &b : t->tilemap)
        b = std::min(b, last);
    stage_end("Loading tilemap");
    return true;
}

std::string replace_extension(const std::string &name, const char *suffix) {
    size_t dot = name.rfind('.');
    return (dot == std::string::npos ? name : name.substr(0, dot)) + suffix;
}

uint32_t first_texture(const std::string &name, const char *a, const char *b) {
    uint32_t h = texture_handle(replace_extension(name, a));
    return h ? h : texture_handle(replace_extension(name, b));
}

bool load_steps(Terrain *t, const char *folder) {
    const track_services &s = services();
    stage_begin("Loading terrain");
    if (!read_height_field(t, folder)) {
        console("Error reading heights");
        return false;
    }
    stage_end("Loading terrain");
    if (s.render_upload_heights)
        s.render_upload_heights(t);
    if (!read_shadows(t, folder))
        return false;
    if (track_verbosity() > 0 && s.texture_memory)
        velk_log("%lu bytes texture memory used before ground tiles loaded\n", (unsigned long)s.texture_memory());
    if (!read_tile_types(t, folder))
        return false;
    if (s.render_build_tile_atlas)
        s.render_build_tile_atlas(t);
    for (TileType &tt : t->tile_types)
        std::string().swap(tt.texture);
    if (s.render_load_treadmarks)
        s.render_load_treadmarks(t);
    if (track_verbosity() > 0 && s.texture_memory)
        velk_log("%lu bytes texture memory used after ground tiles loaded\n", (unsigned long)s.texture_memory());
    if (!read_tilemap(t, folder))
        return false;
    if (s.render_upload_tilemap)
        s.render_upload_tilemap(t);
    t->dirty_mask.assign((size_t(t->blocks) * size_t(t->blocks) + 7) / 8, 0);
    stage_begin("Creating terrain texture pyramid");
    if (s.render_build_lod)
        s.render_build_lod(t);
    stage_end("Creating terrain texture pyramid");
    terrain_load_decals(t, folder);
    return true;
}

}  // namespace

bool terrain_load(Terrain *t, const char *folder) {
    terrain_unload(t);
    if (!load_steps(t, folder)) {
        terrain_unload(t);
        return false;
    }
    t->loaded = true;
    return true;
}

void terrain_unload(Terrain *t) {
    if (services().render_unload)
        services().render_unload(t);
    *t = Terrain{};
}

void terrain_load_decals(Terrain *t, const char *folder) {
    std::string path = folder_file(folder, "decals");
    data_file_ptr f(data_open(path.c_str(), "rb"));
    if (!f) {
        // The renderer finishes its detail textures here, decals or not.
        if (services().render_sort_decals)
            services().render_sort_decals(t);
        return;
    }
    stage_begin("Loading decals");
    float x, z, angle, size, aspect;
    char name[1024];
    while (data_scanf(f.get(), "[ %f %f ] %f %f %f %1023s ", &x, &z, &angle, &size, &aspect, name) == 6) {
        if (!all_finite(x, z, angle, size, aspect))
            continue;
        terrain_decal d;
        d.texture_name = name;
        d.texture = texture_handle(d.texture_name);
        if (d.texture) {
            d.normal_texture = first_texture(d.texture_name, "_tnorm.png", "_tnorm.ppm");
            d.specular_texture = first_texture(d.texture_name, "_tspec.png", "_tspec.ppm");
        }
        d.x = x;
        d.z = z;
        d.angle = angle;
        d.size = size;
        d.aspect = aspect;
        d.sin_angle = std::sin(angle);
        d.cos_angle = std::cos(angle);
        t->decals.push_back(std::move(d));
    }
    if (services().render_sort_decals)
        services().render_sort_decals(t);
    stage_end("Loading decals");
}

// ---------------------------------------------------------------- save

namespace {

// The 16-bit sample of a height between lo and hi (0 for a flat field).
uint16_t quantise(float h, float lo, float hi) {
    if (!(hi > lo))
        return 0;
    double v = std::trunc(double(h - lo) / double(hi - lo) * 65535.0 + 0.5);
    return uint16_t(std::clamp(v, 0.0, 65535.0));
}

bool save_heights(Terrain *t, const char *folder) {
    // The header prints six decimals; the samples are made against the
    // values a reader will parse back, so no height shifts on reload.
    char header[256];
    std::snprintf(header, sizeof header, "%d %f %f %f\n", t->n, double(t->spacing), double(t->min_height),
                  double(t->max_height));
    float lo = 0, hi = 0;
    {
        int n;
        float sp;
        if (std::sscanf(header, "%d %f %f %f", &n, &sp, &lo, &hi) != 4)
            return false;
    }
    size_t count = size_t(t->dim) * size_t(t->dim);
    std::vector<uint16_t> samples(count);
    for (size_t k = 0; k < count; ++k)
        samples[k] = quantise(t->heights[k], lo, hi);

    const track_services &s = services();
    whole_file_writer w;
    if (!w.open(folder_file(folder, "terrain.hf"))) {
        console("Can't open 'terrain.hf'");
        return false;
    }
    w.printf("%s", header);
    if (s.write_height_image) {
        height_image image{t->dim, t->dim, std::move(samples)};
        if (!s.write_height_image(folder_file(folder, "terrain.png").c_str(), image))
            return false;
    } else {
        // Without the image writer the samples go inline, so a save never
        // points the header at a "terrain.png" that was not written.
        std::vector<uint8_t> raw(count * 2 + 1);
        raw[0] = ':';
        for (size_t k = 0; k < count; ++k) {
            raw[1 + 2 * k] = uint8_t(samples[k] & 0xff);
            raw[2 + 2 * k] = uint8_t(samples[k] >> 8);
        }
        w.write(raw.data(), raw.size());
    }
    if (!w.commit()) {
        console("Can't open 'terrain.hf'");
        return false;
    }
    return true;
}

bool save_shading(const Terrain *t, const char *folder, const track_lighting &light) {
    int dim = t->dim;
    auto h = [t, dim](int i, int j) {
        i = std::clamp(i, 0, dim - 1);
        j = std::clamp(j, 0, dim - 1);
        return double(t->heights[size_t(j) * size_t(dim) + size_t(i)]);
    };
    std::vector<uint8_t> half(size_t(dim) * size_t(dim) * 3), full(half.size());
    double s2 = 2.0 * t->spacing;
    for (int j = 0; j < dim; ++j) {
        for (int i = 0; i < dim; ++i) {
            double a = (h(i, j + 1) - h(i, j - 1)) * s2;
            double b = (h(i + 1, j) - h(i - 1, j)) * s2;
            double len = std::sqrt(s2 * s2 * s2 * s2 + a * a + b * b);
            double dot = (-b * light.sun_vector[0] + s2 * s2 * light.sun_vector[1] - a * light.sun_vector[2]) / len;
            size_t k = size_t(j) * size_t(dim) + size_t(i);
            double lit = std::clamp(dot, 0.0, 1.0) * (1.0 - t->shadow[k] / 255.0);
            for (int c = 0; c < 3; ++c) {
                double v = std::trunc((light.sun_colour[size_t(c)] * lit + light.ambient[size_t(c)]) * 0.5 * 255.0);
                int cv = int(std::clamp(std::isfinite(v) ? v : 0.0, 0.0, 255.0));
                half[k * 3 + size_t(c)] = uint8_t(cv);
                full[k * 3 + size_t(c)] = uint8_t(std::min(2 * cv, 255));
            }
        }
    }
    const struct {
        const char *file;
        const std::vector<uint8_t> *data;
    } maps[] = {{"shading.ppm", &full}, {"shadingx2.ppm", &half}};
    for (const auto &m : maps) {
        whole_file_writer w;
        if (w.open(folder_file(folder, m.file))) {
            w.printf("P6\n%d %d\n255\n", dim, dim);
            w.write(m.data->data(), m.data->size());
        }
        if (!w.commit()) {
            console("Can't open '%s'", m.file);
            return false;
        }
    }
    return true;
}

bool save_tilemap(const Terrain *t, const char *folder) {
    whole_file_writer w;
    if (w.open(folder_file(folder, "tilemap")))
        w.write(t->tilemap.data(), t->tilemap.size());
    if (!w.commit()) {
        console("Can't open 'tilemap'");
        return false;
    }
    return true;
}

bool save_decals(const Terrain *t, const char *folder) {
    whole_file_writer w;
    if (w.open(folder_file(folder, "decals")))
        for (const terrain_decal &d : t->decals)
            if (!d.treadmark)
                w.printf("[%f %f] %f %f %f %s\n", double(d.x), double(d.z), double(d.angle), double(d.size),
                         double(d.aspect), d.texture_name.c_str());
    if (!w.commit()) {
        console("Can't open 'decals'");
        return false;
    }
    return true;
}

}  // namespace

bool terrain_save(Terrain *t, const char *folder, const track_lighting &light) {
    if (t->heights.empty())
        return false;
    auto [lo, hi] = std::minmax_element(t->heights.begin(), t->heights.end());
    t->min_height = *lo;
    t->max_height = *hi;
    return save_heights(t, folder) && save_shading(t, folder, light) && save_tilemap(t, folder) &&
           save_decals(t, folder);
}
