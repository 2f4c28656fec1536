#include "support/test_environment.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace qv::test {
namespace {

std::atomic<int> g_environmentCounter{0};

}  // namespace

IsolatedEnvironment::IsolatedEnvironment() {
    namespace_ = "qvt" + std::to_string(::getpid()) + "_" + std::to_string(g_environmentCounter.fetch_add(1));
    driveC_ = std::filesystem::temp_directory_path() / ("qvsnmp-" + namespace_) / "drive_c";
    std::filesystem::remove_all(driveC_.parent_path());
    std::filesystem::create_directories(driveC_);
    for (const char* name : {"QVSNMP_NAMESPACE", "QVSNMP_DRIVE_C"}) {
        if (const char* old = std::getenv(name)) previous_.emplace_back(name, old);
    }
    ::setenv("QVSNMP_NAMESPACE", namespace_.c_str(), 1);
    ::setenv("QVSNMP_DRIVE_C", driveC_.c_str(), 1);
}

IsolatedEnvironment::~IsolatedEnvironment() {
    ::unsetenv("QVSNMP_NAMESPACE");
    ::unsetenv("QVSNMP_DRIVE_C");
    for (const auto& [name, value] : previous_) ::setenv(name, value.c_str(), 1);
    std::error_code ignored;
    std::filesystem::remove_all(driveC_.parent_path(), ignored);
    // A test that SIGKILLs the last holder of a region leaves its name behind
    // (it counts as absent, but takes room in /dev/shm). The namespace is this
    // test's alone and its processes are gone by now.
    for (const std::string& name : LeftoverSharedMemory()) {
        std::filesystem::remove(std::filesystem::path("/dev/shm") / name, ignored);
    }
}

std::vector<std::string> IsolatedEnvironment::LeftoverSharedMemory() const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(namespace_ + ".", 0) == 0) names.push_back(name);
    }
    return names;
}

const char kExecutableSuffix[] = "";

}  // namespace qv::test
