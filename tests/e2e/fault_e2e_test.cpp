// Host faults with real processes: the host, SDK applications
// (tests/sdk/programs/sdk_app) and net-snmp's tools. Each process that dies
// here dies by SIGKILL or is stopped, so nothing of it runs on the way out.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "e2e_support.h"

namespace qv::e2e {
namespace {

class FaultTest : public HostFixture {
protected:
    void TearDown() override {
        apps_.clear();
        if (host_) {
            EXPECT_EQ(host_->Stop(SIGTERM), 0);
        }
        host_.reset();
        EXPECT_TRUE(environment_.LeftoverSharedMemory().empty());
    }
    static std::string Oid(int appId, int tail) {
        return ".1.3.6.1.4.1.39917." + std::to_string(appId) + ".1." + std::to_string(tail);
    }
    std::vector<std::unique_ptr<Program>> apps_;
};

TEST_F(FaultTest, HostKilledAndRestartedWhileApplicationsKeepTheirMappings) {
    StartHost();
    apps_.push_back(SdkApp(1));
    apps_.push_back(SdkApp(2));
    ASSERT_EQ(Tool("snmpset", {Oid(1, 3), "i", "33"}, "private").status, 0);
    ASSERT_EQ(Get(Oid(2, 1)), Oid(2, 1) + " = INTEGER: 42\n");
    const auto objectsBefore = environment_.LeftoverSharedMemory().size();

    ASSERT_EQ(host_->Stop(SIGKILL), -SIGKILL);
    // While the host is down application 2 dies too: its row still says up,
    // and its rings still hold what it last answered.
    apps_[1]->Kill();
    StartHost();

    // From the new host's first answer on the dead application's variables
    // never answer; the survivor reconnects on its own with the value it kept.
    bool survivorBack = false;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!survivorBack && std::chrono::steady_clock::now() < deadline) {
        EXPECT_EQ(Get(Oid(2, 1)).find("INTEGER"), std::string::npos) << "stale answer";
        survivorBack = Get(Oid(1, 3)) == Oid(1, 3) + " = INTEGER: 33\n";
    }
    ASSERT_TRUE(survivorBack) << Get(Oid(1, 3));
    EXPECT_NE(apps_[0]->Command("status").find("connects=2"), std::string::npos);
    EXPECT_TRUE(Eventually([&] { return Get(kStatus).find("ApId(2)") == std::string::npos; })) << Get(kStatus);

    // The dead application comes back under its identity; nothing of the
    // killed processes is left in the namespace.
    apps_[1] = SdkApp(2);
    EXPECT_EQ(Get(Oid(2, 1)), Oid(2, 1) + " = INTEGER: 42\n");
    EXPECT_EQ(environment_.LeftoverSharedMemory().size(), objectsBefore);
}

TEST_F(FaultTest, TrapBacklogOfAStalledHostReachesTheSinkWhole) {
    const int trapPort = FreeUdpPort();
    const auto log = environment_.DriveC() / "traps.log";
    const auto trapd = StartTrapReceiver(environment_, trapPort, log);
    StartHost({"--trap2-sink", Loopback(trapPort)});
    apps_.push_back(SdkApp(1));

    // While the host is stopped, 100 traps of 900-byte texts pile up; its next
    // trap walk takes them all at once, far more than one datagram carries.
    constexpr std::size_t kTraps = 100;
    ASSERT_EQ(::kill(host_->Pid(), SIGSTOP), 0);
    for (std::size_t i = 0; i < kTraps; ++i) {
        ASSERT_EQ(apps_[0]->Command("trap text 5 backlog " + std::to_string(i) + " " + std::string(900, 'x')),
                  "trap appended abandoned=0");
    }
    ASSERT_EQ(::kill(host_->Pid(), SIGCONT), 0);
    std::set<int> received;
    Eventually([&] {
        const std::string text = test::ReadFileBytes(log);
        for (auto at = text.find("\"backlog "); at != std::string::npos; at = text.find("\"backlog ", at + 1)) {
            received.insert(std::atoi(text.c_str() + at + 9));
        }
        return received.size() == kTraps;
    });
    EXPECT_EQ(received.size(), kTraps);
}

}  // namespace
}  // namespace qv::e2e
