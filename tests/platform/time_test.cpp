// Tick count, performance counter and calendar time.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "qv_windows.h"

namespace qv::test {
namespace {

TEST(TimeTest, PerformanceCounterRunsAtTenMegahertzOfRealTime) {
    LARGE_INTEGER frequency{};
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    EXPECT_EQ(frequency.QuadPart, 10000000);
    LARGE_INTEGER before{};
    LARGE_INTEGER after{};
    ASSERT_TRUE(QueryPerformanceCounter(&before));
    Sleep(50);
    ASSERT_TRUE(QueryPerformanceCounter(&after));
    const LONGLONG elapsed = after.QuadPart - before.QuadPart;
    EXPECT_GE(elapsed, 500000);    // 50 ms
    EXPECT_LT(elapsed, 50000000);  // well under 5 s
    EXPECT_FALSE(QueryPerformanceCounter(nullptr));
}

TEST(TimeTest, TickCountCountsMilliseconds) {
    const DWORD before = GetTickCount();
    Sleep(60);
    const DWORD elapsed = GetTickCount() - before;  // unsigned: wrap-safe
    EXPECT_GE(elapsed, 59u);
    EXPECT_LT(elapsed, 5000u);
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
}

TEST(TimeTest, LocalTimeRejectsMissingAndNegativeTimes) {
    std::tm converted{};
    EXPECT_EQ(_localtime64_s(&converted, nullptr), EINVAL);
    EXPECT_EQ(converted.tm_hour, -1);
    const __time64_t negative = -5;
    EXPECT_EQ(_localtime64_s(&converted, &negative), EINVAL);
    const __time64_t now = _time64(nullptr);
    EXPECT_EQ(_localtime64_s(nullptr, &now), EINVAL);
}

}  // namespace
}  // namespace qv::test
