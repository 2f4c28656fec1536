// Helpers of the end-to-end tests: free loopback ports, net-snmp's tools, the
// host, snmptrapd and the applications of tests/agent and tests/sdk.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "support/child_process.h"
#include "support/free_port.h"
#include "support/test_environment.h"

namespace qv::e2e {

using namespace std::chrono_literals;
inline const std::string kStatus = ".1.3.6.1.4.1.44821";

using test::FreeUdpPort;
inline std::string Loopback(int port) { return "127.0.0.1:" + std::to_string(port); }

inline bool Eventually(const std::function<bool()>& probe, std::chrono::milliseconds timeout = 20s) {
    for (const auto deadline = std::chrono::steady_clock::now() + timeout; std::chrono::steady_clock::now() < deadline;
         std::this_thread::sleep_for(100ms)) {
        if (probe()) return true;
    }
    return probe();
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

struct ToolResult {
    int status = -1;     // exit status; -1 when it had to be killed after 60 s
    std::string output;  // standard output and standard error, in order
};
inline ToolResult RunProgram(const std::vector<std::string>& command) {
    std::string line = "timeout -s KILL 60";
    for (const auto& word : command) line += " '" + word + "'";
    FILE* pipe = ::popen((line + " 2>&1").c_str(), "r");
    ToolResult result;
    for (int c; (c = std::fgetc(pipe)) != EOF;) result.output += static_cast<char>(c);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}
// A helper program that takes a command per line and answers with one line.
class Program {
public:
    explicit Program(const std::string& path) : process_(path, {}) { EXPECT_TRUE(process_.WaitForLine("ready", 10s)); }
    ~Program() {
        if (process_.Wait(0ms)) return;
        process_.Write("quit\n");
        if (!process_.Wait(30s)) process_.Kill(SIGKILL);
    }
    std::string operator()(const std::string& command) {
        process_.Write(command + "\n");
        return process_.ReadLine(10s).value_or("<no answer>");
    }
    // The answers to `commands`, sent one after the other, joined by "|".
    std::string All(const std::vector<std::string>& commands) {
        std::string answers;
        for (const auto& command : commands) answers += (answers.empty() ? "" : "|") + (*this)(command);
        return answers;
    }
    void Kill() { process_.Kill(SIGKILL), process_.Wait(10s); }

private:
    test::ChildProcess process_;
};

// tests/agent/programs/test_app, connected: serves what it is told (`var`),
// answers in the `mode` it is told, counts what it was asked (`stats`).
inline std::unique_ptr<Program> TestApp(int pen, int appId, int appInst) {
    auto app = std::make_unique<Program>(QV_TEST_APP);
    const std::string identity = std::to_string(pen) + " " + std::to_string(appId) + " " + std::to_string(appInst);
    EXPECT_EQ(app->All({"map", "keepalive " + identity + " 300"}), "mapped|keeping");
    std::string slot;
    EXPECT_TRUE(Eventually([&] { return (slot = (*app)("find " + identity).substr(5)) != "-1"; }));
    EXPECT_EQ(app->All({"open " + slot, "serve " + slot, "up " + slot}), "opened|serving|up");
    return app;
}

// tests/sdk/programs/sdk_app as 39917.appId.1, connected.
inline std::unique_ptr<Program> SdkApp(int appId) {
    auto app = std::make_unique<Program>(QV_SDK_TEST_APP);
    EXPECT_EQ((*app)("start 39917 " + std::to_string(appId) + " 1"), "started");
    EXPECT_TRUE(Eventually([&] { return (*app)("status").find("connected=1") != std::string::npos; }));
    return app;
}

// 39917.2.1, 39917.1.1 and 5113.4.2 connected in that order, with variables;
// returns the lines a walk of 1.3.6.1.4.1 shows for them, the status last.
inline std::vector<std::string> StartWalkedApplications(std::vector<std::unique_ptr<Program>>& apps) {
    for (const auto& [pen, appId, appInst] : {std::tuple{39917, 2, 1}, {39917, 1, 1}, {5113, 4, 2}}) {
        apps.push_back(TestApp(pen, appId, appInst));
    }
    EXPECT_EQ((*apps[0])("var 2.1.1 int 21") + (*apps[2])("var 4.2.9 str five"), "varvar");
    EXPECT_EQ(apps[1]->All({"var 1.1.1 int -7", "var 1.1.2 str hello"}), "var|var");
    return {".1.3.6.1.4.1.5113.4.2.9 = STRING: \"five\"", ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: -7",
            ".1.3.6.1.4.1.39917.1.1.2 = STRING: \"hello\"", ".1.3.6.1.4.1.39917.2.1.1 = INTEGER: 21",
            ".1.3.6.1.4.1.44821 = STRING: \"S[0]: Up(2) Pen(39917) ApId(2) ApInst(1)   "
            "S[1]: Up(2) Pen(39917) ApId(1) ApInst(1)   S[2]: Up(2) Pen(5113) ApId(4) ApInst(2)   \""};
}

// A test's own namespace and ports: the host as embedded master (StartHost) or
// as AgentX subagent of snmpd (StartMaster), snmptrapd (Sink), managers (Tool).
class HostTest : public ::testing::Test {
protected:
    void StartHost(std::vector<std::string> extra = {}) {
        extra.insert(extra.begin(), {"--module", QV_MODULE, "--listen", "udp:" + Loopback(port_), "--rw-community", "private"});
        host_ = std::make_unique<test::ChildProcess>(QV_HOST, extra);
        ASSERT_TRUE(Eventually([&] { return Tool("snmpget", {kStatus}).status == 0; })) << "the host never answered";
    }
    // snmpd with the given agentXTimeout and `extra` lines of snmpd.conf, and
    // the host (once) as its subagent.
    void StartMaster(int timeoutSeconds, const std::string& extra = {}) {
        const auto config = Drive("snmpd.conf"), socket = Drive("agentx.sock");
        std::ofstream(config) << "master agentx\nagentXSocket " << socket << "\nagentXTimeout " << timeoutSeconds
                              << "\nagentXRetries 0\nrocommunity public 127.0.0.1\nrwcommunity private 127.0.0.1\n" << extra;
        // Persistent files in the test's directory; the log into a file, since
        // a pipe nobody reads would stop snmpd in the middle of a walk.
        ::setenv("SNMP_PERSISTENT_DIR", environment_.DriveC().c_str(), 1);
        master_ = std::make_unique<test::ChildProcess>(QV_SNMPD, std::vector<std::string>{
            "-f", "-Lf", Drive("snmpd.log"), "-C", "-c", config, "-I", "-smux", "-m", "", "udp:" + Loopback(port_)});
        if (!host_) {
            host_ = std::make_unique<test::ChildProcess>(QV_HOST, std::vector<std::string>{
                "--module", QV_MODULE, "--agentx", socket, "--agentx-timeout", std::to_string(timeoutSeconds)});
        }
        ASSERT_TRUE(Eventually([&] { return Get(kStatus).find("STRING") != std::string::npos; }, 30s))
            << "the subagent never registered";
    }
    // Where traps go: snmptrapd, started on first use, logging into traps.log.
    std::string Sink() {
        if (!trapd_) {
            trapd_ = std::make_unique<test::ChildProcess>(QV_SNMPTRAPD, std::vector<std::string>{
                "-C", "--disableAuthorization=yes", "-f", "-On", "-m", "", "-M", "/dev/null", "-Lf", Drive("traps.log"),
                "udp:" + Loopback(trapPort_)});
        }
        return Loopback(trapPort_);
    }
    void TearDown() override {
        apps_.clear();
        if (host_) {
            host_->Kill(SIGTERM);
            EXPECT_EQ(host_->Wait(30s), 0);
        }
        host_.reset();
        master_.reset();
        EXPECT_TRUE(environment_.LeftoverSharedMemory().empty());
    }
    // A net-snmp tool without MIB files, numeric OIDs and no retries.
    ToolResult Tool(const std::string& tool, std::vector<std::string> arguments, const std::string& community = "public",
                    const std::string& version = "2c") {
        arguments.insert(arguments.begin(), {tool, "-m", "", "-On", "-v", version, "-c", community, "-t8", "-r0",
                                             Loopback(port_)});
        return RunProgram(arguments);
    }
    std::string Get(const std::string& oid) { return Tool("snmpget", {oid}).output; }
    std::string Drive(const std::string& name) const { return (environment_.DriveC() / name).string(); }
    std::string Traps() const { return test::ReadFileBytes(Drive("traps.log")); }

    test::IsolatedEnvironment environment_;
    int port_ = FreeUdpPort(), trapPort_ = FreeUdpPort();
    std::unique_ptr<test::ChildProcess> trapd_, master_, host_;  // stopped in the opposite order
    std::vector<std::unique_ptr<Program>> apps_;
};

}  // namespace qv::e2e
