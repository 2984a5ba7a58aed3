// render_local.h -- private to render/: the GL entry-point table, the layer's
// state shared by its files, and the helpers between images and textures.
#pragma once

#include "render/render.h"

#include <array>
#include <cstdarg>

// ---------------------------------------------------------------- GL entry points

// Every GL function the program calls, loaded by name. Tests may fill the
// table with their own functions to watch what the layer does.
#define KRGL_FUNCTIONS(X)                                                                                         \
    X(PFNGLGETSTRINGPROC, GetString)                                                                              \
    X(PFNGLGETSTRINGIPROC, GetStringi)                                                                            \
    X(PFNGLGETERRORPROC, GetError)                                                                                \
    X(PFNGLGETINTEGERVPROC, GetIntegerv)                                                                          \
    X(PFNGLCLEARPROC, Clear)                                                                                      \
    X(PFNGLCLEARCOLORPROC, ClearColor)                                                                            \
    X(PFNGLVIEWPORTPROC, Viewport)                                                                                \
    X(PFNGLCULLFACEPROC, CullFace)                                                                                \
    X(PFNGLENABLEPROC, Enable)                                                                                    \
    X(PFNGLDISABLEPROC, Disable)                                                                                  \
    X(PFNGLBLENDFUNCPROC, BlendFunc)                                                                              \
    X(PFNGLDEPTHFUNCPROC, DepthFunc)                                                                              \
    X(PFNGLDEPTHMASKPROC, DepthMask)                                                                              \
    X(PFNGLGENTEXTURESPROC, GenTextures)                                                                          \
    X(PFNGLDELETETEXTURESPROC, DeleteTextures)                                                                    \
    X(PFNGLBINDTEXTUREPROC, BindTexture)                                                                          \
    X(PFNGLTEXIMAGE2DPROC, TexImage2D)                                                                            \
    X(PFNGLTEXSUBIMAGE2DPROC, TexSubImage2D)                                                                      \
    X(PFNGLTEXPARAMETERIPROC, TexParameteri)                                                                      \
    X(PFNGLTEXPARAMETERFVPROC, TexParameterfv)                                                                    \
    X(PFNGLPIXELSTOREIPROC, PixelStorei)                                                                          \
    X(PFNGLREADPIXELSPROC, ReadPixels)                                                                            \
    X(PFNGLFLUSHPROC, Flush)                                                                                      \
    X(PFNGLFINISHPROC, Finish)                                                                                    \
    X(PFNGLDRAWARRAYSPROC, DrawArrays)                                                                            \
    X(PFNGLDRAWELEMENTSPROC, DrawElements)                                                                        \
    X(PFNGLDRAWRANGEELEMENTSPROC, DrawRangeElements)                                                              \
    X(PFNGLACTIVETEXTUREPROC, ActiveTexture)                                                                      \
    X(PFNGLATTACHSHADERPROC, AttachShader)                                                                        \
    X(PFNGLBINDFRAMEBUFFERPROC, BindFramebuffer)                                                                  \
    X(PFNGLCHECKFRAMEBUFFERSTATUSPROC, CheckFramebufferStatus)                                                    \
    X(PFNGLCOMPILESHADERPROC, CompileShader)                                                                      \
    X(PFNGLCREATEPROGRAMPROC, CreateProgram)                                                                      \
    X(PFNGLCREATESHADERPROC, CreateShader)                                                                        \
    X(PFNGLDELETEFRAMEBUFFERSPROC, DeleteFramebuffers)                                                            \
    X(PFNGLDELETEPROGRAMPROC, DeleteProgram)                                                                      \
    X(PFNGLDELETESHADERPROC, DeleteShader)                                                                        \
    X(PFNGLDETACHSHADERPROC, DetachShader)                                                                        \
    X(PFNGLFRAMEBUFFERTEXTURE2DPROC, FramebufferTexture2D)                                                        \
    X(PFNGLGENERATEMIPMAPPROC, GenerateMipmap)                                                                    \
    X(PFNGLGENFRAMEBUFFERSPROC, GenFramebuffers)                                                                  \
    X(PFNGLGETSHADERINFOLOGPROC, GetShaderInfoLog)                                                                \
    X(PFNGLGETSHADERIVPROC, GetShaderiv)                                                                          \
    X(PFNGLGETPROGRAMIVPROC, GetProgramiv)                                                                        \
    X(PFNGLGETPROGRAMINFOLOGPROC, GetProgramInfoLog)                                                              \
    X(PFNGLGETUNIFORMLOCATIONPROC, GetUniformLocation)                                                            \
    X(PFNGLLINKPROGRAMPROC, LinkProgram)                                                                          \
    X(PFNGLSHADERSOURCEPROC, ShaderSource)                                                                        \
    X(PFNGLUNIFORM1IPROC, Uniform1i)                                                                              \
    X(PFNGLUNIFORM1FPROC, Uniform1f)                                                                              \
    X(PFNGLUNIFORM2FVPROC, Uniform2fv)                                                                            \
    X(PFNGLUNIFORM3FVPROC, Uniform3fv)                                                                            \
    X(PFNGLUNIFORM4FVPROC, Uniform4fv)                                                                            \
    X(PFNGLUNIFORMMATRIX3FVPROC, UniformMatrix3fv)                                                                \
    X(PFNGLUNIFORMMATRIX4FVPROC, UniformMatrix4fv)                                                                \
    X(PFNGLUSEPROGRAMPROC, UseProgram)                                                                            \
    X(PFNGLBINDATTRIBLOCATIONPROC, BindAttribLocation)                                                            \
    X(PFNGLBINDBUFFERPROC, BindBuffer)                                                                            \
    X(PFNGLBINDVERTEXARRAYPROC, BindVertexArray)                                                                  \
    X(PFNGLBUFFERDATAPROC, BufferData)                                                                            \
    X(PFNGLBUFFERSUBDATAPROC, BufferSubData)                                                                      \
    X(PFNGLDELETEBUFFERSPROC, DeleteBuffers)                                                                      \
    X(PFNGLDELETEVERTEXARRAYSPROC, DeleteVertexArrays)                                                            \
    X(PFNGLDISABLEVERTEXATTRIBARRAYPROC, DisableVertexAttribArray)                                                \
    X(PFNGLENABLEVERTEXATTRIBARRAYPROC, EnableVertexAttribArray)                                                  \
    X(PFNGLGENBUFFERSPROC, GenBuffers)                                                                            \
    X(PFNGLGENVERTEXARRAYSPROC, GenVertexArrays)                                                                  \
    X(PFNGLVERTEXATTRIB4FPROC, VertexAttrib4f)                                                                    \
    X(PFNGLVERTEXATTRIBPOINTERPROC, VertexAttribPointer)

// Functions a context may lack without the layer failing: level queries
// (not in OpenGL ES 3.0).
#define KRGL_OPTIONAL_FUNCTIONS(X) X(PFNGLGETTEXLEVELPARAMETERIVPROC, GetTexLevelParameteriv)

struct gl_functions {
#define KRGL_FIELD(type, name) type name = nullptr;
    KRGL_FUNCTIONS(KRGL_FIELD)
    KRGL_OPTIONAL_FUNCTIONS(KRGL_FIELD)
#undef KRGL_FIELD
};
extern gl_functions gl;

// Loads every entry point through the platform layer; false (each missing
// name logged) when a required one is absent.
[[nodiscard]] bool gl_load_functions(void *(*lookup)(const char *name));

// ---------------------------------------------------------------- layer state

constexpr int KRGL_STACKS = 10;
constexpr int KRGL_STACK_DEPTH = 32;
constexpr size_t KRGL_QUEUE_WORDS = 1u << 20;
constexpr int KRGL_BATCH_VERTICES = 8192;
constexpr int KRGL_VERTEX_FLOATS = 12;
constexpr int KRGL_BATCH_INDICES = 24576;
constexpr int KRGL_PROGRAMS = 7;

// Attribute locations shared by the immediate buffers and the programs.
constexpr GLuint ATTR_POSITION = 0;
constexpr GLuint ATTR_NORMAL = 2;
constexpr GLuint ATTR_COLOR = 3;
constexpr GLuint ATTR_TEXCOORD = 8;
constexpr GLuint ATTR_TANGENT = 9;
constexpr GLuint ATTR_WEIGHTS = 10;
constexpr GLuint ATTR_BONES = 11;

using mat4 = std::array<float, 16>;

// Uniform names whose locations each program caches.
enum uniform_id : int {
    U_MODELVIEW,
    U_PROJECTION,
    U_TEXTURE0,  // .. U_TEXTURE0 + 7
    U_FOG_COLOR = U_TEXTURE0 + 8,
    U_FOG_DENSITY,
    U_AMBIENT,
    U_DIFFUSE,
    U_SHININESS,
    U_SPECULAR_COLOR,
    U_LIGHT_POSITION,
    U_NBONES,
    U_BONE_C,
    U_BONE_T,
    U_BONE_R,
    U_SPACING,
    U_SPACING_INV,
    U_MESHOFFSET,
    U_MESHSCALE,
    U_TEXOFFSET,
    U_TEXSCALE,
    U_HEIGHTS_DIM_INV,
    U_ATLAS_DIM_INV,
    U_TILEMAP_DIM_INV,
    U_ENVMAT,
    U_COUNT
};

struct krgl_program_slot {
    GLuint program = 0;
    GLuint vertex_shader = 0;
    GLuint fragment_shader = 0;
    // Matrix uniforms: -2 not looked up, -1 absent; others: -1 not looked up.
    std::array<GLint, U_COUNT> location{};
};

struct krgl_state {
    bool ready = false;
    gl_facts facts;
    bool no_vertex_arrays = false;

    std::array<std::array<mat4, KRGL_STACK_DEPTH>, KRGL_STACKS> stacks{};
    std::array<int, KRGL_STACKS> depth{};
    int matrix_mode = 0;
    int active_unit = 0;
    uint32_t dirty = 0;

    std::vector<uint32_t> queue;  // KRGL_QUEUE_WORDS capacity
    std::vector<float> vertices;  // KRGL_BATCH_VERTICES * KRGL_VERTEX_FLOATS
    std::vector<uint16_t> indices;
    int vertex_count = 0;  // batched
    int index_count = 0;
    bool buffers_made = false;
    GLuint vao = 0, vbo = 0, ebo = 0;

    // The open primitive.
    bool in_primitive = false;
    GLenum prim_mode = 0;
    int prim_start = 0;  // its first vertex in the batch
    bool loop_cut = false;
    std::array<float, KRGL_VERTEX_FLOATS> loop_first{};
    std::array<float, 4> texcoord{0, 0, 0, 1};
    std::array<float, 4> color{1, 1, 1, 1};

    std::array<krgl_program_slot, KRGL_PROGRAMS> programs{};
    int current_program = 0;

    GLuint white = 0, black = 0, flat_normal = 0;
    render_stats stats;
};
extern krgl_state krgl;

// Location of a uniform in the current program (cached); -1 when absent.
[[nodiscard]] GLint krgl_uniform(uniform_id id);
// Ends the program with status 1 after a fatal layer error.
[[noreturn]] void krgl_fatal(const char *message);
// Reads the context facts through the loaded entry points.
void krgl_read_facts();
// Resets the layer's CPU state (stacks, queue, batch) without GL calls.
void krgl_reset_state();
// Sets up the immediate buffers (test doubles call this through krglInit).
void krgl_make_buffers();
// The matrix helpers the queue executes, exposed for tests.
[[nodiscard]] const mat4 &krgl_top(int stack);
[[nodiscard]] int krgl_depth(int stack);

// ---------------------------------------------------------------- shaders

struct shader_source {
    const char *name;
    const char *vertex;
    const char *fragment;
};
[[nodiscard]] const shader_source &program_source(int index);  // 1..6
// The source handed to GL: "#version 150" on desktop GL, whole on ES.
[[nodiscard]] const char *dialect_source(const char *source, bool es);

// ---------------------------------------------------------------- images

void console_line(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
[[nodiscard]] int render_verbosity();
// A whole data file into memory; false when it cannot be opened.
[[nodiscard]] bool read_whole_file(const char *name, std::vector<uint8_t> *out);
// Dispatch on the first word; no mip chain; `word` receives the first word.
[[nodiscard]] bool decode_any(std::span<const uint8_t> data, const char *label, kr_image *out);
// Largest image dimension and pixel count accepted from a file.
constexpr int MAX_IMAGE_DIM = 32768;
constexpr uint64_t MAX_IMAGE_PIXELS = uint64_t(1) << 26;
[[nodiscard]] bool image_size_ok(int64_t width, int64_t height);
// Reads a ".seq"/"ANIM1" animation. Frames are full mip chains.
struct anim_frame {
    int width = 0, height = 0, components = 0;
    std::vector<uint8_t> pixels;  // with the mip chain
};
struct anim_sequence {
    int tics_per_step = 1;
    bool loop = false;
    std::vector<int> sequence;
    std::vector<anim_frame> frames;
};
[[nodiscard]] bool decode_anim(std::span<const uint8_t> data, const char *label, anim_sequence *out);
// Animation state by frame time (exposed for tests): the frame shown at `tic`.
[[nodiscard]] int anim_frame_at(const anim_sequence &a, int start_tic, int tic);
