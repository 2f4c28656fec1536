// Base-ring records tagged with (producer, sequence), and the check that one
// arrived whole: every byte of the record follows from the two numbers, so a
// torn or mixed-up record cannot pass.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace qv::test {

inline constexpr int kTaggedTextLength = 900;

// A trap record of application 39917.<producer>.1 whose text is
// "P<producer> S<sequence> " padded with a letter that changes per sequence.
inline void FillTaggedRecord(std::uint8_t* record, int producer, int sequence) {
    std::memset(record, 0, 1024);
    record[0] = static_cast<std::uint8_t>(sequence & 0xFF);
    record[1] = static_cast<std::uint8_t>((sequence >> 8) & 0xFF);
    record[2] = 39917 & 0xFF;
    record[3] = 39917 >> 8;
    record[4] = static_cast<std::uint8_t>(producer);
    record[5] = 1;
    record[6] = 1;
    record[34] = 2;
    record[38] = 4;
    char* text = reinterpret_cast<char*>(record + 40);
    const int head = std::snprintf(text, 64, "P%d S%d ", producer, sequence);
    std::memset(text + head, 'a' + sequence % 26, static_cast<std::size_t>(kTaggedTextLength - head));
}

inline bool IsTaggedRecord(const std::uint8_t* record, int producer, int sequence) {
    std::uint8_t expected[1024];
    FillTaggedRecord(expected, producer, sequence);
    return std::memcmp(expected, record, sizeof expected) == 0;
}

}  // namespace qv::test
