// Session lookup and release on a base region held in private memory.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "shm/wire.h"
#include "shm/snmp_session.h"
#include "shm/snmp_shared_memory.h"

namespace {

class SessionTableTest : public ::testing::Test {
protected:
    SessionTableTest() : region_(qv::shm::kRegionSize, 0) {
        SnmpSharedMemory::SetSharedMemoryBasePointer(Base());
    }
    ~SessionTableTest() override { SnmpSharedMemory::SetSharedMemoryBasePointer(nullptr); }

    QVSNMP_COMBufferHeaderLine* Base() { return reinterpret_cast<QVSNMP_COMBufferHeaderLine*>(region_.data()); }

    void SetRow(int i, std::uint8_t state, std::uint16_t pen, std::int8_t appId, std::int8_t appInst,
                std::uint16_t keepAlive = 0) {
        Base()->sessionState[i] = state;
        Base()->pen[i] = pen;
        Base()->appId[i] = appId;
        Base()->appInst[i] = appInst;
        Base()->keepAlive[i] = keepAlive;
    }

    std::vector<std::uint8_t> region_;
};

TEST_F(SessionTableTest, FindsTheLowestOccupiedRowWithTheIdentity) {
    SetRow(4, 2, 44821, 3, 1);
    EXPECT_EQ(SnmpSession::GetCurrentSnmpSessionId(44821, 3, 1), 4);
    SetRow(4, 1, 44821, 3, 1);
    EXPECT_EQ(SnmpSession::GetCurrentSnmpSessionId(44821, 3, 1), 4) << "state 1 counts as occupied";
    SetRow(4, 0, 44821, 3, 1);
    EXPECT_EQ(SnmpSession::GetCurrentSnmpSessionId(44821, 3, 1), -1) << "state 0 is free";
    SetRow(9, 2, 5113, 7, 7);
    SetRow(2, 2, 5113, 7, 7);
    EXPECT_EQ(SnmpSession::GetCurrentSnmpSessionId(5113, 7, 7), 2);
    SetRow(15, 2, 4127, 1, 2);
    EXPECT_EQ(SnmpSession::GetCurrentSnmpSessionId(4127, 1, 2), 15);
}

TEST_F(SessionTableTest, IdentityFieldsCompareWithTheirFullWidthAndSign) {
    SetRow(0, 2, 39917, -1, 1);
    EXPECT_EQ(SnmpSession::GetCurrentSnmpSessionId(39917, -1, 1), 0);
    std::uint8_t raw = 0;
    std::memcpy(&raw, &Base()->appId[0], 1);
    EXPECT_EQ(raw, 255) << "AppId -1 is the byte 255";
    // Same low 8 bits of the PEN, different high bits.
    EXPECT_EQ(SnmpSession::GetCurrentSnmpSessionId(static_cast<std::uint16_t>(39917 & 0xFF), -1, 1), -1);
    EXPECT_EQ(SnmpSession::GetCurrentSnmpSessionId(39917, 1, 1), -1);
    EXPECT_EQ(SnmpSession::GetCurrentSnmpSessionId(39917, -1, -1), -1);
}

TEST_F(SessionTableTest, NoBasePointerMeansNoSession) {
    SetRow(0, 2, 4127, 1, 2);
    SnmpSharedMemory::SetSharedMemoryBasePointer(nullptr);
    EXPECT_EQ(SnmpSession::GetCurrentSnmpSessionId(4127, 1, 2), -1);
    SnmpSession::FreeSessionId(0);  // must not crash
    EXPECT_EQ(Base()->sessionState[0], 2);
}

TEST_F(SessionTableTest, FreeSessionIdClearsOnlyThatRow) {
    for (int i = 0; i < 16; ++i) SetRow(i, 2, static_cast<std::uint16_t>(1000 + i), 1, static_cast<std::int8_t>(i + 1), 7);
    Base()->serviceUp = 1;
    Base()->readIndex = 9;
    Base()->heartbeatSeconds = 1234;
    const std::vector<std::uint8_t> before(region_);

    SnmpSession::FreeSessionId(5);

    EXPECT_EQ(Base()->sessionState[5], 0);
    EXPECT_EQ(Base()->pen[5], 0);
    EXPECT_EQ(Base()->appId[5], 0);
    EXPECT_EQ(Base()->appInst[5], 0);
    EXPECT_EQ(Base()->keepAlive[5], 0);
    // Everything outside row 5 is as it was.
    std::vector<std::uint8_t> after(region_);
    using Header = QVSNMP_COMBufferHeaderLine;
    for (std::size_t offset : {offsetof(Header, sessionState), offsetof(Header, appId), offsetof(Header, appInst)}) {
        after[offset + 5] = before[offset + 5];
    }
    for (std::size_t offset : {offsetof(Header, pen), offsetof(Header, keepAlive)}) {
        after[offset + 10] = before[offset + 10];
        after[offset + 11] = before[offset + 11];
    }
    EXPECT_EQ(after, before);
}

TEST_F(SessionTableTest, FreeSessionIdIgnoresIndicesOutsideTheTable) {
    for (int i = 0; i < 16; ++i) SetRow(i, 2, 44821, 1, static_cast<std::int8_t>(i + 1));
    const std::vector<std::uint8_t> before(region_);
    for (std::int8_t index : {std::int8_t{-1}, std::int8_t{16}, std::int8_t{127}, std::int8_t{-128}}) {
        SnmpSession::FreeSessionId(index);
    }
    EXPECT_EQ(region_, before);
}

}  // namespace
