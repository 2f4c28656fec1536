// Per-test isolation: a shared-memory namespace and a C: drive of its own. (On
// Windows, with one of each, tests run one at a time and C: is cleared.)
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace qv::test {

// QVSNMP_NAMESPACE and QVSNMP_DRIVE_C, for this process and its children, name
// what no other test uses; the destructor removes it and unsets them.
class IsolatedEnvironment {
public:
    IsolatedEnvironment();
    ~IsolatedEnvironment();
    IsolatedEnvironment(const IsolatedEnvironment&) = delete;
    IsolatedEnvironment& operator=(const IsolatedEnvironment&) = delete;

    const std::string& Namespace() const { return namespace_; }
    const std::filesystem::path& DriveC() const { return driveC_; }
    // C:\QVTEMP\QVSNMPDEBUG, whose presence switches the log and trace files on.
    std::filesystem::path DebugDirectory() const { return driveC_ / "QVTEMP" / "QVSNMPDEBUG"; }
    void CreateDebugDirectory() const { std::filesystem::create_directories(DebugDirectory()); }
    std::vector<std::string> LeftoverSharedMemory() const;  // objects of this namespace still there

private:
    std::string namespace_;
    std::filesystem::path driveC_;
};

extern const char kExecutableSuffix[];  // "" on Linux, ".exe" on Windows

// Whole content of a file as bytes; empty when it does not exist.
inline std::string ReadFileBytes(const std::filesystem::path& path) {
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

}  // namespace qv::test
