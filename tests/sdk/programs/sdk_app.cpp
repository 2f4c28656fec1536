// An application built on the SDK, for tests. It follows one command per line
// on standard input and answers with one line on standard output:
//   start PEN ID INST         publishes the test variables (below) and starts
//   status                    "status connected=C session=S connects=N timeouts=T losses=L"
//   trap int SUFFIX N         Application::RaiseTrap with an integer
//   trap text SUFFIX WORDS    Application::RaiseTrap with the rest of the line
//   pause on|off              TestAccess::SetKeepAlivePaused
//   stop                      Application::Stop
//   burst PRODUCER COUNT      appends COUNT tagged trap records through a BaseRing
//                             of its own, retrying while the ring is full:
//                             "burst done N abandoned=A"
//   holdlock                  takes the append lock and keeps it: "holding"
//   rawtrap ID N              one trap record through a BaseRing, waiting for
//                             the lock as long as it takes: "appended abandoned=A"
//   slow MS PATH              publishes .6: its getter creates the file PATH,
//                             then takes MS milliseconds to answer INTEGER 6
//   quit
// Trap answers are "trap <status> abandoned=0|1".
//
// Variables below PEN.ID.INST:
//   .1 INTEGER 42   .2 STRING "hello"   .3 INTEGER 7, writable 0..100
//   .4 INTEGER 9, read-only   .5 STRING "text", writable
//   .10.1.C.R for C = 1, 2 and R = 1..3: C1 INTEGER R, C2 STRING "row R"
#include <atomic>
#include <chrono>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "qvsnmp/application.h"
#include "tagged_record.h"
#include "test_access.h"

namespace {

using qvsnmp::Value;

void Say(const std::string& line) { std::cout << line << std::endl; }

std::string TrapAnswer(const qvsnmp::AppendResult& result) {
    return std::string("trap ") + qvsnmp::ToString(result.status) + " abandoned=" + (result.lockAbandoned ? "1" : "0");
}

void PublishTestVariables(qvsnmp::Application& app) {
    app.PublishConstant({1}, Value::Integer(42));
    app.PublishConstant({2}, Value::Text("hello"));
    auto number = std::make_shared<std::atomic<std::int32_t>>(7);
    app.Publish({3}, [number] { return Value::Integer(number->load()); },
                qvsnmp::IntegerSetter([number](std::int32_t value) {
                    if (value < 0 || value > 100) return false;
                    *number = value;
                    return true;
                }));
    app.PublishConstant({4}, Value::Integer(9));
    auto text = std::make_shared<std::string>("text");
    auto textMutex = std::make_shared<std::mutex>();
    app.Publish({5},
                [text, textMutex] {
                    std::lock_guard lock(*textMutex);
                    return Value::Text(*text);
                },
                qvsnmp::TextSetter([text, textMutex](const std::string& value) {
                    std::lock_guard lock(*textMutex);
                    *text = value;
                    return true;
                }));
    for (std::uint8_t row = 1; row <= 3; ++row) {
        app.PublishConstant({10, 1, 1, row}, Value::Integer(row));
        app.PublishConstant({10, 1, 2, row}, Value::Text("row " + std::to_string(row)));
    }
}

}  // namespace

int main() {
    std::unique_ptr<qvsnmp::Application> app;
    Say("ready");
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        if (command == "start") {
            int pen = 0, appId = 0, appInst = 0;
            words >> pen >> appId >> appInst;
            app = std::make_unique<qvsnmp::Application>(
                qvsnmp::Identity{static_cast<std::uint16_t>(pen), static_cast<std::int8_t>(appId),
                                 static_cast<std::int8_t>(appInst)});
            PublishTestVariables(*app);
            app->Start();
            Say("started");
        } else if (command == "status" && app) {
            const auto status = app->GetStatus();
            Say("status connected=" + std::to_string(status.connected) + " session=" + std::to_string(status.session) +
                " connects=" + std::to_string(status.connects) + " timeouts=" + std::to_string(status.timeOuts) +
                " losses=" + std::to_string(status.losses));
        } else if (command == "trap" && app) {
            std::string type, suffixText, rest;
            words >> type >> suffixText;
            std::getline(words >> std::ws, rest);
            qvsnmp::Suffix suffix;
            qvsnmp::ParseSuffix(suffixText, &suffix);
            const Value value = type == "int" ? Value::Integer(std::stoi(rest)) : Value::Text(rest);
            Say(TrapAnswer(app->RaiseTrap(suffix, value)));
        } else if (command == "pause" && app) {
            std::string on;
            words >> on;
            qvsnmp::detail::TestAccess::SetKeepAlivePaused(*app, on == "on");
            Say(on == "on" ? "paused" : "resumed");
        } else if (command == "stop" && app) {
            app->Stop();
            Say("stopped");
        } else if (command == "burst") {
            int producer = 0, count = 0;
            words >> producer >> count;
            auto ring = qvsnmp::BaseRing::Open(std::chrono::seconds(60));
            int appended = 0;
            bool abandoned = false;
            std::uint8_t record[qv::shm::kSlotSize];
            while (ring && appended < count) {
                qv::test::FillTaggedRecord(record, producer, appended);
                const auto result = ring->AppendRecord(record);
                abandoned = abandoned || result.lockAbandoned;
                if (result) {
                    ++appended;
                } else if (result.status == qvsnmp::AppendStatus::kRingFull) {
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                } else {
                    break;
                }
            }
            Say("burst done " + std::to_string(appended) + " abandoned=" + (abandoned ? "1" : "0"));
        } else if (command == "holdlock") {
            static std::unique_ptr<qvsnmp::BaseRing> held;  // kept until the process dies
            held = qvsnmp::BaseRing::Open();
            Say(held && qvsnmp::detail::TestAccess::HoldAppendLock(*held) ? "holding" : "not holding");
        } else if (command == "rawtrap") {
            int appId = 0, number = 0;
            words >> appId >> number;
            auto ring = qvsnmp::BaseRing::Open(std::chrono::hours(1));
            const auto result = ring ? ring->AppendTrap({39917, static_cast<std::int8_t>(appId), 1}, {1},
                                                        Value::Integer(number))
                                     : qvsnmp::AppendResult{};
            Say(std::string(result ? "appended" : qvsnmp::ToString(result.status)) +
                " abandoned=" + (result.lockAbandoned ? "1" : "0"));
        } else if (command == "slow" && app) {
            int milliseconds = 0;
            std::string path;
            words >> milliseconds >> path;
            app->Publish({6}, [milliseconds, path] {
                std::ofstream{path} << "in the getter\n";
                std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
                return Value::Integer(6);
            });
            Say("slow");
        } else if (command == "quit") {
            if (app) app->Stop();
            Say("bye");
            return 0;
        } else if (!command.empty()) {
            Say("unknown " + command);
        }
    }
    if (app) app->Stop();
    return 0;
}
