// config.cpp -- the configuration file "@config": every setting with its
// default and range, reading key=value lines, writing them back in a fixed
// order, the graphics presets and the server history.
//
// The file is the user's whole setup, so it is never rewritten in place: a
// new file is written beside it and renamed over it only when complete.
#include "files/files_local.h"
#include "platform/platform.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char *no_yes[] = {"No", "Yes"};
constexpr const char *skill_names[] = {"Novice", "Amateur", "Expert"};
constexpr const char *slot_names[] = {"Empty", "Human", "Robot", "Robot (2 stroke)", "Robot (4 stroke)"};
constexpr const char *mesh_dims[] = {"1x1", "2x2", "4x4", "8x8", "16x16"};
// Bit 0 High, bit 1 Mid, bit 2 Low, bit 3 ExtraLow: the index is the bit set.
constexpr const char *texture_levels[] = {
    "None",          "High",          "Mid",           "Mid+High",
    "Low",           "Low+High",      "Low+Mid",       "Low+Mid+High",
    "ExtraLow",      "ExtraLow+High", "ExtraLow+Mid",  "ExtraLow+Mid+High",
    "ExtraLow+Low",  "ExtraLow+Low+High", "ExtraLow+Low+Mid", "ExtraLow+Low+Mid+High",
};
constexpr const char *texture_dims[] = {"32x32", "64x64", "128x128", "256x256", "512x512", "1024x1024"};
constexpr const char *texture_dims_new[] = {"128x128", "256x256", "512x512", "1024x1024", "2048x2048", "4096x4096"};
constexpr const char *compress_names[] = {"No", "Yes", "Always"};
constexpr const char *render_names[] = {"Software", "Hardware/Copy", "Hardware/Direct", "Shaders/Copy",
                                        "Shaders/Direct"};
constexpr const char *playback_names[] = {"Playback Only", "Race Against"};
constexpr const char *slot_labels[GATE_SLOTS] = {
    "Gate 1",  "Gate 2",  "Gate 3",  "Gate 4",  "Gate 5",  "Gate 6",  "Gate 7",  "Gate 8",  "Gate 9",  "Gate 10",
    "Gate 11", "Gate 12", "Gate 13", "Gate 14", "Gate 15", "Gate 16", "Gate 17", "Gate 18", "Gate 19", "Gate 20",
    "Gate 21", "Gate 22", "Gate 23", "Gate 24", "Gate 25", "Gate 26", "Gate 27", "Gate 28", "Gate 29", "Gate 30",
    "Gate 31", "Gate 32", "Gate 33", "Gate 34", "Gate 35", "Gate 36", "Gate 37", "Gate 38", "Gate 39", "Gate 40",
};

// The multiplayer server a fresh install connects to.
constexpr const char *default_server = "race.kessrun.net";

constexpr int RENDER_HARDWARE_COPY = 1;
constexpr int RENDER_HARDWARE_DIRECT = 2;

template <size_t N> choice_setting choice(const char *label, const char *const (&names)[N], int selected)
{
    return choice_setting{label, names, int(N), selected};
}

number_setting number(const char *label, double value, double step, double min, double max)
{
    return number_setting{label, value, step, min, max};
}

// The video mode list: two fixed entries, then the display's modes.
std::vector<const char *> video_mode_names = {"Default Fullscreen", "Windowed"};

int (*setup_set_key_hook)(const char *, const char *) = nullptr;
void (*write_setup_hook)(data_file *) = nullptr;

config_settings settings;

// ---------------------------------------------------------------- presets

// Compatibility, High FPS, Normal, High Detail. Numbers as values, choices
// by index.
struct preset_values {
    double ground_detail;
    int ground_mesh_dim;
    int ground_texture_levels;
    int ground_texture_dim_new;
    double ground_texture_update_rate;
    int ground_mipmaps;
    int texture_compress;
    int render_texture;
    int shader_flares_reflections;
    double model_detail;
    double model_texture_detail;
    double roost_density;
    double treadmark_limit;
    double terrain_resync_rate;
};

constexpr preset_values presets[PRESET_COUNT] = {
    //  detail mesh  levels              dim_new  rate mip compress render  shader model tex  roost  treads   resync
    {70, 4, 5 /* Low+High */, 3 /* 1024 */, 1, 1, 0, 0 /* Software */, 1, 50, 9, 1000, 100000, 0},
    {50, 4, 2 /* Mid */, 3 /* 1024 */, 1, 1, 1, 2 /* Hardware/Direct */, 0, 25, 7, 0, 0, 0},
    {70, 4, 5 /* Low+High */, 4 /* 2048 */, 1, 1, 1, 4 /* Shaders/Direct */, 1, 50, 9, 1000, 100000, 4},
    {90, 4, 7 /* Low+Mid+High */, 5 /* 4096 */, 16, 1, 0, 4 /* Shaders/Direct */, 1, 75, 10, 1000, 1000000, 8},
};

constexpr const char *preset_labels[PRESET_COUNT] = {
    "Current Settings: Compatibility",
    "Current Settings: High FPS",
    "Current Settings: Normal",
    "Current Settings: High Detail",
};

// ---------------------------------------------------------------- the key table

enum class kind { integer, number, choice, text, track, binding, map_scale };

struct entry {
    std::string key;
    kind k;
    void *value;
};

// Every written key in the file's order; built on first use (the settings
// record is a global, so the pointers stay valid).
const std::vector<entry> &entries()
{
    static std::vector<entry> table;
    if (!table.empty()) {
        return table;
    }
    config_settings &c = settings;
    auto add = [](const std::string &key, kind k, void *v) { table.push_back(entry{key, k, v}); };
    add("xres", kind::integer, &c.xres);
    add("yres", kind::integer, &c.yres);
    add("draw_fps", kind::integer, &c.draw_fps);
    add("draw_time", kind::integer, &c.draw_time);
    add("draw_ping", kind::integer, &c.draw_ping);
    add("draw_speed", kind::integer, &c.draw_speed);
    add("spy", kind::integer, &c.spy);
    add("track", kind::track, &c.track);
    add("record", kind::choice, &c.record);
    add("skill", kind::choice, &c.skill);
    add("minutes", kind::number, &c.minutes);
    add("laps", kind::number, &c.laps);
    char key[32];
    for (int i = 0; i < GATE_SLOTS; i++) {
        std::snprintf(key, sizeof key, "slot%02d", i);
        add(key, kind::choice, &c.slots[i]);
    }
    add("ghost_fade_distance", kind::number, &c.ghost_fade_distance);
    add("time_trial_abort", kind::choice, &c.time_trial_abort);
    // The rider and bike block is written here, between the two.
    add("video_mode", kind::choice, &c.video_mode);
    add("server_name", kind::text, &c.server_name);
    for (int i = 0; i < SERVER_HISTORY; i++) {
        std::snprintf(key, sizeof key, "server_name_hist%02d", i);
        add(key, kind::text, &c.server_history[i]);
    }
    add("ground_detail", kind::number, &c.ground_detail);
    add("ground_texture_detail", kind::number, &c.ground_texture_detail);
    add("ground_mesh_dim", kind::choice, &c.ground_mesh_dim);
    add("ground_texture_levels", kind::choice, &c.ground_texture_levels);
    add("ground_texture_dim", kind::choice, &c.ground_texture_dim);
    add("ground_texture_dim_new", kind::choice, &c.ground_texture_dim_new);
    add("ground_texture_update_rate", kind::number, &c.ground_texture_update_rate);
    add("ground_mipmaps", kind::choice, &c.ground_mipmaps);
    add("texture_compress", kind::choice, &c.texture_compress);
    add("render_texture", kind::choice, &c.render_texture);
    add("use_shader", kind::choice, &c.use_shader);
    add("roost_density", kind::number, &c.roost_density);
    add("treadmark_limit", kind::number, &c.treadmark_limit);
    add("reshade_delay", kind::number, &c.reshade_delay);
    add("terrain_resync_rate", kind::number, &c.terrain_resync_rate);
    add("lens_flare", kind::choice, &c.lens_flare);
    add("reflections", kind::choice, &c.reflections);
    add("hide_rider", kind::choice, &c.hide_rider);
    add("rigid_camera", kind::choice, &c.rigid_camera);
    add("model_detail", kind::number, &c.model_detail);
    add("model_texture_detail", kind::number, &c.model_texture_detail);
    add("fov", kind::number, &c.fov);
    add("first_person_height", kind::number, &c.first_person_height);
    add("first_person_angle", kind::number, &c.first_person_angle);
    add("first_person_gimbal", kind::number, &c.first_person_gimbal);
    add("third_person_height", kind::number, &c.third_person_height);
    add("third_person_distance", kind::number, &c.third_person_distance);
    add("volume", kind::number, &c.volume);
    add("comp_volume", kind::number, &c.comp_volume);
    add("playback_mode", kind::choice, &c.playback_mode);
    add("billboard_optimize_lookahead", kind::integer, &c.billboard_optimize_lookahead);
    add("message_lines", kind::integer, &c.message_lines);
    add("demo_backups", kind::integer, &c.demo_backups);
    add("map_scale", kind::map_scale, &c.map_scale);
    for (int i = 0; i < CONTROL_COUNT; i++) {
        add(control_key(i), kind::binding, &c.controls[i]);
    }
    return table;
}

const entry *find_entry(const char *key)
{
    for (const entry &e : entries()) {
        if (e.key == key) {
            return &e;
        }
    }
    return nullptr;
}

// "%d" without the undefined behaviour of an overflowing scanf: leading
// blanks, a sign, digits; anything after them is ignored.
bool scan_int(const char *text, int *out)
{
    errno = 0;
    char *end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (end == text || errno == ERANGE || v < INT32_MIN || v > INT32_MAX) {
        return false;
    }
    *out = int(v);
    return true;
}

// "%f", refusing what is not a finite number.
bool scan_number(const char *text, double *out)
{
    double v = 0;
    if (std::sscanf(text, "%lf", &v) != 1 || !std::isfinite(v)) {
        return false;
    }
    *out = v;
    return true;
}

void read_value(const entry &e, const char *value)
{
    switch (e.k) {
    case kind::integer: {
        int v = 0;
        if (scan_int(value, &v)) {
            *static_cast<int *>(e.value) = v;
        }
        break;
    }
    case kind::number: {
        double v = 0;
        if (scan_number(value, &v)) {
            (void)number_setting_set(static_cast<number_setting *>(e.value), v);
        }
        break;
    }
    case kind::map_scale: {
        double v = 0;
        if (scan_number(value, &v)) {
            *static_cast<double *>(e.value) = v < 0.125 ? 0.125 : v > 8 ? 8 : v;
        }
        break;
    }
    case kind::choice:
        (void)choice_setting_select(static_cast<choice_setting *>(e.value), value);
        break;
    case kind::text: {
        auto *t = static_cast<text_setting *>(e.value);
        // A history entry that does not fit is dropped rather than cut.
        if (std::strncmp(e.key.c_str(), "server_name_hist", 16) == 0 && std::strlen(value) >= 127) {
            break;
        }
        text_setting_set(t, value);
        break;
    }
    case kind::track:
        *static_cast<const char **>(e.value) = input_intern(value);
        break;
    case kind::binding: {
        auto *b = static_cast<control_binding *>(e.value);
        binding_release(b);
        binding_parse(b, value);
        break;
    }
    }
}

bool write_entry(data_file *f, const entry &e)
{
    const char *k = e.key.c_str();
    switch (e.k) {
    case kind::integer:
        return data_printf(f, "%s=%d\n", k, *static_cast<int *>(e.value)) >= 0;
    case kind::number:
        return data_printf(f, "%s=%f\n", k, static_cast<number_setting *>(e.value)->value) >= 0;
    case kind::map_scale:
        return data_printf(f, "%s=%f\n", k, *static_cast<double *>(e.value)) >= 0;
    case kind::choice:
        return data_printf(f, "%s=%s\n", k, choice_setting_name(static_cast<choice_setting *>(e.value))) >= 0;
    case kind::text:
        return data_printf(f, "%s=%s\n", k, static_cast<text_setting *>(e.value)->text) >= 0;
    case kind::track: {
        const char *t = *static_cast<const char **>(e.value);
        return data_printf(f, "%s=%s\n", k, t ? t : "") >= 0;
    }
    case kind::binding: {
        char line[1200];
        int n = binding_format(line, sizeof line, k, static_cast<control_binding *>(e.value));
        if (n <= 0) {
            return true;
        }
        if (size_t(n) >= sizeof line) {
            return false;
        }
        return data_puts(f, line) >= 0;
    }
    }
    return true;
}

text_setting text(const char *label, int max_length, const char *value)
{
    text_setting t{};
    t.label = label;
    t.max_length = max_length;
    text_setting_set(&t, value);
    return t;
}

} // namespace

// ---------------------------------------------------------------- setting objects

bool number_setting_set(number_setting *s, double value)
{
    if (!std::isfinite(value)) {
        return false;
    }
    s->value = value < s->min ? s->min : value > s->max ? s->max : value;
    return true;
}

bool choice_setting_select(choice_setting *s, const char *name)
{
    for (int i = 0; i < s->count; i++) {
        if (std::strcmp(s->names[i], name) == 0) {
            s->selected = i;
            return true;
        }
    }
    return false;
}

const char *choice_setting_name(const choice_setting *s)
{
    if (s->selected < 0 || s->selected >= s->count) {
        return "";
    }
    return s->names[s->selected];
}

void text_setting_set(text_setting *s, const char *value)
{
    int limit = s->max_length < TEXT_SETTING_SIZE - 1 ? s->max_length : TEXT_SETTING_SIZE - 1;
    size_t n = std::strlen(value);
    if (n > size_t(limit)) {
        n = size_t(limit);
    }
    std::memcpy(s->text, value, n);
    s->text[n] = 0;
    if (s->cursor > int(n)) {
        s->cursor = int(n);
    }
}

// ---------------------------------------------------------------- the settings

config_settings &config()
{
    return settings;
}

void config_set_defaults()
{
    for (control_binding &b : settings.controls) {
        binding_release(&b);
    }
    config_settings &c = settings;
    c.xres = 640;
    c.yres = 480;
    c.draw_fps = 0;
    c.draw_time = 0;
    c.draw_ping = 1;
    c.draw_speed = 0;
    c.spy = 0;
    c.billboard_optimize_lookahead = 8;
    c.message_lines = 5;
    c.demo_backups = 0;

    c.minutes = number("Minutes", 0, 1, 0, 60);
    c.laps = number("Laps", 5, 1, 0, 50);
    c.ghost_fade_distance = number("Ghost Fade Distance", 10, 1, 0, 40);
    c.ground_detail = number("Ground Geometric Detail", 70, 1, 0, 100);
    c.ground_texture_detail = number("Ground Texture Levels", 9, 1, 0, 10);
    c.ground_texture_update_rate = number("Ground Texture Update Rate", 1, 1, 1, 16);
    c.roost_density = number("Roost Density", 1000, 10, 0, 1000);
    c.treadmark_limit = number("Treadmark Limit", 100000, 1000, 0, 10000000);
    c.reshade_delay = number("Reshade Delay", 0, 1, 0, 20);
    c.terrain_resync_rate = number("Terrain Sync Rate", 0, 1, 0, 10);
    c.model_detail = number("Model Geometric Detail", 50, 1, 0, 100);
    c.model_texture_detail = number("Model Texture Detail", 9, 1, 0, 10);
    c.fov = number("Field Of View", 110, 1, 10, 170);
    c.first_person_height = number("1st Person Height", 0, 0.03125, 0, 1);
    c.first_person_angle = number("1st Person Angle", 0, 1, 0, 40);
    c.first_person_gimbal = number("1st Person Gimbal", 0, 1, 0, 100);
    c.third_person_height = number("3rd Person Height", 5, 1, 0, 20);
    c.third_person_distance = number("3rd Person Distance", 10, 1, 5, 40);
    c.volume = number("Volume", 10, 1, 0, 10);
    c.comp_volume = number("Competitor Volume", 8, 1, 0, 10);
    c.map_scale = 1.0;

    c.record = choice("Record Demo", no_yes, 0);
    c.skill = choice("Robot Skill", skill_names, 0);
    for (int i = 0; i < GATE_SLOTS; i++) {
        c.slots[i] = choice(slot_labels[i], slot_names, 0);
    }
    c.time_trial_abort = choice("Backing Up Aborts Attempt", no_yes, 1);
    c.video_mode = choice_setting{"Video Mode", video_mode_names.data(), int(video_mode_names.size()), 0};
    c.ground_mesh_dim = choice("Ground Sub-Mesh Resolution", mesh_dims, 4);
    c.ground_texture_levels = choice("Ground Texture Levels", texture_levels, 5);
    c.ground_texture_dim = choice("Ground Texture Resolution", texture_dims, 2);
    c.ground_texture_dim_new = choice("Ground Texture Resolution", texture_dims_new, 3);
    c.ground_mipmaps = choice("Enable Ground Mipmaps", no_yes, 1);
    c.texture_compress = choice("Compress Textures", compress_names, 0);
    c.render_texture = choice("Terrain Rendering Method", render_names, 0);
    c.use_shader = choice("Use Shader Programs", no_yes, 1);
    c.lens_flare = choice("Enable Lens Flares", no_yes, 1);
    c.reflections = choice("Enable Reflections", no_yes, 1);
    c.hide_rider = choice("Hide 1st Person Rider", no_yes, 0);
    c.rigid_camera = choice("Rigid 3rd person camera", no_yes, 0);
    c.playback_mode = choice("Playback Mode", playback_names, 0);

    c.server_name = text("Server", 127, default_server);
    for (text_setting &h : c.server_history) {
        h = text("", 127, "");
    }
    c.track = nullptr;

    static constexpr struct {
        const char *label;
        const char *key;
    } controls[CONTROL_COUNT] = {
        {"Throttle", "x"},        {"Front Brake", "c"},    {"Rear Brake", "v"},      {"Left", "left"},
        {"Right", "right"},       {"Clutch", "z"},         {"Upshift", "up"},        {"Downshift", "down"},
        {"Sit/Dab", "right ctrl"}, {"Back up", "b"},       {"Lean Forward", "n"},    {"Lean Backward", "m"},
        {"Pause", "pause"},       {"Step", "."},           {"Rewind", "\\"},         {"Skip", "/"},
        {"Previous Bike", "["},   {"Next Bike", "]"},      {"Chat", "t"},            {"Screenshot", "s"},
    };
    for (int i = 0; i < CONTROL_COUNT; i++) {
        control_binding &b = c.controls[i];
        b = control_binding{};
        b.label = controls[i].label;
        b.key_name = input_intern(controls[i].key);
        b.low = 0.0f;
        b.high = 1.0f;
    }
    preset_apply(0);
}

void config_set_video_modes(const char *const *mode_names, int count)
{
    video_mode_names.assign({"Default Fullscreen", "Windowed"});
    for (int i = 0; i < count; i++) {
        video_mode_names.push_back(mode_names[i]);
    }
    choice_setting &v = settings.video_mode;
    v.names = video_mode_names.data();
    v.count = int(video_mode_names.size());
    if (v.selected >= v.count) {
        v.selected = 0;
    }
}

void config_set_setup_hooks(int (*set_key)(const char *, const char *), void (*write)(data_file *))
{
    setup_set_key_hook = set_key;
    write_setup_hook = write;
}

void config_set_key(const char *key, const char *value)
{
    if (setup_set_key_hook && setup_set_key_hook(key, value)) {
        return;
    }
    if (std::strcmp(key, "use_fbo") == 0) {
        // An old switch: Yes meant drawing straight into the texture.
        if (std::strcmp(value, "Yes") == 0) {
            settings.render_texture.selected = RENDER_HARDWARE_DIRECT;
        } else if (std::strcmp(value, "No") == 0) {
            settings.render_texture.selected = RENDER_HARDWARE_COPY;
        }
        return;
    }
    if (const entry *e = find_entry(key)) {
        read_value(*e, value);
    }
}

void config_read_from(const char *name)
{
    data_file_ptr f(data_open(name, "rb"));
    if (!f) {
        return;
    }
    char line[1024];
    char *value;
    while (data_get_key_value(f.get(), line, sizeof line, &value)) {
        config_set_key(line, value);
    }
}

bool data_get_key_value(data_file *f, char *buf, int size, char **value)
{
    while (data_get_line(f, buf, size)) {
        char *eq = std::strchr(buf, '=');
        if (!eq) {
            continue;
        }
        *eq = 0;
        *value = eq + 1;
        size_t len = std::strlen(*value);
        while (len > 0 && (*value)[len - 1] == '\r') {
            (*value)[--len] = 0;
        }
        return true;
    }
    return false;
}

bool data_get_line(data_file *f, char *buf, int size)
{
    if (size < 2) {
        return false;
    }
    for (;;) {
        if (!data_gets(f, buf, size)) {
            return false;
        }
        size_t n = std::strlen(buf);
        if (n > 0 && buf[n - 1] == '\n') {
            buf[--n] = 0;
            if (n > 0 && buf[n - 1] == '\r') {
                buf[--n] = 0;
            }
            return true;
        }
        if (n < size_t(size - 1)) {
            return true;  // the last line, without a line end
        }
        // The buffer is full: whole if only the line end follows, else the
        // rest of the line is read away and the line dropped.
        bool whole = true;
        int c;
        while ((c = data_getc(f)) >= 0 && c != '\n') {
            if (c != '\r') {
                whole = false;
            }
        }
        if (whole) {
            while (n > 0 && buf[n - 1] == '\r') {
                buf[--n] = 0;
            }
            return true;
        }
    }
}

void config_read()
{
    config_read_from("@config");
}

bool config_write_to(const char *name)
{
    std::string temp = std::string(name) + ".new";
    data_file *f = data_open(temp.c_str(), "wb");
    if (!f) {
        files_log("Can't write %s\n", name);
        return false;
    }
    bool ok = true;
    bool setup_written = false;
    for (const entry &e : entries()) {
        if (!setup_written && e.key == "video_mode") {
            if (write_setup_hook) {
                write_setup_hook(f);
            }
            setup_written = true;
        }
        ok = write_entry(f, e) && ok;
    }
    ok = data_flush(f) == 0 && !std::ferror(f->file) && ok;
    data_close(f);
    if (ok) {
        ok = data_rename(temp.c_str(), name);
    }
    if (!ok) {
        files_log("Can't write %s\n", name);
        // The old file is untouched; leave no half-written one beside it.
        const char *home = home_dir();
        if (temp[0] != '@') {
            (void)velk_remove(temp.c_str());
        } else if (home) {
            (void)velk_remove((std::string(home) + temp.substr(1)).c_str());
        }
    }
    return ok;
}

bool config_write()
{
    return config_write_to("@config");
}

// ---------------------------------------------------------------- presets

void preset_apply(int preset)
{
    if (preset < 0 || preset >= PRESET_COUNT) {
        return;
    }
    const preset_values &p = presets[preset];
    config_settings &c = settings;
    c.ground_detail.value = p.ground_detail;
    c.ground_mesh_dim.selected = p.ground_mesh_dim;
    c.ground_texture_levels.selected = p.ground_texture_levels;
    c.ground_texture_dim_new.selected = p.ground_texture_dim_new;
    c.ground_texture_update_rate.value = p.ground_texture_update_rate;
    c.ground_mipmaps.selected = p.ground_mipmaps;
    c.texture_compress.selected = p.texture_compress;
    c.render_texture.selected = p.render_texture;
    c.use_shader.selected = p.shader_flares_reflections;
    c.lens_flare.selected = p.shader_flares_reflections;
    c.reflections.selected = p.shader_flares_reflections;
    c.model_detail.value = p.model_detail;
    c.model_texture_detail.value = p.model_texture_detail;
    c.roost_density.value = p.roost_density;
    c.treadmark_limit.value = p.treadmark_limit;
    c.terrain_resync_rate.value = p.terrain_resync_rate;
}

bool preset_matches(int preset)
{
    if (preset < 0 || preset >= PRESET_COUNT) {
        return false;
    }
    const preset_values &p = presets[preset];
    const config_settings &c = settings;
    return c.ground_detail.value == p.ground_detail && c.ground_mesh_dim.selected == p.ground_mesh_dim &&
           c.ground_texture_levels.selected == p.ground_texture_levels &&
           c.ground_texture_dim_new.selected == p.ground_texture_dim_new &&
           c.ground_texture_update_rate.value == p.ground_texture_update_rate &&
           c.ground_mipmaps.selected == p.ground_mipmaps && c.texture_compress.selected == p.texture_compress &&
           c.render_texture.selected == p.render_texture && c.use_shader.selected == p.shader_flares_reflections &&
           c.lens_flare.selected == p.shader_flares_reflections &&
           c.reflections.selected == p.shader_flares_reflections && c.model_detail.value == p.model_detail &&
           c.model_texture_detail.value == p.model_texture_detail && c.roost_density.value == p.roost_density &&
           c.treadmark_limit.value == p.treadmark_limit && c.terrain_resync_rate.value == p.terrain_resync_rate;
}

const char *preset_label()
{
    const char *label = "Current Settings: Custom";
    for (int i = 0; i < PRESET_COUNT; i++) {
        if (preset_matches(i)) {
            label = preset_labels[i];
        }
    }
    return label;
}

// ---------------------------------------------------------------- server history

void server_history_push()
{
    config_settings &c = settings;
    if (c.server_name.text[0] == 0 || std::strcmp(c.server_name.text, c.server_history[0].text) == 0) {
        return;
    }
    for (int i = SERVER_HISTORY - 1; i > 0; i--) {
        text_setting_set(&c.server_history[i], c.server_history[i - 1].text);
    }
    text_setting_set(&c.server_history[0], c.server_name.text);
}
