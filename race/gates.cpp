// "timing_gates": the checkpoint gates, the two lap sequences and the
// starting-gate pieces; reading, writing and the gate-index arithmetic.

#include "race/race_local.h"

#include "files/files.h"
#include "platform/platform.h"
#include "track/track.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

namespace {

race_services g_services;

void default_log(const char *text) {
    velk_log("%s", text);
}
int default_verbosity() {
    return 0;
}

constexpr double k_pi = 3.14159265358979323846;
constexpr const char *k_default_names[3] = {"@startgate.jm", "@startgate.ppm", "@startgate.shp"};

// A read position in the zero-ended text of the file.
struct cursor {
    const char *p;

    void skip_space() {
        while (*p && std::isspace(static_cast<unsigned char>(*p)))
            ++p;
    }
    // The next whitespace-separated word, without consuming it.
    std::string_view peek_word() {
        skip_space();
        const char *e = p;
        while (*e && !std::isspace(static_cast<unsigned char>(*e)))
            ++e;
        return {p, size_t(e - p)};
    }
    bool take_word(std::string_view w) {
        if (peek_word() != w)
            return false;
        p += w.size();
        return true;
    }
    // The current line (at most 1023 characters kept) and a step past it.
    std::string_view line(const char **next) const {
        const char *e = std::strchr(p, '\n');
        *next = e ? e + 1 : p + std::strlen(p);
        size_t n = size_t((e ? e : *next) - p);
        return {p, std::min<size_t>(n, 1023)};
    }
    // An integer word; false (nothing consumed) for any other word.
    bool take_int(int32_t *out) {
        std::string_view w = peek_word();
        if (w.empty())
            return false;
        std::string s(w);
        errno = 0;
        char *end = nullptr;
        long long v = std::strtoll(s.c_str(), &end, 10);
        if (end != s.c_str() + s.size())
            return false;
        *out = int32_t(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
        p += w.size();
        return true;
    }
};

// Reads the starting-gate lines after "startinggate:". Leaves the cursor at
// the line that ended the section.
void read_starting_gates(cursor *c, race_timing *rt) {
    const char *next = nullptr;
    (void)c->line(&next);  // the rest of the header line
    c->p = next;
    while (*c->p) {
        std::string text(c->line(&next));
        size_t first = text.find_first_not_of(" \t\r");
        if (first != std::string::npos && text.compare(first, 12, "checkpoints:") == 0)
            return;
        starting_gate g;
        char names[3][1024] = {};
        int n = std::sscanf(text.c_str(), " [ %f %f %f ] %f %1023s %1023s %1023s", &g.x, &g.y, &g.z, &g.heading,
                            names[0], names[1], names[2]);
        if (n < 4)
            return;
        c->p = next;
        if (int(rt->gates.size()) >= MAX_STARTING_GATES ||
            !(std::isfinite(g.x) && std::isfinite(g.y) && std::isfinite(g.z) && std::isfinite(g.heading)))
            continue;
        g.heading = float(std::remainder(double(g.heading), 2.0 * k_pi));
        std::string *fields[3] = {&g.model, &g.texture, &g.shape};
        for (int k = 0; k < 3; ++k) {
            const char *name = k < n - 4 ? names[k] : k_default_names[k];
            *fields[k] = std::strcmp(name, "null") == 0 ? "" : name;
        }
        rt->gates.push_back(std::move(g));
    }
}

// Integers up to the next word that is not one; at most MAX_LAP_ENTRIES kept.
void read_entries(cursor *c, std::vector<int32_t> *out, int *count) {
    int32_t v;
    *count = 0;
    while (c->take_int(&v)) {
        if (*count < MAX_LAP_ENTRIES) {
            out->push_back(v);
            ++*count;
        }
    }
}

void place_gate_objects(race_timing *rt, track_objects *objects, const Terrain *t) {
    if (!objects)
        return;
    for (starting_gate &g : rt->gates) {
        float s = std::sin(g.heading), c = std::cos(g.heading);
        float x = g.x - 3.0f * s, z = g.z - 3.0f * c;
        float ground = t && !t->heights.empty() ? terrain_height_at(t, x, z) : 0.0f;
        g.object = add_statue(objects, t, x, g.y - ground, z, g.heading, g.model.c_str(), g.texture.c_str(),
                              g.shape.c_str());
        tilt_gate_object(g, objects);
    }
}

}  // namespace

// ---------------------------------------------------------------- services

void race_set_services(const race_services &s) {
    g_services = s;
}

static void vformat_to(void (*sink)(const char *), const char *fmt, va_list ap) {
    char text[1024];
    std::vsnprintf(text, sizeof text, fmt, ap);
    sink(text);
}

void race_log(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vformat_to(g_services.log ? g_services.log : default_log, fmt, ap);
    va_end(ap);
}

void race_message(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vformat_to(g_services.message ? g_services.message : default_log, fmt, ap);
    va_end(ap);
}

int race_verbosity() {
    return (g_services.verbosity ? g_services.verbosity : default_verbosity)();
}

void tilt_gate_object(const starting_gate &g, track_objects *objects) {
    if (!objects || g.object < 0 || size_t(g.object) >= objects->statues.size())
        return;
    double c = std::cos(g.heading), s = std::sin(g.heading);
    double a = double(g.up) * 3.0 * k_pi / 16.0;
    double ca = std::cos(a), sa = std::sin(a);
    // Rows: the heading's x axis, then up and back turned about it. The
    // piece lies back from its hinge towards the riders when down; raising
    // it lifts that back edge in front of their wheels.
    objects->statues[size_t(g.object)].orientation = {
        float(c), 0.0f, float(-s),
        float(-sa * s), float(ca), float(-sa * c),
        float(ca * s), float(sa), float(ca * c),
    };
}

// ---------------------------------------------------------------- reading and writing

bool read_timing(race_timing *rt, const char *folder, track_objects *objects, const Terrain *t) {
    *rt = race_timing{};
    std::string path = std::string(folder) + "/timing_gates";
    std::unique_ptr<char, void (*)(char *)> text(file_to_string(path.c_str()), [](char *p) { kr_free(p); });
    if (!text)
        return false;
    cursor c{text.get()};
    while (c.take_word("version2")) {
    }
    if (c.take_word("startinggate:"))
        read_starting_gates(&c, rt);
    place_gate_objects(rt, objects, t);
    if (!c.take_word("checkpoints:")) {
        race_log("Error reading starting gate\n");
        return false;
    }
    for (int n = 0; n < MAX_CHECKPOINTS; ++n) {
        checkpoint k;
        int used = 0;
        if (std::sscanf(c.p, "%f [ %f %f %f ] [ %f %f %f ]%n", &k.radius, &k.x, &k.y, &k.z, &k.nx, &k.ny, &k.nz,
                        &used) != 7)
            break;
        c.p += used;
        rt->checkpoints.push_back(k);
    }
    if (!c.take_word("firstlap:")) {
        race_log("Error reading checkpoints\n");
        rt->checkpoints.clear();
        return false;
    }
    read_entries(&c, &rt->sequence, &rt->first_lap);
    if (!c.take_word("normallap:")) {
        race_log("Error reading firstlap\n");
        rt->checkpoints.clear();
        rt->sequence.clear();
        rt->first_lap = 0;
        return false;
    }
    read_entries(&c, &rt->sequence, &rt->normal_lap);

    int32_t last = std::max(int32_t(rt->checkpoints.size()) - 1, 0);
    for (size_t k = 0; k < rt->sequence.size(); ++k) {
        int32_t &e = rt->sequence[k];
        bool marked = e >= GATE_NO_LEARN;
        int32_t index = std::clamp(marked ? e - GATE_NO_LEARN : e, 0, last);
        e = index + (marked ? GATE_NO_LEARN : 0);
        if (!marked)
            ++(int(k) < rt->first_lap ? rt->counting_first : rt->counting_normal);
    }
    if (rt->checkpoints.empty() || rt->first_lap < 3 || rt->normal_lap < 3 || rt->counting_first < 3 ||
        rt->counting_normal < 3) {
        race_log("Timing gate error: lap length must be at least 3\n");
        std::vector<starting_gate> gates = std::move(rt->gates);
        *rt = race_timing{};
        rt->gates = std::move(gates);
        return false;
    }
    rt->valid = true;
    if (race_verbosity() > 0)
        race_log("Found %d timing gates, first lap has %d gates, normal lap has %d\n", int(rt->checkpoints.size()),
                 rt->first_lap, rt->normal_lap);
    return true;
}

bool write_timing(const race_timing &rt, const char *folder) {
    std::string path = std::string(folder) + "/timing_gates";
    data_file_ptr f(data_open(path.c_str(), "wb"));
    if (!f) {
        race_message("Can't open 'timing_gates'\n");
        return false;
    }
    data_file *out = f.get();
    bool ok = true;
    auto put = [&ok](int n) { ok = ok && n >= 0; };
    if (rt.checkpoints.size() > 254 || rt.first_lap + rt.normal_lap > 254)
        put(data_printf(out, "version2\n"));
    put(data_printf(out, "startinggate:\n"));
    for (const starting_gate &g : rt.gates) {
        put(data_printf(out, "[%f %f %f]", double(g.x), double(g.y), double(g.z)));
        put(data_printf(out, " %f", double(g.heading)));
        bool defaults = g.model == k_default_names[0] && g.texture == k_default_names[1] &&
                        g.shape == k_default_names[2];
        if (g.object < 0 || defaults) {
            put(data_printf(out, "\n"));
        } else {
            auto name = [](const std::string &s) { return s.empty() ? "null" : s.c_str(); };
            put(data_printf(out, " %s %s %s\n", name(g.model), name(g.texture), name(g.shape)));
        }
    }
    put(data_printf(out, "checkpoints:\n"));
    for (const checkpoint &k : rt.checkpoints) {
        put(data_printf(out, "%f ", double(k.radius)));
        put(data_printf(out, "[%f %f %f]", double(k.x), double(k.y), double(k.z)));
        put(data_printf(out, " "));
        put(data_printf(out, "[%f %f %f]", double(k.nx), double(k.ny), double(k.nz)));
        put(data_printf(out, "\n"));
    }
    const char *heads[2] = {"firstlap:\n", "normallap:\n"};
    size_t split = size_t(std::clamp(rt.first_lap, 0, int(rt.sequence.size())));
    for (int s = 0; s < 2; ++s) {
        put(data_printf(out, "%s", heads[s]));
        size_t from = s == 0 ? 0 : split, to = s == 0 ? split : rt.sequence.size();
        for (size_t k = from; k < to; ++k)
            put(data_printf(out, "%d ", int(rt.sequence[k])));
        put(data_printf(out, "\n"));
    }
    return ok;
}

// ---------------------------------------------------------------- gate indices

int32_t gate_entry(const race_timing &rt, int32_t k) {
    if (rt.sequence.empty() || k < 0)
        return 0;
    size_t at;
    if (k < rt.first_lap || rt.normal_lap <= 0)
        at = size_t(std::min<int64_t>(k, int64_t(rt.sequence.size()) - 1));
    else
        at = size_t(rt.first_lap) + size_t((k - rt.first_lap) % rt.normal_lap);
    return rt.sequence[std::min(at, rt.sequence.size() - 1)];
}

const checkpoint &gate_checkpoint(const race_timing &rt, int32_t k) {
    static const checkpoint none{};
    if (rt.checkpoints.empty())
        return none;
    int32_t e = gate_entry(rt, k);
    if (e >= GATE_NO_LEARN)
        e -= GATE_NO_LEARN;
    return rt.checkpoints[size_t(std::clamp<int32_t>(e, 0, int32_t(rt.checkpoints.size()) - 1))];
}

bool is_finish_gate(const race_timing &rt, int32_t k) {
    int64_t d = int64_t(k) + 1 - rt.first_lap;
    return rt.normal_lap > 0 && d >= 0 && d % rt.normal_lap == 0;
}

int32_t finish_gate(const race_timing &rt, int32_t lap) {
    int64_t k = int64_t(rt.first_lap) - 1 + int64_t(rt.normal_lap) * (int64_t(lap) - 1);
    return int32_t(std::clamp<int64_t>(k, INT32_MIN, INT32_MAX));
}
