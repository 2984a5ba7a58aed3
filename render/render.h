// render.h -- the krgl GL layer (deferred command queue, immediate-mode
// emulation, matrix stacks, the six shader programs, default textures,
// context facts, statistics), images and textures (PPM, PGM, PNG, the
// predictive J6/J7 format, ANIM1 animations, the texture cache with its
// per-track lifetime and memory count, PNG writers), screenshots, and
// messages drawn with a built-in block font.
//
// Owns:      the GL entry-point table, the command queue and vertex batch,
//            the programs, every texture, the alias table, the image cache,
//            the animation records and the texture memory counter.
// Depends:   platform/ (velk_gl_proc, log, error output), files/ (data
//            streams, search directories), track/ (the terrain it draws and
//            the track_services hooks it fills), libpng. GL types and enums
//            come from <GL/glcorearb.h>.
// Called by: start-up (krglInit, krglCreatePrograms, HUD images, shutdown),
//            the frame loop (drawing, statistics, screenshots, video frames),
//            and every drawing subsystem. Image decoding without GL
//            (image_decode_*, image_read_png_grey16) serves the track code.
// Lifetime:  the layer lives from krglInit (a current context exists) to
//            krglShutdown; textures from their load until
//            DeleteStaleTextures. Single-threaded: the thread owning the
//            GL context calls everything except the pure decoders.
#pragma once

#include <GL/glcorearb.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Fixed-function enums the core headers leave out; the layer emulates them.
constexpr GLenum KRGL_QUADS = 0x0007;
constexpr GLenum KRGL_QUAD_STRIP = 0x0008;
constexpr GLenum KRGL_POLYGON = 0x0009;
constexpr GLenum KRGL_MODELVIEW = 0x1700;
constexpr GLenum KRGL_PROJECTION = 0x1701;
constexpr GLenum KRGL_TEXTURE = 0x1702;
constexpr GLenum KRGL_CLAMP = 0x2900;

// ---------------------------------------------------------------- context facts and start-up

struct gl_facts {
    std::string vendor;      // "NULL" when the driver gives none
    std::string renderer;
    std::string version;
    std::string extensions;
    int major = 0;
    int minor = 0;
    bool es = false;
};

// Reads the context facts, loads the entry points, creates the immediate
// buffers and the default textures, resets the matrix stacks. False when an
// entry point is missing (logged by name); the layer is then unusable.
[[nodiscard]] bool krglInit();
[[nodiscard]] const gl_facts &krgl_facts();
// Builds the six programs; on failure everything made so far is deleted.
[[nodiscard]] bool krglCreatePrograms();
void krglDeletePrograms();
// Deletes programs, buffers and default textures; the layer is uninitialised.
void krglShutdown();
// The "--novertexarrays" switch (kept for the drawing code).
void krgl_set_no_vertex_arrays(bool on);
[[nodiscard]] bool krgl_no_vertex_arrays();

// Default 1x1 textures: white (default specular map), black, flat normal.
[[nodiscard]] GLuint krgl_white_texture();
[[nodiscard]] GLuint krgl_black_texture();
[[nodiscard]] GLuint krgl_flat_normal_texture();

// ---------------------------------------------------------------- queued operations

void krglActiveTexture(GLenum unit);
void krglBindTexture(GLenum target, GLuint texture);
void krglBlendFunc(GLenum source, GLenum destination);
void krglDepthFunc(GLenum func);
void krglDepthMask(bool flag);
void krglDisable(GLenum cap);
void krglEnable(GLenum cap);
void krglMatrixMode(GLenum mode);
void krglLoadIdentity();
void krglLoadMatrix(const float m[16]);
void krglMultMatrix(const float m[16]);
void krglTranslate(float x, float y, float z);
void krglRotate(float degrees, float x, float y, float z);
void krglScale(float x, float y, float z);
void krglFrustum(float left, float right, float bottom, float top, float near_z, float far_z);
void krglOrtho(float left, float right, float bottom, float top, float near_z, float far_z);
void krglPushMatrix();
void krglPopMatrix();

// ---------------------------------------------------------------- immediate mode

// Modes: GL_POINTS 0 .. GL_TRIANGLE_FAN 6, KRGL_QUADS, KRGL_QUAD_STRIP, KRGL_POLYGON.
void krglBegin(GLenum mode);
void krglVertex(float x, float y);
void krglVertex(float x, float y, float z);
void krglTexCoord(float s, float t);
void krglTexCoord(float s, float t, float r, float q);
void krglColor(float r, float g, float b);
void krglColor(float r, float g, float b, float a);
void krglEnd();

// Hands the queued commands and the vertex batch to GL; it does not call
// glFlush (krglFinish waits for the GPU). Every flushing operation runs it first.
void krglFlush();

// ---------------------------------------------------------------- flushing operations

void krglClear(GLbitfield mask);
void krglClearColor(float r, float g, float b, float a);
void krglViewport(int x, int y, int width, int height);
void krglCullFace(GLenum mode);
[[nodiscard]] GLuint krglGenTexture();
void krglDeleteTexture(GLuint texture);
void krglTexImage2D(GLenum target, int level, GLint internal_format, int width, int height, GLenum format,
                    GLenum type, const void *pixels);
void krglTexSubImage2D(GLenum target, int level, int x, int y, int width, int height, GLenum format, GLenum type,
                       const void *pixels);
void krglTexParameteri(GLenum target, GLenum name, GLint value);
void krglTexParameterfv(GLenum target, GLenum name, const float *values);
void krglPixelStorei(GLenum name, GLint value);
// False where the context cannot query levels (OpenGL ES 3.0).
[[nodiscard]] bool krglGetTexLevelParameteriv(GLenum target, int level, GLenum name, GLint *value);
void krglGenerateMipmap(GLenum target);
void krglReadPixels(int x, int y, int width, int height, GLenum format, GLenum type, void *pixels);
[[nodiscard]] GLenum krglGetError();
void krglFinish();
[[nodiscard]] GLuint krglGenFramebuffer();
void krglBindFramebuffer(GLenum target, GLuint framebuffer);
void krglFramebufferTexture2D(GLenum target, GLenum attachment, GLenum textarget, GLuint texture, int level);
[[nodiscard]] GLenum krglCheckFramebufferStatus(GLenum target);
void krglDeleteFramebuffer(GLuint framebuffer);
[[nodiscard]] GLuint krglGenBuffer();
void krglBindBuffer(GLenum target, GLuint buffer);
void krglBufferData(GLenum target, size_t size, const void *data, GLenum usage);
void krglBufferSubData(GLenum target, size_t offset, size_t size, const void *data);
void krglDeleteBuffer(GLuint buffer);
[[nodiscard]] GLuint krglGenVertexArray();
void krglBindVertexArray(GLuint array);
void krglDeleteVertexArray(GLuint array);
void krglVertexAttribPointer(GLuint index, int size, GLenum type, bool normalized, int stride, size_t offset);
void krglEnableVertexAttribArray(GLuint index);
void krglDisableVertexAttribArray(GLuint index);
void krglVertexAttrib4f(GLuint index, float x, float y, float z, float w);
// Direct draws: the current program's dirty matrices are uploaded first.
void krglDrawArrays(GLenum mode, int first, int count);
void krglDrawElements(GLenum mode, int count, GLenum type, size_t offset);
void krglDrawRangeElements(GLenum mode, GLuint start, GLuint end, int count, GLenum type, size_t offset);

// ---------------------------------------------------------------- programs and uniforms

enum krgl_program : int {
    KRGL_NO_PROGRAM = 0,
    KRGL_UNLIT = 1,
    KRGL_NORM_ENV = 2,
    KRGL_NORM_SPEC_LIT = 3,
    KRGL_TERRAIN_NORMALS = 4,
    KRGL_TERRAIN = 5,
    KRGL_TILEMAP = 6,
};

void krglUseProgram(int index);
[[nodiscard]] int krgl_current_program();
// The GL name of program 1..6, 0 for any other index.
[[nodiscard]] GLuint krgl_program_name(int index);
void krglFog(const float color[3], float density);
void krglAmbient(const float rgba[4]);
void krglDiffuse(const float rgb[3]);
void krglShininess(float s);
void krglSpecularColor(const float rgb[3]);
void krglLightPosition(const float xyz[3]);
// count bones: centres and translations (3 floats each), rotations (9 floats
// each, column order). Nothing unless a program 1..6 is current.
void krglBones(int count, const float *centres, const float *translations, const float *rotations);
void krglTerrainSpacing(float spacing);
void krglMeshOffset(float x, float y, float scale);
void krglTexOffset(float x, float y, float scale);
void krglHeightsDimInv(float v);
void krglTilemapSizes(float spacing_inv, float atlas_dim_inv, float tilemap_dim_inv);
// Makes program 2 current, uploads the row-order 3x3 matrix as u_envmat,
// and leaves program 1 current.
void krglEnvMatrix(const float rows[9]);

// ---------------------------------------------------------------- statistics

struct render_counter {
    int count = 0;
    int max = 0;
};
struct render_stats {
    render_counter ground_polygons;
    render_counter model_polygons;
    render_counter billboards;
    render_counter decals;
    render_counter texture_changes;
    render_counter shader_changes;
};
[[nodiscard]] render_stats &krgl_stats();
// Folds the frame's counts into the maxima and zeroes them (frame start).
void krgl_stats_new_frame();

// ---------------------------------------------------------------- images

// 8-bit RGB or RGBA (components 3 or 4; 1 for PGM), rows top to bottom,
// followed by the whole mip chain unless `levels` is 1.
struct kr_image {
    int width = 0;
    int height = 0;
    int components = 0;
    int levels = 0;  // mip levels held in pixels
    std::vector<uint8_t> pixels;
    std::string info;  // PNG text chunks and the ".info" side file
};

// Where the console of the game shows a line (default: the log).
void render_set_console(void (*console)(const char *line));
void render_set_verbose(int verbosity);

// Pure decoders from a file's bytes (no GL). `label` names the image in
// error lines. False on bad or short data (logged). No mip chain is built.
[[nodiscard]] bool image_decode_ppm(std::span<const uint8_t> data, const char *label, kr_image *out);
[[nodiscard]] bool image_decode_pgm(std::span<const uint8_t> data, const char *label, kr_image *out);
[[nodiscard]] bool image_decode_predictive(std::span<const uint8_t> data, const char *label, kr_image *out);
// PNG expanded to 8-bit RGB or RGBA; text chunks go to out->info.
[[nodiscard]] bool image_decode_png(std::span<const uint8_t> data, const char *label, kr_image *out);
// PNG as 16-bit grey samples (colour converted to grey, 8-bit widened by 257).
// `tick`, when given, runs after every megabyte read (loading screens).
[[nodiscard]] bool image_decode_png_grey16(std::span<const uint8_t> data, const char *label,
                                           std::vector<uint16_t> *samples, int *width, int *height,
                                           void (*tick)() = nullptr);
// The same from a data name or path.
[[nodiscard]] bool image_read_png_grey16(const char *name, std::vector<uint16_t> *samples, int *width, int *height,
                                         void (*tick)() = nullptr);
// A data name or path as an image of any format, with its mip chain (none for
// PGM); ".info" appended to the name is read into the info text.
[[nodiscard]] bool image_read(const char *name, kr_image *out);
// PGM shadow maps, RGB and RGBA images for atlases (converted as needed).
[[nodiscard]] bool image_read_pgm(const char *name, kr_image *out);
[[nodiscard]] bool image_read_rgb(const char *name, kr_image *out);
[[nodiscard]] bool image_read_rgba(const char *name, kr_image *out);

// Mip chains. Bytes of a chain of `levels` levels starting at width x height.
[[nodiscard]] int mip_level_count(int width, int height);
[[nodiscard]] size_t mip_chain_bytes(int width, int height, int components, int levels);
// Appends every smaller level to level 0 (honours "[mip_max_alpha]" and
// "[mip_custom]" in the info text).
void build_mip_chain(kr_image *img, const char *label);
// Nearest resampling to the largest powers of two not above the size, chain
// rebuilt. False when already a power of two.
bool image_resample_pow2(kr_image *img, const char *label);
// Drops `count` levels from the top of the chain.
void image_drop_levels(kr_image *img, int count);
// Levels a texture load drops for the reduction level.
[[nodiscard]] int detail_levels_to_drop(int width, int height, int reduction_level);
// Levels a texture load can drop because a smaller level holds the detail.
[[nodiscard]] int automatic_levels_to_drop(const kr_image &img);

// PNG writers (through data streams: "@" names land in the home directory).
[[nodiscard]] bool WritePng16(const char *path, const uint16_t *samples, int width, int height);
// `pixels` rows bottom-up (a framebuffer read-back); written top-down, so
// the file is upright.
[[nodiscard]] bool WritePngRgb(const char *path, const uint8_t *pixels, int width, int height);
// Writers of images whose rows are already top-down (content generator,
// tools): rows go out in the order given.
[[nodiscard]] bool write_png_rgb_top_down(const char *path, const uint8_t *rgb, int width, int height);
[[nodiscard]] bool write_png_rgba_top_down(const char *path, const uint8_t *rgba, int width, int height);

// ---------------------------------------------------------------- textures

enum texture_flags : unsigned {
    TEX_REPEAT_S = 1,
    TEX_REPEAT_T = 2,
    TEX_COMPRESS = 4,
    TEX_NO_MIPMAPS = 8,
};
enum class texture_compress { no, yes, always };

// clamp(10 - model_texture_detail, 0, 10), or the "--texture-detail" level.
void texture_set_reduction_level(int level);
void texture_set_compress(texture_compress mode);

[[nodiscard]] GLuint LoadTexture(const char *name);
[[nodiscard]] const char *TextureName(GLuint handle);
[[nodiscard]] const char *TextureInfo(GLuint handle);
[[nodiscard]] GLuint CreateTexture(const uint8_t *pixels, int width, int height, int components, unsigned flags);
// Clamped, mipmapped, not compressed; `pixels` holds the whole chain.
[[nodiscard]] GLuint CreateTexture(const uint8_t *pixels, int width, int height, int components);
// Decoded images kept by name (number-plate composers); null on failure.
[[nodiscard]] const kr_image *LoadImageCached(const char *name);

// A track load begins: new generation, memory counter back to 0.
void texture_begin_track_load();
[[nodiscard]] uint32_t texture_memory_used();
[[nodiscard]] uint32_t texture_generation();
void DeleteStaleTextures(bool all);

// Animations ("ANIM1").
void AdvanceAnimations(int tic);
void restart_animation(GLuint texture, int start_tic);
void pause_animation(GLuint texture);
// Current frame and frame count of a texture's animation; false when none.
[[nodiscard]] bool animation_frame(GLuint texture, int *frame, int *frames);

// ---------------------------------------------------------------- messages

// Draws the text (lines split at '\n') centred in a width x height viewport,
// white on a dark band across the window, with a built-in 5x7 block font:
// upper-case letters, digits and punctuation (lower case is shown as upper
// case, other characters as '?'). Needs no font or image file. Leaves the
// unlit program current, depth testing off and face culling on, and the
// queue flushed.
void draw_message_text(std::string_view text, int width, int height);

// ---------------------------------------------------------------- screenshots and video

// The first free screenshot number: one more than the highest N among the
// names read with "screenshot%u" (so .png and .ppm both count).
[[nodiscard]] int64_t screenshot_first_number(const char *const *names);
// Reads the framebuffer (width x height) and saves "@screenshot%03d.png"
// with the next number that names no existing file; the saved file name
// (without "@") goes to `saved`. False on failure (logged).
[[nodiscard]] bool save_screenshot(const char *const *names, int width, int height, std::string *saved);
// A block of the framebuffer as 8-bit RGB, rows bottom-up as GL gives them.
[[nodiscard]] bool read_pixels_rgb(int x, int y, int width, int height, uint8_t *rgb);
// The framebuffer as 8-bit RGB rows top to bottom.
[[nodiscard]] bool read_frame_rgb(int width, int height, std::vector<uint8_t> *rgb);

// ---------------------------------------------------------------- terrain renderer
//
// Draws the loaded `Terrain` (track/) and keeps its GPU copies in step with a
// height field that ruts: a float height texture the terrain program lifts
// one shared patch mesh from, a quadtree level of detail with 16 stitching
// variants, detail textures composed on the GPU from the tile atlas, the
// shadow map and the ground decals, refreshed a little every frame.
// The load-time steps reach it through the track_services hooks
// (terrain_render_fill_services); start-up hands it the settings, the frame
// loop calls terrain_render_update every frame, and the views call
// terrain_update_detail_textures and then the draw.
// Its data hang off Terrain::render from the track load to the unload.

struct Terrain;
struct track_services;
struct track_lighting;
struct terrain_decal;

struct terrain_render_settings {
    float detail = 0.125f / 70.0f;   // terrain detail factor: 0.125 / ground_detail, or "--detail"
    int mesh_exponent = 4;           // "ground_mesh_dim" choice: patches of 2^m x 2^m blocks
    int texture_levels = 5;          // "ground_texture_levels" bit set (High 1, Mid 2, Low 4, ExtraLow 8)
    int texture_dim = 1024;          // "ground_texture_dim_new" in texels
    int texture_update_rate = 1;     // sub-squares per step of the detail-texture machine
    bool mipmaps = true;             // "ground_mipmaps"
    int treadmark_limit = 100000;
    bool wireframe = false;          // "--terrain-wireframe" and the console toggle
    bool disable_tmesh = false;      // "--disable-tmesh": one block per patch
    float max_detail_distance = 0;   // "--max-detail-distance" (0: not given)
    float detail_fade_distance = 0;
};
void terrain_render_configure(const terrain_render_settings &s);
[[nodiscard]] const terrain_render_settings &terrain_render_config();
void terrain_render_set_wireframe(bool on);

// Sets the renderer's load steps, release and the "terrain.png" reader and
// writer in the services (other members are left as they are).
void terrain_render_fill_services(track_services *s);
// Only the "terrain.png" reader and writer, which need no GL context
// (headless runs read height images too).
void height_image_fill_services(track_services *s);

// The load-time steps (also reachable one by one for tests and tools).
void terrain_render_upload_heights(Terrain *t);
void terrain_render_build_tile_atlas(Terrain *t);
void terrain_render_load_treadmarks(Terrain *t);
void terrain_render_upload_tilemap(Terrain *t);
void terrain_render_build_lod(Terrain *t);
void terrain_render_sort_decals(Terrain *t);
// Cleanup: every texture, buffer and array made for the terrain.
void terrain_render_unload(Terrain *t);

// Per frame (the frame loop's terrain update): re-uploads at most
// `height_budget` dirty height blocks (< 0: all) and advances the split radii
// (8000 units; all with an unlimited budget).
void terrain_render_update(Terrain *t, int height_budget);
[[nodiscard]] int terrain_update_heights(Terrain *t, int budget);
// Per frame, before the scene is drawn (the views): one step of the
// detail-texture update, around the camera of the last draw.
void terrain_update_detail_textures(Terrain *t);

// The draw with the matrices already set: camera position and view direction.
void terrain_draw(Terrain *t, const float camera[3], const float view_dir[3], const track_lighting *light);

// A camera for terrain_draw_view: position, orientation as forward and up
// vectors, vertical field of view in degrees, viewport and clip planes.
struct terrain_camera {
    float position[3] = {0, 0, 0};
    float forward[3] = {0, 0, -1};
    float up[3] = {0, 1, 0};
    float fov_y = 60.0f;
    int x = 0, y = 0, width = 640, height = 480;
    float near_plane = 0.25f, far_plane = 5000.0f;
};
// Sets viewport, projection, modelview and the light, then draws the terrain.
// The matrices are left as set. Light null: the lighting defaults.
void terrain_draw_view(Terrain *t, const terrain_camera &camera, const track_lighting *light);

// Ground decals. Bad indices answer "Out of range decal index" and change nothing.
void terrain_decal_append(Terrain *t, const terrain_decal &d);
void terrain_decal_insert(Terrain *t, int index, const terrain_decal &d);
void terrain_decal_replace(Terrain *t, int index, const terrain_decal &d);
void terrain_decal_remove(Terrain *t, int index);
// "toggledecals": hidden decals stay in the list but are not drawn.
void terrain_toggle_decals(Terrain *t);
// Whether another treadmark may be laid ("treadmark_limit"); counts it when so.
[[nodiscard]] bool terrain_lay_treadmark(Terrain *t);
