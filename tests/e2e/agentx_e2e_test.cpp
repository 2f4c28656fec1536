// The host as an AgentX subagent of a real snmpd started by the test.
//
// snmpd waits agentXTimeout seconds (default 1) for a subagent and, after
// agentXRetries resends (default 5), drops the whole AgentX session. The
// module may wait about 2 s for an application, so the master needs more
// time than that, and the host must know the master's timeout
// (--agentx-timeout) to answer, with an error if need be, before it.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "e2e_support.h"

namespace qv::e2e {
namespace {

class AgentxTest : public ::testing::Test {
protected:
    // `extra` goes into snmpd.conf as it is (trap sinks).
    void StartMaster(int timeoutSeconds, const std::string& extra = {}) {
        if (masterPort_ == 0) masterPort_ = FreeUdpPort();
        socket_ = (environment_.DriveC() / "agentx.sock").string();
        const auto config = environment_.DriveC() / "snmpd.conf";
        std::ofstream(config) << "master agentx\n"
                              << "agentXSocket " << socket_ << "\n"
                              << "agentXTimeout " << timeoutSeconds << "\n"
                              << "agentXRetries 0\n"
                              << "rocommunity public 127.0.0.1\n"
                              << "rwcommunity private 127.0.0.1\n"
                              << extra;
        timeoutSeconds_ = timeoutSeconds;
        // Only the loopback port and the AgentX socket: no SMUX, no
        // system configuration, persistent files in the test's directory.
        ::setenv("SNMP_PERSISTENT_DIR", environment_.DriveC().c_str(), 1);
        // Its log goes to a file: it logs every request it receives, and a
        // pipe nobody reads would stop it in the middle of a walk.
        const auto log = environment_.DriveC() / "snmpd.log";
        master_ = std::make_unique<test::ChildProcess>(
            QV_SNMPD, std::vector<std::string>{"-f", "-Lf", log.string(), "-C", "-c", config.string(), "-I", "-smux",
                                               "-m", "",
                                               "udp:127.0.0.1:" + std::to_string(masterPort_)});
    }
    void StopMaster() {
        master_->Kill(SIGTERM);
        master_->Wait(20s);
        master_.reset();
    }
    void StartHost() {
        host_ = std::make_unique<Host>(
            std::vector<std::string>{"--agentx", socket_, "--agentx-timeout", std::to_string(timeoutSeconds_)});
    }
    ToolResult Tool(const std::string& tool, std::vector<std::string> arguments,
                    const std::string& community = "public", const std::string& version = "2c",
                    std::chrono::milliseconds timeout = 30s) {
        std::vector<std::string> all{"-v", version, "-c", community, "-t", "8", "-r", "0",
                                     "127.0.0.1:" + std::to_string(masterPort_)};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return Snmp(tool, all, timeout);
    }
    bool Serving() {
        return Tool("snmpget", {".1.3.6.1.4.1.44821"}).output.find("STRING") != std::string::npos;
    }
    // The master with the given timeout and the host registered as its subagent.
    void StartBoth(int timeoutSeconds, const std::string& extra = {}) {
        StartMaster(timeoutSeconds, extra);
        StartHost();
        ASSERT_TRUE(Eventually([&] { return Serving(); }, 30s)) << "the subagent never registered";
    }
    void TearDown() override {
        host_.reset();
        if (master_) StopMaster();
    }

    test::IsolatedEnvironment environment_;
    int masterPort_ = 0;
    int timeoutSeconds_ = 1;
    std::string socket_;
    std::unique_ptr<test::ChildProcess> master_;
    std::unique_ptr<Host> host_;
};

TEST_F(AgentxTest, ManagersReachApplicationsThroughTheMaster) {
    StartBoth(5);
    Application application(39917, 1, 1);
    ASSERT_TRUE(application.Connect());
    ASSERT_TRUE(application.Var("1.1.1", "int", "-7"));
    ASSERT_TRUE(application.Var("1.1.2", "str", "hello"));

    EXPECT_EQ(Tool("snmpget", {".1.3.6.1.4.1.39917.1.1.1", ".1.3.6.1.4.1.39917.1.1.9"}).output,
              ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: -7\n"
              ".1.3.6.1.4.1.39917.1.1.9 = No Such Instance currently exists at this OID\n");
    EXPECT_EQ(Tool("snmpgetnext", {".1.3.6.1.4.1.39917"}).output, ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: -7\n");
    ToolResult set = Tool("snmpset", {".1.3.6.1.4.1.39917.1.1.1", "i", "5", ".1.3.6.1.4.1.39917.1.1.2", "s", "world"},
                          "private");
    EXPECT_EQ(set.status, 0) << set.output;
    EXPECT_EQ(application.Command("stats"), "ops get=2 getnext=1 set=2") << "each SET binding once";
    EXPECT_EQ(Tool("snmpget", {".1.3.6.1.4.1.39917.1.1.2"}).output, ".1.3.6.1.4.1.39917.1.1.2 = STRING: \"world\"\n");
    set = Tool("snmpset", {".1.3.6.1.4.1.39917.7.1.1", "i", "5"}, "private");
    EXPECT_NE(set.output.find("Reason: notWritable"), std::string::npos) << set.output;

    // A slow application within the master's 5 s.
    ASSERT_EQ(application.Command("mode slow 1500"), "mode slow");
    EXPECT_EQ(Tool("snmpget", {".1.3.6.1.4.1.39917.1.1.1"}).output, ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: 5\n");
}

// snmpd serves enterprises of its own (2021, 8072) between and before the
// module's four views; a walk must pass through all of them, leave the views
// without applications (4127, and 44821 after its status variable) quietly and
// end where 1.3.6.1.4.1 ends.
TEST_F(AgentxTest, WalksThroughTheMasterShowEveryApplicationInOidOrderAndEndCleanly) {
    StartBoth(5);
    std::vector<std::unique_ptr<Application>> applications;
    const std::vector<std::string> expected = StartWalkedApplications(applications);
    Application& other = *applications[2];
    auto ours = [](const std::vector<std::string>& lines) {
        std::vector<std::string> kept;
        for (const std::string& line : lines) {
            for (const char* view : {".1.3.6.1.4.1.4127", ".1.3.6.1.4.1.5113", ".1.3.6.1.4.1.39917",
                                     ".1.3.6.1.4.1.44821"}) {
                const std::string prefix = view;
                if (line.starts_with(prefix + ".") || line.starts_with(prefix + " ")) kept.push_back(line);
            }
        }
        return kept;
    };
    for (const auto& [tool, version] : std::vector<std::pair<std::string, std::string>>{
             {"snmpwalk", "2c"}, {"snmpbulkwalk", "2c"}, {"snmpwalk", "1"}}) {
        const std::string name = tool + " -v" + version;
        // snmpwalk itself fails (status 1, "OID not increasing") on a step back.
        // Over a thousand of snmpd's own variables come along.
        const ToolResult walk = Tool(tool, {".1.3.6.1.4.1"}, "public", version, 120s);
        EXPECT_EQ(walk.status, 0) << name << "\n" << walk.output;
        const std::vector<std::string> lines = Lines(walk.output);
        EXPECT_EQ(ours(lines), expected) << name << "\n" << walk.output;
        // The master's own enterprise between two of the views is walked too.
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                                [](const std::string& line) { return line.starts_with(".1.3.6.1.4.1.8072."); }))
            << name << "\n" << walk.output;
        // Nothing follows the status variable inside 1.3.6.1.4.1: the walk
        // leaves the subtree there, without an error or end-of-view line.
        ASSERT_FALSE(lines.empty()) << name;
        EXPECT_EQ(lines.back(), expected.back()) << name;
    }
    // A walk of one application's subtree stays inside it.
    EXPECT_EQ(Lines(Tool("snmpwalk", {".1.3.6.1.4.1.39917.1"}).output),
              (std::vector<std::string>{expected[1], expected[2]}));
    auto getnexts = [](Application& application) {
        const std::string stats = application.Command("stats");
        const auto at = stats.find("getnext=");
        return at == std::string::npos ? -1 : std::stoi(stats.substr(at + 8));
    };
    // A GETNEXT past the end of a view asks only the applications of the views
    // the master routes it to, each once.
    const int before = getnexts(other);
    EXPECT_EQ(Tool("snmpgetnext", {".1.3.6.1.4.1.4127.3"}).output, expected[0] + "\n");
    EXPECT_EQ(getnexts(other), before + 1);
    // One GETNEXT with names before a view (the master asks the subagent
    // from the view's start, inclusive) and inside it (exclusive) in one
    // AgentX request, inside a view without applications, and past an
    // application's last variable.
    EXPECT_EQ(Tool("snmpgetnext", {".1.3.6.1.4.1.5000", ".1.3.6.1.4.1.5113.0", ".1.3.6.1.4.1.4127.3",
                                   ".1.3.6.1.4.1.39917.1.1.2"})
                  .output,
              expected[0] + "\n" + expected[0] + "\n" + expected[0] + "\n" + expected[3] + "\n");
}

// The host hands an application's trap to the master as an AgentX Notify; the
// master sends it to its own sinks: as SNMPv2c with snmpTrapOID.0 =
// enterprise.0.specific, and converted to SNMPv1 from that OID.
TEST_F(AgentxTest, TrapsReachTheMastersSinks) {
    const int trapPort = FreeUdpPort();
    const auto received = environment_.DriveC() / "traps.log";
    const auto trapd = StartTrapReceiver(environment_, trapPort, received.string());
    const std::string sink = "127.0.0.1:" + std::to_string(trapPort);
    StartBoth(5, "trap2sink " + sink + " public\ntrapsink " + sink + " public\n");
    Application application(39917, 1, 1);
    ASSERT_TRUE(application.Connect());
    auto log = [&] { return test::ReadFileBytes(received); };
    ASSERT_EQ(application.Command("trap 39917 1 1 42"), "appended");
    const std::string binding = ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: 42";
    ASSERT_TRUE(Eventually([&] { return Occurrences(log(), binding) >= 2; }, 20s)) << log();
    const std::string text = log();
    EXPECT_EQ(Occurrences(text, binding), 2) << text;
    EXPECT_NE(text.find(".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.4.1.39917.0.1"), std::string::npos) << text;
    EXPECT_NE(text.find(".1.3.6.1.4.1.39917 Enterprise Specific Trap (1) Uptime:"), std::string::npos) << text;
}

TEST_F(AgentxTest, WithTheMastersDefaultTimeoutASilentApplicationGetsAnErrorAndTheSessionSurvives) {
    StartBoth(1);
    Application application(39917, 1, 1);
    ASSERT_TRUE(application.Connect());
    ASSERT_TRUE(application.Var("1.1.1", "int", "9"));
    ASSERT_EQ(application.Command("mode silent"), "mode silent");
    const ToolResult get = Tool("snmpget", {".1.3.6.1.4.1.39917.1.1.1"});
    EXPECT_NE(get.output.find("Reason: (genError)"), std::string::npos) << get.output;
    ASSERT_EQ(application.Command("mode normal"), "mode normal");
    // Still registered: the master kept the session.
    EXPECT_TRUE(Eventually([&] {
        return Tool("snmpget", {".1.3.6.1.4.1.39917.1.1.1"}).output == ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: 9\n";
    }));
}

TEST_F(AgentxTest, TheSubagentReconnectsAfterTheMasterRestarts) {
    StartBoth(5);
    StopMaster();
    StartMaster(5);
    EXPECT_TRUE(Eventually([&] { return Serving(); }, 30s)) << "registered again";
    EXPECT_EQ(::kill(host_->Pid(), 0), 0) << "the host is still running";
}

}  // namespace
}  // namespace qv::e2e
