// Costs of the GL layer and of texture loading. Runs on a real context when
// a display is there (tools/with-display.sh), else the GL calls are stubs
// and only the layer's own work is measured.
#include "platform/platform.h"
#include "render/render_local.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>

namespace {

template <typename F> struct stub;
template <typename R, typename... A> struct stub<R (*)(A...)> {
    static R call(A...) { return R(); }
};

velk_window *window = nullptr;
bool real_gl = false;

// A context once for the run, or stubs.
void ensure_layer()
{
    static bool done = false;
    if (done) {
        return;
    }
    done = true;
    const char *d = std::getenv("DISPLAY");
    if (d && *d) {
        velk_set_gl_request(3, 3, velk_gl_kind::compatibility);
        window = velk_window_open("render bench", 256, 256, 24, false, 8, 24, 0, 0);
        real_gl = window && krglInit() && krglCreatePrograms();
    }
    if (!real_gl) {
#define KRGL_STUB(type, name) gl.name = stub<type>::call;
        KRGL_FUNCTIONS(KRGL_STUB)
        KRGL_OPTIONAL_FUNCTIONS(KRGL_STUB)
#undef KRGL_STUB
        krgl_reset_state();
        krgl.ready = true;
        krgl.facts.major = 3;
        krgl_make_buffers();
        krgl.programs[1].program = 1;
    }
}

// 100,000 immediate-mode vertices (25,000 quads), queued and flushed.
void BM_ImmediateQueueAndFlush100k(benchmark::State &state)
{
    ensure_layer();
    state.SetLabel(real_gl ? krgl_facts().renderer : "stub GL");
    krglUseProgram(KRGL_UNLIT);
    krglBindTexture(GL_TEXTURE_2D, krgl_white_texture());
    for (auto _ : state) {
        krglBegin(KRGL_QUADS);
        for (int i = 0; i < 25000; i++) {
            float x = float(i % 100) * 0.01f, y = float(i / 100) * 0.004f;
            krglColor(x, y, 0.5f);
            krglVertex(x, y);
            krglVertex(x + 0.01f, y);
            krglVertex(x + 0.01f, y + 0.004f);
            krglVertex(x, y + 0.004f);
        }
        krglEnd();
        krglFlush();
        if (real_gl) {
            krglFinish();
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 100000);
}
BENCHMARK(BM_ImmediateQueueAndFlush100k)->Unit(benchmark::kMillisecond);

std::string png_1024()
{
    static std::string path;
    if (!path.empty()) {
        return path;
    }
    path = (std::filesystem::temp_directory_path() / "kr_render_bench_1024.png").string();
    std::vector<uint8_t> px(size_t(1024) * 1024 * 3);
    std::mt19937 rng(7);
    for (size_t y = 0; y < 1024; y++) {
        for (size_t x = 0; x < 1024; x++) {
            uint8_t *p = &px[(y * 1024 + x) * 3];
            p[0] = uint8_t(x / 4 + rng() % 16);
            p[1] = uint8_t(y / 4 + rng() % 16);
            p[2] = uint8_t((x + y) / 8 + rng() % 16);
        }
    }
    if (!write_png_rgb_top_down(path.c_str(), px.data(), 1024, 1024)) {
        path.clear();
    }
    return path;
}

// Decoding with the mip chain, no GL.
void BM_DecodePng1024WithMips(benchmark::State &state)
{
    std::string path = png_1024();
    for (auto _ : state) {
        kr_image img;
        if (!image_read(path.c_str(), &img)) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(img.pixels.data());
    }
}
BENCHMARK(BM_DecodePng1024WithMips)->Unit(benchmark::kMillisecond);

// The whole texture load: file, decode, mips, reductions, upload.
void BM_LoadTexturePng1024(benchmark::State &state)
{
    ensure_layer();
    if (!real_gl) {
        state.SkipWithError("needs a display");
        return;
    }
    std::string name = "!" + png_1024();
    for (auto _ : state) {
        GLuint t = LoadTexture(name.c_str());
        krglFinish();
        if (!t) {
            state.SkipWithError("load failed");
            break;
        }
        DeleteStaleTextures(true);
    }
}
BENCHMARK(BM_LoadTexturePng1024)->Unit(benchmark::kMillisecond);

} // namespace
