// Image decoding, PNG writing, mip chains and the size reductions: all
// without a GL context, from small files generated here.
#include "render/render_local.h"
#include "render/tests/test_util.h"

#include <png.h>

#include <cstring>

namespace {

std::string netpbm(const char *header, const std::vector<uint8_t> &body)
{
    return std::string(header) + std::string(body.begin(), body.end());
}

// The inverse of the predictive decoder, to make fixtures.
std::string predictive(const char *word, int w, int h, int comp, const std::vector<uint8_t> &px)
{
    std::string out = std::string(word) + "\n# made by the test\n" + std::to_string(w) + " " + std::to_string(h) + "\n";
    size_t row = size_t(w) * size_t(comp);
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            for (int ch = 0; ch < comp; ch++) {
                size_t i = size_t(y) * row + size_t(x) * size_t(comp) + size_t(ch);
                int pred = 0;
                if (x == 0 && y == 0) {
                    pred = 0;
                } else if (y == 0) {
                    pred = px[i - size_t(comp)];
                } else if (x == 0) {
                    pred = px[i - row];
                } else {
                    pred = std::clamp(px[i - size_t(comp)] + px[i - row] - px[i - row - size_t(comp)], 0, 255);
                }
                out.push_back(char(uint8_t(px[i] - pred)));
            }
        }
    }
    return out;
}

std::vector<uint8_t> pattern(size_t n, int seed)
{
    std::vector<uint8_t> v(n);
    uint32_t s = uint32_t(seed) * 2654435761u + 1;
    for (uint8_t &b : v) {
        s = s * 1664525u + 1013904223u;
        b = uint8_t(s >> 24);
    }
    return v;
}

TEST(Netpbm, BinaryAndTextPpmWithCommentsAndScaling)
{
    kr_image img;
    std::string p6 = netpbm("P6\n# comment\n2 1\n# another\n255\n", {1, 2, 3, 250, 251, 252});
    ASSERT_TRUE(image_decode_ppm(as_bytes(p6), "a.ppm", &img));
    EXPECT_EQ(img.width, 2);
    EXPECT_EQ(img.height, 1);
    EXPECT_EQ(img.components, 3);
    EXPECT_EQ(img.pixels, (std::vector<uint8_t>{1, 2, 3, 250, 251, 252}));

    std::string p3 = "P3 1 2 15\n 15 0 7\n# mid\n 1 2 3\n";
    ASSERT_TRUE(image_decode_ppm(as_bytes(p3), "b.ppm", &img));
    EXPECT_EQ(img.pixels, (std::vector<uint8_t>{255, 0, 7 * 255 / 15, 17, 34, 51}));
}

TEST(Netpbm, BinaryAndTextPgm)
{
    kr_image img;
    ASSERT_TRUE(image_decode_pgm(as_bytes(netpbm("P5\n3 1\n255\n", {0, 128, 255})), "s.pgm", &img));
    EXPECT_EQ(img.components, 1);
    EXPECT_EQ(img.pixels, (std::vector<uint8_t>{0, 128, 255}));
    ASSERT_TRUE(image_decode_pgm(as_bytes("P2 2 1 1 0 1"), "t.pgm", &img));
    EXPECT_EQ(img.pixels, (std::vector<uint8_t>{0, 255}));
}

TEST(Predictive, J6AndJ7RoundTrip)
{
    for (int comp : {3, 4}) {
        std::vector<uint8_t> px = pattern(size_t(5 * 3 * comp), comp);
        // Strong gradients so the clamp of the prediction is exercised.
        px[size_t(comp) * 6] = 255;
        px[size_t(comp) * 7] = 0;
        std::string file = predictive(comp == 3 ? "J6" : "J7", 5, 3, comp, px);
        kr_image img;
        ASSERT_TRUE(image_decode_predictive(as_bytes(file), "p", &img));
        EXPECT_EQ(img.components, comp);
        EXPECT_EQ(img.width, 5);
        EXPECT_EQ(img.height, 3);
        EXPECT_EQ(img.pixels, px);
    }
}

// Every reader refuses a header that claims more than the file holds, sizes
// that overflow, and data that ends early, and logs a line instead.
TEST(BadImages, HeadersThatLieAndTruncatedDataFail)
{
    std::vector<uint8_t> png = make_png({4, 4, PNG_COLOR_TYPE_RGB, 8, pattern(48, 1)});
    std::string cut_png(png.begin(), png.begin() + std::ptrdiff_t(png.size() / 2));
    // IHDR width patched to 0x7fffffff (the CRC no longer matches either).
    std::vector<uint8_t> huge = png;
    huge[16] = 0x7f;
    huge[17] = huge[18] = huge[19] = 0xff;
    using decoder = bool (*)(std::span<const uint8_t>, const char *, kr_image *);
    const struct {
        const char *what;
        decoder decode;
        std::string data;
    } cases[] = {
        {"ppm short", image_decode_ppm, netpbm("P6 4 4 255\n", {1, 2, 3})},
        {"ppm overflow", image_decode_ppm, "P6 4294967297 4294967297 255\n"},
        {"ppm no size", image_decode_ppm, "P6 # only a comment\n"},
        {"ppm text short", image_decode_ppm, "P3 2 2 255 1 2 3"},
        {"pgm short", image_decode_pgm, netpbm("P5 100 100 255\n", {1})},
        {"pgm huge", image_decode_pgm, "P5 100000 100000 255\n"},
        {"j6 short", image_decode_predictive, "J6\n4 4\n" + std::string(10, 'x')},
        {"j7 overflow", image_decode_predictive, "J7\n99999999999 2\n"},
        {"j6 no size", image_decode_predictive, "J6\n"},
        {"png cut", image_decode_png, cut_png},
        {"png huge", image_decode_png, std::string(huge.begin(), huge.end())},
        {"png sig only", image_decode_png, std::string("\x89PNG\r\n\x1a\n", 8)},
        {"not png", image_decode_png, "hello"},
    };
    for (const auto &c : cases) {
        console_lines().clear();
        kr_image img;
        EXPECT_FALSE(c.decode(as_bytes(c.data), c.what, &img)) << c.what;
        EXPECT_FALSE(console_lines().empty()) << c.what;
    }
}

TEST(Png, OddSizedPaletteWithTransparencyBecomesRgba)
{
    png_fixture f{5, 3, PNG_COLOR_TYPE_PALETTE, 8};
    f.palette = {255, 0, 0, 0, 255, 0, 0, 0, 255};
    f.trns = {0, 128};  // entry 0 clear, entry 1 half, entry 2 opaque
    for (int i = 0; i < 15; i++) {
        f.samples.push_back(uint8_t(i % 3));
    }
    f.text = "[mip_max_alpha]";
    kr_image img;
    ASSERT_TRUE(image_decode_png(make_png(f), "pal.png", &img));
    ASSERT_EQ(img.components, 4);
    EXPECT_EQ(img.width, 5);
    EXPECT_EQ(img.height, 3);
    ASSERT_EQ(img.pixels.size(), 60u);
    EXPECT_EQ(std::vector<uint8_t>(img.pixels.begin(), img.pixels.begin() + 12),
              (std::vector<uint8_t>{255, 0, 0, 0, 0, 255, 0, 128, 0, 0, 255, 255}));
    EXPECT_NE(img.info.find("[mip_max_alpha]"), std::string::npos);
}

TEST(Png, GreyDepthsAndColourKeysExpand)
{
    kr_image img;
    // 16-bit grey reduces to 8 bits and becomes RGB.
    png_fixture g16{2, 1, PNG_COLOR_TYPE_GRAY, 16, {0x12, 0x34, 0xff, 0xff}};
    ASSERT_TRUE(image_decode_png(make_png(g16), "g16.png", &img));
    EXPECT_EQ(img.components, 3);
    EXPECT_EQ(img.pixels, (std::vector<uint8_t>{0x12, 0x12, 0x12, 0xff, 0xff, 0xff}));
    // 2-bit grey expands to 8 bits.
    png_fixture g2{4, 1, PNG_COLOR_TYPE_GRAY, 2, {0x1B}};  // 0 1 2 3
    ASSERT_TRUE(image_decode_png(make_png(g2), "g2.png", &img));
    EXPECT_EQ(img.pixels, (std::vector<uint8_t>{0, 0, 0, 85, 85, 85, 170, 170, 170, 255, 255, 255}));
    // Grey with alpha: RGBA.
    png_fixture ga{1, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {77, 9}};
    ASSERT_TRUE(image_decode_png(make_png(ga), "ga.png", &img));
    EXPECT_EQ(img.pixels, (std::vector<uint8_t>{77, 77, 77, 9}));
    // An RGB colour key becomes alpha 0 on that colour only.
    png_fixture key{2, 1, PNG_COLOR_TYPE_RGB, 8, {10, 20, 30, 1, 2, 3}};
    key.trns = {0, 10, 0, 20, 0, 30};
    ASSERT_TRUE(image_decode_png(make_png(key), "key.png", &img));
    EXPECT_EQ(img.pixels, (std::vector<uint8_t>{10, 20, 30, 0, 1, 2, 3, 255}));
}

TEST(Png, Grey16SamplesKeepTheirPrecision)
{
    std::vector<uint16_t> s;
    int w = 0, h = 0;
    png_fixture g16{3, 1, PNG_COLOR_TYPE_GRAY, 16, {0x12, 0x34, 0x00, 0x01, 0xff, 0xfe}};
    ASSERT_TRUE(image_decode_png_grey16(make_png(g16), "h.png", &s, &w, &h));
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, 1);
    EXPECT_EQ(s, (std::vector<uint16_t>{0x1234, 0x0001, 0xfffe}));
    png_fixture g8{2, 1, PNG_COLOR_TYPE_GRAY, 8, {3, 255}};
    ASSERT_TRUE(image_decode_png_grey16(make_png(g8), "h8.png", &s, &w, &h));
    EXPECT_EQ(s, (std::vector<uint16_t>{3 * 257, 65535}));
    // Colour is turned into grey.
    png_fixture rgb{1, 1, PNG_COLOR_TYPE_RGB, 8, {200, 200, 200}};
    ASSERT_TRUE(image_decode_png_grey16(make_png(rgb), "c.png", &s, &w, &h));
    EXPECT_EQ(s[0], 200 * 257);
}

TEST(PngWriters, SixteenBitGreyAndBottomUpRgbRoundTrip)
{
    std::vector<uint16_t> heights = {0, 1, 300, 65535, 40000, 7};
    std::string p16 = (dirs().root / "out16.png").string();
    ASSERT_TRUE(WritePng16(p16.c_str(), heights.data(), 3, 2));
    std::vector<uint16_t> back;
    int w = 0, h = 0;
    ASSERT_TRUE(image_read_png_grey16(p16.c_str(), &back, &w, &h));
    EXPECT_EQ(back, heights);

    // A framebuffer read-back: the first row in memory is the bottom one.
    std::vector<uint8_t> fb = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    std::string prgb = (dirs().root / "shot.png").string();
    ASSERT_TRUE(WritePngRgb(prgb.c_str(), fb.data(), 2, 2));
    kr_image img;
    ASSERT_TRUE(image_decode_png(read_bytes(prgb), "shot", &img));
    EXPECT_EQ(img.pixels, (std::vector<uint8_t>{7, 8, 9, 10, 11, 12, 1, 2, 3, 4, 5, 6}));

    EXPECT_FALSE(WritePngRgb((dirs().root / "no_such_dir_file" / "x").string().c_str(), nullptr, 2, 2));
}

// ---------------------------------------------------------------- mip chains

kr_image make_image(int w, int h, int comp, std::vector<uint8_t> px, std::string info = {})
{
    kr_image img;
    img.width = w;
    img.height = h;
    img.components = comp;
    img.levels = 1;
    img.pixels = std::move(px);
    img.info = std::move(info);
    return img;
}

TEST(MipChain, MeansAndAlphaWeighting)
{
    kr_image rgb = make_image(2, 2, 3, {0, 0, 0, 1, 1, 1, 2, 2, 2, 4, 4, 4});
    build_mip_chain(&rgb, "rgb");
    ASSERT_EQ(rgb.levels, 2);
    EXPECT_EQ(std::vector<uint8_t>(rgb.pixels.end() - 3, rgb.pixels.end()), (std::vector<uint8_t>{1, 1, 1}));

    // Colour weighted by alpha: the clear texels do not darken the mean.
    kr_image rgba = make_image(2, 1, 4, {200, 100, 0, 255, 0, 0, 0, 0});
    build_mip_chain(&rgba, "rgba");
    EXPECT_EQ(std::vector<uint8_t>(rgba.pixels.end() - 4, rgba.pixels.end()),
              (std::vector<uint8_t>{200, 100, 0, 127}));
    // All clear: the plain mean.
    kr_image clear = make_image(2, 1, 4, {200, 100, 0, 0, 0, 0, 50, 0});
    build_mip_chain(&clear, "clear");
    EXPECT_EQ(std::vector<uint8_t>(clear.pixels.end() - 4, clear.pixels.end()),
              (std::vector<uint8_t>{100, 50, 25, 0}));
    // "[mip_max_alpha]": the largest alpha of the block.
    kr_image maxa = make_image(2, 1, 4, {10, 10, 10, 255, 10, 10, 10, 1}, "[mip_max_alpha]");
    build_mip_chain(&maxa, "maxa");
    EXPECT_EQ(maxa.pixels.back(), 255);
}

TEST(MipChain, LevelsHalveToOneByOne)
{
    EXPECT_EQ(mip_level_count(1, 1), 1);
    EXPECT_EQ(mip_level_count(8, 2), 4);
    EXPECT_EQ(mip_chain_bytes(8, 2, 3, 4), size_t((16 + 4 + 2 + 1) * 3));
    kr_image strip = make_image(4, 1, 3, pattern(12, 3));
    build_mip_chain(&strip, "strip");
    EXPECT_EQ(strip.levels, 3);
    EXPECT_EQ(strip.pixels.size(), size_t((4 + 2 + 1) * 3));
}

TEST(MipChain, CustomChainTakesLevelsFromTheImage)
{
    // 4 wide, 6 high: level 0 in rows 0..3, level 1 (2x2) at (0,4), level 2 at (2,4).
    std::vector<uint8_t> px(4 * 6 * 3, 9);
    for (int y = 4; y < 6; y++) {
        for (int x = 0; x < 2; x++) {
            px[size_t((y * 4 + x) * 3)] = 50;
        }
    }
    px[size_t((4 * 4 + 2) * 3)] = 77;
    kr_image img = make_image(4, 6, 3, px, "[mip_custom]");
    build_mip_chain(&img, "custom");
    EXPECT_EQ(img.height, 4);
    ASSERT_EQ(img.levels, 3);
    ASSERT_EQ(img.pixels.size(), size_t((16 + 4 + 1) * 3));
    EXPECT_EQ(img.pixels[16 * 3], 50);
    EXPECT_EQ(img.pixels[20 * 3], 77);

    console_lines().clear();
    kr_image bad = make_image(4, 5, 3, std::vector<uint8_t>(60, 1), "[mip_custom]");
    build_mip_chain(&bad, "bad.png");
    EXPECT_TRUE(console_has("Invalid height for custom MIP map in 'bad.png'"));
    EXPECT_EQ(bad.pixels.size(), mip_chain_bytes(bad.width, bad.height, 3, bad.levels));
}

TEST(Reduction, NonPowerOfTwoIsResampledDown)
{
    kr_image img = make_image(300, 200, 3, pattern(300 * 200 * 3, 4));
    build_mip_chain(&img, "npot");
    EXPECT_TRUE(image_resample_pow2(&img, "npot"));
    EXPECT_EQ(img.width, 256);
    EXPECT_EQ(img.height, 128);
    EXPECT_EQ(img.pixels.size(), mip_chain_bytes(256, 128, 3, mip_level_count(256, 128)));
    EXPECT_FALSE(image_resample_pow2(&img, "npot"));
}

TEST(Reduction, DetailLevelDropsButStopsNearTheSmallSizes)
{
    const struct {
        int w, h, level, drop;
    } cases[] = {
        {1024, 1024, 10, 2}, {1024, 1024, 1, 1}, {1024, 1024, 0, 0}, {128, 1024, 5, 0},
        {200, 200, 3, 1},    {2048, 512, 4, 1},  {4096, 4096, 3, 3},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(detail_levels_to_drop(c.w, c.h, c.level), c.drop) << c.w << "x" << c.h << " level " << c.level;
    }
    kr_image img = make_image(8, 8, 3, pattern(192, 5));
    build_mip_chain(&img, "d");
    image_drop_levels(&img, 2);
    EXPECT_EQ(img.width, 2);
    EXPECT_EQ(img.levels, 2);
    EXPECT_EQ(img.pixels.size(), size_t(5 * 3));
}

TEST(Reduction, AutomaticStopsAtSixteenForFlatImagesAndKeepsDetail)
{
    kr_image flat = make_image(512, 512, 3, std::vector<uint8_t>(512 * 512 * 3, 90));
    build_mip_chain(&flat, "flat");
    EXPECT_EQ(automatic_levels_to_drop(flat), 5);  // 512 -> 16

    kr_image noisy = make_image(64, 64, 4, pattern(64 * 64 * 4, 6));
    build_mip_chain(&noisy, "noisy");
    EXPECT_EQ(automatic_levels_to_drop(noisy), 0);

    kr_image small = make_image(16, 16, 3, std::vector<uint8_t>(16 * 16 * 3, 1));
    build_mip_chain(&small, "small");
    EXPECT_EQ(automatic_levels_to_drop(small), 0);
}

// ---------------------------------------------------------------- animations

std::string j6_frame(uint8_t v)
{
    return predictive("J6", 2, 2, 3, std::vector<uint8_t>(12, v));
}

TEST(Anim, SequenceStepsAndLooping)
{
    std::string file = "ANIM1\n4 3 4 1\n0 1 2 1\n" + j6_frame(10) + "\n" + j6_frame(20) + "\n" + j6_frame(30) + "\n";
    anim_sequence a;
    ASSERT_TRUE(decode_anim(as_bytes(file), "a.seq", &a));
    ASSERT_EQ(a.frames.size(), 3u);
    EXPECT_EQ(a.frames[1].pixels[0], 20);
    EXPECT_EQ(a.frames[0].pixels.size(), mip_chain_bytes(2, 2, 3, 2));
    const int start = 100;
    for (int t = 4; t <= 7; t++) {
        EXPECT_EQ(anim_frame_at(a, start, start + t), 1) << t;
    }
    for (int t = 12; t <= 15; t++) {
        EXPECT_EQ(anim_frame_at(a, start, start + t), 1) << t;
    }
    EXPECT_EQ(anim_frame_at(a, start, start + 8), 2);
    EXPECT_EQ(anim_frame_at(a, start, start + 16), 0);
    EXPECT_EQ(anim_frame_at(a, start, start - 50), 0);
    a.loop = false;
    EXPECT_EQ(anim_frame_at(a, start, start + 1000), 1);
}

TEST(Anim, PngFramesAndErrors)
{
    fs::path frame = dirs().root / "frame.png";
    std::vector<uint8_t> png = make_png({2, 2, PNG_COLOR_TYPE_RGB, 8, std::vector<uint8_t>(12, 5)});
    write_file(frame, std::string_view(reinterpret_cast<const char *>(png.data()), png.size()));
    std::string good = "ANIM1 1 2 1 0\n0\nPNG\n" + frame.string() + "   \n" + j6_frame(1);
    anim_sequence a;
    ASSERT_TRUE(decode_anim(as_bytes(good), "png.seq", &a));
    EXPECT_EQ(a.frames[0].pixels[0], 5);

    std::vector<uint8_t> rgba = make_png({2, 2, PNG_COLOR_TYPE_RGB_ALPHA, 8, std::vector<uint8_t>(16, 5)});
    fs::path rgba_frame = dirs().root / "frame_rgba.png";
    write_file(rgba_frame, std::string_view(reinterpret_cast<const char *>(rgba.data()), rgba.size()));
    const struct {
        std::string data;
        const char *message;
    } cases[] = {
        {"ANIM1 1 1 1 0\n0\nGIF\n", "Error reading .seq frame 0"},
        {"ANIM1 1 2 1 0\n0\n" + j6_frame(1), "EOF while reading .seq"},
        {"ANIM1 2 1 1", "EOF while reading .seq"},
        {"ANIM1 1 1 1 0\n0\nPNG\n" + (dirs().root / "missing.png").string() + "\n", "Can't read"},
        {"ANIM1 1 2 1 0\n0\n" + j6_frame(1) + predictive("J6", 1, 1, 3, {1, 2, 3}),
         "Width/height mismatch reading .seq"},
        {"ANIM1 1 2 1 0\n0\n" + j6_frame(1) + "PNG\n" + rgba_frame.string() + "\n", "Depth mismatch reading .seq"},
        {"ANIM1 1 1 1 0\n5\n" + j6_frame(1), "Bad frame index"},
    };
    for (const auto &c : cases) {
        console_lines().clear();
        EXPECT_FALSE(decode_anim(as_bytes(c.data), "bad.seq", &a)) << c.message;
        EXPECT_TRUE(console_has(c.message)) << c.message;
    }
}

} // namespace
