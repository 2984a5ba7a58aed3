#include "hash/hash.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::string hex_of(const uint8_t *digest)
{
    char text[2 * ripemd160_digest_size + 1];
    digest_to_hex(digest, ripemd160_digest_size, text);
    return text;
}

std::string digest_text(std::string_view s)
{
    auto d = ripemd160({reinterpret_cast<const uint8_t *>(s.data()), s.size()});
    return hex_of(d.data());
}

// Message bytes with no repeating structure, so misplaced bytes show.
std::vector<uint8_t> pattern(size_t n)
{
    std::vector<uint8_t> m(n);
    for (size_t i = 0; i < n; ++i)
        m[i] = uint8_t(i * 31 + 7);
    return m;
}

} // namespace

TEST(ripemd160, published_vectors)
{
    struct { std::string message; const char *digest; } cases[] = {
        {"", "9c1185a5c5e9fc54612808977ee8f548b2258d31"},
        {"a", "0bdc9d2d256b3ee9daae347be6f4dc835a467ffe"},
        {"abc", "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc"},
        {"message digest", "5d0689ef49d2fae572b881b123a85ffa21595f36"},
        {"abcdefghijklmnopqrstuvwxyz", "f71c27109c692c1b56bbdceb5b9d2865b3708dbc"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "12a053384a9c0c88e405a06c27dcf49ada62eb2b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "b0e20b6e3116640286ed3a87a5713079b21f5189"},
        {std::string(80, ' '), "9b752e45573d4b39f4dbd3323cab82bf63326bfb"},
        {std::string(1000000, 'a'), "52783243c1697bdbe16d37f97f68f08325dc1528"},
    };
    for (size_t i = 0; i < 80; ++i)
        cases[7].message[i] = char('0' + (i + 1) % 10);
    for (const auto &c : cases)
        EXPECT_EQ(digest_text(c.message), c.digest) << "length " << c.message.size();
}

// Lengths around the padding edges (55 fits the length in the same block,
// 56..63 need an extra block, 64/65 cross into a second data block).
TEST(ripemd160, split_feeds_match_one_shot)
{
    struct { size_t n; const char *digest; } cases[] = {
        {55, "b0b8230474939917ecb5359dd78d492965729965"},
        {56, "d627d48d28fd05a3954f02580221823e667c5c37"},
        {63, "1306221f1f3d8955b0d87af45ebc21798ae1ba51"},
        {64, "13aaed2eefca44031dfcb63eca3f3bad8eebad46"},
        {65, "e9c68ce03d065dc40ebd34f45b0442f925a3ffd9"},
        {119, "01079cde6f10b4033dd236021b66485d407ca9ae"},
        {128, "1305c367f78ac6a31efeafff434034ea427f452b"},
    };
    for (const auto &c : cases) {
        std::vector<uint8_t> m = pattern(c.n);
        EXPECT_EQ(hex_of(ripemd160(m).data()), c.digest) << "one shot, length " << c.n;

        // Two runs split at every offset, with empty runs around the split.
        for (size_t cut = 0; cut <= c.n; ++cut) {
            ripemd160_ctx ctx;
            ripemd160_start(&ctx);
            ripemd160_feed(&ctx, nullptr, 0);
            ripemd160_feed(&ctx, m.data(), cut);
            ripemd160_feed(&ctx, m.data() + cut, 0);
            ripemd160_feed(&ctx, m.data() + cut, c.n - cut);
            uint8_t out[ripemd160_digest_size];
            ripemd160_finish(&ctx, out);
            EXPECT_EQ(hex_of(out), c.digest) << "length " << c.n << " cut at " << cut;
        }

        // Runs of every size from 1 to 17 bytes.
        for (size_t piece = 1; piece <= 17; ++piece) {
            ripemd160_ctx ctx;
            ripemd160_start(&ctx);
            for (size_t at = 0; at < c.n; at += piece)
                ripemd160_feed(&ctx, m.data() + at, std::min(piece, c.n - at));
            uint8_t out[ripemd160_digest_size];
            ripemd160_finish(&ctx, out);
            EXPECT_EQ(hex_of(out), c.digest) << "length " << c.n << " pieces of " << piece;
        }
    }
}

TEST(ripemd160, context_restarts_clean)
{
    ripemd160_ctx ctx;
    ripemd160_start(&ctx);
    ripemd160_feed(&ctx, "some earlier message", 20);
    uint8_t out[ripemd160_digest_size];
    ripemd160_finish(&ctx, out);
    ripemd160_start(&ctx);
    ripemd160_feed(&ctx, "abc", 3);
    ripemd160_finish(&ctx, out);
    EXPECT_EQ(hex_of(out), "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc");
}

TEST(digest_to_hex, lower_case_and_terminated)
{
    const uint8_t bytes[] = {0x00, 0x0f, 0xa0, 0xff, 0x5c};
    char text[12];
    std::fill(std::begin(text), std::end(text), 'x');
    digest_to_hex(bytes, 5, text);
    EXPECT_STREQ(text, "000fa0ff5c");
    EXPECT_EQ(text[11], 'x'); // nothing written past the terminator

    digest_to_hex(bytes, 0, text);
    EXPECT_STREQ(text, "");
}
