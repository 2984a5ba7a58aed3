// Terrain renderer cost on the motocross starter track (generated into the
// build directory): CPU time per frame and ground triangles drawn, from the
// starting grid and from camera positions spread over a lap (along the
// timing gates). The selection benchmarks run the level of detail alone;
// the frame benchmarks draw at 1280x720 (on a display: tools/with-display.sh),
// timing only the renderer's own calls (update and draw, no glFinish).
// Without a display the GL calls are stubs, which leaves the CPU cost of the
// renderer and the GL layer alone; with one, the driver's share is in too.
#include "files/files.h"
#include "platform/platform.h"
#include "render/render_local.h"
#include "track/track.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int k_width = 1280, k_height = 720;
constexpr float k_eye = 5.0f;  // ft above the ground

struct view {
    float pos[3];
    float dir[3];
};

velk_window *window = nullptr;
bool real_gl = false;
Terrain terrain;
std::vector<view> grid_views, lap_views;

void look(view *v, float x, float z, float tx, float tz) {
    v->pos[0] = x;
    v->pos[1] = terrain_height_at(&terrain, x, z) + k_eye;
    v->pos[2] = z;
    float ty = terrain_height_at(&terrain, tx, tz) + k_eye;
    float d[3] = {tx - x, ty - v->pos[1], tz - z};
    float l = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    for (int k = 0; k < 3; ++k)
        v->dir[k] = l > 0 ? d[k] / l : (k == 0 ? 1.0f : 0.0f);
}

// The gate pieces and checkpoint centres of "timing_gates".
void read_gates(const std::string &path, std::vector<std::array<float, 2>> *gate,
                std::vector<std::array<float, 2>> *checkpoints) {
    FILE *f = std::fopen(path.c_str(), "r");
    if (!f)
        return;
    char line[1024];
    bool in_checkpoints = false;
    while (std::fgets(line, sizeof line, f)) {
        float a, b, c, r;
        if (std::strncmp(line, "checkpoints:", 12) == 0)
            in_checkpoints = true;
        else if (!in_checkpoints && std::sscanf(line, " [ %f %f %f ]", &a, &b, &c) == 3)
            gate->push_back({a, c});
        else if (in_checkpoints && std::sscanf(line, "%f [ %f %f %f ]", &r, &a, &b, &c) == 4)
            checkpoints->push_back({a, c});
    }
    std::fclose(f);
}

template <typename F> struct stub;
template <typename R, typename... A> struct stub<R (*)(A...)> {
    static R call(A...) { return R(); }
};
GLuint next_name = 1;
void gen_names(GLsizei n, GLuint *out) {
    for (GLsizei i = 0; i < n; ++i)
        out[i] = next_name++;
}
GLenum complete(GLenum) {
    return GL_FRAMEBUFFER_COMPLETE;
}

// Without a display every GL call is a stub that hands out names, so the
// frame benchmark measures the renderer's and the GL layer's own work.
void use_stub_gl() {
#define KRGL_STUB(type, name) gl.name = stub<type>::call;
    KRGL_FUNCTIONS(KRGL_STUB)
    KRGL_OPTIONAL_FUNCTIONS(KRGL_STUB)
#undef KRGL_STUB
    gl.GenTextures = gen_names;
    gl.GenBuffers = gen_names;
    gl.GenVertexArrays = gen_names;
    gl.GenFramebuffers = gen_names;
    gl.CheckFramebufferStatus = complete;
    krgl_reset_state();
    krgl.ready = true;
    krgl.facts.major = 3;
    krgl.facts.renderer = "stub GL";
    krgl_make_buffers();
    for (int k = 1; k < KRGL_PROGRAMS; ++k)
        krgl.programs[size_t(k)].program = GLuint(k);
}

void setup() {
    static bool done = false;
    if (done)
        return;
    done = true;
    setenv("KR_HOME", KR_DATA_DIR, 1);
    setenv("XDG_DATA_HOME", "/tmp/kr_terrain_bench_home", 1);
    (void)file_index_build();
    const char *d = std::getenv("DISPLAY");
    if (d && *d) {
        velk_set_gl_request(3, 3, velk_gl_kind::core);
        window = velk_window_open("terrain bench", k_width, k_height, 24, false, 8, 24, 0, 0);
        real_gl = window && krglInit() && krglCreatePrograms();
    }
    if (!real_gl)
        use_stub_gl();
    track_services s;
    terrain_render_fill_services(&s);
    track_set_services(s);
    if (!terrain_load(&terrain, "@tracks/motocross")) {
        std::fprintf(stderr, "cannot load the motocross track from %s\n", KR_DATA_DIR);
        std::abort();
    }
    std::vector<std::array<float, 2>> gate, cps;
    read_gates(std::string(KR_DATA_DIR) + "/tracks/motocross/timing_gates", &gate, &cps);
    if (gate.empty() || cps.empty()) {
        std::fprintf(stderr, "no timing gates\n");
        std::abort();
    }
    // The grid: from every gate piece towards the first checkpoint.
    for (const auto &g : gate) {
        view v;
        look(&v, g[0], g[1], cps[0][0], cps[0][1]);
        grid_views.push_back(v);
    }
    // A lap: eight points between consecutive checkpoints, looking ahead.
    for (size_t k = 0; k < cps.size(); ++k) {
        const auto &a = cps[k], &b = cps[(k + 1) % cps.size()];
        for (int i = 0; i < 8; ++i) {
            float f = float(i) / 8.0f, x = a[0] + (b[0] - a[0]) * f, z = a[1] + (b[1] - a[1]) * f;
            view v;
            look(&v, x, z, x + (b[0] - a[0]) * 0.25f, z + (b[1] - a[1]) * 0.25f);
            lap_views.push_back(v);
        }
    }
}

const std::vector<view> &views_of(int which) {
    return which == 0 ? grid_views : lap_views;
}

int variant_triangles(int m, int flags) {
    int k = 1 << m;
    int edges = (flags & 1) + (flags >> 1 & 1) + (flags >> 2 & 1) + (flags >> 3 & 1);
    return 8 * k * k - k * edges;
}

// Level of detail alone: split marking and patch selection per frame.
void BM_TerrainSelect(benchmark::State &state) {
    setup();
    const std::vector<view> &views = views_of(int(state.range(0)));
    const terrain_render_settings &s = terrain_render_config();
    int m = s.mesh_exponent;
    std::vector<terrain_level_plan> plan = terrain_plan_levels(terrain.dim, terrain.spacing, s.texture_levels);
    std::vector<terrain_patch> patches;
    size_t k = 0;
    double triangles = 0, patch_count = 0, frames = 0;
    for (auto _ : state) {
        const view &v = views[k];
        k = (k + 1) % views.size();
        // Detail levels centred on the camera, as the texture update keeps them.
        std::vector<terrain_region> regions;
        int cx = int(std::floor(v.pos[0] * terrain.inv_spacing)), cz = int(std::floor(v.pos[2] * terrain.inv_spacing));
        for (const terrain_level_plan &p : plan)
            regions.push_back(p.bit == TERRAIN_WHOLE_LEVEL
                                  ? terrain_region{0, 0, p.size}
                                  : terrain_region{terrain_level_origin(cx, p.size, terrain.dim),
                                                   terrain_level_origin(cz, p.size, terrain.dim), p.size});
        terrain_mark_splits(&terrain, m, v.pos, regions.data(), int(regions.size()));
        terrain_select_patches(&terrain, m, v.pos, v.dir, &patches);
        for (const terrain_patch &p : patches)
            triangles += variant_triangles(m, p.flags);
        patch_count += double(patches.size());
        ++frames;
    }
    state.counters["ground_tris"] = triangles / std::max(1.0, frames);
    state.counters["patches"] = patch_count / std::max(1.0, frames);
    state.SetLabel(state.range(0) == 0 ? "grid" : "lap");
}
BENCHMARK(BM_TerrainSelect)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// A whole frame of the renderer at 1280x720: per-frame update (one height
// block, the radii budget, one detail-texture step) and the draw. The GPU
// work is not waited for, so the time is the CPU's.
void BM_TerrainFrame(benchmark::State &state) {
    setup();
    const std::vector<view> &views = views_of(int(state.range(0)));
    track_lighting light;
    // 96 frames spread over the whole list.
    size_t k = 0, step = std::max<size_t>(1, views.size() / 96);
    double triangles = 0, frames = 0;
    for (auto _ : state) {
        const view &v = views[k];
        k = (k + step) % views.size();
        state.PauseTiming();
        int w = 0, h = 0;
        if (window)
            (void)velk_frame_begin(window, &w, &h);
        krglViewport(0, 0, k_width, k_height);
        krglClearColor(0.196078f, 0.6f, 0.8f, 0.0f);
        krglClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        krgl_stats().ground_polygons.count = 0;
        state.ResumeTiming();

        terrain_render_update(&terrain, 1);
        terrain_update_detail_textures(&terrain);
        terrain_camera c;
        for (int i = 0; i < 3; ++i) {
            c.position[i] = v.pos[i];
            c.forward[i] = v.dir[i];
        }
        c.fov_y = 60.0f;
        c.width = k_width;
        c.height = k_height;
        terrain_draw_view(&terrain, c, &light);
        krglFlush();

        state.PauseTiming();
        triangles += krgl_stats().ground_polygons.count;
        // KR_TERRAIN_BENCH_SHOT=prefix saves each run's first frame to look at.
        const char *shot = std::getenv("KR_TERRAIN_BENCH_SHOT");
        if (shot && frames == 0 && real_gl) {
            std::vector<uint8_t> rgb;
            std::string path = std::string(shot) + std::to_string(state.range(0)) + ".png";
            if (read_frame_rgb(k_width, k_height, &rgb))
                (void)write_png_rgb_top_down(path.c_str(), rgb.data(), k_width, k_height);
        }
        ++frames;
        krglFinish();
        if (window)
            velk_frame_end(window);
        state.ResumeTiming();
    }
    state.counters["ground_tris"] = triangles / std::max(1.0, frames);
    state.SetLabel(std::string(state.range(0) == 0 ? "grid " : "lap ") + krgl_facts().renderer);
}
BENCHMARK(BM_TerrainFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(96);

}  // namespace
