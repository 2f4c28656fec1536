// Ring rules at wrap, full and empty, set up by writing the indices directly,
// and the agent's session rings found through the registry.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "shm/ring.h"
#include "shm/snmp_shared_memory.h"

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
    void SetIndices(int read, int write) {
        control_.readIndex = static_cast<std::uint16_t>(read);
        control_.writeIndex = static_cast<std::uint16_t>(write);
    }
    bool Append(int fill) { return qv::shm::RingAppend(region_.data(), Record(fill).data()); }
    bool Take() { return qv::shm::RingTake(region_.data(), buffer_.data()); }
    bool Empty() { return qv::shm::RingIsEmpty(region_.data()); }
    bool Full() { return qv::shm::RingIsFull(region_.data()); }

    Bytes region_ = Bytes(qv::shm::kRegionSize);
    qv::shm::RingControl& control_ = *reinterpret_cast<qv::shm::RingControl*>(region_.data());
    Bytes buffer_ = Bytes(kSlotSize, 0xEE);
};

TEST_F(RingTest, EqualIndicesMeanEmptyAndResetEmptiesTheRing) {
    SetIndices(700, 700);
    EXPECT_TRUE(Empty());
    EXPECT_FALSE(Take());
    EXPECT_EQ(buffer_, Bytes(kSlotSize, 0xEE)) << "buffer must stay untouched";
    SetIndices(700, 12);
    EXPECT_FALSE(Empty());
    qv::shm::RingResetReadIndex(region_.data());
    qv::shm::RingResetWriteIndex(region_.data());
    EXPECT_TRUE(control_.readIndex == 1 && control_.writeIndex == 1);
}

TEST_F(RingTest, FullWhenReadIsNextOfWriteSoTheRingHolds1022Records) {
    SetIndices(1, 1);
    for (int i = 0; i < 1022; ++i) ASSERT_TRUE(Append(i)) << i;
    EXPECT_TRUE(Full() && control_.writeIndex == 1023);
    const Bytes before = region_;
    EXPECT_FALSE(Append(0x77));
    EXPECT_EQ(region_, before) << "a refused append changes nothing";
    SetIndices(5, 4);
    EXPECT_TRUE(Full());
    SetIndices(5, 3);
    EXPECT_FALSE(Full());
}

// Slot 1023 is used, and both indices go from it to 1, never to 0.
TEST_F(RingTest, RecordsComeOutInOrderAcrossTheWrap) {
    SetIndices(1020, 1020);
    for (int i = 0; i < 8; ++i) ASSERT_TRUE(Append(i * 3));
    EXPECT_EQ(control_.writeIndex, 5);
    EXPECT_EQ(std::memcmp(region_.data() + 1023 * kSlotSize, Record(9).data(), kSlotSize), 0);
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(Take() && buffer_ == Record(i * 3)) << i;
    EXPECT_EQ(control_.readIndex, 5);
}

// Indices only a faulty peer could write never address a slot; a reader whose
// own index is broken moves it onto the write index and goes on from there.
TEST_F(RingTest, BrokenIndicesNeverAddressASlot) {
    std::fill(region_.begin() + kSlotSize, region_.end(), 0xA5);
    for (auto [read, write] : {std::pair{0, 0}, {1, 0}, {1, 1024}, {5, 65535}, {1024, 1024}, {0, 65535}}) {
        SetIndices(read, write);
        const Bytes before = region_;
        EXPECT_TRUE(Empty() && Full() && !Take() && !Append(3) && region_ == before) << read << "/" << write;
    }
    EXPECT_EQ(buffer_, Bytes(kSlotSize, 0xEE));
    SetIndices(4000, 9);
    EXPECT_FALSE(Take());
    EXPECT_EQ(control_.readIndex, 9);
    EXPECT_TRUE(Append(0x31) && Take() && buffer_ == Record(0x31));
}

TEST(SessionRingTest, EverySessionHasItsOwnInAndOutRingAndOthersReadEmptyAndWriteFull) {
    std::vector<Bytes> regions(32, Bytes(3 * kSlotSize));
    // Outputs first: an input setter that also wrote an output slot would show.
    for (unsigned int i = 0; i < 16; ++i) SnmpSharedMemory::SetSharedMemoryOutputPointer(i, regions[16 + i].data());
    for (unsigned int i = 0; i < 16; ++i) SnmpSharedMemory::SetSharedMemoryInputPointer(i, regions[i].data());
    for (unsigned int index : {16u, 0xFFFFFFFFu}) {
        SnmpSharedMemory::SetSharedMemoryInputPointer(index, regions[0].data());
        SnmpSharedMemory::SetSharedMemoryOutputPointer(index, regions[0].data());
        EXPECT_EQ(SnmpSharedMemory::GetSharedMemoryInputPointer(index), nullptr);
        EXPECT_EQ(SnmpSharedMemory::GetSharedMemoryOutputPointer(index), nullptr);
    }
    const Bytes record = Record(0x5A);
    Bytes buffer(kSlotSize);
    for (int i = 0; i < 16; ++i) {
        Bytes& in = regions[static_cast<std::size_t>(i)];
        Bytes& out = regions[static_cast<std::size_t>(16 + i)];
        EXPECT_EQ(SnmpSharedMemory::GetSharedMemoryInputPointer(static_cast<unsigned int>(i)), in.data()) << i;
        EXPECT_EQ(SnmpSharedMemory::GetSharedMemoryOutputPointer(static_cast<unsigned int>(i)), out.data()) << i;
        in[0] = 1;  // read index 1, write index 2: one record in slot 1
        in[2] = 2;
        std::memcpy(in.data() + kSlotSize, record.data(), kSlotSize);
        out[0] = out[2] = 2;
        EXPECT_TRUE(ReadInputRing(i, buffer.data()) && buffer == record && IsInputRingEmpty(i)) << i;
        EXPECT_TRUE(WriteOutputRing(i, record.data()) && out[2] == 3) << i;
        EXPECT_EQ(std::memcmp(out.data() + 2 * kSlotSize, record.data(), kSlotSize), 0);
        ResetInputReadIndex(i);
        ResetOutputWriteIndex(i);
        EXPECT_TRUE(in[0] == 1 && in[2] == 2 && out[0] == 2 && out[2] == 1) << i;
    }
    for (int session : {-1, 16, 1000}) {
        EXPECT_TRUE(IsInputRingEmpty(session) && IsOutputRingFull(session)) << session;
        EXPECT_FALSE(WriteOutputRing(session, record.data()) || ReadInputRing(session, Bytes(kSlotSize).data())) << session;
    }
    for (unsigned int i = 0; i < 16; ++i) SnmpSharedMemory::SetSharedMemoryInputPointer(i, nullptr);
    for (unsigned int i = 0; i < 16; ++i) SnmpSharedMemory::SetSharedMemoryOutputPointer(i, nullptr);
}

}  // namespace
