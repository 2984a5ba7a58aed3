#include <gtest/gtest.h>

#include "platform/tests/scoped_env.h"

#include "platform/platform.h"
#include "platform/platform_local.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {


std::string read_all(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_all(const fs::path &p, const std::string &text)
{
    std::ofstream out(p, std::ios::binary);
    out << text;
}

// Strips the time prefix of every line.
std::string strip_prefixes(const std::string &log)
{
    static const std::regex prefix(R"(^\[\d+:\d\d:\d\d\.\d\d\] )", std::regex::multiline);
    return std::regex_replace(log, prefix, "");
}

class log_test : public ::testing::Test {
protected:
    fs::path dir;
    scoped_env no_file{"VELK_LOGFILE", nullptr};
    scoped_env no_flags{"VELK_LOGFILE_FLAGS", nullptr};

    void SetUp() override
    {
        std::string tmpl = (fs::temp_directory_path() / "velk_log_XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir = tmpl;
        velk_log_reset_for_tests();
    }
    void TearDown() override
    {
        velk_log_reset_for_tests();
        fs::remove_all(dir);
    }
    std::string path(const char *name) const { return (dir / name).string(); }
};

TEST_F(log_test, stays_off_without_directive_or_variable)
{
    velk_log("first %d\n", 1);
    // A directive that comes too late is just a message, and is dropped.
    velk_log("VELK_LOGFILE=%s", path("late.txt").c_str());
    velk_log("later\n");
    EXPECT_TRUE(fs::is_empty(dir));
}

TEST_F(log_test, directive_opens_file_and_is_not_written)
{
    velk_log("VELK_LOGFILE=%s", path("lastlog.txt").c_str());
    velk_log("value %d\n", 42);
    std::string expected = "Logfile \"" + path("lastlog.txt") + "\" opened\nVELK 0.31\nvalue 42\n";
    EXPECT_EQ(strip_prefixes(read_all(path("lastlog.txt"))), expected);
}

TEST_F(log_test, variable_opens_file_and_first_message_is_written)
{
    scoped_env file("VELK_LOGFILE", path("env.txt").c_str());
    velk_log("hello\n");
    EXPECT_EQ(strip_prefixes(read_all(path("env.txt"))),
              "Logfile \"" + path("env.txt") + "\" opened\nVELK 0.31\nhello\n");
}

TEST_F(log_test, variable_wins_over_directive)
{
    scoped_env file("VELK_LOGFILE", path("env.txt").c_str());
    velk_log("VELK_LOGFILE=%s", path("directive.txt").c_str());
    velk_log("msg\n");
    EXPECT_FALSE(fs::exists(path("directive.txt")));
    std::string log = strip_prefixes(read_all(path("env.txt")));
    EXPECT_EQ(log, "Logfile \"" + path("env.txt") + "\" opened\nVELK 0.31\nmsg\n");
}

struct open_mode_case {
    const char *prefix;
    const char *flags;  // VELK_LOGFILE_FLAGS, null for unset
    bool via_directive;
    bool appends;
};

class log_open_mode : public log_test, public ::testing::WithParamInterface<open_mode_case> {};

TEST_P(log_open_mode, prefix_and_flags_choose_append_or_truncate)
{
    const open_mode_case &c = GetParam();
    write_all(path("x.txt"), "old line\n");
    std::string target = std::string(c.prefix) + path("x.txt");
    scoped_env flags("VELK_LOGFILE_FLAGS", c.flags);
    std::optional<scoped_env> file;
    if (c.via_directive)
        velk_log("VELK_LOGFILE=%s", target.c_str());
    else
        file.emplace("VELK_LOGFILE", target.c_str());
    velk_log("new line\n");
    velk_log(nullptr);

    std::string body = "Logfile \"" + path("x.txt") + "\" opened\nVELK 0.31\nnew line\n";
    EXPECT_EQ(strip_prefixes(read_all(path("x.txt"))), c.appends ? "old line\n" + body : body);
}

INSTANTIATE_TEST_SUITE_P(cases, log_open_mode,
                         ::testing::Values(open_mode_case{">>", nullptr, false, true},
                                           open_mode_case{"", nullptr, false, false},
                                           open_mode_case{">", nullptr, false, false},
                                           open_mode_case{"", "a", false, true},
                                           open_mode_case{">", "a", false, true},
                                           open_mode_case{">>", "w", false, false},
                                           open_mode_case{">>", nullptr, true, true},
                                           open_mode_case{">", nullptr, true, false}));

TEST_F(log_test, prefix_is_the_clock_reading)
{
    velk_log("VELK_LOGFILE=%s", path("t.txt").c_str());
    velk_clock before = velk_time();
    velk_log("stamp\n");
    velk_clock after = velk_time();
    velk_log(nullptr);

    std::string log = read_all(path("t.txt"));
    std::smatch m;
    static const std::regex line(R"(\[(\d+):(\d\d):(\d\d)\.(\d\d)\] stamp\n)");
    ASSERT_TRUE(std::regex_search(log, m, line)) << log;
    int64_t hundredths = ((std::stoll(m[1]) * 60 + std::stoll(m[2])) * 60 + std::stoll(m[3])) * 100 + std::stoll(m[4]);
    EXPECT_LT(std::stoll(m[2]), 60);
    EXPECT_LT(std::stoll(m[3]), 60);
    EXPECT_GE(hundredths, before.sec * 100 + before.usec / 10000);
    EXPECT_LE(hundredths, after.sec * 100 + after.usec / 10000);
}

TEST_F(log_test, null_format_closes_for_good)
{
    velk_log("VELK_LOGFILE=%s", path("c.txt").c_str());
    velk_log("before\n");
    velk_log(nullptr);
    velk_log("after\n");
    velk_log("VELK_LOGFILE=%s", path("again.txt").c_str());
    std::string log = read_all(path("c.txt"));
    EXPECT_NE(log.find("before\n"), std::string::npos);
    EXPECT_EQ(log.find("after"), std::string::npos);
    EXPECT_FALSE(fs::exists(path("again.txt")));
}

TEST_F(log_test, unopenable_file_leaves_logging_off)
{
    velk_log("VELK_LOGFILE=%s", path("missing/dir/log.txt").c_str());
    velk_log("dropped\n");
    velk_error("also dropped");
    EXPECT_FALSE(fs::exists(path("missing")));
}

TEST_F(log_test, error_line)
{
    velk_log("VELK_LOGFILE=%s", path("e.txt").c_str());
    velk_error("Can't create window!\n");
    velk_log(nullptr);
    std::string log = strip_prefixes(read_all(path("e.txt")));
    EXPECT_NE(log.find("VELK 0.31\nError: Can't create window!\n\n"), std::string::npos) << log;
}

TEST_F(log_test, lines_from_several_threads_stay_whole)
{
    velk_log("VELK_LOGFILE=%s", path("mt.txt").c_str());
    constexpr int threads = 4, lines = 300;
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; t++)
        pool.emplace_back([t] {
            for (int i = 0; i < lines; i++)
                velk_log("thread %d line %d\n", t, i);
        });
    for (std::thread &th : pool)
        th.join();
    velk_log(nullptr);

    std::istringstream in(read_all(path("mt.txt")));
    static const std::regex whole(R"(\[\d+:\d\d:\d\d\.\d\d\] thread \d line \d+)");
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        if (line.find("thread") == std::string::npos)
            continue;
        EXPECT_TRUE(std::regex_match(line, whole)) << line;
        count++;
    }
    EXPECT_EQ(count, threads * lines);
}

TEST(message_box, writes_caption_and_text_to_stderr)
{
    ::testing::internal::CaptureStderr();
    velk_message_box("Error", "Out of virtual memory");
    velk_message_box("Problem starting Kessrun", "Can't find game data\n");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Error: Out of virtual memory\nProblem starting Kessrun: Can't find game data\n");
}

TEST(message_box, text_is_cut_to_1023_characters)
{
    std::string long_text(2000, 'x');
    ::testing::internal::CaptureStderr();
    velk_message_box("C", "%s", long_text.c_str());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "C: " + std::string(1023, 'x') + "\n");
}

}  // namespace
