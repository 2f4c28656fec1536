// Base-ring trap records tagged with (producer, sequence): every byte follows
// from the two numbers, so a torn or mixed-up record cannot pass for one.
#pragma once

#include <cstdio>
#include <cstring>

namespace qv::test {

// Application 39917.<producer>.1, text "P<producer> S<sequence> " padded with a letter per sequence.
inline void FillTaggedRecord(std::uint8_t* record, int producer, int sequence) {
    std::memset(record, 0, 1024);
    const std::uint8_t head[] = {static_cast<std::uint8_t>(sequence), static_cast<std::uint8_t>(sequence >> 8), 0xED, 0x9B,
                                 static_cast<std::uint8_t>(producer), 1, 1};
    std::memcpy(record, head, sizeof head);
    record[34] = 2, record[38] = 4;
    const int length = std::snprintf(reinterpret_cast<char*>(record + 40), 64, "P%d S%d ", producer, sequence);
    std::memset(record + 40 + length, 'a' + sequence % 26, static_cast<std::size_t>(900 - length));
}

inline bool IsTaggedRecord(const std::uint8_t* record, int producer, int sequence) {
    std::uint8_t expected[1024];
    FillTaggedRecord(expected, producer, sequence);
    return std::memcmp(expected, record, sizeof expected) == 0;
}

}  // namespace qv::test
