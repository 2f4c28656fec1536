// Process detach when the worker does not end within its wait: its later log
// calls must find neither a deleted lock nor a destroyed log object.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
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
    while (g_keepLogging) {
        SnmpLog::LogMessage(CString("tick"), LOG_CODE_INFO);
        ++g_lines;
        ::Sleep(1);
    }
    return 0;
}

std::string Narrow(const std::string& utf16) {
    std::string narrow;
    for (std::size_t i = 0; i + 1 < utf16.size(); i += 2) narrow += utf16[i];
    return narrow;
}

TEST(DetachTest, WorkerThatOutlivesTheWaitLogsIntoNothing) {
    qv::test::IsolatedEnvironment environment;
    environment.CreateDebugDirectory();
    const auto logPath = environment.DebugDirectory() / "QVSNMP_test.txt";

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
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (g_lines < before + 200 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_GE(g_lines, before + 200);
    g_keepLogging = false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

    const std::string log = Narrow(qv::test::ReadFileBytes(logPath));
    const std::string stop = " INFO : File Logging stopped\r\n";
    ASSERT_GE(log.size(), stop.size());
    EXPECT_EQ(log.substr(log.size() - stop.size()), stop) << "the stop line stays the last line";
    EXPECT_NE(log.find(" INFO : tick\n\r\n"), std::string::npos) << "lines before the detach were written";
}

}  // namespace
