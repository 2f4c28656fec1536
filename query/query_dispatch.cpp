#include "query/query_dispatch.h"

#include "query/query_handlers.h"

namespace qv::query {

BOOL DispatchQuery(BYTE pduType, SnmpVarBindList* bindings, AsnInteger32* errorStatus, AsnInteger32* errorIndex) {
    AsnInteger32 status = SNMP_ERRORSTATUS_NOERROR;
    if (errorStatus != nullptr) *errorStatus = status;
    if (errorIndex != nullptr) *errorIndex = 0;
    if (bindings == nullptr || bindings->list == nullptr) return TRUE;

    // Every binding is served whatever became of the ones before it, so the
    // status the service sees is the last binding's; the index stays 0.
    const UINT count = bindings->len;
    for (UINT i = 0; i < count; ++i) {
        SnmpVarBind* binding = &bindings->list[i];
        switch (pduType) {
        case SNMP_PDU_GET:
            status = GetRequest(binding);
            break;
        case SNMP_PDU_GETNEXT:
            status = GetNextRequest(binding);
            break;
        case SNMP_PDU_SET:
            status = SetRequest(binding);
            break;
        default:
            status = SNMP_ERRORSTATUS_NOSUCHNAME;
            break;
        }
        if (errorStatus != nullptr) *errorStatus = status;
    }
    return TRUE;
}

}  // namespace qv::query
