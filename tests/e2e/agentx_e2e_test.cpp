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

using AgentxTest = HostTest;

// snmpd serves enterprises of its own (2021, 8072) between and before the
// module's four views; a walk passes through all of them and leaves the views
// without applications quietly.
TEST_F(AgentxTest, ManagersReachApplicationsAndTrapsReachTheMastersSinksThroughTheMaster) {
    StartMaster(5, "trap2sink " + Sink() + " public\ntrapsink " + Sink() + " public\n");
    const std::vector<std::string> expected = StartWalkedApplications(apps_);
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
    Program& other = *apps_[2];
    auto getnexts = [&] { return std::stoi(other("stats").substr(other("stats").find("getnext=") + 8)); };
    const int before = getnexts();
    EXPECT_EQ(Tool("snmpgetnext", {".1.3.6.1.4.1.5000", ".1.3.6.1.4.1.5113.0", ".1.3.6.1.4.1.4127.3",
                                   ".1.3.6.1.4.1.39917.1.1.2"}).output,
              expected[0] + "\n" + expected[0] + "\n" + expected[0] + "\n" + expected[3] + "\n");
    EXPECT_EQ(getnexts(), before + 3);

    Program& app = *apps_[1];
    EXPECT_EQ(Tool("snmpset", {".1.3.6.1.4.1.39917.1.1.1", "i", "5", ".1.3.6.1.4.1.39917.1.1.2", "s", "world"},
                   "private").status, 0);
    EXPECT_EQ(Get(".1.3.6.1.4.1.39917.1.1.1"), ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: 5\n");
    EXPECT_NE(app("stats").find(" set=2"), std::string::npos) << "each SET binding once";

    // An AgentX Notify; the master sends SNMPv2c with snmpTrapOID.0 =
    // enterprise.0.specific, and SNMPv1 converted from that OID.
    ASSERT_EQ(app("trap 39917 1 1 42"), "appended");
    const std::string binding = ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: 42";
    ASSERT_TRUE(Eventually([&] { return Traps().find(binding) != Traps().rfind(binding); })) << Traps();
    EXPECT_NE(Traps().find("\t.1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.4.1.39917.0.1"), std::string::npos) << Traps();
    EXPECT_NE(Traps().find(".1.3.6.1.4.1.39917 Enterprise Specific Trap (1) Uptime:"), std::string::npos) << Traps();
}

TEST_F(AgentxTest, ASilentApplicationGetsAnErrorBeforeTheMastersTimeoutAndTheSubagentSurvivesAMasterRestart) {
    StartMaster(1);
    Program& app = *apps_.emplace_back(TestApp(39917, 1, 1));
    ASSERT_EQ(app.All({"var 1.1.1 int 9", "mode silent"}), "var|mode silent");
    EXPECT_NE(Get(".1.3.6.1.4.1.39917.1.1.1").find("Reason: (genError)"), std::string::npos);
    ASSERT_EQ(app("mode normal"), "mode normal");
    const std::string value = ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: 9\n";
    EXPECT_TRUE(Eventually([&] { return Get(".1.3.6.1.4.1.39917.1.1.1") == value; })) << "the master kept the session";
    master_->Kill(SIGTERM), master_->Wait(20s);
    StartMaster(1);  // and the host registers again
    EXPECT_EQ(Get(".1.3.6.1.4.1.39917.1.1.1"), value);
}

}  // namespace
}  // namespace qv::e2e
