// Terrain deformation: dig vectors from the wheel contacts, strokes, erode
// packets and the erode queue that every client applies alike.

#include "track/track_local.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float k_step_limit = 1024.0f;        // steps travel as -1024..1024
constexpr float k_step_scale = 31.999512f;     // 65535 / 2048, a shade under
constexpr double k_position_scale = 16777215;  // 2^24 - 1
constexpr float k_max_step_range = 64.0f;      // ft of step range per packet
constexpr int k_max_samples = 16;
constexpr int32_t k_send_after = 64;           // tics without a commit
constexpr int32_t k_postpone_tics = 256;
constexpr float k_rider_clearance = 10.0f;     // ft

// clamp((x - lo) / (hi - lo), 0, 1); a step at hi when the range is empty,
// 0 for NaN.
float ramp(float x, float lo, float hi) {
    if (!(hi > lo))
        return x >= hi ? 1.0f : 0.0f;
    float r = (x - lo) / (hi - lo);
    if (!(r > 0.0f))
        return 0.0f;
    return std::min(r, 1.0f);
}

// ---------------------------------------------------------------- packet coding

uint16_t step_code(float value) {
    float v = std::isnan(value) ? 0.0f : std::clamp(value, -k_step_limit, k_step_limit);
    return uint16_t(std::floor((v + k_step_limit) * k_step_scale + 0.5f));
}

float step_value(uint16_t q) {
    return float(q) / 65535.0f * 2048.0f - 1024.0f;
}

uint32_t position_code(float w, float size) {
    if (!(size > 0.0f) || !(w > 0.0f))
        return 0;
    double f = std::min(double(w), double(size)) / double(size);
    return uint32_t(std::lround(f * k_position_scale));
}

float position_value(uint32_t q, float size) {
    return float(double(q) / k_position_scale * double(size));
}

// The 6-bit code of a dig vector component: the nearest of the 64 values the
// decoder produces (code / 64 * 2 - 1), so 1 travels as 63.
uint8_t vector_code(float a) {
    if (!std::isfinite(a))
        a = 0.0f;
    float c = std::round((std::clamp(a, -1.0f, 1.0f) + 1.0f) * 32.0f);
    return uint8_t(std::min(c, 63.0f));
}

float vector_value(uint8_t code) {
    return float(code) / 64.0f * 2.0f - 1.0f;
}

// A step byte against the packet's range.
uint8_t step_byte(float step, float lo, float hi) {
    if (!(step >= lo) || !(hi > lo))
        return 0;
    float s = std::round((std::min(step, hi) - lo) * 255.0f / (hi - lo));
    return uint8_t(std::clamp(s, 0.0f, 255.0f));
}

float step_byte_value(uint8_t s, float lo, float hi) {
    return lo + float(s) / 255.0f * (hi - lo);
}

void put16(uint8_t *p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void put24(uint8_t *p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
}
uint16_t get16(const uint8_t *p) {
    return uint16_t(p[0] | (p[1] << 8));
}
uint32_t get24(const uint8_t *p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
}

// The two bytes of a stroke's dig vector and intensity.
void put_vector(uint8_t *p, const ErodeStroke &s) {
    // Four bits carry the intensity: a full accumulation of 16 samples
    // travels as 15 rather than wrapping to 0.
    int i = std::clamp(int(s.intensity), 0, 15);
    p[0] = uint8_t((i & 3) | (vector_code(s.a) << 2));
    p[1] = uint8_t(((i >> 2) & 3) | (vector_code(s.b) << 2));
}
void get_vector(const uint8_t *p, ErodeStroke *s) {
    s->intensity = (p[0] & 3) | ((p[1] & 3) << 2);
    s->a = vector_value(uint8_t(p[0] >> 2));
    s->b = vector_value(uint8_t(p[1] >> 2));
}

// Calls `each` for every stroke a packet holds, in order; false for a packet
// that is too short or of another type.
template <typename F>
bool decode_each(const uint8_t *p, size_t length, float size, F each) {
    if (!p || length < size_t(ERODE_PACKET_HEADER) || p[0] != ERODE_PACKET_TYPE)
        return false;
    float min_dx = step_value(get16(p + 1)), min_dz = step_value(get16(p + 3));
    float max_dx = step_value(get16(p + 5)), max_dz = step_value(get16(p + 7));
    ErodeStroke s;
    s.x = position_value(get24(p + 9), size);
    s.z = position_value(get24(p + 12), size);
    get_vector(p + 15, &s);
    each(s);
    for (size_t at = ERODE_PACKET_HEADER; at + 4 <= length; at += 4) {
        s.x += step_byte_value(p[at], min_dx, max_dx);
        s.z += step_byte_value(p[at + 1], min_dz, max_dz);
        get_vector(p + at + 2, &s);
        each(s);
    }
    return true;
}

// ---------------------------------------------------------------- base heights

// Height of the loaded (undug) surface under a point, on the same triangles
// as terrain_height_at.
float base_height_at(const Terrain *t, float x, float z) {
    if (t->base_heights.size() != size_t(t->dim) * size_t(t->dim) || t->dim < 1)
        return terrain_height_at(t, x, z);
    auto coord = [t](float w) {
        float u = w / t->spacing;
        if (!(u >= -1.0f))
            return -1.0f;
        return std::min(u, float(t->dim));
    };
    auto at = [t](int i, int j) {
        i = std::clamp(i, 0, t->dim - 1);
        j = std::clamp(j, 0, t->dim - 1);
        return t->base_heights[size_t(j) * size_t(t->dim) + size_t(i)];
    };
    float u = coord(x), v = coord(z);
    int i = int(std::floor(u)), j = int(std::floor(v));
    float du = u - float(i), dv = v - float(j);
    int i0, j0, ix, jx, iz, jz;
    float fx, fz;
    if (((i + j) & 1) == 0) {
        if (dv > du) {
            i0 = i, j0 = j + 1, ix = i + 1, jx = j + 1, iz = i, jz = j, fx = du, fz = 1.0f - dv;
        } else {
            i0 = i + 1, j0 = j, ix = i, jx = j, iz = i + 1, jz = j + 1, fx = 1.0f - du, fz = dv;
        }
    } else if (du + dv > 1.0f) {
        i0 = i + 1, j0 = j + 1, ix = i, jx = j + 1, iz = i + 1, jz = j, fx = 1.0f - du, fz = 1.0f - dv;
    } else {
        i0 = i, j0 = j, ix = i + 1, jx = j, iz = i, jz = j + 1, fx = du, fz = dv;
    }
    float h0 = at(i0, j0);
    return h0 + fx * (at(ix, jx) - h0) + fz * (at(iz, jz) - h0);
}

// The depth-limit factors of a surface for a dig depth g.
void limit_factors(const ErodeParams &p, float g, float *f1, float *f2) {
    int k = std::min(p.limit_count, ERODE_LIMITS);
    if (k < 1) {
        // A tile that never went through "addtile" has no table; the
        // committed default is the single entry (0, 1, 1).
        *f1 = *f2 = 1.0f;
        return;
    }
    int i = 0;
    float t = 0.0f;
    const auto &d = p.limit_depth;
    if (k > 1 && g >= d[0]) {
        i = k - 1;
        for (int m = 0; m + 1 < k; ++m) {
            if (g < d[size_t(m) + 1]) {
                i = m;
                float span = d[size_t(m) + 1] - d[size_t(m)];
                t = span > 0.0f ? (g - d[size_t(m)]) / span : 0.0f;
                break;
            }
        }
    }
    size_t a = size_t(i), b = size_t(std::min(i + 1, k - 1));
    *f1 = p.limit_factor1[a] + (p.limit_factor1[b] - p.limit_factor1[a]) * t;
    *f2 = p.limit_factor2[a] + (p.limit_factor2[b] - p.limit_factor2[a]) * t;
}

const ErodeParams &erode_params_at(const Terrain *t, float x, float z) {
    static const ErodeParams defaults{};
    if (t->tile_types.empty())
        return defaults;
    size_t k = size_t(terrain_tile_at(t, x, z));
    return k < t->tile_types.size() ? t->tile_types[k].erode : t->tile_types[0].erode;
}

// One stroke on the height field.
void apply_stroke(Terrain *t, const ErodeStroke &s, float level) {
    const ErodeParams &p = erode_params_at(t, s.x, s.z);
    float u = terrain_height_at(t, s.x, s.z);
    float v = std::hypot(s.a, s.b);
    float w = ramp(v, 0.125f, 1.0f) * p.displacement;
    // A stroke without a direction (or too short for one) puts its dirt back
    // at its own centre.
    float dx = s.x, dz = s.z;
    if (w > 0.0f && v > 0.0f) {
        dx = s.x - s.a / v * w;
        dz = s.z - s.b / v * w;
    } else {
        w = 0.0f;
    }
    float b = terrain_height_at(t, dx, dz);
    if (b - u > p.max_slope * w || b - u < p.min_slope * w)
        return;
    float n = level * 0.00048828125f;  // 2^-11
    if (b < u && w > 0.0f)
        n *= 1.0f + (u - b) * p.downhill_scale / w;
    float f1, f2;
    limit_factors(p, base_height_at(t, s.x, s.z) - u, &f1, &f2);
    float v1 = -terrain_add_bump(t, s.x, s.z, p.radius, -float(s.intensity) * p.depth * n * f1);
    float v2 = -terrain_add_bump(t, s.x, s.z, p.inner_radius, -p.inner_depth * n * f2);
    terrain_spread_bump(t, dx, dz, p.radius, v1 + v2);
}

void push_stroke(terrain_erosion *e, const ErodeStroke &s) {
    if (e->length >= uint32_t(ERODE_QUEUE_SIZE)) {
        if (!e->full_reported) {
            e->full_reported = true;
            console("Erode queue full!");
        }
        return;
    }
    if (e->ring.size() != size_t(ERODE_QUEUE_SIZE))
        e->ring.assign(size_t(ERODE_QUEUE_SIZE), ErodeStroke{});
    e->ring[(e->head + e->length) % uint32_t(ERODE_QUEUE_SIZE)] = s;
    e->length++;
}

}  // namespace

// ---------------------------------------------------------------- packets

int encode_erode_packet(const ErodeStroke *strokes, int count, float min_dx, float max_dx, float min_dz,
                        float max_dz, float terrain_size, uint8_t out[ERODE_PACKET_MAX]) {
    if (!strokes || count < 1)
        return 0;
    count = std::min(count, ERODE_PACKET_STROKES);
    // Rounded outwards, so every step fits the decoded range.
    uint16_t q_min_dx = step_code(min_dx - 0.0625f), q_max_dx = step_code(max_dx + 0.0625f);
    uint16_t q_min_dz = step_code(min_dz - 0.0625f), q_max_dz = step_code(max_dz + 0.0625f);
    float lo_x = step_value(q_min_dx), hi_x = step_value(q_max_dx);
    float lo_z = step_value(q_min_dz), hi_z = step_value(q_max_dz);
    out[0] = ERODE_PACKET_TYPE;
    put16(out + 1, q_min_dx);
    put16(out + 3, q_min_dz);
    put16(out + 5, q_max_dx);
    put16(out + 7, q_max_dz);
    uint32_t qx = position_code(strokes[0].x, terrain_size), qz = position_code(strokes[0].z, terrain_size);
    put24(out + 9, qx);
    put24(out + 12, qz);
    put_vector(out + 15, strokes[0]);
    // Each step is taken from the position the decoder will have reached,
    // so the rounding errors do not add up along the packet.
    float x = position_value(qx, terrain_size), z = position_value(qz, terrain_size);
    int at = ERODE_PACKET_HEADER;
    for (int k = 1; k < count; ++k, at += 4) {
        const ErodeStroke &s = strokes[k];
        uint8_t sx = step_byte(s.x - x, lo_x, hi_x), sz = step_byte(s.z - z, lo_z, hi_z);
        out[at] = sx;
        out[at + 1] = sz;
        put_vector(out + at + 2, s);
        x += step_byte_value(sx, lo_x, hi_x);
        z += step_byte_value(sz, lo_z, hi_z);
    }
    return at;
}

std::vector<ErodeStroke> decode_erode_packet(const uint8_t *packet, size_t length, float terrain_size) {
    std::vector<ErodeStroke> out;
    (void)decode_each(packet, length, terrain_size, [&out](const ErodeStroke &s) { out.push_back(s); });
    return out;
}

void queue_erode_packet(terrain_erosion *e, const Terrain *t, const uint8_t *packet, size_t length) {
    float size = t ? t->extent : 0.0f;
    (void)decode_each(packet, length, size, [e](const ErodeStroke &s) { push_stroke(e, s); });
}

void reset_erode_queue(terrain_erosion *e) {
    e->head = 0;
    e->length = 0;
    e->postponed = false;
    e->postpone_until = 0;
}

void apply_erode_queue(terrain_erosion *e, Terrain *t, const float *rider, float level, int32_t now) {
    if ((e->postponed && now >= e->postpone_until) || e->length > 8192u) {
        rider = nullptr;
        e->postponed = false;
    }
    if (rider && !all_finite(rider[0], rider[2]))
        rider = nullptr;
    uint32_t budget = e->length / 512 + (e->length > 8192u ? (e->length - 8192u) / 64 : 0) + 4;
    bool have_ground = !t->heights.empty();
    for (; budget > 0 && e->length > 0; --budget) {
        const ErodeStroke &s = e->ring[e->head];
        if (rider) {
            float dx = s.x - rider[0], dz = s.z - rider[2];
            if (dx * dx + dz * dz <= k_rider_clearance * k_rider_clearance) {
                int32_t until = now + k_postpone_tics;
                e->postpone_until = e->postponed ? std::min(e->postpone_until, until) : until;
                e->postponed = true;
                return;
            }
        }
        ErodeStroke stroke = s;
        e->head = (e->head + 1) % uint32_t(ERODE_QUEUE_SIZE);
        e->length--;
        if (have_ground)
            apply_stroke(t, stroke, level);
    }
}

// ---------------------------------------------------------------- digging

void send_erode_packet(dig_accumulator *acc, const dig_env &env) {
    if (acc->stroke_count < 1)
        return;
    uint8_t packet[ERODE_PACKET_MAX];
    float size = env.terrain ? env.terrain->extent : 0.0f;
    int n = encode_erode_packet(acc->strokes.data(), acc->stroke_count, acc->min_dx, acc->max_dx, acc->min_dz,
                                acc->max_dz, size, packet);
    acc->stroke_count = 0;
    acc->min_dx = acc->max_dx = acc->min_dz = acc->max_dz = 0.0f;
    if (env.send)
        env.send(env.send_ctx, packet, n);
    else if (env.erosion)
        queue_erode_packet(env.erosion, env.terrain, packet, size_t(n));
}

void commit_stroke(dig_accumulator *acc, const dig_env &env) {
    if (acc->count < 1)
        return;
    ErodeStroke s;
    double n = acc->count;
    s.x = float(acc->sum_x / n);
    s.z = float(acc->sum_z / n);
    s.a = float(acc->sum_a / n);
    s.b = float(acc->sum_b / n);
    s.intensity = acc->count;
    acc->count = 0;
    acc->sum_x = acc->sum_z = acc->sum_a = acc->sum_b = 0.0;
    acc->distance = 0.0f;

    if (acc->stroke_count >= ERODE_PACKET_STROKES)
        send_erode_packet(acc, env);
    if (acc->stroke_count > 0) {
        const ErodeStroke &prev = acc->strokes[size_t(acc->stroke_count) - 1];
        float dx = s.x - prev.x, dz = s.z - prev.z;
        float lo_x = std::min(acc->min_dx, dx), hi_x = std::max(acc->max_dx, dx);
        float lo_z = std::min(acc->min_dz, dz), hi_z = std::max(acc->max_dz, dz);
        if (!(hi_x - lo_x <= k_max_step_range) || !(hi_z - lo_z <= k_max_step_range)) {
            send_erode_packet(acc, env);  // this stroke starts the next packet
        } else {
            acc->min_dx = lo_x, acc->max_dx = hi_x, acc->min_dz = lo_z, acc->max_dz = hi_z;
        }
    }
    acc->strokes[size_t(acc->stroke_count++)] = s;
    acc->last_commit_tic = env.tic;
}

void dig_wheel(dig_accumulator *acc, const dig_contact &c, bool is_front, const dig_env &env) {
    auto timeout = [acc, &env] {
        if (acc->stroke_count > 0 && env.tic - acc->last_commit_tic > k_send_after) {
            commit_stroke(acc, env);
            send_erode_packet(acc, env);
        }
    };
    if (!c.touching || !env.terrain) {
        timeout();
        return;
    }
    const Terrain *t = env.terrain;
    const ErodeParams &p = erode_params_at(t, c.point[0], c.point[2]);
    const auto &f = c.force;
    const auto &vw = c.wheel_velocity;
    std::array<float, 3> n = terrain_face_normal(t, c.point[0], c.point[2]);
    float speed = std::sqrt(vw[0] * vw[0] + vw[1] * vw[1] + vw[2] * vw[2]);
    float hlen = std::hypot(vw[0], vw[2]);
    const auto &pv = c.point_velocity;
    float slip = std::sqrt(pv[0] * pv[0] + pv[1] * pv[1] + pv[2] * pv[2]);

    float ks = p.slip_base_scale + ramp(slip, p.slip_lower, p.slip_upper) * (p.slip_scale - p.slip_base_scale);
    float kv = ramp(speed, p.off_speed, p.on_speed);
    float nn = n[0] * n[0] + n[1] * n[1] + n[2] * n[2];
    float fn = nn > 0.0f ? p.project_to_ground * (f[0] * n[0] + f[1] * n[1] + f[2] * n[2]) / nn : 0.0f;
    float dpx = (f[0] - fn * n[0]) * kv * ks;
    float dpz = (f[2] - fn * n[2]) * kv * ks;
    if (hlen > 0.0f) {
        float lx = -vw[2] / hlen, lz = vw[0] / hlen;  // horizontal normal of the travel
        float lat = (dpx * lx + dpz * lz) * (p.lateral_scale - 1.0f);
        dpx += lat * lx;
        dpz += lat * lz;
    }
    if (is_front) {
        dpx *= p.front_scale;
        dpz *= p.front_scale;
    }
    if (env.erosion)
        env.erosion->debug = {speed, slip, f[0], f[2], dpx, dpz};

    float len = std::hypot(dpx, dpz);
    if (!(len > p.lower) || !(len * len > 1.0f / 1024.0f) || !std::isfinite(len)) {
        timeout();
        return;
    }
    float s = (ramp(len, p.lower, p.upper) * 0.875f + 0.125f) / len;
    float x = c.point[0], z = c.point[2];
    float a = dpx * s, b = dpz * s;
    float d = acc->count > 0 ? std::hypot(x - acc->last_x, z - acc->last_z) : 0.0f;

    if (acc->count == 0 || (acc->count < k_max_samples && acc->distance + d < 1.0f)) {
        acc->distance += d;
    } else {
        int old_count = acc->count;
        float travelled = acc->distance + d;
        commit_stroke(acc, env);
        acc->distance = (old_count == k_max_samples || travelled >= 2.0f) ? 0.0f : travelled - 1.0f;
    }
    acc->sum_x += x;
    acc->sum_z += z;
    acc->sum_a += a;
    acc->sum_b += b;
    acc->count++;
    acc->last_x = x;
    acc->last_z = z;
}
