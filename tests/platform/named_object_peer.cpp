// Test helper: a second process that holds named mappings and uses a named
// mutex on command.
//
// Reads one command per line from standard input and answers with one line:
//   create NAME SIZE       -> "created" | "existing" | "error CODE"
//   race NAME SIZE WHEN_NS -> like create, started at CLOCK_MONOTONIC WHEN_NS
//   open NAME              -> "opened" | "error CODE"
//   write OFFSET VALUE     -> "ok"        (one byte into the current view)
//   read OFFSET            -> "value V"
//   close                  -> "closed"    (view unmapped, handle closed)
//   also NAME              -> "held" | "error CODE"  (a further handle and
//                             view of NAME, kept until the process ends)
//   mutex NAME             -> "created" | "existing" | "error CODE"
//   take MS                -> "object0" | "abandoned" | "timeout" | "failed CODE"
//   release                -> "released" | "error CODE"
//   count REGION N         -> "counted": N times take the mutex, increment the
//                             32-bit counter at byte 0 of the named mapping
//                             REGION with a separate load and store, release
//   exit                   -> ends the process with status 0 (releasing nothing)
// "ready" is printed once at start. Objects are made with a NULL DACL, like
// the module's.
#include <time.h>

#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

#include "platform_test_util.h"
#include "qv_windows.h"

namespace {

qv::test::NullDaclAttributes g_nullDacl;
HANDLE g_mapping = nullptr;
unsigned char* g_view = nullptr;
HANDLE g_mutex = nullptr;

std::string Error(DWORD code) { return "error " + std::to_string(code); }

void CloseCurrent() {
    if (g_view != nullptr) UnmapViewOfFile(g_view);
    if (g_mapping != nullptr) CloseHandle(g_mapping);
    g_view = nullptr;
    g_mapping = nullptr;
}

// Maps the whole of g_mapping; `success` is the reply when both worked.
std::string MapCurrent(const std::string& success) {
    if (g_mapping == nullptr) return Error(GetLastError());
    g_view = static_cast<unsigned char*>(MapViewOfFile(g_mapping, FILE_MAP_WRITE, 0, 0, 0));
    return g_view == nullptr ? Error(GetLastError()) : success;
}

std::string Create(const std::string& name, DWORD size) {
    CloseCurrent();
    g_mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, &g_nullDacl.attributes, PAGE_READWRITE, 0,
                                   size, name.c_str());
    return MapCurrent(GetLastError() == ERROR_ALREADY_EXISTS ? "existing" : "created");
}

std::string Open(const std::string& name) {
    CloseCurrent();
    g_mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
    return MapCurrent("opened");
}

void SleepUntil(std::int64_t whenNs) {
    timespec when{static_cast<time_t>(whenNs / 1000000000), static_cast<long>(whenNs % 1000000000)};
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr) != 0) {
    }
}

std::string CreateMutex(const std::string& name) {
    g_mutex = CreateMutexA(&g_nullDacl.attributes, FALSE, name.c_str());
    const DWORD error = GetLastError();
    if (g_mutex == nullptr) return Error(error);
    return error == ERROR_ALREADY_EXISTS ? "existing" : "created";
}

std::string Take(DWORD milliseconds) {
    switch (WaitForSingleObject(g_mutex, milliseconds)) {
        case WAIT_OBJECT_0:
            return "object0";
        case WAIT_ABANDONED:
            return "abandoned";
        case WAIT_TIMEOUT:
            return "timeout";
        default:
            return "failed " + std::to_string(GetLastError());
    }
}

std::string Count(const std::string& region, int times) {
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, region.c_str());
    if (mapping == nullptr) return Error(GetLastError());
    auto* counter = static_cast<volatile std::uint32_t*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
    if (counter == nullptr) return Error(GetLastError());
    for (int i = 0; i < times; ++i) {
        const DWORD result = WaitForSingleObject(g_mutex, INFINITE);
        if (result != WAIT_OBJECT_0) return "bad wait " + std::to_string(result);
        const std::uint32_t value = *counter;
        std::this_thread::yield();  // widens the window a missing exclusion would show in
        *counter = value + 1;
        ReleaseMutex(g_mutex);
    }
    UnmapViewOfFile(const_cast<std::uint32_t*>(counter));
    CloseHandle(mapping);
    return "counted";
}

std::string Execute(const std::string& command, std::istringstream& words) {
    std::string name;
    DWORD size = 0;
    if (command == "create") {
        words >> name >> size;
        return Create(name, size);
    }
    if (command == "race") {
        std::int64_t when = 0;
        words >> name >> size >> when;
        SleepUntil(when);
        return Create(name, size);
    }
    if (command == "open") {
        words >> name;
        return Open(name);
    }
    if (command == "write" && g_view != nullptr) {
        std::size_t offset = 0;
        unsigned value = 0;
        words >> offset >> value;
        g_view[offset] = static_cast<unsigned char>(value);
        return "ok";
    }
    if (command == "read" && g_view != nullptr) {
        std::size_t offset = 0;
        words >> offset;
        return "value " + std::to_string(g_view[offset]);
    }
    if (command == "also") {
        words >> name;
        HANDLE extra = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
        if (extra == nullptr || MapViewOfFile(extra, FILE_MAP_READ, 0, 0, 0) == nullptr) {
            return Error(GetLastError());
        }
        return "held";
    }
    if (command == "close") {
        CloseCurrent();
        return "closed";
    }
    if (command == "mutex") {
        words >> name;
        return CreateMutex(name);
    }
    if (command == "take") {
        words >> size;
        return Take(size);
    }
    if (command == "release") {
        return ReleaseMutex(g_mutex) ? "released" : Error(GetLastError());
    }
    if (command == "count") {
        int times = 0;
        words >> name >> times;
        return Count(name, times);
    }
    return "bad command";
}

}  // namespace

int main() {
    std::cout << "ready" << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        if (command == "exit") return 0;
        std::cout << Execute(command, words) << std::endl;
    }
    return 0;
}
