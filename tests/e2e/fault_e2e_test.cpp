// Faults the host and the SDK must survive, with real processes: the host,
// SDK applications (tests/sdk/programs/sdk_app) and net-snmp's tools. Each
// process that dies here dies by SIGKILL, so nothing of it runs on the way out.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <future>
#include <thread>

#include "e2e_support.h"

namespace qv::e2e {
namespace {

// An SDK application as a child process (one command per line).
class SdkApp {
public:
    explicit SdkApp(int appId) : appId_(appId) {
        process_ = std::make_unique<test::ChildProcess>(QV_SDK_TEST_APP, std::vector<std::string>{});
        EXPECT_TRUE(process_->WaitForLine("ready", 10s));
        EXPECT_EQ(Ask(*process_, "start 39917 " + std::to_string(appId) + " 1"), "started");
    }
    ~SdkApp() {
        if (!process_->Wait(0ms)) {
            process_->Write("quit\n");
            if (!process_->Wait(30s)) process_->Kill(SIGKILL);
        }
    }
    std::string Command(const std::string& command) { return Ask(*process_, command); }
    bool WaitFor(const std::string& part) {
        return Eventually([&] { return Command("status").find(part) != std::string::npos; });
    }
    void Kill() {
        process_->Kill(SIGKILL);
        EXPECT_EQ(process_->Wait(10s), -SIGKILL);
    }
    // 1.3.6.1.4.1.39917.<appId>.1.<tail>
    std::string Oid(const std::string& tail) const { return ".1.3.6.1.4.1.39917." + std::to_string(appId_) + ".1." + tail; }
    std::string Row() const { return "Pen(39917) ApId(" + std::to_string(appId_) + ") ApInst(1)"; }

private:
    int appId_;
    std::unique_ptr<test::ChildProcess> process_;
};

class FaultTest : public HostFixture {
protected:
    void TearDown() override {
        apps_.clear();
        if (host_) {
            EXPECT_EQ(host_->Stop(), 0);
        }
        host_.reset();
        EXPECT_TRUE(environment_.LeftoverSharedMemory().empty());
    }
    SdkApp& StartApp(int appId) {
        apps_.push_back(std::make_unique<SdkApp>(appId));
        EXPECT_TRUE(apps_.back()->WaitFor("connected=1"));
        return *apps_.back();
    }

    std::vector<std::unique_ptr<SdkApp>> apps_;
};

TEST_F(FaultTest, ApplicationKilledInTheMiddleOfAQuery) {
    StartHost();
    // Slot 0 is taken, so that the victim's silence shows as the error of any
    // other slot (session 0 answers a silent application with noSuchName).
    SdkApp& bystander = StartApp(1);
    SdkApp& app = StartApp(3);
    ASSERT_EQ(app.Command("status").find("session=1 "), std::string("status connected=1 ").size());
    const auto marker = environment_.DriveC() / "in-getter";
    // Its getter would take far longer than the module waits for a reply.
    ASSERT_EQ(app.Command("slow 20000 " + marker.string()), "slow");

    auto get = std::async(std::launch::async, [&] { return Tool("snmpget", {app.Oid("6")}, "public", "2c", "15"); });
    ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(marker); })) << "the query never reached the getter";
    app.Kill();

    // The host answers within the manager's 15 s, with the module's error for
    // a reply that never came (resourceUnavailable, genErr to a v2c GET); the
    // other application goes on being served.
    const ToolResult answer = get.get();
    EXPECT_NE(answer.status, 0) << answer.output;
    EXPECT_NE(answer.output.find("genError"), std::string::npos) << answer.output;
    EXPECT_EQ(answer.output.find("Timeout"), std::string::npos) << answer.output;
    EXPECT_EQ(Get(bystander.Oid("1")).output, bystander.Oid("1") + " = INTEGER: 42\n");

    // Nobody renews the session: the agent times it out and frees the slot.
    ASSERT_TRUE(Eventually([&] { return Get(kStatus).output.find(app.Row()) == std::string::npos; }))
        << Get(kStatus).output;
    EXPECT_NE(Get(app.Oid("1")).output.find("No Such Object"), std::string::npos);

    // The same identity connects again and is served.
    SdkApp& again = StartApp(3);
    EXPECT_EQ(Get(again.Oid("1")).output, again.Oid("1") + " = INTEGER: 42\n");
    const std::string status = Get(kStatus).output;
    EXPECT_EQ(status.find(again.Row()), status.rfind(again.Row())) << "one row for the identity: " << status;
}

TEST_F(FaultTest, HostKilledAndRestartedWhileApplicationsKeepTheirMappings) {
    StartHost();
    SdkApp& survivor = StartApp(1);
    StartApp(2);
    SdkApp* victim = apps_.back().get();
    ASSERT_EQ(Tool("snmpset", {survivor.Oid("3"), "i", "33"}).status, 0);
    ASSERT_EQ(Get(victim->Oid("1")).output, victim->Oid("1") + " = INTEGER: 42\n");
    const auto objectsBefore = environment_.LeftoverSharedMemory().size();

    ASSERT_EQ(host_->Stop(SIGKILL), -SIGKILL);
    // While the host is down one application dies too: its row still says up,
    // and its rings still hold what it last answered.
    victim->Kill();
    StartHost();

    // From the first answer of the new host on, the dead application's
    // variables never answer; the survivor reconnects on its own and answers
    // with the value it kept.
    bool survivorBack = false;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!survivorBack && std::chrono::steady_clock::now() < deadline) {
        const ToolResult dead = Get(victim->Oid("1"));
        EXPECT_EQ(dead.output.find("INTEGER"), std::string::npos) << "stale answer: " << dead.output;
        survivorBack = Get(survivor.Oid("3")).output == survivor.Oid("3") + " = INTEGER: 33\n";
    }
    ASSERT_TRUE(survivorBack) << Get(survivor.Oid("3")).output;
    EXPECT_TRUE(survivor.WaitFor("connects=2"));
    EXPECT_TRUE(Eventually([&] { return Get(kStatus).output.find(victim->Row()) == std::string::npos; }))
        << Get(kStatus).output;

    // The dead application comes back under its identity; the namespace holds
    // as many objects as before: nothing of the killed processes is left.
    apps_.pop_back();
    SdkApp& back = StartApp(2);
    EXPECT_EQ(Get(back.Oid("1")).output, back.Oid("1") + " = INTEGER: 42\n");
    EXPECT_EQ(environment_.LeftoverSharedMemory().size(), objectsBefore);
}

TEST_F(FaultTest, TrapBacklogOfAStalledHostReachesTheSinkWhole) {
    const int trapPort = FreeUdpPort();
    const auto trapd = StartTrapReceiver(environment_, trapPort);
    StartHost({"--trap2-sink", "127.0.0.1:" + std::to_string(trapPort)});
    SdkApp& app = StartApp(1);

    // While the host is stopped, 100 traps of 900-byte texts pile up; its next
    // trap walk takes them all at once, far more than one datagram carries.
    constexpr int kTraps = 100;
    ASSERT_EQ(::kill(host_->Pid(), SIGSTOP), 0);
    const std::string text(900, 'x');
    for (int i = 0; i < kTraps; ++i) {
        ASSERT_EQ(app.Command("trap text 5 backlog " + std::to_string(i) + " " + text), "trap appended abandoned=0");
    }
    ASSERT_EQ(::kill(host_->Pid(), SIGCONT), 0);

    std::set<int> received;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (received.size() < kTraps && std::chrono::steady_clock::now() < deadline) {
        const auto line = trapd->ReadLine(500ms);
        if (!line) continue;
        for (auto at = line->find("\"backlog "); at != std::string::npos; at = line->find("\"backlog ", at + 1)) {
            received.insert(std::atoi(line->c_str() + at + 9));
        }
    }
    EXPECT_EQ(received.size(), static_cast<std::size_t>(kTraps));
}

}  // namespace
}  // namespace qv::e2e
