// SnmpExtensionQuery with hostile binding lists: OIDs of any length and
// content, values of any type. The session table comes from the input too,
// but no row is ever up, so every binding ends without a reply wait.
#include <vector>

#include "agent/extension_agent.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QVSNMP_COMBufferHeaderLine* base = qv::fuzz::Base().Header();
    std::size_t at = 0;
    auto byte = [&]() -> std::uint8_t { return at < size ? data[at++] : 0; };
    auto word = [&] {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = value << 8 | byte();
        return value;
    };
    qv::fuzz::Base().Fill(nullptr, 0);
    for (int i = 0; i < 16; ++i) {
        base->sessionState[i] = static_cast<std::uint8_t>(byte() % 2);
        base->pen[i] = static_cast<std::uint16_t>(word());
        base->appId[i] = static_cast<std::int8_t>(byte());
        base->appInst[i] = static_cast<std::int8_t>(byte());
    }
    SnmpSharedMemory::SetSharedMemoryBasePointer(byte() & 1 ? base : nullptr);

    static const BYTE kPduTypes[] = {SNMP_PDU_GET, SNMP_PDU_GETNEXT, SNMP_PDU_SET, SNMP_PDU_GETBULK, 0};
    const BYTE pduType = kPduTypes[byte() % 5];
    const UINT count = byte() % 5;
    SnmpVarBindList list{static_cast<SnmpVarBind*>(SnmpUtilMemAlloc(count * sizeof(SnmpVarBind) + 1)), count};
    for (SnmpVarBind* binding = list.list; binding != list.list + count; ++binding) {
        // Mostly under the served prefix, so the checks past it are reached too.
        static const UINT kPrefix[] = {1, 3, 6, 1, 4, 1, 44821};
        std::vector<UINT> ids(byte() % 201);
        const bool prefixed = byte() % 4 != 0;
        for (std::size_t i = 0; i < ids.size(); ++i) ids[i] = prefixed && i < 7 ? kPrefix[i] : word();
        if (prefixed && ids.size() > 6) ids[6] = byte() % 2 ? 44821 : word();
        AsnObjectIdentifier oid{static_cast<UINT>(ids.size()), ids.data()};
        if (!ids.empty()) SnmpUtilOidCpy(&binding->name, &oid);
        binding->value.asnType = byte();
        if (binding->value.asnType == ASN_OCTETSTRING || binding->value.asnType == ASN_OPAQUE) {
            const UINT bytes = word() % 1200;
            binding->value.asnValue.string = {static_cast<BYTE*>(SnmpUtilMemAlloc(bytes + 1)), bytes, TRUE};
            for (UINT i = 0; i < bytes; ++i) binding->value.asnValue.string.stream[i] = byte();
        } else if (binding->value.asnType == ASN_INTEGER || binding->value.asnType == ASN_COUNTER32) {
            binding->value.asnValue.number = static_cast<AsnInteger32>(word());
        }
    }
    AsnInteger32 status = 0, index = 0;
    SnmpExtensionQuery(pduType, &list, &status, &index);
    SnmpUtilVarBindListFree(&list);
    return 0;
}
