// Image files: PPM, PGM, the predictive J6/J7 format and PNG (through
// libpng) decoded from memory, and the PNG writers. No GL here: the track
// code reads its height and map images through these without a context.
//
// Every size read from a file is checked against the data that follows it
// before anything is allocated or copied.
#include "files/files.h"
#include "platform/platform.h"
#include "render/render_local.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace {

void (*console_fn)(const char *line) = nullptr;
int verbose_level = 0;

// ---------------------------------------------------------------- header text

struct cursor {
    const uint8_t *p;
    const uint8_t *end;
};

bool is_space(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

void skip_space_and_comments(cursor &c)
{
    while (c.p < c.end) {
        if (is_space(*c.p)) {
            c.p++;
        } else if (*c.p == '#') {
            while (c.p < c.end && *c.p != '\n') {
                c.p++;
            }
        } else {
            break;
        }
    }
}

// The first word: at most 15 characters after leading white space.
void read_word(cursor &c, char word[16])
{
    while (c.p < c.end && is_space(*c.p)) {
        c.p++;
    }
    int n = 0;
    while (c.p < c.end && !is_space(*c.p) && n < 15) {
        word[n++] = char(*c.p++);
    }
    word[n] = 0;
}

// A decimal number up to `max`, after comments; false when there is none or
// it is too large.
bool read_number(cursor &c, int64_t max, int64_t *out)
{
    skip_space_and_comments(c);
    if (c.p >= c.end || *c.p < '0' || *c.p > '9') {
        return false;
    }
    int64_t v = 0;
    while (c.p < c.end && *c.p >= '0' && *c.p <= '9') {
        v = v * 10 + (*c.p++ - '0');
        if (v > max) {
            return false;
        }
    }
    *out = v;
    return true;
}

bool read_dimensions(cursor &c, int64_t *w, int64_t *h)
{
    return read_number(c, MAX_IMAGE_DIM, w) && read_number(c, MAX_IMAGE_DIM, h) && image_size_ok(*w, *h);
}

// PPM and PGM share their grammar; `components` is 3 or 1.
bool decode_netpbm(std::span<const uint8_t> data, const char *label, int components, kr_image *out)
{
    const char *kind = components == 3 ? "PPM" : "PGM";
    cursor c{data.data(), data.data() + data.size()};
    char word[16];
    read_word(c, word);
    bool binary = std::strcmp(word, components == 3 ? "P6" : "P5") == 0;
    int64_t w = 0, h = 0, max = 0;
    if (!read_dimensions(c, &w, &h) || !read_number(c, 65535, &max) || max < 1) {
        console_line("Can't get %s dimensions", kind);
        return false;
    }
    size_t count = size_t(w * h) * size_t(components);
    std::vector<uint8_t> px(count);
    if (binary) {
        // One white-space byte ends the header.
        if (c.p >= c.end) {
            console_line("%s data ends early in %.900s", kind, label);
            return false;
        }
        c.p++;
        size_t bytes_per_sample = max < 256 ? 1 : 2;
        if (size_t(c.end - c.p) / bytes_per_sample < count) {
            console_line("%s data ends early in %.900s", kind, label);
            return false;
        }
        for (size_t i = 0; i < count; i++) {
            int64_t v = bytes_per_sample == 1 ? c.p[i] : (c.p[2 * i] << 8 | c.p[2 * i + 1]);
            if (v > max) {
                v = max;
            }
            px[i] = uint8_t(max == 255 ? v : v * 255 / max);
        }
    } else {
        for (size_t i = 0; i < count; i++) {
            int64_t v = 0;
            if (!read_number(c, max, &v)) {
                console_line("%s data ends early in %.900s", kind, label);
                return false;
            }
            px[i] = uint8_t(max == 255 ? v : v * 255 / max);
        }
    }
    out->width = int(w);
    out->height = int(h);
    out->components = components;
    out->levels = 1;
    out->pixels = std::move(px);
    out->info.clear();
    return true;
}

// ---------------------------------------------------------------- PNG

// Bytes read or decoded between two calls of a loading tick.
constexpr size_t TICK_BYTES = size_t(1) << 20;

struct png_source {
    std::span<const uint8_t> data;
    size_t pos;
    const char *label;
    void (*tick)() = nullptr;
    size_t last_tick = 0;
};

void png_read_bytes(png_structp png, png_bytep out, size_t n)
{
    auto *src = static_cast<png_source *>(png_get_io_ptr(png));
    if (n > src->data.size() - src->pos) {
        png_error(png, "data ends early");
    }
    std::memcpy(out, src->data.data() + src->pos, n);
    src->pos += n;
    if (src->tick && src->pos - src->last_tick >= TICK_BYTES) {
        src->last_tick = src->pos;
        src->tick();
    }
}

void png_fail(png_structp png, png_const_charp message)
{
    const char *label = static_cast<const char *>(png_get_error_ptr(png));
    console_line("PNG error in %.900s: %s", label ? label : "", message);
    png_longjmp(png, 1);
}

void png_warn(png_structp, png_const_charp) {}

struct png_header {
    int width;
    int height;
    int channels;
    int bit_depth;
};

// libpng reports errors by longjmp back to the setjmp below; the two phase
// functions hold nothing that needs destroying, and everything they fill
// belongs to the caller, which cleans up after either outcome.
bool png_read_header(png_structp png, png_infop info, bool grey16, png_header *out)
{
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_set_user_limits(png, MAX_IMAGE_DIM, MAX_IMAGE_DIM);
    png_read_info(png, info);
    png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    int color = png_get_color_type(png, info);
    int depth = png_get_bit_depth(png, info);
    bool trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (color == PNG_COLOR_TYPE_PALETTE) {
        png_set_palette_to_rgb(png);
    }
    if (color == PNG_COLOR_TYPE_GRAY && depth < 8) {
        png_set_expand_gray_1_2_4_to_8(png);
    }
    bool colour = (color & PNG_COLOR_MASK_COLOR) != 0;
    if (grey16) {
        if (color & PNG_COLOR_MASK_ALPHA) {
            png_set_strip_alpha(png);
        }
        if (colour) {
            png_set_rgb_to_gray_fixed(png, 1, -1, -1);
        }
    } else {
        if (trns) {
            png_set_tRNS_to_alpha(png);
        }
        if (depth == 16) {
            png_set_strip_16(png);
        }
        if (!colour) {
            png_set_gray_to_rgb(png);
        }
    }
    (void)png_set_interlace_handling(png);
    png_read_update_info(png, info);
    out->width = int(w);
    out->height = int(h);
    out->channels = png_get_channels(png, info);
    out->bit_depth = png_get_bit_depth(png, info);
    size_t expected = size_t(w) * size_t(out->channels) * size_t(out->bit_depth / 8);
    if (png_get_rowbytes(png, info) != expected || !image_size_ok(w, h)) {
        png_error(png, "unexpected row layout");
    }
    return true;
}

bool png_read_rows(png_structp png, png_infop info, png_infop end_info, png_bytep *rows)
{
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_read_image(png, rows);
    png_read_end(png, end_info);
    return true;
}

void append_text_chunks(png_structp png, png_infop info, std::string *text)
{
    png_textp chunks = nullptr;
    int n = 0;
    if (png_get_text(png, info, &chunks, &n) > 0) {
        for (int i = 0; i < n; i++) {
            if (chunks[i].text) {
                text->append(chunks[i].text, chunks[i].text_length ? chunks[i].text_length : std::strlen(chunks[i].text));
                text->push_back('\n');
            }
        }
    }
}

struct png_read_handles {
    png_structp png = nullptr;
    png_infop info = nullptr;
    png_infop end_info = nullptr;
    ~png_read_handles() { png_destroy_read_struct(&png, info ? &info : nullptr, end_info ? &end_info : nullptr); }
};

// Decodes into bytes of `header.channels` samples of bit_depth 8 or 16.
bool decode_png_bytes(std::span<const uint8_t> data, const char *label, bool grey16, png_header *header,
                      std::vector<uint8_t> *bytes, std::string *text, void (*tick)() = nullptr)
{
    if (data.size() < 8 || png_sig_cmp(data.data(), 0, 8) != 0) {
        console_line("Not a PNG file: %.900s", label);
        return false;
    }
    png_read_handles h;
    h.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, const_cast<char *>(label), png_fail, png_warn);
    if (!h.png) {
        return false;
    }
    h.info = png_create_info_struct(h.png);
    h.end_info = png_create_info_struct(h.png);
    if (!h.info || !h.end_info) {
        return false;
    }
    png_source src{data, 0, label, tick};
    png_set_read_fn(h.png, &src, png_read_bytes);
    if (!png_read_header(h.png, h.info, grey16, header)) {
        return false;
    }
    size_t row = size_t(header->width) * size_t(header->channels) * size_t(header->bit_depth / 8);
    bytes->assign(row * size_t(header->height), 0);
    std::vector<png_bytep> rows(size_t(header->height));
    for (size_t y = 0; y < rows.size(); y++) {
        rows[y] = bytes->data() + y * row;
    }
    if (!png_read_rows(h.png, h.info, h.end_info, rows.data())) {
        return false;
    }
    if (text) {
        append_text_chunks(h.png, h.info, text);
        append_text_chunks(h.png, h.end_info, text);
    }
    return true;
}

// ---------------------------------------------------------------- PNG writing

struct png_write_handles {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~png_write_handles() { png_destroy_write_struct(&png, info ? &info : nullptr); }
};

void png_write_bytes(png_structp png, png_bytep data, size_t n)
{
    if (data_write(static_cast<data_file *>(png_get_io_ptr(png)), data, n) != n) {
        png_error(png, "write failed");
    }
}

void png_flush_nothing(png_structp) {}

bool png_write_rows(png_structp png, png_infop info, int width, int height, int depth, int color, png_bytep *rows)
{
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), depth, color, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, info);
    return true;
}

// Writes rows (each `row_bytes` long) as a PNG file at `path`.
bool write_png(const char *path, int width, int height, int depth, int color, std::vector<png_bytep> &rows)
{
    if (width <= 0 || height <= 0 || rows.size() != size_t(height)) {
        return false;
    }
    data_file_ptr f(data_open(path, "wb"));
    if (!f) {
        velk_log("Can't open %s for writing\n", path);
        return false;
    }
    png_write_handles h;
    h.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, const_cast<char *>(path), png_fail, png_warn);
    if (!h.png) {
        return false;
    }
    h.info = png_create_info_struct(h.png);
    if (!h.info) {
        return false;
    }
    png_set_write_fn(h.png, f.get(), png_write_bytes, png_flush_nothing);
    if (!png_write_rows(h.png, h.info, width, height, depth, color, rows.data())) {
        return false;
    }
    return data_flush(f.get()) == 0;
}

bool write_png_8(const char *path, const uint8_t *px, int width, int height, int components, bool bottom_up)
{
    if (!px || width <= 0 || height <= 0) {
        return false;
    }
    std::vector<png_bytep> rows(static_cast<size_t>(height));
    size_t row = size_t(width) * size_t(components);
    for (size_t y = 0; y < rows.size(); y++) {
        size_t src = bottom_up ? rows.size() - 1 - y : y;
        rows[y] = const_cast<png_bytep>(px + src * row);
    }
    return write_png(path, width, height, 8, components == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                     rows);
}

} // namespace

// ---------------------------------------------------------------- console

void render_set_console(void (*console)(const char *line)) { console_fn = console; }
void render_set_verbose(int verbosity) { verbose_level = verbosity; }
int render_verbosity() { return verbose_level; }

void console_line(const char *fmt, ...)
{
    char line[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    if (console_fn) {
        console_fn(line);
    } else {
        velk_log("%s\n", line);
    }
}

// ---------------------------------------------------------------- decoders

bool image_size_ok(int64_t width, int64_t height)
{
    return width > 0 && height > 0 && width <= MAX_IMAGE_DIM && height <= MAX_IMAGE_DIM &&
           uint64_t(width) * uint64_t(height) <= MAX_IMAGE_PIXELS;
}

bool image_decode_ppm(std::span<const uint8_t> data, const char *label, kr_image *out)
{
    return decode_netpbm(data, label, 3, out);
}

bool image_decode_pgm(std::span<const uint8_t> data, const char *label, kr_image *out)
{
    return decode_netpbm(data, label, 1, out);
}

namespace {

// A predictive image at the cursor; the cursor ends after its pixels.
bool decode_predictive_at(cursor &c, const char *label, kr_image *out)
{
    char word[16];
    read_word(c, word);
    int comp = std::strcmp(word, "J7") == 0 ? 4 : std::strcmp(word, "J6") == 0 ? 3 : 0;
    int64_t w = 0, h = 0;
    if (comp == 0 || !read_dimensions(c, &w, &h)) {
        console_line("Can't get predictive image dimensions in %.900s", label);
        return false;
    }
    size_t row = size_t(w) * size_t(comp);
    size_t count = row * size_t(h);
    if (c.p >= c.end || size_t(c.end - c.p - 1) < count) {
        console_line("Predictive image data ends early in %.900s", label);
        return false;
    }
    c.p++;  // the byte after the header
    std::vector<uint8_t> px(count);
    for (size_t y = 0; y < size_t(h); y++) {
        for (size_t x = 0; x < size_t(w); x++) {
            for (size_t ch = 0; ch < size_t(comp); ch++) {
                size_t i = y * row + x * size_t(comp) + ch;
                int pred;
                if (x == 0 && y == 0) {
                    pred = 0;
                } else if (y == 0) {
                    pred = px[i - size_t(comp)];
                } else if (x == 0) {
                    pred = px[i - row];
                } else {
                    pred = px[i - size_t(comp)] + px[i - row] - px[i - row - size_t(comp)];
                    pred = pred < 0 ? 0 : pred > 255 ? 255 : pred;
                }
                px[i] = uint8_t(c.p[i] + pred);
            }
        }
    }
    c.p += count;
    out->width = int(w);
    out->height = int(h);
    out->components = comp;
    out->levels = 1;
    out->pixels = std::move(px);
    out->info.clear();
    return true;
}

} // namespace

bool image_decode_predictive(std::span<const uint8_t> data, const char *label, kr_image *out)
{
    cursor c{data.data(), data.data() + data.size()};
    return decode_predictive_at(c, label, out);
}

bool image_decode_png(std::span<const uint8_t> data, const char *label, kr_image *out)
{
    png_header hd{};
    std::vector<uint8_t> bytes;
    std::string text;
    if (!decode_png_bytes(data, label, false, &hd, &bytes, &text)) {
        return false;
    }
    out->width = hd.width;
    out->height = hd.height;
    out->components = hd.channels;
    out->levels = 1;
    out->pixels = std::move(bytes);
    out->info = std::move(text);
    return true;
}

bool image_decode_png_grey16(std::span<const uint8_t> data, const char *label, std::vector<uint16_t> *samples,
                             int *width, int *height, void (*tick)())
{
    png_header hd{};
    std::vector<uint8_t> bytes;
    if (!decode_png_bytes(data, label, true, &hd, &bytes, nullptr, tick) || hd.channels != 1) {
        return false;
    }
    size_t n = size_t(hd.width) * size_t(hd.height);
    samples->resize(n);
    for (size_t i = 0; i < n; i++) {
        (*samples)[i] = hd.bit_depth == 16 ? uint16_t(bytes[2 * i] << 8 | bytes[2 * i + 1]) : uint16_t(bytes[i] * 257);
    }
    *width = hd.width;
    *height = hd.height;
    return true;
}

bool read_whole_file(const char *name, std::vector<uint8_t> *out, void (*tick)())
{
    data_file_ptr f(data_open(name, "rb"));
    if (!f) {
        return false;
    }
    out->clear();
    uint8_t block[65536];
    size_t n, last_tick = 0;
    while ((n = data_read(f.get(), block, sizeof block)) > 0) {
        out->insert(out->end(), block, block + n);
        if (tick && out->size() - last_tick >= TICK_BYTES) {
            last_tick = out->size();
            tick();
        }
    }
    return true;
}

bool decode_any(std::span<const uint8_t> data, const char *label, kr_image *out)
{
    cursor c{data.data(), data.data() + data.size()};
    char word[16];
    read_word(c, word);
    if (std::strcmp(word, "J7") == 0 || std::strcmp(word, "J6") == 0) {
        return image_decode_predictive(data, label, out);
    }
    if (std::strcmp(word, "P6") == 0 || std::strcmp(word, "P3") == 0) {
        return image_decode_ppm(data, label, out);
    }
    return image_decode_png(data, label, out);
}

bool image_read_png_grey16(const char *name, std::vector<uint16_t> *samples, int *width, int *height,
                           void (*tick)())
{
    std::vector<uint8_t> data;
    if (!read_whole_file(name, &data, tick)) {
        return false;
    }
    return image_decode_png_grey16(data, name, samples, width, height, tick);
}

bool image_read(const char *name, kr_image *out)
{
    std::vector<uint8_t> data;
    if (!read_whole_file(name, &data)) {
        return false;
    }
    if (!decode_any(data, name, out)) {
        return false;
    }
    std::string side = std::string(name) + ".info";
    if (read_whole_file(side.c_str(), &data)) {
        out->info.append(reinterpret_cast<const char *>(data.data()), data.size());
    }
    build_mip_chain(out, name);
    return true;
}

bool image_read_pgm(const char *name, kr_image *out)
{
    std::vector<uint8_t> data;
    return read_whole_file(name, &data) && image_decode_pgm(data, name, out);
}

namespace {

// Level 0 only, with the components changed (alpha 255 added or dropped).
void convert_components(kr_image *img, int components)
{
    if (img->components == components) {
        return;
    }
    size_t n = size_t(img->width) * size_t(img->height);
    std::vector<uint8_t> px(n * size_t(components));
    for (size_t i = 0; i < n; i++) {
        const uint8_t *s = &img->pixels[i * size_t(img->components)];
        uint8_t *d = &px[i * size_t(components)];
        for (int ch = 0; ch < components; ch++) {
            d[ch] = ch < 3 ? (img->components == 1 ? s[0] : s[ch]) : (img->components == 4 ? s[3] : 255);
        }
    }
    img->pixels = std::move(px);
    img->components = components;
    img->levels = 1;
}

bool read_converted(const char *name, int components, kr_image *out)
{
    std::vector<uint8_t> data;
    if (!read_whole_file(name, &data) || !decode_any(data, name, out)) {
        return false;
    }
    convert_components(out, components);
    return true;
}

} // namespace

bool image_read_rgb(const char *name, kr_image *out) { return read_converted(name, 3, out); }
bool image_read_rgba(const char *name, kr_image *out) { return read_converted(name, 4, out); }

// ---------------------------------------------------------------- writers

bool WritePng16(const char *path, const uint16_t *samples, int width, int height)
{
    if (!samples || width <= 0 || height <= 0) {
        return false;
    }
    std::vector<uint8_t> bytes(size_t(width) * size_t(height) * 2);
    for (size_t i = 0; i < bytes.size() / 2; i++) {
        bytes[2 * i] = uint8_t(samples[i] >> 8);
        bytes[2 * i + 1] = uint8_t(samples[i]);
    }
    std::vector<png_bytep> rows(static_cast<size_t>(height));
    for (size_t y = 0; y < rows.size(); y++) {
        rows[y] = bytes.data() + y * size_t(width) * 2;
    }
    return write_png(path, width, height, 16, PNG_COLOR_TYPE_GRAY, rows);
}

bool WritePngRgb(const char *path, const uint8_t *pixels, int width, int height)
{
    return write_png_8(path, pixels, width, height, 3, true);
}

bool write_png_rgb_top_down(const char *path, const uint8_t *rgb, int width, int height)
{
    return write_png_8(path, rgb, width, height, 3, false);
}

bool write_png_rgba_top_down(const char *path, const uint8_t *rgba, int width, int height)
{
    return write_png_8(path, rgba, width, height, 4, false);
}

// ---------------------------------------------------------------- animations

namespace {

// The rest of the current line, then the next line with trailing white
// space removed; false at the end of the data.
bool read_next_line(cursor &c, std::string *line)
{
    while (c.p < c.end && *c.p != '\n') {
        c.p++;
    }
    if (c.p >= c.end) {
        return false;
    }
    c.p++;
    const uint8_t *start = c.p;
    while (c.p < c.end && *c.p != '\n') {
        c.p++;
    }
    const uint8_t *end = c.p;
    while (end > start && is_space(end[-1])) {
        end--;
    }
    line->assign(reinterpret_cast<const char *>(start), size_t(end - start));
    return !line->empty();
}

bool read_signed(cursor &c, int *out)
{
    skip_space_and_comments(c);
    bool negative = c.p < c.end && *c.p == '-';
    if (negative) {
        c.p++;
    }
    int64_t v = 0;
    if (!read_number(c, 1 << 30, &v)) {
        return false;
    }
    *out = int(negative ? -v : v);
    return true;
}

} // namespace

bool decode_anim(std::span<const uint8_t> data, const char *label, anim_sequence *out)
{
    cursor c{data.data(), data.data() + data.size()};
    char word[16];
    read_word(c, word);
    int q = 0, p = 0, tics = 0, loop = 0;
    if (std::strcmp(word, "ANIM1") != 0 || !read_signed(c, &q) || !read_signed(c, &p) || !read_signed(c, &tics) ||
        !read_signed(c, &loop)) {
        console_line("EOF while reading .seq");
        return false;
    }
    // A sequence must show something, and every index must name a frame.
    if (q < 1 || p < 1 || q > 65536 || p > 4096) {
        console_line("Bad sequence size in %.900s", label);
        return false;
    }
    out->tics_per_step = tics > 0 ? tics : 1;
    out->loop = loop != 0;
    out->sequence.assign(size_t(q), 0);
    for (int i = 0; i < q; i++) {
        if (!read_signed(c, &out->sequence[size_t(i)])) {
            console_line("EOF while reading .seq");
            return false;
        }
        if (out->sequence[size_t(i)] < 0 || out->sequence[size_t(i)] >= p) {
            console_line("Bad frame index %d in %.900s", out->sequence[size_t(i)], label);
            return false;
        }
    }
    out->frames.clear();
    for (int f = 0; f < p; f++) {
        kr_image img;
        skip_space_and_comments(c);
        if (c.p >= c.end) {
            console_line("EOF while reading .seq");
            return false;
        }
        cursor at = c;
        read_word(c, word);
        if (std::strcmp(word, "J6") == 0 || std::strcmp(word, "J7") == 0) {
            c = at;
            if (!decode_predictive_at(c, label, &img)) {
                return false;
            }
        } else if (std::strcmp(word, "PNG") == 0) {
            std::string file;
            if (!read_next_line(c, &file)) {
                console_line("EOF while reading .seq");
                return false;
            }
            std::vector<uint8_t> bytes;
            if (!read_whole_file(file.c_str(), &bytes) || !image_decode_png(bytes, file.c_str(), &img)) {
                console_line("Can't read %.900s", file.c_str());
                return false;
            }
        } else {
            console_line("Error reading .seq frame %d", f);
            return false;
        }
        if (!out->frames.empty()) {
            const anim_frame &first = out->frames.front();
            if (img.width != first.width || img.height != first.height) {
                console_line("Width/height mismatch reading .seq");
                return false;
            }
            if (img.components != first.components) {
                console_line("Depth mismatch reading .seq");
                return false;
            }
        }
        build_mip_chain(&img, label);
        out->frames.push_back(anim_frame{img.width, img.height, img.components, std::move(img.pixels)});
    }
    return true;
}
