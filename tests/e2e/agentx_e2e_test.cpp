// The host as an AgentX subagent of a real snmpd started by the test.
//
// snmpd waits agentXTimeout seconds (default 1) for a subagent and then drops
// the whole AgentX session. The module may wait about 2 s for an application,
// so the host must know the master's timeout (--agentx-timeout) to answer,
// with an error if need be, before it.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>

#include "e2e_support.h"

namespace qv::e2e {
namespace {

class AgentxTest : public ::testing::Test {
protected:
    // The master with the given timeout and `extra` lines of snmpd.conf, then
    // the host registered as its subagent.
    void StartBoth(int timeoutSeconds, const std::string& extra = {}) {
        StartMaster(timeoutSeconds, extra);
        host_ = std::make_unique<Host>(
            std::vector<std::string>{"--agentx", socket_, "--agentx-timeout", std::to_string(timeoutSeconds)});
        ASSERT_TRUE(Eventually([&] { return Serving(); }, 30s)) << "the subagent never registered";
    }
    void StartMaster(int timeoutSeconds, const std::string& extra = {}) {
        if (port_ == 0) port_ = FreeUdpPort();
        socket_ = (environment_.DriveC() / "agentx.sock").string();
        const auto config = environment_.DriveC() / "snmpd.conf";
        std::ofstream(config) << "master agentx\nagentXSocket " << socket_ << "\nagentXTimeout " << timeoutSeconds
                              << "\nagentXRetries 0\nrocommunity public 127.0.0.1\nrwcommunity private 127.0.0.1\n"
                              << extra;
        // Persistent files in the test's directory; the log into a file, since
        // a pipe nobody reads would stop snmpd in the middle of a walk.
        ::setenv("SNMP_PERSISTENT_DIR", environment_.DriveC().c_str(), 1);
        master_ = std::make_unique<test::ChildProcess>(
            QV_SNMPD, std::vector<std::string>{"-f", "-Lf", (environment_.DriveC() / "snmpd.log").string(), "-C", "-c",
                                               config.string(), "-I", "-smux", "-m", "", "udp:" + Loopback(port_)});
    }
    ToolResult Tool(const std::string& tool, std::vector<std::string> arguments, const std::string& community = "public",
                    const std::string& version = "2c") {
        return Snmp(tool, Loopback(port_), std::move(arguments), community, version, "8");
    }
    bool Serving() { return Tool("snmpget", {kStatus}).output.find("STRING") != std::string::npos; }
    void TearDown() override {
        host_.reset();
        if (master_) master_->Kill(SIGTERM), master_->Wait(20s);
    }

    test::IsolatedEnvironment environment_;
    int port_ = 0;
    std::string socket_;
    std::unique_ptr<test::ChildProcess> master_;
    std::unique_ptr<Host> host_;
};

// snmpd serves enterprises of its own (2021, 8072) between and before the
// module's four views; a walk passes through all of them and leaves the views
// without applications quietly.
TEST_F(AgentxTest, ManagersReachApplicationsAndTrapsReachTheMastersSinksThroughTheMaster) {
    const int trapPort = FreeUdpPort();
    const auto log = environment_.DriveC() / "traps.log";
    const auto trapd = StartTrapReceiver(environment_, trapPort, log);
    StartBoth(5, "trap2sink " + Loopback(trapPort) + " public\ntrapsink " + Loopback(trapPort) + " public\n");
    std::vector<std::unique_ptr<Program>> applications;
    const std::vector<std::string> expected = StartWalkedApplications(applications);
    auto ours = [](const std::vector<std::string>& lines) {
        std::vector<std::string> kept;
        std::copy_if(lines.begin(), lines.end(), std::back_inserter(kept), [](const std::string& line) {
            return std::regex_search(line, std::regex(R"(^\.1\.3\.6\.1\.4\.1\.(4127|5113|39917|44821)[. ])"));
        });
        return kept;
    };
    for (const auto& [tool, version] : std::vector<std::pair<std::string, std::string>>{
             {"snmpwalk", "2c"}, {"snmpbulkwalk", "2c"}, {"snmpwalk", "1"}}) {
        // snmpwalk fails (status 1, "OID not increasing") on a step back.
        const ToolResult walk = Tool(tool, {".1.3.6.1.4.1"}, "public", version);
        EXPECT_EQ(walk.status, 0) << walk.output;
        const std::vector<std::string> lines = Lines(walk.output);
        EXPECT_EQ(ours(lines), expected) << tool << " -v" << version << "\n" << walk.output;
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [](const std::string& line) { return line.starts_with(".1.3.6.1.4.1.8072."); }) > 0,
                  true);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), expected.back()) << "nothing, not even an error, after the status variable";
    }
    // One GETNEXT with names before a view, inside a view without
    // applications, and past an application's last variable; the master asks
    // only the applications of the views it routes each name to.
    Program& other = *applications[2];
    auto getnexts = [&] {
        const std::string stats = other.Command("stats");
        return std::stoi(stats.substr(stats.find("getnext=") + 8));
    };
    const int before = getnexts();
    EXPECT_EQ(Tool("snmpgetnext", {".1.3.6.1.4.1.5000", ".1.3.6.1.4.1.5113.0", ".1.3.6.1.4.1.4127.3",
                                   ".1.3.6.1.4.1.39917.1.1.2"})
                  .output,
              expected[0] + "\n" + expected[0] + "\n" + expected[0] + "\n" + expected[3] + "\n");
    EXPECT_EQ(getnexts(), before + 3);

    Program& app = *applications[1];
    ToolResult set = Tool("snmpset", {".1.3.6.1.4.1.39917.1.1.1", "i", "5", ".1.3.6.1.4.1.39917.1.1.2", "s", "world"},
                          "private");
    EXPECT_EQ(set.status, 0) << set.output;
    EXPECT_EQ(Tool("snmpget", {".1.3.6.1.4.1.39917.1.1.1", ".1.3.6.1.4.1.39917.1.1.9"}).output,
              ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: 5\n"
              ".1.3.6.1.4.1.39917.1.1.9 = No Such Instance currently exists at this OID\n");
    EXPECT_NE(app.Command("stats").find(" set=2"), std::string::npos) << "each SET binding once";
    set = Tool("snmpset", {".1.3.6.1.4.1.39917.7.1.1", "i", "5"}, "private");
    EXPECT_NE(set.output.find("Reason: notWritable"), std::string::npos) << set.output;

    // An AgentX Notify; the master sends SNMPv2c with snmpTrapOID.0 =
    // enterprise.0.specific and SNMPv1 converted from that OID.
    ASSERT_EQ(app.Command("trap 39917 1 1 42"), "appended");
    const std::string binding = ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: 42";
    ASSERT_TRUE(Eventually([&] { return Occurrences(test::ReadFileBytes(log), binding) >= 2; }))
        << test::ReadFileBytes(log);
    const std::string text = test::ReadFileBytes(log);
    EXPECT_NE(text.find(".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.4.1.39917.0.1"), std::string::npos) << text;
    EXPECT_NE(text.find(".1.3.6.1.4.1.39917 Enterprise Specific Trap (1) Uptime:"), std::string::npos) << text;
}

TEST_F(AgentxTest, ASilentApplicationGetsAnErrorBeforeTheMastersTimeoutAndTheSubagentSurvivesAMasterRestart) {
    StartBoth(1);
    auto app = TestApp(39917, 1, 1);
    ASSERT_EQ(app->Command("var 1.1.1 int 9"), "var");
    ASSERT_EQ(app->Command("mode silent"), "mode silent");
    const ToolResult get = Tool("snmpget", {".1.3.6.1.4.1.39917.1.1.1"});
    EXPECT_NE(get.output.find("Reason: (genError)"), std::string::npos) << get.output;
    ASSERT_EQ(app->Command("mode normal"), "mode normal");
    const std::string value = ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: 9\n";
    EXPECT_TRUE(Eventually([&] { return Tool("snmpget", {".1.3.6.1.4.1.39917.1.1.1"}).output == value; }))
        << "the master kept the session";

    master_->Kill(SIGTERM);
    master_->Wait(20s);
    StartMaster(1);
    EXPECT_TRUE(Eventually([&] { return Tool("snmpget", {".1.3.6.1.4.1.39917.1.1.1"}).output == value; }, 30s))
        << "registered again";
}

}  // namespace
}  // namespace qv::e2e
