#include "query/current_variable.h"
#include "query/query_handlers.h"
#include "query/reply_value.h"
#include "query/request_oid.h"
#include "query/request_path.h"

AsnInteger32 GetRequest(SnmpVarBind* binding) {
    using namespace qv::query;
    std::uint16_t pen = 0;
    const AsnInteger32 checked = CheckRequestOid(binding->name, pen);
    if (checked != SNMP_ERRORSTATUS_NOERROR) return checked;
    // All 32 bits of sub-identifier 6 must name the status variable here; a
    // root that matches only in its low 16 bits is forwarded like any other.
    if (IsEnterpriseRoot(binding->name) && binding->name.ids[6] == kStatusPen) return GetSessionStatus(binding);

    Message request;
    int session = -1;
    const AsnInteger32 addressed = AddressSession(binding->name, pen, request, session);
    if (addressed != SNMP_ERRORSTATUS_NOERROR) return addressed;
    StampForSession(request, session, pen, Operation::Get);

    Message reply;
    if (!ExchangeRequest(session, request, FirstStep::Sleep, reply)) {
        // Session 0 answers a silent application with noSuchName, every other
        // session with resourceUnavailable.
        return session == 0 ? SNMP_ERRORSTATUS_NOSUCHNAME : SNMP_ERRORSTATUS_RESOURCEUNAVAILABLE;
    }
    const AsnInteger32 status = MapReplyStatus(reply[message::kStatus]);
    if (status != SNMP_ERRORSTATUS_NOERROR) return status;

    PreparedValue value;
    const AsnInteger32 converted = PrepareReplyValue(reply, binding->value, value);
    if (converted != SNMP_ERRORSTATUS_NOERROR) return converted;
    CommitValue(binding->value, value);
    return SNMP_ERRORSTATUS_NOERROR;
}
