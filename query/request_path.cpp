#include "query/request_path.h"

#include "shm/wire.h"
#include "shm/session_sequence.h"
#include "shm/shared_access.h"
#include "shm/snmp_session.h"
#include "shm/snmp_shared_memory.h"

namespace qv::query {

AsnInteger32 AddressSession(const AsnObjectIdentifier& oid, std::uint16_t pen, Message& request, int& session) {
    BuildBlankRequest(request);
    WriteOidTail(request, oid);
    // Tail bytes the OID does not have read 0 from the zeroed message.
    const auto appId = static_cast<std::int8_t>(request[message::kTail]);
    const auto appInst = static_cast<std::int8_t>(request[message::kTail + 1]);
    const int found = SnmpSession::GetCurrentSnmpSessionId(pen, appId, appInst);
    if (found < 0 || found >= shm::kSessionCount) return SNMP_ERRORSTATUS_READONLY;

    const QVSNMP_COMBufferHeaderLine* base = SnmpSharedMemory::GetSharedMemoryBasePointer();
    if (base == nullptr || shm::LoadShared(base->sessionState[found]) != shm::kSessionUp) {
        return SNMP_ERRORSTATUS_NOSUCHNAME;
    }
    session = found;
    return SNMP_ERRORSTATUS_NOERROR;
}

void StampForSession(Message& request, int session, std::uint16_t pen, Operation operation) {
    StampRequest(request, shm::TakeSequenceNumber(session), pen, operation);
}

}  // namespace qv::query
