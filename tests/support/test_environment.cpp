#include "support/test_environment.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace qv::test {

IsolatedEnvironment::IsolatedEnvironment() {
    static std::atomic<int> serial{0};
    namespace_ = "qvt" + std::to_string(::getpid()) + "_" + std::to_string(serial++);
    driveC_ = std::filesystem::temp_directory_path() / ("qvsnmp-" + namespace_) / "drive_c";
    std::filesystem::create_directories(driveC_);
    ::setenv("QVSNMP_NAMESPACE", namespace_.c_str(), 1);
    ::setenv("QVSNMP_DRIVE_C", driveC_.c_str(), 1);
}

IsolatedEnvironment::~IsolatedEnvironment() {
    ::unsetenv("QVSNMP_NAMESPACE");
    ::unsetenv("QVSNMP_DRIVE_C");
    std::error_code ignored;
    std::filesystem::remove_all(driveC_.parent_path(), ignored);
    // Names left by processes killed holding them count as absent but take room.
    for (const std::string& name : LeftoverSharedMemory()) std::filesystem::remove("/dev/shm/" + name, ignored);
}

std::vector<std::string> IsolatedEnvironment::LeftoverSharedMemory() const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", error)) {
        if (entry.path().filename().string().rfind(namespace_ + ".", 0) == 0) names.push_back(entry.path().filename());
    }
    return names;
}

const char kExecutableSuffix[] = "";

}  // namespace qv::test
