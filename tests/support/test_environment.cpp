#include "support/test_environment.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace qv::test {
namespace {

std::atomic<int> g_environmentCounter{0};

void RestoreVariable(const char* name, bool had, const std::string& value) {
    if (had) {
        ::setenv(name, value.c_str(), 1);
    } else {
        ::unsetenv(name);
    }
}

}  // namespace

IsolatedEnvironment::IsolatedEnvironment() {
    const int serial = g_environmentCounter.fetch_add(1);
    namespace_ = "qvt" + std::to_string(::getpid()) + "_" + std::to_string(serial);
    root_ = std::filesystem::temp_directory_path() / ("qvsnmp-" + namespace_);
    driveC_ = root_ / "drive_c";
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(driveC_);

    if (const char* old = std::getenv("QVSNMP_NAMESPACE")) {
        hadNamespace_ = true;
        previousNamespace_ = old;
    }
    if (const char* old = std::getenv("QVSNMP_DRIVE_C")) {
        hadDrive_ = true;
        previousDrive_ = old;
    }
    ::setenv("QVSNMP_NAMESPACE", namespace_.c_str(), 1);
    ::setenv("QVSNMP_DRIVE_C", driveC_.c_str(), 1);
}

IsolatedEnvironment::~IsolatedEnvironment() {
    RestoreVariable("QVSNMP_NAMESPACE", hadNamespace_, previousNamespace_);
    RestoreVariable("QVSNMP_DRIVE_C", hadDrive_, previousDrive_);
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
    // A test that SIGKILLs the last holder of a region leaves its name behind
    // (it counts as absent, but takes room in /dev/shm). The namespace is this
    // test's alone and its processes are gone by now.
    for (const std::string& name : LeftoverSharedMemory()) {
        std::filesystem::remove(std::filesystem::path("/dev/shm") / name, ignored);
    }
}

void IsolatedEnvironment::CreateDebugDirectory() const {
    std::filesystem::create_directories(DebugDirectory());
}

std::filesystem::path IsolatedEnvironment::DebugDirectory() const {
    return driveC_ / "QVTEMP" / "QVSNMPDEBUG";
}

std::vector<std::string> IsolatedEnvironment::LeftoverSharedMemory() const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(namespace_ + ".", 0) == 0) {
            names.push_back(name);
        }
    }
    return names;
}

const char kExecutableSuffix[] = "";

}  // namespace qv::test
