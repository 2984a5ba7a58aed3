#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/platform_local.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// Points VELK_OPTIONS at a text and the log at a temporary file for one test,
// so the complaints about bad values can be read back.
class options_test : public ::testing::Test {
protected:
    fs::path dir;
    std::optional<std::string> saved_options;

    void SetUp() override
    {
        std::string tmpl = (fs::temp_directory_path() / "velk_opt_XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir = tmpl;
        if (const char *v = std::getenv("VELK_OPTIONS"))
            saved_options = v;
        velk_log_reset_for_tests();
        velk_log("VELK_LOGFILE=%s", (dir / "log.txt").string().c_str());
    }
    void TearDown() override
    {
        velk_log_reset_for_tests();
        if (saved_options)
            setenv("VELK_OPTIONS", saved_options->c_str(), 1);
        else
            unsetenv("VELK_OPTIONS");
        velk_options_reset_for_tests();
        fs::remove_all(dir);
    }
    void set_options(const std::string &text)
    {
        setenv("VELK_OPTIONS", text.c_str(), 1);
        velk_options_reset_for_tests();
    }
    std::string log_text() const
    {
        std::ifstream in(dir / "log.txt");
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    bool complained_about(const std::string &name) const
    {
        return log_text().find("] unrecognized setting for " + name + "\n") != std::string::npos;
    }
};

struct bool_case {
    const char *options;
    bool def;
    bool expected;
    bool complaint;
};

class option_bool : public options_test, public ::testing::WithParamInterface<bool_case> {};

TEST_P(option_bool, reads_value_or_default)
{
    const bool_case &c = GetParam();
    set_options(c.options);
    EXPECT_EQ(velk_option_bool("threaded", c.def), c.expected);
    EXPECT_EQ(complained_about("threaded"), c.complaint) << log_text();
}

INSTANTIATE_TEST_SUITE_P(cases, option_bool,
                         ::testing::Values(bool_case{"[threaded:maybe]", false, false, true},
                                           bool_case{"[threaded:maybe]", true, true, true},
                                           bool_case{"[threaded:on]", false, true, false},
                                           bool_case{"[threaded:yes]", false, true, false},
                                           bool_case{"[threaded:off]", true, false, false},
                                           bool_case{"[threaded:no]", true, false, false},
                                           // The value must be closed at once.
                                           bool_case{"[threaded:on", false, false, true},
                                           bool_case{"[threaded:onward]", false, false, true},
                                           bool_case{"[threaded:ON]", false, false, true},
                                           bool_case{"", true, true, false},
                                           bool_case{"threaded:on", false, false, false},
                                           // Anywhere in the text, in any order; the first wins.
                                           bool_case{"x [xinput:no] y [threaded:on][sound-rate:1]", false, true, false},
                                           bool_case{"[threaded:no][threaded:yes]", true, false, false},
                                           // A longer name sharing the start is another option.
                                           bool_case{"[threaded-extra:on]", false, false, false}));

struct int_case {
    const char *options;
    int expected;
    bool complaint;
};

class option_int : public options_test, public ::testing::WithParamInterface<int_case> {};

TEST_P(option_int, reads_value_or_default)
{
    const int_case &c = GetParam();
    set_options(c.options);
    EXPECT_EQ(velk_option_int("sound-rate", 22050), c.expected);
    EXPECT_EQ(complained_about("sound-rate"), c.complaint) << log_text();
}

INSTANTIATE_TEST_SUITE_P(cases, option_int,
                         ::testing::Values(int_case{"[sound-rate:44100]", 44100, false},
                                           int_case{"[sound-rate:44100x]", 44100, false},
                                           int_case{"[sound-rate:]", 22050, true},
                                           int_case{"[sound-rate:fast]", 22050, true},
                                           int_case{"[sound-rate:  -12]", -12, false},
                                           int_case{"[sound-rate:+7]", 7, false},
                                           int_case{"[sound-rate:0x10]", 0, false},
                                           int_case{"", 22050, false},
                                           // Out of int range: not silently truncated.
                                           int_case{"[sound-rate:99999999999]", 22050, true},
                                           int_case{"[sound-rate:-2147483649]", 22050, true},
                                           int_case{"[sound-rate:2147483647]", 2147483647, false},
                                           int_case{"[sound-rate-max:9][sound-rate:11025]", 11025, false}));

TEST_F(options_test, long_name_matches_on_first_60_characters)
{
    std::string first60(60, 'n');
    std::string name = first60 + "-and-more";
    set_options("[" + first60 + ":yes]");
    EXPECT_TRUE(velk_option_bool(name.c_str(), false));
    EXPECT_FALSE(velk_option_bool(first60.substr(0, 59).c_str(), false));
}

TEST_F(options_test, text_is_read_once)
{
    set_options("[sound-channels:8]");
    EXPECT_EQ(velk_option_int("sound-channels", 16), 8);
    setenv("VELK_OPTIONS", "[sound-channels:4]", 1);
    EXPECT_EQ(velk_option_int("sound-channels", 16), 8);
}

}  // namespace
