// The setup: defaults and the write order, setting keys with their clamps
// and refusals, the stability blend, setup files, the mapping onto a
// rider's parameters, the refusal rule for moving bikes, the description.
#include "sim/sim_local.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A home directory of our own, set before anything asks for it.
fs::path make_home()
{
    std::random_device rd;
    fs::path root = fs::temp_directory_path() / ("kr_sim_test_" + std::to_string(rd()) + std::to_string(rd()));
    fs::create_directories(root / "data");
    setenv("XDG_DATA_HOME", root.c_str(), 1);
    setenv("KR_HOME", (root / "data").c_str(), 1);
    return root;
}
const fs::path test_root = make_home();
struct remove_root {
    ~remove_root()
    {
        std::error_code ec;
        fs::remove_all(test_root, ec);
    }
} remove_at_exit;
const fs::path home = test_root / "Kessrun";

std::string written()
{
    fs::path p = test_root / "written.txt";
    data_file *f = data_open(p.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    write_setup(f);
    data_close(f);
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void read_text(const std::string &text)
{
    fs::path p = test_root / "in.txt";
    std::ofstream(p, std::ios::binary) << text;
    data_file_ptr f(data_open(p.c_str(), "rb"));
    ASSERT_NE(f, nullptr);
    read_setup(f.get());
}

double value(const char *key)
{
    return setup_item(key)->number.value;
}

const char *choice(const char *key)
{
    return choice_setting_name(&setup_item(key)->choice);
}

class setup_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        setup_set_defaults();
        setup_requests_reset_for_tests();
        setup_out_of_range_reset_for_tests();
    }
};

TEST_F(setup_test, defaults_are_written_in_order)
{
    std::string text = written();
    std::vector<std::string> lines;
    std::stringstream s(text);
    for (std::string line; std::getline(s, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 58u);
    const char *want[] = {
        "bike=yz250f(2017)", "name=Rookie", "number=999", "rider_texture=", "head_texture=", "bike_texture=",
        "wheel_texture=", "stability=100.000000",
        // the advanced values from the stability blend of 100
        "leveling=20.000000", "roll_damping=80.000000", "roll_limit_angle=45.000000", "roll_limit_factor=32.000000",
        "steering_damping=60.000000", "steering_strength=75.000000", "max_steering_force=400.000000",
        "direct_steering=0.125000", "slow_damping_speed=40.000000", "slow_damping_factor=2.000000",
        "land_damping_rampup=0.062500", "land_damping_falloff=0.250000", "land_damping_factor=2.000000",
        "full_lock_speed=10.000000", "restricted_lock_speed=50.000000", "restricted_lock=1.000000",
        "arcade=Yes", "front_brake=Antilock", "rear_brake=Normal", "stop_wheelies=Yes", "auto_shift=Yes",
        "auto_dab=Yes", "auto_align=Yes", "sticky_dab=No", "reverse_steering=Yes", "lean_indicator=Yes",
        "auto_clutch_rpms=5000.000000", "brake_torque=500.000000", "rear_brake_torque=250.000000",
        "max_dab_speed=60.000000", "front_sprocket_adjustment=0.000000", "rear_sprocket_adjustment=0.000000",
        "fork_compression_adjustment=50.000000",
    };
    for (size_t i = 0; i < std::size(want); i++) {
        EXPECT_EQ(lines[i], want[i]) << i;
    }
    EXPECT_EQ(lines[47], "shock_compression_adjustment=75.000000");
    EXPECT_EQ(lines[57], "rider_mass_distribution=0.330000");
}

TEST_F(setup_test, keys_are_taken_clamped_or_refused)
{
    struct key_case {
        const char *key;
        const char *value;
        int taken;
        const char *line;  // as written afterwards
    };
    const key_case cases[] = {
        {"bike", "yz250f", 1, "bike=yz250f(2008)"},
        {"bike", "crf250", 1, "bike=crf250(2008)"},
        {"bike", "YZ250F(2018)", 0, "bike=yz250f(2017)"},
        {"bike", "kx450f(2016)", 1, "bike=kx450f(2016)"},
        {"brake_torque", "900", 1, "brake_torque=500.000000"},
        {"max_dab_speed", "1", 1, "max_dab_speed=5.000000"},
        {"front_sprocket_adjustment", "2.7", 1, "front_sprocket_adjustment=2.000000"},
        {"rear_sprocket_adjustment", "-9", 1, "rear_sprocket_adjustment=-2.000000"},
        {"brake_torque", "abc", 0, "brake_torque=500.000000"},
        {"brake_torque", "nan", 0, "brake_torque=500.000000"},
        {"brake_torque", "inf", 0, "brake_torque=500.000000"},
        {"number", "12345", 1, "number=123"},
        {"name", "", 1, "name="},
        {"arcade", "yes", 0, "arcade=Yes"},
        {"stop_wheelies", "Front Only", 1, "stop_wheelies=Front Only"},
        {"Bike", "cr125", 0, "bike=yz250f(2017)"},
        {"bike ", "cr125", 0, "bike=yz250f(2017)"},
        {"nonsense", "1", 0, "bike=yz250f(2017)"},
        {"bike_texture", "red", 1, "bike_texture=red"},
        {"rider_mass_distribution", "0.1", 1, "rider_mass_distribution=0.330000"},
    };
    for (const key_case &c : cases) {
        setup_set_defaults();
        EXPECT_EQ(setup_set_key(c.key, c.value), c.taken) << c.key << "=" << c.value;
        std::string text = written();
        EXPECT_NE(text.find(std::string(c.line) + "\n"), std::string::npos) << c.key << "=" << c.value;
    }
    setup_set_defaults();
    std::string long_name(100, 'n');
    EXPECT_EQ(setup_set_key("name", long_name.c_str()), 1);
    EXPECT_EQ(std::string(setup_item("name")->text.text), std::string(63, 'n'));
}

TEST_F(setup_test, stability_blends_and_later_lines_override)
{
    read_text("stability=0\nleveling=55\n");
    EXPECT_EQ(value("stability"), 0);
    EXPECT_EQ(value("leveling"), 55);
    EXPECT_EQ(value("roll_damping"), 40);
    EXPECT_EQ(value("roll_limit_angle"), 90);
    EXPECT_EQ(value("roll_limit_factor"), 0);
    EXPECT_EQ(value("land_damping_falloff"), 0);
    EXPECT_EQ(value("restricted_lock"), 45);

    // 47.9 blends as 47: u = 2.35, between the 40 and 60 columns.
    setup_set_defaults();
    ASSERT_EQ(setup_set_key("stability", "47.9"), 1);
    EXPECT_DOUBLE_EQ(value("stability"), 47.9);
    EXPECT_NEAR(value("roll_damping"), 63.5, 1e-9);
    EXPECT_NEAR(value("roll_limit_factor"), 17.7, 1e-9);
    EXPECT_NEAR(value("slow_damping_factor"), 1.675, 1e-9);
    EXPECT_NEAR(value("restricted_lock"), 8.25, 1e-9);

    struct blend_case {
        int stability;
        double roll_damping, direct_steering, restricted_lock;
    };
    const blend_case cases[] = {
        {0, 40, 1, 45}, {20, 50, 1, 15}, {90, 77.5, 0.5625, 1.75}, {100, 80, 0.125, 1},
        {-50, 40, 1, 45}, {250, 80, 0.125, 1},
    };
    for (const blend_case &c : cases) {
        stability_blend(c.stability);
        EXPECT_DOUBLE_EQ(value("roll_damping"), c.roll_damping) << c.stability;
        EXPECT_DOUBLE_EQ(value("direct_steering"), c.direct_steering) << c.stability;
        EXPECT_DOUBLE_EQ(value("restricted_lock"), c.restricted_lock) << c.stability;
    }
}

TEST_F(setup_test, a_setup_survives_write_and_read)
{
    setup_set_key("bike", "rmz450(2013)");
    setup_set_key("name", "Jo Racer");
    setup_set_key("stability", "30");
    setup_set_key("roll_damping", "33");
    setup_set_key("rear_brake", "Antilock");
    setup_set_key("rider_mass_distribution", "0.45");
    setup_set_key("wheel_texture", "gold rims");
    std::string first = written();
    setup_set_defaults();
    read_text(first);
    EXPECT_EQ(written(), first);
    EXPECT_STREQ(choice("bike"), "rmz450(2013)");
    EXPECT_EQ(value("roll_damping"), 33);
    EXPECT_STREQ(setup_pending_texture("wheel_texture"), "gold rims");
}

TEST_F(setup_test, texture_names_wait_for_their_lists)
{
    static const char *const wheels[] = {"black", "gold rims", "white"};
    setup_set_key("wheel_texture", "gold rims");
    setup_set_key("bike_texture", "no such graphics");
    setup_set_texture_list("wheel_texture", wheels, 3);
    setup_set_texture_list("bike_texture", wheels, 3);
    EXPECT_STREQ(choice("wheel_texture"), "gold rims");
    EXPECT_STREQ(choice("bike_texture"), "black");
    std::string text = written();
    EXPECT_NE(text.find("wheel_texture=gold rims\n"), std::string::npos);
    EXPECT_NE(text.find("bike_texture=black\n"), std::string::npos);
    // A later line picks from the list at once.
    setup_set_key("wheel_texture", "white");
    EXPECT_STREQ(choice("wheel_texture"), "white");
    // The lists outlive a reset; the other tests expect none.
    setup_set_defaults();
    EXPECT_EQ(setup_item("wheel_texture")->choice.count, 3);
    setup_set_texture_list("wheel_texture", nullptr, 0);
    setup_set_texture_list("bike_texture", nullptr, 0);
}

TEST_F(setup_test, setup_files_stay_in_their_folder)
{
    char name[256];
    ASSERT_TRUE(setup_file_name("fast", name, sizeof name));
    EXPECT_STREQ(name, "@setups/fast");
    for (const char *bad : {"", "../config", "a/b", "..", "a\\b", "x..y"}) {
        EXPECT_FALSE(setup_file_name(bad, name, sizeof name)) << bad;
        EXPECT_FALSE(read_setup_file(bad)) << bad;
        EXPECT_FALSE(write_setup_file(bad)) << bad;
    }
    setup_set_key("brake_torque", "320");
    ASSERT_TRUE(write_setup_file("mine.txt"));
    EXPECT_TRUE(fs::exists(home / "setups" / "mine.txt"));
    setup_set_defaults();
    ASSERT_TRUE(read_setup_file("mine.txt"));
    EXPECT_EQ(value("brake_torque"), 320);
    EXPECT_FALSE(read_setup_file("missing.txt"));
}

TEST_F(setup_test, over_long_lines_are_skipped_whole)
{
    read_text("name=" + std::string(1100, 'x') + "brake_torque=100\nrear_brake_torque=110\r\n");
    EXPECT_EQ(value("brake_torque"), 500);
    EXPECT_EQ(value("rear_brake_torque"), 110);
    EXPECT_STREQ(setup_item("name")->text.text, "Rookie");
}

TEST_F(setup_test, setup_maps_onto_the_rider)
{
    const BikeModel &m = bike_models()[size_t(bike_model_index("yz250f(2017)"))];
    rider_setup_params p = rider_build_params(m);
    EXPECT_EQ(p.shock_compression, 2);
    EXPECT_EQ(p.shock_slow_rebound, 1);
    EXPECT_EQ(p.fork_oil_level, m.fork_oil_level[0]);
    EXPECT_FLOAT_EQ(p.restricted_lock, 0.08726646f);
    EXPECT_TRUE(p.stoppie_limiter);
    EXPECT_FALSE(p.wheelie_limiter);

    struct damping_case {
        const char *value;
        float multiplier, low_speed;
    };
    const damping_case cases[] = {{"0", 0.25f, -1}, {"50", 1, 0}, {"100", 4, 1}, {"75", 2, 0.5f}};
    for (const damping_case &c : cases) {
        setup_set_key("fork_compression_adjustment", c.value);
        setup_set_key("fork_slow_rebound_adjustment", c.value);
        apply_setup_params(&p, m, true);
        EXPECT_FLOAT_EQ(p.fork_compression, c.multiplier) << c.value;
        EXPECT_FLOAT_EQ(p.fork_slow_rebound, c.low_speed) << c.value;
    }
    setup_set_key("max_dab_speed", "1");
    setup_set_key("front_sprocket_adjustment", "2.7");
    setup_set_key("rear_sprocket_adjustment", "-1");
    setup_set_key("fork_spring_rate_adjustment", "100");
    setup_set_key("rider_mass_distribution", "0.5");
    setup_set_key("stop_wheelies", "Front Only");
    setup_set_key("roll_limit_angle", "180");
    setup_set_key("restricted_lock", "45");
    apply_setup_params(&p, m, false);
    EXPECT_NEAR(p.max_dab_speed, 7.3333335f, 1e-5);
    EXPECT_EQ(p.countershaft_teeth, m.countershaft_teeth + 2);
    EXPECT_EQ(p.rear_sprocket_teeth, m.rear_sprocket_teeth - 1);
    EXPECT_FLOAT_EQ(p.final_drive, (m.rear_sprocket_teeth - 1) / (m.countershaft_teeth + 2));
    EXPECT_FLOAT_EQ(p.fork_spring_rate, m.fork_spring_rate[1]);
    EXPECT_FLOAT_EQ(p.rider_body_mass, m.rider_mass * 0.5f);
    EXPECT_FLOAT_EQ(p.frame_body_mass, m.frame_mass + m.rider_mass * 0.5f);
    EXPECT_FALSE(p.arcade);  // the server forbids it
    EXPECT_FALSE(p.wheelie_limiter);
    EXPECT_TRUE(p.stoppie_limiter);
    EXPECT_FLOAT_EQ(p.roll_limit_angle, float(std::numbers::pi));
    EXPECT_FLOAT_EQ(p.restricted_lock, float(std::numbers::pi / 4));
    EXPECT_FALSE(setup_out_of_range());

    // A sprocket never gets below 3 teeth.
    BikeModel tiny = m;
    tiny.countershaft_teeth = 4;
    setup_set_key("front_sprocket_adjustment", "-2");
    apply_setup_params(&p, tiny, true);
    EXPECT_EQ(p.countershaft_teeth, 3);
    EXPECT_TRUE(p.arcade);
}

TEST_F(setup_test, values_far_out_of_range_are_flagged)
{
    const BikeModel &m = bike_models()[0];
    rider_setup_params p = rider_build_params(m);
    setup_item("leveling")->number.value = 112.5;
    setup_item("front_sprocket_adjustment")->number.value = -2.5;
    setup_item("rider_mass_distribution")->number.value = 0.31;
    apply_setup_params(&p, m, true);
    EXPECT_FALSE(setup_out_of_range());
    EXPECT_EQ(p.leveling, 100);
    setup_item("rider_mass_distribution")->number.value = 0.30;
    apply_setup_params(&p, m, true);
    EXPECT_TRUE(setup_out_of_range());
    EXPECT_FLOAT_EQ(p.rider_mass_distribution, 0.33f);
    setup_set_defaults();
    apply_setup_params(&p, m, true);
    EXPECT_TRUE(setup_out_of_range());  // never cleared
}

TEST_F(setup_test, moving_bike_refuses_and_complains_the_second_time)
{
    EXPECT_EQ(request_apply_setup(0.125, 0), setup_request::apply);
    EXPECT_EQ(request_apply_setup(0.2, 1), setup_request::refused);
    EXPECT_EQ(request_apply_setup(0.2, 5), setup_request::refused_with_message);
    EXPECT_EQ(request_apply_setup(0.0, 6), setup_request::apply);
    EXPECT_EQ(request_apply_setup(0.2, 14.9), setup_request::refused_with_message);
    EXPECT_EQ(request_apply_setup(0.2, 25.5), setup_request::refused);
    EXPECT_STREQ(SETUP_REFUSED_MESSAGE, "Settings not applied.  Mechanic can't keep up error.");
}

TEST_F(setup_test, description_long_and_short)
{
    setup_set_key("bike_texture", "blue");
    setup_set_key("rider_texture", "gear1");
    setup_set_key("head_texture", "lid");
    char buf[256];
    bike_description(buf, sizeof buf);
    EXPECT_STREQ(buf, "yz250f(2017)|gear1|blue||lid\n999\nRookie");
    // 39 characters need a buffer of more than 45.
    char small[45];
    bike_description(small, sizeof small);
    EXPECT_STREQ(small, "yz250f(2017)\n999\nRookie");
    char fits[46];
    bike_description(fits, sizeof fits);
    EXPECT_STREQ(fits, "yz250f(2017)|gear1|blue||lid\n999\nRookie");
}

TEST_F(setup_test, display_conversions)
{
    const BikeModel &m = bike_models()[0];  // cr125
    struct display_case {
        const char *key;
        const char *value;
        const char *text;
    };
    const display_case cases[] = {
        {"fork_spring_rate_adjustment", "0", "0.240 kg/mm"},
        {"fork_spring_rate_adjustment", "100", "0.640 kg/mm"},
        {"shock_spring_rate_adjustment", "0", "2.70 kg/mm"},
        {"fork_preload_adjustment", "100", "25.40 mm"},
        {"shock_preload_adjustment", "50", "50.80 mm"},
        {"fork_oil_level_adjustment", "0", "127.00 mm"},
        {"front_sprocket_adjustment", "-1", "12.00 teeth"},
        {"rear_sprocket_adjustment", "2", "54.00 teeth"},
    };
    for (const display_case &c : cases) {
        setup_set_key(c.key, c.value);
        char buf[64];
        ASSERT_TRUE(setup_display(c.key, m, buf, sizeof buf)) << c.key;
        EXPECT_STREQ(buf, c.text) << c.key << "=" << c.value;
    }
    char buf[64];
    EXPECT_FALSE(setup_display("leveling", m, buf, sizeof buf));
    EXPECT_FALSE(setup_display("bike", m, buf, sizeof buf));
}

} // namespace
