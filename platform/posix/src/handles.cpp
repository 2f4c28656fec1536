// The process-wide handle table and CloseHandle.
//
// Only the mapping from HANDLE values to kernel objects lives here; what an
// object does is up to the service area that defines it.
#include <cstdint>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>

#include "posix_internal.h"

namespace qv::posix {
namespace {

// HANDLE values are serial numbers, never addresses: a stale or forged handle
// cannot reach freed memory, only miss the table. Serials are not reused, so a
// handle closed twice stays invalid even after new handles were made. The low
// two bits stay clear, as in Windows handle values, and the serials start
// above zero so that no handle equals NULL or INVALID_HANDLE_VALUE.
class HandleTable {
public:
    HANDLE Add(std::shared_ptr<KernelObject> object) {
        std::lock_guard lock(mutex_);
        const std::uintptr_t value = ++lastSerial_ << 2;
        objects_.emplace(value, std::move(object));
        return reinterpret_cast<HANDLE>(value);
    }

    std::shared_ptr<KernelObject> Find(HANDLE handle) {
        std::lock_guard lock(mutex_);
        const auto found = objects_.find(reinterpret_cast<std::uintptr_t>(handle));
        return found == objects_.end() ? nullptr : found->second;
    }

    std::shared_ptr<KernelObject> Remove(HANDLE handle) {
        std::lock_guard lock(mutex_);
        const auto found = objects_.find(reinterpret_cast<std::uintptr_t>(handle));
        if (found == objects_.end()) return nullptr;
        auto object = std::move(found->second);
        objects_.erase(found);
        return object;
    }

private:
    std::mutex mutex_;  // guards objects_ and lastSerial_
    std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> objects_;
    std::uintptr_t lastSerial_ = 0;
};

// Leaked on purpose: the module's detach closes handles while the process
// exits, after static destructors may already have run.
HandleTable& Table() {
    static HandleTable* const table = new HandleTable;
    return *table;
}

}  // namespace

KernelObject::~KernelObject() = default;

DWORD KernelObject::Wait(DWORD /*milliseconds*/) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}

HANDLE RegisterHandle(std::shared_ptr<KernelObject> object) {
    try {
        return Table().Add(std::move(object));
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
    auto object = Table().Find(handle);
    if (!object) SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

}  // namespace qv::posix

extern "C" QV_PLATFORM_API BOOL CloseHandle(HANDLE handle) {
    // The object is released outside the table lock: its destructor may take
    // locks of its own (a mapping's release decision, a file's close).
    auto object = qv::posix::Table().Remove(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object.reset();
    return TRUE;
}
