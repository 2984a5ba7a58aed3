// Textures by name: the cache with its per-track lifetime, links and
// aliases, the two size reductions, uploads with wrap, filter and
// compression options, the memory count, and ANIM1 animations.
#include "render/render_local.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

namespace {

struct texture_record {
    GLuint texture = 0;
    uint32_t stamp = 0;
    uint32_t bytes = 0;
    std::string info;
    bool has_info = false;
    std::string name;
};

struct cached_image {
    std::string name;
    uint32_t stamp = 0;
    kr_image image;
};

struct anim_record {
    GLuint texture = 0;
    anim_sequence seq;
    int start_tic = 0;
    bool paused = false;
    int current = 0;
};

std::vector<texture_record> textures;
std::vector<std::pair<std::string, std::string>> aliases;
std::vector<std::unique_ptr<cached_image>> images;
std::vector<anim_record> animations;
uint32_t generation = 0;
uint32_t memory_used = 0;
int reduction_level = 0;
texture_compress compress_mode = texture_compress::no;

// Links may name links; a cycle must not recurse for ever.
constexpr int MAX_LINK_DEPTH = 16;

bool equal_ci(const std::string &a, const char *b)
{
    size_t n = std::strlen(b);
    if (a.size() != n) {
        return false;
    }
    for (size_t i = 0; i < n; i++) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

const texture_record *find_record(GLuint handle)
{
    for (const texture_record &r : textures) {
        if (r.texture == handle) {
            return &r;
        }
    }
    return nullptr;
}

GLenum pixel_format(int components)
{
    return components == 4 ? GL_RGBA : components == 3 ? GL_RGB : GL_RED;
}

GLint internal_format(int components, bool compressed)
{
    if (compressed) {
        return components == 4 ? GL_COMPRESSED_RGBA : GL_COMPRESSED_RGB;
    }
    return components == 4 ? GL_RGBA8 : components == 3 ? GL_RGB8 : GL_R8;
}

// The border colour of an RGB image: the mean of the most common colour
// (by 4-bit cells) along its edge.
void border_colour(const uint8_t *px, int w, int h, int comp, float out[4])
{
    std::vector<int> cells(4096, 0);
    std::vector<std::array<int, 3>> sums(4096, {0, 0, 0});
    auto add = [&](int x, int y) {
        const uint8_t *p = px + (size_t(y) * size_t(w) + size_t(x)) * size_t(comp);
        int cell = (p[0] >> 4) << 8 | (p[1] >> 4) << 4 | (p[2] >> 4);
        cells[size_t(cell)]++;
        for (int ch = 0; ch < 3; ch++) {
            sums[size_t(cell)][size_t(ch)] += p[ch];
        }
    };
    for (int x = 0; x < w; x++) {
        add(x, 0);
        add(x, h - 1);
    }
    for (int y = 0; y < h; y++) {
        add(0, y);
        add(w - 1, y);
    }
    size_t best = size_t(std::max_element(cells.begin(), cells.end()) - cells.begin());
    for (size_t ch = 0; ch < 3; ch++) {
        out[ch] = float(sums[best][ch]) / float(cells[best]) / 255.0f;
    }
    out[3] = 1.0f;
}

void set_wrap(GLenum name, bool repeat)
{
    if (repeat) {
        gl.TexParameteri(GL_TEXTURE_2D, name, GL_REPEAT);
        return;
    }
    // GL_CLAMP is gone from core and ES contexts; the error it raises there
    // is cleared and the edge clamp used instead.
    gl.TexParameteri(GL_TEXTURE_2D, name, GLint(KRGL_CLAMP));
    while (gl.GetError() != GL_NO_ERROR) {
    }
    gl.TexParameteri(GL_TEXTURE_2D, name, GL_CLAMP_TO_EDGE);
}

// Replaces every level of the bound texture from a chain.
void upload_levels(const uint8_t *pixels, int w, int h, int comp, int levels, bool compressed, bool sub)
{
    GLenum format = pixel_format(comp);
    size_t offset = 0;
    for (int level = 0; level < levels; level++) {
        if (sub) {
            gl.TexSubImage2D(GL_TEXTURE_2D, level, 0, 0, w, h, format, GL_UNSIGNED_BYTE, pixels + offset);
        } else {
            gl.TexImage2D(GL_TEXTURE_2D, level, internal_format(comp, compressed), w, h, 0, format, GL_UNSIGNED_BYTE,
                          pixels + offset);
            uint32_t bytes = uint32_t(size_t(w) * size_t(h) * size_t(comp));
            GLint size = 0;
            if (compressed && krglGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_COMPRESSED_IMAGE_SIZE,
                                                         &size) &&
                size > 0) {
                bytes = uint32_t(size);
            }
            memory_used += bytes;
        }
        offset += size_t(w) * size_t(h) * size_t(comp);
        w = w > 1 ? w / 2 : 1;
        h = h > 1 ? h / 2 : 1;
    }
}

unsigned name_wrap_flags(const std::string &name)
{
    if (name.find("-repeat.") != std::string::npos) {
        return TEX_REPEAT_S | TEX_REPEAT_T;
    }
    if (name.find("-hrepeat.") != std::string::npos) {
        return TEX_REPEAT_S;
    }
    if (name.find("-vrepeat.") != std::string::npos) {
        return TEX_REPEAT_T;
    }
    return 0;
}

// The memory the GL texture took, from the counter around its creation.
GLuint create_counted(const uint8_t *px, int w, int h, int comp, unsigned flags, uint32_t *bytes)
{
    uint32_t before = memory_used;
    GLuint t = CreateTexture(px, w, h, comp, flags);
    *bytes = memory_used - before;
    return t;
}

GLuint load_animation(const std::string &name, const std::string &file, std::span<const uint8_t> data)
{
    anim_sequence seq;
    if (!decode_anim(data, file.c_str(), &seq)) {
        return 0;
    }
    const anim_frame &f = seq.frames[size_t(seq.sequence[0])];
    uint32_t bytes = 0;
    GLuint t = create_counted(f.pixels.data(), f.width, f.height, f.components, name_wrap_flags(name), &bytes);
    if (!t) {
        return 0;
    }
    textures.push_back(texture_record{t, generation, bytes, {}, false, name});
    anim_record a;
    a.texture = t;
    a.current = seq.sequence[0];
    a.seq = std::move(seq);
    animations.push_back(std::move(a));
    return t;
}

GLuint load_texture(const char *requested, int depth);

GLuint load_link(const std::string &name, std::span<const uint8_t> data, int depth)
{
    // The word "LINK", then the other name.
    size_t i = 0;
    while (i < data.size() && std::isspace(data[i])) {
        i++;
    }
    i += 4;
    while (i < data.size() && std::isspace(data[i])) {
        i++;
    }
    size_t n = std::min<size_t>(data.size() - std::min(i, data.size()), 1023);
    std::string target(reinterpret_cast<const char *>(data.data()) + std::min(i, data.size()), n);
    while (!target.empty() && std::isspace(static_cast<unsigned char>(target.back()))) {
        target.pop_back();
    }
    if (target.empty()) {
        return 0;
    }
    aliases.emplace_back(name, target);
    return load_texture(target.c_str(), depth + 1);
}

GLuint load_texture(const char *requested, int depth)
{
    if (!requested || !*requested || !krgl.ready) {
        return 0;
    }
    if (depth > MAX_LINK_DEPTH) {
        console_line("Too many links for texture '%.900s'", requested);
        return 0;
    }
    std::string name = requested;
    for (const auto &a : aliases) {
        if (a.first == name) {
            name = a.second;
            break;
        }
    }
    for (texture_record &r : textures) {
        if (r.name == name) {
            r.stamp = generation;
            return r.texture;
        }
    }
    for (texture_record &r : textures) {
        if (equal_ci(r.name, name.c_str())) {
            console_line("Warning: case mismatch on '%.900s'", name.c_str());
            r.stamp = generation;
            return r.texture;
        }
    }
    bool exempt = name[0] == '!';
    std::string file = exempt ? name.substr(1) : name;
    std::vector<uint8_t> data;
    if (!read_whole_file(file.c_str(), &data)) {
        if (render_verbosity() > 0) {
            console_line("Can't open texture \"%.900s\"", file.c_str());
        }
        return 0;
    }
    char word[16] = {};
    {
        size_t i = 0, n = 0;
        while (i < data.size() && std::isspace(data[i])) {
            i++;
        }
        while (i < data.size() && !std::isspace(data[i]) && n < 15) {
            word[n++] = char(data[i++]);
        }
    }
    if (std::strcmp(word, "LINK") == 0) {
        return load_link(name, data, depth);
    }
    if (std::strcmp(word, "ANIM1") == 0) {
        return load_animation(name, file, data);
    }
    kr_image img;
    if (!decode_any(data, file.c_str(), &img)) {
        return 0;
    }
    std::string side = file + ".info";
    std::vector<uint8_t> info;
    bool has_info = !img.info.empty();
    if (read_whole_file(side.c_str(), &info)) {
        img.info.append(reinterpret_cast<const char *>(info.data()), info.size());
        has_info = true;
    }
    build_mip_chain(&img, file.c_str());
    bool npot = image_resample_pow2(&img, file.c_str());

    int detail = exempt ? 0 : reduction_level;
    image_drop_levels(&img, detail_levels_to_drop(img.width, img.height, detail));
    int before_w = img.width, before_h = img.height;
    int automatic = automatic_levels_to_drop(img);
    if (automatic > 0) {
        image_drop_levels(&img, automatic);
        console_line("%.64s reduced to %dx%d (originally %dx%d)", name.c_str(), img.width, img.height, before_w,
                     before_h);
    }

    bool requested_compress = img.info.find("[compress]") != std::string::npos;
    bool compress = compress_mode == texture_compress::always ||
                    (compress_mode == texture_compress::yes && requested_compress);
    compress = compress && krgl.facts.major > 1 && !krgl.facts.es;
    unsigned flags = name_wrap_flags(name) | (compress ? TEX_COMPRESS : 0u);
    uint32_t bytes = 0;
    GLuint t = create_counted(img.pixels.data(), img.width, img.height, img.components, flags, &bytes);
    if (!t) {
        return 0;
    }
    textures.push_back(texture_record{t, generation, bytes, std::move(img.info), has_info, name});
    if (npot) {
        console_line("Warning: Non power of 2 texture '%.950s'", name.c_str());
    }
    return t;
}

} // namespace

void texture_set_reduction_level(int level) { reduction_level = std::clamp(level, 0, 10); }
void texture_set_compress(texture_compress mode) { compress_mode = mode; }

GLuint LoadTexture(const char *name) { return load_texture(name, 0); }

const char *TextureName(GLuint handle)
{
    const texture_record *r = find_record(handle);
    return r ? r->name.c_str() : nullptr;
}

const char *TextureInfo(GLuint handle)
{
    const texture_record *r = find_record(handle);
    return r && r->has_info ? r->info.c_str() : nullptr;
}

GLuint CreateTexture(const uint8_t *pixels, int width, int height, int components, unsigned flags)
{
    if (!krgl.ready || !pixels || width <= 0 || height <= 0 || components < 1 || components > 4) {
        return 0;
    }
    GLuint t = krglGenTexture();
    if (!t) {
        return 0;
    }
    gl.BindTexture(GL_TEXTURE_2D, t);
    gl.PixelStorei(GL_UNPACK_ALIGNMENT, 1);
    set_wrap(GL_TEXTURE_WRAP_S, flags & TEX_REPEAT_S);
    set_wrap(GL_TEXTURE_WRAP_T, flags & TEX_REPEAT_T);
    bool mipmaps = !(flags & TEX_NO_MIPMAPS);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, mipmaps ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
    if (gl.GetError() != GL_NO_ERROR) {
        gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, mipmaps ? GL_NEAREST_MIPMAP_NEAREST : GL_NEAREST);
    }
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    // Border colours exist on desktop GL only (ES before 3.2 lacks them).
    if (!krgl.facts.es && components >= 3) {
        float border[4] = {0, 0, 0, 0};
        if (components == 3) {
            border_colour(pixels, width, height, components, border);
        }
        gl.TexParameterfv(GL_TEXTURE_2D, GL_TEXTURE_BORDER_COLOR, border);
    }
    int levels = mipmaps ? mip_level_count(width, height) : 1;
    if (!mipmaps) {
        gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    }
    upload_levels(pixels, width, height, components, levels, (flags & TEX_COMPRESS) != 0, false);
    return t;
}

GLuint CreateTexture(const uint8_t *pixels, int width, int height, int components)
{
    return CreateTexture(pixels, width, height, components, 0);
}

const kr_image *LoadImageCached(const char *name)
{
    if (!name) {
        return nullptr;
    }
    for (auto &c : images) {
        if (c->name == name) {
            c->stamp = generation;
            return &c->image;
        }
    }
    auto c = std::make_unique<cached_image>();
    if (!image_read(name, &c->image)) {
        return nullptr;
    }
    c->name = name;
    c->stamp = generation;
    images.push_back(std::move(c));
    return &images.back()->image;
}

void texture_begin_track_load()
{
    generation++;
    memory_used = 0;
}

uint32_t texture_memory_used() { return memory_used; }
uint32_t texture_generation() { return generation; }

void DeleteStaleTextures(bool all)
{
    auto stale = [all](uint32_t stamp) { return all || (stamp != 0 && stamp != generation); };
    for (auto it = textures.begin(); it != textures.end();) {
        if (!stale(it->stamp)) {
            ++it;
            continue;
        }
        if (render_verbosity() > 0) {
            console_line("deleting tid %d (%.900s)", int(it->texture), it->name.c_str());
        }
        krglDeleteTexture(it->texture);
        it = textures.erase(it);
    }
    for (auto it = images.begin(); it != images.end();) {
        if (!stale((*it)->stamp)) {
            ++it;
            continue;
        }
        if (render_verbosity() > 0) {
            console_line("deleting image %.900s", (*it)->name.c_str());
        }
        it = images.erase(it);
    }
    for (size_t i = 0; i < animations.size();) {
        if (find_record(animations[i].texture)) {
            i++;
            continue;
        }
        if (render_verbosity() > 0) {
            console_line("deleting anim %d for tid %d", int(i), int(animations[i].texture));
        }
        animations.erase(animations.begin() + std::ptrdiff_t(i));
    }
    if (all) {
        aliases.clear();
    }
}

// ---------------------------------------------------------------- animations

int anim_frame_at(const anim_sequence &a, int start_tic, int tic)
{
    int q = int(a.sequence.size());
    if (q == 0) {
        return 0;
    }
    int64_t step = std::max<int64_t>(0, int64_t(tic) - start_tic) / std::max(1, a.tics_per_step);
    step = a.loop ? step % q : std::min<int64_t>(step, q - 1);
    return a.sequence[size_t(step)];
}

void AdvanceAnimations(int tic)
{
    for (anim_record &a : animations) {
        if (a.paused) {
            continue;
        }
        int f = anim_frame_at(a.seq, a.start_tic, tic);
        if (f == a.current) {
            continue;
        }
        a.current = f;
        const anim_frame &fr = a.seq.frames[size_t(f)];
        krglFlush();
        gl.BindTexture(GL_TEXTURE_2D, a.texture);
        upload_levels(fr.pixels.data(), fr.width, fr.height, fr.components, mip_level_count(fr.width, fr.height),
                      false, true);
    }
}

void restart_animation(GLuint texture, int start_tic)
{
    for (anim_record &a : animations) {
        if (a.texture == texture) {
            a.start_tic = start_tic;
            a.paused = false;
        }
    }
}

void pause_animation(GLuint texture)
{
    for (anim_record &a : animations) {
        if (a.texture == texture) {
            a.paused = true;
        }
    }
}

bool animation_frame(GLuint texture, int *frame, int *frames)
{
    for (const anim_record &a : animations) {
        if (a.texture == texture) {
            *frame = a.current;
            *frames = int(a.seq.frames.size());
            return true;
        }
    }
    return false;
}
