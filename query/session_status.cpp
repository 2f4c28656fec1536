#include "query/session_status.h"

#include <cstdio>
#include <cstring>

#include "query/current_variable.h"
#include "query/query_handlers.h"
#include "shm/snmp_session.h"
#include "shm/snmp_shared_memory.h"

namespace qv::query {

std::string FormatSessionStatus(const QVSNMP_COMBufferHeaderLine* base) {
    std::string text;
    int count = 0;
    for (int i = 0; base != nullptr && i < shm::kSessionCount; ++i) {
        // Read without a lock while the worker and applications may change
        // the row: an entry may mix fields from before and after a change.
        const shm::SessionRow row = shm::LoadSessionRow(base, i);
        if (row.state == shm::kSessionFree) continue;
        ++count;
        char entry[96];
        const int length = std::snprintf(entry, sizeof entry, "S[%d]: Up(%d) Pen(%d) ApId(%d) ApInst(%d)   ", i,
                                         static_cast<int>(static_cast<std::int8_t>(row.state)),
                                         static_cast<int>(row.pen), static_cast<int>(row.appId),
                                         static_cast<int>(row.appInst));
        // Sixteen sessions do not fit the 511 characters. The text is cut
        // before the first entry that would not fit whole, so a reader never
        // meets a half entry; the sessions left out are the highest ones.
        if (length < 0 || text.size() + static_cast<std::size_t>(length) > kStatusBufferSize - 1) break;
        text.append(entry, static_cast<std::size_t>(length));
    }
    if (count == 0) text = kNoActiveSession;
    return text;
}

}  // namespace qv::query

AsnInteger32 GetSessionStatus(SnmpVarBind* binding) {
    using namespace qv::query;
    const std::string text = FormatSessionStatus(SnmpSharedMemory::GetSharedMemoryBasePointer());
    const auto length = static_cast<UINT>(text.size());

    // Both new parts are made before the binding changes, so a failed
    // allocation leaves it as the service gave it.
    auto* stream = static_cast<BYTE*>(SnmpUtilMemAlloc(length));
    if (stream == nullptr) return SNMP_ERRORSTATUS_GENERR;
    std::memcpy(stream, text.data(), length);
    AsnObjectIdentifier record = CurrentVariableOid();
    AsnObjectIdentifier name = {0, nullptr};
    if (!SnmpUtilOidCpy(&name, &record)) {
        SnmpUtilMemFree(stream);
        return SNMP_ERRORSTATUS_GENERR;
    }

    SnmpUtilOidFree(&binding->name);
    binding->name = name;
    SnmpUtilAsnAnyFree(&binding->value);
    binding->value.asnType = ASN_OCTETSTRING;
    binding->value.asnValue.string = AsnOctetString{stream, length, TRUE};
    return SNMP_ERRORSTATUS_NOERROR;
}
