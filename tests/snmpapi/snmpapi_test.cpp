// The SnmpUtil calls the module and the host make: allocations are
// zero-filled, OID copies are deep, appends grow the target, frees leave empty
// structures. Under LeakSanitizer these tests also show that every free
// releases what was allocated, and only that.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "qv_snmp.h"

namespace {

AsnObjectIdentifier MakeOid(const std::vector<UINT>& ids) {
    AsnObjectIdentifier oid{static_cast<UINT>(ids.size()), nullptr};
    if (!ids.empty()) {
        oid.ids = static_cast<UINT*>(SnmpUtilMemAlloc(static_cast<UINT>(ids.size() * sizeof(UINT))));
        std::memcpy(oid.ids, ids.data(), ids.size() * sizeof(UINT));
    }
    return oid;
}

std::vector<UINT> IdsOf(const AsnObjectIdentifier& oid) { return std::vector<UINT>(oid.ids, oid.ids + oid.idLength); }

TEST(SnmpUtilTest, MemAllocIsZeroFilledAndOidCopyIsDeepAndFreeLeavesAnEmptyOid) {
    auto* block = static_cast<unsigned char*>(SnmpUtilMemAlloc(64));
    EXPECT_EQ(std::vector<unsigned char>(block, block + 64), std::vector<unsigned char>(64, 0));
    SnmpUtilMemFree(block);
    AsnObjectIdentifier source = MakeOid({1, 3, 6, 1, 4, 1, 44821});
    AsnObjectIdentifier copy{99, nullptr};
    ASSERT_EQ(SnmpUtilOidCpy(&copy, &source), SNMPAPI_NOERROR);
    source.ids[6] = 5113;
    SnmpUtilOidFree(&source);
    EXPECT_TRUE(source.idLength == 0 && source.ids == nullptr);
    SnmpUtilOidFree(&source);  // freeing an empty OID again is harmless
    EXPECT_EQ(IdsOf(copy), (std::vector<UINT>{1, 3, 6, 1, 4, 1, 44821}));
    SnmpUtilOidFree(&copy);
    ASSERT_EQ(SnmpUtilOidCpy(&copy, &source), SNMPAPI_NOERROR);
    EXPECT_TRUE(copy.idLength == 0 && copy.ids == nullptr);
}

TEST(SnmpUtilTest, OidAppendAddsTheSourceAtTheEndUpToTheLongestOid) {
    AsnObjectIdentifier target{0, nullptr};
    AsnObjectIdentifier prefix = MakeOid({1, 3, 6});
    AsnObjectIdentifier tail = MakeOid({39917, 2});
    AsnObjectIdentifier empty{0, nullptr};
    for (AsnObjectIdentifier* source : {&prefix, &empty, &tail, &target}) ASSERT_EQ(SnmpUtilOidAppend(&target, source), SNMPAPI_NOERROR);
    // The last source was the target itself: the block the append reallocates.
    EXPECT_EQ(IdsOf(target), (std::vector<UINT>{1, 3, 6, 39917, 2, 1, 3, 6, 39917, 2}));
    SnmpUtilOidFree(&target);
    target = MakeOid(std::vector<UINT>(SNMP_MAX_OID_LEN - 1, 7));
    SetLastError(0);
    EXPECT_EQ(SnmpUtilOidAppend(&target, &tail), SNMPAPI_ERROR);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(SNMP_BERAPI_OVERFLOW));
    EXPECT_EQ(IdsOf(target), std::vector<UINT>(SNMP_MAX_OID_LEN - 1, 7));
    tail.idLength = 1;
    EXPECT_EQ(SnmpUtilOidAppend(&target, &tail), SNMPAPI_NOERROR);
    EXPECT_EQ(target.idLength, static_cast<UINT>(SNMP_MAX_OID_LEN));
    for (AsnObjectIdentifier* oid : {&target, &prefix, &tail}) SnmpUtilOidFree(oid);
}

TEST(SnmpUtilTest, VarBindListFreeReleasesNamesAndDynamicValuesOnly) {
    std::string text = "borrowed";
    SnmpVarBindList list{static_cast<SnmpVarBind*>(SnmpUtilMemAlloc(3 * sizeof(SnmpVarBind))), 3};
    for (UINT i = 0; i < 3; ++i) list.list[i].name = MakeOid({1, 3, 6, 1, 4, 1, 44821, i});
    list.list[0].value.asnType = ASN_OCTETSTRING;
    list.list[0].value.asnValue.string = {reinterpret_cast<BYTE*>(text.data()), static_cast<UINT>(text.size()), FALSE};
    list.list[1].value.asnType = ASN_OCTETSTRING;
    list.list[1].value.asnValue.string = {static_cast<BYTE*>(SnmpUtilMemAlloc(6)), 6, TRUE};
    list.list[2].value.asnType = ASN_OBJECTIDENTIFIER;
    list.list[2].value.asnValue.object = MakeOid({1, 3, 6, 1, 4, 1, 5113});
    SnmpUtilVarBindListFree(&list);
    EXPECT_TRUE(list.list == nullptr && list.len == 0);
    EXPECT_EQ(text, "borrowed");
}

}  // namespace
