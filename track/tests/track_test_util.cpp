#include "track/tests/track_test_util.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::vector<std::string> g_messages;

struct test_root {
    fs::path root, data, xdg, home;
    test_root() {
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        root = fs::temp_directory_path() / ("kessrun_track_tests_" + std::to_string(stamp));
        data = root / "data";
        xdg = root / "xdg";
        home = xdg / "Kessrun";
        fs::create_directories(data / "tracks");
        fs::create_directories(home);
        // Before any data name is looked up: the search directories are
        // fixed on first use.
        setenv("KR_HOME", data.c_str(), 1);
        setenv("XDG_DATA_HOME", xdg.c_str(), 1);
    }
    ~test_root() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
};

test_root &root() {
    static test_root r;
    return r;
}
// Set up before main, so no lookup can come first.
[[maybe_unused]] const test_root &g_root = root();

}  // namespace

const fs::path &test_data_dir() {
    return root().data;
}
const fs::path &test_home_dir() {
    return root().home;
}

void write_file(const fs::path &path, std::string_view bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

std::string read_file(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string height_field(int n, float spacing, float lo, float hi, const std::vector<uint16_t> &samples) {
    char header[128];
    std::snprintf(header, sizeof header, "%d %f %f %f\n:", n, double(spacing), double(lo), double(hi));
    std::string out(header);
    for (uint16_t s : samples) {
        out += char(s & 0xff);
        out += char(s >> 8);
    }
    return out;
}

void write_track(const fs::path &dir, int n, float spacing, float lo, float hi, const std::vector<uint16_t> &samples) {
    write_file(dir / "terrain.hf", height_field(n, spacing, lo, hi, samples));
    write_file(dir / "tileinfo", "name dirt\naddtile\n");
    size_t tiles = size_t(1) << n;
    write_file(dir / "tilemap", std::string(tiles * tiles, '\0'));
}

void track_test::SetUp() {
    g_messages.clear();
    track_services s;
    s.message = [](const char *text) {
        std::string line(text);
        while (!line.empty() && line.back() == '\n')
            line.pop_back();
        g_messages.push_back(line);
    };
    s.stage = [](const char *) {};
    s.stage_done = [](const char *) {};
    track_set_services(s);
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = root().root / "scratch" / (std::string(info->test_suite_name()) + "_" + info->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
}

void track_test::TearDown() {
    track_set_services({});
    fs::remove_all(dir);
}

const std::vector<std::string> &track_test::messages() const {
    return g_messages;
}

bool track_test::said(std::string_view text) const {
    for (const std::string &m : g_messages)
        if (m == text)
            return true;
    return false;
}
