#include "qvsnmp/base_ring.h"

#include <mutex>
#include <sstream>
#include <thread>

#include "qv_windows.h"
#include "records.h"
#include "shm/null_dacl.h"
#include "shm/wire.h"
#include "shm/ring.h"
#include "shm/shared_access.h"
#include "shm/snmp_shared_memory.h"
#include "shm/snmp_time.h"
#include "shm/unique_handle.h"
#include "test_access.h"

namespace qvsnmp {

// The process's one view of the base region. Owned jointly by every BaseRing
// (and so every Application) of the process; it is registered as the
// module's base pointer while it exists, so the session functions
// (SnmpSession::GetCurrentSnmpSessionId, FreeSessionId) work on it.
class BaseRegion {
public:
    explicit BaseRegion(qv::shm::NamedView view) : view_(std::move(view)) {
        SnmpSharedMemory::SetSharedMemoryBasePointer(static_cast<QVSNMP_COMBufferHeaderLine*>(view_.Get()));
    }
    ~BaseRegion() {
        if (SnmpSharedMemory::GetSharedMemoryBasePointer() == view_.Get()) {
            SnmpSharedMemory::SetSharedMemoryBasePointer(nullptr);
        }
    }
    BaseRegion(const BaseRegion&) = delete;
    BaseRegion& operator=(const BaseRegion&) = delete;

    void* View() const { return view_.Get(); }

private:
    qv::shm::NamedView view_;
};

namespace {

// Records behind the trap walk that a new trap may bring about: the walk is
// dropped whole once they reach the ring's 1022, and every session's
// keep-alive must still fit.
constexpr int kTrapRoom = qv::shm::kRingCapacity - qv::shm::kSessionCount;
constexpr auto kTrapRetry = std::chrono::milliseconds(5);

bool IsPendingTrap(const std::uint8_t* slot) {
    return qv::shm::LoadShared(slot[detail::record::kKind]) == detail::record::kTrap &&
           qv::shm::LoadShared(slot[detail::record::kTrapMark]) == detail::record::kDeliverMark;
}

// Whether one more trap record leaves the walk room, making room when that is
// safe. Runs under the append lock: only appenders move the write index, and
// the trap index moves only forward, so the count can only fall meanwhile.
//
// The trap index stays where the last walk left it until the worker sees a
// trap again, so after a long quiet spell the keep-alives since then can fill
// the count by themselves. With no trap among them nothing is lost by moving
// on: anonymous records (AppId 0, which the worker takes out and ignores)
// carry the count round to zero, and the trap goes in behind them.
bool TrapWalkHasRoom(void* region) {
    const auto* header = static_cast<const QVSNMP_COMBufferHeaderLine*>(region);
    const std::uint16_t walk = qv::shm::LoadShared(header->trapReadIndex);
    const std::uint16_t write = qv::shm::LoadShared(header->writeIndex);
    // Broken indices: the ring itself refuses the append.
    if (!qv::shm::IsValidIndex(walk) || !qv::shm::IsValidIndex(write)) return true;
    const int behind = (write - walk + qv::shm::kLastDataSlot) % qv::shm::kLastDataSlot;
    if (behind + 1 <= kTrapRoom) return true;
    for (std::uint16_t slot = walk; slot != write; slot = qv::shm::NextIndex(slot)) {
        if (IsPendingTrap(qv::shm::SlotAddress(region, slot))) return false;  // the walk is coming
    }
    const std::uint8_t anonymous[detail::kRecordSize] = {};
    for (int i = behind; i < qv::shm::kLastDataSlot; ++i) {
        if (!qv::shm::RingAppend(region, anonymous)) return false;
    }
    return true;
}

std::shared_ptr<BaseRegion> AcquireBaseRegion() {
    static std::mutex mutex;  // guards shared
    static std::weak_ptr<BaseRegion> shared;
    std::lock_guard lock(mutex);
    if (auto region = shared.lock()) return region;
    // Opening, never creating: the agent creates the region and owns its
    // initial contents.
    qv::shm::NamedView view(qv::shm::kBaseRegionName, FILE_MAP_WRITE);
    if (view.Get() == nullptr) return nullptr;
    auto region = std::make_shared<BaseRegion>(std::move(view));
    shared = region;
    SnmpTime::Init();  // the application's part of the time base
    return region;
}

HANDLE OpenAppendLock() {
    // A NULL DACL, as on the shared regions: applications of every account
    // must be able to share the lock.
    qv::shm::NullDaclSecurity security(FALSE);
    return ::CreateMutexA(security.Attributes(), FALSE, kAppendLockName);
}

}  // namespace

bool ParseSuffix(const std::string& dotted, Suffix* suffix) {
    suffix->clear();
    if (dotted.empty()) return true;
    std::istringstream parts(dotted);
    std::string part;
    while (std::getline(parts, part, '.')) {
        if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos) return false;
        const int id = std::stoi(part);
        if (id < 1 || id > 127) return false;
        suffix->push_back(static_cast<std::uint8_t>(id));
    }
    return dotted.back() != '.';
}

std::string FormatSuffix(const Suffix& suffix) {
    std::string text;
    for (const std::uint8_t id : suffix) {
        if (!text.empty()) text += '.';
        text += std::to_string(id);
    }
    return text;
}

const char* ToString(AppendStatus status) {
    switch (status) {
        case AppendStatus::kAppended:
            return "appended";
        case AppendStatus::kNoAgent:
            return "no agent";
        case AppendStatus::kRingFull:
            return "base ring full";
        case AppendStatus::kLockTimeout:
            return "append lock busy";
        case AppendStatus::kLockFailed:
            return "append lock failed";
        case AppendStatus::kInvalidRecord:
            return "record does not fit";
        case AppendStatus::kBusy:
            return "busy: earlier traps not yet delivered";
    }
    return "?";
}

std::unique_ptr<BaseRing> BaseRing::Open(std::chrono::milliseconds lockTimeout) {
    auto region = AcquireBaseRegion();
    if (!region) return nullptr;
    HANDLE lock = OpenAppendLock();
    if (lock == nullptr) return nullptr;
    return std::unique_ptr<BaseRing>(new BaseRing(std::move(region), lock, lockTimeout));
}

BaseRing::BaseRing(std::shared_ptr<BaseRegion> region, void* lock, std::chrono::milliseconds lockTimeout)
    : region_(std::move(region)), lock_(lock), lockTimeout_(lockTimeout) {}

BaseRing::~BaseRing() { ::CloseHandle(lock_); }

const void* BaseRing::Region() const { return region_->View(); }

bool BaseRing::ServiceUp() const {
    return qv::shm::LoadShared(static_cast<const QVSNMP_COMBufferHeaderLine*>(region_->View())->serviceUp) != 0;
}

AppendResult BaseRing::AppendRecord(const std::uint8_t* record) { return Append(record, false); }

AppendResult BaseRing::Append(const std::uint8_t* record, bool trap) {
    const DWORD waited = ::WaitForSingleObject(lock_, static_cast<DWORD>(lockTimeout_.count()));
    if (waited == WAIT_TIMEOUT) return AppendResult{AppendStatus::kLockTimeout, false};
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return AppendResult{AppendStatus::kLockFailed, false};
    // An abandoned lock needs no repair: an appender's only write that others
    // act on is the single store of the write index after its slot is filled,
    // so a holder that died left its record either whole or unpublished.
    AppendStatus status = AppendStatus::kBusy;
    if (!trap || TrapWalkHasRoom(region_->View())) {
        status = qv::shm::RingAppend(region_->View(), record) ? AppendStatus::kAppended : AppendStatus::kRingFull;
    }
    ::ReleaseMutex(lock_);
    return AppendResult{status, waited == WAIT_ABANDONED};
}

AppendResult BaseRing::AppendConnectionRequest(const Identity& identity) {
    std::uint8_t record[detail::kRecordSize];
    detail::FillConnectionRequest(record, identity, nextTag_++);
    return AppendRecord(record);
}

AppendResult BaseRing::AppendTrap(const Identity& identity, const Suffix& suffix, const Value& value) {
    std::uint8_t record[detail::kRecordSize];
    if (!detail::FillTrapRecord(record, identity, suffix, value, nextTag_++)) {
        return AppendResult{AppendStatus::kInvalidRecord, false};
    }
    const auto deadline = std::chrono::steady_clock::now() + kTrapHoldBack;
    for (;;) {
        const AppendResult result = Append(record, true);
        if (result.status != AppendStatus::kBusy || std::chrono::steady_clock::now() >= deadline) return result;
        std::this_thread::sleep_for(kTrapRetry);
    }
}

AppendResult detail::TestAccess::HoldAppendLock(BaseRing& ring) {
    const DWORD waited = ::WaitForSingleObject(ring.lock_, INFINITE);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return AppendResult{AppendStatus::kLockFailed, false};
    return AppendResult{AppendStatus::kAppended, waited == WAIT_ABANDONED};
}

}  // namespace qvsnmp
