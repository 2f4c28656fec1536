// The process-wide registry of mapped views, exported to applications.
//
// It stores one base-region pointer and, per session, one IN-region and one
// OUT-region pointer. It never maps or unmaps anything and owns nothing it
// points to: views belong to whoever mapped them.
#pragma once

#include <atomic>

#include "shm/wire.h"
#include "shm/qvsnmp_export.h"

class QVSNMP_API SnmpSharedMemory {
public:
    // The one instance, constructed on first use (thread-safe local static).
    static SnmpSharedMemory& GetInstance();

    static void SetSharedMemoryBasePointer(QVSNMP_COMBufferHeaderLine* base);
    static QVSNMP_COMBufferHeaderLine* GetSharedMemoryBasePointer();
    // Session indices run 0..15; a setter given another index stores nothing
    // and a getter returns null.
    static void SetSharedMemoryInputPointer(unsigned int session, void* region);
    static void* GetSharedMemoryInputPointer(unsigned int session);
    static void SetSharedMemoryOutputPointer(unsigned int session, void* region);
    static void* GetSharedMemoryOutputPointer(unsigned int session);

    ~SnmpSharedMemory();
    SnmpSharedMemory& operator=(const SnmpSharedMemory& other);
    SnmpSharedMemory(const SnmpSharedMemory&) = delete;

private:
    SnmpSharedMemory();

    // Set by one thread (attach, the service worker) and read by others (the
    // query path): each pointer is one atomic store or load, laid out exactly
    // like a plain pointer.
    std::atomic<QVSNMP_COMBufferHeaderLine*> m_pBase;
    std::atomic<void*> m_pInput[qv::shm::kSessionCount];
    std::atomic<void*> m_pOutput[qv::shm::kSessionCount];
};

static_assert(sizeof(std::atomic<void*>) == sizeof(void*));
