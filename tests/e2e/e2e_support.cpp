#include "e2e_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

namespace qv::e2e {

int FreeUdpPort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

std::string Loopback(int port) { return "127.0.0.1:" + std::to_string(port); }

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
    // Output closed in time: the program is done or nearly; otherwise the
    // destructor kills it and it counts as timed out.
    result.status = left().count() > 0 ? process.Wait(10s).value_or(-1) : -1;
    return result;
}

ToolResult Snmp(const std::string& tool, const std::string& target, std::vector<std::string> arguments,
                const std::string& community, const std::string& version, const std::string& seconds) {
    std::vector<std::string> command{tool, "-m", "", "-On", "-v", version, "-c", community, "-t", seconds, "-r", "0",
                                     target};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return RunProgram(command);
}

Program::Program(const std::string& path, const std::string& start) {
    process_ = std::make_unique<test::ChildProcess>(path, std::vector<std::string>{});
    EXPECT_TRUE(process_->WaitForLine("ready", 10s));
    if (!start.empty()) {
        EXPECT_EQ(Command(start), "started");
    }
}

Program::~Program() {
    if (process_->Wait(0ms)) return;
    process_->Write("quit\n");
    if (!process_->Wait(30s)) process_->Kill(SIGKILL);
}

std::string Program::Command(const std::string& command) {
    process_->Write(command + "\n");
    return process_->ReadLine(10s).value_or("<no answer>");
}

std::unique_ptr<Program> TestApp(int pen, int appId, int appInst) {
    auto app = std::make_unique<Program>(QV_TEST_APP, "");
    const std::string identity = std::to_string(pen) + " " + std::to_string(appId) + " " + std::to_string(appInst);
    EXPECT_EQ(app->Command("map"), "mapped");
    EXPECT_EQ(app->Command("keepalive " + identity + " 300"), "keeping");
    std::string slot;
    EXPECT_TRUE(Eventually([&] { return (slot = app->Command("find " + identity)) != "slot -1"; }));
    slot = slot.substr(5);
    EXPECT_EQ(app->Command("open " + slot), "opened");
    EXPECT_EQ(app->Command("serve " + slot), "serving");
    EXPECT_EQ(app->Command("up " + slot), "up");
    return app;
}

std::unique_ptr<Program> SdkApp(int appId) {
    auto app = std::make_unique<Program>(QV_SDK_TEST_APP, "start 39917 " + std::to_string(appId) + " 1");
    EXPECT_TRUE(Eventually([&] { return app->Command("status").find("connected=1") != std::string::npos; }));
    return app;
}

Host::Host(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--module", QV_MODULE});
    process_ = std::make_unique<test::ChildProcess>(QV_HOST, arguments);
}

std::optional<int> Host::Stop(int signal) {
    process_->Kill(signal);
    return process_->Wait(30s);
}

std::unique_ptr<test::ChildProcess> StartTrapReceiver(const test::IsolatedEnvironment& environment, int port,
                                                      const std::filesystem::path& log) {
    const auto config = environment.DriveC() / "snmptrapd.conf";
    std::ofstream(config) << "disableAuthorization yes\n";
    return std::make_unique<test::ChildProcess>(
        QV_SNMPTRAPD, std::vector<std::string>{"-C", "-c", config.string(), "-f", "-On", "-m", "", "-M", "/dev/null",
                                               "-Lf", log.string(), "udp:" + Loopback(port)});
}

std::vector<std::string> StartWalkedApplications(std::vector<std::unique_ptr<Program>>& applications) {
    applications.push_back(TestApp(39917, 2, 1));
    applications.push_back(TestApp(39917, 1, 1));
    applications.push_back(TestApp(5113, 4, 2));
    EXPECT_EQ(applications[0]->Command("var 2.1.1 int 21"), "var");
    EXPECT_EQ(applications[1]->Command("var 1.1.1 int -7"), "var");
    EXPECT_EQ(applications[1]->Command("var 1.1.2 str hello"), "var");
    EXPECT_EQ(applications[2]->Command("var 4.2.9 str five"), "var");
    return {".1.3.6.1.4.1.5113.4.2.9 = STRING: \"five\"",
            ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: -7",
            ".1.3.6.1.4.1.39917.1.1.2 = STRING: \"hello\"",
            ".1.3.6.1.4.1.39917.2.1.1 = INTEGER: 21",
            ".1.3.6.1.4.1.44821 = STRING: \"S[0]: Up(2) Pen(39917) ApId(2) ApInst(1)   "
            "S[1]: Up(2) Pen(39917) ApId(1) ApInst(1)   S[2]: Up(2) Pen(5113) ApId(4) ApInst(2)   \""};
}

void HostFixture::StartHost(std::vector<std::string> extra) {
    port_ = FreeUdpPort();
    std::vector<std::string> arguments{"--listen", "udp:" + Loopback(port_), "--rw-community", "private"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    host_ = std::make_unique<Host>(arguments);
    ASSERT_TRUE(Eventually([&] { return Tool("snmpget", {kStatus}).status == 0; })) << "the host never answered";
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
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

}  // namespace qv::e2e
