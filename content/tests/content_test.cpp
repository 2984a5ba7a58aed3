// The starter tracks load through the track layer exactly as the game loads
// them, and the generator writes the same bytes every time.

#include "content/content.h"
#include "track/track.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string read_file(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class content : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        root = fs::temp_directory_path() / ("kessrun_content_test_" + std::to_string(stamp));
        ASSERT_TRUE(generate_tracks(root.c_str()));
    }
    static void TearDownTestSuite() { fs::remove_all(root); }
    static fs::path root;
};
fs::path content::root;

const char *const k_tracks[] = {"practice", "motocross", "supercross"};

TEST_F(content, EveryTrackLoadsWithoutAWord) {
    static std::vector<std::string> said;
    said.clear();
    track_services s;
    s.message = [](const char *text) { said.emplace_back(text); };
    track_set_services(s);
    for (const char *name : k_tracks) {
        std::string folder = (root / "tracks" / name).string();
        Terrain t;
        ASSERT_TRUE(terrain_load(&t, folder.c_str())) << name;
        EXPECT_EQ(t.tile_types.size(), 4u) << name;
        std::set<int> used(t.tilemap.begin(), t.tilemap.end());
        EXPECT_GE(used.size(), 2u) << name;
        EXPECT_EQ(t.tile_types[2].name, "sand");
        // distinct grip, rolling resistance and erosion per surface
        std::set<float> grip, roll, erode;
        for (const TileType &tt : t.tile_types) {
            grip.insert(tt.friction[0].coefficient);
            roll.insert(tt.roll_resist[0].high);
            erode.insert(tt.erode.depth);
        }
        EXPECT_EQ(grip.size(), 4u);
        EXPECT_EQ(roll.size(), 4u);
        EXPECT_EQ(erode.size(), 4u);

        track_lighting light;
        load_lighting(&light, folder.c_str());
        track_objects o;
        track_objects_reset(&o, folder.c_str());
        load_cameras(&o, &t);
        if (std::string(name) == "motocross") {
            EXPECT_EQ(o.cameras.size(), 6u);
        }
    }
    EXPECT_TRUE(said.empty()) << said.front();
    track_set_services({});

    Terrain practice;
    ASSERT_TRUE(terrain_load(&practice, (root / "tracks/practice").c_str()));
    EXPECT_EQ(practice.min_height, 0.0f);
    for (float h : practice.heights)
        ASSERT_EQ(h, 0.0f);
    Terrain mx;
    ASSERT_TRUE(terrain_load(&mx, (root / "tracks/motocross").c_str()));
    EXPECT_GT(mx.max_height - mx.min_height, 20.0f);  // hills and jumps
    int shaded = 0;
    for (uint8_t v : mx.shadow)
        shaded += v > 128;
    EXPECT_GT(shaded, 0);  // the jumps' faces cast shadows
}

// Reads "timing_gates" the way the timing layer does: optional gate pieces,
// checkpoints, then the two laps.
TEST_F(content, TimingGatesFormALap) {
    for (const char *name : k_tracks) {
        std::istringstream in(read_file(root / "tracks" / name / "timing_gates"));
        std::string word;
        in >> word;
        int pieces = 0;
        if (word == "startinggate:") {
            std::string line;
            std::getline(in, line);
            while (std::getline(in, line) && line != "checkpoints:") {
                float x, y, z, h;
                ASSERT_EQ(std::sscanf(line.c_str(), " [ %f %f %f ] %f", &x, &y, &z, &h), 4) << line;
                ++pieces;
            }
            word = "checkpoints:";
        }
        ASSERT_EQ(word, "checkpoints:") << name;
        int checkpoints = 0;
        std::string rest((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const char *p = rest.c_str();
        float r, v[6];
        int used = 0;
        while (std::sscanf(p, "%f [ %f %f %f ] [ %f %f %f ] %n", &r, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &used) ==
                   7 &&
               used > 0) {
            EXPECT_GT(r, 5.0f);
            EXPECT_NEAR(v[3] * v[3] + v[5] * v[5], 1.0f, 1e-3f);
            p += used;
            ++checkpoints;
            used = 0;
        }
        std::istringstream laps(p);
        std::vector<int> first, normal;
        laps >> word;
        ASSERT_EQ(word, "firstlap:");
        int k;
        while (laps >> k)
            first.push_back(k);
        laps.clear();
        laps >> word;
        ASSERT_EQ(word, "normallap:");
        while (laps >> k)
            normal.push_back(k);
        EXPECT_GE(checkpoints, 10) << name;
        EXPECT_EQ(int(first.size()), checkpoints);
        EXPECT_EQ(first, normal);
        EXPECT_EQ(pieces > 0, std::string(name) != "practice") << name;
    }
}

struct gate_line {
    double x, z, nx, nz;
};

// The checkpoints of a track's "timing_gates", in the order of a lap.
std::vector<gate_line> lap_gates(const fs::path &folder) {
    std::string text = read_file(folder / "timing_gates");
    size_t at = text.find("checkpoints:");
    size_t lap = text.find("firstlap:");
    std::vector<gate_line> gates;
    if (at == std::string::npos || lap == std::string::npos)
        return gates;
    std::istringstream in(text.substr(at + 12, lap - at - 12));
    std::string line;
    while (std::getline(in, line)) {
        float r, x, y, z, nx, ny, nz;
        if (std::sscanf(line.c_str(), "%f [ %f %f %f ] [ %f %f %f ]", &r, &x, &y, &z, &nx, &ny, &nz) == 7)
            gates.push_back({x, z, nx, nz});
    }
    return gates;
}

// Rides each track's centre line, a curve from gate to gate through the
// timing gates along their directions, and bounds what a wheel meets: the
// slope of the ground along the line, and the step between neighbouring
// height samples around it. A vertical face (a jump's gap dug as a pit)
// fails both.
TEST_F(content, CentreLineCanBeRolledOver) {
    const double max_slope = std::tan(35.0 * 3.14159265358979 / 180.0);
    for (const char *name : k_tracks) {
        fs::path folder = root / "tracks" / name;
        Terrain t;
        ASSERT_TRUE(terrain_load(&t, folder.c_str())) << name;
        std::vector<gate_line> gates = lap_gates(folder);
        ASSERT_GE(gates.size(), 3u) << name;
        auto sample = [&t](int i, int j) {
            i = std::clamp(i, 0, t.dim - 1);
            j = std::clamp(j, 0, t.dim - 1);
            return t.heights[size_t(j) * size_t(t.dim) + size_t(i)];
        };
        double worst_slope = 0, worst_step = 0, ridden = 0;
        std::string slope_at, step_at;
        for (size_t g = 0; g < gates.size(); ++g) {
            const gate_line &a = gates[g], &b = gates[(g + 1) % gates.size()];
            double chord = std::hypot(b.x - a.x, b.z - a.z);
            int steps = int(std::ceil(chord * 2.0));
            double px = a.x, pz = a.z, ph = terrain_height_at(&t, float(a.x), float(a.z));
            for (int k = 1; k <= steps; ++k) {
                // cubic Hermite from a to b, tangents along the gates
                double u = double(k) / steps, u2 = u * u, u3 = u2 * u;
                double h00 = 2 * u3 - 3 * u2 + 1, h10 = u3 - 2 * u2 + u, h01 = -2 * u3 + 3 * u2, h11 = u3 - u2;
                double x = h00 * a.x + h10 * chord * a.nx + h01 * b.x + h11 * chord * b.nx;
                double z = h00 * a.z + h10 * chord * a.nz + h01 * b.z + h11 * chord * b.nz;
                double h = terrain_height_at(&t, float(x), float(z));
                double run = std::hypot(x - px, z - pz);
                if (run > 0.05 && std::fabs(h - ph) / run > worst_slope) {
                    worst_slope = std::fabs(h - ph) / run;
                    slope_at = "(" + std::to_string(x) + ", " + std::to_string(z) + ")";
                }
                ridden += run;
                int ci = int(std::floor(x / t.spacing)), cj = int(std::floor(z / t.spacing));
                for (int j = cj - 1; j <= cj + 2; ++j)
                    for (int i = ci - 1; i <= ci + 2; ++i) {
                        double step = std::max(std::fabs(sample(i + 1, j) - sample(i, j)),
                                               std::fabs(sample(i, j + 1) - sample(i, j)));
                        if (step > worst_step) {
                            worst_step = step;
                            step_at = "(" + std::to_string(i) + ", " + std::to_string(j) + ")";
                        }
                    }
                px = x;
                pz = z;
                ph = h;
            }
        }
        std::printf("%s: %.0f ft ridden, steepest %.1f degrees, largest step %.2f ft (%.1f ft apart)\n", name,
                    ridden, std::atan(worst_slope) * 180 / 3.14159265358979, worst_step, double(t.spacing));
        EXPECT_GT(ridden, 500.0) << name;
        EXPECT_LE(worst_slope, max_slope) << name << " at " << slope_at;
        EXPECT_LE(worst_step, max_slope * t.spacing) << name << " between samples at " << step_at;
    }
}

TEST_F(content, GeneratorIsDeterministic) {
    fs::path again = root / "again";
    ASSERT_TRUE(generate_tracks(again.c_str()));
    for (const char *name : k_tracks)
        for (const auto &e : fs::directory_iterator(root / "tracks" / name))
            EXPECT_EQ(read_file(e.path()), read_file(again / "tracks" / name / e.path().filename()))
                << e.path();
}

}  // namespace
