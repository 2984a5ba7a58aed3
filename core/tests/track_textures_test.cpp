// Runs the built program in a window (Xvfb in the test run) on a copy of the
// motocross starter track with ground decals, and looks at the frames it
// records: the textures a track file names reach the drawing.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string read_text(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

struct frame {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

// The last of the "P6" frames that "--record-video" writes one after another.
frame last_frame(const std::string &video) {
    frame f;
    size_t pos = 0;
    while (pos < video.size()) {
        int w = 0, h = 0, n = 0;
        if (std::sscanf(video.c_str() + pos, "P6\n%d %d\n255\n%n", &w, &h, &n) != 2 || n <= 0 || w <= 0 || h <= 0)
            break;
        size_t bytes = size_t(w) * size_t(h) * 3;
        if (pos + size_t(n) + bytes > video.size())
            break;
        f.width = w;
        f.height = h;
        f.rgb.assign(video.begin() + std::ptrdiff_t(pos) + n, video.begin() + std::ptrdiff_t(pos + size_t(n) + bytes));
        pos += size_t(n) + bytes;
    }
    return f;
}

class TrackTextures : public ::testing::Test {
protected:
    void SetUp() override {
        const char *display = std::getenv("DISPLAY");
        if (!display || !*display)
            GTEST_SKIP() << "no display";
        root = fs::temp_directory_path() /
               ("kessrun_textures_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
        fs::remove_all(root);
        // A copy of the starter track in the home directory, with decals.
        track = root / "xdg" / "Kessrun" / "tracks" / "decaltest";
        fs::create_directories(track);
        fs::path starter = fs::path(KR_DATA_DIR) / "tracks" / "motocross";
        ASSERT_TRUE(fs::exists(starter / "terrain.hf")) << "the build writes the starter tracks";
        for (const fs::directory_entry &e : fs::directory_iterator(starter))
            fs::copy_file(e.path(), track / e.path().filename());
        std::ofstream(track / "desc") << "Decal Test\n";
        // A red and white chequer, 64x64.
        std::ofstream ppm(track / "chequer.ppm", std::ios::binary);
        ppm << "P6\n64 64\n255\n";
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                bool red = (x / 16 + y / 16) % 2 != 0;
                const char px[3] = {char(red ? 230 : 250), char(red ? 20 : 250), char(red ? 20 : 250)};
                ppm.write(px, 3);
            }
        ppm.close();
        // The first decal lies on the track just ahead of the first gate.
        std::ofstream(track / "decals") << "[344 207] 0 14 1 @tracks/decaltest/chequer.ppm\n"
                                           "[345 190] 0.5 8 1 @tracks/decaltest/missing.png\n";
    }
    void TearDown() override {
        if (!root.empty())
            fs::remove_all(root);
    }

    fs::path root, track;
};

TEST_F(TrackTextures, DecalAheadOfTheGridIsDrawnAndAMissingOneIsReported) {
    fs::path video = root / "video.ppm";
    std::string cmd = "env -u VELK_LOGFILE -u VELK_LOGFILE_FLAGS KR_HOME='" KR_DATA_DIR "' XDG_DATA_HOME='" +
                      (root / "xdg").string() + "' '" KESSRUN_EXE "' --track decaltest --lineup 1 --debug" +
                      " --width 320 --height 200 --quit-after 0.05 --record-video >'" + video.string() +
                      "' 2>/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);

    std::string log = read_text(root / "xdg" / "Kessrun" / "lastlog.txt");
    EXPECT_NE(log.find("Can't open texture \"@tracks/decaltest/missing.png\""), std::string::npos);
    EXPECT_EQ(log.find("Can't open texture \"@tracks/decaltest/chequer.ppm\""), std::string::npos);
    EXPECT_NE(log.find(" MB texture memory used\n"), std::string::npos);

    frame f = last_frame(read_text(video));
    ASSERT_GT(f.width, 0) << "no frame recorded";
    // The ground holds no red of its own: red pixels are the decal's.
    int red = 0;
    for (size_t p = 0; p + 2 < f.rgb.size(); p += 3)
        if (f.rgb[p] > 170 && f.rgb[p + 1] < 90 && f.rgb[p + 2] < 90)
            ++red;
    EXPECT_GT(red, f.width * f.height / 200) << f.width << "x" << f.height;
}

}  // namespace
