// Test helper: a second process that uses a named mutex on command.
//
// Reads one command per line from standard input and answers with one line:
//   create NAME        -> "created" | "existing" | "error CODE"
//   take MS            -> "object0" | "abandoned" | "timeout" | "failed CODE"
//   release            -> "released" | "error CODE"
//   count REGION N     -> "counted": N times take the mutex, increment the
//                         32-bit counter at byte 0 of the named mapping REGION
//                         with a separate load and store, release
//   exit               -> ends the process with status 0 (without releasing)
// "ready" is printed once at start.
#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

#include "qv_windows.h"

namespace {

HANDLE g_mutex = nullptr;

std::string Create(const std::string& name) {
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), &descriptor, FALSE};
    g_mutex = CreateMutexA(&attributes, FALSE, name.c_str());
    const DWORD error = GetLastError();
    if (g_mutex == nullptr) return "error " + std::to_string(error);
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
    if (mapping == nullptr) return "error " + std::to_string(GetLastError());
    auto* counter = static_cast<volatile std::uint32_t*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
    if (counter == nullptr) return "error " + std::to_string(GetLastError());
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

}  // namespace

int main() {
    std::cout << "ready" << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        std::string reply;
        if (command == "create") {
            std::string name;
            words >> name;
            reply = Create(name);
        } else if (command == "take") {
            DWORD milliseconds = 0;
            words >> milliseconds;
            reply = Take(milliseconds);
        } else if (command == "release") {
            reply = ReleaseMutex(g_mutex) ? "released" : "error " + std::to_string(GetLastError());
        } else if (command == "count") {
            std::string region;
            int times = 0;
            words >> region >> times;
            reply = Count(region, times);
        } else if (command == "exit") {
            return 0;
        } else {
            reply = "bad command";
        }
        std::cout << reply << std::endl;
    }
    return 0;
}
