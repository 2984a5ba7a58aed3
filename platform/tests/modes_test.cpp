#include <gtest/gtest.h>

#include "platform/platform.h"

#include <vector>

namespace {

struct choose_case {
    int width, height;
    int expected_width, expected_height;
};

TEST(choose_mode, smallest_fitting_mode_else_default)
{
    // The desktop's mode comes first in a real list.
    const std::vector<velk_display_mode> modes{
        {1280, 720, 32}, {800, 600, 32}, {1024, 768, 32}, {1600, 900, 32}, {1200, 800, 32},
    };
    const choose_case cases[] = {
        {1000, 700, 1024, 768},  // 1024x768 beats 1280x720 (height too small) and 1200x800 (larger)
        {800, 600, 800, 600},    // exact fit
        {801, 600, 1024, 768},
        {1920, 1200, 1280, 720}, // nothing large enough: default
        {0, 0, 1280, 720},       // no size asked
        {1250, 720, 1280, 720},
        {1250, 721, 1600, 900},
        {1, 1, 800, 600},
    };
    for (const choose_case &c : cases) {
        velk_display_mode m = velk_choose_mode(modes, c.width, c.height);
        EXPECT_EQ(m.width, c.expected_width) << c.width << "x" << c.height;
        EXPECT_EQ(m.height, c.expected_height) << c.width << "x" << c.height;
        EXPECT_EQ(m.bpp, 32);
    }
}

TEST(choose_mode, first_in_list_order_wins_a_tie)
{
    const std::vector<velk_display_mode> modes{{1920, 1080, 32}, {1100, 700, 16}, {1000, 800, 32}, {900, 900, 24}};
    velk_display_mode m = velk_choose_mode(modes, 900, 700);
    EXPECT_EQ(m.width, 1100);
    EXPECT_EQ(m.height, 700);
    EXPECT_EQ(m.bpp, 16);
}

TEST(choose_mode, documented_example)
{
    const std::vector<velk_display_mode> modes{{800, 600, 32}, {1024, 768, 32}, {1280, 720, 32}};
    velk_display_mode m = velk_choose_mode(modes, 1000, 700);
    EXPECT_EQ(m.width, 1024);
    EXPECT_EQ(m.height, 768);
    m = velk_choose_mode(modes, 1920, 1200);
    EXPECT_EQ(m.width, 800);
    EXPECT_EQ(m.height, 600);
}

TEST(choose_mode, empty_list_gives_640_by_480)
{
    velk_display_mode m = velk_choose_mode({}, 1024, 768);
    EXPECT_EQ(m.width, 640);
    EXPECT_EQ(m.height, 480);
}

}  // namespace
