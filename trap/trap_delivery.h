// Trap delivery: the trap records that applications post into the base ring,
// handed to the SNMP service as one enterprise-specific trap per call of
// SnmpExtensionTrap (declared with the other entry points).
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

}  // namespace qv::trap
