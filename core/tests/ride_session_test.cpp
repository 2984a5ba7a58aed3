// Controls files, and headless runs of the built program on the generated
// game data (the build directory).

#include "core/core_local.h"
#include "core/lifecycle_local.h"
#include "hash/hash.h"
#include "render/render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class ScratchDir : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("kessrun_ride_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(dir / "xdg");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    fs::path write(const char *name, const std::string &text) {
        fs::path p = dir / name;
        std::ofstream(p) << text;
        return p;
    }
    fs::path dir;
};

using ControlsFile = ScratchDir;

TEST_F(ControlsFile, LinesApplyFromTheirTimeUntilTheNext) {
    fs::path p = write("c.txt", "# warm up\n"
                                "0 0 0 0 0 0 1 0 0 0\n"
                                "\n"
                                "2.5 0.1 1 0 0 0 0 0 0 -1\r\n"
                                "4 0 0 1 1 0 0 0 0 0\n");
    std::vector<controls_line> lines;
    ASSERT_TRUE(read_controls_file(p.c_str(), &lines));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(controls_at(lines, 0.0)[5], 1.0f);
    EXPECT_EQ(controls_at(lines, 2.49)[1], 0.0f);
    std::array<float, 9> at3 = controls_at(lines, 3.0);
    EXPECT_FLOAT_EQ(at3[0], 0.1f);
    EXPECT_EQ(at3[1], 1.0f);
    EXPECT_EQ(at3[8], -1.0f);
    EXPECT_EQ(controls_at(lines, 100.0)[2], 1.0f);
    // Before the first line every input is released.
    std::vector<controls_line> late = {{1.0, {1, 1, 1, 1, 1, 1, 1, 1, 1}}};
    EXPECT_EQ(controls_at(late, 0.5), (std::array<float, 9>{}));
}

TEST_F(ControlsFile, BadFilesAreRefused) {
    const char *bad[] = {
        "0 1 2 3\n",                      // too few values
        "0 0 0 0 0 0 0 0 0 0 0\n",        // too many
        "1 0 0 0 0 0 0 0 0 0\n0.5 0 0 0 0 0 0 0 0 0\n",  // time going back
        "-1 0 0 0 0 0 0 0 0 0\n",         // before the load
        "0 nan 0 0 0 0 0 0 0 0\n",
        "x 0 0 0 0 0 0 0 0 0\n",
    };
    for (const char *text : bad) {
        std::vector<controls_line> lines;
        EXPECT_FALSE(read_controls_file(write("bad.txt", text).c_str(), &lines)) << text;
    }
    std::vector<controls_line> lines;
    EXPECT_FALSE(read_controls_file((dir / "missing.txt").c_str(), &lines));
}

// ---------------------------------------------------------------- the built program

class Headless : public ScratchDir {
protected:
    void SetUp() override {
        ScratchDir::SetUp();
        // The build generates the starter tracks; their absence is a build fault.
        ASSERT_TRUE(fs::exists(fs::path(KR_DATA_DIR) / "tracks" / "motocross" / "terrain.hf"))
            << "no generated data in " << KR_DATA_DIR;
    }
    std::string command(const std::string &args) {
        return "cd '" + dir.string() + "' && exec env -u VELK_LOGFILE -u VELK_LOGFILE_FLAGS -u DISPLAY" +
               " -u WAYLAND_DISPLAY SDL_VIDEODRIVER=dummy KR_HOME='" KR_DATA_DIR "' XDG_DATA_HOME='" +
               (dir / "xdg").string() + "' '" KESSRUN_EXE "' " + args + " >/dev/null 2>stderr.txt";
    }
    int run(const std::string &args) {
        int status = std::system(command(args).c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // The program as a child process of its own (the shell execs it).
    pid_t start(const std::string &args) {
        std::string cmd = command(args);
        pid_t pid = fork();
        if (pid == 0) {
            execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
        return pid;
    }
    fs::path home() { return dir / "xdg" / "Kessrun"; }
    std::string read(const fs::path &p) {
        std::ifstream in(p);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
};

TEST_F(Headless, ThirtySecondsGiveOneTelemetryLinePerTic) {
    ASSERT_EQ(run("--headless --track motocross --quit-after 30 --telemetry t.csv"), 0) << read(dir / "stderr.txt");
    std::istringstream csv(read(dir / "t.csv"));
    std::string header, line, last;
    std::getline(csv, header);
    EXPECT_EQ(header.rfind("tic,time,x,y,z,vx,vy,vz,speed_mph,rpm,gear,clutch,throttle,steer,", 0), 0u);
    int lines = 0;
    while (std::getline(csv, line)) {
        ++lines;
        last = line;
    }
    EXPECT_EQ(lines, 3840);
    EXPECT_EQ(last.rfind("3840,30.000000,", 0), 0u) << last;
    // Shut down normally: the configuration written, the log closed.
    std::string log = read(dir / "xdg" / "Kessrun" / "lastlog.txt");
    EXPECT_NE(log.find("Writing config files"), std::string::npos);
    EXPECT_NE(log.find("Finished deallocating track"), std::string::npos);
    EXPECT_TRUE(fs::exists(dir / "xdg" / "Kessrun" / "config"));
}

TEST_F(Headless, LineupAndControlsFile) {
    write("c.txt", "0 0 0 0 0 0 0 0 0 0\n14 0 1 0 0 0 0 0 0 0\n");
    ASSERT_EQ(run("--headless --track motocross --lineup 1,2,2 --controls c.txt --quit-after 1 --telemetry t.csv"),
              0)
        << read(dir / "stderr.txt");
    std::string log = read(dir / "xdg" / "Kessrun" / "lastlog.txt");
    EXPECT_NE(log.find("Loading bikes...done"), std::string::npos);
    std::istringstream csv(read(dir / "t.csv"));
    std::string line;
    int lines = -1;
    while (std::getline(csv, line))
        ++lines;
    EXPECT_EQ(lines, 128);
}

// The local rider with the configured (default) setup, arcade physics on,
// on the start grids of the starter tracks, which face different ways: it
// stands upright with no input, and full throttle from 1 s rides away, or
// on motocross, where the gate stays up for 13 s, stops against the gate.
TEST_F(Headless, LocalRiderStandsOnTheGridAndRidesAway) {
    struct sample {
        double x, z, lean;
        int crashed;
    };
    auto ride = [&](const char *track, const char *controls, std::vector<sample> *out) {
        write("c.txt", controls);
        std::string args = std::string("--headless --track ") + track +
                           " --lineup 1 --controls c.txt --quit-after 5 --telemetry t.csv";
        ASSERT_EQ(run(args), 0) << read(dir / "stderr.txt");
        std::istringstream csv(read(dir / "t.csv"));
        std::string line;
        std::getline(csv, line);  // tic,time,x,y,z,...,lean (16),...,crashed (21),...
        while (std::getline(csv, line)) {
            std::vector<double> f;
            std::istringstream ls(line);
            for (std::string cell; std::getline(ls, cell, ',');)
                f.push_back(std::strtod(cell.c_str(), nullptr));
            ASSERT_GE(f.size(), 22u) << line;
            out->push_back({f[2], f[4], f[16], int(f[21])});
        }
        ASSERT_EQ(out->size(), 640u);
    };
    struct {
        const char *track;
        double min_travel, max_travel;  // ft in 5 s
    } cases[] = {{"motocross", 0.0, 3.0}, {"practice", 40.0, 1e9}};
    for (const auto &c : cases) {
        const char *track = c.track;
        std::vector<sample> still;
        ride(track, "0 0 0 0 0 0 0 0 0 0\n", &still);
        double worst = 0;
        int crashed = 0;
        for (const sample &s : still) {
            worst = std::max(worst, std::fabs(s.lean));
            crashed += s.crashed;
        }
        EXPECT_LT(worst, 0.2) << track;
        EXPECT_EQ(crashed, 0) << track;

        std::vector<sample> away;
        ride(track, "0 0 0 0 0 0 0 0 0 0\n1 0 1 0 0 0 0 0 0 0\n", &away);
        worst = 0;
        crashed = 0;
        for (const sample &s : away) {
            worst = std::max(worst, std::fabs(s.lean));
            crashed += s.crashed;
        }
        EXPECT_LT(worst, 0.2) << track;
        EXPECT_EQ(crashed, 0) << track;
        double dx = away.back().x - away.front().x, dz = away.back().z - away.front().z;
        EXPECT_GE(std::hypot(dx, dz), c.min_travel) << track;
        EXPECT_LE(std::hypot(dx, dz), c.max_travel) << track;
    }
}

// "--seed": two runs with computer riders repeat each other exactly.
TEST_F(Headless, SameSeedSameTelemetry) {
    write("c.txt", "0 0 0 0 0 0 0 0 0 0\n1 0 1 0 0 0 0 0 0 0\n6 0.3 1 0 0 0 0 0 0 0\n");
    const std::string args = "--headless --track motocross --lineup 1,2,2,2 --seed 5 --controls c.txt --erode 4 "
                             "--quit-after 20 --telemetry ";
    ASSERT_EQ(run(args + "a.csv"), 0) << read(dir / "stderr.txt");
    ASSERT_EQ(run(args + "b.csv"), 0) << read(dir / "stderr.txt");
    std::string a = read(dir / "a.csv"), b = read(dir / "b.csv");
    EXPECT_GT(a.size(), 2560u * 50);
    EXPECT_TRUE(a == b) << "the runs part at byte "
                        << std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin();

    // Watching a computer rider, whose bike comes from the shuffled roster:
    // the seed decides the ride.
    auto watch = [&](int seed) {
        std::string name = "s" + std::to_string(seed) + ".csv";
        EXPECT_EQ(run("--headless --track motocross --lineup 2,2,2,2 --quit-after 2 --seed " + std::to_string(seed) +
                      " --telemetry " + name),
                  0);
        return read(dir / name);
    };
    std::string five = watch(5);
    EXPECT_EQ(watch(5), five);
    EXPECT_TRUE(watch(6) != five || watch(7) != five);
}

// Options taken but without effect in this build say so, on standard error
// and in the log; the run goes on.
TEST_F(Headless, IgnoredOptionsSaySo) {
    ASSERT_EQ(run("--headless --track motocross --quit-after 1 --record-audio a.raw race.krdemo"), 0)
        << read(dir / "stderr.txt");
    const char *lines[] = {"--record-audio: no sound output in this build, option ignored\n",
                           "race.krdemo: no demo playback in this build, file ignored\n"};
    std::string err = read(dir / "stderr.txt");
    std::string log = read(dir / "xdg" / "Kessrun" / "lastlog.txt");
    for (const char *line : lines) {
        EXPECT_NE(err.find(line), std::string::npos) << err;
        EXPECT_NE(log.find(line), std::string::npos) << line;
    }
    EXPECT_FALSE(fs::exists(dir / "a.raw"));
}

// The track of the last load is written back, and the next start rides it.
TEST_F(Headless, LastTrackIsRemembered) {
    ASSERT_EQ(run("--headless --track practice --quit-after 1"), 0) << read(dir / "stderr.txt");
    std::string config = read(dir / "xdg" / "Kessrun" / "config");
    EXPECT_NE(config.find("\ntrack=tracks/practice\n"), std::string::npos) << config;
    ASSERT_EQ(run("--headless --debug --quit-after 1"), 0) << read(dir / "stderr.txt");
    std::string log = read(dir / "xdg" / "Kessrun" / "lastlog.txt");
    EXPECT_NE(log.find("Loading '@tracks/practice'"), std::string::npos);
}

TEST_F(Headless, UnusableFilesGiveBadArg) {
    EXPECT_EQ(run("--headless --track motocross --controls missing.txt --quit-after 1"), 1);
    EXPECT_EQ(read(dir / "stderr.txt"), "Bad arg for --controls\n");
    write("c.txt", "0 1 2\n");
    EXPECT_EQ(run("--headless --track motocross --controls c.txt --quit-after 1"), 1);
    EXPECT_EQ(read(dir / "stderr.txt"), "Bad arg for --controls\n");
    EXPECT_EQ(run("--headless --track motocross --telemetry no/such/dir/t.csv --quit-after 1"), 1);
    EXPECT_EQ(read(dir / "stderr.txt"), "Bad arg for --telemetry\n");
}

// Full throttle from 1 s carries the local rider off the edge of each
// starter track's height field; beyond it the border heights continue, so
// the bike rides on instead of falling.
TEST_F(Headless, FullThrottleOffTheEdgeStaysOnTheGround) {
    int tracks = 0;
    for (const fs::directory_entry &e : fs::directory_iterator(fs::path(KR_DATA_DIR) / "tracks")) {
        std::string track = e.path().filename().string();
        SCOPED_TRACE(track);
        ++tracks;
        Terrain t;
        ASSERT_TRUE(terrain_load(&t, e.path().c_str()));
        write("c.txt", "0 0 0 0 0 0 0 0 0 0\n1 0 1 0 0 0 0 0 0 0\n");
        ASSERT_EQ(run("--headless --track " + track + " --lineup 1 --controls c.txt --quit-after 40 --telemetry t.csv"),
                  0)
            << read(dir / "stderr.txt");
        std::istringstream csv(read(dir / "t.csv"));
        std::string line;
        std::getline(csv, line);  // tic,time,x,y,z,...
        int outside = 0, lines = 0;
        double lowest = 1e9, x = 0, y = 0, z = 0;
        while (std::getline(csv, line)) {
            std::vector<double> f;
            std::istringstream ls(line);
            for (std::string cell; std::getline(ls, cell, ',');)
                f.push_back(std::strtod(cell.c_str(), nullptr));
            ASSERT_GE(f.size(), 5u) << line;
            x = f[2], y = f[3], z = f[4];
            ++lines;
            if (x < 0 || z < 0 || x > t.extent || z > t.extent)
                ++outside;
            lowest = std::min(lowest, y - terrain_height_at(&t, float(x), float(z)));
        }
        ASSERT_EQ(lines, 40 * 128);
        EXPECT_GT(outside, 128) << "the ride no longer leaves the height field";
        // The frame never sinks into the ground and ends riding on it.
        EXPECT_GT(lowest, 0.0);
        EXPECT_LT(std::fabs(y - terrain_height_at(&t, float(x), float(z))), 5.0) << x << " " << y << " " << z;
        terrain_unload(&t);
    }
    EXPECT_GE(tracks, 3);
}

// A start that cannot go on says why, on standard error and in the log, and
// a headless run then ends with 1 instead of running without a track.
TEST_F(Headless, DeadEndsSayWhy) {
    fs::create_directories(home() / "tracks" / "broken");
    std::ofstream(home() / "tracks" / "broken" / "terrain.hf") << "not a height field\n";
    struct dead_end {
        const char *args;
        const char *line;
    };
    const dead_end cases[] = {
        {"--track motocros", "Can't find track \"motocros\"\n"},
        {"--track broken", "Can't load track \"tracks/broken\"\n"},
    };
    for (const dead_end &c : cases) {
        EXPECT_EQ(run(std::string("--headless --quit-after 1 ") + c.args), 1) << c.args;
        EXPECT_NE(read(dir / "stderr.txt").find(c.line), std::string::npos) << read(dir / "stderr.txt");
        EXPECT_NE(read(home() / "lastlog.txt").find(c.line), std::string::npos) << c.args;
    }
}

// A track whose heights come from "terrain.png" has them headless too: the
// height digest (logged with --super-debug) is that of the image's samples,
// not of an all-zero field.
TEST_F(Headless, HeightImageTrackHasItsHeights) {
    fs::path track = home() / "tracks" / "pngland";
    fs::create_directories(track.parent_path());
    fs::copy(fs::path(KR_DATA_DIR) / "tracks" / "motocross", track, fs::copy_options::recursive);
    std::string hf = read(track / "terrain.hf");
    size_t colon = hf.find(':');
    ASSERT_NE(colon, std::string::npos);
    int n = std::atoi(hf.c_str());
    int dim = (1 << (n + 1)) + 1;
    ASSERT_EQ(hf.size() - colon - 1, size_t(dim) * size_t(dim) * 2);
    std::vector<uint16_t> samples(size_t(dim) * size_t(dim));
    for (size_t k = 0; k < samples.size(); ++k)
        samples[k] = uint16_t(uint8_t(hf[colon + 1 + 2 * k]) | uint8_t(hf[colon + 2 + 2 * k]) << 8);
    auto raw = ripemd160(std::span(reinterpret_cast<const uint8_t *>(hf.data() + colon + 1), hf.size() - colon - 1));
    char want[41];
    digest_to_hex(raw.data(), raw.size(), want);
    std::ofstream(track / "terrain.hf", std::ios::trunc) << hf.substr(0, colon) << "\n";
    ASSERT_TRUE(WritePng16((track / "terrain.png").c_str(), samples.data(), dim, dim));

    ASSERT_EQ(run("--headless --super-debug --track pngland --quit-after 0.1"), 0) << read(dir / "stderr.txt");
    std::string log = read(home() / "lastlog.txt");
    EXPECT_NE(log.find("Loading '@tracks/pngland'"), std::string::npos);
    EXPECT_NE(log.find(std::string(want) + "\n"), std::string::npos) << "height digest " << want;
}

// Ctrl-C in a headless run ends it through the normal shutdown: exit code
// 0, the configuration written and every telemetry line whole.
TEST_F(Headless, InterruptEndsThroughTheNormalShutdown) {
    pid_t pid = start("--headless --track motocross --telemetry t.csv");
    ASSERT_GT(pid, 0);
    auto wait_for = [&](double seconds, int *status) {
        auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < until) {
            if (waitpid(pid, status, WNOHANG) == pid)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    };
    int status = 0;
    // Running the race: telemetry lines are coming.
    for (int i = 0; i < 3000 && !(fs::exists(dir / "t.csv") && fs::file_size(dir / "t.csv") > 100000); ++i)
        ASSERT_FALSE(wait_for(0.02, &status)) << read(dir / "stderr.txt");
    ASSERT_EQ(kill(pid, SIGINT), 0);
    bool ended = wait_for(30, &status);
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    ASSERT_TRUE(ended) << "still running 30 s after SIGINT";
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::string csv = read(dir / "t.csv");
    ASSERT_FALSE(csv.empty());
    EXPECT_EQ(csv.back(), '\n');
    std::istringstream lines(csv);
    std::string line;
    std::getline(lines, line);
    auto fields = std::count(line.begin(), line.end(), ',');  // as many as the header names
    int expected_tic = 1;
    while (std::getline(lines, line)) {
        ASSERT_EQ(std::atoi(line.c_str()), expected_tic) << line;
        ASSERT_EQ(std::count(line.begin(), line.end(), ','), fields) << line;
        ++expected_tic;
    }
    std::string log = read(home() / "lastlog.txt");
    EXPECT_NE(log.find("Writing config files"), std::string::npos);
    EXPECT_NE(log.find("Finished deallocating track"), std::string::npos);
}

}  // namespace
