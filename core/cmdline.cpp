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
#include <span>

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

// An option without a value and what it sets.
struct flag_option {
    const char *name;
    void (*take)(startup_switches *sw);
};

const flag_option flag_options[] = {
    {"--fugly", [](startup_switches *sw) { sw->fugly = true; }},
    {"--nosound", [](startup_switches *sw) { sw->nosound = true; }},
    {"--novertexarrays", [](startup_switches *sw) { sw->novertexarrays = true; }},
    {"--learn", [](startup_switches *sw) { sw->learn = true; }},
    {"--nolearn", [](startup_switches *sw) { sw->learn = false; }},
    {"--nommx", [](startup_switches *) {}},
    {"--debug", [](startup_switches *sw) { sw->verbosity = 1; }},
    {"--super-debug", [](startup_switches *sw) { sw->verbosity = 2; }},
    {"--practice", [](startup_switches *sw) { sw->practice = true; }},
    {"--warp", [](startup_switches *sw) { sw->warp = true; }},
    {"--record-video", [](startup_switches *sw) { sw->record_video = true; }},
    {"--editor", [](startup_switches *sw) { sw->editor = true; }},
    {"--hidden-pause", [](startup_switches *sw) { sw->hidden_pause = true; }},
    {"--hidden-hud", [](startup_switches *sw) { sw->hidden_hud = true; }},
    {"--accurate-skip", [](startup_switches *sw) { sw->accurate_skip = true; }},
    {"--glfinish", [](startup_switches *sw) { sw->glfinish = true; }},
    {"--print-orientation", [](startup_switches *sw) { sw->print_orientation = true; }},
    {"--terrain-wireframe", [](startup_switches *sw) { sw->terrain_wireframe = true; }},
    {"--disable-tmesh", [](startup_switches *sw) { sw->disable_tmesh = true; }},
    {"--debug-ground-textures", [](startup_switches *sw) { sw->debug_ground_textures = true; }},
    {"--headless", [](startup_switches *sw) { sw->headless = true; }},
};

// An option with a value: `take` reads the value (null when the option was
// the last word) into the switches. False refuses it; the error is what
// `take` put in `say`, else "Bad arg for" the option. Text in `say` after a
// true return is a note for the user.
struct value_option {
    const char *name;
    bool (*take)(const char *v, startup_switches *sw, std::string *say);
};

// Numbers that tune the game: clamped to their ranges.
const value_option number_options[] = {
    {"--texture-detail",
     [](const char *v, startup_switches *sw, std::string *) {
         int n = 0;
         if (!scan_int(v, &n))
             return false;
         sw->texture_reduction = std::clamp(n, 0, 4);
         return true;
     }},
    {"--ground-texture-detail",
     [](const char *v, startup_switches *, std::string *) {
         int n = 0;
         return scan_int(v, &n);
     }},
    {"--roostfrequency",
     [](const char *v, startup_switches *sw, std::string *) {
         int n = 0;
         if (!scan_int(v, &n))
             return false;
         sw->roost_frequency = std::clamp(n, 0, 1000);
         return true;
     }},
    {"--erode",
     [](const char *v, startup_switches *sw, std::string *) {
         float f = 0;
         if (!scan_real(v, &f))
             return false;
         sw->erode_amount = int(std::floor(std::clamp(f, 0.0f, 100.0f) * 1024.0f));
         return true;
     }},
    {"--detail",
     [](const char *v, startup_switches *sw, std::string *) {
         float f = 0;
         if (!scan_real(v, &f))
             return false;
         sw->terrain_detail = f;
         sw->detail_set = true;
         return true;
     }},
    {"--max-detail-distance",
     [](const char *v, startup_switches *sw, std::string *) {
         float f = 0;
         if (!scan_real(v, &f))
             return false;
         sw->max_detail_distance = f;
         sw->detail_fade_distance = double(f) + 5.0;
         sw->max_detail_distance_set = true;
         return true;
     }},
    {"--lod-scale",
     [](const char *v, startup_switches *sw, std::string *) {
         float f = 0;
         if (!scan_real(v, &f))
             return false;
         sw->lod_scale = std::clamp(double(f), 1e-6, 1e6);
         return true;
     }},
    {"--lod-bias",
     [](const char *v, startup_switches *sw, std::string *) {
         float f = 0;
         if (!scan_real(v, &f))
             return false;
         sw->lod_bias = f;
         return true;
     }},
    // A rate of zero or below would let one frame run without bound.
    {"--lock-fps",
     [](const char *v, startup_switches *sw, std::string *) {
         float f = 0;
         if (!scan_real(v, &f) || !(f > 0))
             return false;
         sw->lock_fps = f;
         return true;
     }},
    {"--fake-lag",
     [](const char *v, startup_switches *sw, std::string *) {
         float f = 0;
         if (!scan_real(v, &f))
             return false;
         sw->fake_lag = std::clamp(double(f) / 1000.0, 0.0, 1.0);
         return true;
     }},
    {"--fake-loss",
     [](const char *v, startup_switches *sw, std::string *) {
         int n = 0;
         if (!scan_int(v, &n))
             return false;
         sw->fake_loss = std::clamp(n, 0, 100);
         return true;
     }},
};

// Sizes and HUD switches: "%d" without a check. An unreadable size or
// switch is left as it was; the buffer depths read as a plain decimal
// conversion, which gives 0.
bool take_size(const char *v, int *value, bool zero_when_unreadable) {
    if (!v)
        return false;
    if (!scan_int(v, value) && zero_when_unreadable)
        *value = 0;
    return true;
}

const value_option size_options[] = {
    {"--width", [](const char *v, startup_switches *sw, std::string *) { return take_size(v, &sw->width, false); }},
    {"--height", [](const char *v, startup_switches *sw, std::string *) { return take_size(v, &sw->height, false); }},
    {"--depth", [](const char *v, startup_switches *sw, std::string *) { return take_size(v, &sw->colour_bits, true); }},
    {"--zdepth", [](const char *v, startup_switches *sw, std::string *) { return take_size(v, &sw->depth_bits, true); }},
    {"--draw-fps", [](const char *v, startup_switches *sw, std::string *) { return take_size(v, &sw->draw_fps, false); }},
    {"--draw-time",
     [](const char *v, startup_switches *sw, std::string *) { return take_size(v, &sw->draw_time, false); }},
    {"--draw-ping",
     [](const char *v, startup_switches *sw, std::string *) { return take_size(v, &sw->draw_ping, false); }},
    {"--draw-speed",
     [](const char *v, startup_switches *sw, std::string *) { return take_size(v, &sw->draw_speed, false); }},
    {"--draw-render-stats",
     [](const char *v, startup_switches *sw, std::string *) { return take_size(v, &sw->draw_render_stats, false); }},
};

// Names: files, the track, the server and its password.
const value_option name_options[] = {
    {"--record-audio",
     [](const char *v, startup_switches *sw, std::string *) {
         if (!v || !*v)
             return false;
         sw->record_audio = v;
         return true;
     }},
    {"--track",
     [](const char *v, startup_switches *sw, std::string *) {
         if (!v)
             return false;
         sw->track = v;
         return true;
     }},
    {"--connect",
     [](const char *v, startup_switches *sw, std::string *) {
         if (!v)
             return false;
         constexpr const char prefix[] = "kessrun:";
         if (std::strncmp(v, prefix, sizeof prefix - 1) == 0)
             v += sizeof prefix - 1;
         sw->connect = v;
         return true;
     }},
    {"--password",
     [](const char *v, startup_switches *sw, std::string *) {
         if (!v)
             return false;
         sw->password = v;
         return true;
     }},
    {"--controls",
     [](const char *v, startup_switches *sw, std::string *) {
         if (!v || !*v)
             return false;
         sw->controls_file = v;
         return true;
     }},
    {"--telemetry",
     [](const char *v, startup_switches *sw, std::string *) {
         if (!v || !*v)
             return false;
         sw->telemetry_file = v;
         return true;
     }},
};

// How the run goes: the lineup, the view, the GL context, its length, the seed.
const value_option run_options[] = {
    {"--rotate-lineup",
     [](const char *v, startup_switches *sw, std::string *) {
         if (!v)
             return false;
         (void)scan_int(v, &sw->rotate_lineup);
         return true;
     }},
    {"--bikes",
     [](const char *, startup_switches *, std::string *say) {
         *say += "--bikes doesn't do anything anymore\n";
         return true;
     }},
    {"--chase-center", [](const char *v, startup_switches *sw, std::string *) { return scan_chase_center(v, sw); }},
    {"--glversion", [](const char *v, startup_switches *sw, std::string *say) { return scan_glversion(v, sw, say); }},
    {"--quit-after", [](const char *v, startup_switches *sw, std::string *) { return scan_seconds(v, &sw->quit_after); }},
    {"--lineup", [](const char *v, startup_switches *sw, std::string *) { return scan_lineup(v, &sw->lineup); }},
    {"--seed",
     [](const char *v, startup_switches *sw, std::string *) {
         if (!scan_seed(v, &sw->seed))
             return false;
         sw->seed_set = true;
         return true;
     }},
};

bool take_flag(word_cursor &c, startup_switches *sw) {
    for (const flag_option &o : flag_options)
        if (match_switch(c, o.name)) {
            o.take(sw);
            return true;
        }
    return false;
}

enum class value_match { none, taken, refused };

// The value option the word names, if any; its notes and errors go to
// `message`. A "--" word is taken as the end of the options here.
value_match take_value(word_cursor &c, startup_switches *sw, std::string *message) {
    for (std::span<const value_option> table : {std::span<const value_option>(number_options),
                                                 std::span<const value_option>(size_options),
                                                 std::span<const value_option>(name_options),
                                                 std::span<const value_option>(run_options)})
        for (const value_option &o : table) {
            const char *v = nullptr;
            if (!match_value(c, o.name, &v))
                continue;
            std::string say;
            bool taken = o.take(v, sw, &say);
            *message += !taken && say.empty() ? bad_arg(o.name) : say;
            return taken ? value_match::taken : value_match::refused;
        }
    return value_match::none;
}

// A word that is no option: the one file the command line may name. False,
// with the error in `r`, for an unknown option or a second file.
bool take_file(word_cursor &c, startup_switches *sw, bool *have_file, cmdline_result *r) {
    const char *w = *c.word;
    if (w[0] == '-' && !c.end_of_options) {
        r->message += std::string("bad option '") + w + "'\n";
        return false;
    }
    if (*have_file) {
        r->message += "Too many files!\n";
        return false;
    }
    sw->file = w;
    *have_file = true;
    advance(c);
    return true;
}

}  // namespace

cmdline_result parse_command_line(int argc, const char *const *argv, startup_switches *sw) {
    cmdline_result r;
    word_cursor c{argc > 0 ? argc - 1 : 0, argv + 1, false};
    bool have_file = false;
    while (c.left > 0) {
        if (match_switch(c, "--open-home")) {
            r.status = cmdline_status::open_home;
            return r;
        }
        if (take_flag(c, sw))
            continue;
        value_match m = take_value(c, sw, &r.message);
        if (m == value_match::taken)
            continue;
        if (m == value_match::refused) {
            r.status = cmdline_status::error;
            return r;
        }
        // "--" may have been the last word.
        if (c.left <= 0)
            break;
        if (!take_file(c, sw, &have_file, &r)) {
            r.status = cmdline_status::error;
            return r;
        }
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
