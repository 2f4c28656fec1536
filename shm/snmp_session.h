// Session-table exports: find a session by identity, release a row.
#pragma once

#include <cstdint>

#include "shm/wire.h"
#include "shm/qvsnmp_export.h"

namespace SnmpSession {

// Index 0..15 of the first occupied row (state not 0) holding this identity,
// or -1 (also when no base region is registered).
QVSNMP_API int GetCurrentSnmpSessionId(std::uint16_t pen, std::int8_t appId, std::int8_t appInst);

// Clears row `index` (0..15); does nothing without a base region or for
// another index. The session's regions and registered views stay as they are.
QVSNMP_API void FreeSessionId(std::int8_t index);

}  // namespace SnmpSession

namespace qv::shm {

// Clears one row of the session table in the order applications rely on:
// PEN, AppId, AppInst, session state, keep-alive counter.
void ClearSessionRow(QVSNMP_COMBufferHeaderLine* base, int index);

// One row copied out of shared memory, each field loaded once.
struct SessionRow {
    std::uint8_t state;
    std::uint16_t pen;
    std::int8_t appId;
    std::int8_t appInst;
    std::uint16_t keepAlive;
};
SessionRow LoadSessionRow(const QVSNMP_COMBufferHeaderLine* base, int index);

}  // namespace qv::shm
