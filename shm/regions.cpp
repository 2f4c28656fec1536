#include "shm/regions.h"

#include "shm/wire.h"

namespace qv::shm {

NullDaclSecurity::NullDaclSecurity() : descriptor_{}, attributes_{} {
    ::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION);
    ::SetSecurityDescriptorDacl(&descriptor_, TRUE, nullptr, FALSE);
    attributes_.nLength = sizeof(SECURITY_ATTRIBUTES);
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = TRUE;
}

HANDLE CreateNamedRegion(const char* name, SECURITY_ATTRIBUTES* attributes, DWORD* lastError) {
    HANDLE mapping = ::CreateFileMappingA(INVALID_HANDLE_VALUE, attributes, PAGE_READWRITE, 0,
                                          static_cast<DWORD>(kRegionSize), name);
    *lastError = ::GetLastError();
    return mapping;
}

void* MapWholeRegion(HANDLE mapping) { return ::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0); }

}  // namespace qv::shm
