// The 1024-byte records and messages an application writes, byte for byte.
#pragma once

#include <cstdint>

#include "qvsnmp/base_ring.h"

namespace qvsnmp::detail {

inline constexpr std::size_t kRecordSize = 1024;

// Query and reply message fields (session rings).
namespace message {
inline constexpr std::size_t kSequence = 0;      // u16
inline constexpr std::size_t kPen = 2;           // u16
inline constexpr std::size_t kTail = 4;          // OID tail, one byte each, zero-ended
inline constexpr std::size_t kTailSize = 24;     // tail bytes that fit before offset 28
inline constexpr std::size_t kOperation = 34;
inline constexpr std::size_t kStatus = 35;
inline constexpr std::size_t kValueLength = 36;  // u16, SET requests
inline constexpr std::size_t kValueType = 38;
inline constexpr std::size_t kValue = 40;
inline constexpr std::size_t kMaxText = 959;     // text plus its zero byte end at 999
inline constexpr std::uint8_t kGet = 3;
inline constexpr std::uint8_t kGetNext = 5;
inline constexpr std::uint8_t kSet = 7;
inline constexpr std::uint8_t kTimeOutNotice = 10;
}  // namespace message

// Reply status codes.
inline constexpr std::uint8_t kReplyOk = 2;
inline constexpr std::uint8_t kReplyGeneralError = 3;
inline constexpr std::uint8_t kReplyNoSuchName = 4;
inline constexpr std::uint8_t kReplyReadOnly = 5;
inline constexpr std::uint8_t kReplyBadValue = 6;

// Base-ring record fields.
namespace record {
inline constexpr std::size_t kTag = 0;  // u16, free for the sender
inline constexpr std::size_t kPen = 2;
inline constexpr std::size_t kAppId = 4;
inline constexpr std::size_t kAppInst = 5;
inline constexpr std::size_t kTrapMark = 6;
inline constexpr std::size_t kTrapSuffix = 7;  // up to offset 32, zero-ended by 33
inline constexpr std::size_t kKind = 34;
inline constexpr std::size_t kValueType = 38;
inline constexpr std::size_t kValue = 40;
inline constexpr std::uint8_t kConnectionRequest = 1;
inline constexpr std::uint8_t kTrap = 2;
}  // namespace record

void FillConnectionRequest(std::uint8_t* record, const Identity& identity, std::uint16_t tag);
// False (record unspecified) when the suffix or the text does not fit.
bool FillTrapRecord(std::uint8_t* record, const Identity& identity, const Suffix& suffix, const Value& value,
                    std::uint16_t tag);

bool IsValidSubIdentifier(std::uint8_t id);

}  // namespace qvsnmp::detail
