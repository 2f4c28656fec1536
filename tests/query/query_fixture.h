// The agent's side of shared memory for in-process query tests: a base region
// and session rings in private buffers, registered in SnmpSharedMemory, an
// application played by a thread that answers requests from the OUT ring, and
// binding lists owned the way the SNMP service owns them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agent/extension_agent.h"
#include "query/query_message.h"
#include "qv_snmp.h"
#include "shm/wire.h"
#include "shm/ring.h"
#include "shm/session_sequence.h"
#include "shm/shared_access.h"
#include "shm/snmp_shared_memory.h"
#include "support/test_environment.h"

namespace qv::test {

using qv::query::Message;
using Ids = std::vector<UINT>;
using Bytes = std::vector<std::uint8_t>;
namespace message = qv::query::message;

class AgentMemory {
public:
    AgentMemory() : base_(shm::kRegionSize, 0), in_(shm::kSessionCount), out_(shm::kSessionCount) {
        Base()->readIndex = Base()->writeIndex = Base()->trapReadIndex = 1;
        SnmpSharedMemory::SetSharedMemoryBasePointer(Base());
        shm::ResetSequenceNumbers();
    }
    ~AgentMemory() {
        for (unsigned int i = 0; i < shm::kSessionCount; ++i) {
            SnmpSharedMemory::SetSharedMemoryInputPointer(i, nullptr);
            SnmpSharedMemory::SetSharedMemoryOutputPointer(i, nullptr);
        }
        SnmpSharedMemory::SetSharedMemoryBasePointer(nullptr);
    }
    AgentMemory(const AgentMemory&) = delete;
    AgentMemory& operator=(const AgentMemory&) = delete;

    QVSNMP_COMBufferHeaderLine* Base() { return reinterpret_cast<QVSNMP_COMBufferHeaderLine*>(base_.data()); }
    // Registers private IN and OUT regions for `session` (rings empty) and
    // writes its row of the session table.
    void OpenSession(int session, std::uint16_t pen, std::int8_t appId, std::int8_t appInst,
                     std::uint8_t state = shm::kSessionUp) {
        for (auto* region : {&in_[session], &out_[session]}) {
            region->assign(shm::kRegionSize, 0);
            shm::RingResetReadIndex(region->data());
            shm::RingResetWriteIndex(region->data());
        }
        SnmpSharedMemory::SetSharedMemoryInputPointer(static_cast<unsigned int>(session), InRegion(session));
        SnmpSharedMemory::SetSharedMemoryOutputPointer(static_cast<unsigned int>(session), OutRegion(session));
        Base()->pen[session] = pen;
        Base()->appId[session] = appId;
        Base()->appInst[session] = appInst;
        Base()->sessionState[session] = state;
    }
    void* InRegion(int session) { return in_[session].data(); }
    void* OutRegion(int session) { return out_[session].data(); }
    // Fills the session's OUT ring so that nothing more fits.
    void FillOutRing(int session) {
        const Message filler{};
        while (shm::RingAppend(OutRegion(session), filler.data())) {
        }
    }
    int OutRingCount(int session) { return shm::LoadRingIndices(OutRegion(session)).Count(); }

private:
    std::vector<std::uint8_t> base_;
    std::vector<std::vector<std::uint8_t>> in_;
    std::vector<std::vector<std::uint8_t>> out_;
};

// Plays the application of one session: takes every request from the OUT
// ring, keeps a copy, and appends the replies `answer` returns to the IN ring.
class FakeApplication {
public:
    using Answer = std::function<std::vector<Message>(const Message& request)>;

    FakeApplication(AgentMemory& memory, int session, Answer answer)
        : out_(memory.OutRegion(session)), in_(memory.InRegion(session)), answer_(std::move(answer)),
          thread_([this] { Run(); }) {}
    ~FakeApplication() {
        stop_ = true;
        thread_.join();
    }
    FakeApplication(const FakeApplication&) = delete;
    FakeApplication& operator=(const FakeApplication&) = delete;

    std::vector<Message> Requests() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

private:
    void Run() {
        Message request;
        while (!stop_) {
            if (!shm::RingTake(out_, request.data())) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(request);
            }
            for (const Message& reply : answer_(request)) shm::RingAppend(in_, reply.data());
        }
    }

    void* out_;
    void* in_;
    Answer answer_;
    mutable std::mutex mutex_;
    std::vector<Message> requests_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Offset-wise view of a captured message.
inline std::uint16_t U16At(const Message& m, std::size_t offset) { return shm::ReadU16(m.data() + offset); }
inline Bytes BytesAt(const Message& m, std::size_t offset, std::size_t count) {
    return Bytes(m.begin() + static_cast<std::ptrdiff_t>(offset),
                 m.begin() + static_cast<std::ptrdiff_t>(offset + count));
}

// A request as the agent writes it, before the value: the PEN, the tail
// (zero-ended), the operation, the attribute byte 3 and the two markers;
// every other byte zero.
inline Message ExpectedRequest(std::uint16_t pen, const Bytes& tail, std::uint8_t operation) {
    Message expected{};
    qv::shm::WriteU16(expected.data() + message::kPen, pen);
    std::copy(tail.begin(), tail.end(), expected.begin() + message::kTail);
    expected[message::kOperation] = operation;
    expected[message::kValueAttribute] = message::kAttribute;
    expected[message::kMarker1] = message::kMarker1Value;
    expected[message::kMarker2] = message::kMarker2Value;
    return expected;
}

// Replies an application gives: the request's sequence number and PEN, a
// status and, for the typed ones, a value.
inline Message Reply(const Message& request, std::uint8_t status) {
    Message reply{};
    std::memcpy(reply.data(), request.data(), message::kTail);  // sequence number and PEN
    reply[message::kStatus] = status;
    return reply;
}
inline Message IntegerReply(const Message& request, std::int32_t value) {
    Message reply = Reply(request, 2);
    reply[message::kValueType] = ASN_INTEGER;
    shm::WriteI32(reply.data() + message::kValue, value);
    return reply;
}
inline Message TextReply(const Message& request, const std::string& text) {
    Message reply = Reply(request, 2);
    reply[message::kValueType] = ASN_OCTETSTRING;
    std::memcpy(reply.data() + message::kValue, text.data(), text.size());
    return reply;
}
// Answers every request with one status-2 reply that `edit` shapes.
inline FakeApplication::Answer Answering(std::function<void(Message&)> edit) {
    return [edit](const Message& request) {
        Message reply = Reply(request, 2);
        edit(reply);
        return std::vector<Message>{reply};
    };
}
inline FakeApplication::Answer IntegerAnswer(std::int32_t value) {
    return [value](const Message& request) { return std::vector<Message>{IntegerReply(request, value)}; };
}
inline FakeApplication::Answer StatusAnswer(std::uint8_t status) {
    return [status](const Message& request) { return std::vector<Message>{Reply(request, status)}; };
}
// Answers every request with a reply to another sequence number only.
inline FakeApplication::Answer StaleAnswer() {
    return [](const Message& request) {
        Message stale = IntegerReply(request, 1);
        shm::WriteU16(stale.data(), static_cast<std::uint16_t>(U16At(request, 0) + 1));
        return std::vector<Message>{stale};
    };
}

// 1.3.6.1.4.1.<pen>.<tail...>
inline Ids Under(UINT pen, std::initializer_list<UINT> tail = {}) {
    Ids ids = {1, 3, 6, 1, 4, 1, pen};
    ids.insert(ids.end(), tail);
    return ids;
}
inline Ids IdsOf(const AsnObjectIdentifier& oid) {
    return oid.ids == nullptr ? Ids{} : Ids(oid.ids, oid.ids + oid.idLength);
}
inline std::string TextOf(const AsnAny& value) {
    const AsnOctetString& string = value.asnValue.string;
    return string.stream == nullptr ? std::string()
                                    : std::string(reinterpret_cast<const char*>(string.stream), string.length);
}
// An octet string in SnmpUtilMemAlloc memory, as the service hands one over.
inline void SetString(SnmpVarBind& binding, const std::string& bytes) {
    auto* stream = static_cast<BYTE*>(SnmpUtilMemAlloc(static_cast<UINT>(bytes.size())));
    std::memcpy(stream, bytes.data(), bytes.size());
    binding.value.asnType = ASN_OCTETSTRING;
    binding.value.asnValue.string = AsnOctetString{stream, static_cast<UINT>(bytes.size()), TRUE};
}

// A binding list allocated with SnmpUtilMemAlloc and released, with
// everything the agent stored into it, by SnmpUtilVarBindListFree. Every
// binding starts as the name with a NULL value, as GET and GETNEXT pass it.
class BindingList {
public:
    explicit BindingList(const std::vector<Ids>& names) {
        list_.len = static_cast<UINT>(names.size());
        list_.list = static_cast<SnmpVarBind*>(SnmpUtilMemAlloc(list_.len * static_cast<UINT>(sizeof(SnmpVarBind))));
        for (UINT i = 0; i < list_.len; ++i) {
            AsnObjectIdentifier name{static_cast<UINT>(names[i].size()), const_cast<UINT*>(names[i].data())};
            list_.list[i] = SnmpVarBind{};
            if (!names[i].empty()) SnmpUtilOidCpy(&list_.list[i].name, &name);
            list_.list[i].value.asnType = ASN_NULL;
        }
    }
    ~BindingList() { SnmpUtilVarBindListFree(&list_); }
    BindingList(const BindingList&) = delete;
    BindingList& operator=(const BindingList&) = delete;

    SnmpVarBind& operator[](UINT i) { return list_.list[i]; }
    SnmpVarBindList* List() { return &list_; }

private:
    SnmpVarBindList list_{};
};

struct QueryResult {
    BOOL result;
    AsnInteger32 status;
    AsnInteger32 index;
};
inline QueryResult Query(BYTE pduType, BindingList& bindings) {
    QueryResult out{FALSE, -1, -1};
    out.result = SnmpExtensionQuery(pduType, bindings.List(), &out.status, &out.index);
    return out;
}

// A byte-for-byte copy of a binding, to tell that nothing changed.
inline Bytes Snapshot(const SnmpVarBind& binding) {
    Bytes bytes(sizeof binding);
    std::memcpy(bytes.data(), &binding, sizeof binding);
    const auto* ids = reinterpret_cast<const std::uint8_t*>(binding.name.ids);
    if (ids != nullptr) bytes.insert(bytes.end(), ids, ids + binding.name.idLength * sizeof(UINT));
    return bytes;
}

class QueryTest : public ::testing::Test {
protected:
    // One query while `session`'s application answers with `answer`; keeps
    // the requests it received in requests_.
    AsnInteger32 Serve(int session, BYTE pduType, BindingList& bindings, FakeApplication::Answer answer) {
        FakeApplication application(memory_, session, std::move(answer));
        const AsnInteger32 status = Query(pduType, bindings).status;
        requests_ = application.Requests();
        return status;
    }

    IsolatedEnvironment environment_;
    AgentMemory memory_;
    std::vector<Message> requests_;
};

}  // namespace qv::test
