#include "shm/snmp_session.h"

#include "shm/shared_access.h"
#include "shm/snmp_shared_memory.h"

namespace qv::shm {

void ClearSessionRow(QVSNMP_COMBufferHeaderLine* base, int index) {
    StoreShared(base->pen[index], std::uint16_t{0});
    StoreShared(base->appId[index], std::int8_t{0});
    StoreShared(base->appInst[index], std::int8_t{0});
    StoreShared(base->sessionState[index], kSessionFree);
    StoreShared(base->keepAlive[index], std::uint16_t{0});
}

SessionRow LoadSessionRow(const QVSNMP_COMBufferHeaderLine* base, int index) {
    return SessionRow{LoadShared(base->sessionState[index]), LoadShared(base->pen[index]),
                      LoadShared(base->appId[index]), LoadShared(base->appInst[index]),
                      LoadShared(base->keepAlive[index])};
}

}  // namespace qv::shm

namespace SnmpSession {

int GetCurrentSnmpSessionId(std::uint16_t pen, std::int8_t appId, std::int8_t appInst) {
    const QVSNMP_COMBufferHeaderLine* base = SnmpSharedMemory::GetSharedMemoryBasePointer();
    if (base == nullptr) return -1;
    for (int i = 0; i < qv::shm::kSessionCount; ++i) {
        const qv::shm::SessionRow row = qv::shm::LoadSessionRow(base, i);
        if (row.pen == pen && row.appId == appId && row.appInst == appInst &&
            row.state != qv::shm::kSessionFree) {
            return i;
        }
    }
    return -1;
}

void FreeSessionId(std::int8_t index) {
    QVSNMP_COMBufferHeaderLine* base = SnmpSharedMemory::GetSharedMemoryBasePointer();
    if (base == nullptr || index < 0 || index >= qv::shm::kSessionCount) return;
    qv::shm::ClearSessionRow(base, index);
}

}  // namespace SnmpSession
