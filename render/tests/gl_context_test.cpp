// The layer on real contexts (Mesa under Xvfb): every program compiles on a
// core, a compatibility and an ES context and draws; textures load through
// the cache with their reductions; screenshots are numbered and saved.
#include "platform/platform.h"
#include "render/render_local.h"
#include "render/tests/test_util.h"

#include <png.h>

#include <cmath>
#include <cstdlib>

namespace {

bool have_display()
{
    const char *d = std::getenv("DISPLAY");
    return d && *d;
}

struct gl_window {
    velk_window *window = nullptr;
    explicit gl_window(int major, int minor, velk_gl_kind kind)
    {
        velk_set_gl_request(major, minor, kind);
        window = velk_window_open("render test", 64, 48, 24, false, 8, 24, 0, 0);
    }
    ~gl_window()
    {
        DeleteStaleTextures(true);
        krglShutdown();
        velk_window_close(window);
    }
};

std::array<uint8_t, 3> pixel_at(int x, int y)
{
    std::array<uint8_t, 3> p{};
    EXPECT_TRUE(read_pixels_rgb(x, y, 1, 1, p.data()));
    return p;
}

void expect_near(std::array<uint8_t, 3> got, std::array<int, 3> want, const char *what)
{
    for (size_t i = 0; i < 3; i++) {
        EXPECT_NEAR(int(got[i]), want[i], 2) << what << " channel " << i;
    }
}

constexpr std::array<int, 3> sky = {50, 153, 204};

void clear_to_sky(int w, int h)
{
    krglViewport(0, 0, w, h);
    krglClearColor(0.196078f, 0.6f, 0.8f, 0.0f);
    krglClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

TEST(GlContext, EveryContextKindCompilesTheProgramsAndDraws)
{
    if (!have_display()) {
        GTEST_SKIP() << "no display";
    }
    const struct {
        int major, minor;
        velk_gl_kind kind;
    } cases[] = {{3, 1, velk_gl_kind::core}, {3, 3, velk_gl_kind::compatibility}, {3, 0, velk_gl_kind::es}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.major << "." << c.minor << " kind " << int(c.kind));
        gl_window w(c.major, c.minor, c.kind);
        ASSERT_NE(w.window, nullptr);
        ASSERT_TRUE(krglInit());
        const gl_facts &f = krgl_facts();
        EXPECT_EQ(f.es, c.kind == velk_gl_kind::es) << f.version;
        EXPECT_GE(f.major * 10 + f.minor, c.major * 10 + c.minor);
        EXPECT_NE(f.extensions, "NULL");
        ASSERT_TRUE(krglCreatePrograms());
        for (int i = 1; i <= 6; i++) {
            EXPECT_NE(krgl_program_name(i), 0u) << i;
        }
        EXPECT_EQ(krgl_current_program(), 0);

        int width = 0, height = 0;
        ASSERT_TRUE(velk_frame_begin(w.window, &width, &height));
        clear_to_sky(width, height);
        expect_near(pixel_at(width / 2, height / 2), sky, "clear");

        // A red quad over the left half, drawn through the queue.
        krglUseProgram(KRGL_UNLIT);
        krglActiveTexture(GL_TEXTURE0);
        krglBindTexture(GL_TEXTURE_2D, krgl_white_texture());
        krglMatrixMode(KRGL_PROJECTION);
        krglLoadIdentity();
        krglOrtho(0, 2, 0, 1, -1, 1);
        krglMatrixMode(KRGL_MODELVIEW);
        krglLoadIdentity();
        krglColor(1, 0, 0);
        krglBegin(KRGL_QUADS);
        krglVertex(0, 0);
        krglVertex(1, 0);
        krglVertex(1, 1);
        krglVertex(0, 1);
        krglEnd();
        expect_near(pixel_at(width / 4, height / 2), {255, 0, 0}, "quad");
        expect_near(pixel_at(width * 3 / 4, height / 2), sky, "outside the quad");
        EXPECT_EQ(krglGetError(), GLenum(GL_NO_ERROR));
        velk_frame_end(w.window);
    }
}

void write_png_file(const fs::path &path, const png_fixture &f)
{
    std::vector<uint8_t> png = make_png(f);
    write_file(path, std::string_view(reinterpret_cast<const char *>(png.data()), png.size()));
}

std::vector<uint8_t> noise(size_t n)
{
    std::vector<uint8_t> v(n);
    uint32_t s = 12345;
    for (uint8_t &b : v) {
        s = s * 1664525u + 1013904223u;
        b = uint8_t(s >> 24);
    }
    return v;
}

int texture_width(GLuint t)
{
    krglFlush();
    gl.BindTexture(GL_TEXTURE_2D, t);
    GLint w = 0;
    EXPECT_TRUE(krglGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w));
    return w;
}

class Textures : public ::testing::Test {
protected:
    std::unique_ptr<gl_window> w;
    void SetUp() override
    {
        if (!have_display()) {
            GTEST_SKIP() << "no display";
        }
        w = std::make_unique<gl_window>(3, 3, velk_gl_kind::compatibility);
        ASSERT_NE(w->window, nullptr);
        ASSERT_TRUE(krglInit());
        ASSERT_TRUE(krglCreatePrograms());
        console_lines().clear();
    }
};

TEST_F(Textures, SizesAreReducedAsTheNameAndContentAsk)
{
    const fs::path &data = dirs().data;
    write_png_file(data / "npot.png", {300, 200, PNG_COLOR_TYPE_RGB, 8, noise(300 * 200 * 3)});
    write_png_file(data / "flat.png", {512, 512, PNG_COLOR_TYPE_RGB, 8, std::vector<uint8_t>(512 * 512 * 3, 60)});
    write_png_file(data / "big.png", {1024, 1024, PNG_COLOR_TYPE_RGB, 8, noise(1024 * 1024 * 3)});

    GLuint npot = LoadTexture("@npot.png");
    ASSERT_NE(npot, 0u);
    EXPECT_EQ(texture_width(npot), 256);
    EXPECT_TRUE(console_has("Warning: Non power of 2 texture '@npot.png'"));

    GLuint flat = LoadTexture("@flat.png");
    EXPECT_EQ(texture_width(flat), 16);
    EXPECT_TRUE(console_has("@flat.png reduced to 16x16 (originally 512x512)"));

    texture_set_reduction_level(10);
    EXPECT_EQ(texture_width(LoadTexture("!@big.png")), 1024);
    EXPECT_EQ(texture_width(LoadTexture("@big.png")), 256);
    texture_set_reduction_level(0);

    // The same name again, and in other letter case: the same texture.
    EXPECT_EQ(LoadTexture("@npot.png"), npot);
    console_lines().clear();
    EXPECT_EQ(LoadTexture("@NPOT.png"), npot);
    EXPECT_TRUE(console_has("Warning: case mismatch on '@NPOT.png'"));
    EXPECT_STREQ(TextureName(npot), "@npot.png");
}

TEST_F(Textures, WrapFlagsLinksInfoAndAnimations)
{
    const fs::path &data = dirs().data;
    write_png_file(data / "fence-hrepeat.png", {4, 4, PNG_COLOR_TYPE_RGB_ALPHA, 8, noise(64)});
    write_file(data / "fence-hrepeat.png.info", "[mip_max_alpha]\n");
    GLuint t = LoadTexture("@fence-hrepeat.png");
    ASSERT_NE(t, 0u);
    auto get_param = reinterpret_cast<PFNGLGETTEXPARAMETERIVPROC>(velk_gl_proc("glGetTexParameteriv"));
    GLint s = 0, tt = 0;
    krglFlush();
    gl.BindTexture(GL_TEXTURE_2D, t);
    get_param(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &s);
    get_param(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &tt);
    EXPECT_EQ(s, GL_REPEAT);
    EXPECT_EQ(tt, GL_CLAMP_TO_EDGE);
    ASSERT_NE(TextureInfo(t), nullptr);
    EXPECT_NE(std::string(TextureInfo(t)).find("[mip_max_alpha]"), std::string::npos);

    write_file(data / "alias.png", "LINK   @fence-hrepeat.png  \n");
    EXPECT_EQ(LoadTexture("@alias.png"), t);
    EXPECT_EQ(LoadTexture("@alias.png"), t);
    // Links that name each other end instead of recursing.
    write_file(data / "loop_a.png", "LINK @loop_b.png");
    write_file(data / "loop_b.png", "LINK @loop_a.png");
    EXPECT_EQ(LoadTexture("@loop_a.png"), 0u);

    std::string j6a = "J6\n2 2\n" + std::string(12, '\x0a');
    std::string j6b = "J6\n2 2\n" + std::string(12, '\x14');
    write_file(data / "flag.seq", "ANIM1\n2 2 4 1\n0 1\n" + j6a + "\n" + j6b + "\n");
    GLuint anim = LoadTexture("@flag.seq");
    ASSERT_NE(anim, 0u);
    int frame = -1, frames = 0;
    restart_animation(anim, 100);
    AdvanceAnimations(104);
    ASSERT_TRUE(animation_frame(anim, &frame, &frames));
    EXPECT_EQ(frame, 1);
    EXPECT_EQ(frames, 2);
    pause_animation(anim);
    AdvanceAnimations(108);
    ASSERT_TRUE(animation_frame(anim, &frame, &frames));
    EXPECT_EQ(frame, 1);
    EXPECT_EQ(krglGetError(), GLenum(GL_NO_ERROR));

    console_lines().clear();
    render_set_verbose(1);
    EXPECT_EQ(LoadTexture("@missing.png"), 0u);
    render_set_verbose(0);
    EXPECT_TRUE(console_has("Can't open texture \"@missing.png\""));

    // Compression asked for by the setting: uploaded and counted.
    texture_set_compress(texture_compress::always);
    uint32_t before = texture_memory_used();
    write_png_file(data / "packed.png", {64, 64, PNG_COLOR_TYPE_RGB, 8, noise(64 * 64 * 3)});
    EXPECT_NE(LoadTexture("@packed.png"), 0u);
    texture_set_compress(texture_compress::no);
    EXPECT_GT(texture_memory_used(), before);
    EXPECT_EQ(krglGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(Textures, StaleTexturesGoAtTheNextTrackAndMemoryIsCounted)
{
    const fs::path &data = dirs().data;
    write_png_file(data / "a.png", {32, 32, PNG_COLOR_TYPE_RGB, 8, noise(32 * 32 * 3)});
    write_png_file(data / "b.png", {32, 32, PNG_COLOR_TYPE_RGB, 8, noise(32 * 32 * 3)});
    GLuint hud = LoadTexture("@a.png");  // loaded before any track: kept
    texture_begin_track_load();
    EXPECT_EQ(texture_memory_used(), 0u);
    GLuint b = LoadTexture("@b.png");
    EXPECT_EQ(texture_memory_used(), uint32_t(mip_chain_bytes(32, 32, 3, 6)));
    texture_begin_track_load();
    (void)LoadTexture("@a.png");  // used again by the new track
    DeleteStaleTextures(false);
    EXPECT_EQ(TextureName(b), nullptr);
    EXPECT_STREQ(TextureName(hud), "@a.png");
    DeleteStaleTextures(true);
    EXPECT_EQ(TextureName(hud), nullptr);
}

TEST_F(Textures, ScreenshotsMatchTheWindowAndNeverOverwrite)
{
    int width = 0, height = 0;
    ASSERT_TRUE(velk_frame_begin(w->window, &width, &height));
    clear_to_sky(width, height);
    const char *names[] = {"screenshot7.ppm", "screenshot005.png", "readme.txt", nullptr};
    // A file the index does not know about yet holds the next number.
    write_file(dirs().home / "screenshot008.png", "taken");
    std::string saved;
    ASSERT_TRUE(save_screenshot(names, width, height, &saved));
    EXPECT_EQ(saved, "screenshot009.png");
    EXPECT_EQ(read_bytes(dirs().home / "screenshot008.png").size(), 5u);
    ASSERT_TRUE(save_screenshot(names, width, height, &saved));
    EXPECT_EQ(saved, "screenshot010.png");
    velk_frame_end(w->window);

    kr_image img;
    ASSERT_TRUE(image_decode_png(read_bytes(dirs().home / "screenshot009.png"), "shot", &img));
    EXPECT_EQ(img.width, width);
    EXPECT_EQ(img.height, height);
    for (size_t i : {size_t(0), img.pixels.size() / 2 / 3 * 3, img.pixels.size() - 3}) {
        expect_near({img.pixels[i], img.pixels[i + 1], img.pixels[i + 2]}, sky, "screenshot");
    }
}

// The built-in block font: white glyph pixels on a dark band across the
// window, the sky above and below; lower case is drawn as upper case, and a
// character without a glyph as '?'.
TEST_F(Textures, MessageTextIsDrawnWithTheBlockFont)
{
    int width = 0, height = 0;
    ASSERT_TRUE(velk_frame_begin(w->window, &width, &height));
    auto count = [&](std::string_view text, std::array<int, 3> colour) {
        clear_to_sky(width, height);
        draw_message_text(text, width, height);
        std::vector<uint8_t> rgb;
        EXPECT_TRUE(read_frame_rgb(width, height, &rgb));
        int n = 0;
        for (size_t k = 0; k + 2 < rgb.size(); k += 3) {
            n += std::abs(rgb[k] - colour[0]) <= 2 && std::abs(rgb[k + 1] - colour[1]) <= 2 &&
                 std::abs(rgb[k + 2] - colour[2]) <= 2;
        }
        return n;
    };
    const std::array<int, 3> white = {255, 255, 255};
    int lit_i = count("I", white);
    // "I" has 11 lit font pixels, each a square of whole screen pixels.
    ASSERT_GT(lit_i, 0);
    EXPECT_EQ(lit_i % 11, 0) << lit_i;
    int scale = int(std::lround(std::sqrt(lit_i / 11)));
    EXPECT_EQ(lit_i, 11 * scale * scale);
    EXPECT_EQ(count("i", white), lit_i);
    EXPECT_EQ(count("~", white), count("?", white));
    EXPECT_EQ(count(" ", white), 0);
    // The band spans the width at the middle; the sky stays at the top. The
    // text is on the screen without a further flush (the frame swap follows).
    clear_to_sky(width, height);
    draw_message_text("I", width, height);
    uint8_t direct[4] = {};
    gl.ReadPixels(0, height / 2, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, direct);
    expect_near({direct[0], direct[1], direct[2]}, {25, 25, 25}, "band read back directly");
    expect_near(pixel_at(0, height / 2), {25, 25, 25}, "band at the left edge");
    expect_near(pixel_at(width - 1, height / 2), {25, 25, 25}, "band at the right edge");
    expect_near(pixel_at(0, height - 1), sky, "sky at the top");
    EXPECT_EQ(krglGetError(), GLenum(GL_NO_ERROR));
    velk_frame_end(w->window);
}

TEST(Screenshot, FirstNumberFollowsTheHighestBelowTheLimit)
{
    struct row {
        std::vector<const char *> names;
        int64_t first;
    };
    const row rows[] = {
        {{}, 1},
        {{"screenshot7.ppm", "screenshot012.png", "screenshotx.png", "shot99.png"}, 13},
        // A number at or above 2^31 is left out; the count goes on below it.
        {{"screenshot2147483648.png"}, 1},
        {{"screenshot99999999999999.png", "screenshot004.png"}, 5},
        {{"screenshot4294967297.png", "screenshot0012.png"}, 13},
        // The top number itself is taken: the first free one.
        {{"screenshot2147483647.png"}, 1},
        {{"screenshot001.png", "screenshot2.ppm", "screenshot2147483647.png", "screenshot004.png"}, 3},
    };
    for (const row &r : rows) {
        std::vector<const char *> names = r.names;
        names.push_back(nullptr);
        EXPECT_EQ(screenshot_first_number(names.data()), r.first) << (r.names.empty() ? "none" : r.names[0]);
    }
}

} // namespace
