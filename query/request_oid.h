// Which OIDs the query path serves, and how an OID addresses an application:
// 1.3.6.1.4.1.<PEN>.<AppId>.<AppInst>.<further sub-identifiers>.
#pragma once

#include <cstdint>

#include "qv_snmp.h"
#include "shm/wire.h"

namespace qv::query {

// The one prefix every request is compared against. Only its first six
// sub-identifiers are compared; the seventh is looked up among the served PENs.
inline constexpr UINT kViewPrefix[7] = {1, 3, 6, 1, 4, 1, shm::kStatusPen};
inline constexpr UINT kComparedPrefixLength = 6;
inline constexpr UINT kEnterpriseRootLength = 7;
// The query message's tail bytes carry AppId, AppInst and what follows.
inline constexpr UINT kMaxTailLength = shm::message::kTailSize;
inline constexpr UINT kMaxServedOidLength = kEnterpriseRootLength + kMaxTailLength;
// The enterprise number whose root is the session status variable.
inline constexpr std::uint16_t kStatusPen = shm::kStatusPen;

// Steps shared by all handlers: the OID lies under 1.3.6.1.4.1, its PEN (low
// 16 bits of sub-identifier 6) is served, and it is copied into the current
// variable record. Returns SNMP_ERRORSTATUS_NOERROR with `pen` set, or the
// error status for the binding (the record is then unchanged).
AsnInteger32 CheckRequestOid(const AsnObjectIdentifier& oid, std::uint16_t& pen);

inline bool IsEnterpriseRoot(const AsnObjectIdentifier& oid) { return oid.idLength == kEnterpriseRootLength; }

}  // namespace qv::query
