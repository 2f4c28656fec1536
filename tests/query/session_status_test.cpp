// The status variable 1.3.6.1.4.1.44821: the session list text.
#include <cstdio>

#include "query/query_fixture.h"

namespace qv::test {
namespace {

class SessionStatusTest : public QueryTest {
protected:
    std::string GetStatus() {
        BindingList bindings({Under(44821)});
        SetString(bindings[0], "old value");  // LeakSanitizer sees it if the answer loses it
        EXPECT_EQ(Query(SNMP_PDU_GET, bindings).status, SNMP_ERRORSTATUS_NOERROR);
        EXPECT_EQ(IdsOf(bindings[0].name), Under(44821));
        EXPECT_EQ(bindings[0].value.asnValue.string.dynamic, TRUE);
        return TextOf(bindings[0].value);
    }
};

TEST_F(SessionStatusTest, EntriesFollowIndexOrderWithSignedBytesAndOpenedSessionsListed) {
    EXPECT_EQ(GetStatus(), "No active session");
    memory_.OpenSession(9, 4127, static_cast<std::int8_t>(200), -1, 1);
    memory_.OpenSession(2, 65535, 127, -128);
    memory_.OpenSession(0, 39917, 1, 1);
    memory_.Base()->sessionState[12] = 0xFF;  // any non-zero state is listed, as a signed byte
    EXPECT_EQ(GetStatus(), "S[0]: Up(2) Pen(39917) ApId(1) ApInst(1)   S[2]: Up(2) Pen(65535) ApId(127) ApInst(-128)   "
                           "S[9]: Up(1) Pen(4127) ApId(-56) ApInst(-1)   S[12]: Up(-1) Pen(0) ApId(0) ApInst(0)   ");
}

TEST_F(SessionStatusTest, SixteenSessionsAreCutBeforeTheFirstEntryThatDoesNotFitWhole) {
    std::string all;
    for (int i = 0; i < 16; ++i) {
        memory_.OpenSession(i, 39917, static_cast<std::int8_t>(-100 - i), -128);
        char entry[96];
        std::snprintf(entry, sizeof entry, "S[%d]: Up(2) Pen(39917) ApId(%d) ApInst(-128)   ", i, -100 - i);
        all += entry;
    }
    const std::string text = GetStatus();
    ASSERT_LE(text.size(), 511u);
    EXPECT_EQ(all.compare(0, text.size(), text), 0) << "a prefix of the full list";
    EXPECT_EQ(all.find("S[", text.size()), text.size()) << "ends where an entry ends";
    EXPECT_GT(all.find("S[", text.size() + 1), 511u) << "the next entry would not have fitted";
}

}  // namespace
}  // namespace qv::test
