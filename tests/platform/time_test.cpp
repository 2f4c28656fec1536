// Tick count, performance counter and calendar time.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "qv_windows.h"

namespace qv::test {
namespace {

TEST(TimeTest, TickCountAndPerformanceCounterFollowRealTime) {
    LARGE_INTEGER frequency{};
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    EXPECT_EQ(frequency.QuadPart, 10000000);
    LARGE_INTEGER before{};
    LARGE_INTEGER after{};
    const DWORD ticksBefore = GetTickCount();
    ASSERT_TRUE(QueryPerformanceCounter(&before));
    Sleep(60);
    ASSERT_TRUE(QueryPerformanceCounter(&after));
    const DWORD ticks = GetTickCount() - ticksBefore;  // unsigned: wrap-safe
    const LONGLONG counted = after.QuadPart - before.QuadPart;
    EXPECT_GE(ticks, 59u);
    EXPECT_LT(ticks, 5000u);
    EXPECT_GE(counted, 600000);    // 60 ms
    EXPECT_LT(counted, 50000000);  // well under 5 s
}

TEST(TimeTest, CalendarTimeMatchesTheSystemClock) {
    __time64_t stored = 0;
    const __time64_t now = _time64(&stored);
    EXPECT_EQ(now, stored);
    EXPECT_LE(std::llabs(now - static_cast<__time64_t>(std::time(nullptr))), 1);

    std::tm converted{};
    ASSERT_EQ(_localtime64_s(&converted, &now), 0);
    const time_t plain = static_cast<time_t>(now);
    std::tm expected{};
    ::localtime_r(&plain, &expected);
    EXPECT_EQ(converted.tm_hour, expected.tm_hour);
    EXPECT_EQ(converted.tm_min, expected.tm_min);
    EXPECT_EQ(converted.tm_sec, expected.tm_sec);
    EXPECT_EQ(converted.tm_year, expected.tm_year);

    // Times before 1970 are refused and leave the result marked invalid.
    const __time64_t negative = -5;
    EXPECT_EQ(_localtime64_s(&converted, &negative), EINVAL);
    EXPECT_EQ(converted.tm_hour, -1);
}

}  // namespace
}  // namespace qv::test
