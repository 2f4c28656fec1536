#include "query/request_oid.h"

#include "query/current_variable.h"

namespace qv::query {
namespace {

bool IsServedPen(std::uint16_t pen) {
    for (int i = 0; i < shm::kServedPenCount; ++i) {
        if (shm::kServedPens[i] == pen) return true;
    }
    return false;
}

}  // namespace

AsnInteger32 CheckRequestOid(const AsnObjectIdentifier& oid, std::uint16_t& pen) {
    // Without sub-identifier 6 there is no enterprise to look up, and nothing
    // can be addressed below it: such an OID names no variable we serve. The
    // length is checked before any sub-identifier is read.
    if (oid.idLength < kEnterpriseRootLength || oid.ids == nullptr) return SNMP_ERRORSTATUS_NOSUCHNAME;
    for (UINT i = 0; i < kComparedPrefixLength; ++i) {
        if (oid.ids[i] != kViewPrefix[i]) return SNMP_ERRORSTATUS_NOSUCHNAME;
    }
    const auto candidate = static_cast<std::uint16_t>(oid.ids[6] & 0xFFFFu);
    if (!IsServedPen(candidate)) return SNMP_ERRORSTATUS_NOSUCHNAME;
    // More sub-identifiers behind the PEN than the tail holds do not fit the
    // message, so no application can be asked for such a variable: it does not exist as
    // far as a manager can tell. Refused before anything is sent.
    if (oid.idLength > kMaxServedOidLength) return SNMP_ERRORSTATUS_NOSUCHNAME;
    LoadCurrentVariable(oid);
    pen = candidate;
    return SNMP_ERRORSTATUS_NOERROR;
}

}  // namespace qv::query
