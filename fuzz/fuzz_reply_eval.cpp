// Reply evaluation over hostile IN-ring messages: GETNEXT end to end (it polls
// before it sleeps, so a ring that already holds the reply costs no wait), the
// value conversion GET uses, and the status mapping SET uses.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "query/query_handlers.h"
#include "query/query_message.h"
#include "query/reply_value.h"
#include "shm/ring.h"
#include "shm/session_sequence.h"
#include "shm/shared_access.h"
#include "shm/snmp_shared_memory.h"
#include "shm/snmp_time.h"

namespace {

constexpr int kSession = 3;
constexpr std::size_t kMaxMessages = 8;

struct Regions {
    qv::fuzz::GuardedRegion base;
    qv::fuzz::GuardedRegion in;
    qv::fuzz::GuardedRegion out;
};

Regions& SetUp() {
    static Regions* regions = [] {
        qv::fuzz::UsePrivateNamespace();
        SnmpTime::Init();
        auto* made = new Regions;
        SnmpSharedMemory::SetSharedMemoryBasePointer(made->base.Header());
        SnmpSharedMemory::SetSharedMemoryInputPointer(kSession, made->in.Data());
        SnmpSharedMemory::SetSharedMemoryOutputPointer(kSession, made->out.Data());
        return made;
    }();
    return *regions;
}

// A current value of the type the input picks, owning memory where that type does.
AsnAny CurrentValue(std::uint8_t pick) {
    AsnAny value;
    std::memset(&value, 0, sizeof value);  // the whole union, not only its first member
    switch (pick % 4) {
        case 1:
            value.asnType = ASN_INTEGER;
            value.asnValue.number = 17;
            break;
        case 2:
            value.asnType = ASN_OCTETSTRING;
            value.asnValue.string.stream = static_cast<BYTE*>(SnmpUtilMemAlloc(5));
            value.asnValue.string.length = 5;
            value.asnValue.string.dynamic = TRUE;
            break;
        case 3:
            value.asnType = ASN_COUNTER32;
            value.asnValue.counter = 99;
            break;
        default:
            value.asnType = ASN_NULL;
            break;
    }
    return value;
}

void FuzzGetNext(Regions& regions, const std::uint8_t* data, std::size_t size) {
    QVSNMP_COMBufferHeaderLine* base = regions.base.Header();
    std::memset(base, 0, qv::shm::kSlotSize);
    base->sessionState[kSession] = qv::shm::kSessionUp;
    base->pen[kSession] = 39917;
    base->appId[kSession] = 1;
    base->appInst[kSession] = 1;

    std::memset(regions.out.Data(), 0, qv::fuzz::GuardedRegion::kUsedBytes);
    qv::shm::RingResetReadIndex(regions.out.Data());
    qv::shm::RingResetWriteIndex(regions.out.Data());

    // The replies: whole messages from the input, the last one answering the
    // request about to be sent, so the wait ends without sleeping.
    std::memset(regions.in.Data(), 0, qv::fuzz::GuardedRegion::kUsedBytes);
    qv::shm::RingResetReadIndex(regions.in.Data());
    qv::shm::RingResetWriteIndex(regions.in.Data());
    std::size_t count = size / qv::shm::kSlotSize + 1;
    if (count > kMaxMessages) count = kMaxMessages;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t message[qv::shm::kSlotSize] = {};
        const std::size_t offset = i * qv::shm::kSlotSize;
        if (offset < size) {
            const std::size_t take = size - offset < qv::shm::kSlotSize ? size - offset : qv::shm::kSlotSize;
            std::memcpy(message, data + offset, take);
        }
        if (i + 1 == count) qv::shm::WriteU16(message, qv::shm::PeekSequenceNumber(kSession));
        qv::shm::RingAppend(regions.in.Data(), message);
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
    std::memcpy(reply.data(), data, size < reply.size() ? size : reply.size());
    AsnAny current = CurrentValue(size > reply.size() ? data[reply.size()] : 0);
    qv::query::PreparedValue prepared;
    if (qv::query::PrepareReplyValue(reply, current, prepared) == SNMP_ERRORSTATUS_NOERROR) {
        qv::query::CommitValue(current, prepared);
    } else {
        qv::query::DiscardValue(prepared);
    }
    SnmpUtilAsnAnyFree(&current);
    // SET reads nothing of a reply but its status code.
    (void)qv::query::MapReplyStatus(reply[qv::query::message::kStatus]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Regions& regions = SetUp();
    if (size == 0) return 0;
    if (data[0] & 1) {
        FuzzGetNext(regions, data + 1, size - 1);
    } else {
        FuzzValue(data + 1, size - 1);
    }
    return 0;
}
