// Shared helpers of the track tests: a scratch folder per test, captured
// console lines, and writers for small track files.
#pragma once

#include "track/track_local.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

// The data directory (KR_HOME) and home directory every test binary uses.
const fs::path &test_data_dir();
const fs::path &test_home_dir();

void write_file(const fs::path &path, std::string_view bytes);
std::string read_file(const fs::path &path);

// "terrain.hf" with inline samples (row-major, dim*dim of them).
std::string height_field(int n, float spacing, float lo, float hi, const std::vector<uint16_t> &samples);
// A complete minimal folder: heights, one-tile tileinfo, a zero tile map.
void write_track(const fs::path &dir, int n, float spacing, float lo, float hi, const std::vector<uint16_t> &samples);

class track_test : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Console lines since the test began, in order.
    const std::vector<std::string> &messages() const;
    bool said(std::string_view text) const;  // one whole line equal to text

    fs::path dir;  // empty scratch folder (an operating-system path)
};
