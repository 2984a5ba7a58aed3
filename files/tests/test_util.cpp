#include "files/tests/test_util.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <zlib.h>

namespace {

test_dirs make_dirs()
{
    test_dirs d;
    std::random_device rd;
    d.root = fs::temp_directory_path() / ("kr_files_test_" + std::to_string(rd()) + std::to_string(rd()));
    d.xdg = d.root / "xdg";
    d.home = d.xdg / "Kessrun";
    d.data = d.root / "data";
    d.scratch = d.root / "scratch";
    fs::create_directories(d.scratch);
    // Before anything asks for the user's directories, which are read once.
    setenv("XDG_DATA_HOME", d.xdg.c_str(), 1);
    setenv("KR_HOME", d.data.c_str(), 1);
    return d;
}

const test_dirs g_dirs = make_dirs();

struct remove_at_exit {
    ~remove_at_exit()
    {
        std::error_code ec;
        fs::remove_all(g_dirs.root, ec);
    }
} g_remove;

void capture(const char *text)
{
    log_lines().emplace_back(text);
}

}  // namespace

const test_dirs &dirs()
{
    return g_dirs;
}

void write_file(const fs::path &path, std::string_view bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

std::string read_all(data_file *f)
{
    std::string s;
    int c;
    while ((c = data_getc(f)) >= 0)
        s += char(c);
    return s;
}

data_file *open_text(std::string_view text)
{
    static int serial = 0;
    fs::path p = dirs().scratch / ("text" + std::to_string(serial++));
    write_file(p, text);
    return data_open(p.c_str(), "rb");
}

std::string deflate_raw(std::string_view data)
{
    z_stream zs{};
    EXPECT_EQ(deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&zs, uLong(data.size())), '\0');
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    zs.avail_in = uInt(data.size());
    zs.next_out = reinterpret_cast<Bytef *>(out.data());
    zs.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

std::string gzip(std::string_view data, const gzip_options &o)
{
    std::string g = {'\x1f', '\x8b', char(o.method), char(o.flags), 0, 0, 0, 0, 0, 3};
    if (o.flags & 4) {
        g += char(o.extra.size() & 0xFF);
        g += char(o.extra.size() >> 8);
        g += o.extra;
    }
    if (o.flags & 8)
        g += o.name + '\0';
    if (o.flags & 16)
        g += o.comment + '\0';
    if (o.flags & 2)
        g += "\x12\x34";
    g += deflate_raw(data);
    if (o.trailer) {
        uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef *>(data.data()), uInt(data.size())));
        if (o.bad_crc)
            crc ^= 1;
        auto size = uint32_t(data.size());
        for (uint32_t v : {crc, size})
            for (int i = 0; i < 4; i++)
                g += char(v >> (8 * i));
    }
    return g;
}

std::string saf(const std::vector<std::pair<std::string, std::string>> &members)
{
    std::string header, body;
    for (const auto &[name, bytes] : members) {
        header += std::to_string(bytes.size()) + " " + name + "\n";
        body += bytes;
    }
    return header + "-\n" + body;
}

std::vector<std::string> &log_lines()
{
    static std::vector<std::string> lines;
    return lines;
}

bool logged(std::string_view part)
{
    for (const std::string &l : log_lines())
        if (l.find(part) != std::string::npos)
            return true;
    return false;
}

void files_test::SetUp()
{
    for (const fs::path &p : {g_dirs.xdg, g_dirs.data}) {
        fs::remove_all(p);
        fs::create_directories(p);
    }
    fs::create_directories(g_dirs.home);
    setenv("KR_HOME", g_dirs.data.c_str(), 1);
    files_reset_for_tests();
    log_lines().clear();
    files_set_log_capture(capture);
}

void files_test::TearDown()
{
    file_index_free();
    files_set_log_capture(nullptr);
    file_index_set_tick(nullptr);
}
