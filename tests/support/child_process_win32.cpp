// Starting and stopping helper processes on Windows: CreateProcess with the
// child's standard input and output on anonymous pipes.
#include "qv_windows.h"

#include <stdexcept>

#include "support/child_process.h"

namespace qv::test {
namespace {

// One command-line argument, quoted the way the C runtime splits it again.
std::string Quote(const std::string& argument) {
    std::string quoted(1, '"');
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    quoted.push_back('"');
    return quoted;
}

// ntdll's process-wide suspend and resume, which have no Win32 wrapper.
void NtProcessCall(const char* name, void* process) {
    using ProcessCall = LONG(NTAPI*)(HANDLE);
    if (process != nullptr) {
        reinterpret_cast<ProcessCall>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("ntdll.dll"), name)))(process);
    }
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, inRead = nullptr, inWrite = nullptr;
    if (!::CreatePipe(&outRead, &outWrite, &inheritable, 0) || !::CreatePipe(&inRead, &inWrite, &inheritable, 0)) {
        throw std::runtime_error("CreatePipe failed");
    }
    // Only the child's ends are inherited.
    ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    std::string commandLine = Quote(program);
    for (const auto& argument : arguments) commandLine += " " + Quote(argument);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    const BOOL started = ::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                          nullptr, &startup, &info);
    ::CloseHandle(outWrite);
    ::CloseHandle(inRead);
    outPipe_ = outRead;
    inPipe_ = inWrite;
    if (!started) throw std::runtime_error("cannot start " + program + ": error " + std::to_string(::GetLastError()));
    ::CloseHandle(info.hThread);
    process_ = info.hProcess;
    pid_ = static_cast<pid_t>(info.dwProcessId);
}

ChildProcess::~ChildProcess() {
    if (process_ != nullptr) {
        Terminate();
        if (!status_) ::WaitForSingleObject(process_, INFINITE);
        ::CloseHandle(process_);
    }
    ::CloseHandle(outPipe_);
    CloseInput();
}

std::optional<std::string> ChildProcess::ReadLine(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (auto line = TakePendingLine()) return line;
        // Anonymous pipes have no waitable read with a time limit: look
        // whether bytes are there, and read only then.
        DWORD available = 0;
        if (!::PeekNamedPipe(outPipe_, nullptr, 0, nullptr, &available, nullptr)) return std::nullopt;
        if (available == 0) {
            if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
            ::Sleep(2);
            continue;
        }
        char buffer[4096];
        DWORD got = 0;
        if (!::ReadFile(outPipe_, buffer, available < sizeof buffer ? available : sizeof buffer, &got, nullptr) || got == 0) {
            return std::nullopt;
        }
        pending_.append(buffer, got);
    }
}

bool ChildProcess::Write(const std::string& text) {
    DWORD put = 0;
    return inPipe_ != nullptr && ::WriteFile(inPipe_, text.data(), static_cast<DWORD>(text.size()), &put, nullptr) &&
           put == text.size();
}

void ChildProcess::CloseInput() {
    if (inPipe_ != nullptr) ::CloseHandle(inPipe_);
    inPipe_ = nullptr;
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
    if (status_) return status_;
    if (::WaitForSingleObject(process_, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    ::GetExitCodeProcess(process_, &code);
    status_ = static_cast<int>(code);
    return status_;
}

void ChildProcess::Kill(int /*signal*/) {
    if (process_ != nullptr && !status_) ::TerminateProcess(process_, 1);
}

void ChildProcess::Suspend() { NtProcessCall("NtSuspendProcess", status_ ? nullptr : process_); }
void ChildProcess::Resume() { NtProcessCall("NtResumeProcess", status_ ? nullptr : process_); }

}  // namespace qv::test
