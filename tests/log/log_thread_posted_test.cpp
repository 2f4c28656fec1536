// CLogThread run as a real thread and driven by posted WM_COMMAND messages.
#include <gtest/gtest.h>

#include <ctime>
#include <vector>

#include "log/log_thread.h"
#include "log/snmp_log.h"
#include "log_file_reader.h"
#include "support/test_environment.h"

namespace {

using Records = std::vector<std::u16string>;

// Posts one command with a heap string, as the posting side of the interface does.
void PostCommand(const CLogThread& thread, int code, const wchar_t* text) {
    auto* payload = new CString(text);
    ASSERT_TRUE(PostThreadMessageW(thread.m_nThreadID, WM_COMMAND, static_cast<WPARAM>(code),
                                   reinterpret_cast<LPARAM>(payload)));
}

void StopAndJoin(CLogThread& thread) {
    ASSERT_TRUE(PostThreadMessageW(thread.m_nThreadID, WM_QUIT, 0, 0));
    ASSERT_EQ(WaitForSingleObject(thread.m_hThread, 10000), WAIT_OBJECT_0);
}

TEST(LogThreadPostedCommands, EmptyPathFallsBackToQflogAndLevelsAreWritten) {
    qv::test::IsolatedEnvironment environment;
    const std::time_t started = std::time(nullptr);
    auto* thread = new CLogThread;
    thread->m_bAutoDelete = FALSE;
    ASSERT_TRUE(thread->CreateThread());

    PostCommand(*thread, LOG_CODE_SET_FILE, L"");
    PostCommand(*thread, LOG_CODE_INFO, L"info line");
    PostCommand(*thread, LOG_CODE_WARN, L"warn line");
    PostCommand(*thread, LOG_CODE_ALARM, L"alarm line\n");
    // Codes the thread does not handle leave the string to the poster.
    auto* ignored = new CString(L"silent");
    ASSERT_TRUE(PostThreadMessageW(thread->m_nThreadID, WM_COMMAND, LOG_CODE_SILENT,
                                   reinterpret_cast<LPARAM>(ignored)));
    ASSERT_TRUE(PostThreadMessageW(thread->m_nThreadID, WM_USER, LOG_CODE_INFO,
                                   reinterpret_cast<LPARAM>(ignored)));
    StopAndJoin(*thread);

    EXPECT_TRUE(*ignored == L"silent");
    delete ignored;
    EXPECT_TRUE(thread->m_strFileName == L"C:\\QFLOG.txt");
    EXPECT_EQ(thread->m_hFile, INVALID_HANDLE_VALUE);  // ExitInstance stopped the log
    delete thread;

    const std::u16string text = qv::test::ReadUtf16File(environment.DriveC() / "QFLOG.txt");
    EXPECT_EQ(qv::test::RecordsWithoutTimes(text, started, std::time(nullptr)),
              (Records{u"T INFO : QVSNMP File Logging started", u"T INFO : info line\n",
                       u"T WARN : warn line\n", u"T ALAR : alarm line\n\n",
                       u"T INFO : File Logging stopped"}));
}

TEST(LogThreadPostedCommands, SetFileSwitchesToTheGivenPath) {
    qv::test::IsolatedEnvironment environment;
    environment.CreateDebugDirectory();
    const std::time_t started = std::time(nullptr);
    auto* thread = new CLogThread;
    thread->m_bAutoDelete = FALSE;
    ASSERT_TRUE(thread->CreateThread());

    PostCommand(*thread, LOG_CODE_SET_FILE, L"C:\\QVTEMP\\QVSNMPDEBUG\\first.txt");
    PostCommand(*thread, LOG_CODE_INFO, L"to first");
    PostCommand(*thread, LOG_CODE_SET_FILE, L"C:\\QVTEMP\\QVSNMPDEBUG\\second.txt");
    PostCommand(*thread, LOG_CODE_INFO, L"to second");
    StopAndJoin(*thread);
    delete thread;

    const std::time_t ended = std::time(nullptr);
    // Switching files closes the first without a stop line.
    EXPECT_EQ(qv::test::RecordsWithoutTimes(
                  qv::test::ReadUtf16File(environment.DebugDirectory() / "first.txt"), started,
                  ended),
              (Records{u"T INFO : QVSNMP File Logging started", u"T INFO : to first\n"}));
    EXPECT_EQ(qv::test::RecordsWithoutTimes(
                  qv::test::ReadUtf16File(environment.DebugDirectory() / "second.txt"), started,
                  ended),
              (Records{u"T INFO : QVSNMP File Logging started", u"T INFO : to second\n",
                       u"T INFO : File Logging stopped"}));
    EXPECT_FALSE(std::filesystem::exists(environment.DriveC() / "QFLOG.txt"));
}

}  // namespace
