// SnmpLog::LogMessage: the gate in front of the log object.
#include <gtest/gtest.h>

#include <ctime>
#include <vector>

#include "log/snmp_log.h"
#include "log_file_reader.h"
#include "support/test_environment.h"

namespace {

using Records = std::vector<std::u16string>;

class SnmpLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        environment_.CreateDebugDirectory();
        started_ = std::time(nullptr);
        if (!gb_LogCriticalSectionInitialised) {
            InitializeCriticalSection(&g_LogCriticalSection);
            gb_LogCriticalSectionInitialised = TRUE;
        }
        log_ = new CLogThread;
        log_->m_strFileName = L"C:\\QVTEMP\\QVSNMPDEBUG\\QVSNMP_WindowsSnmp.txt";
        log_->InitInstance();
        log_->StartLog();
    }
    void TearDown() override {
        gb_EnableLog = false;
        g_pLogThread = nullptr;
        log_->ExitInstance();
        delete log_;
    }

    Records ReadRecords() const {
        return qv::test::RecordsWithoutTimes(
            qv::test::ReadUtf16File(environment_.DebugDirectory() / "QVSNMP_WindowsSnmp.txt"),
            started_, std::time(nullptr));
    }

    qv::test::IsolatedEnvironment environment_;
    std::time_t started_ = 0;
    CLogThread* log_ = nullptr;
};

TEST_F(SnmpLogTest, WritesNothingWhileLoggingIsOff) {
    g_pLogThread = log_;
    gb_EnableLog = false;
    EXPECT_FALSE(SnmpLog::IsLogEnabled());
    SnmpLog::LogMessage(CString(L"off"), LOG_CODE_INFO);
    EXPECT_EQ(ReadRecords(), Records{u"T INFO : QVSNMP File Logging started"});
}

TEST_F(SnmpLogTest, WritesNothingWithoutALogObject) {
    gb_EnableLog = true;
    g_pLogThread = nullptr;
    EXPECT_TRUE(SnmpLog::IsLogEnabled());
    EXPECT_EQ(SnmpLog::GetLoggingThread(), nullptr);
    SnmpLog::LogMessage(CString(L"nowhere"), LOG_CODE_ALARM);
    EXPECT_EQ(ReadRecords(), Records{u"T INFO : QVSNMP File Logging started"});
}

TEST_F(SnmpLogTest, HandsLevelledMessagesToTheLogObjectAndRefusesSilent) {
    gb_EnableLog = true;
    g_pLogThread = log_;
    EXPECT_EQ(SnmpLog::GetLoggingThread(), log_);
    SnmpLog::LogMessage(CString(L"silent"), LOG_CODE_SILENT);
    SnmpLog::LogMessage(CString(L"info"), LOG_CODE_INFO);
    SnmpLog::LogMessage(CString("warn"), LOG_CODE_WARN);
    SnmpLog::LogMessage(CString(L"alarm"), LOG_CODE_ALARM);
    SnmpLog::LogMessage(CString(L"other"), 7);
    EXPECT_EQ(ReadRecords(), (Records{u"T INFO : QVSNMP File Logging started", u"T INFO : info\n",
                                      u"T WARN : warn\n", u"T ALAR : alarm\n"}));
}

}  // namespace
