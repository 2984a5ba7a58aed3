// Deformation: erode packet coding, the erode queue, and wheels digging ruts
// into a small flat field.

#include "track/tests/track_test_util.h"

#include <cmath>
#include <numeric>

namespace {

// 65 x 65 samples one foot apart, all at height 50: a 64 ft square of dirt
// with the committed default erosion parameters.
class flat_field : public track_test {
protected:
    void SetUp() override {
        track_test::SetUp();
        write_track(dir, 5, 1.0f, 0.0f, 100.0f, std::vector<uint16_t>(65 * 65, 32768));
        ASSERT_TRUE(terrain_load(&t, dir.c_str()));
        ground = terrain_height_at(&t, 32.0f, 32.0f);  // 32768 / 65535 * 100
        env.terrain = &t;
        env.erosion = &erosion;
    }
    void TearDown() override {
        terrain_unload(&t);
        track_test::TearDown();
    }
    double height_sum() const { return std::accumulate(t.heights.begin(), t.heights.end(), 0.0); }
    // Drives one wheel straight along -z at 20 ft/s from z0 to z1 at x,
    // pushing back on the ground, then lets the strokes reach the queue.
    void ride(float x, float z0, float z1) {
        dig_contact c;
        c.touching = true;
        c.force = {0.0f, 200.0f, -150.0f};
        c.wheel_velocity = {0.0f, 0.0f, -20.0f};
        for (float z = z0; z > z1; z -= 20.0f / 128.0f) {
            c.point = {x, 50.0f, z};
            dig_wheel(&acc, c, false, env);
            env.tic++;
        }
        c.touching = false;
        env.tic += 100;
        dig_wheel(&acc, c, false, env);
    }
    void apply_all(float level) {
        while (erosion.length > 0)
            apply_erode_queue(&erosion, &t, nullptr, level, env.tic);
    }

    Terrain t;
    float ground = 0;
    terrain_erosion erosion;
    dig_accumulator acc;
    dig_env env;
};

std::vector<uint8_t> encode(const std::vector<ErodeStroke> &strokes, float size) {
    float lo_x = 0, hi_x = 0, lo_z = 0, hi_z = 0;
    for (size_t k = 1; k < strokes.size(); ++k) {
        lo_x = std::min(lo_x, strokes[k].x - strokes[k - 1].x);
        hi_x = std::max(hi_x, strokes[k].x - strokes[k - 1].x);
        lo_z = std::min(lo_z, strokes[k].z - strokes[k - 1].z);
        hi_z = std::max(hi_z, strokes[k].z - strokes[k - 1].z);
    }
    std::vector<uint8_t> out(ERODE_PACKET_MAX);
    int n = encode_erode_packet(strokes.data(), int(strokes.size()), lo_x, hi_x, lo_z, hi_z, size, out.data());
    out.resize(size_t(n));
    return out;
}

TEST(ErodePacket, RoundTripKeepsStrokesWithinTheCoding) {
    const float size = 512.0f;
    std::vector<ErodeStroke> strokes;
    for (int k = 0; k < ERODE_PACKET_STROKES; ++k) {
        float a = std::sin(float(k)) * 0.9f, b = std::cos(float(k) * 0.7f) * 0.9f;
        strokes.push_back({100.0f + 0.8f * float(k) + 0.3f * std::sin(float(k) * 3.0f),
                           300.0f - 0.6f * float(k), a, b, k % 16});
    }
    std::vector<uint8_t> packet = encode(strokes, size);
    ASSERT_EQ(packet.size(), size_t(17 + 4 * 63));
    EXPECT_EQ(packet[0], 1);
    std::vector<ErodeStroke> back = decode_erode_packet(packet.data(), packet.size(), size);
    ASSERT_EQ(back.size(), strokes.size());
    for (size_t k = 0; k < back.size(); ++k) {
        SCOPED_TRACE(k);
        // One step byte spans under 1.5/255 ft here; errors must not grow
        // along the packet.
        EXPECT_NEAR(back[k].x, strokes[k].x, 0.01f);
        EXPECT_NEAR(back[k].z, strokes[k].z, 0.01f);
        EXPECT_NEAR(back[k].a, strokes[k].a, 2.0f / 64.0f + 1e-6f);
        EXPECT_NEAR(back[k].b, strokes[k].b, 2.0f / 64.0f + 1e-6f);
        EXPECT_EQ(back[k].intensity, strokes[k].intensity);
    }
}

TEST(ErodePacket, ExtremeValuesAndFullIntensity) {
    // a = 1 travels as code 63 (0.96875); a full accumulation of 16 samples
    // travels as 15 instead of wrapping to 0; positions clamp to the field.
    std::vector<ErodeStroke> strokes = {{-5.0f, 700.0f, 1.0f, -1.0f, 16}, {3.0f, 650.0f, 0.0f, 0.0f, 7}};
    std::vector<uint8_t> packet = encode(strokes, 512.0f);
    ASSERT_EQ(packet.size(), 21u);
    EXPECT_EQ(packet[15] >> 2, 63);
    EXPECT_EQ(packet[16] >> 2, 0);
    std::vector<ErodeStroke> back = decode_erode_packet(packet.data(), packet.size(), 512.0f);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_FLOAT_EQ(back[0].x, 0.0f);
    EXPECT_FLOAT_EQ(back[0].z, 512.0f);
    EXPECT_FLOAT_EQ(back[0].a, 0.96875f);
    EXPECT_FLOAT_EQ(back[0].b, -1.0f);
    EXPECT_EQ(back[0].intensity, 15);
    EXPECT_FLOAT_EQ(back[1].a, 0.0f);
    EXPECT_EQ(back[1].intensity, 7);
}

TEST(ErodePacket, DecodesOnlyWhatTheLengthHolds) {
    std::vector<ErodeStroke> strokes(5, ErodeStroke{10.0f, 10.0f, 0.5f, 0.5f, 3});
    std::vector<uint8_t> packet = encode(strokes, 64.0f);
    struct decode_case {
        size_t length;
        uint8_t type;
        size_t strokes;
    };
    const decode_case cases[] = {
        {16, 1, 0},               // shorter than a header
        {17, 2, 0},               // another type
        {17, 1, 1},
        {17 + 4 + 3, 1, 2},       // a partial stroke at the end is not read
        {packet.size(), 1, 5},
    };
    for (const decode_case &c : cases) {
        SCOPED_TRACE(c.length);
        std::vector<uint8_t> bytes(packet.begin(), packet.begin() + std::ptrdiff_t(c.length));
        bytes[0] = c.type;
        EXPECT_EQ(decode_erode_packet(bytes.data(), bytes.size(), 64.0f).size(), c.strokes);
    }
}

TEST_F(flat_field, FullQueueDropsStrokesAndSaysSoOnce) {
    std::vector<ErodeStroke> strokes(ERODE_PACKET_STROKES, ErodeStroke{32.0f, 32.0f, 0.0f, 0.0f, 1});
    std::vector<uint8_t> packet = encode(strokes, t.extent);
    for (int k = 0; k < ERODE_QUEUE_SIZE / ERODE_PACKET_STROKES; ++k)
        queue_erode_packet(&erosion, &t, packet.data(), packet.size());
    EXPECT_EQ(erosion.length, uint32_t(ERODE_QUEUE_SIZE));
    EXPECT_FALSE(said("Erode queue full!"));
    queue_erode_packet(&erosion, &t, packet.data(), 17);
    queue_erode_packet(&erosion, &t, packet.data(), 17);
    EXPECT_EQ(erosion.length, uint32_t(ERODE_QUEUE_SIZE));
    EXPECT_EQ(std::count(messages().begin(), messages().end(), "Erode queue full!"), 1);
    reset_erode_queue(&erosion);
    EXPECT_EQ(erosion.length, 0u);
}

TEST_F(flat_field, RutsDeepenUnderRepeatedPasses) {
    std::vector<float> depth;
    for (int pass = 0; pass < 3; ++pass) {
        ride(32.0f, 56.0f, 8.0f);
        EXPECT_GT(erosion.length, 20u) << "the strokes of a pass reach the queue";
        apply_all(100.0f);
        depth.push_back(ground - terrain_height_at(&t, 32.0f, 32.0f));
    }
    EXPECT_GT(depth[0], 0.001f);
    EXPECT_GT(depth[1], depth[0] * 1.5f);
    EXPECT_GT(depth[2], depth[1] * 1.2f);
    // Dirt is moved, not made: what left the rut lies beside and behind it.
    EXPECT_NEAR(height_sum(), double(ground) * 65 * 65, 0.01);
    float ridge = ground;
    for (float x = 28.0f; x <= 36.0f; x += 1.0f)
        ridge = std::max(ridge, terrain_height_at(&t, x, 32.0f));
    EXPECT_GT(ridge, ground + 0.005f);
    EXPECT_GT(t.change_counter, 0u);
}

TEST_F(flat_field, StrokesNearTheRiderWaitUntilThePostponementEnds) {
    ride(32.0f, 40.0f, 30.0f);
    uint32_t queued = erosion.length;
    ASSERT_GT(queued, 0u);
    const float rider[3] = {32.0f, 50.0f, 35.0f};
    apply_erode_queue(&erosion, &t, rider, 100.0f, env.tic);
    EXPECT_EQ(erosion.length, queued);
    EXPECT_FLOAT_EQ(terrain_height_at(&t, 32.0f, 35.0f), ground);
    apply_erode_queue(&erosion, &t, rider, 100.0f, env.tic + 255);
    EXPECT_EQ(erosion.length, queued);
    apply_erode_queue(&erosion, &t, rider, 100.0f, env.tic + 256);
    EXPECT_LT(erosion.length, queued);
}

TEST_F(flat_field, StrokeWithoutDirectionReshapesInPlace) {
    // a = b = 0: no deposit direction; the dirt goes back around the centre.
    std::vector<ErodeStroke> strokes = {{32.0f, 32.0f, 0.0f, 0.0f, 15}};
    std::vector<uint8_t> packet = encode(strokes, t.extent);
    queue_erode_packet(&erosion, &t, packet.data(), packet.size());
    double before = height_sum();
    apply_all(100.0f);
    for (float h : t.heights)
        ASSERT_TRUE(std::isfinite(h));
    EXPECT_LT(terrain_height_at(&t, 32.0f, 32.0f), ground);
    EXPECT_NEAR(height_sum(), before, 0.01);
}

TEST_F(flat_field, SteepDepositChangesNothing) {
    // The deposit point lies 2 ft behind on a wall 3 ft higher.
    for (int j = 0; j < 65; ++j)
        for (int i = 0; i < 65; ++i)
            if (j >= 33)
                t.heights[size_t(j) * 65 + size_t(i)] = ground + 3.0f;
    std::vector<float> before = t.heights;
    std::vector<ErodeStroke> strokes = {{32.0f, 31.5f, 0.0f, -1.0f, 15}};
    std::vector<uint8_t> packet = encode(strokes, t.extent);
    queue_erode_packet(&erosion, &t, packet.data(), packet.size());
    apply_all(100.0f);
    EXPECT_EQ(t.heights, before);
}

TEST_F(flat_field, DepthLimitStopsTheCutBelowTheBaseHeights) {
    // Full cuts at the base heights, none from 0.25 ft below them.
    ErodeParams &p = t.tile_types[0].erode;
    p.limit_count = 2;
    p.limit_depth = {0.0f, 0.25f};
    p.limit_factor1 = {1.0f, 0.0f};
    p.limit_factor2 = {1.0f, 0.0f};
    std::vector<ErodeStroke> strokes = {{32.0f, 32.0f, 0.0f, -1.0f, 15}};
    std::vector<uint8_t> packet = encode(strokes, t.extent);
    queue_erode_packet(&erosion, &t, packet.data(), packet.size());
    apply_all(100.0f);
    EXPECT_LT(terrain_height_at(&t, 32.0f, 32.0f), ground - 0.1f);

    // Elsewhere, on ground already dug 0.3 ft deep all over.
    for (float &h : t.heights)
        h -= 0.3f;
    std::vector<float> before = t.heights;
    strokes[0].x = strokes[0].z = 16.0f;
    packet = encode(strokes, t.extent);
    queue_erode_packet(&erosion, &t, packet.data(), packet.size());
    apply_all(100.0f);
    EXPECT_EQ(t.heights, before);
}

TEST_F(flat_field, IdleWheelSendsItsStrokesAfterSixtyFourTics) {
    dig_contact c;
    c.touching = true;
    c.force = {0.0f, 200.0f, -150.0f};
    c.wheel_velocity = {0.0f, 0.0f, -20.0f};
    for (int k = 0; k < 20; ++k, env.tic++) {
        c.point = {20.0f, 50.0f, 40.0f - float(k) * 0.15625f};
        dig_wheel(&acc, c, true, env);
    }
    ASSERT_EQ(acc.stroke_count, 2);  // 2 ft of travel: 2 strokes, samples pending
    ASSERT_GT(acc.count, 0);
    int pending = acc.count;
    c.touching = false;
    env.tic = acc.last_commit_tic + 64;
    dig_wheel(&acc, c, true, env);
    EXPECT_EQ(erosion.length, 0u);
    env.tic++;
    dig_wheel(&acc, c, true, env);
    ASSERT_EQ(erosion.length, 3u);
    EXPECT_EQ(acc.stroke_count, 0);
    EXPECT_EQ(acc.count, 0);
    EXPECT_EQ(erosion.ring[2].intensity, pending);
    EXPECT_NEAR(erosion.ring[0].b, -1.0f, 1e-6f);  // digs along the push, backwards
    // Pending samples with nothing buffered wait for the wheel to dig again.
    acc.count = 1;
    acc.sum_x = acc.sum_z = 20.0;
    env.tic += 1000;
    dig_wheel(&acc, c, true, env);
    EXPECT_EQ(erosion.length, 3u);
    EXPECT_EQ(acc.count, 1);
}

TEST_F(flat_field, PacketsSplitOnWideStepsAndFullBuffers) {
    std::vector<std::vector<ErodeStroke>> sent;
    struct sink {
        static void send(void *ctx, const uint8_t *p, int n) {
            static_cast<std::vector<std::vector<ErodeStroke>> *>(ctx)->push_back(
                decode_erode_packet(p, size_t(n), 64.0f));
        }
    };
    env.send = sink::send;
    env.send_ctx = &sent;
    auto stroke_at = [this](float x) {
        acc.count = 1;
        acc.sum_x = x;
        acc.sum_z = 10.0;
        commit_stroke(&acc, env);
    };
    // Two strokes 70 ft apart never share a packet.
    stroke_at(-30.0f);
    stroke_at(40.0f);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].size(), 1u);
    send_erode_packet(&acc, env);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].size(), 1u);
    EXPECT_EQ(erosion.length, 0u) << "online, nothing is queued locally";
    // The 65th stroke sends the 64 before it.
    for (int k = 0; k < 65; ++k)
        stroke_at(float(k) * 0.5f);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[2].size(), 64u);
    EXPECT_NEAR(sent[2][63].x, 31.5f, 0.01f);
    EXPECT_EQ(acc.stroke_count, 1);
}

}  // namespace
