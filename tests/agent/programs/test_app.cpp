// The test application: one command per line on standard input, one answer
// line on standard output. Its own commands use the module's exported
// application functions and the ring rules directly, with the offsets written
// out as an application in any language has them:
//   map                          maps and registers the base region: "mapped"
//   append KIND PEN ID INST      appends a base-ring record of any kind
//   trap PEN ID INST VALUE       appends a trap record with an integer value
//   find PEN ID INST             "slot N" (or "slot -1")
//   open SLOT / up SLOT          maps and registers the slot's rings / sets state 2
//   keepalive PEN ID INST MS     a connection request every MS ms; stopkeepalive
//   takeout SLOT                 one OUT-ring message: "out seq=S pen=P op=O bytes=HEX"
//   var TAIL int|str VALUE       publishes a variable (TAIL below the PEN)
//   serve SLOT                   answers the agent's queries on that slot
//   mode normal|silent|status CODE|slow MS
//   lastset                      "set tail=T type=Y len=L bytes=HEX"
//   stats                        "ops get=N getnext=N set=N", the requests received
// sdk_commands.cpp adds the SDK's commands where the SDK is built.
#include <algorithm>
#include <cctype>
#include <atomic>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "qv_windows.h"
#include "shm/ring.h"
#include "shm/shared_access.h"
#include "shm/snmp_session.h"
#include "shm/snmp_shared_memory.h"
#include "shm/snmp_time.h"
#include "test_app_commands.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void Say(const std::string& line) { std::cout << line << std::endl; }

std::mutex g_lock;  // the responder's state, and one appender at a time
std::map<Bytes, std::pair<std::uint8_t, Bytes>> g_variables;
std::string g_mode = "normal", g_lastSet = "none";
int g_modeArgument = 0;
int g_received[8] = {};  // requests by operation code

bool Append(const Bytes& record) {
    std::lock_guard<std::mutex> guard(g_lock);
    void* base = SnmpSharedMemory::GetSharedMemoryBasePointer();
    return base != nullptr && qv::shm::RingAppend(base, record.data());
}

Bytes Record(int kind, int pen, int appId, int appInst) {
    Bytes record(1024, 0);
    record[2] = static_cast<std::uint8_t>(pen), record[3] = static_cast<std::uint8_t>(pen >> 8);
    record[4] = static_cast<std::uint8_t>(appId), record[5] = static_cast<std::uint8_t>(appInst);
    record[34] = static_cast<std::uint8_t>(kind);
    return record;
}

void* MapRegion(const std::string& name) {
    // The handle stays open: a view keeps a region but not its name, and a
    // restarted agent finds the regions by name.
    HANDLE mapping = ::OpenFileMappingA(FILE_MAP_WRITE, FALSE, name.c_str());
    return mapping == nullptr ? nullptr : ::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
}

std::string Hex(const std::uint8_t* bytes, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += {"0123456789ABCDEF"[bytes[i] >> 4], "0123456789ABCDEF"[bytes[i] & 15]};
    return text;
}

// The reply to one request into `reply`; false when none is to be sent.
bool Answer(const std::uint8_t* request, std::uint8_t* reply, int& delayMs) {
    std::lock_guard<std::mutex> guard(g_lock);
    delayMs = g_mode == "slow" ? g_modeArgument : 0;
    std::memcpy(reply, request, 1024);
    const Bytes tail(request + 4, std::find(request + 4, request + 28, 0));
    const int operation = request[34];
    if (operation < 8) ++g_received[operation];
    if (g_mode == "silent" || (operation != 3 && operation != 5 && operation != 7)) return false;
    reply[35] = static_cast<std::uint8_t>(g_modeArgument);
    if (g_mode == "status") return true;
    auto found = operation == 5 ? g_variables.upper_bound(tail) : g_variables.find(tail);
    reply[35] = found == g_variables.end() ? 4 : 2;
    if (operation == 7) {
        const std::size_t length = std::min<std::size_t>(request[36] | request[37] << 8, 959);
        g_lastSet = "set tail=" + Hex(tail.data(), tail.size()) + " type=" + std::to_string(request[38]) +
                    " len=" + std::to_string(length) + " bytes=" + Hex(request + 40, length + 1);
        if (found != g_variables.end()) found->second = {request[38], Bytes(request + 40, request + 40 + length)};
    }
    if (found == g_variables.end()) return true;
    if (operation == 5) std::fill(std::copy(found->first.begin(), found->first.end(), reply + 4), reply + 34, 0);
    reply[38] = found->second.first;
    *std::copy(found->second.second.begin(), found->second.second.end(), reply + 40) = 0;
    return true;
}

// A thread that runs `body` until the next Start or Stop.
struct Worker {
    std::atomic<bool> running{false};
    std::thread thread;
    void Start(std::function<void(std::atomic<bool>&)> body) {
        Stop();
        running = true;
        thread = std::thread([this, body] { body(running); });
    }
    void Stop() {
        running = false;
        if (thread.joinable()) thread.join();
    }
};

void Serve(int slot, std::atomic<bool>& running) {
    void* out = SnmpSharedMemory::GetSharedMemoryOutputPointer(static_cast<unsigned int>(slot));
    void* in = SnmpSharedMemory::GetSharedMemoryInputPointer(static_cast<unsigned int>(slot));
    std::uint8_t request[1024], reply[1024];
    for (int delayMs = 0; running;) {
        if (!qv::shm::RingTake(out, request)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        } else if (Answer(request, reply, delayMs)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            qv::shm::RingAppend(in, reply);
        }
    }
}

}  // namespace

int main() {
    Worker server, keepAlive;
    Say("ready");
    for (std::string line; std::getline(std::cin, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream words(line);
        std::string command;
        int a = 0, b = 0, c = 0, d = 0, e = 0;
        words >> command;
        if (command == "map") {
            SnmpSharedMemory::SetSharedMemoryBasePointer(static_cast<QVSNMP_COMBufferHeaderLine*>(MapRegion("Global\\QV1.3.6.1.4.1")));
            SnmpTime::Init();
            Say(SnmpSharedMemory::GetSharedMemoryBasePointer() ? "mapped" : "unmapped");
        } else if (command == "append" && words >> a >> b >> c >> d) {
            Say(Append(Record(a, b, c, d)) ? "appended" : "full");
        } else if (command == "trap" && std::isdigit((words >> std::ws).peek()) && words >> b >> c >> d >> e) {
            Bytes record = Record(2, b, c, d);
            record[6] = 1, record[38] = 2;  // the trap mark, INTEGER
            std::memcpy(&record[40], &e, 4);
            Say(Append(record) ? "appended" : "full");
        } else if (command == "find" && words >> a >> b >> c) {
            Say("slot " + std::to_string(SnmpSession::GetCurrentSnmpSessionId(static_cast<std::uint16_t>(a), static_cast<std::int8_t>(b),
                                                                               static_cast<std::int8_t>(c))));
        } else if (command == "open" && words >> a) {
            void* in = MapRegion("Global\\QV_IN1.3.6.1.4.1.39917." + std::to_string(a));
            void* out = MapRegion("Global\\QV_OUT1.3.6.1.4.1.39917." + std::to_string(a));
            SnmpSharedMemory::SetSharedMemoryInputPointer(static_cast<unsigned int>(a), in);
            SnmpSharedMemory::SetSharedMemoryOutputPointer(static_cast<unsigned int>(a), out);
            Say(in && out ? "opened" : "notopened");
        } else if (command == "up" && words >> a) {
            qv::shm::StoreShared(SnmpSharedMemory::GetSharedMemoryBasePointer()->sessionState[a], std::uint8_t{2});
            Say("up");
        } else if (command == "keepalive" && words >> a >> b >> c >> d) {
            keepAlive.Start([request = Record(1, a, b, c), d](std::atomic<bool>& running) {
                for (; running; std::this_thread::sleep_for(std::chrono::milliseconds(d))) Append(request);
            });
            Say("keeping");
        } else if (command == "stopkeepalive") {
            keepAlive.Stop();
            Say("stopped");
        } else if (command == "takeout" && words >> a) {
            std::uint8_t m[1024];
            void* out = SnmpSharedMemory::GetSharedMemoryOutputPointer(static_cast<unsigned int>(a));
            Say(out == nullptr || !qv::shm::RingTake(out, m) ? "empty"
                : "out seq=" + std::to_string(m[0] | m[1] << 8) + " pen=" + std::to_string(m[2] | m[3] << 8) + " op=" +
                      std::to_string(m[34]) + " bytes=" + Hex(m + 4, 2) + Hex(m + 35, 6) + Hex(m + 1000, 2));
        } else if (command == "var") {
            std::string tail, type, value, part;
            std::getline(words >> tail >> type >> std::ws, value);
            Bytes name, bytes(value.begin(), value.end());
            for (std::istringstream parts(tail); std::getline(parts, part, '.');) name.push_back(static_cast<std::uint8_t>(std::stoi(part)));
            if (type == "int") bytes.assign(4, 0), a = std::stoi(value), std::memcpy(bytes.data(), &a, 4);
            std::lock_guard<std::mutex> guard(g_lock);
            g_variables[name] = {static_cast<std::uint8_t>(type == "int" ? 2 : 4), bytes};
            Say("var");
        } else if (command == "serve" && words >> a) {
            server.Start([a](std::atomic<bool>& running) { Serve(a, running); });
            Say("serving");
        } else if (command == "mode") {
            std::lock_guard<std::mutex> guard(g_lock);
            g_modeArgument = 0;
            words >> g_mode >> g_modeArgument;
            Say("mode " + g_mode);
        } else if (command == "lastset" || command == "stats") {
            std::lock_guard<std::mutex> guard(g_lock);
            Say(command == "lastset" ? g_lastSet : "ops get=" + std::to_string(g_received[3]) + " getnext=" + std::to_string(g_received[5]) +
                                                        " set=" + std::to_string(g_received[7]));
        } else if (command == "quit") {
            break;
        } else if (!command.empty() && !qv::test::SdkCommand(command, words, Say)) {
            Say("unknown " + command);
        }
    }
    server.Stop();
    keepAlive.Stop();
    std::istringstream none;
    qv::test::SdkCommand("quit", none, Say);
    Say("bye");
}
