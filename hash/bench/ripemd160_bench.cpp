#include "hash/hash.h"

#include <benchmark/benchmark.h>

#include <vector>

static void bm_ripemd160_1mib(benchmark::State &state)
{
    std::vector<uint8_t> data(1 << 20);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 31 + 7);
    for (auto _ : state) {
        auto d = ripemd160(data);
        benchmark::DoNotOptimize(d);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}
BENCHMARK(bm_ripemd160_1mib);
