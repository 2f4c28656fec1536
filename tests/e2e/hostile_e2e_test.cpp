// What a hostile manager or a second host must not achieve against the host:
// stalling other managers, aliasing one variable to another, a response lost
// for its size, or taking over a namespace that a host already serves.
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <unistd.h>

#include <future>
#include <numeric>
#include <regex>

#include "e2e_support.h"

namespace qv::e2e {
namespace {

// `text` contains `part`, or the test says what it got instead.
::testing::AssertionResult Shows(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "expected \"" << part << "\" in:\n" << text;
}

class HostileTest : public HostTest {
protected:
    void SetUp() override {
        StartHost();
        apps_.push_back(TestApp(39917, 1, 1));
        app_ = apps_.back().get();
        ASSERT_EQ(app_->All({"var 1.1.1 int 11", "var 1.1.2 int 12", "var 1.1.3 int 13"}), "var|var|var");
    }
    Program* app_ = nullptr;  // owned by apps_
};

TEST_F(HostileTest, ASecondHostRefusesToStartAndTheFirstServesOn) {
    const ToolResult second = RunProgram({QV_HOST, "--module", QV_MODULE, "--listen", "udp:" + Loopback(FreeUdpPort())});
    EXPECT_EQ(second.status, 1);
    EXPECT_TRUE(Shows(second.output, "another host (PID " + std::to_string(host_->Pid()) + ")"));
    EXPECT_TRUE(Shows(Get(kStatus), "Pen(39917) ApId(1) ApInst(1)"));
}

TEST_F(HostileTest, NamesTheProtocolCannotCarryReachNoOtherVariable) {
    const std::string base = ".1.3.6.1.4.1.39917.1.1.";
    // Low bytes 1 and 3: without the check, .1.1 and .1.3 would answer.
    EXPECT_TRUE(Shows(Get(base + "257"), "No Such Object"));
    EXPECT_TRUE(Shows(Tool("snmpget", {base + "257"}, "public", "1").output, "noSuchName"));
    EXPECT_TRUE(Shows(Tool("snmpset", {base + "259", "i", "321"}, "private").output, "noCreation"));
    EXPECT_EQ((*app_)("stats"), "ops get=0 getnext=0 set=0");
    // A GETNEXT from a name longer than the protocol carries goes on in the
    // application instead of leaving it.
    std::string deep = base + "1";
    for (int i = 0; i < 30; ++i) deep += ".5";
    EXPECT_TRUE(Shows(Tool("snmpgetnext", {deep}).output, "39917.1.1.2 = INTEGER: 12"));
    EXPECT_TRUE(Shows(Tool("snmpgetnext", {base + "2.0.7"}).output, "39917.1.1.3 = INTEGER: 13"));
}

TEST_F(HostileTest, AResponseNoDatagramCarriesIsAnsweredTooBig) {
    std::vector<std::string> arguments{"snmpget", "-Cf", "-m", "", "-v", "2c", "-c", "public", "-t", "30", "-r", "0",
                                       Loopback(port_)};
    // -Cf: snmpget would otherwise drop a binding and ask again until it fits.
    for (int i = 1; i <= 75; ++i) {
        ASSERT_EQ((*app_)("var 1.1.4." + std::to_string(i) + " str " + std::string(950, 'x')), "var");
        arguments.push_back(".1.3.6.1.4.1.39917.1.1.4." + std::to_string(i));
    }
    EXPECT_TRUE(Shows(RunProgram(arguments).output, "tooBig"));
    EXPECT_TRUE(Shows(Get(kStatus), "STRING"));
}

TEST_F(HostileTest, AFloodOfOneManagerLeavesOthersServedAndEndsWithIt) {
    // 20,000 GETs at 4,000 a second, none of their answers read. (Faster, the
    // kernel drops datagrams of every manager once the host's socket buffer
    // is full; that is no matter of the host's.)
    netsnmp_session settings;
    snmp_sess_init(&settings);
    std::string peer = Loopback(port_);
    settings.peername = peer.data();
    settings.version = SNMP_VERSION_2c;
    settings.community = reinterpret_cast<u_char*>(const_cast<char*>("public"));
    settings.community_len = 6;
    netsnmp_session* flood = snmp_open(&settings);
    ASSERT_NE(flood, nullptr);
    const oid name[] = {1, 3, 6, 1, 4, 1, 39917, 1, 1, 1};
    auto sending = std::async(std::launch::async, [&] {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 20000; ++i) {
            std::this_thread::sleep_until(start + std::chrono::microseconds(250) * i);
            netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_GET);
            snmp_add_null_var(pdu, name, sizeof name / sizeof name[0]);
            if (snmp_send(flood, pdu) == 0) snmp_free_pdu(pdu);
        }
    });
    // Another manager is served between the flood's bindings.
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(500ms);
        EXPECT_TRUE(Shows(Get(kStatus), "STRING"));
    }
    sending.wait();
    snmp_close(flood);
    // And the host is free again soon after the flood: old requests go.
    EXPECT_TRUE(Eventually([&] { return Get(".1.3.6.1.4.1.39917.1.1.2").find("INTEGER: 12") != std::string::npos; }));
}

TEST_F(HostileTest, ASilentApplicationNeitherStallsOthersNorTheHostsStop) {
    apps_.push_back(TestApp(39917, 2, 1));
    Program* silent = apps_.back().get();
    ASSERT_EQ(silent->All({"var 2.1.1 int 1", "mode silent"}), "var|mode silent");
    // Five managers ask the silent application, each for 14 bindings.
    std::vector<std::string> names(14, ".1.3.6.1.4.1.39917.2.1.1");
    std::vector<std::future<ToolResult>> askers;
    for (int i = 0; i < 5; ++i) askers.push_back(std::async(std::launch::async, [&] { return Tool("snmpget", names); }));
    std::this_thread::sleep_for(500ms);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(Shows(Get(".1.3.6.1.4.1.39917.1.1.1"), "INTEGER: 11"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);

    const auto stopping = std::chrono::steady_clock::now();
    host_->Kill(SIGTERM);
    EXPECT_EQ(host_->Wait(30s), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 2500ms);
    host_.reset();
    for (auto& asker : askers) asker.wait();
}

TEST_F(HostileTest, AnSdkApplicationWhoseRegionsAreTruncatedSurvivesAndReconnects) {
    apps_.push_back(SdkApp(3));
    Program& sdk = *apps_.back();
    const std::string slot = sdk("status").substr(sdk("status").find("session=") + 8, 1);
    for (const char* ring : {"QV_IN", "QV_OUT"}) {
        const std::string path =
            "/dev/shm/" + environment_.Namespace() + "." + ring + "1.3.6.1.4.1.39917." + slot;
        ASSERT_EQ(::truncate(path.c_str(), 0), 0) << path;
    }
    // The host's next request touches the OUT region past its new end.
    Get(".1.3.6.1.4.1.39917.3.1.1");
    EXPECT_TRUE(Eventually([&] { return sdk("status").find("connects=2") != std::string::npos; })) << sdk("status");
    EXPECT_TRUE(Eventually([&] { return Get(".1.3.6.1.4.1.39917.3.1.1").find("INTEGER: 42") != std::string::npos; }));
}

TEST_F(HostileTest, ABurstOfTenThousandTrapsArrivesCompleteAndInOrder) {
    host_->Kill(SIGTERM);
    ASSERT_EQ(host_->Wait(30s), 0);
    apps_.clear();
    StartHost({"--trap2-sink", Sink()});
    apps_.push_back(SdkApp(5));
    EXPECT_EQ((*apps_.back())("traps 10000"), "traps raised=10000 last=appended");
    const std::regex binding(R"(\.39917\.5\.1\.1\.2 = INTEGER: ([0-9]+))");
    std::vector<int> values;
    EXPECT_TRUE(Eventually([&] {
        const std::string traps = Traps();
        values.clear();
        for (std::sregex_iterator at(traps.begin(), traps.end(), binding), end; at != end; ++at) {
            values.push_back(std::stoi((*at)[1]));
        }
        return values.size() >= 10000;
    }, 60s)) << values.size() << " traps arrived";
    std::vector<int> expected(10000);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(values, expected);
}

}  // namespace
}  // namespace qv::e2e
