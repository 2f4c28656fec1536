// The host as an embedded master agent: how net-snmp's PDUs, errors and traps
// map onto the module, and the host's own faults, seen through net-snmp's tools.
#include <filesystem>
#include <regex>
#include <set>

#include "e2e_support.h"

namespace qv::e2e {
namespace {

TEST_F(HostTest, WalksCrossApplicationsInOidOrderAndEndAtTheEndOfTheMib) {
    StartHost();
    const std::vector<std::string> expected = StartWalkedApplications(apps_);
    for (const auto& [tool, version, end] : {std::tuple{"snmpwalk", "1", "End of MIB"},
             {"snmpwalk", "2c", " = No more variables left in this MIB View (It is past the end of the MIB tree)"},
             {"snmpbulkwalk", "2c", " = No more variables left in this MIB View (It is past the end of the MIB tree)"}}) {
        const ToolResult walk = Tool(tool, {".1.3.6.1.4.1"}, "public", version);
        EXPECT_EQ(walk.status, 0) << walk.output;
        auto lines = Lines(walk.output);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), (version == std::string("1") ? "" : kStatus) + end);
        lines.pop_back();
        EXPECT_EQ(lines, expected) << tool << " -v" << version;
    }
    EXPECT_EQ(Lines(Tool("snmpwalk", {".1.3.6.1.4.1.39917.1"}).output),
              (std::vector<std::string>{expected[1], expected[2]}));
}

TEST_F(HostTest, ModuleStatusesReachManagersAsV1AndV2cErrors) {
    StartHost();
    EXPECT_EQ(Get(kStatus), kStatus + " = STRING: \"No active session\"\n");
    Program& app = *apps_.emplace_back(TestApp(39917, 1, 1));
    ASSERT_EQ(app.All({"var 1.1.1 int -7", "var 1.1.2 str hello"}), "var|var");
    const std::string owned = ".1.3.6.1.4.1.39917.1.1.1", missing = ".1.3.6.1.4.1.39917.7.1.1";
    EXPECT_EQ(Tool("snmpget", {owned, ".1.3.6.1.4.1.39917.1.1.9", missing}).output,
              owned + " = INTEGER: -7\n.1.3.6.1.4.1.39917.1.1.9 = No Such Instance currently exists at this OID\n" +
                  missing + " = No Such Object available on this agent at this OID\n");
    EXPECT_EQ(Tool("snmpgetnext", {owned}).output, ".1.3.6.1.4.1.39917.1.1.2 = STRING: \"hello\"\n");
    EXPECT_EQ(Tool("snmpset", {owned, "i", "5", ".1.3.6.1.4.1.39917.1.1.2", "s", "world"}, "private").status, 0);
    EXPECT_EQ(Tool("snmpget", {owned, ".1.3.6.1.4.1.39917.1.1.2"}).output,
              owned + " = INTEGER: 5\n.1.3.6.1.4.1.39917.1.1.2 = STRING: \"world\"\n");
    EXPECT_EQ(app("stats"), "ops get=4 getnext=1 set=2") << "each binding reaches the module once";

    // tool, application mode, name, community, version: the error a manager reads.
    for (const auto& [tool, mode, oid, community, version, reason] : std::vector<std::array<std::string, 6>>{
             {"snmpget", "normal", ".1.3.6.1.4.1.39917.1.1.9", "public", "1", "(noSuchName)"},
             {"snmpget", "normal", missing, "public", "1", "(noSuchName)"},
             {"snmpset", "normal", owned, "public", "2c", "noAccess"},
             {"snmpset", "normal", missing, "private", "2c", "notWritable"},
             {"snmpset", "normal", missing, "private", "1", "(readOnly)"},
             {"snmpset", "status 6", owned, "private", "2c", "wrongValue"},
             {"snmpset", "status 6", owned, "private", "1", "(badValue)"},
             {"snmpset", "silent", owned, "private", "2c", "resourceUnavailable"},
             {"snmpset", "silent", owned, "private", "1", "(genError)"}}) {
        ASSERT_EQ(app("mode " + mode), "mode " + mode.substr(0, mode.find(' ')));
        std::vector<std::string> arguments{oid, "i", "1"};
        if (tool == "snmpget") arguments.resize(1);
        const std::string output = Tool(tool, arguments, community, version).output;
        EXPECT_NE(output.find("Reason: " + reason), std::string::npos) << tool << " -v" << version << " " << mode << output;
    }
    EXPECT_NE(Tool("snmpget", {kStatus}, "wrong").output.find("Timeout"), std::string::npos);
}

TEST_F(HostTest, RetransmissionsOfASlowRequestReachTheModuleOnce) {
    StartHost();
    Program& app = *apps_.emplace_back(TestApp(39917, 1, 1));
    // The application takes 1.5 s; the manager resends every 0.3 s.
    ASSERT_EQ(app.All({"var 1.1.1 int 1", "mode slow 1500"}), "var|mode slow");
    const std::string value = ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: 42\n";
    EXPECT_EQ(RunProgram({"snmpset", "-m", "", "-On", "-v2c", "-cprivate", "-t0.3", "-r8", Loopback(port_),
                          ".1.3.6.1.4.1.39917.1.1.1", "i", "42"}).output, value);
    EXPECT_EQ(RunProgram({"snmpget", "-m", "", "-On", "-v2c", "-cpublic", "-t0.3", "-r8", Loopback(port_),
                          ".1.3.6.1.4.1.39917.1.1.1"}).output, value);
    EXPECT_EQ(app("stats"), "ops get=1 getnext=0 set=1");
}

TEST_F(HostTest, TrapsReachSnmptrapdAsV1TrapsAndV2cNotifications) {
    StartHost({"--trap-sink", Sink(), "--trap2-sink", Sink()});
    Program& app = *apps_.emplace_back(TestApp(39917, 1, 1));
    ASSERT_EQ(app("trap 39917 1 1 42"), "appended");
    const std::string binding = ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: 42";
    ASSERT_TRUE(Eventually([&] { return Traps().find(binding) != Traps().rfind(binding); })) << Traps();
    // SNMPv1: enterprise-specific trap 1 of the record's enterprise; SNMPv2c:
    // snmpTrapOID.0 = enterprise.0.1 after sysUpTime.0; both the record's time.
    const std::string text = Traps();
    std::smatch v1, v2;
    ASSERT_TRUE(std::regex_search(text, v1, std::regex(R"(\.39917 Enterprise Specific Trap \(1\) Uptime: ([0-9:.]+))")));
    ASSERT_TRUE(std::regex_search(text, v2, std::regex(R"(\.1\.3\.6\.1\.2\.1\.1\.3\.0 = Timeticks: \(([0-9]+)\) ([0-9:.]+))")));
    EXPECT_EQ(v1[1], v2[2]) << text;
    EXPECT_NE(v2[1], "0") << text;
    EXPECT_NE(text.find("\t.1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.4.1.39917.0.1"), std::string::npos) << text;
    EXPECT_EQ(text.find("TRAP, SNMP v1"), text.rfind("TRAP, SNMP v1")) << text;
}

TEST_F(HostTest, ListensOnlyOnTheGivenEndpointAndEndsWithStatusTwoOnBadFlagsOrABusyEndpoint) {
    StartHost();
    // One socket: no SMUX port 199, nothing but 127.0.0.1 and our port.
    std::vector<std::string> sockets;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(host_->Pid()) + "/fd")) {
        const std::string target = std::filesystem::read_symlink(entry.path()).string();
        if (target.starts_with("socket:[")) sockets.push_back(target.substr(8, target.size() - 9));
    }
    // The namespace claim is a Unix socket, reachable from no network.
    const std::string unixSockets = test::ReadFileBytes("/proc/net/unix");
    std::erase_if(sockets, [&](const std::string& inode) { return unixSockets.find(" " + inode + " ") != std::string::npos; });
    ASSERT_EQ(sockets.size(), 1u);
    char local[32];
    std::snprintf(local, sizeof local, "0100007F:%04X ", port_);
    EXPECT_TRUE(std::regex_search(test::ReadFileBytes("/proc/net/udp"),
                                  std::regex(std::string(local) + ".* " + sockets[0] + " ")));

    // From another namespace: a second host in this one would not get as far.
    const ToolResult result = RunProgram({"env", "QVSNMP_NAMESPACE=" + environment_.Namespace() + "b", QV_HOST, "--module",
                                          QV_MODULE, "--listen", "udp:" + Loopback(port_)});
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.output.find("snmp: cannot listen on udp:" + Loopback(port_)), std::string::npos) << result.output;
    EXPECT_EQ(RunProgram({QV_HOST, "--frobnicate"}).status, 2);
}

TEST_F(HostTest, HostKilledAndRestartedWhileApplicationsKeepTheirMappings) {
    StartHost();
    apps_.push_back(SdkApp(1));
    apps_.push_back(SdkApp(2));
    const std::string kept = ".1.3.6.1.4.1.39917.1.1.3", dead = ".1.3.6.1.4.1.39917.2.1.1";
    ASSERT_EQ(Tool("snmpset", {kept, "i", "33"}, "private").status, 0);
    ASSERT_EQ(Get(dead), dead + " = INTEGER: 42\n");
    const auto objectsBefore = environment_.LeftoverSharedMemory().size();

    host_->Kill(SIGKILL);
    ASSERT_EQ(host_->Wait(30s), -SIGKILL);
    // While the host is down application 2 dies too: its row still says up,
    // and its rings still hold what it last answered.
    apps_[1]->Kill();
    StartHost();
    // From the new host's first answer on the dead application never answers;
    // the survivor reconnects on its own with the value it kept.
    EXPECT_TRUE(Eventually([&] {
        EXPECT_EQ(Get(dead).find("INTEGER"), std::string::npos) << "stale answer";
        return Get(kept) == kept + " = INTEGER: 33\n";
    }));
    EXPECT_NE((*apps_[0])("status").find("connects=2"), std::string::npos);
    EXPECT_TRUE(Eventually([&] { return Get(kStatus).find("ApId(2)") == std::string::npos; })) << Get(kStatus);
    // The dead application comes back; nothing of the killed processes is left.
    apps_[1] = SdkApp(2);
    EXPECT_EQ(Get(dead), dead + " = INTEGER: 42\n");
    EXPECT_EQ(environment_.LeftoverSharedMemory().size(), objectsBefore);
}

TEST_F(HostTest, TrapBacklogOfAStalledHostReachesTheSinkWhole) {
    StartHost({"--trap2-sink", Sink()});
    Program& app = *apps_.emplace_back(SdkApp(1));
    // While the host is stopped 100 traps of 900-byte texts pile up; its next
    // trap walk takes them all at once, far more than one datagram carries.
    ASSERT_EQ(::kill(host_->Pid(), SIGSTOP), 0);
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(app("trap text 5 backlog " + std::to_string(i) + " " + std::string(900, 'x')), "trap appended abandoned=0");
    }
    ASSERT_EQ(::kill(host_->Pid(), SIGCONT), 0);
    std::set<std::string> received;
    const std::regex backlog("\"backlog ([0-9]+) ");
    Eventually([&] {
        const std::string text = Traps();
        for (std::sregex_iterator it(text.begin(), text.end(), backlog), end; it != end; ++it) {
            received.insert((*it)[1]);
        }
        return received.size() == 100;
    });
    EXPECT_EQ(received.size(), 100u);
}

}  // namespace
}  // namespace qv::e2e
