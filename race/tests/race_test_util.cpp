#include "race/tests/race_test_util.h"

#include <chrono>
#include <cmath>
#include <fstream>

namespace {

constexpr double k_pi = 3.14159265358979323846;

std::vector<std::string> g_logged;
std::vector<std::string> g_messages;

std::string without_newline(const char *text) {
    std::string s(text);
    if (!s.empty() && s.back() == '\n')
        s.pop_back();
    return s;
}

}  // namespace

void write_text(const fs::path &path, std::string_view text) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), std::streamsize(text.size()));
}

std::vector<std::string> &race_test::logged() {
    return g_logged;
}
std::vector<std::string> &race_test::messages() {
    return g_messages;
}

bool race_test::logged_line(std::string_view text) const {
    for (const std::string &s : g_logged)
        if (s == text)
            return true;
    return false;
}

void race_test::SetUp() {
    g_logged.clear();
    g_messages.clear();
    race_services s;
    s.log = [](const char *text) { g_logged.push_back(without_newline(text)); };
    s.message = [](const char *text) { g_messages.push_back(without_newline(text)); };
    s.verbosity = [] { return 1; };
    race_set_services(s);
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    dir = fs::temp_directory_path() / ("kessrun_race_tests_" + std::to_string(stamp));
    fs::create_directories(dir);
}

void race_test::TearDown() {
    race_set_services(race_services{});
    std::error_code ec;
    fs::remove_all(dir, ec);
}

race_timing oval_timing() {
    race_timing rt;
    for (int i = 0; i < 6; ++i) {
        double a = 2.0 * k_pi * (i + 1) / 6.0;
        std::array<float, 3> p = oval_point(a);
        rt.checkpoints.push_back({p[0], 0.0f, p[2], float(-std::sin(a)), 0.0f, float(std::cos(a)), 15.0f});
    }
    for (int lap = 0; lap < 2; ++lap)
        for (int i = 0; i < 6; ++i)
            rt.sequence.push_back(i);
    rt.first_lap = rt.normal_lap = 6;
    rt.counting_first = rt.counting_normal = 6;
    rt.valid = true;
    return rt;
}

std::array<float, 3> oval_point(double a, double out) {
    double r = 100.0 + out;
    return {float(200.0 + r * std::cos(a)), 0.0f, float(200.0 + r * std::sin(a))};
}
