// Threads, thread message queues, events and critical sections.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "qv_windows.h"

namespace {

// The worker's stop protocol: it looks only at the head of its queue without
// removing anything, and stops when WM_QUIT is there.
DWORD WINAPI PollUntilQuitAtHead(LPVOID limit) {
    for (MSG msg;; Sleep(5)) {
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE) && msg.message == WM_QUIT) return 7;
        if (static_cast<std::atomic<int>*>(limit)->fetch_sub(1) <= 0) return 1;
    }
}

TEST(ThreadTest, QuitAtTheHeadOfItsQueueStopsAThreadAndQuitBehindAnotherMessageDoesNot) {
    for (const bool behind : {false, true}) {
        std::atomic<int> limit{1000000};
        DWORD id = 0;
        DWORD code = 0;
        HANDLE thread = CreateThread(nullptr, 0, &PollUntilQuitAtHead, &limit, 0, &id);
        // A new thread has no queue until its first message call.
        for (int i = 0; i < 500 && !PostThreadMessageW(id, behind ? WM_USER : WM_QUIT, 0, 0); ++i) Sleep(2);
        if (behind) {
            ASSERT_TRUE(PostThreadMessageW(id, WM_QUIT, 0, 0));
            EXPECT_EQ(WaitForSingleObject(thread, 150), WAIT_TIMEOUT);
            limit = 0;
        }
        ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
        EXPECT_TRUE(GetExitCodeThread(thread, &code) && CloseHandle(thread));
        EXPECT_EQ(code, behind ? 1u : 7u);
    }
}

// Linux reuses thread ids: a queue left behind by a thread that was not made
// by CreateThread would take the posts meant for a later thread.
TEST(ThreadTest, QueueGoesWithItsThreadAndLastErrorBelongsToEachThread) {
    SetLastError(ERROR_ACCESS_DENIED);
    std::atomic<DWORD> id{0};
    std::thread([&] {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
        id = GetCurrentThreadId();
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
        SetLastError(ERROR_DISK_FULL);
    }).join();
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(PostThreadMessageW(id, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));
}

TEST(ThreadTest, AutoResetEventFreesOneWaitPerSignalAndManualResetStaysUntilReset) {
    HANDLE automatic = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE manual = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetEvent(automatic);
    SetEvent(automatic);  // signals do not add up
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 20), WAIT_TIMEOUT);
    std::thread waiter([&] { EXPECT_EQ(WaitForSingleObject(automatic, 10000), WAIT_OBJECT_0); });
    Sleep(20);
    SetEvent(automatic);
    waiter.join();
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT) << "the waiter took the signal";
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
    SetEvent(manual);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, INFINITE), WAIT_OBJECT_0);
    ResetEvent(manual);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(automatic) && CloseHandle(manual));
}

TEST(ThreadTest, CriticalSectionOwnerReentersAndOnlyItsLastLeaveLetsOthersIn) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    const auto otherThreadEnters = [&] {
        bool entered = false;
        std::thread([&] { entered = TryEnterCriticalSection(&section) && (LeaveCriticalSection(&section), true); }).join();
        return entered;
    };
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);
    EXPECT_FALSE(otherThreadEnters());
    LeaveCriticalSection(&section);
    EXPECT_FALSE(otherThreadEnters());
    LeaveCriticalSection(&section);
    EXPECT_TRUE(otherThreadEnters());
    DeleteCriticalSection(&section);
}

}  // namespace
