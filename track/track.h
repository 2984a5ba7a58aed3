// track.h -- the track folder: the list of tracks, the terrain height field
// with its surface types, the object files that place things on it
// (lighting, billboards, statues, flaggers, cameras, decals, map), and the
// deformation of the terrain under the wheels (dig vectors, erode packets,
// the erode queue).
//
// Owns:      the `Terrain` (heights, shadows, tile map, `TileType` tables,
//            dirty blocks, change counter), the track list, the lighting set
//            and the track objects of the loaded track; the erode queue and
//            the wheels' dig accumulators are records the callers hold.
// Depends:   files/ (data_file streams, data names), hash/ (height digest),
//            platform/ (log). Textures, models, shapes, PNG images and the
//            terrain renderer are reached only through track_services, which
//            the layers above fill in; a null member is a layer not there
//            yet, and the data side works without it (names and placement
//            are kept).
// Called by: start-up (track list), the track lifecycle (load/unload), the
//            simulation and deformation (queries, bumps), the renderer
//            (read access, dirty marks), the editor and scripts (add/save);
//            the race tic (dig_wheel), the frame loop (apply_erode_queue),
//            the demo and network layers (queue_erode_packet).
// Lifetime:  a Terrain and a track_objects live from their load until the
//            next load or shutdown; the track list lives for the run.
//
// Folder paths are passed as the file layer takes them: "@tracks/name" for a
// data name, anything else as an operating-system path. Files inside are the
// folder, "/" and the file name.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct Terrain;

// ---------------------------------------------------------------- services from the layers above

// The 16-bit samples of a height image ("terrain.png"), row-major.
struct height_image {
    int width = 0;
    int height = 0;
    std::vector<uint16_t> samples;
};

struct track_services {
    // Console line (the text as the program says it, newline or not).
    // Default: the log.
    void (*message)(const char *text) = nullptr;
    // Loading screen: a stage begins / ends ("%.64s...done"); tick keeps the
    // window alive during long loads. Default: the stage lines are logged.
    void (*stage)(const char *name) = nullptr;
    void (*stage_done)(const char *name) = nullptr;
    void (*tick)() = nullptr;
    // 0, 1 ("--debug") or 2 ("--super-debug"). Default 0.
    int (*verbosity)() = nullptr;
    // Texture, model and shape layers: a handle, 0 when the name cannot be
    // loaded. Null (headless runs): handles stay 0 and only names are kept.
    uint32_t (*load_texture)(const char *name) = nullptr;
    uint32_t (*load_model)(const char *name) = nullptr;
    uint32_t (*load_shape)(const char *name) = nullptr;
    size_t (*texture_memory)() = nullptr;
    // Image layer: "terrain.png" reading and writing (16-bit grey).
    bool (*read_height_image)(const char *path, height_image *out) = nullptr;
    bool (*write_height_image)(const char *path, const height_image &image) = nullptr;
    // Terrain renderer steps of the load, in load order, and its release.
    void (*render_upload_heights)(Terrain *t) = nullptr;
    void (*render_build_tile_atlas)(Terrain *t) = nullptr;  // before the texture names are dropped
    void (*render_load_treadmarks)(Terrain *t) = nullptr;
    void (*render_upload_tilemap)(Terrain *t) = nullptr;
    void (*render_build_lod)(Terrain *t) = nullptr;         // fills the quadtree arrays
    void (*render_sort_decals)(Terrain *t) = nullptr;
    void (*render_unload)(Terrain *t) = nullptr;             // also on a failed or empty terrain
};
// Replaces the services; members left null take the defaults above.
void track_set_services(const track_services &s);
[[nodiscard]] const track_services &track_get_services();

// ---------------------------------------------------------------- surface types

constexpr int MAX_TILE_TYPES = 256;
constexpr int FRICTION_POINTS = 8;
constexpr int ROLL_RESIST_POINTS = 8;
constexpr int ROOST_TYPES = 4;
constexpr int TREADMARK_TYPES = 8;
constexpr int ERODE_LIMITS = 8;
constexpr float FRICTION_EMPTY_ABSCISSA = 1048576.0f;
constexpr float FRICTION_MAX_ABSCISSA = 1048575.0f;
constexpr float ROLL_RESIST_MIN_SPEED = 9.5367431640625e-7f;  // 2^-20
constexpr size_t TILE_NAME_MAX = 47;

// Thrown dirt of a surface.
struct RoostType {
    int32_t kind = 0;  // 0 off, 1 roost, 2 splash
    uint32_t texture = 0;
    float count = 10.0f;
    float dig = 1.0f;
    float slip_threshold = 4.0f;
    float slow_angle = 1.5707964f;
    float fast_angle = 0.19634955f;
    float slow_speed = 0.0f;
    float fast_speed = 64.0f;
    float size = 0.25f;
    float grow = 4.0f;
    float drag = 0.5f;
    float vscale = 1.0f;
    float randomize = 15.0f;
    uint8_t r = 255, g = 255, b = 255, a = 255;
    int8_t fade_r = 0, fade_g = 0, fade_b = 0, fade_a = -2;  // per tic
    std::string texture_name = "@roost.png";
};

// Marks that wheels lay on a surface.
struct TreadmarkType {
    std::string texture_name;
    uint32_t texture = 0;         // filled by the renderer
    uint32_t normal_texture = 0;
    uint32_t specular_texture = 0;
    float size = 8.0f;
    float aspect = 0.5f;
    float spacing = 6.0f;
    float offset = 0.0f;
    float slip_threshold = 0.0f;
    float speed_threshold = 0.0f;
    int32_t front = -1;  // -1 both wheels, else 0 rear / 1 front
    int32_t defined = 0;
};

// Erosion parameters: 44 32-bit values, in the order the deformation indexes.
struct ErodeParams {
    float depth = 1.0f;
    float lower = 50.0f;
    float upper = 150.0f;
    float displacement = 2.0f;
    float radius = 4.0f;
    float inner_depth = 0.125f;
    float inner_radius = 2.0f;
    float min_slope = -0.5f;
    float max_slope = 0.5f;
    float off_speed = 10.0f;
    float on_speed = 15.0f;
    float slip_lower = 0.0f;
    float slip_upper = 5.0f;
    float slip_base_scale = 1.0f;
    float slip_scale = 1.5f;
    float downhill_scale = 0.0f;
    std::array<float, ERODE_LIMITS> limit_depth{};
    std::array<float, ERODE_LIMITS> limit_factor1{};
    std::array<float, ERODE_LIMITS> limit_factor2{};
    float project_to_ground = 1.0f;
    float lateral_scale = 1.0f;
    float front_scale = 1.0f;
    int32_t limit_count = 0;
};
static_assert(sizeof(ErodeParams) == 44 * 4);

struct friction_point {
    float coefficient;
    float abscissa;
};
struct roll_resist_point {
    float low;
    float high;
    float speed;
};

struct TileType {
    std::string name;     // at most 47 characters
    std::string texture;  // ground texture name; dropped once the atlas is built
    int32_t slip_function = 0;  // 1 and 2 choose other curves; anything else acts as 0
    std::array<friction_point, FRICTION_POINTS> friction;
    std::array<roll_resist_point, ROLL_RESIST_POINTS> roll_resist;
    std::array<RoostType, ROOST_TYPES> roost{};
    std::array<TreadmarkType, TREADMARK_TYPES> treadmark{};
    ErodeParams erode{};
};
// A tile type with every default (constant friction 1.0, rolling resistance
// 5..15, no roost, no treadmarks, erode limit count 0).
[[nodiscard]] TileType tile_type_defaults();

// ---------------------------------------------------------------- terrain

// A decal on the ground ("decals", and the renderer's treadmarks).
struct terrain_decal {
    std::string texture_name;
    uint32_t texture = 0;
    uint32_t normal_texture = 0;
    uint32_t specular_texture = 0;
    float x = 0, z = 0, angle = 0, size = 0, aspect = 0;
    float sin_angle = 0, cos_angle = 1;
    std::array<float, 8> uv = {0, 0, 1, 0, 1, 1, 0, 1};
    bool treadmark = false;  // laid by a wheel; not saved
};

constexpr int TERRAIN_BLOCK = 128;        // samples per dirty block side
constexpr uint8_t TERRAIN_DIRTY_ALL = 7;  // every kind of dirty flag
constexpr int TERRAIN_MAX_N = 11;         // largest size exponent accepted (4097 samples)

struct Terrain {
    // grid geometry, fixed by the header of "terrain.hf"
    int32_t n = 0;
    int dim = 0;                 // 2^(n+1) + 1 samples per side
    int tiles = 0;               // 2^n tile cells per side
    float spacing = 1.0f;
    float inv_spacing = 1.0f;
    float extent = 0.0f;         // spacing * (dim - 1)

    std::vector<float> heights;       // dim*dim, index j*dim + i
    std::vector<float> base_heights;  // heights as loaded
    float min_height = 0.0f;
    float max_height = 0.0f;
    std::array<uint8_t, 20> digest{};  // RIPEMD-160 of the samples as read
    std::vector<uint8_t> shadow;       // dim*dim, 0 lit .. 255 shadowed
    std::vector<uint8_t> tilemap;      // tiles*tiles, index cj*tiles + ci
    std::vector<TileType> tile_types;  // 1..256 once loaded
    std::vector<terrain_decal> decals;

    int blocks = 1;                    // B dirty blocks per side
    std::vector<uint8_t> dirty_mask;   // (B*B + 7)/8 bytes
    uint32_t change_counter = 0;
    uint8_t dirty_flags = 0;
    bool frozen = false;

    // quadtree of n+1 levels, sized here, filled by the renderer
    std::vector<float> lod_error;
    std::vector<float> lod_height;
    std::vector<uint8_t> lod_flags;

    void *render = nullptr;  // the renderer's own data
    bool loaded = false;
};

// Loads the ground files of a folder. On failure (messages on the console)
// the terrain is left empty.
[[nodiscard]] bool terrain_load(Terrain *t, const char *folder);
void terrain_unload(Terrain *t);

// Tile type index under a point (clamped to the tile map).
[[nodiscard]] int terrain_tile_at(const Terrain *t, float x, float z);
// Height of the mesh triangle under a point; outside the grid the edge
// heights continue. Non-finite coordinates are taken as inside the grid.
[[nodiscard]] float terrain_height_at(const Terrain *t, float x, float z);
// Upward normal of the mesh triangle under a point, not normalised: its y is
// spacing^2.
[[nodiscard]] std::array<float, 3> terrain_face_normal(const Terrain *t, float x, float z);

// Raises (or lowers) a smooth bump; returns the sum added over every sample
// of the bump, those outside the grid included. Changes nothing for a zero
// amount, a radius that is not positive, or non-finite arguments.
float terrain_add_bump(Terrain *t, float x, float z, float radius, float amount);
// As terrain_add_bump, but the added heights sum to `amount` (when the
// weights sum to at least 1).
void terrain_spread_bump(Terrain *t, float x, float z, float radius, float amount);
// Marks the dirty blocks that the sample rectangle touches.
void terrain_mark_dirty(Terrain *t, int i0, int j0, int i1, int j1);
// Whether dirty block (bx, by) is marked.
[[nodiscard]] bool terrain_block_dirty(const Terrain *t, int bx, int by);

struct track_lighting;
// Writes the ground files back ("terrain.hf" and its samples, shading maps,
// "tilemap", "decals"). Each file is written whole under a temporary name
// and then renamed over the old one. False after the first failure.
[[nodiscard]] bool terrain_save(Terrain *t, const char *folder, const track_lighting &light);

// Reads "decals" when the folder has one, then hands the list to the
// renderer, which finishes its detail textures (the end of terrain_load).
void terrain_load_decals(Terrain *t, const char *folder);

// ---------------------------------------------------------------- track list

struct track_entry {
    std::string folder;       // e.g. "tracks/valley": the data name without "@"
    std::string description;  // from "desc", else the folder
};
// Every folder holding "terrain.hf" (or ".gz") among the data names (a
// null-ended list, as file_index_build gives), once each, sorted by
// description ignoring case.
[[nodiscard]] std::vector<track_entry> scan_tracks(const char *const *names);
// Case-insensitive order of descriptions: <0, 0, >0.
[[nodiscard]] int compare_descriptions(const std::string &a, const std::string &b);

// ---------------------------------------------------------------- lighting

struct flare_element {
    float a0 = 0, a1 = 0;      // first bracket
    float r = 1, g = 1, b = 1;
    float scale = 0;
    std::string texture_name;
    uint32_t texture = 0;
};
struct lens_flare {
    int kind = 0;  // 0 point, 1 vector
    std::array<float, 3> v{};
    std::vector<flare_element> elements;  // at most 8
};

enum sky_face { SKY_N, SKY_E, SKY_S, SKY_W, SKY_U, SKY_ENV, SKY_FACES };

struct track_lighting {
    std::array<float, 3> sun_vector = {0.57735026f, 0.57735026f, 0.57735026f};
    std::array<float, 3> sun_colour = {1, 1, 1};
    std::array<float, 3> ambient = {0.5f, 0.5f, 0.5f};
    std::array<float, 3> global_ambient = {0.2f, 0.2f, 0.2f};
    float near_plane = 0.25f;
    float far_plane = 5000.0f;
    bool dynamic_lighting = false;
    std::array<float, 3> fog_colour{};
    float fog_density = 0;  // 0: no fog
    std::array<std::string, SKY_FACES> sky_names;
    std::array<uint32_t, SKY_FACES> sky{};
    std::vector<lens_flare> flares;
};
// Resets to the defaults, then reads "lighting" when the folder has one.
void load_lighting(track_lighting *l, const char *folder);

// ---------------------------------------------------------------- track objects

struct billboard {
    float x = 0, y = 0, z = 0;  // y absolute
    float size = 0;
    float rel_y = 0;             // as in the file
    float aspect = 1;
    int depth_key = 0;           // the renderer's
    uint32_t texture = 0;
    uint8_t r = 255, g = 255, b = 255, a = 255;
    bool flagger = false;        // made by "flaggers": never saved
    std::string texture_name;
};

struct statue {
    uint32_t model = 0, shape = 0, texture = 0, normal_texture = 0, specular_texture = 0;
    std::string model_name, texture_name, shape_name;  // empty = none
    float x = 0, y = 0, z = 0;  // y absolute
    float rel_y = 0;
    float angle = 0;
    std::array<float, 9> orientation = {1, 0, 0, 0, 1, 0, 0, 0, 1};  // rows
    float facing_distance = 0;  // turn to face a camera farther than this; 0 never
    bool flagger = false;
};

struct track_camera {
    float x = 0, y = 0, z = 0;  // y absolute
    float fov = 90;
    float autofovsize = 0;
};

constexpr int MAX_GATES = 1024;

struct walking_flagger {
    int billboard = -1;
    std::array<float, 3> start{}, end{};
    float walk_time = 1.0f;
    std::array<std::string, 5> frames;
};
struct standing_flagger {
    int billboard = -1;
    std::array<std::string, 4> frames;
};
struct gate_flagger {
    int billboard = -1;
    std::array<int, 4> gates{};  // -1 = none
    std::array<std::string, 2> frames;
};

struct track_objects {
    std::string folder;
    std::vector<billboard> billboards;
    std::vector<statue> statues;
    std::vector<track_camera> cameras;
    std::array<int16_t, MAX_GATES> gate_camera{};  // camera index, -1 none
    std::vector<walking_flagger> walking_flaggers;
    std::vector<standing_flagger> standing_flaggers;
    std::vector<gate_flagger> gate_flaggers;
    std::string map_name;  // "map.png" when the folder has one
    uint32_t map = 0;
};

// Empties the objects and sets the folder that the savers write to.
void track_objects_reset(track_objects *o, const char *folder);

// y is relative to the ground under (x, z) (terrain may be null: ground 0).
// A "#rrggbb#name" texture name tints the billboard. -1 for non-finite values.
int add_billboard(track_objects *o, const Terrain *t, float x, float y, float z, float size, float aspect,
                  const char *texture_name);
// Names may be null or "null" for none. -1 for non-finite values.
int add_statue(track_objects *o, const Terrain *t, float x, float y, float z, float angle, const char *model,
               const char *texture, const char *shape);

void load_billboards(track_objects *o, const Terrain *t);
void load_statues(track_objects *o, const Terrain *t);
// gate_count: the track's timing gates, for the gate flaggers' clamp.
void load_flaggers(track_objects *o, const Terrain *t, int gate_count);
void load_cameras(track_objects *o, const Terrain *t);
void load_map(track_objects *o);

// Write "billboards" / "statues" into the objects' folder (flaggers left
// out), whole or not at all.
[[nodiscard]] bool save_billboards(const track_objects *o, const Terrain *t);
[[nodiscard]] bool save_statues(const track_objects *o, const Terrain *t);

// The candidate names of a statue texture's normal ("_norm") or specular
// ("_spec") companion, in the order they are tried; then the model's.
[[nodiscard]] std::vector<std::string> texture_companions(const std::string &texture, const std::string &model,
                                                          const char *kind);

// ---------------------------------------------------------------- deformation
//
// Wheels dig ruts: each touching wheel turns its contact force into a dig
// vector every tic; the samples of a wheel are averaged into strokes, the
// strokes packed into erode packets, and every packet -- made here, from the
// server or from a demo -- is decoded into the erode queue, a little of which
// is applied to the height field every frame. All clients apply the same
// packets, so all see the same ruts.

constexpr int ERODE_QUEUE_SIZE = 0x20000;   // strokes
constexpr int ERODE_PACKET_STROKES = 64;    // strokes one wheel packs before sending
constexpr int ERODE_PACKET_HEADER = 17;     // bytes of a one-stroke packet
constexpr int ERODE_PACKET_MAX = ERODE_PACKET_HEADER + 4 * (ERODE_PACKET_STROKES - 1);
constexpr uint8_t ERODE_PACKET_TYPE = 1;

struct ErodeStroke {
    float x = 0, z = 0;     // ft
    float a = 0, b = 0;     // dig vector, each -1..1
    int32_t intensity = 0;  // 0..15 once it has travelled in a packet
};

// What one wheel's ground contact gives the digging for one tic. The race
// tic fills it from the wheel's contact record after the world step.
struct dig_contact {
    bool touching = false;
    std::array<float, 3> point{};           // contact point
    std::array<float, 3> force{};           // force the contact joint put on the wheel last step
    std::array<float, 3> wheel_velocity{};  // the wheel body's velocity
    std::array<float, 3> point_velocity{};  // velocity of the tyre at the contact point (slip)
};

// One wheel's samples not yet averaged, and its strokes not yet sent.
struct dig_accumulator {
    double sum_x = 0, sum_z = 0, sum_a = 0, sum_b = 0;
    int count = 0;                          // samples, at most 16
    float distance = 0;                     // travelled since the first sample
    float last_x = 0, last_z = 0;           // the last sample's position
    std::array<ErodeStroke, ERODE_PACKET_STROKES> strokes{};
    int stroke_count = 0;
    float min_dx = 0, max_dx = 0, min_dz = 0, max_dz = 0;  // step range, always holding 0
    int32_t last_commit_tic = 0;
};

// The last wheel digested, for the debug overlay.
struct dig_debug {
    float speed = 0, slip = 0, fx = 0, fz = 0, pfx = 0, pfz = 0;
};

// The erode queue and the global erosion level. One per run; the queue is
// emptied by each track load.
struct terrain_erosion {
    int32_t level = 0;                 // L: "--erode" x 1024, 0 = deformation off
    std::vector<ErodeStroke> ring;     // ERODE_QUEUE_SIZE once the first stroke arrives
    uint32_t head = 0;
    uint32_t length = 0;
    bool postponed = false;            // strokes near the local rider wait
    int32_t postpone_until = 0;        // tic
    bool full_reported = false;        // "Erode queue full!" once per run
    dig_debug debug;
};

// Where a wheel's packets go: online they are sent to the server (send set),
// offline (send null) they are decoded into the queue at once.
struct dig_env {
    Terrain *terrain = nullptr;
    terrain_erosion *erosion = nullptr;
    int32_t tic = 0;
    void (*send)(void *ctx, const uint8_t *packet, int length) = nullptr;
    void *send_ctx = nullptr;
};

// One tic of digging for one wheel (the caller checks level > 0).
void dig_wheel(dig_accumulator *acc, const dig_contact &contact, bool is_front, const dig_env &env);
// Averages the pending samples into a stroke in the packet buffer (nothing
// when there are none); sends the buffer first when it is full or when the
// stroke's step would widen its range past 64 ft.
void commit_stroke(dig_accumulator *acc, const dig_env &env);
// Encodes the buffered strokes and hands the packet on; empties the buffer.
void send_erode_packet(dig_accumulator *acc, const dig_env &env);

// Packet coding. `terrain_size` is the height field's extent in feet.
// Encodes 1..64 strokes whose steps lie in the given range (which must hold
// 0); returns the length, 0 for no strokes. The intensity is capped at 15.
[[nodiscard]] int encode_erode_packet(const ErodeStroke *strokes, int count, float min_dx, float max_dx,
                                      float min_dz, float max_dz, float terrain_size,
                                      uint8_t out[ERODE_PACKET_MAX]);
// The strokes of a packet, as many as its length holds; none for a packet
// shorter than 17 bytes or of another type.
[[nodiscard]] std::vector<ErodeStroke> decode_erode_packet(const uint8_t *packet, size_t length,
                                                          float terrain_size);

// Decodes a packet and appends its strokes to the queue; when the queue is
// full the stroke is dropped ("Erode queue full!" once per run).
void queue_erode_packet(terrain_erosion *e, const Terrain *t, const uint8_t *packet, size_t length);
// Applies some queued strokes. `rider` is the local rider's position (x, y,
// z) or null; strokes within 10 ft of it wait up to 256 tics. `level` is
// L / 1024; `now` the current tic.
void apply_erode_queue(terrain_erosion *e, Terrain *t, const float *rider, float level, int32_t now);
// Empties the queue and the postponement (track load).
void reset_erode_queue(terrain_erosion *e);
