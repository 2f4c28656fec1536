// GETNEXT: the next name built from the replied tail, the trace lines, and the
// cases where the binding stays as it was.
#include "log/trace.h"
#include "query/query_fixture.h"

namespace qv::test {
namespace {

class GetNextRequestTest : public QueryTest {
protected:
    GetNextRequestTest() {
        environment_.CreateDebugDirectory();
        // The module opened its stream at load, before this test's C: drive existed.
        qv::trace::GetNextRequestStream().close();
        qv::trace::GetNextRequestStream().open(qv::trace::kGetNextPath, std::ios_base::out);
        memory_.OpenSession(1, 5113, 1, 2);
    }
    ~GetNextRequestTest() override { qv::trace::GetNextRequestStream().close(); }
    std::string Trace() const { return ReadFileBytes(environment_.DebugDirectory() / "GetNextRequest.txt"); }
    // One GETNEXT of `name` answered with INTEGER 55, status `status`, and the replied tail `tail`.
    AsnInteger32 GetNext(BindingList& bindings, const Bytes& tail, std::uint8_t status = 2) {
        return Serve(1, SNMP_PDU_GETNEXT, bindings, Answering([tail](Message& m) {
                         Integer(55)(m);
                         std::copy(tail.begin(), tail.end(), m.begin() + kTail);
                     }, status));
    }
};

TEST_F(GetNextRequestTest, NameBecomesTheSignExtendedRepliedTailUnderAll32BitsOfTheEnterprise) {
    BindingList bindings({Under(65536 + 5113, {1, 2, 9})});
    ASSERT_EQ(GetNext(bindings, {1, 2, 200, 128, 127, 255}), SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(IdsOf(bindings[0].name), Under(65536 + 5113, {1, 2, 4294967240u, 4294967168u, 127, 4294967295u}));
    EXPECT_EQ(bindings[0].value.asnValue.number, 55);
    Message expected = ExpectedRequest(5113, {1, 2, 9}, 5);
    expected[kValue] = 1;
    EXPECT_EQ(requests_.at(0), expected);
    EXPECT_EQ(Trace(), "Enter\r\nExit\r\n");
}

TEST_F(GetNextRequestTest, TailWithoutZeroByteGivesExactly32SubIdentifiersAndAnEmptyOneAnEmptyName) {
    BindingList full({Under(5113, {1, 2})});
    // Offsets 4..35: 30 bytes of 9, then the operation byte 6 and the status 2; offset 36 is not taken.
    ASSERT_EQ(GetNext(full, {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 6, 2, 0x33}),
              SNMP_ERRORSTATUS_NOERROR);
    Ids expected = Under(5113);
    expected.insert(expected.end(), 30, 9);
    expected.insert(expected.end(), {6, 2});
    EXPECT_EQ(IdsOf(full[0].name), expected);
    BindingList empty({Under(5113, {1, 2, 7})});
    ASSERT_EQ(GetNext(empty, {}), SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(empty[0].name.idLength, 0u);
    EXPECT_EQ(empty[0].value.asnValue.number, 55);
}

TEST_F(GetNextRequestTest, FailedReplyLeavesTheBindingAndWritesNoExit) {
    for (std::uint8_t code : {9, 4, 3}) {
        BindingList bindings({Under(5113, {1, 2})});
        const auto before = Snapshot(bindings[0]);
        EXPECT_EQ(GetNext(bindings, {1, 2, 3}, code), code == 3 ? SNMP_ERRORSTATUS_GENERR : SNMP_ERRORSTATUS_NOSUCHNAME);
        EXPECT_EQ(Snapshot(bindings[0]), before);
    }
    EXPECT_EQ(Trace(), "Enter\r\nEnter\r\nEnter\r\n");
}

TEST_F(GetNextRequestTest, StatusVariableAnswersItselfUnderItsLow16BitsAndRefusalsWriteOnlyEnter) {
    for (UINT pen : {44821u, 65536u + 44821u}) {
        BindingList status({Under(pen)});
        EXPECT_EQ(Query(SNMP_PDU_GETNEXT, status).status, SNMP_ERRORSTATUS_NOERROR);
        EXPECT_EQ(IdsOf(status[0].name), Under(pen));
        EXPECT_EQ(TextOf(status[0].value).substr(0, 5), "S[1]:");
    }
    BindingList unserved({Under(1234, {1, 2})});
    EXPECT_EQ(Query(SNMP_PDU_GETNEXT, unserved).status, SNMP_ERRORSTATUS_NOSUCHNAME);
    EXPECT_EQ(Trace(), "Enter\r\nEnter\r\nEnter\r\n");
}

}  // namespace
}  // namespace qv::test
