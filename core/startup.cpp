// Start-up and shutdown: the fixed sequence around the frame loop.
//
// Each subsystem adds its own steps here, where the sequence puts them, once
// it exists; steps of subsystems that are not there yet are left out.

#include "core/core_local.h"
#include "files/files.h"
#include "hash/hash.h"

#include <cctype>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

namespace {

program_state *g_program = nullptr;

// Shown on the loading screen once it exists; always logged.
void progress(const char *stage) {
    velk_log("%s\n", stage);
}

void out_of_memory() {
    if (g_program && g_program->window) {
        velk_window_close(g_program->window);
        g_program->window = nullptr;
    }
    velk_message_box("Error", "Out of virtual memory");
    std::_Exit(1);
}

bool starts_with_ci(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

bool ends_with_ci(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && starts_with_ci(s.substr(s.size() - suffix.size()), suffix);
}

// Starts the log in the home directory: every directory along its path is
// made first, then the log directive names lastlog.txt there.
void start_log() {
    const char *home = search_dir(0);
    if (!home)
        return;
    (void)velk_make_dirs_for(home);
    char directive[1024];
    std::snprintf(directive, sizeof directive, "VELK_LOGFILE=%slastlog.txt", home);
    velk_log("%s", directive);
}

void wait_until_visible(velk_window *w) {
    while (!velk_window_visible(w) && !velk_window_closed(w)) {
        velk_pump_events(w);
        velk_sleep(0, 62500);
    }
}

// Shutdown from "Closing audio" on: the part that also runs when the GL
// context is too old.
int shutdown_tail(program_state *p) {
    progress("Closing audio");
    progress("Writing config files");
    progress("Freeing memory (2)");
    progress("Freeing memory (3)");
    p->demos.clear();
    p->display_modes.clear();
    progress("Freeing file list");
    file_index_free();
    progress("Freeing memory (4)");
    progress("Deleting textures");
    progress("Deleting models");
    if (p->window) {
        velk_window_close(p->window);
        p->window = nullptr;
    }
    velk_log(nullptr);
    kr_alloc_report();
    velk_sleep(1, 0);
    return 0;
}

int shutdown(program_state *p) {
    velk_log("Deallocating bikes\n");
    velk_log("Finished deallocating bikes\n");
    progress("Freeing memory (1)");
    progress("Closing input devices");
    return shutdown_tail(p);
}

}  // namespace

void show_message_line(const char *fmt, ...) {
    char line[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    velk_log("%s\n", line);
}

int verbosity() {
    return g_program ? g_program->sw.verbosity : 0;
}

std::vector<display_mode_entry> build_display_mode_list(std::span<const velk_display_mode> modes) {
    std::vector<display_mode_entry> list;
    list.reserve(modes.size() + 2);
    list.push_back({0, 0, "Default Fullscreen"});
    list.push_back({0, 0, "Windowed"});
    for (const velk_display_mode &m : modes) {
        if (m.bpp != modes[0].bpp)
            continue;
        char name[32];
        std::snprintf(name, sizeof name, "%dx%d", m.width, m.height);
        list.push_back({m.width, m.height, name});
    }
    return list;
}

std::vector<demo_entry> build_demo_list(const char *const *names) {
    std::vector<demo_entry> demos;
    for (const char *const *n = names; n && *n; ++n) {
        std::string_view name(*n);
        if (!starts_with_ci(name, "demos/") || !ends_with_ci(name, ".krdemo"))
            continue;
        std::string_view base = name.substr(name.rfind('/') + 1);
        size_t dot = base.rfind('.');
        demos.push_back({std::string(name), std::string(base.substr(0, dot))});
    }
    return demos;
}

bool fixed_files_match(char hex_out[41]) {
    static const char *const files[] = {
        "@generic_frame.shp",  "@generic_fork_upper.shp", "@generic_fork_lower.shp", "@generic_swingarm.shp",
        "@front_wheel.shp",    "@rear_wheel.shp",         "@generic_rider.shp",
    };
    static const char *const accepted[] = {
        "ee2bd2db0c54d7bd8fc462236101c0e504397245",
        "b415fe951efef9ad61196884906535c832dbc6f4",
        "c3a9426047a7a18c235dae0208b6f22a206890a3",
    };
    ripemd160_ctx ctx;
    ripemd160_start(&ctx);
    for (const char *name : files) {
        data_file *f = data_open(name, "rb");
        if (!f)
            continue;
        uint8_t block[16384];
        size_t n;
        while ((n = data_read(f, block, sizeof block)) > 0)
            ripemd160_feed(&ctx, block, n);
        data_close(f);
    }
    uint8_t digest[20];
    ripemd160_finish(&ctx, digest);
    digest_to_hex(digest, sizeof digest, hex_out);
    for (const char *a : accepted)
        if (std::strcmp(hex_out, a) == 0)
            return true;
    return false;
}

int kessrun_main(int argc, char **argv) {
    // 1. Only "--open-home": nothing else is started.
    if (argc == 2 && std::strcmp(argv[1], "--open-home") == 0) {
        (void)open_home_in_shell();
        return 0;
    }

    static program_state program;
    program_state *p = &program;
    g_program = p;
    std::set_new_handler(out_of_memory);
    kr_set_out_of_memory_handler([](size_t) { out_of_memory(); });

    // 2. A closed standard output must not kill "--record-video".
    velk_prepare_stdout();

    // 3. Game data and the log.
    start_log();
    if (!data_present()) {
        velk_log("Can't find game data\n");
        velk_message_box("Problem starting Kessrun", "Can't find game data\n");
        velk_log(nullptr);
        return 0;
    }

    // 4.
    velk_log("Kessrun version %s\n", KESSRUN_VERSION);

    // 5.
    p->display_modes = build_display_mode_list(velk_display_modes());

    // 10. The command line.
    cmdline_result cl = parse_command_line(argc, argv, &p->sw);
    if (!cl.message.empty())
        std::fputs(cl.message.c_str(), stderr);
    if (cl.status == cmdline_status::error)
        return 1;
    if (cl.status == cmdline_status::open_home) {
        (void)open_home_in_shell();
        return 0;
    }
    startup_switches &sw = p->sw;

    // 11.
    if (!sw.connect.empty())
        sw.track.clear();

    // 12.
    velk_set_gl_request(sw.gl_major, sw.gl_minor, sw.gl_kind);

    // 13. Display mode 1 is the window; every other mode is full screen.
    const display_mode_entry &mode = p->display_modes[size_t(p->display_mode) < p->display_modes.size()
                                                          ? size_t(p->display_mode)
                                                          : 0];
    bool windowed = p->display_mode == 1;
    p->window = velk_window_open("Kessrun", windowed ? sw.width : mode.width, windowed ? sw.height : mode.height,
                                 sw.colour_bits, !windowed, 0, sw.depth_bits, 0, 0);
    if (!p->window)
        return 1;

    // 15.
    velk_gl_request gl = velk_window_gl(p->window);
    if (gl.major < 3 || (gl.major == 3 && gl.minor < 1)) {
        velk_log("OpenGL version too old\n");
        return shutdown_tail(p);
    }

    // 17. The file index, keeping the window responsive while it is built.
    velk_pump_events(p->window);
    file_index_set_tick([] {
        velk_pump_events(g_program->window);
        return !velk_window_closed(g_program->window);
    });
    const char *const *names = file_index_build();

    // 18.
    char digest[41];
    p->fixed_file_match = fixed_files_match(digest);

    // 21.
    p->demos = build_demo_list(names);
    if (sw.verbosity > 0)
        for (const demo_entry &d : p->demos)
            velk_log("%s -> %s\n", d.file.c_str(), d.display_name.c_str());

    // 25.
    wait_until_visible(p->window);

    // 27. The keys the loop handles itself.
    frame_loop &L = p->loop;
    L.keys = default_loop_keys();

    // 31. The frame loop.
    L.window = p->window;
    L.clock = platform_loop_clock();
    L.input = platform_loop_input();
    L.input.ctx = p->window;
    L.warp = sw.warp;
    L.lock_fps = sw.lock_fps;
    L.hidden_pause = sw.hidden_pause;
    L.hidden_hud = sw.hidden_hud;
    L.glfinish = sw.glfinish;
    L.editor_enabled = sw.editor;
    if (!velk_window_closed(p->window))
        frame_loop_run(&L);

    return shutdown(p);
}
