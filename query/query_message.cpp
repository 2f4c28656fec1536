#include "query/query_message.h"

#include "shm/shared_access.h"

namespace qv::query {

void BuildBlankRequest(Message& request) {
    request.fill(0);
    request[message::kValueAttribute] = 3;
}

void WriteOidTail(Message& request, const AsnObjectIdentifier& oid) {
    std::size_t offset = message::kTail;
    for (UINT i = 7; i < oid.idLength && offset < message::kTail + message::kTailSize; ++i, ++offset) {
        request[offset] = static_cast<std::uint8_t>(oid.ids[i] & 0xFFu);
    }
    // The terminator of a full 24-byte tail falls on offset 28.
    request[offset] = 0;
}

void StampRequest(Message& request, std::uint16_t sequence, std::uint16_t pen, Operation operation) {
    shm::WriteU16(request.data() + message::kSequence, sequence);
    shm::WriteU16(request.data() + message::kPen, pen);
    request[message::kOperation] = static_cast<std::uint8_t>(operation);
    request[message::kMarker1] = 1;
    request[message::kMarker2] = 2;
    if (operation != Operation::Set) request[message::kValue] = 1;
}

std::uint16_t SequenceOf(const Message& message) { return shm::ReadU16(message.data() + message::kSequence); }

AsnInteger32 MapReplyStatus(std::uint8_t code) {
    switch (code) {
    case 2:
        return SNMP_ERRORSTATUS_NOERROR;
    case 3:
        return SNMP_ERRORSTATUS_GENERR;
    case 4:
        return SNMP_ERRORSTATUS_NOSUCHNAME;
    case 5:
        return SNMP_ERRORSTATUS_READONLY;
    case 6:
        return SNMP_ERRORSTATUS_BADVALUE;
    default:
        return SNMP_ERRORSTATUS_NOSUCHNAME;
    }
}

}  // namespace qv::query
