// Runs the built program as a separate process against temporary home and
// data directories, and checks what start-up does before it needs a window.

#include "core/core_local.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

struct run_result {
    int exit_code;
    std::string err;
};

class StartUp : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("kessrun_startup_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                           "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(root / "data");
        fs::create_directories(root / "xdg");
    }
    void TearDown() override { fs::remove_all(root); }

    // No display is offered, so start-up stops where it needs the window.
    // `streams` redirects the program's standard streams (default: output
    // dropped, errors kept).
    run_result run(const std::string &args, const std::string &driver = "SDL_VIDEODRIVER=dummy",
                   std::string streams = "") {
        std::string err = (root / "stderr.txt").string();
        if (streams.empty())
            streams = ">/dev/null 2>'" + err + "'";
        std::string cmd = "env -u VELK_LOGFILE -u VELK_LOGFILE_FLAGS -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER " +
                          driver + " KR_HOME='" + (root / "data").string() + "' XDG_DATA_HOME='" +
                          (root / "xdg").string() + "' timeout 60 '" KESSRUN_EXE "' " + args + " " + streams;
        std::ofstream(err, std::ios::trunc).flush();
        int status = std::system(cmd.c_str());
        std::ifstream in(err);
        std::stringstream ss;
        ss << in.rdbuf();
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ss.str()};
    }
    std::string log_text() {
        std::ifstream in(root / "xdg" / "Kessrun" / "lastlog.txt");
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    fs::path root;
};

TEST_F(StartUp, MissingGameDataShowsTheMessageAndEndsCleanly) {
    run_result r = run("");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.err.find("Problem starting Kessrun: Can't find game data"), std::string::npos) << r.err;
    EXPECT_NE(log_text().find("Logfile \""), std::string::npos);
}

TEST_F(StartUp, CommandLineErrorsExitWithOne) {
    fs::create_directories(root / "data" / "tracks");
    struct error_case {
        const char *args;
        const char *text;
    };
    const error_case cases[] = {
        {"--erode", "Bad arg for --erode\n"},
        {"--nope", "bad option '--nope'\n"},
        {"a b", "Too many files!\n"},
        {"--glversion=3", "bad arg for --glversion\n"},
    };
    for (const error_case &c : cases) {
        run_result r = run(c.args);
        EXPECT_EQ(r.exit_code, 1) << c.args;
        EXPECT_EQ(r.err, c.text) << c.args;
    }
    std::string log = log_text();
    EXPECT_NE(log.find("Kessrun version 2024-07-22-1670 snapshot\n"), std::string::npos) << log;
}

TEST_F(StartUp, NoWindowExitsWithOne) {
    fs::create_directories(root / "data" / "tracks");
    run_result r = run("--bikes 3");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err.rfind("--bikes doesn't do anything anymore\n", 0), 0u) << r.err;
}

// Without a display, video drivers that show nothing are refused unless
// SDL_VIDEODRIVER names them: the run ends with a line on standard error
// instead of running unseen.
TEST_F(StartUp, NoDisplayIsADeadEndThatSaysSo) {
    fs::create_directories(root / "data" / "tracks");
    for (const char *driver : {"", "SDL_VIDEODRIVER=dummy"}) {
        run_result r = run("", driver);
        EXPECT_EQ(r.exit_code, 1) << driver;
        bool says_why = r.err.find("No display") != std::string::npos || r.err.find("Can't") != std::string::npos;
        EXPECT_TRUE(says_why) << driver << ": " << r.err;
        EXPECT_EQ(r.err.back(), '\n') << driver;
    }
}

// Closed standard streams are reopened before the log is opened, so what
// the program writes to them never lands in the log.
TEST_F(StartUp, ClosedStandardStreamsStayOutOfTheLog) {
    fs::create_directories(root / "data" / "tracks");
    run_result r = run("--nope", "SDL_VIDEODRIVER=dummy", "<&- >&- 2>&-");
    EXPECT_EQ(r.exit_code, 1);
    std::string log = log_text();
    EXPECT_NE(log.find("Kessrun version"), std::string::npos) << log;
    EXPECT_EQ(log.find("bad option"), std::string::npos) << log;
}

TEST_F(StartUp, OpenHomeAloneStartsNoLog) {
    run_result r = run("--open-home");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_FALSE(fs::exists(root / "xdg" / "Kessrun" / "lastlog.txt"));
}

}  // namespace
