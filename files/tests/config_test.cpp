// The configuration file and control bindings: defaults, the write order,
// round trips, clamps and refused values, the two binding forms, the axis
// arithmetic, the input vector, presets and the server history.
#include "files/tests/test_util.h"
#include "platform/platform.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A stand-in for the bike setup block: one key it owns.
std::string setup_bike = "yz250f(2017)";
int fake_setup_set_key(const char *key, const char *value)
{
    if (std::strcmp(key, "bike") != 0) {
        return 0;
    }
    setup_bike = value;
    return 1;
}
void fake_write_setup(data_file *f) { data_printf(f, "bike=%s\n", setup_bike.c_str()); }

class config_test : public files_test {
protected:
    void SetUp() override
    {
        files_test::SetUp();
        config_set_hooks();
        config_set_defaults();
    }
    void TearDown() override
    {
        bindings_release_all();
        files_test::TearDown();
    }
    static void config_set_hooks()
    {
        setup_bike = "yz250f(2017)";
        config_set_setup_hooks(fake_setup_set_key, fake_write_setup);
    }
    // Reads a configuration text after resetting to the defaults.
    static void read_text(const std::string &text)
    {
        write_file(dirs().home / "config", text);
        config_set_defaults();
        config_read();
    }
    static std::vector<std::string> written_lines()
    {
        EXPECT_TRUE(config_write());
        std::ifstream in(dirs().home / "config", std::ios::binary);
        std::vector<std::string> lines;
        std::string line;
        while (std::getline(in, line)) {
            lines.push_back(line);
        }
        return lines;
    }
};

int index_of(const std::vector<std::string> &lines, const std::string &line)
{
    for (size_t i = 0; i < lines.size(); i++) {
        if (lines[i] == line) {
            return int(i);
        }
    }
    return -1;
}

TEST_F(config_test, defaults_are_written_in_order)
{
    std::vector<std::string> lines = written_lines();
    ASSERT_GT(lines.size(), 100u);
    const char *head[] = {"xres=640", "yres=480", "draw_fps=0", "draw_time=0", "draw_ping=1", "draw_speed=0",
                          "spy=0", "track=", "record=No", "skill=Novice", "minutes=0.000000", "laps=5.000000",
                          "slot00=Empty"};
    for (size_t i = 0; i < std::size(head); i++) {
        EXPECT_EQ(lines[i], head[i]) << i;
    }
    // The setup block sits between time_trial_abort and video_mode.
    int tta = index_of(lines, "time_trial_abort=Yes");
    EXPECT_EQ(index_of(lines, "slot39=Empty"), tta - 2);
    EXPECT_EQ(index_of(lines, "bike=yz250f(2017)"), tta + 1);
    EXPECT_EQ(index_of(lines, "video_mode=Default Fullscreen"), tta + 2);
    EXPECT_EQ(index_of(lines, "server_name=race.kessrun.net"), tta + 3);
    EXPECT_EQ(index_of(lines, "server_name_hist15="), tta + 19);
    EXPECT_EQ(index_of(lines, "ground_detail=70.000000"), tta + 20);
    // The Compatibility preset's column gives the defaults.
    for (const char *line : {"ground_texture_levels=Low+High", "ground_texture_dim_new=1024x1024",
                             "render_texture=Software", "use_shader=Yes", "treadmark_limit=100000.000000",
                             "fov=110.000000", "map_scale=1.000000", "ground_texture_dim=128x128"}) {
        EXPECT_GE(index_of(lines, line), 0) << line;
    }
    int map = index_of(lines, "map_scale=1.000000");
    const char *tail[] = {"throttle_key=(k)x", "front_brake_key=(k)c", "rear_brake_key=(k)v", "left_key=(k)left",
                          "right_key=(k)right", "clutch_key=(k)z", "upshift_key=(k)up", "downshift_key=(k)down",
                          "dab_key=(k)right ctrl", "back_up_key=(k)b", "lean_forward_key=(k)n",
                          "lean_backward_key=(k)m", "pause_key=(k)pause", "step_key=(k).", "rewind_key=(k)\\",
                          "skip_key=(k)/", "prev_key=(k)[", "next_key=(k)]", "console_key=(k)t",
                          "screenshot_key=(k)s"};
    ASSERT_EQ(lines.size(), size_t(map) + 1 + std::size(tail));
    for (size_t i = 0; i < std::size(tail); i++) {
        EXPECT_EQ(lines[size_t(map) + 1 + i], tail[i]);
    }
    EXPECT_EQ(index_of(lines, "demo_backups=0"), map - 1);
}

TEST_F(config_test, changed_settings_survive_a_round_trip)
{
    const char *modes[] = {"800x600", "1024x768"};
    config_set_video_modes(modes, 2);
    config_settings &c = config();
    c.xres = 1280;
    c.spy = 1;
    c.laps.value = 12;
    c.first_person_height.value = 0.40625;
    c.map_scale = 2.5;
    ASSERT_TRUE(choice_setting_select(&c.video_mode, "1024x768"));
    ASSERT_TRUE(choice_setting_select(&c.slots[7], "Robot (4 stroke)"));
    ASSERT_TRUE(choice_setting_select(&c.skill, "Expert"));
    ASSERT_TRUE(choice_setting_select(&c.texture_compress, "Always"));
    text_setting_set(&c.server_name, "mx.example.org:19800");
    text_setting_set(&c.server_history[3], "old.example.org");
    c.track = input_intern("Club Track");
    binding_parse(&c.controls[CONTROL_THROTTLE], "(-0.5,0.75)XInputGamepad0 axis 5");
    binding_parse(&c.controls[CONTROL_CLUTCH], "(k)Left Shift");
    binding_parse(&c.controls[CONTROL_DAB], "");
    setup_bike = "crf450(2018)";
    std::vector<std::string> first = written_lines();

    config_set_defaults();
    setup_bike = "";
    config_read();
    EXPECT_EQ(c.xres, 1280);
    EXPECT_EQ(c.spy, 1);
    EXPECT_EQ(c.laps.value, 12);
    EXPECT_EQ(c.first_person_height.value, 0.40625);
    EXPECT_EQ(c.map_scale, 2.5);
    EXPECT_STREQ(choice_setting_name(&c.video_mode), "1024x768");
    EXPECT_STREQ(choice_setting_name(&c.slots[7]), "Robot (4 stroke)");
    EXPECT_STREQ(choice_setting_name(&c.slots[8]), "Empty");
    EXPECT_STREQ(choice_setting_name(&c.skill), "Expert");
    EXPECT_STREQ(c.server_name.text, "mx.example.org:19800");
    EXPECT_STREQ(c.server_history[3].text, "old.example.org");
    EXPECT_EQ(c.track, input_intern("Club Track"));
    const control_binding &t = c.controls[CONTROL_THROTTLE];
    EXPECT_EQ(t.key_name, nullptr);
    EXPECT_EQ(t.axis_name, input_intern("XInputGamepad0 axis 5"));
    EXPECT_EQ(t.low, -0.5f);
    EXPECT_EQ(t.high, 0.75f);
    EXPECT_EQ(c.controls[CONTROL_CLUTCH].key_name, input_intern("Left Shift"));
    // An emptied key stays empty rather than falling back to the default.
    EXPECT_STREQ(c.controls[CONTROL_DAB].key_name, "");
    EXPECT_EQ(setup_bike, "crf450(2018)");
    // Written again, the file is the same.
    EXPECT_EQ(written_lines(), first);
}

TEST_F(config_test, values_are_clamped_or_refused)
{
    struct value_case {
        const char *line;
        const char *expect;  // the line as written back
    };
    const value_case cases[] = {
        {"laps=99", "laps=50.000000"},
        {"laps=-3", "laps=0.000000"},
        {"fov=abc", "fov=110.000000"},
        {"fov=nan", "fov=110.000000"},
        {"fov=inf", "fov=110.000000"},
        {"fov=-infinity", "fov=110.000000"},
        {"fov=90.5xyz", "fov=90.500000"},
        {"fov = 90", "fov=110.000000"},
        {"FOV=90", "fov=110.000000"},
        {"record=yes", "record=No"},
        {"record=Yes", "record=Yes"},
        {"map_scale=100", "map_scale=8.000000"},
        {"map_scale=0", "map_scale=0.125000"},
        {"map_scale=nan", "map_scale=1.000000"},
        {"xres=abc", "xres=640"},
        {"xres=99999999999", "xres=640"},
        {"xres=-800", "xres=-800"},
        {"yres= 720junk", "yres=720"},
        {"use_fbo=Yes", "render_texture=Hardware/Direct"},
        {"use_fbo=No", "render_texture=Hardware/Copy"},
        {"use_fbo=maybe", "render_texture=Software"},
        {"ground_texture_distance=5", "render_texture=Software"},
        {"throttle_key=x", "throttle_key=(k)x"},
        {"throttle_key=(0.000000,1.000000)", "throttle_key=(0.000000,1.000000)"},
        {"throttle_key=  (k)Keypad Enter\r", "throttle_key=(k)Keypad Enter"},
        {"fov=120\r", "fov=120.000000"},
        {"no equals sign here", "fov=110.000000"},
        {"video_mode=Windowed", "video_mode=Windowed"},
        {"video_mode=9999x9999", "video_mode=Default Fullscreen"},
    };
    for (const value_case &c : cases) {
        read_text(std::string(c.line) + "\n");
        std::vector<std::string> lines = written_lines();
        EXPECT_GE(index_of(lines, c.expect), 0) << c.line << " -> expected " << c.expect;
    }
}

TEST_F(config_test, texts_are_cut_and_long_history_entries_dropped)
{
    std::string long_name(200, 'a');
    std::string h126(126, 'b');
    std::string h127(127, 'c');
    read_text("server_name=" + long_name + "\nserver_name_hist00=" + h126 + "\nserver_name_hist01=" + h127 + "\n");
    EXPECT_EQ(std::string(config().server_name.text), std::string(127, 'a'));
    EXPECT_EQ(std::string(config().server_history[0].text), h126);
    EXPECT_STREQ(config().server_history[1].text, "");
}

TEST_F(config_test, over_long_line_is_skipped_whole)
{
    // Read in 1023-byte pieces, the tail would look like a line of its own.
    std::string line = "server_name=" + std::string(1100, 'x') + "laps=3\n";
    read_text(line + "fov=100\n" + std::string(1500, 'y') + "\nlaps=7");
    EXPECT_EQ(config().laps.value, 7);
    EXPECT_EQ(config().fov.value, 100);
    EXPECT_STREQ(config().server_name.text, "race.kessrun.net");
    // A last line that exactly fills the buffer without a newline is whole.
    std::string exact = "server_name=" + std::string(1023 - 12, 'z');
    read_text(exact);
    EXPECT_EQ(std::strlen(config().server_name.text), 127u);
    // So is one that fills it up to its line end.
    read_text(exact + "\r\nlaps=8\n");
    EXPECT_EQ(std::strlen(config().server_name.text), 127u);
    EXPECT_EQ(config().laps.value, 8);
}

TEST_F(config_test, missing_file_keeps_defaults)
{
    config().laps.value = 9;
    config_read();
    EXPECT_EQ(config().laps.value, 9);
}

TEST_F(config_test, failed_write_keeps_the_old_file)
{
    config().laps.value = 3;
    ASSERT_TRUE(config_write());
    std::ifstream before(dirs().home / "config");
    std::stringstream old_text;
    old_text << before.rdbuf();

    // A directory where the file should go: the rename fails.
    fs::create_directories(dirs().home / "blocked" / "inside");
    EXPECT_FALSE(config_write_to("@blocked"));
    EXPECT_TRUE(logged("Can't write @blocked"));
    EXPECT_FALSE(fs::exists(dirs().home / "blocked.new"));
    // A directory where the new file should be written: nothing is opened.
    fs::create_directories(dirs().home / "config.new");
    config().laps.value = 4;
    EXPECT_FALSE(config_write());
    std::ifstream after(dirs().home / "config");
    std::stringstream new_text;
    new_text << after.rdbuf();
    EXPECT_EQ(new_text.str(), old_text.str());
}

TEST_F(config_test, binding_forms_parse_and_format)
{
    struct binding_case {
        const char *value;
        const char *key;   // null: none
        const char *axis;  // null: none
        float low, high;
        const char *line;  // as binding_format writes it for "k"
    };
    const binding_case cases[] = {
        {"x", "x", nullptr, 0, 1, "k=(k)x\n"},
        {"(k)x", "x", nullptr, 0, 1, "k=(k)x\n"},
        {"  \t(k)right ctrl", "right ctrl", nullptr, 0, 1, "k=(k)right ctrl\n"},
        {"(0.000000,1.000000)", nullptr, "", 0, 1, "k=(0.000000,1.000000)\n"},
        {"(-1,0.5)Wheel axis 2", nullptr, "Wheel axis 2", -1, 0.5f, "k=(-1.000000,0.500000)Wheel axis 2\n"},
        {"(0.25, 0.75)cursor-x", nullptr, "cursor-x", 0.25f, 0.75f, "k=(0.250000,0.750000)cursor-x\n"},
        // Not two numbers: the whole text is a key name.
        {"(a,b)x", "(a,b)x", nullptr, 0, 1, "k=(k)(a,b)x\n"},
        {"(nan,1)x", "(nan,1)x", nullptr, 0, 1, "k=(k)(nan,1)x\n"},
        {"(k", "(k", nullptr, 0, 1, "k=(k)(k\n"},
    };
    for (const binding_case &c : cases) {
        control_binding b{};
        binding_parse(&b, c.value);
        EXPECT_EQ(b.key_name, c.key ? input_intern(c.key) : nullptr) << c.value;
        EXPECT_EQ(b.axis_name, c.axis ? input_intern(c.axis) : nullptr) << c.value;
        EXPECT_EQ(b.low, c.low) << c.value;
        EXPECT_EQ(b.high, c.high) << c.value;
        char line[256];
        EXPECT_EQ(binding_format(line, sizeof line, "k", &b), int(std::strlen(c.line)));
        EXPECT_STREQ(line, c.line);
    }
    control_binding unbound{};
    char line[16] = "junk";
    EXPECT_EQ(binding_format(line, sizeof line, "k", &unbound), 0);
    EXPECT_STREQ(line, "");
}

TEST(binding_arithmetic, axis_values_are_calibrated_and_clamped)
{
    struct axis_case {
        int raw;
        float low, high, value;
    };
    const axis_case cases[] = {
        {0, 0, 1, 0},           {16384, 0, 1, 0.5f},    {32767, 0, 1, 32767.0f / 32768},
        {-32767, 0, 1, 0},      {-16384, -1, 0, 0.5f},  {16384, 1, 0, 0.5f},
        {32767, 1, 0, 1.0f / 32768}, {8192, 0, 0.5f, 0.5f}, {32767, 0, 0.5f, 1},
        // No width: a switch, never a division by zero.
        {16384, 0.5f, 0.5f, 1}, {16383, 0.5f, 0.5f, 0}, {0, 0, 0, 1}, {-1, 0, 0, 0},
    };
    for (const axis_case &c : cases) {
        float v = binding_axis_value(c.raw, c.low, c.high);
        EXPECT_FLOAT_EQ(v, c.value) << c.raw << " " << c.low << ".." << c.high;
        EXPECT_TRUE(std::isfinite(v));
    }
}

TEST_F(config_test, bound_keys_drive_the_input_vector)
{
    bindings_bind_all();
    const config_settings &c = config();
    EXPECT_TRUE(c.controls[CONTROL_THROTTLE].has_code);
    EXPECT_EQ(c.controls[CONTROL_THROTTLE].code, VELK_KEY_BASE + 0x2D);
    EXPECT_EQ(c.controls[CONTROL_DAB].code, VELK_KEY_BASE + 0x11D);
    EXPECT_EQ(c.controls[CONTROL_PAUSE].code, VELK_KEY_BASE + 0x45);

    struct step {
        uint32_t scan;
        bool pressed;
        float expect[INPUT_COUNT];
    };
    const step steps[] = {
        {0x2D, true, {0, 1, 0, 0, 0, 0, 0, 0, 0}},          // x: throttle
        {0x14B, true, {1, 1, 0, 0, 0, 0, 0, 0, 0}},         // left
        {0x14D, true, {0, 1, 0, 0, 0, 0, 0, 0, 0}},         // right cancels left
        {0x14B, false, {-1, 1, 0, 0, 0, 0, 0, 0, 0}},
        {0x150, true, {-1, 1, 0, 0, -1, 0, 0, 0, 0}},       // down: shift -1
        {0x31, true, {-1, 1, 0, 0, -1, 0, 0, 0, -1}},       // n: lean forward
        {0x32, true, {-1, 1, 0, 0, -1, 0, 0, 0, 0}},        // m: lean backward
        {0x2E, true, {-1, 1, 1, 0, -1, 0, 0, 0, 0}},        // c, v, z, right ctrl, b
        {0x2F, true, {-1, 1, 1, 1, -1, 0, 0, 0, 0}},
        {0x2C, true, {-1, 1, 1, 1, -1, 1, 0, 0, 0}},
        {0x11D, true, {-1, 1, 1, 1, -1, 1, 1, 0, 0}},
        {0x30, true, {-1, 1, 1, 1, -1, 1, 1, 1, 0}},
        {0x2D, false, {-1, 0, 1, 1, -1, 1, 1, 1, 0}},
        {0x45, true, {-1, 0, 1, 1, -1, 1, 1, 1, 0}},        // pause is no rider input
    };
    for (const step &s : steps) {
        bindings_key_event(VELK_KEY_BASE + s.scan, s.pressed);
        float in[INPUT_COUNT];
        bindings_input_vector(in);
        for (int i = 0; i < INPUT_COUNT; i++) {
            EXPECT_EQ(in[i], s.expect[i]) << "scan 0x" << std::hex << s.scan << " input " << i;
        }
    }
    // An unknown name stays stored and unbound.
    control_binding b{};
    binding_parse(&b, "(k)No Such Key");
    EXPECT_FALSE(binding_bind(&b));
    EXPECT_STREQ(b.key_name, "No Such Key");
}

TEST_F(config_test, unbound_controls_are_tried_again)
{
    // A name that means nothing at start-up (a device not plugged in yet)
    // stays unbound; once it resolves, only the missing bindings are bound.
    read_text("throttle_key=(k)late pad button\nclutch_key=(k)z\n");
    bindings_bind_all();
    control_binding &throttle = config().controls[CONTROL_THROTTLE];
    control_binding &clutch = config().controls[CONTROL_CLUTCH];
    EXPECT_FALSE(throttle.has_code);
    ASSERT_TRUE(clutch.has_code);
    clutch.value = 1;  // held: a retry must not release it
    EXPECT_EQ(bindings_bind_missing(), 0);
    input_alias("late pad button", "x");
    EXPECT_EQ(bindings_bind_missing(), 1);
    EXPECT_TRUE(throttle.has_code);
    EXPECT_EQ(throttle.code, VELK_KEY_BASE + 0x2D);
    EXPECT_EQ(clutch.value, 1.0f);
    EXPECT_EQ(bindings_bind_missing(), 0);
}

TEST_F(config_test, presets_set_and_recognise_their_settings)
{
    EXPECT_TRUE(preset_matches(0));
    EXPECT_STREQ(preset_label(), "Current Settings: Compatibility");
    const char *labels[] = {"Current Settings: Compatibility", "Current Settings: High FPS",
                            "Current Settings: Normal", "Current Settings: High Detail"};
    for (int p = 0; p < PRESET_COUNT; p++) {
        preset_apply(p);
        for (int q = 0; q < PRESET_COUNT; q++) {
            EXPECT_EQ(preset_matches(q), p == q) << p << " " << q;
        }
        EXPECT_STREQ(preset_label(), labels[p]);
    }
    config_settings &c = config();
    EXPECT_STREQ(choice_setting_name(&c.ground_texture_levels), "Low+Mid+High");
    EXPECT_STREQ(choice_setting_name(&c.ground_texture_dim_new), "4096x4096");
    EXPECT_EQ(c.treadmark_limit.value, 1000000);
    preset_apply(1);
    EXPECT_STREQ(choice_setting_name(&c.render_texture), "Hardware/Direct");
    EXPECT_STREQ(choice_setting_name(&c.lens_flare), "No");
    c.fov.value = 60;  // not a preset setting
    EXPECT_TRUE(preset_matches(1));
    c.lens_flare.selected = 1;
    EXPECT_FALSE(preset_matches(1));
    EXPECT_STREQ(preset_label(), "Current Settings: Custom");
    EXPECT_FALSE(preset_matches(4));
}

TEST_F(config_test, server_history_moves_down)
{
    config_settings &c = config();
    text_setting_set(&c.server_name, "");
    server_history_push();
    EXPECT_STREQ(c.server_history[0].text, "");
    for (int i = 0; i < 17; i++) {
        std::string name = "host" + std::to_string(i);
        text_setting_set(&c.server_name, name.c_str());
        server_history_push();
        server_history_push();  // the head already: unchanged
    }
    EXPECT_STREQ(c.server_history[0].text, "host16");
    EXPECT_STREQ(c.server_history[1].text, "host15");
    EXPECT_STREQ(c.server_history[15].text, "host1");
}

} // namespace
