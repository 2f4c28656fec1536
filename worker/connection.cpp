#include "worker/connection.h"

#include <cstdio>
#include <cstring>

#include "log/snmp_log.h"
#include "qv_windows.h"
#include "shm/wire.h"
#include "shm/regions.h"
#include "shm/ring.h"
#include "shm/session_views.h"
#include "shm/shared_access.h"
#include "shm/snmp_session.h"
#include "shm/snmp_shared_memory.h"
#include "shm/snmp_time.h"

std::int8_t FindFreeSessionSlot() {
    const QVSNMP_COMBufferHeaderLine* base = SnmpSharedMemory::GetSharedMemoryBasePointer();
    if (base == nullptr) return -1;
    for (int i = 0; i < qv::shm::kSessionCount; ++i) {
        const qv::shm::SessionRow row = qv::shm::LoadSessionRow(base, i);
        if (row.pen == 0 && row.appId == 0 && row.appInst == 0 && row.state == qv::shm::kSessionFree) {
            return static_cast<std::int8_t>(i);
        }
    }
    return -1;
}

void ProcessConnectionRequest(const std::uint8_t* record) {
    using namespace qv::shm;
    const std::uint16_t pen = ReadU16(record + record::kPen);
    const auto appId = static_cast<std::int8_t>(record[record::kAppId]);
    const auto appInst = static_cast<std::int8_t>(record[record::kAppInst]);
    if (appId == 0 || appInst == 0) return;

    QVSNMP_COMBufferHeaderLine* base = SnmpSharedMemory::GetSharedMemoryBasePointer();
    if (base == nullptr) return;
    const int existing = SnmpSession::GetCurrentSnmpSessionId(pen, appId, appInst);
    if (existing >= 0 && LoadShared(base->sessionState[existing]) != kSessionFree) return;

    const int slot = FindFreeSessionSlot();
    if (slot < 0) return;  // all 16 taken; the application asks again later

    char inName[kRegionNameBufferSize];
    char outName[kRegionNameBufferSize];
    ::wsprintfA(inName, kInRegionNameFormat, slot);
    ::wsprintfA(outName, kOutRegionNameFormat, slot);

    NullDaclSecurity security;
    DWORD lastError = 0;
    // The mapping handles stay with the views until the session is released:
    // the names must outlive this function for the application to open them.
    // Nothing of a failed attempt is kept, and the slot stays free.
    UniqueMappingHandle in(CreateNamedRegion(inName, security.Attributes(), &lastError));
    if (!in) return;
    UniqueMappingHandle out(CreateNamedRegion(outName, security.Attributes(), &lastError));
    if (!out) return;
    // The OUT mapping alone tells whether the pair is new.
    const bool fresh = lastError != ERROR_ALREADY_EXISTS;
    UniqueView inView(MapWholeRegion(in.Get()));
    if (!inView) return;
    UniqueView outView(MapWholeRegion(out.Get()));
    if (!outView) return;

    if (fresh) {
        std::memset(inView.Get(), 0, kRegionSize);
        std::memset(outView.Get(), 0, kRegionSize);
    }
    // Both rings start empty, whatever an earlier session left in them.
    RingResetReadIndex(outView.Get());
    RingResetWriteIndex(outView.Get());
    RingResetReadIndex(inView.Get());
    RingResetWriteIndex(inView.Get());
    {
        SessionLock lock(slot);
        session_views::Install(slot, std::move(inView), std::move(outView), std::move(in), std::move(out));
    }

    // SYNC POINT: the row is written last, so whoever finds the slot by its
    // identity finds its regions registered and its rings empty.
    StoreShared(base->sessionState[slot], kSessionOpened);
    StoreShared(base->pen[slot], pen);
    StoreShared(base->appId[slot], appId);
    StoreShared(base->appInst[slot], appInst);

    char line[256];
    std::snprintf(line, sizeof line, "Process Connection Request Time: %lf \n", SnmpTime::GetTime());
    SnmpLog::LogMessage(CString(line), LOG_CODE_INFO);
    // The values just written to the slot, from our own copies: the shared
    // fields may already have been changed by an application.
    std::snprintf(line, sizeof line, "In Proc Connect / Pen %d, AppId:%d, ApplInst:%d, SesId:%d, Value: %d \n",
                  static_cast<int>(pen), static_cast<int>(appId), static_cast<int>(appInst), slot,
                  static_cast<int>(kSessionOpened));
    SnmpLog::LogMessage(CString(line), LOG_CODE_INFO);
}
