// The checked allocator with KR_CHECK_ALLOC on and off.
#include "files/tests/test_util.h"

#include <cstdlib>
#include <cstring>

namespace {

class alloc_test : public ::testing::Test {
protected:
    void TearDown() override
    {
        unsetenv("KR_CHECK_ALLOC");
        kr_alloc_reset_for_tests();
    }
    static void checking(const char *value)
    {
        setenv("KR_CHECK_ALLOC", value, 1);
        kr_alloc_reset_for_tests();
    }
    static std::string address(const void *p)
    {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%p", p);
        return buf;
    }
};

TEST_F(alloc_test, unknown_free_is_refused_and_leaks_are_listed)
{
    checking("1");
    void *a = kr_malloc(16);
    void *b = kr_calloc(4, 4);
    void *c = kr_malloc(8);
    char not_ours[8] = "intact";

    testing::internal::CaptureStderr();
    kr_free(not_ours);
    kr_free(nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Allocation not found for " + address(not_ours) + "!\n");
    EXPECT_STREQ(not_ours, "intact");

    kr_free(b);
    void *c2 = kr_realloc(c, 4096);
    ASSERT_NE(c2, nullptr);
    testing::internal::CaptureStderr();
    kr_alloc_report();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), address(a) + ":0\n" + address(c2) + ":3\n");

    kr_free(a);
    kr_free(c2);
    testing::internal::CaptureStderr();
    kr_alloc_report();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(alloc_test, off_unless_a_positive_integer)
{
    for (const char *value : {"0", "-1", "yes", ""}) {
        checking(value);
        void *p = kr_malloc(10);
        testing::internal::CaptureStderr();
        kr_alloc_report();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << value;
        kr_free(p);
    }
}

TEST_F(alloc_test, a_full_table_turns_checking_off)
{
    checking("1");
    std::vector<void *> blocks(0x100000);
    for (void *&p : blocks)
        p = kr_malloc(1);
    testing::internal::CaptureStderr();
    void *extra = kr_malloc(1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Too many allocations to check!\n");
    testing::internal::CaptureStderr();
    kr_free(extra);  // untracked, and checking is off: released quietly
    kr_alloc_report();
    for (void *p : blocks)
        kr_free(p);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// AddressSanitizer stops the program on an impossible request instead of
// returning null.
#if !defined(__SANITIZE_ADDRESS__)
size_t g_failed_size;
void note_failure(size_t size)
{
    g_failed_size = size;
}

TEST_F(alloc_test, failure_calls_the_handler_and_returns_null)
{
    kr_set_out_of_memory_handler(note_failure);
    size_t huge = SIZE_MAX / 2;
    void *p = kr_malloc(huge);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(g_failed_size, huge);
    kr_set_out_of_memory_handler(nullptr);
}
#endif

}  // namespace
