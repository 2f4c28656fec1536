// The host as an AgentX subagent of a real snmpd started by the test.
//
// snmpd waits agentXTimeout seconds (default 1) for a subagent and, after
// agentXRetries resends (default 5), drops the whole AgentX session. The
// module may wait about 2 s for an application, so the master needs more
// time than that, and the host must know the master's timeout
// (--agentx-timeout) to answer, with an error if need be, before it.
#include <gtest/gtest.h>

#include <fstream>

#include "e2e_support.h"

namespace qv::e2e {
namespace {

class AgentxTest : public ::testing::Test {
protected:
    void StartMaster(int timeoutSeconds) {
        if (masterPort_ == 0) masterPort_ = FreeUdpPort();
        socket_ = (environment_.DriveC() / "agentx.sock").string();
        const auto config = environment_.DriveC() / "snmpd.conf";
        std::ofstream(config) << "master agentx\n"
                              << "agentXSocket " << socket_ << "\n"
                              << "agentXTimeout " << timeoutSeconds << "\n"
                              << "agentXRetries 0\n"
                              << "rocommunity public 127.0.0.1\n"
                              << "rwcommunity private 127.0.0.1\n";
        timeoutSeconds_ = timeoutSeconds;
        // Only the loopback port and the AgentX socket: no SMUX, no
        // system configuration, persistent files in the test's directory.
        ::setenv("SNMP_PERSISTENT_DIR", environment_.DriveC().c_str(), 1);
        master_ = std::make_unique<test::ChildProcess>(
            QV_SNMPD, std::vector<std::string>{"-f", "-Lo", "-C", "-c", config.string(), "-I", "-smux", "-m", "",
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
                    const std::string& community = "public") {
        std::vector<std::string> all{"-v2c", "-c", community, "-t", "8", "-r", "0",
                                     "127.0.0.1:" + std::to_string(masterPort_)};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return Snmp(tool, all);
    }
    bool Serving() {
        return Tool("snmpget", {".1.3.6.1.4.1.44821"}).output.find("STRING") != std::string::npos;
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
    StartMaster(5);
    StartHost();
    ASSERT_TRUE(Eventually([&] { return Serving(); }, 30s)) << "the subagent never registered";
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
    application.Quit();
}

TEST_F(AgentxTest, WithTheMastersDefaultTimeoutASilentApplicationGetsAnErrorAndTheSessionSurvives) {
    StartMaster(1);
    StartHost();
    ASSERT_TRUE(Eventually([&] { return Serving(); }, 30s));
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
    application.Quit();
}

TEST_F(AgentxTest, TheSubagentReconnectsAfterTheMasterRestarts) {
    StartMaster(5);
    StartHost();
    ASSERT_TRUE(Eventually([&] { return Serving(); }, 30s));
    StopMaster();
    StartMaster(5);
    EXPECT_TRUE(Eventually([&] { return Serving(); }, 30s)) << "registered again";
    EXPECT_EQ(::kill(host_->Pid(), 0), 0) << "the host is still running";
}

}  // namespace
}  // namespace qv::e2e
