// The SNMP service's entry points into the agent.
#pragma once

#include "qv_snmp.h"
#include "shm/qvsnmp_export.h"

QVSNMP_EXTERN_C BOOL WINAPI SnmpExtensionInit(DWORD timeZeroReference, HANDLE* trapEvent,
                                              AsnObjectIdentifier* firstView);
QVSNMP_EXTERN_C BOOL WINAPI SnmpExtensionInitEx(AsnObjectIdentifier* nextView);
QVSNMP_EXTERN_C BOOL WINAPI SnmpExtensionQuery(BYTE pduType, SnmpVarBindList* bindings, AsnInteger32* errorStatus,
                                               AsnInteger32* errorIndex);
QVSNMP_EXTERN_C BOOL WINAPI SnmpExtensionTrap(AsnObjectIdentifier* enterprise, AsnInteger32* genericTrap,
                                              AsnInteger32* specificTrap, AsnTimeticks* timeStamp,
                                              SnmpVarBindList* bindings);
// Called by the service before it unloads the agent. Stops the service worker
// here, on the service's thread and outside the loader lock, where the worker
// can end at once; the detach that follows finds it stopped.
QVSNMP_EXTERN_C void WINAPI SnmpExtensionClose();
