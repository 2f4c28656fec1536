#include "shm/session_rings.h"

#include "shm/ring.h"
#include "shm/snmp_shared_memory.h"
#include "shm/wire.h"

namespace {

void* InputRegion(int session) {
    if (session < 0 || session >= qv::shm::kSessionCount) return nullptr;
    return SnmpSharedMemory::GetSharedMemoryInputPointer(static_cast<unsigned int>(session));
}

void* OutputRegion(int session) {
    if (session < 0 || session >= qv::shm::kSessionCount) return nullptr;
    return SnmpSharedMemory::GetSharedMemoryOutputPointer(static_cast<unsigned int>(session));
}

}  // namespace

bool IsInputRingEmpty(int session) {
    void* region = InputRegion(session);
    return region == nullptr || qv::shm::RingIsEmpty(region);
}

bool IsOutputRingFull(int session) {
    void* region = OutputRegion(session);
    return region == nullptr || qv::shm::RingIsFull(region);
}

bool ReadInputRing(int session, std::uint8_t* buffer) {
    void* region = InputRegion(session);
    return region != nullptr && qv::shm::RingTake(region, buffer);
}

bool WriteOutputRing(int session, const std::uint8_t* record) {
    void* region = OutputRegion(session);
    return region != nullptr && qv::shm::RingAppend(region, record);
}

void ResetInputReadIndex(int session) {
    if (void* region = InputRegion(session)) qv::shm::RingResetReadIndex(region);
}

void ResetOutputWriteIndex(int session) {
    if (void* region = OutputRegion(session)) qv::shm::RingResetWriteIndex(region);
}
