// SET: the value fields of the request, refusals that send nothing, and a
// binding that never changes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "query/query_fixture.h"

namespace {

using namespace qv::test;

class SetRequestTest : public QueryTest {
protected:
    SetRequestTest() { memory_.OpenSession(2, 39917, 2, 1); }
    AsnInteger32 Set(BindingList& bindings, std::uint8_t code = 2) {
        return Serve(2, SNMP_PDU_SET, bindings, StatusAnswer(code));
    }
};

TEST_F(SetRequestTest, IntegerGoesAsLength4Type2AndLittleEndianValue) {
    BindingList bindings({Under(39917, {2, 1, 4})});
    bindings[0].value.asnType = ASN_INTEGER;
    bindings[0].value.asnValue.number = -2;
    const auto before = Snapshot(bindings[0]);
    EXPECT_EQ(Set(bindings), SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(Snapshot(bindings[0]), before);
    Message expected = ExpectedRequest(39917, {2, 1, 4}, 7);
    expected[message::kValueLength] = 4;
    expected[message::kValueType] = 2;
    for (std::size_t i = 0; i < 4; ++i) expected[message::kValue + i] = i == 0 ? 0xFE : 0xFF;
    ASSERT_EQ(requests_.size(), 1u);
    EXPECT_EQ(requests_[0], expected);
}

TEST_F(SetRequestTest, OctetStringGoesWithItsLengthAndInnerZeroBytesUnchanged) {
    BindingList bindings({Under(39917, {2, 1, 5})});
    const std::string ten("ab\0cdefghi", 10);
    SetString(bindings[0], ten);
    const auto before = Snapshot(bindings[0]);
    EXPECT_EQ(Set(bindings), SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(Snapshot(bindings[0]), before);
    EXPECT_EQ(TextOf(bindings[0].value), ten);
    ASSERT_EQ(requests_.size(), 1u);
    EXPECT_EQ(U16At(requests_[0], message::kValueLength), 10);
    EXPECT_EQ(requests_[0][message::kValueType], 4);
    Bytes expected(ten.begin(), ten.end());
    expected.push_back(0);
    EXPECT_EQ(BytesAt(requests_[0], message::kValue, 11), expected);
}

TEST_F(SetRequestTest, StringOf959BytesFitsAndOf960IsRefusedUnsent) {
    BindingList fits({Under(39917, {2, 1, 5})});
    SetString(fits[0], std::string(message::kMaxText, 'q'));
    EXPECT_EQ(Set(fits), SNMP_ERRORSTATUS_NOERROR);
    ASSERT_EQ(requests_.size(), 1u);
    EXPECT_EQ(U16At(requests_[0], message::kValueLength), message::kMaxText);
    EXPECT_EQ(requests_[0][message::kMarker1 - 2], 'q');
    EXPECT_EQ(requests_[0][message::kMarker1 - 1], 0);

    const std::uint16_t sequence = qv::shm::PeekSequenceNumber(2);
    BindingList tooLong({Under(39917, {2, 1, 5})});
    SetString(tooLong[0], std::string(message::kMaxText + 1, 'q'));
    EXPECT_EQ(Set(tooLong), SNMP_ERRORSTATUS_BADVALUE);
    EXPECT_TRUE(requests_.empty());
    EXPECT_EQ(qv::shm::PeekSequenceNumber(2), sequence);
}

TEST_F(SetRequestTest, NullStreamOfLengthZeroIsTheEmptyStringAndWithALengthIsRefused) {
    BindingList empty({Under(39917, {2, 1, 5})});
    empty[0].value.asnType = ASN_OCTETSTRING;
    empty[0].value.asnValue.string = AsnOctetString{nullptr, 0, FALSE};
    EXPECT_EQ(Set(empty), SNMP_ERRORSTATUS_NOERROR);
    ASSERT_EQ(requests_.size(), 1u);
    EXPECT_EQ(U16At(requests_[0], message::kValueLength), 0);
    EXPECT_EQ(requests_[0][message::kValueType], 4);
    EXPECT_EQ(requests_[0][message::kValue], 0);

    BindingList broken({Under(39917, {2, 1, 5})});
    broken[0].value.asnType = ASN_OCTETSTRING;
    broken[0].value.asnValue.string = AsnOctetString{nullptr, 12, FALSE};
    EXPECT_EQ(Set(broken), SNMP_ERRORSTATUS_BADVALUE);
    EXPECT_TRUE(requests_.empty());
}

TEST_F(SetRequestTest, OtherTypesGoAsType0Length0AndTheApplicationDecides) {
    BindingList bindings({Under(39917, {2, 1, 6})});
    bindings[0].value.asnType = ASN_COUNTER32;
    bindings[0].value.asnValue.counter = 99;
    EXPECT_EQ(Set(bindings, 6), SNMP_ERRORSTATUS_BADVALUE) << "the reply status maps as for GET";
    ASSERT_EQ(requests_.size(), 1u);
    EXPECT_EQ(U16At(requests_[0], message::kValueLength), 0);
    EXPECT_EQ(requests_[0][message::kValueType], 0);
    EXPECT_EQ(requests_[0][message::kValue], 0);
    EXPECT_EQ(bindings[0].value.asnValue.counter, 99u);
}

TEST_F(SetRequestTest, EveryEnterpriseRootIsReadOnlyAndNothingIsSent) {
    memory_.OpenSession(0, 44821, 1, 1);
    for (UINT pen : {44821u, 5113u, 4127u, 39917u}) {
        BindingList bindings({Under(pen)});
        bindings[0].value.asnType = ASN_INTEGER;
        EXPECT_EQ(Set(bindings), SNMP_ERRORSTATUS_READONLY) << pen;
        EXPECT_TRUE(requests_.empty());
    }
    EXPECT_EQ(qv::shm::PeekSequenceNumber(2), 0);
    EXPECT_EQ(memory_.OutRingCount(0), 0);
}

}  // namespace
