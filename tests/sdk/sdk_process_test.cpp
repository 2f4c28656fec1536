// SDK applications (the test application's SDK commands), qvsnmpctl and the
// demo in their own processes, against the agent in the test host or against
// a base region this test makes.
#include <signal.h>

#include <cstring>
#include <map>

#include "agent/process_fixture.h"
#include "agent/programs/tagged_record.h"
#include "shm/ring.h"
#include "shm/shared_access.h"
#include "shm/snmp_time.h"

namespace qv::test {
namespace {

// A region this test creates, with chosen ring indices.
class MadeRegion {
public:
    explicit MadeRegion(const std::string& name, std::uint16_t read = 1, std::uint16_t write = 1)
        : mapping_(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0x100000, name.c_str())),
          view_(static_cast<std::uint8_t*>(::MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, 0, 0))) {
        std::memcpy(view_, &read, 2);
        std::memcpy(view_ + 2, &write, 2);
    }
    ~MadeRegion() {
        ::UnmapViewOfFile(view_);
        ::CloseHandle(mapping_);
    }
    std::uint8_t* Bytes() const { return view_; }

private:
    HANDLE mapping_;
    std::uint8_t* view_;
};

class SdkProcessTest : public ProcessTest {
protected:
    void TearDown() override {
        for (auto* process : {app_.get(), host_.get()}) {
            if (process != nullptr) Quit(*process);
        }
        app_.reset();
        host_.reset();
        EXPECT_TRUE(environment_.LeftoverSharedMemory().empty()) << "processes that end release their names";
    }
    // An SDK application 39917.ID.1, connected.
    std::unique_ptr<ChildProcess> StartSdkApp(int appId = 1) {
        auto app = StartApp("start 39917 " + std::to_string(appId) + " 1", "started");
        EXPECT_EQ(AskUntil(*app, "status", "connected=1"), "status connected=1 session=0 connects=1 timeouts=0 losses=0");
        return app;
    }
    struct Run {
        int exit = -1;
        std::string output;
    };
    static Run RunToEnd(const char* program, const std::vector<std::string>& arguments) {
        ChildProcess process(program, arguments);
        process.CloseInput();
        Run run;
        while (auto line = process.ReadLine(30s)) run.output += *line + "\n";
        run.exit = process.Wait(30s).value_or(-1000);
        return run;
    }
    std::unique_ptr<ChildProcess> host_, app_;
};

TEST_F(SdkProcessTest, KeptAliveApplicationStaysAndOneFallenSilentReconnectsWhenItResumes) {
    host_ = StartAgent();
    app_ = StartSdkApp();
    std::this_thread::sleep_for(4500ms);  // longer than 81 passes
    EXPECT_EQ(Ask(*app_, "status"), "status connected=1 session=0 connects=1 timeouts=0 losses=0");
    EXPECT_EQ(Ask(*app_, "pause on"), "paused");
    EXPECT_EQ(AskUntil(*app_, "status", "connected=0"), "status connected=0 session=-1 connects=1 timeouts=1 losses=0");
    EXPECT_EQ(Ask(*host_, "get 1.3.6.1.4.1.39917.1.1.1").substr(0, 8), "status=4") << "no session any more";
    EXPECT_EQ(Ask(*app_, "pause off"), "resumed");
    EXPECT_EQ(AskUntil(*app_, "status", "connected=1"), "status connected=1 session=0 connects=2 timeouts=1 losses=0");
    EXPECT_EQ(Ask(*host_, "get 1.3.6.1.4.1.39917.1.1.1"), "status=0 index=0 name=1.3.6.1.4.1.39917.1.1.1 type=2 value=42");
}

TEST_F(SdkProcessTest, AgentRestartClearsTheRowAndTheApplicationReconnects) {
    host_ = StartAgent();
    app_ = StartSdkApp();
    host_->Kill(SIGKILL);
    host_->Wait(10s);
    host_ = StartAgent();  // reuses the region the application keeps, clearing its table
    EXPECT_EQ(AskUntil(*app_, "status", "connects=2"), "status connected=1 session=0 connects=2 timeouts=0 losses=1");
    EXPECT_EQ(Ask(*host_, "get 1.3.6.1.4.1.39917.1.1.2"), "status=0 index=0 name=1.3.6.1.4.1.39917.1.1.2 type=4 value=\"hello\"");
}

TEST_F(SdkProcessTest, TwoProcessesAppendingAtOnceLoseAndTearNothing) {
    MadeRegion base("Global\\QV1.3.6.1.4.1");
    constexpr int kPerProducer = 3000;  // about three times the ring's capacity
    auto first = StartApp("");
    app_ = StartApp("");
    first->Write("burst 1 " + std::to_string(kPerProducer) + "\n");
    app_->Write("burst 2 " + std::to_string(kPerProducer) + "\n");
    std::map<int, int> next{{1, 0}, {2, 0}};
    int received = 0, bad = 0;
    std::uint8_t record[1024];
    for (const auto deadline = std::chrono::steady_clock::now() + 120s;
         received < 2 * kPerProducer && std::chrono::steady_clock::now() < deadline;) {
        if (!qv::shm::RingTake(base.Bytes(), record)) {
            std::this_thread::sleep_for(100us);
            continue;
        }
        ++received;
        // In order per producer, every byte as the producer wrote it.
        const int producer = record[4] == 2 ? 2 : 1;
        if (!IsTaggedRecord(record, producer, next[producer]++)) ++bad;
    }
    EXPECT_EQ(first->ReadLine(30s), "burst done 3000 abandoned=0");
    EXPECT_EQ(app_->ReadLine(30s), "burst done 3000 abandoned=0");
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(next, (std::map<int, int>{{1, kPerProducer}, {2, kPerProducer}}));
    Quit(*first);
}

TEST_F(SdkProcessTest, HolderOfTheAppendLockKilledLeavesItAbandonedToTheNextAppender) {
    MadeRegion base("Global\\QV1.3.6.1.4.1");
    auto holder = StartApp("holdlock", "holding");
    app_ = StartApp("");
    app_->Write("rawtrap 5 77\n");
    EXPECT_FALSE(app_->ReadLine(300ms).has_value()) << "the appender must wait for the lock";
    holder->Kill(SIGKILL);
    EXPECT_EQ(holder->Wait(10s), -SIGKILL);
    EXPECT_EQ(app_->ReadLine(30s), "appended abandoned=1");
    std::uint8_t record[1024];
    ASSERT_TRUE(qv::shm::RingTake(base.Bytes(), record));
    EXPECT_EQ(record[4] + record[34] + qv::shm::ReadI32(record + 40), 5 + 2 + 77);
    EXPECT_EQ(Ask(*app_, "rawtrap 5 78"), "appended abandoned=0") << "abandonment is reported once";
}

// ---- qvsnmpctl -------------------------------------------------------------------------

TEST_F(SdkProcessTest, CtlStatusReportsEveryFieldAsTheSharedMemoryHoldsIt) {
    MadeRegion base("Global\\QV1.3.6.1.4.1", 5, 9);
    MadeRegion in("Global\\QV_IN1.3.6.1.4.1.39917.3", 1023, 2);
    MadeRegion out("Global\\QV_OUT1.3.6.1.4.1.39917.3", 10, 10);
    const Run stopped = RunToEnd(QV_CTL, {"status"});
    EXPECT_EQ(stopped.exit, 1);
    EXPECT_NE(stopped.output.find("service-up   0 (agent stopped)"), std::string::npos) << stopped.output;
    EXPECT_NE(stopped.output.find("(never written)"), std::string::npos);
    std::uint8_t* bytes = base.Bytes();
    bytes[4] = 4;  // trap read index
    bytes[6] = 1;  // service up
    bytes[16 + 3] = 2;  // slot 3: state, PEN 39917, AppId 7, AppInst -2, keep-alive 12
    bytes[32 + 6] = 0xED, bytes[32 + 7] = 0x9B, bytes[64 + 3] = 7, bytes[80 + 3] = 0xFE, bytes[96 + 6] = 12;
    const std::uint8_t digits[6] = {0, 9, 0, 5, 0, 7};
    std::memcpy(bytes + 960, digits, 6);
    SnmpTime::Init();
    const auto seconds = static_cast<std::int64_t>(SnmpTime::GetTime()) - 30;
    std::memcpy(bytes + 968, &seconds, 8);
    const std::string age = "\"seconds\":" + std::to_string(seconds) + ",\"age_seconds\":3";
    const Run json = RunToEnd(QV_CTL, {"status", "--json"});
    EXPECT_EQ(json.exit, 0);
    for (const char* part : {"{\"service_up\":1,\"heartbeat\":{\"time\":\"09:05:07\",\"digits\":[0,9,0,5,0,7],",
                             age.c_str(),
                             "\"base_ring\":{\"read\":5,\"write\":9,\"trap_read\":4,\"count\":4,\"valid\":true}",
                             "{\"slot\":0,\"state\":0,\"pen\":0,\"app_id\":0,\"app_inst\":0,\"keep_alive\":0,\"in\":null,\"out\":null}",
                             "{\"slot\":3,\"state\":2,\"pen\":39917,\"app_id\":7,\"app_inst\":-2,\"keep_alive\":12,"
                             "\"in\":{\"read\":1023,\"write\":2,\"count\":2,\"valid\":true},"
                             "\"out\":{\"read\":10,\"write\":10,\"count\":0,\"valid\":true}}",
                             "{\"slot\":15,"}) {
        EXPECT_NE(json.output.find(part), std::string::npos) << part << " in " << json.output;
    }
    const Run text = RunToEnd(QV_CTL, {"status"});
    EXPECT_NE(text.output.find("heartbeat    09:05:07  age 3"), std::string::npos) << text.output;
    EXPECT_NE(text.output.find("base ring    read 5  write 9  trap-read 4  records 4"), std::string::npos) << text.output;
    EXPECT_NE(text.output.find("  3     2 up      39917  7      -2       12          1023/2/2       10/10/0"), std::string::npos);
    EXPECT_EQ(text.output.find("  0     0 free"), std::string::npos) << "unused rows are left out";
}

TEST_F(SdkProcessTest, CtlWithoutAgentOrWithABadCommandLineFails) {
    const Run status = RunToEnd(QV_CTL, {"--json", "status"});
    EXPECT_EQ(status.exit, 1);
    EXPECT_EQ(status.output, "{\"error\":\"no agent running\"}\n");
    const Run trap = RunToEnd(QV_CTL, {"trap", "--pen", "39917", "--app-id", "1", "--app-inst", "1", "--int", "1", "--json"});
    EXPECT_EQ(trap.exit, 1);
    EXPECT_EQ(trap.output, "{\"result\":\"no agent running\",\"lock_abandoned\":false}\n");
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {}, {"frobnicate"}, {"status", "--verbose"}, {"trap", "--pen", "0", "--app-id", "1", "--app-inst", "1", "--int", "1"},
             {"trap", "--pen", "39917", "--app-id", "1", "--app-inst", "1", "--int", "1", "--text", "x"},
             {"trap", "--pen", "39917", "--app-id", "1", "--app-inst", "1", "--int", "12x"},
             {"trap", "--pen", "39917", "--app-id", "1", "--app-inst", "1", "--int"},
             {"trap", "--pen", "39917", "--app-id", "1", "--app-inst", "1"}}) {
        EXPECT_EQ(RunToEnd(QV_CTL, arguments).exit, 2) << arguments.size();
    }
    EXPECT_EQ(RunToEnd(QV_CTL, {"--help"}).output.rfind("usage: qvsnmpctl", 0), 0u);
}

TEST_F(SdkProcessTest, CtlTrapReachesTheServiceAndCtlStatusShowsALiveSession) {
    host_ = StartAgent();
    app_ = StartSdkApp(4);
    const Run trap = RunToEnd(QV_CTL, {"trap", "--pen", "4127", "--app-id", "2", "--app-inst", "3", "--suffix", "4.5", "--text", "hello world"});
    EXPECT_EQ(trap.output, "trap appended\n");
    EXPECT_EQ(Ask(*host_, "trapwait 10000"), "trapwait signalled");
    EXPECT_EQ(Ask(*host_, "traps").rfind("trap enterprise=1.3.6.1.4.1.4127 generic=6 specific=1 ", 0), 0u);
    EXPECT_EQ(host_->ReadLine(10s), "bind name=1.3.6.1.4.1.4127.2.3.1.4.5 type=4 value=\"hello world\"");
    EXPECT_TRUE(host_->WaitForLine("traps done", 10s));
    const Run status = RunToEnd(QV_CTL, {"status", "--json"});
    EXPECT_NE(status.output.find("{\"slot\":0,\"state\":2,\"pen\":39917,\"app_id\":4,\"app_inst\":1,\"keep_alive\":"), std::string::npos);
    EXPECT_NE(status.output.find("\"in\":{\"read\":"), std::string::npos) << "the session's rings exist";
}

// ---- the demo --------------------------------------------------------------------------

TEST_F(SdkProcessTest, DemoServesItsVariablesAndRaisesTrapsOnSignal) {
    host_ = StartAgent();
    ChildProcess demo(QV_DEMO, {});
    ASSERT_TRUE(demo.WaitForLine("connected session 0", 30s));
    std::string walk, at = "1.3.6.1.4.1.39917.1.1", answer;
    while ((answer = Ask(*host_, "getnext " + at)).rfind("status=0 ", 0) == 0 && walk.size() < 400) {
        at = answer.substr(answer.find("name=") + 5, answer.find(" type=") - answer.find("name=") - 5);
        walk += at.substr(22) + " ";
    }
    EXPECT_EQ(walk, "1 2 3 4 10.1.1.1 10.1.1.2 10.1.1.3 10.1.2.1 10.1.2.2 10.1.2.3 10.1.3.1 10.1.3.2 10.1.3.3 ");
    EXPECT_EQ(answer.substr(0, 8), "status=2") << "the walk ends with noSuchName";
    EXPECT_EQ(Ask(*host_, "set 1.3.6.1.4.1.39917.1.1.3 int 250").substr(0, 8), "status=0");
    EXPECT_EQ(Ask(*host_, "get 1.3.6.1.4.1.39917.1.1.3"), "status=0 index=0 name=1.3.6.1.4.1.39917.1.1.3 type=2 value=250");
    EXPECT_EQ(Ask(*host_, "set 1.3.6.1.4.1.39917.1.1.3 int 5000").substr(0, 8), "status=3");
    EXPECT_EQ(Ask(*host_, "set 1.3.6.1.4.1.39917.1.1.1 int 1").substr(0, 8), "status=4");
    demo.Kill(SIGUSR1);
    ASSERT_TRUE(demo.WaitForLine("trap 1: appended, appended", 30s));
    EXPECT_EQ(Ask(*host_, "trapwait 10000"), "trapwait signalled");
    std::this_thread::sleep_for(200ms);  // both records taken out by the worker by now
    EXPECT_EQ(Ask(*host_, "traps").rfind("trap enterprise=1.3.6.1.4.1.39917 ", 0), 0u);
    EXPECT_EQ(host_->ReadLine(10s), "bind name=1.3.6.1.4.1.39917.1.1.1.1 type=2 value=1");
    EXPECT_EQ(host_->ReadLine(10s), "bind name=1.3.6.1.4.1.39917.1.1.1.2 type=4 value=\"demo trap 1\"");
    EXPECT_EQ(host_->ReadLine(10s), "traps done");
    demo.Kill(SIGTERM);
    EXPECT_EQ(demo.Wait(30s), 0);
    EXPECT_EQ(Ask(*host_, "get 1.3.6.1.4.1.44821"), "status=0 index=0 name=1.3.6.1.4.1.44821 type=4 value=\"No active session\"");
}

}  // namespace
}  // namespace qv::test
