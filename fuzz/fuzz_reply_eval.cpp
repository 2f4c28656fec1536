// Reply evaluation over hostile IN-ring messages: GETNEXT end to end (it polls
// before it sleeps, so a ring that already holds the reply costs no wait), the
// value conversion GET uses, and the status mapping SET uses.
#include "fuzz/fuzz_support.h"
#include "query/query_handlers.h"
#include "query/query_message.h"
#include "query/reply_value.h"
#include "shm/ring.h"
#include "shm/session_sequence.h"
#include "shm/shared_access.h"

namespace {

constexpr int kSession = 3;
constexpr std::size_t kMaxMessages = 8;

// A current value of the type the input picks, owning memory where that type does.
AsnAny CurrentValue(std::uint8_t pick) {
    AsnAny value;
    std::memset(&value, 0, sizeof value);  // the whole union, not only its first member
    const BYTE types[] = {ASN_NULL, ASN_INTEGER, ASN_OCTETSTRING, ASN_COUNTER32};
    value.asnType = types[pick % 4];
    if (value.asnType == ASN_INTEGER || value.asnType == ASN_COUNTER32) value.asnValue.number = 17;
    if (value.asnType == ASN_OCTETSTRING) value.asnValue.string = {static_cast<BYTE*>(SnmpUtilMemAlloc(5)), 5, TRUE};
    return value;
}

// The replies are whole messages from the input, the last one answering the
// request about to be sent, so the wait ends without sleeping.
void FuzzGetNext(const std::uint8_t* data, std::size_t size) {
    static qv::fuzz::GuardedRegion* in = new qv::fuzz::GuardedRegion;
    static qv::fuzz::GuardedRegion* out = new qv::fuzz::GuardedRegion;
    QVSNMP_COMBufferHeaderLine* base = qv::fuzz::Base().Header();
    std::memset(base, 0, qv::shm::kSlotSize);
    base->sessionState[kSession] = qv::shm::kSessionUp;
    base->pen[kSession] = 39917;
    base->appId[kSession] = 1;
    base->appInst[kSession] = 1;
    for (qv::fuzz::GuardedRegion* ring : {in, out}) {
        ring->Fill(nullptr, 0);
        qv::shm::RingResetReadIndex(ring->data_);
        qv::shm::RingResetWriteIndex(ring->data_);
    }
    SnmpSharedMemory::SetSharedMemoryInputPointer(kSession, in->data_);
    SnmpSharedMemory::SetSharedMemoryOutputPointer(kSession, out->data_);
    const std::size_t count = std::min(size / qv::shm::kSlotSize + 1, kMaxMessages);
    for (std::size_t i = 0, offset = 0; i < count; ++i, offset += qv::shm::kSlotSize) {
        std::uint8_t message[qv::shm::kSlotSize] = {};
        if (offset < size) std::memcpy(message, data + offset, std::min(size - offset, qv::shm::kSlotSize));
        if (i + 1 == count) qv::shm::WriteU16(message, qv::shm::PeekSequenceNumber(kSession));
        qv::shm::RingAppend(in->data_, message);
    }
    UINT ids[] = {1, 3, 6, 1, 4, 1, 39917, 1, 1, size > 0 ? data[0] : 0u};
    AsnObjectIdentifier request{10, ids};
    SnmpVarBind binding;
    std::memset(&binding, 0, sizeof binding);
    SnmpUtilOidCpy(&binding.name, &request);
    binding.value = CurrentValue(size > 1 ? data[1] : 0);
    GetNextRequest(&binding);
    SnmpUtilVarBindFree(&binding);
}

void FuzzValue(const std::uint8_t* data, std::size_t size) {
    qv::query::Message reply{};
    std::memcpy(reply.data(), data, std::min(size, reply.size()));
    AsnAny current = CurrentValue(size > reply.size() ? data[reply.size()] : 0);
    qv::query::PreparedValue prepared;
    if (qv::query::PrepareReplyValue(reply, current, prepared) == SNMP_ERRORSTATUS_NOERROR) {
        qv::query::CommitValue(current, prepared);
    } else {
        qv::query::DiscardValue(prepared);
    }
    SnmpUtilAsnAnyFree(&current);
    (void)qv::query::MapReplyStatus(reply[qv::query::message::kStatus]);  // all SET reads of a reply
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qv::fuzz::Base();
    if (size == 0) return 0;
    if (data[0] & 1) {
        FuzzGetNext(data + 1, size - 1);
    } else {
        FuzzValue(data + 1, size - 1);
    }
    return 0;
}
