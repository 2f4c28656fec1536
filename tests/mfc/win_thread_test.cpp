// CWinThread as a real thread: InitInstance, the message loop feeding
// PreTranslateMessage until WM_QUIT, ExitInstance, and run-time classes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "qv_afx.h"

namespace {

constexpr UINT kTestMessage = WM_USER + 7;

class RecordingThread : public CWinThread {
    DECLARE_DYNCREATE(RecordingThread)
public:
    RecordingThread() { m_bAutoDelete = FALSE; }

    BOOL InitInstance() override {
        Record("init");
        initThreadId = GetCurrentThreadId();
        return initResult;
    }
    BOOL PreTranslateMessage(MSG* pMsg) override {
        Record("message " + std::to_string(pMsg->message) + " " + std::to_string(pMsg->wParam) +
               " " + std::to_string(pMsg->lParam));
        return CWinThread::PreTranslateMessage(pMsg);
    }
    int ExitInstance() override {
        Record("exit");
        return CWinThread::ExitInstance();
    }

    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> guard(lock_);
        return events_;
    }

    BOOL initResult = TRUE;
    DWORD initThreadId = 0;

    DECLARE_MESSAGE_MAP()

private:
    void Record(std::string event) {
        std::lock_guard<std::mutex> guard(lock_);
        events_.push_back(std::move(event));
    }
    std::mutex lock_;
    std::vector<std::string> events_;
};

IMPLEMENT_DYNCREATE(RecordingThread, CWinThread)

BEGIN_MESSAGE_MAP(RecordingThread, CWinThread)
END_MESSAGE_MAP()

std::atomic<int> g_destroyedThreads{0};

class SelfDeletingThread : public CWinThread {
public:
    ~SelfDeletingThread() override { g_destroyedThreads.fetch_add(1); }
    BOOL InitInstance() override { return TRUE; }
};

TEST(CWinThreadTest, RunsInitInstanceMessagesInOrderAndExitInstanceOnItsOwnThread) {
    RecordingThread thread;
    ASSERT_TRUE(thread.CreateThread());
    ASSERT_NE(thread.m_hThread, nullptr);
    ASSERT_NE(thread.m_nThreadID, 0u);
    // The queue exists as soon as CreateThread returns: posting must succeed at once.
    ASSERT_TRUE(PostThreadMessageW(thread.m_nThreadID, kTestMessage, 1, 10));
    Sleep(50);  // the loop now waits in GetMessageW for the next post
    ASSERT_TRUE(PostThreadMessageW(thread.m_nThreadID, WM_COMMAND, 1241, 20));
    ASSERT_TRUE(PostThreadMessageW(thread.m_nThreadID, kTestMessage, 3, 30));
    ASSERT_TRUE(PostThreadMessageW(thread.m_nThreadID, WM_QUIT, 7, 0));
    ASSERT_EQ(WaitForSingleObject(thread.m_hThread, 10000), WAIT_OBJECT_0);

    DWORD exitCode = 0;
    ASSERT_TRUE(GetExitCodeThread(thread.m_hThread, &exitCode));
    EXPECT_EQ(exitCode, 7u) << "the exit code is WM_QUIT's wParam";
    const std::vector<std::string> expected = {
        "init",
        "message " + std::to_string(kTestMessage) + " 1 10",
        "message " + std::to_string(WM_COMMAND) + " 1241 20",
        "message " + std::to_string(kTestMessage) + " 3 30",
        "exit"};
    EXPECT_EQ(thread.Events(), expected);
    EXPECT_EQ(thread.initThreadId, thread.m_nThreadID);
    EXPECT_NE(thread.initThreadId, GetCurrentThreadId());
}

TEST(CWinThreadTest, FailedInitInstanceSkipsTheLoopButRunsExitInstance) {
    RecordingThread thread;
    EXPECT_FALSE(thread.CreateThread(CREATE_SUSPENDED));  // not supported: nothing runs
    EXPECT_EQ(thread.m_hThread, nullptr);
    thread.initResult = FALSE;
    ASSERT_TRUE(thread.CreateThread());
    ASSERT_EQ(WaitForSingleObject(thread.m_hThread, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(thread.Events(), (std::vector<std::string>{"init", "exit"}));
}

TEST(CWinThreadTest, AutoDeleteObjectIsDestroyedWhenItsThreadEnds) {
    auto* thread = new SelfDeletingThread;
    ASSERT_EQ(thread->m_bAutoDelete, TRUE);
    ASSERT_TRUE(thread->CreateThread());
    const DWORD threadId = thread->m_nThreadID;  // the object may be gone after WM_QUIT
    ASSERT_TRUE(PostThreadMessageW(threadId, WM_QUIT, 0, 0));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (g_destroyedThreads.load() == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(g_destroyedThreads.load(), 1);
}

TEST(CRuntimeClassTest, DynamicCreationAndClassChain) {
    const CRuntimeClass* runtimeClass = RUNTIME_CLASS(RecordingThread);
    EXPECT_STREQ(runtimeClass->m_lpszClassName, "RecordingThread");
    EXPECT_EQ(RUNTIME_CLASS(CWinThread)->CreateObject(), nullptr);  // not dynamically creatable
    CObject* object = runtimeClass->CreateObject();
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->GetRuntimeClass(), runtimeClass);
    EXPECT_TRUE(object->IsKindOf(RUNTIME_CLASS(CWinThread)));
    EXPECT_TRUE(object->IsKindOf(RUNTIME_CLASS(CObject)));
    EXPECT_FALSE(object->IsKindOf(RUNTIME_CLASS(CDynLinkLibrary)));
    delete object;
}

}  // namespace
