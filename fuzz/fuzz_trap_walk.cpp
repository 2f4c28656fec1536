// The trap walk over a hostile base ring; bindings are freed as the SNMP
// service frees them, so a leak shows up as one.
#include "agent/extension_agent.h"
#include "fuzz/fuzz_support.h"
#include "trap/trap_signal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool initialised = (::InitializeCriticalSection(&g_TrapCriticalSection), true);
    (void)initialised;
    qv::fuzz::Base().Fill(data, size);
    // A walk leaves the trap read index on the read index, so a second call
    // finds nothing; two calls show that.
    for (int call = 0; call < 2; ++call) {
        AsnObjectIdentifier enterprise{0, nullptr};
        AsnInteger32 generic = 0, specific = 0;
        AsnTimeticks stamp = 0;
        SnmpVarBindList bindings{nullptr, 0};
        const BOOL more = SnmpExtensionTrap(&enterprise, &generic, &specific, &stamp, &bindings);
        SnmpUtilVarBindListFree(&bindings);
        if (!more) break;
    }
    return 0;
}
