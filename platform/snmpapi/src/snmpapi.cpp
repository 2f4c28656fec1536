// SnmpUtil helpers of the SNMP service's library, for Linux.
//
// This file must contain only the POSIX backend's SnmpUtil calls. Results
// follow the Windows calls: SNMPAPI_NOERROR or SNMPAPI_ERROR with the thread's
// last error set, comparisons as negative, zero or positive numbers.
#include "snmpapi.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Every block carries its usable size in front of it: the Windows allocator
// zero-fills the grown part of a reallocated block, and for that the old size
// must be known. The header keeps the block aligned for any type.
struct alignas(std::max_align_t) BlockHeader {
    std::size_t size;
};

BlockHeader* HeaderOf(void* block) {
    return static_cast<BlockHeader*>(block) - 1;
}

bool IsOctetType(BYTE type) {
    switch (type) {
    case ASN_OCTETSTRING:
    case ASN_BITS:
    case ASN_SEQUENCE:
    case ASN_IPADDRESS:
    case ASN_OPAQUE:
        return true;
    default:
        return false;
    }
}

}  // namespace

extern "C" {

LPVOID SnmpUtilMemAlloc(UINT nBytes) {
    void* raw = std::calloc(1, sizeof(BlockHeader) + nBytes);
    if (raw == nullptr) {
        SetLastError(SNMP_MEM_ALLOC_ERROR);
        return nullptr;
    }
    auto* header = static_cast<BlockHeader*>(raw);
    header->size = nBytes;
    return header + 1;
}

LPVOID SnmpUtilMemReAlloc(LPVOID pMem, UINT nBytes) {
    if (pMem == nullptr) {
        return SnmpUtilMemAlloc(nBytes);
    }
    const std::size_t oldSize = HeaderOf(pMem)->size;
    void* raw = std::realloc(HeaderOf(pMem), sizeof(BlockHeader) + nBytes);
    if (raw == nullptr) {
        // The old block stays valid and owned by the caller, as on Windows.
        SetLastError(SNMP_MEM_ALLOC_ERROR);
        return nullptr;
    }
    auto* header = static_cast<BlockHeader*>(raw);
    header->size = nBytes;
    auto* data = reinterpret_cast<BYTE*>(header + 1);
    if (nBytes > oldSize) {
        std::memset(data + oldSize, 0, nBytes - oldSize);
    }
    return data;
}

void SnmpUtilMemFree(LPVOID pMem) {
    if (pMem != nullptr) {
        std::free(HeaderOf(pMem));
    }
}

// ---- object identifiers -----------------------------------------------------------

SNMPAPI SnmpUtilOidCpy(AsnObjectIdentifier* pOidDst, AsnObjectIdentifier* pOidSrc) {
    if (pOidDst == nullptr || pOidSrc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return SNMPAPI_ERROR;
    }
    pOidDst->idLength = 0;
    pOidDst->ids = nullptr;
    if (pOidSrc->idLength == 0 || pOidSrc->ids == nullptr) {
        return SNMPAPI_NOERROR;
    }
    auto* ids = static_cast<UINT*>(SnmpUtilMemAlloc(pOidSrc->idLength * sizeof(UINT)));
    if (ids == nullptr) {
        return SNMPAPI_ERROR;
    }
    std::memcpy(ids, pOidSrc->ids, pOidSrc->idLength * sizeof(UINT));
    pOidDst->ids = ids;
    pOidDst->idLength = pOidSrc->idLength;
    return SNMPAPI_NOERROR;
}

SNMPAPI SnmpUtilOidAppend(AsnObjectIdentifier* pOidDst, AsnObjectIdentifier* pOidSrc) {
    if (pOidDst == nullptr || pOidSrc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return SNMPAPI_ERROR;
    }
    if (pOidSrc->idLength == 0 || pOidSrc->ids == nullptr) {
        return SNMPAPI_NOERROR;
    }
    const UINT total = pOidDst->idLength + pOidSrc->idLength;
    if (total > SNMP_MAX_OID_LEN) {
        SetLastError(SNMP_BERAPI_OVERFLOW);
        return SNMPAPI_ERROR;
    }
    // Appending an OID to itself: the source is read after the reallocation
    // moved it, so take its values first.
    UINT appended[SNMP_MAX_OID_LEN];
    std::memcpy(appended, pOidSrc->ids, pOidSrc->idLength * sizeof(UINT));
    const UINT appendedLength = pOidSrc->idLength;
    auto* ids = static_cast<UINT*>(SnmpUtilMemReAlloc(pOidDst->ids, total * sizeof(UINT)));
    if (ids == nullptr) {
        return SNMPAPI_ERROR;
    }
    std::memcpy(ids + pOidDst->idLength, appended, appendedLength * sizeof(UINT));
    pOidDst->ids = ids;
    pOidDst->idLength = total;
    return SNMPAPI_NOERROR;
}

SNMPAPI SnmpUtilOidNCmp(AsnObjectIdentifier* pOid1, AsnObjectIdentifier* pOid2, UINT nSubIds) {
    if (pOid1 == nullptr || pOid2 == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const UINT length1 = std::min(pOid1->idLength, nSubIds);
    const UINT length2 = std::min(pOid2->idLength, nSubIds);
    const UINT common = std::min(length1, length2);
    for (UINT i = 0; i < common; ++i) {
        if (pOid1->ids[i] != pOid2->ids[i]) {
            return pOid1->ids[i] < pOid2->ids[i] ? -1 : 1;
        }
    }
    // Equal up to the shorter one: a proper prefix sorts first.
    if (length1 == length2) {
        return 0;
    }
    return length1 < length2 ? -1 : 1;
}

SNMPAPI SnmpUtilOidCmp(AsnObjectIdentifier* pOid1, AsnObjectIdentifier* pOid2) {
    if (pOid1 == nullptr || pOid2 == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return SnmpUtilOidNCmp(pOid1, pOid2, std::max(pOid1->idLength, pOid2->idLength));
}

void SnmpUtilOidFree(AsnObjectIdentifier* pOid) {
    if (pOid == nullptr) {
        return;
    }
    SnmpUtilMemFree(pOid->ids);
    pOid->ids = nullptr;
    pOid->idLength = 0;
}

// ---- octet strings ----------------------------------------------------------------

SNMPAPI SnmpUtilOctetsNCmp(AsnOctetString* pOctets1, AsnOctetString* pOctets2, UINT nChars) {
    if (pOctets1 == nullptr || pOctets2 == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const UINT length1 = std::min(pOctets1->length, nChars);
    const UINT length2 = std::min(pOctets2->length, nChars);
    const UINT common = std::min(length1, length2);
    for (UINT i = 0; i < common; ++i) {
        if (pOctets1->stream[i] != pOctets2->stream[i]) {
            return pOctets1->stream[i] < pOctets2->stream[i] ? -1 : 1;
        }
    }
    if (length1 == length2) {
        return 0;
    }
    return length1 < length2 ? -1 : 1;
}

SNMPAPI SnmpUtilOctetsCmp(AsnOctetString* pOctets1, AsnOctetString* pOctets2) {
    if (pOctets1 == nullptr || pOctets2 == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return SnmpUtilOctetsNCmp(pOctets1, pOctets2, std::max(pOctets1->length, pOctets2->length));
}

SNMPAPI SnmpUtilOctetsCpy(AsnOctetString* pOctetsDst, AsnOctetString* pOctetsSrc) {
    if (pOctetsDst == nullptr || pOctetsSrc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return SNMPAPI_ERROR;
    }
    pOctetsDst->stream = nullptr;
    pOctetsDst->length = 0;
    pOctetsDst->dynamic = FALSE;
    if (pOctetsSrc->length == 0 || pOctetsSrc->stream == nullptr) {
        return SNMPAPI_NOERROR;
    }
    auto* stream = static_cast<BYTE*>(SnmpUtilMemAlloc(pOctetsSrc->length));
    if (stream == nullptr) {
        return SNMPAPI_ERROR;
    }
    std::memcpy(stream, pOctetsSrc->stream, pOctetsSrc->length);
    pOctetsDst->stream = stream;
    pOctetsDst->length = pOctetsSrc->length;
    pOctetsDst->dynamic = TRUE;
    return SNMPAPI_NOERROR;
}

void SnmpUtilOctetsFree(AsnOctetString* pOctets) {
    if (pOctets == nullptr) {
        return;
    }
    // A stream that is not dynamic belongs to someone else (often a constant).
    if (pOctets->dynamic) {
        SnmpUtilMemFree(pOctets->stream);
    }
    pOctets->stream = nullptr;
    pOctets->length = 0;
    pOctets->dynamic = FALSE;
}

// ---- values and bindings ----------------------------------------------------------

SNMPAPI SnmpUtilAsnAnyCpy(AsnAny* pAnyDst, AsnAny* pAnySrc) {
    if (pAnyDst == nullptr || pAnySrc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return SNMPAPI_ERROR;
    }
    if (pAnySrc->asnType == ASN_OBJECTIDENTIFIER) {
        pAnyDst->asnType = pAnySrc->asnType;
        return SnmpUtilOidCpy(&pAnyDst->asnValue.object, &pAnySrc->asnValue.object);
    }
    if (IsOctetType(pAnySrc->asnType)) {
        pAnyDst->asnType = pAnySrc->asnType;
        return SnmpUtilOctetsCpy(&pAnyDst->asnValue.string, &pAnySrc->asnValue.string);
    }
    // Numbers and ASN_NULL own nothing: the value bytes are the value.
    *pAnyDst = *pAnySrc;
    return SNMPAPI_NOERROR;
}

void SnmpUtilAsnAnyFree(AsnAny* pAny) {
    if (pAny == nullptr) {
        return;
    }
    if (pAny->asnType == ASN_OBJECTIDENTIFIER) {
        SnmpUtilOidFree(&pAny->asnValue.object);
    } else if (IsOctetType(pAny->asnType)) {
        SnmpUtilOctetsFree(&pAny->asnValue.string);
    }
    // An emptied value is a NULL value, which the service can still encode.
    pAny->asnType = ASN_NULL;
    std::memset(&pAny->asnValue, 0, sizeof(pAny->asnValue));
}

SNMPAPI SnmpUtilVarBindCpy(SnmpVarBind* pVbDst, SnmpVarBind* pVbSrc) {
    if (pVbDst == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return SNMPAPI_ERROR;
    }
    std::memset(pVbDst, 0, sizeof(*pVbDst));
    pVbDst->value.asnType = ASN_NULL;
    if (pVbSrc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return SNMPAPI_ERROR;
    }
    if (!SnmpUtilOidCpy(&pVbDst->name, &pVbSrc->name)) {
        return SNMPAPI_ERROR;
    }
    if (!SnmpUtilAsnAnyCpy(&pVbDst->value, &pVbSrc->value)) {
        SnmpUtilOidFree(&pVbDst->name);
        return SNMPAPI_ERROR;
    }
    return SNMPAPI_NOERROR;
}

void SnmpUtilVarBindFree(SnmpVarBind* pVb) {
    if (pVb == nullptr) {
        return;
    }
    SnmpUtilOidFree(&pVb->name);
    SnmpUtilAsnAnyFree(&pVb->value);
}

SNMPAPI SnmpUtilVarBindListCpy(SnmpVarBindList* pVblDst, SnmpVarBindList* pVblSrc) {
    if (pVblDst == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return SNMPAPI_ERROR;
    }
    pVblDst->list = nullptr;
    pVblDst->len = 0;
    if (pVblSrc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return SNMPAPI_ERROR;
    }
    if (pVblSrc->len == 0 || pVblSrc->list == nullptr) {
        return SNMPAPI_NOERROR;
    }
    auto* list = static_cast<SnmpVarBind*>(SnmpUtilMemAlloc(pVblSrc->len * sizeof(SnmpVarBind)));
    if (list == nullptr) {
        return SNMPAPI_ERROR;
    }
    pVblDst->list = list;
    for (UINT i = 0; i < pVblSrc->len; ++i) {
        if (!SnmpUtilVarBindCpy(&list[i], &pVblSrc->list[i])) {
            // Leave nothing half-copied behind: what was copied goes again.
            SnmpUtilVarBindListFree(pVblDst);
            return SNMPAPI_ERROR;
        }
        pVblDst->len = i + 1;
    }
    return SNMPAPI_NOERROR;
}

void SnmpUtilVarBindListFree(SnmpVarBindList* pVbl) {
    if (pVbl == nullptr) {
        return;
    }
    for (UINT i = 0; i < pVbl->len && pVbl->list != nullptr; ++i) {
        SnmpUtilVarBindFree(&pVbl->list[i]);
    }
    SnmpUtilMemFree(pVbl->list);
    pVbl->list = nullptr;
    pVbl->len = 0;
}

LPSTR SnmpUtilOidToA(AsnObjectIdentifier* Oid) {
    // Room for the longest OID the API builds: 128 sub-identifiers of up to ten
    // digits and a dot each.
    static char text[SNMP_MAX_OID_LEN * 11 + 1];
    if (Oid == nullptr || Oid->idLength == 0 || Oid->ids == nullptr) {
        std::snprintf(text, sizeof(text), "%s", "<null oid>");
        return text;
    }
    std::size_t used = 0;
    text[0] = '\0';
    for (UINT i = 0; i < Oid->idLength && used < sizeof(text) - 1; ++i) {
        const int written = std::snprintf(text + used, sizeof(text) - used, i == 0 ? "%u" : ".%u",
                                          static_cast<unsigned>(Oid->ids[i]));
        if (written < 0) {
            break;
        }
        used += static_cast<std::size_t>(written);
    }
    return text;
}

}  // extern "C"
