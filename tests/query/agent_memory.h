// The agent's side of shared memory for in-process query tests: a base region
// and session rings in private buffers, registered in SnmpSharedMemory, and an
// application played by a thread that answers requests from the OUT ring.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "qv_snmp.h"
#include "query/query_message.h"
#include "shm/layout.h"

namespace qv::test {

using qv::query::Message;

class AgentMemory {
public:
    AgentMemory();
    ~AgentMemory();
    AgentMemory(const AgentMemory&) = delete;
    AgentMemory& operator=(const AgentMemory&) = delete;

    QVSNMP_COMBufferHeaderLine* Base();
    // Registers private IN and OUT regions for `session` (rings empty) and
    // writes its row of the session table.
    void OpenSession(int session, std::uint16_t pen, std::int8_t appId, std::int8_t appInst,
                     std::uint8_t state = qv::shm::kSessionUp);
    void* InRegion(int session);
    void* OutRegion(int session);
    // Fills the session's OUT ring so that nothing more fits.
    void FillOutRing(int session);
    int OutRingCount(int session);

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

    FakeApplication(AgentMemory& memory, int session, Answer answer);
    ~FakeApplication();
    FakeApplication(const FakeApplication&) = delete;
    FakeApplication& operator=(const FakeApplication&) = delete;

    std::vector<Message> Requests() const;

private:
    void Run();

    AgentMemory& memory_;
    int session_;
    Answer answer_;
    mutable std::mutex mutex_;
    std::vector<Message> requests_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Replies an application gives.
Message Reply(const Message& request, std::uint8_t status);
Message IntegerReply(const Message& request, std::int32_t value);
Message TextReply(const Message& request, const std::string& text);

// An OID in SnmpUtilMemAlloc memory of exactly its length, as the service
// hands it over; freed with SnmpUtilOidFree.
AsnObjectIdentifier MakeOid(const std::vector<UINT>& ids);
std::vector<UINT> IdsOf(const AsnObjectIdentifier& oid);
// A binding as the service passes it for GET and GETNEXT: the name and a NULL value.
SnmpVarBind MakeBinding(const std::vector<UINT>& ids);
std::string TextOf(const AsnAny& value);

// Offset-wise view of a captured message.
std::uint16_t U16At(const Message& message, std::size_t offset);
std::vector<std::uint8_t> BytesAt(const Message& message, std::size_t offset, std::size_t count);

}  // namespace qv::test
