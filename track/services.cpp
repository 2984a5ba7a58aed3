// The services of the layers above, their defaults, and the small helpers
// every track file uses: console lines, stages, paths, whole-file writing.

#include "track/track_local.h"
#include "platform/platform.h"

#include <cstdio>
#include <cstring>

namespace {

void default_message(const char *text) {
    size_t n = std::strlen(text);
    velk_log("%s%s", text, n && text[n - 1] == '\n' ? "" : "\n");
}
void default_stage(const char *name) {
    velk_log("%s\n", name);
}
void default_stage_done(const char *name) {
    velk_log("%.64s...done\n", name);
}
void default_tick() {}
int default_verbosity() {
    return 0;
}

track_services with_defaults(track_services s) {
    if (!s.message)
        s.message = default_message;
    if (!s.stage)
        s.stage = default_stage;
    if (!s.stage_done)
        s.stage_done = default_stage_done;
    if (!s.tick)
        s.tick = default_tick;
    if (!s.verbosity)
        s.verbosity = default_verbosity;
    return s;
}

track_services g_services = with_defaults({});

}  // namespace

void track_set_services(const track_services &s) {
    g_services = with_defaults(s);
}

const track_services &track_get_services() {
    return g_services;
}

const track_services &services() {
    return g_services;
}

void console(const char *fmt, ...) {
    char text[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    g_services.message(text);
}

void stage_begin(const char *name) {
    g_services.stage(name);
}

void stage_end(const char *name) {
    g_services.stage_done(name);
}

void loading_tick() {
    g_services.tick();
}

int track_verbosity() {
    return g_services.verbosity();
}

uint32_t texture_handle(const std::string &name) {
    if (!g_services.load_texture || name.empty())
        return 0;
    return g_services.load_texture(name.c_str());
}

std::string folder_file(const char *folder, const char *file) {
    std::string path(folder);
    path += '/';
    path += file;
    return path;
}

bool whole_file_writer::open(const std::string &p) {
    path = p;
    temp = p + ".tmp";
    f = data_open(temp.c_str(), "wb");
    failed = f == nullptr;
    return f != nullptr;
}

void whole_file_writer::printf(const char *fmt, ...) {
    if (!f || failed)
        return;
    char small[1024];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(small, sizeof small, fmt, ap);
    va_end(ap);
    if (n < 0) {
        failed = true;
        return;
    }
    if (size_t(n) < sizeof small) {
        write(small, size_t(n));
        return;
    }
    std::string big(size_t(n) + 1, '\0');
    va_start(ap, fmt);
    std::vsnprintf(big.data(), big.size(), fmt, ap);
    va_end(ap);
    write(big.data(), size_t(n));
}

void whole_file_writer::write(const void *data, size_t n) {
    if (!f || failed)
        return;
    if (data_write(f, data, n) != n)
        failed = true;
}

bool whole_file_writer::commit() {
    if (!f)
        return false;
    if (data_flush(f) != 0)
        failed = true;
    data_close(f);
    f = nullptr;
    if (failed)
        return false;
    return data_rename(temp.c_str(), path.c_str());
}

whole_file_writer::~whole_file_writer() {
    if (f)
        data_close(f);
}
