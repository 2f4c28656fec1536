// Named mappings against another local process that means harm: it shrinks
// the object under our views, creates it undersized in advance, or holds the
// byte locks the lifetime rules use. None of it may crash or hang us.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "qv_windows.h"
#include "support/test_environment.h"

namespace {

constexpr DWORD kSize = 0x100000;

// The attacker: a forked child that works on the /dev/shm object with plain
// system calls and, with `hold`, keeps what it did (its locks) until killed.
class Attacker {
public:
    template <typename Attack>
    Attacker(const std::string& shmName, Attack attack, bool hold) {
        int ready[2];
        if (::pipe(ready) != 0) return;
        pid_t pid = ::fork();
        if (pid == 0) {
            const int fd = ::shm_open(shmName.c_str(), O_RDWR | O_CREAT, 0666);
            const bool done = fd >= 0 && attack(fd);
            const char answer = done ? '1' : '0';
            ssize_t ignored = ::write(ready[1], &answer, 1);
            (void)ignored;
            if (hold) ::pause();
            ::_exit(0);
        }
        pid_ = pid;
        char answer = '0';
        ok_ = pid > 0 && ::read(ready[0], &answer, 1) == 1 && answer == '1';
        ::close(ready[0]);
        ::close(ready[1]);
    }
    ~Attacker() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    bool Ok() const { return ok_; }

private:
    pid_t pid_ = -1;
    bool ok_ = false;
};

bool LockByte(int fd, short type, off_t byte) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

class HostileMappingTest : public ::testing::Test {
protected:
    // What an attacker holds when it is killed stays behind; nobody unlinks it.
    void TearDown() override { ::shm_unlink(ShmName().c_str()); }
    std::string ShmName() const { return "/" + env_.Namespace() + ".QV_OUT0"; }
    static constexpr const char* kName = "Global\\QV_OUT0";
    static HANDLE Create() {
        return ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSize, kName);
    }
    qv::test::IsolatedEnvironment env_;
};

using Clock = std::chrono::steady_clock;

TEST_F(HostileMappingTest, ViewsSurviveAnotherProcessTruncatingTheObjectAndStayShared) {
    HANDLE mapping = Create();
    ASSERT_NE(mapping, nullptr);
    auto* view = static_cast<volatile unsigned char*>(::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    view[kSize - 1] = 7;

    Attacker attacker(ShmName(), [](int fd) { return ::ftruncate(fd, 0) == 0; }, false);
    ASSERT_TRUE(attacker.Ok());

    // Past the new end: SIGBUS without the guard. The truncated part reads as
    // zeros, and the memory is still the object others map.
    EXPECT_EQ(view[kSize - 1], 0);
    view[kSize - 1] = 9;
    HANDLE second = ::OpenFileMappingA(FILE_MAP_WRITE, FALSE, kName);
    ASSERT_NE(second, nullptr);
    auto* other = static_cast<unsigned char*>(::MapViewOfFile(second, FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other[kSize - 1], 9);

    ::UnmapViewOfFile(other);
    ::CloseHandle(second);
    ::UnmapViewOfFile(const_cast<unsigned char*>(view));
    ::CloseHandle(mapping);
}

TEST_F(HostileMappingTest, AnObjectMadeSmallInAdvanceIsNotMappedAsLargerThanItIs) {
    // Sized 4 KiB and holding the name lock, so it counts as a live object.
    Attacker attacker(
        ShmName(), [](int fd) { return ::ftruncate(fd, 4096) == 0 && LockByte(fd, F_RDLCK, 1); }, true);
    ASSERT_TRUE(attacker.Ok());

    HANDLE mapping = Create();
    ASSERT_NE(mapping, nullptr);
    EXPECT_EQ(::GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0), nullptr);
    EXPECT_EQ(::GetLastError(), ERROR_ACCESS_DENIED);
    ::CloseHandle(mapping);
}

TEST_F(HostileMappingTest, ALockHeldByAnotherProcessDelaysCreateAndCloseOnlyBriefly) {
    HANDLE mapping = Create();
    ASSERT_NE(mapping, nullptr);
    // The creation lock, held for ever: a close has to decide whether to take
    // the name away, a create whether the object is alive.
    Attacker attacker(ShmName(), [](int fd) { return LockByte(fd, F_WRLCK, 0); }, true);
    ASSERT_TRUE(attacker.Ok());

    auto start = Clock::now();
    EXPECT_TRUE(::CloseHandle(mapping));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));

    // The object is taken hostage; a creator gets a fresh one under the name.
    start = Clock::now();
    mapping = Create();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    ASSERT_NE(mapping, nullptr);
    EXPECT_EQ(::GetLastError(), ERROR_SUCCESS);
    void* view = ::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
    EXPECT_NE(view, nullptr);
    ::UnmapViewOfFile(view);
    ::CloseHandle(mapping);
}

}  // namespace
