// Platform options: "[name:value]" entries anywhere in VELK_OPTIONS, read once.
#include "platform/platform.h"
#include "platform/platform_local.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

struct options_state {
    std::mutex lock;
    bool loaded = false;
    std::string text;
};

options_state &state()
{
    static options_state s;
    return s;
}

const std::string &options_text()
{
    options_state &st = state();
    std::lock_guard<std::mutex> guard(st.lock);
    if (!st.loaded) {
        const char *v = std::getenv("VELK_OPTIONS");
        st.text = v ? v : "";
        st.loaded = true;
    }
    return st.text;
}

// The text right after "[name:" (the name cut to 60 characters), or null.
const char *find_value(const char *name)
{
    char pattern[64];
    std::snprintf(pattern, sizeof pattern, "[%.60s:", name);
    const char *hit = std::strstr(options_text().c_str(), pattern);
    return hit ? hit + std::strlen(pattern) : nullptr;
}

}  // namespace

bool velk_option_bool(const char *name, bool def)
{
    const char *v = find_value(name);
    if (!v)
        return def;
    if (std::strncmp(v, "yes]", 4) == 0 || std::strncmp(v, "on]", 3) == 0)
        return true;
    if (std::strncmp(v, "no]", 3) == 0 || std::strncmp(v, "off]", 4) == 0)
        return false;
    velk_log("unrecognized setting for %s\n", name);
    return def;
}

int velk_option_int(const char *name, int def)
{
    const char *v = find_value(name);
    if (!v)
        return def;
    char *end = nullptr;
    errno = 0;
    long n = std::strtol(v, &end, 10);
    // A number that does not fit an int is as unreadable as no number at all:
    // truncating it would hand the caller an arbitrary value.
    if (end == v || errno == ERANGE || n < INT_MIN || n > INT_MAX) {
        velk_log("unrecognized setting for %s\n", name);
        return def;
    }
    return int(n);
}

void velk_options_reset_for_tests()
{
    options_state &st = state();
    std::lock_guard<std::mutex> guard(st.lock);
    st.loaded = false;
    st.text.clear();
}
