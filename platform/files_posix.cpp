// The user's directories and the few file-system calls the data-file code
// needs, on POSIX.
#include "platform/platform.h"
#include "platform/platform_local.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <pwd.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace {

// Paths this long count as unavailable, as the data-file code assumes.
constexpr size_t k_max_path = 260;

struct dirs_state {
    std::mutex lock;
    bool data_found = false;
    std::string data_dir;
    bool data_ok = false;
    bool exe_found = false;
    std::string exe_dir;
    bool exe_ok = false;
};

dirs_state &dirs()
{
    static dirs_state s;
    return s;
}

bool absolute(const char *p)
{
    return p && p[0] == '/';
}

void strip_trailing_slashes(std::string &s)
{
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
}

bool find_data_dir(std::string &out)
{
    const char *xdg = std::getenv("XDG_DATA_HOME");
    if (absolute(xdg)) {
        out = xdg;
        strip_trailing_slashes(out);
        return true;
    }
    const char *home = std::getenv("HOME");
    if (!absolute(home)) {
        const passwd *pw = getpwuid(getuid());
        home = pw ? pw->pw_dir : nullptr;
    }
    if (!absolute(home))
        return false;
    out = home;
    strip_trailing_slashes(out);
    if (out == "/")
        out.clear();
    out += "/.local/share";
    return true;
}

bool find_executable_dir(std::string &out)
{
    char buf[k_max_path];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf);
    if (n <= 0 || size_t(n) >= sizeof buf)
        return false;
    out.assign(buf, size_t(n));
    size_t slash = out.rfind('/');
    if (slash == std::string::npos)
        return false;
    out.resize(slash);
    return true;
}

}  // namespace

const char *velk_local_data_dir()
{
    dirs_state &d = dirs();
    std::lock_guard<std::mutex> guard(d.lock);
    if (!d.data_found) {
        d.data_ok = find_data_dir(d.data_dir);
        d.data_found = true;
    }
    return d.data_ok ? d.data_dir.c_str() : nullptr;
}

const char *velk_executable_dir()
{
    dirs_state &d = dirs();
    std::lock_guard<std::mutex> guard(d.lock);
    if (!d.exe_found) {
        d.exe_ok = find_executable_dir(d.exe_dir);
        d.exe_found = true;
    }
    return d.exe_ok ? d.exe_dir.c_str() : nullptr;
}

void velk_dirs_reset_for_tests()
{
    dirs_state &d = dirs();
    std::lock_guard<std::mutex> guard(d.lock);
    d.data_found = false;
    d.exe_found = false;
}

bool velk_make_dirs_for(const char *path)
{
    std::string prefix(path);
    for (size_t i = 1; i < prefix.size(); i++) {
        if (prefix[i] != '/' || prefix[i - 1] == '/')
            continue;
        std::string dir = prefix.substr(0, i);
        if (mkdir(dir.c_str(), 0777) != 0 && !(errno == EEXIST && velk_is_dir(dir.c_str())))
            return false;
    }
    return true;
}

bool velk_is_dir(const char *path)
{
    struct stat st{};
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool velk_open_folder(const char *path)
{
    char prog[] = "xdg-open";
    std::string arg(path);
    char *argv[] = {prog, arg.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, prog, nullptr, nullptr, argv, environ) != 0)
        return false;
    // Reap the browser launcher in the background: the caller must not wait
    // for it, and it must not be left as a zombie.
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}
