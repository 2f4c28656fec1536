// The answers an SDK application gives to the agent's requests, message by
// message. Offsets are written out: they are the protocol's, not the SDK's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "shm/shared_access.h"
#include "variable_table.h"

namespace qvsnmp::detail {
namespace {

using Tail = std::vector<std::uint8_t>;
enum : std::uint8_t { kGet = 3, kGetNext = 5, kSet = 7, kOk = 2, kGenErr = 3, kNoSuchName = 4, kReadOnly = 5, kBadValue = 6 };

struct Message {
    std::uint8_t bytes[1024] = {};
    std::uint8_t Status() const { return bytes[35]; }
    Tail TailBytes() const { return Tail(bytes + 4, std::find(bytes + 4, bytes + 35, 0)); }
    std::string Text() const { return reinterpret_cast<const char*>(bytes + 40); }
};

Message Request(std::uint8_t operation, const Tail& tail, const Value* value = nullptr) {
    Message m;
    qv::shm::WriteU16(m.bytes, 77);
    qv::shm::WriteU16(m.bytes + 2, 39917);
    std::copy(tail.begin(), tail.end(), m.bytes + 4);
    m.bytes[34] = operation;
    m.bytes[39] = 3;
    m.bytes[40] = 1;
    if (value != nullptr) {
        m.bytes[38] = static_cast<std::uint8_t>(value->type());
        const std::string text = value->IsInteger() ? std::string(4, '\0') : value->text();
        qv::shm::WriteU16(m.bytes + 36, static_cast<std::uint16_t>(text.size()));
        std::memcpy(m.bytes + 40, text.data(), text.size());
        if (value->IsInteger()) qv::shm::WriteI32(m.bytes + 40, value->integer());
        m.bytes[40 + text.size()] = 0;
    }
    return m;
}
Message Set(const Tail& tail, const Value& value) { return Request(kSet, tail, &value); }

class VariableTableTest : public ::testing::Test {
protected:
    VariableTableTest() {
        // Published out of order on purpose.
        table_.Publish({10, 1, 2, 1}, [] { return Value::Text("row 1"); }, {});
        table_.Publish({2}, [] { return Value::Text("two"); }, {});
        table_.Publish({10, 1, 1, 1}, [] { return Value::Integer(11); }, {});
        table_.Publish({1}, [] { return Value::Integer(-5); }, {});
        table_.Publish({10, 1, 1, 2}, [] { return Value::Integer(12); }, {});
        table_.Publish({3}, [this] { return Value::Integer(stored_); }, IntegerSetter([this](std::int32_t value) {
                           if (value < 0) return false;
                           stored_ = value;
                           return true;
                       }));
        table_.Publish({4}, [] { return Value::Text(""); }, TextSetter([this](const std::string& text) {
                           text_ = text;
                           return true;
                       }));
        table_.Publish({6}, [] { return Value::Text(std::string(2000, 'x')); }, {});
    }
    Message Answer(const Message& request, bool* answered = nullptr) {
        Message reply;
        const bool result = table_.Answer(request.bytes, reply.bytes);
        if (answered != nullptr) *answered = result;
        return reply;
    }

    VariableTable table_{Identity{39917, 1, 1}};
    std::int32_t stored_ = 0;
    std::string text_;
};

TEST_F(VariableTableTest, GetAnswersIntegerAndTextUnderTheRequestsSequence) {
    const Message integer = Answer(Request(kGet, {1, 1, 1}));
    EXPECT_EQ(integer.Status(), kOk);
    EXPECT_EQ(integer.bytes[38], 2);
    EXPECT_EQ(qv::shm::ReadI32(integer.bytes + 40), -5);
    EXPECT_EQ(qv::shm::ReadU16(integer.bytes), 77) << "the agent matches replies by it";
    const Message text = Answer(Request(kGet, {1, 1, 2}));
    EXPECT_EQ(text.bytes[38], 4);
    EXPECT_EQ(text.Text(), "two");
    EXPECT_EQ(Answer(Request(kGet, {1, 1, 6})).Text(), std::string(959, 'x')) << "cut to what the message holds";
    for (const Tail& tail : {Tail{1, 1, 9}, Tail{1, 1}, Tail{1, 1, 10, 1}, Tail{1, 1, 1, 0x7F}}) {
        EXPECT_EQ(Answer(Request(kGet, tail)).Status(), kNoSuchName);
    }
}

TEST_F(VariableTableTest, GetNextWalksInLexicographicOrderAndEndsWithNoSuchName) {
    const std::vector<Tail> walk{{1, 1, 1}, {1, 1, 2}, {1, 1, 3}, {1, 1, 4}, {1, 1, 6},
                                 {1, 1, 10, 1, 1, 1}, {1, 1, 10, 1, 1, 2}, {1, 1, 10, 1, 2, 1}};
    Tail at{1};
    for (const Tail& next : walk) {
        const Message reply = Answer(Request(kGetNext, at));
        ASSERT_EQ(reply.Status(), kOk);
        ASSERT_EQ(reply.TailBytes(), next);
        at = next;
    }
    EXPECT_EQ(Answer(Request(kGetNext, at)).Status(), kNoSuchName);
    // From between names: past a subtree, and the reply's tail zero up to offset 35.
    EXPECT_EQ(Answer(Request(kGetNext, {1, 1, 10, 1, 1, 9})).TailBytes(), (Tail{1, 1, 10, 1, 2, 1}));
    const Message row = Answer(Request(kGetNext, {1, 1, 10, 1, 1, 2}));
    EXPECT_EQ(row.Text(), "row 1");
    EXPECT_EQ(std::count(row.bytes + 10, row.bytes + 34, 0), 24);
    table_.Unpublish({2});
    EXPECT_EQ(Answer(Request(kGetNext, {1, 1, 1})).TailBytes(), (Tail{1, 1, 3}));
}

TEST_F(VariableTableTest, SetIsAcceptedOrRefusedWithTheMatchingStatus) {
    EXPECT_EQ(Answer(Set({1, 1, 3}, Value::Integer(55))).Status(), kOk);
    EXPECT_EQ(stored_, 55);
    EXPECT_EQ(Answer(Set({1, 1, 3}, Value::Integer(-1))).Status(), kBadValue);
    EXPECT_EQ(Answer(Set({1, 1, 3}, Value::Text("55"))).Status(), kBadValue);
    Message otherType = Set({1, 1, 3}, Value::Integer(1));
    otherType.bytes[38] = 0;  // the agent's encoding of a Counter32 and the like
    EXPECT_EQ(Answer(otherType).Status(), kBadValue);
    EXPECT_EQ(stored_, 55) << "refused values are not stored";
    EXPECT_EQ(Answer(Set({1, 1, 1}, Value::Integer(1))).Status(), kReadOnly);
    EXPECT_EQ(Answer(Set({1, 1, 99}, Value::Integer(1))).Status(), kNoSuchName);
    EXPECT_EQ(Answer(Set({1, 1, 4}, Value::Text(std::string("a\0b", 3)))).Status(), kOk);
    EXPECT_EQ(text_, std::string("a\0b", 3)) << "the length field decides, not the zero byte";
    table_.Publish({5}, []() -> Value { throw std::runtime_error("broken"); },
                   [](const Value&) -> SetStatus { throw std::runtime_error("broken"); });
    EXPECT_EQ(Answer(Request(kGet, {1, 1, 5})).Status(), kGenErr) << "a throwing getter";
    EXPECT_EQ(Answer(Set({1, 1, 5}, Value::Integer(1))).Status(), kGenErr) << "a throwing setter";
}

TEST_F(VariableTableTest, TimeOutNoticesAndUnknownOperationsTakeNoReply) {
    bool answered = true;
    Answer(Request(10, {1, 1}), &answered);
    EXPECT_FALSE(answered);
    Answer(Request(4, {1, 1, 1}), &answered);
    EXPECT_FALSE(answered);
}

TEST(VariableTableNames, NamesThatCannotTravelAsOneByteEachAreRefused) {
    VariableTable table(Identity{39917, 1, 1});
    const Getter get = [] { return Value::Integer(0); };
    for (const Suffix& bad : {Suffix{}, Suffix{0}, Suffix{128}, Suffix(23, 1)}) EXPECT_THROW(table.Publish(bad, get, {}), std::invalid_argument);
    EXPECT_NO_THROW(table.Publish(Suffix(22, 127), get, {}));
}

}  // namespace
}  // namespace qvsnmp::detail
