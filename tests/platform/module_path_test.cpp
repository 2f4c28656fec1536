// GetModuleFileNameW and _wsplitpath_s.
#include <dlfcn.h>

#include <gtest/gtest.h>

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

TEST(ModuleFileNameTest, ExecutableIsPresentedOnDriveZWithBackslashes) {
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    const std::wstring expected = ExpectedExecutablePath();
    ASSERT_EQ(length, expected.size());
    EXPECT_EQ(std::wstring(buffer), expected);
    EXPECT_EQ(std::wstring(buffer).substr(expected.size() - 18), L"\\qv_platform_tests");
}

TEST(ModuleFileNameTest, TooSmallBufferIsTruncatedTerminatedAndReported) {
    const std::wstring expected = ExpectedExecutablePath();
    std::wstring buffer(expected.size() + 4, L'#');
    const DWORD size = static_cast<DWORD>(expected.size());  // no room for the terminator
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(GetModuleFileNameW(nullptr, buffer.data(), size), size);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(buffer[size - 1], L'\0');
    EXPECT_EQ(std::wstring(buffer.c_str()), expected.substr(0, size - 1));
    EXPECT_EQ(buffer[size], L'#');

    EXPECT_EQ(GetModuleFileNameW(nullptr, buffer.data(), size + 1), size);
    EXPECT_EQ(std::wstring(buffer.c_str()), expected);
    wchar_t tiny[1] = {L'#'};
    EXPECT_EQ(GetModuleFileNameW(nullptr, tiny, 1), 1u);
    EXPECT_EQ(tiny[0], L'\0');
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
}

TEST(ModuleFileNameTest, AddressOutsideAnyModuleIsNotFound) {
    int onTheStack = 0;
    wchar_t buffer[MAX_PATH];
    EXPECT_EQ(GetModuleFileNameW(&onTheStack, buffer, MAX_PATH), 0u);
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

TEST(SplitPathErrorsTest, NullOutputsAreSkippedWhenTheirSizeIsZero) {
    wchar_t fname[16];
    ASSERT_EQ(_wsplitpath_s(L"C:\\a\\b.c", nullptr, 0, nullptr, 0, fname, 16, nullptr, 0), 0);
    EXPECT_STREQ(fname, L"b");
}

TEST(SplitPathErrorsTest, InconsistentArgumentsAreEinvalAndEmptyTheOutputs) {
    wchar_t drive[3] = L"X";
    wchar_t dir[16] = L"X";
    wchar_t fname[16] = L"X";
    wchar_t ext[16] = L"X";
    EXPECT_EQ(_wsplitpath_s(nullptr, drive, 3, dir, 16, fname, 16, ext, 16), EINVAL);
    EXPECT_STREQ(drive, L"");
    EXPECT_STREQ(ext, L"");
    fname[0] = L'X';
    EXPECT_EQ(_wsplitpath_s(L"a.b", drive, 3, nullptr, 16, fname, 16, ext, 16), EINVAL);
    EXPECT_STREQ(fname, L"");
    EXPECT_EQ(_wsplitpath_s(L"a.b", drive, 0, dir, 16, fname, 16, ext, 16), EINVAL);
}

TEST(SplitPathErrorsTest, TooSmallBufferIsErangeAndEmptiesEveryOutput) {
    wchar_t drive[3];
    wchar_t dir[16];
    wchar_t fname[4];
    wchar_t ext[16];
    EXPECT_EQ(_wsplitpath_s(L"C:\\dir\\name.txt", drive, 3, dir, 16, fname, 4, ext, 16), ERANGE);
    EXPECT_STREQ(drive, L"");
    EXPECT_STREQ(dir, L"");
    EXPECT_STREQ(fname, L"");
    EXPECT_STREQ(ext, L"");
    // Exactly enough room for the name and its terminator.
    wchar_t fit[5];
    EXPECT_EQ(_wsplitpath_s(L"C:\\dir\\name.txt", drive, 3, dir, 16, fit, 5, ext, 16), 0);
    EXPECT_STREQ(fit, L"name");
    wchar_t shortDrive[2];
    EXPECT_EQ(_wsplitpath_s(L"C:\\x", shortDrive, 2, dir, 16, fit, 5, ext, 16), ERANGE);
}

}  // namespace
}  // namespace qv::test
