// Helpers shared by the render tests: a scratch home and data directory,
// fixture files, PNG fixtures of every colour type, captured console lines.
#pragma once

#include "render/render.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

struct test_dirs {
    fs::path root;
    fs::path home;  // the home directory, where "@" names are written
    fs::path data;  // the game data directory
};
const test_dirs &dirs();

void write_file(const fs::path &path, std::string_view bytes);
std::vector<uint8_t> read_bytes(const fs::path &path);
std::span<const uint8_t> as_bytes(std::string_view s);

// A PNG of any colour type and depth; `samples` holds the packed rows as
// libpng expects them. Optional palette (RGB triples), transparency and text.
struct png_fixture {
    png_fixture(int w, int h, int type, int depth, std::vector<uint8_t> s = {})
        : width(w), height(h), color_type(type), bit_depth(depth), samples(std::move(s))
    {
    }
    int width = 0;
    int height = 0;
    int color_type = 0;
    int bit_depth = 8;
    std::vector<uint8_t> samples;
    std::vector<uint8_t> palette;
    std::vector<uint8_t> trns;       // palette alphas, or a grey/RGB key (16-bit big-endian)
    std::string text;                // one tEXt chunk when not empty
};
std::vector<uint8_t> make_png(const png_fixture &f);

// Console lines since the last clear.
std::vector<std::string> &console_lines();
bool console_has(std::string_view part);
