// The host as an embedded master agent: how net-snmp's PDUs, errors and traps
// map onto the module, seen through net-snmp's own tools.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "e2e_support.h"

namespace qv::e2e {
namespace {

using HostTest = HostFixture;
const std::string kEndOfMib = " = No more variables left in this MIB View (It is past the end of the MIB tree)";

TEST_F(HostTest, WalksCrossApplicationsInOidOrderAndEndAtTheEndOfTheMib) {
    StartHost();
    std::vector<std::unique_ptr<Program>> applications;
    const std::vector<std::string> expected = StartWalkedApplications(applications);
    for (const auto& [tool, version] : std::vector<std::pair<std::string, std::string>>{
             {"snmpwalk", "2c"}, {"snmpbulkwalk", "2c"}, {"snmpwalk", "1"}}) {
        const ToolResult walk = Tool(tool, {".1.3.6.1.4.1"}, "public", version);
        EXPECT_EQ(walk.status, 0) << walk.output;
        auto lines = Lines(walk.output);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), version == "1" ? "End of MIB" : kStatus + kEndOfMib);
        lines.pop_back();
        EXPECT_EQ(lines, expected) << tool << " -v" << version;
    }
    EXPECT_EQ(Lines(Tool("snmpwalk", {".1.3.6.1.4.1.39917.1"}).output),
              (std::vector<std::string>{expected[1], expected[2]}));
}

TEST_F(HostTest, ModuleStatusesReachManagersAsV1AndV2cErrors) {
    StartHost();
    EXPECT_EQ(Get(kStatus), kStatus + " = STRING: \"No active session\"\n");
    auto app = TestApp(39917, 1, 1);
    ASSERT_EQ(app->Command("var 1.1.1 int -7"), "var");
    ASSERT_EQ(app->Command("var 1.1.2 str hello"), "var");
    EXPECT_EQ(Tool("snmpget", {".1.3.6.1.4.1.39917.1.1.1", ".1.3.6.1.4.1.39917.1.1.9", ".1.3.6.1.4.1.39917.5.5.5"})
                  .output,
              ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: -7\n"
              ".1.3.6.1.4.1.39917.1.1.9 = No Such Instance currently exists at this OID\n"
              ".1.3.6.1.4.1.39917.5.5.5 = No Such Object available on this agent at this OID\n");
    EXPECT_EQ(Tool("snmpgetnext", {".1.3.6.1.4.1.39917.1.1.1"}).output, ".1.3.6.1.4.1.39917.1.1.2 = STRING: \"hello\"\n");

    ToolResult set = Tool("snmpset", {".1.3.6.1.4.1.39917.1.1.1", "i", "5", ".1.3.6.1.4.1.39917.1.1.2", "s", "world"},
                          "private");
    EXPECT_EQ(set.status, 0) << set.output;
    EXPECT_EQ(Tool("snmpget", {".1.3.6.1.4.1.39917.1.1.1", ".1.3.6.1.4.1.39917.1.1.2"}).output,
              ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: 5\n.1.3.6.1.4.1.39917.1.1.2 = STRING: \"world\"\n");
    EXPECT_EQ(app->Command("stats"), "ops get=4 getnext=1 set=2") << "each binding reaches the module once";

    // What a manager reads in the error line, by module status, version and community.
    const std::string missing = ".1.3.6.1.4.1.39917.7.1.1";
    const std::string owned = ".1.3.6.1.4.1.39917.1.1.1";
    struct Case {
        std::string tool, mode, oid, community, version, reason;
    };
    const std::vector<Case> cases{
        {"snmpget", "normal", ".1.3.6.1.4.1.39917.1.1.9", "public", "1", "(noSuchName)"},
        {"snmpget", "normal", missing, "public", "1", "(noSuchName)"},
        {"snmpset", "normal", owned, "public", "2c", "noAccess"},
        {"snmpset", "normal", missing, "private", "2c", "notWritable"},
        {"snmpset", "normal", missing, "private", "1", "(readOnly)"},
        {"snmpset", "status 6", owned, "private", "2c", "wrongValue"},
        {"snmpset", "status 6", owned, "private", "1", "(badValue)"},
        {"snmpset", "silent", owned, "private", "2c", "resourceUnavailable"},
        {"snmpset", "silent", owned, "private", "1", "(genError)"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(app->Command("mode " + c.mode), "mode " + c.mode.substr(0, c.mode.find(' ')));
        std::vector<std::string> arguments{c.oid};
        if (c.tool == "snmpset") arguments.insert(arguments.end(), {"i", "1"});
        const ToolResult result = Tool(c.tool, arguments, c.community, c.version, "10");
        EXPECT_NE(result.output.find("Reason: " + c.reason), std::string::npos)
            << c.tool << " -v" << c.version << " " << c.mode << "\n" << result.output;
    }
    EXPECT_NE(Tool("snmpget", {kStatus}, "wrong").output.find("Timeout"), std::string::npos);
}

TEST_F(HostTest, RetransmissionsOfASlowRequestReachTheModuleOnce) {
    StartHost();
    auto app = TestApp(39917, 1, 1);
    ASSERT_EQ(app->Command("var 1.1.1 int 1"), "var");
    // The application takes 1.5 s; the manager resends every 0.3 s.
    ASSERT_EQ(app->Command("mode slow 1500"), "mode slow");
    auto resent = [&](const std::string& tool, std::vector<std::string> arguments, const std::string& community) {
        arguments.insert(arguments.begin(), {"-m", "", "-On", "-v", "2c", "-c", community, "-t", "0.3", "-r", "8",
                                             Loopback(port_)});
        arguments.insert(arguments.begin(), tool);
        return RunProgram(arguments).output;
    };
    EXPECT_EQ(resent("snmpset", {".1.3.6.1.4.1.39917.1.1.1", "i", "42"}, "private"),
              ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: 42\n");
    EXPECT_EQ(resent("snmpget", {".1.3.6.1.4.1.39917.1.1.1"}, "public"), ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: 42\n");
    EXPECT_EQ(app->Command("stats"), "ops get=1 getnext=0 set=1");
}

TEST_F(HostTest, TrapsReachSnmptrapdAsV1TrapsAndV2cNotifications) {
    const int trapPort = FreeUdpPort();
    const auto log = environment_.DriveC() / "traps.log";
    const auto trapd = StartTrapReceiver(environment_, trapPort, log);
    StartHost({"--trap-sink", Loopback(trapPort), "--trap2-sink", Loopback(trapPort)});
    auto app = TestApp(39917, 1, 1);
    ASSERT_EQ(app->Command("trap 39917 1 1 42"), "appended");
    const std::string binding = ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: 42";
    ASSERT_TRUE(Eventually([&] { return Occurrences(test::ReadFileBytes(log), binding) == 2; }))
        << test::ReadFileBytes(log);
    const std::string text = test::ReadFileBytes(log);
    // SNMPv1: enterprise-specific trap 1 of the record's enterprise; SNMPv2c:
    // snmpTrapOID.0 = enterprise.0.1 after sysUpTime.0; both carry the
    // record's time stamp.
    std::smatch v1, v2;
    ASSERT_TRUE(std::regex_search(text, v1, std::regex(R"(\.1\.3\.6\.1\.4\.1\.39917 Enterprise Specific Trap \(1\) )"
                                                       R"(Uptime: ([0-9:.]+))")))
        << text;
    ASSERT_TRUE(std::regex_search(text, v2, std::regex(R"(\.1\.3\.6\.1\.2\.1\.1\.3\.0 = Timeticks: \(([0-9]+)\) )"
                                                       R"(([0-9:.]+))")))
        << text;
    EXPECT_EQ(v1[1], v2[2]) << text;
    EXPECT_NE(v2[1], "0") << text;
    EXPECT_NE(text.find(".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.4.1.39917.0.1"), std::string::npos) << text;
    EXPECT_EQ(Occurrences(text, "TRAP, SNMP v1, community public"), 1) << text;
}

// "local-address state" of each socket the process holds, from /proc/net/<table>.
std::vector<std::string> Sockets(pid_t pid, const std::string& table) {
    std::set<std::string> inodes;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        if (target.starts_with("socket:[")) inodes.insert(target.substr(8, target.size() - 9));
    }
    std::vector<std::string> found;
    std::ifstream in("/proc/net/" + table);
    std::string line, skip, local, state, inode;
    std::getline(in, line);
    while (in >> skip >> local >> skip >> state >> skip >> skip >> skip >> skip >> skip >> inode) {
        if (inodes.count(inode) != 0) found.push_back(local + " " + state);
        std::getline(in, line);
    }
    return found;
}

TEST_F(HostTest, ListensOnlyOnTheGivenEndpoint) {
    StartHost();
    // No SMUX port 199 on every address, nothing but 127.0.0.1 and our port.
    for (const char* table : {"tcp", "tcp6", "udp6"}) EXPECT_EQ(Sockets(host_->Pid(), table), std::vector<std::string>{});
    char expected[32];
    std::snprintf(expected, sizeof expected, "0100007F:%04X 07", port_);
    EXPECT_EQ(Sockets(host_->Pid(), "udp"), std::vector<std::string>{expected});
}

TEST(HostCommandLineTest, BadFlagsAndBusyEndpointsEndWithStatusTwo) {
    test::IsolatedEnvironment environment;
    ToolResult result = RunProgram({QV_HOST, "--module", QV_MODULE, "--frobnicate"});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(Lines(result.output).size(), 1u) << result.output;

    const int port = FreeUdpPort();
    const int taken = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    result = RunProgram({QV_HOST, "--module", QV_MODULE, "--listen", "udp:" + Loopback(port)});
    ::close(taken);
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.output.find("snmp: cannot listen on udp:" + Loopback(port)), std::string::npos) << result.output;
    EXPECT_TRUE(environment.LeftoverSharedMemory().empty());
}

}  // namespace
}  // namespace qv::e2e
