// Named mutexes: ownership by thread, exclusion between real processes and
// abandonment when an owner dies (qv_named_object_peer is the second process).
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <future>
#include <string>
#include <thread>

#include "platform_test_util.h"
#include "qv_windows.h"
#include "support/child_process.h"
#include "support/test_environment.h"

namespace qv::test {
namespace {

using namespace std::chrono_literals;

constexpr char kName[] = "Global\\QVMUTEX";

class NamedMutexTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(environment_.LeftoverSharedMemory().empty()); }

    HANDLE Create(const char* name = kName) { return CreateMutexA(&nullDacl_.attributes, FALSE, name); }

    // Waits on another thread, so that the calling thread's ownership does not count.
    static DWORD WaitOnOtherThread(HANDLE mutex, DWORD milliseconds, bool release = true) {
        DWORD result = WAIT_FAILED;
        std::thread([&] {
            result = WaitForSingleObject(mutex, milliseconds);
            if (release && (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED)) ReleaseMutex(mutex);
        }).join();
        return result;
    }

    // The peer creates the mutex, then we open it, then the peer takes it.
    HANDLE OpenTakenByPeer(Peer& peer) {
        EXPECT_TRUE(peer.Ready());
        EXPECT_EQ(peer.Ask("mutex Global\\QVMUTEX"), "created");
        HANDLE mutex = Create();
        EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
        EXPECT_EQ(peer.Ask("take 0"), "object0");
        return mutex;
    }

    IsolatedEnvironment environment_;
    NullDaclAttributes nullDacl_;
};

TEST_F(NamedMutexTest, CreateTellsFirstCreatorFromLaterOnesAndOpenNeedsAnExistingName) {
    ScopedHandle missing(OpenMutexA(SYNCHRONIZE, FALSE, kName));
    EXPECT_EQ(missing.Get(), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    ScopedHandle first(Create());
    ASSERT_NE(first.Get(), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    ScopedHandle second(CreateMutexW(&nullDacl_.attributes, TRUE, L"Global\\QVMUTEX"));
    ASSERT_NE(second.Get(), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(WaitOnOtherThread(first.Get(), 0), WAIT_OBJECT_0)
        << "initial ownership is only for the creator";
    ScopedHandle opened(OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\QVMUTEX"));
    EXPECT_NE(opened.Get(), nullptr);
    EXPECT_TRUE(PathExists(SharedMemoryPath(environment_, "QVMUTEX")));
}

TEST_F(NamedMutexTest, OwnershipIsRecursiveAndBelongsToTheOwningThread) {
    for (const char* name : {kName, static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(name ? "named" : "unnamed");
        ScopedHandle mutex(Create(name));
        ASSERT_NE(mutex.Get(), nullptr);
        ScopedHandle other(name ? OpenMutexA(SYNCHRONIZE, FALSE, name) : nullptr);
        HANDLE secondHandle = name ? other.Get() : mutex.Get();

        ASSERT_EQ(WaitForSingleObject(mutex.Get(), 0), WAIT_OBJECT_0);
        ASSERT_EQ(WaitForSingleObject(secondHandle, 0), WAIT_OBJECT_0) << "recursion through any handle";
        EXPECT_EQ(WaitOnOtherThread(mutex.Get(), 20), WAIT_TIMEOUT);

        BOOL releasedByOther = TRUE;
        DWORD otherError = 0;
        std::thread([&] {
            releasedByOther = ReleaseMutex(mutex.Get());
            otherError = GetLastError();
        }).join();
        EXPECT_FALSE(releasedByOther);
        EXPECT_EQ(otherError, ERROR_NOT_OWNER);

        EXPECT_TRUE(ReleaseMutex(mutex.Get()));
        EXPECT_EQ(WaitOnOtherThread(mutex.Get(), 0), WAIT_TIMEOUT) << "still owned once";
        EXPECT_TRUE(ReleaseMutex(secondHandle));
        EXPECT_EQ(WaitOnOtherThread(mutex.Get(), 0), WAIT_OBJECT_0);
        EXPECT_FALSE(ReleaseMutex(mutex.Get()));
        EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
    }
}

TEST_F(NamedMutexTest, ThreadEndingAsOwnerAbandonsTheMutexOnce) {
    for (const char* name : {kName, static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(name ? "named" : "unnamed");
        ScopedHandle mutex(Create(name));
        ASSERT_NE(mutex.Get(), nullptr);
        EXPECT_EQ(WaitOnOtherThread(mutex.Get(), 0, false), WAIT_OBJECT_0);
        EXPECT_EQ(WaitForSingleObject(mutex.Get(), 10000), WAIT_ABANDONED);
        EXPECT_TRUE(ReleaseMutex(mutex.Get())) << "an abandoned mutex is owned by its new taker";
        EXPECT_EQ(WaitForSingleObject(mutex.Get(), 0), WAIT_OBJECT_0);
        EXPECT_TRUE(ReleaseMutex(mutex.Get()));
    }
}

TEST_F(NamedMutexTest, AnotherProcessOwningItExcludesUsUntilItReleases) {
    Peer peer;
    ScopedHandle mutex(OpenTakenByPeer(peer));
    ASSERT_NE(mutex.Get(), nullptr);
    EXPECT_EQ(WaitForSingleObject(mutex.Get(), 50), WAIT_TIMEOUT);
    // A waiter without a time limit is let in when the owner releases.
    std::promise<DWORD> taken;
    std::promise<void> letGo;
    std::thread waiter([&] {
        taken.set_value(WaitForSingleObject(mutex.Get(), INFINITE));
        letGo.get_future().wait();
        ReleaseMutex(mutex.Get());
    });
    EXPECT_EQ(peer.Ask("release"), "released");
    EXPECT_EQ(taken.get_future().get(), WAIT_OBJECT_0);
    EXPECT_EQ(peer.Ask("take 0"), "timeout") << "our thread owns it";
    letGo.set_value();
    waiter.join();
    EXPECT_EQ(peer.Ask("take 0"), "object0") << "released properly: not abandoned";

    // The peer's take is recursive within its thread and exclusive for us.
    EXPECT_EQ(peer.Ask("take 0"), "object0");
    EXPECT_EQ(peer.Ask("release"), "released");
    EXPECT_EQ(WaitForSingleObject(mutex.Get(), 0), WAIT_TIMEOUT);
    EXPECT_EQ(peer.Ask("release"), "released");
    EXPECT_EQ(WaitForSingleObject(mutex.Get(), 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex.Get()));
    EXPECT_TRUE(peer.Exit());
}

TEST_F(NamedMutexTest, OwnerKilledWhileHoldingItAbandonsItToTheWaiter) {
    Peer peer;
    ScopedHandle mutex(OpenTakenByPeer(peer));
    ASSERT_NE(mutex.Get(), nullptr);

    DWORD result = WAIT_FAILED;
    std::thread waiter([&] {
        result = WaitForSingleObject(mutex.Get(), 30000);
        ReleaseMutex(mutex.Get());
    });
    ASSERT_TRUE(peer.Kill());
    waiter.join();
    EXPECT_EQ(result, WAIT_ABANDONED);
    // Reported once: the next take after a proper release is an ordinary one.
    EXPECT_EQ(WaitForSingleObject(mutex.Get(), 0), WAIT_OBJECT_0);
}

TEST_F(NamedMutexTest, OwnerExitingWithoutReleaseAbandonsIt) {
    Peer peer;
    ScopedHandle mutex(OpenTakenByPeer(peer));
    ASSERT_NE(mutex.Get(), nullptr);
    ASSERT_TRUE(peer.Exit());
    EXPECT_EQ(WaitForSingleObject(mutex.Get(), 10000), WAIT_ABANDONED);
    EXPECT_TRUE(ReleaseMutex(mutex.Get()));
}

TEST_F(NamedMutexTest, MutexWhoseLastHolderDiedIsCreatedAfresh) {
    {
        Peer peer;
        ASSERT_TRUE(peer.Ready());
        ASSERT_EQ(peer.Ask("mutex Global\\QVMUTEX"), "created");
        ASSERT_EQ(peer.Ask("take 0"), "object0");
        ASSERT_TRUE(peer.Kill());
    }
    ScopedHandle mutex(Create());
    ASSERT_NE(mutex.Get(), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "nobody held the old object";
    EXPECT_EQ(WaitForSingleObject(mutex.Get(), 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex.Get()));
}

TEST_F(NamedMutexTest, TwoProcessesIncrementingUnderItLoseNoUpdate) {
    constexpr int kTimes = 2000;
    ScopedHandle region(CreateFileMappingA(INVALID_HANDLE_VALUE, &nullDacl_.attributes, PAGE_READWRITE, 0,
                                           4096, "Global\\QVMUTEXCOUNT"));
    ASSERT_NE(region.Get(), nullptr);
    ScopedView counter(MapViewOfFile(region.Get(), FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(counter.Get(), nullptr);
    Peer first;
    Peer second;
    ASSERT_TRUE(first.Ready());
    ASSERT_TRUE(second.Ready());
    ASSERT_EQ(first.Ask("mutex Global\\QVMUTEX"), "created");
    ASSERT_EQ(second.Ask("mutex Global\\QVMUTEX"), "existing");
    first.Send("count Global\\QVMUTEXCOUNT " + std::to_string(kTimes));
    second.Send("count Global\\QVMUTEXCOUNT " + std::to_string(kTimes));
    EXPECT_EQ(first.Reply(), "counted");
    EXPECT_EQ(second.Reply(), "counted");
    std::uint32_t total = 0;
    std::memcpy(&total, counter.Get(), sizeof total);
    EXPECT_EQ(total, 2u * kTimes);
    EXPECT_TRUE(first.Exit());
    EXPECT_TRUE(second.Exit());
}

}  // namespace
}  // namespace qv::test
