// Starting and stopping real helper processes from a test.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace qv::test {

// A child process with its standard output captured through a pipe. The
// destructor kills (SIGKILL; TerminateProcess on Windows) and reaps a child
// that is still running, so a failing test leaves nothing behind.
class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }

    // Reads one line of the child's output (without the line feed); nullopt at
    // end of output or when the time runs out.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);
    // Reads lines until one equals `line`; false on timeout or end of output.
    bool WaitForLine(const std::string& line, std::chrono::milliseconds timeout);
    // Writes text to the child's standard input.
    bool Write(const std::string& text);
    void CloseInput();

    // Exit status once the child has ended (-signal when killed); nullopt on timeout.
    std::optional<int> Wait(std::chrono::milliseconds timeout);
    void Kill(int signal);
    // Ends the child at once, as a crash would (SIGKILL; TerminateProcess).
    void Terminate();
    // Stops every thread of the child and lets them go on again (SIGSTOP and
    // SIGCONT; NtSuspendProcess and NtResumeProcess on Windows).
    void Suspend();
    void Resume();

private:
    pid_t pid_ = -1;
    int outFd_ = -1;
    int inFd_ = -1;
    // The first whole line of pending_ (without its line end), taken out.
    // Windows children end their lines with CR LF.
    std::optional<std::string> TakePendingLine() {
        const auto newline = pending_.find('\n');
        if (newline == std::string::npos) return std::nullopt;
        std::string line = pending_.substr(0, newline);
        pending_.erase(0, newline + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
    }
    std::string pending_;
    std::optional<int> status_;
    // Windows only: the process handle and the parent's pipe ends (HANDLEs).
    void* process_ = nullptr;
    void* outPipe_ = nullptr;
    void* inPipe_ = nullptr;
};

// Directory of the running test executable (helpers are built beside it).
std::string ExecutableDirectory();

}  // namespace qv::test
