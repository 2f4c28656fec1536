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
    using Clock = std::chrono::steady_clock;

    ChildProcess(const std::string& program, const std::vector<std::string>& arguments);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    // One line of output without its line end (LF or CR LF); nullopt at end of
    // output or when the time runs out.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        std::size_t newline;
        while ((newline = pending_.find('\n')) == std::string::npos) {
            if (!ReadMore(deadline)) return std::nullopt;
        }
        std::string line = pending_.substr(0, newline > 0 && pending_[newline - 1] == '\r' ? newline - 1 : newline);
        pending_.erase(0, newline + 1);
        return line;
    }
    // Reads lines until one equals `line`; false on timeout or end of output.
    bool WaitForLine(const std::string& line, std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        for (std::optional<std::string> got; (got = ReadLine(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())));) {
            if (*got == line) return true;
        }
        return false;
    }
    bool Write(const std::string& text);
    void CloseInput();
    // Exit status once the child has ended (-signal when killed); nullopt on timeout.
    std::optional<int> Wait(std::chrono::milliseconds timeout);
    void Kill(int signal);         // any signal ends a Windows child
    void Terminate() { Kill(9); }  // at once, as a crash would: SIGKILL
    // Stop every thread of the child and let them go on (SIGSTOP and SIGCONT;
    // NtSuspendProcess and NtResumeProcess on Windows).
    void Suspend();
    void Resume();

private:
    // Appends what the child wrote to pending_; false at end of output or deadline.
    bool ReadMore(Clock::time_point deadline);

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
