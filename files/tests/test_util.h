// Shared helpers of the data-file tests: temporary search directories, and
// generators for the fixtures (archives, gzip files, text files).
#pragma once

#include "files/files_local.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

struct test_dirs {
    fs::path root;  // everything the tests write lies below
    fs::path xdg;   // $XDG_DATA_HOME
    fs::path home;  // xdg/Kessrun: search directory 0
    fs::path data;  // $KR_HOME: search directory 1
    fs::path scratch;
};
const test_dirs &dirs();

void write_file(const fs::path &path, std::string_view bytes);
std::string read_all(data_file *f);
// A stream over `text` in a scratch file.
data_file *open_text(std::string_view text);

// Raw deflate data.
std::string deflate_raw(std::string_view data);
struct gzip_options {
    uint8_t flags = 0;        // header flag byte as written
    uint8_t method = 8;
    std::string extra;        // written when flags has bit 2
    std::string name;         // bit 3
    std::string comment;      // bit 4
    bool trailer = true;
    bool bad_crc = false;
};
std::string gzip(std::string_view data, const gzip_options &o = {});
// A ".saf" archive of (name, bytes) members.
std::string saf(const std::vector<std::pair<std::string, std::string>> &members);

// Messages files/ logged since the test began.
std::vector<std::string> &log_lines();
bool logged(std::string_view part);

// Clean home and data directories, KR_HOME set, search directories and index
// forgotten, log captured.
class files_test : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};
