// CLogThread as the module uses it (InitInstance and StartLog called directly,
// lines written on the caller's thread, StopLog at the end) and the SnmpLog
// gate in front of it.
#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "log/log_thread.h"
#include "log/snmp_log.h"
#include "log/trace.h"
#include "log_file_reader.h"
#include "support/test_environment.h"

namespace {

using Records = std::vector<std::u16string>;
const std::u16string kStart = u"T INFO : QVSNMP File Logging started";
const std::u16string kStop = u"T INFO : File Logging stopped";

class LogFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TZ", "QVT-5", 1);  // local time five hours off UTC, so a stamp in UTC shows
        ::tzset();
        environment_.CreateDebugDirectory();
        log_.m_strFileName = L"C:\\QVTEMP\\QVSNMPDEBUG\\QVSNMP_WindowsSnmp.txt";
        ASSERT_TRUE(log_.InitInstance());
    }
    void TearDown() override { log_.ExitInstance(); }
    std::u16string Text() const { return qv::test::ReadUtf16File(environment_.DebugDirectory() / "QVSNMP_WindowsSnmp.txt"); }
    Records Lines(const std::u16string& text) const { return qv::test::RecordsWithoutTimes(text, started_, std::time(nullptr)); }

    qv::test::IsolatedEnvironment environment_;
    const std::time_t started_ = std::time(nullptr);
    CLogThread log_;
};

TEST_F(LogFileTest, LinesAreUtf16WithoutByteOrderMarkAndOnlyCodes1241To1243AreWritten) {
    log_.StartLog();
    EXPECT_EQ(Text().size(), 19u + 35 + 2) << "time, start text, CR LF";
    for (int code : {1241, 1242, 1243, 1240, 1235, 1244, 0, -1241}) log_.LogMessage(CString(L"text"), code);
    EXPECT_EQ(Lines(Text()), (Records{kStart, u"T INFO : text\n", u"T WARN : text\n", u"T ALAR : text\n"}));
}

// At most 1023 units of a line reach the file: 19 of time, 8 of prefix, and
// 996 for the message and its line ends. A cut line loses its line end, and
// the cut never splits a surrogate pair.
TEST_F(LogFileTest, LineEndsInLfCrLfAndIsCutToTheBuffer) {
    const std::pair<std::wstring, std::u16string> cases[] = {
        {L"loaded\n", u" INFO : loaded\n\n\r\n"},
        {L"\u00E9\U0001F600!", u" INFO : \u00E9\xD83D\xDE00!\n\r\n"},  // wchar_t is UTF-32 on Linux
        {std::wstring(2000, L'y'), u" INFO : " + std::u16string(996, u'y')},
        {std::wstring(995, L'z') + L"\U0001F600", u" INFO : " + std::u16string(995, u'z')},
    };
    log_.StartLog();
    for (const auto& [message, written] : cases) {
        const std::size_t before = Text().size();
        log_.LogMessage(CString(message.c_str()), LOG_CODE_INFO);
        EXPECT_EQ(Text().substr(before + 19), written);
    }
}

TEST_F(LogFileTest, StartAppendsAndReopensAndStopDropsLinesUntilTheNextStart) {
    std::ofstream(environment_.DebugDirectory() / "QVSNMP_WindowsSnmp.txt", std::ios::binary) << std::string("e\0\r\0\n\0", 6);
    log_.StartLog();
    log_.StartLog();
    log_.LogMessage(CString(L"one"), LOG_CODE_INFO);
    log_.StopLog();
    log_.LogMessage(CString(L"dropped"), LOG_CODE_INFO);
    log_.StopLog();  // finds no file and writes nothing
    log_.StartLog();
    log_.LogMessage(CString(L"two"), LOG_CODE_ALARM);
    EXPECT_EQ(Text().substr(0, 3), u"e\r\n");
    EXPECT_EQ(Lines(Text().substr(3)), (Records{kStart, kStart, u"T INFO : one\n", kStop, kStart, u"T ALAR : two\n"}));
    std::filesystem::remove_all(environment_.DriveC() / "QVTEMP");
    log_.StartLog();
    qv::trace::LocalTrace(qv::trace::kDllMainPath).Line("case DLL_PROCESS_ATTACH");
    EXPECT_EQ(log_.m_hFile, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(std::filesystem::exists(environment_.DriveC() / "QVTEMP")) << "no log and no trace file without the directory";
}

TEST_F(LogFileTest, SnmpLogPassesLinesOnlyWhileOnWithALogObject) {
    if (!gb_LogCriticalSectionInitialised) InitializeCriticalSection(&g_LogCriticalSection);
    gb_LogCriticalSectionInitialised = TRUE;
    log_.StartLog();
    for (const bool enabled : {false, true}) {
        for (CLogThread* object : {static_cast<CLogThread*>(nullptr), &log_}) {
            gb_EnableLog = enabled;
            g_pLogThread = object;
            SnmpLog::LogMessage(CString(L"silent"), LOG_CODE_SILENT);
            SnmpLog::LogMessage(CString("warn"), LOG_CODE_WARN);
        }
    }
    gb_EnableLog = false;
    g_pLogThread = nullptr;
    EXPECT_EQ(Lines(Text()), (Records{kStart, u"T WARN : warn\n"}));
}

}  // namespace
