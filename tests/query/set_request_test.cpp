// SET: the value fields of the request, refusals that send nothing, and a
// binding that never changes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "query/agent_memory.h"
#include "query/binding_list.h"
#include "query/query_message.h"
#include "shm/session_sequence.h"
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

class SetRequestTest : public ::testing::Test {
protected:
    SetRequestTest() { memory_.OpenSession(2, 39917, 2, 1); }

    // Serves one SET answered with `code`; returns the status and keeps the request.
    AsnInteger32 Set(BindingList& bindings, std::uint8_t code = 2) {
        FakeApplication application(memory_, 2, [&](const Message& r) {
            return std::vector<Message>{qv::test::Reply(r, code)};
        });
        const AsnInteger32 status = Query(SNMP_PDU_SET, bindings).status;
        requests_ = application.Requests();
        return status;
    }

    static void SetString(SnmpVarBind& binding, const std::string& bytes) {
        auto* stream = static_cast<BYTE*>(SnmpUtilMemAlloc(static_cast<UINT>(bytes.size())));
        std::memcpy(stream, bytes.data(), bytes.size());
        binding.value.asnType = ASN_OCTETSTRING;
        binding.value.asnValue.string = AsnOctetString{stream, static_cast<UINT>(bytes.size()), TRUE};
    }

    qv::test::IsolatedEnvironment environment_;
    qv::test::AgentMemory memory_;
    std::vector<Message> requests_;
};

TEST_F(SetRequestTest, IntegerGoesAsLength4Type2AndLittleEndianValue) {
    BindingList bindings({{1, 3, 6, 1, 4, 1, 39917, 2, 1, 4}});
    bindings[0].value.asnType = ASN_INTEGER;
    bindings[0].value.asnValue.number = 5;
    const auto before = Snapshot(bindings[0]);
    EXPECT_EQ(Set(bindings), SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(Snapshot(bindings[0]), before);
    ASSERT_EQ(requests_.size(), 1u);
    const Message& r = requests_[0];
    EXPECT_EQ(BytesAt(r, message::kTail, 4), (Bytes{2, 1, 4, 0}));
    EXPECT_EQ(r[message::kOperation], 7);
    EXPECT_EQ(U16At(r, message::kValueLength), 4);
    EXPECT_EQ(r[message::kValueType], 2);
    EXPECT_EQ(r[message::kValueAttribute], 3);
    EXPECT_EQ(BytesAt(r, message::kValue, 4), (Bytes{5, 0, 0, 0}));
    EXPECT_EQ(r[message::kMarker1], 1);
    EXPECT_EQ(r[message::kMarker2], 2);

    BindingList negative({{1, 3, 6, 1, 4, 1, 39917, 2, 1, 4}});
    negative[0].value.asnType = ASN_INTEGER;
    negative[0].value.asnValue.number = -2;
    EXPECT_EQ(Set(negative), SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(BytesAt(requests_[0], message::kValue, 4), (Bytes{0xFE, 0xFF, 0xFF, 0xFF}));
}

TEST_F(SetRequestTest, OctetStringGoesWithItsLengthAndInnerZeroBytesUnchanged) {
    BindingList bindings({{1, 3, 6, 1, 4, 1, 39917, 2, 1, 5}});
    const std::string ten("ab\0cdefghi", 10);
    SetString(bindings[0], ten);
    const auto before = Snapshot(bindings[0]);
    EXPECT_EQ(Set(bindings), SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(Snapshot(bindings[0]), before);
    EXPECT_EQ(qv::test::TextOf(bindings[0].value), ten);
    ASSERT_EQ(requests_.size(), 1u);
    EXPECT_EQ(U16At(requests_[0], message::kValueLength), 10);
    EXPECT_EQ(requests_[0][message::kValueType], 4);
    Bytes expected(ten.begin(), ten.end());
    expected.push_back(0);
    EXPECT_EQ(BytesAt(requests_[0], message::kValue, 11), expected);
}

TEST_F(SetRequestTest, StringOf959BytesFitsAndOf960IsRefusedUnsent) {
    BindingList fits({{1, 3, 6, 1, 4, 1, 39917, 2, 1, 5}});
    SetString(fits[0], std::string(959, 'q'));
    EXPECT_EQ(Set(fits), SNMP_ERRORSTATUS_NOERROR);
    ASSERT_EQ(requests_.size(), 1u);
    EXPECT_EQ(U16At(requests_[0], message::kValueLength), 959);
    EXPECT_EQ(requests_[0][998], 'q');
    EXPECT_EQ(requests_[0][999], 0);

    const std::uint16_t sequence = qv::shm::PeekSequenceNumber(2);
    BindingList tooLong({{1, 3, 6, 1, 4, 1, 39917, 2, 1, 5}});
    SetString(tooLong[0], std::string(960, 'q'));
    EXPECT_EQ(Set(tooLong), SNMP_ERRORSTATUS_BADVALUE);
    EXPECT_TRUE(requests_.empty());
    EXPECT_EQ(qv::shm::PeekSequenceNumber(2), sequence);
}

TEST_F(SetRequestTest, NullStreamOfLengthZeroIsTheEmptyStringAndWithALengthIsRefused) {
    BindingList empty({{1, 3, 6, 1, 4, 1, 39917, 2, 1, 5}});
    empty[0].value.asnType = ASN_OCTETSTRING;
    empty[0].value.asnValue.string = AsnOctetString{nullptr, 0, FALSE};
    EXPECT_EQ(Set(empty), SNMP_ERRORSTATUS_NOERROR);
    ASSERT_EQ(requests_.size(), 1u);
    EXPECT_EQ(U16At(requests_[0], message::kValueLength), 0);
    EXPECT_EQ(requests_[0][message::kValueType], 4);
    EXPECT_EQ(requests_[0][message::kValue], 0);

    BindingList broken({{1, 3, 6, 1, 4, 1, 39917, 2, 1, 5}});
    broken[0].value.asnType = ASN_OCTETSTRING;
    broken[0].value.asnValue.string = AsnOctetString{nullptr, 12, FALSE};
    EXPECT_EQ(Set(broken), SNMP_ERRORSTATUS_BADVALUE);
    EXPECT_TRUE(requests_.empty());
}

TEST_F(SetRequestTest, OtherTypesGoAsType0Length0AndTheApplicationDecides) {
    BindingList bindings({{1, 3, 6, 1, 4, 1, 39917, 2, 1, 6}});
    bindings[0].value.asnType = ASN_COUNTER32;
    bindings[0].value.asnValue.counter = 99;
    EXPECT_EQ(Set(bindings, 6), SNMP_ERRORSTATUS_BADVALUE);
    ASSERT_EQ(requests_.size(), 1u);
    EXPECT_EQ(U16At(requests_[0], message::kValueLength), 0);
    EXPECT_EQ(requests_[0][message::kValueType], 0);
    EXPECT_EQ(requests_[0][message::kValue], 0);
    EXPECT_EQ(bindings[0].value.asnValue.counter, 99u);
}

TEST_F(SetRequestTest, ReplyStatusesMapByTheTable) {
    const std::vector<std::pair<std::uint8_t, AsnInteger32>> table = {{3, 5}, {4, 2}, {5, 4}, {6, 3}, {0, 2}, {8, 2}};
    for (const auto& [code, expected] : table) {
        BindingList bindings({{1, 3, 6, 1, 4, 1, 39917, 2, 1, 4}});
        bindings[0].value.asnType = ASN_INTEGER;
        EXPECT_EQ(Set(bindings, code), expected) << int{code};
    }
}

TEST_F(SetRequestTest, EveryEnterpriseRootIsReadOnlyAndNothingIsSent) {
    memory_.OpenSession(0, 44821, 1, 1);
    for (UINT pen : {44821u, 5113u, 4127u, 39917u}) {
        BindingList bindings({{1, 3, 6, 1, 4, 1, pen}});
        bindings[0].value.asnType = ASN_INTEGER;
        EXPECT_EQ(Set(bindings), SNMP_ERRORSTATUS_READONLY) << pen;
        EXPECT_TRUE(requests_.empty());
    }
    EXPECT_EQ(qv::shm::PeekSequenceNumber(2), 0);
    EXPECT_EQ(memory_.OutRingCount(0), 0);
}

TEST_F(SetRequestTest, SilentApplicationTimesOutWithResourceUnavailableEvenOnSessionZero) {
    memory_.OpenSession(0, 4127, 1, 1);
    BindingList bindings({{1, 3, 6, 1, 4, 1, 4127, 1, 1, 1}});
    bindings[0].value.asnType = ASN_INTEGER;
    EXPECT_EQ(Query(SNMP_PDU_SET, bindings).status, SNMP_ERRORSTATUS_RESOURCEUNAVAILABLE);
    EXPECT_EQ(memory_.OutRingCount(0), 1);
}

}  // namespace
