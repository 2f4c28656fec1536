// Threads and thread message queues.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform_test_util.h"
#include "qv_windows.h"
#include "support/test_environment.h"

namespace qv::test {
namespace {

constexpr DWORD kLongWait = 5000;

class ThreadTest : public ::testing::Test {
protected:
    IsolatedEnvironment environment_;
};

struct Gate {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~Gate() { CloseHandle(event); }
    void Open() const { SetEvent(event); }
    bool Pass(DWORD milliseconds = kLongWait) const {
        return WaitForSingleObject(event, milliseconds) == WAIT_OBJECT_0;
    }
};

DWORD ExitCodeOf(HANDLE thread) {
    DWORD code = 0xDEAD;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    return code;
}

TEST_F(ThreadTest, SuspendedThreadRunsOnlyAfterResumeUnderItsReportedId) {
    static std::atomic<DWORD> seenId;
    seenId = 0;
    DWORD id = 0;
    ScopedHandle thread(CreateThread(
        nullptr, 64 * 1024, [](LPVOID) -> DWORD {
            seenId = GetCurrentThreadId();
            return 42;
        },
        nullptr, CREATE_SUSPENDED, &id));
    ASSERT_NE(thread.Get(), nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(WaitForSingleObject(thread.Get(), 50), WAIT_TIMEOUT);
    EXPECT_EQ(seenId.load(), 0u);
    EXPECT_EQ(ExitCodeOf(thread.Get()), STILL_ACTIVE);

    EXPECT_EQ(ResumeThread(thread.Get()), 1u);
    ASSERT_EQ(WaitForSingleObject(thread.Get(), kLongWait), WAIT_OBJECT_0);
    EXPECT_EQ(seenId.load(), id);
    EXPECT_NE(id, GetCurrentThreadId());
    EXPECT_EQ(ExitCodeOf(thread.Get()), 42u);
    EXPECT_EQ(ResumeThread(thread.Get()), 0u);
    // Handles are typed: an event is not a thread.
    ScopedHandle event(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    DWORD code = 0;
    EXPECT_FALSE(GetExitCodeThread(event.Get(), &code));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(ThreadTest, ClosingTheHandleLeavesTheThreadRunning) {
    static std::atomic<bool> finished;
    finished = false;
    Gate gate;
    HANDLE thread = CreateThread(
        nullptr, 0, [](LPVOID parameter) -> DWORD {
            static_cast<Gate*>(parameter)->Pass();
            finished = true;
            return 0;
        },
        &gate, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(CloseHandle(thread));
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_FAILED);
    gate.Open();
    for (int i = 0; i < 500 && !finished; ++i) Sleep(10);
    EXPECT_TRUE(finished);
}

TEST_F(ThreadTest, LastErrorBelongsToEachThread) {
    SetLastError(ERROR_ACCESS_DENIED);
    static std::atomic<DWORD> seenInThread;
    ScopedHandle thread(CreateThread(
        nullptr, 0, [](LPVOID) -> DWORD {
            seenInThread = GetLastError();
            SetLastError(ERROR_DISK_FULL);
            return 0;
        },
        nullptr, 0, nullptr));
    ASSERT_EQ(WaitForSingleObject(thread.Get(), kLongWait), WAIT_OBJECT_0);
    EXPECT_EQ(seenInThread.load(), ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

// ---- message queues ----------------------------------------------------------------

class ThreadMessageQueueTest : public ::testing::Test {
protected:
    // Gives the calling (test) thread its queue, empty: the test thread keeps
    // its queue from one test to the next when they share a process.
    void SetUp() override { Drain(); }
    void TearDown() override { Drain(); }
    static void Drain() {
        MSG ignored;
        while (PeekMessageW(&ignored, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    // A new thread has no queue until its first message call: post until one is there.
    static bool PostOnceTheQueueExists(DWORD id, UINT message) {
        for (int i = 0; i < 500; ++i) {
            if (PostThreadMessageW(id, message, 0, 0)) return true;
            Sleep(2);
        }
        return false;
    }
    IsolatedEnvironment environment_;
};

TEST_F(ThreadMessageQueueTest, PeekKeepsOrderAndFiltersButQuitAlwaysPasses) {
    const DWORD self = GetCurrentThreadId();
    ASSERT_TRUE(PostThreadMessageW(self, WM_COMMAND, 11, -11));
    ASSERT_TRUE(PostThreadMessageW(self, WM_USER + 5, 2, 0));
    ASSERT_TRUE(PostThreadMessageW(self, WM_USER + 6, 3, 0));
    MSG msg{};
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
        EXPECT_EQ(msg.message, WM_COMMAND);
    }
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_USER, WM_USER + 10, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 2u);
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_USER + 7, WM_USER + 10, PM_NOREMOVE));
    ASSERT_TRUE(PostThreadMessageW(self, WM_QUIT, 0, 0));
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_USER + 7, WM_USER + 10, PM_NOREMOVE));
    EXPECT_EQ(msg.message, WM_QUIT);
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_COMMAND);
    EXPECT_EQ(msg.wParam, 11u);
    EXPECT_EQ(msg.lParam, -11);
    EXPECT_EQ(msg.hwnd, nullptr);
    for (UINT expected : {WM_USER + 6, WM_QUIT}) {
        ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
        EXPECT_EQ(msg.message, expected);
    }
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
}

// The worker's stop protocol: it looks only at the head of its queue without
// removing anything, and stops when WM_QUIT is there.
DWORD WINAPI PollUntilQuitAtHead(LPVOID parameter) {
    auto* limit = static_cast<std::atomic<int>*>(parameter);
    for (;;) {
        MSG msg;
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE) && msg.message == WM_QUIT) return 7;
        if (limit->fetch_sub(1) <= 0) return 1;
        Sleep(5);
    }
}

TEST_F(ThreadMessageQueueTest, QueueLivesFromTheFirstPeekToTheThreadsEndAndQuitAtTheHeadStopsIt) {
    std::atomic<int> limit{2000};
    DWORD id = 0;
    ScopedHandle thread(CreateThread(nullptr, 0, &PollUntilQuitAtHead, &limit, CREATE_SUSPENDED, &id));
    ASSERT_NE(thread.Get(), nullptr);
    EXPECT_FALSE(PostThreadMessageW(id, WM_QUIT, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
    ResumeThread(thread.Get());
    ASSERT_TRUE(PostOnceTheQueueExists(id, WM_QUIT));
    ASSERT_EQ(WaitForSingleObject(thread.Get(), kLongWait), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCodeOf(thread.Get()), 7u);
    // Gone by the time the handle is signalled.
    EXPECT_FALSE(PostThreadMessageW(id, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
}

TEST_F(ThreadMessageQueueTest, QuitBehindAnotherMessageIsNotSeenByAHeadPeek) {
    std::atomic<int> limit{1000000};
    DWORD id = 0;
    ScopedHandle thread(CreateThread(nullptr, 0, &PollUntilQuitAtHead, &limit, 0, &id));
    ASSERT_NE(thread.Get(), nullptr);
    ASSERT_TRUE(PostOnceTheQueueExists(id, WM_USER));
    ASSERT_TRUE(PostThreadMessageW(id, WM_QUIT, 0, 0));
    EXPECT_EQ(WaitForSingleObject(thread.Get(), 150), WAIT_TIMEOUT);
    limit = 0;
    ASSERT_EQ(WaitForSingleObject(thread.Get(), kLongWait), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCodeOf(thread.Get()), 1u);
}

// GetMessageW is covered by CWinThread's run loop (tests/mfc).

// Linux reuses thread ids: a queue left behind by a thread that was not made
// by CreateThread would take the posts meant for a later thread.
TEST_F(ThreadMessageQueueTest, QueueOfAPlainStdThreadGoesWithIt) {
    std::atomic<DWORD> id{0};
    std::thread plain([&] {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
        id = GetCurrentThreadId();
    });
    plain.join();
    EXPECT_FALSE(PostThreadMessageW(id, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
}

}  // namespace
}  // namespace qv::test
