#include "query/agent_memory.h"

#include <chrono>
#include <cstring>

#include "shm/ring.h"
#include "shm/session_sequence.h"
#include "shm/shared_access.h"
#include "shm/snmp_shared_memory.h"

namespace qv::test {

AgentMemory::AgentMemory()
    : base_(qv::shm::kRegionSize, 0), in_(qv::shm::kSessionCount), out_(qv::shm::kSessionCount) {
    Base()->readIndex = 1;
    Base()->writeIndex = 1;
    Base()->trapReadIndex = 1;
    SnmpSharedMemory::SetSharedMemoryBasePointer(Base());
    qv::shm::ResetSequenceNumbers();
}

AgentMemory::~AgentMemory() {
    for (unsigned int i = 0; i < qv::shm::kSessionCount; ++i) {
        SnmpSharedMemory::SetSharedMemoryInputPointer(i, nullptr);
        SnmpSharedMemory::SetSharedMemoryOutputPointer(i, nullptr);
    }
    SnmpSharedMemory::SetSharedMemoryBasePointer(nullptr);
}

QVSNMP_COMBufferHeaderLine* AgentMemory::Base() {
    return reinterpret_cast<QVSNMP_COMBufferHeaderLine*>(base_.data());
}

void AgentMemory::OpenSession(int session, std::uint16_t pen, std::int8_t appId, std::int8_t appInst,
                              std::uint8_t state) {
    in_[session].assign(qv::shm::kRegionSize, 0);
    out_[session].assign(qv::shm::kRegionSize, 0);
    for (void* region : {InRegion(session), OutRegion(session)}) {
        qv::shm::RingResetReadIndex(region);
        qv::shm::RingResetWriteIndex(region);
    }
    SnmpSharedMemory::SetSharedMemoryInputPointer(static_cast<unsigned int>(session), InRegion(session));
    SnmpSharedMemory::SetSharedMemoryOutputPointer(static_cast<unsigned int>(session), OutRegion(session));
    Base()->pen[session] = pen;
    Base()->appId[session] = appId;
    Base()->appInst[session] = appInst;
    Base()->sessionState[session] = state;
}

void* AgentMemory::InRegion(int session) { return in_[session].data(); }
void* AgentMemory::OutRegion(int session) { return out_[session].data(); }

void AgentMemory::FillOutRing(int session) {
    Message filler{};
    while (qv::shm::RingAppend(OutRegion(session), filler.data())) {
    }
}

int AgentMemory::OutRingCount(int session) { return qv::shm::LoadRingIndices(OutRegion(session)).Count(); }

FakeApplication::FakeApplication(AgentMemory& memory, int session, Answer answer)
    : memory_(memory), session_(session), answer_(std::move(answer)), thread_([this] { Run(); }) {}

FakeApplication::~FakeApplication() {
    stop_ = true;
    thread_.join();
}

std::vector<Message> FakeApplication::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void FakeApplication::Run() {
    Message request;
    while (!stop_) {
        if (!qv::shm::RingTake(memory_.OutRegion(session_), request.data())) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
        }
        for (const Message& reply : answer_(request)) {
            qv::shm::RingAppend(memory_.InRegion(session_), reply.data());
        }
    }
}

Message Reply(const Message& request, std::uint8_t status) {
    Message reply{};
    std::memcpy(reply.data(), request.data(), 4);  // sequence number and PEN
    reply[qv::query::message::kStatus] = status;
    return reply;
}

Message IntegerReply(const Message& request, std::int32_t value) {
    Message reply = Reply(request, 2);
    reply[qv::query::message::kValueType] = ASN_INTEGER;
    qv::shm::WriteI32(reply.data() + qv::query::message::kValue, value);
    return reply;
}

Message TextReply(const Message& request, const std::string& text) {
    Message reply = Reply(request, 2);
    reply[qv::query::message::kValueType] = ASN_OCTETSTRING;
    std::memcpy(reply.data() + qv::query::message::kValue, text.data(), text.size());
    return reply;
}

AsnObjectIdentifier MakeOid(const std::vector<UINT>& ids) {
    AsnObjectIdentifier oid{static_cast<UINT>(ids.size()), nullptr};
    if (!ids.empty()) {
        oid.ids = static_cast<UINT*>(SnmpUtilMemAlloc(static_cast<UINT>(ids.size() * sizeof(UINT))));
        std::memcpy(oid.ids, ids.data(), ids.size() * sizeof(UINT));
    }
    return oid;
}

std::vector<UINT> IdsOf(const AsnObjectIdentifier& oid) {
    if (oid.ids == nullptr) return {};
    return std::vector<UINT>(oid.ids, oid.ids + oid.idLength);
}

SnmpVarBind MakeBinding(const std::vector<UINT>& ids) {
    SnmpVarBind binding{};
    binding.name = MakeOid(ids);
    binding.value.asnType = ASN_NULL;
    return binding;
}

std::string TextOf(const AsnAny& value) {
    const AsnOctetString& string = value.asnValue.string;
    if (string.stream == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(string.stream), string.length);
}

std::uint16_t U16At(const Message& message, std::size_t offset) {
    return qv::shm::ReadU16(message.data() + offset);
}

std::vector<std::uint8_t> BytesAt(const Message& message, std::size_t offset, std::size_t count) {
    return std::vector<std::uint8_t>(message.begin() + static_cast<std::ptrdiff_t>(offset),
                                     message.begin() + static_cast<std::ptrdiff_t>(offset + count));
}

}  // namespace qv::test
