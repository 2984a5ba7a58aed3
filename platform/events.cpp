// The time-stamped input event queue: a fixed ring under a mutex, filled by
// the window layer and the devices, emptied by the frame loop.
#include "platform/platform.h"
#include "platform/platform_local.h"

#include <array>
#include <mutex>

namespace {

struct event_queue {
    std::mutex lock;
    std::array<velk_event, VELK_EVENT_QUEUE_SIZE> ring{};
    int head = 0;
    int count = 0;
};

event_queue &queue()
{
    static event_queue q;
    return q;
}

bool not_later(velk_clock t, velk_clock until)
{
    return t.sec < until.sec || (t.sec == until.sec && t.usec <= until.usec);
}

bool take(velk_event *out, const velk_clock *until)
{
    // A signal handler may not take the lock: the interrupt is queued here.
    if (velk_take_interrupt())
        input_queue_event_now(VELK_CLOSE, true);
    event_queue &q = queue();
    std::lock_guard<std::mutex> guard(q.lock);
    if (q.count == 0)
        return false;
    const velk_event &e = q.ring[size_t(q.head)];
    if (until && !not_later(e.time, *until))
        return false;
    *out = e;
    q.head = (q.head + 1) % VELK_EVENT_QUEUE_SIZE;
    q.count--;
    return true;
}

}  // namespace

void input_queue_event(uint32_t code, bool pressed, velk_clock time)
{
    event_queue &q = queue();
    std::lock_guard<std::mutex> guard(q.lock);
    if (q.count == VELK_EVENT_QUEUE_SIZE)
        return;
    q.ring[size_t((q.head + q.count) % VELK_EVENT_QUEUE_SIZE)] = velk_event{code, pressed, time};
    q.count++;
}

void input_queue_event_now(uint32_t code, bool pressed)
{
    input_queue_event(code, pressed, velk_time());
}

bool input_next_event(velk_event *out)
{
    return take(out, nullptr);
}

bool input_next_event_until(velk_clock until, velk_event *out)
{
    return take(out, &until);
}

void input_clear_events()
{
    event_queue &q = queue();
    std::lock_guard<std::mutex> guard(q.lock);
    q.head = 0;
    q.count = 0;
}
