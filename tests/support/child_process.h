// A helper process started by a test, its standard input and output on pipes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace qv::test {

// The destructor kills and reaps a child still running, so a failing test
// leaves nothing behind. On Windows any signal ends the child at once.
class ChildProcess {
public:
    using Clock = std::chrono::steady_clock;
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    // One line of output without its LF or CR LF; nullopt at end of output or timeout.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout) { return ReadLineBy(Clock::now() + timeout); }
    // Reads lines until one equals `line`; false on timeout or end of output.
    bool WaitForLine(const std::string& line, std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        for (std::optional<std::string> got; (got = ReadLineBy(deadline));) {
            if (*got == line) return true;
        }
        return false;
    }
    bool Write(const std::string& text);
    void CloseInput();
    // Exit status once the child has ended (-signal when killed); nullopt on timeout.
    std::optional<int> Wait(std::chrono::milliseconds timeout);
    void Kill(int signal);
    void Terminate() { Kill(9); }  // SIGKILL: ends it as a crash would

private:
    std::optional<std::string> ReadLineBy(Clock::time_point deadline) {
        std::size_t end;
        while ((end = pending_.find('\n')) == std::string::npos) {
            if (!ReadMore(deadline)) return std::nullopt;
        }
        std::string line = pending_.substr(0, end > 0 && pending_[end - 1] == '\r' ? end - 1 : end);
        pending_.erase(0, end + 1);
        return line;
    }
    bool ReadMore(Clock::time_point deadline);  // appends output to pending_; false at end or deadline

    pid_t pid_ = -1;
    std::string pending_;
    std::optional<int> status_;
    int outFd_ = -1, inFd_ = -1;                                       // POSIX pipe ends
    void *process_ = nullptr, *outPipe_ = nullptr, *inPipe_ = nullptr;  // Windows HANDLEs
};

}  // namespace qv::test
