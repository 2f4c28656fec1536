// A stand-in for the SNMP service, for tests: its executable is named `snmp`,
// so the module it loads plays the agent. It loads the module the way the
// service does (load the library, look the entry points up by name) and then
// follows one command per line on standard input, answering on standard
// output:
//   init                 SnmpExtensionInit; prints "init <result> <view>"
//   initex               SnmpExtensionInitEx; prints "initex <result> <view|untouched>"
//   trapwait <ms>        waits on the trap event; prints "trapwait signalled|timeout"
//   unload               unloads the module; prints "unloaded"
//   quit                 prints "bye" and exits (the process exit detaches)
#include <dlfcn.h>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

#include "qv_snmp.h"

namespace {

using InitFunction = BOOL (*)(DWORD, HANDLE*, AsnObjectIdentifier*);
using InitExFunction = BOOL (*)(AsnObjectIdentifier*);

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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: snmp MODULE_PATH\n");
        return 2;
    }
    void* module = ::dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", argv[1], ::dlerror());
        return 2;
    }
    auto init = reinterpret_cast<InitFunction>(::dlsym(module, "SnmpExtensionInit"));
    auto initEx = reinterpret_cast<InitExFunction>(::dlsym(module, "SnmpExtensionInitEx"));
    if (init == nullptr || initEx == nullptr) {
        std::fprintf(stderr, "entry points missing\n");
        return 2;
    }
    Say("loaded");

    HANDLE trapEvent = nullptr;
    std::string line;
    while (std::getline(std::cin, line)) {
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
        } else if (command == "unload") {
            ::dlclose(module);
            module = nullptr;
            Say("unloaded");
        } else if (command == "quit") {
            Say("bye");
            return 0;
        } else if (!command.empty()) {
            Say("unknown " + command);
        }
    }
    return 0;
}
