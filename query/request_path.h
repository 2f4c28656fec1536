// The steps every forwarded request shares once its OID has been checked:
// addressing the session, stamping the header, sending and waiting.
#pragma once

#include <cstdint>

#include "qv_snmp.h"
#include "query/query_message.h"
#include "query/reply_wait.h"

namespace qv::query {

// Builds the blank request with the OID tail and finds the session that the
// tail's first two bytes (AppId, AppInst) and `pen` address. Returns
// SNMP_ERRORSTATUS_NOERROR with `session` set; 4 when there is no such
// session; 2 when it is not up.
AsnInteger32 AddressSession(const AsnObjectIdentifier& oid, std::uint16_t pen, Message& request, int& session);

// Takes the session's next sequence number and fills in the header.
void StampForSession(Message& request, int session, std::uint16_t pen, Operation operation);

}  // namespace qv::query
