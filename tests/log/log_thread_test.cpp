// CLogThread used as the module uses it: InitInstance and StartLog called
// directly, lines written synchronously, StopLog at the end.
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
using qv::test::U16;
using Records = std::vector<std::u16string>;

const wchar_t kLogPath[] = L"C:\\QVTEMP\\QVSNMPDEBUG\\QVSNMP_WindowsSnmp.txt";
const std::u16string kStartRecord = u"T INFO : QVSNMP File Logging started";
const std::u16string kStopRecord = u"T INFO : File Logging stopped";

class LogThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        environment_.CreateDebugDirectory();
        started_ = std::time(nullptr);
        log_.m_strFileName = kLogPath;
        ASSERT_TRUE(log_.InitInstance());
    }
    void TearDown() override { log_.ExitInstance(); }

    std::filesystem::path LogFile() const {
        return environment_.DebugDirectory() / "QVSNMP_WindowsSnmp.txt";
    }
    std::u16string Text() const { return ReadUtf16File(LogFile()); }
    Records ReadRecords() const {
        return qv::test::RecordsWithoutTimes(Text(), started_, std::time(nullptr));
    }

    qv::test::IsolatedEnvironment environment_;
    std::time_t started_ = 0;
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

TEST_F(LogThreadTest, FiveLetterWarningIsThirtyFiveCharactersEndingInLfCrLf) {
    log_.StartLog();
    const std::u16string before = Text();
    log_.LogMessage(CString("hello"), LOG_CODE_WARN);
    const std::string bytes = qv::test::ReadFileBytes(LogFile());
    ASSERT_EQ(bytes.size(), 2 * before.size() + 70);
    const std::u16string line = Text().substr(before.size());
    ASSERT_EQ(line.size(), 35u);
    EXPECT_EQ(line.substr(19), u" WARN : hello\n\r\n");
}

TEST_F(LogThreadTest, MessageEndingInLineFeedEndsInLfLfCrLf) {
    log_.StartLog();
    log_.LogMessage(CString(L"QVSNMP.dll loaded\n"), LOG_CODE_INFO);
    const std::u16string text = Text();
    ASSERT_GE(text.size(), 4u);
    EXPECT_EQ(text.substr(text.size() - 4), u"\n\n\r\n");
    EXPECT_EQ(ReadRecords(), (Records{kStartRecord, u"T INFO : QVSNMP.dll loaded\n\n"}));
}

TEST_F(LogThreadTest, StartLogAppendsToAnExistingFile) {
    const std::string earlier("e\0a\0r\0l\0i\0e\0r\0\r\0\n\0", 18);
    {
        std::ofstream out(LogFile(), std::ios::binary);
        out << earlier;
    }
    log_.StartLog();
    log_.LogMessage(CString(L"next"), LOG_CODE_INFO);
    const std::string bytes = qv::test::ReadFileBytes(LogFile());
    ASSERT_GT(bytes.size(), earlier.size());
    EXPECT_EQ(bytes.substr(0, earlier.size()), earlier);
    const std::u16string text = Text();
    EXPECT_EQ(qv::test::RecordsWithoutTimes(text.substr(9), started_, std::time(nullptr)),
              (Records{kStartRecord, u"T INFO : next\n"}));
}

TEST_F(LogThreadTest, StartLogTwiceReopensAndWritesASecondStartLine) {
    log_.StartLog();
    log_.StartLog();
    log_.LogMessage(CString(L"after"), LOG_CODE_ALARM);
    EXPECT_EQ(ReadRecords(), (Records{kStartRecord, kStartRecord, u"T ALAR : after\n"}));
}

TEST_F(LogThreadTest, LinesAfterStopLogAreDroppedUntilTheNextStart) {
    log_.StartLog();
    log_.LogMessage(CString(L"one"), LOG_CODE_INFO);
    log_.StopLog();
    EXPECT_EQ(log_.m_hFile, INVALID_HANDLE_VALUE);
    log_.LogMessage(CString(L"dropped"), LOG_CODE_INFO);
    log_.WriteLine(CString(L"dropped too"));
    log_.StopLog();  // a second stop finds no file and writes nothing
    EXPECT_EQ(ReadRecords(), (Records{kStartRecord, u"T INFO : one\n", kStopRecord}));

    log_.StartLog();
    log_.LogMessage(CString(L"two"), LOG_CODE_INFO);
    EXPECT_EQ(ReadRecords(), (Records{kStartRecord, u"T INFO : one\n", kStopRecord, kStartRecord,
                                      u"T INFO : two\n"}));
}

TEST_F(LogThreadTest, NonBmpCharactersAreWrittenAsSurrogatePairs) {
    log_.StartLog();
    const std::u16string before = Text();
    // U+00E9 (one unit) and U+1F600 (a pair); wchar_t holds them in UTF-16 on
    // Windows and in UTF-32 on Linux, the file is UTF-16 on both.
    log_.LogMessage(CString(L"\u00E9\U0001F600!"), LOG_CODE_INFO);
    const std::u16string line = Text().substr(before.size());
    EXPECT_EQ(line.substr(19), std::u16string(u" INFO : \u00E9\xD83D\xDE00!\n\r\n"));
}

// The line buffer holds 1024 UTF-16 units with its terminating zero, so at
// most 1023 units of a line reach the file.
TEST_F(LogThreadTest, LineThatJustFitsIsWrittenWhole) {
    log_.StartLog();
    const std::u16string before = Text();
    // 19 + 1 + 7 + 993 + LF + CR LF = 1023 units.
    log_.LogMessage(CString(std::wstring(993, L'x').c_str()), LOG_CODE_INFO);
    const std::u16string line = Text().substr(before.size());
    ASSERT_EQ(line.size(), 1023u);
    EXPECT_EQ(line.substr(line.size() - 4), u"x\n\r\n");
}

TEST_F(LogThreadTest, OverLongLineIsCutToTheBufferAndLosesItsLineEnd) {
    log_.StartLog();
    const std::u16string before = Text();
    log_.LogMessage(CString(std::wstring(2000, L'y').c_str()), LOG_CODE_INFO);
    const std::u16string cut = Text().substr(before.size());
    ASSERT_EQ(cut.size(), 1023u);
    EXPECT_EQ(cut.substr(19, 8), u" INFO : ");
    EXPECT_EQ(cut.substr(27), std::u16string(1023 - 27, u'y'));

    // The next line follows directly, still whole.
    log_.LogMessage(CString(L"next"), LOG_CODE_INFO);
    const std::u16string next = Text().substr(before.size() + cut.size());
    ASSERT_EQ(next.size(), 19u + 8 + 4 + 3);
    EXPECT_EQ(next.substr(19), u" INFO : next\n\r\n");
}

TEST_F(LogThreadTest, CutNeverSplitsASurrogatePair) {
    log_.StartLog();
    const std::u16string before = Text();
    // 27 units of time and prefix and 995 letters fill units 0..1021; the pair
    // would need units 1022 and 1023, but only 1022 is left.
    log_.LogMessage(CString((std::wstring(995, L'z') + L"\U0001F600").c_str()), LOG_CODE_INFO);
    const std::u16string cut = Text().substr(before.size());
    ASSERT_EQ(cut.size(), 1022u);
    EXPECT_EQ(cut.back(), u'z');
    // One letter less, and the whole pair fits as the last two units.
    log_.LogMessage(CString((std::wstring(994, L'z') + L"\U0001F600").c_str()), LOG_CODE_INFO);
    const std::u16string whole = Text().substr(before.size() + cut.size());
    ASSERT_EQ(whole.size(), 1023u);
    EXPECT_EQ(whole.substr(1021), std::u16string(u"\xD83D\xDE00"));
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

TEST(LogThreadRuntimeClass, IsDynamicallyCreatableAsCLogThread) {
    const CRuntimeClass* runtimeClass = RUNTIME_CLASS(CLogThread);
    EXPECT_STREQ(runtimeClass->m_lpszClassName, "CLogThread");
    EXPECT_EQ(runtimeClass->m_pBaseClass, RUNTIME_CLASS(CWinThread));
    CObject* object = runtimeClass->CreateObject();
    ASSERT_NE(object, nullptr);
    EXPECT_TRUE(object->IsKindOf(RUNTIME_CLASS(CLogThread)));
    delete object;
}

}  // namespace
