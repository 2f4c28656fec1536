// Reading the trap records of the base ring, and the enterprise OIDs traps are
// sent under.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qv_snmp.h"
#include "shm/wire.h"

namespace qv::trap {

// The seven-element enterprise OID for a record's PEN: its own for 4127, 5113
// and 39917, 1.3.6.1.4.1.44821 for any other. Its sub-identifiers live in
// module storage and are never freed.
AsnObjectIdentifier EnterpriseOidFor(std::uint16_t pen);

// Binding-name suffix of a record: bytes from AppId on up to a zero byte, at
// most shm::record::kMaxSuffixBytes, each read as a signed 8-bit number. Returns the count.
UINT ReadSuffix(const std::uint8_t* record, UINT (&suffix)[shm::record::kMaxSuffixBytes]);

}  // namespace qv::trap
