// Turning the value of a successful reply into a binding's value.
#pragma once

#include "qv_snmp.h"
#include "query/query_message.h"

namespace qv::query {

// A value prepared without touching the binding, so that a failure later on
// leaves the binding as the service gave it.
struct PreparedValue {
    AsnAny value{};
    // True when `value` still refers to whatever the binding's old value
    // owns, which must then not be released.
    bool keepsOldStorage = false;
};

// Reads type (byte 38) and value (from byte 40) of a reply with status 2:
// an integer, an octet string up to its zero byte copied into a new
// SnmpUtilMemAlloc block, or for any other type the binding's current value
// under the new type. SNMP_ERRORSTATUS_NOERROR, or GENERR when the string has
// no terminator inside the message or its block cannot be allocated (nothing
// is then left allocated).
AsnInteger32 PrepareReplyValue(const Message& reply, const AsnAny& current, PreparedValue& prepared);

// Stores a prepared value into the binding, first releasing what the old
// value owned unless the new one keeps it.
void CommitValue(AsnAny& target, PreparedValue& prepared);

// Releases a prepared value that will not be committed.
void DiscardValue(PreparedValue& prepared);

}  // namespace qv::query
