// The deadline every bounded wait uses: what is left of it, and the clock
// under it.
#include "os/deadline.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(DeadlineTest, RemainingTimeCountsDownToZeroAndStaysWithinPollRange) {
    EXPECT_EQ(RemainingMs(DeadlineIn(0)), 0);
    EXPECT_EQ(RemainingMs(DeadlineIn(-5)), 0);
    const int left = RemainingMs(DeadlineIn(60000));
    EXPECT_GT(left, 50000);
    EXPECT_LE(left, 60000);
    EXPECT_EQ(RemainingMs(DeadlineIn(int64_t{1} << 40)), INT_MAX);

    const Deadline soon = DeadlineIn(20);
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    EXPECT_EQ(RemainingMs(soon), 0);
}

TEST(DeadlineTest, MonotonicClockAdvancesWithTheWait) {
    const uint64_t before = MonotonicMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_GE(MonotonicMs() - before, 29u);
}

}  // namespace
