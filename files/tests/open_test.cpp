// data_open's modes and paths, numbered backups, data_rename, file_to_string
// and the working-set step.
#include "files/tests/test_util.h"

#include <cstring>
#include <fstream>
#include <sstream>

namespace {

using open_test = files_test;

std::string file_content(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST_F(open_test, writing_a_data_name_makes_its_directories_in_home)
{
    data_file_ptr f(data_open("@a/b/c.txt", "wb"));
    ASSERT_TRUE(f);
    EXPECT_GE(data_puts(f.get(), "hello"), 0);
    f.reset();
    EXPECT_EQ(file_content(dirs().home / "a" / "b" / "c.txt"), "hello");
    EXPECT_FALSE(fs::exists(dirs().data / "a"));
    // Written after the index was built, and still found by its path.
    f.reset(data_open("@a/b/c.txt", "rb"));
    ASSERT_TRUE(f);
    EXPECT_EQ(read_all(f.get()), "hello");
}

TEST_F(open_test, numbered_backups)
{
    fs::path x = dirs().home / "x";
    write_file(x, "old");
    write_file(dirs().home / "x.~1~", "one");
    write_file(dirs().home / "x.~2~", "two");
    data_file_ptr f(data_open("@x", "~wb"));
    ASSERT_TRUE(f);
    EXPECT_GE(data_puts(f.get(), "new"), 0);
    f.reset();
    EXPECT_EQ(file_content(x), "new");
    EXPECT_EQ(file_content(dirs().home / "x.~1~"), "one");
    EXPECT_EQ(file_content(dirs().home / "x.~3~"), "old");

    // No old file: simply opened, no backup made.
    f.reset(data_open("@fresh", "~w"));
    ASSERT_TRUE(f);
    f.reset();
    EXPECT_TRUE(fs::exists(dirs().home / "fresh"));
    EXPECT_FALSE(fs::exists(dirs().home / "fresh.~1~"));

    // Every number taken: no backup can be made, so the file is not opened
    // for overwriting.
    write_file(dirs().home / "y", "keep");
    for (int n = 1; n <= 9999; n++)
        std::ofstream(dirs().home / ("y.~" + std::to_string(n) + "~"));
    EXPECT_EQ(data_open("@y", "~wb"), nullptr);
    EXPECT_EQ(file_content(dirs().home / "y"), "keep");
    EXPECT_FALSE(fs::exists(dirs().data / "y"));  // nor written where home's copy would hide it
}

TEST_F(open_test, paths_that_do_not_fit_fail_instead_of_being_cut)
{
    // Home path + name passes 511 characters: no file may appear under a
    // shortened name, in either directory.
    std::string name(600 - dirs().home.string().size(), 'p');
    name.insert(name.begin(), '@');
    EXPECT_EQ(data_open(name.c_str(), "wb"), nullptr);
    EXPECT_TRUE(fs::is_empty(dirs().home));
    EXPECT_TRUE(fs::is_empty(dirs().data));
    EXPECT_FALSE(data_rename("@a", name.c_str()));
}

TEST_F(open_test, directories_and_missing_files_do_not_open_for_reading)
{
    fs::create_directories(dirs().home / "dir");
    EXPECT_EQ(data_open("@dir", "rb"), nullptr);
    EXPECT_EQ(data_open("@", "rb"), nullptr);
    EXPECT_EQ(data_open("@nothing", "rb"), nullptr);
    EXPECT_EQ(data_open((dirs().scratch / "nothing").c_str(), "r"), nullptr);
}

TEST_F(open_test, rename_never_loses_the_destination)
{
    write_file(dirs().home / "demo.1", "older");
    write_file(dirs().home / "demo.0", "newer");
    EXPECT_TRUE(data_rename("@demo.0", "@demo.1"));
    EXPECT_EQ(file_content(dirs().home / "demo.1"), "newer");
    EXPECT_FALSE(fs::exists(dirs().home / "demo.0"));

    EXPECT_FALSE(data_rename("@demo.0", "@demo.1"));  // source gone
    EXPECT_EQ(file_content(dirs().home / "demo.1"), "newer");

    fs::path outside = dirs().scratch / "moved";
    EXPECT_TRUE(data_rename("@demo.1", outside.c_str()));
    EXPECT_EQ(file_content(outside), "newer");
}

TEST_F(open_test, file_to_string_limit)
{
    constexpr size_t limit = 16777216;
    write_file(dirs().home / "fits", std::string(limit - 1, 'f'));
    write_file(dirs().home / "too_long", std::string(limit, 't'));
    char *s = file_to_string("@fits");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::strlen(s), limit - 1);
    kr_free(s);
    EXPECT_TRUE(log_lines().empty());
    EXPECT_EQ(file_to_string("@too_long"), nullptr);
    EXPECT_EQ(log_lines(), std::vector<std::string>{"File @too_long too long for file_to_string\n"});
    EXPECT_EQ(file_to_string("@missing"), nullptr);

    write_file(dirs().data / "s.saf", saf({{"script.js", "var a = 1;"}, {"next", "xx"}}));
    ASSERT_NE(file_index_build(), nullptr);
    s = file_to_string("@script.js");
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "var a = 1;");
    kr_free(s);
}

struct tuning_calls {
    int working_set = 0;
    int priority = 0;
    uint64_t min = 0, max = 0;
} g_calls;

bool fake_working_set(uint64_t lo, uint64_t hi)
{
    g_calls.working_set++;
    g_calls.min = lo;
    g_calls.max = hi;
    return true;
}

bool fake_priority()
{
    g_calls.priority++;
    return false;
}

TEST_F(open_test, working_set_and_priority)
{
    const process_tuning_ops ops{fake_working_set, fake_priority};
    g_calls = {};
    tune_process_memory_with(0x3FFFFFF, ops);
    EXPECT_EQ(g_calls.working_set + g_calls.priority, 0);
    EXPECT_EQ(log_lines(), std::vector<std::string>{"Working set left alone - less than 64 MB physical memory\n"});

    struct {
        uint64_t physical;
        uint32_t low, high;
    } cases[] = {
        {0x4000000, 0x2000000, 0x2000000},             // 64 MB
        {0x20000000, 0x1E000000, 0x1E000000},          // 512 MB
        {0xC0000000, 0x40000000, 0x7E000000},          // 3 GB
        {0x400000000ull, 0x40000000, 0x7E000000},      // 16 GB: saturates, never wraps to 0
    };
    for (const auto &c : cases) {
        log_lines().clear();
        g_calls = {};
        tune_process_memory_with(c.physical, ops);
        char range[80];
        std::snprintf(range, sizeof range, "Setting working set range to %u - %u\n", c.low, c.high);
        EXPECT_EQ(log_lines(), (std::vector<std::string>{range, "Working set successfully updated\n",
                                                         "Priority set failed\n"}));
        EXPECT_EQ(g_calls.min, c.low);
        EXPECT_EQ(g_calls.max, c.high);
        EXPECT_EQ(g_calls.priority, 1);
    }
}

}  // namespace
