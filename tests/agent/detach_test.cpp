// Process detach when the worker does not end within its wait: its later log
// calls must find neither a deleted lock nor a destroyed log object.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "worker/worker_thread.h"
#include "agent/dll_main.h"
#include "log/log_thread.h"
#include "log/snmp_log.h"
#include "support/test_environment.h"

namespace {

std::atomic<bool> g_keepLogging{true};
std::atomic<long> g_lines{0};

// A worker that never looks at its message queue and logs all the time.
DWORD WINAPI StubbornWorker(LPVOID) {
    for (; g_keepLogging; ++g_lines, ::Sleep(1)) SnmpLog::LogMessage(CString("tick"), LOG_CODE_INFO);
    return 0;
}

TEST(DetachTest, WorkerThatOutlivesTheWaitLogsIntoNothing) {
    qv::test::IsolatedEnvironment environment;
    environment.CreateDebugDirectory();
    ::InitializeCriticalSection(&g_LogCriticalSection);
    gb_LogCriticalSectionInitialised = TRUE;
    gb_EnableLog = true;
    g_pLogThread = new CLogThread;
    g_pLogThread->m_strFileName = CString("C:\\QVTEMP\\QVSNMPDEBUG\\QVSNMP_test.txt");
    g_pLogThread->InitInstance();
    g_pLogThread->StartLog();
    DWORD threadId = 0;
    qv::worker::g_hWorkerThread = ::CreateThread(nullptr, 0, StubbornWorker, nullptr, 0, &threadId);
    ASSERT_NE(qv::worker::g_hWorkerThread, nullptr);
    qv::worker::g_dwWorkerThreadId = threadId;

    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(DllMain(nullptr, DLL_PROCESS_DETACH, nullptr));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(qv::worker::kWorkerStopWaitMs));
    EXPECT_EQ(g_pLogThread, nullptr);
    EXPECT_EQ(qv::worker::g_hWorkerThread, nullptr);
    // The worker goes on logging after the detach; nothing may reach the file.
    const long before = g_lines;
    for (const auto deadline = start + std::chrono::seconds(30); g_lines < before + 200 && std::chrono::steady_clock::now() < deadline;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_GE(g_lines, before + 200);
    g_keepLogging = false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::string utf16 = qv::test::ReadFileBytes(environment.DebugDirectory() / "QVSNMP_test.txt");
    std::string log;
    for (std::size_t i = 0; i < utf16.size(); i += 2) log += utf16[i];
    EXPECT_NE(log.find(" INFO : tick\n\r\n"), std::string::npos) << "lines before the detach were written";
    EXPECT_EQ(log.substr(log.size() - std::min<std::size_t>(log.size(), 30)), " INFO : File Logging stopped\r\n")
        << "the stop line stays the last";
}

}  // namespace
