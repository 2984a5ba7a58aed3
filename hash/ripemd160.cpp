// ripemd160.cpp -- RIPEMD-160 (Dobbertin, Bosselaers, Preneel, 1996).
#include "hash/hash.h"

#include <cstring>

namespace {

// Message word used by each of the 80 steps, left and right lines.
constexpr uint8_t word_left[80] = {
    0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15,
    7, 4, 13, 1, 10, 6, 15, 3, 12, 0, 9, 5, 2, 14, 11, 8,
    3, 10, 14, 4, 9, 15, 8, 1, 2, 7, 0, 6, 13, 11, 5, 12,
    1, 9, 11, 10, 0, 8, 12, 4, 13, 3, 7, 15, 14, 5, 6, 2,
    4, 0, 5, 9, 7, 12, 2, 10, 14, 1, 3, 8, 11, 6, 15, 13};
constexpr uint8_t word_right[80] = {
    5, 14, 7, 0, 9, 2, 11, 4, 13, 6, 15, 8, 1, 10, 3, 12,
    6, 11, 3, 7, 0, 13, 5, 10, 14, 15, 8, 12, 4, 9, 1, 2,
    15, 5, 1, 3, 7, 14, 6, 9, 11, 8, 12, 2, 10, 0, 4, 13,
    8, 6, 4, 1, 3, 11, 15, 0, 5, 12, 2, 13, 9, 7, 10, 14,
    12, 15, 10, 4, 1, 5, 8, 7, 6, 2, 13, 14, 0, 3, 9, 11};
// Rotation amounts.
constexpr uint8_t rot_left[80] = {
    11, 14, 15, 12, 5, 8, 7, 9, 11, 13, 14, 15, 6, 7, 9, 8,
    7, 6, 8, 13, 11, 9, 7, 15, 7, 12, 15, 9, 11, 7, 13, 12,
    11, 13, 6, 7, 14, 9, 13, 15, 14, 8, 13, 6, 5, 12, 7, 5,
    11, 12, 14, 15, 14, 15, 9, 8, 9, 14, 5, 6, 8, 6, 5, 12,
    9, 15, 5, 11, 6, 8, 13, 12, 5, 12, 13, 14, 11, 8, 5, 6};
constexpr uint8_t rot_right[80] = {
    8, 9, 9, 11, 13, 15, 15, 5, 7, 7, 8, 11, 14, 14, 12, 6,
    9, 13, 15, 7, 12, 8, 9, 11, 7, 7, 12, 7, 6, 15, 13, 11,
    9, 7, 15, 11, 8, 6, 6, 14, 12, 13, 5, 14, 13, 13, 7, 5,
    15, 5, 8, 11, 14, 14, 6, 14, 6, 9, 12, 9, 12, 5, 15, 8,
    8, 5, 12, 9, 12, 5, 14, 6, 8, 13, 6, 5, 15, 13, 11, 11};
constexpr uint32_t k_left[5] = {0x00000000, 0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC, 0xA953FD4E};
constexpr uint32_t k_right[5] = {0x50A28BE6, 0x5C4DD124, 0x6D703EF3, 0x7A6D76E9, 0x00000000};

inline uint32_t rol(uint32_t x, unsigned n) { return (x << n) | (x >> (32 - n)); }

// Round function f_j; the right line uses them in reverse order (4 - round).
inline uint32_t f(unsigned round, uint32_t x, uint32_t y, uint32_t z)
{
    switch (round) {
    case 0: return x ^ y ^ z;
    case 1: return (x & y) | (~x & z);
    case 2: return (x | ~y) ^ z;
    case 3: return (x & z) | (y & ~z);
    default: return x ^ (y | ~z);
    }
}

void compress(uint32_t h[5], const uint8_t *block)
{
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) {
        const uint8_t *p = block + 4 * i;
        x[i] = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
    uint32_t al = h[0], bl = h[1], cl = h[2], dl = h[3], el = h[4];
    uint32_t ar = al, br = bl, cr = cl, dr = dl, er = el;
    for (unsigned j = 0; j < 80; ++j) {
        unsigned round = j / 16;
        uint32_t t = rol(al + f(round, bl, cl, dl) + x[word_left[j]] + k_left[round], rot_left[j]) + el;
        al = el; el = dl; dl = rol(cl, 10); cl = bl; bl = t;
        t = rol(ar + f(4 - round, br, cr, dr) + x[word_right[j]] + k_right[round], rot_right[j]) + er;
        ar = er; er = dr; dr = rol(cr, 10); cr = br; br = t;
    }
    uint32_t t = h[1] + cl + dr;
    h[1] = h[2] + dl + er;
    h[2] = h[3] + el + ar;
    h[3] = h[4] + al + br;
    h[4] = h[0] + bl + cr;
    h[0] = t;
}

} // namespace

void ripemd160_start(ripemd160_ctx *c)
{
    c->h[0] = 0x67452301;
    c->h[1] = 0xEFCDAB89;
    c->h[2] = 0x98BADCFE;
    c->h[3] = 0x10325476;
    c->h[4] = 0xC3D2E1F0;
    c->total = 0;
    c->used = 0;
}

void ripemd160_feed(ripemd160_ctx *c, const void *data, size_t n)
{
    if (n == 0)
        return;
    const uint8_t *p = static_cast<const uint8_t *>(data);
    c->total += n;
    if (c->used > 0) {
        size_t take = 64 - c->used;
        if (take > n)
            take = n;
        std::memcpy(c->block + c->used, p, take);
        c->used += take;
        p += take;
        n -= take;
        if (c->used < 64)
            return;
        compress(c->h, c->block);
        c->used = 0;
    }
    // Whole blocks straight from the caller's buffer, no copy.
    for (; n >= 64; p += 64, n -= 64)
        compress(c->h, p);
    std::memcpy(c->block, p, n);
    c->used = n;
}

void ripemd160_finish(ripemd160_ctx *c, uint8_t out[ripemd160_digest_size])
{
    uint64_t bits = c->total * 8;
    c->block[c->used++] = 0x80;
    if (c->used > 56) {
        std::memset(c->block + c->used, 0, 64 - c->used);
        compress(c->h, c->block);
        c->used = 0;
    }
    std::memset(c->block + c->used, 0, 56 - c->used);
    for (int i = 0; i < 8; ++i)
        c->block[56 + i] = uint8_t(bits >> (8 * i));
    compress(c->h, c->block);
    for (int i = 0; i < 5; ++i)
        for (int b = 0; b < 4; ++b)
            out[4 * i + b] = uint8_t(c->h[i] >> (8 * b));
}

std::array<uint8_t, ripemd160_digest_size> ripemd160(std::span<const uint8_t> data)
{
    ripemd160_ctx c;
    ripemd160_start(&c);
    ripemd160_feed(&c, data.data(), data.size());
    std::array<uint8_t, ripemd160_digest_size> out;
    ripemd160_finish(&c, out.data());
    return out;
}

void digest_to_hex(const uint8_t *digest, size_t n, char *out)
{
    static constexpr char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < n; ++i) {
        out[2 * i] = digits[digest[i] >> 4];
        out[2 * i + 1] = digits[digest[i] & 15];
    }
    out[2 * n] = '\0';
}
