// The monotonic clock and a sleep that wakes on time although the system
// sleep is coarse.
#include "platform/platform.h"

#include <cerrno>
#include <cmath>
#include <sched.h>
#include <time.h>

namespace {

bool reached(velk_clock now, velk_clock deadline)
{
    return now.sec > deadline.sec || (now.sec == deadline.sec && now.usec >= deadline.usec);
}

void sleep_ms(int64_t ms)
{
    timespec req{time_t(ms / 1000), long(ms % 1000) * 1000000L};
    timespec rem{};
    while (nanosleep(&req, &rem) != 0 && errno == EINTR)
        req = rem;
}

}  // namespace

velk_clock velk_time()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return velk_clock{int64_t(ts.tv_sec), int32_t(ts.tv_nsec / 1000)};
}

double velk_seconds()
{
    return velk_clock_seconds(velk_time());
}

velk_clock velk_clock_from_seconds(double s)
{
    double whole = std::floor(s);
    int64_t sec = int64_t(whole);
    int64_t usec = std::llround((s - whole) * 1e6);
    if (usec >= 1000000) {
        sec += 1;
        usec -= 1000000;
    }
    return velk_clock{sec, int32_t(usec)};
}

void velk_sleep(int64_t sec, int32_t usec)
{
    velk_clock start = velk_time();
    int64_t total_us = sec * 1000000 + usec;
    if (total_us <= 0)
        return;
    velk_clock deadline{start.sec + total_us / 1000000, start.usec + int32_t(total_us % 1000000)};
    if (deadline.usec >= 1000000) {
        deadline.sec += 1;
        deadline.usec -= 1000000;
    }
    // Wake a millisecond early and yield the rest, so the wake-up lands on
    // the right millisecond.
    int64_t ms = total_us / 1000;
    if (ms > 1)
        sleep_ms(ms - 1);
    else if (ms == 1)
        sleep_ms(1);
    while (!reached(velk_time(), deadline))
        sched_yield();
}
