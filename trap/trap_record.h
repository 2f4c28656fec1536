// The trap record of the base ring and the enterprise OIDs traps are sent under.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qv_snmp.h"

namespace qv::trap {

namespace record {
inline constexpr std::size_t kPen = 2;          // u16
inline constexpr std::size_t kSuffix = 4;       // AppId, AppInst, trap mark, further bytes
inline constexpr std::size_t kTrapMark = 6;
inline constexpr std::size_t kKind = 34;
inline constexpr std::size_t kValueType = 38;
inline constexpr std::size_t kValue = 40;       // i32, or text up to its zero byte
inline constexpr std::size_t kMaxSuffixBytes = 64;
inline constexpr std::uint8_t kTrapKind = 2;
inline constexpr std::uint8_t kDeliverMark = 1;
}  // namespace record

// The seven-element enterprise OID for a record's PEN: its own for 4127, 5113
// and 39917, 1.3.6.1.4.1.44821 for any other. Its sub-identifiers live in
// module storage and are never freed.
AsnObjectIdentifier EnterpriseOidFor(std::uint16_t pen);

// Binding-name suffix of a record: bytes from offset 4 up to a zero byte, at
// most 64, each read as a signed 8-bit number. Returns the count.
UINT ReadSuffix(const std::uint8_t* record, UINT (&suffix)[record::kMaxSuffixBytes]);

}  // namespace qv::trap
