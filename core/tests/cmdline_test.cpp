#include "core/core_local.h"
#include "files/files.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

namespace {

cmdline_result parse(std::initializer_list<const char *> words, startup_switches *sw) {
    std::vector<const char *> argv{"kessrun"};
    argv.insert(argv.end(), words);
    return parse_command_line(int(argv.size()), argv.data(), sw);
}

struct error_case {
    std::vector<const char *> words;
    const char *message;
};

class CommandLineErrors : public ::testing::TestWithParam<error_case> {};

TEST_P(CommandLineErrors, GiveTheOptionText) {
    const error_case &c = GetParam();
    std::vector<const char *> argv{"kessrun"};
    argv.insert(argv.end(), c.words.begin(), c.words.end());
    startup_switches sw;
    cmdline_result r = parse_command_line(int(argv.size()), argv.data(), &sw);
    EXPECT_EQ(r.status, cmdline_status::error);
    EXPECT_EQ(r.message, c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLineErrors,
    ::testing::Values(
        error_case{{"--texture-detail", "x"}, "Bad arg for --texture-detail\n"},
        error_case{{"--ground-texture-detail=abc"}, "Bad arg for --ground-texture-detail\n"},
        error_case{{"--roostfrequency"}, "Bad arg for --roostfrequency\n"},
        error_case{{"--erode", "nan"}, "Bad arg for --erode\n"},
        error_case{{"--detail=inf"}, "Bad arg for --detail\n"},
        error_case{{"--max-detail-distance", ""}, "Bad arg for --max-detail-distance\n"},
        error_case{{"--lod-scale", "big"}, "Bad arg for --lod-scale\n"},
        error_case{{"--lod-bias"}, "Bad arg for --lod-bias\n"},
        error_case{{"--lock-fps", "0"}, "Bad arg for --lock-fps\n"},
        error_case{{"--lock-fps=-30"}, "Bad arg for --lock-fps\n"},
        error_case{{"--lock-fps", "inf"}, "Bad arg for --lock-fps\n"},
        error_case{{"--fake-lag", "-"}, "Bad arg for --fake-lag\n"},
        error_case{{"--fake-loss", "x"}, "Bad arg for --fake-loss\n"},
        error_case{{"--chase-center", "1,2"}, "Bad arg for --chase-center\n"},
        error_case{{"--chase-center=1,2,nan"}, "Bad arg for --chase-center\n"},
        error_case{{"--glversion", "3"}, "bad arg for --glversion\n"},
        error_case{{"--glversion"}, "bad arg for --glversion\n"},
        error_case{{"--glversion=3.3gles"},
                   "unknown OpenGL dialect for --glversion (must be 'compatibility', 'core' or 'es')\n"},
        error_case{{"--track"}, "Bad arg for --track\n"},
        error_case{{"--quit-after"}, "Bad arg for --quit-after\n"},
        error_case{{"--quit-after", "0"}, "Bad arg for --quit-after\n"},
        error_case{{"--quit-after=-1"}, "Bad arg for --quit-after\n"},
        error_case{{"--quit-after", "30s"}, "Bad arg for --quit-after\n"},
        error_case{{"--quit-after", "inf"}, "Bad arg for --quit-after\n"},
        error_case{{"--lineup"}, "Bad arg for --lineup\n"},
        error_case{{"--lineup", "1,,2"}, "Bad arg for --lineup\n"},
        error_case{{"--lineup", "1,2,"}, "Bad arg for --lineup\n"},
        error_case{{"--lineup", "1,x"}, "Bad arg for --lineup\n"},
        error_case{{"--lineup", "99999999999"}, "Bad arg for --lineup\n"},
        error_case{{"--controls"}, "Bad arg for --controls\n"},
        error_case{{"--controls="}, "Bad arg for --controls\n"},
        error_case{{"--telemetry"}, "Bad arg for --telemetry\n"},
        error_case{{"--seed"}, "Bad arg for --seed\n"},
        error_case{{"--seed", "-1"}, "Bad arg for --seed\n"},
        error_case{{"--seed=4294967296"}, "Bad arg for --seed\n"},
        error_case{{"--seed", "5x"}, "Bad arg for --seed\n"},
        error_case{{"-x"}, "bad option '-x'\n"},
        error_case{{"--fugly=1"}, "bad option '--fugly=1'\n"},
        error_case{{"a.krdemo", "b.krdemo"}, "Too many files!\n"},
        error_case{{"--", "-a", "-b"}, "Too many files!\n"}));

TEST(CommandLine, HeadlessOptions) {
    startup_switches sw;
    const char *argv[] = {"kessrun", "--headless", "--quit-after", "30", "--lineup=1,2,2,1042,3",
                          "--controls", "c.txt", "--telemetry", "t.csv"};
    cmdline_result r = parse_command_line(int(std::size(argv)), argv, &sw);
    ASSERT_EQ(r.status, cmdline_status::ok) << r.message;
    EXPECT_TRUE(sw.headless);
    EXPECT_DOUBLE_EQ(sw.quit_after, 30.0);
    EXPECT_EQ(sw.lineup, (std::vector<int32_t>{1, 2, 2, 1042, 3}));
    EXPECT_EQ(sw.controls_file, "c.txt");
    EXPECT_EQ(sw.telemetry_file, "t.csv");
}

TEST(CommandLine, SeedTakesAnyThirtyTwoBitNumber) {
    struct seed_case {
        std::vector<const char *> words;
        uint32_t seed;
    };
    const seed_case cases[] = {
        {{"--seed", "5"}, 5},
        {{"--seed=0"}, 0},
        {{"--seed", "4294967295"}, 4294967295u},
    };
    for (const seed_case &c : cases) {
        startup_switches sw;
        std::vector<const char *> argv{"kessrun"};
        argv.insert(argv.end(), c.words.begin(), c.words.end());
        ASSERT_EQ(parse_command_line(int(argv.size()), argv.data(), &sw).status, cmdline_status::ok) << c.words[0];
        EXPECT_TRUE(sw.seed_set);
        EXPECT_EQ(sw.seed, c.seed);
    }
    startup_switches none;
    EXPECT_FALSE(none.seed_set);  // without it the clock seeds each load
}

// What the configuration gives before the command line: the "High FPS"
// preset's roost density of 0 throws no roost unless the option says so.
TEST(CommandLine, ConfigurationFirstThenOptions) {
    config_set_defaults();
    config_settings &c = config();
    c.roost_density.value = 0;
    c.model_texture_detail.value = 7;
    c.xres = 1024;
    startup_switches sw;
    switches_from_config(c, &sw);
    EXPECT_EQ(sw.roost_frequency, 0);
    EXPECT_EQ(sw.texture_reduction, 3);
    EXPECT_EQ(sw.width, 1024);
    ASSERT_EQ(parse({"--roostfrequency", "250", "--width=800"}, &sw).status, cmdline_status::ok);
    EXPECT_EQ(sw.roost_frequency, 250);
    EXPECT_EQ(sw.width, 800);
    c.roost_density.value = 537.9;
    switches_from_config(c, &sw);
    EXPECT_EQ(sw.roost_frequency, 537);
    config_set_defaults();
}

TEST(CommandLine, OptionsWithoutEffectSaySo) {
    startup_switches sw;
    EXPECT_EQ(ignored_options_note(sw), "");
    ASSERT_EQ(parse({"--record-audio", "out.raw", "race.krdemo"}, &sw).status, cmdline_status::ok);
    EXPECT_EQ(ignored_options_note(sw), "--record-audio: no sound output in this build, option ignored\n"
                                        "race.krdemo: no demo playback in this build, file ignored\n");
}

TEST(CommandLine, LineupHoldsAtMostEverySlot) {
    std::string codes = "1";
    for (int i = 1; i < 160; ++i)
        codes += ",2";
    startup_switches sw;
    const char *ok[] = {"kessrun", "--lineup", codes.c_str()};
    EXPECT_EQ(parse_command_line(3, ok, &sw).status, cmdline_status::ok);
    EXPECT_EQ(sw.lineup.size(), 160u);
    codes += ",2";
    const char *too_many[] = {"kessrun", "--lineup", codes.c_str()};
    EXPECT_EQ(parse_command_line(3, too_many, &sw).message, "Bad arg for --lineup\n");
}

TEST(CommandLine, FakeLossReadsLeadingInteger) {
    startup_switches sw;
    EXPECT_EQ(parse({"--fake-loss", "1.5e"}, &sw).status, cmdline_status::ok);
    EXPECT_EQ(sw.fake_loss, 1);
}

TEST(CommandLine, ClampsAndBothValueForms) {
    struct clamp_case {
        std::vector<const char *> words;
        int startup_switches::*field;
        int expected;
    };
    const clamp_case cases[] = {
        {{"--texture-detail", "-3"}, &startup_switches::texture_reduction, 0},
        {{"--texture-detail=9"}, &startup_switches::texture_reduction, 4},
        {{"--texture-detail", "2"}, &startup_switches::texture_reduction, 2},
        {{"--texture-detail=2"}, &startup_switches::texture_reduction, 2},
        {{"--roostfrequency", "5000"}, &startup_switches::roost_frequency, 1000},
        {{"--roostfrequency=-1"}, &startup_switches::roost_frequency, 0},
        {{"--fake-loss", "150"}, &startup_switches::fake_loss, 100},
        {{"--erode", "0.5"}, &startup_switches::erode_amount, 512},
        {{"--erode=1000"}, &startup_switches::erode_amount, 102400},
        {{"--erode", "-4"}, &startup_switches::erode_amount, 0},
        {{"--width", "1024"}, &startup_switches::width, 1024},
        {{"--width", "junk"}, &startup_switches::width, 640},
        {{"--height=99999999999"}, &startup_switches::height, 2147483647},
        {{"--depth", "24"}, &startup_switches::colour_bits, 24},
        {{"--zdepth=32"}, &startup_switches::depth_bits, 32},
        {{"--draw-fps", "1"}, &startup_switches::draw_fps, 1},
        {{"--rotate-lineup", "3"}, &startup_switches::rotate_lineup, 3},
    };
    for (const clamp_case &c : cases) {
        startup_switches sw;
        std::vector<const char *> argv{"kessrun"};
        argv.insert(argv.end(), c.words.begin(), c.words.end());
        cmdline_result r = parse_command_line(int(argv.size()), argv.data(), &sw);
        EXPECT_EQ(r.status, cmdline_status::ok) << c.words[0];
        EXPECT_EQ(sw.*c.field, c.expected) << c.words[0];
    }
}

TEST(CommandLine, RealValues) {
    startup_switches sw;
    ASSERT_EQ(parse({"--fake-lag", "2500", "--lod-scale=0", "--max-detail-distance", "10", "--detail", "0.25",
                     "--lock-fps", "30"},
                    &sw)
                  .status,
              cmdline_status::ok);
    EXPECT_DOUBLE_EQ(sw.fake_lag, 1.0);
    EXPECT_DOUBLE_EQ(sw.lod_scale, 1e-6);
    EXPECT_DOUBLE_EQ(sw.max_detail_distance, 10.0);
    EXPECT_DOUBLE_EQ(sw.detail_fade_distance, 15.0);
    EXPECT_DOUBLE_EQ(sw.terrain_detail, 0.25);
    EXPECT_TRUE(sw.detail_set);
    EXPECT_DOUBLE_EQ(sw.lock_fps, 30.0);
}

TEST(CommandLine, GlVersionDialects) {
    struct gl_case {
        const char *value;
        int major, minor;
        velk_gl_kind kind;
    };
    const gl_case cases[] = {
        {"3.3", 3, 3, velk_gl_kind::compatibility},
        {"3.3core", 3, 3, velk_gl_kind::core},
        {"3.0es", 3, 0, velk_gl_kind::es},
        {"4.6 compatibility", 4, 6, velk_gl_kind::compatibility},
    };
    for (const gl_case &c : cases) {
        startup_switches sw;
        ASSERT_EQ(parse({"--glversion", c.value}, &sw).status, cmdline_status::ok) << c.value;
        EXPECT_EQ(sw.gl_major, c.major) << c.value;
        EXPECT_EQ(sw.gl_minor, c.minor) << c.value;
        EXPECT_EQ(sw.gl_kind, c.kind) << c.value;
    }
    startup_switches sw;
    EXPECT_EQ(sw.gl_major, 3);
    EXPECT_EQ(sw.gl_minor, 1);
    EXPECT_EQ(sw.gl_kind, velk_gl_kind::core);
}

TEST(CommandLine, ChaseCenterNeedsThreeNumbers) {
    startup_switches sw;
    ASSERT_EQ(parse({"--chase-center", "1,-2.5,3e1"}, &sw).status, cmdline_status::ok);
    EXPECT_FLOAT_EQ(sw.chase_center[0], 1.0f);
    EXPECT_FLOAT_EQ(sw.chase_center[1], -2.5f);
    EXPECT_FLOAT_EQ(sw.chase_center[2], 30.0f);
}

TEST(CommandLine, EndOfOptions) {
    startup_switches sw;
    ASSERT_EQ(parse({"--fugly", "--", "-odd.krdemo"}, &sw).status, cmdline_status::ok);
    EXPECT_TRUE(sw.fugly);
    EXPECT_EQ(sw.file, "-odd.krdemo");

    // After "--" an option word is a file name, not an option.
    startup_switches sw2;
    ASSERT_EQ(parse({"--", "--track"}, &sw2).status, cmdline_status::ok);
    EXPECT_EQ(sw2.file, "--track");
    EXPECT_TRUE(sw2.track.empty());

    startup_switches sw3;
    EXPECT_EQ(parse({"--"}, &sw3).status, cmdline_status::ok);
    EXPECT_TRUE(sw3.file.empty());
}

TEST(CommandLine, ConnectPrefixAndTrack) {
    startup_switches a, b;
    ASSERT_EQ(parse({"--connect", "kessrun:example.org:19800", "--track", "mx"}, &a).status, cmdline_status::ok);
    ASSERT_EQ(parse({"--connect=example.org:19800"}, &b).status, cmdline_status::ok);
    EXPECT_EQ(a.connect, "example.org:19800");
    EXPECT_EQ(a.connect, b.connect);
    EXPECT_EQ(a.track, "mx");  // start-up drops it when a server is named
}

TEST(CommandLine, SwitchesAndNotes) {
    startup_switches sw;
    cmdline_result r = parse({"--nommx", "--bikes", "9", "--debug", "--warp", "--editor", "demo.krdemo"}, &sw);
    ASSERT_EQ(r.status, cmdline_status::ok);
    EXPECT_EQ(r.message, "--bikes doesn't do anything anymore\n");
    EXPECT_EQ(sw.verbosity, 1);
    EXPECT_TRUE(sw.warp);
    EXPECT_TRUE(sw.editor);
    EXPECT_EQ(sw.file, "demo.krdemo");

    startup_switches sw2;
    ASSERT_EQ(parse({"--learn", "--nolearn", "--super-debug"}, &sw2).status, cmdline_status::ok);
    EXPECT_FALSE(sw2.learn);
    EXPECT_EQ(sw2.verbosity, 2);
}

TEST(CommandLine, OpenHomeStopsParsing) {
    startup_switches sw;
    cmdline_result r = parse({"--fugly", "--open-home", "--no-such-option"}, &sw);
    EXPECT_EQ(r.status, cmdline_status::open_home);
    EXPECT_TRUE(sw.fugly);
}

}  // namespace
