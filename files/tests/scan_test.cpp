// data_scanf: the scanf conventions over a stream, the push-back rule, field
// widths that bound every store, and integers that saturate.
#include "files/tests/test_util.h"

#include <climits>
#include <cstring>

namespace {

using scan_test = files_test;

// Formats held in variables, so the compiler does not check cases that are
// deliberately odd.
int scan_int(const char *text, const char *fmt, int *out, int *next_char)
{
    data_file_ptr f(open_text(text));
    int r = data_scanf(f.get(), fmt, out);
    *next_char = data_getc(f.get());
    return r;
}

TEST_F(scan_test, the_documented_examples)
{
    data_file_ptr f(open_text("12 3.5e1"));
    int i = 0;
    float x = 0;
    EXPECT_EQ(data_scanf(f.get(), "%d %f", &i, &x), 2);
    EXPECT_EQ(i, 12);
    EXPECT_EQ(x, 35.0f);

    f.reset(open_text(""));
    EXPECT_EQ(data_scanf(f.get(), "%d %f", &i, &x), -1);

    f.reset(open_text("x"));
    EXPECT_EQ(data_scanf(f.get(), "%d %f", &i, &x), 0);
    EXPECT_EQ(data_getc(f.get()), 'x');
}

TEST_F(scan_test, integers)
{
    struct {
        const char *text;
        const char *fmt;
        int ret;
        int value;
        int next;  // the character the next read gets
    } cases[] = {
        {"12abc", "%d", 1, 12, 'a'},
        {"  -7 ", "%d", 1, -7, ' '},
        {"+5", "%d", 1, 5, -1},
        {"99999999999", "%d", 1, INT_MAX, -1},
        {"-99999999999999999999999", "%d", 1, INT_MIN, -1},
        {"0x1F", "%i", 1, 31, -1},
        {"017", "%i", 1, 15, -1},
        {"-12", "%i", 1, -12, -1},
        {"0xz", "%i", 1, 0, 'z'},
        {"0", "%i", 1, 0, -1},
        {"ff", "%x", 1, 255, -1},
        {"0XfF", "%X", 1, 255, -1},
        {"789", "%o", 1, 7, '8'},
        {"12345", "%3d", 1, 123, '4'},
        {"a", "%d", 0, -100, 'a'},
        {"5", "%d\n%d", 1, 5, -1},
        {"a5", "a%d", 1, 5, -1},
        {"b5", "a%d", 0, -100, 'b'},
        {"50%", "%d%%", 1, 50, -1},
        {"50 %", "%d%%", 1, 50, -1},
        {"", "a%d", -1, -100, -1},
        {"7 8", "%*d %d", 1, 8, -1},
        {"1 2", "%d %y", 1, 1, '2'},  // an unknown conversion ends the scan
    };
    for (const auto &c : cases) {
        int v = -100, next = 0;
        EXPECT_EQ(scan_int(c.text, c.fmt, &v, &next), c.ret) << c.text << " " << c.fmt;
        EXPECT_EQ(v, c.value) << c.text << " " << c.fmt;
        EXPECT_EQ(next, c.next) << c.text << " " << c.fmt;
    }
}

TEST_F(scan_test, integer_sizes_saturate)
{
    data_file_ptr f(open_text("40000 -40000 300 99999999999999999999 fffffffff -1 77777777777777777777777"));
    short h1 = 0, h2 = 0;
    signed char c = 0;
    long long ll = 0;
    unsigned u = 0, m = 0;
    unsigned long long ull = 0;
    EXPECT_EQ(data_scanf(f.get(), "%hd %hd %hhd %lld %x %u %llo", &h1, &h2, &c, &ll, &u, &m, &ull), 7);
    EXPECT_EQ(h1, SHRT_MAX);
    EXPECT_EQ(h2, SHRT_MIN);
    EXPECT_EQ(c, SCHAR_MAX);
    EXPECT_EQ(ll, LLONG_MAX);
    EXPECT_EQ(u, UINT_MAX);
    EXPECT_EQ(m, UINT_MAX);  // -1 as strtoul reads it
    EXPECT_EQ(ull, ULLONG_MAX);
}

TEST_F(scan_test, floating_point)
{
    struct {
        const char *text;
        int ret;
        double value;
        int next;
    } cases[] = {
        {"-1.5e-3", 1, -1.5e-3, -1},
        {".5", 1, 0.5, -1},
        {"5.", 1, 5.0, -1},
        {"2E+2x", 1, 200.0, 'x'},
        {"1ex", 0, -100, 'x'},  // the "1e" is consumed and the field fails
        {"+.e1", 0, -100, 'e'},
        {"abc", 0, -100, 'a'},
        {"7", 1, 7.0, -1},
    };
    for (const auto &c : cases) {
        data_file_ptr f(open_text(c.text));
        double v = -100;
        EXPECT_EQ(data_scanf(f.get(), "%lf", &v), c.ret) << c.text;
        EXPECT_DOUBLE_EQ(v, c.value) << c.text;
        EXPECT_EQ(data_getc(f.get()), c.next) << c.text;
    }
    data_file_ptr f(open_text("1.25 2.5 3.75"));
    float fl = 0;
    double d = 0;
    long double ld = 0;
    EXPECT_EQ(data_scanf(f.get(), "%f %lf %Lf", &fl, &d, &ld), 3);
    EXPECT_EQ(fl, 1.25f);
    EXPECT_EQ(d, 2.5);
    EXPECT_EQ(ld, 3.75L);
}

// A buffer with guard bytes after it: a store past its end shows.
struct guarded {
    char buf[16];
    char guard[16];
    guarded() { std::memset(this, '#', sizeof *this); }
    bool intact() const
    {
        for (char g : guard)
            if (g != '#')
                return false;
        return true;
    }
};

TEST_F(scan_test, widths_bound_string_stores)
{
    std::string word(40, 'w');
    data_file_ptr f(open_text(word + " tail"));
    guarded g;
    EXPECT_EQ(data_scanf(f.get(), "%15s", g.buf), 1);
    EXPECT_EQ(std::string(g.buf), std::string(15, 'w'));
    EXPECT_TRUE(g.intact());
    EXPECT_EQ(data_getc(f.get()), 'w');  // the rest of the word is still there

    std::string line(2000, 'L');
    f.reset(open_text(line + "\n"));
    std::vector<char> big(1024 + 16, '#');
    EXPECT_EQ(data_scanf(f.get(), "%1023s", big.data()), 1);
    EXPECT_EQ(std::strlen(big.data()), 1023u);
    EXPECT_EQ(big[1024], '#');

    f.reset(open_text("abcdef"));
    guarded c;
    EXPECT_EQ(data_scanf(f.get(), "%3c", c.buf), 1);
    EXPECT_EQ(std::string(c.buf, 4), "abc#");  // no terminator for %c
    EXPECT_EQ(data_scanf(f.get(), "%c", c.buf), 1);
    EXPECT_EQ(c.buf[0], 'd');

    f.reset(open_text("ab"));
    EXPECT_EQ(data_scanf(f.get(), "%3c", c.buf), -1);  // too few characters
}

TEST_F(scan_test, scan_sets)
{
    struct {
        const char *text;
        const char *fmt;
        int ret;
        const char *value;
        int next;
    } cases[] = {
        {"abcd", "%[a-c]", 1, "abc", 'd'},
        {"line one\nline two", "%[^\n]", 1, "line one", '\n'},
        {"]]x]y", "%[]x]", 1, "]]x]", 'y'},
        {"ab]c", "%[^]]", 1, "ab", ']'},
        {"a-b-c", "%[a-]", 1, "a-", 'b'},
        {"xyz", "%2[xyz]", 1, "xy", 'z'},
        {"\nx", "%[^\n]", 0, "", '\n'},
        {"", "%[a]", -1, "", -1},
    };
    for (const auto &c : cases) {
        data_file_ptr f(open_text(c.text));
        guarded g;
        g.buf[0] = 0;
        EXPECT_EQ(data_scanf(f.get(), c.fmt, g.buf), c.ret) << c.fmt;
        EXPECT_STREQ(g.buf, c.value) << c.fmt;
        EXPECT_EQ(data_getc(f.get()), c.next) << c.fmt;
        EXPECT_TRUE(g.intact());
    }
}

TEST_F(scan_test, count_of_characters_consumed)
{
    data_file_ptr f(open_text("  123 abc"));
    int v = 0, n = -1, n2 = -1;
    char word[8];
    EXPECT_EQ(data_scanf(f.get(), "%d%n %7s%n", &v, &n, word, &n2), 2);
    EXPECT_EQ(n, 5);
    EXPECT_EQ(n2, 9);

    // The line pattern of the text formats: nothing consumed leaves n alone.
    f.reset(open_text("key value\n"));
    char key[16];
    n = 0;
    EXPECT_EQ(data_scanf(f.get(), "%15s %*[^\n]%n", key, &n), 1);
    EXPECT_STREQ(key, "key");
    EXPECT_EQ(n, 9);
}

}  // namespace
