// Pieces the POSIX backend's service areas share with each other.
//
// Only declarations used by more than one source file of this backend live
// here: the errno translation, the handle table and its object base, the
// UTF-8 conversions and the path translation. Nothing here is exported.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "qv_platform_export.h"
#include "qv_windows.h"

namespace qv::posix {

// ---- errors (errors.cpp) -------------------------------------------------------
// The one translation from errno to the Win32 code the logic expects.
DWORD Win32ErrorFromErrno(int error);
// Sets the thread's last error from errno (read once, at the call).
void SetLastErrorFromErrno();

// ---- handles (handles.cpp) -----------------------------------------------------
// Everything a HANDLE can name. Destruction happens when the last handle and
// the last internal user (a running thread, a view) have let go.
class KernelObject {
public:
    virtual ~KernelObject();
    // WaitForSingleObject on this object; objects that are never signalled
    // (mappings, files) fail the wait as Windows does for such handles.
    virtual DWORD Wait(DWORD milliseconds);
};

// Enters the object into the process-wide table; nullptr when out of memory.
HANDLE RegisterHandle(std::shared_ptr<KernelObject> object);
// The object a handle names, or nullptr (last error ERROR_INVALID_HANDLE).
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);

// Makes a new object and enters it into the table: its handle, or nullptr
// (last error ERROR_NOT_ENOUGH_MEMORY).
template <typename T, typename... Arguments>
HANDLE RegisterNew(Arguments&&... arguments) {
    std::shared_ptr<T> object;
    try {
        object = std::make_shared<T>(std::forward<Arguments>(arguments)...);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return RegisterHandle(std::move(object));
}

template <typename T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
    auto object = std::dynamic_pointer_cast<T>(LookupHandle(handle));
    if (!object) SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

// ---- named shared-memory objects (mapping.cpp) ---------------------------------
// One open of a named object in /dev/shm with the Windows lifetime: it lives
// while any process holds an open of it, and the last holder removes the name.
class SharedMemoryObject;

// "Global\NAME" -> "/NAME" or "/NS.NAME" (QVSNMP_NAMESPACE); false (last
// error ERROR_INVALID_NAME) for a name that cannot be one.
bool SharedMemoryName(std::string_view name, std::string* shmName);
// Joins the named object if someone holds it, otherwise (create) starts it
// afresh, zero-filled, or (open) reports it absent. Sets the last error on
// failure.
std::shared_ptr<SharedMemoryObject> AcquireNamed(const std::string& shmName, bool create,
                                                 std::uint64_t size, mode_t mode, bool* created);
// An open-file-description lock on one byte (F_RDLCK, F_WRLCK or F_UNLCK);
// 0, or the errno of the refused request (EAGAIN/EACCES: another open has it).
int SetByteLock(int fd, short type, off_t byte, bool wait);
// The open's descriptor; byte locks 0 and 1 belong to the lifetime rules,
// any other byte is free for the object's own use.
int SharedMemoryObjectFd(const SharedMemoryObject& object);

// ---- views of shrunk objects (view_guard.cpp) ------------------------------------
// Registers a mapped view of `fd`, which needs the object to be at least `end`
// bytes long, with the SIGBUS guard; UnguardView forgets it before it is
// unmapped. `name` only labels the message the guard prints.
void GuardView(void* base, std::size_t length, int fd, std::uint64_t end, const std::string& name);
void UnguardView(const void* base);

// ---- security (security.cpp) ---------------------------------------------------
// True when the attributes carry a descriptor with a present NULL DACL, the
// Windows way of granting every user full access.
bool GrantsEveryone(const SECURITY_ATTRIBUTES* attributes);
// The mode of a named object created with these attributes: 0666 for a NULL
// DACL, the owner alone otherwise.
mode_t NamedObjectMode(const SECURITY_ATTRIBUTES* attributes);

// ---- strings (strings.cpp) -----------------------------------------------------
// UTF-8 <-> UTF-32 with U+FFFD for what cannot be converted.
std::string Utf8FromWide(std::wstring_view wide);
std::wstring WideFromUtf8(std::string_view text);
// Calls `call` with the UTF-8 form of an object name; a null name stays null.
// The W entry points of named objects go through here to their A forms.
template <typename Call>
auto WithUtf8Name(const wchar_t* name, Call call) {
    if (name == nullptr) return call(static_cast<const char*>(nullptr));
    const std::string narrow = Utf8FromWide(name);
    return call(narrow.c_str());
}

// ---- files (files.cpp) -----------------------------------------------------------
// The Linux path for a Windows path; empty when the path names a drive or a
// location this system does not have.
std::string TranslatePath(std::string_view windowsPath);

}  // namespace qv::posix
