// SnmpExtensionQuery: dispatch, the OID and session checks before any
// application is asked, and the reply wait (time-outs, stale replies,
// sequence numbers, a session released under it).
#include <chrono>
#include <future>
#include <optional>

#include "query/query_fixture.h"
#include "shm/session_views.h"
#include "shm/unique_handle.h"
#include "worker/service_worker.h"

namespace qv::test {
namespace {

using QueryDispatchTest = QueryTest;
const BYTE kGet = SNMP_PDU_GET, kGetNext = SNMP_PDU_GETNEXT, kSet = SNMP_PDU_SET;

TEST_F(QueryDispatchTest, EmptyListAndOtherPduTypesAskNoApplication) {
    SnmpVarBindList empty{nullptr, 0};
    AsnInteger32 status = 77, index = 77;
    EXPECT_TRUE(SnmpExtensionQuery(kGet, &empty, &status, &index));
    EXPECT_EQ(status + index, 0);
    memory_.OpenSession(1, 39917, 1, 1);
    for (BYTE pdu : {BYTE{SNMP_PDU_GETBULK}, BYTE{SNMP_PDU_RESPONSE}, BYTE{0}}) {
        BindingList bindings({Under(39917, {1, 1, 5})});
        const auto before = Snapshot(bindings[0]);
        const auto result = Query(pdu, bindings);
        EXPECT_TRUE(result.result);
        EXPECT_EQ(result.status, SNMP_ERRORSTATUS_NOSUCHNAME) << int{pdu};
        EXPECT_EQ(result.index, 0);
        EXPECT_EQ(Snapshot(bindings[0]), before);
    }
    EXPECT_EQ(memory_.OutCount(1), 0);
}

TEST_F(QueryDispatchTest, EveryBindingIsServedAndTheLastStatusIsReportedWithIndexZero) {
    memory_.OpenSession(2, 4127, 3, 1);
    FakeApplication application(memory_, 2, Answering(Integer(42)));
    BindingList first({Under(9999, {3, 1}), Under(4127, {3, 1, 8})});
    const auto untouched = Snapshot(first[0]);
    EXPECT_EQ(Query(kGet, first).status, SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(Snapshot(first[0]), untouched);
    EXPECT_EQ(first[1].value.asnValue.number, 42);
    BindingList last({Under(4127, {3, 1, 8}), {1, 3, 6, 1, 4, 2, 4127, 3, 1}});
    const auto result = Query(kGet, last);
    EXPECT_EQ(result.status, SNMP_ERRORSTATUS_NOSUCHNAME);
    EXPECT_EQ(result.index, 0);
    EXPECT_EQ(last[0].value.asnValue.number, 42);
}

struct RefusedOid {
    const char* label;
    Ids ids;
};
class RefusedOidTest : public QueryTest, public ::testing::WithParamInterface<std::tuple<BYTE, RefusedOid>> {};

TEST_P(RefusedOidTest, GivesNoSuchNameSendsNothingAndLeavesTheBinding) {
    const auto& [pdu, oid] = GetParam();
    memory_.OpenSession(0, 39917, 1, 1);  // would match AppId 1 / AppInst 1 under any PEN
    BindingList bindings({oid.ids});
    if (pdu == kSet) SetInteger(bindings[0], 5);
    const auto before = Snapshot(bindings[0]);
    EXPECT_EQ(Query(pdu, bindings).status, SNMP_ERRORSTATUS_NOSUCHNAME);
    EXPECT_EQ(Snapshot(bindings[0]), before);
    EXPECT_EQ(memory_.OutCount(0), 0);
    EXPECT_EQ(shm::PeekSequenceNumber(0), 0);
}

Ids LongTail() {
    Ids ids = Under(39917);
    ids.resize(7 + 25, 1);  // one sub-identifier more than a message carries
    return ids;
}
INSTANTIATE_TEST_SUITE_P(
    AllHandlers, RefusedOidTest,
    ::testing::Combine(::testing::Values(kGet, kGetNext, kSet),
                       ::testing::Values(RefusedOid{"Empty", {}}, RefusedOid{"One", {1}}, RefusedOid{"PrefixOnly", {1, 3, 6, 1, 4, 1}},
                                         RefusedOid{"WrongFifth", {1, 3, 6, 1, 4, 2, 39917, 1, 1}},
                                         RefusedOid{"WrongFirst", {2, 3, 6, 1, 4, 1, 39917, 1, 1}},
                                         RefusedOid{"UnservedPen", Under(9999, {1, 1})},
                                         RefusedOid{"PenOffBy256", Under(39917 - 256, {1, 1})},
                                         RefusedOid{"TailLongerThan24", LongTail()})),
    [](const auto& testInfo) {
        const BYTE pdu = std::get<0>(testInfo.param);
        return std::string(pdu == kGet ? "Get" : pdu == kGetNext ? "GetNext" : "Set") + std::get<1>(testInfo.param).label;
    });

TEST_F(QueryDispatchTest, LookupByPenAppIdAndAppInstRefusesUnknownAndNotUpSessions) {
    memory_.OpenSession(4, 5113, 2, 1, 1);
    memory_.OpenSession(5, 5113, -56, -2);
    FakeApplication application(memory_, 5, Answering(Integer(8)));
    for (BYTE pdu : {kGet, kGetNext, kSet}) {
        BindingList unknown({Under(5113, {2, 2, 1})}), opened({Under(5113, {2, 1, 1})}), up({Under(5113 + 65536, {200, 254, 1})});
        if (pdu == kSet) SetInteger(up[0], 1);
        EXPECT_EQ(Query(pdu, unknown).status, SNMP_ERRORSTATUS_READONLY) << int{pdu};
        EXPECT_EQ(Query(pdu, opened).status, SNMP_ERRORSTATUS_NOSUCHNAME) << int{pdu};
        EXPECT_EQ(Query(pdu, up).status, SNMP_ERRORSTATUS_NOERROR) << "AppId and AppInst are signed bytes, PEN 16 bits";
    }
    EXPECT_EQ(memory_.OutCount(4), 0);
    EXPECT_EQ(application.Requests().size(), 3u);
    // An enterprise root other than the status variable addresses AppId 0: no such session.
    for (UINT pen : {5113u, 65536u + 44821u}) {
        BindingList root({Under(pen)});
        EXPECT_EQ(Query(kGet, root).status, SNMP_ERRORSTATUS_READONLY) << pen;
    }
}

// ---- the reply wait -------------------------------------------------------------------

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
        for (Message filler{}; shm::RingAppend(memory_.Out(c.session), filler.data());) {
        }
    } else {
        // Replies keep coming, to other sequence numbers only.
        application.emplace(memory_, c.session, [](const Message& r) {
            return std::vector<Message>{Reply(r, 2, [&](Message& m) { m[0] ^= 1; })};
        });
    }
    BindingList bindings({Under(39917, {1, 1, 1})});
    if (c.pdu == kSet) SetInteger(bindings[0], 1);
    const auto before = Snapshot(bindings[0]);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Query(c.pdu, bindings).status, c.expected);
    // GETNEXT looks before it sleeps, GET and SET after: 41 sleeps of 50 ms either way.
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(seconds, 2.04);
    EXPECT_LT(seconds, 2.3);
    EXPECT_EQ(Snapshot(bindings[0]), before);
    EXPECT_EQ(shm::PeekSequenceNumber(c.session), 1) << "a dropped request takes its number all the same";
}

INSTANTIATE_TEST_SUITE_P(Handlers, ReplyTimeOutTest,
                         ::testing::Values(
                             // Session 0 is the one where GET reports noSuchName instead.
                             TimeOutCase{"GetFullOutRingOnSessionZero", kGet, 0, true, SNMP_ERRORSTATUS_NOSUCHNAME},
                             TimeOutCase{"GetSilentOnOtherSessions", kGet, 3, false, SNMP_ERRORSTATUS_RESOURCEUNAVAILABLE},
                             TimeOutCase{"GetNextEvenOnSessionZero", kGetNext, 0, false, SNMP_ERRORSTATUS_RESOURCEUNAVAILABLE},
                             TimeOutCase{"SetEvenOnSessionZero", kSet, 0, true, SNMP_ERRORSTATUS_RESOURCEUNAVAILABLE}),
                         [](const auto& testInfo) { return std::string(testInfo.param.label); });

TEST_F(QueryDispatchTest, AReplyReadyAtOnceIsTakenAtTheLookAfterOnePollStep) {
    memory_.OpenSession(6, 4127, 1, 1);
    FakeApplication application(memory_, 6, Answering(Integer(1)));
    double fastest = 1;
    for (int i = 0; i < 5; ++i) {
        BindingList bindings({Under(4127, {1, 1, 1})});
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Query(kGet, bindings).status, SNMP_ERRORSTATUS_NOERROR);
        fastest = std::min(fastest, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    EXPECT_GE(fastest, 0.050);
    EXPECT_LT(fastest, 0.058);
}

TEST_F(QueryDispatchTest, StaleRepliesAreDroppedAndSequenceNumbersWrapPerSession) {
    memory_.OpenSession(8, 5113, 1, 1);
    memory_.OpenSession(9, 5113, 2, 1);
    for (int i = 0; i < 65535; ++i) shm::TakeSequenceNumber(9);
    FakeApplication eight(memory_, 8, [](const Message& r) {
        std::vector<Message> replies;
        for (std::uint8_t stale : {1, 100, 255}) replies.push_back(Reply(r, 2, [&](Message& m) { Integer(-9)(m), m[1] ^= stale; }));
        replies.push_back(Reply(r, 2, Integer(10)));
        replies.push_back(Reply(r, 2, Integer(11)));  // a second match stays for the next request to drop
        return replies;
    });
    FakeApplication nine(memory_, 9, Answering(Integer(1)));
    for (UINT appId : {1u, 2u, 1u, 2u}) {
        BindingList bindings({Under(5113, {appId, 1})});
        EXPECT_EQ(Query(kGet, bindings).status, SNMP_ERRORSTATUS_NOERROR);
        EXPECT_EQ(bindings[0].value.asnValue.number, appId == 1 ? 10 : 1);
    }
    ASSERT_EQ(eight.Requests().size(), 2u);
    EXPECT_EQ(U16(eight.Requests()[1], 0), 1);
    EXPECT_EQ(U16(nine.Requests()[0], 0), 65535);
    EXPECT_EQ(U16(nine.Requests()[1], 0), 0);
}

class SessionReleaseTest : public QueryTest, public ::testing::WithParamInterface<BYTE> {};

TEST_P(SessionReleaseTest, QueryWaitingOnATimedOutSessionEndsAsTimedOutAtTheNextLook) {
    std::vector<shm::UniqueMappingHandle> handles;
    auto map = [&](const char* name) {
        handles.emplace_back(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0x100000, name));
        shm::UniqueView view(::MapViewOfFile(handles.back().Get(), FILE_MAP_WRITE, 0, 0, 0));
        shm::RingResetReadIndex(view.Get());
        shm::RingResetWriteIndex(view.Get());
        return view;
    };
    {
        shm::SessionLock lock(5);
        shm::session_views::Install(5, map("Global\\QV_IN1.3.6.1.4.1.39917.5"), map("Global\\QV_OUT1.3.6.1.4.1.39917.5"));
    }
    memory_.Base()->pen[5] = 39917;
    memory_.Base()->appId[5] = memory_.Base()->appInst[5] = 3;
    memory_.Base()->sessionState[5] = 2;
    BindingList bindings({Under(39917, {3, 3, 1})});
    if (GetParam() == kSet) SetInteger(bindings[0], 1);
    const auto start = std::chrono::steady_clock::now();
    auto query = std::async(std::launch::async, [&] { return Query(GetParam(), bindings); });
    while (shm::RingIsEmpty(SnmpSharedMemory::GetSharedMemoryOutputPointer(5))) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    worker::TimeOutSession(5);  // state 0, notice, views released under the session lock
    EXPECT_EQ(query.get().status, SNMP_ERRORSTATUS_RESOURCEUNAVAILABLE);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(bindings[0].value.asnType, GetParam() == kSet ? ASN_INTEGER : ASN_NULL);
}

INSTANTIATE_TEST_SUITE_P(AllHandlers, SessionReleaseTest, ::testing::Values(kGet, kGetNext, kSet));

}  // namespace
}  // namespace qv::test
