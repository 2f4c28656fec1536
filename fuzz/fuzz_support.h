// What the fuzz targets share: regions fenced by inaccessible pages, and the
// set-up every target needs once per process.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "shm/wire.h"
#include "shm/snmp_shared_memory.h"
#include "shm/snmp_time.h"

namespace qv::fuzz {

// A 1 MiB region between two inaccessible pages: any access outside it faults.
class GuardedRegion {
public:
    GuardedRegion() {
        const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        auto* block = static_cast<std::uint8_t*>(
            ::mmap(nullptr, shm::kRegionSize + 2 * page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        if (block == MAP_FAILED || ::mprotect(block + page, shm::kRegionSize, PROT_READ | PROT_WRITE) != 0) std::abort();
        data_ = block + page;
    }
    QVSNMP_COMBufferHeaderLine* Header() const { return reinterpret_cast<QVSNMP_COMBufferHeaderLine*>(data_); }
    // Zero up to kUsedBytes (inputs reach no further), then the input over the start.
    void Fill(const std::uint8_t* input, std::size_t size) {
        std::memset(data_, 0, kUsedBytes);
        if (size > 0) std::memcpy(data_, input, size < kUsedBytes ? size : kUsedBytes);
    }
    static constexpr std::size_t kUsedBytes = 64 * shm::kSlotSize;
    std::uint8_t* data_ = nullptr;
};

// Once per process: shared-memory names of this process's own, the module's
// clock, and a guarded base region the module uses.
inline GuardedRegion& Base() {
    static GuardedRegion* base = [] {
        const std::string name = "qvfuzz" + std::to_string(::getpid());
        ::setenv("QVSNMP_NAMESPACE", name.c_str(), 1);
        ::setenv("QVSNMP_DRIVE_C", "/nonexistent-qvsnmp-fuzz-drive", 1);
        SnmpTime::Init();
        auto* region = new GuardedRegion;
        SnmpSharedMemory::SetSharedMemoryBasePointer(region->Header());
        return region;
    }();
    return *base;
}

}  // namespace qv::fuzz
