// The test application's SDK commands:
//   start PEN ID INST     publishes .1 INTEGER 42, .2 STRING "hello", .3 INTEGER 7
//                         (writable 0..100) below PEN.ID.INST and starts
//   status                "status connected=C session=S connects=N timeouts=T losses=L"
//   trap int|text SUFFIX VALUE
//                         Application::RaiseTrap: "trap <status> abandoned=0|1"
//   traps COUNT           RaiseTrap COUNT times at once, suffix 2, integers 0 to
//                         COUNT-1: "traps raised=N last=<status>"
//   pause on|off          stops or resumes its connection requests
//   burst PRODUCER COUNT  COUNT tagged records through a BaseRing of its own,
//                         retrying while the ring is full: "burst done N abandoned=A"
//   holdlock              takes the append lock and keeps it: "holding"
//   rawtrap ID N          one trap record through a BaseRing, waiting for the
//                         lock as long as it takes: "appended abandoned=A"
//   slow MS PATH          publishes .6: its getter creates PATH, then takes MS ms
#include <atomic>
#include <fstream>
#include <memory>
#include <thread>

#include "qvsnmp/application.h"
#include "tagged_record.h"
#include "test_access.h"
#include "test_app_commands.h"

namespace {

using qvsnmp::Value;

std::unique_ptr<qvsnmp::Application> g_app;

std::string Abandoned(const qvsnmp::AppendResult& result) { return result.lockAbandoned ? " abandoned=1" : " abandoned=0"; }

void Start(std::istream& words) {
    int pen = 0, appId = 0, appInst = 0;
    words >> pen >> appId >> appInst;
    g_app = std::make_unique<qvsnmp::Application>(qvsnmp::Identity{
        static_cast<std::uint16_t>(pen), static_cast<std::int8_t>(appId), static_cast<std::int8_t>(appInst)});
    g_app->PublishConstant({1}, Value::Integer(42));
    g_app->PublishConstant({2}, Value::Text("hello"));
    auto number = std::make_shared<std::atomic<std::int32_t>>(7);
    g_app->Publish({3}, [number] { return Value::Integer(number->load()); },
                   qvsnmp::IntegerSetter([number](std::int32_t value) {
                       if (value < 0 || value > 100) return false;
                       *number = value;
                       return true;
                   }));
    g_app->Start();
}

std::string Burst(std::istream& words) {
    int producer = 0, count = 0, appended = 0;
    words >> producer >> count;
    bool abandoned = false;
    std::uint8_t record[1024];
    for (auto ring = qvsnmp::BaseRing::Open(std::chrono::seconds(60)); ring && appended < count;) {
        qv::test::FillTaggedRecord(record, producer, appended);
        const auto result = ring->AppendRecord(record);
        abandoned = abandoned || result.lockAbandoned;
        if (result.status != qvsnmp::AppendStatus::kRingFull && !result) break;
        appended += result ? 1 : 0;
        if (!result) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return "burst done " + std::to_string(appended) + (abandoned ? " abandoned=1" : " abandoned=0");
}

}  // namespace

bool qv::test::SdkCommand(const std::string& command, std::istream& words, void (*say)(const std::string&)) {
    std::string text, more;
    int number = 0, other = 0;
    if (command == "start") {
        Start(words);
        say("started");
    } else if (command == "status" && g_app) {
        const auto s = g_app->GetStatus();
        say("status connected=" + std::to_string(s.connected) + " session=" + std::to_string(s.session) +
            " connects=" + std::to_string(s.connects) + " timeouts=" + std::to_string(s.timeOuts) +
            " losses=" + std::to_string(s.losses));
    } else if (command == "trap" && g_app && words >> text >> more >> std::ws) {
        qvsnmp::Suffix suffix;
        qvsnmp::ParseSuffix(more, &suffix);
        std::getline(words, more);
        const auto result = g_app->RaiseTrap(suffix, text == "int" ? Value::Integer(std::stoi(more)) : Value::Text(more));
        say(std::string("trap ") + qvsnmp::ToString(result.status) + Abandoned(result));
    } else if (command == "traps" && g_app && words >> number) {
        qvsnmp::AppendResult result;
        int raised = 0;
        while (raised < number && (result = g_app->RaiseTrap({2}, Value::Integer(raised)))) ++raised;
        say("traps raised=" + std::to_string(raised) + " last=" + qvsnmp::ToString(result.status));
    } else if (command == "pause" && g_app && words >> text) {
        qvsnmp::detail::TestAccess::SetKeepAlivePaused(*g_app, text == "on");
        say(text == "on" ? "paused" : "resumed");
    } else if (command == "burst") {
        say(Burst(words));
    } else if (command == "holdlock") {
        static std::unique_ptr<qvsnmp::BaseRing> held;  // kept until the process dies
        held = qvsnmp::BaseRing::Open();
        say(held && qvsnmp::detail::TestAccess::HoldAppendLock(*held) ? "holding" : "not holding");
    } else if (command == "rawtrap" && words >> number >> other) {
        auto ring = qvsnmp::BaseRing::Open(std::chrono::hours(1));
        const auto result = ring ? ring->AppendTrap({39917, static_cast<std::int8_t>(number), 1}, {1}, Value::Integer(other))
                                 : qvsnmp::AppendResult{};
        say(std::string(result ? "appended" : qvsnmp::ToString(result.status)) + Abandoned(result));
    } else if (command == "slow" && g_app && words >> number >> text) {
        g_app->Publish({6}, [number, text] {
            std::ofstream{text} << "in the getter\n";
            std::this_thread::sleep_for(std::chrono::milliseconds(number));
            return Value::Integer(6);
        });
        say("slow");
    } else if (command == "quit") {
        if (g_app) g_app->Stop();
        g_app.reset();
    } else {
        return false;
    }
    return true;
}
