// Creating, opening and mapping the named regions.
#pragma once

#include "qv_windows.h"
#include "shm/null_dacl.h"
#include "shm/unique_handle.h"

namespace qv::shm {

// Creates the named 1 MiB paging-file region, or opens it if it exists.
// Returns null on failure (last error as the platform left it). `lastError`
// receives the platform's last error right after the create, so the caller
// can tell a first creator (anything but ERROR_ALREADY_EXISTS).
HANDLE CreateNamedRegion(const char* name, SECURITY_ATTRIBUTES* attributes, DWORD* lastError);

// A writable view of a whole region, or null.
void* MapWholeRegion(HANDLE mapping);

}  // namespace qv::shm
