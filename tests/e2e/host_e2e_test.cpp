// The host as an embedded master agent, driven by net-snmp's own tools.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "e2e_support.h"

namespace qv::e2e {
namespace {

class HostTest : public HostFixture {
protected:
    std::string Target() const { return "127.0.0.1:" + std::to_string(port_); }
    ToolResult Get(const std::vector<std::string>& oids, const std::string& version = "2c",
                   const std::string& community = "public") {
        return Tool("snmpget", oids, community, version);
    }
};

TEST_F(HostTest, WalksShowTheStatusAndEveryApplicationInOidOrder) {
    StartHost();
    std::vector<std::unique_ptr<Application>> applications;
    const std::vector<std::string> expected = StartWalkedApplications(applications);
    for (const std::string tool : {"snmpwalk", "snmpbulkwalk"}) {
        const ToolResult walk = Tool(tool, {".1.3.6.1.4.1"});
        EXPECT_EQ(walk.status, 0) << walk.output;
        auto lines = Lines(walk.output);
        // The walk reaches the end of what the agent serves.
        ASSERT_FALSE(lines.empty()) << tool;
        EXPECT_EQ(lines.back(), kStatus + " = No more variables left in this MIB View (It is past the end of the MIB tree)");
        lines.pop_back();
        EXPECT_EQ(lines, expected) << tool;
    }
    const ToolResult v1 = Tool("snmpwalk", {".1.3.6.1.4.1"}, "public", "1");
    EXPECT_EQ(Lines(v1.output).size(), expected.size() + 1) << v1.output;
    EXPECT_EQ(v1.output.find("not increasing"), std::string::npos);
    // A walk of one application's subtree stays inside it.
    EXPECT_EQ(Lines(Tool("snmpwalk", {".1.3.6.1.4.1.39917.1"}).output),
              (std::vector<std::string>{expected[1], expected[2]}));
}

TEST_F(HostTest, GetSetAndErrorsAsManagersSeeThem) {
    StartHost();
    EXPECT_EQ(Get({kStatus}).output, kStatus + " = STRING: \"No active session\"\n");
    auto application = Connect(39917, 1, 1);
    ASSERT_TRUE(application->Var("1.1.1", "int", "-7"));
    ASSERT_TRUE(application->Var("1.1.2", "str", "hello"));

    EXPECT_EQ(Get({".1.3.6.1.4.1.39917.1.1.1", ".1.3.6.1.4.1.39917.1.1.9", ".1.3.6.1.4.1.39917.5.5.5"}).output,
              ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: -7\n"
              ".1.3.6.1.4.1.39917.1.1.9 = No Such Instance currently exists at this OID\n"
              ".1.3.6.1.4.1.39917.5.5.5 = No Such Object available on this agent at this OID\n");
    const ToolResult v1 = Get({".1.3.6.1.4.1.39917.1.1.9"}, "1");
    EXPECT_NE(v1.output.find("Reason: (noSuchName)"), std::string::npos) << v1.output;

    // SET of an integer and a string in one request, then read back.
    ToolResult set = Tool("snmpset", {".1.3.6.1.4.1.39917.1.1.1", "i", "5", ".1.3.6.1.4.1.39917.1.1.2", "s", "world"});
    EXPECT_EQ(set.status, 0) << set.output;
    EXPECT_EQ(Get({".1.3.6.1.4.1.39917.1.1.1", ".1.3.6.1.4.1.39917.1.1.2"}).output,
              ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: 5\n.1.3.6.1.4.1.39917.1.1.2 = STRING: \"world\"\n");
    EXPECT_EQ(application->Command("lastset"), "set tail=010102 type=4 len=5 bytes=776F726C6400");

    // The read-only community may not write.
    set = Tool("snmpset", {".1.3.6.1.4.1.39917.1.1.1", "i", "6"}, "public");
    EXPECT_NE(set.output.find("Reason: noAccess"), std::string::npos) << set.output;
    // No application there: readOnly from the module.
    set = Tool("snmpset", {".1.3.6.1.4.1.39917.7.1.1", "i", "6"});
    EXPECT_NE(set.output.find("Reason: notWritable"), std::string::npos) << set.output;
    set = Tool("snmpset", {".1.3.6.1.4.1.39917.7.1.1", "i", "6"}, "private", "1");
    EXPECT_NE(set.output.find("Reason: (readOnly)"), std::string::npos) << set.output;
    // The application says badValue.
    ASSERT_EQ(application->Command("mode status 6"), "mode status");
    set = Tool("snmpset", {".1.3.6.1.4.1.39917.1.1.1", "i", "1"});
    EXPECT_NE(set.output.find("Reason: wrongValue"), std::string::npos) << set.output;
    // A silent application: the module gives up after about 2 s.
    ASSERT_EQ(application->Command("mode silent"), "mode silent");
    set = Tool("snmpset", {".1.3.6.1.4.1.39917.1.1.1", "i", "1"}, "private", "2c", "10");
    EXPECT_NE(set.output.find("Reason: resourceUnavailable"), std::string::npos) << set.output;
    // An unknown community gets no answer at all.
    EXPECT_NE(Get({kStatus}, "2c", "wrong").output.find("Timeout"), std::string::npos);
}

TEST_F(HostTest, RetransmissionsOfASlowRequestReachTheModuleOnce) {
    StartHost();
    auto application = Connect(39917, 1, 1);
    ASSERT_TRUE(application->Var("1.1.1", "int", "1"));
    // The application takes 1.5 s; the manager resends every 0.3 s.
    ASSERT_EQ(application->Command("mode slow 1500"), "mode slow");
    const ToolResult set = Snmp("snmpset", {"-v", "2c", "-c", "private", "-t", "0.3", "-r", "8", Target(),
                                            ".1.3.6.1.4.1.39917.1.1.1", "i", "42"});
    EXPECT_EQ(set.output, ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: 42\n");
    const ToolResult get = Snmp("snmpget", {"-v", "2c", "-c", "public", "-t", "0.3", "-r", "8", Target(),
                                            ".1.3.6.1.4.1.39917.1.1.1"});
    EXPECT_EQ(get.output, ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: 42\n");
    EXPECT_EQ(application->Command("stats"), "ops get=1 getnext=0 set=1");
}

TEST_F(HostTest, TrapsReachSnmptrapdAsV1TrapsAndV2cNotifications) {
    const int trapPort = FreeUdpPort();
    const auto trapd = StartTrapReceiver(environment_, trapPort);
    const std::string sink = "127.0.0.1:" + std::to_string(trapPort);
    StartHost({"--trap-sink", sink, "--trap2-sink", sink});
    auto first = Connect(39917, 1, 1);
    auto second = Connect(4127, 2, 1);
    // Collects what snmptrapd prints until `text` has been seen `times` times.
    std::string received;
    auto has = [&](const std::string& text) { return received.find(text) != std::string::npos; };
    auto count = [&](const std::string& text) { return Occurrences(received, text); };
    auto await = [&](const std::string& text, int times) {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (count(text) < times && std::chrono::steady_clock::now() < deadline) {
            if (auto line = trapd->ReadLine(500ms)) received += *line + "\n";
        }
        return count(text) >= times;
    };
    // One trap after the other, so that the module hands them over apart.
    ASSERT_EQ(first->Command("trap 39917 1 1 42"), "appended");
    ASSERT_TRUE(await(".1.3.6.1.4.1.39917.1.1.1 = INTEGER: 42", 2)) << received;
    ASSERT_EQ(second->Command("trap 4127 2 1 7"), "appended");
    ASSERT_TRUE(await(".1.3.6.1.4.1.4127.2.1.1 = INTEGER: 7", 2)) << received;
    // SNMPv1: enterprise-specific trap 1 of the record's enterprise.
    EXPECT_TRUE(has(".1.3.6.1.4.1.39917 Enterprise Specific Trap (1) Uptime:")) << received;
    EXPECT_TRUE(has(".1.3.6.1.4.1.4127 Enterprise Specific Trap (1) Uptime:")) << received;
    EXPECT_EQ(count("TRAP, SNMP v1, community public"), 2) << received;
    // SNMPv2c: snmpTrapOID.0 = enterprise.0.1 after sysUpTime.0.
    EXPECT_TRUE(has(".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.4.1.39917.0.1")) << received;
    EXPECT_TRUE(has(".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.4.1.4127.0.1")) << received;
    EXPECT_TRUE(has(".1.3.6.1.2.1.1.3.0 = Timeticks:")) << received;
}

TEST_F(HostTest, StoppingDetachesTheModuleAndARestartServesTheRunningApplications) {
    StartHost();
    auto application = Connect(39917, 1, 1);
    ASSERT_TRUE(application->Var("1.1.1", "int", "3"));
    EXPECT_EQ(host_->Stop(SIGTERM), 0);
    host_.reset();
    // The application still holds the base region: the agent left it marked down.
    EXPECT_EQ(application->Command("find 39917 1 1"), "slot -1") << "session table cleared";

    StartHost();
    // The application's keep-alive connects it again; it sets its session up.
    std::string slot;
    ASSERT_TRUE(Eventually([&] { return (slot = application->Command("find 39917 1 1")) != "slot -1"; }));
    ASSERT_EQ(application->Command("up " + slot.substr(5)), "up");
    EXPECT_EQ(Get({".1.3.6.1.4.1.39917.1.1.1"}).output, ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: 3\n");
    EXPECT_EQ(host_->Stop(SIGINT), 0);
    host_.reset();
    application->Quit();
    EXPECT_TRUE(environment_.LeftoverSharedMemory().empty());
}

// Inodes of the sockets a process holds open.
std::set<std::string> SocketInodes(pid_t pid) {
    std::set<std::string> inodes;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        if (target.rfind("socket:[", 0) == 0) inodes.insert(target.substr(8, target.size() - 9));
    }
    return inodes;
}

// "local-address state" of the sockets in /proc/net/<table> with those inodes.
std::vector<std::string> SocketsIn(const std::string& table, const std::set<std::string>& inodes) {
    std::vector<std::string> found;
    std::ifstream in("/proc/net/" + table);
    std::string line;
    std::getline(in, line);  // column titles
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeouts, inode;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeouts >> inode;
        if (inodes.count(inode) != 0) found.push_back(local + " " + state);
    }
    return found;
}

TEST_F(HostTest, ListensOnlyOnTheGivenEndpoint) {
    StartHost();
    const auto inodes = SocketInodes(host_->Pid());
    // No TCP socket at all (net-snmp's agent library would open SMUX on port
    // 199 of every address), and one UDP socket: 127.0.0.1 and our port.
    EXPECT_EQ(SocketsIn("tcp", inodes), std::vector<std::string>{});
    EXPECT_EQ(SocketsIn("tcp6", inodes), std::vector<std::string>{});
    EXPECT_EQ(SocketsIn("udp6", inodes), std::vector<std::string>{});
    char expected[32];
    std::snprintf(expected, sizeof expected, "0100007F:%04X 07", port_);
    EXPECT_EQ(SocketsIn("udp", inodes), std::vector<std::string>{expected});
}

TEST(HostCommandLineTest, BadFlagsAndBusyEndpointsEndWithStatusTwo) {
    test::IsolatedEnvironment environment;
    ToolResult result = RunProgram({QV_HOST, "--module", QV_MODULE, "--frobnicate"});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(Lines(result.output).size(), 1u) << result.output;
    result = RunProgram({QV_HOST, "--help"});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.output.find("--agentx SOCKET"), std::string::npos);

    // Someone else has the port.
    const int port = FreeUdpPort();
    const int taken = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string endpoint = "udp:127.0.0.1:" + std::to_string(port);
    result = RunProgram({QV_HOST, "--module", QV_MODULE, "--listen", endpoint});
    ::close(taken);
    EXPECT_EQ(result.status, 2) << result.output;
    EXPECT_NE(result.output.find("snmp: cannot listen on " + endpoint), std::string::npos) << result.output;
    EXPECT_TRUE(environment.LeftoverSharedMemory().empty());
}

}  // namespace
}  // namespace qv::e2e
