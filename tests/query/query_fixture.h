// SnmpExtensionQuery in one process: the base region and session rings in
// private buffers registered as the module's, an application played by a
// thread over the rings, and binding lists owned as the SNMP service owns them.
// Message offsets are written out here, as an application has them.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agent/extension_agent.h"
#include "qv_snmp.h"
#include "shm/ring.h"
#include "shm/session_sequence.h"
#include "shm/snmp_shared_memory.h"
#include "support/test_environment.h"

namespace qv::test {

using Ids = std::vector<UINT>;
using Bytes = std::vector<std::uint8_t>;
using Message = std::array<std::uint8_t, 1024>;
enum Offset : std::size_t { kPen = 2, kTail = 4, kOperation = 34, kStatus = 35, kLength = 36, kType = 38, kValue = 40 };

inline std::uint16_t U16(const Message& m, std::size_t at) { return static_cast<std::uint16_t>(m[at] | m[at + 1] << 8); }
inline Bytes BytesAt(const Message& m, std::size_t at, std::size_t count) { return Bytes(&m[at], &m[at] + count); }

class AgentMemory {
public:
    AgentMemory() : base_(0x100000, 0), rings_(32) {
        base_[0] = base_[2] = base_[4] = 1;  // read, write and trap read index
        SnmpSharedMemory::SetSharedMemoryBasePointer(Base());
        shm::ResetSequenceNumbers();
    }
    ~AgentMemory() {
        for (unsigned int i = 0; i < 16; ++i) {
            SnmpSharedMemory::SetSharedMemoryInputPointer(i, nullptr);
            SnmpSharedMemory::SetSharedMemoryOutputPointer(i, nullptr);
        }
        SnmpSharedMemory::SetSharedMemoryBasePointer(nullptr);
    }
    QVSNMP_COMBufferHeaderLine* Base() { return reinterpret_cast<QVSNMP_COMBufferHeaderLine*>(base_.data()); }
    // Empty IN and OUT rings for `session`, registered, and its table row.
    void OpenSession(int session, std::uint16_t pen, std::int8_t appId, std::int8_t appInst, std::uint8_t state = 2) {
        for (int ring : {session, 16 + session}) {
            rings_[ring].assign(0x100000, 0);
            rings_[ring][0] = rings_[ring][2] = 1;
        }
        SnmpSharedMemory::SetSharedMemoryInputPointer(static_cast<unsigned int>(session), In(session));
        SnmpSharedMemory::SetSharedMemoryOutputPointer(static_cast<unsigned int>(session), Out(session));
        Base()->pen[session] = pen;
        Base()->appId[session] = appId;
        Base()->appInst[session] = appInst;
        Base()->sessionState[session] = state;
    }
    void* In(int session) { return rings_[session].data(); }
    void* Out(int session) { return rings_[16 + session].data(); }
    int OutCount(int session) { return shm::LoadRingIndices(Out(session)).Count(); }

private:
    Bytes base_;
    std::vector<Bytes> rings_;
};

// Plays one session's application: takes every request from the OUT ring,
// keeps a copy, and appends the replies `answer` gives to the IN ring.
class FakeApplication {
public:
    using Answer = std::function<std::vector<Message>(const Message& request)>;
    FakeApplication(AgentMemory& memory, int session, Answer answer)
        : out_(memory.Out(session)), in_(memory.In(session)), answer_(std::move(answer)), thread_([this] { Run(); }) {}
    ~FakeApplication() {
        stop_ = true;
        thread_.join();
    }
    std::vector<Message> Requests() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

private:
    void Run() {
        for (Message request; !stop_;) {
            if (!shm::RingTake(out_, request.data())) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
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
using Answer = FakeApplication::Answer;

// A request as the agent writes it before the value: PEN, tail, operation,
// attribute byte 3 and the two markers; all else zero.
inline Message ExpectedRequest(std::uint16_t pen, const Bytes& tail, std::uint8_t operation) {
    Message m{};
    m[kPen] = static_cast<std::uint8_t>(pen);
    m[kPen + 1] = static_cast<std::uint8_t>(pen >> 8);
    std::copy(tail.begin(), tail.end(), m.begin() + kTail);
    m[kOperation] = operation;
    m[39] = 3;
    m[1000] = 1;
    m[1001] = 2;
    return m;
}
// A reply to `request` (its sequence number and PEN) with a status, shaped by `edit`.
inline Message Reply(const Message& request, std::uint8_t status, const std::function<void(Message&)>& edit = {}) {
    Message reply{};
    std::memcpy(reply.data(), request.data(), 4);
    reply[kStatus] = status;
    if (edit) edit(reply);
    return reply;
}
inline Answer Answering(std::function<void(Message&)> edit, std::uint8_t status = 2) {
    return [=](const Message& request) { return std::vector<Message>{Reply(request, status, edit)}; };
}
inline std::function<void(Message&)> Integer(std::int32_t value) {
    return [value](Message& m) {
        m[kType] = ASN_INTEGER;
        std::memcpy(&m[kValue], &value, 4);
    };
}

// 1.3.6.1.4.1.<pen>.<tail...>
inline Ids Under(UINT pen, std::initializer_list<UINT> tail = {}) {
    Ids ids = {1, 3, 6, 1, 4, 1, pen};
    ids.insert(ids.end(), tail);
    return ids;
}
inline Ids IdsOf(const AsnObjectIdentifier& oid) { return oid.ids == nullptr ? Ids{} : Ids(oid.ids, oid.ids + oid.idLength); }
inline std::string TextOf(const AsnAny& value) {
    const AsnOctetString& s = value.asnValue.string;
    return s.stream == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(s.stream), s.length);
}
// An octet string in SnmpUtilMemAlloc memory, as the service hands one over.
inline void SetString(SnmpVarBind& binding, const std::string& bytes) {
    auto* stream = static_cast<BYTE*>(SnmpUtilMemAlloc(static_cast<UINT>(bytes.size())));
    std::memcpy(stream, bytes.data(), bytes.size());
    binding.value.asnType = ASN_OCTETSTRING;
    binding.value.asnValue.string = AsnOctetString{stream, static_cast<UINT>(bytes.size()), TRUE};
}
inline void SetInteger(SnmpVarBind& binding, AsnInteger32 value) {
    binding.value.asnType = ASN_INTEGER;
    binding.value.asnValue.number = value;
}

// A binding list in SnmpUtilMemAlloc memory, released with everything the
// agent stored into it by SnmpUtilVarBindListFree. Values start as NULL.
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
    Bytes bytes(reinterpret_cast<const std::uint8_t*>(&binding), reinterpret_cast<const std::uint8_t*>(&binding + 1));
    const auto* ids = reinterpret_cast<const std::uint8_t*>(binding.name.ids);
    if (ids != nullptr) bytes.insert(bytes.end(), ids, ids + binding.name.idLength * sizeof(UINT));
    return bytes;
}

class QueryTest : public ::testing::Test {
protected:
    // One query while `session`'s application answers with `answer`; the
    // requests it received go to requests_.
    AsnInteger32 Serve(int session, BYTE pduType, BindingList& bindings, Answer answer) {
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
