// The ring discipline shared by the base ring and every IN and OUT ring.
//
// A ring is a view over a region that someone else mapped: these functions
// never map anything, they take the region's address. They depend on nothing
// but the wire layout, so applications (the SDK) build them as they are. The control slot holds
// the read index at byte 0 and the write index at byte 2 (the base-region
// header starts the same way). Each index is loaded once per decision, and a
// value outside 1..1023 — which only a faulty peer can write — never leads to
// an access outside the region (see ring.cpp for what happens instead).
#pragma once

#include <cstdint>

#include "shm/wire.h"

namespace qv::shm {

constexpr std::uint16_t NextIndex(std::uint16_t index) {
    return index >= kLastDataSlot ? kFirstDataSlot : static_cast<std::uint16_t>(index + 1);
}

constexpr bool IsValidIndex(std::uint16_t index) {
    return index >= kFirstDataSlot && index <= kLastDataSlot;
}

// Snapshot of both indices, taken with one load each.
struct RingIndices {
    std::uint16_t read;
    std::uint16_t write;

    bool Valid() const { return IsValidIndex(read) && IsValidIndex(write); }
    bool Empty() const { return read == write; }
    bool Full() const { return read == NextIndex(write); }
    // Records waiting between the two indices (0 for a broken pair).
    int Count() const;
};

RingIndices LoadRingIndices(const void* region);

// Reader side.
bool RingIsEmpty(const void* region);
// Copies the record at the read index out, then frees its slot. False, with
// `record` untouched, when there is nothing to take.
bool RingTake(void* region, std::uint8_t* record);

// Writer side.
bool RingIsFull(const void* region);
// Fills the slot at the write index, then publishes it. False, with the ring
// unchanged, when the ring is full.
bool RingAppend(void* region, const std::uint8_t* record);

void RingResetReadIndex(void* region);
void RingResetWriteIndex(void* region);

// Address of data slot `index` (1..1023) of a region.
std::uint8_t* SlotAddress(void* region, std::uint16_t index);
const std::uint8_t* SlotAddress(const void* region, std::uint16_t index);

}  // namespace qv::shm
