// The agent's ring operations on the session rings, addressed by session index
// through the regions registered in SnmpSharedMemory. A session index outside
// 0..15 or an unregistered region behaves like an empty (read side) or full
// (write side) ring.
#pragma once

#include <cstdint>

bool IsInputRingEmpty(int session);
bool IsOutputRingFull(int session);
bool ReadInputRing(int session, std::uint8_t* buffer);
bool WriteOutputRing(int session, const std::uint8_t* record);
void ResetInputReadIndex(int session);
void ResetOutputWriteIndex(int session);
