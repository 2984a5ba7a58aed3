// The images the drawing needs: a ground texture per surface type, the sky
// box faces with their reflection map, and the head-up images that start-up
// loads. All procedural, with fixed seeds, written as PNG.
#include "content/content.h"
#include "render/render.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct canvas {
    int w, h, comp;
    std::vector<uint8_t> px;
    canvas(int width, int height, int components)
        : w(width), h(height), comp(components), px(size_t(width) * size_t(height) * size_t(components), 0)
    {
    }
    uint8_t *at(int x, int y) { return &px[(size_t(y) * size_t(w) + size_t(x)) * size_t(comp)]; }
    // Blends a colour over the pixel with coverage a (0..1).
    void blend(int x, int y, std::array<int, 4> c, double a)
    {
        if (x < 0 || y < 0 || x >= w || y >= h || a <= 0) {
            return;
        }
        a = std::min(1.0, a) * c[3] / 255.0;
        uint8_t *p = at(x, y);
        for (int i = 0; i < 3; i++) {
            p[i] = uint8_t(std::lround(p[i] * (1 - a) + c[size_t(i)] * a));
        }
        if (comp == 4) {
            p[3] = uint8_t(std::lround(p[3] + (255 - p[3]) * a));
        }
    }
};

// Value noise that wraps at `period` lattice cells, so textures tile.
struct tiling_noise {
    int period;
    std::vector<double> lattice;
    tiling_noise(int cells, uint32_t seed) : period(cells), lattice(size_t(cells) * size_t(cells))
    {
        for (double &v : lattice) {
            seed = seed * 1664525u + 1013904223u;
            v = double(seed >> 8) / double(1u << 24);
        }
    }
    double cell(int x, int y) const
    {
        x = ((x % period) + period) % period;
        y = ((y % period) + period) % period;
        return lattice[size_t(y) * size_t(period) + size_t(x)];
    }
    // u, v in 0..1 over the whole texture.
    double sample(double u, double v) const
    {
        double x = u * period, y = v * period;
        int x0 = int(std::floor(x)), y0 = int(std::floor(y));
        double fx = x - x0, fy = y - y0;
        fx = fx * fx * (3 - 2 * fx);
        fy = fy * fy * (3 - 2 * fy);
        double a = cell(x0, y0) + (cell(x0 + 1, y0) - cell(x0, y0)) * fx;
        double b = cell(x0, y0 + 1) + (cell(x0 + 1, y0 + 1) - cell(x0, y0 + 1)) * fx;
        return a + (b - a) * fy;
    }
};

// Five layers of tiling noise, built once per seed.
struct fractal {
    std::vector<tiling_noise> layers;
    explicit fractal(uint32_t seed)
    {
        for (int o = 0; o < 5; o++) {
            layers.emplace_back(4 << o, seed + uint32_t(o) * 7919u);
        }
    }
    double sample(double u, double v) const
    {
        double sum = 0, amp = 0.5;
        for (const tiling_noise &n : layers) {
            sum += n.sample(u, v) * amp;
            amp *= 0.5;
        }
        return sum / 0.97;
    }
};

bool save(const std::string &dir, const char *name, const canvas &c)
{
    std::string path = dir + "/" + name;
    bool ok = c.comp == 4 ? write_png_rgba_top_down(path.c_str(), c.px.data(), c.w, c.h)
                          : write_png_rgb_top_down(path.c_str(), c.px.data(), c.w, c.h);
    if (!ok) {
        std::fprintf(stderr, "Can't write %s\n", path.c_str());
    }
    return ok;
}

// ---------------------------------------------------------------- ground

struct ground_kind {
    const char *file;
    std::array<double, 3> dark;
    std::array<double, 3> light;
    double grain;  // fine speckle amount
    double blades; // grass streaks
    uint32_t seed;
};

canvas ground(const ground_kind &g)
{
    const int size = 256;
    canvas c(size, size, 3);
    uint32_t speck = g.seed;
    fractal base(g.seed), warp(g.seed + 3);
    for (int y = 0; y < size; y++) {
        for (int x = 0; x < size; x++) {
            double u = double(x) / size, v = double(y) / size;
            double t = base.sample(u, v);
            speck = speck * 1103515245u + 12345u;
            double s = (double((speck >> 16) & 0xFF) / 255.0 - 0.5) * g.grain;
            double streak = g.blades * std::max(0.0, std::sin((u * 97 + warp.sample(v, u) * 6) * 6.283));
            for (int i = 0; i < 3; i++) {
                double col = g.dark[size_t(i)] + (g.light[size_t(i)] - g.dark[size_t(i)]) * std::clamp(t + s + streak, 0.0, 1.0);
                c.at(x, y)[i] = uint8_t(std::clamp(col, 0.0, 255.0));
            }
        }
    }
    return c;
}

// ---------------------------------------------------------------- sky

std::array<double, 3> sky_colour(double elevation)
{
    // elevation -1 (below) .. 1 (zenith)
    const std::array<double, 3> horizon = {196, 220, 236}, zenith = {50, 120, 204}, ground_c = {120, 116, 104};
    std::array<double, 3> out;
    double e = std::clamp(elevation, -1.0, 1.0);
    for (size_t i = 0; i < 3; i++) {
        out[i] = e >= 0 ? horizon[i] + (zenith[i] - horizon[i]) * std::pow(e, 0.6)
                        : horizon[i] + (ground_c[i] - horizon[i]) * std::min(1.0, -e * 8);
    }
    return out;
}

const fractal &clouds()
{
    static const fractal f(99);
    return f;
}

void put_sky(canvas &c, int x, int y, double dx, double dy, double dz)
{
    double len = std::sqrt(dx * dx + dy * dy + dz * dz);
    std::array<double, 3> col = sky_colour(dy / len);
    if (dy > 0) {
        // Thin clouds, denser overhead.
        double cloud = clouds().sample(dx / len * 0.5 + 0.5, dz / len * 0.5 + 0.5);
        double a = std::clamp((cloud - 0.55) * 3.0, 0.0, 0.8) * std::min(1.0, dy / len * 4);
        for (double &v : col) {
            v = v + (250 - v) * a;
        }
    }
    for (size_t i = 0; i < 3; i++) {
        c.at(x, y)[i] = uint8_t(std::clamp(col[i], 0.0, 255.0));
    }
}

// One cube face seen from inside; (right, up, forward) give the face's axes.
canvas sky_face(std::array<double, 3> forward, std::array<double, 3> right, std::array<double, 3> up)
{
    const int size = 256;
    canvas c(size, size, 3);
    for (int y = 0; y < size; y++) {
        for (int x = 0; x < size; x++) {
            double a = (x + 0.5) / size * 2 - 1, b = 1 - (y + 0.5) / size * 2;
            std::array<double, 3> d;
            for (size_t i = 0; i < 3; i++) {
                d[i] = forward[i] + right[i] * a + up[i] * b;
            }
            put_sky(c, x, y, d[0], d[1], d[2]);
        }
    }
    return c;
}

// The polar reflection map: the centre looks straight up.
canvas sky_env()
{
    const int size = 128;
    canvas c(size, size, 3);
    for (int y = 0; y < size; y++) {
        for (int x = 0; x < size; x++) {
            double tx = (x + 0.5) / size - 0.5, ty = (y + 0.5) / size - 0.5;
            double r = std::sqrt(tx * tx + ty * ty);
            double angle = r / 0.15915494309189535;  // acos(v.y)
            double vy = std::cos(angle), h = std::sin(angle);
            double dx = r > 0 ? tx / r * h : 0, dz = r > 0 ? ty / r * h : 0;
            put_sky(c, x, y, dx, vy, dz);
        }
    }
    return c;
}

// ---------------------------------------------------------------- head-up images

void disc(canvas &c, double cx, double cy, double r, std::array<int, 4> col)
{
    for (int y = int(cy - r - 1); y <= int(cy + r + 1); y++) {
        for (int x = int(cx - r - 1); x <= int(cx + r + 1); x++) {
            double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
            c.blend(x, y, col, r + 0.5 - d);
        }
    }
}

void line(canvas &c, double x0, double y0, double x1, double y1, double width, std::array<int, 4> col)
{
    double len = std::hypot(x1 - x0, y1 - y0);
    int minx = int(std::min(x0, x1) - width - 1), maxx = int(std::max(x0, x1) + width + 1);
    int miny = int(std::min(y0, y1) - width - 1), maxy = int(std::max(y0, y1) + width + 1);
    for (int y = miny; y <= maxy; y++) {
        for (int x = minx; x <= maxx; x++) {
            double px = x + 0.5 - x0, py = y + 0.5 - y0;
            double t = len > 0 ? std::clamp((px * (x1 - x0) + py * (y1 - y0)) / (len * len), 0.0, 1.0) : 0;
            double d = std::hypot(px - t * (x1 - x0), py - t * (y1 - y0));
            c.blend(x, y, col, width / 2 + 0.5 - d);
        }
    }
}

void rect(canvas &c, int x0, int y0, int x1, int y1, std::array<int, 4> col)
{
    for (int y = y0; y < y1; y++) {
        for (int x = x0; x < x1; x++) {
            c.blend(x, y, col, 1);
        }
    }
}

// Block letters 5 wide and 7 high, one row per 5-bit number.
void text(canvas &c, const char *s, int x, int y, int scale, std::array<int, 4> col)
{
    struct glyph {
        char ch;
        uint8_t rows[7];
    };
    static const glyph font[] = {
        {'K', {17, 18, 20, 24, 20, 18, 17}}, {'E', {31, 16, 16, 30, 16, 16, 31}},
        {'S', {15, 16, 16, 14, 1, 1, 30}},   {'R', {30, 17, 17, 30, 20, 18, 17}},
        {'U', {17, 17, 17, 17, 17, 17, 14}}, {'N', {17, 25, 21, 19, 17, 17, 17}},
        {'P', {30, 17, 17, 30, 16, 16, 16}}, {'1', {4, 12, 4, 4, 4, 4, 14}},
        {'2', {14, 17, 1, 2, 4, 8, 31}},     {'3', {30, 1, 1, 14, 1, 1, 30}},
        {'4', {2, 6, 10, 18, 31, 2, 2}},     {'5', {31, 16, 30, 1, 1, 17, 14}},
    };
    for (; *s; s++, x += 6 * scale) {
        for (const glyph &g : font) {
            if (g.ch != *s) {
                continue;
            }
            for (int r = 0; r < 7; r++) {
                for (int b = 0; b < 5; b++) {
                    if (g.rows[r] & (16 >> b)) {
                        rect(c, x + b * scale, y + r * scale, x + (b + 1) * scale, y + (r + 1) * scale, col);
                    }
                }
            }
        }
    }
}

canvas tachometer()
{
    canvas c(256, 256, 4);
    const double cx = 128, cy = 128;
    disc(c, cx, cy, 124, {20, 20, 24, 230});
    disc(c, cx, cy, 116, {240, 240, 236, 255});
    disc(c, cx, cy, 110, {28, 28, 32, 255});
    // Ticks over 270 degrees, the last fifth in red.
    for (int i = 0; i <= 60; i++) {
        double a = (135 + 270.0 * i / 60) * M_PI / 180;
        double inner = i % 5 == 0 ? 84 : 96;
        std::array<int, 4> col = i >= 48 ? std::array<int, 4>{220, 40, 30, 255} : std::array<int, 4>{235, 235, 235, 255};
        line(c, cx + std::cos(a) * inner, cy + std::sin(a) * inner, cx + std::cos(a) * 106, cy + std::sin(a) * 106,
             i % 5 == 0 ? 4 : 2, col);
    }
    disc(c, cx, cy, 10, {200, 40, 30, 255});
    return c;
}

canvas shifter()
{
    canvas c(128, 128, 4);
    disc(c, 64, 64, 62, {24, 24, 28, 220});
    text(c, "12345", 10, 54, 4, {240, 240, 240, 255});
    return c;
}

canvas pitboard()
{
    canvas c(256, 128, 4);
    rect(c, 0, 0, 256, 128, {30, 30, 30, 255});
    rect(c, 6, 6, 250, 122, {245, 245, 240, 255});
    rect(c, 124, 122, 132, 128, {90, 70, 50, 255});
    return c;
}

canvas title()
{
    canvas c(512, 128, 4);
    text(c, "KESSRUN", 31, 24, 11, {0, 0, 0, 120});
    text(c, "KESSRUN", 25, 18, 11, {250, 150, 20, 255});
    return c;
}

} // namespace

bool generate_images(const char *out_dir)
{
    std::string dir = out_dir;
    const ground_kind grounds[] = {
        {"ground-hardpack.png", {118, 100, 84}, {176, 160, 138}, 0.25, 0.0, 11},
        {"ground-loam.png", {58, 40, 26}, {122, 92, 64}, 0.3, 0.0, 23},
        {"ground-sand.png", {176, 152, 108}, {232, 214, 170}, 0.35, 0.0, 37},
        {"ground-grass.png", {40, 76, 26}, {104, 150, 60}, 0.3, 0.35, 41},
    };
    for (const ground_kind &g : grounds) {
        if (!save(dir, g.file, ground(g))) {
            return false;
        }
    }
    // Faces seen from the eye at the cube's centre: north is -z, east +x.
    const struct {
        const char *file;
        std::array<double, 3> forward, right, up;
    } faces[] = {
        {"sky_n.png", {0, 0, -1}, {1, 0, 0}, {0, 1, 0}},  {"sky_e.png", {1, 0, 0}, {0, 0, 1}, {0, 1, 0}},
        {"sky_s.png", {0, 0, 1}, {-1, 0, 0}, {0, 1, 0}},  {"sky_w.png", {-1, 0, 0}, {0, 0, -1}, {0, 1, 0}},
        {"sky_u.png", {0, 1, 0}, {1, 0, 0}, {0, 0, 1}},
    };
    for (const auto &f : faces) {
        if (!save(dir, f.file, sky_face(f.forward, f.right, f.up))) {
            return false;
        }
    }
    return save(dir, "sky_env.png", sky_env()) && save(dir, "tach.png", tachometer()) &&
           save(dir, "shifter.png", shifter()) && save(dir, "pitboard.png", pitboard()) &&
           save(dir, "title.png", title());
}
