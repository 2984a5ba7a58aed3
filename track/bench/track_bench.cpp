// Terrain query rates and the load time of the largest starter track
// (generated into the build directory by kessrun_content).

#include "track/track.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const std::string k_track = std::string(KR_DATA_DIR) + "/tracks/motocross";

Terrain &loaded() {
    static Terrain t;
    if (!t.loaded && !terrain_load(&t, k_track.c_str()))
        std::abort();
    return t;
}

// Points spread over the field, made once so the loop measures the query.
std::vector<std::pair<float, float>> points(const Terrain &t) {
    std::vector<std::pair<float, float>> p;
    uint32_t s = 12345;
    for (int k = 0; k < 4096; ++k) {
        s = s * 1664525u + 1013904223u;
        float x = float(s >> 8) / float(1 << 24) * t.extent;
        s = s * 1664525u + 1013904223u;
        float z = float(s >> 8) / float(1 << 24) * t.extent;
        p.emplace_back(x, z);
    }
    return p;
}

void BM_HeightAt(benchmark::State &state) {
    Terrain &t = loaded();
    auto p = points(t);
    size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(terrain_height_at(&t, p[k].first, p[k].second));
        k = (k + 1) & 4095;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HeightAt);

void BM_FaceNormal(benchmark::State &state) {
    Terrain &t = loaded();
    auto p = points(t);
    size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(terrain_face_normal(&t, p[k].first, p[k].second));
        k = (k + 1) & 4095;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FaceNormal);

void BM_LoadMotocross(benchmark::State &state) {
    for (auto _ : state) {
        Terrain t;
        if (!terrain_load(&t, k_track.c_str()))
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(t.heights.data());
    }
}
BENCHMARK(BM_LoadMotocross)->Unit(benchmark::kMillisecond);

}  // namespace
