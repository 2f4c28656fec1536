#include "snapshot.h"

#include "qv_windows.h"
#include "shm/wire.h"
#include "shm/ring.h"
#include "shm/shared_access.h"
#include "shm/snmp_time.h"
#include "shm/unique_handle.h"

namespace qvsnmpctl {
namespace {

using qv::shm::LoadShared;

RingFill Fill(const void* region) {
    const qv::shm::RingIndices indices = qv::shm::LoadRingIndices(region);
    return RingFill{indices.read, indices.write, indices.Count(), indices.Valid()};
}

std::optional<RingFill> SessionRing(const char* format, int slot) {
    char name[qv::shm::kRegionNameBufferSize];
    ::wsprintfA(name, format, slot);
    const qv::shm::NamedView view(name, FILE_MAP_READ);
    if (view.Get() == nullptr) return std::nullopt;
    return Fill(view.Get());
}

}  // namespace

bool TakeSnapshot(Snapshot* snapshot) {
    const qv::shm::NamedView base(qv::shm::kBaseRegionName, FILE_MAP_READ);
    if (base.Get() == nullptr) return false;
    const auto* header = static_cast<const QVSNMP_COMBufferHeaderLine*>(base.Get());
    SnmpTime::Init();
    snapshot->now = SnmpTime::GetTime();
    snapshot->serviceUp = LoadShared(header->serviceUp);
    for (std::size_t i = 0; i < snapshot->heartbeatDigits.size(); ++i) {
        snapshot->heartbeatDigits[i] = LoadShared(header->heartbeatDigits[i]);
    }
    snapshot->heartbeatSeconds = LoadShared(header->heartbeatSeconds);
    snapshot->base = Fill(header);
    snapshot->trapRead = LoadShared(header->trapReadIndex);
    for (int i = 0; i < qv::shm::kSessionCount; ++i) {
        SessionRow& row = snapshot->sessions[static_cast<std::size_t>(i)];
        row.slot = i;
        row.state = LoadShared(header->sessionState[i]);
        row.pen = LoadShared(header->pen[i]);
        row.appId = LoadShared(header->appId[i]);
        row.appInst = LoadShared(header->appInst[i]);
        row.keepAlive = LoadShared(header->keepAlive[i]);
        row.in = SessionRing(qv::shm::kInRegionNameFormat, i);
        row.out = SessionRing(qv::shm::kOutRegionNameFormat, i);
    }
    return true;
}

}  // namespace qvsnmpctl
