// The track list: which folders are tracks, their descriptions, the order.

#include "track/tests/track_test_util.h"

namespace {

TEST_F(track_test, TrackListFindsSortsAndDescribes) {
    const fs::path tracks = test_data_dir() / "tracks";
    write_file(tracks / "bee" / "desc", "b");
    write_file(tracks / "ace" / "desc", std::string("A\r\nsecond line", 14));
    write_file(tracks / "alpha" / "desc", std::string("a2\0hidden", 9));
    write_file(tracks / "empty" / "desc", "");
    const char *names[] = {
        "tracks/ace/terrain.hf",
        "tracks/alpha/terrain.hf.gz",
        "tracks/bee/terrain.hf",
        "tracks/bee/terrain.hf.gz",   // the same track once more
        "tracks/BEE/TERRAIN.HF",
        "tracks/nodesc/terrain.hf",
        "tracks/empty/terrain.hf",
        "tracks/nothf/terrain.hfx",
        "terrain.hf",                 // no folder
        "tracks/ace/tileinfo",
        nullptr,
    };
    std::vector<track_entry> list = scan_tracks(names);
    std::vector<std::pair<std::string, std::string>> got;
    for (const track_entry &e : list)
        got.emplace_back(e.folder, e.description);
    EXPECT_EQ(got, (std::vector<std::pair<std::string, std::string>>{
                       {"tracks/empty", ""},
                       {"tracks/ace", "A"},
                       {"tracks/alpha", "a2"},
                       {"tracks/bee", "b"},
                       {"tracks/nodesc", "tracks/nodesc"},
                   }));
    EXPECT_TRUE(scan_tracks(nullptr).empty());
}

TEST(track_list, DescriptionsCompareIgnoringCaseAndPrefixFirst) {
    EXPECT_LT(compare_descriptions("A", "a2"), 0);
    EXPECT_LT(compare_descriptions("a2", "b"), 0);
    EXPECT_EQ(compare_descriptions("Mud", "mUD"), 0);
    EXPECT_GT(compare_descriptions("track 10", "Track 1"), 0);
}

}  // namespace
