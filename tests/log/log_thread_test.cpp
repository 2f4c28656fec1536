// CLogThread used as the module uses it (InitInstance and StartLog called
// directly, lines written synchronously, StopLog at the end), run as a thread
// driven by posted WM_COMMAND messages, and the SnmpLog gate in front of it.
#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "log/log_thread.h"
#include "log/snmp_log.h"
#include "log_file_reader.h"
#include "support/test_environment.h"

namespace {

using qv::test::ReadUtf16File;
using Records = std::vector<std::u16string>;

const wchar_t kLogPath[] = L"C:\\QVTEMP\\QVSNMPDEBUG\\QVSNMP_WindowsSnmp.txt";
const std::u16string kStartRecord = u"T INFO : QVSNMP File Logging started";
const std::u16string kStopRecord = u"T INFO : File Logging stopped";

class LogThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        environment_.CreateDebugDirectory();
        log_.m_strFileName = kLogPath;
        ASSERT_TRUE(log_.InitInstance());
    }
    void TearDown() override {
        gb_EnableLog = false;
        g_pLogThread = nullptr;
        log_.ExitInstance();
    }

    std::filesystem::path LogFile() const {
        return environment_.DebugDirectory() / "QVSNMP_WindowsSnmp.txt";
    }
    std::u16string Text() const { return ReadUtf16File(LogFile()); }
    Records ReadRecords(const std::filesystem::path& file) const {
        return qv::test::RecordsWithoutTimes(ReadUtf16File(file), started_, std::time(nullptr));
    }
    Records ReadRecords() const { return ReadRecords(LogFile()); }

    qv::test::IsolatedEnvironment environment_;
    const std::time_t started_ = std::time(nullptr);
    CLogThread log_;
};

TEST_F(LogThreadTest, StartLogWritesTheStartLineAsUtf16WithoutByteOrderMark) {
    log_.StartLog();
    const std::string bytes = qv::test::ReadFileBytes(LogFile());
    // 19 time characters, the 35-character start text, CR LF; two bytes each.
    ASSERT_EQ(bytes.size(), 2u * (19 + 35 + 2));
    EXPECT_NE(bytes.substr(0, 2), std::string("\xFF\xFE"));
    for (std::size_t i = 1; i < bytes.size(); i += 2) {
        ASSERT_EQ(bytes[i], '\0') << "high byte of unit " << i / 2;  // little-endian ASCII
    }
    EXPECT_EQ(ReadRecords(), Records{kStartRecord});
}

struct CodeCase {
    int code;
    const char16_t* expectedPrefix;  // null: nothing written
};

void PrintTo(const CodeCase& c, std::ostream* out) {
    *out << "code " << c.code;
}

class LogThreadCodeTest : public LogThreadTest, public ::testing::WithParamInterface<CodeCase> {};

TEST_P(LogThreadCodeTest, CodeSelectsThePrefixOrWritesNothing) {
    log_.StartLog();
    log_.LogMessage(CString(L"text"), GetParam().code);
    Records expected{kStartRecord};
    if (GetParam().expectedPrefix != nullptr) {
        expected.push_back(u"T " + std::u16string(GetParam().expectedPrefix) + u"text\n");
    }
    EXPECT_EQ(ReadRecords(), expected);
}

INSTANTIATE_TEST_SUITE_P(Codes, LogThreadCodeTest,
                         ::testing::Values(CodeCase{LOG_CODE_INFO, u"INFO : "},
                                           CodeCase{LOG_CODE_WARN, u"WARN : "},
                                           CodeCase{LOG_CODE_ALARM, u"ALAR : "},
                                           CodeCase{LOG_CODE_SILENT, nullptr},
                                           CodeCase{LOG_CODE_SET_FILE, nullptr},
                                           CodeCase{1244, nullptr}, CodeCase{0, nullptr},
                                           CodeCase{-1241, nullptr}),
                         [](const ::testing::TestParamInfo<CodeCase>& caseInfo) {
                             const int code = caseInfo.param.code;
                             return (code < 0 ? "Minus" : "") + std::to_string(code < 0 ? -code : code);
                         });

// What follows the 19-unit time stamp of a line, and the next line right behind it.
struct LineCase {
    const char* name;
    std::wstring message;
    std::u16string written;
};

class LogLineTest : public LogThreadTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(LogLineTest, LineIsUtf16EndsInLfCrLfAndIsCutToTheBuffer) {
    const LineCase& c = GetParam();
    log_.StartLog();
    const std::size_t before = Text().size();
    log_.LogMessage(CString(c.message.c_str()), LOG_CODE_INFO);
    log_.LogMessage(CString(L"next"), LOG_CODE_INFO);
    const std::u16string line = Text().substr(before);
    const std::u16string next = u" INFO : next\n\r\n";
    ASSERT_EQ(line.size(), 19 + c.written.size() + 19 + next.size());
    EXPECT_EQ(line.substr(19, c.written.size()), c.written);
    EXPECT_EQ(line.substr(line.size() - next.size()), next);
}

// The line buffer holds 1024 UTF-16 units with its terminating zero, so at
// most 1023 units of a line reach the file: 19 of time, 8 of prefix, and 996
// for the message, its LF and the CR LF. A cut line loses its line end, and
// the cut never splits a surrogate pair.
INSTANTIATE_TEST_SUITE_P(
    Lines, LogLineTest,
    ::testing::Values(
        LineCase{"ExtraLineFeedIsKept", L"QVSNMP.dll loaded\n", u" INFO : QVSNMP.dll loaded\n\n\r\n"},
        // wchar_t is UTF-32 on Linux; the file is UTF-16 on both targets.
        LineCase{"NonBmpCharacterIsASurrogatePair", L"\u00E9\U0001F600!",
                 u" INFO : \u00E9\xD83D\xDE00!\n\r\n"},
        LineCase{"LineThatJustFitsIsWhole", std::wstring(993, L'x'),
                 u" INFO : " + std::u16string(993, u'x') + u"\n\r\n"},
        LineCase{"OverLongLineIsCut", std::wstring(2000, L'y'), u" INFO : " + std::u16string(996, u'y')},
        LineCase{"PairThatWouldBeSplitIsLeftOut", std::wstring(995, L'z') + L"\U0001F600",
                 u" INFO : " + std::u16string(995, u'z')},
        LineCase{"PairThatFitsIsTheLastTwoUnits", std::wstring(994, L'z') + L"\U0001F600",
                 u" INFO : " + std::u16string(994, u'z') + u"\xD83D\xDE00"}),
    [](const ::testing::TestParamInfo<LineCase>& param) { return std::string(param.param.name); });

TEST_F(LogThreadTest, StartLogAppendsToAnExistingFile) {
    const std::string earlier("e\0a\0r\0l\0i\0e\0r\0\r\0\n\0", 18);
    std::ofstream(LogFile(), std::ios::binary) << earlier;
    log_.StartLog();
    log_.LogMessage(CString(L"next"), LOG_CODE_INFO);
    const std::string bytes = qv::test::ReadFileBytes(LogFile());
    ASSERT_GT(bytes.size(), earlier.size());
    EXPECT_EQ(bytes.substr(0, earlier.size()), earlier);
    EXPECT_EQ(qv::test::RecordsWithoutTimes(Text().substr(9), started_, std::time(nullptr)),
              (Records{kStartRecord, u"T INFO : next\n"}));
}

TEST_F(LogThreadTest, LinesAfterStopLogAreDroppedUntilTheNextStart) {
    log_.StartLog();
    log_.StartLog();  // reopens and writes a second start line
    log_.LogMessage(CString(L"one"), LOG_CODE_INFO);
    log_.StopLog();
    EXPECT_EQ(log_.m_hFile, INVALID_HANDLE_VALUE);
    log_.LogMessage(CString(L"dropped"), LOG_CODE_INFO);
    log_.WriteLine(CString(L"dropped too"));
    log_.StopLog();  // a second stop finds no file and writes nothing
    log_.StartLog();
    log_.LogMessage(CString(L"two"), LOG_CODE_ALARM);
    EXPECT_EQ(ReadRecords(), (Records{kStartRecord, kStartRecord, u"T INFO : one\n", kStopRecord,
                                      kStartRecord, u"T ALAR : two\n"}));
}

TEST(LogThreadWithoutDirectory, NothingIsCreatedAndEveryLineIsDropped) {
    qv::test::IsolatedEnvironment environment;  // no C:\QVTEMP\QVSNMPDEBUG
    CLogThread log;
    log.m_strFileName = kLogPath;
    ASSERT_TRUE(log.InitInstance());
    log.StartLog();
    EXPECT_EQ(log.m_hFile, INVALID_HANDLE_VALUE);
    log.LogMessage(CString(L"lost"), LOG_CODE_INFO);
    log.ExitInstance();
    EXPECT_FALSE(std::filesystem::exists(environment.DriveC() / "QVTEMP"));
}

// ---- run as a thread, driven by posted commands ---------------------------------------

// Posts one command with a heap string, as the posting side of the interface does.
void PostCommand(const CLogThread& thread, int code, const wchar_t* text) {
    ASSERT_TRUE(PostThreadMessageW(thread.m_nThreadID, WM_COMMAND, static_cast<WPARAM>(code),
                                   reinterpret_cast<LPARAM>(new CString(text))));
}

void StopAndJoin(CLogThread& thread) {
    ASSERT_TRUE(PostThreadMessageW(thread.m_nThreadID, WM_QUIT, 0, 0));
    ASSERT_EQ(WaitForSingleObject(thread.m_hThread, 10000), WAIT_OBJECT_0);
}

TEST_F(LogThreadTest, PostedEmptyPathFallsBackToQflogAndLevelsAreWritten) {
    CLogThread thread;
    thread.m_bAutoDelete = FALSE;
    ASSERT_TRUE(thread.CreateThread());
    PostCommand(thread, LOG_CODE_SET_FILE, L"");
    PostCommand(thread, LOG_CODE_INFO, L"info line");
    PostCommand(thread, LOG_CODE_WARN, L"warn line");
    PostCommand(thread, LOG_CODE_ALARM, L"alarm line\n");
    // Codes the thread does not handle leave the string to the poster.
    CString ignored(L"silent");
    ASSERT_TRUE(PostThreadMessageW(thread.m_nThreadID, WM_COMMAND, LOG_CODE_SILENT,
                                   reinterpret_cast<LPARAM>(&ignored)));
    ASSERT_TRUE(PostThreadMessageW(thread.m_nThreadID, WM_USER, LOG_CODE_INFO,
                                   reinterpret_cast<LPARAM>(&ignored)));
    StopAndJoin(thread);

    EXPECT_TRUE(thread.m_strFileName == L"C:\\QFLOG.txt");
    EXPECT_EQ(thread.m_hFile, INVALID_HANDLE_VALUE);  // ExitInstance stopped the log
    EXPECT_EQ(ReadRecords(environment_.DriveC() / "QFLOG.txt"),
              (Records{kStartRecord, u"T INFO : info line\n", u"T WARN : warn line\n",
                       u"T ALAR : alarm line\n\n", kStopRecord}));
}

TEST_F(LogThreadTest, PostedSetFileSwitchesToTheGivenPath) {
    CLogThread thread;
    thread.m_bAutoDelete = FALSE;
    ASSERT_TRUE(thread.CreateThread());
    PostCommand(thread, LOG_CODE_SET_FILE, L"C:\\QVTEMP\\QVSNMPDEBUG\\first.txt");
    PostCommand(thread, LOG_CODE_INFO, L"to first");
    PostCommand(thread, LOG_CODE_SET_FILE, L"C:\\QVTEMP\\QVSNMPDEBUG\\second.txt");
    PostCommand(thread, LOG_CODE_INFO, L"to second");
    StopAndJoin(thread);

    // Switching files closes the first without a stop line.
    EXPECT_EQ(ReadRecords(environment_.DebugDirectory() / "first.txt"),
              (Records{kStartRecord, u"T INFO : to first\n"}));
    EXPECT_EQ(ReadRecords(environment_.DebugDirectory() / "second.txt"),
              (Records{kStartRecord, u"T INFO : to second\n", kStopRecord}));
    EXPECT_FALSE(std::filesystem::exists(environment_.DriveC() / "QFLOG.txt"));
}

// ---- SnmpLog::LogMessage --------------------------------------------------------------

TEST_F(LogThreadTest, SnmpLogPassesLevelledLinesOnlyWhileOnWithALogObject) {
    if (!gb_LogCriticalSectionInitialised) {
        InitializeCriticalSection(&g_LogCriticalSection);
        gb_LogCriticalSectionInitialised = TRUE;
    }
    log_.StartLog();
    gb_EnableLog = false;
    g_pLogThread = &log_;
    SnmpLog::LogMessage(CString(L"off"), LOG_CODE_INFO);
    gb_EnableLog = true;
    g_pLogThread = nullptr;
    SnmpLog::LogMessage(CString(L"nowhere"), LOG_CODE_ALARM);
    g_pLogThread = &log_;
    SnmpLog::LogMessage(CString(L"silent"), LOG_CODE_SILENT);
    SnmpLog::LogMessage(CString(L"info"), LOG_CODE_INFO);
    SnmpLog::LogMessage(CString("warn"), LOG_CODE_WARN);
    SnmpLog::LogMessage(CString(L"alarm"), LOG_CODE_ALARM);
    SnmpLog::LogMessage(CString(L"other"), 7);
    EXPECT_EQ(ReadRecords(), (Records{kStartRecord, u"T INFO : info\n", u"T WARN : warn\n",
                                      u"T ALAR : alarm\n"}));
}

}  // namespace
