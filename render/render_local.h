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
// A whole data file into memory; false when it cannot be opened. `tick`,
// when given, runs after every megabyte (loading screens).
[[nodiscard]] bool read_whole_file(const char *name, std::vector<uint8_t> *out, void (*tick)() = nullptr);
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

// ---------------------------------------------------------------- terrain renderer

struct Terrain;

constexpr int TERRAIN_VARIANTS = 16;        // edge-flag combinations of a patch
constexpr int TERRAIN_MAX_MESH_EXPONENT = 4;
constexpr int TERRAIN_RADII_BUDGET = 8000;  // split-radius work units per frame
constexpr int TERRAIN_DECAL_CELLS = 8;      // decal map cells per side
constexpr int TERRAIN_WHOLE_LEVEL = 16;     // the whole-terrain detail level's number
constexpr int TERRAIN_STREAM_BYTES = 131072;
constexpr int TILE_ATLAS_DIM = 256;

// Patch edge flags: the edge matches a neighbour twice the size.
enum terrain_edge : int { EDGE_V0 = 1, EDGE_U0 = 2, EDGE_V1 = 4, EDGE_U1 = 8 };

// One quadtree node chosen for drawing.
struct terrain_patch {
    int level = 0, a = 0, b = 0;
    int flags = 0;
};

// Node (a, b) of `level`: (4^level - 1)/3 + b*2^level + a.
[[nodiscard]] constexpr size_t lod_node_index(int level, int a, int b) {
    return ((size_t(1) << (2 * level)) - 1) / 3 + size_t(b) * (size_t(1) << level) + size_t(a);
}
[[nodiscard]] bool lod_split(const Terrain *t, int level, int a, int b);
void lod_set_split(Terrain *t, int level, int a, int b);

// The shared patch mesh: (2*2^m + 1)^2 vertices, row-major along v.
[[nodiscard]] std::vector<float> terrain_patch_vertices(int m);
// Triangles (three indices each) or lines (every triangle's three edges) of
// one edge-flag variant.
[[nodiscard]] std::vector<uint16_t> terrain_patch_indices(int m, int flags, bool lines);

// Budgeted recomputation of the split radii (R^2 in lod_error, own radius in
// lod_height while a pass runs).
struct terrain_radii_pass {
    bool active = false;
    bool done = false;  // finished for seen_counter
    uint32_t seen_counter = 0;
    int level = 0;
    int node = 0;   // within the level, row-major
    int row = -1;   // next sample row of the node, -1 before the node starts
    float deviation = 0;
};
// Runs up to `budget` units (< 0: to the end). True when a pass finished
// and the radii were made consistent. A pass covers the heights as they
// were when it began; once it ends, a moved change counter starts the next.
// Nothing to do (false) while the counter stays where the last pass began.
bool terrain_update_split_radii(Terrain *t, terrain_radii_pass *p, float detail, long budget);

// A detail level's region in samples.
struct terrain_region {
    int x = 0, z = 0, size = 0;
};
// Clears and rebuilds the split bits for a camera (x, z in feet): the
// regions' coarse nodes, then the radii, then the splits that keep
// neighbouring patches within one level of each other.
void terrain_mark_splits(Terrain *t, int mesh_exponent, const float camera[3], const terrain_region *regions,
                         int region_count);
// The patches of a traversal from the root, nodes behind the camera plane
// skipped; uses the split bits as marked.
void terrain_select_patches(const Terrain *t, int mesh_exponent, const float camera[3], const float view_dir[3],
                            std::vector<terrain_patch> *out);

// Detail levels: sizes in samples, fine to coarse, the whole field last.
struct terrain_level_plan {
    int bit = 0;  // 1, 2, 4, 8; TERRAIN_WHOLE_LEVEL for the whole field
    int size = 0;
};
[[nodiscard]] std::vector<terrain_level_plan> terrain_plan_levels(int dim, float spacing, int level_bits);
// Whether a level at `origin` must move for the camera cell, and where to.
[[nodiscard]] bool terrain_level_must_move(int origin_x, int origin_z, int size, int cx, int cz);
[[nodiscard]] int terrain_level_origin(int c, int size, int dim);

// The tile atlas: B cells per side for `count` tile types, and its pixels
// (256x256 RGB) from the tile images (null or empty: a white cell).
[[nodiscard]] int tile_atlas_cells(int count);
[[nodiscard]] std::vector<uint8_t> tile_atlas_pixels(const std::vector<const kr_image *> &tiles);

// Height blocks: the next dirty blocks round-robin from `cursor`, at most
// `budget` (< 0: all); their bits are cleared and the cursor moves on.
[[nodiscard]] std::vector<int> terrain_take_dirty_blocks(Terrain *t, int *cursor, int budget);

// Decal map: the cells (y*8 + x) a decal's bounding box touches.
[[nodiscard]] std::vector<int> terrain_decal_cells(const terrain_decal &d, float extent);

struct terrain_detail_level {
    int bit = 0;
    int x = 0, z = 0, size = 0;
    GLuint colour = 0, normal = 0, specular = 0;
    unsigned flags = 0;  // 1 full redraw, 2 decals changed
    bool composed = false;  // its textures hold a finished composition
};

// The renderer's data of one loaded terrain (Terrain::render).
struct terrain_gpu {
    GLuint heights = 0, shadow = 0, tilemap = 0, atlas = 0;
    int atlas_cells = 1;
    int atlas_cell_px = TILE_ATLAS_DIM;
    GLuint tread_colour = 0, tread_normal = 0, tread_specular = 0;
    // Corner texture coordinates of each tile's treadmark slots in the
    // atlases (tile * 8 + slot); all zero where the texture was not found.
    std::vector<std::array<float, 8>> tread_uv;

    int mesh_exponent = 4;
    GLuint patch_vertices = 0, stream = 0;
    std::array<GLuint, TERRAIN_VARIANTS> tri_buffer{}, line_buffer{}, tri_vao{}, line_vao{};
    std::array<int, TERRAIN_VARIANTS> tri_indices{}, line_indices{};

    terrain_radii_pass radii;
    int height_cursor = 0;

    std::vector<terrain_detail_level> levels;
    std::array<GLuint, 3> spare{};
    int texture_dim = 0;
    GLuint framebuffer = 0;
    int updating = -1;  // level being composed
    int state = 0;
    uint16_t squares_done = 0;
    int new_x = 0, new_z = 0;

    std::array<std::vector<int>, TERRAIN_DECAL_CELLS * TERRAIN_DECAL_CELLS> cells;
    uint64_t changed_cells = 0;
    bool decals_hidden = false;
    int treadmarks = 0;

    std::array<float, 3> camera{};
    bool have_camera = false;
    std::vector<terrain_patch> patches;  // scratch of the draw
};
[[nodiscard]] terrain_gpu *terrain_gpu_of(Terrain *t);  // created on first use
// The track layer's loading tick: long load steps call it between parts.
void terrain_loading_tick();
// Detail-level work: build at load, compose one whole level.
void terrain_create_detail_levels(Terrain *t);
void terrain_delete_detail_levels(terrain_gpu *g);
void terrain_rebuild_decal_map(Terrain *t);
