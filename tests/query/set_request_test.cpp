// SET: the value fields of the request, refusals that send nothing, and a
// binding that never changes.
#include "query/query_fixture.h"

namespace qv::test {
namespace {

struct SetCase {
    const char* label;
    std::function<void(SnmpVarBind&)> value;
    std::uint16_t length;
    std::uint8_t type;
    Bytes bytes;  // from offset 40
};

class SetRequestTest : public QueryTest, public ::testing::WithParamInterface<SetCase> {
protected:
    SetRequestTest() { memory_.OpenSession(2, 39917, 2, 1); }
    AsnInteger32 Set(BindingList& bindings, std::uint8_t status = 2) {
        return Serve(2, SNMP_PDU_SET, bindings, Answering({}, status));
    }
};

TEST_P(SetRequestTest, SendsTheValueWithLengthAndTypeAndLeavesTheBinding) {
    BindingList bindings({Under(39917, {2, 1, 4})});
    GetParam().value(bindings[0]);
    const auto before = Snapshot(bindings[0]);
    EXPECT_EQ(Set(bindings), SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(Snapshot(bindings[0]), before);
    Message expected = ExpectedRequest(39917, {2, 1, 4}, 7);
    expected[kLength] = static_cast<std::uint8_t>(GetParam().length);
    expected[kLength + 1] = static_cast<std::uint8_t>(GetParam().length >> 8);
    expected[kType] = GetParam().type;
    std::copy(GetParam().bytes.begin(), GetParam().bytes.end(), expected.begin() + kValue);
    ASSERT_EQ(requests_.size(), 1u);
    EXPECT_EQ(requests_[0], expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, SetRequestTest,
    ::testing::Values(SetCase{"Integer", [](SnmpVarBind& b) { SetInteger(b, -2); }, 4, 2, {0xFE, 0xFF, 0xFF, 0xFF}},
                      SetCase{"StringWithZeroByte", [](SnmpVarBind& b) { SetString(b, std::string("ab\0cd", 5)); }, 5, 4,
                              {'a', 'b', 0, 'c', 'd', 0}},
                      SetCase{"StringOf959", [](SnmpVarBind& b) { SetString(b, std::string(959, 'q')); }, 959, 4, Bytes(959, 'q')},
                      SetCase{"NullStreamOfLengthZero",
                              [](SnmpVarBind& b) {
                                  b.value.asnType = ASN_OCTETSTRING;
                                  b.value.asnValue.string = AsnOctetString{nullptr, 0, FALSE};
                              },
                              0, 4, {}},
                      SetCase{"Counter", [](SnmpVarBind& b) { b.value.asnType = ASN_COUNTER32, b.value.asnValue.counter = 99; }, 0, 0, {}}),
    [](const auto& testInfo) { return std::string(testInfo.param.label); });

using SetRefusalTest = SetRequestTest;

TEST_F(SetRefusalTest, StringsThatDoNotFitAndEnterpriseRootsAreRefusedUnsent) {
    BindingList tooLong({Under(39917, {2, 1, 5})}), broken({Under(39917, {2, 1, 5})});
    SetString(tooLong[0], std::string(960, 'q'));
    broken[0].value.asnType = ASN_OCTETSTRING;
    broken[0].value.asnValue.string = AsnOctetString{nullptr, 12, FALSE};
    EXPECT_EQ(Set(tooLong), SNMP_ERRORSTATUS_BADVALUE);
    EXPECT_EQ(Set(broken), SNMP_ERRORSTATUS_BADVALUE);
    memory_.OpenSession(0, 44821, 1, 1);
    for (UINT pen : {44821u, 5113u, 4127u, 39917u}) {
        BindingList root({Under(pen)});
        SetInteger(root[0], 1);
        EXPECT_EQ(Set(root), SNMP_ERRORSTATUS_READONLY) << pen;
    }
    EXPECT_EQ(shm::PeekSequenceNumber(2), 0) << "nothing was sent";
    EXPECT_EQ(memory_.OutCount(0) + memory_.OutCount(2), 0);
    BindingList refused({Under(39917, {2, 1, 6})});
    SetInteger(refused[0], 1);
    EXPECT_EQ(Set(refused, 6), SNMP_ERRORSTATUS_BADVALUE) << "the reply status maps as for GET";
}

}  // namespace
}  // namespace qv::test
