// Directory walk and the file-system calls of the data-file code, on POSIX:
// rename, remove, physical memory and process priority.
#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace {

struct dir_id {
    dev_t dev;
    ino_t ino;
};

struct walk_state {
    velk_walk_fn fn;
    void *context;
    size_t relative_start;       // where the part below the root begins in a path
    std::vector<dir_id> open;    // the directories being walked, root first
};

bool being_walked(const walk_state &w, const struct stat &st)
{
    for (const dir_id &d : w.open)
        if (d.dev == st.st_dev && d.ino == st.st_ino)
            return true;
    return false;
}

// `path` ends with "/".
void walk(walk_state &w, std::string &path)
{
    DIR *dir = opendir(path.c_str());
    if (!dir)
        return;
    size_t base = path.size();
    while (const dirent *e = readdir(dir)) {
        const char *name = e->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        path.resize(base);
        path += name;
        struct stat st{};
        if (stat(path.c_str(), &st) != 0)
            continue;  // unreadable status, or a dangling link
        velk_dir_entry entry{path.c_str(), path.c_str() + w.relative_start, 0, false};
        if (S_ISDIR(st.st_mode)) {
            if (being_walked(w, st))
                continue;  // a link back up the tree
            entry.is_dir = true;
            if (!w.fn(&entry, w.context))
                continue;
            w.open.push_back({st.st_dev, st.st_ino});
            path += '/';
            walk(w, path);
            w.open.pop_back();
        } else if (S_ISREG(st.st_mode)) {
            // Pipes, sockets and devices are not data: opening one could block.
            entry.size = uint64_t(st.st_size);
            (void)w.fn(&entry, w.context);
        }
    }
    closedir(dir);
    path.resize(base);
}

}  // namespace

bool velk_walk_dir(const char *root, velk_walk_fn fn, void *context)
{
    struct stat st{};
    if (!root || !root[0] || stat(root, &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    std::string path(root);
    if (path.back() != '/')
        path += '/';
    walk_state w{fn, context, path.size(), {}};
    w.open.push_back({st.st_dev, st.st_ino});
    walk(w, path);
    return true;
}

bool velk_path_exists(const char *path)
{
    struct stat st{};
    return lstat(path, &st) == 0;
}

bool velk_rename(const char *from, const char *to)
{
    // rename(2) replaces the destination atomically: it is never missing.
    return std::rename(from, to) == 0;
}

bool velk_remove(const char *path)
{
    return unlink(path) == 0;
}

uint64_t velk_physical_memory()
{
    long pages = sysconf(_SC_PHYS_PAGES);
    long page_size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0)
        return 0;
    return uint64_t(pages) * uint64_t(page_size);
}

bool velk_set_working_set(uint64_t, uint64_t)
{
    return false;
}

bool velk_raise_priority()
{
    return setpriority(PRIO_PROCESS, 0, -10) == 0;
}
