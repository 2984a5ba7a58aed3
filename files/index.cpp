// The search directories and the file index: every loose file under the
// search directories and every member of the ".saf" archives found there,
// sorted by key ignoring case and then by rank, so a look-up is one binary
// search and the best copy of a key comes first.
#include "files/files_local.h"

#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr int k_max_header_line = 1023;  // characters before the "\n"

struct index_entry {
    std::string key;     // relative path or member name; what look-ups compare
    uint32_t source;     // the file to open, in files_state::sources
    uint32_t offset;
    uint32_t size;
    uint32_t rank;       // lower wins: search directory i, then archives in reading order
};

struct files_state {
    bool dirs_made = false;
    std::vector<std::string> dirs;
    bool have_home = false;
    int data_dir = -1;

    bool built = false;
    std::vector<std::string> sources;  // loose files and archives, full paths
    std::vector<index_entry> entries;
    std::vector<const char *> names;

    bool (*tick)() = nullptr;
    void (*log_capture)(const char *) = nullptr;
};

files_state &state()
{
    static files_state s;
    return s;
}

int lower(int c)
{
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

int compare_nocase(const char *a, const char *b)
{
    for (;; a++, b++) {
        int ca = lower((unsigned char)*a), cb = lower((unsigned char)*b);
        if (ca != cb || ca == 0)
            return ca - cb;
    }
}

bool ends_with_nocase(const std::string &s, const char *suffix)
{
    size_t n = std::strlen(suffix);
    return s.size() >= n && compare_nocase(s.c_str() + s.size() - n, suffix) == 0;
}

// Backslashes become "/" and each run of "/" one "/".
std::string normalise(std::string s)
{
    std::replace(s.begin(), s.end(), '\\', '/');
    s.erase(std::unique(s.begin(), s.end(), [](char a, char b) { return a == '/' && b == '/'; }), s.end());
    return s;
}

void make_dirs(files_state &st)
{
    if (st.dirs_made)
        return;
    st.dirs_made = true;
    if (const char *local = velk_local_data_dir()) {
        st.dirs.push_back(normalise(std::string(local) + "/Kessrun/"));
        st.have_home = true;
    }
    // An empty KR_HOME would make the whole file system the data directory.
    const char *kr_home = std::getenv("KR_HOME");
    if (kr_home && kr_home[0])
        st.dirs.push_back(normalise(std::string(kr_home) + "/"));
    else if (const char *exe = velk_executable_dir())
        st.dirs.push_back(normalise(std::string(exe) + "/"));
    else
        return;
    st.data_dir = int(st.dirs.size()) - 1;
}

void tick(const files_state &st)
{
    if (st.tick)
        (void)st.tick();
}

struct walk_context {
    files_state *st;
    uint32_t rank;
};

bool add_loose_file(const velk_dir_entry *e, void *context)
{
    auto *w = static_cast<walk_context *>(context);
    if (e->is_dir) {
        tick(*w->st);
        return true;
    }
    w->st->sources.emplace_back(e->path);
    uint32_t size = e->size > UINT32_MAX ? UINT32_MAX : uint32_t(e->size);
    w->st->entries.push_back({e->relative, uint32_t(w->st->sources.size() - 1), 0, size, w->rank});
    return true;
}

struct file_closer {
    void operator()(FILE *fp) const { std::fclose(fp); }
};

// Reads a ".saf" header. The archive adds its members only when the whole
// header is sound and every member lies inside the file, so a damaged or
// hostile archive adds nothing and no read can leave it.
bool read_archive(files_state &st, const std::string &path, uint32_t rank)
{
    FILE *fp = std::fopen(path.c_str(), "rb");
    if (!fp)
        return false;
    std::unique_ptr<FILE, file_closer> closer(fp);
    if (std::fseek(fp, 0, SEEK_END) != 0)
        return false;
    long total = std::ftell(fp);
    if (total < 0 || std::fseek(fp, 0, SEEK_SET) != 0)
        return false;

    struct member {
        std::string name;
        uint64_t size;
    };
    std::vector<member> members;
    uint64_t header_bytes = 0;
    char line[k_max_header_line + 1];
    for (;;) {
        int len = 0, c;
        while ((c = std::getc(fp)) != EOF && c != '\n') {
            if (len == k_max_header_line || c == 0)
                return false;  // over-long line, or a zero byte no name can hold
            line[len++] = char(c);
        }
        if (c == EOF)
            return false;  // a line cut off, or no "-" line
        line[len] = 0;
        header_bytes += uint64_t(len) + 1;
        if (len == 1 && line[0] == '-')
            break;
        char *end = nullptr;
        errno = 0;
        long size = std::strtol(line, &end, 10);
        if (end == line || errno == ERANGE || size < 0 || *end == 0 || end[1] == 0)
            return false;  // no number, a negative one, or no separator and name
        members.push_back({normalise(end + 1), uint64_t(size)});
    }
    // Offsets and sizes are 32-bit, and each member must end inside the file.
    uint64_t end_of_file = std::min<uint64_t>(uint64_t(total), UINT32_MAX);
    uint64_t offset = header_bytes;
    for (const member &m : members) {
        if (offset > end_of_file || m.size > end_of_file - offset)
            return false;
        offset += m.size;
    }
    st.sources.push_back(path);
    auto source = uint32_t(st.sources.size() - 1);
    offset = header_bytes;
    for (member &m : members) {
        st.entries.push_back({std::move(m.name), source, uint32_t(offset), uint32_t(m.size), rank});
        offset += m.size;
    }
    return true;
}

void sort_entries(files_state &st)
{
    std::sort(st.entries.begin(), st.entries.end(), [](const index_entry &a, const index_entry &b) {
        int c = compare_nocase(a.key.c_str(), b.key.c_str());
        if (c != 0)
            return c < 0;
        if (a.rank != b.rank)
            return a.rank < b.rank;
        // Keys that differ only in case, in one source: any fixed order will do.
        if (int d = std::strcmp(a.key.c_str(), b.key.c_str()))
            return d < 0;
        return a.offset < b.offset;
    });
}

void build(files_state &st)
{
    files_log("Listing directories\n");
    for (size_t i = 0; i < st.dirs.size(); i++) {
        tick(st);
        walk_context w{&st, uint32_t(i)};
        (void)velk_walk_dir(st.dirs[i].c_str(), add_loose_file, &w);
    }
    sort_entries(st);

    files_log("Listing archives\n");
    size_t loose = st.entries.size();
    auto rank = uint32_t(st.dirs.size());
    for (size_t i = 0; i < loose; i++) {
        const index_entry &e = st.entries[i];
        if (e.key.size() > 4 && ends_with_nocase(e.key, ".saf")) {
            std::string path = st.sources[e.source];  // a copy: entries grows below
            tick(st);
            (void)read_archive(st, path, rank++);
        }
    }
    sort_entries(st);

    files_log("Creating file list\n");
    st.names.reserve(st.entries.size() + 1);
    for (const index_entry &e : st.entries)
        if (st.names.empty() || compare_nocase(st.names.back(), e.key.c_str()) != 0)
            st.names.push_back(e.key.c_str());
    st.names.push_back(nullptr);
    files_log("File index complete\n");
}

void clear_index(files_state &st)
{
    st.built = false;
    std::vector<std::string>().swap(st.sources);
    std::vector<index_entry>().swap(st.entries);
    std::vector<const char *>().swap(st.names);
}

void append_cut(char *buf, size_t size, size_t *len, const char *piece)
{
    size_t n = std::strlen(piece);
    size_t room = size - 1 - *len;
    n = n < room ? n : room;
    std::memcpy(buf + *len, piece, n);
    *len += n;
    buf[*len] = 0;
}

bool find_data(const velk_dir_entry *e, void *context)
{
    bool *found = static_cast<bool *>(context);
    if (e->is_dir ? compare_nocase(e->relative, "tracks") == 0
                  : std::strlen(e->relative) > 4 && ends_with_nocase(e->relative, ".saf"))
        *found = true;
    return false;  // the top level only
}

}  // namespace

const char *search_dir(int i)
{
    files_state &st = state();
    make_dirs(st);
    return i >= 0 && size_t(i) < st.dirs.size() ? st.dirs[size_t(i)].c_str() : nullptr;
}

const char *home_dir()
{
    files_state &st = state();
    make_dirs(st);
    return st.have_home ? st.dirs[0].c_str() : nullptr;
}

bool data_present()
{
    files_state &st = state();
    make_dirs(st);
    if (st.data_dir < 0)
        return false;
    bool found = false;
    (void)velk_walk_dir(st.dirs[size_t(st.data_dir)].c_str(), find_data, &found);
    return found;
}

void file_index_set_tick(bool (*fn)())
{
    state().tick = fn;
}

const char *const *file_index_build()
{
    files_state &st = state();
    if (st.built)
        return st.names.data();
    make_dirs(st);
    try {
        build(st);
    } catch (const std::bad_alloc &) {
        clear_index(st);
        return nullptr;
    }
    st.built = true;
    return st.names.data();
}

int file_index_find(const char *key)
{
    const files_state &st = state();
    auto it = std::lower_bound(st.entries.begin(), st.entries.end(), key,
                               [](const index_entry &e, const char *k) { return compare_nocase(e.key.c_str(), k) < 0; });
    if (it == st.entries.end() || compare_nocase(it->key.c_str(), key) != 0)
        return -1;
    return int(it - st.entries.begin());
}

bool file_index_lookup(const char *key, index_hit *hit)
{
    int pos = file_index_find(key);
    if (pos < 0)
        return false;
    const files_state &st = state();
    const index_entry &e = st.entries[size_t(pos)];
    *hit = {st.sources[e.source].c_str(), e.offset, e.size, e.rank, e.rank < st.dirs.size()};
    return true;
}

bool file_index_describe(int pos, char *buf, size_t size)
{
    const files_state &st = state();
    if (pos < 0 || size_t(pos) >= st.entries.size())
        return false;
    if (size == 0)
        return true;
    const index_entry &e = st.entries[size_t(pos)];
    size_t len = 0;
    buf[0] = 0;
    append_cut(buf, size, &len, e.key.c_str());
    append_cut(buf, size, &len, " -> ");
    append_cut(buf, size, &len, st.sources[e.source].c_str());
    return true;
}

bool data_exists(const char *key)
{
    return file_index_find(key) >= 0;
}

void file_index_free()
{
    clear_index(state());
}

void files_log(const char *fmt, ...)
{
    char text[2048];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    if (void (*capture)(const char *) = state().log_capture)
        capture(text);
    else
        velk_log("%s", text);
}

void files_set_log_capture(void (*capture)(const char *text))
{
    state().log_capture = capture;
}

void files_reset_for_tests()
{
    files_state &st = state();
    clear_index(st);
    st.dirs.clear();
    st.dirs_made = false;
    st.have_home = false;
    st.data_dir = -1;
}
