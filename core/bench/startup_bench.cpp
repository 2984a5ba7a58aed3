// Start-up as a player meets it: the built program is started in a window on
// the motocross starter track (generated into the build directory) with a
// fresh home directory, draws one frame and quits ("--quit-after" one tic).
// Its log gives the two figures, with the log's 10 ms resolution:
//   first_frame_s  from starting the process to the end of the first frame
//                  (the log line written when the frame loop ends);
//   track_load_s   the load track operation, "Resetting" to "Max loading
//                  delay was".
// process_cpu_s is the CPU time of the whole run (all threads; start-up,
// one frame and shutdown), which a busy machine does not inflate.
// Without a display the benchmark starts Xvfb (Mesa's software renderer) for
// its own run, as tools/with-display.sh does.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace fs = std::filesystem;

namespace {

const fs::path scratch = fs::temp_directory_path() / "kr_startup_bench";

// An X display for the run: the one set, or an Xvfb started here.
struct display {
    bool started = false;
    display() {
        const char *d = std::getenv("DISPLAY");
        if (d && *d)
            return;
        int n = 99;
        while (n < 140 && (fs::exists("/tmp/.X" + std::to_string(n) + "-lock") ||
                           fs::exists("/tmp/.X11-unix/X" + std::to_string(n))))
            ++n;
        fs::create_directories(scratch);
        std::string cmd = "Xvfb :" + std::to_string(n) + " -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 & echo $! >'" +
                          (scratch / "xvfb.pid").string() + "'";
        if (std::system(cmd.c_str()) != 0)
            return;
        started = true;
        for (int i = 0; i < 50 && !fs::exists("/tmp/.X11-unix/X" + std::to_string(n)); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        setenv("DISPLAY", (":" + std::to_string(n)).c_str(), 1);
        setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
    }
    ~display() {
        if (started)
            (void)std::system(("kill $(cat '" + (scratch / "xvfb.pid").string() + "') 2>/dev/null").c_str());
    }
};

std::string read_text(const fs::path &p) {
    std::ifstream in(p);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The time stamp (monotonic seconds) of the first log line holding `text`; < 0 when none.
double stamp_of(const std::string &log, const char *text) {
    size_t at = log.find(text);
    if (at == std::string::npos)
        return -1;
    size_t line = log.rfind('\n', at);
    line = line == std::string::npos ? 0 : line + 1;
    long long h = 0;
    int m = 0, s = 0, cs = 0;
    if (std::sscanf(log.c_str() + line, "[%lld:%d:%d.%d]", &h, &m, &s, &cs) != 4)
        return -1;
    return double(h) * 3600 + m * 60 + s + cs / 100.0;
}

struct run_figures {
    double first_frame = -1, track_load = -1, cpu = -1;
};

run_figures run_once() {
    fs::path home = scratch / "home";
    fs::remove_all(home);
    fs::create_directories(home);
    fs::path times = scratch / "times.txt";
    fs::remove(times);
    bool timed = fs::exists("/usr/bin/time");
    std::string cmd = std::string("env -u VELK_LOGFILE -u VELK_LOGFILE_FLAGS KR_HOME='") + KR_DATA_DIR +
                      "' XDG_DATA_HOME='" + home.string() + "' " +
                      (timed ? "/usr/bin/time -f '%U %S' -o '" + times.string() + "' " : std::string()) + "'" +
                      KESSRUN_EXE + "' --track motocross --lineup 1 --quit-after 0.0078125 >/dev/null 2>&1";
    auto start = std::chrono::steady_clock::now();
    int status = std::system(cmd.c_str());
    run_figures f;
    if (status != 0)
        return f;
    std::string log = read_text(home / "Kessrun" / "lastlog.txt");
    double t0 = std::chrono::duration<double>(start.time_since_epoch()).count();
    double ran = stamp_of(log, "] Ran ");
    double reset = stamp_of(log, "] Resetting\n");
    double loaded = stamp_of(log, "] Max loading delay was ");
    if (ran >= 0)
        f.first_frame = ran - t0;
    if (reset >= 0 && loaded >= reset)
        f.track_load = loaded - reset;
    double user = 0, sys = 0;
    if (timed && std::sscanf(read_text(times).c_str(), "%lf %lf", &user, &sys) == 2)
        f.cpu = user + sys;
    return f;
}

void BM_StartToFirstFrame(benchmark::State &state) {
    static display x;
    double first = 0, load = 0, cpu = 0;
    int runs = 0;
    for (auto _ : state) {
        run_figures f = run_once();
        if (f.first_frame < 0 || f.track_load < 0) {
            state.SkipWithError("kessrun did not start, load the track and draw a frame (see its log)");
            break;
        }
        state.SetIterationTime(f.first_frame);
        first += f.first_frame;
        load += f.track_load;
        cpu += f.cpu;
        ++runs;
    }
    if (runs > 0) {
        state.counters["first_frame_s"] = first / runs;
        state.counters["track_load_s"] = load / runs;
        if (cpu > 0)
            state.counters["process_cpu_s"] = cpu / runs;
    }
    state.SetLabel("motocross, windowed");
}
BENCHMARK(BM_StartToFirstFrame)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
