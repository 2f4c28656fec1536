// Helpers of the end-to-end tests: free loopback ports, net-snmp's tools, the
// host, snmptrapd and the applications of tests/agent and tests/sdk.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/test_environment.h"

namespace qv::e2e {

using namespace std::chrono_literals;
inline const std::string kStatus = ".1.3.6.1.4.1.44821";

// A UDP port on 127.0.0.1 that nobody had bound a moment ago.
int FreeUdpPort();
std::string Loopback(int port);  // "127.0.0.1:port"

struct ToolResult {
    int status = -1;     // exit status; -1 when it had to be killed
    std::string output;  // standard output and standard error, in order
};
ToolResult RunProgram(const std::vector<std::string>& command, std::chrono::milliseconds timeout = 60s);
// A net-snmp tool without MIB files, numeric OIDs, no retries: `tool` -v
// `version` -c `community` -t `seconds` `target` then `arguments`.
ToolResult Snmp(const std::string& tool, const std::string& target, std::vector<std::string> arguments,
                const std::string& community = "public", const std::string& version = "2c",
                const std::string& seconds = "5");

// A helper program that reads a command per line and answers with one line.
class Program {
public:
    Program(const std::string& path, const std::string& start);
    ~Program();
    std::string Command(const std::string& command);
    void Kill() { process_->Kill(SIGKILL); process_->Wait(10s); }

private:
    std::unique_ptr<test::ChildProcess> process_;
};

// tests/agent/programs/test_app: serves variables `var`ies, answers in the
// `mode` it is told and counts what it was asked (`stats`).
std::unique_ptr<Program> TestApp(int pen, int appId, int appInst);
// tests/sdk/programs/sdk_app under 39917.appId.1, connected.
std::unique_ptr<Program> SdkApp(int appId);

// The host `snmp` with the module under test; SIGTERM when destroyed.
class Host {
public:
    explicit Host(std::vector<std::string> arguments);
    ~Host() { Stop(SIGTERM); }
    pid_t Pid() const { return process_->Pid(); }
    std::optional<int> Stop(int signal);

private:
    std::unique_ptr<test::ChildProcess> process_;
};

// snmptrapd on 127.0.0.1:`port`, logging what it receives into `log`.
std::unique_ptr<test::ChildProcess> StartTrapReceiver(const test::IsolatedEnvironment& environment, int port,
                                                      const std::filesystem::path& log);

// 39917.2.1, 39917.1.1 and 5113.4.2 connected in that order, with variables;
// returns the lines a walk of 1.3.6.1.4.1 shows for them, the status last.
std::vector<std::string> StartWalkedApplications(std::vector<std::unique_ptr<Program>>& applications);

// The host as an embedded master on a free loopback port, rw community "private".
class HostFixture : public ::testing::Test {
protected:
    void StartHost(std::vector<std::string> extra = {});
    ToolResult Tool(const std::string& tool, std::vector<std::string> arguments, const std::string& community = "public",
                    const std::string& version = "2c", const std::string& seconds = "5") {
        return Snmp(tool, Loopback(port_), std::move(arguments), community, version, seconds);
    }
    std::string Get(const std::string& oid) { return Tool("snmpget", {oid}).output; }

    test::IsolatedEnvironment environment_;
    int port_ = 0;
    std::unique_ptr<Host> host_;
};

bool Eventually(const std::function<bool()>& probe, std::chrono::milliseconds timeout = 20s);
int Occurrences(const std::string& text, const std::string& part);
std::vector<std::string> Lines(const std::string& text);

}  // namespace qv::e2e
