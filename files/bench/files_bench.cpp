// How long the file index takes to build for 10,000 loose files and for a
// 10,000-member archive, and how fast a ".gz" member streams next to its
// plain copy.
#include "files/files_local.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <zlib.h>

namespace {

namespace fs = std::filesystem;

constexpr int k_files = 10000;
constexpr size_t k_stream_bytes = 8 << 20;

fs::path make_root()
{
    std::random_device rd;
    fs::path root = fs::temp_directory_path() / ("kr_files_bench_" + std::to_string(rd()));
    fs::create_directories(root / "xdg");
    setenv("XDG_DATA_HOME", (root / "xdg").c_str(), 1);
    return root;
}

const fs::path g_root = make_root();

struct remove_at_exit {
    ~remove_at_exit()
    {
        std::error_code ec;
        fs::remove_all(g_root, ec);
    }
} g_remove;

void write(const fs::path &p, const std::string &bytes)
{
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

// Switches the game data directory to `name` under the root.
void use_data_dir(const char *name)
{
    setenv("KR_HOME", (g_root / name).c_str(), 1);
    files_reset_for_tests();
}

std::string sample_text(size_t n)
{
    std::string s;
    for (size_t i = 0; s.size() < n; i++)
        s += "vertex " + std::to_string(i % 977) + " " + std::to_string(i * 7919 % 100003) + " 0.25\n";
    s.resize(n);
    return s;
}

std::string gzip(const std::string &data)
{
    z_stream zs{};
    deflateInit2(&zs, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);  // 31: with a gzip wrapper
    std::string out(deflateBound(&zs, uLong(data.size())), '\0');
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    zs.avail_in = uInt(data.size());
    zs.next_out = reinterpret_cast<Bytef *>(out.data());
    zs.avail_out = uInt(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

void build_index(benchmark::State &state)
{
    for (auto _ : state) {
        file_index_free();
        const char *const *names = file_index_build();
        benchmark::DoNotOptimize(names);
    }
    state.SetItemsProcessed(state.iterations() * k_files);
    file_index_free();
}

void BM_index_loose_files(benchmark::State &state)
{
    if (!fs::exists(g_root / "loose"))
        for (int i = 0; i < k_files; i++)
            write(g_root / "loose" / ("dir" + std::to_string(i / 100)) / ("file" + std::to_string(i) + ".txt"), "x");
    use_data_dir("loose");
    build_index(state);
}
BENCHMARK(BM_index_loose_files)->Unit(benchmark::kMillisecond);

void BM_index_archive(benchmark::State &state)
{
    if (!fs::exists(g_root / "archive")) {
        std::string header, body;
        for (int i = 0; i < k_files; i++) {
            std::string data = "member " + std::to_string(i) + "\n";
            header += std::to_string(data.size()) + " tracks/t" + std::to_string(i / 100) + "/file" + std::to_string(i) + "\n";
            body += data;
        }
        write(g_root / "archive" / "data.saf", header + "-\n" + body);
    }
    use_data_dir("archive");
    build_index(state);
}
BENCHMARK(BM_index_archive)->Unit(benchmark::kMillisecond);

// Both copies as members of one archive, so both come through the index.
void stream_setup()
{
    if (fs::exists(g_root / "stream"))
        return;
    std::string text = sample_text(k_stream_bytes);
    std::string packed = gzip(text);
    std::string header = std::to_string(text.size()) + " plain.txt\n" + std::to_string(packed.size()) + " packed.txt.gz\n-\n";
    write(g_root / "stream" / "s.saf", header + text + packed);
}

void stream_read(benchmark::State &state, const char *name, bool by_char)
{
    stream_setup();
    use_data_dir("stream");
    if (!file_index_build()) {
        state.SkipWithError("index");
        return;
    }
    std::string block(65536, '\0');
    for (auto _ : state) {
        data_file_ptr f(data_open(name, "rb"));
        size_t total = 0;
        if (by_char) {
            while (data_getc(f.get()) >= 0)
                total++;
        } else {
            size_t n;
            while ((n = data_read(f.get(), block.data(), block.size())) > 0)
                total += n;
        }
        if (total != k_stream_bytes)
            state.SkipWithError("short read");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(k_stream_bytes));
    file_index_free();
}

void BM_stream_plain_read(benchmark::State &state) { stream_read(state, "@plain.txt", false); }
void BM_stream_gz_read(benchmark::State &state) { stream_read(state, "@packed.txt", false); }
void BM_stream_plain_getc(benchmark::State &state) { stream_read(state, "@plain.txt", true); }
void BM_stream_gz_getc(benchmark::State &state) { stream_read(state, "@packed.txt", true); }
BENCHMARK(BM_stream_plain_read)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_stream_gz_read)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_stream_plain_getc)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_stream_gz_getc)->Unit(benchmark::kMillisecond);

}  // namespace
