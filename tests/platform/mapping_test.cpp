// Named and unnamed file mappings within one process.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform_test_util.h"
#include "qv_windows.h"
#include "support/test_environment.h"

namespace qv::test {
namespace {

constexpr DWORD kRegionSize = 1024 * 1024;

class FileMappingTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(environment_.LeftoverSharedMemory().empty()); }

    HANDLE Create(const char* name, DWORD size = kRegionSize) {
        return CreateFileMappingA(INVALID_HANDLE_VALUE, &nullDacl_.attributes, PAGE_READWRITE, 0,
                                  size, name);
    }

    IsolatedEnvironment environment_;
    NullDaclAttributes nullDacl_;
};

TEST_F(FileMappingTest, FirstCreatorGetsSuccessLaterCreatorsAlreadyExists) {
    SetLastError(ERROR_GEN_FAILURE);
    ScopedHandle first(Create("Global\\QVA"));
    ASSERT_NE(first.Get(), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);

    ScopedHandle second(Create("Global\\QVA"));
    ASSERT_NE(second.Get(), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_NE(first.Get(), second.Get());

    ScopedView one(MapViewOfFile(first.Get(), FILE_MAP_WRITE, 0, 0, 0));
    ScopedView two(MapViewOfFile(second.Get(), FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(one.Get(), nullptr);
    ASSERT_NE(two.Get(), nullptr);
    one.Get()[kRegionSize - 1] = 0x5A;
    EXPECT_EQ(two.Get()[kRegionSize - 1], 0x5A);
}

TEST_F(FileMappingTest, FreshObjectIsZeroFilledAndExistingOneKeepsItsSize) {
    ScopedHandle mapping(Create("Global\\QVZ", 128 * 1024));
    ASSERT_NE(mapping.Get(), nullptr);
    ScopedView view(MapViewOfFile(mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(view.Get(), nullptr);
    for (DWORD i = 0; i < 128 * 1024; ++i) {
        ASSERT_EQ(view.Get()[i], 0) << "at " << i;
    }

    // A later creator asking for more gets the object as it is.
    ScopedHandle larger(Create("Global\\QVZ", 256 * 1024));
    ASSERT_NE(larger.Get(), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(MapViewOfFile(larger.Get(), FILE_MAP_WRITE, 0, 0, 256 * 1024), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    ScopedView whole(MapViewOfFile(larger.Get(), FILE_MAP_WRITE, 0, 0, 128 * 1024));
    EXPECT_NE(whole.Get(), nullptr);
}

TEST_F(FileMappingTest, CreateAfterLastReleaseStartsAfresh) {
    {
        ScopedHandle mapping(Create("Global\\QVR"));
        ScopedView view(MapViewOfFile(mapping.Get(), FILE_MAP_WRITE, 0, 0, 0));
        ASSERT_NE(view.Get(), nullptr);
        view.Get()[100] = 0xAB;
    }
    EXPECT_FALSE(PathExists(SharedMemoryPath(environment_, "QVR")));

    ScopedHandle again(Create("Global\\QVR"));
    ASSERT_NE(again.Get(), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    ScopedView view(MapViewOfFile(again.Get(), FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(view.Get(), nullptr);
    EXPECT_EQ(view.Get()[100], 0);
}

TEST_F(FileMappingTest, OpenFindsOnlyHeldObjects) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "Global\\QVO"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    ScopedHandle created(Create("Global\\QVO"));
    ScopedView writer(MapViewOfFile(created.Get(), FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(writer.Get(), nullptr);
    writer.Get()[7] = 42;

    ScopedHandle opened(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "Global\\QVO"));
    ASSERT_NE(opened.Get(), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    ScopedView reader(MapViewOfFile(opened.Get(), FILE_MAP_READ, 0, 0, 0));
    ASSERT_NE(reader.Get(), nullptr);
    EXPECT_EQ(reader.Get()[7], 42);
}

// As on Windows, a view keeps the memory but not the name: once the last
// handle is closed the name is free, and a new creator gets a fresh object
// while the old view still sees the old one. (An agent that closed its handles
// too early was caught by this difference.)
TEST_F(FileMappingTest, LastHandleTakesTheNameAwayEvenWhileAViewRemains) {
    HANDLE mapping = Create("Global\\QVV");
    ASSERT_NE(mapping, nullptr);
    ScopedView view(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(view.Get(), nullptr);
    ASSERT_TRUE(CloseHandle(mapping));

    view.Get()[3] = 9;
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "Global\\QVV"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(PathExists(SharedMemoryPath(environment_, "QVV")));

    ScopedHandle again(Create("Global\\QVV"));
    ASSERT_NE(again.Get(), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    ScopedView fresh(MapViewOfFile(again.Get(), FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(fresh.Get(), nullptr);
    EXPECT_EQ(fresh.Get()[3], 0);
    fresh.Get()[3] = 7;
    EXPECT_EQ(view.Get()[3], 9);
}

TEST_F(FileMappingTest, GlobalLocalAndBareNamesMeetInTheNamespace) {
    ScopedHandle global(Create("Global\\QV1.3.6.1.4.1"));
    ASSERT_NE(global.Get(), nullptr);
    EXPECT_TRUE(PathExists(SharedMemoryPath(environment_, "QV1.3.6.1.4.1")));

    ScopedHandle local(OpenFileMappingA(FILE_MAP_READ, FALSE, "Local\\QV1.3.6.1.4.1"));
    EXPECT_NE(local.Get(), nullptr);
    ScopedHandle bare(Create("QV1.3.6.1.4.1"));
    ASSERT_NE(bare.Get(), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    ScopedHandle wide(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                         kRegionSize, L"global\\QV1.3.6.1.4.1"));
    ASSERT_NE(wide.Get(), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
}

TEST_F(FileMappingTest, NamespaceVariableSeparatesObjects) {
    ScopedHandle mapping(Create("Global\\QVN"));
    ASSERT_NE(mapping.Get(), nullptr);
    const std::string own = environment_.Namespace();
    ::setenv("QVSNMP_NAMESPACE", (own + "x").c_str(), 1);
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, "Global\\QVN"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    ::setenv("QVSNMP_NAMESPACE", own.c_str(), 1);
    ScopedHandle opened(OpenFileMappingA(FILE_MAP_READ, FALSE, "Global\\QVN"));
    EXPECT_NE(opened.Get(), nullptr);
}

TEST_F(FileMappingTest, MalformedNamesAreRejected) {
    for (const char* name : {"Global\\a\\b", "a/b", "Global\\", "", "Local\\..", "x\\y"}) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(Create(name), nullptr) << name;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME) << name;
        EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, name), nullptr) << name;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME) << name;
    }
}

TEST_F(FileMappingTest, ViewsCheckHandleAccessOffsetAndSize) {
    ScopedHandle mapping(Create("Global\\QVW", 256 * 1024));
    ASSERT_NE(mapping.Get(), nullptr);
    EXPECT_EQ(MapViewOfFile(mapping.Get(), FILE_MAP_WRITE, 0, 4096, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MAPPED_ALIGNMENT);
    EXPECT_EQ(MapViewOfFile(mapping.Get(), FILE_MAP_WRITE, 0, 0, 256 * 1024 + 1), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(MapViewOfFile(mapping.Get(), FILE_MAP_WRITE, 0, 256 * 1024, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    ScopedView whole(MapViewOfFile(mapping.Get(), FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(whole.Get(), nullptr);
    whole.Get()[64 * 1024 + 5] = 77;
    ScopedView tail(MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 64 * 1024, 0));
    ASSERT_NE(tail.Get(), nullptr);
    EXPECT_EQ(tail.Get()[5], 77);

    ScopedHandle readOnly(OpenFileMappingA(FILE_MAP_READ, FALSE, "Global\\QVW"));
    ASSERT_NE(readOnly.Get(), nullptr);
    EXPECT_EQ(MapViewOfFile(readOnly.Get(), FILE_MAP_WRITE, 0, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    ScopedView reading(MapViewOfFile(readOnly.Get(), FILE_MAP_READ, 0, 0, 0));
    EXPECT_NE(reading.Get(), nullptr);

    // Write access includes reading.
    ScopedHandle writeOnly(OpenFileMappingA(FILE_MAP_WRITE, FALSE, "Global\\QVW"));
    ASSERT_NE(writeOnly.Get(), nullptr);
    ScopedView readThroughWrite(MapViewOfFile(writeOnly.Get(), FILE_MAP_READ, 0, 0, 0));
    EXPECT_NE(readThroughWrite.Get(), nullptr);
}

// A second unmap or close, as a double release in the module would do, is
// refused without touching anything.
TEST_F(FileMappingTest, SecondUnmapAndCloseAreRefused) {
    HANDLE mapping = Create("Global\\QVB");
    ASSERT_NE(mapping, nullptr);
    void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(UnmapViewOfFile(view));
    EXPECT_FALSE(UnmapViewOfFile(view));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_ADDRESS);
    EXPECT_TRUE(CloseHandle(mapping));
    EXPECT_FALSE(CloseHandle(mapping));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(FileMappingTest, NullDaclObjectIsOpenToAllUsersWhateverTheUmask) {
    const mode_t previous = ::umask(077);
    ScopedHandle open(Create("Global\\QVM"));
    ScopedHandle owner(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                          "Global\\QVP"));
    ::umask(previous);
    ASSERT_NE(open.Get(), nullptr);
    ASSERT_NE(owner.Get(), nullptr);
    struct stat status {};
    ASSERT_EQ(::stat(SharedMemoryPath(environment_, "QVM").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0666u);
    ASSERT_EQ(::stat(SharedMemoryPath(environment_, "QVP").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST_F(FileMappingTest, UnnamedMappingsArePrivateAndLeaveNoName) {
    ScopedHandle a(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                      nullptr));
    ASSERT_NE(a.Get(), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    ScopedHandle b(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                      nullptr));
    ASSERT_NE(b.Get(), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    ScopedView viewA(MapViewOfFile(a.Get(), FILE_MAP_WRITE, 0, 0, 0));
    ScopedView viewB(MapViewOfFile(b.Get(), FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(viewA.Get(), nullptr);
    ASSERT_NE(viewB.Get(), nullptr);
    viewA.Get()[0] = 1;
    EXPECT_EQ(viewB.Get()[0], 0);
}

TEST_F(FileMappingTest, ChurningHoldersAlwaysHoldTheObjectTheNameLeadsTo) {
    // Opens of one name in two threads act as two processes would (each open
    // carries its own locks). While one releases (and may unlink) the other
    // creates; an object that lost its name must never be handed out.
    std::atomic<int> strays{0};
    const auto churn = [&](unsigned char tag) {
        for (int i = 0; i < 1500; ++i) {
            ScopedHandle mapping(Create("Global\\QVC", 65536));
            ScopedView mine(MapViewOfFile(mapping.Get(), FILE_MAP_WRITE, 0, 0, 0));
            ScopedHandle byName(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "Global\\QVC"));
            ScopedView found(MapViewOfFile(byName.Get(), FILE_MAP_WRITE, 0, 0, 0));
            if (mine.Get() == nullptr || found.Get() == nullptr) {
                ++strays;
                continue;
            }
            mine.Get()[tag] = static_cast<unsigned char>(i);
            if (found.Get()[tag] != static_cast<unsigned char>(i)) ++strays;
        }
    };
    std::thread other(churn, 1);
    churn(2);
    other.join();
    EXPECT_EQ(strays.load(), 0);
}

}  // namespace
}  // namespace qv::test
