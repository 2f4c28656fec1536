#include <cstring>

#include "query/query_handlers.h"
#include "query/request_oid.h"
#include "query/request_path.h"
#include "shm/shared_access.h"

namespace {

using qv::query::Message;
namespace message = qv::query::message;

// Value fields of a SET request. False when the value cannot be carried.
bool WriteSetValue(const AsnAny& value, Message& request) {
    if (value.asnType == ASN_INTEGER) {
        qv::shm::WriteU16(request.data() + message::kValueLength, static_cast<std::uint16_t>(sizeof(std::int32_t)));
        request[message::kValueType] = ASN_INTEGER;
        qv::shm::WriteI32(request.data() + message::kValue, value.asnValue.number);
        return true;
    }
    if (value.asnType == ASN_OCTETSTRING) {
        const AsnOctetString& string = value.asnValue.string;
        // The string and its zero byte must fit the value field. A
        // longer one is refused as a bad value rather than cut short: the
        // application would otherwise store a value the manager never sent.
        // badValue is also what an SNMPv1 manager understands.
        if (string.length > message::kMaxText) return false;
        if (string.length != 0 && string.stream == nullptr) return false;
        qv::shm::WriteU16(request.data() + message::kValueLength, static_cast<std::uint16_t>(string.length & 0xFFFFu));
        request[message::kValueType] = ASN_OCTETSTRING;
        // Zero bytes inside the string go as they are; the length field tells
        // the application where it ends.
        if (string.length != 0) std::memcpy(request.data() + message::kValue, string.stream, string.length);
        request[message::kValue + string.length] = 0;
        return true;
    }
    // Any other type is sent all the same, with type 0 and length 0: the
    // application decides.
    return true;
}

}  // namespace

AsnInteger32 SetRequest(SnmpVarBind* binding) {
    using namespace qv::query;
    std::uint16_t pen = 0;
    const AsnInteger32 checked = CheckRequestOid(binding->name, pen);
    if (checked != SNMP_ERRORSTATUS_NOERROR) return checked;
    // No enterprise root is writable, the status variable included.
    if (IsEnterpriseRoot(binding->name)) return SNMP_ERRORSTATUS_READONLY;

    Message request;
    int session = -1;
    const AsnInteger32 addressed = AddressSession(binding->name, pen, request, session);
    if (addressed != SNMP_ERRORSTATUS_NOERROR) return addressed;
    // Refused before a sequence number is taken, so nothing is sent.
    if (!WriteSetValue(binding->value, request)) return SNMP_ERRORSTATUS_BADVALUE;
    StampForSession(request, session, pen, Operation::Set);

    Message reply;
    if (!ExchangeRequest(session, request, FirstStep::Sleep, reply)) return SNMP_ERRORSTATUS_RESOURCEUNAVAILABLE;
    // The binding is never changed: the service echoes what the manager sent.
    return MapReplyStatus(reply[message::kStatus]);
}
