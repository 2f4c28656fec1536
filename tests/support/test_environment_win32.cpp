// Per-test environment on Windows: one C: drive and one global namespace, so
// the environment clears what the module writes on C: before and after each
// test, and tests run one at a time.
#include "qv_windows.h"


#include "support/test_environment.h"

namespace qv::test {
namespace {

const std::filesystem::path kScratch = "C:\\QVTEMP";
const std::filesystem::path kLiveness = "C:\\QVSNMPALIVE.txt";

void ClearDrive() {
    std::error_code ignored;
    std::filesystem::remove_all(kScratch, ignored);
    std::filesystem::remove(kLiveness, ignored);
    std::filesystem::remove("C:\\QFLOG.txt", ignored);
}

}  // namespace

IsolatedEnvironment::IsolatedEnvironment() : driveC_("C:\\") { ClearDrive(); }

IsolatedEnvironment::~IsolatedEnvironment() { ClearDrive(); }

void IsolatedEnvironment::CreateDebugDirectory() const {
    std::filesystem::create_directories(DebugDirectory());
}

std::filesystem::path IsolatedEnvironment::DebugDirectory() const { return kScratch / "QVSNMPDEBUG"; }

std::vector<std::string> IsolatedEnvironment::LeftoverSharedMemory() const {
    std::vector<std::string> names{"Global\\QV1.3.6.1.4.1"};
    for (int i = 0; i < 16; ++i) {
        names.push_back("Global\\QV_IN1.3.6.1.4.1.39917." + std::to_string(i));
        names.push_back("Global\\QV_OUT1.3.6.1.4.1.39917." + std::to_string(i));
    }
    std::vector<std::string> open;
    for (const auto& name : names) {
        HANDLE mapping = ::OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
        if (mapping != nullptr) {
            open.push_back(name);
            ::CloseHandle(mapping);
        }
    }
    return open;
}

const char kExecutableSuffix[] = ".exe";

}  // namespace qv::test
