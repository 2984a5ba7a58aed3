// The command line: options matched in a fixed order over a cursor of words.
// Values come as the next word ("--opt v") or after "=" ("--opt=v").

#include "core/core_local.h"
#include "files/files.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

struct word_cursor {
    int left;
    const char *const *word;
    bool end_of_options;
};

void advance(word_cursor &c) {
    --c.left;
    ++c.word;
}

bool match_switch(word_cursor &c, const char *option) {
    if (c.left > 0 && !c.end_of_options && std::strcmp(*c.word, option) == 0) {
        advance(c);
        return true;
    }
    return false;
}

// Once "--" has been seen no option matches any more, so every later word is
// a file name, "--track" included.
bool match_value(word_cursor &c, const char *option, const char **value) {
    if (c.left <= 0 || c.end_of_options)
        return false;
    const char *w = *c.word;
    if (std::strcmp(w, "--") == 0) {
        c.end_of_options = true;
        advance(c);
        return false;
    }
    size_t n = std::strlen(option);
    if (std::strcmp(w, option) == 0) {
        advance(c);
        *value = nullptr;
        if (c.left > 0) {
            *value = *c.word;
            advance(c);
        }
        return true;
    }
    if (std::strncmp(w, option, n) == 0 && w[n] == '=') {
        *value = w + n + 1;
        advance(c);
        return true;
    }
    return false;
}

// "%d": optional blanks and sign, at least one digit; trailing text ignored.
// Out-of-range values saturate.
bool scan_int(const char *s, int *out, const char **rest = nullptr) {
    if (!s)
        return false;
    while (*s == ' ' || (*s >= '\t' && *s <= '\r'))
        ++s;
    const char *p = s;
    if (*p == '+' || *p == '-')
        ++p;
    if (*p < '0' || *p > '9')
        return false;
    errno = 0;
    char *end = nullptr;
    long long v = std::strtoll(s, &end, 10);
    v = std::clamp<long long>(v, INT_MIN, INT_MAX);
    *out = int(v);
    if (rest)
        *rest = end;
    return true;
}

// "%f" read into a float; non-finite values are refused.
bool scan_real(const char *s, float *out, const char **rest = nullptr) {
    if (!s)
        return false;
    char *end = nullptr;
    float v = std::strtof(s, &end);
    if (end == s || !std::isfinite(v))
        return false;
    *out = v;
    if (rest)
        *rest = end;
    return true;
}

// The "%d.%d%15s" reading of "--glversion".
bool scan_glversion(const char *s, startup_switches *sw, std::string *error) {
    int major = 0, minor = 0;
    const char *p = nullptr;
    if (!scan_int(s, &major, &p) || *p != '.' || !scan_int(p + 1, &minor, &p)) {
        *error = "bad arg for --glversion\n";
        return false;
    }
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    char word[16] = {};
    size_t n = 0;
    while (p[n] && n < 15 && !(p[n] == ' ' || (p[n] >= '\t' && p[n] <= '\r'))) {
        word[n] = p[n];
        ++n;
    }
    velk_gl_kind kind;
    if (n == 0 || std::strcmp(word, "compatibility") == 0)
        kind = velk_gl_kind::compatibility;
    else if (std::strcmp(word, "core") == 0)
        kind = velk_gl_kind::core;
    else if (std::strcmp(word, "es") == 0)
        kind = velk_gl_kind::es;
    else {
        *error = "unknown OpenGL dialect for --glversion (must be 'compatibility', 'core' or 'es')\n";
        return false;
    }
    sw->gl_major = major;
    sw->gl_minor = minor;
    sw->gl_kind = kind;
    return true;
}

bool scan_chase_center(const char *s, startup_switches *sw) {
    float v[3];
    const char *p = s;
    for (int i = 0; i < 3; ++i) {
        if (i > 0) {
            if (*p != ',')
                return false;
            ++p;
        }
        if (!scan_real(p, &v[i], &p))
            return false;
    }
    sw->chase_center = {v[0], v[1], v[2]};
    return true;
}

// A positive, finite number of seconds.
bool scan_seconds(const char *v, double *out) {
    if (!v || !*v)
        return false;
    char *end = nullptr;
    errno = 0;
    double d = std::strtod(v, &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(d) || !(d > 0))
        return false;
    *out = d;
    return true;
}

// Comma-separated load-track codes, one per slot from slot 0; at most 160.
bool scan_lineup(const char *v, std::vector<int32_t> *out) {
    if (!v || !*v)
        return false;
    std::vector<int32_t> codes;
    const char *p = v;
    for (;;) {
        char *end = nullptr;
        errno = 0;
        long n = std::strtol(p, &end, 10);
        if (end == p || errno != 0 || n < INT32_MIN || n > INT32_MAX || codes.size() >= 160)
            return false;
        codes.push_back(int32_t(n));
        if (*end == '\0')
            break;
        if (*end != ',')
            return false;
        p = end + 1;
    }
    *out = std::move(codes);
    return true;
}

// A whole decimal number 0..2^32-1.
bool scan_seed(const char *v, uint32_t *out) {
    if (!v || *v < '0' || *v > '9')
        return false;
    char *end = nullptr;
    errno = 0;
    unsigned long long n = std::strtoull(v, &end, 10);
    if (errno != 0 || *end != '\0' || n > UINT32_MAX)
        return false;
    *out = uint32_t(n);
    return true;
}

std::string bad_arg(const char *option) {
    return std::string("Bad arg for ") + option + "\n";
}

}  // namespace

cmdline_result parse_command_line(int argc, const char *const *argv, startup_switches *sw) {
    cmdline_result r;
    word_cursor c{argc > 0 ? argc - 1 : 0, argv + 1, false};
    bool have_file = false;

    auto fail = [&r](std::string text) {
        r.status = cmdline_status::error;
        r.message += text;
        return r;
    };

    while (c.left > 0) {
        const char *v = nullptr;
        int n = 0;
        float f = 0;

        if (match_switch(c, "--fugly")) { sw->fugly = true; continue; }
        if (match_switch(c, "--nosound")) { sw->nosound = true; continue; }
        if (match_switch(c, "--novertexarrays")) { sw->novertexarrays = true; continue; }
        if (match_switch(c, "--learn")) { sw->learn = true; continue; }
        if (match_switch(c, "--nolearn")) { sw->learn = false; continue; }
        if (match_switch(c, "--nommx")) continue;
        if (match_switch(c, "--debug")) { sw->verbosity = 1; continue; }
        if (match_switch(c, "--super-debug")) { sw->verbosity = 2; continue; }
        if (match_switch(c, "--practice")) { sw->practice = true; continue; }
        if (match_switch(c, "--warp")) { sw->warp = true; continue; }
        if (match_value(c, "--texture-detail", &v)) {
            if (!scan_int(v, &n))
                return fail(bad_arg("--texture-detail"));
            sw->texture_reduction = std::clamp(n, 0, 4);
            continue;
        }
        if (match_value(c, "--ground-texture-detail", &v)) {
            if (!scan_int(v, &n))
                return fail(bad_arg("--ground-texture-detail"));
            continue;
        }
        if (match_value(c, "--roostfrequency", &v)) {
            if (!scan_int(v, &n))
                return fail(bad_arg("--roostfrequency"));
            sw->roost_frequency = std::clamp(n, 0, 1000);
            continue;
        }
        if (match_value(c, "--erode", &v)) {
            if (!scan_real(v, &f))
                return fail(bad_arg("--erode"));
            sw->erode_amount = int(std::floor(std::clamp(f, 0.0f, 100.0f) * 1024.0f));
            continue;
        }
        if (match_value(c, "--detail", &v)) {
            if (!scan_real(v, &f))
                return fail(bad_arg("--detail"));
            sw->terrain_detail = f;
            sw->detail_set = true;
            continue;
        }
        if (match_value(c, "--max-detail-distance", &v)) {
            if (!scan_real(v, &f))
                return fail(bad_arg("--max-detail-distance"));
            sw->max_detail_distance = f;
            sw->detail_fade_distance = double(f) + 5.0;
            sw->max_detail_distance_set = true;
            continue;
        }
        if (match_value(c, "--lod-scale", &v)) {
            if (!scan_real(v, &f))
                return fail(bad_arg("--lod-scale"));
            sw->lod_scale = std::clamp(double(f), 1e-6, 1e6);
            continue;
        }
        if (match_value(c, "--lod-bias", &v)) {
            if (!scan_real(v, &f))
                return fail(bad_arg("--lod-bias"));
            sw->lod_bias = f;
            continue;
        }
        if (match_value(c, "--lock-fps", &v)) {
            // A rate of zero or below would let one frame run without bound.
            if (!scan_real(v, &f) || !(f > 0))
                return fail(bad_arg("--lock-fps"));
            sw->lock_fps = f;
            continue;
        }
        if (match_value(c, "--fake-lag", &v)) {
            if (!scan_real(v, &f))
                return fail(bad_arg("--fake-lag"));
            sw->fake_lag = std::clamp(double(f) / 1000.0, 0.0, 1.0);
            continue;
        }
        if (match_value(c, "--fake-loss", &v)) {
            if (!scan_int(v, &n))
                return fail(bad_arg("--fake-loss"));
            sw->fake_loss = std::clamp(n, 0, 100);
            continue;
        }
        if (match_value(c, "--record-audio", &v)) {
            if (!v || !*v)
                return fail(bad_arg("--record-audio"));
            sw->record_audio = v;
            continue;
        }
        if (match_switch(c, "--record-video")) { sw->record_video = true; continue; }
        if (match_value(c, "--rotate-lineup", &v)) {
            if (!v)
                return fail(bad_arg("--rotate-lineup"));
            (void)scan_int(v, &sw->rotate_lineup);
            continue;
        }
        if (match_switch(c, "--editor")) { sw->editor = true; continue; }
        if (match_switch(c, "--hidden-pause")) { sw->hidden_pause = true; continue; }
        if (match_switch(c, "--hidden-hud")) { sw->hidden_hud = true; continue; }
        if (match_value(c, "--bikes", &v)) {
            r.message += "--bikes doesn't do anything anymore\n";
            continue;
        }
        // Sizes and HUD switches: "%d" without a check. An unreadable size or
        // switch is left as it was; the buffer depths read as a plain decimal
        // conversion, which gives 0.
        struct int_option {
            const char *name;
            int *value;
            bool zero_when_unreadable;
        };
        const int_option int_options[] = {
            {"--width", &sw->width, false},
            {"--height", &sw->height, false},
            {"--depth", &sw->colour_bits, true},
            {"--zdepth", &sw->depth_bits, true},
            {"--draw-fps", &sw->draw_fps, false},
            {"--draw-time", &sw->draw_time, false},
            {"--draw-ping", &sw->draw_ping, false},
            {"--draw-speed", &sw->draw_speed, false},
            {"--draw-render-stats", &sw->draw_render_stats, false},
        };
        bool matched = false;
        for (const int_option &o : int_options) {
            if (match_value(c, o.name, &v)) {
                if (!v)
                    return fail(bad_arg(o.name));
                if (!scan_int(v, o.value) && o.zero_when_unreadable)
                    *o.value = 0;
                matched = true;
                break;
            }
        }
        if (matched)
            continue;
        if (match_switch(c, "--accurate-skip")) { sw->accurate_skip = true; continue; }
        if (match_value(c, "--track", &v)) {
            if (!v)
                return fail(bad_arg("--track"));
            sw->track = v;
            continue;
        }
        if (match_value(c, "--connect", &v)) {
            if (!v)
                return fail(bad_arg("--connect"));
            constexpr const char prefix[] = "kessrun:";
            if (std::strncmp(v, prefix, sizeof prefix - 1) == 0)
                v += sizeof prefix - 1;
            sw->connect = v;
            continue;
        }
        if (match_value(c, "--password", &v)) {
            if (!v)
                return fail(bad_arg("--password"));
            sw->password = v;
            continue;
        }
        if (match_value(c, "--chase-center", &v)) {
            if (!scan_chase_center(v, sw))
                return fail(bad_arg("--chase-center"));
            continue;
        }
        if (match_switch(c, "--open-home")) {
            r.status = cmdline_status::open_home;
            return r;
        }
        if (match_switch(c, "--glfinish")) { sw->glfinish = true; continue; }
        if (match_value(c, "--glversion", &v)) {
            std::string error;
            if (!scan_glversion(v, sw, &error))
                return fail(error);
            continue;
        }
        if (match_switch(c, "--print-orientation")) { sw->print_orientation = true; continue; }
        if (match_switch(c, "--terrain-wireframe")) { sw->terrain_wireframe = true; continue; }
        if (match_switch(c, "--disable-tmesh")) { sw->disable_tmesh = true; continue; }
        if (match_switch(c, "--debug-ground-textures")) { sw->debug_ground_textures = true; continue; }
        if (match_switch(c, "--headless")) { sw->headless = true; continue; }
        if (match_value(c, "--quit-after", &v)) {
            if (!scan_seconds(v, &sw->quit_after))
                return fail(bad_arg("--quit-after"));
            continue;
        }
        if (match_value(c, "--lineup", &v)) {
            if (!scan_lineup(v, &sw->lineup))
                return fail(bad_arg("--lineup"));
            continue;
        }
        if (match_value(c, "--controls", &v)) {
            if (!v || !*v)
                return fail(bad_arg("--controls"));
            sw->controls_file = v;
            continue;
        }
        if (match_value(c, "--telemetry", &v)) {
            if (!v || !*v)
                return fail(bad_arg("--telemetry"));
            sw->telemetry_file = v;
            continue;
        }
        if (match_value(c, "--seed", &v)) {
            if (!scan_seed(v, &sw->seed))
                return fail(bad_arg("--seed"));
            sw->seed_set = true;
            continue;
        }

        // "--" may have been the last word.
        if (c.left <= 0)
            break;
        const char *w = *c.word;
        if (w[0] == '-' && !c.end_of_options) {
            return fail(std::string("bad option '") + w + "'\n");
        }
        if (have_file)
            return fail("Too many files!\n");
        sw->file = w;
        have_file = true;
        advance(c);
    }
    return r;
}

void switches_from_config(const config_settings &c, startup_switches *sw) {
    sw->width = c.xres;
    sw->height = c.yres;
    sw->draw_fps = c.draw_fps;
    sw->draw_time = c.draw_time;
    sw->draw_ping = c.draw_ping;
    sw->draw_speed = c.draw_speed;
    sw->track = c.track ? c.track : "";
    sw->texture_reduction = std::clamp(10 - int(c.model_texture_detail.value), 0, 10);
    sw->roost_frequency = std::clamp(int(c.roost_density.value), 0, 1000);
}

std::string ignored_options_note(const startup_switches &sw) {
    std::string note;
    if (!sw.record_audio.empty())
        note += "--record-audio: no sound output in this build, option ignored\n";
    if (!sw.file.empty())
        note += sw.file + ": no demo playback in this build, file ignored\n";
    return note;
}
