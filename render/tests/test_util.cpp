#include "render/tests/test_util.h"

#include <png.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

namespace {

test_dirs make_dirs()
{
    test_dirs d;
    std::random_device rd;
    d.root = fs::temp_directory_path() / ("kr_render_test_" + std::to_string(rd()) + std::to_string(rd()));
    d.home = d.root / "xdg" / "Kessrun";
    d.data = d.root / "data";
    fs::create_directories(d.home);
    fs::create_directories(d.data / "tracks");
    // Before anything asks for the user's directories, which are read once.
    setenv("XDG_DATA_HOME", (d.root / "xdg").c_str(), 1);
    setenv("KR_HOME", d.data.c_str(), 1);
    return d;
}

const test_dirs g_dirs = make_dirs();

struct remove_at_exit {
    ~remove_at_exit()
    {
        std::error_code ec;
        fs::remove_all(g_dirs.root, ec);
    }
} g_remove;

std::vector<std::string> g_console;

void capture(const char *line) { g_console.emplace_back(line); }

struct install_console {
    install_console() { render_set_console(capture); }
} g_install;

void write_cb(png_structp png, png_bytep data, size_t n)
{
    auto *out = static_cast<std::vector<uint8_t> *>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}

void flush_cb(png_structp) {}

bool encode(png_structp png, png_infop info, const png_fixture &f, png_bytep *rows, png_color *pal, int npal,
            png_text *text)
{
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_set_IHDR(png, info, png_uint_32(f.width), png_uint_32(f.height), f.bit_depth, f.color_type,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (npal > 0) {
        png_set_PLTE(png, info, pal, npal);
    }
    if (!f.trns.empty()) {
        if (f.color_type == PNG_COLOR_TYPE_PALETTE) {
            png_set_tRNS(png, info, f.trns.data(), int(f.trns.size()), nullptr);
        } else {
            png_color_16 key{};
            key.gray = png_uint_16(f.trns[0] << 8 | f.trns[1]);
            if (f.trns.size() >= 6) {
                key.red = png_uint_16(f.trns[0] << 8 | f.trns[1]);
                key.green = png_uint_16(f.trns[2] << 8 | f.trns[3]);
                key.blue = png_uint_16(f.trns[4] << 8 | f.trns[5]);
            }
            png_set_tRNS(png, info, nullptr, 0, &key);
        }
    }
    if (text) {
        png_set_text(png, info, text, 1);
    }
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, info);
    return true;
}

} // namespace

const test_dirs &dirs() { return g_dirs; }

void write_file(const fs::path &path, std::string_view bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

std::vector<uint8_t> read_bytes(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::span<const uint8_t> as_bytes(std::string_view s)
{
    return {reinterpret_cast<const uint8_t *>(s.data()), s.size()};
}

std::vector<uint8_t> make_png(const png_fixture &f)
{
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    int channels = f.color_type == PNG_COLOR_TYPE_RGB         ? 3
                   : f.color_type == PNG_COLOR_TYPE_RGB_ALPHA  ? 4
                   : f.color_type == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                                                               : 1;
    size_t row = (size_t(f.width) * size_t(channels) * size_t(f.bit_depth) + 7) / 8;
    std::vector<png_bytep> rows(size_t(f.height));
    for (size_t y = 0; y < rows.size(); y++) {
        rows[y] = const_cast<png_bytep>(f.samples.data() + y * row);
    }
    std::vector<png_color> pal(f.palette.size() / 3);
    for (size_t i = 0; i < pal.size(); i++) {
        pal[i] = {f.palette[3 * i], f.palette[3 * i + 1], f.palette[3 * i + 2]};
    }
    png_text text{};
    std::string key = "Comment";
    if (!f.text.empty()) {
        text.compression = PNG_TEXT_COMPRESSION_NONE;
        text.key = key.data();
        text.text = const_cast<char *>(f.text.c_str());
        text.text_length = f.text.size();
    }
    png_set_write_fn(png, &out, write_cb, flush_cb);
    bool ok = encode(png, info, f, rows.data(), pal.data(), int(pal.size()), f.text.empty() ? nullptr : &text);
    png_destroy_write_struct(&png, &info);
    EXPECT_TRUE(ok);
    return out;
}

std::vector<std::string> &console_lines() { return g_console; }

bool console_has(std::string_view part)
{
    for (const std::string &l : g_console) {
        if (l.find(part) != std::string::npos) {
            return true;
        }
    }
    return false;
}
