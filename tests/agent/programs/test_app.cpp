// The test application: one command per line on standard input, one answer
// line on standard output. Its own commands use the module's exported
// application functions and the ring rules directly (offsets written out, as
// an application in any language has them):
//   map                          maps the base region, registers it, SnmpTime::Init
//   append KIND PEN ID INST [V]  appends a base-ring record (kind 2 with V: a trap
//                                record with an integer value)
//   find PEN ID INST             "slot N" (or "slot -1")
//   open SLOT / up SLOT          maps and registers the slot's rings / sets state 2
//   keepalive PEN ID INST MS     a connection request every MS ms; stopkeepalive
//   takeout SLOT                 takes one OUT-ring message: "out seq=.. op=.."
//   var TAIL int|str VALUE       publishes a variable (TAIL below the PEN)
//   serve SLOT                   answers the agent's queries on that slot
//   mode normal|silent|status CODE|slow MS
//   lastset                      "set tail=T type=Y len=L bytes=HEX"
//   quit
// Where the SDK exists, sdk_commands.cpp adds the commands of an SDK
// application (start, status, trap, pause, burst, holdlock, rawtrap, slow).
#include <algorithm>
#include <atomic>
#include <cstring>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
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

constexpr std::size_t kSlot = 1024;
std::mutex g_appendLock;  // one appender at a time within this process

void Say(const std::string& line) { std::cout << line << std::endl; }

bool Append(const std::uint8_t* record) {
    std::lock_guard<std::mutex> guard(g_appendLock);
    QVSNMP_COMBufferHeaderLine* base = SnmpSharedMemory::GetSharedMemoryBasePointer();
    return base != nullptr && qv::shm::RingAppend(base, record);
}

void FillIdentity(std::uint8_t* record, int kind, int pen, int appId, int appInst) {
    std::memset(record, 0, kSlot);
    qv::shm::WriteU16(record + 2, static_cast<std::uint16_t>(pen));
    record[4] = static_cast<std::uint8_t>(appId);
    record[5] = static_cast<std::uint8_t>(appInst);
    record[34] = static_cast<std::uint8_t>(kind);
}

void* MapRegion(const std::string& name) {
    // The handle stays open for the life of the process: a view keeps the
    // region but not its name, and a restarted agent finds regions by name.
    HANDLE mapping = ::OpenFileMappingA(FILE_MAP_WRITE, FALSE, name.c_str());
    return mapping == nullptr ? nullptr : ::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
}

std::string Hex(const std::uint8_t* bytes, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += "0123456789ABCDEF"[bytes[i] >> 4], text += "0123456789ABCDEF"[bytes[i] & 15];
    return text;
}

// What the responder serves and how; guarded by g_serveLock.
std::mutex g_serveLock;
std::map<std::vector<std::uint8_t>, std::pair<std::uint8_t, std::vector<std::uint8_t>>> g_variables;
std::string g_mode = "normal";
int g_modeArgument = 0;
std::string g_lastSet = "none";

// Builds the reply to one request; false when none is to be sent.
bool Answer(const std::uint8_t* request, std::uint8_t* reply) {
    std::lock_guard<std::mutex> guard(g_serveLock);
    std::memcpy(reply, request, kSlot);
    std::vector<std::uint8_t> tail;
    for (int i = 4; i < 28 && request[i] != 0; ++i) tail.push_back(request[i]);
    const int operation = request[34];
    if (g_mode == "silent" || (operation != 3 && operation != 5 && operation != 7)) return false;
    if (g_mode == "status") {
        reply[msg::kStatus] = static_cast<std::uint8_t>(g_modeArgument);
        return true;
    }
    auto found = operation == 5 ? g_variables.upper_bound(tail) : g_variables.find(tail);
    if (operation == 7) {
        const std::size_t length = qv::shm::ReadU16(request + 36);
        g_lastSet = "set tail=" + Hex(tail.data(), tail.size()) + " type=" + std::to_string(request[38]) +
                    " len=" + std::to_string(length) + " bytes=" + Hex(request + 40, std::min<std::size_t>(length + 1, 960));
        if (found != g_variables.end()) found->second = {request[38], {request + 40, request + 40 + std::min<std::size_t>(length, 959)}};
    }
    reply[35] = found == g_variables.end() ? 4 : 2;
    if (found == g_variables.end()) return true;
    if (operation == 5) {
        std::memset(reply + 4, 0, 30);
        std::copy(found->first.begin(), found->first.end(), reply + 4);
    }
    const auto& [type, bytes] = found->second;
    reply[38] = type;
    std::copy(bytes.begin(), bytes.end(), reply + 40);
    reply[40 + bytes.size()] = 0;
    return true;
}

void Serve(unsigned int slot, std::atomic<bool>& running) {
    void* out = SnmpSharedMemory::GetSharedMemoryOutputPointer(slot);
    void* in = SnmpSharedMemory::GetSharedMemoryInputPointer(slot);
    std::uint8_t request[kSlot];
    std::uint8_t reply[kSlot];
    while (running) {
        if (!qv::shm::RingTake(out, request)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        if (!Answer(request, reply)) continue;
        int delayMs = 0;
        {
            std::lock_guard<std::mutex> guard(g_serveLock);
            if (g_mode == "slow") delayMs = g_modeArgument;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        qv::shm::RingAppend(in, reply);
    }
}

// A thread that runs `body` until the next Start or Stop.
class Worker {
public:
    template <typename Body>
    void Start(Body body) {
        Stop();
        running_ = true;
        thread_ = std::thread([this, body] { body(running_); });
    }
    void Stop() {
        running_ = false;
        if (thread_.joinable()) thread_.join();
    }
    ~Worker() { Stop(); }

private:
    std::atomic<bool> running_{false};
    std::thread thread_;
};

}  // namespace

int main() {
    Worker server;
    Worker keepAlive;
    Say("ready");
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream words(line);
        std::string command;
        words >> command;
        int a = 0, b = 0, c = 0, d = 0, e = 0;
        std::uint8_t record[kSlot];
        if (command == "map") {
            auto* base = static_cast<QVSNMP_COMBufferHeaderLine*>(MapRegion("Global\\QV1.3.6.1.4.1"));
            SnmpSharedMemory::SetSharedMemoryBasePointer(base);
            SnmpTime::Init();
            Say(base ? "mapped" : "unmapped");
        } else if (command == "append" && words >> a >> b >> c >> d) {
            FillIdentity(record, a, b, c, d);
            if (words >> e) {
                record[6] = 1;  // the trap mark
                record[38] = 2;
                qv::shm::WriteI32(record + 40, e);
            }
            Say(Append(record) ? "appended" : "full");
        } else if (command == "find" && words >> a >> b >> c) {
            Say("slot " + std::to_string(SnmpSession::GetCurrentSnmpSessionId(
                              static_cast<std::uint16_t>(a), static_cast<std::int8_t>(b), static_cast<std::int8_t>(c))));
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
            FillIdentity(record, 1, a, b, c);
            std::vector<std::uint8_t> request(record, record + kSlot);
            keepAlive.Start([request, d](std::atomic<bool>& running) {
                for (; running; std::this_thread::sleep_for(std::chrono::milliseconds(d))) Append(request.data());
            });
            Say("keeping");
        } else if (command == "stopkeepalive") {
            keepAlive.Stop();
            Say("stopped");
        } else if (command == "takeout" && words >> a) {
            void* out = SnmpSharedMemory::GetSharedMemoryOutputPointer(static_cast<unsigned int>(a));
            if (out == nullptr || !qv::shm::RingTake(out, record)) {
                Say("empty");
            } else {
                Say("out seq=" + std::to_string(qv::shm::ReadU16(record)) + " pen=" + std::to_string(qv::shm::ReadU16(record + 2)) +
                    " op=" + std::to_string(record[34]) + " bytes=" + Hex(record + 4, 2) + Hex(record + 35, 6) +
                    Hex(record + 1000, 2));
            }
        } else if (command == "var") {
            std::string tail, type, value, part;
            words >> tail >> type >> std::ws;
            std::getline(words, value);
            std::vector<std::uint8_t> name, bytes(value.begin(), value.end());
            for (std::istringstream parts(tail); std::getline(parts, part, '.');) name.push_back(static_cast<std::uint8_t>(std::stoul(part)));
            if (type == "int") {
                bytes.assign(4, 0);
                qv::shm::WriteI32(bytes.data(), std::stoi(value));
            }
            std::lock_guard<std::mutex> guard(g_serveLock);
            g_variables[name] = {static_cast<std::uint8_t>(type == "int" ? 2 : 4), bytes};
            Say("var");
        } else if (command == "serve" && words >> a) {
            server.Start([a](std::atomic<bool>& running) { Serve(static_cast<unsigned int>(a), running); });
            Say("serving");
        } else if (command == "mode") {
            std::lock_guard<std::mutex> guard(g_serveLock);
            g_modeArgument = 0;
            words >> g_mode >> g_modeArgument;
            Say("mode " + g_mode);
        } else if (command == "lastset") {
            std::lock_guard<std::mutex> guard(g_serveLock);
            Say(g_lastSet);
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
    return 0;
}
