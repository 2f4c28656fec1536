// Ring rules, white-box; session rings through the registry; session table; time
// base (GetTime itself is held against the heartbeat in the worker tests).
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

#include "shm/ring.h"
#include "shm/session_rings.h"
#include "shm/snmp_session.h"
#include "shm/snmp_shared_memory.h"
#include "shm/snmp_time.h"

namespace {

using qv::shm::kSlotSize;
using Bytes = std::vector<std::uint8_t>;

// First and last byte differ from the rest, so a shifted copy shows.
Bytes Record(int fill) {
    Bytes record(kSlotSize, static_cast<std::uint8_t>(fill));
    record.front() = static_cast<std::uint8_t>(fill + 1);
    record.back() = static_cast<std::uint8_t>(fill + 2);
    return record;
}

class RingTest : public ::testing::Test {
protected:
    void SetIndices(int read, int write) { control_ = {static_cast<std::uint16_t>(read), static_cast<std::uint16_t>(write), {}}; }
    bool Append(int fill) { return qv::shm::RingAppend(region_.data(), Record(fill).data()); }
    bool Take() { return qv::shm::RingTake(region_.data(), buffer_.data()); }
    bool Empty() { return qv::shm::RingIsEmpty(region_.data()); }
    bool Full() { return qv::shm::RingIsFull(region_.data()); }

    Bytes region_ = Bytes(qv::shm::kRegionSize);
    qv::shm::RingControl& control_ = *reinterpret_cast<qv::shm::RingControl*>(region_.data());
    Bytes buffer_ = Bytes(kSlotSize, 0xEE);
};

// Indices outside 1..1023 (only a faulty peer writes one) read as empty and
// full; a reader whose own index is broken moves it onto the write index.
TEST_F(RingTest, EqualIndicesMeanEmptyAndBrokenIndicesAddressNoSlot) {
    SetIndices(700, 12);
    EXPECT_FALSE(Empty());
    for (auto [read, write] : {std::pair{700, 700}, {0, 0}, {1, 0}, {1, 1024}, {5, 65535}, {1024, 1024}}) {
        SetIndices(read, write);
        EXPECT_TRUE(Empty() && !Take() && (read == 700 || (Full() && !Append(3))) && control_.writeIndex == write) << read;
    }
    EXPECT_EQ(buffer_, Bytes(kSlotSize, 0xEE)) << "buffer must stay untouched";
    SetIndices(4000, 9);
    EXPECT_TRUE(Empty() && !Take() && control_.readIndex == 9);
    EXPECT_TRUE(Append(0x31) && Take() && buffer_ == Record(0x31));
}

TEST_F(RingTest, FullWhenReadIsNextOfWriteSoTheRingHolds1022Records) {
    SetIndices(1, 1);
    for (int i = 0; i < 1022; ++i) ASSERT_TRUE(Append(i)) << i;
    EXPECT_TRUE(Full() && control_.writeIndex == 1023);
    const Bytes before = region_;
    EXPECT_TRUE(!Append(0x77) && region_ == before) << "a refused append changes nothing";
    SetIndices(5, 4);
    EXPECT_TRUE(Full());
}

// Slot 1023 is used, and both indices go from it to 1, never to 0.
TEST_F(RingTest, RecordsComeOutInOrderAcrossTheWrap) {
    SetIndices(1020, 1020);
    for (int i = 0; i < 8; ++i) ASSERT_TRUE(Append(i * 3));
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(Take() && buffer_ == Record(i * 3)) << i;
    EXPECT_TRUE(control_.readIndex == 5 && control_.writeIndex == 5);
}

TEST(SessionRingTest, EverySessionHasItsOwnInAndOutRingAndOthersReadEmptyAndWriteFull) {
    std::vector<Bytes> regions(32, Bytes(3 * kSlotSize));  // IN rings of sessions 0-15, then their OUT rings
    const Bytes record = Record(0x5A);
    Bytes buffer(kSlotSize);
    // Outputs first, and out-of-range indices last: a setter that wrote another slot would show.
    for (unsigned int i = 0; i < 16; ++i) SnmpSharedMemory::SetSharedMemoryOutputPointer(i, regions[16 + i].data());
    for (unsigned int i = 0; i < 16; ++i) SnmpSharedMemory::SetSharedMemoryInputPointer(i, regions[i].data());
    for (unsigned int index : {16u, 0xFFFFFFFFu}) {
        SnmpSharedMemory::SetSharedMemoryInputPointer(index, buffer.data());
        SnmpSharedMemory::SetSharedMemoryOutputPointer(index, buffer.data());
        EXPECT_TRUE(!SnmpSharedMemory::GetSharedMemoryInputPointer(index) && !SnmpSharedMemory::GetSharedMemoryOutputPointer(index));
    }
    for (int i = 0; i < 16; ++i) {
        Bytes& in = regions[static_cast<std::size_t>(i)];
        Bytes& out = regions[static_cast<std::size_t>(16 + i)];
        in[0] = 1;  // IN: read index 1, write index 2, a record in slot 1; OUT: both indices 2
        in[2] = out[0] = out[2] = 2;
        std::memcpy(in.data() + kSlotSize, record.data(), kSlotSize);
        EXPECT_TRUE(ReadInputRing(i, buffer.data()) && buffer == record && IsInputRingEmpty(i)) << i;
        EXPECT_TRUE(WriteOutputRing(i, record.data()) && out[2] == 3 && Bytes(out.begin() + 2 * kSlotSize, out.end()) == record) << i;
        ResetInputReadIndex(i);
        ResetOutputWriteIndex(i);
        EXPECT_TRUE(in[0] == 1 && in[2] == 2 && out[0] == 2 && out[2] == 1) << i;
    }
    for (int session : {-1, 16, 1000}) {
        EXPECT_TRUE(IsInputRingEmpty(session) && IsOutputRingFull(session) && !WriteOutputRing(session, record.data()) &&
                    !ReadInputRing(session, buffer.data())) << session;
    }
}

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

// Rows 2 and 9 hold the same identity; row 4 is opened (state 1), row 5 free;
// AppId -1 is the byte 255; the PENs 39917 and 39917 & 0xFF share their low byte.
TEST_F(SessionTableTest, FindsTheLowestOccupiedRowWithTheWholeIdentity) {
    for (auto [row, state, pen, appId] : {std::tuple{9, 2, 5113, 7}, {2, 2, 5113, 7}, {4, 1, 44821, 3}, {5, 0, 4127, 1}, {15, 2, 39917, -1}}) {
        SetRow(row, static_cast<std::uint8_t>(state), static_cast<std::uint16_t>(pen), static_cast<std::int8_t>(appId), 1);
    }
    for (auto [pen, appId, appInst, session] : {std::tuple{5113, 7, 1, 2}, {44821, 3, 1, 4}, {4127, 1, 1, -1}, {39917, -1, 1, 15},
                                                {39917 & 0xFF, -1, 1, -1}, {39917, 1, 1, -1}, {39917, -1, -1, -1}}) {
        EXPECT_EQ(SnmpSession::GetCurrentSnmpSessionId(static_cast<std::uint16_t>(pen), static_cast<std::int8_t>(appId),
                                                       static_cast<std::int8_t>(appInst)), session) << pen;
    }
}

TEST_F(SessionTableTest, FreeSessionIdClearsThatRowOnlyAndNothingWithoutABaseRegion) {
    for (int i = 0; i < 16; ++i) SetRow(i, 2, static_cast<std::uint16_t>(1000 + i), 1, static_cast<std::int8_t>(i + 1));
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
}

}  // namespace
