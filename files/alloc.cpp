// The checked allocator. With KR_CHECK_ALLOC > 0 (read once, on the first
// call) every live block is recorded with a serial number and its size, so
// frees of unknown addresses are caught and leaks reported at exit; freed
// blocks are zeroed so a use after free shows. Otherwise these are the plain
// allocation functions.
#include "files/files_local.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

constexpr int k_max_tracked = 0x100000;

struct allocation {
    void *block;
    int serial;
    size_t size;
};

struct checker {
    std::mutex lock;
    std::atomic<int> state{-1};      // -1 undecided, 0 off, 1 on
    allocation *table = nullptr;     // k_max_tracked entries, plain malloc
    int live = 0;
    int next_serial = 0;
    void (*out_of_memory)(size_t) = nullptr;
};

checker &check()
{
    static checker c;
    return c;
}

bool checking()
{
    checker &c = check();
    int s = c.state.load(std::memory_order_acquire);
    if (s >= 0)
        return s == 1;
    std::lock_guard<std::mutex> guard(c.lock);
    if (c.state.load() < 0) {
        const char *env = std::getenv("KR_CHECK_ALLOC");
        bool on = env && std::strtol(env, nullptr, 10) > 0;
        if (on && !c.table)
            c.table = static_cast<allocation *>(std::malloc(sizeof(allocation) * k_max_tracked));
        c.state.store(on && c.table ? 1 : 0, std::memory_order_release);
    }
    return c.state.load() == 1;
}

// Newest first: most frees are of recent blocks. Called with the lock held.
int find(const checker &c, const void *block)
{
    for (int i = c.live - 1; i >= 0; i--)
        if (c.table[i].block == block)
            return i;
    return -1;
}

void remove_at(checker &c, int i)
{
    std::memmove(c.table + i, c.table + i + 1, sizeof(allocation) * size_t(c.live - i - 1));
    c.live--;
}

// Called with the lock held.
void record(checker &c, void *block, size_t size)
{
    if (c.state.load() != 1)
        return;
    if (c.live == k_max_tracked) {
        std::fputs("Too many allocations to check!\n", stderr);
        c.state.store(0);
        return;
    }
    c.table[c.live++] = {block, c.next_serial++, size};
}

void *failed(size_t size)
{
    void (*handler)(size_t) = check().out_of_memory;
    if (handler)
        handler(size);
    return nullptr;
}

}  // namespace

void *kr_malloc(size_t size)
{
    // A zero-byte request still gets a block of its own, so null always means failure.
    void *p = std::malloc(size ? size : 1);
    if (!p)
        return failed(size);
    if (checking()) {
        checker &c = check();
        std::lock_guard<std::mutex> guard(c.lock);
        record(c, p, size);
    }
    return p;
}

void *kr_calloc(size_t count, size_t size)
{
    void *p = count && size ? std::calloc(count, size) : std::calloc(1, 1);
    if (!p)
        return failed(count * size);
    if (checking()) {
        checker &c = check();
        std::lock_guard<std::mutex> guard(c.lock);
        record(c, p, count * size);
    }
    return p;
}

void *kr_realloc(void *block, size_t size)
{
    if (!block)
        return kr_malloc(size);
    if (!checking()) {
        void *p = std::realloc(block, size ? size : 1);
        return p ? p : failed(size);
    }
    checker &c = check();
    void *p = nullptr;
    {
        std::lock_guard<std::mutex> guard(c.lock);
        int i = c.state.load() == 1 ? find(c, block) : -2;
        if (i == -1) {
            std::fprintf(stderr, "Allocation not found for %p!\n", block);
            return nullptr;
        }
        p = std::realloc(block, size ? size : 1);
        if (p && i >= 0) {
            remove_at(c, i);
            record(c, p, size);
        }
    }
    // On failure the old block stays, and stays recorded. The handler runs
    // outside the lock: it may free memory itself.
    return p ? p : failed(size);
}

void kr_free(void *block)
{
    if (!block)
        return;
    if (!checking()) {
        std::free(block);
        return;
    }
    checker &c = check();
    std::lock_guard<std::mutex> guard(c.lock);
    if (c.state.load() != 1) {
        std::free(block);  // checking was given up since
        return;
    }
    int i = find(c, block);
    if (i < 0) {
        std::fprintf(stderr, "Allocation not found for %p!\n", block);
        return;
    }
    std::memset(block, 0, c.table[i].size);
    std::free(block);
    remove_at(c, i);
}

void kr_alloc_report()
{
    if (!checking())
        return;
    checker &c = check();
    std::lock_guard<std::mutex> guard(c.lock);
    for (int i = 0; i < c.live; i++)
        std::fprintf(stderr, "%p:%d\n", c.table[i].block, c.table[i].serial);
}

void kr_set_out_of_memory_handler(void (*handler)(size_t size))
{
    check().out_of_memory = handler;
}

void kr_alloc_reset_for_tests()
{
    checker &c = check();
    std::lock_guard<std::mutex> guard(c.lock);
    c.live = 0;
    c.next_serial = 0;
    c.state.store(-1);
}
