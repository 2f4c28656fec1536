#include "agent/extension_agent.h"

#include <cstdint>

#include "log/trace.h"
#include "query/query_dispatch.h"
#include "shm/session_sequence.h"
#include "shm/shared_access.h"
#include "shm/snmp_session.h"
#include "shm/snmp_shared_memory.h"
#include "shm/wire.h"
#include "trap/trap_delivery.h"
#include "trap/trap_signal.h"
#include "worker/worker_thread.h"

namespace qv::agent {
namespace {

// The registration OID 1.3.6.1.4.1.<PEN>. The service receives a reference to
// this array, which the next registration rewrites; it copies each view.
UINT g_registrationIds[7] = {1, 3, 6, 1, 4, 1, qv::shm::kServedPens[3]};
AsnObjectIdentifier g_registrationOid = {7, g_registrationIds};
signed char g_registeredViewCount = 0;

void RegisterView(AsnObjectIdentifier* view) {
    const int entry = g_registeredViewCount;
    ++g_registeredViewCount;
    g_registrationIds[6] = qv::shm::kServedPens[entry];
    if (view != nullptr) *view = g_registrationOid;
}

long long TraceNumber(DWORD error) { return static_cast<std::int32_t>(error); }

}  // namespace
}  // namespace qv::agent

BOOL WINAPI SnmpExtensionInit(DWORD /*timeZeroReference*/, HANDLE* trapEvent, AsnObjectIdentifier* firstView) {
    using namespace qv::agent;
    qv::trace::LocalTrace trace(qv::trace::kInitPath);
    trace.Line("Enter Init");
    // The service starts an agent once per load. A second start would index
    // past the four views and run a second worker over the same state, so it
    // is refused with nothing changed.
    if (g_registeredViewCount != 0) return FALSE;

    HANDLE event = qv::trap::CreateTrapEvent();
    if (event == nullptr) trace.Line("Failed to create event. GetLastError = ", TraceNumber(::GetLastError()));
    if (trapEvent != nullptr) *trapEvent = event;

    QVSNMP_COMBufferHeaderLine* base = SnmpSharedMemory::GetSharedMemoryBasePointer();
    if (base != nullptr) {
        qv::shm::StoreShared(base->serviceUp, std::uint8_t{1});
        trace.Line("Service up!");
    } else {
        trace.Line("g_pSharedMemory == NULL");
    }
    for (int i = 0; i < qv::shm::kSessionCount; ++i) {
        if (base != nullptr) qv::shm::ClearSessionRow(base, i);
    }
    qv::shm::ResetSequenceNumbers();

    // Everything the worker uses is in place before it starts.
    if (!qv::worker::StartServiceWorker()) {
        trace.Line("Failed to create thread. GetLastError = ", TraceNumber(::GetLastError()));
    }
    qv::trap::g_agentStartTick = ::GetTickCount();

    trace.LineUnsigned("SnmpExtensionInit: ", qv::shm::kServedPens[g_registeredViewCount]);
    RegisterView(firstView);
    trace.Line("Exit Init");
    return TRUE;
}

BOOL WINAPI SnmpExtensionInitEx(AsnObjectIdentifier* nextView) {
    using namespace qv::agent;
    qv::trace::LocalTrace trace(qv::trace::kInitPath);
    const int registered = g_registeredViewCount;
    if (registered <= 0 || registered >= qv::shm::kServedPenCount) return FALSE;
    trace.LineUnsigned("SnmpExtensionInitEx: ", qv::shm::kServedPens[registered]);
    RegisterView(nextView);
    return TRUE;
}

void WINAPI SnmpExtensionClose() {
    // The trap event, the log and the shared regions stay until the detach:
    // the service may still hold the event, and the detach's order (worker,
    // then logging, then the shared state) is kept by stopping only the worker
    // here.
    qv::worker::StopServiceWorker();
}

BOOL WINAPI SnmpExtensionQuery(BYTE pduType, SnmpVarBindList* bindings, AsnInteger32* errorStatus,
                               AsnInteger32* errorIndex) {
    return qv::query::DispatchQuery(pduType, bindings, errorStatus, errorIndex);
}

BOOL WINAPI SnmpExtensionTrap(AsnObjectIdentifier* enterprise, AsnInteger32* genericTrap, AsnInteger32* specificTrap,
                              AsnTimeticks* timeStamp, SnmpVarBindList* bindings) {
    return qv::trap::DeliverTraps(enterprise, genericTrap, specificTrap, timeStamp, bindings);
}
