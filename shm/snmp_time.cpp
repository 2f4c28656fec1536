#include "shm/snmp_time.h"

#include <atomic>

#include "qv_windows.h"

namespace {

// 0.0 until Init; GetTime before Init has no meaning.
std::atomic<double> g_timeBase{0.0};

}  // namespace

namespace qv::shm {

double CounterToSeconds(std::int64_t counter, double timeBase) {
    const auto high = static_cast<std::int32_t>(static_cast<std::uint64_t>(counter) >> 32);
    const auto low = static_cast<std::uint32_t>(static_cast<std::uint64_t>(counter) & 0xFFFFFFFFu);
    return (static_cast<double>(high) * 4294967296.0 + static_cast<double>(low)) / timeBase;
}

double FrequencyToTimeBase(std::int64_t frequency) {
    return static_cast<double>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(frequency) & 0xFFFFFFFFu));
}

}  // namespace qv::shm

namespace SnmpTime {

void Init() {
    LARGE_INTEGER frequency;
    frequency.QuadPart = 0;
    QueryPerformanceFrequency(&frequency);
    g_timeBase.store(qv::shm::FrequencyToTimeBase(frequency.QuadPart));
}

double GetTime() {
    LARGE_INTEGER counter;
    counter.QuadPart = 0;
    QueryPerformanceCounter(&counter);
    return qv::shm::CounterToSeconds(counter.QuadPart, g_timeBase.load());
}

}  // namespace SnmpTime
