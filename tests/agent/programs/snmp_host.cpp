// A stand-in for the SNMP service, for tests: its executable is named `snmp`
// (snmp.exe on Windows), so the module it loads plays the agent. It loads the
// module as the service does (library by path, entry points by name) and then
// follows one command per line on standard input, answering on standard output:
//   init                 SnmpExtensionInit: "init <result> <view> event=0|1"
//   initex               SnmpExtensionInitEx: "initex <result> <view|untouched>"
//   trapwait MS          waits on the trap event: "trapwait signalled|timeout"
//   get|getnext OID      one binding: "status=S index=I name=N type=T value=V"
//   set OID int|str V    the same for SET
//   traps                SnmpExtensionTrap until FALSE: per trap "trap enterprise=E
//                        generic=G specific=S ticks=T count=N" and its "bind name=N
//                        type=T value=V" lines, then "traps done"
//   close                SnmpExtensionClose: "closed <ms>"
//   unload               unloads the module: "unloaded <ms>"
//   quit                 "bye", then exits (the process exit detaches)
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "module_loader.h"
#include "qv_snmp.h"

namespace {

using InitFunction = BOOL(WINAPI*)(DWORD, HANDLE*, AsnObjectIdentifier*);
using InitExFunction = BOOL(WINAPI*)(AsnObjectIdentifier*);
using QueryFunction = BOOL(WINAPI*)(BYTE, SnmpVarBindList*, AsnInteger32*, AsnInteger32*);
using TrapFunction = BOOL(WINAPI*)(AsnObjectIdentifier*, AsnInteger32*, AsnInteger32*, AsnTimeticks*, SnmpVarBindList*);
using CloseFunction = void(WINAPI*)();

void Say(const std::string& line) { std::cout << line << std::endl; }

std::string Dotted(const AsnObjectIdentifier& oid) {
    std::string text;
    for (UINT i = 0; i < oid.idLength; ++i) text += (i > 0 ? "." : "") + std::to_string(oid.ids[i]);
    return text;
}

std::string BindingText(const SnmpVarBind& binding) {
    const AsnAny& value = binding.value;
    std::string text = "-";
    if (value.asnType == ASN_INTEGER) text = std::to_string(value.asnValue.number);
    if (value.asnType == ASN_OCTETSTRING) {
        text = "\"" + std::string(reinterpret_cast<const char*>(value.asnValue.string.stream), value.asnValue.string.length) + "\"";
    }
    return "name=" + Dotted(binding.name) + " type=" + std::to_string(value.asnType) + " value=" + text;
}

// One request of one binding, made and freed the way the SNMP service does.
std::string Query(QueryFunction query, BYTE pduType, std::istringstream& words) {
    std::string oid, type, value, part;
    words >> oid >> type >> std::ws;
    std::getline(words, value);
    std::vector<UINT> ids;
    for (std::istringstream parts(oid); std::getline(parts, part, '.');) ids.push_back(static_cast<UINT>(std::stoul(part)));
    AsnObjectIdentifier name{static_cast<UINT>(ids.size()), ids.data()};
    SnmpVarBindList list{static_cast<SnmpVarBind*>(SnmpUtilMemAlloc(sizeof(SnmpVarBind))), 1};
    SnmpUtilOidCpy(&list.list[0].name, &name);
    AsnAny& any = list.list[0].value;
    any.asnType = ASN_NULL;
    if (type == "int") {
        any.asnType = ASN_INTEGER;
        any.asnValue.number = std::stoi(value);
    } else if (type == "str") {
        any.asnType = ASN_OCTETSTRING;
        any.asnValue.string = {static_cast<BYTE*>(SnmpUtilMemAlloc(static_cast<UINT>(value.size() + 1))),
                               static_cast<UINT>(value.size()), TRUE};
        std::memcpy(any.asnValue.string.stream, value.data(), value.size());
    }
    AsnInteger32 status = -1;
    AsnInteger32 index = -1;
    query(pduType, &list, &status, &index);
    const std::string answer = "status=" + std::to_string(status) + " index=" + std::to_string(index) + " " + BindingText(list.list[0]);
    SnmpUtilVarBindListFree(&list);
    return answer;
}

void Traps(TrapFunction trap) {
    AsnObjectIdentifier enterprise{0, nullptr};
    AsnInteger32 generic = -1;
    AsnInteger32 specific = -1;
    AsnTimeticks ticks = 0;
    SnmpVarBindList bindings{nullptr, 0};
    while (trap(&enterprise, &generic, &specific, &ticks, &bindings)) {
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
    std::string error;
    qv::test::ModuleHandle module = argc < 2 ? nullptr : qv::test::LoadModule(argv[1], error);
    if (module == nullptr) {
        std::fprintf(stderr, "usage: snmp MODULE_PATH (%s)\n", error.c_str());
        return 2;
    }
    auto entry = [&](const char* name) { return qv::test::FindEntryPoint(module, name); };
    auto init = reinterpret_cast<InitFunction>(entry("SnmpExtensionInit"));
    auto initEx = reinterpret_cast<InitExFunction>(entry("SnmpExtensionInitEx"));
    auto query = reinterpret_cast<QueryFunction>(entry("SnmpExtensionQuery"));
    auto trap = reinterpret_cast<TrapFunction>(entry("SnmpExtensionTrap"));
    auto close = reinterpret_cast<CloseFunction>(entry("SnmpExtensionClose"));
    if (init == nullptr || initEx == nullptr || query == nullptr || trap == nullptr || close == nullptr) {
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
        const auto start = std::chrono::steady_clock::now();
        auto took = [&] {
            return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
        };
        if (command == "init") {
            AsnObjectIdentifier view{0, nullptr};
            const BOOL result = init(::GetTickCount(), &trapEvent, &view);
            Say("init " + std::to_string(result) + " " + Dotted(view) + " event=" + (trapEvent ? "1" : "0"));
        } else if (command == "initex") {
            // A sentinel the module must leave alone once it has no view left.
            UINT sentinel[1] = {777};
            AsnObjectIdentifier view{1, sentinel};
            const BOOL result = initEx(&view);
            const bool untouched = view.ids == sentinel && view.idLength == 1 && sentinel[0] == 777;
            Say("initex " + std::to_string(result) + " " + (untouched ? std::string("untouched") : Dotted(view)));
        } else if (command == "trapwait") {
            DWORD milliseconds = 0;
            words >> milliseconds;
            const bool signalled = trapEvent && ::WaitForSingleObject(trapEvent, milliseconds) == WAIT_OBJECT_0;
            Say(std::string("trapwait ") + (signalled ? "signalled" : "timeout"));
        } else if (command == "get" || command == "getnext" || command == "set") {
            Say(Query(query, command == "get" ? SNMP_PDU_GET : command == "set" ? SNMP_PDU_SET : SNMP_PDU_GETNEXT, words));
        } else if (command == "traps") {
            Traps(trap);
        } else if (command == "close") {
            close();
            Say("closed " + took());
        } else if (command == "unload") {
            qv::test::UnloadModule(module);
            Say("unloaded " + took());
        } else if (command == "quit") {
            Say("bye");
            return 0;
        } else if (!command.empty()) {
            Say("unknown " + command);
        }
    }
    return 0;
}
