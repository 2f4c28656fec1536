// Threads and thread message queues.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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

TEST_F(ThreadTest, SuspendedThreadRunsOnlyAfterResume) {
    static std::atomic<bool> ran;
    ran = false;
    DWORD id = 0;
    ScopedHandle thread(CreateThread(
        nullptr, 0, [](LPVOID) -> DWORD {
            ran = true;
            return 42;
        },
        nullptr, CREATE_SUSPENDED, &id));
    ASSERT_NE(thread.Get(), nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(WaitForSingleObject(thread.Get(), 50), WAIT_TIMEOUT);
    EXPECT_FALSE(ran);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread.Get(), &code));
    EXPECT_EQ(code, STILL_ACTIVE);

    EXPECT_EQ(ResumeThread(thread.Get()), 1u);
    ASSERT_EQ(WaitForSingleObject(thread.Get(), kLongWait), WAIT_OBJECT_0);
    EXPECT_TRUE(ran);
    ASSERT_TRUE(GetExitCodeThread(thread.Get(), &code));
    EXPECT_EQ(code, 42u);
    EXPECT_EQ(ResumeThread(thread.Get()), 0u);
}

TEST_F(ThreadTest, ReportedIdIsTheThreadsOwnId) {
    static std::atomic<DWORD> seen;
    seen = 0;
    DWORD id = 0;
    ScopedHandle thread(CreateThread(
        nullptr, 64 * 1024, [](LPVOID) -> DWORD {
            seen = GetCurrentThreadId();
            return 0;
        },
        nullptr, 0, &id));
    ASSERT_NE(thread.Get(), nullptr);
    ASSERT_EQ(WaitForSingleObject(thread.Get(), INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(seen.load(), id);
    EXPECT_NE(id, GetCurrentThreadId());
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

TEST_F(ThreadTest, SleepWaitsAtLeastTheTimeAsked) {
    const auto start = std::chrono::steady_clock::now();
    Sleep(30);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

TEST_F(ThreadTest, InvalidThreadHandlesAreRefused) {
    DWORD code = 0;
    EXPECT_FALSE(GetExitCodeThread(reinterpret_cast<HANDLE>(0x7770), &code));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(ResumeThread(nullptr), static_cast<DWORD>(-1));
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    EXPECT_FALSE(GetExitCodeThread(event, &code));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseHandle(event);
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
    IsolatedEnvironment environment_;
};

TEST_F(ThreadMessageQueueTest, PeekWithoutRemoveKeepsTheHeadMessage) {
    const DWORD self = GetCurrentThreadId();
    ASSERT_TRUE(PostThreadMessageW(self, WM_USER + 1, 11, -11));
    ASSERT_TRUE(PostThreadMessageW(self, WM_USER + 2, 22, -22));
    MSG msg{};
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
        EXPECT_EQ(msg.message, WM_USER + 1);
    }
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_USER + 1);
    EXPECT_EQ(msg.wParam, 11u);
    EXPECT_EQ(msg.lParam, -11);
    EXPECT_EQ(msg.hwnd, nullptr);
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_USER + 2);
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(ThreadMessageQueueTest, FilterPicksTheFirstMessageInRangeAndQuitAlwaysPasses) {
    const DWORD self = GetCurrentThreadId();
    ASSERT_TRUE(PostThreadMessageW(self, WM_COMMAND, 1, 0));
    ASSERT_TRUE(PostThreadMessageW(self, WM_USER + 5, 2, 0));
    ASSERT_TRUE(PostThreadMessageW(self, WM_USER + 6, 3, 0));
    MSG msg{};
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_USER, WM_USER + 10, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 2u);
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_USER + 7, WM_USER + 10, PM_NOREMOVE));
    ASSERT_TRUE(PostThreadMessageW(self, WM_QUIT, 0, 0));
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_USER + 7, WM_USER + 10, PM_NOREMOVE));
    EXPECT_EQ(msg.message, WM_QUIT);
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_COMMAND);
}

TEST_F(ThreadMessageQueueTest, PostingToAThreadWithoutQueueFailsUntilItPeeks) {
    struct Shared {
        Gate mayPeek;
        Gate hasPeeked;
        Gate mayEnd;
    } shared;
    DWORD id = 0;
    ScopedHandle thread(CreateThread(
        nullptr, 0, [](LPVOID parameter) -> DWORD {
            auto* s = static_cast<Shared*>(parameter);
            s->mayPeek.Pass();
            MSG msg;
            PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
            s->hasPeeked.Open();
            s->mayEnd.Pass();
            return 0;
        },
        &shared, 0, &id));
    ASSERT_NE(thread.Get(), nullptr);
    EXPECT_FALSE(PostThreadMessageW(id, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
    shared.mayPeek.Open();
    ASSERT_TRUE(shared.hasPeeked.Pass());
    EXPECT_TRUE(PostThreadMessageW(id, WM_USER, 0, 0));
    shared.mayEnd.Open();
    ASSERT_EQ(WaitForSingleObject(thread.Get(), kLongWait), WAIT_OBJECT_0);
    // The queue went with its thread.
    EXPECT_FALSE(PostThreadMessageW(id, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
}

TEST_F(ThreadMessageQueueTest, PostingToAnUnknownThreadIdFails) {
    EXPECT_FALSE(PostThreadMessageW(0, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
    EXPECT_FALSE(PostThreadMessageW(0x7FFFFFF0u, WM_QUIT, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
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

TEST_F(ThreadMessageQueueTest, QuitAtTheHeadStopsAPollingThread) {
    std::atomic<int> limit{2000};
    DWORD id = 0;
    ScopedHandle thread(CreateThread(nullptr, 0, &PollUntilQuitAtHead, &limit, 0, &id));
    ASSERT_NE(thread.Get(), nullptr);
    bool posted = false;
    for (int i = 0; i < 500 && !posted; ++i) {
        posted = PostThreadMessageW(id, WM_QUIT, 0, 0) != FALSE;
        if (!posted) Sleep(2);
    }
    ASSERT_TRUE(posted);
    ASSERT_EQ(WaitForSingleObject(thread.Get(), kLongWait), WAIT_OBJECT_0);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread.Get(), &code));
    EXPECT_EQ(code, 7u);
}

TEST_F(ThreadMessageQueueTest, QuitBehindAnotherMessageIsNotSeenByAHeadPeek) {
    std::atomic<int> limit{1000000};
    DWORD id = 0;
    ScopedHandle thread(CreateThread(nullptr, 0, &PollUntilQuitAtHead, &limit, CREATE_SUSPENDED,
                                     &id));
    ASSERT_NE(thread.Get(), nullptr);
    // WM_USER goes in first, so WM_QUIT is never at the head.
    ResumeThread(thread.Get());
    bool posted = false;
    for (int i = 0; i < 500 && !posted; ++i) {
        posted = PostThreadMessageW(id, WM_USER, 0, 0) != FALSE;
        if (!posted) Sleep(2);
    }
    ASSERT_TRUE(posted);
    ASSERT_TRUE(PostThreadMessageW(id, WM_QUIT, 0, 0));
    EXPECT_EQ(WaitForSingleObject(thread.Get(), 150), WAIT_TIMEOUT);
    limit = 0;
    ASSERT_EQ(WaitForSingleObject(thread.Get(), kLongWait), WAIT_OBJECT_0);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread.Get(), &code));
    EXPECT_EQ(code, 1u);
}

TEST_F(ThreadMessageQueueTest, GetMessageWaitsForAPostAndReturnsZeroForQuit) {
    struct Shared {
        Gate ready;
        std::atomic<int> results[2] = {-5, -5};
        std::atomic<UINT> first{0};
    } shared;
    DWORD id = 0;
    ScopedHandle thread(CreateThread(
        nullptr, 0, [](LPVOID parameter) -> DWORD {
            auto* s = static_cast<Shared*>(parameter);
            MSG msg;
            PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
            s->ready.Open();
            s->results[0] = GetMessageW(&msg, nullptr, 0, 0);
            s->first = msg.message;
            s->results[1] = GetMessageW(&msg, nullptr, 0, 0);
            return 0;
        },
        &shared, 0, &id));
    ASSERT_TRUE(shared.ready.Pass());
    EXPECT_EQ(WaitForSingleObject(thread.Get(), 50), WAIT_TIMEOUT);
    ASSERT_TRUE(PostThreadMessageW(id, WM_USER + 3, 0, 0));
    ASSERT_TRUE(PostThreadMessageW(id, WM_QUIT, 0, 0));
    ASSERT_EQ(WaitForSingleObject(thread.Get(), kLongWait), WAIT_OBJECT_0);
    EXPECT_EQ(shared.results[0].load(), TRUE);
    EXPECT_EQ(shared.first.load(), WM_USER + 3);
    EXPECT_EQ(shared.results[1].load(), FALSE);
}

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
