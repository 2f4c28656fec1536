// GET: the request message byte for byte, the reply status table, value
// conversion, stale replies, sequence numbers and the time-outs.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "query/agent_memory.h"
#include "query/binding_list.h"
#include "query/query_message.h"
#include "shm/ring.h"
#include "shm/session_sequence.h"
#include "shm/shared_access.h"
#include "support/test_environment.h"

namespace {

using qv::test::BindingList;
using qv::test::BytesAt;
using qv::test::FakeApplication;
using qv::test::Message;
using qv::test::Query;
using qv::test::Snapshot;
using qv::test::U16At;
using Bytes = std::vector<std::uint8_t>;
namespace message = qv::query::message;

std::vector<Message> Answer(Message reply) { return {reply}; }

class GetRequestTest : public ::testing::Test {
protected:
    qv::test::IsolatedEnvironment environment_;
    qv::test::AgentMemory memory_;
};

TEST_F(GetRequestTest, RequestCarriesTheLow8BitsOfEachTailSubIdentifier) {
    memory_.OpenSession(3, 39917, 1, 1);
    FakeApplication application(memory_, 3, [](const Message& r) { return Answer(qv::test::IntegerReply(r, 9)); });
    BindingList bindings({{1, 3, 6, 1, 4, 1, 39917, 1, 1, 300}});
    ASSERT_EQ(Query(SNMP_PDU_GET, bindings).status, SNMP_ERRORSTATUS_NOERROR);

    const auto requests = application.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const Message& request = requests[0];
    EXPECT_EQ(U16At(request, message::kSequence), 0);
    EXPECT_EQ(U16At(request, message::kPen), 39917);
    EXPECT_EQ(BytesAt(request, message::kTail, 24), (Bytes{1, 1, 44, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                           0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(BytesAt(request, 28, 6), Bytes(6, 0));
    EXPECT_EQ(request[message::kOperation], 3);
    EXPECT_EQ(request[message::kStatus], 0);
    EXPECT_EQ(U16At(request, message::kValueLength), 0);
    EXPECT_EQ(request[message::kValueType], 0);
    EXPECT_EQ(request[message::kValueAttribute], 3);
    EXPECT_EQ(request[message::kValue], 1);
    EXPECT_EQ(request[message::kMarker1], 1);
    EXPECT_EQ(request[message::kMarker2], 2);
    EXPECT_EQ(BytesAt(request, 1002, 16), Bytes(16, 0));
    // The name is left as the request gave it.
    EXPECT_EQ(qv::test::IdsOf(bindings[0].name), (std::vector<UINT>{1, 3, 6, 1, 4, 1, 39917, 1, 1, 300}));
}

TEST_F(GetRequestTest, AShortOidAddressesAppInstZeroAndALongOneFillsAll24TailBytes) {
    memory_.OpenSession(5, 5113, 7, 0);
    memory_.OpenSession(6, 4127, 1, 2);
    FakeApplication short_(memory_, 5, [](const Message& r) { return Answer(qv::test::IntegerReply(r, 1)); });
    FakeApplication long_(memory_, 6, [](const Message& r) { return Answer(qv::test::IntegerReply(r, 2)); });

    BindingList shortOid({{1, 3, 6, 1, 4, 1, 5113, 7}});
    EXPECT_EQ(Query(SNMP_PDU_GET, shortOid).status, SNMP_ERRORSTATUS_NOERROR);
    ASSERT_EQ(short_.Requests().size(), 1u);
    EXPECT_EQ(BytesAt(short_.Requests()[0], message::kTail, 3), (Bytes{7, 0, 0}));

    std::vector<UINT> ids = {1, 3, 6, 1, 4, 1, 4127, 1, 2};
    for (UINT i = 3; i <= 24; ++i) ids.push_back(i + 0x100);  // 24 tail sub-identifiers in all
    BindingList longOid({ids});
    EXPECT_EQ(Query(SNMP_PDU_GET, longOid).status, SNMP_ERRORSTATUS_NOERROR);
    ASSERT_EQ(long_.Requests().size(), 1u);
    Bytes expected = {1, 2};
    for (std::uint8_t i = 3; i <= 24; ++i) expected.push_back(i);
    EXPECT_EQ(BytesAt(long_.Requests()[0], message::kTail, 24), expected);
    EXPECT_EQ(long_.Requests()[0][28], 0) << "the terminator of a full tail";
}

TEST_F(GetRequestTest, PenIsTakenFromTheLow16BitsOfSubIdentifierSix) {
    memory_.OpenSession(1, 4127, 1, 1);
    FakeApplication application(memory_, 1, [](const Message& r) { return Answer(qv::test::IntegerReply(r, 3)); });
    BindingList bindings({{1, 3, 6, 1, 4, 1, 65536 + 4127, 1, 1, 2}});
    EXPECT_EQ(Query(SNMP_PDU_GET, bindings).status, SNMP_ERRORSTATUS_NOERROR);
    ASSERT_EQ(application.Requests().size(), 1u);
    EXPECT_EQ(U16At(application.Requests()[0], message::kPen), 4127);
}

// ---- reply status table -------------------------------------------------------------

struct StatusCase {
    std::uint8_t code;
    AsnInteger32 expected;
};

class GetReplyStatusTest : public ::testing::TestWithParam<StatusCase> {
protected:
    qv::test::IsolatedEnvironment environment_;
    qv::test::AgentMemory memory_;
};

TEST_P(GetReplyStatusTest, MapsToTheErrorStatusAndLeavesAFailedBindingAlone) {
    const StatusCase c = GetParam();
    memory_.OpenSession(2, 44821, 4, 4);
    FakeApplication application(memory_, 2, [&](const Message& r) {
        // Every reply carries a value, which only status 2 may use.
        Message reply = qv::test::IntegerReply(r, 1234);
        reply[message::kStatus] = c.code;
        return Answer(reply);
    });
    BindingList bindings({{1, 3, 6, 1, 4, 1, 44821, 4, 4, 1}});
    const auto before = Snapshot(bindings[0]);
    EXPECT_EQ(Query(SNMP_PDU_GET, bindings).status, c.expected);
    if (c.expected == SNMP_ERRORSTATUS_NOERROR) {
        EXPECT_EQ(bindings[0].value.asnType, ASN_INTEGER);
        EXPECT_EQ(bindings[0].value.asnValue.number, 1234);
    } else {
        EXPECT_EQ(Snapshot(bindings[0]), before);
    }
}

INSTANTIATE_TEST_SUITE_P(Codes, GetReplyStatusTest,
                         ::testing::Values(StatusCase{2, 0}, StatusCase{3, 5}, StatusCase{4, 2}, StatusCase{5, 4},
                                           StatusCase{6, 3}, StatusCase{0, 2}, StatusCase{1, 2}, StatusCase{7, 2},
                                           StatusCase{9, 2}, StatusCase{255, 2}),
                         [](const auto& testInfo) { return "Code" + std::to_string(testInfo.param.code); });

// ---- values ------------------------------------------------------------------------

class GetValueTest : public GetRequestTest {
protected:
    GetValueTest() { memory_.OpenSession(7, 39917, 2, 2); }

    // Serves one GET whose reply `edit` shapes from a status-2 reply.
    template <typename Edit>
    AsnInteger32 Get(BindingList& bindings, Edit edit) {
        FakeApplication application(memory_, 7, [&](const Message& r) {
            Message reply = qv::test::Reply(r, 2);
            edit(reply);
            return Answer(reply);
        });
        return Query(SNMP_PDU_GET, bindings).status;
    }
};

TEST_F(GetValueTest, IntegerIsTheSigned32BitValueAtOffset40) {
    BindingList bindings({{1, 3, 6, 1, 4, 1, 39917, 2, 2, 1}});
    EXPECT_EQ(Get(bindings, [](Message& m) {
                  m[message::kValueType] = ASN_INTEGER;
                  std::memset(m.data() + message::kValue, 0xFF, 4);
              }),
              SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(bindings[0].value.asnType, ASN_INTEGER);
    EXPECT_EQ(bindings[0].value.asnValue.number, -1);
}

TEST_F(GetValueTest, OctetStringIsCopiedUpToItsZeroByteWithoutTerminator) {
    BindingList bindings({{1, 3, 6, 1, 4, 1, 39917, 2, 2, 1}, {1, 3, 6, 1, 4, 1, 39917, 2, 2, 2}});
    FakeApplication application(memory_, 7, [](const Message& r) {
        return Answer(qv::test::TextReply(r, r[message::kTail + 2] == 1 ? std::string("abc") : std::string()));
    });
    EXPECT_EQ(Query(SNMP_PDU_GET, bindings).status, SNMP_ERRORSTATUS_NOERROR);
    const AsnOctetString& abc = bindings[0].value.asnValue.string;
    EXPECT_EQ(bindings[0].value.asnType, ASN_OCTETSTRING);
    EXPECT_EQ(abc.length, 3u);
    EXPECT_EQ(abc.dynamic, TRUE);
    EXPECT_EQ(qv::test::TextOf(bindings[0].value), "abc");
    // A zero byte at offset 40 is the empty string.
    EXPECT_EQ(bindings[1].value.asnType, ASN_OCTETSTRING);
    EXPECT_EQ(bindings[1].value.asnValue.string.length, 0u);
}

TEST_F(GetValueTest, LongestStringEndsAtOffset1023AndOneWithoutZeroByteFailsWithGenErr) {
    BindingList longest({{1, 3, 6, 1, 4, 1, 39917, 2, 2, 1}});
    EXPECT_EQ(Get(longest, [](Message& m) {
                  m[message::kValueType] = ASN_OCTETSTRING;
                  std::memset(m.data() + message::kValue, 'x', 1023 - message::kValue);
              }),
              SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(longest[0].value.asnValue.string.length, 983u);

    BindingList unterminated({{1, 3, 6, 1, 4, 1, 39917, 2, 2, 1}});
    const auto before = Snapshot(unterminated[0]);
    EXPECT_EQ(Get(unterminated, [](Message& m) {
                  m[message::kValueType] = ASN_OCTETSTRING;
                  std::memset(m.data() + message::kValue, 'x', m.size() - message::kValue);
              }),
              SNMP_ERRORSTATUS_GENERR);
    EXPECT_EQ(Snapshot(unterminated[0]), before);
}

TEST_F(GetValueTest, OtherTypeSetsOnlyTheTypeWhenTheValueMeansTheSameUnderIt) {
    BindingList bindings({{1, 3, 6, 1, 4, 1, 39917, 2, 2, 1}});
    bindings[0].value.asnType = ASN_INTEGER;
    bindings[0].value.asnValue.number = 77;
    EXPECT_EQ(Get(bindings, [](Message& m) {
                  m[message::kValueType] = ASN_COUNTER32;
                  qv::shm::WriteI32(m.data() + message::kValue, 5);
              }),
              SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(bindings[0].value.asnType, ASN_COUNTER32);
    EXPECT_EQ(bindings[0].value.asnValue.number, 77);
}

TEST_F(GetValueTest, OtherTypeNeverTurnsNumberBitsIntoAPointer) {
    // A manager may put any value into a GET binding. Under an octet type the
    // service would free the number's bits as a stream.
    BindingList bindings({{1, 3, 6, 1, 4, 1, 39917, 2, 2, 1}});
    bindings[0].value.asnType = ASN_INTEGER;
    bindings[0].value.asnValue.number = 0x41414141;
    bindings[0].value.asnValue.string.dynamic = TRUE;
    EXPECT_EQ(Get(bindings, [](Message& m) { m[message::kValueType] = ASN_IPADDRESS; }), SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(bindings[0].value.asnType, ASN_IPADDRESS);
    EXPECT_EQ(bindings[0].value.asnValue.string.stream, nullptr);
    EXPECT_EQ(bindings[0].value.asnValue.string.length, 0u);
}

TEST_F(GetValueTest, AnOwnedValueTheServicePutInIsReleasedWhenReplaced) {
    // Under LeakSanitizer a stream lost here shows as a leak: the list's free
    // only sees the new value.
    BindingList bindings({{1, 3, 6, 1, 4, 1, 39917, 2, 2, 1}, {1, 3, 6, 1, 4, 1, 39917, 2, 2, 2}});
    for (UINT i = 0; i < 2; ++i) {
        auto* old = static_cast<BYTE*>(SnmpUtilMemAlloc(16));
        bindings[i].value.asnType = ASN_OCTETSTRING;
        bindings[i].value.asnValue.string = AsnOctetString{old, 16, TRUE};
    }
    FakeApplication application(memory_, 7, [](const Message& r) {
        Message reply = qv::test::IntegerReply(r, 8);
        if (r[message::kTail + 2] == 2) reply[message::kValueType] = ASN_COUNTER32;  // not an octet type
        return Answer(reply);
    });
    EXPECT_EQ(Query(SNMP_PDU_GET, bindings).status, SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(bindings[0].value.asnType, ASN_INTEGER);
    EXPECT_EQ(bindings[0].value.asnValue.number, 8);
    EXPECT_EQ(bindings[1].value.asnType, ASN_COUNTER32);
    EXPECT_EQ(bindings[1].value.asnValue.number, 0);
}

// ---- stale replies and sequence numbers -------------------------------------------------

TEST_F(GetRequestTest, RepliesWithOtherSequenceNumbersAreDroppedBeforeTheMatchingOne) {
    memory_.OpenSession(8, 5113, 1, 1);
    FakeApplication application(memory_, 8, [](const Message& r) {
        std::vector<Message> replies;
        for (std::uint16_t offset : {1, 100, 65535}) {
            Message stale = qv::test::IntegerReply(r, -9);
            qv::shm::WriteU16(stale.data(), static_cast<std::uint16_t>(U16At(r, 0) + offset));
            replies.push_back(stale);
        }
        replies.push_back(qv::test::IntegerReply(r, 10));
        replies.push_back(qv::test::IntegerReply(r, 11));  // a second match stays for later
        return replies;
    });
    BindingList bindings({{1, 3, 6, 1, 4, 1, 5113, 1, 1, 1}});
    EXPECT_EQ(Query(SNMP_PDU_GET, bindings).status, SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(bindings[0].value.asnValue.number, 10);
    // The duplicate is still waiting; the next request (sequence 1) drops it.
    EXPECT_EQ(qv::shm::LoadRingIndices(memory_.InRegion(8)).Count(), 1);
    BindingList next({{1, 3, 6, 1, 4, 1, 5113, 1, 1, 2}});
    EXPECT_EQ(Query(SNMP_PDU_GET, next).status, SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(next[0].value.asnValue.number, 10);
    EXPECT_EQ(U16At(application.Requests()[1], 0), 1);
}

TEST_F(GetRequestTest, SequenceNumbersWrapPerSessionAndSessionsCountApart) {
    memory_.OpenSession(9, 39917, 9, 1);
    memory_.OpenSession(10, 39917, 10, 1);
    for (int i = 0; i < 65535; ++i) qv::shm::TakeSequenceNumber(9);
    FakeApplication nine(memory_, 9, [](const Message& r) { return Answer(qv::test::IntegerReply(r, 1)); });
    FakeApplication ten(memory_, 10, [](const Message& r) { return Answer(qv::test::IntegerReply(r, 1)); });
    for (int i = 0; i < 2; ++i) {
        BindingList a({{1, 3, 6, 1, 4, 1, 39917, 9, 1}});
        EXPECT_EQ(Query(SNMP_PDU_GET, a).status, SNMP_ERRORSTATUS_NOERROR);
        BindingList b({{1, 3, 6, 1, 4, 1, 39917, 10, 1}});
        EXPECT_EQ(Query(SNMP_PDU_GET, b).status, SNMP_ERRORSTATUS_NOERROR);
    }
    ASSERT_EQ(nine.Requests().size(), 2u);
    ASSERT_EQ(ten.Requests().size(), 2u);
    EXPECT_EQ(U16At(nine.Requests()[0], 0), 65535);
    EXPECT_EQ(U16At(nine.Requests()[1], 0), 0);
    EXPECT_EQ(U16At(ten.Requests()[0], 0), 0);
    EXPECT_EQ(U16At(ten.Requests()[1], 0), 1);
}

// ---- time-outs (about 2.05 s each) ------------------------------------------------------

double SecondsOf(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

TEST_F(GetRequestTest, FullOutRingTimesOutWithNoSuchNameOnSessionZero) {
    memory_.OpenSession(0, 39917, 1, 1);
    memory_.FillOutRing(0);
    BindingList bindings({{1, 3, 6, 1, 4, 1, 39917, 1, 1, 1}});
    const auto before = Snapshot(bindings[0]);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Query(SNMP_PDU_GET, bindings).status, SNMP_ERRORSTATUS_NOSUCHNAME);
    const double seconds = SecondsOf(std::chrono::steady_clock::now() - start);
    EXPECT_GE(seconds, 2.04);
    EXPECT_LT(seconds, 2.6);
    EXPECT_EQ(Snapshot(bindings[0]), before);
    EXPECT_EQ(qv::shm::PeekSequenceNumber(0), 1) << "the dropped request took its number all the same";
}

TEST_F(GetRequestTest, SilentApplicationTimesOutWithResourceUnavailableOnOtherSessions) {
    memory_.OpenSession(3, 39917, 1, 1);
    // Replies to other requests keep coming; none matches.
    FakeApplication application(memory_, 3, [](const Message& r) {
        Message stale = qv::test::IntegerReply(r, 1);
        qv::shm::WriteU16(stale.data(), static_cast<std::uint16_t>(U16At(r, 0) + 1));
        return Answer(stale);
    });
    BindingList bindings({{1, 3, 6, 1, 4, 1, 39917, 1, 1, 1}});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Query(SNMP_PDU_GET, bindings).status, SNMP_ERRORSTATUS_RESOURCEUNAVAILABLE);
    const double seconds = SecondsOf(std::chrono::steady_clock::now() - start);
    EXPECT_GE(seconds, 2.04);
    EXPECT_LT(seconds, 2.6);
    EXPECT_EQ(bindings[0].value.asnType, ASN_NULL);
}

}  // namespace
