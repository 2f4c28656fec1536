// The records an application writes into the base ring.
#pragma once

#include <cstdint>

#include "qvsnmp/base_ring.h"
#include "shm/wire.h"

namespace qvsnmp::detail {

inline constexpr std::size_t kRecordSize = qv::shm::kSlotSize;

// The bytes of records and messages are laid out in shm/wire.h.
namespace message = qv::shm::message;
namespace record = qv::shm::record;

using qv::shm::message::kReplyBadValue;
using qv::shm::message::kReplyGeneralError;
using qv::shm::message::kReplyNoSuchName;
using qv::shm::message::kReplyOk;
using qv::shm::message::kReplyReadOnly;

void FillConnectionRequest(std::uint8_t* record, const Identity& identity, std::uint16_t tag);
// False (record unspecified) when the suffix or the text does not fit.
bool FillTrapRecord(std::uint8_t* record, const Identity& identity, const Suffix& suffix, const Value& value,
                    std::uint16_t tag);

bool IsValidSubIdentifier(std::uint8_t id);

}  // namespace qvsnmp::detail
