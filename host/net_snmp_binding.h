// Conversions between net-snmp's variable bindings and the request logic's
// plain values, shared by the agent and by the request-path fuzz target so
// that both turn a manager's binding into a task the same way.
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <vector>

#include "host/request_logic.h"
#include "host/types.h"

namespace qv::host {

Oid ToOid(const oid* ids, size_t length);
std::vector<oid> FromOid(const Oid& value);

// The task for one binding of a request in `view`. A SET carries the value
// when it is an INTEGER or an OCTET STRING; any other type keeps only its
// type, which the module refuses.
Task TaskForVariable(Operation operation, const Oid& view, const netsnmp_variable_list& variable, bool inclusive);

// An answered value into a response binding: INTEGER, or OCTET STRING for
// anything else (the request logic passes on only those two).
void SetValue(netsnmp_variable_list* variable, const Value& value);

}  // namespace qv::host
