// The starter tracks. Each track is a closed centre line (a spline through
// control points, resampled every foot) with a height profile along it
// (jumps, whoops, rhythm lanes, table tops) and berms where it turns, laid
// over a base terrain. From that come every file of a track folder:
// "terrain.hf" (inline samples), "shadows.pgm" (cast from the sun of the
// "lighting" file), "tileinfo", "tilemap", "desc", "lighting",
// "timing_gates" and, for the motocross track, "cameras" and "statues".

#include "content/content.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr double k_pi = 3.14159265358979323846;

// ---------------------------------------------------------------- files

bool write_file(const fs::path &path, const void *data, size_t size) {
    std::FILE *f = std::fopen(path.string().c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "kessrun_content: can't create %s\n", path.string().c_str());
        return false;
    }
    bool ok = std::fwrite(data, 1, size, f) == size;
    ok = std::fclose(f) == 0 && ok;
    if (!ok)
        std::fprintf(stderr, "kessrun_content: can't write %s\n", path.string().c_str());
    return ok;
}

bool write_text(const fs::path &path, const std::string &text) {
    return write_file(path, text.data(), text.size());
}

// printf into a growing text.
void append(std::string *out, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
void append(std::string *out, const char *fmt, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n > 0)
        out->append(buf, std::min(size_t(n), sizeof buf - 1));
}

// ---------------------------------------------------------------- noise

uint32_t hash2(int x, int z, uint32_t seed) {
    uint32_t h = seed ^ (uint32_t(x) * 0x8da6b343u) ^ (uint32_t(z) * 0xd8163841u);
    h ^= h >> 15;
    h *= 0x2c1b3c6du;
    h ^= h >> 12;
    h *= 0x297a2d39u;
    h ^= h >> 15;
    return h;
}

double smooth(double t) {
    return t * t * (3.0 - 2.0 * t);
}

// Value noise in -1..1 with cells of `scale` feet.
double value_noise(double x, double z, double scale, uint32_t seed) {
    double u = x / scale, v = z / scale;
    int i = int(std::floor(u)), j = int(std::floor(v));
    double fu = smooth(u - i), fv = smooth(v - j);
    auto corner = [seed](int a, int b) { return double(hash2(a, b, seed)) / 2147483647.5 - 1.0; };
    double a = corner(i, j) + (corner(i + 1, j) - corner(i, j)) * fu;
    double b = corner(i, j + 1) + (corner(i + 1, j + 1) - corner(i, j + 1)) * fu;
    return a + (b - a) * fv;
}

double smoothstep(double e0, double e1, double x) {
    if (e1 == e0)
        return x < e0 ? 0.0 : 1.0;
    return smooth(std::clamp((x - e0) / (e1 - e0), 0.0, 1.0));
}

// ---------------------------------------------------------------- centre line

struct path_point {
    double x, z;
    double tx, tz;      // unit tangent
    double curvature;   // signed, 1/ft, positive turning left (towards +left normal)
};

struct centre_line {
    std::vector<path_point> pts;  // one per foot, closed
    double length = 0;
};

// Closed Catmull-Rom spline through the control points, resampled every
// foot of arc length.
centre_line make_centre_line(const std::vector<std::array<double, 2>> &ctrl) {
    std::vector<std::array<double, 2>> dense;
    size_t n = ctrl.size();
    for (size_t k = 0; k < n; ++k) {
        const auto &p0 = ctrl[(k + n - 1) % n], &p1 = ctrl[k], &p2 = ctrl[(k + 1) % n], &p3 = ctrl[(k + 2) % n];
        for (int s = 0; s < 64; ++s) {
            double t = s / 64.0, t2 = t * t, t3 = t2 * t;
            std::array<double, 2> q;
            for (int c = 0; c < 2; ++c)
                q[size_t(c)] = 0.5 * (2 * p1[size_t(c)] + (-p0[size_t(c)] + p2[size_t(c)]) * t +
                                      (2 * p0[size_t(c)] - 5 * p1[size_t(c)] + 4 * p2[size_t(c)] - p3[size_t(c)]) * t2 +
                                      (-p0[size_t(c)] + 3 * p1[size_t(c)] - 3 * p2[size_t(c)] + p3[size_t(c)]) * t3);
            dense.push_back(q);
        }
    }
    dense.push_back(dense.front());
    centre_line line;
    double carried = 0;  // arc length since the last kept point
    line.pts.push_back({dense[0][0], dense[0][1], 0, 0, 0});
    for (size_t k = 1; k < dense.size(); ++k) {
        double ax = dense[k - 1][0], az = dense[k - 1][1];
        double seg = std::hypot(dense[k][0] - ax, dense[k][1] - az);
        double at = 1.0 - carried;
        while (at <= seg) {
            double f = at / seg;
            line.pts.push_back({ax + (dense[k][0] - ax) * f, az + (dense[k][1] - az) * f, 0, 0, 0});
            at += 1.0;
        }
        carried = seg - (at - 1.0);
    }
    if (line.pts.size() > 1 && std::hypot(line.pts.back().x - line.pts[0].x, line.pts.back().z - line.pts[0].z) < 0.5)
        line.pts.pop_back();
    size_t m = line.pts.size();
    line.length = double(m);
    std::vector<double> heading(m);
    for (size_t k = 0; k < m; ++k) {
        const path_point &a = line.pts[(k + m - 1) % m], &b = line.pts[(k + 1) % m];
        double dx = b.x - a.x, dz = b.z - a.z, len = std::hypot(dx, dz);
        line.pts[k].tx = dx / len;
        line.pts[k].tz = dz / len;
        heading[k] = std::atan2(dz, dx);
    }
    // Curvature over +-6 ft, then smoothed over +-15 ft so berms build and
    // fade gradually.
    std::vector<double> raw(m);
    for (size_t k = 0; k < m; ++k) {
        double d = heading[(k + 6) % m] - heading[(k + m - 6) % m];
        while (d > k_pi)
            d -= 2 * k_pi;
        while (d < -k_pi)
            d += 2 * k_pi;
        raw[k] = d / 12.0;
    }
    for (size_t k = 0; k < m; ++k) {
        double sum = 0;
        for (int o = -15; o <= 15; ++o)
            sum += raw[(k + m + size_t(o + 15) - 15) % m];
        // x right, z down the map: a left turn (towards the left normal)
        // turns the heading negative.
        line.pts[k].curvature = -sum / 31.0;
    }
    return line;
}

size_t nearest_point(const centre_line &line, double x, double z) {
    size_t best = 0;
    double bd = 1e300;
    for (size_t k = 0; k < line.pts.size(); ++k) {
        double d = std::hypot(line.pts[k].x - x, line.pts[k].z - z);
        if (d < bd) {
            bd = d;
            best = k;
        }
    }
    return best;
}

// ---------------------------------------------------------------- features along the track

// A jump's height along the track, given as its slope at knots: between two
// knots the slope changes linearly, so a face is straight and every toe,
// lip and knuckle is rounded over its bend.
struct slope_profile {
    std::vector<double> u{0.0}, slope{0.0}, height{0.0};

    double end() const { return u.back(); }
    // The slope turns to `to` over `len` feet.
    void bend(double len, double to) {
        height.push_back(height.back() + (slope.back() + to) * 0.5 * len);
        u.push_back(u.back() + len);
        slope.push_back(to);
    }
    // The present slope runs on until the height is `target`.
    void hold_to(double target) {
        double run = (target - height.back()) / slope.back();
        if (run > 0)
            bend(run, slope.back());
    }
    double at(double x) const {
        if (x <= 0 || x >= end())
            return x <= 0 ? 0.0 : height.back();
        size_t k = size_t(std::upper_bound(u.begin(), u.end(), x) - u.begin()) - 1;
        double t = x - u[k], len = u[k + 1] - u[k];
        return height[k] + slope[k] * t + (slope[k + 1] - slope[k]) * t * t / (2 * len);
    }
};

enum class feature_kind { whoops, rhythm, roller, shaped };

struct feature {
    feature_kind kind;
    double s0;      // start, feet from the start line
    double length;  // feet along the track
    double height;
    double period;  // whoops and rhythm: one bump
    slope_profile shape{};  // shaped features: jumps and table tops
};

double tan_deg(double degrees) {
    return std::tan(degrees * k_pi / 180.0);
}

// Faces rise and fall at these angles at most, so that a wheel rolls over
// every part of a jump that it does not fly over.
constexpr double k_back_deg = 27.0;   // behind a take-off and before a landing
constexpr double k_toe = 6.0;         // the concave start of a face
constexpr double k_crest = 2.0;       // lips and knuckles
constexpr double k_landing_toe = 10.0;

// A double: a take-off face of `face_deg` up to the lip at `lip` ft, a gap
// of `gap` ft from the lip to the landing's knuckle half a foot lower, and
// a landing of `landing_deg`, longer and flatter than the face. Between the
// two the ground goes down to the track and back up at 27 degrees, so a
// short jump lands in a dip that can be ridden out of.
feature double_jump(double s0, double lip, double gap, double face_deg, double landing_deg) {
    double face = tan_deg(face_deg), back = tan_deg(k_back_deg), land = tan_deg(landing_deg);
    auto build = [&](double floor) {
        slope_profile p;
        p.bend(k_toe, face);
        p.hold_to(lip);
        double lip_at = p.end();
        p.bend(k_crest, -back);
        p.hold_to(back * 2.0);
        p.bend(4.0, 0.0);
        p.bend(floor, 0.0);
        p.bend(4.0, back);
        p.hold_to(lip - 0.5 - (back - land) * 0.5 * k_crest);
        p.bend(k_crest, -land);
        double knuckle = p.end() - lip_at;
        p.hold_to(land * k_landing_toe * 0.5);
        p.bend(k_landing_toe, 0.0);
        return std::pair{p, knuckle};
    };
    double floor = std::max(0.0, gap - build(0.0).second);
    slope_profile p = build(floor).first;
    return {feature_kind::shaped, s0, p.end(), lip, 0, p};
}

// A table top: the face up to the lip at `height`, a flat top `top` ft
// long, and a landing of `landing_deg` from its far edge.
feature table_top(double s0, double height, double top, double face_deg, double landing_deg) {
    double face = tan_deg(face_deg), land = tan_deg(landing_deg);
    slope_profile p;
    p.bend(k_toe, face);
    p.hold_to(height - face * 0.5 * k_crest);
    p.bend(k_crest, 0.0);
    p.bend(top, 0.0);
    p.bend(k_crest, -land);
    p.hold_to(land * k_landing_toe * 0.5);
    p.bend(k_landing_toe, 0.0);
    return {feature_kind::shaped, s0, p.end(), height, 0, p};
}

// Height of one feature at u feet past its start (0 outside it).
double feature_height(const feature &f, double u) {
    if (u < 0 || u > f.length)
        return 0;
    switch (f.kind) {
    case feature_kind::whoops:
        return f.height * 0.5 * (1.0 - std::cos(2 * k_pi * u / f.period));
    case feature_kind::roller:
        return f.height * 0.5 * (1.0 - std::cos(2 * k_pi * u / f.length));
    case feature_kind::rhythm: {
        // Steep face up, longer face down.
        double t = std::fmod(u, f.period) / f.period;
        return f.height * (t < 0.45 ? smooth(t / 0.45) : smooth(1.0 - (t - 0.45) / 0.55));
    }
    case feature_kind::shaped:
        return f.shape.at(u);
    }
    return 0;
}

// ---------------------------------------------------------------- surfaces

enum surface : uint8_t { HARD_PACK = 0, LOAM = 1, SAND = 2, GRASS = 3 };

const char *const k_tileinfo =
    "name hard-pack\n"
    "texture @ground-hardpack.png\n"
    "friction 1.1 0\n"
    "friction 0.9 8\n"
    "friction 0.75 30\n"
    "roll_resist 3 9 1\n"
    "roost texture=@roost.png count=5 dig=0.4 size=0.2 r=170 g=150 b=120\n"
    "treadmark texture=@treadmark.png size=8 aspect=0.5 spacing=6 slip_threshold=2\n"
    "erode_depth 0.4\n"
    "erode_displacement 1\n"
    "erode_limit 0 1 1\n"
    "erode_limit 0.25 0.3 0.5\n"
    "addtile\n"
    "\n"
    "name loam\n"
    "texture @ground-loam.png\n"
    "friction 1.25 0\n"
    "friction 1.0 10\n"
    "friction 0.85 30\n"
    "roll_resist 6 16 1\n"
    "roost texture=@roost.png count=12 dig=1 size=0.25 r=120 g=90 b=60\n"
    "treadmark texture=@treadmark.png size=8 aspect=0.5 spacing=6\n"
    "erode_depth 1\n"
    "erode_displacement 2\n"
    "erode_limit 0 1 1\n"
    "erode_limit 0.75 0.5 0.7\n"
    "erode_limit 1.5 0.1 0.3\n"
    "addtile\n"
    "\n"
    "name sand\n"
    "texture @ground-sand.png\n"
    "friction 0.95 0\n"
    "friction 0.8 6\n"
    "friction 0.7 25\n"
    "slip_function 1\n"
    "roll_resist 14 40 1\n"
    "roll_resist 10 28 30\n"
    "roost texture=@roost.png count=20 dig=1.5 size=0.3 grow=6 r=210 g=190 b=140\n"
    "treadmark texture=@treadmark.png size=9 aspect=0.6 spacing=5\n"
    "erode_depth 1.8\n"
    "erode_displacement 3\n"
    "erode_radius 5\n"
    "erode_limit 0 1 1\n"
    "erode_limit 2 0.6 0.8\n"
    "addtile\n"
    "\n"
    "name grass\n"
    "texture @ground-grass.png\n"
    "friction 0.9 0\n"
    "friction 0.7 6\n"
    "friction 0.55 25\n"
    "roll_resist 8 20 1\n"
    "roost texture=@roost.png count=4 dig=0.2 size=0.15 r=80 g=110 b=50\n"
    "erode_depth 0.2\n"
    "erode_displacement 0.5\n"
    "erode_limit 0 1 1\n"
    "erode_limit 0.1 0.2 0.2\n"
    "addtile\n";

// ---------------------------------------------------------------- one track

struct start_gates {
    bool present = false;
    int pieces = 0;
    double spacing = 3.5;  // feet between pieces across the track
};

struct track_design {
    const char *folder;
    const char *description;
    int n;                   // size exponent: 2^(n+1)+1 samples per side
    double spacing;          // feet between samples
    std::vector<std::array<double, 2>> control;
    std::array<double, 2> start;  // start line, near this point
    double half_width;
    double shoulder;         // blend from the track to the ground
    double berm_height;
    double gate_interval;    // feet between timing gates
    start_gates gates;
    std::vector<feature> features;
    surface track_surface;
    surface shoulder_surface;
    surface ground_surface;
    double sand_from = -1, sand_to = -1;  // a sand stretch (feet from the start line)
    double (*ground)(double x, double z) = nullptr;
    std::array<double, 3> sun;  // towards the sun (normalised when used)
    const char *lighting_extra = "";
    bool cameras = false;
    bool statues = false;  // hay bales along the sharpest berm, a flag tower by the start
};

struct built_track {
    int n = 0, dim = 0, tiles = 0;
    double spacing = 1;
    std::vector<float> heights;      // dim*dim
    std::vector<int32_t> nearest;    // path index per sample, -1 away from the track
    std::vector<float> distance;     // to the centre line
    std::vector<float> lateral;      // signed, positive to the left of travel
    std::vector<float> along;        // ahead of the nearest centre-line point
    centre_line line;
    size_t start_index = 0;
};

// Feet from the start line along the track, 0..length.
double from_start(const built_track &b, size_t k) {
    double m = b.line.length;
    return std::fmod(double(k) + m - double(b.start_index), m);
}

// Height of the features at s feet from the start line.
double profile_at(const track_design &d, double s, double length) {
    s = std::fmod(s + length, length);
    double h = 0;
    for (const feature &f : d.features)
        h += feature_height(f, s - f.s0);
    return h;
}

void build_heights(const track_design &d, built_track *b) {
    b->n = d.n;
    b->dim = (1 << (d.n + 1)) + 1;
    b->tiles = 1 << d.n;
    b->spacing = d.spacing;
    b->line = make_centre_line(d.control);
    b->start_index = nearest_point(b->line, d.start[0], d.start[1]);
    size_t m = b->line.pts.size();

    size_t count = size_t(b->dim) * size_t(b->dim);
    b->nearest.assign(count, -1);
    b->distance.assign(count, 1e30f);
    b->lateral.assign(count, 0);
    b->along.assign(count, 0);
    double reach = d.half_width + d.shoulder + 2.0;
    int r = int(std::ceil(reach / d.spacing));
    for (size_t k = 0; k < m; ++k) {
        const path_point &p = b->line.pts[k];
        int ci = int(std::lround(p.x / d.spacing)), cj = int(std::lround(p.z / d.spacing));
        for (int j = std::max(0, cj - r); j <= std::min(b->dim - 1, cj + r); ++j) {
            for (int i = std::max(0, ci - r); i <= std::min(b->dim - 1, ci + r); ++i) {
                double dx = i * d.spacing - p.x, dz = j * d.spacing - p.z;
                double dist = std::hypot(dx, dz);
                size_t at = size_t(j) * size_t(b->dim) + size_t(i);
                if (dist < reach && dist < b->distance[at]) {
                    b->distance[at] = float(dist);
                    b->nearest[at] = int32_t(k);
                    // left normal of (tx, tz) is (tz, -tx) with z down the map
                    b->lateral[at] = float(dx * p.tz - dz * p.tx);
                    b->along[at] = float(dx * p.tx + dz * p.tz);
                }
            }
        }
    }

    b->heights.assign(count, 0.0f);
    for (int j = 0; j < b->dim; ++j) {
        for (int i = 0; i < b->dim; ++i) {
            size_t at = size_t(j) * size_t(b->dim) + size_t(i);
            double x = i * d.spacing, z = j * d.spacing;
            double h = d.ground ? d.ground(x, z) : 0.0;
            if (b->nearest[at] >= 0) {
                const path_point &p = b->line.pts[size_t(b->nearest[at])];
                double dist = b->distance[at];
                double w = 1.0 - smoothstep(d.half_width, d.half_width + d.shoulder, dist);
                // The berm rises towards the outside of the turn.
                double outside = p.curvature > 0 ? -b->lateral[at] : b->lateral[at];
                double strength = std::min(1.0, std::fabs(p.curvature) * 45.0);
                double berm = d.berm_height * strength * smoothstep(0.0, d.half_width + 2.0, outside);
                // Level across the track: its surface follows the ground
                // under the centre line.
                // The ground and the features at the sample's own distance
                // along the track, not the nearest point's, so that a face
                // crossing the grid at an angle stays a plane and not a stair.
                double a = std::clamp(double(b->along[at]), -0.5, 0.5);
                double centre = d.ground ? d.ground(p.x + p.tx * a, p.z + p.tz * a) : 0.0;
                double s = from_start(*b, size_t(b->nearest[at])) + a;
                h = (1.0 - w) * h + w * (centre + profile_at(d, s, b->line.length) + berm);
            }
            b->heights[at] = float(h);
        }
    }
}

surface surface_at(const track_design &d, const built_track &b, int i, int j) {
    size_t at = size_t(j) * size_t(b.dim) + size_t(i);
    if (b.nearest[at] < 0 || b.distance[at] > d.half_width + d.shoulder * 0.5)
        return d.ground_surface;
    if (b.distance[at] > d.half_width)
        return d.shoulder_surface;
    double s = from_start(b, size_t(b.nearest[at]));
    if (s >= d.sand_from && s <= d.sand_to)
        return SAND;
    return d.track_surface;
}

std::vector<uint8_t> make_tilemap(const track_design &d, const built_track &b) {
    std::vector<uint8_t> map(size_t(b.tiles) * size_t(b.tiles));
    for (int cj = 0; cj < b.tiles; ++cj)
        for (int ci = 0; ci < b.tiles; ++ci)
            map[size_t(cj) * size_t(b.tiles) + size_t(ci)] = surface_at(d, b, 2 * ci + 1, 2 * cj + 1);
    return map;
}

std::array<double, 3> normalised(std::array<double, 3> v) {
    double len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    return {v[0] / len, v[1] / len, v[2] / len};
}

// Light factor per sample, 255 in the sun: a ray towards the sun that
// passes under the ground casts the shadow, softened over half a foot.
std::vector<uint8_t> cast_shadows(const built_track &b, std::array<double, 3> sun) {
    sun = normalised(sun);
    double horiz = std::hypot(sun[0], sun[2]);
    std::vector<uint8_t> light(b.heights.size(), 255);
    if (horiz < 1e-6)
        return light;
    double rise = sun[1] / horiz;  // feet up per foot across
    double step = b.spacing * 0.5;
    double ux = sun[0] / horiz * step, uz = sun[2] / horiz * step;
    float top = *std::max_element(b.heights.begin(), b.heights.end());
    auto height = [&b](double x, double z) {
        double u = std::clamp(x / b.spacing, 0.0, double(b.dim - 1));
        double v = std::clamp(z / b.spacing, 0.0, double(b.dim - 1));
        int i = std::min(int(u), b.dim - 2), j = std::min(int(v), b.dim - 2);
        double fu = u - i, fv = v - j;
        auto h = [&b](int a, int c) { return double(b.heights[size_t(c) * size_t(b.dim) + size_t(a)]); };
        double lo = h(i, j) + (h(i + 1, j) - h(i, j)) * fu;
        double hi = h(i, j + 1) + (h(i + 1, j + 1) - h(i, j + 1)) * fu;
        return lo + (hi - lo) * fv;
    };
    double extent = b.spacing * (b.dim - 1);
    for (int j = 0; j < b.dim; ++j) {
        for (int i = 0; i < b.dim; ++i) {
            double x = i * b.spacing, z = j * b.spacing;
            double y = b.heights[size_t(j) * size_t(b.dim) + size_t(i)] + 0.05;
            double depth = 0;
            for (int k = 1; k < 4096; ++k) {
                x += ux;
                z += uz;
                y += rise * step;
                if (y > top || x < 0 || z < 0 || x > extent || z > extent)
                    break;
                depth = std::max(depth, height(x, z) - y);
            }
            light[size_t(j) * size_t(b.dim) + size_t(i)] = uint8_t(255.0 * (1.0 - smoothstep(0.0, 0.5, depth)));
        }
    }
    return light;
}

bool write_height_field(const fs::path &dir, const built_track &b) {
    auto [lo_it, hi_it] = std::minmax_element(b.heights.begin(), b.heights.end());
    // Whole feet, so the printed range is exactly the one the samples use.
    double lo = std::floor(*lo_it), hi = std::ceil(*hi_it);
    if (hi <= lo)
        hi = lo + 1.0;
    std::string data;
    append(&data, "%d %f %f %f\n:", b.n, b.spacing, lo, hi);
    for (float h : b.heights) {
        double v = std::trunc((h - lo) / (hi - lo) * 65535.0 + 0.5);
        auto s = uint16_t(std::clamp(v, 0.0, 65535.0));
        data += char(s & 0xff);
        data += char(s >> 8);
    }
    return write_text(dir / "terrain.hf", data);
}

bool write_shadows(const fs::path &dir, const built_track &b, const std::array<double, 3> &sun) {
    std::vector<uint8_t> light = cast_shadows(b, sun);
    std::string data;
    append(&data, "P5\n%d %d\n255\n", b.dim, b.dim);
    data.append(reinterpret_cast<const char *>(light.data()), light.size());
    return write_text(dir / "shadows.pgm", data);
}

bool write_lighting(const fs::path &dir, const track_design &d) {
    std::array<double, 3> s = normalised(d.sun);
    std::string text;
    append(&text, "sun_vector [ %.4f %.4f %.4f ]\n", s[0], s[1], s[2]);
    append(&text, "sun_color [ 1.0 0.96 0.88 ]\n");
    append(&text, "ambient [ 0.45 0.47 0.52 ]\n");
    append(&text, "global_ambient [ 0.2 0.2 0.2 ]\n");
    append(&text, "near_plane 0.25\n");
    append(&text, "far_plane 5000\n");
    text += d.lighting_extra;
    return write_text(dir / "lighting", text);
}

// Checkpoints every gate_interval feet from the start line; the last one,
// just before the line, is the finish. Both laps use every checkpoint.
bool write_timing_gates(const fs::path &dir, const track_design &d, const built_track &b, int *gate_count) {
    auto height_at = [&b](double x, double z) {
        int i = std::clamp(int(std::lround(x / b.spacing)), 0, b.dim - 1);
        int j = std::clamp(int(std::lround(z / b.spacing)), 0, b.dim - 1);
        return double(b.heights[size_t(j) * size_t(b.dim) + size_t(i)]);
    };
    size_t m = b.line.pts.size();
    std::string text;
    if (d.gates.present) {
        const path_point &p = b.line.pts[b.start_index];
        double heading = std::atan2(-p.tx, -p.tz);  // riders stand behind, facing the track
        text += "startinggate:\n";
        for (int k = 0; k < d.gates.pieces; ++k) {
            double off = (k - (d.gates.pieces - 1) * 0.5) * d.gates.spacing;
            double x = p.x + p.tz * off, z = p.z - p.tx * off;
            append(&text, "[%f %f %f] %f\n", x, height_at(x, z), z, heading);
        }
    }
    int count = std::max(3, int(b.line.length / d.gate_interval));
    std::vector<size_t> at;
    for (int k = 1; k < count; ++k)
        at.push_back((b.start_index + size_t(std::lround(k * b.line.length / count))) % m);
    at.push_back((b.start_index + m - 4) % m);
    text += "checkpoints:\n";
    for (size_t k : at) {
        const path_point &p = b.line.pts[k];
        append(&text, "%f [%f %f %f] [%f %f %f]\n", d.half_width + 6.0, p.x, height_at(p.x, p.z),
               p.z, p.tx, 0.0, p.tz);
    }
    for (const char *lap : {"firstlap:\n", "normallap:\n"}) {
        text += lap;
        for (size_t k = 0; k < at.size(); ++k)
            append(&text, "%d ", int(k));
        text += "\n";
    }
    *gate_count = int(at.size());
    return write_text(dir / "timing_gates", text);
}

// Spectator cameras beside the track, each taking over from the gate
// nearest to it.
bool write_cameras(const fs::path &dir, const track_design &d, const built_track &b, int gate_count) {
    std::string text;
    size_t m = b.line.pts.size();
    int cameras = 6;
    for (int c = 0; c < cameras; ++c) {
        size_t k = (b.start_index + m * size_t(c) / size_t(cameras)) % m;
        const path_point &p = b.line.pts[k];
        double off = d.half_width + d.shoulder + 10.0;
        text += "gate";
        int first = gate_count * c / cameras, last = gate_count * (c + 1) / cameras;
        for (int g = first; g < last; ++g)
            append(&text, " %d", g);
        text += "\n";
        append(&text, "fov %d\n", c % 2 ? 60 : 75);
        append(&text, "addcamera %f %f %f\n", p.x + p.tz * off, 12.0, p.z - p.tx * off);
    }
    return write_text(dir / "cameras", text);
}

// Hay bales end to end along the outside of the sharpest turn, on the berm
// just beyond the track's edge, and a flag tower beside the start straight.
bool write_statues(const fs::path &dir, const track_design &d, const built_track &b) {
    const std::vector<path_point> &pts = b.line.pts;
    size_t m = pts.size(), peak = 0;
    for (size_t k = 0; k < m; ++k)
        if (std::fabs(pts[k].curvature) > std::fabs(pts[peak].curvature))
            peak = k;
    std::string text;
    // Bales 6 ft long, 7 ft apart along the centre line, where the turn is
    // at least half as sharp as at its sharpest (40 ft either side at most).
    double sharp = std::fabs(pts[peak].curvature) * 0.5;
    size_t before = 0, after = 0;
    while (before < 40 && std::fabs(pts[(peak + m - before - 1) % m].curvature) >= sharp)
        ++before;
    while (after < 40 && std::fabs(pts[(peak + after + 1) % m].curvature) >= sharp)
        ++after;
    double off = d.half_width + 3.0;  // on the berm's crest
    double side = pts[peak].curvature > 0 ? -1.0 : 1.0;  // the outside of the turn
    for (size_t n = 0; n * 7 <= before + after; ++n) {
        const path_point &p = pts[(peak + m - before + n * 7) % m];
        double x = p.x + p.tz * off * side, z = p.z - p.tx * off * side;
        append(&text, "[%f %f %f] %f @haybale.jm @haybale.png @haybale.shp\n", x, 0.0, z, std::atan2(-p.tz, p.tx));
    }
    const path_point &p = pts[(b.start_index + 40) % m];
    double out = d.half_width + d.shoulder + 8.0;
    append(&text, "[%f %f %f] %f @flagtower.jm @flagtower.png @flagtower.shp\n", p.x - p.tz * out, 0.0,
           p.z + p.tx * out, std::atan2(-p.tz, p.tx));
    return write_text(dir / "statues", text);
}

bool write_track(const fs::path &root, const track_design &d) {
    fs::path dir = root / "tracks" / d.folder;
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        std::fprintf(stderr, "kessrun_content: can't create %s\n", dir.string().c_str());
        return false;
    }
    built_track b;
    build_heights(d, &b);
    std::vector<uint8_t> tilemap = make_tilemap(d, b);
    int gates = 0;
    bool ok = write_text(dir / "desc", std::string(d.description) + "\n") && write_height_field(dir, b) &&
              write_shadows(dir, b, d.sun) && write_text(dir / "tileinfo", k_tileinfo) &&
              write_file(dir / "tilemap", tilemap.data(), tilemap.size()) && write_lighting(dir, d) &&
              write_timing_gates(dir, d, b, &gates);
    if (ok && d.cameras)
        ok = write_cameras(dir, d, b, gates);
    if (ok && d.statues)
        ok = write_statues(dir, d, b);
    return ok;
}

// ---------------------------------------------------------------- the three tracks

double valley_ground(double x, double z) {
    // Rolling hills, higher towards the far side of the valley.
    double h = 16.0 * value_noise(x, z, 380.0, 11u) + 6.0 * value_noise(x, z, 170.0, 12u) +
               1.5 * value_noise(x, z, 60.0, 13u);
    return h + 0.02 * z;
}

track_design practice_field() {
    track_design d;
    d.folder = "practice";
    d.description = "Practice Field";
    d.n = 7;
    d.spacing = 2.0;
    // A wide oval marked out on a flat field.
    for (int k = 0; k < 12; ++k) {
        double a = 2 * k_pi * k / 12.0;
        d.control.push_back({256.0 + 150.0 * std::cos(a), 256.0 + 95.0 * std::sin(a)});
    }
    d.start = {256.0, 351.0};
    d.half_width = 15.0;
    d.shoulder = 6.0;
    d.berm_height = 0.0;
    d.gate_interval = 70.0;
    d.track_surface = LOAM;
    d.shoulder_surface = HARD_PACK;
    d.ground_surface = GRASS;
    d.sun = {0.4, 0.8, 0.45};
    return d;
}

track_design valley_motocross() {
    track_design d;
    d.folder = "motocross";
    d.description = "Ridgeback Motocross";
    d.n = 8;
    d.spacing = 2.0;
    d.control = {{180, 200}, {450, 200}, {720, 200}, {860, 260}, {880, 420}, {760, 520},
                 {600, 470}, {460, 560}, {480, 720}, {640, 800}, {820, 780}, {870, 880},
                 {700, 930}, {420, 900}, {250, 820}, {160, 640}, {250, 480}, {150, 330}};
    d.start = {330, 200};
    d.half_width = 14.0;
    d.shoulder = 12.0;
    d.berm_height = 4.0;
    d.gate_interval = 110.0;
    d.gates = {true, 10, 3.0};
    d.features = {
        table_top(700, 5.0, 24, 24, 11),
        {feature_kind::roller, 950, 60, 3.0, 0},
        double_jump(1250, 6.0, 19, 26, 12),
        {feature_kind::rhythm, 1700, 150, 3.5, 30},
        table_top(2230, 6.0, 30, 26, 12),
        double_jump(2420, 5.0, 17, 25, 12),
        {feature_kind::roller, 3200, 80, 4.0, 0},
        {feature_kind::rhythm, 3450, 90, 3.0, 30},
    };
    d.track_surface = LOAM;
    d.shoulder_surface = HARD_PACK;
    d.ground_surface = GRASS;
    d.sand_from = 1950;
    d.sand_to = 2200;
    d.ground = valley_ground;
    d.sun = {0.7, 0.42, 0.45};  // late afternoon: the jumps cast shadows
    d.lighting_extra = "fog [ 0.7 0.78 0.85 ] 0.0004\n";
    d.cameras = true;
    d.statues = true;
    return d;
}

track_design stadium_supercross() {
    track_design d;
    d.folder = "supercross";
    d.description = "Stadium Supercross";
    d.n = 7;
    d.spacing = 1.0;
    // Four lanes joined by hairpins, and a lane back along the west side.
    d.control = {{40, 40},   {130, 40},  {215, 40},  {238, 67},  {215, 95},  {140, 95},  {72, 95},
                 {46, 122},  {72, 150},  {140, 150}, {215, 150}, {238, 177}, {215, 205}, {120, 205},
                 {45, 205},  {18, 182},  {16, 120},  {17, 62}};
    d.start = {70, 40};
    d.half_width = 8.0;
    d.shoulder = 5.0;
    d.berm_height = 3.0;
    d.gate_interval = 45.0;
    d.gates = {true, 5, 3.0};
    d.track_surface = LOAM;
    d.shoulder_surface = HARD_PACK;
    d.ground_surface = HARD_PACK;
    d.sun = {0.3, 0.9, 0.2};
    d.lighting_extra = "dynamic_lighting 1\n";
    return d;
}

// Positions the supercross sections on its lanes once the centre line is
// known: whoops on the second lane, rhythm on the third, a double on the
// fourth, a table top on the way back.
void place_stadium_features(track_design *d) {
    centre_line line = make_centre_line(d->control);
    size_t m = line.pts.size();
    size_t start = nearest_point(line, d->start[0], d->start[1]);
    auto s_of = [&](double x, double z) {
        return std::fmod(double(nearest_point(line, x, z)) + double(m) - double(start), double(m));
    };
    d->features = {
        {feature_kind::whoops, s_of(190, 95), 96, 2.0, 12},
        {feature_kind::rhythm, s_of(95, 150), 100, 3.5, 20},
        double_jump(s_of(175, 205), 4.5, 16, 25, 13),
        table_top(s_of(16, 160), 4.0, 14, 24, 12),
    };
    d->sand_from = s_of(190, 95);
    d->sand_to = d->sand_from + 100;
}

}  // namespace

bool generate_tracks(const char *out_dir) {
    fs::path root(out_dir);
    track_design stadium = stadium_supercross();
    place_stadium_features(&stadium);
    return write_track(root, practice_field()) && write_track(root, valley_motocross()) &&
           write_track(root, stadium);
}
