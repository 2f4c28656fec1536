// Building and reading the query message: a request travels agent ->
// application in the session's OUT ring, the reply comes back in its IN ring.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "qv_snmp.h"
#include "shm/wire.h"

namespace qv::query {

using Message = std::array<std::uint8_t, shm::kSlotSize>;

// The message's bytes are laid out in shm/wire.h.
namespace message = shm::message;

enum class Operation : std::uint8_t { Get = message::kGet, GetNext = message::kGetNext, Set = message::kSet };

// Blank request: everything zero except the value attribute. The bytes the
// protocol calls not significant are zeroed too, so no stale agent memory
// ever reaches another process.
void BuildBlankRequest(Message& request);

// Sub-identifiers 7 to the last, low 8 bits each, then a zero byte. The caller
// has checked that there are at most message::kTailSize of them.
void WriteOidTail(Message& request, const AsnObjectIdentifier& oid);

// Header of a request ready to send: sequence number, PEN, operation, markers,
// and for GET and GETNEXT the request value byte.
void StampRequest(Message& request, std::uint16_t sequence, std::uint16_t pen, Operation operation);

std::uint16_t SequenceOf(const Message& message);

// SNMP error status for a reply status code.
AsnInteger32 MapReplyStatus(std::uint8_t code);

}  // namespace qv::query
