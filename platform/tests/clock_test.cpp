#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

bool not_before(velk_clock a, velk_clock b)
{
    return a.sec > b.sec || (a.sec == b.sec && a.usec >= b.usec);
}

TEST(clock, readings_are_monotonic_and_normalised)
{
    velk_clock prev = velk_time();
    for (int i = 0; i < 10000; i++) {
        velk_clock now = velk_time();
        ASSERT_GE(now.usec, 0);
        ASSERT_LT(now.usec, 1000000);
        ASSERT_TRUE(not_before(now, prev));
        prev = now;
    }
}

TEST(clock, from_seconds)
{
    struct {
        double s;
        int64_t sec;
        int32_t usec;
    } cases[] = {
        {0.0, 0, 0},          {1.5, 1, 500000},          {2.9999999, 3, 0}, {-0.25, -1, 750000},
        {12345.000001, 12345, 1}, {1e10 + 0.5, 10000000000, 500000},
    };
    for (const auto &c : cases) {
        velk_clock r = velk_clock_from_seconds(c.s);
        EXPECT_EQ(r.sec, c.sec) << c.s;
        EXPECT_EQ(r.usec, c.usec) << c.s;
    }
}

TEST(clock, sleep_does_not_wake_before_deadline)
{
    const int32_t durations_us[] = {0, 1, 500, 999, 1000, 1500, 2000, 25000, 250000};
    for (int32_t d : durations_us) {
        velk_clock start = velk_time();
        velk_sleep(0, d);
        velk_clock end = velk_time();
        int64_t deadline_us = start.usec + int64_t(d);
        velk_clock deadline{start.sec + deadline_us / 1000000, int32_t(deadline_us % 1000000)};
        EXPECT_TRUE(not_before(end, deadline)) << d << " us";
    }
}

TEST(clock, sleep_with_whole_seconds_and_excess_microseconds)
{
    velk_clock start = velk_time();
    velk_sleep(0, 1100000);
    velk_clock end = velk_time();
    int64_t deadline_us = start.usec + 1100000;
    velk_clock deadline{start.sec + deadline_us / 1000000, int32_t(deadline_us % 1000000)};
    EXPECT_TRUE(not_before(end, deadline));
}

}  // namespace
