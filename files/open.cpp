// Opening names as streams: direct paths under each search directory, then
// the index (loose files of another letter case, archive members, ".gz"
// variants); numbered backups; renames; reading a whole file; and the
// working-set and priority step after a track load.
#include "files/files_local.h"

#include "platform/platform.h"

#include <cstring>
#include <string>

namespace {

// Longest path made from a search directory and a data name, longest path
// directories are made for or a ".gz" variant is tried at, longest path that
// gets a backup. A longer path fails rather than being cut into another name.
constexpr size_t k_max_data_path = 511;
constexpr size_t k_max_path = 1023;
constexpr size_t k_max_backup_path = 1000;
constexpr int k_max_backups = 9999;
constexpr size_t k_copy_block = 65536;
constexpr size_t k_string_limit = 16777216;

bool mode_writes(const char *mode)
{
    return !std::strchr(mode, 'r') || std::strchr(mode, '+');
}

data_file *open_plain(const char *path, const char *mode, bool writable)
{
    FILE *fp = std::fopen(path, mode);
    return fp ? stream_make(fp, 0, k_loose_limit, writable, path) : nullptr;
}

data_file *open_inflated(const char *path, uint32_t offset, uint32_t limit)
{
    FILE *fp = std::fopen(path, "rb");
    if (!fp)
        return nullptr;
    data_file *f = stream_make(fp, offset, limit, false, path);
    if (f && !inflate_begin(f)) {
        data_close(f);
        return nullptr;
    }
    return f;
}

bool copy_file(const char *from, const char *to)
{
    FILE *in = std::fopen(from, "rb");
    if (!in)
        return false;
    FILE *out = std::fopen(to, "wb");
    if (!out) {
        std::fclose(in);
        return false;
    }
    std::string block(k_copy_block, '\0');
    bool ok = true;
    size_t n;
    while ((n = std::fread(block.data(), 1, block.size(), in)) > 0)
        if (std::fwrite(block.data(), 1, n, out) != n) {
            ok = false;
            break;
        }
    ok = ok && !std::ferror(in);
    std::fclose(in);
    ok = std::fclose(out) == 0 && ok;
    if (!ok)
        (void)velk_remove(to);  // a partial copy is no backup
    return ok;
}

// Copies an existing file at `path` to the first free "path.~N~".
bool make_backup(const char *path)
{
    FILE *probe = std::fopen(path, "rb");
    if (!probe)
        return true;  // nothing to keep
    std::fclose(probe);
    if (std::strlen(path) > k_max_backup_path)
        return false;
    for (int n = 1; n <= k_max_backups; n++) {
        std::string name = std::string(path) + ".~" + std::to_string(n) + "~";
        if (!velk_path_exists(name.c_str()))
            return copy_file(path, name.c_str());
    }
    return false;
}

data_file *open_path(const char *path, const char *mode, bool backup)
{
    if (mode_writes(mode)) {
        if (std::strlen(path) <= k_max_path && !velk_make_dirs_for(path))
            return nullptr;
        if (backup && !make_backup(path))
            return nullptr;
        return open_plain(path, mode, true);
    }
    // A directory opens as a stream on Linux, and then fails every read.
    if (velk_is_dir(path))
        return nullptr;
    if (data_file *f = open_plain(path, mode, false))
        return f;
    std::string gz = std::string(path) + ".gz";
    if (gz.size() > k_max_path || velk_is_dir(gz.c_str()))
        return nullptr;
    return open_inflated(gz.c_str(), 0, k_loose_limit);
}

data_file *open_indexed(const char *key)
{
    index_hit plain{}, packed{};
    bool have_plain = file_index_lookup(key, &plain);
    std::string gz_key = std::string(key) + ".gz";
    bool have_packed = file_index_lookup(gz_key.c_str(), &packed);
    if (!have_plain && !have_packed)
        return nullptr;
    bool use_packed = have_packed && (!have_plain || packed.rank < plain.rank);
    const index_hit &hit = use_packed ? packed : plain;
    // A loose file is bounded by its own end, an archive member by its size.
    uint32_t limit = hit.loose ? k_loose_limit : hit.size;
    if (use_packed)
        return open_inflated(hit.open_path, hit.offset, limit);
    FILE *fp = std::fopen(hit.open_path, "rb");
    return fp ? stream_make(fp, hit.offset, limit, false, hit.open_path) : nullptr;
}

// Home directory + the rest of an "@" name; other names unchanged. False when
// the result is too long or there is no directory to write to.
bool write_path(const char *name, std::string *out)
{
    if (name[0] != '@') {
        *out = name;
        return true;
    }
    const char *dir = search_dir(0);
    if (!dir)
        return false;
    *out = std::string(dir) + (name + 1);
    return out->size() <= k_max_data_path;
}

}  // namespace

data_file *data_open(const char *name, const char *mode)
{
    bool backup = mode[0] == '~';
    if (backup)
        mode++;
    if (name[0] != '@')
        return open_path(name, mode, backup);
    // Writes go to the first directory only: a file written further down
    // would be hidden by the copy it was meant to replace.
    bool writes = mode_writes(mode);
    for (int i = 0; const char *dir = search_dir(i); i++) {
        std::string path = std::string(dir) + (name + 1);
        if (path.size() <= k_max_data_path)
            if (data_file *f = open_path(path.c_str(), mode, backup))
                return f;
        if (writes)
            return nullptr;
    }
    return writes ? nullptr : open_indexed(name + 1);
}

bool data_rename(const char *from, const char *to)
{
    std::string source, destination;
    if (!write_path(from, &source) || !write_path(to, &destination))
        return false;
    return velk_rename(source.c_str(), destination.c_str());
}

bool open_home_in_shell()
{
    const char *home = home_dir();
    if (!home || !velk_make_dirs_for(home))
        return false;
    std::string folder(home);
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return velk_open_folder(folder.c_str());
}

char *file_to_string(const char *name)
{
    data_file_ptr f(data_open(name, "rb"));
    if (!f)
        return nullptr;
    auto *buf = static_cast<char *>(kr_malloc(k_string_limit));
    if (!buf)
        return nullptr;
    size_t n = data_read(f.get(), buf, k_string_limit);
    if (n == k_string_limit) {
        files_log("File %s too long for file_to_string\n", name);
        kr_free(buf);
        return nullptr;
    }
    buf[n] = 0;
    auto *shrunk = static_cast<char *>(kr_realloc(buf, n + 1));
    return shrunk ? shrunk : buf;
}

void working_set_range(uint32_t physical, uint32_t *low, uint32_t *high)
{
    constexpr uint32_t two_gib = 0x80000000u, one_gib = 0x40000000u, reserve = 0x2000000u;
    uint32_t t = (physical < two_gib ? physical : two_gib) - reserve;
    *high = t;
    *low = t < one_gib ? t : one_gib;
}

void tune_process_memory_with(uint64_t physical_bytes, const process_tuning_ops &ops)
{
    // A 32-bit count that saturates: on a machine with a multiple of 4 GiB a
    // count that wrapped would read as almost nothing.
    uint32_t t = physical_bytes > UINT32_MAX ? UINT32_MAX : uint32_t(physical_bytes);
    if (t < 0x4000000u) {
        files_log("Working set left alone - less than 64 MB physical memory\n");
        return;
    }
    uint32_t low = 0, high = 0;
    working_set_range(t, &low, &high);
    files_log("Setting working set range to %u - %u\n", low, high);
    files_log(ops.set_working_set(low, high) ? "Working set successfully updated\n" : "Working set update failed\n");
    files_log(ops.raise_priority() ? "Priority successfully set to high\n" : "Priority set failed\n");
}

void tune_process_memory()
{
    tune_process_memory_with(velk_physical_memory(), {velk_set_working_set, velk_raise_priority});
}
