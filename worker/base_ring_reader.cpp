#include "worker/base_ring_reader.h"

#include "shm/wire.h"
#include "shm/ring.h"
#include "shm/snmp_shared_memory.h"

int ReadBaseRecord(std::uint8_t* buffer) {
    using namespace qv::shm;
    // The header begins with the base ring's read and write index, laid out as
    // in a session region's control slot, so the common ring rules apply,
    // including their handling of indices outside 1..1023.
    if (!RingTake(SnmpSharedMemory::GetSharedMemoryBasePointer(), buffer)) {
        return qv::worker::kNothingToProcess;
    }
    // The record is out of the ring for the worker; it stays in its slot for
    // the trap walk, which trails the read index.
    if (buffer[record::kAppId] == 0 || buffer[record::kAppInst] == 0) return qv::worker::kAnonymousRecord;
    switch (buffer[record::kKind]) {
        case record::kConnectionRequest:
            return qv::worker::kConnectionRequestRecord;
        case record::kTrap:
            return qv::worker::kTrapRecord;
        default:
            return qv::worker::kNothingToProcess;
    }
}
