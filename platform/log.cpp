// The process-wide log file: opened by the first message (a VELK_LOGFILE=
// directive or the VELK_LOGFILE variable), one time-stamped line per message,
// flushed at once so the file is complete if the program dies.
#include "platform/platform.h"
#include "platform/platform_local.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

constexpr char k_directive[] = "VELK_LOGFILE=";
constexpr size_t k_directive_len = sizeof k_directive - 1;

struct log_state {
    std::mutex lock;  // keeps a prefix and its message together across threads
    bool initialised = false;
    FILE *stream = nullptr;
};

log_state &state()
{
    static log_state s;
    return s;
}

void write_prefix(FILE *f)
{
    velk_clock c = velk_time();
    long long s = c.sec;
    std::fprintf(f, "[%lld:%02d:%02d.%02d] ", s / 3600, int((s / 60) % 60), int(s % 60), int(c.usec / 10000));
}

std::string format(const char *fmt, va_list ap)
{
    char small[512];
    va_list again;
    va_copy(again, ap);
    int n = std::vsnprintf(small, sizeof small, fmt, ap);
    std::string out;
    if (n < 0) {
        va_end(again);
        return out;
    }
    if (size_t(n) < sizeof small) {
        out.assign(small, size_t(n));
    } else {
        out.resize(size_t(n));
        std::vsnprintf(out.data(), size_t(n) + 1, fmt, again);
    }
    va_end(again);
    return out;
}

void write_line(FILE *f, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
void write_line(FILE *f, const char *fmt, ...)
{
    write_prefix(f);
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(f, fmt, ap);
    va_end(ap);
    std::fflush(f);
}

// First call: decide the path and open the stream, or leave logging off for
// good. Returns whether `msg` was a directive (and so must not be written).
bool open_log(log_state &st, const char *msg)
{
    st.initialised = true;
    const char *env_path = std::getenv("VELK_LOGFILE");
    const char *env_flags = std::getenv("VELK_LOGFILE_FLAGS");
    bool directive = std::strncmp(msg, k_directive, k_directive_len) == 0;
    const char *path = env_path;
    if (directive && !path)
        path = msg + k_directive_len;
    if (!path)
        return directive;

    const char *mode = "w";
    if (path[0] == '>' && path[1] == '>') {
        mode = "a";
        path += 2;
    } else if (path[0] == '>') {
        path += 1;
    }
    if (env_flags)
        mode = env_flags;
    st.stream = std::fopen(path, mode);
    if (st.stream) {
        write_line(st.stream, "Logfile \"%s\" opened\n", path);
        write_line(st.stream, "VELK 0.31\n");
    }
    return directive;
}

}  // namespace

// No box without a window half: the window objects define the real hook.
// Weak, because a program that never touches the window does not pull those
// objects out of the static library, and the message must still go out on
// standard error.
__attribute__((weak)) bool velk_show_system_message_box(const char *, const char *)
{
    return false;
}

void velk_log(const char *fmt, ...)
{
    log_state &st = state();
    std::lock_guard<std::mutex> guard(st.lock);
    if (!fmt) {
        st.initialised = true;
        if (st.stream)
            std::fclose(st.stream);
        st.stream = nullptr;
        return;
    }
    if (st.initialised && !st.stream)
        return;

    // Formatted first: the first message may be a directive, whose path
    // comes from the arguments.
    va_list ap;
    va_start(ap, fmt);
    std::string msg = format(fmt, ap);
    va_end(ap);
    if (!st.initialised && open_log(st, msg.c_str()))
        return;
    if (!st.stream)
        return;
    write_prefix(st.stream);
    std::fputs(msg.c_str(), st.stream);
    std::fflush(st.stream);
}

void velk_error(const char *text)
{
    velk_log("Error: %s\n", text);
}

void velk_message_box(const char *caption, const char *fmt, ...)
{
    char text[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    // Standard error always gets the text, so a run without a display still
    // tells the user what went wrong and never blocks on an invisible box.
    size_t n = std::strlen(text);
    bool has_newline = n > 0 && text[n - 1] == '\n';
    std::fprintf(stderr, "%s: %s%s", caption, text, has_newline ? "" : "\n");
    std::fflush(stderr);
    (void)velk_show_system_message_box(caption, text);
}

void velk_log_reset_for_tests()
{
    log_state &st = state();
    std::lock_guard<std::mutex> guard(st.lock);
    if (st.stream)
        std::fclose(st.stream);
    st.stream = nullptr;
    st.initialised = false;
}
