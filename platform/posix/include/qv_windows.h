// Linux stand-ins for the Win32 calls the module makes.
//
// This header must contain only the declarations of the POSIX backend; the
// build system puts it on the include path instead of the Win32 wrapper of the
// same name. Each call does on Linux what the module relies on it doing on
// Windows: named mappings with Win32 lifetime rules, thread message queues,
// auto-reset events, recursive critical sections, files on a mapped C: drive.
// Nothing here pretends: a call that cannot do its job fails and sets the
// thread's last error as Windows would.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <ctime>

// ---- basic types (LLP64 widths, as on Windows x64) ----------------------------
using BYTE = std::uint8_t;
using UCHAR = std::uint8_t;
using WORD = std::uint16_t;
using USHORT = std::uint16_t;
using SHORT = std::int16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using INT = std::int32_t;
using BOOL = std::int32_t;
using CHAR = char;
using WCHAR = wchar_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using DWORD_PTR = std::uintptr_t;
using SIZE_T = std::size_t;
using LPVOID = void*;
using LPCVOID = const void*;
using PVOID = void*;
using LPSTR = char*;
using LPCSTR = const char*;
using LPWSTR = wchar_t*;
using LPCWSTR = const wchar_t*;
using LPDWORD = DWORD*;
using PLONG = LONG*;
using LPBYTE = BYTE*;
using HANDLE = void*;
using HMODULE = void*;
using HINSTANCE = void*;
using HWND = void*;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using __time64_t = std::int64_t;
using errno_t = int;

#define WINAPI
#define CALLBACK
#define APIENTRY
#define TRUE 1
#define FALSE 0

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))
#define INFINITE 0xFFFFFFFFu
#define MAX_PATH 260

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    struct {
        DWORD LowPart;
        LONG HighPart;
    };
    LONGLONG QuadPart;
};
static_assert(sizeof(LARGE_INTEGER) == 8);

// ---- last error ----------------------------------------------------------------
#define ERROR_SUCCESS 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_TOO_MANY_OPEN_FILES 4u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_OUTOFMEMORY 14u
#define ERROR_GEN_FAILURE 31u
#define ERROR_NOT_SUPPORTED 50u
#define ERROR_FILE_EXISTS 80u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_DISK_FULL 112u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_INVALID_NAME 123u
#define ERROR_MOD_NOT_FOUND 126u
#define ERROR_NEGATIVE_SEEK 131u
#define ERROR_ALREADY_EXISTS 183u
#define ERROR_FILENAME_EXCED_RANGE 206u
#define ERROR_INVALID_ADDRESS 487u
#define ERROR_INVALID_FLAGS 1004u
#define ERROR_NO_UNICODE_TRANSLATION 1113u
#define ERROR_MAPPED_ALIGNMENT 1132u
#define ERROR_UNKNOWN_REVISION 1305u
#define ERROR_INVALID_SECURITY_DESCR 1338u
#define ERROR_INVALID_WINDOW_HANDLE 1400u
#define ERROR_INVALID_THREAD_ID 1444u
#define ERROR_NOT_ENOUGH_QUOTA 1816u

extern "C" {
DWORD GetLastError();
void SetLastError(DWORD error);
}

// ---- handles -------------------------------------------------------------------
extern "C" BOOL CloseHandle(HANDLE handle);

// ---- security (kept so the module can build its NULL-DACL attributes) -----------
#define SECURITY_DESCRIPTOR_REVISION 1u
#define SE_DACL_PRESENT 0x0004u
#define SE_DACL_DEFAULTED 0x0008u

struct ACL;
using PACL = ACL*;
using PSID = void*;

struct SECURITY_DESCRIPTOR {
    BYTE Revision;
    BYTE Sbz1;
    WORD Control;
    PSID Owner;
    PSID Group;
    PACL Sacl;
    PACL Dacl;
};
using PSECURITY_DESCRIPTOR = void*;

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
using PSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
static_assert(sizeof(SECURITY_ATTRIBUTES) == 24, "same layout as Windows x64");
static_assert(sizeof(SECURITY_DESCRIPTOR) == 40, "same layout as Windows x64");

extern "C" {
BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision);
BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL daclPresent, PACL dacl,
                               BOOL daclDefaulted);
}

// ---- named file mappings ---------------------------------------------------------
// "Global\NAME" (and "Local\NAME", and a bare "NAME") is the POSIX shared-memory
// object "/NAME", or "/NS.NAME" when QVSNMP_NAMESPACE=NS is set. An object lives
// while any process holds a handle or a view of it; the first holder after it
// had none gets a fresh, zero-filled object and last error 0, every other
// creator gets the existing object and ERROR_ALREADY_EXISTS.
#define PAGE_READONLY 0x02u
#define PAGE_READWRITE 0x04u
#define FILE_MAP_COPY 0x0001u
#define FILE_MAP_WRITE 0x0002u
#define FILE_MAP_READ 0x0004u
#define FILE_MAP_ALL_ACCESS 0x000F001Fu

extern "C" {
HANDLE CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES attributes, DWORD protect,
                          DWORD maximumSizeHigh, DWORD maximumSizeLow, LPCSTR name);
HANDLE CreateFileMappingW(HANDLE file, LPSECURITY_ATTRIBUTES attributes, DWORD protect,
                          DWORD maximumSizeHigh, DWORD maximumSizeLow, LPCWSTR name);
HANDLE OpenFileMappingA(DWORD desiredAccess, BOOL inheritHandle, LPCSTR name);
HANDLE OpenFileMappingW(DWORD desiredAccess, BOOL inheritHandle, LPCWSTR name);
LPVOID MapViewOfFile(HANDLE mapping, DWORD desiredAccess, DWORD offsetHigh, DWORD offsetLow,
                     SIZE_T bytes);
BOOL UnmapViewOfFile(LPCVOID base);
}

// ---- threads and thread message queues ------------------------------------------
#define WM_NULL 0x0000u
#define WM_QUIT 0x0012u
#define WM_COMMAND 0x0111u
#define WM_USER 0x0400u
#define PM_NOREMOVE 0x0000u
#define PM_REMOVE 0x0001u
#define STILL_ACTIVE 259u
#define CREATE_SUSPENDED 0x00000004u

struct POINT {
    LONG x;
    LONG y;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
using LPMSG = MSG*;

using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID);

extern "C" {
HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                    LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD creationFlags,
                    LPDWORD threadId);
DWORD ResumeThread(HANDLE thread);
DWORD GetCurrentThreadId();
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
// A thread gets its message queue on its first PeekMessageW or GetMessageW call;
// posting to a thread without one fails with ERROR_INVALID_THREAD_ID.
BOOL PeekMessageW(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags);
BOOL GetMessageW(LPMSG msg, HWND window, UINT filterMin, UINT filterMax);
BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
void Sleep(DWORD milliseconds);
}

// ---- events and waits ------------------------------------------------------------
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu

extern "C" {
HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                    LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
// Waits on an event (consuming the signal of an auto-reset one), on a mutex
// (taking ownership) or on a thread (signalled once it has ended).
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
}

// ---- named mutexes (mutex.cpp) ------------------------------------------------------
// Win32 mutexes shared between processes by name, with the same naming and
// lifetime as named mappings (the object is "/NAME" or "/NS.NAME" in /dev/shm,
// gone when its last holder lets go). Ownership belongs to a thread and is
// recursive. When the owner ends without ReleaseMutex - its process killed,
// even by SIGKILL, or the owning thread ended - the next waiter gets the mutex
// with WAIT_ABANDONED instead of WAIT_OBJECT_0. Unnamed mutexes work within
// the process.
#define WAIT_ABANDONED 0x00000080u
#define ERROR_NOT_OWNER 288u
#define SYNCHRONIZE 0x00100000u
#define MUTEX_MODIFY_STATE 0x0001u
#define MUTEX_ALL_ACCESS 0x001F0001u

extern "C" {
HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name);
HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCWSTR name);
HANDLE OpenMutexA(DWORD desiredAccess, BOOL inheritHandle, LPCSTR name);
HANDLE OpenMutexW(DWORD desiredAccess, BOOL inheritHandle, LPCWSTR name);
BOOL ReleaseMutex(HANDLE mutex);
}

// ---- critical sections (recursive, like Win32's) ---------------------------------
struct CRITICAL_SECTION {
    pthread_mutex_t mutex;
    DWORD ownerThread;
    LONG recursion;
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

extern "C" {
void InitializeCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);
}

// ---- files -----------------------------------------------------------------------
// "C:\rest" and "C:/rest" live under $QVSNMP_DRIVE_C (default
// /var/lib/qvsnmp/drive_c); "Z:\rest" is "/rest", as under Windows
// compatibility layers. Linux has no share modes: the share flags are accepted
// and not enforced.
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu
#define INVALID_FILE_SIZE 0xFFFFFFFFu

struct OVERLAPPED;
using LPOVERLAPPED = OVERLAPPED*;

extern "C" {
HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES attributes,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES attributes,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
               LPOVERLAPPED overlapped);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
              LPOVERLAPPED overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
BOOL FlushFileBuffers(HANDLE file);
DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
}

// ---- time ------------------------------------------------------------------------
extern "C" {
DWORD GetTickCount();
BOOL QueryPerformanceCounter(LARGE_INTEGER* counter);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
__time64_t _time64(__time64_t* result);
errno_t _localtime64_s(std::tm* result, const __time64_t* time);
}

// ---- module path and path parts --------------------------------------------------
// GetModuleFileNameW(NULL, ...) presents the executable's Linux path as Windows
// compatibility layers do: "Z:" followed by the path with backslashes.
extern "C" {
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
errno_t _wsplitpath_s(const wchar_t* path, wchar_t* drive, std::size_t driveSize, wchar_t* dir,
                      std::size_t dirSize, wchar_t* fname, std::size_t fnameSize, wchar_t* ext,
                      std::size_t extSize);
}

// ---- strings ---------------------------------------------------------------------
// The ANSI code page of a Linux process is UTF-8.
#define CP_ACP 0u
#define CP_UTF8 65001u
#define MB_ERR_INVALID_CHARS 0x00000008u
#define WC_ERR_INVALID_CHARS 0x00000080u

extern "C" {
int wsprintfA(LPSTR buffer, LPCSTR format, ...) __attribute__((format(printf, 2, 3)));
// In the wide variant %s takes a wide string and %S a narrow one, as on Windows.
int wsprintfW(LPWSTR buffer, LPCWSTR format, ...);
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int textLength, LPWSTR wide,
                        int wideLength);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength, LPSTR text,
                        int textLength, LPCSTR defaultChar, BOOL* usedDefaultChar);
}

// ---- library entry -----------------------------------------------------------------
#define DLL_PROCESS_DETACH 0u
#define DLL_PROCESS_ATTACH 1u
#define DLL_THREAD_ATTACH 2u
#define DLL_THREAD_DETACH 3u
