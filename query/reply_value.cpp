#include "query/reply_value.h"

#include <cstring>

#include "shm/shared_access.h"

namespace qv::query {
namespace {

// How a type uses the value union: plain bits, an owned octet stream, or an
// owned sub-identifier array. The service frees a value by its type.
enum class Storage { Plain, Octets, Oid };

Storage StorageOf(BYTE type) {
    switch (type) {
    case ASN_OCTETSTRING:
    case ASN_BITS:
    case ASN_SEQUENCE:
    case ASN_IPADDRESS:
    case ASN_OPAQUE:
        return Storage::Octets;
    case ASN_OBJECTIDENTIFIER:
        return Storage::Oid;
    default:
        return Storage::Plain;
    }
}

}  // namespace

AsnInteger32 PrepareReplyValue(const Message& reply, const AsnAny& current, PreparedValue& prepared) {
    const BYTE type = reply[message::kValueType];
    prepared = PreparedValue{};
    // Braces initialise only a union's first member: the bytes of the stream
    // pointer above the 32-bit number may be left as they were. An empty value
    // must read as no stream at all under every type, so all of it is zeroed.
    std::memset(&prepared.value, 0, sizeof prepared.value);
    prepared.value.asnType = type;

    if (type == ASN_INTEGER) {
        prepared.value.asnValue.number = shm::ReadI32(reply.data() + message::kValue);
        return SNMP_ERRORSTATUS_NOERROR;
    }
    if (type == ASN_OCTETSTRING) {
        const std::uint8_t* text = reply.data() + message::kValue;
        const std::size_t room = reply.size() - message::kValue;
        const void* end = std::memchr(text, 0, room);
        // A string without its zero byte is a broken reply. Passing on the
        // bytes up to the end of the message would present a value the
        // application never finished as if it were whole, so the binding fails.
        if (end == nullptr) return SNMP_ERRORSTATUS_GENERR;
        const auto length = static_cast<UINT>(static_cast<const std::uint8_t*>(end) - text);
        auto* stream = static_cast<BYTE*>(SnmpUtilMemAlloc(length));
        if (stream == nullptr && length != 0) return SNMP_ERRORSTATUS_GENERR;
        if (length != 0) std::memcpy(stream, text, length);
        prepared.value.asnValue.string = AsnOctetString{stream, length, TRUE};
        return SNMP_ERRORSTATUS_NOERROR;
    }
    // Any other type changes only the type. Where the old and the new type
    // read the union the same way, the value is kept as it is. Otherwise the
    // old bits would be taken for a pointer (a number read as a stream) or an
    // owned block would be lost (a stream read as a number) when the service
    // frees the binding by its new type; the old value is then released and
    // the new one is empty.
    if (StorageOf(type) == StorageOf(current.asnType)) {
        prepared.value.asnValue = current.asnValue;
        prepared.keepsOldStorage = true;
    }
    return SNMP_ERRORSTATUS_NOERROR;
}

void CommitValue(AsnAny& target, PreparedValue& prepared) {
    // The service may have put an owned value into the binding it asks about;
    // it frees only what the binding holds when it is done, so whatever we
    // replace is released here.
    if (!prepared.keepsOldStorage) SnmpUtilAsnAnyFree(&target);
    target = prepared.value;
    prepared = PreparedValue{};
}

void DiscardValue(PreparedValue& prepared) {
    if (!prepared.keepsOldStorage) SnmpUtilAsnAnyFree(&prepared.value);
    prepared = PreparedValue{};
}

}  // namespace qv::query
