#include <cstdint>

#include "log/trace.h"
#include "query/current_variable.h"
#include "query/query_handlers.h"
#include "query/reply_value.h"
#include "query/request_oid.h"
#include "query/request_path.h"

namespace {

using qv::query::Message;

// Forms the next OID in the current variable record: the request's first seven
// sub-identifiers, then one per reply tail byte up to its zero byte and at
// most message::kReplyTailSize of them. Each byte is read as a signed 8-bit number and widened, so
// 128..255 become 4294967168..4294967295. Returns the number of bytes taken.
UINT FormNextOid(const Message& reply) {
    using namespace qv::query;
    CurrentVariable& record = CurrentVariableRecord();
    UINT taken = 0;
    while (taken < message::kReplyTailSize && reply[message::kTail + taken] != 0) {
        const auto byte = static_cast<std::int8_t>(reply[message::kTail + taken]);
        record.ids[kEnterpriseRootLength + taken] = static_cast<UINT>(static_cast<std::int32_t>(byte));
        ++taken;
    }
    record.length = kEnterpriseRootLength + taken;
    return taken;
}

}  // namespace

AsnInteger32 GetNextRequest(SnmpVarBind* binding) {
    using namespace qv::query;
    qv::trace::GetNextLine("Enter");
    std::uint16_t pen = 0;
    const AsnInteger32 checked = CheckRequestOid(binding->name, pen);
    if (checked != SNMP_ERRORSTATUS_NOERROR) return checked;
    // The status variable has no successor here: it answers for itself.
    if (IsEnterpriseRoot(binding->name) && pen == kStatusPen) return GetSessionStatus(binding);

    Message request;
    int session = -1;
    const AsnInteger32 addressed = AddressSession(binding->name, pen, request, session);
    if (addressed != SNMP_ERRORSTATUS_NOERROR) return addressed;
    StampForSession(request, session, pen, Operation::GetNext);

    Message reply;
    if (!ExchangeRequest(session, request, FirstStep::Poll, reply)) return SNMP_ERRORSTATUS_RESOURCEUNAVAILABLE;
    const AsnInteger32 status = MapReplyStatus(reply[message::kStatus]);
    if (status != SNMP_ERRORSTATUS_NOERROR) return status;

    // Everything that can fail is made before the binding changes.
    PreparedValue value;
    const AsnInteger32 converted = PrepareReplyValue(reply, binding->value, value);
    if (converted != SNMP_ERRORSTATUS_NOERROR) return converted;
    AsnObjectIdentifier next = {0, nullptr};
    // An empty tail is the application's way of saying there is no next OID:
    // the name becomes empty.
    if (FormNextOid(reply) != 0) {
        AsnObjectIdentifier record = CurrentVariableOid();
        if (!SnmpUtilOidCpy(&next, &record)) {
            DiscardValue(value);
            return SNMP_ERRORSTATUS_GENERR;
        }
    }
    SnmpUtilOidFree(&binding->name);
    binding->name = next;
    CommitValue(binding->value, value);
    qv::trace::GetNextLine("Exit");
    return SNMP_ERRORSTATUS_NOERROR;
}
