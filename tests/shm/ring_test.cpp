// Ring rules at wrap, full and empty, set up by writing the indices directly,
// and the agent's session rings found through the registry.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "shm/ring.h"
#include "shm/snmp_shared_memory.h"

namespace {

using qv::shm::kSlotSize;
using Bytes = std::vector<std::uint8_t>;

class RingTest : public ::testing::Test {
protected:
    RingTest() : region_(qv::shm::kRegionSize, 0) { SetIndices(1, 1); }

    void SetIndices(std::uint16_t read, std::uint16_t write) {
        Control()->readIndex = read;
        Control()->writeIndex = write;
    }
    qv::shm::RingControl* Control() { return reinterpret_cast<qv::shm::RingControl*>(region_.data()); }
    // First and last byte differ from the rest, so a shifted copy shows.
    static Bytes Record(int fill) {
        Bytes record(kSlotSize, static_cast<std::uint8_t>(fill));
        record.front() = static_cast<std::uint8_t>(fill + 1);
        record.back() = static_cast<std::uint8_t>(fill + 2);
        return record;
    }
    bool Append(int fill) { return qv::shm::RingAppend(region_.data(), Record(fill).data()); }
    bool Take(Bytes& buffer) { return qv::shm::RingTake(region_.data(), buffer.data()); }
    bool Empty() { return qv::shm::RingIsEmpty(region_.data()); }
    bool Full() { return qv::shm::RingIsFull(region_.data()); }

    Bytes region_;
};

TEST_F(RingTest, EqualIndicesMeanEmptyAndResetEmptiesTheRing) {
    SetIndices(700, 700);
    Bytes buffer(kSlotSize, 0xEE);
    EXPECT_TRUE(Empty());
    EXPECT_FALSE(Take(buffer));
    EXPECT_EQ(buffer, Bytes(kSlotSize, 0xEE)) << "buffer must stay untouched";
    EXPECT_EQ(Control()->readIndex, 700);
    SetIndices(700, 12);
    EXPECT_FALSE(Empty());
    qv::shm::RingResetReadIndex(region_.data());
    qv::shm::RingResetWriteIndex(region_.data());
    EXPECT_EQ(Control()->readIndex, 1);
    EXPECT_EQ(Control()->writeIndex, 1);
}

TEST_F(RingTest, FullWhenReadIsNextOfWriteSoTheRingHolds1022Records) {
    for (int i = 0; i < 1022; ++i) ASSERT_TRUE(Append(i)) << i;
    EXPECT_EQ(Control()->writeIndex, 1023);
    EXPECT_EQ(qv::shm::LoadRingIndices(region_.data()).Count(), 1022);
    EXPECT_TRUE(Full());
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
    EXPECT_EQ(Control()->writeIndex, 5);
    EXPECT_EQ(qv::shm::LoadRingIndices(region_.data()).Count(), 8);
    EXPECT_EQ(std::memcmp(region_.data() + 1023 * kSlotSize, Record(9).data(), kSlotSize), 0);
    Bytes buffer(kSlotSize);
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(Take(buffer));
        EXPECT_EQ(buffer, Record(i * 3)) << i;
    }
    EXPECT_EQ(Control()->readIndex, 5);
    EXPECT_TRUE(Empty());
}

// Indices only a faulty peer could write never address a slot; a reader whose
// own index is broken moves it onto the write index and goes on from there.
TEST_F(RingTest, BrokenIndicesNeverAddressASlot) {
    for (const auto& [read, write] : std::vector<std::pair<std::uint16_t, std::uint16_t>>{
             {0, 0}, {1, 0}, {1, 1024}, {5, 65535}, {1024, 1024}, {0, 65535}}) {
        SetIndices(read, write);
        std::fill(region_.begin() + kSlotSize, region_.end(), 0xA5);
        const Bytes before = region_;
        Bytes buffer(kSlotSize, 0x11);
        EXPECT_FALSE(Take(buffer));
        EXPECT_EQ(buffer, Bytes(kSlotSize, 0x11));
        EXPECT_TRUE(Empty());
        EXPECT_TRUE(Full());
        EXPECT_FALSE(Append(3));
        EXPECT_EQ(region_, before) << read << "/" << write;
    }
    SetIndices(4000, 9);
    Bytes buffer(kSlotSize);
    EXPECT_FALSE(Take(buffer));
    EXPECT_EQ(Control()->readIndex, 9);
    ASSERT_TRUE(Append(0x31));
    ASSERT_TRUE(Take(buffer));
    EXPECT_EQ(buffer, Record(0x31));
}

class SessionRingTest : public ::testing::Test {
protected:
    SessionRingTest() {
        In().readIndex = In().writeIndex = Out().readIndex = Out().writeIndex = 1;
        SnmpSharedMemory::SetSharedMemoryInputPointer(3, in_.data());
        SnmpSharedMemory::SetSharedMemoryOutputPointer(3, out_.data());
    }
    ~SessionRingTest() override {
        SnmpSharedMemory::SetSharedMemoryBasePointer(nullptr);
        for (unsigned int i = 0; i < 16; ++i) {
            SnmpSharedMemory::SetSharedMemoryInputPointer(i, nullptr);
            SnmpSharedMemory::SetSharedMemoryOutputPointer(i, nullptr);
        }
    }
    qv::shm::RingControl& In() { return *reinterpret_cast<qv::shm::RingControl*>(in_.data()); }
    qv::shm::RingControl& Out() { return *reinterpret_cast<qv::shm::RingControl*>(out_.data()); }

    Bytes in_ = Bytes(qv::shm::kRegionSize);
    Bytes out_ = Bytes(qv::shm::kRegionSize);
};

TEST_F(SessionRingTest, EverySessionHasItsOwnInAndOutPointer) {
    int markers[33] = {};
    // Outputs first: an input setter that also wrote an output slot would show.
    for (unsigned int i = 0; i < 16; ++i) SnmpSharedMemory::SetSharedMemoryOutputPointer(i, &markers[16 + i]);
    for (unsigned int i = 0; i < 16; ++i) SnmpSharedMemory::SetSharedMemoryInputPointer(i, &markers[i]);
    SnmpSharedMemory::SetSharedMemoryBasePointer(reinterpret_cast<QVSNMP_COMBufferHeaderLine*>(&markers[32]));
    for (unsigned int index : {16u, 0xFFFFFFFFu}) {
        SnmpSharedMemory::SetSharedMemoryInputPointer(index, &markers[0]);
        SnmpSharedMemory::SetSharedMemoryOutputPointer(index, &markers[0]);
        EXPECT_EQ(SnmpSharedMemory::GetSharedMemoryInputPointer(index), nullptr) << index;
        EXPECT_EQ(SnmpSharedMemory::GetSharedMemoryOutputPointer(index), nullptr) << index;
    }
    for (unsigned int i = 0; i < 16; ++i) {
        EXPECT_EQ(SnmpSharedMemory::GetSharedMemoryInputPointer(i), &markers[i]) << i;
        EXPECT_EQ(SnmpSharedMemory::GetSharedMemoryOutputPointer(i), &markers[16 + i]) << i;
    }
    EXPECT_EQ(SnmpSharedMemory::GetSharedMemoryBasePointer(),
              reinterpret_cast<QVSNMP_COMBufferHeaderLine*>(&markers[32]));
}

TEST_F(SessionRingTest, WritesGoToTheOutRingAndReadsComeFromTheInRing) {
    const Bytes record(kSlotSize, 0x5A);
    ASSERT_TRUE(WriteOutputRing(3, record.data()));
    EXPECT_EQ(Out().writeIndex, 2);
    EXPECT_EQ(std::memcmp(out_.data() + kSlotSize, record.data(), kSlotSize), 0);
    EXPECT_TRUE(IsInputRingEmpty(3)) << "the OUT write must not show up in the IN ring";
    std::memcpy(in_.data() + kSlotSize, record.data(), kSlotSize);
    In().writeIndex = 2;
    EXPECT_FALSE(IsInputRingEmpty(3));
    Bytes buffer(kSlotSize);
    ASSERT_TRUE(ReadInputRing(3, buffer.data()));
    EXPECT_EQ(buffer, record);
    ResetOutputWriteIndex(3);
    ResetInputReadIndex(3);
    EXPECT_EQ(Out().writeIndex, 1);
    EXPECT_EQ(In().readIndex, 1);
    // Unregistered or out-of-range sessions read as empty and write as full.
    for (int session : {-1, 4, 16, 1000}) {
        EXPECT_TRUE(IsInputRingEmpty(session) && IsOutputRingFull(session)) << session;
        EXPECT_FALSE(WriteOutputRing(session, record.data()) || ReadInputRing(session, buffer.data())) << session;
        ResetInputReadIndex(session);
    }
}

}  // namespace
