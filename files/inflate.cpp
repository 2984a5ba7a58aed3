// Inflated streams: the gzip header is read here, the deflate data is
// inflated raw by zlib into a small window that reads are served from. The
// compressed input never goes past the stream's limit (an archive member's
// size). Corrupt or cut-off data ends the stream there with one log line.
#include "files/files_local.h"

#include <cstring>
#include <new>
#include <zlib.h>

struct inflate_state {
    z_stream zs{};
    uint8_t in[k_inflate_block];
    uint8_t out[k_inflate_window];
    uint32_t out_pos = 0;
    uint32_t out_len = 0;
    bool ended = false;
    uint32_t crc = 0;    // CRC-32 of the output so far
    uint32_t total = 0;  // output length, modulo 2^32 as in the trailer
};

namespace {

// gzip header flag bits.
constexpr uint8_t k_fhcrc = 2, k_fextra = 4, k_fname = 8, k_fcomment = 16;

// Refills the input block from the file; returns the bytes read.
uint32_t fill_input(data_file *f)
{
    inflate_state *z = f->z;
    uint32_t room = f->limit - f->count;
    uint32_t want = room < k_inflate_block ? room : k_inflate_block;
    auto got = uint32_t(want ? std::fread(z->in, 1, want, f->file) : 0);
    f->count += got;
    z->zs.next_in = z->in;
    z->zs.avail_in = got;
    return got;
}

// Length of the gzip header at the start of buf, or 0 when it is bad or does
// not lie wholly inside buf.
size_t gzip_header_length(const uint8_t *buf, size_t n)
{
    if (n < 10 || buf[0] != 0x1F || buf[1] != 0x8B || buf[2] != 8 || buf[3] >= 32)
        return 0;
    uint8_t flags = buf[3];
    size_t p = 10;  // magic, method, flags, time, extra flags, system
    if (flags & k_fextra) {
        if (n - p < 2)
            return 0;
        size_t len = size_t(buf[p]) | size_t(buf[p + 1]) << 8;
        p += 2;
        if (n - p < len)
            return 0;
        p += len;
    }
    for (uint8_t bit : {k_fname, k_fcomment}) {
        if (!(flags & bit))
            continue;
        while (p < n && buf[p])
            p++;
        if (p == n)
            return 0;
        p++;
    }
    if (flags & k_fhcrc) {
        if (n - p < 2)
            return 0;
        p += 2;
    }
    return p;
}

uint32_t read_le32(const uint8_t *b)
{
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

// The trailer (CRC-32 and length) follows the deflate data; when all of it is
// there it must agree with what was inflated.
void check_trailer(data_file *f)
{
    inflate_state *z = f->z;
    uint8_t t[8];
    uint32_t have = 0;
    for (;;) {
        uint32_t take = z->zs.avail_in < 8 - have ? z->zs.avail_in : 8 - have;
        std::memcpy(t + have, z->zs.next_in, take);
        z->zs.next_in += take;
        z->zs.avail_in -= take;
        have += take;
        if (have == 8 || fill_input(f) == 0)
            break;
    }
    if (have == 8 && (read_le32(t) != z->crc || read_le32(t + 4) != z->total))
        files_log("Checksum mismatch in compressed file %s\n", f->name.c_str());
}

// Inflates into dst; returns the bytes produced, 0 only at the end.
uint32_t produce(data_file *f, uint8_t *dst, uint32_t cap)
{
    inflate_state *z = f->z;
    while (!z->ended) {
        bool exhausted = z->zs.avail_in == 0 && fill_input(f) == 0;
        z->zs.next_out = dst;
        z->zs.avail_out = cap;
        int r = inflate(&z->zs, Z_NO_FLUSH);
        uint32_t got = cap - z->zs.avail_out;
        z->crc = uint32_t(crc32(z->crc, dst, got));
        z->total += got;
        if (r == Z_STREAM_END) {
            z->ended = true;
            check_trailer(f);
        } else if (r == Z_BUF_ERROR) {
            if (got == 0 && exhausted) {
                files_log("Compressed data in %s is cut short\n", f->name.c_str());
                z->ended = true;
            }
        } else if (r != Z_OK) {
            files_log("Corrupt compressed data in %s\n", f->name.c_str());
            z->ended = true;
        }
        if (got)
            return got;
    }
    return 0;
}

}  // namespace

bool inflate_begin(data_file *f)
{
    void *mem = kr_malloc(sizeof(inflate_state));
    if (!mem)
        return false;
    f->z = new (mem) inflate_state;
    uint32_t got = fill_input(f);
    size_t header = gzip_header_length(f->z->in, got);
    if (header == 0 || inflateInit2(&f->z->zs, -15) != Z_OK) {
        f->z->~inflate_state();
        kr_free(f->z);
        f->z = nullptr;
        return false;
    }
    f->z->zs.next_in = f->z->in + header;
    f->z->zs.avail_in = got - uint32_t(header);
    return true;
}

void inflate_end(data_file *f)
{
    inflateEnd(&f->z->zs);
    f->z->~inflate_state();
    kr_free(f->z);
    f->z = nullptr;
}

int inflate_getc(data_file *f)
{
    inflate_state *z = f->z;
    if (z->out_pos == z->out_len) {
        z->out_pos = 0;
        z->out_len = produce(f, z->out, k_inflate_window);
        if (z->out_len == 0)
            return -1;
    }
    return z->out[z->out_pos++];
}

size_t inflate_read(data_file *f, uint8_t *out, size_t count)
{
    inflate_state *z = f->z;
    size_t n = 0;
    while (n < count) {
        if (z->out_pos < z->out_len) {
            size_t take = z->out_len - z->out_pos;
            take = take < count - n ? take : count - n;
            std::memcpy(out + n, z->out + z->out_pos, take);
            z->out_pos += uint32_t(take);
            n += take;
            continue;
        }
        // Large reads skip the window and inflate straight into the caller's buffer.
        if (count - n >= k_inflate_window) {
            size_t left = count - n;
            auto cap = uint32_t(left < 0x40000000 ? left : 0x40000000);
            uint32_t got = produce(f, out + n, cap);
            if (got == 0)
                break;
            n += got;
            continue;
        }
        z->out_pos = 0;
        z->out_len = produce(f, z->out, k_inflate_window);
        if (z->out_len == 0)
            break;
    }
    return n;
}
