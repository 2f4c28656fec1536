// The process-wide registry of views.
#include <gtest/gtest.h>

#include "shm/snmp_shared_memory.h"

namespace {

class RegistryTest : public ::testing::Test {
protected:
    ~RegistryTest() override {
        SnmpSharedMemory::SetSharedMemoryBasePointer(nullptr);
        for (unsigned int i = 0; i < 16; ++i) {
            SnmpSharedMemory::SetSharedMemoryInputPointer(i, nullptr);
            SnmpSharedMemory::SetSharedMemoryOutputPointer(i, nullptr);
        }
    }
    int markers_[40] = {};
};

TEST_F(RegistryTest, EachSessionKeepsItsOwnInputAndOutputPointer) {
    // Outputs first: an input setter that also wrote the output would show.
    for (unsigned int i = 0; i < 16; ++i) SnmpSharedMemory::SetSharedMemoryOutputPointer(i, &markers_[20 + i]);
    for (unsigned int i = 0; i < 16; ++i) SnmpSharedMemory::SetSharedMemoryInputPointer(i, &markers_[i]);
    SnmpSharedMemory::SetSharedMemoryBasePointer(reinterpret_cast<QVSNMP_COMBufferHeaderLine*>(&markers_[39]));
    // Self-assignment, the only assignment the private constructor allows, keeps every pointer.
    SnmpSharedMemory& instance = SnmpSharedMemory::GetInstance();
    SnmpSharedMemory& alias = instance;
    instance = alias;
    for (unsigned int i = 0; i < 16; ++i) {
        EXPECT_EQ(SnmpSharedMemory::GetSharedMemoryInputPointer(i), &markers_[i]) << i;
        EXPECT_EQ(SnmpSharedMemory::GetSharedMemoryOutputPointer(i), &markers_[20 + i]) << i;
    }
    EXPECT_EQ(SnmpSharedMemory::GetSharedMemoryBasePointer(), reinterpret_cast<QVSNMP_COMBufferHeaderLine*>(&markers_[39]));
}

TEST_F(RegistryTest, OutOfRangeIndicesStoreNothingAndReadNull) {
    SnmpSharedMemory::SetSharedMemoryInputPointer(0, &markers_[0]);
    SnmpSharedMemory::SetSharedMemoryOutputPointer(15, &markers_[1]);
    for (unsigned int index : {16u, 17u, 0xFFFFFFFFu}) {
        SnmpSharedMemory::SetSharedMemoryInputPointer(index, &markers_[5]);
        SnmpSharedMemory::SetSharedMemoryOutputPointer(index, &markers_[6]);
        EXPECT_EQ(SnmpSharedMemory::GetSharedMemoryInputPointer(index), nullptr) << index;
        EXPECT_EQ(SnmpSharedMemory::GetSharedMemoryOutputPointer(index), nullptr) << index;
    }
    EXPECT_EQ(SnmpSharedMemory::GetSharedMemoryInputPointer(0), &markers_[0]);
    EXPECT_EQ(SnmpSharedMemory::GetSharedMemoryOutputPointer(15), &markers_[1]);
    EXPECT_EQ(SnmpSharedMemory::GetSharedMemoryBasePointer(), nullptr);
}

}  // namespace
