// Small helpers shared by the platform tests.
#pragma once

#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <string>

#include "qv_windows.h"
#include "support/child_process.h"
#include "support/test_environment.h"

namespace qv::test {

// Closes a handle (or unmaps a view) at scope exit so that a failing
// assertion cannot keep a mapping alive into the leftover check.
class ScopedHandle {
public:
    explicit ScopedHandle(HANDLE handle = nullptr) : handle_(handle) {}
    ~ScopedHandle() { Reset(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    HANDLE Get() const { return handle_; }
    void Reset(HANDLE handle = nullptr) {
        if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
        handle_ = handle;
    }
    HANDLE Release() {
        HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }

private:
    HANDLE handle_;
};

class ScopedView {
public:
    explicit ScopedView(void* base = nullptr) : base_(static_cast<unsigned char*>(base)) {}
    ~ScopedView() { Reset(); }
    ScopedView(const ScopedView&) = delete;
    ScopedView& operator=(const ScopedView&) = delete;
    unsigned char* Get() const { return base_; }
    void Reset(void* base = nullptr) {
        if (base_ != nullptr) UnmapViewOfFile(base_);
        base_ = static_cast<unsigned char*>(base);
    }

private:
    unsigned char* base_;
};

// Security attributes with a present NULL DACL, as the module builds them.
struct NullDaclAttributes {
    NullDaclAttributes() {
        InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
        attributes.nLength = sizeof(SECURITY_ATTRIBUTES);
        attributes.lpSecurityDescriptor = &descriptor;
        attributes.bInheritHandle = FALSE;
    }
    SECURITY_DESCRIPTOR descriptor{};
    SECURITY_ATTRIBUTES attributes{};
};

// Where an object of this test's namespace lives in /dev/shm.
inline std::string SharedMemoryPath(const IsolatedEnvironment& environment,
                                    const std::string& bareName) {
    return "/dev/shm/" + environment.Namespace() + "." + bareName;
}

inline bool PathExists(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

// The second process of the named-object tests (named_object_peer.cpp lists
// its commands).
class Peer {
public:
    static constexpr std::chrono::seconds kReplyTimeout{30};

    Peer() : process_(ExecutableDirectory() + "/qv_named_object_peer", {}) {}
    bool Ready() { return process_.WaitForLine("ready", kReplyTimeout); }
    // Sends one command and returns the one-line answer ("" on timeout).
    std::string Ask(const std::string& command) {
        if (!process_.Write(command + "\n")) return "";
        return Reply();
    }
    void Send(const std::string& command) { process_.Write(command + "\n"); }
    std::string Reply() { return process_.ReadLine(kReplyTimeout).value_or(""); }
    bool Exit() {
        process_.Write("exit\n");
        return process_.Wait(kReplyTimeout) == 0;
    }
    bool Kill() {
        process_.Kill(SIGKILL);
        return process_.Wait(kReplyTimeout) == -SIGKILL;
    }

private:
    ChildProcess process_;
};

}  // namespace qv::test
