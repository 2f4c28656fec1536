// Trap delivery: the trap records that applications post into the base ring,
// handed to the SNMP service as one enterprise-specific trap per call of
// SnmpExtensionTrap.
#pragma once

#include <cstdint>

#include "qv_snmp.h"

namespace qv::trap {

inline constexpr AsnInteger32 kGenericTrap = SNMP_GENERICTRAP_ENTERSPECIFIC;
inline constexpr AsnInteger32 kSpecificTrap = 1;

// Grows by one per record delivered and by one at the end of every walk;
// shown only in log lines.
std::int32_t TrapCounter();

// Trap time stamp for a tick count: hundredths of a second since the agent
// start tick, the difference taken on 32-bit unsigned values.
AsnTimeticks TrapTimeStamp(DWORD nowTick, DWORD startTick);

// SnmpExtensionTrap: walks the base ring from the trap read index up to the
// worker's read index and hands every deliverable trap record over as one
// binding. FALSE when there is nothing to send.
BOOL DeliverTraps(AsnObjectIdentifier* enterprise, AsnInteger32* genericTrap, AsnInteger32* specificTrap,
                  AsnTimeticks* timeStamp, SnmpVarBindList* bindings);

}  // namespace qv::trap
