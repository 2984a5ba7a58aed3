// The data_file stream: limits of archive members, push-back, lines, reads,
// seeks and writes.
#include "files/tests/test_util.h"

#include <cstring>

namespace {

class stream_test : public files_test {
protected:
    // Data dir archive: "ten" (10 bytes) followed by "next" (more bytes).
    void SetUp() override
    {
        files_test::SetUp();
        write_file(dirs().data / "pack.saf", saf({{"ten", "0123456789"}, {"next", "ABCDEFGHIJ"}}));
        ASSERT_NE(file_index_build(), nullptr);
    }
};

TEST_F(stream_test, member_yields_exactly_its_size_with_every_reader)
{
    data_file_ptr f(data_open("@ten", "rb"));
    ASSERT_TRUE(f);
    EXPECT_EQ(read_all(f.get()), "0123456789");
    EXPECT_EQ(data_getc(f.get()), -1);
    EXPECT_EQ(data_peekc(f.get()), -1);

    f.reset(data_open("@ten", "rb"));
    char buf[64];
    EXPECT_EQ(data_read(f.get(), buf, sizeof buf), 10u);
    EXPECT_EQ(std::string(buf, 10), "0123456789");
    EXPECT_EQ(data_read(f.get(), buf, sizeof buf), 0u);

    f.reset(data_open("@ten", "rb"));
    ASSERT_NE(data_gets(f.get(), buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "0123456789");
    EXPECT_EQ(data_gets(f.get(), buf, sizeof buf), nullptr);

    f.reset(data_open("@ten", "rb"));
    char word[64];
    EXPECT_EQ(data_scanf(f.get(), "%63s", word), 1);
    EXPECT_STREQ(word, "0123456789");
    EXPECT_EQ(data_scanf(f.get(), "%63s", word), -1);
}

TEST_F(stream_test, peek_then_get_yields_the_character_once)
{
    data_file_ptr f(open_text("ab"));
    EXPECT_EQ(data_peekc(f.get()), 'a');
    EXPECT_EQ(data_peekc(f.get()), 'a');
    EXPECT_EQ(data_getc(f.get()), 'a');
    EXPECT_EQ(data_getc(f.get()), 'b');
    EXPECT_EQ(data_getc(f.get()), -1);
}

TEST_F(stream_test, gets_splits_long_lines_to_the_buffer)
{
    data_file_ptr f(open_text("abcdef\n"));
    char buf[4];
    std::vector<std::string> parts;
    while (data_gets(f.get(), buf, sizeof buf))
        parts.emplace_back(buf);
    EXPECT_EQ(parts, (std::vector<std::string>{"abc", "def", "\n"}));
}

TEST_F(stream_test, read_hands_out_the_pushback_first)
{
    data_file_ptr f(data_open("@ten", "rb"));
    EXPECT_EQ(data_peekc(f.get()), '0');
    char buf[16] = {};
    EXPECT_EQ(data_read(f.get(), buf, 4), 4u);
    EXPECT_STREQ(buf, "0123");
    EXPECT_EQ(data_read(f.get(), buf, 16), 6u);
}

TEST_F(stream_test, seek_stays_inside_the_member)
{
    data_file_ptr f(data_open("@ten", "rb"));
    EXPECT_EQ(data_peekc(f.get()), '0');
    ASSERT_TRUE(data_seek(f.get(), 7));
    char buf[16];
    EXPECT_EQ(data_read(f.get(), buf, sizeof buf), 3u);  // "789", not the next member
    EXPECT_EQ(std::string(buf, 3), "789");
    EXPECT_FALSE(data_seek(f.get(), 10));
    ASSERT_TRUE(data_seek(f.get(), 0));
    EXPECT_EQ(data_getc(f.get()), '0');
    EXPECT_EQ(data_getc(f.get()), '1');
}

TEST_F(stream_test, skip_space_counts_and_reports_the_end)
{
    data_file_ptr f(open_text(" \t\nx  "));
    EXPECT_EQ(data_skip_space(f.get()), 3);
    EXPECT_EQ(data_skip_space(f.get()), 0);
    EXPECT_EQ(data_getc(f.get()), 'x');
    EXPECT_EQ(data_skip_space(f.get()), 2);
    EXPECT_EQ(data_skip_space(f.get()), -1);
}

TEST_F(stream_test, skip_comments_stops_at_the_next_item)
{
    struct {
        const char *text;
        int value;
    } cases[] = {
        {"  # one\n# two\n 7", 7},
        {"7", 7},
        {"#\n#\n\n   #x\n-3 # trailing", -3},
    };
    for (const auto &c : cases) {
        data_file_ptr f(open_text(c.text));
        data_skip_comments(f.get());
        int v = 0;
        EXPECT_EQ(data_scanf(f.get(), "%d", &v), 1) << c.text;
        EXPECT_EQ(v, c.value) << c.text;
    }
    data_file_ptr f(open_text("  # only a comment"));
    data_skip_comments(f.get());
    EXPECT_EQ(data_getc(f.get()), -1);
}

TEST_F(stream_test, writes_go_through_and_read_streams_refuse_them)
{
    data_file_ptr w(data_open("@out/w.txt", "w"));
    ASSERT_TRUE(w);
    EXPECT_GE(data_printf(w.get(), "%d %s\n", 42, "x"), 0);
    EXPECT_GE(data_puts(w.get(), "line\n"), 0);
    EXPECT_EQ(data_putc(w.get(), 'z'), 'z');
    EXPECT_EQ(data_write(w.get(), "\0q", 2), 2u);
    EXPECT_EQ(data_flush(w.get()), 0);
    w.reset();
    data_file_ptr r(data_open("@out/w.txt", "rb"));
    ASSERT_TRUE(r);
    EXPECT_EQ(read_all(r.get()), std::string("42 x\nline\nz\0q", 13));

    EXPECT_EQ(data_putc(r.get(), 'a'), -1);
    EXPECT_EQ(data_puts(r.get(), "a"), -1);
    EXPECT_EQ(data_write(r.get(), "a", 1), 0u);
    EXPECT_EQ(data_printf(r.get(), "a"), -1);
}

}  // namespace
