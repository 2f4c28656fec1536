// Helper processes on Windows: CreateProcess with the child's standard input
// and output on anonymous pipes.
#include "qv_windows.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "support/child_process.h"

namespace qv::test {

// Arguments are quoted, not escaped: the tests pass paths and words, never a
// quote or a trailing backslash.
ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE outWrite = nullptr, inRead = nullptr;
    if (!::CreatePipe(&outPipe_, &outWrite, &inheritable, 0) || !::CreatePipe(&inRead, &inPipe_, &inheritable, 0)) {
        throw std::runtime_error("CreatePipe failed");
    }
    ::SetHandleInformation(outPipe_, HANDLE_FLAG_INHERIT, 0);  // only the child's ends are inherited
    ::SetHandleInformation(inPipe_, HANDLE_FLAG_INHERIT, 0);
    std::string commandLine = "\"" + program + "\"";
    for (const auto& argument : arguments) commandLine += " \"" + argument + "\"";
    STARTUPINFOA startup{.cb = sizeof(STARTUPINFOA), .dwFlags = STARTF_USESTDHANDLES, .hStdInput = inRead,
                         .hStdOutput = outWrite, .hStdError = ::GetStdHandle(STD_ERROR_HANDLE)};
    PROCESS_INFORMATION info{};
    const BOOL started = ::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                          nullptr, &startup, &info);
    ::CloseHandle(outWrite);
    ::CloseHandle(inRead);
    if (!started) throw std::runtime_error("cannot start " + program + ": error " + std::to_string(::GetLastError()));
    ::CloseHandle(info.hThread);
    process_ = info.hProcess;
    pid_ = static_cast<pid_t>(info.dwProcessId);
}

ChildProcess::~ChildProcess() {
    Kill(9);
    if (!status_ && process_ != nullptr) ::WaitForSingleObject(process_, INFINITE);
    ::CloseHandle(process_);
    ::CloseHandle(outPipe_);
    CloseInput();
}

// Anonymous pipes have no waitable read with a time limit: look whether bytes
// are there, and read only then.
bool ChildProcess::ReadMore(Clock::time_point deadline) {
    for (DWORD available = 0; ::PeekNamedPipe(outPipe_, nullptr, 0, nullptr, &available, nullptr); ::Sleep(2)) {
        char buffer[4096];
        DWORD got = 0;
        if (available > 0) {
            const bool read = ::ReadFile(outPipe_, buffer, std::min<DWORD>(available, sizeof buffer), &got, nullptr) && got > 0;
            return read && (pending_.append(buffer, got), true);
        }
        if (Clock::now() >= deadline) return false;
    }
    return false;
}

bool ChildProcess::Write(const std::string& text) {
    DWORD put = 0;
    return ::WriteFile(inPipe_, text.data(), static_cast<DWORD>(text.size()), &put, nullptr) && put == text.size();
}

void ChildProcess::CloseInput() { ::CloseHandle(std::exchange(inPipe_, nullptr)); }

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
    DWORD code = 0;
    if (!status_ && ::WaitForSingleObject(process_, static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0 &&
        ::GetExitCodeProcess(process_, &code)) {
        status_ = static_cast<int>(code);
    }
    return status_;
}

void ChildProcess::Kill(int /*signal*/) {
    if (process_ != nullptr && !status_) ::TerminateProcess(process_, 1);
}

}  // namespace qv::test
