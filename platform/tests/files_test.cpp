#include <gtest/gtest.h>

#include "platform/tests/scoped_env.h"

#include "platform/platform.h"
#include "platform/platform_local.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <pwd.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {


class files_test : public ::testing::Test {
protected:
    fs::path dir;
    void SetUp() override
    {
        std::string tmpl = (fs::temp_directory_path() / "velk_files_XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir = tmpl;
    }
    void TearDown() override
    {
        fs::remove_all(dir);
        velk_dirs_reset_for_tests();
    }
    std::string path(const char *rel) const { return (dir / rel).string(); }
};

TEST_F(files_test, make_dirs_for_creates_every_folder_but_not_the_file)
{
    ASSERT_TRUE(velk_make_dirs_for(path("a/b/c.txt").c_str()));
    EXPECT_TRUE(fs::is_directory(path("a")));
    EXPECT_TRUE(fs::is_directory(path("a/b")));
    EXPECT_FALSE(fs::exists(path("a/b/c.txt")));
    // Existing folders are fine; a trailing "/" makes the last part a folder.
    ASSERT_TRUE(velk_make_dirs_for(path("a/b/d/").c_str()));
    EXPECT_TRUE(fs::is_directory(path("a/b/d")));
    ASSERT_TRUE(velk_make_dirs_for(path("x//y/z").c_str()));
    EXPECT_TRUE(fs::is_directory(path("x/y")));
    EXPECT_FALSE(fs::exists(path("x/y/z")));
    EXPECT_TRUE(velk_make_dirs_for("plain-name"));
}

TEST_F(files_test, make_dirs_for_fails_through_a_file)
{
    std::ofstream(path("file")) << "x";
    EXPECT_FALSE(velk_make_dirs_for(path("file/sub/name.txt").c_str()));
    EXPECT_FALSE(fs::exists(path("file/sub")));
}

TEST_F(files_test, is_dir)
{
    std::ofstream(path("file")) << "x";
    EXPECT_TRUE(velk_is_dir(dir.string().c_str()));
    EXPECT_FALSE(velk_is_dir(path("file").c_str()));
    EXPECT_FALSE(velk_is_dir(path("missing").c_str()));
}

struct data_dir_case {
    const char *xdg;
    const char *home;
    const char *expected;  // null: the password entry's home + "/.local/share"
};

class local_data_dir : public files_test, public ::testing::WithParamInterface<data_dir_case> {};

TEST_P(local_data_dir, follows_xdg_then_home)
{
    const data_dir_case &c = GetParam();
    scoped_env xdg("XDG_DATA_HOME", c.xdg);
    scoped_env home("HOME", c.home);
    velk_dirs_reset_for_tests();
    const char *got = velk_local_data_dir();
    std::string expected;
    if (c.expected) {
        expected = c.expected;
    } else {
        const passwd *pw = getpwuid(getuid());
        if (!pw || pw->pw_dir[0] != '/') {
            EXPECT_EQ(got, nullptr);
            return;
        }
        expected = std::string(pw->pw_dir == std::string("/") ? "" : pw->pw_dir) + "/.local/share";
    }
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(std::string(got), expected);
}

INSTANTIATE_TEST_SUITE_P(cases, local_data_dir,
                         ::testing::Values(data_dir_case{"/data/home", "/h", "/data/home"},
                                           data_dir_case{"/data/home//", "/h", "/data/home"},
                                           data_dir_case{"relative/dir", "/h", "/h/.local/share"},
                                           data_dir_case{"", "/h/", "/h/.local/share"},
                                           data_dir_case{nullptr, "/h", "/h/.local/share"},
                                           data_dir_case{nullptr, nullptr, nullptr},
                                           data_dir_case{nullptr, "", nullptr}));

TEST_F(files_test, executable_dir_holds_this_program)
{
    const char *d = velk_executable_dir();
    ASSERT_NE(d, nullptr);
    std::string s(d);
    ASSERT_FALSE(s.empty());
    EXPECT_NE(s.back(), '/');
    EXPECT_TRUE(velk_is_dir(d));
    EXPECT_TRUE(fs::exists(s + "/platform_tests"));
}

TEST_F(files_test, open_folder_starts_xdg_open_without_waiting)
{
    // A stand-in xdg-open on PATH records its argument.
    fs::path bin = dir / "bin";
    fs::create_directory(bin);
    fs::path out = dir / "opened.txt";
    {
        std::ofstream script(bin / "xdg-open");
        script << "#!/bin/sh\nprintf '%s' \"$1\" > \"" << out.string() << ".tmp\"\nmv \"" << out.string()
               << ".tmp\" \"" << out.string() << "\"\n";
    }
    fs::permissions(bin / "xdg-open", fs::perms::owner_all);
    scoped_env path_env("PATH", (bin.string() + ":/usr/bin:/bin").c_str());

    ASSERT_TRUE(velk_open_folder("/some folder/with space"));
    for (int i = 0; i < 500 && !fs::exists(out); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::ifstream in(out);
    std::stringstream ss;
    ss << in.rdbuf();
    EXPECT_EQ(ss.str(), "/some folder/with space");
}

TEST_F(files_test, open_folder_fails_when_xdg_open_is_missing)
{
    fs::create_directory(dir / "empty");
    scoped_env path_env("PATH", (dir / "empty").string().c_str());
    EXPECT_FALSE(velk_open_folder(dir.string().c_str()));
}

}  // namespace
