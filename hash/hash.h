// hash.h -- message digests and other small shared helpers.
//
// Owns: RIPEMD-160 (a context that is started, fed any number of byte runs
// and finished into a 20-byte digest) and the hex writer for digest text.
// Depends on: nothing but the standard library.
// Called by: start-up's shape-file digest, the track digest, the network
// identity and password digests and the script seed.
// Lifetime: stateless; a ripemd160_ctx is a plain value owned by the caller.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

inline constexpr size_t ripemd160_digest_size = 20;

struct ripemd160_ctx {
    uint32_t h[5];        // chaining state
    uint64_t total;       // bytes fed so far (bit count = total * 8, mod 2^64)
    uint8_t block[64];    // pending partial block
    size_t used;          // bytes pending in block, 0..63
};

void ripemd160_start(ripemd160_ctx *c);
// Accepts any number of runs of any length, including 0 (data may then be null).
void ripemd160_feed(ripemd160_ctx *c, const void *data, size_t n);
// Pads, writes the digest and leaves the context spent; start it again to reuse.
void ripemd160_finish(ripemd160_ctx *c, uint8_t out[ripemd160_digest_size]);

std::array<uint8_t, ripemd160_digest_size> ripemd160(std::span<const uint8_t> data);

// Writes 2n lower-case hex digits and a terminating zero into out (2n + 1 bytes).
void digest_to_hex(const uint8_t *digest, size_t n, char *out);
