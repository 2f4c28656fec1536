#include "shm/ring.h"

#include <cstring>

#include "shm/shared_access.h"

namespace qv::shm {
namespace {

RingControl* Control(void* region) { return static_cast<RingControl*>(region); }
const RingControl* Control(const void* region) { return static_cast<const RingControl*>(region); }

}  // namespace

int RingIndices::Count() const {
    if (!Valid()) return 0;
    const int difference = static_cast<int>(write) - static_cast<int>(read);
    return difference >= 0 ? difference : difference + kLastDataSlot;
}

RingIndices LoadRingIndices(const void* region) {
    const RingControl* control = Control(region);
    return RingIndices{LoadShared(control->readIndex), LoadShared(control->writeIndex)};
}

std::uint8_t* SlotAddress(void* region, std::uint16_t index) {
    return static_cast<std::uint8_t*>(region) + static_cast<std::size_t>(index) * kSlotSize;
}

const std::uint8_t* SlotAddress(const void* region, std::uint16_t index) {
    return static_cast<const std::uint8_t*>(region) + static_cast<std::size_t>(index) * kSlotSize;
}

// Broken indices. An index outside 1..1023 can only come from a faulty peer.
// The side that sees it does nothing it could regret: a reader finds the ring
// empty and a writer finds it full, so no slot is addressed through a bad
// index. A reader whose own read index is broken, while the writer's index is
// sound, puts its read index onto the write index: whatever lay between is
// lost, but the ring works again for the records that follow. A broken write
// index is the writer's to repair; until it does, the ring stays unusable.
bool RingIsEmpty(const void* region) {
    const RingIndices indices = LoadRingIndices(region);
    return !indices.Valid() || indices.Empty();
}

bool RingTake(void* region, std::uint8_t* record) {
    RingControl* control = Control(region);
    const RingIndices indices = LoadRingIndices(region);
    if (!IsValidIndex(indices.read) && IsValidIndex(indices.write)) {
        StoreShared(control->readIndex, indices.write);
        return false;
    }
    if (!indices.Valid() || indices.Empty()) return false;
    // SYNC POINT: the acquire load of the write index above happened before
    // this copy, so the writer's fill of the slot is visible; the slot is
    // copied out whole before the store below frees it for the writer.
    std::memcpy(record, SlotAddress(region, indices.read), kSlotSize);
    StoreShared(control->readIndex, NextIndex(indices.read));
    return true;
}

bool RingIsFull(const void* region) {
    const RingIndices indices = LoadRingIndices(region);
    return !indices.Valid() || indices.Full();
}

bool RingAppend(void* region, const std::uint8_t* record) {
    RingControl* control = Control(region);
    const RingIndices indices = LoadRingIndices(region);
    if (!indices.Valid() || indices.Full()) return false;
    // SYNC POINT: the slot is filled completely before the release store of
    // the write index publishes it; a reader never sees a half-written record.
    std::memcpy(SlotAddress(region, indices.write), record, kSlotSize);
    StoreShared(control->writeIndex, NextIndex(indices.write));
    return true;
}

void RingResetReadIndex(void* region) { StoreShared(Control(region)->readIndex, kFirstDataSlot); }

void RingResetWriteIndex(void* region) { StoreShared(Control(region)->writeIndex, kFirstDataSlot); }

}  // namespace qv::shm
