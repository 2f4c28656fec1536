// Test helper: one process that holds named mappings on command.
//
// Reads one command per line from standard input and answers with one line:
//   create NAME SIZE          -> "created" | "existing" | "error CODE"
//   race NAME SIZE WHEN_NS    -> like create, started at CLOCK_MONOTONIC WHEN_NS
//   open NAME                 -> "opened" | "error CODE"
//   write OFFSET VALUE        -> "ok"        (one byte into the current view)
//   read OFFSET               -> "value V"
//   close                     -> "closed"    (view unmapped, handle closed)
//   also NAME                 -> "held" | "error CODE"  (a further handle and
//                                view of NAME, kept until the process ends)
//   exit                      -> ends the process with status 0
// "ready" is printed once at start. Regions are made with a NULL DACL, like
// the module's.
#include <time.h>

#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>

#include "qv_windows.h"

namespace {

HANDLE g_mapping = nullptr;
unsigned char* g_view = nullptr;

void CloseCurrent() {
    if (g_view != nullptr) UnmapViewOfFile(g_view);
    if (g_mapping != nullptr) CloseHandle(g_mapping);
    g_view = nullptr;
    g_mapping = nullptr;
}

std::string Create(const std::string& name, DWORD size) {
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), &descriptor, FALSE};
    CloseCurrent();
    g_mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0, size,
                                   name.c_str());
    const DWORD error = GetLastError();
    if (g_mapping == nullptr) return "error " + std::to_string(error);
    g_view = static_cast<unsigned char*>(MapViewOfFile(g_mapping, FILE_MAP_WRITE, 0, 0, 0));
    if (g_view == nullptr) return "error " + std::to_string(GetLastError());
    return error == ERROR_ALREADY_EXISTS ? "existing" : "created";
}

std::string Open(const std::string& name) {
    CloseCurrent();
    g_mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
    if (g_mapping == nullptr) return "error " + std::to_string(GetLastError());
    g_view = static_cast<unsigned char*>(MapViewOfFile(g_mapping, FILE_MAP_WRITE, 0, 0, 0));
    if (g_view == nullptr) return "error " + std::to_string(GetLastError());
    return "opened";
}

void SleepUntil(std::int64_t whenNs) {
    timespec when{static_cast<time_t>(whenNs / 1000000000), static_cast<long>(whenNs % 1000000000)};
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr) != 0) {
    }
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
            DWORD size = 0;
            words >> name >> size;
            reply = Create(name, size);
        } else if (command == "race") {
            std::string name;
            DWORD size = 0;
            std::int64_t when = 0;
            words >> name >> size >> when;
            SleepUntil(when);
            reply = Create(name, size);
        } else if (command == "open") {
            std::string name;
            words >> name;
            reply = Open(name);
        } else if (command == "write" && g_view != nullptr) {
            std::size_t offset = 0;
            unsigned value = 0;
            words >> offset >> value;
            g_view[offset] = static_cast<unsigned char>(value);
            reply = "ok";
        } else if (command == "read" && g_view != nullptr) {
            std::size_t offset = 0;
            words >> offset;
            reply = "value " + std::to_string(g_view[offset]);
        } else if (command == "also") {
            std::string name;
            words >> name;
            HANDLE extra = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
            if (extra == nullptr || MapViewOfFile(extra, FILE_MAP_READ, 0, 0, 0) == nullptr) {
                reply = "error " + std::to_string(GetLastError());
            } else {
                reply = "held";
            }
        } else if (command == "close") {
            CloseCurrent();
            reply = "closed";
        } else if (command == "exit") {
            return 0;
        } else {
            reply = "bad command";
        }
        std::cout << reply << std::endl;
    }
    return 0;
}
