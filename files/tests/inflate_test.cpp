// ".gz" files and members: the gzip header rules, inflation through the
// window and straight into large reads, damaged data, and the bound of an
// archive member.
#include "files/tests/test_util.h"

namespace {

using inflate_test = files_test;

gzip_options header(uint8_t flags, uint8_t method = 8, std::string extra = {}, std::string name = {},
                    std::string comment = {})
{
    gzip_options o;
    o.flags = flags;
    o.method = method;
    o.extra = std::move(extra);
    o.name = std::move(name);
    o.comment = std::move(comment);
    return o;
}

std::string sample_text(size_t n)
{
    std::string s;
    for (size_t i = 0; s.size() < n; i++)
        s += "line " + std::to_string(i * 7919 % 100003) + " of the sample\n";
    s.resize(n);
    return s;
}

TEST_F(inflate_test, header_flags)
{
    const std::string text = "inflated text\n";
    struct {
        const char *what;
        gzip_options o;
        bool opens;
    } cases[] = {
        {"plain header", header(0), true},
        {"name and comment", header(8 | 16, 8, "", "a.txt", "a comment"), true},
        {"extra field", header(4, 8, "xyzzy"), true},
        {"header checksum", header(2), true},
        {"every field", header(2 | 4 | 8 | 16, 8, "ex", "n", "c"), true},
        {"reserved bit", header(32), false},
        {"method not deflate", header(0, 7), false},
        {"extra field past the 16 KiB block", header(4, 8, std::string(17000, 'e')), false},
    };
    for (const auto &c : cases) {
        write_file(dirs().data / "t.txt.gz", gzip(text, c.o));
        data_file_ptr f(data_open("@t.txt", "rb"));
        EXPECT_EQ(bool(f), c.opens) << c.what;
        if (f) {
            EXPECT_EQ(read_all(f.get()), text) << c.what;
        }
    }
    EXPECT_TRUE(log_lines().empty());
}

TEST_F(inflate_test, malformed_headers_do_not_open)
{
    std::string good = gzip("x");
    std::string cases[] = {
        "",
        "\x1f\x8b\x08",
        "\x1f\x8c" + good.substr(2),
        good.substr(0, 10) + "no terminator for the name",  // flag set below
        std::string("\x1f\x8b\x08\x04\0\0\0\0\0\x03\xff\xff", 12),  // extra longer than the file
    };
    cases[3][3] = 8;
    for (const std::string &bytes : cases) {
        write_file(dirs().data / "bad.gz", bytes);
        EXPECT_EQ(data_open((dirs().data / "bad").c_str(), "rb"), nullptr) << bytes.size();
    }
}

TEST_F(inflate_test, large_data_reads_alike_through_every_reader)
{
    const std::string text = sample_text(300000);
    write_file(dirs().data / "big.gz", gzip(text));
    data_file_ptr f(data_open((dirs().data / "big").c_str(), "rb"));
    ASSERT_TRUE(f);
    EXPECT_EQ(read_all(f.get()), text);

    f.reset(data_open((dirs().data / "big").c_str(), "rb"));
    std::string got;
    std::vector<char> block(70000);
    size_t sizes[] = {1, 1000, 70000, 3, 5000};
    for (size_t i = 0;; i++) {
        size_t n = data_read(f.get(), block.data(), sizes[i % 5]);
        if (n == 0)
            break;
        got.append(block.data(), n);
        if (i % 7 == 0) {
            int c = data_peekc(f.get());
            if (c >= 0) {
                EXPECT_EQ(c, (unsigned char)text[got.size()]);
            }
        }
    }
    EXPECT_EQ(got, text);
    EXPECT_FALSE(data_seek(f.get(), 0));
    EXPECT_TRUE(log_lines().empty());
}

TEST_F(inflate_test, damaged_data_ends_the_file_with_one_line)
{
    const std::string text = sample_text(50000);
    const std::string good = gzip(text);
    gzip_options bad_crc;
    bad_crc.bad_crc = true;
    struct {
        const char *what;
        std::string bytes;
        const char *line;  // part of the expected log line, null for none
        bool whole;        // all the text comes out
    } cases[] = {
        {"truncated", good.substr(0, good.size() / 2), "cut short", false},
        {"trailer missing", good.substr(0, good.size() - 8), nullptr, true},
        {"wrong checksum", gzip(text, bad_crc), "Checksum mismatch", true},
        {"garbage deflate", good.substr(0, 10) + std::string(5000, '\xff'), "Corrupt", false},
    };
    for (const auto &c : cases) {
        log_lines().clear();
        write_file(dirs().data / "d.gz", c.bytes);
        data_file_ptr f(data_open((dirs().data / "d").c_str(), "rb"));
        ASSERT_TRUE(f) << c.what;
        std::string got = read_all(f.get());
        EXPECT_EQ(data_getc(f.get()), -1);
        EXPECT_EQ(got == text, c.whole) << c.what;
        EXPECT_EQ(text.compare(0, got.size(), got), 0) << c.what;  // what came out is right
        if (c.line) {
            ASSERT_EQ(log_lines().size(), 1u) << c.what;
            EXPECT_NE(log_lines()[0].find(c.line), std::string::npos) << c.what;
            EXPECT_NE(log_lines()[0].find("d.gz"), std::string::npos) << c.what;
        } else {
            EXPECT_TRUE(log_lines().empty()) << c.what;
        }
    }
}

TEST_F(inflate_test, members_inflate_and_stop_at_their_size)
{
    const std::string text = sample_text(40000);
    const std::string packed = gzip(text);
    // The second member is cut short by its size: inflation must end there
    // and never read on into the third.
    write_file(dirs().data / "p.saf", saf({{"whole.txt.gz", packed},
                                           {"cut.txt.gz", packed.substr(0, packed.size() / 3)},
                                           {"after", packed.substr(packed.size() / 3)}}));
    ASSERT_NE(file_index_build(), nullptr);
    data_file_ptr f(data_open("@whole.txt", "rb"));
    ASSERT_TRUE(f);
    EXPECT_EQ(read_all(f.get()), text);
    f.reset(data_open("@cut.txt", "rb"));
    ASSERT_TRUE(f);
    std::string got = read_all(f.get());
    EXPECT_LT(got.size(), text.size());
    EXPECT_EQ(text.compare(0, got.size(), got), 0);
    EXPECT_TRUE(logged("cut short"));
}

TEST_F(inflate_test, plain_wins_at_equal_rank_and_the_lower_rank_wins_otherwise)
{
    std::string plain = "plain", packed_text = "packed";
    // a.saf is read before b.saf: its members have the lower rank.
    write_file(dirs().data / "a.saf", saf({{"same", plain}, {"same.gz", gzip(packed_text)}, {"k.gz", gzip(packed_text)}}));
    write_file(dirs().data / "b.saf", saf({{"k", plain}}));
    // A loose plain file beats a member; a loose ".gz" beats a member too.
    write_file(dirs().data / "m.gz", gzip(packed_text));
    write_file(dirs().data / "c.saf", saf({{"m", plain}}));
    ASSERT_NE(file_index_build(), nullptr);
    struct {
        const char *name;
        const std::string &want;
    } cases[] = {{"@same", plain}, {"@k", packed_text}, {"@m", packed_text}};
    for (const auto &c : cases) {
        data_file_ptr f(data_open(c.name, "rb"));
        ASSERT_TRUE(f) << c.name;
        EXPECT_EQ(read_all(f.get()), c.want) << c.name;
    }
}

}  // namespace
