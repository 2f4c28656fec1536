// Helpers of the end-to-end tests: free loopback ports, running the net-snmp
// command-line tools, and the host and application processes.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <functional>
#include <optional>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/test_environment.h"

namespace qv::e2e {

using namespace std::chrono_literals;

// A UDP port on 127.0.0.1 that nobody had bound a moment ago.
int FreeUdpPort();

struct ToolResult {
    int status = -1;     // exit status; -1 when it had to be killed
    std::string output;  // standard output and standard error
};
// Runs a program with arguments, waits up to `timeout`.
ToolResult RunProgram(const std::vector<std::string>& command, std::chrono::milliseconds timeout = 30s);
// net-snmp tools without MIB files, numeric OIDs.
ToolResult Snmp(const std::string& tool, const std::vector<std::string>& arguments,
                std::chrono::milliseconds timeout = 30s);

// Sends `command` and returns the next line.
std::string Ask(test::ChildProcess& process, const std::string& command);

// An application of tests/agent/programs: maps the base region, keeps its
// session alive, publishes variables and answers queries. Destroyed while it
// runs, it is asked to quit.
class Application {
public:
    Application(int pen, int appId, int appInst);
    ~Application();
    // Waits for its session slot, opens it, serves and sets the session up.
    bool Connect(std::chrono::milliseconds timeout = 10s);
    bool Var(const std::string& tail, const std::string& type, const std::string& value);
    std::string Command(const std::string& command) { return Ask(*process_, command); }
    void Kill() { process_->Kill(SIGKILL); process_->Wait(10s); }
    void Quit();
    int Slot() const { return slot_; }

private:
    int pen_, appId_, appInst_;
    int slot_ = -1;
    std::unique_ptr<test::ChildProcess> process_;
};

// The host `snmp` with the given arguments and the module under test; stopped
// (SIGTERM) when destroyed.
class Host {
public:
    explicit Host(std::vector<std::string> arguments);
    ~Host();
    pid_t Pid() const { return process_->Pid(); }
    std::optional<int> Stop(int signal = SIGTERM);

private:
    std::unique_ptr<test::ChildProcess> process_;
};

// snmptrapd on 127.0.0.1:`port`, printing what it receives to its standard
// output, or into `logFile` when one is given.
std::unique_ptr<test::ChildProcess> StartTrapReceiver(const test::IsolatedEnvironment& environment, int port,
                                                      const std::string& logFile = {});

// Three applications, 39917.2.1, 39917.1.1 and 5113.4.2 connected in that
// order, with variables; returns the lines a walk of 1.3.6.1.4.1 shows for
// them, the status variable last.
std::vector<std::string> StartWalkedApplications(std::vector<std::unique_ptr<Application>>& applications);

// The host as an embedded master on a free loopback port, with the rw
// community "private", and managers reaching it through net-snmp's tools.
class HostFixture : public ::testing::Test {
protected:
    void StartHost(std::vector<std::string> extra = {});
    // `tool` with -v `version`; the community is "private" for snmpset and
    // "public" otherwise unless one is given.
    ToolResult Tool(const std::string& tool, std::vector<std::string> arguments, const std::string& community = {},
                    const std::string& version = "2c", const std::string& timeout = "5");
    ToolResult Get(const std::string& oid) { return Tool("snmpget", {oid}); }
    std::unique_ptr<Application> Connect(int pen, int appId, int appInst);

    test::IsolatedEnvironment environment_;
    int port_ = 0;
    std::unique_ptr<Host> host_;
};

inline const std::string kStatus = ".1.3.6.1.4.1.44821";

// Polls `probe` until it returns true or the time is up.
bool Eventually(const std::function<bool()>& probe, std::chrono::milliseconds timeout = 20s);

// How often `part` occurs in `text`.
int Occurrences(const std::string& text, const std::string& part);

// The lines of `text`.
std::vector<std::string> Lines(const std::string& text);

}  // namespace qv::e2e
