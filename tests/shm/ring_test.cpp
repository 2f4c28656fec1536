// Ring rules at wrap, full and empty, set up by writing the indices directly.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "shm/wire.h"
#include "shm/ring.h"
#include "shm/session_rings.h"
#include "shm/snmp_shared_memory.h"

namespace {

using qv::shm::kRegionSize;
using qv::shm::kSlotSize;
using qv::shm::RingControl;

class RingTest : public ::testing::Test {
protected:
    RingTest() : region_(kRegionSize, 0) { SetIndices(1, 1); }

    void SetIndices(std::uint16_t read, std::uint16_t write) {
        Control()->readIndex = read;
        Control()->writeIndex = write;
    }
    RingControl* Control() { return reinterpret_cast<RingControl*>(region_.data()); }
    void* Region() { return region_.data(); }
    std::uint8_t* Slot(int index) { return region_.data() + index * kSlotSize; }

    static std::vector<std::uint8_t> Record(std::uint8_t fill) {
        std::vector<std::uint8_t> record(kSlotSize, fill);
        record[0] = static_cast<std::uint8_t>(fill + 1);  // first and last byte differ from the rest
        record[kSlotSize - 1] = static_cast<std::uint8_t>(fill + 2);
        return record;
    }

    std::vector<std::uint8_t> region_;
};

TEST_F(RingTest, EmptyRingTakesNothingAndResetEmptiesTheRing) {
    EXPECT_TRUE(qv::shm::RingIsEmpty(Region()));
    std::vector<std::uint8_t> buffer(kSlotSize, 0xEE);
    EXPECT_FALSE(qv::shm::RingTake(Region(), buffer.data()));
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(kSlotSize, 0xEE)) << "buffer must stay untouched";
    EXPECT_EQ(Control()->readIndex, 1);

    SetIndices(700, 12);
    qv::shm::RingResetReadIndex(Region());
    qv::shm::RingResetWriteIndex(Region());
    EXPECT_EQ(Control()->readIndex, 1);
    EXPECT_EQ(Control()->writeIndex, 1);
}

TEST_F(RingTest, HoldsExactly1022RecordsThenRefuses) {
    for (int i = 0; i < qv::shm::kRingCapacity; ++i) {
        ASSERT_TRUE(qv::shm::RingAppend(Region(), Record(static_cast<std::uint8_t>(i)).data())) << i;
    }
    EXPECT_EQ(Control()->writeIndex, 1023);
    EXPECT_EQ(Control()->readIndex, 1);
    EXPECT_TRUE(qv::shm::RingIsFull(Region()));
    const std::vector<std::uint8_t> before(region_);
    EXPECT_FALSE(qv::shm::RingAppend(Region(), Record(0x77).data()));
    EXPECT_EQ(region_, before) << "a refused append changes nothing";
}

TEST_F(RingTest, ReadOneAheadOfWriteIsFull) {
    SetIndices(5, 4);
    EXPECT_TRUE(qv::shm::RingIsFull(Region()));
    EXPECT_FALSE(qv::shm::RingAppend(Region(), Record(1).data()));
    SetIndices(1, 1023);
    EXPECT_TRUE(qv::shm::RingIsFull(Region()));
}

// Slot 1023 is used, and both indices go from it back to 1, never to 0.
TEST_F(RingTest, RecordsComeOutInOrderAcrossTheWrap) {
    SetIndices(1020, 1020);
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(qv::shm::RingAppend(Region(), Record(static_cast<std::uint8_t>(i * 3)).data()));
        if (i == 3) {
            EXPECT_EQ(Control()->writeIndex, 1);
        }
    }
    EXPECT_EQ(Control()->writeIndex, 5);
    EXPECT_EQ(std::memcmp(Slot(1023), Record(9).data(), kSlotSize), 0);
    for (int i = 0; i < 8; ++i) {
        std::vector<std::uint8_t> buffer(kSlotSize);
        ASSERT_TRUE(qv::shm::RingTake(Region(), buffer.data()));
        EXPECT_EQ(buffer, Record(static_cast<std::uint8_t>(i * 3))) << i;
        if (i == 3) {
            EXPECT_EQ(Control()->readIndex, 1);
        }
    }
    EXPECT_TRUE(qv::shm::RingIsEmpty(Region()));
}

TEST(RingIndicesTest, CountsRecordsAcrossTheWrap) {
    EXPECT_EQ((qv::shm::RingIndices{1, 1}.Count()), 0);
    EXPECT_EQ((qv::shm::RingIndices{1, 1023}.Count()), 1022);
    EXPECT_EQ((qv::shm::RingIndices{1022, 2}.Count()), 3);
    EXPECT_EQ((qv::shm::RingIndices{0, 2}.Count()), 0);
}

// Indices that only a faulty peer could write.
using IndexPair = std::pair<std::uint16_t, std::uint16_t>;
class BrokenRingIndexTest : public RingTest, public ::testing::WithParamInterface<IndexPair> {};

TEST_P(BrokenRingIndexTest, NeitherReadsNorWritesOutsideTheRegion) {
    const auto [read, write] = GetParam();
    SetIndices(read, write);
    // Guard pattern in every data slot: nothing may be copied into the ring.
    for (int slot = qv::shm::kFirstDataSlot; slot <= qv::shm::kLastDataSlot; ++slot) std::memset(Slot(slot), 0xA5, kSlotSize);
    const std::vector<std::uint8_t> dataBefore(region_.begin() + kSlotSize, region_.end());

    std::vector<std::uint8_t> buffer(kSlotSize, 0x11);
    EXPECT_FALSE(qv::shm::RingTake(Region(), buffer.data()));
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(kSlotSize, 0x11));
    EXPECT_TRUE(qv::shm::RingIsEmpty(Region()));
    EXPECT_TRUE(qv::shm::RingIsFull(Region()));
    EXPECT_FALSE(qv::shm::RingAppend(Region(), Record(3).data()));
    EXPECT_EQ(std::vector<std::uint8_t>(region_.begin() + kSlotSize, region_.end()), dataBefore);
    EXPECT_EQ(Control()->writeIndex, write) << "the reader never writes the write index";
}

INSTANTIATE_TEST_SUITE_P(OutOfRange, BrokenRingIndexTest,
                         ::testing::Values(IndexPair{0, 0}, IndexPair{1, 0}, IndexPair{1, 1024},
                                           IndexPair{5, 65535}, IndexPair{1024, 1024}, IndexPair{0, 65535}));

TEST_F(RingTest, ReaderRepairsItsOwnBrokenIndexOntoTheWriteIndex) {
    SetIndices(4000, 9);
    std::vector<std::uint8_t> buffer(kSlotSize);
    EXPECT_FALSE(qv::shm::RingTake(Region(), buffer.data()));
    EXPECT_EQ(Control()->readIndex, 9);
    const auto record = Record(0x31);
    ASSERT_TRUE(qv::shm::RingAppend(Region(), record.data()));
    ASSERT_TRUE(qv::shm::RingTake(Region(), buffer.data()));
    EXPECT_EQ(buffer, record);
}

// The agent's session-ring operations go through the registry.
class SessionRingTest : public ::testing::Test {
protected:
    SessionRingTest() : in_(kRegionSize, 0), out_(kRegionSize, 0) {
        for (auto* region : {&in_, &out_}) {
            auto* control = reinterpret_cast<RingControl*>(region->data());
            control->readIndex = 1;
            control->writeIndex = 1;
        }
        SnmpSharedMemory::SetSharedMemoryInputPointer(3, in_.data());
        SnmpSharedMemory::SetSharedMemoryOutputPointer(3, out_.data());
    }
    ~SessionRingTest() override {
        SnmpSharedMemory::SetSharedMemoryInputPointer(3, nullptr);
        SnmpSharedMemory::SetSharedMemoryOutputPointer(3, nullptr);
    }
    std::vector<std::uint8_t> in_;
    std::vector<std::uint8_t> out_;
};

TEST_F(SessionRingTest, WritesGoToTheOutRingAndReadsComeFromTheInRing) {
    std::vector<std::uint8_t> record(kSlotSize, 0x5A);
    ASSERT_TRUE(WriteOutputRing(3, record.data()));
    EXPECT_EQ(reinterpret_cast<RingControl*>(out_.data())->writeIndex, 2);
    EXPECT_EQ(std::memcmp(out_.data() + kSlotSize, record.data(), kSlotSize), 0);
    EXPECT_TRUE(IsInputRingEmpty(3)) << "the OUT write must not show up in the IN ring";

    std::memcpy(in_.data() + kSlotSize, record.data(), kSlotSize);
    reinterpret_cast<RingControl*>(in_.data())->writeIndex = 2;
    EXPECT_FALSE(IsInputRingEmpty(3));
    std::vector<std::uint8_t> buffer(kSlotSize);
    ASSERT_TRUE(ReadInputRing(3, buffer.data()));
    EXPECT_EQ(buffer, record);

    ResetOutputWriteIndex(3);
    ResetInputReadIndex(3);
    EXPECT_EQ(reinterpret_cast<RingControl*>(out_.data())->writeIndex, 1);
    EXPECT_EQ(reinterpret_cast<RingControl*>(in_.data())->readIndex, 1);
}

TEST_F(SessionRingTest, UnregisteredOrOutOfRangeSessionsNeverTouchMemory) {
    std::vector<std::uint8_t> record(kSlotSize, 1);
    for (int session : {-1, 4, 16, 1000}) {
        EXPECT_TRUE(IsInputRingEmpty(session)) << session;
        EXPECT_TRUE(IsOutputRingFull(session)) << session;
        EXPECT_FALSE(WriteOutputRing(session, record.data())) << session;
        EXPECT_FALSE(ReadInputRing(session, record.data())) << session;
        ResetInputReadIndex(session);  // must not crash
    }
}

}  // namespace
