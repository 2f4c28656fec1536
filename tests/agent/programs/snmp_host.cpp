// A stand-in for the SNMP service, for tests: its executable is named `snmp`
// (snmp.exe on Windows), so the module it loads plays the agent. It loads the module the way the
// service does (load the library, look the entry points up by name) and then
// follows one command per line on standard input, answering on standard
// output:
//   init                 SnmpExtensionInit; prints "init <result> <view>"
//   initex               SnmpExtensionInitEx; prints "initex <result> <view|untouched>"
//   trapwait <ms>        waits on the trap event; prints "trapwait signalled|timeout"
//   get|getnext OID      one-binding query; prints "status=S index=I name=N type=T value=V"
//   set OID int|str|hex|counter VALUE
//                        one-binding SET; prints the same line
//   stress SECONDS OID...
//                        GETs the OIDs round-robin for SECONDS; prints
//                        "stress ok=A waited=B cutshort=C refused=D"
//   traps                calls SnmpExtensionTrap until it returns FALSE; prints
//                        "trap enterprise=E generic=G specific=S ticks=T count=N",
//                        one "bind name=N type=T value=V" per binding, then "traps done"
//   thread               runs a short-lived thread to its end; prints "thread"
//   close                SnmpExtensionClose when exported; prints "closed <ms>"
//                        or "noclose"
//   unload               as the service stops an agent: SnmpExtensionClose when
//                        exported, then unload; prints "unloaded"
//   freeonly             unloads without SnmpExtensionClose; prints "freed <ms>"
//   quit                 prints "bye" and exits (the process exit detaches)
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "module_loader.h"
#include "qv_snmp.h"

namespace {

using InitFunction = BOOL(WINAPI*)(DWORD, HANDLE*, AsnObjectIdentifier*);
using InitExFunction = BOOL(WINAPI*)(AsnObjectIdentifier*);
using QueryFunction = BOOL(WINAPI*)(BYTE, SnmpVarBindList*, AsnInteger32*, AsnInteger32*);
using TrapFunction = BOOL(WINAPI*)(AsnObjectIdentifier*, AsnInteger32*, AsnInteger32*, AsnTimeticks*,
                                   SnmpVarBindList*);
using CloseFunction = void(WINAPI*)();

template <typename Function>
Function EntryPoint(qv::test::ModuleHandle module, const char* name) {
    return reinterpret_cast<Function>(qv::test::FindEntryPoint(module, name));
}

long long MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

std::string Dotted(const AsnObjectIdentifier& oid) {
    std::string text;
    for (UINT i = 0; i < oid.idLength; ++i) {
        if (i > 0) text += '.';
        text += std::to_string(oid.ids[i]);
    }
    return text;
}

void Say(const std::string& line) {
    std::cout << line << std::endl;
}

// "1.3.6.1" into a fresh OID whose ids the utility allocator owns.
AsnObjectIdentifier ParseOid(const std::string& dotted) {
    std::vector<UINT> ids;
    std::istringstream parts(dotted);
    std::string part;
    while (std::getline(parts, part, '.')) {
        if (!part.empty()) ids.push_back(static_cast<UINT>(std::stoul(part)));
    }
    AsnObjectIdentifier source{static_cast<UINT>(ids.size()), ids.data()};
    AsnObjectIdentifier copy{0, nullptr};
    if (!ids.empty()) SnmpUtilOidCpy(&copy, &source);
    return copy;
}

std::string ValueText(const AsnAny& value) {
    switch (value.asnType) {
        case ASN_INTEGER:
            return std::to_string(value.asnValue.number);
        case ASN_OCTETSTRING: {
            std::string text;
            for (UINT i = 0; i < value.asnValue.string.length; ++i) {
                const unsigned char c = value.asnValue.string.stream[i];
                if (c >= 0x20 && c < 0x7F && c != '\\') {
                    text += static_cast<char>(c);
                } else {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
                    text += escaped;
                }
            }
            return "\"" + text + "\"";
        }
        default:
            return "-";
    }
}

std::string BindingText(const SnmpVarBind& binding) {
    return "name=" + Dotted(binding.name) + " type=" + std::to_string(binding.value.asnType) +
           " value=" + ValueText(binding.value);
}

std::vector<BYTE> HexBytes(const std::string& hex) {
    std::vector<BYTE> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<BYTE>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// One request of one binding, made and freed the way the SNMP service does.
std::string Query(QueryFunction query, BYTE pduType, std::istringstream& words) {
    std::string oid;
    words >> oid;
    SnmpVarBindList list{static_cast<SnmpVarBind*>(SnmpUtilMemAlloc(sizeof(SnmpVarBind))), 1};
    list.list[0].name = ParseOid(oid);
    list.list[0].value.asnType = ASN_NULL;
    if (pduType == SNMP_PDU_SET) {
        std::string type;
        std::string value;
        words >> type;
        std::getline(words >> std::ws, value);
        AsnAny& any = list.list[0].value;
        if (type == "int") {
            any.asnType = ASN_INTEGER;
            any.asnValue.number = std::stoi(value);
        } else if (type == "counter") {
            any.asnType = ASN_COUNTER32;
            any.asnValue.counter = static_cast<AsnCounter32>(std::stoul(value));
        } else {
            const std::vector<BYTE> bytes =
                type == "hex" ? HexBytes(value) : std::vector<BYTE>(value.begin(), value.end());
            any.asnType = ASN_OCTETSTRING;
            any.asnValue.string.length = static_cast<UINT>(bytes.size());
            any.asnValue.string.stream = static_cast<BYTE*>(SnmpUtilMemAlloc(static_cast<UINT>(bytes.size() + 1)));
            if (!bytes.empty()) std::memcpy(any.asnValue.string.stream, bytes.data(), bytes.size());
            any.asnValue.string.dynamic = TRUE;
        }
    }
    AsnInteger32 status = -1;
    AsnInteger32 index = -1;
    query(pduType, &list, &status, &index);
    const std::string answer =
        "status=" + std::to_string(status) + " index=" + std::to_string(index) + " " + BindingText(list.list[0]);
    SnmpUtilVarBindListFree(&list);
    return answer;
}

// Failed GETs are told apart by how long they took: "waited" ran the whole
// reply wait, "cutshort" ended early because the session was released in the
// middle of the wait, "refused" failed at once (no session, not up).
std::string Stress(QueryFunction query, std::istringstream& words) {
    int seconds = 0;
    words >> seconds;
    std::vector<std::string> oids;
    for (std::string oid; words >> oid;) oids.push_back(oid);
    int ok = 0, waited = 0, cutShort = 0, refused = 0;
    const DWORD start = ::GetTickCount();
    for (std::size_t i = 0; !oids.empty() && ::GetTickCount() - start < static_cast<DWORD>(seconds) * 1000; ++i) {
        std::istringstream one(oids[i % oids.size()]);
        const DWORD began = ::GetTickCount();
        const std::string answer = Query(query, SNMP_PDU_GET, one);
        const DWORD took = ::GetTickCount() - began;
        if (answer.rfind("status=0 ", 0) == 0) {
            ++ok;
        } else if (took >= 1900) {
            ++waited;
        } else if (took >= 100) {
            ++cutShort;
        } else {
            ++refused;
            ::Sleep(1);
        }
    }
    return "stress ok=" + std::to_string(ok) + " waited=" + std::to_string(waited) +
           " cutshort=" + std::to_string(cutShort) + " refused=" + std::to_string(refused);
}

void Traps(TrapFunction trap) {
    for (;;) {
        AsnObjectIdentifier enterprise{0, nullptr};
        AsnInteger32 generic = -1;
        AsnInteger32 specific = -1;
        AsnTimeticks ticks = 0;
        SnmpVarBindList bindings{nullptr, 0};
        if (!trap(&enterprise, &generic, &specific, &ticks, &bindings)) break;
        Say("trap enterprise=" + Dotted(enterprise) + " generic=" + std::to_string(generic) + " specific=" +
            std::to_string(specific) + " ticks=" + std::to_string(ticks) + " count=" + std::to_string(bindings.len));
        for (UINT i = 0; i < bindings.len; ++i) Say("bind " + BindingText(bindings.list[i]));
        // The enterprise OID is the module's own storage; the bindings are ours.
        SnmpUtilVarBindListFree(&bindings);
    }
    Say("traps done");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: snmp MODULE_PATH\n");
        return 2;
    }
    std::string error;
    qv::test::ModuleHandle module = qv::test::LoadModule(argv[1], error);
    if (module == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", argv[1], error.c_str());
        return 2;
    }
    auto init = EntryPoint<InitFunction>(module, "SnmpExtensionInit");
    auto initEx = EntryPoint<InitExFunction>(module, "SnmpExtensionInitEx");
    auto query = EntryPoint<QueryFunction>(module, "SnmpExtensionQuery");
    auto trap = EntryPoint<TrapFunction>(module, "SnmpExtensionTrap");
    // Optional for an extension agent: the service calls it before it
    // unloads the agent when it is there.
    auto close = EntryPoint<CloseFunction>(module, "SnmpExtensionClose");
    if (init == nullptr || initEx == nullptr || query == nullptr || trap == nullptr) {
        std::fprintf(stderr, "entry points missing\n");
        return 2;
    }
    Say("loaded");

    HANDLE trapEvent = nullptr;
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream words(line);
        std::string command;
        words >> command;
        if (command == "init") {
            AsnObjectIdentifier view{0, nullptr};
            const BOOL result = init(::GetTickCount(), &trapEvent, &view);
            Say("init " + std::to_string(result) + " " + Dotted(view) + " event=" + (trapEvent ? "1" : "0"));
        } else if (command == "initex") {
            // A sentinel the module must leave alone once it has no view left.
            UINT sentinelIds[1] = {777};
            AsnObjectIdentifier view{1, sentinelIds};
            const BOOL result = initEx(&view);
            const bool untouched = view.ids == sentinelIds && view.idLength == 1 && sentinelIds[0] == 777;
            Say("initex " + std::to_string(result) + " " + (untouched ? std::string("untouched") : Dotted(view)));
        } else if (command == "trapwait") {
            DWORD milliseconds = 0;
            words >> milliseconds;
            const DWORD result = trapEvent ? ::WaitForSingleObject(trapEvent, milliseconds) : WAIT_FAILED;
            Say(std::string("trapwait ") + (result == WAIT_OBJECT_0 ? "signalled" : "timeout"));
        } else if (command == "get") {
            Say(Query(query, SNMP_PDU_GET, words));
        } else if (command == "getnext") {
            Say(Query(query, SNMP_PDU_GETNEXT, words));
        } else if (command == "set") {
            Say(Query(query, SNMP_PDU_SET, words));
        } else if (command == "stress") {
            Say(Stress(query, words));
        } else if (command == "traps") {
            Traps(trap);
        } else if (command == "thread") {
            std::thread([] {}).join();
            Say("thread");
        } else if (command == "close") {
            if (close == nullptr) {
                Say("noclose");
            } else {
                const auto start = std::chrono::steady_clock::now();
                close();
                Say("closed " + std::to_string(MillisecondsSince(start)));
            }
        } else if (command == "unload" || command == "freeonly") {
            if (command == "unload" && close != nullptr) close();
            const auto start = std::chrono::steady_clock::now();
            qv::test::UnloadModule(module);
            module = nullptr;
            Say(command == "unload" ? std::string("unloaded")
                                    : "freed " + std::to_string(MillisecondsSince(start)));
        } else if (command == "quit") {
            Say("bye");
            return 0;
        } else if (!command.empty()) {
            Say("unknown " + command);
        }
    }
    return 0;
}
