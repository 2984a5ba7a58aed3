// track_local.h -- private to track/: the services with their defaults, the
// console and stage helpers, path joining, and whole-file writing.
#pragma once

#include "track/track.h"
#include "files/files.h"

#include <cmath>
#include <cstdarg>
#include <string>
#include <string_view>

// The services with every null member replaced by its default.
const track_services &services();

// Formats a console line (at most 1023 characters) and hands it on.
void console(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void stage_begin(const char *name);
void stage_end(const char *name);
void loading_tick();
[[nodiscard]] int track_verbosity();
// A texture through the texture layer; 0 when it is absent or fails.
[[nodiscard]] uint32_t texture_handle(const std::string &name);

// folder + "/" + file
[[nodiscard]] std::string folder_file(const char *folder, const char *file);

// Writes a file whole: the text goes to "<path>.tmp", which replaces the old
// file only when every write succeeded.
struct whole_file_writer {
    std::string path;
    std::string temp;
    data_file *f = nullptr;
    bool failed = false;

    [[nodiscard]] bool open(const std::string &p);
    void printf(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
    void write(const void *data, size_t n);
    // Flushes, closes and renames; false (the old file untouched) on failure.
    [[nodiscard]] bool commit();
    ~whole_file_writer();
};

// Whether every value is finite.
template <typename... T>
[[nodiscard]] bool all_finite(T... v) {
    return (... && std::isfinite(v));
}

// Reads the tile type definitions of an open "tileinfo" stream.
void read_tileinfo(data_file *f, std::vector<TileType> *types);
// Reads an open "texturelist" stream.
void read_texturelist(data_file *f, std::vector<TileType> *types);
// The "key=value" number rule of tileinfo: a decimal number right after '='
// (leading white space skipped). False when no character of one is there.
[[nodiscard]] bool parse_setting_number(const char *text, double *out);
// Splits a roost or treadmark argument into words (quotes group, and go).
[[nodiscard]] std::vector<std::string> split_setting_words(const char *text);
