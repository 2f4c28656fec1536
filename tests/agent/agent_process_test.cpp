// The module in real processes: what only processes show (named objects
// across processes, lifetimes, load and unload), and one round trip of each
// kind through the host. The protocol's byte rules are the unit tests'.
#include <cctype>
#include <fstream>
#include <regex>

#include "agent/process_fixture.h"

namespace qv::test {
namespace {

const bool kWindows = std::string(kExecutableSuffix) == ".exe";

class AgentProcessTest : public ProcessTest {
protected:
    // The DllMain trace of an agent that loads and detaches, with `worker`
    // between (the worker thread's notifications on Windows).
    static std::string DllMainTrace(const std::string& worker = {}) {
        return "case DLL_PROCESS_ATTACH\r\ngb_LogCriticalSectionInitialised = true;\r\ngb_EnableLog = true;\r\n"
               "SnmpLog::GetLoggingThread()->StartLog();\r\nfInit\r\ngb_IAmTheWindowsService\r\n"
               "QVSNMP.dll loaded by WindowsSnmp\r\nI'm exiting DllMain!\r\n" + worker + kDetachTrace;
    }
    static constexpr char kDetachTrace[] = "case DLL_PROCESS_DETACH\r\nService down!\r\nExit process detach\r\nI'm exiting DllMain!\r\n";
    // The stop line is the log's last: the worker was gone before logging was.
    void ExpectLogEndsWithTheStopLine() const {
        const std::string log = LogText(), stop = " INFO : File Logging stopped\r\n";
        EXPECT_EQ(log.substr(log.size() - std::min(log.size(), stop.size())), stop);
    }
};

TEST_F(AgentProcessTest, AttachCreatesAZeroedBaseRegionAndStartUpRegistersTheFourViewsOnce) {
    environment_.CreateDebugDirectory();
    auto host = StartHost();
    BaseRegionView base;
    ASSERT_TRUE(base.Mapped());
    EXPECT_EQ(base->readIndex + base->writeIndex + base->trapReadIndex, 3) << "all three at 1";
    for (std::size_t offset = 6; offset < 0x100000; ++offset) ASSERT_EQ(base.Bytes()[offset], 0) << offset;
    EXPECT_EQ(Ask(*host, "init"), "init 1 1.3.6.1.4.1.44821 event=1");
    for (const char* view : {"1 1.3.6.1.4.1.5113", "1 1.3.6.1.4.1.4127", "1 1.3.6.1.4.1.39917", "0 untouched"}) {
        EXPECT_EQ(Ask(*host, "initex"), std::string("initex ") + view);
    }
    EXPECT_EQ(Ask(*host, "init"), "init 0  event=1") << "a second start is refused";
    EXPECT_EQ(base->serviceUp, 1);
    Quit(*host);
    EXPECT_EQ(TraceFile("SNMPlogInit.txt"),
              "Enter Init\r\nService up!\r\nSnmpExtensionInit: 44821\r\nExit Init\r\nSnmpExtensionInitEx: 5113\r\n"
              "SnmpExtensionInitEx: 4127\r\nSnmpExtensionInitEx: 39917\r\nEnter Init\r\n");
}

TEST_F(AgentProcessTest, OtherExecutableNamesLoadTheApplicationRole) {
    environment_.CreateDebugDirectory();
    // Windows compares the name without its extension and ignores case; Linux has no extension.
    std::string upper = kExecutableSuffix;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::filesystem::create_directories(environment_.DriveC() / "hosts");
    for (const auto& [name, file] : {std::pair<std::string, std::string>{"SNMP", "SNMP" + upper}, {"snmp2", "snmp2" + upper}}) {
        const auto copy = environment_.DriveC() / "hosts" / file;
        std::filesystem::copy_file(Path(QV_TEST_HOST), copy, std::filesystem::copy_options::overwrite_existing);
        auto host = StartHost(copy.string());
        EXPECT_FALSE(BaseRegionView().Mapped()) << name << " must not create the base region";
        Quit(*host);
        const std::string trace = TraceFile("SNMPlogDllMain.txt");
        EXPECT_NE(trace.find("QVSNMP.dll loaded by " + name + "\r\n"), std::string::npos) << trace;
        EXPECT_EQ(trace.find("fInit"), std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists(environment_.DebugDirectory() / "QVSNMP_SNMP.txt")) << "applications never log";
}

TEST_F(AgentProcessTest, ConnectionRequestFromAnotherProcessOpensOneSessionAndLogsIt) {
    environment_.CreateDebugDirectory();
    auto host = StartAgent();
    auto app = StartApp();
    ASSERT_EQ(Ask(*app, "append 1 5113 9 9"), "appended");
    ASSERT_EQ(Ask(*app, "append 1 5113 9 9"), "appended");
    EXPECT_EQ(AskUntil(*app, "find 5113 9 9", "slot 0"), "slot 0");
    EXPECT_EQ(Ask(*app, "open 0"), "opened") << "the agent created the session's rings";
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(Ask(*app, "find 5113 9 9"), "slot 0");
    Quit(*host);
    Quit(*app);
    const std::string log = LogText(), line = "In Proc Connect / Pen 5113, AppId:9, ApplInst:9, SesId:0, Value: 1 \n";
    EXPECT_NE(log.find(line), std::string::npos) << log;
    EXPECT_EQ(log.find("In Proc Connect", log.find(line) + 1), std::string::npos) << "the repeat opens nothing";
}

TEST_F(AgentProcessTest, SilentSessionIsTimedOutWithANoticeWhileAKeptAliveOneStays) {
    auto host = StartAgent();
    auto app = StartApp();
    ASSERT_EQ(ServeSession(*app, "44821 1 2"), "0");
    ASSERT_EQ(Ask(*app, "append 1 4127 -56 1"), "appended");
    ASSERT_EQ(AskUntil(*app, "find 4127 -56 1", "slot 1"), "slot 1");
    const auto silentSince = std::chrono::steady_clock::now();
    ASSERT_EQ(Ask(*app, "open 1"), "opened");
    ASSERT_EQ(Ask(*app, "up 1"), "up");
    ASSERT_EQ(AskUntil(*app, "find 4127 -56 1", "slot -1"), "slot -1");
    EXPECT_GE(std::chrono::steady_clock::now() - silentSince, 3950ms) << "81 passes of 50 ms, the first one maybe early";
    EXPECT_EQ(AskUntil(*app, "takeout 1", "out", 5s), "out seq=0 pen=4127 op=10 bytes=C8010100000003080102");
    EXPECT_EQ(Ask(*app, "find 44821 1 2"), "slot 0");
    BaseRegionView base;
    EXPECT_TRUE(Eventually([&] { return base->pen[1] == 0 && base->appInst[1] == 0; }, 5s)) << "the row is cleared";
    Quit(*host);
    Quit(*app);
}

TEST_F(AgentProcessTest, AgentRestartedOverALiveRegionKeepsItsTableUntilStartUp) {
    auto host = StartAgent();
    auto app = StartApp();
    ASSERT_EQ(Ask(*app, "append 1 44821 3 1"), "appended");
    ASSERT_EQ(AskUntil(*app, "find 44821 3 1", "slot 0"), "slot 0");
    host->Terminate();  // the application's view keeps the region
    host->Wait(10s);
    auto second = StartHost();
    BaseRegionView base;
    EXPECT_EQ(base->readIndex + base->writeIndex + base->trapReadIndex, 3) << "indices back at 1";
    EXPECT_EQ(base->state[0], 1) << "no zeroing of an existing region";
    EXPECT_EQ(base->pen[0], 44821);
    ASSERT_EQ(Ask(*second, "init"), "init 1 1.3.6.1.4.1.44821 event=1");
    EXPECT_EQ(base->state[0] + base->pen[0], 0);
    Quit(*second);
    Quit(*app);
    // The killed agent was the only holder of slot 0's rings: their names
    // outlived it, count as absent, and go when looked up.
    EXPECT_FALSE(RegionExists("Global\\QV_IN1.3.6.1.4.1.39917.0"));
}

TEST_F(AgentProcessTest, DetachWithOpenSessionsClearsTheTableAndReleasesTheRegions) {
    auto host = StartAgent();
    auto app = StartApp();
    ASSERT_EQ(Ask(*app, "append 1 39917 1 1"), "appended");
    ASSERT_EQ(Ask(*app, "append 1 39917 7 7"), "appended");
    ASSERT_EQ(AskUntil(*app, "find 39917 7 7", "slot 1"), "slot 1");
    ASSERT_EQ(Ask(*app, "up 1"), "up");
    BaseRegionView base;
    Quit(*host);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(base->state[i] + base->pen[i] + base->appId[i] + base->appInst[i], 0) << i;
    EXPECT_EQ(base->serviceUp, 0);
    EXPECT_FALSE(RegionExists("Global\\QV_IN1.3.6.1.4.1.39917.0"));
    EXPECT_FALSE(RegionExists("Global\\QV_OUT1.3.6.1.4.1.39917.1"));
    Quit(*app);
}

TEST_F(AgentProcessTest, LivenessFileIsRewrittenByTheRunningAgent) {
    std::ofstream(environment_.DriveC() / "QVSNMPALIVE.txt", std::ios::binary) << std::string(60, 'x');
    auto host = StartAgent();
    std::string content;
    Eventually([&] { return (content = ReadFileBytes(environment_.DriveC() / "QVSNMPALIVE.txt"))[0] != 'x'; }, 90s);
    EXPECT_TRUE(std::regex_match(content, std::regex("Windows SNMP Service related QVSNMP.dll alive: [0-9]{6}\r\nxxxxx")));
    Quit(*host);
}

// ---- unload -------------------------------------------------------------------------

std::string WithoutTimes(const std::string& log) {
    return std::regex_replace(log, std::regex("(^|\r\n)[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} "), "$1T ");
}

TEST_F(AgentProcessTest, UnloadOfAnAgentNeverStartedTracesAndLogsInOrder) {
    environment_.CreateDebugDirectory();
    auto host = StartHost();
    EXPECT_EQ(Ask(*host, "unload").rfind("unloaded ", 0), 0u);
    Quit(*host);
    EXPECT_EQ(TraceFile("SNMPlogDllMain.txt"), DllMainTrace());
    EXPECT_EQ(WithoutTimes(LogText()), "T INFO : QVSNMP File Logging started\r\nT INFO : QVSNMP.dll loaded\n\r\n"
                                       "T INFO : File Logging stopped\r\n");
    EXPECT_TRUE(environment_.LeftoverSharedMemory().empty());
}

TEST_F(AgentProcessTest, UnloadAfterCloseIsPromptAndKeepsTheDetachOrder) {
    environment_.CreateDebugDirectory();
    auto host = StartAgent();
    const std::string closed = Ask(*host, "close"), unloaded = Ask(*host, "unload");
    EXPECT_LT(std::stoi(closed.substr(7)), 2000) << closed << ": the worker ends within a few passes";
    EXPECT_LT(std::stoi(unloaded.substr(9)), 2000) << unloaded << ": the detach finds the worker stopped";
    Quit(*host);
    EXPECT_EQ(TraceFile("SNMPlogDllMain.txt"),
              DllMainTrace(kWindows ? "case DLL_THREAD_ATTACH\r\nI'm exiting DllMain!\r\ncase DLL_THREAD_DETACH\r\nI'm exiting DllMain!\r\n" : ""));
    EXPECT_EQ(TraceFile("SNMPlogInit.txt"), "Enter Init\r\nService up!\r\nSnmpExtensionInit: 44821\r\nExit Init\r\n");
    EXPECT_EQ(TraceFile("GetNextRequest.txt"), "");
    ExpectLogEndsWithTheStopLine();
    EXPECT_TRUE(environment_.LeftoverSharedMemory().empty());
}

// Without SnmpExtensionClose the detach stops the worker itself. Where the
// loader holds a lock a thread's exit needs (Windows) that waits its full 20 s.
TEST_F(AgentProcessTest, UnloadWithoutCloseStillStopsTheWorkerBeforeLogging) {
    environment_.CreateDebugDirectory();
    auto host = StartAgent();
    const std::string unloaded = Ask(*host, "unload", 40s);
    EXPECT_LT(std::stoi(unloaded.substr(9)), kWindows ? 25000 : 2000) << unloaded;
    Quit(*host);
    EXPECT_NE(TraceFile("SNMPlogDllMain.txt").find(kDetachTrace), std::string::npos);
    ExpectLogEndsWithTheStopLine();
}

// The process exit runs the detach after the system has ended the worker.
TEST_F(AgentProcessTest, ProcessExitWithTheWorkerRunningDetachesPromptly) {
    environment_.CreateDebugDirectory();
    auto host = StartAgent();
    const auto start = std::chrono::steady_clock::now();
    Quit(*host);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_NE(TraceFile("SNMPlogDllMain.txt").find(kDetachTrace), std::string::npos);
}

// ---- one of each request through the host --------------------------------------------

class QueryProcessTest : public ProcessTest {
protected:
    void SetUp() override {
        host_ = StartAgent();
        app_ = StartApp();
        ASSERT_EQ(Ask(*app_, "var 1.1.1 int -7"), "var");
        ASSERT_EQ(Ask(*app_, "var 1.1.2 str hello"), "var");
        ASSERT_EQ(ServeSession(*app_, "39917 1 1"), "0");
    }
    void TearDown() override {
        Quit(*host_);
        Quit(*app_);
    }
    std::unique_ptr<ChildProcess> host_, app_;
};

TEST_F(QueryProcessTest, GetGetNextAndSetReachTheApplication) {
    EXPECT_EQ(Ask(*host_, "get 1.3.6.1.4.1.39917.1.1.1"), "status=0 index=0 name=1.3.6.1.4.1.39917.1.1.1 type=2 value=-7");
    EXPECT_EQ(Ask(*host_, "getnext 1.3.6.1.4.1.39917.1.1.1"),
              "status=0 index=0 name=1.3.6.1.4.1.39917.1.1.2 type=4 value=\"hello\"");
    EXPECT_EQ(Ask(*host_, "set 1.3.6.1.4.1.39917.1.1.2 str bye"),
              "status=0 index=0 name=1.3.6.1.4.1.39917.1.1.2 type=4 value=\"bye\"");
    EXPECT_EQ(Ask(*app_, "lastset"), "set tail=010102 type=4 len=3 bytes=62796500");
    EXPECT_EQ(Ask(*host_, "get 1.3.6.1.4.1.39917.1.1.2"), "status=0 index=0 name=1.3.6.1.4.1.39917.1.1.2 type=4 value=\"bye\"");
}

TEST_F(QueryProcessTest, TrapRecordOfAnApplicationReachesTheServiceOnce) {
    EXPECT_EQ(Ask(*host_, "trapwait 200"), "trapwait timeout");
    ASSERT_EQ(Ask(*app_, "trap 5113 2 3 22"), "appended");
    ASSERT_EQ(Ask(*host_, "trapwait 5000"), "trapwait signalled");
    EXPECT_EQ(Ask(*host_, "traps").rfind("trap enterprise=1.3.6.1.4.1.5113 generic=6 specific=1 ticks=", 0), 0u);
    EXPECT_EQ(host_->ReadLine(5s), "bind name=1.3.6.1.4.1.5113.2.3.1 type=2 value=22");
    EXPECT_EQ(host_->ReadLine(5s), "traps done");
    EXPECT_EQ(Ask(*host_, "traps"), "traps done") << "nothing is delivered twice";
}

}  // namespace
}  // namespace qv::test
