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

TEST_F(RegistryTest, GetInstanceAlwaysReturnsTheSameObject) {
    EXPECT_EQ(&SnmpSharedMemory::GetInstance(), &SnmpSharedMemory::GetInstance());
}

TEST_F(RegistryTest, EachSessionKeepsItsOwnInputAndOutputPointer) {
    for (unsigned int i = 0; i < 16; ++i) {
        SnmpSharedMemory::SetSharedMemoryInputPointer(i, &markers_[i]);
        SnmpSharedMemory::SetSharedMemoryOutputPointer(i, &markers_[20 + i]);
    }
    for (unsigned int i = 0; i < 16; ++i) {
        EXPECT_EQ(SnmpSharedMemory::GetSharedMemoryInputPointer(i), &markers_[i]) << i;
        EXPECT_EQ(SnmpSharedMemory::GetSharedMemoryOutputPointer(i), &markers_[20 + i]) << i;
    }
}

TEST_F(RegistryTest, SettingSession3InputLeavesItsOutputAlone) {
    SnmpSharedMemory::SetSharedMemoryOutputPointer(3, &markers_[1]);
    SnmpSharedMemory::SetSharedMemoryInputPointer(3, &markers_[0]);
    EXPECT_EQ(SnmpSharedMemory::GetSharedMemoryInputPointer(3), &markers_[0]);
    EXPECT_EQ(SnmpSharedMemory::GetSharedMemoryOutputPointer(3), &markers_[1]);
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

TEST_F(RegistryTest, BasePointerRoundTrips) {
    auto* base = reinterpret_cast<QVSNMP_COMBufferHeaderLine*>(&markers_[0]);
    SnmpSharedMemory::SetSharedMemoryBasePointer(base);
    EXPECT_EQ(SnmpSharedMemory::GetSharedMemoryBasePointer(), base);
}

TEST_F(RegistryTest, CopyAssignmentCopiesAll33Pointers) {
    auto* base = reinterpret_cast<QVSNMP_COMBufferHeaderLine*>(&markers_[39]);
    SnmpSharedMemory::SetSharedMemoryBasePointer(base);
    for (unsigned int i = 0; i < 16; ++i) {
        SnmpSharedMemory::SetSharedMemoryInputPointer(i, &markers_[i]);
        SnmpSharedMemory::SetSharedMemoryOutputPointer(i, &markers_[20 + i]);
    }
    SnmpSharedMemory& instance = SnmpSharedMemory::GetInstance();
    // Self-assignment through a second reference must keep every pointer.
    SnmpSharedMemory& alias = instance;
    instance = alias;
    EXPECT_EQ(SnmpSharedMemory::GetSharedMemoryBasePointer(), base);
    EXPECT_EQ(SnmpSharedMemory::GetSharedMemoryInputPointer(7), &markers_[7]);
    EXPECT_EQ(SnmpSharedMemory::GetSharedMemoryOutputPointer(15), &markers_[35]);
}

TEST(RegistryLayoutTest, InstanceIsExactly33Pointers) {
    EXPECT_EQ(sizeof(SnmpSharedMemory), 33 * sizeof(void*));
}

}  // namespace
