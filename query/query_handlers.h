// The per-binding handlers behind SnmpExtensionQuery.
//
// Each serves one variable binding and returns the SNMP error status for it.
// A handler that fails leaves the binding exactly as it found it; one that
// succeeds replaces what it answers (value, and for GETNEXT the name) with
// memory from the SnmpUtil allocators, which then belongs to the service.
#pragma once

#include "qv_snmp.h"

AsnInteger32 GetRequest(SnmpVarBind* binding);
AsnInteger32 GetNextRequest(SnmpVarBind* binding);
AsnInteger32 SetRequest(SnmpVarBind* binding);

// Answers the enterprise root 1.3.6.1.4.1.44821 with the session list text.
// Expects the current variable record to hold the request OID.
AsnInteger32 GetSessionStatus(SnmpVarBind* binding);
