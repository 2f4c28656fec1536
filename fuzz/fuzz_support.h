// What the fuzz targets share: regions fenced by inaccessible pages, and the
// set-up every target needs once per process.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "shm/wire.h"

namespace qv::fuzz {

// A 1 MiB region between two inaccessible pages: any access outside the
// region faults at once instead of going unnoticed.
class GuardedRegion {
public:
    GuardedRegion() {
        const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        const std::size_t total = shm::kRegionSize + 2 * page;
        auto* block = static_cast<std::uint8_t*>(::mmap(nullptr, total, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        if (block == MAP_FAILED) std::abort();
        data_ = block + page;
        if (::mprotect(data_, shm::kRegionSize, PROT_READ | PROT_WRITE) != 0) std::abort();
    }
    GuardedRegion(const GuardedRegion&) = delete;
    GuardedRegion& operator=(const GuardedRegion&) = delete;

    std::uint8_t* Data() const { return data_; }
    QVSNMP_COMBufferHeaderLine* Header() const { return reinterpret_cast<QVSNMP_COMBufferHeaderLine*>(data_); }

    // The region becomes zero, then the input is laid over its start (the
    // control slot and the first slots after it).
    void Fill(const std::uint8_t* input, std::size_t size) {
        std::memset(data_, 0, kUsedBytes);
        if (size > 0) std::memcpy(data_, input, size < kUsedBytes ? size : kUsedBytes);
    }

    // Inputs reach at most this far into the region; the rest stays zero, so
    // clearing it per input is cheap.
    static constexpr std::size_t kUsedBytes = 64 * shm::kSlotSize;

private:
    std::uint8_t* data_ = nullptr;
};

// Shared-memory names of this fuzzing process, apart from everyone else's.
inline void UsePrivateNamespace() {
    const std::string name = "qvfuzz" + std::to_string(::getpid());
    ::setenv("QVSNMP_NAMESPACE", name.c_str(), 1);
    ::setenv("QVSNMP_DRIVE_C", "/nonexistent-qvsnmp-fuzz-drive", 1);
}

}  // namespace qv::fuzz
