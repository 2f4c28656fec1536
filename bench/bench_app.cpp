// The application side of the end-to-end benchmark, built on the SDK.
//
//   qvsnmp_bench_app PEN APPID FIRST_INST SESSIONS
//
// Starts SESSIONS applications PEN.APPID.FIRST_INST, PEN.APPID.FIRST_INST+1,
// ..., each publishing the 100 integer variables .1 to .100 (variable k reads
// k; .1 also takes integer SETs), with the SDK's default options. It prints
// "up" once all of them are connected, then follows one command per line on
// standard input, answering with one line:
//
//   period                 "period <ms>": the worker's pass period, from the
//                          keep-alive counter of our first session, which the
//                          worker raises once a pass
//   connect COUNT          COUNT times: a connection request for an identity
//                          of its own, timed until the worker has written it
//                          into a session slot; the slot is then freed again.
//                          "connect <ms> <ms> ..."
//   burst COUNT paced|unpaced
//                          COUNT trap records (.2 = running number) from the
//                          first application, as fast as the ring takes them,
//                          then waits until the trap walk has gone past all of
//                          them. "paced" never lets the records that the trap
//                          walk has not yet passed come near a whole ring's
//                          worth (room is left for other writers), so the walk
//                          cannot be lapped; "unpaced" only retries while the
//                          ring is full.
//                          "burst first=F count=N append_ms=A walked_ms=W"
//   stream SECONDS         paced trap records for SECONDS, then as burst:
//                          "stream first=F count=N append_ms=A walked_ms=W"
//   quit
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "qvsnmp/application.h"
#include "shm/wire.h"
#include "shm/shared_access.h"
#include "shm/snmp_session.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using qv::shm::LoadShared;

constexpr int kVariables = 100;
// Data slots of the base ring: indices run 1..1023.
constexpr int kRingSlots = 1023;
// Records behind the trap read index that the walk may face at once without
// being lapped: the worker may take at most 1021 before the walk runs. Other
// writers share the ring (every session's keep-alive, our own included), and
// one more record of theirs on top of 1021 of ours laps the walk, which then
// drops them all; so we leave room for one record of each of the 16 sessions.
constexpr int kOtherWriters = 16;
constexpr int kPacedWindow = 1021 - kOtherWriters;

void Say(const std::string& line) { std::cout << line << std::endl; }

double Ms(Clock::duration duration) { return std::chrono::duration<double, std::milli>(duration).count(); }

int Distance(int from, int to) { return ((to - from) % kRingSlots + kRingSlots) % kRingSlots; }

class Bench {
public:
    Bench(qvsnmp::Identity identity, int sessions) : identity_(identity) {
        for (int i = 0; i < sessions; ++i) {
            qvsnmp::Identity each = identity;
            each.appInst = static_cast<std::int8_t>(identity.appInst + i);
            auto app = std::make_unique<qvsnmp::Application>(each);
            for (int k = 1; k <= kVariables; ++k) {
                const auto suffix = static_cast<std::uint8_t>(k);
                if (k == 1) {
                    app->Publish({suffix}, [this] { return qvsnmp::Value::Integer(written_.load()); },
                                 qvsnmp::IntegerSetter([this](std::int32_t value) {
                                     written_ = value;
                                     return true;
                                 }));
                } else {
                    app->PublishConstant({suffix}, qvsnmp::Value::Integer(k));
                }
            }
            apps_.push_back(std::move(app));
        }
    }

    void Start() {
        for (auto& app : apps_) app->Start();
        for (auto& app : apps_) {
            while (!app->GetStatus().connected) std::this_thread::sleep_for(10ms);
        }
        ring_ = qvsnmp::BaseRing::Open();
    }

    void Stop() {
        for (auto& app : apps_) app->Stop();
    }

    const QVSNMP_COMBufferHeaderLine& Header() const {
        return *static_cast<const QVSNMP_COMBufferHeaderLine*>(ring_->Region());
    }

    std::string Period() {
        const int slot = apps_.front()->GetStatus().session;
        if (slot < 0) return "period -1";
        std::uint16_t last = LoadShared(Header().keepAlive[slot]);
        std::vector<Clock::time_point> changes;
        const auto end = Clock::now() + 2s;
        while (Clock::now() < end) {
            const std::uint16_t now = LoadShared(Header().keepAlive[slot]);
            if (now != last) {
                changes.push_back(Clock::now());
                last = now;
            }
            std::this_thread::sleep_for(200us);
        }
        if (changes.size() < 2) return "period -1";
        return "period " + std::to_string(Ms(changes.back() - changes.front()) / double(changes.size() - 1));
    }

    std::string Connect(int count) {
        std::string answer = "connect";
        // An identity that no benchmark application uses.
        qvsnmp::Identity probe{identity_.pen, static_cast<std::int8_t>(identity_.appId + 1), 99};
        for (int i = 0; i < count; ++i) {
            const auto began = Clock::now();
            if (!ring_->AppendConnectionRequest(probe)) return "connect failed";
            int slot = -1;
            while ((slot = SnmpSession::GetCurrentSnmpSessionId(probe.pen, probe.appId, probe.appInst)) < 0) {
                if (Clock::now() - began > 5s) return "connect timeout";
                std::this_thread::sleep_for(100us);
            }
            answer += " " + std::to_string(Ms(Clock::now() - began));
            SnmpSession::FreeSessionId(static_cast<std::int8_t>(slot));
            std::this_thread::sleep_for(20ms);  // start the next one at another point of the pass
        }
        return answer;
    }

    // Appends trap records until `more` says stop; returns how many.
    template <typename More>
    int Traps(bool paced, More more) {
        const qvsnmp::Identity& sender = apps_.front()->identity();
        int sent = 0;
        while (more(sent)) {
            if (paced) {
                const QVSNMP_COMBufferHeaderLine& header = Header();
                if (Distance(LoadShared(header.trapReadIndex), LoadShared(header.writeIndex)) + 1 > kPacedWindow) {
                    std::this_thread::sleep_for(200us);
                    continue;
                }
            }
            const std::uint16_t before = LoadShared(Header().writeIndex);
            const auto result = ring_->AppendTrap(sender, {2}, qvsnmp::Value::Integer(next_));
            if (result.status == qvsnmp::AppendStatus::kRingFull) {
                std::this_thread::sleep_for(200us);
                continue;
            }
            if (!result) return -1;
            // Our record went into slot `before` unless another application
            // appended in between; then `before` is where it went at the
            // earliest, which is all the wait below needs.
            lastSlot_ = before;
            ++next_;
            ++sent;
        }
        return sent;
    }

    // Waits until the trap walk has gone past our last trap record. The walk
    // moves the trap read index only when it runs, which traps make it do.
    bool WaitWalked(Clock::duration limit) {
        if (lastSlot_ == 0) return true;
        const auto end = Clock::now() + limit;
        while (Clock::now() < end) {
            const QVSNMP_COMBufferHeaderLine& header = Header();
            const int walked = Distance(lastSlot_, LoadShared(header.trapReadIndex));
            const int written = Distance(lastSlot_, LoadShared(header.writeIndex));
            if (walked >= 1 && walked <= written) return true;
            std::this_thread::sleep_for(200us);
        }
        return false;
    }

    std::string Burst(const std::string& label, bool paced, int count, Clock::duration duration) {
        if (!WaitWalked(10s)) return label + " busy";
        const int first = next_;
        const auto began = Clock::now();
        const int sent = count > 0 ? Traps(paced, [count](int n) { return n < count; })
                                   : Traps(paced, [end = began + duration](int) { return Clock::now() < end; });
        const auto appended = Clock::now();
        const bool walked = WaitWalked(10s);
        const auto done = Clock::now();
        return label + " first=" + std::to_string(first) + " count=" + std::to_string(sent) +
               " append_ms=" + std::to_string(Ms(appended - began)) +
               " walked_ms=" + (walked ? std::to_string(Ms(done - began)) : std::string("-1"));
    }

private:
    qvsnmp::Identity identity_;
    std::vector<std::unique_ptr<qvsnmp::Application>> apps_;
    std::unique_ptr<qvsnmp::BaseRing> ring_;
    std::atomic<std::int32_t> written_{1};
    std::int32_t next_ = 0;
    std::uint16_t lastSlot_ = 0;  // slot of our last trap record; 0: none yet
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: qvsnmp_bench_app PEN APPID FIRST_INST SESSIONS\n");
        return 2;
    }
    const qvsnmp::Identity identity{static_cast<std::uint16_t>(std::stoi(argv[1])),
                                    static_cast<std::int8_t>(std::stoi(argv[2])),
                                    static_cast<std::int8_t>(std::stoi(argv[3]))};
    Bench bench(identity, std::stoi(argv[4]));
    bench.Start();
    Say("up");
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        if (command == "period") {
            Say(bench.Period());
        } else if (command == "connect") {
            int count = 1;
            words >> count;
            Say(bench.Connect(count));
        } else if (command == "burst") {
            int count = 0;
            std::string mode;
            words >> count >> mode;
            Say(bench.Burst("burst", mode == "paced", count, {}));
        } else if (command == "stream") {
            double seconds = 1;
            words >> seconds;
            Say(bench.Burst("stream", true, 0, std::chrono::duration_cast<Clock::duration>(
                                                    std::chrono::duration<double>(seconds))));
        } else if (command == "quit") {
            break;
        } else if (!command.empty()) {
            Say("unknown " + command);
        }
    }
    bench.Stop();
    return 0;
}
