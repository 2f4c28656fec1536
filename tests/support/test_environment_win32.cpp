// Per-test environment on Windows: one C: drive and one global namespace.
#include "qv_windows.h"

#include "support/test_environment.h"

namespace qv::test {
namespace {

void ClearDrive() {
    std::error_code ignored;
    for (const char* path : {"C:\\QVTEMP", "C:\\QVSNMPALIVE.txt", "C:\\QFLOG.txt"}) std::filesystem::remove_all(path, ignored);
}

}  // namespace

IsolatedEnvironment::IsolatedEnvironment() : driveC_("C:\\") { ClearDrive(); }

IsolatedEnvironment::~IsolatedEnvironment() { ClearDrive(); }

// The module's names that can still be opened.
std::vector<std::string> IsolatedEnvironment::LeftoverSharedMemory() const {
    std::vector<std::string> names{"Global\\QV1.3.6.1.4.1"}, open;
    for (int i = 0; i < 16; ++i) {
        for (const char* kind : {"IN", "OUT"}) names.push_back(std::string("Global\\QV_") + kind + "1.3.6.1.4.1.39917." + std::to_string(i));
    }
    for (const auto& name : names) {
        HANDLE mapping = ::OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
        if (mapping != nullptr && ::CloseHandle(mapping)) open.push_back(name);
    }
    return open;
}

const char kExecutableSuffix[] = ".exe";

}  // namespace qv::test
