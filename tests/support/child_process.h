// Starting and stopping real helper processes from a test.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace qv::test {

// A child process with its standard input and output on pipes. The destructor
// kills (SIGKILL; TerminateProcess on Windows) and reaps a child that is still
// running, so a failing test leaves nothing behind.
class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    // One line of output without its line end; nullopt at end of output or timeout.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);
    // Reads lines until one equals `line`; false on timeout or end of output.
    bool WaitForLine(const std::string& line, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            const auto got = left.count() > 0 ? ReadLine(left) : std::nullopt;
            if (!got || *got == line) return got.has_value();
        }
    }
    bool Write(const std::string& text);
    void CloseInput();
    // Exit status once the child has ended (-signal when killed); nullopt on timeout.
    std::optional<int> Wait(std::chrono::milliseconds timeout);
    void Kill(int signal);  // any signal ends a Windows child
    void Terminate() { Kill(9); }  // at once, as a crash would: SIGKILL
    // Stops every thread of the child and lets them go on (SIGSTOP and SIGCONT;
    // NtSuspendProcess and NtResumeProcess on Windows).
    void Suspend();
    void Resume();

private:
    // The first whole line of pending_, taken out; Windows children end lines with CR LF.
    std::optional<std::string> TakePendingLine() {
        const auto newline = pending_.find('\n');
        if (newline == std::string::npos) return std::nullopt;
        std::string line = pending_.substr(0, newline);
        pending_.erase(0, newline + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
    }

    pid_t pid_ = -1;
    std::string pending_;
    std::optional<int> status_;
    int outFd_ = -1;  // POSIX pipe ends
    int inFd_ = -1;
    void* process_ = nullptr;  // Windows: process handle and pipe ends (HANDLEs)
    void* outPipe_ = nullptr;
    void* inPipe_ = nullptr;
};

}  // namespace qv::test
