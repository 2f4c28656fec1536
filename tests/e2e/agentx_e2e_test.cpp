// The host as an AgentX subagent of a real snmpd started by the test. snmpd
// waits agentXTimeout seconds (default 1) for a subagent and then drops the
// whole AgentX session; the module may wait about 2 s for an application, so
// the host must know the master's timeout (--agentx-timeout) to answer, with
// an error if need be, before it.
#include <algorithm>
#include <regex>

#include "e2e_support.h"

namespace qv::e2e {
namespace {

class AgentxTest : public ::testing::Test {
protected:
    // The master with the given timeout and `extra` lines of snmpd.conf.
    void StartMaster(int timeoutSeconds, const std::string& extra = {}) {
        const auto config = environment_.DriveC() / "snmpd.conf", socket = environment_.DriveC() / "agentx.sock";
        std::ofstream(config) << "master agentx\nagentXSocket " << socket.string() << "\nagentXTimeout "
                              << timeoutSeconds << "\nagentXRetries 0\nrocommunity public 127.0.0.1\n"
                              << "rwcommunity private 127.0.0.1\n" << extra;
        // Persistent files in the test's directory; the log into a file, since
        // a pipe nobody reads would stop snmpd in the middle of a walk.
        ::setenv("SNMP_PERSISTENT_DIR", environment_.DriveC().c_str(), 1);
        master_ = std::make_unique<test::ChildProcess>(
            QV_SNMPD, std::vector<std::string>{"-f", "-Lf", (environment_.DriveC() / "snmpd.log").string(), "-C", "-c",
                                               config.string(), "-I", "-smux", "-m", "", "udp:" + Loopback(port_)});
        if (!host_) {
            host_ = StartHost({"--agentx", socket.string(), "--agentx-timeout", std::to_string(timeoutSeconds)});
        }
        ASSERT_TRUE(Eventually([&] { return Get(kStatus).find("STRING") != std::string::npos; }, 30s))
            << "the subagent never registered";
    }
    ToolResult Tool(const std::string& tool, std::vector<std::string> arguments, const std::string& community = "public",
                    const std::string& version = "2c") {
        return Snmp(tool, port_, std::move(arguments), community, version, "8");
    }
    std::string Get(const std::string& oid) { return Tool("snmpget", {oid}).output; }

    test::IsolatedEnvironment environment_;
    int port_ = FreeUdpPort();
    std::unique_ptr<test::ChildProcess> host_, master_;  // stopped in this order
};

// snmpd serves enterprises of its own (2021, 8072) between and before the
// module's four views; a walk passes through all of them and leaves the views
// without applications quietly.
TEST_F(AgentxTest, ManagersReachApplicationsAndTrapsReachTheMastersSinksThroughTheMaster) {
    const int trapPort = FreeUdpPort();
    const auto log = environment_.DriveC() / "traps.log";
    const auto trapd = StartTrapReceiver(trapPort, log);
    StartMaster(5, "trap2sink " + Loopback(trapPort) + " public\ntrapsink " + Loopback(trapPort) + " public\n");
    std::vector<std::unique_ptr<Program>> apps;
    const std::vector<std::string> expected = StartWalkedApplications(apps);
    const std::regex ours(R"(^\.1\.3\.6\.1\.4\.1\.(4127|5113|39917|44821)[. ])");
    for (const auto& [tool, version] : {std::pair{"snmpwalk", "2c"}, {"snmpbulkwalk", "2c"}, {"snmpwalk", "1"}}) {
        // snmpwalk fails (status 1, "OID not increasing") on a step back.
        const ToolResult walk = Tool(tool, {".1.3.6.1.4.1"}, "public", version);
        EXPECT_EQ(walk.status, 0) << walk.output;
        std::vector<std::string> lines = Lines(walk.output), kept;
        std::copy_if(lines.begin(), lines.end(), std::back_inserter(kept),
                     [&](const std::string& line) { return std::regex_search(line, ours); });
        EXPECT_EQ(kept, expected) << tool << " -v" << version << "\n" << walk.output;
        EXPECT_NE(walk.output.find("\n.1.3.6.1.4.1.8072."), std::string::npos) << "the master's own between the views";
        EXPECT_EQ(lines.back(), expected.back()) << "nothing, not even an error, after the status variable";
    }
    // One GETNEXT with names before a view, inside a view without
    // applications, and past an application's last variable; the master asks
    // only the applications of the views it routes each name to.
    Program& other = *apps[2];
    auto getnexts = [&] { return std::stoi(other("stats").substr(other("stats").find("getnext=") + 8)); };
    const int before = getnexts();
    EXPECT_EQ(Tool("snmpgetnext", {".1.3.6.1.4.1.5000", ".1.3.6.1.4.1.5113.0", ".1.3.6.1.4.1.4127.3",
                                   ".1.3.6.1.4.1.39917.1.1.2"}).output,
              expected[0] + "\n" + expected[0] + "\n" + expected[0] + "\n" + expected[3] + "\n");
    EXPECT_EQ(getnexts(), before + 3);

    Program& app = *apps[1];
    EXPECT_EQ(Tool("snmpset", {".1.3.6.1.4.1.39917.1.1.1", "i", "5", ".1.3.6.1.4.1.39917.1.1.2", "s", "world"},
                   "private").status, 0);
    EXPECT_EQ(Tool("snmpget", {".1.3.6.1.4.1.39917.1.1.1", ".1.3.6.1.4.1.39917.1.1.9"}).output,
              ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: 5\n"
              ".1.3.6.1.4.1.39917.1.1.9 = No Such Instance currently exists at this OID\n");
    EXPECT_NE(app("stats").find(" set=2"), std::string::npos) << "each SET binding once";
    EXPECT_NE(Tool("snmpset", {".1.3.6.1.4.1.39917.7.1.1", "i", "5"}, "private").output.find("Reason: notWritable"),
              std::string::npos);

    // An AgentX Notify; the master sends SNMPv2c with snmpTrapOID.0 =
    // enterprise.0.specific, and SNMPv1 converted from that OID.
    ASSERT_EQ(app("trap 39917 1 1 42"), "appended");
    auto text = [&] { return test::ReadFileBytes(log); };
    const std::string binding = ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: 42";
    ASSERT_TRUE(Eventually([&] { return text().find(binding) != text().rfind(binding); })) << text();
    EXPECT_NE(text().find("\t.1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.4.1.39917.0.1"), std::string::npos) << text();
    EXPECT_NE(text().find(".1.3.6.1.4.1.39917 Enterprise Specific Trap (1) Uptime:"), std::string::npos) << text();
}

TEST_F(AgentxTest, ASilentApplicationGetsAnErrorBeforeTheMastersTimeoutAndTheSubagentSurvivesAMasterRestart) {
    StartMaster(1);
    auto app = TestApp(39917, 1, 1);
    ASSERT_EQ(app->All({"var 1.1.1 int 9", "mode silent"}), "var|mode silent");
    EXPECT_NE(Get(".1.3.6.1.4.1.39917.1.1.1").find("Reason: (genError)"), std::string::npos);
    ASSERT_EQ((*app)("mode normal"), "mode normal");
    const std::string value = ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: 9\n";
    EXPECT_TRUE(Eventually([&] { return Get(".1.3.6.1.4.1.39917.1.1.1") == value; })) << "the master kept the session";
    master_->Kill(SIGTERM), master_->Wait(20s);
    StartMaster(1);  // and the host registers again
    EXPECT_EQ(Get(".1.3.6.1.4.1.39917.1.1.1"), value);
}

}  // namespace
}  // namespace qv::e2e
