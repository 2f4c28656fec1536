#include "shm/regions.h"

#include "shm/wire.h"

namespace qv::shm {

HANDLE CreateNamedRegion(const char* name, SECURITY_ATTRIBUTES* attributes, DWORD* lastError) {
    HANDLE mapping = ::CreateFileMappingA(INVALID_HANDLE_VALUE, attributes, PAGE_READWRITE, 0,
                                          static_cast<DWORD>(kRegionSize), name);
    *lastError = ::GetLastError();
    return mapping;
}

void* MapWholeRegion(HANDLE mapping) { return ::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0); }

}  // namespace qv::shm
