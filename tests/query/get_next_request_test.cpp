// GETNEXT: the next OID built from the reply's tail, its trace lines, and the
// cases where the binding must stay as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "log/trace.h"
#include "query/query_fixture.h"

namespace {

using namespace qv::test;

class GetNextRequestTest : public QueryTest {
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

    std::string Trace() const { return ReadFileBytes(environment_.DebugDirectory() / "GetNextRequest.txt"); }

    // One GETNEXT answered with INTEGER 55 under the tail `edit` writes.
    AsnInteger32 GetNext(BindingList& bindings, std::function<void(Message&)> edit) {
        return Serve(1, SNMP_PDU_GETNEXT, bindings, Answering([edit](Message& m) {
                         m[message::kValueType] = ASN_INTEGER;
                         m[message::kValue] = 55;
                         edit(m);
                     }));
    }
    static auto Tail(const Bytes& tail) {
        return [tail](Message& reply) { std::copy(tail.begin(), tail.end(), reply.begin() + message::kTail); };
    }
};

TEST_F(GetNextRequestTest, NameBecomesTheSignExtendedRepliedTailUnderAll32BitsOfTheEnterprise) {
    BindingList bindings({Under(65536 + 5113, {1, 2, 9})});
    ASSERT_EQ(GetNext(bindings, Tail({1, 2, 200, 128, 127, 255})), SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(IdsOf(bindings[0].name), Under(65536 + 5113, {1, 2, 4294967240u, 4294967168u, 127, 4294967295u}));
    EXPECT_EQ(bindings[0].value.asnType, ASN_INTEGER);
    EXPECT_EQ(bindings[0].value.asnValue.number, 55);
    ASSERT_EQ(requests_.size(), 1u);
    EXPECT_EQ(U16At(requests_[0], message::kPen), 5113);
    EXPECT_EQ(requests_[0][message::kOperation], 5);
    EXPECT_EQ(requests_[0][message::kValue], 1);
    EXPECT_EQ(Trace(), "Enter\r\nExit\r\n");
}

TEST_F(GetNextRequestTest, TailWithoutZeroByteGivesExactly32SubIdentifiers) {
    BindingList bindings({Under(5113, {1, 2})});
    // Offsets 4..35: 30 bytes of 9, then the operation byte and the status 2.
    ASSERT_EQ(GetNext(bindings,
                      [](Message& m) {
                          std::memset(m.data() + message::kTail, 9, message::kOperation - message::kTail);
                          m[message::kOperation] = 6;
                          m[message::kValueLength] = 0x33;  // offset 36: must not be taken
                      }),
              SNMP_ERRORSTATUS_NOERROR);
    Ids expected = Under(5113);
    expected.insert(expected.end(), 30, 9);
    expected.push_back(6);
    expected.push_back(2);
    EXPECT_EQ(IdsOf(bindings[0].name), expected);
}

TEST_F(GetNextRequestTest, EmptyTailGivesAnEmptyNameWithTheRepliedValue) {
    BindingList bindings({Under(5113, {1, 2, 7})});
    ASSERT_EQ(GetNext(bindings, Tail({})), SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(bindings[0].name.idLength, 0u);
    EXPECT_EQ(bindings[0].value.asnValue.number, 55);
    EXPECT_EQ(Trace(), "Enter\r\nExit\r\n");
}

TEST_F(GetNextRequestTest, FailedReplyLeavesTheBindingAndWritesNoExit) {
    for (std::uint8_t code : {9, 4, 3}) {
        BindingList bindings({Under(5113, {1, 2})});
        const auto before = Snapshot(bindings[0]);
        const AsnInteger32 status = GetNext(bindings, [&](Message& m) {
            Tail({1, 2, 3})(m);
            m[message::kStatus] = code;
        });
        EXPECT_EQ(status, code == 3 ? SNMP_ERRORSTATUS_GENERR : SNMP_ERRORSTATUS_NOSUCHNAME) << int{code};
        EXPECT_EQ(Snapshot(bindings[0]), before);
    }
    EXPECT_EQ(Trace(), "Enter\r\nEnter\r\nEnter\r\n");
}

TEST_F(GetNextRequestTest, StatusVariableAnswersItselfAndRefusalsWriteOnlyEnter) {
    BindingList status({Under(44821)});
    EXPECT_EQ(Query(SNMP_PDU_GETNEXT, status).status, SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(IdsOf(status[0].name), Under(44821));
    EXPECT_EQ(TextOf(status[0].value).substr(0, 5), "S[1]:");
    // The low 16 bits decide here.
    BindingList wide({Under(65536 + 44821)});
    EXPECT_EQ(Query(SNMP_PDU_GETNEXT, wide).status, SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(IdsOf(wide[0].name), Under(65536 + 44821));
    EXPECT_EQ(wide[0].value.asnType, ASN_OCTETSTRING);

    BindingList unserved({Under(1234, {1, 2})});
    EXPECT_EQ(Query(SNMP_PDU_GETNEXT, unserved).status, SNMP_ERRORSTATUS_NOSUCHNAME);
    EXPECT_EQ(Trace(), "Enter\r\nEnter\r\nEnter\r\n");
}

}  // namespace
