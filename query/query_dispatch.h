// SnmpExtensionQuery: every binding of a request to its handler.
#pragma once

#include "qv_snmp.h"

namespace qv::query {

// Serves each binding in list order whatever became of the ones before it;
// the error status is the last binding's and the error index stays 0. Always
// TRUE.
BOOL DispatchQuery(BYTE pduType, SnmpVarBindList* bindings, AsnInteger32* errorStatus, AsnInteger32* errorIndex);

}  // namespace qv::query
