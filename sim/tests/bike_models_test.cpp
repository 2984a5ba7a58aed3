// The bike model table: its rows, classes and example values, the shape of
// the engine curves, lookups with their fallback, and the bike menu.
#include "sim/sim.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {

const BikeModel &model(const char *name)
{
    int i = bike_model_index(name);
    EXPECT_GE(i, 0) << name;
    return bike_models()[size_t(i < 0 ? 0 : i)];
}

TEST(bike_models, rows_in_order_with_their_classes)
{
    std::span<const BikeModel> t = bike_models();
    ASSERT_EQ(t.size(), 80u);
    EXPECT_STREQ(t[0].name, "cr125");
    EXPECT_STREQ(t[8].name, "cr250(2007)");
    EXPECT_STREQ(t[44].name, "yz250f_se(2006)");
    EXPECT_STREQ(t[64].name, "350sxf(2011)");
    EXPECT_STREQ(t[79].name, "rs50yz");
    int counts[5] = {};
    const char *classes[5] = {"50", "125", "250", "250f", "450f"};
    std::set<std::string> names;
    for (const BikeModel &b : t) {
        names.insert(b.name);
        int k = -1;
        for (int c = 0; c < 5; c++) {
            if (std::strcmp(b.bike_class, classes[c]) == 0) {
                k = c;
            }
        }
        ASSERT_GE(k, 0) << b.name;
        counts[k]++;
    }
    EXPECT_EQ(names.size(), 80u);
    EXPECT_EQ(counts[0], 4);
    EXPECT_EQ(counts[1], 5);
    EXPECT_EQ(counts[2], 5);
    EXPECT_EQ(counts[3], 38);
    EXPECT_EQ(counts[4], 28);
    EXPECT_STREQ(model("350sxf(2011)").bike_class, "450f");
    EXPECT_STREQ(model("350sxf(2013)").bike_class, "250f");
}

TEST(bike_models, example_values_are_kept)
{
    const BikeModel &cr = model("cr125");
    EXPECT_FLOAT_EQ(cr.frame_mass, 3.6538f);
    EXPECT_FLOAT_EQ(cr.fork_mass, 0.7397f);
    EXPECT_FLOAT_EQ(cr.fork_spring_rate[0], 322.55f);
    EXPECT_FLOAT_EQ(cr.fork_spring_rate[1], 860.12f);
    EXPECT_FLOAT_EQ(cr.shock_spring_rate[0], 1814.32f);
    EXPECT_FLOAT_EQ(cr.shock_spring_rate[1], 4502.19f);
    EXPECT_FLOAT_EQ(cr.primary_reduction, 3.15f);
    EXPECT_FLOAT_EQ(cr.engine_inertia, 0.0048828f);
    EXPECT_FLOAT_EQ(cr.down_shift_rpm, 9400);
    EXPECT_FLOAT_EQ(cr.up_shift_rpm, 12000);
    EXPECT_FLOAT_EQ(cr.rev_mark, 12750);
    const BikeModel &crf = model("crf450(2018)");
    EXPECT_FLOAT_EQ(crf.frame_mass, 4.735f);
    EXPECT_FLOAT_EQ(crf.primary_reduction, 2.3214f);
    EXPECT_FLOAT_EQ(crf.engine_inertia, 0.0088501f);
    EXPECT_FLOAT_EQ(crf.down_shift_rpm, 6000);
    EXPECT_FLOAT_EQ(crf.up_shift_rpm, 10500);
    EXPECT_FLOAT_EQ(model("yz250f(2018)").fork_mass, 0.7031f);
    const BikeModel &mini = model("rs50yz");
    EXPECT_FLOAT_EQ(mini.coupling_stiffness, 1200);
    EXPECT_FLOAT_EQ(mini.coupling_damping, 1);
    for (const BikeModel &b : bike_models()) {
        // Shared geometry.
        EXPECT_FLOAT_EQ(b.front_wheel.z, 1.11f);
        EXPECT_FLOAT_EQ(b.rear_wheel.z, 6);
        EXPECT_FLOAT_EQ(b.linkage[2], 0.5303f);
        EXPECT_FLOAT_EQ(b.rider.y, 4.5f);
        EXPECT_TRUE(b.rider_mass == 4.6875f || b.rider_mass == 5.46875f) << b.name;
        EXPECT_TRUE(b.fork_rebound_base == 30 || b.fork_rebound_base == 32) << b.name;
        EXPECT_TRUE(b.shock_rebound_base == 600 || b.shock_rebound_base == 650) << b.name;
        EXPECT_GT(b.gear_ratios[0], 0) << b.name;
        EXPECT_LT(b.fork_spring_rate[0], b.fork_spring_rate[1]);
        EXPECT_LT(b.down_shift_rpm, b.up_shift_rpm);
        if (std::strcmp(b.bike_class, "50") != 0) {
            EXPECT_FLOAT_EQ(b.coupling_stiffness, 7500) << b.name;
            EXPECT_GT(b.gear_ratios[4], 0) << b.name;
        }
        // Gears get taller up the box; a missing gear has none above it.
        for (int g = 1; g < 6; g++) {
            if (b.gear_ratios[g] > 0) {
                EXPECT_LT(b.gear_ratios[g], b.gear_ratios[g - 1]) << b.name << " gear " << g;
            } else {
                EXPECT_EQ(b.gear_ratios[g], -1) << b.name;
            }
        }
    }
}

// The curves' telling points and their shape: positive through the rev
// range with one peak, zero where the row says, a rev limiter beyond.
TEST(bike_models, torque_curves_have_the_right_shape)
{
    struct curve_case {
        const char *name;
        float peak;
        int peak_rpm, zero_rpm;
    };
    const curve_case cases[] = {
        {"cr125", 15.97f, 10000, 13000},
        {"yz250f(2018)", 19.16f, 9500, 14000},
        {"crf450(2018)", 35.40f, 7500, 12000},
    };
    for (const curve_case &c : cases) {
        const BikeModel &b = model(c.name);
        const float idle[5] = {2, 2, 1, 0, -1};
        for (int i = 0; i < 5; i++) {
            EXPECT_EQ(b.closed_torque[i], idle[i]) << c.name;
        }
        EXPECT_FLOAT_EQ(b.closed_torque[49], -23);
        EXPECT_FLOAT_EQ(b.open_torque[4], 5);
        EXPECT_FLOAT_EQ(b.open_torque[c.peak_rpm / 500], c.peak);
        EXPECT_FLOAT_EQ(b.open_torque[c.zero_rpm / 500], 0);
    }
    for (const BikeModel &b : bike_models()) {
        int peak = 0;
        for (int i = 1; i < TORQUE_POINTS; i++) {
            if (b.open_torque[i] > b.open_torque[peak]) {
                peak = i;
            }
            EXPECT_LE(b.closed_torque[i], b.closed_torque[i - 1]) << b.name;
        }
        for (int i = 1; i <= peak; i++) {
            EXPECT_GE(b.open_torque[i], b.open_torque[i - 1]) << b.name << " " << i;
        }
        for (int i = peak + 1; i < TORQUE_POINTS; i++) {
            EXPECT_LE(b.open_torque[i], b.open_torque[i - 1]) << b.name << " " << i;
        }
        EXPECT_LT(b.open_torque[49], -b.open_torque[peak]) << b.name;
        // The engine shifts up before the torque runs out.
        EXPECT_GT(b.open_torque[int(b.up_shift_rpm) / 500], 0) << b.name;
    }
    // A two-stroke of the same peak comes on later: less torque at a third
    // of the way up than a four-stroke.
    const BikeModel &two = model("cr125");
    const BikeModel &four = model("yz250f(2018)");
    EXPECT_LT(two.open_torque[8] / two.open_torque[20], four.open_torque[8] / four.open_torque[19]);
}

TEST(bike_models, lookup_falls_back_by_class)
{
    char message[128] = "";
    EXPECT_EQ(bike_model_for("kx450f(2016)", message, sizeof message), bike_model_index("kx450f(2016)"));
    EXPECT_STREQ(message, "");
    EXPECT_EQ(bike_model_for("tm125(2020)", message, sizeof message), 0);
    EXPECT_STREQ(message, "bike info for 'tm125(2020)' not found using 'cr125' instead");
    // "crf250" has no "250f" in it: the first such row is a Kawasaki.
    EXPECT_EQ(bike_model_for("YZ250F(2018)", message, sizeof message), bike_model_index("kx250f(2007)"));
    EXPECT_STREQ(message, "bike info for 'YZ250F(2018)' not found using 'kx250f(2007)' instead");
    (void)bike_model_for("a-very-long-bike-name-indeed", message, sizeof message);
    EXPECT_STREQ(message, "bike info for 'a-very-long-bike-nam' not found using 'kx250f(2007)' instead");
    EXPECT_EQ(bike_model_index("cr125 "), -1);
}

TEST(bike_models, menu_lists_newest_first_by_group)
{
    std::span<const char *const> menu = bike_menu_names();
    ASSERT_EQ(menu.size(), 80u);
    std::set<std::string> seen(menu.begin(), menu.end());
    EXPECT_EQ(seen.size(), 80u);
    EXPECT_STREQ(menu[0], "crf450(2018)");
    EXPECT_STREQ(menu[5], "fc450(2018)");
    EXPECT_STREQ(menu[6], "crf450(2017)");
    EXPECT_STREQ(menu[22], "crf450(2011)");
    EXPECT_STREQ(menu[26], "450sxf(2011)");
    EXPECT_STREQ(menu[27], "350sxf(2017)");
    EXPECT_STREQ(menu[29], "350sxf(2011)");
    EXPECT_STREQ(menu[30], "yz250(2012)");
    EXPECT_STREQ(menu[31], "250sx(2012)");
    EXPECT_STREQ(menu[34], "kx250(2006)");
    EXPECT_STREQ(menu[35], "crf250(2018)");
    EXPECT_STREQ(menu[70], "yz250f_se(2006)");
    EXPECT_STREQ(menu[71], "cr125");
    EXPECT_STREQ(menu[75], "125sx");
    EXPECT_STREQ(menu[76], "rs50cr");
    EXPECT_STREQ(menu[79], "rs50yz");
}

} // namespace
