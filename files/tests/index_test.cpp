// Search directories, the file index and ".saf" archives: precedence, rank
// order, the name list, malformed archives, the walk.
#include "files/tests/test_util.h"

#include "platform/platform.h"

#include <cstdlib>
#include <cstring>

namespace {

using index_test = files_test;

std::string content(const char *name)
{
    data_file_ptr f(data_open(name, "rb"));
    return f ? read_all(f.get()) : "<none>";
}

std::vector<std::string> name_list()
{
    std::vector<std::string> names;
    for (const char *const *n = file_index_build(); n && *n; n++)
        names.emplace_back(*n);
    return names;
}

TEST_F(index_test, search_directories)
{
    EXPECT_EQ(std::string(search_dir(0)), dirs().home.string() + "/");
    EXPECT_EQ(std::string(search_dir(1)), dirs().data.string() + "/");
    EXPECT_EQ(search_dir(2), nullptr);
    EXPECT_EQ(search_dir(-1), nullptr);

    setenv("KR_HOME", (dirs().data.string() + "//x\\y//").c_str(), 1);
    files_reset_for_tests();
    EXPECT_EQ(std::string(search_dir(1)), dirs().data.string() + "/x/y/");

    // Without KR_HOME (or with it empty) the executable's directory is searched.
    for (bool empty : {false, true}) {
        if (empty)
            setenv("KR_HOME", "", 1);
        else
            unsetenv("KR_HOME");
        files_reset_for_tests();
        const char *exe = velk_executable_dir();
        ASSERT_NE(exe, nullptr);
        EXPECT_EQ(std::string(search_dir(1)), std::string(exe) + "/");
    }
}

TEST_F(index_test, home_beats_data_beats_archives)
{
    write_file(dirs().home / "Config", "home");
    write_file(dirs().data / "both", "data");
    write_file(dirs().home / "both", "home");
    write_file(dirs().data / "loose", "data");
    write_file(dirs().data / "arc.saf", saf({{"config", "archive"}, {"loose", "archive"}, {"only", "archive"}}));
    ASSERT_NE(file_index_build(), nullptr);
    EXPECT_EQ(content("@config"), "home");  // another letter case, found through the index
    EXPECT_EQ(content("@both"), "home");
    EXPECT_EQ(content("@loose"), "data");
    EXPECT_EQ(content("@only"), "archive");
    EXPECT_EQ(content("@ONLY"), "archive");
    EXPECT_EQ(content("@missing"), "<none>");
    EXPECT_TRUE(data_exists("Only"));
    EXPECT_FALSE(data_exists("missing"));
}

TEST_F(index_test, archives_rank_in_case_insensitive_name_order)
{
    write_file(dirs().data / "b.saf", saf({{"k", "from b"}}));
    write_file(dirs().data / "A.saf", saf({{"k", "from A"}}));
    write_file(dirs().data / "c.SAF", saf({{"k", "from c"}, {"j", "from c"}}));
    ASSERT_NE(file_index_build(), nullptr);
    EXPECT_EQ(content("@k"), "from A");
    EXPECT_EQ(content("@j"), "from c");
    int pos = file_index_find("K");
    ASSERT_GE(pos, 0);
    char buf[512];
    ASSERT_TRUE(file_index_describe(pos, buf, sizeof buf));
    EXPECT_EQ(std::string(buf), "k -> " + (dirs().data / "A.saf").string());
}

TEST_F(index_test, member_names_and_offsets)
{
    std::string long_name(1000, 'n');
    write_file(dirs().data / "sub" / "deep.saf",
               saf({{"tracks//x///y", "twelve bytes"}, {"empty", ""}, {"z", "last"}, {long_name, "long"}}));
    ASSERT_NE(file_index_build(), nullptr);
    EXPECT_EQ(content("@tracks/x/y"), "twelve bytes");
    EXPECT_EQ(content("@empty"), "");
    EXPECT_EQ(content("@z"), "last");
    EXPECT_EQ(content(("@" + long_name).c_str()), "long");
    EXPECT_EQ(file_index_find("tracks//x///y"), -1);
}

TEST_F(index_test, malformed_archives_add_nothing)
{
    std::string line_1023 = "1 " + std::string(1021, 'a');  // the longest line allowed
    struct {
        const char *what;
        std::string bytes;
    } cases[] = {
        {"no dash line", "3 bad\nabc"},
        {"negative size", "-3 bad\n3 ok\n-\nabc"},
        {"size past the end", "3 ok\n100 bad\n-\nabc"},
        {"sizes past 32 bits", "4294967295 bad\n4294967295 bad2\n-\n"},
        {"size not a number", "x bad\n-\n"},
        {"no separator", "3\n-\nabc"},
        {"separator but no name", "3 \n-\nabc"},
        {"line over 1023 characters", "1 " + std::string(1022, 'b') + "\n-\nx"},
        {"unterminated line", "3 ok\n-"},
        {"zero byte in a name", std::string("1 b\0d\n-\nx", 9)},
        {"number too large", "99999999999999999999999 bad\n-\n"},
    };
    for (const auto &c : cases) {
        fs::remove_all(dirs().data);
        write_file(dirs().data / "bad.saf", c.bytes);
        write_file(dirs().data / "good.saf", saf({{"good", "g"}}));
        file_index_free();
        std::vector<std::string> names = name_list();
        EXPECT_EQ(names, (std::vector<std::string>{"bad.saf", "good", "good.saf"})) << c.what;
    }
    fs::remove_all(dirs().data);
    write_file(dirs().data / "edge.saf", line_1023 + "\n-\nq");
    file_index_free();
    EXPECT_EQ(name_list(), (std::vector<std::string>{std::string(1021, 'a'), "edge.saf"}));
}

TEST_F(index_test, name_list_is_sorted_distinct_and_case_insensitive)
{
    write_file(dirs().home / "b", "");
    write_file(dirs().home / "Apple", "");
    write_file(dirs().data / "apple", "");
    write_file(dirs().data / "dir" / "C", "");
    write_file(dirs().data / "x.saf", saf({{"b", "1"}, {"dir/a", "2"}}));
    const char *const *first = file_index_build();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(name_list(), (std::vector<std::string>{"Apple", "b", "dir/a", "dir/C", "x.saf"}));
    EXPECT_EQ(file_index_build(), first);  // built once
    char small[8];
    ASSERT_TRUE(file_index_describe(file_index_find("dir/a"), small, sizeof small));
    EXPECT_STREQ(small, "dir/a -");
    EXPECT_FALSE(file_index_describe(-1, small, sizeof small));
    EXPECT_FALSE(file_index_describe(100, small, sizeof small));
    EXPECT_EQ(log_lines(), (std::vector<std::string>{"Listing directories\n", "Listing archives\n",
                                                     "Creating file list\n", "File index complete\n"}));
}

int g_ticks;
bool count_tick()
{
    g_ticks++;
    return true;
}

TEST_F(index_test, walk_ticks_and_does_not_loop_through_links)
{
    write_file(dirs().data / "sub" / "f", "f");
    write_file(dirs().data / "sub" / "inner" / "g", "g");
    write_file(dirs().data / "one.saf", saf({{"m", "m"}}));
    fs::create_directory_symlink(dirs().data, dirs().data / "sub" / "up");       // a loop
    fs::create_directory_symlink(dirs().data / "sub", dirs().data / "alias");    // no loop
    fs::create_symlink(dirs().data / "nowhere", dirs().data / "dangling");
    g_ticks = 0;
    file_index_set_tick(count_tick);
    ASSERT_NE(file_index_build(), nullptr);
    // "up" leads back to the data directory, which is being walked: skipped.
    EXPECT_EQ(name_list(),
              (std::vector<std::string>{"alias/f", "alias/inner/g", "m", "one.saf", "sub/f", "sub/inner/g"}));
    // Two search directories, sub, sub/inner, alias, alias/inner, and one archive.
    EXPECT_EQ(g_ticks, 7);
}

TEST_F(index_test, game_data_presence)
{
    EXPECT_FALSE(data_present());
    write_file(dirs().data / "deeper" / "x.saf", "");
    write_file(dirs().home / "y.saf", "");
    EXPECT_FALSE(data_present());
    write_file(dirs().data / "z.saf", "");
    EXPECT_TRUE(data_present());
    fs::remove(dirs().data / "z.saf");
    fs::create_directories(dirs().data / "Tracks");
    EXPECT_TRUE(data_present());
}

}  // namespace
