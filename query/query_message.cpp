#include "query/query_message.h"

#include "shm/shared_access.h"

namespace qv::query {

void BuildBlankRequest(Message& request) {
    request.fill(0);
    request[message::kValueAttribute] = message::kAttribute;
}

void WriteOidTail(Message& request, const AsnObjectIdentifier& oid) {
    std::size_t offset = message::kTail;
    for (UINT i = 7; i < oid.idLength && offset < message::kTail + message::kTailSize; ++i, ++offset) {
        request[offset] = static_cast<std::uint8_t>(oid.ids[i] & 0xFFu);
    }
    // The terminator of a full tail falls on the first reserved byte.
    request[offset] = 0;
}

void StampRequest(Message& request, std::uint16_t sequence, std::uint16_t pen, Operation operation) {
    shm::WriteU16(request.data() + message::kSequence, sequence);
    shm::WriteU16(request.data() + message::kPen, pen);
    request[message::kOperation] = static_cast<std::uint8_t>(operation);
    request[message::kMarker1] = message::kMarker1Value;
    request[message::kMarker2] = message::kMarker2Value;
    if (operation != Operation::Set) request[message::kValue] = message::kRequestValue;
}

std::uint16_t SequenceOf(const Message& message) { return shm::ReadU16(message.data() + message::kSequence); }

AsnInteger32 MapReplyStatus(std::uint8_t code) {
    switch (code) {
    case message::kReplyOk:
        return SNMP_ERRORSTATUS_NOERROR;
    case message::kReplyGeneralError:
        return SNMP_ERRORSTATUS_GENERR;
    case message::kReplyNoSuchName:
        return SNMP_ERRORSTATUS_NOSUCHNAME;
    case message::kReplyReadOnly:
        return SNMP_ERRORSTATUS_READONLY;
    case message::kReplyBadValue:
        return SNMP_ERRORSTATUS_BADVALUE;
    default:
        return SNMP_ERRORSTATUS_NOSUCHNAME;
    }
}

}  // namespace qv::query
