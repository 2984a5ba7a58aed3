// The krgl layer: a deferred command queue, immediate-mode primitives
// collected into one shared vertex batch, and CPU matrix stacks handed to the
// current program as uniforms right before each draw.
//
// Queued state changes and draws keep their order with respect to every
// direct GL call because each direct call flushes the queue first.
#include "platform/platform.h"
#include "render/render_local.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

krgl_state krgl;

namespace {

enum opcode : uint32_t {
    OP_ACTIVE_TEXTURE = 1,
    OP_BIND_TEXTURE = 2,
    OP_BLEND_FUNC = 3,
    OP_DEPTH_FUNC = 4,
    OP_DEPTH_MASK = 5,
    OP_DISABLE = 6,
    OP_DRAW_ARRAYS = 7,
    OP_DRAW_INDEXED = 8,
    OP_ENABLE = 9,
    OP_FRUSTUM = 10,
    OP_LOAD_MATRIX = 11,
    OP_LOAD_IDENTITY = 12,
    OP_MATRIX_MODE = 13,
    OP_MULT_MATRIX = 14,
    OP_ORTHO = 15,
    OP_POP_MATRIX = 16,
    OP_PUSH_MATRIX = 17,
    OP_ROTATE = 18,
    OP_SCALE = 19,
    OP_TRANSLATE = 20,
};

// Room an open primitive needs in the queue for its own draw entries.
constexpr size_t PRIMITIVE_RESERVE = 16;
constexpr size_t VERTEX_BYTES = KRGL_VERTEX_FLOATS * sizeof(float);

const char *const uniform_names[U_COUNT] = {
    "u_modelview",    "u_projection",     "u_texture0",  "u_texture1",      "u_texture2",      "u_texture3",
    "u_texture4",     "u_texture5",       "u_texture6",  "u_texture7",      "u_fog_color",     "u_fog_density",
    "u_ambient",      "u_diffuse",        "u_shininess", "u_specular_color", "u_light_position", "u_nbones",
    "u_bone_c",       "u_bone_t",         "u_bone_r",    "u_spacing",       "u_spacing_inv",   "u_meshoffset",
    "u_meshscale",    "u_texoffset",      "u_texscale",  "u_heights_dim_inv", "u_atlas_dim_inv", "u_tilemap_dim_inv",
    "u_envmat",
};

constexpr mat4 identity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

bool in_flush = false;

uint32_t fword(float f) { return std::bit_cast<uint32_t>(f); }
float wfloat(uint32_t w) { return std::bit_cast<float>(w); }

void push_words(std::initializer_list<uint32_t> words)
{
    if (krgl.queue.size() + words.size() > KRGL_QUEUE_WORDS) {
        krglFlush();
    }
    krgl.queue.insert(krgl.queue.end(), words);
}

void push_floats(uint32_t op, const float *f, int n)
{
    if (krgl.queue.size() + size_t(n) + 1 > KRGL_QUEUE_WORDS) {
        krglFlush();
    }
    krgl.queue.push_back(op);
    for (int i = 0; i < n; i++) {
        krgl.queue.push_back(fword(f[i]));
    }
}

// ---------------------------------------------------------------- matrices

mat4 multiply(const mat4 &a, const mat4 &b)
{
    mat4 r{};
    for (int c = 0; c < 4; c++) {
        for (int row = 0; row < 4; row++) {
            float s = 0;
            for (int k = 0; k < 4; k++) {
                s += a[size_t(k * 4 + row)] * b[size_t(c * 4 + k)];
            }
            r[size_t(c * 4 + row)] = s;
        }
    }
    return r;
}

mat4 &top() { return krgl.stacks[size_t(krgl.matrix_mode)][size_t(krgl.depth[size_t(krgl.matrix_mode)])]; }

void mark_dirty() { krgl.dirty |= 1u << krgl.matrix_mode; }

void exec_mult(const mat4 &m)
{
    top() = multiply(top(), m);
    mark_dirty();
}

void exec_load(const mat4 &m)
{
    top() = m;
    mark_dirty();
}

void exec_push()
{
    int &d = krgl.depth[size_t(krgl.matrix_mode)];
    if (d >= KRGL_STACK_DEPTH - 1) {
        velk_log("Error: krglPushMatrix overflowed\n");
        return;
    }
    krgl.stacks[size_t(krgl.matrix_mode)][size_t(d + 1)] = krgl.stacks[size_t(krgl.matrix_mode)][size_t(d)];
    d++;
    mark_dirty();
}

void exec_pop()
{
    int &d = krgl.depth[size_t(krgl.matrix_mode)];
    if (d <= 0) {
        velk_log("Error: krglPopMatrix with empty stack\n");
        return;
    }
    d--;
    mark_dirty();
}

mat4 translate_matrix(float x, float y, float z)
{
    mat4 m = identity;
    m[12] = x;
    m[13] = y;
    m[14] = z;
    return m;
}

mat4 scale_matrix(float x, float y, float z)
{
    mat4 m = identity;
    m[0] = x;
    m[5] = y;
    m[10] = z;
    return m;
}

mat4 rotate_matrix(float degrees, float x, float y, float z)
{
    float len = std::sqrt(x * x + y * y + z * z);
    if (len == 0) {
        return identity;
    }
    x /= len;
    y /= len;
    z /= len;
    float a = degrees * float(M_PI / 180.0);
    float c = std::cos(a), s = std::sin(a), t = 1 - c;
    return mat4{x * x * t + c,     y * x * t + z * s, x * z * t - y * s, 0,
                x * y * t - z * s, y * y * t + c,     y * z * t + x * s, 0,
                x * z * t + y * s, y * z * t - x * s, z * z * t + c,     0,
                0,                 0,                 0,                 1};
}

mat4 frustum_matrix(float l, float r, float b, float t, float n, float f)
{
    mat4 m{};
    m[0] = 2 * n / (r - l);
    m[5] = 2 * n / (t - b);
    m[8] = (r + l) / (r - l);
    m[9] = (t + b) / (t - b);
    m[10] = -(f + n) / (f - n);
    m[11] = -1;
    m[14] = -2 * f * n / (f - n);
    return m;
}

mat4 ortho_matrix(float l, float r, float b, float t, float n, float f)
{
    mat4 m = identity;
    m[0] = 2 / (r - l);
    m[5] = 2 / (t - b);
    m[10] = -2 / (f - n);
    m[12] = -(r + l) / (r - l);
    m[13] = -(t + b) / (t - b);
    m[14] = -(f + n) / (f - n);
    return m;
}

void exec_matrix_mode(GLenum mode)
{
    if (mode == KRGL_MODELVIEW) {
        krgl.matrix_mode = 0;
    } else if (mode == KRGL_PROJECTION) {
        krgl.matrix_mode = 1;
    } else if (mode == KRGL_TEXTURE) {
        krgl.matrix_mode = 2 + krgl.active_unit;
    }
}

void exec_active_texture(GLenum unit)
{
    uint32_t k = unit - GL_TEXTURE0;
    if (k > 7) {
        velk_log("Error: glActiveTexture out of range\n");
        return;
    }
    gl.ActiveTexture(unit);
    krgl.active_unit = int(k);
    if (krgl.matrix_mode >= 2) {
        krgl.matrix_mode = 2 + int(k);
    }
}

// ---------------------------------------------------------------- draws

// Uploads the current program's dirty matrices; a draw with no program is fatal.
void draw_check()
{
    if (krgl.current_program == 0) {
        krgl_fatal("Error: Fixed shader used\n");
    }
    for (int bit = 0; bit < KRGL_STACKS; bit++) {
        if (!(krgl.dirty & (1u << bit))) {
            continue;
        }
        GLint loc = krgl_uniform(uniform_id(bit));
        if (loc >= 0) {
            gl.UniformMatrix4fv(loc, 1, GL_FALSE, krgl.stacks[size_t(bit)][size_t(krgl.depth[size_t(bit)])].data());
        }
    }
    krgl.dirty = 0;
}

// Capabilities of the fixed pipeline that a shader context rejects.
bool fixed_function_cap(GLenum cap) { return cap == 0x0DE1 /* GL_TEXTURE_2D */ || cap == 0x0BC0 /* alpha test */; }

void execute_queue()
{
    const std::vector<uint32_t> &q = krgl.queue;
    size_t i = 0;
    auto f = [&](size_t k) { return wfloat(q[i + k]); };
    while (i < q.size()) {
        uint32_t op = q[i];
        switch (op) {
        case OP_ACTIVE_TEXTURE:
            exec_active_texture(q[i + 1]);
            i += 2;
            break;
        case OP_BIND_TEXTURE:
            gl.BindTexture(q[i + 1], q[i + 2]);
            i += 3;
            break;
        case OP_BLEND_FUNC:
            gl.BlendFunc(q[i + 1], q[i + 2]);
            i += 3;
            break;
        case OP_DEPTH_FUNC:
            gl.DepthFunc(q[i + 1]);
            i += 2;
            break;
        case OP_DEPTH_MASK:
            gl.DepthMask(GLboolean(q[i + 1] & 0xFF));
            i += 2;
            break;
        case OP_DISABLE:
            if (!fixed_function_cap(q[i + 1])) {
                gl.Disable(q[i + 1]);
            }
            i += 2;
            break;
        case OP_ENABLE:
            if (!fixed_function_cap(q[i + 1])) {
                gl.Enable(q[i + 1]);
            }
            i += 2;
            break;
        case OP_DRAW_ARRAYS:
            draw_check();
            gl.DrawArrays(q[i + 1], GLint(q[i + 2]), GLsizei(q[i + 3]));
            i += 4;
            break;
        case OP_DRAW_INDEXED: {
            draw_check();
            uint32_t first_index = q[i + 1], count = q[i + 2], first_vertex = q[i + 3], vertices = q[i + 4];
            gl.DrawRangeElements(GL_TRIANGLES, first_vertex, first_vertex + vertices - 1, GLsizei(count),
                                 GL_UNSIGNED_SHORT, reinterpret_cast<const void *>(size_t(first_index) * 2));
            i += 5;
            break;
        }
        case OP_FRUSTUM:
            exec_mult(frustum_matrix(f(1), f(2), f(3), f(4), f(5), f(6)));
            i += 7;
            break;
        case OP_ORTHO:
            exec_mult(ortho_matrix(f(1), f(2), f(3), f(4), f(5), f(6)));
            i += 7;
            break;
        case OP_LOAD_MATRIX:
        case OP_MULT_MATRIX: {
            mat4 m;
            for (size_t k = 0; k < 16; k++) {
                m[k] = f(1 + k);
            }
            if (op == OP_LOAD_MATRIX) {
                exec_load(m);
            } else {
                exec_mult(m);
            }
            i += 17;
            break;
        }
        case OP_LOAD_IDENTITY:
            exec_load(identity);
            i += 1;
            break;
        case OP_MATRIX_MODE:
            exec_matrix_mode(q[i + 1]);
            i += 2;
            break;
        case OP_POP_MATRIX:
            exec_pop();
            i += 1;
            break;
        case OP_PUSH_MATRIX:
            exec_push();
            i += 1;
            break;
        case OP_ROTATE:
            exec_mult(rotate_matrix(f(1), f(2), f(3), f(4)));
            i += 5;
            break;
        case OP_SCALE:
            exec_mult(scale_matrix(f(1), f(2), f(3)));
            i += 4;
            break;
        case OP_TRANSLATE:
            exec_mult(translate_matrix(f(1), f(2), f(3)));
            i += 4;
            break;
        default:
            krgl_fatal("Invalid GL command queued\n");
        }
    }
}

// ---------------------------------------------------------------- immediate mode

// Queues the draw of a primitive of `count` batch vertices from `first`.
void queue_primitive(GLenum mode, int first, int count)
{
    auto add_triangle = [](int a, int b, int c) {
        krgl.indices[size_t(krgl.index_count++)] = uint16_t(a);
        krgl.indices[size_t(krgl.index_count++)] = uint16_t(b);
        krgl.indices[size_t(krgl.index_count++)] = uint16_t(c);
    };
    int first_index = krgl.index_count;
    int used = 0;
    switch (mode) {
    case KRGL_QUADS:
        used = count / 4 * 4;
        for (int q = 0; q + 3 < used; q += 4) {
            int a = first + q, b = a + 1, c = a + 2, d = a + 3;
            add_triangle(a, b, d);
            add_triangle(d, b, c);
        }
        break;
    case KRGL_QUAD_STRIP:
        used = count & ~1;
        if (used < 4) {
            return;
        }
        for (int i = 0; i + 2 < used; i++) {
            if (i % 2 == 0) {
                add_triangle(first + i, first + i + 1, first + i + 2);
            } else {
                add_triangle(first + i, first + i + 2, first + i + 1);
            }
        }
        break;
    case KRGL_POLYGON:
        used = count;
        if (used < 3) {
            return;
        }
        for (int i = 2; i < used; i++) {
            add_triangle(first, first + i - 1, first + i);
        }
        break;
    default:
        if (count > 0) {
            push_words({OP_DRAW_ARRAYS, uint32_t(mode), uint32_t(first), uint32_t(count)});
        }
        return;
    }
    int n = krgl.index_count - first_index;
    if (n > 0) {
        push_words({OP_DRAW_INDEXED, uint32_t(first_index), uint32_t(n), uint32_t(first), uint32_t(used)});
    }
}

float *vertex_at(int i) { return &krgl.vertices[size_t(i) * KRGL_VERTEX_FLOATS]; }

// The batch is full in the middle of a primitive: draw what is there and
// carry the vertices the rest of the primitive still needs to the start of
// the emptied batch.
void cut_primitive()
{
    int first = krgl.prim_start;
    int n = krgl.vertex_count - first;
    int carry[3];
    int carried = 0;
    auto carry_last = [&](int k) {
        for (int i = n - k; i < n; i++) {
            carry[carried++] = first + i;
        }
    };
    GLenum mode = krgl.prim_mode;
    switch (mode) {
    case GL_POINTS:
        queue_primitive(mode, first, n);
        break;
    case GL_LINES:
    case GL_TRIANGLES:
    case KRGL_QUADS: {
        // Unfinished elements move on whole; a primitive need not start at a
        // multiple of its element size in the shared batch.
        int size = mode == GL_LINES ? 2 : mode == GL_TRIANGLES ? 3 : 4;
        queue_primitive(mode, first, n - n % size);
        carry_last(n % size);
        break;
    }
    case GL_LINE_LOOP:
        krgl.loop_cut = true;
        [[fallthrough]];
    case GL_LINE_STRIP:
        if (n >= 2) {
            queue_primitive(GL_LINE_STRIP, first, n);
        }
        carry_last(n >= 1 ? 1 : 0);
        break;
    case GL_TRIANGLE_STRIP:
        if (n < 3) {
            carry_last(n);
        } else {
            queue_primitive(mode, first, n);
            if ((n - 2) % 2 == 0) {
                carry_last(2);
            } else {
                // The next triangle is an odd one: a degenerate lead keeps
                // its winding.
                carry[carried++] = first + n - 2;
                carry_last(2);
            }
        }
        break;
    case GL_TRIANGLE_FAN:
    case KRGL_POLYGON:
        if (n < 3) {
            carry_last(n);
        } else {
            queue_primitive(mode, first, n);
            carry[carried++] = first;
            carry[carried++] = first + n - 1;
        }
        break;
    case KRGL_QUAD_STRIP:
        if (n < 4) {
            carry_last(n);
        } else {
            queue_primitive(mode, first, n);
            carry_last(n % 2 == 0 ? 2 : 3);
        }
        break;
    default:
        break;
    }
    float saved[3][KRGL_VERTEX_FLOATS];
    for (int i = 0; i < carried; i++) {
        std::memcpy(saved[i], vertex_at(carry[i]), VERTEX_BYTES);
    }
    krglFlush();
    for (int i = 0; i < carried; i++) {
        std::memcpy(vertex_at(i), saved[i], VERTEX_BYTES);
    }
    krgl.vertex_count = carried;
    krgl.prim_start = 0;
}

void emit_vertex(const float *v)
{
    if (!krgl.in_primitive) {
        return;
    }
    if (krgl.vertex_count >= KRGL_BATCH_VERTICES) {
        cut_primitive();
    }
    if (krgl.prim_mode == GL_LINE_LOOP && !krgl.loop_cut && krgl.vertex_count == krgl.prim_start) {
        std::memcpy(krgl.loop_first.data(), v, VERTEX_BYTES);
    }
    std::memcpy(vertex_at(krgl.vertex_count), v, VERTEX_BYTES);
    krgl.vertex_count++;
}

void make_default_texture(GLuint *name, uint8_t r, uint8_t g, uint8_t b, uint8_t a)
{
    uint8_t px[4] = {r, g, b, a};
    *name = CreateTexture(px, 1, 1, 4, TEX_NO_MIPMAPS);
}

} // namespace

// ---------------------------------------------------------------- shared helpers

void krgl_fatal(const char *message)
{
    velk_log("%s", message);
    velk_error(message);
    std::fputs(message, stderr);
    std::exit(1);
}

GLint krgl_uniform(uniform_id id)
{
    krgl_program_slot &p = krgl.programs[size_t(krgl.current_program)];
    if (p.program == 0) {
        return -1;
    }
    GLint &loc = p.location[size_t(id)];
    if (loc == -2) {
        loc = gl.GetUniformLocation(p.program, uniform_names[id]);
    }
    return loc;
}

void krgl_reset_state()
{
    for (int s = 0; s < KRGL_STACKS; s++) {
        krgl.stacks[size_t(s)][0] = identity;
        krgl.depth[size_t(s)] = 0;
    }
    krgl.matrix_mode = 0;
    krgl.active_unit = 0;
    krgl.dirty = (1u << KRGL_STACKS) - 1;
    krgl.queue.clear();
    krgl.queue.reserve(KRGL_QUEUE_WORDS);
    krgl.vertices.assign(size_t(KRGL_BATCH_VERTICES) * KRGL_VERTEX_FLOATS, 0.0f);
    krgl.indices.assign(KRGL_BATCH_INDICES, 0);
    krgl.vertex_count = 0;
    krgl.index_count = 0;
    krgl.in_primitive = false;
    krgl.loop_cut = false;
    krgl.texcoord = {0, 0, 0, 1};
    krgl.color = {1, 1, 1, 1};
    for (krgl_program_slot &p : krgl.programs) {
        p.location.fill(-2);
    }
}

const mat4 &krgl_top(int stack) { return krgl.stacks[size_t(stack)][size_t(krgl.depth[size_t(stack)])]; }

int krgl_depth(int stack) { return krgl.depth[size_t(stack)]; }

void krgl_make_buffers()
{
    if (krgl.buffers_made) {
        return;
    }
    krgl.buffers_made = true;
    gl.GenVertexArrays(1, &krgl.vao);
    gl.BindVertexArray(krgl.vao);
    gl.GenBuffers(1, &krgl.vbo);
    gl.BindBuffer(GL_ARRAY_BUFFER, krgl.vbo);
    gl.BufferData(GL_ARRAY_BUFFER, GLsizeiptr(KRGL_BATCH_VERTICES * VERTEX_BYTES), nullptr, GL_STREAM_DRAW);
    const struct {
        GLuint attr;
        size_t offset;
    } attrs[] = {{ATTR_POSITION, 0}, {ATTR_TEXCOORD, 16}, {ATTR_COLOR, 32}};
    for (const auto &a : attrs) {
        gl.VertexAttribPointer(a.attr, 4, GL_FLOAT, GL_FALSE, GLsizei(VERTEX_BYTES),
                               reinterpret_cast<const void *>(a.offset));
        gl.EnableVertexAttribArray(a.attr);
    }
    gl.GenBuffers(1, &krgl.ebo);
    gl.BindBuffer(GL_ELEMENT_ARRAY_BUFFER, krgl.ebo);
    gl.BufferData(GL_ELEMENT_ARRAY_BUFFER, KRGL_BATCH_INDICES * 2, nullptr, GL_STREAM_DRAW);
    gl.BindVertexArray(0);
    gl.BindBuffer(GL_ARRAY_BUFFER, 0);
}

// ---------------------------------------------------------------- start-up

namespace {

std::string gl_text(GLenum name)
{
    const GLubyte *s = gl.GetString ? gl.GetString(name) : nullptr;
    return s ? std::string(reinterpret_cast<const char *>(s)) : std::string();
}

} // namespace

void krgl_read_facts()
{
    gl_facts &f = krgl.facts;
    f = gl_facts{};
    f.vendor = gl_text(GL_VENDOR);
    f.renderer = gl_text(GL_RENDERER);
    f.version = gl_text(GL_VERSION);
    f.extensions = gl_text(GL_EXTENSIONS);
    if (gl.GetError) {
        while (gl.GetError() != GL_NO_ERROR) {
        }
    }
    // Core profiles list extensions one by one only.
    if (f.extensions.empty() && gl.GetStringi && gl.GetIntegerv) {
        GLint n = 0;
        gl.GetIntegerv(GL_NUM_EXTENSIONS, &n);
        for (GLint i = 0; i < n; i++) {
            const GLubyte *e = gl.GetStringi(GL_EXTENSIONS, GLuint(i));
            if (e) {
                if (!f.extensions.empty()) {
                    f.extensions += ' ';
                }
                f.extensions += reinterpret_cast<const char *>(e);
            }
        }
    }
    if (std::sscanf(f.version.c_str(), "OpenGL ES %d.%d", &f.major, &f.minor) == 2) {
        f.es = true;
    } else if (std::sscanf(f.version.c_str(), "%d.%d", &f.major, &f.minor) != 2) {
        f.major = f.minor = 0;
    }
    for (std::string *s : {&f.vendor, &f.renderer, &f.version, &f.extensions}) {
        if (s->empty()) {
            *s = "NULL";
        }
    }
}

bool krglInit()
{
    bool loaded = gl_load_functions(velk_gl_proc);
    krgl_read_facts();
    krgl_reset_state();
    krgl.current_program = 0;
    krgl.stats = render_stats{};
    if (!loaded) {
        return false;
    }
    krgl.ready = true;
    krgl.buffers_made = false;  // a new context has none of them
    if (krgl.facts.major > 2) {
        krgl_make_buffers();
    }
    make_default_texture(&krgl.white, 255, 255, 255, 255);
    make_default_texture(&krgl.black, 0, 0, 0, 255);
    make_default_texture(&krgl.flat_normal, 128, 128, 255, 255);
    return true;
}

const gl_facts &krgl_facts() { return krgl.facts; }

void krglShutdown()
{
    if (!krgl.ready) {
        return;
    }
    krglFlush();
    krglDeletePrograms();
    for (GLuint *t : {&krgl.white, &krgl.black, &krgl.flat_normal}) {
        if (*t) {
            gl.DeleteTextures(1, t);
            *t = 0;
        }
    }
    if (krgl.buffers_made) {
        gl.DeleteBuffers(1, &krgl.vbo);
        gl.DeleteBuffers(1, &krgl.ebo);
        gl.DeleteVertexArrays(1, &krgl.vao);
        krgl.buffers_made = false;
    }
    krgl.ready = false;
}

void krgl_set_no_vertex_arrays(bool on) { krgl.no_vertex_arrays = on; }
bool krgl_no_vertex_arrays() { return krgl.no_vertex_arrays; }
GLuint krgl_white_texture() { return krgl.white; }
GLuint krgl_black_texture() { return krgl.black; }
GLuint krgl_flat_normal_texture() { return krgl.flat_normal; }

// ---------------------------------------------------------------- flush

void krglFlush()
{
    if (in_flush) {
        return;
    }
    if (!krgl.ready) {
        // Nothing to draw into: forget the work rather than pile it up.
        krgl.queue.clear();
        krgl.vertex_count = 0;
        krgl.index_count = 0;
        return;
    }
    in_flush = true;
    GLint old_vao = 0, old_buffer = 0;
    bool uploaded = false;
    if (krgl.vertex_count > 0 && krgl.buffers_made) {
        gl.GetIntegerv(GL_VERTEX_ARRAY_BINDING, &old_vao);
        gl.GetIntegerv(GL_ARRAY_BUFFER_BINDING, &old_buffer);
        gl.BindVertexArray(krgl.vao);
        gl.BindBuffer(GL_ARRAY_BUFFER, krgl.vbo);
        gl.BindBuffer(GL_ELEMENT_ARRAY_BUFFER, krgl.ebo);
        // Orphan the buffers so the driver need not wait for earlier draws.
        gl.BufferData(GL_ARRAY_BUFFER, GLsizeiptr(KRGL_BATCH_VERTICES * VERTEX_BYTES), nullptr, GL_STREAM_DRAW);
        gl.BufferData(GL_ELEMENT_ARRAY_BUFFER, KRGL_BATCH_INDICES * 2, nullptr, GL_STREAM_DRAW);
        gl.BufferSubData(GL_ARRAY_BUFFER, 0, GLsizeiptr(size_t(krgl.vertex_count) * VERTEX_BYTES),
                         krgl.vertices.data());
        if (krgl.index_count > 0) {
            gl.BufferSubData(GL_ELEMENT_ARRAY_BUFFER, 0, GLsizeiptr(krgl.index_count) * 2, krgl.indices.data());
        }
        uploaded = true;
    }
    execute_queue();
    if (uploaded) {
        gl.BindVertexArray(GLuint(old_vao));
        gl.BindBuffer(GL_ARRAY_BUFFER, GLuint(old_buffer));
    }
    krgl.vertex_count = 0;
    krgl.index_count = 0;
    krgl.queue.clear();
    in_flush = false;
}

// ---------------------------------------------------------------- queued operations

void krglActiveTexture(GLenum unit) { push_words({OP_ACTIVE_TEXTURE, unit}); }
void krglBindTexture(GLenum target, GLuint texture) { push_words({OP_BIND_TEXTURE, target, texture}); }
void krglBlendFunc(GLenum s, GLenum d) { push_words({OP_BLEND_FUNC, s, d}); }
void krglDepthFunc(GLenum func) { push_words({OP_DEPTH_FUNC, func}); }
void krglDepthMask(bool flag) { push_words({OP_DEPTH_MASK, flag ? 1u : 0u}); }
void krglDisable(GLenum cap) { push_words({OP_DISABLE, cap}); }
void krglEnable(GLenum cap) { push_words({OP_ENABLE, cap}); }
void krglMatrixMode(GLenum mode) { push_words({OP_MATRIX_MODE, mode}); }
void krglLoadIdentity() { push_words({OP_LOAD_IDENTITY}); }
void krglLoadMatrix(const float m[16]) { push_floats(OP_LOAD_MATRIX, m, 16); }
void krglMultMatrix(const float m[16]) { push_floats(OP_MULT_MATRIX, m, 16); }
void krglTranslate(float x, float y, float z)
{
    float v[3] = {x, y, z};
    push_floats(OP_TRANSLATE, v, 3);
}
void krglRotate(float degrees, float x, float y, float z)
{
    float v[4] = {degrees, x, y, z};
    push_floats(OP_ROTATE, v, 4);
}
void krglScale(float x, float y, float z)
{
    float v[3] = {x, y, z};
    push_floats(OP_SCALE, v, 3);
}
void krglFrustum(float l, float r, float b, float t, float n, float f)
{
    float v[6] = {l, r, b, t, n, f};
    push_floats(OP_FRUSTUM, v, 6);
}
void krglOrtho(float l, float r, float b, float t, float n, float f)
{
    float v[6] = {l, r, b, t, n, f};
    push_floats(OP_ORTHO, v, 6);
}
void krglPushMatrix() { push_words({OP_PUSH_MATRIX}); }
void krglPopMatrix() { push_words({OP_POP_MATRIX}); }

// ---------------------------------------------------------------- immediate mode

void krglBegin(GLenum mode)
{
    if (!krgl.ready) {
        return;
    }
    if (krgl.queue.size() + PRIMITIVE_RESERVE > KRGL_QUEUE_WORDS) {
        krglFlush();
    }
    if (!krgl.buffers_made) {
        krgl_make_buffers();
    }
    krgl.in_primitive = true;
    krgl.prim_mode = mode;
    krgl.prim_start = krgl.vertex_count;
    krgl.loop_cut = false;
}

void krglVertex(float x, float y) { krglVertex(x, y, 0.0f); }

void krglVertex(float x, float y, float z)
{
    float v[KRGL_VERTEX_FLOATS] = {x, y, z, 1};
    std::memcpy(v + 4, krgl.texcoord.data(), 16);
    std::memcpy(v + 8, krgl.color.data(), 16);
    emit_vertex(v);
}

void krglTexCoord(float s, float t) { krgl.texcoord = {s, t, 0, 1}; }
void krglTexCoord(float s, float t, float r, float q) { krgl.texcoord = {s, t, r, q}; }
void krglColor(float r, float g, float b) { krgl.color = {r, g, b, 1}; }
void krglColor(float r, float g, float b, float a) { krgl.color = {r, g, b, a}; }

void krglEnd()
{
    if (!krgl.in_primitive) {
        return;
    }
    if (krgl.prim_mode == GL_LINE_LOOP && krgl.loop_cut) {
        // The loop was split across batches: close it by hand.
        float first[KRGL_VERTEX_FLOATS];
        std::memcpy(first, krgl.loop_first.data(), VERTEX_BYTES);
        emit_vertex(first);
        queue_primitive(GL_LINE_STRIP, krgl.prim_start, krgl.vertex_count - krgl.prim_start);
    } else {
        queue_primitive(krgl.prim_mode, krgl.prim_start, krgl.vertex_count - krgl.prim_start);
    }
    krgl.in_primitive = false;
}

// ---------------------------------------------------------------- flushing operations

// Every direct call flushes first; without a context they do nothing, so
// code that draws can run in a program or test that has no window.
bool flush_for_direct_call()
{
    if (!krgl.ready) {
        return false;
    }
    krglFlush();
    return true;
}

void krglClear(GLbitfield mask)
{
    if (!flush_for_direct_call()) {
        return;
    }
    gl.Clear(mask);
}
void krglClearColor(float r, float g, float b, float a)
{
    if (!flush_for_direct_call()) {
        return;
    }
    gl.ClearColor(r, g, b, a);
}
void krglViewport(int x, int y, int width, int height)
{
    if (!flush_for_direct_call()) {
        return;
    }
    gl.Viewport(x, y, width, height);
}
void krglCullFace(GLenum mode)
{
    if (!flush_for_direct_call()) {
        return;
    }
    gl.CullFace(mode);
}
GLuint krglGenTexture()
{
    if (!flush_for_direct_call()) {
        return 0;
    }
    GLuint t = 0;
    gl.GenTextures(1, &t);
    return t;
}
void krglDeleteTexture(GLuint texture)
{
    if (!flush_for_direct_call()) {
        return;
    }
    gl.DeleteTextures(1, &texture);
}
void krglTexImage2D(GLenum target, int level, GLint internal_format, int width, int height, GLenum format,
                    GLenum type, const void *pixels)
{
    if (!flush_for_direct_call()) {
        return;
    }
    gl.TexImage2D(target, level, internal_format, width, height, 0, format, type, pixels);
}
void krglTexSubImage2D(GLenum target, int level, int x, int y, int width, int height, GLenum format, GLenum type,
                       const void *pixels)
{
    if (!flush_for_direct_call()) {
        return;
    }
    gl.TexSubImage2D(target, level, x, y, width, height, format, type, pixels);
}
void krglTexParameteri(GLenum target, GLenum name, GLint value)
{
    if (!flush_for_direct_call()) {
        return;
    }
    gl.TexParameteri(target, name, value);
}
void krglTexParameterfv(GLenum target, GLenum name, const float *values)
{
    if (!flush_for_direct_call()) {
        return;
    }
    gl.TexParameterfv(target, name, values);
}
void krglPixelStorei(GLenum name, GLint value)
{
    if (!flush_for_direct_call()) {
        return;
    }
    gl.PixelStorei(name, value);
}
bool krglGetTexLevelParameteriv(GLenum target, int level, GLenum name, GLint *value)
{
    if (!flush_for_direct_call()) {
        return false;
    }
    if (!gl.GetTexLevelParameteriv || (krgl.facts.es && (krgl.facts.major * 10 + krgl.facts.minor) < 31)) {
        return false;
    }
    gl.GetTexLevelParameteriv(target, level, name, value);
    return true;
}
void krglGenerateMipmap(GLenum target)
{
    if (!flush_for_direct_call()) {
        return;
    }
    gl.GenerateMipmap(target);
}
void krglReadPixels(int x, int y, int width, int height, GLenum format, GLenum type, void *pixels)
{
    if (!flush_for_direct_call()) {
        return;
    }
    gl.ReadPixels(x, y, width, height, format, type, pixels);
}
GLenum krglGetError()
{
    if (!flush_for_direct_call()) {
        return 0;
    }
    return gl.GetError();
}
void krglFinish()
{
    if (!flush_for_direct_call()) {
        return;
    }
    gl.Finish();
}
GLuint krglGenFramebuffer()
{
    if (!flush_for_direct_call()) {
        return 0;
    }
    GLuint f = 0;
    gl.GenFramebuffers(1, &f);
    return f;
}
void krglBindFramebuffer(GLenum target, GLuint framebuffer)
{
    if (!flush_for_direct_call()) {
        return;
    }
    gl.BindFramebuffer(target, framebuffer);
}
void krglFramebufferTexture2D(GLenum target, GLenum attachment, GLenum textarget, GLuint texture, int level)
{
    if (!flush_for_direct_call()) {
        return;
    }
    gl.FramebufferTexture2D(target, attachment, textarget, texture, level);
}
GLenum krglCheckFramebufferStatus(GLenum target)
{
    if (!flush_for_direct_call()) {
        return 0;
    }
    return gl.CheckFramebufferStatus(target);
}
void krglDeleteFramebuffer(GLuint framebuffer)
{
    if (!flush_for_direct_call()) {
        return;
    }
    gl.DeleteFramebuffers(1, &framebuffer);
}
GLuint krglGenBuffer()
{
    if (!flush_for_direct_call()) {
        return 0;
    }
    GLuint b = 0;
    gl.GenBuffers(1, &b);
    return b;
}
void krglBindBuffer(GLenum target, GLuint buffer)
{
    if (!flush_for_direct_call()) {
        return;
    }
    gl.BindBuffer(target, buffer);
}
void krglBufferData(GLenum target, size_t size, const void *data, GLenum usage)
{
    if (!flush_for_direct_call()) {
        return;
    }
    gl.BufferData(target, GLsizeiptr(size), data, usage);
}
void krglBufferSubData(GLenum target, size_t offset, size_t size, const void *data)
{
    if (!flush_for_direct_call()) {
        return;
    }
    gl.BufferSubData(target, GLintptr(offset), GLsizeiptr(size), data);
}
void krglDeleteBuffer(GLuint buffer)
{
    if (!flush_for_direct_call()) {
        return;
    }
    gl.DeleteBuffers(1, &buffer);
}
GLuint krglGenVertexArray()
{
    if (!flush_for_direct_call()) {
        return 0;
    }
    GLuint a = 0;
    gl.GenVertexArrays(1, &a);
    return a;
}
void krglBindVertexArray(GLuint array)
{
    if (!flush_for_direct_call()) {
        return;
    }
    gl.BindVertexArray(array);
}
void krglDeleteVertexArray(GLuint array)
{
    if (!flush_for_direct_call()) {
        return;
    }
    gl.DeleteVertexArrays(1, &array);
}
void krglVertexAttribPointer(GLuint index, int size, GLenum type, bool normalized, int stride, size_t offset)
{
    if (!flush_for_direct_call()) {
        return;
    }
    gl.VertexAttribPointer(index, size, type, normalized ? GL_TRUE : GL_FALSE, stride,
                           reinterpret_cast<const void *>(offset));
}
void krglEnableVertexAttribArray(GLuint index)
{
    if (!flush_for_direct_call()) {
        return;
    }
    gl.EnableVertexAttribArray(index);
}
void krglDisableVertexAttribArray(GLuint index)
{
    if (!flush_for_direct_call()) {
        return;
    }
    gl.DisableVertexAttribArray(index);
}
void krglVertexAttrib4f(GLuint index, float x, float y, float z, float w)
{
    if (!flush_for_direct_call()) {
        return;
    }
    gl.VertexAttrib4f(index, x, y, z, w);
}
void krglDrawArrays(GLenum mode, int first, int count)
{
    if (!flush_for_direct_call()) {
        return;
    }
    draw_check();
    gl.DrawArrays(mode, first, count);
}
void krglDrawElements(GLenum mode, int count, GLenum type, size_t offset)
{
    if (!flush_for_direct_call()) {
        return;
    }
    draw_check();
    gl.DrawElements(mode, count, type, reinterpret_cast<const void *>(offset));
}
void krglDrawRangeElements(GLenum mode, GLuint start, GLuint end, int count, GLenum type, size_t offset)
{
    if (!flush_for_direct_call()) {
        return;
    }
    draw_check();
    gl.DrawRangeElements(mode, start, end, count, type, reinterpret_cast<const void *>(offset));
}

// ---------------------------------------------------------------- programs and uniforms

void krglUseProgram(int index)
{
    if (!krgl.ready || index < 0 || index >= KRGL_PROGRAMS || index == krgl.current_program) {
        return;
    }
    krglFlush();
    krgl.current_program = index;
    krgl.dirty = (1u << KRGL_STACKS) - 1;
    gl.UseProgram(krgl.programs[size_t(index)].program);
    krgl.stats.shader_changes.count++;
}

int krgl_current_program() { return krgl.current_program; }

GLuint krgl_program_name(int index)
{
    return index >= 1 && index < KRGL_PROGRAMS ? krgl.programs[size_t(index)].program : 0;
}

namespace {

// Flushes, then the location in the current program (-1: skip).
GLint uniform_for_set(uniform_id id)
{
    krglFlush();
    if (!krgl.ready || krgl.current_program == 0) {
        return -1;
    }
    return krgl_uniform(id);
}

void set1f(uniform_id id, float v)
{
    GLint loc = uniform_for_set(id);
    if (loc >= 0) {
        gl.Uniform1f(loc, v);
    }
}

void set2f(uniform_id id, float x, float y)
{
    GLint loc = uniform_for_set(id);
    float v[2] = {x, y};
    if (loc >= 0) {
        gl.Uniform2fv(loc, 1, v);
    }
}

void set3fv(uniform_id id, const float *v)
{
    GLint loc = uniform_for_set(id);
    if (loc >= 0) {
        gl.Uniform3fv(loc, 1, v);
    }
}

} // namespace

void krglFog(const float color[3], float density)
{
    set3fv(U_FOG_COLOR, color);
    set1f(U_FOG_DENSITY, density);
}

void krglAmbient(const float rgba[4])
{
    GLint loc = uniform_for_set(U_AMBIENT);
    if (loc >= 0) {
        gl.Uniform4fv(loc, 1, rgba);
    }
}

void krglDiffuse(const float rgb[3]) { set3fv(U_DIFFUSE, rgb); }
void krglShininess(float s) { set1f(U_SHININESS, s); }
void krglSpecularColor(const float rgb[3]) { set3fv(U_SPECULAR_COLOR, rgb); }
void krglLightPosition(const float xyz[3]) { set3fv(U_LIGHT_POSITION, xyz); }

void krglBones(int count, const float *centres, const float *translations, const float *rotations)
{
    krglFlush();
    if (!krgl.ready || krgl.current_program < 1 || krgl.current_program > 6) {
        return;
    }
    // The programs hold 32 bones.
    count = count < 0 ? 0 : count > 32 ? 32 : count;
    GLint loc = krgl_uniform(U_NBONES);
    if (loc >= 0) {
        gl.Uniform1i(loc, count);
    }
    if (count <= 0) {
        return;
    }
    if ((loc = krgl_uniform(U_BONE_C)) >= 0) {
        gl.Uniform3fv(loc, count, centres);
    }
    if ((loc = krgl_uniform(U_BONE_T)) >= 0) {
        gl.Uniform3fv(loc, count, translations);
    }
    if ((loc = krgl_uniform(U_BONE_R)) >= 0) {
        gl.UniformMatrix3fv(loc, count, GL_FALSE, rotations);
    }
}

void krglTerrainSpacing(float spacing)
{
    set1f(U_SPACING, spacing);
    set1f(U_SPACING_INV, 1.0f / spacing);
}

void krglMeshOffset(float x, float y, float scale)
{
    set2f(U_MESHOFFSET, x, y);
    set1f(U_MESHSCALE, scale);
}

void krglTexOffset(float x, float y, float scale)
{
    set2f(U_TEXOFFSET, x, y);
    set1f(U_TEXSCALE, scale);
}

void krglHeightsDimInv(float v) { set1f(U_HEIGHTS_DIM_INV, v); }

void krglTilemapSizes(float spacing_inv, float atlas_dim_inv, float tilemap_dim_inv)
{
    set1f(U_SPACING_INV, spacing_inv);
    set1f(U_ATLAS_DIM_INV, atlas_dim_inv);
    set1f(U_TILEMAP_DIM_INV, tilemap_dim_inv);
}

void krglEnvMatrix(const float rows[9])
{
    krglUseProgram(KRGL_NORM_ENV);
    GLint loc = uniform_for_set(U_ENVMAT);
    if (loc >= 0) {
        // Row order in, column order for GL.
        gl.UniformMatrix3fv(loc, 1, GL_TRUE, rows);
    }
    krglUseProgram(KRGL_UNLIT);
}

// ---------------------------------------------------------------- statistics

render_stats &krgl_stats() { return krgl.stats; }

void krgl_stats_new_frame()
{
    for (render_counter *c : {&krgl.stats.ground_polygons, &krgl.stats.model_polygons, &krgl.stats.billboards,
                              &krgl.stats.decals, &krgl.stats.texture_changes, &krgl.stats.shader_changes}) {
        if (c->count > c->max) {
            c->max = c->count;
        }
        c->count = 0;
    }
}
