// qvsnmpctl against shared memory whose contents the test knows.
#include <thread>

#include "sdk_fixture.h"
#include "shm/ring.h"
#include "shm/snmp_time.h"

namespace qv::test {
namespace {

using CtlStatusTest = TestMadeBaseRegionTest;

// A session region made by the test, with chosen ring indices.
class TestRegion {
public:
    TestRegion(const char* format, int slot, std::uint16_t read, std::uint16_t write) {
        char name[64];
        wsprintfA(name, format, slot);
        mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, qv::shm::kRegionSize, name);
        view_ = mapping_ ? MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, 0, 0) : nullptr;
        if (view_ == nullptr) return;
        auto* control = static_cast<qv::shm::RingControl*>(view_);
        control->readIndex = read;
        control->writeIndex = write;
    }
    ~TestRegion() {
        if (view_ != nullptr) UnmapViewOfFile(view_);
        if (mapping_ != nullptr) CloseHandle(mapping_);
    }
    bool Made() const { return view_ != nullptr; }

private:
    HANDLE mapping_ = nullptr;
    void* view_ = nullptr;
};

TEST_F(CtlStatusTest, JsonReportsEveryFieldAsTheSharedMemoryHoldsIt) {
    SnmpTime::Init();
    header_->serviceUp = 1;
    const std::uint8_t digits[6] = {0, 9, 0, 5, 0, 7};
    std::memcpy(header_->heartbeatDigits, digits, sizeof digits);
    header_->heartbeatSeconds = static_cast<std::int64_t>(SnmpTime::GetTime()) - 30;
    header_->readIndex = 5;
    header_->writeIndex = 9;
    header_->trapReadIndex = 4;
    header_->sessionState[3] = 2;
    header_->pen[3] = 39917;
    header_->appId[3] = 7;
    header_->appInst[3] = -2;
    header_->keepAlive[3] = 12;
    header_->sessionState[5] = 1;
    header_->pen[5] = 4127;
    header_->appId[5] = 1;
    header_->appInst[5] = 1;
    TestRegion in(qv::shm::kInRegionNameFormat, 3, 1023, 2);
    TestRegion out(qv::shm::kOutRegionNameFormat, 3, 10, 10);
    ASSERT_TRUE(in.Made() && out.Made());

    const Run run = RunToEnd(QV_CTL, {"status", "--json"});
    EXPECT_EQ(run.exit, 0);
    const std::string& json = run.output;
    EXPECT_EQ(json.rfind("{\"service_up\":1,\"heartbeat\":{\"time\":\"09:05:07\",\"digits\":[0,9,0,5,0,7],", 0), 0u)
        << json;
    EXPECT_NE(json.find("\"seconds\":" + std::to_string(header_->heartbeatSeconds) + ",\"age_seconds\":3"),
              std::string::npos)
        << "an age of 30 and some seconds: " << json;
    EXPECT_NE(json.find("\"base_ring\":{\"read\":5,\"write\":9,\"trap_read\":4,\"count\":4,\"valid\":true}"),
              std::string::npos);
    EXPECT_NE(json.find("{\"slot\":0,\"state\":0,\"pen\":0,\"app_id\":0,\"app_inst\":0,\"keep_alive\":0,"
                        "\"in\":null,\"out\":null}"),
              std::string::npos);
    EXPECT_NE(json.find("{\"slot\":3,\"state\":2,\"pen\":39917,\"app_id\":7,\"app_inst\":-2,\"keep_alive\":12,"
                        "\"in\":{\"read\":1023,\"write\":2,\"count\":2,\"valid\":true},"
                        "\"out\":{\"read\":10,\"write\":10,\"count\":0,\"valid\":true}}"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("{\"slot\":5,\"state\":1,\"pen\":4127,\"app_id\":1,\"app_inst\":1,\"keep_alive\":0,"
                        "\"in\":null,\"out\":null}"),
              std::string::npos);
    EXPECT_NE(json.find("{\"slot\":15,"), std::string::npos) << "all sixteen rows";

    const Run text = RunToEnd(QV_CTL, {"status"});
    EXPECT_EQ(text.exit, 0);
    EXPECT_NE(text.output.find("heartbeat    09:05:07  age 3"), std::string::npos) << text.output;
    EXPECT_NE(text.output.find("base ring    read 5  write 9  trap-read 4  records 4"), std::string::npos);
    EXPECT_NE(text.output.find("  3     2 up      39917  7      -2       12          1023/2/2       10/10/0"),
              std::string::npos)
        << text.output;
    EXPECT_EQ(text.output.find("  0     0 free"), std::string::npos) << "unused rows are left out";
}

TEST_F(CtlStatusTest, StoppedAgentIsReportedWithExitStatusOne) {
    header_->serviceUp = 0;
    const Run run = RunToEnd(QV_CTL, {"status"});
    EXPECT_EQ(run.exit, 1);
    EXPECT_NE(run.output.find("service-up   0 (agent stopped)"), std::string::npos);
    EXPECT_NE(run.output.find("(never written)"), std::string::npos);
}

TEST_F(SdkProcessTest, CtlWithoutAgentSaysSoAndExitsWithOne) {
    Run run = RunToEnd(QV_CTL, {"--json", "status"});
    EXPECT_EQ(run.exit, 1);
    EXPECT_EQ(run.output, "{\"error\":\"no agent running\"}\n");
    run = RunToEnd(QV_CTL, {"trap", "--pen", "39917", "--app-id", "1", "--app-inst", "1", "--int", "1", "--json"});
    EXPECT_EQ(run.exit, 1);
    EXPECT_EQ(run.output, "{\"result\":\"no agent running\",\"lock_abandoned\":false}\n");
}

TEST_F(SdkProcessTest, CtlRefusesBadCommandLinesWithExitStatusTwo) {
    const std::vector<std::vector<std::string>> bad{
        {},
        {"frobnicate"},
        {"status", "--verbose"},
        {"trap", "--pen", "0", "--app-id", "1", "--app-inst", "1", "--int", "1"},
        {"trap", "--pen", "39917", "--app-id", "1", "--app-inst", "1"},
        {"trap", "--pen", "39917", "--app-id", "1", "--app-inst", "1", "--int", "1", "--text", "x"},
        {"trap", "--pen", "39917", "--app-id", "1", "--app-inst", "1", "--int", "12x"},
        {"trap", "--pen", "39917", "--app-id", "1", "--app-inst", "1", "--int"},
    };
    for (const auto& arguments : bad) {
        std::string shown;
        for (const auto& word : arguments) shown += word + " ";
        EXPECT_EQ(RunToEnd(QV_CTL, arguments).exit, 2) << shown;
    }
    const Run help = RunToEnd(QV_CTL, {"--help"});
    EXPECT_EQ(help.exit, 0);
    EXPECT_EQ(help.output.rfind("usage: qvsnmpctl", 0), 0u);
}

TEST_F(SdkProcessTest, CtlTrapReachesTheServiceAsOneBinding) {
    ChildProcess& host = StartAgent();
    const Run run = RunToEnd(QV_CTL, {"trap", "--pen", "4127", "--app-id", "2", "--app-inst", "3", "--suffix", "4.5",
                                      "--text", "hello world"});
    EXPECT_EQ(run.exit, 0);
    EXPECT_EQ(run.output, "trap appended\n");
    EXPECT_EQ(Ask(host, "trapwait 10000"), "trapwait signalled");
    host.Write("traps\n");
    EXPECT_EQ(host.ReadLine(10s).value_or("").rfind("trap enterprise=1.3.6.1.4.1.4127 generic=6 specific=1 ", 0), 0u);
    EXPECT_EQ(host.ReadLine(10s).value_or(""), "bind name=1.3.6.1.4.1.4127.2.3.1.4.5 type=4 value=\"hello world\"");
    EXPECT_TRUE(host.WaitForLine("traps done", 10s));
}

TEST_F(SdkProcessTest, CtlStatusShowsTheLiveSessionOfAnApplication) {
    StartAgent();
    StartConnectedApp(4);
    const Run run = RunToEnd(QV_CTL, {"status", "--json"});
    EXPECT_EQ(run.exit, 0);
    EXPECT_EQ(run.output.rfind("{\"service_up\":1,", 0), 0u);
    EXPECT_NE(run.output.find("{\"slot\":0,\"state\":2,\"pen\":39917,\"app_id\":4,\"app_inst\":1,\"keep_alive\":"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("\"in\":{\"read\":"), std::string::npos) << "the session's rings exist";
    EXPECT_EQ(run.output.find("\"age_seconds\":null"), std::string::npos) << "the agent writes the heartbeat";
}

}  // namespace
}  // namespace qv::test
