// "timing_gates": reading, its errors and bounds, the starting-gate pieces,
// and writing it back.

#include "race/tests/race_test_util.h"

#include "track/track.h"

#include <cmath>
#include <fstream>
#include <iterator>

namespace {

constexpr double k_pi = 3.14159265358979323846;

const char *k_laps = "firstlap:\n0 1 2 \nnormallap:\n0 1 2\n";
const char *k_three_checkpoints =
    "checkpoints:\n"
    "10.0 [1 2 3] [0 0 -1]\n"
    "12.5 [ 4 5 6 ] [ 1 0 0 ]\n"
    "8 [7 8 9] [0 0 1]\n";

class gates_file : public race_test {
protected:
    bool read(std::string_view text) {
        write_text(dir / "timing_gates", text);
        track_objects_reset(&objects, dir.c_str());
        return read_timing(&rt, dir.c_str(), &objects, nullptr);
    }
    race_timing rt;
    track_objects objects;
};

TEST_F(gates_file, ReadsSectionsAndClampsEntries) {
    // Two checkpoints: -5 becomes 0, 100003 becomes 100001 (marked, and so
    // not counting).
    ASSERT_TRUE(read("version2\ncheckpoints:\n5 [0 0 0] [0 0 -1]\n6 [10 0 0] [1 0 0]\n"
                     "firstlap:\n-5 0 1 100003\nnormallap:\n1 0 1 7\n"));
    EXPECT_TRUE(rt.valid);
    ASSERT_EQ(rt.checkpoints.size(), 2u);
    EXPECT_FLOAT_EQ(rt.checkpoints[1].radius, 6.0f);
    EXPECT_FLOAT_EQ(rt.checkpoints[1].x, 10.0f);
    EXPECT_FLOAT_EQ(rt.checkpoints[1].nx, 1.0f);
    EXPECT_EQ(rt.first_lap, 4);
    EXPECT_EQ(rt.normal_lap, 4);
    EXPECT_EQ(rt.sequence, (std::vector<int32_t>{0, 0, 1, 100001, 1, 0, 1, 1}));
    EXPECT_EQ(rt.counting_first, 3);
    EXPECT_EQ(rt.counting_normal, 4);
    EXPECT_TRUE(rt.gates.empty());
    EXPECT_TRUE(objects.statues.empty());
    EXPECT_TRUE(logged_line("Found 2 timing gates, first lap has 4 gates, normal lap has 4"));
    // Gate indices past the first lap wrap through the normal lap.
    EXPECT_EQ(gate_entry(rt, 3), 100001);
    EXPECT_EQ(gate_entry(rt, 4 + 4 * 7 + 2), 1);
    EXPECT_FLOAT_EQ(gate_checkpoint(rt, 3).x, 10.0f);
    EXPECT_TRUE(is_finish_gate(rt, 3));
    EXPECT_TRUE(is_finish_gate(rt, 7));
    EXPECT_FALSE(is_finish_gate(rt, 6));
    EXPECT_EQ(finish_gate(rt, 3), 11);
}

struct failure_case {
    const char *what;
    std::string text;
    const char *log;  // null: nothing logged
    size_t pieces;
};

TEST_F(gates_file, FailuresLeaveNoTiming) {
    std::string gate = "startinggate:\n[1 2 3] 0.5\n";
    const failure_case cases[] = {
        {"no checkpoints header", gate + "firstlap:\n0 1 2\n", "Error reading starting gate", 1},
        {"a piece without a heading ends the section", gate + "[70 5 20]\n" + k_three_checkpoints + k_laps,
         "Error reading starting gate", 1},
        {"no firstlap header", gate + k_three_checkpoints + "normallap:\n0 1 2\n", "Error reading checkpoints", 1},
        {"no normallap header", std::string(k_three_checkpoints) + "firstlap:\n0 1 2\n", "Error reading firstlap", 0},
        {"short first lap", std::string(k_three_checkpoints) + "firstlap:\n0 1\nnormallap:\n0 1 2\n",
         "Timing gate error: lap length must be at least 3", 0},
        {"too few counting gates", std::string(k_three_checkpoints) + "firstlap:\n0 1 2\nnormallap:\n0 100001 2\n",
         "Timing gate error: lap length must be at least 3", 0},
        {"no checkpoints", gate + "checkpoints:\nfirstlap:\n0 1 2\nnormallap:\n0 1 2\n",
         "Timing gate error: lap length must be at least 3", 1},
        {"empty file", "", "Error reading starting gate", 0},
    };
    for (const failure_case &c : cases) {
        SCOPED_TRACE(c.what);
        logged().clear();
        EXPECT_FALSE(read(c.text));
        EXPECT_FALSE(rt.valid);
        EXPECT_TRUE(rt.checkpoints.empty());
        EXPECT_EQ(rt.first_lap + rt.normal_lap, 0);
        EXPECT_EQ(completed_laps(rt, race_rider{}), 0);
        EXPECT_TRUE(logged_line(c.log));
        EXPECT_EQ(rt.gates.size(), c.pieces) << "starting-gate pieces are kept";
        EXPECT_EQ(objects.statues.size(), c.pieces);
    }
    logged().clear();
    fs::remove(dir / "timing_gates");
    EXPECT_FALSE(read_timing(&rt, dir.c_str(), &objects, nullptr));
    EXPECT_TRUE(logged().empty());
}

TEST_F(gates_file, StartingGatePiecesTakeDefaultNamesAndStandBack) {
    ASSERT_TRUE(read(std::string("startinggate:\n"
                                 "[10 5 20] 0\n"
                                 "  [ 30 5 20 ] 1.5707963 @gate.jm\n"
                                 "[50 5 20] 7.0 @a.jm @b.ppm null\n") +
                     k_three_checkpoints + k_laps));
    ASSERT_EQ(rt.gates.size(), 3u);
    EXPECT_EQ(rt.gates[0].model, "@startgate.jm");
    EXPECT_EQ(rt.gates[0].texture, "@startgate.ppm");
    EXPECT_EQ(rt.gates[0].shape, "@startgate.shp");
    EXPECT_EQ(rt.gates[1].model, "@gate.jm");
    EXPECT_EQ(rt.gates[1].texture, "@startgate.ppm");
    EXPECT_EQ(rt.gates[1].shape, "@startgate.shp");
    EXPECT_EQ(rt.gates[2].shape, "");
    EXPECT_NEAR(rt.gates[2].heading, 7.0 - 2.0 * k_pi, 1e-5);
    ASSERT_EQ(objects.statues.size(), 3u);
    // 3 ft back along the heading: x - 3 sin h, z - 3 cos h; y absolute.
    EXPECT_NEAR(objects.statues[0].x, 10.0f, 1e-5f);
    EXPECT_NEAR(objects.statues[0].z, 17.0f, 1e-5f);
    EXPECT_NEAR(objects.statues[1].x, 27.0f, 1e-5f);
    EXPECT_NEAR(objects.statues[1].z, 20.0f, 1e-4f);
    EXPECT_FLOAT_EQ(objects.statues[0].y, 5.0f);
    EXPECT_EQ(objects.statues[2].model_name, "@a.jm");
    EXPECT_EQ(objects.statues[2].shape_name, "");
    EXPECT_EQ(rt.gates[1].object, 1);
}

TEST_F(gates_file, CountsAreBoundedByTheTables) {
    std::string text = "startinggate:\n";
    for (int k = 0; k < 200; ++k)
        text += "[" + std::to_string(k) + " 0 0] 0\n";
    text += "checkpoints:\n";
    for (int k = 0; k < 3; ++k)
        text += "5 [0 0 0] [0 0 1]\n";
    text += "firstlap:\n";
    for (int k = 0; k < 1500; ++k)
        text += "1 ";
    text += "\nnormallap:\n0 1 2 999999999999 2147483648\n";
    ASSERT_TRUE(read(text));
    EXPECT_EQ(rt.gates.size(), size_t(MAX_STARTING_GATES));
    EXPECT_EQ(objects.statues.size(), size_t(MAX_STARTING_GATES));
    EXPECT_EQ(rt.first_lap, MAX_LAP_ENTRIES);
    EXPECT_EQ(rt.normal_lap, 5);
    EXPECT_EQ(rt.sequence.back(), GATE_NO_LEARN + 2) << "huge entries are marked and clamped";

    // More checkpoints than the table holds: the reading stops at 1024 and
    // the next record is not the "firstlap:" header.
    text = "checkpoints:\n";
    for (int k = 0; k < MAX_CHECKPOINTS + 1; ++k)
        text += "5 [0 0 0] [0 0 1]\n";
    text += k_laps;
    EXPECT_FALSE(read(text));
    EXPECT_TRUE(logged_line("Error reading checkpoints"));
}

TEST_F(gates_file, WriteReadsBackAndMarksLargeFiles) {
    for (int count : {20, 200}) {
        SCOPED_TRACE(count);
        race_timing w;
        for (int k = 0; k < count; ++k)
            w.checkpoints.push_back({float(k), 1.5f, -2.0f, 0.0f, 0.0f, 1.0f, 7.25f});
        w.sequence = {0, 1, 2, 100003, 4, 5, 6, 7};
        w.first_lap = 4;
        w.normal_lap = 4;
        starting_gate plain;
        plain.x = 1, plain.y = 2, plain.z = 3, plain.heading = 0.25f;
        plain.model = "@startgate.jm", plain.texture = "@startgate.ppm", plain.shape = "@startgate.shp";
        plain.object = 0;
        starting_gate own = plain;
        own.model = "@own.jm", own.texture = "", own.shape = "@own.shp";
        w.gates = {plain, own};
        ASSERT_TRUE(write_timing(w, dir.c_str()));
        std::string text;
        {
            std::ifstream in(dir / "timing_gates");
            text.assign(std::istreambuf_iterator<char>(in), {});
        }
        EXPECT_EQ(text.rfind("version2\n", 0) == 0, count > 254) << text.substr(0, 40);
        EXPECT_NE(text.find("[1.000000 2.000000 3.000000] 0.250000\n"), std::string::npos);
        EXPECT_NE(text.find(" @own.jm null @own.shp\n"), std::string::npos);
        EXPECT_NE(text.find("firstlap:\n0 1 2 100003 \nnormallap:\n4 5 6 7 \n"), std::string::npos);

        track_objects_reset(&objects, dir.c_str());
        ASSERT_TRUE(read_timing(&rt, dir.c_str(), &objects, nullptr));
        ASSERT_EQ(rt.checkpoints.size(), size_t(count));
        EXPECT_FLOAT_EQ(rt.checkpoints[size_t(count) - 1].x, float(count - 1));
        EXPECT_FLOAT_EQ(rt.checkpoints[3].radius, 7.25f);
        EXPECT_EQ(rt.sequence, w.sequence);
        ASSERT_EQ(rt.gates.size(), 2u);
        EXPECT_EQ(rt.gates[1].model, "@own.jm");
        EXPECT_EQ(rt.gates[1].texture, "");
    }
}

TEST_F(gates_file, UnwritableFolderSaysSo) {
    write_text(dir / "file", "x");
    race_timing w = oval_timing();
    EXPECT_FALSE(write_timing(w, (dir / "file").c_str()));
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0], "Can't open 'timing_gates'");
}

TEST_F(gates_file, ReadsTheGeneratedStarterTracks) {
    for (const char *name : {"practice", "motocross", "supercross"}) {
        SCOPED_TRACE(name);
        fs::path folder = fs::path(KR_DATA_DIR) / "tracks" / name;
        // the project's own output: missing means the build is broken
        ASSERT_TRUE(fs::exists(folder / "timing_gates")) << "no generated data at " << folder;
        track_objects_reset(&objects, folder.c_str());
        ASSERT_TRUE(read_timing(&rt, folder.c_str(), &objects, nullptr));
        EXPECT_TRUE(rt.valid);
        EXPECT_GE(rt.first_lap, 3);
        EXPECT_EQ(rt.first_lap, rt.normal_lap);
        EXPECT_EQ(objects.statues.size(), rt.gates.size());
        if (std::string_view(name) == "motocross") {
            EXPECT_FALSE(rt.gates.empty());
        }
    }
}

}  // namespace
