// The cost of one physics tic per rider (contacts, collisions and the
// step) for riders standing on the motocross starter track, generated into
// the build directory by kessrun_content.

#include "sim/sim.h"
#include "track/track.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

namespace {

const std::string k_data = KR_DATA_DIR;

Terrain &motocross()
{
    static Terrain t;
    if (!t.loaded) {
        // before any data name is looked up: the shapes are found there
        setenv("KR_HOME", k_data.c_str(), 1);
        if (!terrain_load(&t, (k_data + "/tracks/motocross").c_str()) || !physics_init())
            std::abort();
    }
    return t;
}

int32_t g_tic = 0;

void tic(const Terrain &t)
{
    physics_tic_params p;
    p.terrain = &t;
    p.tic = g_tic++;
    physics_tic(p);
}

// Riders in rows of ten, `dx` ft apart, 12 ft between rows, dropped onto
// the ground and left to settle for a second.
void stand(const Terrain &t, int n, double dx = 5)
{
    int model = bike_model_index("cr125");
    for (int k = 0; k < MAX_RIDERS; ++k)
        destroy_rider(rider_slot(k));
    for (int k = 0; k < n; ++k) {
        if (!build_rider(k, model))
            std::abort();
        RiderState *r = rider_slot(k);
        double x = t.extent / 2 + dx * (k % 10 - 4.5), z = t.extent / 2 + 12.0 * (k / 10);
        double y = terrain_height_at(&t, float(x), float(z));
        for (int i = 0; i < 400; ++i) {
            place_rider(r, x, y, z, 0);
            if (!rider_touches_terrain(r, &t))
                break;
            y += 0.25;
        }
    }
    for (int k = 0; k < 128; ++k)
        tic(t);
}

void BM_StandingRiders(benchmark::State &state)
{
    Terrain &t = motocross();
    int n = int(state.range(0));
    stand(t, n);
    for (auto _ : state)
        tic(t);
    // seconds of CPU per rider-tic, shown with its SI prefix (u = microseconds)
    state.counters["per_rider_tic"] =
        benchmark::Counter(double(state.iterations()) * n, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    for (int k = 0; k < n; ++k)
        destroy_rider(rider_slot(k));
}
BENCHMARK(BM_StandingRiders)->Arg(1)->Arg(10)->Arg(40)->Unit(benchmark::kMicrosecond);

// Riders with the engine, steering and crash updates, at full throttle from
// the standing start (ten seconds of riding: the grid spreads out, some
// riders jump and fall).
void BM_FullThrottleRiders(benchmark::State &state)
{
    Terrain &t = motocross();
    int n = int(state.range(0));
    physics_set_hooks(standard_rider_hooks());
    stand(t, n, double(state.range(1)));
    for (int k = 0; k < n; ++k) {
        RiderState *r = rider_slot(k);
        // the aids a computer rider rides with
        r->params.auto_shift = true;
        r->params.wheelie_limiter = r->params.stoppie_limiter = true;
        r->params.front_antilock = r->params.rear_antilock = true;
        set_throttle(r, 1);
        set_clutch(r, 1);
    }
    for (auto _ : state)
        tic(t);
    state.counters["per_rider_tic"] =
        benchmark::Counter(double(state.iterations()) * n, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    int crashes = 0;
    for (int k = 0; k < n; ++k)
        crashes += rider_slot(k)->crashes;
    state.counters["crashes"] = crashes;
    for (int k = 0; k < n; ++k)
        destroy_rider(rider_slot(k));
    physics_set_hooks({});
}
BENCHMARK(BM_FullThrottleRiders)->Args({1, 12})->Args({40, 12})->Args({40, 5})->Iterations(1280)->Unit(benchmark::kMicrosecond);

} // namespace
