// The object files of a track folder: "lighting", "billboards", "statues",
// "flaggers", "cameras", "map.png", and the billboard and statue writers.
//
// Textures, models and shapes are asked of the layers above through the
// track services; without them the names and the placement are kept.
// Records that are not finite are skipped: a NaN position would poison every
// sort and distance the renderer makes.

#include "track/track_local.h"
#include "platform/platform.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr double k_two_pi = 6.283185307179586;

float ground(const Terrain *t, float x, float z) {
    return t ? terrain_height_at(t, x, z) : 0.0f;
}

void log_texture_memory(const char *what) {
    if (track_verbosity() > 0 && services().texture_memory)
        velk_log("%lu bytes texture memory used after %s creation\n", (unsigned long)services().texture_memory(),
                 what);
}

bool is_null_name(const char *name) {
    return !name || !*name || std::strcmp(name, "null") == 0;
}

// ---------------------------------------------------------------- lighting

bool read_vec3(const char *arg, std::array<float, 3> *out) {
    float a, b, c;
    if (std::sscanf(arg, " [ %f %f %f ] ", &a, &b, &c) != 3 || !all_finite(a, b, c))
        return false;
    *out = {a, b, c};
    return true;
}

// One line of "lighting"; false at an unknown identifier.
bool lighting_line(track_lighting *l, std::vector<flare_element> *pending, char *line) {
    char *p = line;
    while (*p == ' ' || *p == '\t')
        ++p;
    size_t len = std::strlen(p);
    while (len > 0 && std::isspace(static_cast<unsigned char>(p[len - 1])))
        p[--len] = 0;
    if (!*p)
        return true;
    char *id = p;
    while (*p && *p != ' ' && *p != '\t')
        ++p;
    std::string ident(id, size_t(p - id));
    while (*p == ' ' || *p == '\t')
        ++p;
    const char *arg = p;

    static const char *const sky_ids[SKY_FACES] = {"sky_n", "sky_e", "sky_s", "sky_w", "sky_u", "sky_env"};
    for (int k = 0; k < SKY_FACES; ++k) {
        if (ident == sky_ids[k]) {
            l->sky_names[size_t(k)] = arg;
            l->sky[size_t(k)] = texture_handle(l->sky_names[size_t(k)]);
            return true;
        }
    }
    if (ident == "sun_vector") {
        (void)read_vec3(arg, &l->sun_vector);
    } else if (ident == "sun_color") {
        (void)read_vec3(arg, &l->sun_colour);
    } else if (ident == "ambient") {
        (void)read_vec3(arg, &l->ambient);
    } else if (ident == "global_ambient") {
        (void)read_vec3(arg, &l->global_ambient);
    } else if (ident == "flare_element") {
        flare_element e;
        char name[1024];
        if (std::sscanf(arg, " [ %f %f ] [ %f %f %f ] %f %1023s", &e.a0, &e.a1, &e.r, &e.g, &e.b, &e.scale, name) ==
                7 &&
            all_finite(e.a0, e.a1, e.r, e.g, e.b, e.scale) && pending->size() < 8) {
            e.texture_name = name;
            e.texture = texture_handle(e.texture_name);
            pending->push_back(std::move(e));
        }
    } else if (ident == "flare_point" || ident == "flare_vector") {
        lens_flare f;
        if (read_vec3(arg, &f.v)) {
            f.kind = ident == "flare_vector" ? 1 : 0;
            f.elements = std::move(*pending);
            l->flares.push_back(std::move(f));
        }
        pending->clear();
    } else if (ident == "fog") {
        float r, g, b, d;
        if (std::sscanf(arg, " [ %f %f %f ] %f ", &r, &g, &b, &d) == 4 && all_finite(r, g, b, d)) {
            l->fog_colour = {r, g, b};
            l->fog_density = d;
        }
    } else if (ident == "dynamic_lighting") {
        int v;
        if (std::sscanf(arg, "%d", &v) == 1)
            l->dynamic_lighting = v > 0;
    } else if (ident == "near_plane" || ident == "far_plane") {
        float v;
        if (std::sscanf(arg, "%f", &v) == 1 && std::isfinite(v))
            (ident == "near_plane" ? l->near_plane : l->far_plane) = v;
    } else {
        console("Error reading lighting: Unknown identifier '%.950s'\n", ident.c_str());
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- statues

// Rotation by the angle about the vertical, its up axis tilted onto the
// ground normal under (x, z) unless `tilt` is false. Rows.
std::array<float, 9> statue_orientation(const Terrain *t, float x, float z, float angle, bool tilt) {
    double c = std::cos(angle), s = std::sin(angle);
    double ax[3] = {c, 0, -s};
    double up[3] = {0, 1, 0};
    if (tilt && t) {
        double h = ground(t, x, z);
        double hx = ground(t, x + 1.0f, z) - h;
        double hz = ground(t, x, z + 1.0f) - h;
        double len = std::sqrt(hx * hx + 1.0 + hz * hz);
        up[0] = -hx / len;
        up[1] = 1.0 / len;
        up[2] = -hz / len;
        // Keep the heading: project the turned x axis onto the tilted plane.
        double d = ax[0] * up[0] + ax[1] * up[1] + ax[2] * up[2];
        for (int k = 0; k < 3; ++k)
            ax[k] -= d * up[k];
        double n = std::sqrt(ax[0] * ax[0] + ax[1] * ax[1] + ax[2] * ax[2]);
        for (double &v : ax)
            v /= n;
    }
    double az[3] = {ax[1] * up[2] - ax[2] * up[1], ax[2] * up[0] - ax[0] * up[2], ax[0] * up[1] - ax[1] * up[0]};
    return {float(ax[0]), float(ax[1]), float(ax[2]), float(up[0]), float(up[1]),
            float(up[2]), float(az[0]), float(az[1]), float(az[2])};
}

uint32_t first_companion(const std::string &texture, const std::string &model, const char *kind) {
    for (const std::string &name : texture_companions(texture, model, kind))
        if (uint32_t h = texture_handle(name))
            return h;
    return 0;
}

// ---------------------------------------------------------------- reading helpers

std::string folder_of(const track_objects *o, const char *file) {
    return folder_file(o->folder.c_str(), file);
}

bool parse_tint(const char *name, uint8_t rgb[3], const char **rest) {
    if (std::strlen(name) < 8 || name[0] != '#' || name[7] != '#')
        return false;
    for (int k = 1; k < 7; ++k)
        if (!std::isxdigit(static_cast<unsigned char>(name[k])))
            return false;
    for (int k = 0; k < 3; ++k) {
        char hex[3] = {name[1 + 2 * k], name[2 + 2 * k], 0};
        rgb[k] = uint8_t(std::strtol(hex, nullptr, 16));
    }
    *rest = name + 8;
    return true;
}

}  // namespace

// ---------------------------------------------------------------- lighting

void load_lighting(track_lighting *l, const char *folder) {
    *l = track_lighting{};
    std::string path = folder_file(folder, "lighting");
    data_file_ptr f(data_open(path.c_str(), "rb"));
    if (!f)
        return;
    stage_begin("Loading lighting");
    std::vector<flare_element> pending;
    char line[1024];
    while (data_gets(f.get(), line, sizeof line))
        if (!lighting_line(l, &pending, line))
            break;

    l->near_plane = std::clamp(l->near_plane, 1.0f / 1024.0f, 0.875f);
    l->far_plane = l->far_plane < l->near_plane ? l->near_plane : std::min(l->far_plane, 1048576.0f);
    std::array<float, 3> &v = l->sun_vector;
    float len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    // A zero sun vector has no direction: keep the default sun.
    if (len > 0.0f && std::isfinite(len))
        v = {v[0] / len, v[1] / len, v[2] / len};
    else
        v = track_lighting{}.sun_vector;

    static const char *const defaults[SKY_FACES] = {"@sky-n.ppm", "@sky-e.ppm", "@sky-s.ppm",
                                                    "@sky-w.ppm", "@sky-u.ppm", "@sky-env.ppm"};
    for (size_t k = 0; k < SKY_FACES; ++k) {
        if (l->sky_names[k].empty()) {
            l->sky_names[k] = defaults[k];
            l->sky[k] = texture_handle(l->sky_names[k]);
        }
    }
    stage_end("Loading lighting");
}

// ---------------------------------------------------------------- objects

void track_objects_reset(track_objects *o, const char *folder) {
    *o = track_objects{};
    o->folder = folder;
    o->gate_camera.fill(-1);
}

int add_billboard(track_objects *o, const Terrain *t, float x, float y, float z, float size, float aspect,
                  const char *texture_name) {
    if (!all_finite(x, y, z, size, aspect))
        return -1;
    billboard b;
    uint8_t rgb[3];
    const char *name = texture_name ? texture_name : "";
    if (parse_tint(name, rgb, &name)) {
        b.r = rgb[0];
        b.g = rgb[1];
        b.b = rgb[2];
    }
    b.texture_name = name;
    b.texture = texture_handle(b.texture_name);
    b.x = x;
    b.z = z;
    b.rel_y = y;
    b.y = y + ground(t, x, z);
    b.size = size;
    b.aspect = aspect;
    o->billboards.push_back(std::move(b));
    return int(o->billboards.size() - 1);
}

std::vector<std::string> texture_companions(const std::string &texture, const std::string &model, const char *kind) {
    std::vector<std::string> out;
    auto from_last = [](const std::string &s, char c, const std::string &suffix) {
        size_t at = s.rfind(c);
        return (at == std::string::npos ? s : s.substr(0, at)) + suffix;
    };
    static const char *const exts[] = {".seq", ".png", ".ppm"};
    bool repeat = false;
    if (texture.size() >= 11) {
        std::string tail = texture.substr(texture.size() - 11);
        repeat = tail == "-repeat.png" || tail == "-repeat.ppm" || tail == "-repeat.seq";
    }
    if (!texture.empty())
        for (const char *e : exts)
            out.push_back(repeat ? from_last(texture, '-', std::string("_") + kind + "-repeat" + e)
                                 : from_last(texture, '.', std::string("_") + kind + e));
    if (!model.empty())
        for (const char *e : exts)
            out.push_back(from_last(model, '.', std::string("_") + kind + e));
    return out;
}

int add_statue(track_objects *o, const Terrain *t, float x, float y, float z, float angle, const char *model,
               const char *texture, const char *shape) {
    if (!all_finite(x, y, z, angle))
        return -1;
    const track_services &s = services();
    statue st;
    st.model_name = is_null_name(model) ? "" : model;
    st.texture_name = is_null_name(texture) ? "" : texture;
    st.shape_name = is_null_name(shape) ? "" : shape;
    st.x = x;
    st.z = z;
    st.rel_y = y;
    st.angle = angle;
    if (angle >= 3.25f) {
        st.facing_distance = std::exp2(std::min(angle, 127.0f));
    } else {
        st.orientation = statue_orientation(t, x, z, angle, double(angle) > -k_two_pi);
    }
    if (!st.model_name.empty() && s.load_model)
        st.model = s.load_model(st.model_name.c_str());
    if (st.model && !st.texture_name.empty()) {
        st.texture = texture_handle(st.texture_name);
        st.normal_texture = first_companion(st.texture_name, st.model_name, "norm");
        st.specular_texture = first_companion(st.texture_name, st.model_name, "spec");
    }
    if (!st.shape_name.empty() && s.load_shape) {
        st.shape = s.load_shape(st.shape_name.c_str());
        if (!st.shape)
            console("Warning: missing shape file %.900s", st.shape_name.c_str());
    }
    st.y = y + ground(t, x, z);
    o->statues.push_back(std::move(st));
    return int(o->statues.size() - 1);
}

void load_billboards(track_objects *o, const Terrain *t) {
    data_file_ptr f(data_open(folder_of(o, "billboards").c_str(), "rb"));
    if (!f)
        return;
    stage_begin("Loading billboards");
    float x, y, z, size, aspect;
    char name[1024];
    while (data_scanf(f.get(), "[ %f %f %f ] %f %f %1023s ", &x, &y, &z, &size, &aspect, name) == 6)
        (void)add_billboard(o, t, x, y, z, size, aspect, name);
    log_texture_memory("billboard");
    stage_end("Loading billboards");
}

void load_statues(track_objects *o, const Terrain *t) {
    data_file_ptr f(data_open(folder_of(o, "statues").c_str(), "rb"));
    if (!f)
        return;
    stage_begin("Loading statues");
    float x, y, z, angle;
    char model[1024], texture[1024], shape[1024];
    while (data_scanf(f.get(), "[ %f %f %f ] %f %1023s %1023s %1023s ", &x, &y, &z, &angle, model, texture, shape) ==
           7)
        (void)add_statue(o, t, x, y, z, angle, model, texture, shape);
    log_texture_memory("statue");
    stage_end("Loading statues");
}

void load_flaggers(track_objects *o, const Terrain *t, int gate_count) {
    data_file_ptr f(data_open(folder_of(o, "flaggers").c_str(), "rb"));
    if (!f)
        return;
    stage_begin("Loading flaggers");
    data_file *in = f.get();
    char names[5][1024];
    auto read_names = [in, &names](int count) {
        for (int k = 0; k < count; ++k)
            if (data_scanf(in, " %1023s ", names[k]) != 1)
                return false;
        return true;
    };
    auto flagger_billboard = [o, t](float x, float y, float z, float size, float aspect, const char *name) {
        int b = add_billboard(o, t, x, y, z, size, aspect, name);
        if (b >= 0)
            o->billboards[size_t(b)].flagger = true;
        return b;
    };
    int last_gate = std::min(gate_count, MAX_GATES) - 1;

    [&] {
        walking_flagger w;
        float size, aspect;
        if (data_scanf(in, " [ %f %f %f ] [ %f %f %f ] %f %f %f ", &w.start[0], &w.start[1], &w.start[2], &w.end[0],
                       &w.end[1], &w.end[2], &size, &aspect, &w.walk_time) != 9 ||
            !read_names(5))
            return false;
        if (all_finite(w.end[0], w.end[1], w.end[2], w.walk_time)) {
            w.billboard = flagger_billboard(w.start[0], w.start[1], w.start[2], size, aspect, names[0]);
            for (size_t k = 0; k < 5; ++k)
                w.frames[k] = names[k];
            if (w.billboard >= 0)
                o->walking_flaggers.push_back(std::move(w));
        }

        standing_flagger s;
        float x, y, z;
        if (data_scanf(in, " [ %f %f %f ] %f %f ", &x, &y, &z, &size, &aspect) != 5 || !read_names(4))
            return false;
        s.billboard = flagger_billboard(x, y, z, size, aspect, names[0]);
        for (size_t k = 0; k < 4; ++k)
            s.frames[k] = names[k];
        if (s.billboard >= 0)
            o->standing_flaggers.push_back(std::move(s));

        for (;;) {
            gate_flagger g;
            if (data_scanf(in, " [ %f %f %f ] %f %f %d %d %d %d", &x, &y, &z, &size, &aspect, &g.gates[0],
                           &g.gates[1], &g.gates[2], &g.gates[3]) != 9 ||
                !read_names(2))
                return false;
            for (int &gate : g.gates)
                gate = std::clamp(gate, -1, last_gate);
            g.billboard = flagger_billboard(x, y, z, size, aspect, names[0]);
            g.frames = {names[0], names[1]};
            if (g.billboard >= 0)
                o->gate_flaggers.push_back(std::move(g));
        }
    }();
    log_texture_memory("flagger");
    stage_end("Loading flaggers");
}

void load_cameras(track_objects *o, const Terrain *t) {
    o->gate_camera.fill(-1);
    o->cameras.clear();
    data_file_ptr f(data_open(folder_of(o, "cameras").c_str(), "rb"));
    if (!f)
        return;
    float fov = 90.0f, autofov = 0.0f;
    char line[1024];
    while (data_gets(f.get(), line, sizeof line)) {
        float x, y, z, v;
        if (std::sscanf(line, "addcamera %f %f %f", &x, &y, &z) == 3) {
            if (!all_finite(x, y, z) || o->cameras.size() >= size_t(INT16_MAX))
                continue;
            o->cameras.push_back({x, y + ground(t, x, z), z, fov, autofov});
            fov = 90.0f;
            autofov = 0.0f;
        } else if (std::sscanf(line, "fov %f", &v) == 1) {
            if (std::isfinite(v))
                fov = std::fabs(v);
        } else if (std::sscanf(line, "autofovsize %f", &v) == 1) {
            if (std::isfinite(v))
                autofov = std::fabs(v);
        } else if (std::strncmp(line, "gate", 4) == 0 && std::isspace(static_cast<unsigned char>(line[4]))) {
            const char *p = line + 4;
            for (;;) {
                while (std::isspace(static_cast<unsigned char>(*p)))
                    ++p;
                char *end = nullptr;
                long gate = std::strtol(p, &end, 10);
                if (end == p || (*end && !std::isspace(static_cast<unsigned char>(*end))))
                    break;
                p = end;
                // A gate outside the table maps nothing.
                if (gate >= 0 && gate < MAX_GATES)
                    o->gate_camera[size_t(gate)] = int16_t(o->cameras.size());
            }
        }
    }
    if (track_verbosity() > 0)
        velk_log("%d cameras found\n", int(o->cameras.size()));
}

void load_map(track_objects *o) {
    std::string path = folder_of(o, "map.png");
    data_file *f = data_open(path.c_str(), "rb");
    if (!f)
        return;
    data_close(f);
    stage_begin("Loading map");
    o->map_name = path;
    o->map = texture_handle(path);
    stage_end("Loading map");
}

bool save_billboards(const track_objects *o, const Terrain *t) {
    whole_file_writer w;
    if (w.open(folder_of(o, "billboards"))) {
        for (const billboard &b : o->billboards) {
            if (b.flagger || b.texture_name.empty())
                continue;
            w.printf("[%f %f %f] %f %f ", double(b.x), double(b.y - ground(t, b.x, b.z)), double(b.z),
                     double(b.size), double(b.aspect));
            if (b.r == 255 && b.g == 255 && b.b == 255)
                w.printf("%s\n", b.texture_name.c_str());
            else
                w.printf("#%02x%02x%02x#%s\n", b.r, b.g, b.b, b.texture_name.c_str());
        }
    }
    if (!w.commit()) {
        console("Can't open 'billboards'\n");
        return false;
    }
    return true;
}

bool save_statues(const track_objects *o, const Terrain *t) {
    whole_file_writer w;
    if (w.open(folder_of(o, "statues"))) {
        auto or_null = [](const std::string &s) { return s.empty() ? "null" : s.c_str(); };
        for (const statue &s : o->statues) {
            if (s.flagger)
                continue;
            w.printf("[%f %f %f] %f %s %s %s\n", double(s.x), double(s.y - ground(t, s.x, s.z)), double(s.z),
                     double(s.angle), or_null(s.model_name), or_null(s.texture_name), or_null(s.shape_name));
        }
    }
    if (!w.commit()) {
        console("Can't open 'statues'\n");
        return false;
    }
    return true;
}
