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

TEST_F(CreateFileTest, CreateNewRefusesAnExistingFile) {
    ScopedHandle made(Open("C:\\new.txt", CREATE_NEW));
    ASSERT_NE(made.Get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_TRUE(std::filesystem::exists(OnDriveC("new.txt")));
    EXPECT_EQ(Open("C:\\new.txt", CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
}

TEST_F(CreateFileTest, OpenAlwaysReportsWhetherTheFileExisted) {
    ScopedHandle created(Open("C:\\always.txt", OPEN_ALWAYS));
    ASSERT_NE(created.Get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    ASSERT_TRUE(Write(created.Get(), "kept"));
    created.Reset();

    SetLastError(ERROR_GEN_FAILURE);
    ScopedHandle opened(Open("C:\\always.txt", OPEN_ALWAYS));
    ASSERT_NE(opened.Get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(GetFileSize(opened.Get(), nullptr), 4u);
}

TEST_F(CreateFileTest, CreateAlwaysTruncatesAndReportsAnExistingFile) {
    Put("old.txt", "previous content");
    ScopedHandle file(Open("C:\\old.txt", CREATE_ALWAYS));
    ASSERT_NE(file.Get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(GetFileSize(file.Get(), nullptr), 0u);
    ScopedHandle fresh(Open("C:\\fresh.txt", CREATE_ALWAYS));
    ASSERT_NE(fresh.Get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
}

TEST_F(CreateFileTest, TruncateExistingNeedsTheFileAndWriteAccess) {
    EXPECT_EQ(Open("C:\\absent.txt", TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    Put("full.txt", "12345");
    EXPECT_EQ(Open("C:\\full.txt", TRUNCATE_EXISTING, GENERIC_READ), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    ScopedHandle file(Open("C:\\full.txt", TRUNCATE_EXISTING));
    ASSERT_NE(file.Get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileSize(file.Get(), nullptr), 0u);
}

TEST_F(CreateFileTest, MissingFileAndMissingDirectoryAreToldApart) {
    EXPECT_EQ(Open("C:\\nothing.txt", OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Open("C:\\QVTEMP\\QVSNMPDEBUG\\log.txt", OPEN_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(Open("C:\\QVTEMP\\x.txt", OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(Open("Q:\\x.txt", OPEN_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(Open("C:\\", OPEN_EXISTING, GENERIC_READ), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Open("C:\\x.txt", 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(CreateFileTest, WritesStartAtTheBeginningNotTheEnd) {
    Put("text.txt", "hello world");
    ScopedHandle file(Open("C:\\text.txt", OPEN_ALWAYS, GENERIC_WRITE));
    ASSERT_NE(file.Get(), INVALID_HANDLE_VALUE);
    ASSERT_TRUE(Write(file.Get(), "HE"));
    file.Reset();
    EXPECT_EQ(ReadFileBytes(OnDriveC("text.txt")), "HEllo world");
}

TEST_F(CreateFileTest, SeekingToTheEndThenWritingAppends) {
    Put("log.txt", "line1\r\n");
    ScopedHandle file(Open("C:\\log.txt", OPEN_ALWAYS, GENERIC_WRITE));
    ASSERT_NE(file.Get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(SetFilePointer(file.Get(), 0, nullptr, FILE_END), 7u);
    ASSERT_TRUE(Write(file.Get(), "line2\r\n"));
    ASSERT_TRUE(FlushFileBuffers(file.Get()));
    EXPECT_EQ(ReadFileBytes(OnDriveC("log.txt")), "line1\r\nline2\r\n");
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
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(high, 1);
    DWORD sizeHigh = 7;
    EXPECT_EQ(GetFileSize(file.Get(), &sizeHigh), 10u);
    EXPECT_EQ(sizeHigh, 0u);
    high = -1;
    EXPECT_EQ(SetFilePointer(file.Get(), -2, &high, FILE_END), 8u);
    EXPECT_EQ(high, 0);
    EXPECT_EQ(SetFilePointer(file.Get(), 0, nullptr, 7), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
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

    EXPECT_FALSE(WriteFile(reinterpret_cast<HANDLE>(0x9990), "x", 1, &got, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GetFileSize(INVALID_HANDLE_VALUE, nullptr), INVALID_FILE_SIZE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
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

TEST_F(CreateFileTest, ZDriveAndLinuxPathsNameTheLinuxFile) {
    const std::string linuxPath = OnDriveC("z.txt").string();
    std::string zPath = "Z:" + linuxPath;
    for (char& c : zPath) {
        if (c == '/') c = '\\';
    }
    ScopedHandle viaZ(Open(zPath.c_str(), CREATE_NEW));
    ASSERT_NE(viaZ.Get(), INVALID_HANDLE_VALUE);
    ScopedHandle viaLinux(Open(linuxPath.c_str(), OPEN_EXISTING));
    EXPECT_NE(viaLinux.Get(), INVALID_HANDLE_VALUE);
}

// ---- path translation ---------------------------------------------------------------

class NativePathTest : public ::testing::Test {
protected:
    IsolatedEnvironment environment_;
};

TEST_F(NativePathTest, DriveCLivesUnderTheConfiguredDirectory) {
    const std::string root = environment_.DriveC().string();
    EXPECT_EQ(platform::NativePath("C:\\QVTEMP\\x.txt"), root + "/QVTEMP/x.txt");
    EXPECT_EQ(platform::NativePath("c:/QVTEMP/QVSNMPDEBUG/SNMPlogInit.txt"),
              root + "/QVTEMP/QVSNMPDEBUG/SNMPlogInit.txt");
    EXPECT_EQ(platform::NativePath("C:\\QVSNMPALIVE.txt"), root + "/QVSNMPALIVE.txt");
    ::setenv("QVSNMP_DRIVE_C", "/srv/other/", 1);
    EXPECT_EQ(platform::NativePath("C:\\a"), "/srv/other/a");
    ::unsetenv("QVSNMP_DRIVE_C");
    EXPECT_EQ(platform::NativePath("C:\\a"), "/var/lib/qvsnmp/drive_c/a");
    ::setenv("QVSNMP_DRIVE_C", root.c_str(), 1);
}

TEST_F(NativePathTest, ZDriveLinuxAndRelativePathsTranslateDirectly) {
    EXPECT_EQ(platform::NativePath("Z:\\usr\\sbin\\snmpd"), "/usr/sbin/snmpd");
    EXPECT_EQ(platform::NativePath("z:/tmp/x"), "/tmp/x");
    EXPECT_EQ(platform::NativePath("/tmp/y.txt"), "/tmp/y.txt");
    EXPECT_EQ(platform::NativePath("dir\\file.txt"), "dir/file.txt");
}

TEST_F(NativePathTest, DrivesAndSharesThisSystemLacksHaveNoPath) {
    EXPECT_EQ(platform::NativePath("D:\\data.txt"), "");
    EXPECT_EQ(platform::NativePath("\\\\server\\share\\x"), "");
}

}  // namespace
}  // namespace qv::test
