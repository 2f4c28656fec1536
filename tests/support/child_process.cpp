#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <thread>
#include <utility>

extern char** environ;

namespace qv::test {
namespace {

int StatusOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status); }

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments) {
    int out[2];
    int in[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const int result = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(in[0]);
    outFd_ = out[0];
    inFd_ = in[1];
    if (result != 0) throw std::runtime_error("cannot start " + program);
}

ChildProcess::~ChildProcess() {
    Kill(SIGKILL);
    if (!status_ && pid_ > 0) ::waitpid(pid_, nullptr, 0);
    ::close(outFd_);
    CloseInput();
}

bool ChildProcess::ReadMore(Clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd descriptor{outFd_, POLLIN, 0};
        const int ready = left > 0 ? ::poll(&descriptor, 1, static_cast<int>(left)) : 0;
        char buffer[4096];
        const ssize_t got = ready > 0 ? ::read(outFd_, buffer, sizeof buffer) : -1;
        if (got > 0) return pending_.append(buffer, static_cast<size_t>(got)), true;
        if (ready >= 0 || errno != EINTR) return false;
    }
}

bool ChildProcess::Write(const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        const ssize_t put = ::write(inFd_, text.data() + done, text.size() - done);
        if (put <= 0 && errno != EINTR) return false;
        done += put > 0 ? static_cast<size_t>(put) : 0;
    }
    return true;
}

void ChildProcess::CloseInput() { ::close(std::exchange(inFd_, -1)); }

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (int status = 0; !status_; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_) status_ = StatusOf(status);
        if (!status_ && Clock::now() >= deadline) break;
    }
    return status_;
}

void ChildProcess::Kill(int signal) {
    if (pid_ > 0 && !status_) ::kill(pid_, signal);
}

}  // namespace qv::test
