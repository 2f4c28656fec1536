// GETNEXT: the next OID built from the reply's tail, its trace lines, and the
// cases where the binding must stay as it was.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "log/trace.h"
#include "query/agent_memory.h"
#include "query/binding_list.h"
#include "query/query_message.h"
#include "shm/shared_access.h"
#include "support/test_environment.h"

namespace {

using qv::test::BindingList;
using qv::test::FakeApplication;
using qv::test::IdsOf;
using qv::test::Message;
using qv::test::Query;
using qv::test::Snapshot;
using Ids = std::vector<UINT>;
namespace message = qv::query::message;

class GetNextRequestTest : public ::testing::Test {
protected:
    GetNextRequestTest() {
        environment_.CreateDebugDirectory();
        // The module opened its stream at load, before this test's C: drive
        // existed; it is pointed at this test's file here.
        qv::trace::GetNextRequestStream().close();
        qv::trace::GetNextRequestStream().open(qv::trace::kGetNextPath, std::ios_base::out);
        memory_.OpenSession(1, 5113, 1, 2);
    }
    ~GetNextRequestTest() override { qv::trace::GetNextRequestStream().close(); }

    std::string Trace() const { return qv::test::ReadFileBytes(environment_.DebugDirectory() / "GetNextRequest.txt"); }

    // One GETNEXT answered by a status-2 reply that `edit` shapes.
    template <typename Edit>
    AsnInteger32 GetNext(BindingList& bindings, Edit edit) {
        FakeApplication application(memory_, 1, [&](const Message& r) {
            Message reply = qv::test::IntegerReply(r, 55);
            edit(reply);
            return std::vector<Message>{reply};
        });
        const AsnInteger32 status = Query(SNMP_PDU_GETNEXT, bindings).status;
        requests_ = application.Requests();
        return status;
    }

    static void SetTail(Message& reply, const std::vector<std::uint8_t>& tail) {
        std::memset(reply.data() + message::kTail, 0, message::kTailSize);
        if (!tail.empty()) std::memcpy(reply.data() + message::kTail, tail.data(), tail.size());
    }

    qv::test::IsolatedEnvironment environment_;
    qv::test::AgentMemory memory_;
    std::vector<Message> requests_;
};

TEST_F(GetNextRequestTest, NameBecomesTheRepliedTailUnderTheRequestsEnterprise) {
    BindingList bindings({{1, 3, 6, 1, 4, 1, 5113, 1, 2}});
    ASSERT_EQ(GetNext(bindings, [](Message& m) { SetTail(m, {1, 2, 3}); }), SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(IdsOf(bindings[0].name), (Ids{1, 3, 6, 1, 4, 1, 5113, 1, 2, 3}));
    EXPECT_EQ(bindings[0].value.asnType, ASN_INTEGER);
    EXPECT_EQ(bindings[0].value.asnValue.number, 55);
    ASSERT_EQ(requests_.size(), 1u);
    EXPECT_EQ(requests_[0][message::kOperation], 5);
    EXPECT_EQ(requests_[0][message::kValue], 1);
    EXPECT_EQ(Trace(), "Enter\r\nExit\r\n");
}

TEST_F(GetNextRequestTest, KeepsAll32BitsOfTheRequestsEnterpriseNumber) {
    BindingList bindings({{1, 3, 6, 1, 4, 1, 65536 + 5113, 1, 2, 9}});
    ASSERT_EQ(GetNext(bindings, [](Message& m) { SetTail(m, {1, 2, 10}); }), SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(IdsOf(bindings[0].name), (Ids{1, 3, 6, 1, 4, 1, 65536 + 5113, 1, 2, 10}));
    EXPECT_EQ(qv::shm::ReadU16(requests_[0].data() + message::kPen), 5113);
}

TEST_F(GetNextRequestTest, TailBytesAbove127AreSignExtended) {
    BindingList bindings({{1, 3, 6, 1, 4, 1, 5113, 1, 2}});
    ASSERT_EQ(GetNext(bindings, [](Message& m) { SetTail(m, {1, 2, 200, 128, 127, 255}); }),
              SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(IdsOf(bindings[0].name), (Ids{1, 3, 6, 1, 4, 1, 5113, 1, 2, 4294967240u, 4294967168u, 127, 4294967295u}));
}

TEST_F(GetNextRequestTest, TailWithoutZeroByteGivesExactly32SubIdentifiers) {
    BindingList bindings({{1, 3, 6, 1, 4, 1, 5113, 1, 2}});
    // Offsets 4..35: 30 bytes of 9, then the operation byte and the status 2.
    ASSERT_EQ(GetNext(bindings,
                      [](Message& m) {
                          std::memset(m.data() + message::kTail, 9, 30);
                          m[message::kOperation] = 6;
                          m[message::kValueLength] = 0x33;  // offset 36: must not be taken
                      }),
              SNMP_ERRORSTATUS_NOERROR);
    Ids expected = {1, 3, 6, 1, 4, 1, 5113};
    expected.insert(expected.end(), 30, 9);
    expected.push_back(6);
    expected.push_back(2);
    EXPECT_EQ(IdsOf(bindings[0].name), expected);
}

TEST_F(GetNextRequestTest, EmptyTailGivesAnEmptyNameWithTheRepliedValue) {
    BindingList bindings({{1, 3, 6, 1, 4, 1, 5113, 1, 2, 7}});
    ASSERT_EQ(GetNext(bindings, [](Message& m) { SetTail(m, {}); }), SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(bindings[0].name.idLength, 0u);
    EXPECT_EQ(bindings[0].value.asnValue.number, 55);
    EXPECT_EQ(Trace(), "Enter\r\nExit\r\n");
}

TEST_F(GetNextRequestTest, FailedReplyLeavesTheBindingAndWritesNoExit) {
    for (std::uint8_t code : {9, 4, 3}) {
        BindingList bindings({{1, 3, 6, 1, 4, 1, 5113, 1, 2}});
        const auto before = Snapshot(bindings[0]);
        const AsnInteger32 status = GetNext(bindings, [&](Message& m) {
            SetTail(m, {1, 2, 3});
            m[message::kStatus] = code;
        });
        EXPECT_EQ(status, code == 3 ? SNMP_ERRORSTATUS_GENERR : SNMP_ERRORSTATUS_NOSUCHNAME) << int{code};
        EXPECT_EQ(Snapshot(bindings[0]), before);
    }
    EXPECT_EQ(Trace(), "Enter\r\nEnter\r\nEnter\r\n");
}

TEST_F(GetNextRequestTest, StatusVariableAnswersItselfAndRefusalsWriteOnlyEnter) {
    BindingList status({{1, 3, 6, 1, 4, 1, 44821}});
    EXPECT_EQ(Query(SNMP_PDU_GETNEXT, status).status, SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(IdsOf(status[0].name), (Ids{1, 3, 6, 1, 4, 1, 44821}));
    EXPECT_EQ(qv::test::TextOf(status[0].value).substr(0, 5), "S[1]:");
    // The low 16 bits decide here.
    BindingList wide({{1, 3, 6, 1, 4, 1, 65536 + 44821}});
    EXPECT_EQ(Query(SNMP_PDU_GETNEXT, wide).status, SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(IdsOf(wide[0].name), (Ids{1, 3, 6, 1, 4, 1, 65536 + 44821}));
    EXPECT_EQ(wide[0].value.asnType, ASN_OCTETSTRING);

    BindingList unserved({{1, 3, 6, 1, 4, 1, 1234, 1, 2}});
    EXPECT_EQ(Query(SNMP_PDU_GETNEXT, unserved).status, SNMP_ERRORSTATUS_NOSUCHNAME);
    EXPECT_EQ(Trace(), "Enter\r\nEnter\r\nEnter\r\n");
}

TEST_F(GetNextRequestTest, SilentApplicationTimesOutWithResourceUnavailableEvenOnSessionZero) {
    memory_.OpenSession(0, 39917, 5, 5);
    BindingList bindings({{1, 3, 6, 1, 4, 1, 39917, 5, 5, 1}});
    const auto before = Snapshot(bindings[0]);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Query(SNMP_PDU_GETNEXT, bindings).status, SNMP_ERRORSTATUS_RESOURCEUNAVAILABLE);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // GETNEXT looks before it sleeps, so the same 41 sleeps make its wait.
    EXPECT_GE(seconds, 2.04);
    EXPECT_LT(seconds, 2.6);
    EXPECT_EQ(Snapshot(bindings[0]), before);
    EXPECT_EQ(memory_.OutRingCount(0), 1);
    EXPECT_EQ(Trace(), "Enter\r\n");
}

}  // namespace
