// Events, waits and critical sections.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform_test_util.h"
#include "qv_windows.h"
#include "support/test_environment.h"

namespace qv::test {
namespace {

using namespace std::chrono_literals;

class EventTest : public ::testing::Test {
protected:
    IsolatedEnvironment environment_;
};

bool WaitUntil(const std::atomic<int>& value, int expected) {
    for (int i = 0; i < 500; ++i) {
        if (value.load() >= expected) return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

TEST_F(EventTest, AutoResetEventReleasesExactlyOneWaiterPerSignal) {
    ScopedHandle event(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    ASSERT_NE(event.Get(), nullptr);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            if (WaitForSingleObject(event.Get(), 10000) == WAIT_OBJECT_0) ++released;
        });
    }
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(released.load(), 0);
    for (int signal = 1; signal <= 3; ++signal) {
        ASSERT_TRUE(SetEvent(event.Get()));
        ASSERT_TRUE(WaitUntil(released, signal));
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(released.load(), signal);
    }
    for (auto& waiter : waiters) waiter.join();
    // Every signal was consumed by its waiter.
    EXPECT_EQ(WaitForSingleObject(event.Get(), 0), WAIT_TIMEOUT);
}

TEST_F(EventTest, AutoResetSignalIsConsumedByOneWaitAndManualResetStays) {
    ScopedHandle automatic(CreateEventW(nullptr, FALSE, TRUE, nullptr));
    EXPECT_EQ(WaitForSingleObject(automatic.Get(), 0), WAIT_OBJECT_0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(automatic.Get(), 60), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 60ms);
    SetEvent(automatic.Get());
    SetEvent(automatic.Get());  // signals do not add up
    EXPECT_EQ(WaitForSingleObject(automatic.Get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic.Get(), 0), WAIT_TIMEOUT);

    ScopedHandle manual(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    EXPECT_EQ(WaitForSingleObject(manual.Get(), 0), WAIT_TIMEOUT);
    ASSERT_TRUE(SetEvent(manual.Get()));
    EXPECT_EQ(WaitForSingleObject(manual.Get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual.Get(), INFINITE), WAIT_OBJECT_0);
    ASSERT_TRUE(ResetEvent(manual.Get()));
    EXPECT_EQ(WaitForSingleObject(manual.Get(), 0), WAIT_TIMEOUT);
}

TEST_F(EventTest, NamedEventsAndForeignHandlesAreRefused) {
    EXPECT_EQ(CreateEventW(nullptr, FALSE, FALSE, L"Global\\QVEvent"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    ScopedHandle mapping(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            4096, nullptr));
    EXPECT_FALSE(SetEvent(mapping.Get()));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(0x5550), 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

// ---- critical sections ---------------------------------------------------------------

class CriticalSectionTest : public ::testing::Test {
protected:
    void SetUp() override { InitializeCriticalSection(&section_); }
    void TearDown() override { DeleteCriticalSection(&section_); }

    bool OtherThreadCanEnter() {
        bool entered = false;
        std::thread other([&] {
            entered = TryEnterCriticalSection(&section_) != FALSE;
            if (entered) LeaveCriticalSection(&section_);
        });
        other.join();
        return entered;
    }

    IsolatedEnvironment environment_;
    CRITICAL_SECTION section_;
};

TEST_F(CriticalSectionTest, OwnerMayReenterAndOnlyItsLastLeaveReleases) {
    EnterCriticalSection(&section_);
    EXPECT_TRUE(TryEnterCriticalSection(&section_));
    EnterCriticalSection(&section_);
    EXPECT_FALSE(OtherThreadCanEnter());
    LeaveCriticalSection(&section_);
    LeaveCriticalSection(&section_);
    // A leave by a thread that does not own the section changes nothing.
    std::thread intruder([&] { LeaveCriticalSection(&section_); });
    intruder.join();
    EXPECT_FALSE(OtherThreadCanEnter());
    LeaveCriticalSection(&section_);
    EXPECT_TRUE(OtherThreadCanEnter());
}

TEST_F(CriticalSectionTest, SectionExcludesConcurrentUpdates) {
    long counter = 0;  // deliberately not atomic: only the section protects it
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                EnterCriticalSection(&section_);
                EnterCriticalSection(&section_);
                ++counter;
                LeaveCriticalSection(&section_);
                LeaveCriticalSection(&section_);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(counter, 80000);
}

}  // namespace
}  // namespace qv::test
