// SnmpExtensionQuery: dispatch by PDU type, the per-binding status, and the
// OID checks every handler makes before it contacts an application.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <vector>

#include "query/query_fixture.h"
#include "shm/session_sequence.h"

namespace {

using namespace qv::test;

using QueryDispatchTest = QueryTest;

TEST_F(QueryDispatchTest, EmptyListReturnsAtOnceWithStatusAndIndexZero) {
    SnmpVarBindList empty{nullptr, 0};
    AsnInteger32 status = 77;
    AsnInteger32 index = 77;
    EXPECT_TRUE(SnmpExtensionQuery(SNMP_PDU_GET, &empty, &status, &index));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(index, 0);
}

TEST_F(QueryDispatchTest, OtherPduTypesGiveNoSuchNameAndChangeNothing) {
    memory_.OpenSession(1, 39917, 1, 1);
    FakeApplication application(memory_, 1, IntegerAnswer(1));
    for (BYTE pdu : {BYTE{SNMP_PDU_GETBULK}, BYTE{SNMP_PDU_RESPONSE}, BYTE{0}}) {
        BindingList bindings({Under(39917, {1, 1, 5})});
        const auto before = Snapshot(bindings[0]);
        const auto result = Query(pdu, bindings);
        EXPECT_TRUE(result.result);
        EXPECT_EQ(result.status, SNMP_ERRORSTATUS_NOSUCHNAME) << int{pdu};
        EXPECT_EQ(result.index, 0);
        EXPECT_EQ(Snapshot(bindings[0]), before);
    }
    EXPECT_TRUE(application.Requests().empty());
}

TEST_F(QueryDispatchTest, EveryBindingIsServedAndTheLastStatusIsReported) {
    memory_.OpenSession(2, 4127, 3, 1);
    FakeApplication application(memory_, 2, IntegerAnswer(42));
    {
        // Unserved PEN first, success second: status 0, first binding untouched.
        BindingList bindings({Under(9999, {3, 1}), Under(4127, {3, 1, 8})});
        const auto first = Snapshot(bindings[0]);
        const auto result = Query(SNMP_PDU_GET, bindings);
        EXPECT_EQ(result.status, SNMP_ERRORSTATUS_NOERROR);
        EXPECT_EQ(result.index, 0);
        EXPECT_EQ(Snapshot(bindings[0]), first);
        EXPECT_EQ(bindings[1].value.asnType, ASN_INTEGER);
        EXPECT_EQ(bindings[1].value.asnValue.number, 42);
    }
    {
        // Success first, failure last: the failure is what the service sees,
        // and the index still stays 0.
        BindingList bindings({Under(4127, {3, 1, 8}), {1, 3, 6, 1, 4, 2, 4127, 3, 1}});
        const auto result = Query(SNMP_PDU_GET, bindings);
        EXPECT_EQ(result.status, SNMP_ERRORSTATUS_NOSUCHNAME);
        EXPECT_EQ(result.index, 0);
        EXPECT_EQ(bindings[0].value.asnValue.number, 42);
    }
    EXPECT_EQ(application.Requests().size(), 2u);
}

// ---- OID checks, the same for all three handlers ------------------------------------

struct RefusedOid {
    const char* label;
    std::vector<UINT> ids;
};

class RefusedOidTest : public QueryTest, public ::testing::WithParamInterface<std::tuple<BYTE, RefusedOid>> {};

std::string HandlerName(BYTE pdu) {
    return pdu == SNMP_PDU_GET ? "Get" : pdu == SNMP_PDU_GETNEXT ? "GetNext" : "Set";
}

TEST_P(RefusedOidTest, GivesNoSuchNameSendsNothingAndLeavesTheBinding) {
    const auto& [pdu, oid] = GetParam();
    // A session that would match AppId 1 / AppInst 1 under every served PEN is
    // up, so a refusal cannot come from the lookup.
    memory_.OpenSession(0, 39917, 1, 1);
    BindingList bindings({oid.ids});
    if (pdu == SNMP_PDU_SET) {
        bindings[0].value.asnType = ASN_INTEGER;
        bindings[0].value.asnValue.number = 5;
    }
    const auto before = Snapshot(bindings[0]);
    const auto result = Query(pdu, bindings);
    EXPECT_EQ(result.status, SNMP_ERRORSTATUS_NOSUCHNAME);
    EXPECT_EQ(Snapshot(bindings[0]), before);
    EXPECT_EQ(memory_.OutRingCount(0), 0);
    EXPECT_EQ(qv::shm::PeekSequenceNumber(0), 0);
}

std::vector<RefusedOid> RefusedOids() {
    Ids longTail = Under(39917);
    longTail.resize(7 + 25, 1);  // one sub-identifier more than the message carries
    return {
        {"Empty", {}},
        {"OneSubIdentifier", {1}},
        {"PrefixOnly", {1, 3, 6, 1, 4, 1}},
        {"WrongFifth", {1, 3, 6, 1, 4, 2, 39917, 1, 1}},
        {"WrongFirst", {2, 3, 6, 1, 4, 1, 39917, 1, 1}},
        {"UnservedPen", {1, 3, 6, 1, 4, 1, 9999, 1, 1}},
        {"PenOffBy256", {1, 3, 6, 1, 4, 1, 39917 - 256, 1, 1}},
        {"TailLongerThan24", longTail},
    };
}

INSTANTIATE_TEST_SUITE_P(AllHandlers, RefusedOidTest,
                         ::testing::Combine(::testing::Values(BYTE{SNMP_PDU_GET}, BYTE{SNMP_PDU_GETNEXT},
                                                              BYTE{SNMP_PDU_SET}),
                                            ::testing::ValuesIn(RefusedOids())),
                         [](const auto& testInfo) {
                             return HandlerName(std::get<0>(testInfo.param)) + std::get<1>(testInfo.param).label;
                         });

TEST_F(QueryDispatchTest, NoSessionGivesReadOnlyAndASessionNotUpGivesNoSuchName) {
    memory_.OpenSession(4, 5113, 2, 1, qv::shm::kSessionOpened);
    for (BYTE pdu : {BYTE{SNMP_PDU_GET}, BYTE{SNMP_PDU_GETNEXT}, BYTE{SNMP_PDU_SET}}) {
        BindingList unknown({Under(5113, {2, 2, 1})});
        EXPECT_EQ(Query(pdu, unknown).status, SNMP_ERRORSTATUS_READONLY) << int{pdu};
        BindingList opened({Under(5113, {2, 1, 1})});
        const auto before = Snapshot(opened[0]);
        EXPECT_EQ(Query(pdu, opened).status, SNMP_ERRORSTATUS_NOSUCHNAME) << int{pdu};
        EXPECT_EQ(Snapshot(opened[0]), before);
    }
    EXPECT_EQ(memory_.OutRingCount(4), 0);
}

TEST_F(QueryDispatchTest, AnEnterpriseRootOtherThanTheStatusVariableAddressesAppIdZero) {
    // No session has AppId 0, so the lookup fails with readOnly. GET needs all
    // 32 bits of the PEN to answer the status variable itself.
    memory_.OpenSession(0, 5113, 1, 1);
    for (UINT pen : {5113u, 65536u + 44821u}) {
        BindingList get({Under(pen)});
        EXPECT_EQ(Query(SNMP_PDU_GET, get).status, SNMP_ERRORSTATUS_READONLY) << pen;
        EXPECT_EQ(get[0].value.asnType, ASN_NULL);
    }
    BindingList getNext({Under(5113)});
    EXPECT_EQ(Query(SNMP_PDU_GETNEXT, getNext).status, SNMP_ERRORSTATUS_READONLY);
}

// ---- reply time-outs (about 2.05 s each) ------------------------------------------------

struct TimeOutCase {
    const char* label;
    BYTE pdu;
    int session;
    bool fullOutRing;  // the request is dropped instead of sent
    AsnInteger32 expected;
};

class ReplyTimeOutTest : public QueryTest, public ::testing::WithParamInterface<TimeOutCase> {};

TEST_P(ReplyTimeOutTest, EndsAfterTheWaitAndLeavesTheBinding) {
    const TimeOutCase& c = GetParam();
    memory_.OpenSession(c.session, 39917, 1, 1);
    std::optional<FakeApplication> application;
    if (c.fullOutRing) {
        memory_.FillOutRing(c.session);
    } else {
        // Replies to other requests keep coming; none matches.
        application.emplace(memory_, c.session, StaleAnswer());
    }
    BindingList bindings({Under(39917, {1, 1, 1})});
    if (c.pdu == SNMP_PDU_SET) bindings[0].value.asnType = ASN_INTEGER;
    const auto before = Snapshot(bindings[0]);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Query(c.pdu, bindings).status, c.expected);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // GETNEXT looks before it sleeps, GET and SET after: the same 41 sleeps.
    EXPECT_GE(seconds, 2.04);
    EXPECT_LT(seconds, 2.6);
    EXPECT_EQ(Snapshot(bindings[0]), before);
    EXPECT_EQ(qv::shm::PeekSequenceNumber(c.session), 1) << "a dropped request takes its number all the same";
    if (application) {
        EXPECT_EQ(application->Requests().size(), 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Handlers, ReplyTimeOutTest,
    ::testing::Values(
        // Session 0 is the one where GET reports noSuchName instead.
        TimeOutCase{"GetFullOutRingOnSessionZero", SNMP_PDU_GET, 0, true, SNMP_ERRORSTATUS_NOSUCHNAME},
        TimeOutCase{"GetSilentOnOtherSessions", SNMP_PDU_GET, 3, false, SNMP_ERRORSTATUS_RESOURCEUNAVAILABLE},
        TimeOutCase{"GetNextSilentEvenOnSessionZero", SNMP_PDU_GETNEXT, 0, false, SNMP_ERRORSTATUS_RESOURCEUNAVAILABLE},
        TimeOutCase{"SetSilentEvenOnSessionZero", SNMP_PDU_SET, 0, false, SNMP_ERRORSTATUS_RESOURCEUNAVAILABLE}),
    [](const auto& testInfo) { return std::string(testInfo.param.label); });

}  // namespace
