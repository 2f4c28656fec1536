// The service worker over a hostile base region: the drain of the base ring,
// connection handling and session supervision, with any header and records.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "shm/snmp_shared_memory.h"
#include "shm/snmp_time.h"
#include "worker/service_worker.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static qv::fuzz::GuardedRegion* base = [] {
        qv::fuzz::UsePrivateNamespace();
        SnmpTime::Init();
        return new qv::fuzz::GuardedRegion;
    }();
    base->Fill(data, size);
    SnmpSharedMemory::SetSharedMemoryBasePointer(base->Header());
    qv::worker::DrainBaseRing(base->Header());
    qv::worker::SuperviseSessions(base->Header());
    return 0;
}
