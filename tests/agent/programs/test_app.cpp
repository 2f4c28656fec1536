// An application for tests, written against the module's exported application
// functions and the rules an application keeps. It follows one command per
// line on standard input and answers on standard output:
//   map                          maps the base region, registers it, SnmpTime::Init
//   connect PEN ID INST          appends a connection request
//   record KIND PEN ID INST      appends a record of any kind
//   trap PEN ID INST VALUE       appends a trap record with an integer value
//   find PEN ID INST             prints "slot N" (or "slot -1")
//   open SLOT                    maps the slot's IN and OUT regions and registers them
//   up SLOT                      sets the slot's state to 2
//   free SLOT                    SnmpSession::FreeSessionId
//   keepalive PEN ID INST MS     repeats the connection request every MS ms
//   stopkeepalive                stops that
//   takeout SLOT                 takes one message from the OUT ring
//   quit
#include <atomic>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "qv_windows.h"
#include "shm/layout.h"
#include "shm/ring.h"
#include "shm/shared_access.h"
#include "shm/snmp_session.h"
#include "shm/snmp_shared_memory.h"
#include "shm/snmp_time.h"

namespace {

std::mutex g_appendLock;  // one appender at a time within this process

void Say(const std::string& line) { std::cout << line << std::endl; }

bool Append(const std::uint8_t* record) {
    std::lock_guard<std::mutex> guard(g_appendLock);
    QVSNMP_COMBufferHeaderLine* base = SnmpSharedMemory::GetSharedMemoryBasePointer();
    return base != nullptr && qv::shm::RingAppend(base, record);
}

void FillIdentity(std::uint8_t* record, int pen, int appId, int appInst, int kind) {
    std::memset(record, 0, qv::shm::kSlotSize);
    qv::shm::WriteU16(record + 2, static_cast<std::uint16_t>(pen));
    record[4] = static_cast<std::uint8_t>(appId);
    record[5] = static_cast<std::uint8_t>(appInst);
    record[34] = static_cast<std::uint8_t>(kind);
}

void* MapRegion(const char* name) {
    HANDLE mapping = ::OpenFileMappingA(FILE_MAP_WRITE, FALSE, name);
    if (mapping == nullptr) return nullptr;
    void* view = ::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
    ::CloseHandle(mapping);  // the view keeps the region
    return view;
}

}  // namespace

int main() {
    std::atomic<bool> keepAliveRunning{false};
    std::thread keepAlive;
    std::string line;
    Say("ready");
    while (std::getline(std::cin, line)) {
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
            if (command == "trap") kind = 2;
            int pen = 0, appId = 0, appInst = 0;
            words >> pen >> appId >> appInst;
            FillIdentity(record, pen, appId, appInst, kind);
            if (command == "trap") {
                int value = 0;
                words >> value;
                record[6] = 1;  // trap mark
                record[38] = 2;
                qv::shm::WriteI32(record + 40, value);
            }
            Say(Append(record) ? "appended" : "full");
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
                text << "out seq=" << qv::shm::ReadU16(record) << " pen=" << qv::shm::ReadU16(record + 2)
                     << " appid=" << int(static_cast<std::int8_t>(record[4]))
                     << " appinst=" << int(static_cast<std::int8_t>(record[5])) << " op=" << int(record[34])
                     << " b35=" << int(record[35]) << " b39=" << int(record[39]) << " b40=" << int(record[40])
                     << " m1000=" << int(record[1000]) << " m1001=" << int(record[1001]);
                Say(text.str());
            }
        } else if (command == "quit") {
            keepAliveRunning = false;
            if (keepAlive.joinable()) keepAlive.join();
            Say("bye");
            return 0;
        } else if (!command.empty()) {
            Say("unknown " + command);
        }
    }
    keepAliveRunning = false;
    if (keepAlive.joinable()) keepAlive.join();
    return 0;
}
