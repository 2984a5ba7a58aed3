// Surface types: the defaults, "tileinfo" and the older "texturelist".
//
// Both files are shared between players, so every value is taken through a
// clamp or a check: nothing read here can index out of a table.

#include "track/track_local.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

TileType tile_type_defaults() {
    TileType t;
    for (friction_point &p : t.friction)
        p = {1.0f, FRICTION_EMPTY_ABSCISSA};
    t.friction[0].abscissa = 1.0f;
    for (roll_resist_point &p : t.roll_resist)
        p = {5.0f, 15.0f, 0.0f};
    t.roll_resist[0].speed = 1.0f;
    return t;
}

namespace {

bool is_word_space(char c) {
    return c == ' ' || c == '\f' || c == '\n' || c == '\r' || c == '\t' || c == '\b';
}

// Truncates to an integer and keeps the low 8 bits, as a byte store does.
uint8_t wrap_byte(double v) {
    if (!std::isfinite(v))
        return 0;
    double m = std::fmod(std::trunc(v), 256.0);
    if (m < 0)
        m += 256.0;
    return static_cast<uint8_t>(m);
}

int8_t wrap_signed_byte(double v) {
    uint8_t b = wrap_byte(v);
    return static_cast<int8_t>(b >= 128 ? int(b) - 256 : int(b));
}

// The tile type being read and how many entries of each table it has used.
struct working_tile {
    TileType t = tile_type_defaults();
    int friction = 0;
    int roll = 0;
    int roost = 0;
    int tread = 0;
};

struct erode_key {
    const char *name;
    float ErodeParams::*field;
};
constexpr erode_key k_erode_keys[] = {
    {"erode_depth", &ErodeParams::depth},
    {"erode_lower", &ErodeParams::lower},
    {"erode_upper", &ErodeParams::upper},
    {"erode_displacement", &ErodeParams::displacement},
    {"erode_radius", &ErodeParams::radius},
    {"erode_inner_depth", &ErodeParams::inner_depth},
    {"erode_inner_radius", &ErodeParams::inner_radius},
    {"erode_min_slope", &ErodeParams::min_slope},
    {"erode_max_slope", &ErodeParams::max_slope},
    {"erode_off_speed", &ErodeParams::off_speed},
    {"erode_on_speed", &ErodeParams::on_speed},
    {"erode_slip_lower", &ErodeParams::slip_lower},
    {"erode_slip_upper", &ErodeParams::slip_upper},
    {"erode_slip_base_scale", &ErodeParams::slip_base_scale},
    {"erode_slip_scale", &ErodeParams::slip_scale},
    {"erode_downhill_scale", &ErodeParams::downhill_scale},
    {"erode_project_to_ground", &ErodeParams::project_to_ground},
    {"erode_lateral_scale", &ErodeParams::lateral_scale},
    {"erode_front_scale", &ErodeParams::front_scale},
};

struct roost_float_key {
    const char *key;  // with its '='
    float RoostType::*field;
};
constexpr roost_float_key k_roost_floats[] = {
    {"count=", &RoostType::count},
    {"dig=", &RoostType::dig},
    {"slip_threshold=", &RoostType::slip_threshold},
    {"slow_angle=", &RoostType::slow_angle},
    {"fast_angle=", &RoostType::fast_angle},
    {"slow_speed=", &RoostType::slow_speed},
    {"fast_speed=", &RoostType::fast_speed},
    {"size=", &RoostType::size},
    {"grow=", &RoostType::grow},
    {"drag=", &RoostType::drag},
    {"vscale=", &RoostType::vscale},
    {"randomize=", &RoostType::randomize},
};
struct roost_byte_key {
    const char *key;
    uint8_t RoostType::*field;
};
constexpr roost_byte_key k_roost_colours[] = {
    {"r=", &RoostType::r}, {"g=", &RoostType::g}, {"b=", &RoostType::b}, {"a=", &RoostType::a}};
struct roost_fade_key {
    const char *key;
    int8_t RoostType::*field;
};
constexpr roost_fade_key k_roost_fades[] = {{"fade_r=", &RoostType::fade_r},
                                            {"fade_g=", &RoostType::fade_g},
                                            {"fade_b=", &RoostType::fade_b},
                                            {"fade_a=", &RoostType::fade_a}};

struct tread_float_key {
    const char *key;
    const char *warning_name;
    float TreadmarkType::*field;
};
constexpr tread_float_key k_tread_floats[] = {
    {"size=", "size", &TreadmarkType::size},
    {"aspect=", "aspect", &TreadmarkType::aspect},
    {"spacing=", "spacing", &TreadmarkType::spacing},
    {"offset=", "offset", &TreadmarkType::offset},
    {"slip_threshold=", "slip_threshold", &TreadmarkType::slip_threshold},
    {"speed_threshold=", "speed_threshold", &TreadmarkType::speed_threshold},
};

bool starts_with(const std::string &s, const char *prefix) {
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

// The number of a "key=value" word, or 0 with the warning.
double setting_value(const std::string &word, size_t key_len, const char *warning) {
    double v = 0;
    if (!parse_setting_number(word.c_str() + key_len, &v)) {
        v = 0;
        console("%s", warning);
    }
    return v;
}

void read_roost(working_tile *w, const char *arg) {
    if (w->roost >= ROOST_TYPES) {
        console("tileinfo warning: too many roost types\n");
        return;
    }
    RoostType &r = w->t.roost[size_t(w->roost++)];
    r.kind = 1;
    for (const std::string &word : split_setting_words(arg)) {
        if (starts_with(word, "texture=")) {
            r.texture_name = word.substr(8);
            r.texture = texture_handle(r.texture_name);
            continue;
        }
        if (starts_with(word, "splash=")) {
            double v = 0;
            if (parse_setting_number(word.c_str() + 7, &v) && v != 0)
                r.kind = 2;
            continue;
        }
        bool known = false;
        char warning[64];
        for (const roost_float_key &k : k_roost_floats) {
            if (starts_with(word, k.key)) {
                std::snprintf(warning, sizeof warning, "tileinfo warning: bad %.*s\n", int(std::strlen(k.key) - 1),
                              k.key);
                r.*k.field = static_cast<float>(setting_value(word, std::strlen(k.key), warning));
                known = true;
                break;
            }
        }
        for (const roost_byte_key &k : k_roost_colours) {
            if (!known && starts_with(word, k.key)) {
                std::snprintf(warning, sizeof warning, "tileinfo warning: bad %c\n", k.key[0]);
                r.*k.field = wrap_byte(setting_value(word, 2, warning));
                known = true;
            }
        }
        for (const roost_fade_key &k : k_roost_fades) {
            if (!known && starts_with(word, k.key)) {
                std::snprintf(warning, sizeof warning, "tileinfo warning: bad fade_%c\n", k.key[5]);
                r.*k.field = wrap_signed_byte(setting_value(word, 7, warning) * (1.0 / 128.0));
                known = true;
            }
        }
        if (!known)
            console("tileinfo warning: unknown roost parameter '%.40s'\n", word.c_str());
    }
}

void read_treadmark(working_tile *w, const char *arg) {
    if (w->tread >= TREADMARK_TYPES) {
        console("tileinfo warning: too many treadmark types\n");
        return;
    }
    TreadmarkType &m = w->t.treadmark[size_t(w->tread++)];
    m.defined = 1;
    char warning[64];
    for (const std::string &word : split_setting_words(arg)) {
        if (starts_with(word, "texture=")) {
            m.texture_name = word.substr(8);
            continue;
        }
        if (starts_with(word, "front=")) {
            const char *s = word.c_str() + 6;
            char *end = nullptr;
            long v = std::strtol(s, &end, 10);
            if (end == s) {
                v = 0;
                console("tileinfo warning: bad tread front\n");
            }
            m.front = static_cast<int32_t>(v < -2147483647L ? -2147483647L : v > 2147483647L ? 2147483647L : v);
            continue;
        }
        bool known = false;
        for (const tread_float_key &k : k_tread_floats) {
            if (starts_with(word, k.key)) {
                std::snprintf(warning, sizeof warning, "tileinfo warning: bad tread %s\n", k.warning_name);
                m.*k.field = static_cast<float>(setting_value(word, std::strlen(k.key), warning));
                known = true;
                break;
            }
        }
        if (!known)
            console("tileinfo warning: unknown tread parameter '%.40s'\n", word.c_str());
    }
}

// Sorts the used entries by key; swaps only on strictly less, so equal keys
// keep their order.
template <typename T, typename Key>
void exchange_sort(T *items, int count, Key key) {
    for (int i = 0; i < count; ++i)
        for (int j = i + 1; j < count; ++j)
            if (key(items[j]) < key(items[i]))
                std::swap(items[i], items[j]);
}

void commit_tile(working_tile *w, std::vector<TileType> *types) {
    TileType &t = w->t;
    if (t.name.empty())
        t.name = t.texture.substr(0, TILE_NAME_MAX);
    exchange_sort(t.friction.data(), w->friction, [](const friction_point &p) { return p.abscissa; });
    exchange_sort(t.roll_resist.data(), w->roll, [](const roll_resist_point &p) { return p.speed; });
    if (t.erode.limit_count == 0) {
        t.erode.limit_depth[0] = 0.0f;
        t.erode.limit_factor1[0] = 1.0f;
        t.erode.limit_factor2[0] = 1.0f;
        t.erode.limit_count = 1;
    }
    types->push_back(std::move(t));
    *w = working_tile{};
}

void read_erode_limit(ErodeParams *e, const char *arg) {
    if (e->limit_count >= ERODE_LIMITS) {
        console("tileinfo warning: too many erode limits\n");
        return;
    }
    float depth, f1, f2;
    // A depth that is not a number would make the table unordered.
    if (std::sscanf(arg, "%f %f %f", &depth, &f1, &f2) != 3 || !all_finite(depth, f1, f2)) {
        console("tileinfo warning: bad erode_limit\n");
        return;
    }
    size_t k = size_t(e->limit_count);
    e->limit_depth[k] = depth;
    e->limit_factor1[k] = f1;
    e->limit_factor2[k] = f2;
    if (k > 0 && e->limit_depth[k - 1] >= depth) {
        console("tileinfo warning: erode_limit depth <= prev depth\n");
        return;
    }
    e->limit_count++;
}

// One line of tileinfo; true when it committed a tile type.
bool tileinfo_line(working_tile *w, std::vector<TileType> *types, char *line) {
    char *p = line;
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')
        ++p;
    if (!*p)
        return false;
    char *id = p;
    while (*p && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n')
        ++p;
    std::string ident(id, size_t(p - id));
    while (*p == ' ' || *p == '\t')
        ++p;
    char *arg = p;
    while (*p && *p != '\r' && *p != '\n')
        ++p;
    *p = 0;

    TileType &t = w->t;
    if (ident == "addtile") {
        commit_tile(w, types);
        return true;
    }
    if (ident == "name") {
        t.name.assign(arg, std::min(std::strlen(arg), TILE_NAME_MAX));
    } else if (ident == "texture") {
        t.texture = arg;
        (void)texture_handle(t.texture);
    } else if (ident == "friction") {
        float c, a;
        if (w->friction >= FRICTION_POINTS) {
            console("tileinfo warning: too many friction points\n");
        } else if (std::sscanf(arg, "%f %f", &c, &a) != 2) {
            console("tileinfo warning: bad friction parameters\n");
        } else {
            c = std::isnan(c) ? 0.0f : std::max(c, 0.0f);
            a = std::isnan(a) ? FRICTION_MAX_ABSCISSA : std::min(a, FRICTION_MAX_ABSCISSA);
            t.friction[size_t(w->friction++)] = {c, a};
        }
    } else if (ident == "slip_function") {
        int v;
        if (std::sscanf(arg, "%d", &v) != 1) {
            console("tileinfo warning: bad slip_function\n");
        } else {
            t.slip_function = v;
            if (v < 0 || v > 2)
                console("tileinfo warning: bad slip_function\n");
        }
    } else if (ident == "roll_resist") {
        float lo, hi, speed;
        if (w->roll >= ROLL_RESIST_POINTS) {
            console("tileinfo warning: too many roll_resist points\n");
        } else if (std::sscanf(arg, "%f %f %f", &lo, &hi, &speed) != 3) {
            console("tileinfo warning: bad roll_resist parameters\n");
        } else {
            lo = std::isnan(lo) ? 0.0f : std::max(lo, 0.0f);
            hi = std::isnan(hi) ? 0.0f : std::max(hi, 0.0f);
            speed = std::isnan(speed) ? ROLL_RESIST_MIN_SPEED : std::max(speed, ROLL_RESIST_MIN_SPEED);
            t.roll_resist[size_t(w->roll++)] = {lo, hi, speed};
        }
    } else if (ident == "roost") {
        read_roost(w, arg);
    } else if (ident == "treadmark") {
        read_treadmark(w, arg);
    } else if (ident == "erode_limit") {
        read_erode_limit(&t.erode, arg);
    } else {
        for (const erode_key &k : k_erode_keys) {
            if (ident == k.name) {
                float v;
                // A value that is not finite would spread into the heights.
                if (std::sscanf(arg, "%f", &v) == 1 && std::isfinite(v))
                    t.erode.*k.field = v;
                else
                    console("tileinfo warning: bad %s\n", k.name);
                return false;
            }
        }
        console("tileinfo warning: Unknown identifier '%.950s'\n", ident.c_str());
    }
    return false;
}

}  // namespace

bool parse_setting_number(const char *text, double *out) {
    const char *p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v')
        ++p;
    const char *start = p;
    if (*p == '+' || *p == '-')
        ++p;
    while (*p >= '0' && *p <= '9')
        ++p;
    if (*p == '.') {
        ++p;
        while (*p >= '0' && *p <= '9')
            ++p;
    }
    if ((*p == 'e' || *p == 'E') && p > start) {
        const char *q = p + 1;
        if (*q == '+' || *q == '-')
            ++q;
        if (*q >= '0' && *q <= '9') {
            while (*q >= '0' && *q <= '9')
                ++q;
            p = q;
        }
    }
    if (p == start)
        return false;
    std::string number(start, size_t(p - start));
    *out = std::strtod(number.c_str(), nullptr);  // "-" or "." alone read as 0
    return true;
}

std::vector<std::string> split_setting_words(const char *text) {
    std::vector<std::string> words;
    const char *p = text;
    for (;;) {
        while (*p && is_word_space(*p))
            ++p;
        if (!*p)
            break;
        std::string word;
        bool quoted = false;
        while (*p && (quoted || !is_word_space(*p))) {
            if (*p == '"')
                quoted = !quoted;
            else
                word += *p;
            ++p;
        }
        words.push_back(std::move(word));
    }
    return words;
}

void read_tileinfo(data_file *f, std::vector<TileType> *types) {
    working_tile w;
    char line[1024];
    while (types->size() < size_t(MAX_TILE_TYPES) && data_gets(f, line, sizeof line))
        if (tileinfo_line(&w, types, line))
            loading_tick();
}

void read_texturelist(data_file *f, std::vector<TileType> *types) {
    char line[1024];
    while (types->size() < size_t(MAX_TILE_TYPES) && data_gets(f, line, 1023)) {
        const char *p = line;
        while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n' || *p == '\f' || *p == '\v')
            ++p;
        if (!*p)
            continue;
        float friction = 1.0f, low = 5.0f, high = 15.0f;
        int used = 0;
        if (std::sscanf(p, "%f %f %f %n", &friction, &low, &high, &used) < 3 || used == 0) {
            friction = 1.0f;
            low = 5.0f;
            high = 15.0f;
            used = 0;
        }
        std::string name(p + used);
        while (!name.empty() && (name.back() == '\n' || name.back() == '\r'))
            name.pop_back();

        TileType t = tile_type_defaults();
        t.texture = "@" + name;
        t.name = name.substr(0, TILE_NAME_MAX);
        (void)texture_handle(t.texture);
        for (friction_point &fp : t.friction)
            fp.coefficient = friction;
        for (roll_resist_point &rp : t.roll_resist) {
            rp.low = low;
            rp.high = high;
        }
        t.roost[0].kind = 1;
        t.roost[0].texture = texture_handle(t.roost[0].texture_name);
        t.erode.limit_count = 1;
        t.erode.limit_factor1[0] = 1.0f;
        t.erode.limit_factor2[0] = 1.0f;
        types->push_back(std::move(t));
    }
}
