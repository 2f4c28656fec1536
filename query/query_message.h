// The 1024-byte query message: a request travels agent -> application in the
// session's OUT ring, the reply comes back in its IN ring. Little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "qv_snmp.h"
#include "shm/layout.h"

namespace qv::query {

using Message = std::array<std::uint8_t, shm::kSlotSize>;

namespace message {
inline constexpr std::size_t kSequence = 0;     // u16
inline constexpr std::size_t kPen = 2;          // u16
inline constexpr std::size_t kTail = 4;         // OID tail bytes, zero-terminated
inline constexpr std::size_t kTailSize = 24;
inline constexpr std::size_t kOperation = 34;
inline constexpr std::size_t kStatus = 35;      // reply status code
inline constexpr std::size_t kValueLength = 36; // u16
inline constexpr std::size_t kValueType = 38;
inline constexpr std::size_t kValueAttribute = 39;
inline constexpr std::size_t kValue = 40;
inline constexpr std::size_t kValueSize = 960;  // bytes 40..999
inline constexpr std::size_t kMarker1 = 1000;
inline constexpr std::size_t kMarker2 = 1001;
// GETNEXT replies may carry up to 32 tail bytes (offsets 4..35).
inline constexpr std::size_t kReplyTailSize = 32;
// A SET octet string is followed by its zero byte inside the value field.
inline constexpr std::size_t kMaxSetStringLength = kValueSize - 1;
}  // namespace message

enum class Operation : std::uint8_t { Get = 3, GetNext = 5, Set = 7 };

// The reply status an application gives for success.
inline constexpr std::uint8_t kReplyOk = 2;

// Blank request: everything zero except the value attribute 3. The bytes the
// protocol calls not significant are zeroed too, so no stale agent memory
// ever reaches another process.
void BuildBlankRequest(Message& request);

// Sub-identifiers 7 to the last, low 8 bits each, then a zero byte. The caller
// has checked that there are at most 24 of them.
void WriteOidTail(Message& request, const AsnObjectIdentifier& oid);

// Header of a request ready to send: sequence number, PEN, operation, markers,
// and for GET and GETNEXT the value byte 1.
void StampRequest(Message& request, std::uint16_t sequence, std::uint16_t pen, Operation operation);

std::uint16_t SequenceOf(const Message& message);

// SNMP error status for a reply status code.
AsnInteger32 MapReplyStatus(std::uint8_t code);

}  // namespace qv::query
