#include "e2e_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

namespace qv::e2e {

int FreeUdpPort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

ToolResult RunProgram(const std::vector<std::string>& command, std::chrono::milliseconds timeout) {
    // Through the shell for its 2>&1: error messages come in order with the output.
    std::vector<std::string> arguments{"-c", "exec \"$0\" \"$@\" 2>&1"};
    arguments.insert(arguments.end(), command.begin(), command.end());
    test::ChildProcess process("/bin/sh", arguments);
    process.CloseInput();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    auto left = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    };
    ToolResult result;
    while (auto line = process.ReadLine(left())) result.output += *line + "\n";
    // Output closed before the time ran out: the program is done or nearly.
    // Otherwise it is killed (by the destructor) and counts as timed out.
    result.status = left().count() > 0 ? process.Wait(10s).value_or(-1) : -1;
    return result;
}

ToolResult Snmp(const std::string& tool, const std::vector<std::string>& arguments,
                std::chrono::milliseconds timeout) {
    std::vector<std::string> command{tool, "-m", "", "-On"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return RunProgram(command, timeout);
}

std::string Ask(test::ChildProcess& process, const std::string& command) {
    process.Write(command + "\n");
    return process.ReadLine(10s).value_or("<no answer>");
}

Application::Application(int pen, int appId, int appInst) : pen_(pen), appId_(appId), appInst_(appInst) {
    process_ = std::make_unique<test::ChildProcess>(QV_TEST_APP, std::vector<std::string>{});
    process_->WaitForLine("ready", 10s);
}

bool Application::Connect(std::chrono::milliseconds timeout) {
    const std::string identity = std::to_string(pen_) + " " + std::to_string(appId_) + " " + std::to_string(appInst_);
    if (Ask(*process_, "map") != "mapped") return false;
    if (Ask(*process_, "keepalive " + identity + " 300") != "keeping") return false;
    std::string slot;
    const bool found = Eventually(
        [&] {
            slot = Ask(*process_, "find " + identity);
            return slot != "slot -1";
        },
        timeout);
    if (!found) return false;
    slot_ = std::stoi(slot.substr(5));
    const std::string index = std::to_string(slot_);
    return Ask(*process_, "open " + index) == "opened" && Ask(*process_, "serve " + index) == "serving" &&
           Ask(*process_, "up " + index) == "up";
}

bool Application::Var(const std::string& tail, const std::string& type, const std::string& value) {
    return Ask(*process_, "var " + tail + " " + type + " " + value) == "var";
}

Application::~Application() {
    if (!process_->Wait(0ms)) Quit();
}

void Application::Quit() {
    Ask(*process_, "quit");
    process_->Wait(10s);
}

Host::Host(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--module", QV_MODULE});
    process_ = std::make_unique<test::ChildProcess>(QV_HOST, arguments);
}

Host::~Host() {
    if (process_) Stop(SIGTERM);
}

std::optional<int> Host::Stop(int signal) {
    process_->Kill(signal);
    return process_->Wait(30s);
}

std::unique_ptr<test::ChildProcess> StartTrapReceiver(const test::IsolatedEnvironment& environment, int port,
                                                      const std::string& logFile) {
    const auto config = environment.DriveC() / "snmptrapd.conf";
    std::ofstream(config) << "disableAuthorization yes\n";
    std::vector<std::string> arguments{"-C", "-c", config.string(), "-f", "-On", "-m", "", "-M", "/dev/null"};
    for (const std::string& word : logFile.empty() ? std::vector<std::string>{"-Lo"}
                                                   : std::vector<std::string>{"-Lf", logFile}) {
        arguments.push_back(word);
    }
    arguments.push_back("udp:127.0.0.1:" + std::to_string(port));
    return std::make_unique<test::ChildProcess>(QV_SNMPTRAPD, arguments);
}

std::vector<std::string> StartWalkedApplications(std::vector<std::unique_ptr<Application>>& applications) {
    applications.push_back(std::make_unique<Application>(39917, 2, 1));
    applications.push_back(std::make_unique<Application>(39917, 1, 1));
    applications.push_back(std::make_unique<Application>(5113, 4, 2));
    for (auto& application : applications) EXPECT_TRUE(application->Connect());
    EXPECT_TRUE(applications[0]->Var("2.1.1", "int", "21"));
    EXPECT_TRUE(applications[1]->Var("1.1.1", "int", "-7"));
    EXPECT_TRUE(applications[1]->Var("1.1.2", "str", "hello"));
    EXPECT_TRUE(applications[2]->Var("4.2.9", "str", "five"));
    return {".1.3.6.1.4.1.5113.4.2.9 = STRING: \"five\"",
            ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: -7",
            ".1.3.6.1.4.1.39917.1.1.2 = STRING: \"hello\"",
            ".1.3.6.1.4.1.39917.2.1.1 = INTEGER: 21",
            ".1.3.6.1.4.1.44821 = STRING: \"S[0]: Up(2) Pen(39917) ApId(2) ApInst(1)   "
            "S[1]: Up(2) Pen(39917) ApId(1) ApInst(1)   S[2]: Up(2) Pen(5113) ApId(4) ApInst(2)   \""};
}

void HostFixture::StartHost(std::vector<std::string> extra) {
    port_ = FreeUdpPort();
    std::vector<std::string> arguments{"--listen", "udp:127.0.0.1:" + std::to_string(port_), "--rw-community",
                                       "private"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    host_ = std::make_unique<Host>(arguments);
    ASSERT_TRUE(Eventually([&] { return Get(kStatus).status == 0; })) << "the host never answered";
}

ToolResult HostFixture::Tool(const std::string& tool, std::vector<std::string> arguments, const std::string& community,
                             const std::string& version, const std::string& timeout) {
    std::vector<std::string> all{"-v", version, "-c", community.empty() ? (tool == "snmpset" ? "private" : "public") : community,
                                 "-t", timeout, "-r", "0", "127.0.0.1:" + std::to_string(port_)};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return Snmp(tool, all, 60s);
}

std::unique_ptr<Application> HostFixture::Connect(int pen, int appId, int appInst) {
    auto application = std::make_unique<Application>(pen, appId, appInst);
    EXPECT_TRUE(application->Connect());
    return application;
}

bool Eventually(const std::function<bool()>& probe, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (probe()) return true;
        std::this_thread::sleep_for(100ms);
    }
    return probe();
}

int Occurrences(const std::string& text, const std::string& part) {
    int n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) {
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

}  // namespace qv::e2e
