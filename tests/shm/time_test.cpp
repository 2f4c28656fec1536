// The time base.
#include <gtest/gtest.h>

#include <thread>

#include "shm/snmp_time.h"

namespace {

TEST(TimeBaseTest, CounterConversionUsesSignedHighAndUnsignedLowHalves) {
    EXPECT_NEAR(qv::shm::CounterToSeconds((std::int64_t{1} << 32) + 5, 10000000.0), 429.4967301, 1e-9);
    // Low half with its top bit set must not turn negative.
    EXPECT_NEAR(qv::shm::CounterToSeconds(0xFFFFFFFFll, 1.0), 4294967295.0, 0.0);
    // A negative counter keeps its sign through the high half.
    EXPECT_NEAR(qv::shm::CounterToSeconds(-(std::int64_t{1} << 32), 1.0), -4294967296.0, 0.0);
}

TEST(TimeBaseTest, TimeBaseIsTheLow32BitsOfTheFrequency) {
    EXPECT_EQ(qv::shm::FrequencyToTimeBase(10000000), 10000000.0);
    EXPECT_EQ(qv::shm::FrequencyToTimeBase((std::int64_t{3} << 32) + 7), 7.0);
    EXPECT_EQ(qv::shm::FrequencyToTimeBase(0xFFFFFFFFll), 4294967295.0);
}

TEST(TimeBaseTest, GetTimeAfterInitAdvancesInSeconds) {
    SnmpTime::Init();
    const double first = SnmpTime::GetTime();
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    const double elapsed = SnmpTime::GetTime() - first;
    EXPECT_GT(elapsed, 0.1);
    EXPECT_LT(elapsed, 5.0);
}

}  // namespace
