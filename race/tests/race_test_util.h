// Shared helpers of the race tests: a scratch folder, captured log and
// message lines, and small timing layouts built in memory.
#pragma once

#include "race/race.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

void write_text(const fs::path &path, std::string_view text);

class race_test : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Lines handed to the log / the message line since the test began.
    static std::vector<std::string> &logged();
    static std::vector<std::string> &messages();
    bool logged_line(std::string_view text) const;

    fs::path dir;  // empty scratch folder
};

// Six gates of radius 15 around a circle of radius 100 centred on (200, 200),
// ridden counter-clockwise; gate i stands at angle 2 pi (i + 1) / 6, so the
// finish line (the last gate of each lap) is at angle 0, where the start is.
// Both laps are gates 0..5.
race_timing oval_timing();
// Where a rider on the oval is at angle a (radians, growing along the
// track), `out` feet outside the racing line.
std::array<float, 3> oval_point(double a, double out = 0.0);
