// The SnmpUtil allocators the module uses. Under LeakSanitizer the test also
// shows that every free releases what was taken.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "qv_snmp.h"

namespace {

AsnObjectIdentifier MakeOid(const std::vector<UINT>& ids) {
    AsnObjectIdentifier oid{static_cast<UINT>(ids.size()), static_cast<UINT*>(SnmpUtilMemAlloc(static_cast<UINT>(ids.size() * sizeof(UINT))))};
    std::memcpy(oid.ids, ids.data(), ids.size() * sizeof(UINT));
    return oid;
}

std::vector<UINT> IdsOf(const AsnObjectIdentifier& oid) { return std::vector<UINT>(oid.ids, oid.ids + oid.idLength); }

TEST(SnmpUtilTest, MemAllocIsZeroFilledOidCopyIsDeepAppendAddsAtTheEndAndFreeLeavesAnEmptyOid) {
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
    AsnObjectIdentifier prefix = MakeOid({1, 3, 6});
    AsnObjectIdentifier tail = MakeOid({39917, 2});
    // Onto the empty copy: an empty OID among others, and last the copy itself, the block the append reallocates.
    for (AsnObjectIdentifier* from : {&prefix, &source, &tail, &copy}) ASSERT_EQ(SnmpUtilOidAppend(&copy, from), SNMPAPI_NOERROR);
    EXPECT_EQ(IdsOf(copy), (std::vector<UINT>{1, 3, 6, 39917, 2, 1, 3, 6, 39917, 2}));
    for (AsnObjectIdentifier* oid : {&copy, &prefix, &tail}) SnmpUtilOidFree(oid);
}

}  // namespace
