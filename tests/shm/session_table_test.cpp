// The exported session functions on a base region held in private memory, and
// the time base.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "shm/snmp_session.h"
#include "shm/snmp_shared_memory.h"
#include "shm/snmp_time.h"

namespace {

class SessionTableTest : public ::testing::Test {
protected:
    SessionTableTest() : region_(qv::shm::kRegionSize, 0) { SnmpSharedMemory::SetSharedMemoryBasePointer(Base()); }
    ~SessionTableTest() override { SnmpSharedMemory::SetSharedMemoryBasePointer(nullptr); }

    QVSNMP_COMBufferHeaderLine* Base() { return reinterpret_cast<QVSNMP_COMBufferHeaderLine*>(region_.data()); }
    void SetRow(int i, std::uint8_t state, std::uint16_t pen, std::int8_t appId, std::int8_t appInst) {
        Base()->sessionState[i] = state;
        Base()->pen[i] = pen;
        Base()->appId[i] = appId;
        Base()->appInst[i] = appInst;
        Base()->keepAlive[i] = 7;
    }

    std::vector<std::uint8_t> region_;
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
    SetRow(15, 2, 39917, -1, 1);
    EXPECT_EQ(region_[64 + 15], 255) << "AppId -1 is the byte 255";
    EXPECT_EQ(SnmpSession::GetCurrentSnmpSessionId(39917, -1, 1), 15);
    // Same low 8 bits of the PEN, other AppId, other AppInst.
    EXPECT_EQ(SnmpSession::GetCurrentSnmpSessionId(39917 & 0xFF, -1, 1), -1);
    EXPECT_EQ(SnmpSession::GetCurrentSnmpSessionId(39917, 1, 1), -1);
    EXPECT_EQ(SnmpSession::GetCurrentSnmpSessionId(39917, -1, -1), -1);
}

TEST_F(SessionTableTest, FreeSessionIdClearsThatRowOnly) {
    for (int i = 0; i < 16; ++i) SetRow(i, 2, static_cast<std::uint16_t>(1000 + i), 1, static_cast<std::int8_t>(i + 1));
    Base()->readIndex = 9;
    Base()->heartbeatSeconds = 1234;
    std::vector<std::uint8_t> expected(region_);
    for (std::size_t offset : {16u + 5, 32u + 10, 32u + 11, 64u + 5, 80u + 5, 96u + 10, 96u + 11}) expected[offset] = 0;
    SnmpSession::FreeSessionId(5);
    EXPECT_EQ(region_, expected);
    for (std::int8_t index : {-1, 16, 127, -128}) SnmpSession::FreeSessionId(index);
    EXPECT_EQ(region_, expected) << "indices outside the table";
    SnmpSharedMemory::SetSharedMemoryBasePointer(nullptr);
    EXPECT_EQ(SnmpSession::GetCurrentSnmpSessionId(1000, 1, 1), -1) << "no base region, no session";
    SnmpSession::FreeSessionId(0);
    EXPECT_EQ(region_, expected);
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
    EXPECT_GT(elapsed, 0.1);
    EXPECT_LT(elapsed, 5.0);
}

}  // namespace
