// The answers an application gives to the agent's requests, message by message.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "records.h"
#include "shm/shared_access.h"
#include "variable_table.h"

namespace qvsnmp::detail {
namespace {

constexpr Identity kIdentity{39917, 1, 1};

struct Message {
    std::uint8_t bytes[kRecordSize] = {};
};

Message Request(std::uint8_t operation, const std::vector<std::uint8_t>& tail) {
    Message request;
    qv::shm::WriteU16(request.bytes + message::kSequence, 77);
    qv::shm::WriteU16(request.bytes + message::kPen, kIdentity.pen);
    std::memcpy(request.bytes + message::kTail, tail.data(), tail.size());
    request.bytes[message::kOperation] = operation;
    request.bytes[message::kValueAttribute] = message::kAttribute;
    request.bytes[message::kValue] = message::kRequestValue;
    request.bytes[message::kMarker1] = message::kMarker1Value;
    request.bytes[message::kMarker2] = message::kMarker2Value;
    return request;
}

Message SetRequest(const std::vector<std::uint8_t>& tail, const Value& value) {
    Message request = Request(message::kSet, tail);
    request.bytes[message::kValueType] = static_cast<std::uint8_t>(value.type());
    if (value.IsInteger()) {
        qv::shm::WriteU16(request.bytes + message::kValueLength, 4);
        qv::shm::WriteI32(request.bytes + message::kValue, value.integer());
    } else {
        qv::shm::WriteU16(request.bytes + message::kValueLength, static_cast<std::uint16_t>(value.text().size()));
        std::memcpy(request.bytes + message::kValue, value.text().data(), value.text().size());
        request.bytes[message::kValue + value.text().size()] = 0;
    }
    return request;
}

std::vector<std::uint8_t> TailOf(const Message& reply) {
    std::vector<std::uint8_t> tail;
    for (std::size_t i = message::kTail; i < message::kOperation && reply.bytes[i] != 0; ++i) {
        tail.push_back(reply.bytes[i]);
    }
    return tail;
}

std::string TextOf(const Message& reply) { return reinterpret_cast<const char*>(reply.bytes + message::kValue); }

class VariableTableTest : public ::testing::Test {
protected:
    VariableTableTest() : table_(kIdentity) {
        // Published out of order on purpose.
        table_.Publish({10, 1, 2, 1}, [] { return Value::Text("row 1"); }, {});
        table_.Publish({2}, [] { return Value::Text("two"); }, {});
        table_.Publish({10, 1, 1, 1}, [] { return Value::Integer(11); }, {});
        table_.Publish({1}, [] { return Value::Integer(-5); }, {});
        table_.Publish({10, 1, 1, 2}, [] { return Value::Integer(12); }, {});
        table_.Publish({3}, [this] { return Value::Integer(stored_); },
                       IntegerSetter([this](std::int32_t value) {
                           if (value < 0) return false;
                           stored_ = value;
                           return true;
                       }));
    }

    Message Answer(const Message& request, bool* answered = nullptr) {
        Message reply;
        const bool result = table_.Answer(request.bytes, reply.bytes);
        if (answered != nullptr) *answered = result;
        return reply;
    }

    VariableTable table_;
    std::int32_t stored_ = 0;
};

TEST_F(VariableTableTest, GetAnswersIntegerAndTextAndKeepsTheRequestFields) {
    const Message integer = Answer(Request(message::kGet, {1, 1, 1}));
    EXPECT_EQ(integer.bytes[message::kStatus], kReplyOk);
    EXPECT_EQ(integer.bytes[message::kValueType], 2);
    EXPECT_EQ(qv::shm::ReadI32(integer.bytes + message::kValue), -5);
    EXPECT_EQ(qv::shm::ReadU16(integer.bytes + message::kSequence), 77) << "the agent matches replies by it";

    const Message text = Answer(Request(message::kGet, {1, 1, 2}));
    EXPECT_EQ(text.bytes[message::kStatus], kReplyOk);
    EXPECT_EQ(text.bytes[message::kValueType], 4);
    EXPECT_EQ(TextOf(text), "two");
}

TEST_F(VariableTableTest, GetOfAnUnknownOrPartialNameIsNoSuchName) {
    for (const std::vector<std::uint8_t>& tail :
         std::vector<std::vector<std::uint8_t>>{{1, 1, 9}, {1, 1}, {1, 1, 10, 1}, {1, 1, 1, 0x7F}}) {
        EXPECT_EQ(Answer(Request(message::kGet, tail)).bytes[message::kStatus], kReplyNoSuchName);
    }
}

TEST_F(VariableTableTest, GetNextWalksInLexicographicOrderAndEndsWithNoSuchName) {
    const std::vector<std::vector<std::uint8_t>> expected{
        {1, 1, 1}, {1, 1, 2}, {1, 1, 3}, {1, 1, 10, 1, 1, 1}, {1, 1, 10, 1, 1, 2}, {1, 1, 10, 1, 2, 1}};
    std::vector<std::uint8_t> at{1, 1};
    for (const auto& next : expected) {
        const Message reply = Answer(Request(message::kGetNext, at));
        ASSERT_EQ(reply.bytes[message::kStatus], kReplyOk);
        ASSERT_EQ(TailOf(reply), next);
        at = next;
    }
    EXPECT_EQ(Answer(Request(message::kGetNext, at)).bytes[message::kStatus], kReplyNoSuchName);
}

TEST_F(VariableTableTest, GetNextFromBetweenNamesFindsTheFollowingOne) {
    // A prefix sorts before its extensions; a name past a subtree skips it.
    EXPECT_EQ(TailOf(Answer(Request(message::kGetNext, {1}))), (std::vector<std::uint8_t>{1, 1, 1}));
    EXPECT_EQ(TailOf(Answer(Request(message::kGetNext, {1, 1, 3, 5}))),
              (std::vector<std::uint8_t>{1, 1, 10, 1, 1, 1}));
    EXPECT_EQ(TailOf(Answer(Request(message::kGetNext, {1, 1, 10, 1, 1, 9}))),
              (std::vector<std::uint8_t>{1, 1, 10, 1, 2, 1}));
    const Message reply = Answer(Request(message::kGetNext, {1, 1, 10, 1, 1, 2}));
    EXPECT_EQ(TextOf(reply), "row 1");
    for (std::size_t i = message::kTail + 6; i < message::kOperation; ++i) {
        ASSERT_EQ(reply.bytes[i], 0) << "offset " << i << ": the agent reads the tail up to offset 35";
    }
}

TEST_F(VariableTableTest, SetIsAcceptedOrRefusedWithTheMatchingStatus) {
    EXPECT_EQ(Answer(SetRequest({1, 1, 3}, Value::Integer(55))).bytes[message::kStatus], kReplyOk);
    EXPECT_EQ(stored_, 55);
    EXPECT_EQ(Answer(SetRequest({1, 1, 3}, Value::Integer(-1))).bytes[message::kStatus], kReplyBadValue);
    EXPECT_EQ(Answer(SetRequest({1, 1, 3}, Value::Text("55"))).bytes[message::kStatus], kReplyBadValue);
    Message otherType = SetRequest({1, 1, 3}, Value::Integer(1));
    otherType.bytes[message::kValueType] = 0;  // the agent's encoding of a Counter32 and the like
    EXPECT_EQ(Answer(otherType).bytes[message::kStatus], kReplyBadValue);
    EXPECT_EQ(stored_, 55) << "refused values are not stored";
    EXPECT_EQ(Answer(SetRequest({1, 1, 1}, Value::Integer(1))).bytes[message::kStatus], kReplyReadOnly);
    EXPECT_EQ(Answer(SetRequest({1, 1, 99}, Value::Integer(1))).bytes[message::kStatus], kReplyNoSuchName);
}

TEST_F(VariableTableTest, SetOfTextUsesTheLengthFieldNotTheZeroByte) {
    std::string received;
    table_.Publish({4}, [] { return Value::Text(""); }, TextSetter([&](const std::string& text) {
                       received = text;
                       return true;
                   }));
    const std::string withZero("a\0b", 3);
    EXPECT_EQ(Answer(SetRequest({1, 1, 4}, Value::Text(withZero))).bytes[message::kStatus], kReplyOk);
    EXPECT_EQ(received, withZero);
}

TEST_F(VariableTableTest, ThrowingCallbacksAnswerGeneralError) {
    table_.Publish({5}, []() -> Value { throw std::runtime_error("broken"); },
                   [](const Value&) -> SetStatus { throw std::runtime_error("broken"); });
    EXPECT_EQ(Answer(Request(message::kGet, {1, 1, 5})).bytes[message::kStatus], kReplyGeneralError);
    EXPECT_EQ(Answer(SetRequest({1, 1, 5}, Value::Integer(1))).bytes[message::kStatus], kReplyGeneralError);
}

TEST_F(VariableTableTest, LongTextIsCutToWhatTheMessageHolds) {
    table_.Publish({6}, [] { return Value::Text(std::string(2000, 'x')); }, {});
    const Message reply = Answer(Request(message::kGet, {1, 1, 6}));
    EXPECT_EQ(TextOf(reply).size(), message::kMaxText);
    EXPECT_EQ(reply.bytes[message::kValue + message::kMaxText], 0);
}

TEST_F(VariableTableTest, TimeOutNoticesAndUnknownOperationsTakeNoReply) {
    bool answered = true;
    Answer(Request(message::kTimeOutNotice, {1, 1}), &answered);
    EXPECT_FALSE(answered);
    Answer(Request(4, {1, 1, 1}), &answered);
    EXPECT_FALSE(answered);
}

TEST_F(VariableTableTest, UnpublishedNamesAreGoneFromGetAndGetNext) {
    table_.Unpublish({2});
    EXPECT_EQ(Answer(Request(message::kGet, {1, 1, 2})).bytes[message::kStatus], kReplyNoSuchName);
    EXPECT_EQ(TailOf(Answer(Request(message::kGetNext, {1, 1, 1}))), (std::vector<std::uint8_t>{1, 1, 3}));
}

TEST(VariableTableNames, NamesThatCannotTravelAsOneByteEachAreRefused) {
    VariableTable table(kIdentity);
    const Getter get = [] { return Value::Integer(0); };
    EXPECT_THROW(table.Publish({}, get, {}), std::invalid_argument);
    EXPECT_THROW(table.Publish({0}, get, {}), std::invalid_argument);
    EXPECT_THROW(table.Publish({128}, get, {}), std::invalid_argument);
    EXPECT_THROW(table.Publish(Suffix(23, 1), get, {}), std::invalid_argument);
    EXPECT_NO_THROW(table.Publish(Suffix(22, 127), get, {}));
}

}  // namespace
}  // namespace qvsnmp::detail
