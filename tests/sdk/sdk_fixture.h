// Real processes for the SDK tests: the test host named `snmp` (the agent),
// SDK applications, qvsnmpctl and the demo.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "qv_windows.h"
#include "shm/wire.h"
#include "shm/shared_access.h"
#include "support/child_process.h"
#include "support/test_environment.h"

namespace qv::test {

using namespace std::chrono_literals;

class SdkProcessTest : public ::testing::Test {
protected:
    void TearDown() override {
        // Ended properly, the processes release their names in /dev/shm.
        for (auto& app : apps_) Quit(*app);
        if (host_) Quit(*host_);
        apps_.clear();
        host_.reset();
        EXPECT_TRUE(environment_.LeftoverSharedMemory().empty());
    }

    // Asks a helper to end; one that does not is killed by its destructor.
    static void Quit(ChildProcess& process) {
        if (process.Wait(0ms)) return;  // ended already (killed by the test)
        if (process.Write("quit\n")) process.Wait(30s);
    }

    // Starts the agent and runs SnmpExtensionInit.
    ChildProcess& StartAgent() {
        host_ = std::make_unique<ChildProcess>(QV_TEST_HOST, std::vector<std::string>{QV_TEST_MODULE});
        EXPECT_TRUE(host_->WaitForLine("loaded", 10s));
        EXPECT_EQ(Ask(*host_, "init"), "init 1 1.3.6.1.4.1.44821 event=1");
        return *host_;
    }

    ChildProcess& StartApp() {
        apps_.push_back(std::make_unique<ChildProcess>(QV_SDK_TEST_APP, std::vector<std::string>{}));
        EXPECT_TRUE(apps_.back()->WaitForLine("ready", 10s));
        return *apps_.back();
    }

    // An SDK application 39917.id.1 that has connected its session.
    ChildProcess& StartConnectedApp(int appId = 1) {
        ChildProcess& app = StartApp();
        EXPECT_EQ(Ask(app, "start 39917 " + std::to_string(appId) + " 1"), "started");
        EXPECT_TRUE(WaitForStatus(app, "connected=1"));
        return app;
    }

    static std::string Ask(ChildProcess& process, const std::string& command) {
        process.Write(command + "\n");
        return process.ReadLine(30s).value_or("<no answer>");
    }

    // Asks `status` until the answer contains `part`; generous bound for slow machines.
    static bool WaitForStatus(ChildProcess& app, const std::string& part, std::chrono::seconds bound = 30s) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (std::chrono::steady_clock::now() < deadline) {
            if (Ask(app, "status").find(part) != std::string::npos) return true;
            std::this_thread::sleep_for(20ms);
        }
        ADD_FAILURE() << "last status: " << Ask(app, "status") << ", wanted " << part;
        return false;
    }

    // The bindings of the traps the agent hands over, until `count` have come
    // (the worker may split records over passes, so the service asks again).
    static std::vector<std::string> TrapBindings(ChildProcess& host, std::size_t count) {
        EXPECT_EQ(Ask(host, "trapwait 10000"), "trapwait signalled");
        std::vector<std::string> bindings;
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (bindings.size() < count && std::chrono::steady_clock::now() < deadline) {
            host.Write("traps\n");
            for (std::string line; (line = host.ReadLine(10s).value_or("traps done")) != "traps done";) {
                if (line.rfind("bind ", 0) == 0) bindings.push_back(line);
            }
            if (bindings.size() < count) std::this_thread::sleep_for(100ms);
        }
        return bindings;
    }

    // Runs a program to its end: exit status and standard output.
    struct Run {
        int exit = -1;
        std::string output;
    };
    static Run RunToEnd(const std::string& program, const std::vector<std::string>& arguments) {
        ChildProcess process(program, arguments);
        process.CloseInput();
        Run run;
        while (auto line = process.ReadLine(30s)) run.output += *line + "\n";
        run.exit = process.Wait(30s).value_or(-1000);
        return run;
    }

    IsolatedEnvironment environment_;
    std::unique_ptr<ChildProcess> host_;
    std::vector<std::unique_ptr<ChildProcess>> apps_;
};

// No agent: the test process makes the base region itself, to drain it or to
// give it contents of its choice.
class TestMadeBaseRegionTest : public SdkProcessTest {
protected:
    void SetUp() override {
        mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, qv::shm::kRegionSize,
                                      qv::shm::kBaseRegionName);
        ASSERT_NE(mapping_, nullptr);
        base_ = MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, 0, 0);
        ASSERT_NE(base_, nullptr);
        header_ = static_cast<QVSNMP_COMBufferHeaderLine*>(base_);
        qv::shm::StoreShared(header_->readIndex, std::uint16_t{1});
        qv::shm::StoreShared(header_->writeIndex, std::uint16_t{1});
    }
    void TearDown() override {
        for (auto& app : apps_) Quit(*app);
        apps_.clear();
        if (base_ != nullptr) UnmapViewOfFile(base_);
        if (mapping_ != nullptr) CloseHandle(mapping_);
        SdkProcessTest::TearDown();
    }

    HANDLE mapping_ = nullptr;
    void* base_ = nullptr;
    QVSNMP_COMBufferHeaderLine* header_ = nullptr;
};

}  // namespace qv::test
