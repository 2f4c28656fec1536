// The Win32 calls of the module besides named objects: threads, thread message
// queues, events, critical sections, wsprintf and the UTF-8 code-page conversions.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
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

TEST(ThreadTest, QuitAtTheHeadOfItsQueueStopsAThreadQuitBehindAnotherMessageDoesNotAndTheQueueEndsWithIt) {
    for (const bool behind : {false, true}) {
        std::atomic<int> limit{1000000};
        DWORD id = 0, code = 0;
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
        EXPECT_FALSE(PostThreadMessageW(id, WM_USER, 0, 0)) << "the queue went with its thread";
    }
}

TEST(ThreadTest, LastErrorBelongsToEachThread) {
    SetLastError(ERROR_ACCESS_DENIED);
    std::thread([] { SetLastError(ERROR_DISK_FULL); }).join();
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(ThreadTest, AutoResetEventFreesOneWaitPerSignal) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::thread waiter([&] { EXPECT_EQ(WaitForSingleObject(event, 10000), WAIT_OBJECT_0); });
    Sleep(20);
    SetEvent(event);
    waiter.join();
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT) << "the waiter took the signal";
    SetEvent(event);
    SetEvent(event);  // signals do not add up
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 20), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(event));
}

TEST(ThreadTest, CriticalSectionOwnerReentersAndOnlyItsLastLeaveLetsOthersIn) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    const auto otherThreadEnters = [&] {
        bool in = false;
        std::thread([&] { if ((in = TryEnterCriticalSection(&section))) LeaveCriticalSection(&section); }).join();
        return in;
    };
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);
    LeaveCriticalSection(&section);
    EXPECT_FALSE(otherThreadEnters()) << "entered twice, left once";
    LeaveCriticalSection(&section);
    EXPECT_TRUE(otherThreadEnters());
    DeleteCriticalSection(&section);
}

TEST(StringsTest, WsprintfFormatsTheWindowsSubset) {
    char buffer[128];
    const std::string expected = "-42|42|ff|FF|    7|7    |-0007|text|Z|4000000000|0x1f|abc|%|-3|[Grüße]";
    EXPECT_EQ(wsprintfA(buffer, "%d|%u|%x|%X|%5d|%-5d|%05d|%s|%c|%lu|%#x|%.3s|%%|%hd|[%S]", -42, 42u, 255u, 255u, 7, 7,
                        -7, "text", 'Z', 4000000000ul, 0x1Fu, "abcdef", static_cast<short>(-3), L"Grüße"),
              static_cast<int>(expected.size()));
    EXPECT_EQ(buffer, expected);
}

TEST(StringsTest, Utf8RoundTripsThroughWideCharactersAndInvalidBytesBecomeReplacements) {
    const char text[] = "Grüße € 𝄞";
    wchar_t wide[16] = {};
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0), 10);  // nine characters and the terminator
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 16), 10);
    EXPECT_STREQ(wide, L"Grüße € \U0001D11E");
    char back[32] = {};
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide, -1, back, 32, nullptr, nullptr), static_cast<int>(sizeof text));
    EXPECT_STREQ(back, text);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, wide, 16), 3);  // no terminator without one in the input
    EXPECT_EQ(wide[3], L'ß');
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, wide, 2), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a\xC3" "b", -1, wide, 16), 4);
    EXPECT_STREQ(wide, L"a\uFFFDb");
}

}  // namespace
