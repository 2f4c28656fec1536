#include "trap/trap_record.h"

namespace qv::trap {
namespace {

// Handed to the service by address and never written: read-only storage
// enforces that. The API's pointer is not const, hence the cast below.
const UINT kEnterprise4127[7] = {1, 3, 6, 1, 4, 1, 4127};
const UINT kEnterprise5113[7] = {1, 3, 6, 1, 4, 1, 5113};
const UINT kEnterprise39917[7] = {1, 3, 6, 1, 4, 1, 39917};
const UINT kEnterprise44821[7] = {1, 3, 6, 1, 4, 1, 44821};

AsnObjectIdentifier Oid(const UINT (&ids)[7]) { return AsnObjectIdentifier{7, const_cast<UINT*>(ids)}; }

}  // namespace

AsnObjectIdentifier EnterpriseOidFor(std::uint16_t pen) {
    switch (pen) {
    case 4127:
        return Oid(kEnterprise4127);
    case 5113:
        return Oid(kEnterprise5113);
    case 39917:
        return Oid(kEnterprise39917);
    default:
        return Oid(kEnterprise44821);
    }
}

UINT ReadSuffix(const std::uint8_t* record, UINT (&suffix)[shm::record::kMaxSuffixBytes]) {
    UINT count = 0;
    while (count < shm::record::kMaxSuffixBytes && record[shm::record::kSuffix + count] != 0) {
        // Signed widening: only bytes 1..127 keep their own value.
        const auto byte = static_cast<std::int8_t>(record[shm::record::kSuffix + count]);
        suffix[count] = static_cast<UINT>(static_cast<std::int32_t>(byte));
        ++count;
    }
    return count;
}

}  // namespace qv::trap
