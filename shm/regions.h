// Creating, opening and mapping the named regions.
#pragma once

#include "qv_windows.h"
#include "shm/unique_handle.h"

namespace qv::shm {

// Security attributes that let processes of any account and logon session open
// the regions: a descriptor with a present but NULL DACL, inheritable handles.
class NullDaclSecurity {
public:
    NullDaclSecurity();
    NullDaclSecurity(const NullDaclSecurity&) = delete;
    NullDaclSecurity& operator=(const NullDaclSecurity&) = delete;
    SECURITY_ATTRIBUTES* Attributes() { return &attributes_; }

private:
    SECURITY_DESCRIPTOR descriptor_;
    SECURITY_ATTRIBUTES attributes_;
};

// Creates the named 1 MiB paging-file region, or opens it if it exists.
// Returns null on failure (last error as the platform left it). `lastError`
// receives the platform's last error right after the create, so the caller
// can tell a first creator (anything but ERROR_ALREADY_EXISTS).
HANDLE CreateNamedRegion(const char* name, SECURITY_ATTRIBUTES* attributes, DWORD* lastError);

// A writable view of a whole region, or null.
void* MapWholeRegion(HANDLE mapping);

}  // namespace qv::shm
