// An application for tests, written against the module's exported application
// functions and the rules an application keeps. It follows one command per
// line on standard input and answers on standard output:
//   map                          maps the base region, registers it, SnmpTime::Init
//   connect PEN ID INST          appends a connection request
//   record KIND PEN ID INST      appends a record of any kind
//   trap PEN ID INST VALUE       appends a trap record with an integer value
//   flood N KIND PEN ID INST     appends up to N records; prints "appended K"
//   find PEN ID INST             prints "slot N" (or "slot -1")
//   open SLOT                    maps the slot's IN and OUT regions and registers them
//   up SLOT                      sets the slot's state to 2
//   free SLOT                    SnmpSession::FreeSessionId
//   keepalive PEN ID INST MS     repeats the connection request every MS ms
//                                (replacing an earlier keepalive)
//   stopkeepalive                stops that
//   takeout SLOT                 takes one message from the OUT ring
//   var TAIL int|str|hex VALUE   publishes a variable; TAIL is the OID below the
//                                enterprise number, e.g. 1.1.3
//   serve SLOT                   answers the agent's queries on that slot
//   mode normal|silent|paused|status CODE|stale N|emptynext|slow MS
//                                how the answers look (for error cases); slow
//                                answers normally after MS milliseconds
//   stats                        prints "ops get=N getnext=N set=N", the
//                                requests received so far
//   fakefull SLOT                makes the OUT ring look full to the agent
//   lastset                      prints the last SET request as "set tail=T type=Y len=L bytes=HEX"
//   quit
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <map>
#include <thread>
#include <vector>

#include "qv_windows.h"
#include "shm/wire.h"
#include "shm/ring.h"
#include "shm/shared_access.h"
#include "shm/snmp_session.h"
#include "shm/snmp_shared_memory.h"
#include "shm/snmp_time.h"

namespace {

namespace msg = qv::shm::message;
namespace rec = qv::shm::record;

std::mutex g_appendLock;  // one appender at a time within this process

void Say(const std::string& line) { std::cout << line << std::endl; }

bool Append(const std::uint8_t* record) {
    std::lock_guard<std::mutex> guard(g_appendLock);
    QVSNMP_COMBufferHeaderLine* base = SnmpSharedMemory::GetSharedMemoryBasePointer();
    return base != nullptr && qv::shm::RingAppend(base, record);
}

void FillIdentity(std::uint8_t* record, int pen, int appId, int appInst, int kind) {
    std::memset(record, 0, qv::shm::kSlotSize);
    qv::shm::WriteU16(record + rec::kPen, static_cast<std::uint16_t>(pen));
    record[rec::kAppId] = static_cast<std::uint8_t>(appId);
    record[rec::kAppInst] = static_cast<std::uint8_t>(appInst);
    record[rec::kKind] = static_cast<std::uint8_t>(kind);
}

void* MapRegion(const char* name) {
    HANDLE mapping = ::OpenFileMappingA(FILE_MAP_WRITE, FALSE, name);
    if (mapping == nullptr) return nullptr;
    void* view = ::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
    // The handle is kept for the life of the process: on Windows a view
    // keeps the region but not its name, which goes with the last handle, and
    // an agent that restarts must find the regions by name.
    if (view == nullptr) ::CloseHandle(mapping);
    return view;
}

struct Variable {
    std::uint8_t type = 2;
    std::vector<std::uint8_t> bytes;  // integer as 4 little-endian bytes, or the string
};

// What the responder serves and how; guarded by g_serveLock.
std::mutex g_serveLock;
std::map<std::vector<std::uint8_t>, Variable> g_variables;
std::string g_mode = "normal";
int g_modeArgument = 0;
std::string g_lastSet = "none";
int g_received[8] = {};  // requests by operation code

std::vector<std::uint8_t> ParseTail(const std::string& dotted) {
    std::vector<std::uint8_t> tail;
    std::istringstream parts(dotted);
    std::string part;
    while (std::getline(parts, part, '.')) {
        if (!part.empty()) tail.push_back(static_cast<std::uint8_t>(std::stoul(part)));
    }
    return tail;
}

std::string Hex(const std::uint8_t* bytes, std::size_t count) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

void PutValue(std::uint8_t* reply, const Variable& variable) {
    reply[msg::kValueType] = variable.type;
    std::memcpy(reply + msg::kValue, variable.bytes.data(), std::min<std::size_t>(variable.bytes.size(), msg::kMaxText));
    reply[msg::kValue + std::min<std::size_t>(variable.bytes.size(), msg::kMaxText)] = 0;
}

// Builds the answer to one request; false when none is to be sent.
bool Answer(const std::uint8_t* request, std::uint8_t* reply) {
    std::lock_guard<std::mutex> guard(g_serveLock);
    std::memcpy(reply, request, qv::shm::kSlotSize);
    std::vector<std::uint8_t> tail;
    for (std::size_t i = msg::kTail; i < msg::kTail + msg::kTailSize && request[i] != 0; ++i) tail.push_back(request[i]);
    const int operation = request[msg::kOperation];
    if (operation < 8) ++g_received[operation];
    if (g_mode == "silent") return false;
    if (g_mode == "status") {
        reply[msg::kStatus] = static_cast<std::uint8_t>(g_modeArgument);
        return true;
    }
    if (operation == msg::kGet) {
        const auto found = g_variables.find(tail);
        reply[msg::kStatus] = found == g_variables.end() ? msg::kReplyNoSuchName : msg::kReplyOk;
        if (found != g_variables.end()) PutValue(reply, found->second);
    } else if (operation == msg::kGetNext) {
        const auto next = g_variables.upper_bound(tail);
        std::memset(reply + msg::kTail, 0, msg::kOperation - msg::kTail);
        if (g_mode == "emptynext") {
            reply[msg::kStatus] = msg::kReplyOk;
            Variable value{2, {9, 0, 0, 0}};
            PutValue(reply, value);
        } else if (next == g_variables.end()) {
            reply[msg::kStatus] = msg::kReplyNoSuchName;
        } else {
            reply[msg::kStatus] = msg::kReplyOk;
            std::memcpy(reply + msg::kTail, next->first.data(), std::min<std::size_t>(next->first.size(), msg::kReplyTailSize));
            PutValue(reply, next->second);
        }
    } else if (operation == msg::kSet) {
        const std::size_t length = qv::shm::ReadU16(request + msg::kValueLength);
        g_lastSet = "set tail=" + Hex(tail.data(), tail.size()) + " type=" + std::to_string(request[msg::kValueType]) +
                    " len=" + std::to_string(length) +
                    " bytes=" + Hex(request + msg::kValue, std::min<std::size_t>(length + 1, msg::kValueSize));
        const auto found = g_variables.find(tail);
        if (found == g_variables.end()) {
            reply[msg::kStatus] = msg::kReplyNoSuchName;
        } else {
            found->second.type = request[msg::kValueType];
            found->second.bytes.assign(request + msg::kValue,
                                       request + msg::kValue + std::min<std::size_t>(length, msg::kMaxText));
            reply[msg::kStatus] = msg::kReplyOk;
        }
    } else {
        return false;  // a time-out notice, or something we do not know
    }
    return true;
}

void Serve(unsigned int slot, std::atomic<bool>& running) {
    void* out = SnmpSharedMemory::GetSharedMemoryOutputPointer(slot);
    void* in = SnmpSharedMemory::GetSharedMemoryInputPointer(slot);
    std::uint8_t request[qv::shm::kSlotSize];
    std::uint8_t reply[qv::shm::kSlotSize];
    while (running) {
        bool paused = false;
        {
            std::lock_guard<std::mutex> guard(g_serveLock);
            paused = g_mode == "paused";
        }
        // Paused: the OUT ring is left alone, so its indices stay as set.
        if (paused || !qv::shm::RingTake(out, request)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        if (!Answer(request, reply)) continue;
        int stale = 0;
        int delayMs = 0;
        {
            std::lock_guard<std::mutex> guard(g_serveLock);
            if (g_mode == "stale") stale = g_modeArgument;
            if (g_mode == "slow") delayMs = g_modeArgument;
        }
        if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        for (int i = 0; i < stale; ++i) {
            std::uint8_t old[qv::shm::kSlotSize];
            std::memcpy(old, reply, sizeof old);
            qv::shm::WriteU16(old, static_cast<std::uint16_t>(qv::shm::ReadU16(reply) + 1000 + i));
            old[msg::kStatus] = msg::kReplyGeneralError;
            qv::shm::RingAppend(in, old);
        }
        qv::shm::RingAppend(in, reply);
    }
}

}  // namespace

int main() {
    std::atomic<bool> serving{false};
    std::thread server;
    std::atomic<bool> keepAliveRunning{false};
    std::thread keepAlive;
    std::string line;
    Say("ready");
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream words(line);
        std::string command;
        words >> command;
        std::uint8_t record[qv::shm::kSlotSize];
        if (command == "map") {
            auto* base = static_cast<QVSNMP_COMBufferHeaderLine*>(MapRegion(qv::shm::kBaseRegionName));
            SnmpSharedMemory::SetSharedMemoryBasePointer(base);
            SnmpTime::Init();
            Say(base ? "mapped" : "unmapped");
        } else if (command == "connect" || command == "record" || command == "trap") {
            int kind = 1;
            if (command == "record") words >> kind;
            if (command == "trap") kind = rec::kTrap;
            int pen = 0, appId = 0, appInst = 0;
            words >> pen >> appId >> appInst;
            FillIdentity(record, pen, appId, appInst, kind);
            if (command == "trap") {
                int value = 0;
                words >> value;
                record[rec::kTrapMark] = rec::kDeliverMark;
                record[rec::kValueType] = qv::shm::kValueInteger;
                qv::shm::WriteI32(record + rec::kValue, value);
            }
            Say(Append(record) ? "appended" : "full");
        } else if (command == "flood") {
            int count = 0, kind = 0, pen = 0, appId = 0, appInst = 0;
            words >> count >> kind >> pen >> appId >> appInst;
            FillIdentity(record, pen, appId, appInst, kind);
            int appended = 0;
            while (appended < count && Append(record)) ++appended;
            Say("appended " + std::to_string(appended));
        } else if (command == "find") {
            int pen = 0, appId = 0, appInst = 0;
            words >> pen >> appId >> appInst;
            Say("slot " + std::to_string(SnmpSession::GetCurrentSnmpSessionId(
                              static_cast<std::uint16_t>(pen), static_cast<std::int8_t>(appId),
                              static_cast<std::int8_t>(appInst))));
        } else if (command == "open") {
            unsigned int slot = 0;
            words >> slot;
            char name[64];
            ::wsprintfA(name, qv::shm::kInRegionNameFormat, static_cast<int>(slot));
            void* in = MapRegion(name);
            ::wsprintfA(name, qv::shm::kOutRegionNameFormat, static_cast<int>(slot));
            void* out = MapRegion(name);
            SnmpSharedMemory::SetSharedMemoryInputPointer(slot, in);
            SnmpSharedMemory::SetSharedMemoryOutputPointer(slot, out);
            Say(in && out ? "opened" : "notopened");
        } else if (command == "up") {
            int slot = 0;
            words >> slot;
            qv::shm::StoreShared(SnmpSharedMemory::GetSharedMemoryBasePointer()->sessionState[slot],
                                 qv::shm::kSessionUp);
            Say("up");
        } else if (command == "free") {
            int slot = 0;
            words >> slot;
            SnmpSession::FreeSessionId(static_cast<std::int8_t>(slot));
            Say("freed");
        } else if (command == "keepalive") {
            int pen = 0, appId = 0, appInst = 0, period = 0;
            words >> pen >> appId >> appInst >> period;
            // One keep-alive at a time: a new one replaces the old.
            keepAliveRunning = false;
            if (keepAlive.joinable()) keepAlive.join();
            keepAliveRunning = true;
            keepAlive = std::thread([&keepAliveRunning, pen, appId, appInst, period] {
                std::uint8_t request[qv::shm::kSlotSize];
                FillIdentity(request, pen, appId, appInst, 1);
                while (keepAliveRunning) {
                    Append(request);
                    std::this_thread::sleep_for(std::chrono::milliseconds(period));
                }
            });
            Say("keeping");
        } else if (command == "stopkeepalive") {
            keepAliveRunning = false;
            if (keepAlive.joinable()) keepAlive.join();
            Say("stopped");
        } else if (command == "takeout") {
            unsigned int slot = 0;
            words >> slot;
            void* out = SnmpSharedMemory::GetSharedMemoryOutputPointer(slot);
            if (out == nullptr || !qv::shm::RingTake(out, record)) {
                Say("empty");
            } else {
                std::ostringstream text;
                text << "out seq=" << qv::shm::ReadU16(record + msg::kSequence)
                     << " pen=" << qv::shm::ReadU16(record + msg::kPen)
                     << " appid=" << int(static_cast<std::int8_t>(record[msg::kNoticeAppId]))
                     << " appinst=" << int(static_cast<std::int8_t>(record[msg::kNoticeAppInst]))
                     << " op=" << int(record[msg::kOperation]) << " b35=" << int(record[msg::kStatus])
                     << " b39=" << int(record[msg::kValueAttribute]) << " b40=" << int(record[msg::kValue])
                     << " m1000=" << int(record[msg::kMarker1]) << " m1001=" << int(record[msg::kMarker2]);
                Say(text.str());
            }
        } else if (command == "var") {
            std::string tail, type, value;
            words >> tail >> type;
            std::getline(words >> std::ws, value);
            Variable variable;
            if (type == "int") {
                variable.type = 2;
                variable.bytes.resize(4);
                qv::shm::WriteI32(variable.bytes.data(), std::stoi(value));
            } else {
                variable.type = 4;
                if (type == "hex") {
                    for (std::size_t i = 0; i + 1 < value.size(); i += 2) {
                        variable.bytes.push_back(static_cast<std::uint8_t>(std::stoul(value.substr(i, 2), nullptr, 16)));
                    }
                } else {
                    variable.bytes.assign(value.begin(), value.end());
                }
            }
            std::lock_guard<std::mutex> guard(g_serveLock);
            g_variables[ParseTail(tail)] = variable;
            Say("var");
        } else if (command == "serve") {
            unsigned int slot = 0;
            words >> slot;
            serving = false;  // a new slot after reconnecting: stop serving the old one
            if (server.joinable()) server.join();
            serving = true;
            server = std::thread([slot, &serving] { Serve(slot, serving); });
            Say("serving");
        } else if (command == "mode") {
            std::lock_guard<std::mutex> guard(g_serveLock);
            words >> g_mode;
            g_modeArgument = 0;
            words >> g_modeArgument;
            Say("mode " + g_mode);
        } else if (command == "fakefull") {
            unsigned int slot = 0;
            words >> slot;
            auto* control = static_cast<qv::shm::RingControl*>(SnmpSharedMemory::GetSharedMemoryOutputPointer(slot));
            qv::shm::StoreShared(control->readIndex, qv::shm::NextIndex(qv::shm::LoadShared(control->writeIndex)));
            Say("full");
        } else if (command == "stats") {
            std::lock_guard<std::mutex> guard(g_serveLock);
            Say("ops get=" + std::to_string(g_received[msg::kGet]) + " getnext=" +
                std::to_string(g_received[msg::kGetNext]) + " set=" + std::to_string(g_received[msg::kSet]));
        } else if (command == "lastset") {
            std::lock_guard<std::mutex> guard(g_serveLock);
            Say(g_lastSet);
        } else if (command == "quit") {
            serving = false;
            if (server.joinable()) server.join();
            keepAliveRunning = false;
            if (keepAlive.joinable()) keepAlive.join();
            Say("bye");
            return 0;
        } else if (!command.empty()) {
            Say("unknown " + command);
        }
    }
    serving = false;
    if (server.joinable()) server.join();
    keepAliveRunning = false;
    if (keepAlive.joinable()) keepAlive.join();
    return 0;
}
