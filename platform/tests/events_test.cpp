#include <gtest/gtest.h>

#include "platform/platform.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

class events_test : public ::testing::Test {
protected:
    void SetUp() override { input_clear_events(); }
    void TearDown() override { input_clear_events(); }
};

velk_clock at(int64_t sec, int32_t usec)
{
    return velk_clock{sec, usec};
}

TEST_F(events_test, empty_queue_gives_nothing)
{
    velk_event e{};
    EXPECT_FALSE(input_next_event(&e));
    EXPECT_FALSE(input_next_event_until(at(1000000, 0), &e));
}

TEST_F(events_test, order_and_fields_are_kept)
{
    input_queue_event(VELK_KEY_BASE + 0x1c, true, at(5, 10));
    input_queue_event(VELK_MOUSE_LEFT, false, at(5, 20));
    input_queue_event(VELK_CLOSE, true, at(6, 0));
    velk_event e{};
    ASSERT_TRUE(input_next_event(&e));
    EXPECT_EQ(e.code, VELK_KEY_BASE + 0x1c);
    EXPECT_TRUE(e.pressed);
    EXPECT_EQ(e.time.sec, 5);
    EXPECT_EQ(e.time.usec, 10);
    ASSERT_TRUE(input_next_event(&e));
    EXPECT_EQ(e.code, VELK_MOUSE_LEFT);
    EXPECT_FALSE(e.pressed);
    ASSERT_TRUE(input_next_event(&e));
    EXPECT_EQ(e.code, VELK_CLOSE);
    EXPECT_FALSE(input_next_event(&e));
}

TEST_F(events_test, full_queue_drops_new_events)
{
    for (int i = 0; i < VELK_EVENT_QUEUE_SIZE; i++)
        input_queue_event(uint32_t(i), true, at(1, i));
    input_queue_event(999, true, at(2, 0));
    velk_event e{};
    for (int i = 0; i < VELK_EVENT_QUEUE_SIZE; i++) {
        ASSERT_TRUE(input_next_event(&e));
        EXPECT_EQ(e.code, uint32_t(i));
    }
    EXPECT_FALSE(input_next_event(&e));
}

TEST_F(events_test, order_survives_wrapping_around_the_ring)
{
    velk_event e{};
    uint32_t next_in = 0, next_out = 0;
    for (int i = 0; i < 100; i++)
        input_queue_event(next_in++, true, at(0, 0));
    for (int round = 0; round < 5; round++) {
        for (int i = 0; i < 150; i++)
            input_queue_event(next_in++, true, at(0, 0));
        for (int i = 0; i < 150; i++) {
            ASSERT_TRUE(input_next_event(&e));
            ASSERT_EQ(e.code, next_out++);
        }
    }
    // 100 left in the ring: 156 more fit, the rest drop.
    for (int i = 0; i < 200; i++)
        input_queue_event(next_in++, true, at(0, 0));
    int left = 0;
    while (input_next_event(&e)) {
        ASSERT_EQ(e.code, next_out++);
        left++;
    }
    EXPECT_EQ(left, VELK_EVENT_QUEUE_SIZE);
}

TEST_F(events_test, until_takes_only_events_not_later_than_the_time)
{
    input_queue_event(1, true, at(10, 500));
    input_queue_event(2, true, at(11, 0));
    velk_event e{};
    // Earlier than the first event: nothing, though the queue is not empty.
    EXPECT_FALSE(input_next_event_until(at(10, 499), &e));
    EXPECT_FALSE(input_next_event_until(at(9, 999999), &e));
    ASSERT_TRUE(input_next_event_until(at(10, 500), &e));
    EXPECT_EQ(e.code, 1u);
    EXPECT_FALSE(input_next_event_until(at(10, 999999), &e));
    ASSERT_TRUE(input_next_event_until(at(12, 0), &e));
    EXPECT_EQ(e.code, 2u);
    EXPECT_FALSE(input_next_event_until(at(12, 0), &e));
}

TEST_F(events_test, queue_now_stamps_with_the_clock)
{
    velk_clock before = velk_time();
    input_queue_event_now(VELK_MOUSE_RIGHT, true);
    velk_clock after = velk_time();
    velk_event e{};
    ASSERT_TRUE(input_next_event(&e));
    EXPECT_EQ(e.code, VELK_MOUSE_RIGHT);
    EXPECT_GE(velk_clock_seconds(e.time), velk_clock_seconds(before));
    EXPECT_LE(velk_clock_seconds(e.time), velk_clock_seconds(after));
}

TEST_F(events_test, clear_empties_the_queue)
{
    input_queue_event(1, true, at(0, 0));
    input_queue_event(2, true, at(0, 0));
    input_clear_events();
    velk_event e{};
    EXPECT_FALSE(input_next_event(&e));
    input_queue_event(3, true, at(0, 0));
    ASSERT_TRUE(input_next_event(&e));
    EXPECT_EQ(e.code, 3u);
}

TEST_F(events_test, producers_on_other_threads_lose_nothing_below_capacity)
{
    constexpr int threads = 4, per_thread = 60;
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; t++)
        pool.emplace_back([t] {
            for (int i = 0; i < per_thread; i++)
                input_queue_event(uint32_t(t * 1000 + i), true, at(0, 0));
        });
    for (std::thread &th : pool)
        th.join();
    std::vector<int> next(threads, 0);
    velk_event e{};
    int total = 0;
    while (input_next_event(&e)) {
        int t = int(e.code / 1000);
        ASSERT_LT(t, threads);
        // Each producer's events come out in the order it queued them.
        EXPECT_EQ(int(e.code % 1000), next[size_t(t)]++);
        total++;
    }
    EXPECT_EQ(total, threads * per_thread);
}

// In a child process, since it changes the process: closed standard
// descriptors come back on /dev/null (so a file opened next does not take
// their place), the first SIGINT becomes the close request and the second
// one has its default action again.
TEST(Process, ClosedStreamsReopenAndInterruptBecomesClose)
{
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        struct stat null_st = {};
        if (stat("/dev/null", &null_st) != 0)
            _exit(10);
        close(0);
        close(1);
        close(2);
        velk_prepare_process();
        for (int fd = 0; fd <= 2; ++fd) {
            struct stat st = {};
            if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || st.st_rdev != null_st.st_rdev)
                _exit(11 + fd);
        }
        std::FILE *f = std::tmpfile();
        if (!f || fileno(f) <= 2)
            _exit(14);
        input_clear_events();
        raise(SIGINT);
        velk_event e{};
        if (!input_next_event(&e) || e.code != VELK_CLOSE || !e.pressed)
            _exit(15);
        if (input_next_event(&e))
            _exit(16);
        struct sigaction now = {};
        if (sigaction(SIGINT, nullptr, &now) != 0 || now.sa_handler != SIG_DFL)
            _exit(17);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "failed check " << WEXITSTATUS(status);
}

}  // namespace
