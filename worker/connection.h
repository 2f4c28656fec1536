// Opening a session for an application's connection request.
#pragma once

#include <cstdint>

// Lowest slot whose PEN, AppId, AppInst and state are all zero, or -1 when
// there is none or no base region.
std::int8_t FindFreeSessionSlot();

// Gives the requesting application a slot, creates or opens the slot's IN and
// OUT regions, empties both rings and enters the identity (state 1) last.
void ProcessConnectionRequest(const std::uint8_t* record);
