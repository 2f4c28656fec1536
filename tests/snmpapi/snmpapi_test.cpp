// The SnmpUtil helpers: copies are deep, frees leave empty structures, and
// comparisons order OIDs and octet strings as the service expects. Run under
// LeakSanitizer these tests also show that every free releases what its copy
// allocated.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "qv_snmp.h"

namespace {

// The structures are packed to 4 bytes, so their pointer and 64-bit fields
// can sit at addresses the field type does not allow a reference to. The
// comparison macros take references: such fields go in as copies, `+field`.

// An OID whose sub-identifiers live in SnmpUtilMemAlloc memory, as the
// service's own OIDs do.
AsnObjectIdentifier MakeOid(const std::vector<UINT>& ids) {
    AsnObjectIdentifier oid{static_cast<UINT>(ids.size()), nullptr};
    if (!ids.empty()) {
        oid.ids = static_cast<UINT*>(SnmpUtilMemAlloc(static_cast<UINT>(ids.size() * sizeof(UINT))));
        std::memcpy(oid.ids, ids.data(), ids.size() * sizeof(UINT));
    }
    return oid;
}

std::vector<UINT> IdsOf(const AsnObjectIdentifier& oid) {
    return std::vector<UINT>(oid.ids, oid.ids + oid.idLength);
}

AsnOctetString MakeDynamicOctets(const std::string& bytes) {
    AsnOctetString octets{nullptr, static_cast<UINT>(bytes.size()), TRUE};
    octets.stream = static_cast<BYTE*>(SnmpUtilMemAlloc(static_cast<UINT>(bytes.size())));
    std::memcpy(octets.stream, bytes.data(), bytes.size());
    return octets;
}

AsnOctetString ViewOctets(std::string& bytes) {
    return AsnOctetString{reinterpret_cast<BYTE*>(bytes.data()), static_cast<UINT>(bytes.size()),
                          FALSE};
}

std::string BytesOf(const AsnOctetString& octets) {
    return std::string(reinterpret_cast<const char*>(octets.stream), octets.length);
}

int Sign(int value) {
    return (value > 0) - (value < 0);
}

// ---- memory -------------------------------------------------------------------------

TEST(SnmpUtilMemory, AllocAndTheGrownPartOfAReAllocAreZeroFilled) {
    auto* block = static_cast<unsigned char*>(SnmpUtilMemAlloc(8));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::vector<unsigned char>(block, block + 8), std::vector<unsigned char>(8, 0));
    std::memset(block, 0xAB, 8);
    block = static_cast<unsigned char*>(SnmpUtilMemReAlloc(block, 4096));
    ASSERT_NE(block, nullptr);
    std::vector<unsigned char> expected(4096, 0);
    std::fill(expected.begin(), expected.begin() + 8, 0xAB);
    EXPECT_EQ(std::vector<unsigned char>(block, block + 4096), expected);
    SnmpUtilMemFree(block);
}

// ---- object identifiers ----------------------------------------------------------

TEST(SnmpUtilOid, CopyIsDeepAndFreeLeavesAnEmptyOid) {
    AsnObjectIdentifier source = MakeOid({1, 3, 6, 1, 4, 1, 44821});
    AsnObjectIdentifier copy{99, nullptr};
    ASSERT_EQ(SnmpUtilOidCpy(&copy, &source), SNMPAPI_NOERROR);
    EXPECT_NE(+copy.ids, +source.ids);
    source.ids[6] = 5113;
    SnmpUtilOidFree(&source);
    EXPECT_EQ(source.idLength, 0u);
    EXPECT_EQ(+source.ids, nullptr);
    SnmpUtilOidFree(&source);  // freeing an empty OID again is harmless
    EXPECT_EQ(IdsOf(copy), (std::vector<UINT>{1, 3, 6, 1, 4, 1, 44821}));
    SnmpUtilOidFree(&copy);

    AsnObjectIdentifier empty{0, nullptr};
    AsnObjectIdentifier emptyCopy{7, reinterpret_cast<UINT*>(&empty)};  // garbage on entry
    ASSERT_EQ(SnmpUtilOidCpy(&emptyCopy, &empty), SNMPAPI_NOERROR);
    EXPECT_EQ(emptyCopy.idLength, 0u);
    EXPECT_EQ(+emptyCopy.ids, nullptr);
}

TEST(SnmpUtilOid, AppendAddsTheSourceAtTheEndEvenToItself) {
    AsnObjectIdentifier target{0, nullptr};
    AsnObjectIdentifier prefix = MakeOid({1, 3, 6});
    AsnObjectIdentifier tail = MakeOid({39917, 2});
    AsnObjectIdentifier empty{0, nullptr};
    ASSERT_EQ(SnmpUtilOidAppend(&target, &prefix), SNMPAPI_NOERROR);
    ASSERT_EQ(SnmpUtilOidAppend(&target, &empty), SNMPAPI_NOERROR);
    ASSERT_EQ(SnmpUtilOidAppend(&target, &tail), SNMPAPI_NOERROR);
    EXPECT_EQ(IdsOf(target), (std::vector<UINT>{1, 3, 6, 39917, 2}));
    EXPECT_EQ(IdsOf(tail), (std::vector<UINT>{39917, 2}));
    // The source is the block the append reallocates.
    ASSERT_EQ(SnmpUtilOidAppend(&target, &target), SNMPAPI_NOERROR);
    EXPECT_EQ(IdsOf(target), (std::vector<UINT>{1, 3, 6, 39917, 2, 1, 3, 6, 39917, 2}));
    for (AsnObjectIdentifier* oid : {&target, &prefix, &tail}) SnmpUtilOidFree(oid);
}

TEST(SnmpUtilOid, AppendBeyondTheLongestOidFailsAndLeavesTheTargetAlone) {
    AsnObjectIdentifier target = MakeOid(std::vector<UINT>(SNMP_MAX_OID_LEN - 1, 7));
    AsnObjectIdentifier tail = MakeOid({8, 9});
    UINT* before = target.ids;
    SetLastError(0);
    EXPECT_EQ(SnmpUtilOidAppend(&target, &tail), SNMPAPI_ERROR);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(SNMP_BERAPI_OVERFLOW));
    EXPECT_EQ(target.idLength, static_cast<UINT>(SNMP_MAX_OID_LEN - 1));
    EXPECT_EQ(+target.ids, before);
    AsnObjectIdentifier one = MakeOid({8});
    EXPECT_EQ(SnmpUtilOidAppend(&target, &one), SNMPAPI_NOERROR);
    EXPECT_EQ(target.idLength, static_cast<UINT>(SNMP_MAX_OID_LEN));
    SnmpUtilOidFree(&target);
    SnmpUtilOidFree(&tail);
    SnmpUtilOidFree(&one);
}

struct OidOrderCase {
    std::vector<UINT> left;
    std::vector<UINT> right;
    int expectedSign;
};

void PrintTo(const OidOrderCase& c, std::ostream* out) {
    auto print = [out](const std::vector<UINT>& ids) {
        *out << "{";
        for (std::size_t i = 0; i < ids.size(); ++i) {
            *out << (i == 0 ? "" : ".") << ids[i];
        }
        *out << "}";
    };
    print(c.left);
    *out << " vs ";
    print(c.right);
}

class SnmpUtilOidOrder : public ::testing::TestWithParam<OidOrderCase> {};

TEST_P(SnmpUtilOidOrder, CmpOrdersBySubIdentifiersThenLength) {
    const OidOrderCase& c = GetParam();
    AsnObjectIdentifier left = MakeOid(c.left);
    AsnObjectIdentifier right = MakeOid(c.right);
    EXPECT_EQ(Sign(SnmpUtilOidCmp(&left, &right)), c.expectedSign);
    EXPECT_EQ(Sign(SnmpUtilOidCmp(&right, &left)), -c.expectedSign);
    SnmpUtilOidFree(&left);
    SnmpUtilOidFree(&right);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SnmpUtilOidOrder,
    ::testing::Values(OidOrderCase{{1, 3, 6}, {1, 3, 6}, 0},
                      OidOrderCase{{1, 3, 6}, {1, 3, 7}, -1},
                      OidOrderCase{{1, 3, 6, 1}, {1, 3, 6}, 1},            // a prefix sorts first
                      OidOrderCase{{1, 3, 6, 1, 4, 1, 5113}, {1, 3, 6, 1, 4, 1, 44821}, -1},
                      OidOrderCase{{2}, {1, 9, 9, 9}, 1},                  // first difference wins
                      OidOrderCase{{0xFFFFFFFFu}, {1}, 1},                 // compared unsigned
                      OidOrderCase{{}, {1}, -1},
                      OidOrderCase{{}, {}, 0}));

TEST(SnmpUtilOid, NCmpLooksAtTheFirstNSubIdentifiersOnly) {
    AsnObjectIdentifier view = MakeOid({1, 3, 6, 1, 4, 1, 44821});
    AsnObjectIdentifier variable = MakeOid({1, 3, 6, 1, 4, 1, 44821, 3, 1, 0});
    AsnObjectIdentifier other = MakeOid({1, 3, 6, 1, 4, 1, 5113, 3});
    EXPECT_EQ(SnmpUtilOidNCmp(&variable, &view, 7), 0);
    EXPECT_NE(SnmpUtilOidNCmp(&variable, &view, 8), 0);
    EXPECT_EQ(SnmpUtilOidNCmp(&other, &view, 6), 0);
    EXPECT_LT(SnmpUtilOidNCmp(&other, &view, 7), 0);
    SnmpUtilOidFree(&view);
    SnmpUtilOidFree(&variable);
    SnmpUtilOidFree(&other);
}

TEST(SnmpUtilOid, ToAGivesDottedText) {
    AsnObjectIdentifier oid = MakeOid({1, 3, 6, 1, 4, 1, 4294967295u});
    EXPECT_STREQ(SnmpUtilOidToA(&oid), "1.3.6.1.4.1.4294967295");
    SnmpUtilOidFree(&oid);
    AsnObjectIdentifier empty{0, nullptr};
    EXPECT_STREQ(SnmpUtilOidToA(&empty), "<null oid>");
}

// ---- octet strings ------------------------------------------------------------------

TEST(SnmpUtilOctets, CopyIsDeepAndDynamicAndFreeReleasesOnlyDynamicStreams) {
    std::string bytes("ab\0cd", 5);
    AsnOctetString borrowed = ViewOctets(bytes);
    AsnOctetString copy{};
    ASSERT_EQ(SnmpUtilOctetsCpy(&copy, &borrowed), SNMPAPI_NOERROR);
    EXPECT_NE(+copy.stream, +borrowed.stream);
    EXPECT_EQ(copy.dynamic, TRUE);
    bytes[0] = 'X';
    EXPECT_EQ(BytesOf(copy), std::string("ab\0cd", 5));

    // Freeing the borrowed stream would be an invalid free; leaking the copy
    // shows under LeakSanitizer.
    for (AsnOctetString* octets : {&borrowed, &copy}) {
        SnmpUtilOctetsFree(octets);
        EXPECT_EQ(+octets->stream, nullptr);
        EXPECT_EQ(octets->length, 0u);
        EXPECT_EQ(octets->dynamic, FALSE);
    }
    EXPECT_EQ(bytes, std::string("Xb\0cd", 5));
}

TEST(SnmpUtilOctets, CmpOrdersBytewiseThenByLength) {
    std::string a = "abc", b = "abd", prefix = "ab", high = "\xff";
    AsnOctetString oa = ViewOctets(a), ob = ViewOctets(b), op = ViewOctets(prefix),
                   oh = ViewOctets(high);
    EXPECT_LT(SnmpUtilOctetsCmp(&oa, &ob), 0);
    EXPECT_GT(SnmpUtilOctetsCmp(&ob, &oa), 0);
    EXPECT_LT(SnmpUtilOctetsCmp(&op, &oa), 0);
    EXPECT_GT(SnmpUtilOctetsCmp(&oa, &op), 0);
    EXPECT_GT(SnmpUtilOctetsCmp(&oh, &oa), 0);  // bytes compare unsigned
    EXPECT_EQ(SnmpUtilOctetsCmp(&oa, &oa), 0);
    EXPECT_EQ(SnmpUtilOctetsNCmp(&oa, &ob, 2), 0);
    EXPECT_EQ(SnmpUtilOctetsNCmp(&oa, &op, 2), 0);
    EXPECT_LT(SnmpUtilOctetsNCmp(&oa, &ob, 3), 0);
}

// ---- values and bindings --------------------------------------------------------------

// Every kind of value the module hands over: numbers copied by value (the
// 64-bit counter sits on a 4-byte boundary), octet strings and OIDs deeply.
TEST(SnmpUtilVarBindList, CopyOfMixedListIsDeepAndFreeEmptiesIt) {
    std::string text = "session text";
    SnmpVarBind source[6] = {};
    for (UINT i = 0; i < 6; ++i) source[i].name = MakeOid({1, 3, 6, 1, 4, 1, 44821, i + 1});
    source[0].value.asnType = ASN_INTEGER;
    source[0].value.asnValue.number = -7;
    source[1].value.asnType = ASN_OCTETSTRING;
    source[1].value.asnValue.string = ViewOctets(text);
    source[2].value.asnType = ASN_OBJECTIDENTIFIER;
    source[2].value.asnValue.object = MakeOid({1, 3, 6, 1, 4, 1, 5113});
    source[3].value.asnType = ASN_TIMETICKS;
    source[3].value.asnValue.ticks = 12345;
    source[4].value.asnType = ASN_COUNTER64;
    source[4].value.asnValue.counter64.QuadPart = 0x0123456789ABCDEFull;
    source[5].value.asnType = ASN_OPAQUE;
    source[5].value.asnValue.arbitrary = MakeDynamicOctets("opaque");
    SnmpVarBindList sourceList{source, 6};

    SnmpVarBindList copy{};
    ASSERT_EQ(SnmpUtilVarBindListCpy(&copy, &sourceList), SNMPAPI_NOERROR);
    ASSERT_EQ(copy.len, 6u);
    ASSERT_NE(+copy.list, source);

    // Wreck the source; the copy must not notice.
    text.assign(text.size(), '#');
    for (SnmpVarBind& binding : source) binding.name.ids[7] = 0;
    source[2].value.asnValue.object.ids[6] = 0;
    source[5].value.asnValue.arbitrary.stream[0] = '#';

    for (UINT i = 0; i < 6; ++i) {
        EXPECT_EQ(IdsOf(copy.list[i].name), (std::vector<UINT>{1, 3, 6, 1, 4, 1, 44821, i + 1}));
        EXPECT_EQ(copy.list[i].value.asnType, source[i].value.asnType);
    }
    EXPECT_EQ(copy.list[0].value.asnValue.number, -7);
    EXPECT_EQ(BytesOf(copy.list[1].value.asnValue.string), "session text");
    EXPECT_EQ(copy.list[1].value.asnValue.string.dynamic, TRUE);
    EXPECT_EQ(IdsOf(copy.list[2].value.asnValue.object), (std::vector<UINT>{1, 3, 6, 1, 4, 1, 5113}));
    EXPECT_EQ(copy.list[3].value.asnValue.ticks, 12345u);
    EXPECT_EQ(+copy.list[4].value.asnValue.counter64.QuadPart, 0x0123456789ABCDEFull);
    EXPECT_EQ(BytesOf(copy.list[5].value.asnValue.arbitrary), "opaque");

    SnmpUtilVarBindListFree(&copy);
    EXPECT_EQ(+copy.list, nullptr);
    EXPECT_EQ(copy.len, 0u);
    for (SnmpVarBind& binding : source) {
        SnmpUtilVarBindFree(&binding);  // the borrowed text is left alone
        EXPECT_EQ(+binding.name.ids, nullptr);
        EXPECT_EQ(binding.name.idLength, 0u);
        EXPECT_EQ(binding.value.asnType, ASN_NULL);
        EXPECT_EQ(+binding.value.asnValue.string.stream, nullptr);
    }
    EXPECT_EQ(text, std::string(12, '#'));
}

}  // namespace
