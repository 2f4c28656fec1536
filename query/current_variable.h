// The OID being served, kept process-wide between the steps of one binding.
//
// Unguarded: the service makes one SnmpExtensionQuery call at a time, and the
// query path serves one binding at a time.
#pragma once

#include <cstdint>

#include "qv_snmp.h"

namespace qv::query {

// SNMP's limit for the length of an OID.
inline constexpr UINT kMaxOidLength = 128;

struct CurrentVariable {
    UINT length;
    UINT ids[kMaxOidLength];
};

CurrentVariable& CurrentVariableRecord();

// Clears all 128 places, then copies `oid` in. The caller has checked that
// the OID is no longer than the record.
void LoadCurrentVariable(const AsnObjectIdentifier& oid);

// The record as an OID that SnmpUtilOidCpy can copy from; valid until the
// record changes.
AsnObjectIdentifier CurrentVariableOid();

}  // namespace qv::query
