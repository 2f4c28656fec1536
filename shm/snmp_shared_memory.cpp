#include "shm/snmp_shared_memory.h"

namespace {

bool IsSessionIndex(unsigned int session) {
    return session < static_cast<unsigned int>(qv::shm::kSessionCount);
}

}  // namespace

SnmpSharedMemory::SnmpSharedMemory() : m_pBase(nullptr) {
    for (int i = 0; i < qv::shm::kSessionCount; ++i) {
        m_pInput[i].store(nullptr);
        m_pOutput[i].store(nullptr);
    }
}

// Unmapping is the business of whoever mapped the views.
SnmpSharedMemory::~SnmpSharedMemory() = default;

SnmpSharedMemory& SnmpSharedMemory::operator=(const SnmpSharedMemory& other) {
    m_pBase.store(other.m_pBase.load());
    for (int i = 0; i < qv::shm::kSessionCount; ++i) {
        m_pInput[i].store(other.m_pInput[i].load());
        m_pOutput[i].store(other.m_pOutput[i].load());
    }
    return *this;
}

SnmpSharedMemory& SnmpSharedMemory::GetInstance() {
    static SnmpSharedMemory instance;
    return instance;
}

void SnmpSharedMemory::SetSharedMemoryBasePointer(QVSNMP_COMBufferHeaderLine* base) {
    GetInstance().m_pBase.store(base);
}

QVSNMP_COMBufferHeaderLine* SnmpSharedMemory::GetSharedMemoryBasePointer() {
    return GetInstance().m_pBase.load();
}

void SnmpSharedMemory::SetSharedMemoryInputPointer(unsigned int session, void* region) {
    if (IsSessionIndex(session)) GetInstance().m_pInput[session].store(region);
}

void* SnmpSharedMemory::GetSharedMemoryInputPointer(unsigned int session) {
    return IsSessionIndex(session) ? GetInstance().m_pInput[session].load() : nullptr;
}

void SnmpSharedMemory::SetSharedMemoryOutputPointer(unsigned int session, void* region) {
    if (IsSessionIndex(session)) GetInstance().m_pOutput[session].store(region);
}

void* SnmpSharedMemory::GetSharedMemoryOutputPointer(unsigned int session) {
    return IsSessionIndex(session) ? GetInstance().m_pOutput[session].load() : nullptr;
}
