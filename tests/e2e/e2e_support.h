// Helpers of the end-to-end tests: free loopback ports, running the net-snmp
// command-line tools, and the host and application processes.
#pragma once

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
// session alive, publishes variables and answers queries.
class Application {
public:
    Application(int pen, int appId, int appInst);
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

// The host `snmp` with the given arguments; Start waits until it answers
// `snmpget` on `port` (embedded master) or for `ready` to return true.
class Host {
public:
    explicit Host(std::vector<std::string> arguments);
    ~Host();
    pid_t Pid() const { return process_->Pid(); }
    std::optional<int> Stop(int signal = SIGTERM);

private:
    std::unique_ptr<test::ChildProcess> process_;
};

// Polls `probe` until it returns true or the time is up.
bool Eventually(const std::function<bool()>& probe, std::chrono::milliseconds timeout = 20s);

// The lines of `text`.
std::vector<std::string> Lines(const std::string& text);

}  // namespace qv::e2e
