// Per-test isolation: a shared-memory namespace and a C: drive of its own.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace qv::test {

// Sets QVSNMP_NAMESPACE and QVSNMP_DRIVE_C for this process (and the children
// it starts) to values no other test uses, creates the drive directory and
// removes it again on destruction.
class IsolatedEnvironment {
public:
    IsolatedEnvironment();
    ~IsolatedEnvironment();
    IsolatedEnvironment(const IsolatedEnvironment&) = delete;
    IsolatedEnvironment& operator=(const IsolatedEnvironment&) = delete;

    const std::string& Namespace() const { return namespace_; }
    const std::filesystem::path& DriveC() const { return driveC_; }

    // Creates C:\QVTEMP\QVSNMPDEBUG, which switches the log and trace files on.
    void CreateDebugDirectory() const;
    std::filesystem::path DebugDirectory() const;

    // Shared-memory objects of this namespace still present in /dev/shm.
    std::vector<std::string> LeftoverSharedMemory() const;

private:
    std::string namespace_;
    std::filesystem::path root_;
    std::filesystem::path driveC_;
    std::string previousNamespace_;
    std::string previousDrive_;
    bool hadNamespace_ = false;
    bool hadDrive_ = false;
};

// Whole content of a file as bytes; empty when it does not exist.
std::string ReadFileBytes(const std::filesystem::path& path);

}  // namespace qv::test
