// The query-path benchmark driver. Its executable is named `snmp`, so the
// module it loads plays the agent; it calls SnmpExtensionQuery directly, with
// no network or host in between, the way the SNMP service would:
//
//   snmp MODULE PEN APPID APPINST COUNT
//
// It waits until the application PEN.APPID.APPINST answers a GET of its
// variable .1, then times COUNT GETs of .1, COUNT GETNEXTs from .1 and COUNT
// SETs of .1 (an integer), one binding per call, and prints one line per call:
// "get|getnext|set <microseconds> <error status>". The trap event is never
// waited on: trap records pile up unwalked, which this driver does not use.
#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "qv_snmp.h"

namespace {

using InitFunction = BOOL (*)(DWORD, HANDLE*, AsnObjectIdentifier*);
using InitExFunction = BOOL (*)(AsnObjectIdentifier*);
using QueryFunction = BOOL (*)(BYTE, SnmpVarBindList*, AsnInteger32*, AsnInteger32*);
using Clock = std::chrono::steady_clock;

struct Outcome {
    double microseconds = 0;
    AsnInteger32 status = -1;
};

// One request of one binding, made and freed the way the SNMP service does;
// only the SnmpExtensionQuery call itself is timed.
Outcome Query(QueryFunction query, BYTE pduType, const std::vector<UINT>& name, AsnInteger32 setValue) {
    SnmpVarBindList list{static_cast<SnmpVarBind*>(SnmpUtilMemAlloc(sizeof(SnmpVarBind))), 1};
    AsnObjectIdentifier source{static_cast<UINT>(name.size()), const_cast<UINT*>(name.data())};
    SnmpUtilOidCpy(&list.list[0].name, &source);
    list.list[0].value.asnType = ASN_NULL;
    if (pduType == SNMP_PDU_SET) {
        list.list[0].value.asnType = ASN_INTEGER;
        list.list[0].value.asnValue.number = setValue;
    }
    AsnInteger32 status = -1;
    AsnInteger32 index = -1;
    const auto began = Clock::now();
    query(pduType, &list, &status, &index);
    const auto took = Clock::now() - began;
    SnmpUtilVarBindListFree(&list);
    return Outcome{std::chrono::duration<double, std::micro>(took).count(), status};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: snmp MODULE PEN APPID APPINST COUNT\n");
        return 2;
    }
    void* module = ::dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", argv[1], ::dlerror());
        return 2;
    }
    auto init = reinterpret_cast<InitFunction>(::dlsym(module, "SnmpExtensionInit"));
    auto initEx = reinterpret_cast<InitExFunction>(::dlsym(module, "SnmpExtensionInitEx"));
    auto query = reinterpret_cast<QueryFunction>(::dlsym(module, "SnmpExtensionQuery"));
    if (init == nullptr || initEx == nullptr || query == nullptr) {
        std::fprintf(stderr, "entry points missing\n");
        return 2;
    }
    HANDLE trapEvent = nullptr;
    AsnObjectIdentifier view{0, nullptr};
    if (!init(::GetTickCount(), &trapEvent, &view)) return 1;
    while (initEx(&view)) {
    }

    const std::vector<UINT> variable{1, 3, 6, 1, 4, 1, static_cast<UINT>(std::stoul(argv[2])),
                                     static_cast<UINT>(std::stoul(argv[3])), static_cast<UINT>(std::stoul(argv[4])), 1};
    const int count = std::stoi(argv[5]);

    // The application connects within a few worker passes of our start.
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Query(query, SNMP_PDU_GET, variable, 0).status != 0) {
        if (Clock::now() > deadline) {
            std::fprintf(stderr, "the application did not come up\n");
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::printf("ready\n");

    struct Kind {
        const char* label;
        BYTE pduType;
    };
    for (const Kind kind : {Kind{"get", SNMP_PDU_GET}, Kind{"getnext", SNMP_PDU_GETNEXT}, Kind{"set", SNMP_PDU_SET}}) {
        for (int i = 0; i < count; ++i) {
            const Outcome outcome = Query(query, kind.pduType, variable, i);
            std::printf("%s %.1f %d\n", kind.label, outcome.microseconds, static_cast<int>(outcome.status));
        }
        std::fflush(stdout);
    }
    return 0;
}
