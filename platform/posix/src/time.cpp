// Clocks: tick count, performance counter, calendar time.
//
// Only the Win32 and CRT time calls live here.
#include <cerrno>
#include <ctime>

#include "posix_internal.h"

namespace {

// The performance counter ticks in 100 ns units, the resolution Windows x64
// reports on current hardware; the logic only ever divides by the frequency.
constexpr LONGLONG kCounterFrequency = 10'000'000;
// The CRT refuses times after 3000-12-31 23:59:59 UTC.
constexpr __time64_t kLatestTime = 32535215999LL;

timespec Monotonic() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

}  // namespace

extern "C" QV_PLATFORM_API DWORD GetTickCount() {
    const timespec now = Monotonic();
    const auto milliseconds = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                              static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    // Wraps after 49.7 days, as the Windows count does.
    return static_cast<DWORD>(milliseconds);
}

extern "C" QV_PLATFORM_API BOOL QueryPerformanceCounter(LARGE_INTEGER* counter) {
    if (counter == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const timespec now = Monotonic();
    counter->QuadPart = static_cast<LONGLONG>(now.tv_sec) * kCounterFrequency + now.tv_nsec / 100;
    return TRUE;
}

extern "C" QV_PLATFORM_API BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    if (frequency == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    frequency->QuadPart = kCounterFrequency;
    return TRUE;
}

extern "C" QV_PLATFORM_API __time64_t _time64(__time64_t* result) {
    const auto now = static_cast<__time64_t>(::time(nullptr));
    if (result != nullptr) *result = now;
    return now;
}

extern "C" QV_PLATFORM_API errno_t _localtime64_s(std::tm* result, const __time64_t* time) {
    if (result == nullptr) {
        errno = EINVAL;
        return EINVAL;
    }
    // On failure the CRT leaves every field at -1 so that nothing plausible
    // is read by a caller that ignores the return value.
    const auto invalidate = [result] {
        result->tm_sec = result->tm_min = result->tm_hour = -1;
        result->tm_mday = result->tm_mon = result->tm_year = -1;
        result->tm_wday = result->tm_yday = result->tm_isdst = -1;
    };
    if (time == nullptr || *time < 0 || *time > kLatestTime) {
        invalidate();
        errno = EINVAL;
        return EINVAL;
    }
    const auto seconds = static_cast<time_t>(*time);
    if (::localtime_r(&seconds, result) == nullptr) {
        invalidate();
        errno = EINVAL;
        return EINVAL;
    }
    return 0;
}
