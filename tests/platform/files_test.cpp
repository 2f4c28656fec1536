// CreateFile dispositions, file I/O and the translation of Windows paths.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform_test_util.h"
#include "qv_platform.h"
#include "qv_windows.h"
#include "support/test_environment.h"

namespace qv::test {
namespace {

class CreateFileTest : public ::testing::Test {
protected:
    std::filesystem::path OnDriveC(const std::string& relative) const {
        return environment_.DriveC() / relative;
    }
    void Put(const std::string& relative, const std::string& content) const {
        std::ofstream(OnDriveC(relative), std::ios::binary) << content;
    }
    static HANDLE Open(const char* path, DWORD disposition,
                       DWORD access = GENERIC_READ | GENERIC_WRITE) {
        return CreateFileA(path, access, FILE_SHARE_READ, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    static bool Write(HANDLE file, const std::string& text) {
        DWORD written = 0;
        return WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
               written == text.size();
    }

    IsolatedEnvironment environment_;
};

struct DispositionCase {
    const char* name;
    DWORD disposition;
    DWORD access;
    const char* before;  // content of C:\f.txt beforehand; null: no such file
    bool opens;
    DWORD lastError;
    const char* after;  // content afterwards; null: still no such file
};

class CreateFileDispositionTest : public CreateFileTest,
                                  public ::testing::WithParamInterface<DispositionCase> {};

TEST_P(CreateFileDispositionTest, OpensCreatesOrTruncatesAndReportsWhatItFound) {
    const DispositionCase& c = GetParam();
    if (c.before != nullptr) Put("f.txt", c.before);
    SetLastError(ERROR_GEN_FAILURE);
    ScopedHandle file(Open("C:\\f.txt", c.disposition, c.access));
    EXPECT_EQ(file.Get() != INVALID_HANDLE_VALUE, c.opens);
    EXPECT_EQ(GetLastError(), c.lastError);
    file.Reset();
    EXPECT_EQ(std::filesystem::exists(OnDriveC("f.txt")), c.after != nullptr);
    EXPECT_EQ(ReadFileBytes(OnDriveC("f.txt")), c.after != nullptr ? c.after : "");
}

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;

INSTANTIATE_TEST_SUITE_P(
    Dispositions, CreateFileDispositionTest,
    ::testing::Values(
        DispositionCase{"CreateNewMakesTheFile", CREATE_NEW, kReadWrite, nullptr, true, ERROR_SUCCESS, ""},
        DispositionCase{"CreateNewRefusesAnExistingFile", CREATE_NEW, kReadWrite, "old", false, ERROR_FILE_EXISTS, "old"},
        DispositionCase{"OpenAlwaysCreates", OPEN_ALWAYS, kReadWrite, nullptr, true, ERROR_SUCCESS, ""},
        DispositionCase{"OpenAlwaysKeepsAndReportsAnExistingFile", OPEN_ALWAYS, kReadWrite, "kept", true, ERROR_ALREADY_EXISTS, "kept"},
        DispositionCase{"CreateAlwaysCreates", CREATE_ALWAYS, kReadWrite, nullptr, true, ERROR_SUCCESS, ""},
        DispositionCase{"CreateAlwaysTruncatesAndReportsAnExistingFile", CREATE_ALWAYS, GENERIC_READ, "previous", true, ERROR_ALREADY_EXISTS, ""},
        DispositionCase{"OpenExistingKeeps", OPEN_EXISTING, GENERIC_READ, "abc", true, ERROR_SUCCESS, "abc"},
        DispositionCase{"OpenExistingNeedsTheFile", OPEN_EXISTING, kReadWrite, nullptr, false, ERROR_FILE_NOT_FOUND, nullptr},
        DispositionCase{"TruncateExistingEmpties", TRUNCATE_EXISTING, kReadWrite, "12345", true, ERROR_SUCCESS, ""},
        DispositionCase{"TruncateExistingNeedsTheFile", TRUNCATE_EXISTING, kReadWrite, nullptr, false, ERROR_FILE_NOT_FOUND, nullptr},
        DispositionCase{"TruncateExistingNeedsWriteAccess", TRUNCATE_EXISTING, GENERIC_READ, "12345", false, ERROR_INVALID_PARAMETER, "12345"},
        DispositionCase{"UnknownDisposition", 0, kReadWrite, nullptr, false, ERROR_INVALID_PARAMETER, nullptr}),
    [](const ::testing::TestParamInfo<DispositionCase>& param) { return std::string(param.param.name); });

TEST_F(CreateFileTest, PathsThatCannotBeOpenedSayWhy) {
    const struct {
        const char* path;
        DWORD error;
    } cases[] = {
        // The log and trace files are switched off by a missing directory.
        {"C:\\QVTEMP\\QVSNMPDEBUG\\log.txt", ERROR_PATH_NOT_FOUND},
        {"Q:\\x.txt", ERROR_PATH_NOT_FOUND},
        {"C:\\", ERROR_ACCESS_DENIED},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Open(c.path, OPEN_ALWAYS, GENERIC_READ), INVALID_HANDLE_VALUE) << c.path;
        EXPECT_EQ(GetLastError(), c.error) << c.path;
    }
    EXPECT_FALSE(std::filesystem::exists(OnDriveC("QVTEMP")));
}

TEST_F(CreateFileTest, WritesStartAtTheBeginningUnlessSeekedToTheEnd) {
    Put("text.txt", "hello world");
    ScopedHandle file(Open("C:\\text.txt", OPEN_ALWAYS, GENERIC_WRITE));
    ASSERT_NE(file.Get(), INVALID_HANDLE_VALUE);
    ASSERT_TRUE(Write(file.Get(), "HE"));
    EXPECT_EQ(ReadFileBytes(OnDriveC("text.txt")), "HEllo world");
    EXPECT_EQ(SetFilePointer(file.Get(), 0, nullptr, FILE_END), 11u);
    ASSERT_TRUE(Write(file.Get(), "\r\n"));
    ASSERT_TRUE(FlushFileBuffers(file.Get()));
    EXPECT_EQ(ReadFileBytes(OnDriveC("text.txt")), "HEllo world\r\n");
}

TEST_F(CreateFileTest, FilePointerMovesRelativeToEachOrigin) {
    Put("data.bin", "0123456789");
    ScopedHandle file(Open("C:\\data.bin", OPEN_EXISTING));
    ASSERT_NE(file.Get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(SetFilePointer(file.Get(), 4, nullptr, FILE_BEGIN), 4u);
    EXPECT_EQ(SetFilePointer(file.Get(), 2, nullptr, FILE_CURRENT), 6u);
    EXPECT_EQ(SetFilePointer(file.Get(), -3, nullptr, FILE_END), 7u);
    char buffer[8] = {};
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(std::string(buffer, got), "789");
    ASSERT_TRUE(ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(got, 0u);

    EXPECT_EQ(SetFilePointer(file.Get(), -20, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
    EXPECT_EQ(SetFilePointer(file.Get(), 0, nullptr, FILE_CURRENT), 10u);

    // With a high part the distance is 64 bits wide.
    LONG high = 1;
    EXPECT_EQ(SetFilePointer(file.Get(), 5, &high, FILE_BEGIN), 5u);
    EXPECT_EQ(high, 1);
    high = -1;
    EXPECT_EQ(SetFilePointer(file.Get(), -2, &high, FILE_END), 8u);
    EXPECT_EQ(high, 0);
    DWORD sizeHigh = 7;
    EXPECT_EQ(GetFileSize(file.Get(), &sizeHigh), 10u);
    EXPECT_EQ(sizeHigh, 0u);
}

TEST_F(CreateFileTest, HandlesAllowOnlyTheAccessAskedFor) {
    Put("ro.txt", "abc");
    ScopedHandle reader(Open("C:\\ro.txt", OPEN_EXISTING, GENERIC_READ));
    ASSERT_NE(reader.Get(), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(Write(reader.Get(), "x"));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(FlushFileBuffers(reader.Get()));
    ScopedHandle writer(Open("C:\\ro.txt", OPEN_EXISTING, GENERIC_WRITE));
    char c = 0;
    DWORD got = 0;
    EXPECT_FALSE(ReadFile(writer.Get(), &c, 1, &got, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadFileBytes(OnDriveC("ro.txt")), "abc");
}

TEST_F(CreateFileTest, NewFilesGetDefaultPermissionsLessTheUmask) {
    const mode_t previous = ::umask(027);
    ScopedHandle file(Open("C:\\mode.txt", CREATE_NEW));
    ::umask(previous);
    ASSERT_NE(file.Get(), INVALID_HANDLE_VALUE);
    struct stat status {};
    ASSERT_EQ(::stat(OnDriveC("mode.txt").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
}

TEST_F(CreateFileTest, WideAndForwardSlashPathsReachTheSameFile) {
    std::filesystem::create_directories(OnDriveC("QVTEMP"));
    ScopedHandle wide(CreateFileW(L"c:\\QVTEMP\\Grüße.txt", GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_NE(wide.Get(), INVALID_HANDLE_VALUE);
    ASSERT_TRUE(Write(wide.Get(), "w"));
    wide.Reset();
    EXPECT_EQ(ReadFileBytes(OnDriveC("QVTEMP/Grüße.txt")), "w");
    ScopedHandle narrow(Open("C:/QVTEMP/Grüße.txt", OPEN_EXISTING, GENERIC_READ));
    EXPECT_NE(narrow.Get(), INVALID_HANDLE_VALUE);
}

TEST(NativePathTest, DrivesMapToTheirDirectoriesAndOthersHaveNoPath) {
    IsolatedEnvironment environment;
    const std::string root = environment.DriveC().string();
    const std::pair<const char*, std::string> cases[] = {
        {"C:\\QVTEMP\\x.txt", root + "/QVTEMP/x.txt"},
        {"c:/QVTEMP/QVSNMPDEBUG/SNMPlogInit.txt", root + "/QVTEMP/QVSNMPDEBUG/SNMPlogInit.txt"},
        {"Z:\\usr\\sbin\\snmpd", "/usr/sbin/snmpd"},
        {"z:/tmp/x", "/tmp/x"},
        {"/tmp/y.txt", "/tmp/y.txt"},
        {"dir\\file.txt", "dir/file.txt"},
        {"D:\\data.txt", ""},
        {"\\\\server\\share\\x", ""},
    };
    for (const auto& [windows, native] : cases) EXPECT_EQ(platform::NativePath(windows), native) << windows;

    // The drive directory is read at every call; trailing slashes do not double.
    ::setenv("QVSNMP_DRIVE_C", "/srv/other/", 1);
    EXPECT_EQ(platform::NativePath("C:\\a"), "/srv/other/a");
    ::unsetenv("QVSNMP_DRIVE_C");
    EXPECT_EQ(platform::NativePath("C:\\a"), "/var/lib/qvsnmp/drive_c/a");
    ::setenv("QVSNMP_DRIVE_C", root.c_str(), 1);
}

}  // namespace
}  // namespace qv::test
