// The track list: every folder that holds a height field, with its
// description, in the order the menus show.

#include "track/track_local.h"
#include "platform/platform.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

constexpr size_t k_max_description = 1023;

bool ends_with_nocase(const std::string &s, const char *suffix) {
    size_t n = std::strlen(suffix);
    if (s.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) !=
            std::tolower(static_cast<unsigned char>(suffix[i])))
            return false;
    return true;
}

bool same_nocase(const std::string &a, const std::string &b) {
    return a.size() == b.size() && compare_descriptions(a, b) == 0;
}

// The text of "desc" up to the first NUL, LF or CR; the folder without one.
std::string read_description(const std::string &folder) {
    std::string path = "@" + folder + "/desc";
    data_file_ptr f(data_open(path.c_str(), "rb"));
    if (!f)
        return folder;
    std::string text;
    int c;
    while (text.size() < k_max_description && (c = data_getc(f.get())) > 0 && c != '\n' && c != '\r')
        text += char(c);
    return text;
}

}  // namespace

int compare_descriptions(const std::string &a, const std::string &b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        int ca = std::tolower(static_cast<unsigned char>(a[i]));
        int cb = std::tolower(static_cast<unsigned char>(b[i]));
        if (ca != cb)
            return ca - cb;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

std::vector<track_entry> scan_tracks(const char *const *names) {
    std::vector<track_entry> tracks;
    for (const char *const *p = names; p && *p; ++p) {
        std::string name(*p);
        if (!ends_with_nocase(name, "/terrain.hf") && !ends_with_nocase(name, "/terrain.hf.gz"))
            continue;
        std::string folder = name.substr(0, name.rfind('/'));
        // "terrain.hf" and "terrain.hf.gz" side by side are one track.
        bool seen = std::any_of(tracks.begin(), tracks.end(),
                                [&folder](const track_entry &e) { return same_nocase(e.folder, folder); });
        if (seen)
            continue;
        loading_tick();
        tracks.push_back({folder, read_description(folder)});
    }
    std::stable_sort(tracks.begin(), tracks.end(), [](const track_entry &a, const track_entry &b) {
        return compare_descriptions(a.description, b.description) < 0;
    });
    if (track_verbosity() > 0)
        for (const track_entry &e : tracks)
            velk_log("%s -> %s\n", e.folder.c_str(), e.description.c_str());
    return tracks;
}
