// GetModuleFileNameW and _wsplitpath_s.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cwchar>
#include <filesystem>
#include <string>

#include "qv_windows.h"

namespace qv::test {
namespace {

std::wstring ExpectedExecutablePath() {
    const std::string linuxPath = std::filesystem::read_symlink("/proc/self/exe").string();
    std::wstring expected = L"Z:";
    for (const char c : linuxPath) expected.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(c));
    return expected;
}

TEST(ModuleFileNameTest, ExecutableIsOnDriveZAndATooSmallBufferIsTruncatedAndTerminated) {
    const std::wstring expected = ExpectedExecutablePath();
    std::wstring buffer(expected.size() + 4, L'#');
    const DWORD size = static_cast<DWORD>(expected.size());
    EXPECT_EQ(GetModuleFileNameW(nullptr, buffer.data(), size + 1), size);
    EXPECT_EQ(std::wstring(buffer.c_str()), expected);
    EXPECT_TRUE(std::wstring(buffer.c_str()).ends_with(L"\\qv_platform_tests"));

    std::fill(buffer.begin(), buffer.end(), L'#');
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(GetModuleFileNameW(nullptr, buffer.data(), size), size);  // no room for the terminator
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::wstring(buffer.c_str()), expected.substr(0, size - 1));
    EXPECT_EQ(buffer[size], L'#');
}

TEST(ModuleFileNameTest, ModuleHandleNamesTheSharedLibraryItWasLoadedFrom) {
    Dl_info info{};
    ASSERT_NE(::dladdr(reinterpret_cast<void*>(&GetModuleFileNameW), &info), 0);
    wchar_t buffer[1024];
    const DWORD length = GetModuleFileNameW(info.dli_fbase, buffer, 1024);
    ASSERT_GT(length, 0u);
    const std::wstring name(buffer, length);
    EXPECT_EQ(name.substr(0, 3), L"Z:\\");
    EXPECT_NE(name.find(L"\\libqvplatform.so"), std::wstring::npos) << std::string(name.begin(), name.end());
    EXPECT_EQ(name.find(L'/'), std::wstring::npos);

    int onTheStack = 0;
    EXPECT_EQ(GetModuleFileNameW(&onTheStack, buffer, 1024), 0u);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

// ---- _wsplitpath_s ----------------------------------------------------------------------

struct SplitCase {
    const char* name;
    const wchar_t* path;
    const wchar_t* drive;
    const wchar_t* dir;
    const wchar_t* fname;
    const wchar_t* ext;
};

class SplitPathTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitPathTest, SplitsIntoDriveDirectoryNameAndExtension) {
    const SplitCase& c = GetParam();
    wchar_t drive[3];
    wchar_t dir[256];
    wchar_t fname[256];
    wchar_t ext[256];
    ASSERT_EQ(_wsplitpath_s(c.path, drive, 3, dir, 256, fname, 256, ext, 256), 0);
    EXPECT_STREQ(drive, c.drive);
    EXPECT_STREQ(dir, c.dir);
    EXPECT_STREQ(fname, c.fname);
    EXPECT_STREQ(ext, c.ext);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, SplitPathTest,
    ::testing::Values(
        SplitCase{"DriveDirectoryNameExtension", L"C:\\WINDOWS\\System32\\snmp.exe", L"C:", L"\\WINDOWS\\System32\\", L"snmp", L".exe"},
        SplitCase{"NoExtension", L"Z:\\usr\\bin\\qv_agent", L"Z:", L"\\usr\\bin\\", L"qv_agent", L""},
        SplitCase{"OnlyTheLastDotStartsTheExtension", L"archive.tar.gz", L"", L"", L"archive.tar", L".gz"},
        SplitCase{"DotInDirectoryIsNotAnExtension", L"\\dir.d\\file", L"", L"\\dir.d\\", L"file", L""},
        SplitCase{"DriveRelative", L"C:name.txt", L"C:", L"", L"name", L".txt"},
        SplitCase{"ForwardAndBackSlashes", L"mixed/unix\\name.x", L"", L"mixed/unix\\", L"name", L".x"},
        SplitCase{"DotFileIsAllExtension", L".profile", L"", L"", L"", L".profile"},
        SplitCase{"TrailingSeparator", L"C:\\dir\\", L"C:", L"\\dir\\", L"", L""},
        SplitCase{"EmptyPath", L"", L"", L"", L"", L""}),
    [](const ::testing::TestParamInfo<SplitCase>& param) { return std::string(param.param.name); });

// The agent's path splitter relies on a failed split leaving every part empty.
TEST(SplitPathErrorsTest, BadArgumentsAndTooSmallBuffersEmptyEveryOutput) {
    wchar_t drive[3];
    wchar_t dir[16];
    wchar_t fname[5];
    wchar_t ext[16];
    const auto split = [&](const wchar_t* path, std::size_t driveSize, std::size_t fnameSize) {
        for (wchar_t* part : {drive, dir, fname, ext}) part[0] = L'X';
        const errno_t result = _wsplitpath_s(path, drive, driveSize, dir, 16, fname, fnameSize, ext, 16);
        for (wchar_t* part : {dir, fname, ext}) EXPECT_STREQ(part, L"") << path;
        EXPECT_STREQ(driveSize > 0 ? drive : L"", L"") << path;
        return result;
    };
    EXPECT_EQ(split(nullptr, 3, 5), EINVAL);
    EXPECT_EQ(split(L"a.b", 0, 5), EINVAL);  // a buffer without a size
    EXPECT_EQ(split(L"C:\\dir\\names.txt", 3, 5), ERANGE);
    EXPECT_EQ(split(L"C:\\x", 2, 5), ERANGE);
    // Exactly enough room for the name and its terminator; null parts are skipped.
    ASSERT_EQ(_wsplitpath_s(L"C:\\dir\\name.txt", nullptr, 0, nullptr, 0, fname, 5, nullptr, 0), 0);
    EXPECT_STREQ(fname, L"name");
}

}  // namespace
}  // namespace qv::test
