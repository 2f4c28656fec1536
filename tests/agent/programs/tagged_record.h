// Base-ring records tagged with (producer, sequence), and the check that one
// arrived whole: every byte of the record follows from the two numbers, so a
// torn or mixed-up record cannot pass.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "shm/shared_access.h"
#include "shm/wire.h"

namespace qv::test {

inline constexpr int kTaggedTextLength = 900;

// A trap record of application 39917.<producer>.1 whose text is
// "P<producer> S<sequence> " padded with a letter that changes per sequence.
inline void FillTaggedRecord(std::uint8_t* record, int producer, int sequence) {
    namespace field = qv::shm::record;
    std::memset(record, 0, qv::shm::kSlotSize);
    qv::shm::WriteU16(record + field::kTag, static_cast<std::uint16_t>(sequence & 0xFFFF));
    qv::shm::WriteU16(record + field::kPen, 39917);
    record[field::kAppId] = static_cast<std::uint8_t>(producer);
    record[field::kAppInst] = 1;
    record[field::kTrapMark] = field::kDeliverMark;
    record[field::kKind] = field::kTrap;
    record[field::kValueType] = qv::shm::kValueOctetString;
    char* text = reinterpret_cast<char*>(record + field::kValue);
    const int head = std::snprintf(text, 64, "P%d S%d ", producer, sequence);
    std::memset(text + head, 'a' + sequence % 26, static_cast<std::size_t>(kTaggedTextLength - head));
}

inline bool IsTaggedRecord(const std::uint8_t* record, int producer, int sequence) {
    std::uint8_t expected[qv::shm::kSlotSize];
    FillTaggedRecord(expected, producer, sequence);
    return std::memcmp(expected, record, sizeof expected) == 0;
}

}  // namespace qv::test
