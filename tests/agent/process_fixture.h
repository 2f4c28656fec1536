// Tests with real processes: the host named `snmp` (QV_TEST_HOST) loading the
// module (QV_TEST_MODULE) as the agent, and test applications (QV_TEST_APP),
// each in this test's own namespace and C: drive.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "qv_windows.h"
#include "support/child_process.h"
#include "support/test_environment.h"

namespace qv::test {

using namespace std::chrono_literals;

// Slot 0 of the base region as this test process maps it.
struct BaseHeader {
    std::uint16_t readIndex, writeIndex, trapReadIndex;
    std::uint8_t serviceUp, reserved[9], state[16];
    std::uint16_t pen[16];
    std::int8_t appId[16], appInst[16];
    std::uint16_t keepAlive[16];
};

class BaseRegionView {
public:
    BaseRegionView() : mapping_(::OpenFileMappingA(FILE_MAP_WRITE, FALSE, "Global\\QV1.3.6.1.4.1")) {
        if (mapping_ != nullptr) view_ = ::MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, 0, 0);
    }
    ~BaseRegionView() {
        if (view_ != nullptr) ::UnmapViewOfFile(view_);
        if (mapping_ != nullptr) ::CloseHandle(mapping_);
    }
    bool Mapped() const { return view_ != nullptr; }
    const volatile BaseHeader* operator->() const { return static_cast<const volatile BaseHeader*>(view_); }
    const std::uint8_t* Bytes() const { return static_cast<const std::uint8_t*>(view_); }

private:
    HANDLE mapping_ = nullptr;
    void* view_ = nullptr;
};

// Whether a named region can still be opened.
inline bool RegionExists(const char* name) {
    HANDLE mapping = ::OpenFileMappingA(FILE_MAP_WRITE, FALSE, name);
    if (mapping != nullptr) ::CloseHandle(mapping);
    return mapping != nullptr;
}

class ProcessTest : public ::testing::Test {
protected:
    // Paths in the system's own form (backslashes on Windows).
    static std::string Path(const char* path) { return std::filesystem::path(path).make_preferred().string(); }

    std::unique_ptr<ChildProcess> StartHost(const std::string& executable = Path(QV_TEST_HOST)) {
        auto host = std::make_unique<ChildProcess>(executable, std::vector<std::string>{Path(QV_TEST_MODULE)});
        EXPECT_TRUE(host->WaitForLine("loaded", 10s));
        return host;
    }
    // The host after SnmpExtensionInit.
    std::unique_ptr<ChildProcess> StartAgent() {
        auto host = StartHost();
        EXPECT_EQ(Ask(*host, "init"), "init 1 1.3.6.1.4.1.44821 event=1");
        return host;
    }
    static std::unique_ptr<ChildProcess> StartApp(const std::string& first = "map", const std::string& answer = "mapped") {
        auto app = std::make_unique<ChildProcess>(Path(QV_TEST_APP), std::vector<std::string>{});
        EXPECT_TRUE(app->WaitForLine("ready", 10s));
        if (!first.empty()) {
            EXPECT_EQ(Ask(*app, first), answer);
        }
        return app;
    }
    static std::string Ask(ChildProcess& process, const std::string& command, std::chrono::seconds wait = 30s) {
        process.Write(command + "\n");
        return process.ReadLine(wait).value_or("<no answer>");
    }
    // Asks until the answer contains `part`; returns the last answer.
    static std::string AskUntil(ChildProcess& process, const std::string& command, const std::string& part,
                                std::chrono::milliseconds timeout = 10s) {
        std::string answer;
        Eventually([&] { return (answer = Ask(process, command)).find(part) != std::string::npos; }, timeout);
        return answer;
    }
    static bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (; !done(); std::this_thread::sleep_for(10ms)) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
        }
        return true;
    }
    // Asks a process to end and waits for it; one already ended is left alone.
    static void Quit(ChildProcess& process) {
        if (process.Wait(0ms)) return;
        EXPECT_EQ(Ask(process, "quit"), "bye");
        EXPECT_EQ(process.Wait(30s), 0);
    }
    // Keeps `identity` connected and serves its session; returns the slot.
    static std::string ServeSession(ChildProcess& app, const std::string& identity) {
        EXPECT_EQ(Ask(app, "keepalive " + identity + " 300"), "keeping");
        std::string slot;
        EXPECT_TRUE(Eventually([&] { return (slot = Ask(app, "find " + identity).substr(5)) != "-1"; }, 10s));
        EXPECT_EQ(Ask(app, "open " + slot), "opened");
        EXPECT_EQ(Ask(app, "serve " + slot), "serving");
        EXPECT_EQ(Ask(app, "up " + slot), "up");
        return slot;
    }
    std::string TraceFile(const char* name) const { return ReadFileBytes(environment_.DebugDirectory() / name); }
    // The UTF-16LE log file as narrow text.
    std::string LogText() const {
        const std::string bytes = TraceFile("QVSNMP_WindowsSnmp.txt");
        std::string narrow;
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) narrow += bytes[i + 1] == '\0' ? bytes[i] : '?';
        return narrow;
    }

    IsolatedEnvironment environment_;
};

}  // namespace qv::test
