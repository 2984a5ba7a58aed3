// "tileinfo" and "texturelist": values, defaults and every warning.

#include "track/tests/track_test_util.h"

#include <cmath>

namespace {

class tiles : public track_test {
protected:
    std::vector<TileType> read(const std::string &text, bool texturelist = false) {
        write_file(dir / "tiles", text);
        data_file_ptr f(data_open((dir / "tiles").c_str(), "rb"));
        std::vector<TileType> types;
        if (texturelist)
            read_texturelist(f.get(), &types);
        else
            read_tileinfo(f.get(), &types);
        return types;
    }
};

TEST_F(tiles, EveryWarningAndWhatItLeaves) {
    const struct {
        const char *lines;    // before the closing "addtile"
        const char *warning;  // the one console line expected, or null for none
    } cases[] = {
        {"friction 1\n", "tileinfo warning: bad friction parameters"},
        {"friction 1 1\nfriction 1 2\nfriction 1 3\nfriction 1 4\nfriction 1 5\nfriction 1 6\nfriction 1 7\n"
         "friction 1 8\nfriction 1 9\n",
         "tileinfo warning: too many friction points"},
        {"slip_function x\n", "tileinfo warning: bad slip_function"},
        {"slip_function 5\n", "tileinfo warning: bad slip_function"},
        {"slip_function 2\n", nullptr},
        {"roll_resist 1 2\n", "tileinfo warning: bad roll_resist parameters"},
        {"roll_resist 1 2 1\nroll_resist 1 2 2\nroll_resist 1 2 3\nroll_resist 1 2 4\nroll_resist 1 2 5\n"
         "roll_resist 1 2 6\nroll_resist 1 2 7\nroll_resist 1 2 8\nroll_resist 1 2 9\n",
         "tileinfo warning: too many roll_resist points"},
        {"roost count=abc\n", "tileinfo warning: bad count"},
        {"roost randomize=\n", "tileinfo warning: bad randomize"},
        {"roost slow_angle=x\n", "tileinfo warning: bad slow_angle"},
        {"roost g=q\n", "tileinfo warning: bad g"},
        {"roost fade_b=q\n", "tileinfo warning: bad fade_b"},
        {"roost splash=q\n", nullptr},
        {"roost wobble=1\n", "tileinfo warning: unknown roost parameter 'wobble=1'"},
        {"roost\nroost\nroost\nroost\nroost\n", "tileinfo warning: too many roost types"},
        {"treadmark size=x\n", "tileinfo warning: bad tread size"},
        {"treadmark speed_threshold=\n", "tileinfo warning: bad tread speed_threshold"},
        {"treadmark front=x\n", "tileinfo warning: bad tread front"},
        {"treadmark colour=1\n", "tileinfo warning: unknown tread parameter 'colour=1'"},
        {"treadmark\ntreadmark\ntreadmark\ntreadmark\ntreadmark\ntreadmark\ntreadmark\ntreadmark\ntreadmark\n",
         "tileinfo warning: too many treadmark types"},
        {"erode_depth x\n", "tileinfo warning: bad erode_depth"},
        {"erode_front_scale\n", "tileinfo warning: bad erode_front_scale"},
        {"erode_radius nan\n", "tileinfo warning: bad erode_radius"},
        {"erode_limit 1 2\n", "tileinfo warning: bad erode_limit"},
        {"erode_limit nan 1 1\n", "tileinfo warning: bad erode_limit"},
        {"erode_limit 0.5 1 1\nerode_limit 0.5 2 2\n", "tileinfo warning: erode_limit depth <= prev depth"},
        {"erode_limit 1 1 1\nerode_limit 2 1 1\nerode_limit 3 1 1\nerode_limit 4 1 1\nerode_limit 5 1 1\n"
         "erode_limit 6 1 1\nerode_limit 7 1 1\nerode_limit 8 1 1\nerode_limit 9 1 1\n",
         "tileinfo warning: too many erode limits"},
        {"# a comment\n", "tileinfo warning: Unknown identifier '#'"},
        {"Name dirt\n", "tileinfo warning: Unknown identifier 'Name'"},
        {"   \t\n\r\n", nullptr},
    };
    for (const auto &c : cases) {
        track_test::SetUp();
        std::vector<TileType> types = read(std::string(c.lines) + "addtile\n");
        EXPECT_EQ(types.size(), 1u) << c.lines;
        std::vector<std::string> expected;
        if (c.warning)
            expected.push_back(c.warning);
        EXPECT_EQ(messages(), expected) << c.lines;
    }
}

TEST_F(tiles, DefaultsOfAnEmptyTile) {
    std::vector<TileType> types = read("addtile\n");
    ASSERT_EQ(types.size(), 1u);
    const TileType &t = types[0];
    EXPECT_EQ(t.name, "");
    EXPECT_EQ(t.slip_function, 0);
    EXPECT_EQ(t.friction[0].coefficient, 1.0f);
    EXPECT_EQ(t.friction[0].abscissa, 1.0f);
    for (size_t k = 1; k < 8; ++k)
        EXPECT_EQ(t.friction[k].abscissa, FRICTION_EMPTY_ABSCISSA);
    EXPECT_EQ(t.roll_resist[0].speed, 1.0f);
    EXPECT_EQ(t.roll_resist[7].speed, 0.0f);
    EXPECT_EQ(t.roll_resist[7].high, 15.0f);
    EXPECT_EQ(t.roost[0].kind, 0);
    EXPECT_EQ(t.roost[0].fade_a, -2);
    EXPECT_EQ(t.treadmark[0].defined, 0);
    EXPECT_EQ(t.treadmark[0].front, -1);
    EXPECT_EQ(t.erode.limit_count, 1);
    EXPECT_EQ(t.erode.limit_depth[0], 0.0f);
    EXPECT_EQ(t.erode.limit_factor1[0], 1.0f);
    EXPECT_EQ(t.erode.limit_factor2[0], 1.0f);
    EXPECT_EQ(t.erode.min_slope, -0.5f);
    EXPECT_EQ(t.erode.front_scale, 1.0f);
}

TEST_F(tiles, CurvesAreSortedAndClamped) {
    std::vector<TileType> types = read("friction 0.8 5\nfriction 1.2 2\nfriction -3 2000000\nfriction nan 7\n"
                                       "roll_resist 1 2 0\nroll_resist -1 4 0.5\naddtile\n");
    ASSERT_EQ(types.size(), 1u);
    const TileType &t = types[0];
    const friction_point expected[] = {{1.2f, 2}, {0.8f, 5}, {0, 7}, {0, FRICTION_MAX_ABSCISSA}};
    for (size_t k = 0; k < 4; ++k) {
        EXPECT_FLOAT_EQ(t.friction[k].coefficient, expected[k].coefficient) << k;
        EXPECT_EQ(t.friction[k].abscissa, expected[k].abscissa) << k;
    }
    for (size_t k = 4; k < 8; ++k)
        EXPECT_EQ(t.friction[k].abscissa, FRICTION_EMPTY_ABSCISSA);
    EXPECT_EQ(t.roll_resist[0].speed, 9.536743e-7f);
    EXPECT_EQ(t.roll_resist[1].low, 0.0f);
    EXPECT_EQ(t.roll_resist[1].speed, 0.5f);
    EXPECT_EQ(t.roll_resist[2].speed, 0.0f);
}

TEST_F(tiles, RoostAndTreadmarkSettings) {
    std::vector<TileType> types =
        read("roost count=abc fade_a=-256 fade_r=100 r=300 a=-1 \"texture=a b.png\" size=2.5e1\n"
             "roost splash=1 dig=-\n"
             "treadmark texture=t.png size=4 front=1 aspect=0.25\n"
             "erode_limit 0.5 1 1\nerode_limit 0.5 2 2\nerode_limit 0.75 3 4\n"
             "slip_function 5\n"
             "addtile\n");
    ASSERT_EQ(types.size(), 1u);
    const TileType &t = types[0];
    const RoostType &r = t.roost[0];
    EXPECT_EQ(r.kind, 1);
    EXPECT_EQ(r.count, 0.0f);
    EXPECT_EQ(r.fade_a, -2);
    EXPECT_EQ(r.fade_r, 0);
    EXPECT_EQ(r.r, 44);   // 300 modulo 256
    EXPECT_EQ(r.a, 255);  // -1 modulo 256
    EXPECT_EQ(r.texture_name, "a b.png");
    EXPECT_EQ(r.size, 25.0f);
    EXPECT_EQ(t.roost[1].kind, 2);
    EXPECT_EQ(t.roost[1].dig, 0.0f);
    EXPECT_EQ(t.roost[2].kind, 0);
    const TreadmarkType &m = t.treadmark[0];
    EXPECT_EQ(m.defined, 1);
    EXPECT_EQ(m.texture_name, "t.png");
    EXPECT_EQ(m.size, 4.0f);
    EXPECT_EQ(m.front, 1);
    EXPECT_EQ(m.aspect, 0.25f);
    EXPECT_EQ(t.treadmark[1].defined, 0);
    EXPECT_EQ(t.erode.limit_count, 2);
    EXPECT_EQ(t.erode.limit_depth[1], 0.75f);
    EXPECT_EQ(t.erode.limit_factor2[1], 4.0f);
    EXPECT_EQ(t.slip_function, 5);
    EXPECT_EQ(messages(), (std::vector<std::string>{"tileinfo warning: bad count",
                                                    "tileinfo warning: erode_limit depth <= prev depth",
                                                    "tileinfo warning: bad slip_function"}));
}

TEST_F(tiles, NamesAndTheTileLimit) {
    std::string text = "texture @a-very-long-texture-name-that-goes-on-and-on-and-on.png\naddtile\n"
                       "name hard pack  \ntexture @x.png\naddtile\n"
                       "erode_depth 3\naddtile\n";
    for (int k = 0; k < 300; ++k)
        text += "addtile\n";
    text += "bogus\n";
    std::vector<TileType> types = read(text);
    ASSERT_EQ(types.size(), 256u);
    EXPECT_EQ(types[0].name, std::string("@a-very-long-texture-name-that-goes-on-and-on-and-on.png").substr(0, 47));
    EXPECT_EQ(types[1].name, "hard pack  ");
    EXPECT_EQ(types[1].texture, "@x.png");
    EXPECT_EQ(types[2].erode.depth, 3.0f);
    EXPECT_EQ(types[3].erode.depth, 1.0f);  // reset after each addtile
    EXPECT_TRUE(messages().empty());        // nothing after the 256th addtile is read
}

TEST_F(tiles, TexturelistLines) {
    std::string text = "0.5 3 9 dirt.png\n\n   grass cover.png\r\n";
    for (int k = 0; k < 300; ++k)
        text += "x.png\n";
    std::vector<TileType> types = read(text, true);
    ASSERT_EQ(types.size(), 256u);
    const TileType &a = types[0];
    EXPECT_EQ(a.texture, "@dirt.png");
    EXPECT_EQ(a.name, "dirt.png");
    for (size_t k = 0; k < 8; ++k) {
        EXPECT_EQ(a.friction[k].coefficient, 0.5f);
        EXPECT_EQ(a.roll_resist[k].low, 3.0f);
        EXPECT_EQ(a.roll_resist[k].high, 9.0f);
    }
    EXPECT_EQ(a.friction[0].abscissa, 1.0f);
    EXPECT_EQ(a.friction[1].abscissa, FRICTION_EMPTY_ABSCISSA);
    EXPECT_EQ(a.roost[0].kind, 1);
    EXPECT_EQ(a.roost[0].texture_name, "@roost.png");
    EXPECT_EQ(a.roost[1].kind, 0);
    EXPECT_EQ(a.erode.limit_count, 1);
    const TileType &b = types[1];
    EXPECT_EQ(b.name, "grass cover.png");
    EXPECT_EQ(b.friction[3].coefficient, 1.0f);
    EXPECT_EQ(b.roll_resist[0].low, 5.0f);
    EXPECT_EQ(b.roll_resist[0].high, 15.0f);
}

TEST(tile_settings, NumberAfterTheEqualsSign) {
    const struct {
        const char *text;
        bool ok;
        double value;
    } cases[] = {
        {"12.5", true, 12.5}, {"  -3e2xyz", true, -300}, {"1e", true, 1}, {".5", true, 0.5},
        {"-", true, 0},       {"abc", false, 0},         {"", false, 0},  {"nan", false, 0},
        {"inf", false, 0},    {"0x10", true, 0},
    };
    for (const auto &c : cases) {
        double v = -1;
        EXPECT_EQ(parse_setting_number(c.text, &v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}

TEST(tile_settings, WordsSplitOnBlanksAndJoinInQuotes) {
    EXPECT_EQ(split_setting_words(" a=1\tb=\"x y\"\fc\b d\r\n"),
              (std::vector<std::string>{"a=1", "b=x y", "c", "d"}));
    EXPECT_EQ(split_setting_words("\"unclosed quote"), std::vector<std::string>{"unclosed quote"});
}

}  // namespace
