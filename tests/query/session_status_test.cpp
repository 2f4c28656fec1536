// The status variable 1.3.6.1.4.1.44821: the session list text.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "query/agent_memory.h"
#include "query/binding_list.h"
#include "query/session_status.h"
#include "support/test_environment.h"

namespace {

using qv::test::BindingList;
using qv::test::IdsOf;
using qv::test::Query;
using qv::test::TextOf;
using Ids = std::vector<UINT>;

class SessionStatusTest : public ::testing::Test {
protected:
    std::string GetStatus() {
        BindingList bindings({{1, 3, 6, 1, 4, 1, 44821}});
        EXPECT_EQ(Query(SNMP_PDU_GET, bindings).status, SNMP_ERRORSTATUS_NOERROR);
        EXPECT_EQ(IdsOf(bindings[0].name), (Ids{1, 3, 6, 1, 4, 1, 44821}));
        EXPECT_EQ(bindings[0].value.asnType, ASN_OCTETSTRING);
        EXPECT_EQ(bindings[0].value.asnValue.string.dynamic, TRUE);
        return TextOf(bindings[0].value);
    }

    qv::test::IsolatedEnvironment environment_;
    qv::test::AgentMemory memory_;
};

TEST_F(SessionStatusTest, NoSessionReadsNoActiveSession) {
    const std::string text = GetStatus();
    EXPECT_EQ(text, "No active session");
    EXPECT_EQ(text.size(), 17u);
}

TEST_F(SessionStatusTest, OneUpSessionGivesThe43ByteEntry) {
    memory_.OpenSession(0, 39917, 1, 1);
    const std::string text = GetStatus();
    EXPECT_EQ(text, "S[0]: Up(2) Pen(39917) ApId(1) ApInst(1)   ");
    EXPECT_EQ(text.size(), 43u);
}

TEST_F(SessionStatusTest, EntriesFollowIndexOrderWithSignedBytesAndOpenedSessionsListed) {
    memory_.OpenSession(9, 4127, static_cast<std::int8_t>(200), -1, qv::shm::kSessionOpened);
    memory_.OpenSession(2, 65535, 127, -128);
    memory_.Base()->sessionState[12] = 0xFF;  // any non-zero state is listed, as a signed byte
    EXPECT_EQ(GetStatus(),
              "S[2]: Up(2) Pen(65535) ApId(127) ApInst(-128)   "
              "S[9]: Up(1) Pen(4127) ApId(-56) ApInst(-1)   "
              "S[12]: Up(-1) Pen(0) ApId(0) ApInst(0)   ");
}

TEST_F(SessionStatusTest, SixteenSessionsAreCutBeforeTheFirstEntryThatDoesNotFitWhole) {
    std::string all;
    for (int i = 0; i < 16; ++i) {
        memory_.OpenSession(i, 39917, static_cast<std::int8_t>(-100 - i), -128);
        char entry[96];
        std::snprintf(entry, sizeof entry, "S[%d]: Up(2) Pen(39917) ApId(%d) ApInst(-128)   ", i, -100 - i);
        all += entry;
    }
    ASSERT_GT(all.size(), 511u);
    const std::string text = GetStatus();
    ASSERT_LE(text.size(), 511u);
    ASSERT_EQ(all.compare(0, text.size(), text), 0) << "a prefix of the full list";
    // It ends where an entry ends, and the next entry would not have fitted.
    const std::size_t next = all.find("S[", text.size());
    EXPECT_EQ(next, text.size());
    const std::size_t nextEnd = all.find("S[", next + 1);
    EXPECT_GT(nextEnd == std::string::npos ? all.size() : nextEnd, 511u);
}

TEST_F(SessionStatusTest, OldNameAndValueAreReleasedWhenAnswered) {
    // Under LeakSanitizer, an old name or value the answer lost shows as a leak.
    BindingList bindings({{1, 3, 6, 1, 4, 1, 44821}});
    bindings[0].value.asnType = ASN_OCTETSTRING;
    bindings[0].value.asnValue.string = AsnOctetString{static_cast<BYTE*>(SnmpUtilMemAlloc(8)), 8, TRUE};
    EXPECT_EQ(Query(SNMP_PDU_GET, bindings).status, SNMP_ERRORSTATUS_NOERROR);
    EXPECT_EQ(TextOf(bindings[0].value), "No active session");
}

TEST_F(SessionStatusTest, GetNeedsAll32BitsOfThePenToAnswerIt) {
    // 65536 + 44821 is forwarded like any root: AppId 0 finds no session.
    BindingList bindings({{1, 3, 6, 1, 4, 1, 65536 + 44821}});
    EXPECT_EQ(Query(SNMP_PDU_GET, bindings).status, SNMP_ERRORSTATUS_READONLY);
    EXPECT_EQ(bindings[0].value.asnType, ASN_NULL);
}

}  // namespace
