// One reading of the shared memory, as qvsnmpctl reports it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace qvsnmpctl {

struct RingFill {
    std::uint16_t read = 0;
    std::uint16_t write = 0;
    int count = 0;       // records waiting between the indices
    bool valid = false;  // both indices within 1..1023
};

struct SessionRow {
    int slot = 0;
    std::uint8_t state = 0;
    std::uint16_t pen = 0;
    std::int8_t appId = 0;
    std::int8_t appInst = 0;
    std::uint16_t keepAlive = 0;
    std::optional<RingFill> in;   // when the slot's IN region exists
    std::optional<RingFill> out;  // when the slot's OUT region exists

    bool InUse() const { return state != 0 || pen != 0 || appId != 0 || appInst != 0 || in || out; }
};

struct Snapshot {
    std::uint8_t serviceUp = 0;
    std::array<std::uint8_t, 6> heartbeatDigits{};
    std::int64_t heartbeatSeconds = 0;
    double now = 0;  // SnmpTime::GetTime when the snapshot was taken
    RingFill base;
    std::uint16_t trapRead = 0;
    std::array<SessionRow, 16> sessions;
};

// False when the base region does not exist.
bool TakeSnapshot(Snapshot* snapshot);

}  // namespace qvsnmpctl
