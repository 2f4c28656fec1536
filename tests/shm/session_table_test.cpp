// The exported session functions on a base-region header in private memory,
// and the time base.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "shm/snmp_session.h"
#include "shm/snmp_shared_memory.h"
#include "shm/snmp_time.h"

namespace {

class SessionTableTest : public ::testing::Test {
protected:
    SessionTableTest() { SnmpSharedMemory::SetSharedMemoryBasePointer(&base_); }
    ~SessionTableTest() override { SnmpSharedMemory::SetSharedMemoryBasePointer(nullptr); }
    void SetRow(int i, std::uint8_t state, std::uint16_t pen, std::int8_t appId, std::int8_t appInst) {
        base_.sessionState[i] = state;
        base_.pen[i] = pen;
        base_.appId[i] = appId;
        base_.appInst[i] = appInst;
        base_.keepAlive[i] = 7;
    }

    QVSNMP_COMBufferHeaderLine base_{};
};

TEST_F(SessionTableTest, FindsTheLowestOccupiedRowWithTheWholeIdentity) {
    SetRow(4, 2, 44821, 3, 1);
    EXPECT_EQ(SnmpSession::GetCurrentSnmpSessionId(44821, 3, 1), 4);
    SetRow(4, 1, 44821, 3, 1);
    EXPECT_EQ(SnmpSession::GetCurrentSnmpSessionId(44821, 3, 1), 4) << "state 1 counts as occupied";
    SetRow(4, 0, 44821, 3, 1);
    EXPECT_EQ(SnmpSession::GetCurrentSnmpSessionId(44821, 3, 1), -1) << "state 0 is free";
    SetRow(9, 2, 5113, 7, 7);
    SetRow(2, 2, 5113, 7, 7);
    EXPECT_EQ(SnmpSession::GetCurrentSnmpSessionId(5113, 7, 7), 2);
    SetRow(15, 2, 39917, -1, 1);  // AppId -1 is the byte 255
    EXPECT_EQ(SnmpSession::GetCurrentSnmpSessionId(39917, -1, 1), 15);
    // Same low 8 bits of the PEN, other AppId, other AppInst.
    EXPECT_EQ(SnmpSession::GetCurrentSnmpSessionId(39917 & 0xFF, -1, 1), -1);
    EXPECT_EQ(SnmpSession::GetCurrentSnmpSessionId(39917, 1, 1), -1);
    EXPECT_EQ(SnmpSession::GetCurrentSnmpSessionId(39917, -1, -1), -1);
}

TEST_F(SessionTableTest, FreeSessionIdClearsThatRowOnlyAndNothingWithoutABaseRegion) {
    for (int i = 0; i < 16; ++i) SetRow(i, 2, static_cast<std::uint16_t>(1000 + i), 1, static_cast<std::int8_t>(i + 1));
    base_.readIndex = 9;
    base_.heartbeatSeconds = 1234;
    QVSNMP_COMBufferHeaderLine expected = base_;
    expected.sessionState[5] = expected.appId[5] = expected.appInst[5] = 0;
    expected.pen[5] = expected.keepAlive[5] = 0;
    SnmpSession::FreeSessionId(5);
    for (std::int8_t index : {-1, 16, 127, -128}) SnmpSession::FreeSessionId(index);
    EXPECT_EQ(std::memcmp(&base_, &expected, sizeof base_), 0);
    SnmpSharedMemory::SetSharedMemoryBasePointer(nullptr);
    EXPECT_EQ(SnmpSession::GetCurrentSnmpSessionId(1000, 1, 1), -1);
    SnmpSession::FreeSessionId(0);
    EXPECT_EQ(std::memcmp(&base_, &expected, sizeof base_), 0);
}

TEST(TimeBaseTest, SecondsAreSignedHighAndUnsignedLowCounterHalvesOverTheLowFrequencyHalf) {
    EXPECT_NEAR(qv::shm::CounterToSeconds((std::int64_t{1} << 32) + 5, 10000000.0), 429.4967301, 1e-9);
    EXPECT_EQ(qv::shm::CounterToSeconds(0xFFFFFFFFll, 1.0), 4294967295.0);
    EXPECT_EQ(qv::shm::CounterToSeconds(-(std::int64_t{1} << 32), 1.0), -4294967296.0);
    EXPECT_EQ(qv::shm::FrequencyToTimeBase((std::int64_t{3} << 32) + 7), 7.0);
    EXPECT_EQ(qv::shm::FrequencyToTimeBase(0xFFFFFFFFll), 4294967295.0);
    SnmpTime::Init();
    const double first = SnmpTime::GetTime();
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    const double elapsed = SnmpTime::GetTime() - first;
    EXPECT_TRUE(elapsed > 0.1 && elapsed < 5.0) << elapsed;
}

}  // namespace
