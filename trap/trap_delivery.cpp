#include "trap/trap_delivery.h"

#include <cstdio>
#include <cstring>

#include "log/snmp_log.h"
#include "shm/wire.h"
#include "shm/ring.h"
#include "shm/shared_access.h"
#include "shm/snmp_shared_memory.h"
#include "shm/snmp_time.h"
#include "trap/trap_record.h"
#include "trap/trap_signal.h"

namespace qv::trap {
namespace {

// Only the trap walk changes it, under the trap lock.
std::int32_t g_trapCounter = 0;

void Log(const char* text) { SnmpLog::LogMessage(CString(text), LOG_CODE_INFO); }

// Slots near the ring's wrap are logged; the others would flood the log.
bool IsLoggedSlot(std::uint16_t slot) { return static_cast<std::uint16_t>(slot - 20) > 980; }

// Text of a type 4 record: the value bytes up to the zero byte. A
// record whose zero byte is missing was cut off by its writer; its text is
// taken up to the end of the slot rather than dropping the trap,
// since a trap has no way to report an error to anyone.
UINT TextLength(const std::uint8_t* slotCopy) {
    const std::uint8_t* text = slotCopy + shm::record::kValue;
    const std::size_t room = shm::record::kValueSize;
    const void* end = std::memchr(text, 0, room);
    return static_cast<UINT>(end != nullptr ? static_cast<const std::uint8_t*>(end) - text : room);
}

void BuildBinding(const std::uint8_t* slotCopy, std::uint16_t slot, AsnObjectIdentifier enterprise,
                  SnmpVarBind& binding) {
    const BYTE type = slotCopy[shm::record::kValueType];
    // Another value type still takes its place in the list, as allocated:
    // empty name, type 0.
    if (type != ASN_INTEGER && type != ASN_OCTETSTRING) return;

    UINT suffixIds[shm::record::kMaxSuffixBytes];
    AsnObjectIdentifier suffix = {ReadSuffix(slotCopy, suffixIds), suffixIds};
    // A failed copy or append leaves a shorter name; whatever was allocated
    // belongs to the binding, which the service frees.
    if (SnmpUtilOidCpy(&binding.name, &enterprise)) SnmpUtilOidAppend(&binding.name, &suffix);

    if (type == ASN_INTEGER) {
        binding.value.asnType = ASN_INTEGER;
        binding.value.asnValue.number = shm::ReadI32(slotCopy + shm::record::kValue);
        return;
    }
    const UINT length = TextLength(slotCopy);
    const char* text = reinterpret_cast<const char*>(slotCopy + shm::record::kValue);
    if (IsLoggedSlot(slot)) {
        char line[1100];
        std::snprintf(line, sizeof line, "Sending Trap. l:%d, msg:%.*s", static_cast<int>(length),
                      static_cast<int>(length), text);
        Log(line);
    }
    auto* stream = static_cast<BYTE*>(SnmpUtilMemAlloc(length));
    // Without its block the value stays empty rather than pointing nowhere.
    if (stream == nullptr && length != 0) return;
    if (length != 0) std::memcpy(stream, text, length);
    binding.value.asnType = ASN_OCTETSTRING;
    binding.value.asnValue.string = AsnOctetString{stream, length, TRUE};
}

}  // namespace

std::int32_t TrapCounter() { return g_trapCounter; }

AsnTimeticks TrapTimeStamp(DWORD nowTick, DWORD startTick) {
    // GetTickCount counts milliseconds; SNMP TimeTicks count hundredths of a
    // second, and a manager shows the value as such. Handing over the raw
    // difference would make every trap appear ten times older than it is.
    const DWORD elapsedMs = nowTick - startTick;
    return static_cast<AsnTimeticks>(elapsedMs / 10);
}

}  // namespace qv::trap

BOOL qv::trap::DeliverTraps(AsnObjectIdentifier* enterprise, AsnInteger32* genericTrap, AsnInteger32* specificTrap,
                            AsnTimeticks* timeStamp, SnmpVarBindList* bindings) {
    using namespace qv;
    QVSNMP_COMBufferHeaderLine* base = SnmpSharedMemory::GetSharedMemoryBasePointer();
    if (base == nullptr || enterprise == nullptr || genericTrap == nullptr || specificTrap == nullptr ||
        timeStamp == nullptr || bindings == nullptr) {
        return FALSE;
    }

    // The worker moves its read index at any time without the trap lock, so
    // it is read once here and that value bounds the whole walk.
    const std::uint16_t readIndex = shm::LoadShared(base->readIndex);
    const std::uint16_t trapReadIndex = shm::LoadShared(base->trapReadIndex);
    // Indices outside 1..1023 come only from a faulty application writing
    // into the header. With a broken read index there is nothing we can walk
    // safely; a broken trap read index is put onto the read index, dropping
    // the backlog as for a lapped reader.
    if (!shm::IsValidIndex(readIndex)) return FALSE;
    if (!shm::IsValidIndex(trapReadIndex)) {
        shm::StoreShared(base->trapReadIndex, readIndex);
        return FALSE;
    }
    if (trapReadIndex == readIndex) return FALSE;
    if (trapReadIndex == shm::NextIndex(readIndex)) {
        // The worker has gone a whole turn past us: what lay between may
        // already be overwritten, so none of it is sent.
        shm::StoreShared(base->trapReadIndex, readIndex);
        return FALSE;
    }

    ::EnterCriticalSection(&g_TrapCriticalSection);
    bindings->len = 0;
    int span = static_cast<int>(readIndex) - static_cast<int>(trapReadIndex);
    if (span < 0) span += static_cast<int>(shm::kSlotCount);
    const auto capacity = static_cast<UINT>(span);
    auto* list = static_cast<SnmpVarBind*>(SnmpUtilMemAlloc(capacity * static_cast<UINT>(sizeof(SnmpVarBind))));
    bindings->list = list;
    if (list == nullptr) {
        ::LeaveCriticalSection(&g_TrapCriticalSection);
        return FALSE;
    }

    // The walk covers W - R slots (mod 1023), never more than the array's
    // W - R (mod 1024) places, so `made` stays below `capacity`.
    UINT made = 0;
    std::uint8_t slotCopy[shm::kSlotSize];
    std::uint16_t slot = trapReadIndex;
    for (; slot != readIndex; slot = shm::NextIndex(slot)) {
        // An application may reuse the slot at any moment: the record is
        // copied out whole and only the copy is read.
        std::memcpy(slotCopy, shm::SlotAddress(static_cast<const void*>(base), slot), sizeof slotCopy);
        if (slotCopy[shm::record::kKind] != shm::record::kTrap ||
            slotCopy[shm::record::kTrapMark] != shm::record::kDeliverMark) {
            continue;
        }
        if (trap::IsLoggedSlot(slot)) {
            char line[256];
            std::snprintf(line, sizeof line,
                          "Sending Trap. Count %d, Time: %lf, Read: %d, i_MaxNumberOfTraps:%d, TrapRead: %d, Index:%d \n",
                          static_cast<int>(trap::g_trapCounter), SnmpTime::GetTime(), static_cast<int>(readIndex),
                          span, static_cast<int>(slot), static_cast<int>(made));
            trap::Log(line);
        }
        ++bindings->len;
        ++trap::g_trapCounter;

        const AsnObjectIdentifier recordEnterprise = trap::EnterpriseOidFor(shm::ReadU16(slotCopy + shm::record::kPen));
        // Every delivered record sets these again; the last one wins.
        *enterprise = recordEnterprise;
        *genericTrap = trap::kGenericTrap;
        *specificTrap = trap::kSpecificTrap;
        *timeStamp = trap::TrapTimeStamp(::GetTickCount(), trap::g_agentStartTick);
        trap::BuildBinding(slotCopy, slot, recordEnterprise, list[made]);
        ++made;
    }

    char line[160];
    std::snprintf(line, sizeof line, "Leaving Sending Trap. Time: %lf, Read: %d, TrapRead: %d, Index:%d \n",
                  SnmpTime::GetTime(), static_cast<int>(readIndex), static_cast<int>(slot), static_cast<int>(made));
    trap::Log(line);
    ++trap::g_trapCounter;
    shm::StoreShared(base->trapReadIndex, readIndex);
    ::LeaveCriticalSection(&g_TrapCriticalSection);

    if (bindings->len == 0) {
        // No trap to send: the empty array is released here instead of being
        // left to a caller that, told FALSE, has no reason to look at it.
        SnmpUtilMemFree(list);
        bindings->list = nullptr;
        return FALSE;
    }
    return TRUE;
}
