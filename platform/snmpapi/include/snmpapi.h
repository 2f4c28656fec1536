// The SNMP extension-agent API on Linux: the types the SNMP service and an
// extension agent exchange, and the SnmpUtil helpers of the service's library.
//
// This header must contain only declarations of the POSIX backend. Structures
// are laid out byte for byte as on Windows x64 (4-byte packing, 32-bit UINT,
// LONG and BOOL), so that a memory image of a binding list means the same on
// both systems; the static_asserts below pin the Windows x64 numbers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qv_windows.h"

#define SNMPAPI_EXPORT __attribute__((visibility("default")))

// Windows declares this beside LARGE_INTEGER; our stand-ins need it only here.
union ULARGE_INTEGER {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    } u;
    struct {
        DWORD LowPart;
        DWORD HighPart;
    };
    ULONGLONG QuadPart;
};
static_assert(sizeof(ULARGE_INTEGER) == 8);

extern "C" {

#pragma pack(push, 4)

typedef struct {
    BYTE* stream;
    UINT length;
    BOOL dynamic;  // TRUE when `stream` was allocated with SnmpUtilMemAlloc
} AsnOctetString;

typedef struct {
    UINT idLength;
    UINT* ids;
} AsnObjectIdentifier;

typedef LONG AsnInteger32;
typedef ULONG AsnUnsigned32;
typedef ULARGE_INTEGER AsnCounter64;
typedef AsnUnsigned32 AsnCounter32;
typedef AsnUnsigned32 AsnGauge32;
typedef AsnUnsigned32 AsnTimeticks;
typedef AsnOctetString AsnBits;
typedef AsnOctetString AsnSequence;
typedef AsnOctetString AsnImplicitSequence;
typedef AsnOctetString AsnIPAddress;
typedef AsnOctetString AsnNetworkAddress;
typedef AsnOctetString AsnDisplayString;
typedef AsnOctetString AsnOpaque;

typedef struct {
    BYTE asnType;
    union {
        AsnInteger32 number;
        AsnUnsigned32 unsigned32;
        AsnCounter64 counter64;
        AsnOctetString string;
        AsnBits bits;
        AsnObjectIdentifier object;
        AsnSequence sequence;
        AsnIPAddress address;
        AsnCounter32 counter;
        AsnGauge32 gauge;
        AsnTimeticks ticks;
        AsnOpaque arbitrary;
    } asnValue;
} AsnAny;

typedef AsnObjectIdentifier AsnObjectName;
typedef AsnAny AsnObjectSyntax;

typedef struct {
    AsnObjectName name;
    AsnObjectSyntax value;
} SnmpVarBind;

typedef struct {
    SnmpVarBind* list;
    UINT len;
} SnmpVarBindList;

#pragma pack(pop)

}  // extern "C"

// Windows x64 numbers (sizes, offsets) of the packed structures.
static_assert(sizeof(AsnOctetString) == 16 && alignof(AsnOctetString) == 4);
static_assert(offsetof(AsnOctetString, stream) == 0);
static_assert(offsetof(AsnOctetString, length) == 8);
static_assert(offsetof(AsnOctetString, dynamic) == 12);
static_assert(sizeof(AsnObjectIdentifier) == 12 && alignof(AsnObjectIdentifier) == 4);
static_assert(offsetof(AsnObjectIdentifier, idLength) == 0);
static_assert(offsetof(AsnObjectIdentifier, ids) == 4);
static_assert(sizeof(AsnAny) == 20 && alignof(AsnAny) == 4);
static_assert(offsetof(AsnAny, asnType) == 0);
static_assert(offsetof(AsnAny, asnValue) == 4);
static_assert(sizeof(AsnAny::asnValue) == 16);
static_assert(sizeof(SnmpVarBind) == 32 && alignof(SnmpVarBind) == 4);
static_assert(offsetof(SnmpVarBind, name) == 0);
static_assert(offsetof(SnmpVarBind, value) == 12);
static_assert(sizeof(SnmpVarBindList) == 12 && alignof(SnmpVarBindList) == 4);
static_assert(offsetof(SnmpVarBindList, list) == 0);
static_assert(offsetof(SnmpVarBindList, len) == 8);
static_assert(sizeof(AsnInteger32) == 4 && sizeof(AsnUnsigned32) == 4 && sizeof(AsnCounter64) == 8);

// ---- type codes ----------------------------------------------------------------
#define ASN_UNIVERSAL 0x00
#define ASN_APPLICATION 0x40
#define ASN_CONTEXT 0x80
#define ASN_PRIVATE 0xC0
#define ASN_PRIMITIVE 0x00
#define ASN_CONSTRUCTOR 0x20

#define SNMP_PDU_GET (ASN_CONTEXT | ASN_CONSTRUCTOR | 0x0)
#define SNMP_PDU_GETNEXT (ASN_CONTEXT | ASN_CONSTRUCTOR | 0x1)
#define SNMP_PDU_RESPONSE (ASN_CONTEXT | ASN_CONSTRUCTOR | 0x2)
#define SNMP_PDU_SET (ASN_CONTEXT | ASN_CONSTRUCTOR | 0x3)
#define SNMP_PDU_V1TRAP (ASN_CONTEXT | ASN_CONSTRUCTOR | 0x4)
#define SNMP_PDU_GETBULK (ASN_CONTEXT | ASN_CONSTRUCTOR | 0x5)
#define SNMP_PDU_INFORM (ASN_CONTEXT | ASN_CONSTRUCTOR | 0x6)
#define SNMP_PDU_TRAP (ASN_CONTEXT | ASN_CONSTRUCTOR | 0x7)

#define ASN_INTEGER (ASN_UNIVERSAL | ASN_PRIMITIVE | 0x02)
#define ASN_BITS (ASN_UNIVERSAL | ASN_PRIMITIVE | 0x03)
#define ASN_OCTETSTRING (ASN_UNIVERSAL | ASN_PRIMITIVE | 0x04)
#define ASN_NULL (ASN_UNIVERSAL | ASN_PRIMITIVE | 0x05)
#define ASN_OBJECTIDENTIFIER (ASN_UNIVERSAL | ASN_PRIMITIVE | 0x06)
#define ASN_INTEGER32 ASN_INTEGER
#define ASN_SEQUENCE (ASN_UNIVERSAL | ASN_CONSTRUCTOR | 0x10)
#define ASN_SEQUENCEOF ASN_SEQUENCE
#define ASN_IPADDRESS (ASN_APPLICATION | ASN_PRIMITIVE | 0x00)
#define ASN_COUNTER32 (ASN_APPLICATION | ASN_PRIMITIVE | 0x01)
#define ASN_GAUGE32 (ASN_APPLICATION | ASN_PRIMITIVE | 0x02)
#define ASN_TIMETICKS (ASN_APPLICATION | ASN_PRIMITIVE | 0x03)
#define ASN_OPAQUE (ASN_APPLICATION | ASN_PRIMITIVE | 0x04)
#define ASN_COUNTER64 (ASN_APPLICATION | ASN_PRIMITIVE | 0x06)
#define ASN_UINTEGER32 (ASN_APPLICATION | ASN_PRIMITIVE | 0x07)
#define ASN_UNSIGNED32 ASN_UINTEGER32
#define ASN_RFC2578_UNSIGNED32 ASN_GAUGE32

#define SNMP_EXCEPTION_NOSUCHOBJECT (ASN_CONTEXT | ASN_PRIMITIVE | 0x00)
#define SNMP_EXCEPTION_NOSUCHINSTANCE (ASN_CONTEXT | ASN_PRIMITIVE | 0x01)
#define SNMP_EXCEPTION_ENDOFMIBVIEW (ASN_CONTEXT | ASN_PRIMITIVE | 0x02)

// ---- error statuses ------------------------------------------------------------
#define SNMP_ERRORSTATUS_NOERROR 0
#define SNMP_ERRORSTATUS_TOOBIG 1
#define SNMP_ERRORSTATUS_NOSUCHNAME 2
#define SNMP_ERRORSTATUS_BADVALUE 3
#define SNMP_ERRORSTATUS_READONLY 4
#define SNMP_ERRORSTATUS_GENERR 5
#define SNMP_ERRORSTATUS_NOACCESS 6
#define SNMP_ERRORSTATUS_WRONGTYPE 7
#define SNMP_ERRORSTATUS_WRONGLENGTH 8
#define SNMP_ERRORSTATUS_WRONGENCODING 9
#define SNMP_ERRORSTATUS_WRONGVALUE 10
#define SNMP_ERRORSTATUS_NOCREATION 11
#define SNMP_ERRORSTATUS_INCONSISTENTVALUE 12
#define SNMP_ERRORSTATUS_RESOURCEUNAVAILABLE 13
#define SNMP_ERRORSTATUS_COMMITFAILED 14
#define SNMP_ERRORSTATUS_UNDOFAILED 15
#define SNMP_ERRORSTATUS_AUTHORIZATIONERROR 16
#define SNMP_ERRORSTATUS_NOTWRITABLE 17
#define SNMP_ERRORSTATUS_INCONSISTENTNAME 18

#define SNMP_GENERICTRAP_COLDSTART 0
#define SNMP_GENERICTRAP_WARMSTART 1
#define SNMP_GENERICTRAP_LINKDOWN 2
#define SNMP_GENERICTRAP_LINKUP 3
#define SNMP_GENERICTRAP_AUTHFAILURE 4
#define SNMP_GENERICTRAP_EGPNEIGHLOSS 5
#define SNMP_GENERICTRAP_ENTERSPECIFIC 6

// ---- results and last-error codes of the SnmpUtil calls ----------------------------
#define SNMPAPI INT
#define SNMP_FUNC_TYPE WINAPI
#define SNMPAPI_NOERROR TRUE
#define SNMPAPI_ERROR FALSE

#define SNMP_MAX_OID_LEN 128
#define SNMP_MEM_ALLOC_ERROR 1
#define SNMP_BERAPI_OVERFLOW 12

#define DEFINE_SIZEOF(Array) (sizeof(Array) / sizeof((Array)[0]))
#define DEFINE_OID(SubIdArray) {DEFINE_SIZEOF(SubIdArray), (SubIdArray)}
#define DEFINE_NULLOID() {0, NULL}
#define DEFINE_NULLOCTETS() {NULL, 0, FALSE}

// ---- the extension agent's entry points, as the service looks them up -----------
typedef BOOL(SNMP_FUNC_TYPE* PFNSNMPEXTENSIONINIT)(DWORD dwUpTimeReference, HANDLE* phSubagentTrapEvent,
                                                   AsnObjectIdentifier* pFirstSupportedRegion);
typedef BOOL(SNMP_FUNC_TYPE* PFNSNMPEXTENSIONINITEX)(AsnObjectIdentifier* pNextSupportedRegion);
typedef BOOL(SNMP_FUNC_TYPE* PFNSNMPEXTENSIONMONITOR)(LPVOID pAgentMgmtData);
typedef BOOL(SNMP_FUNC_TYPE* PFNSNMPEXTENSIONQUERY)(BYTE bPduType, SnmpVarBindList* pVarBindList,
                                                    AsnInteger32* pErrorStatus, AsnInteger32* pErrorIndex);
typedef BOOL(SNMP_FUNC_TYPE* PFNSNMPEXTENSIONQUERYEX)(UINT nRequestType, UINT nTransactionId,
                                                      SnmpVarBindList* pVarBindList,
                                                      AsnOctetString* pContextInfo,
                                                      AsnInteger32* pErrorStatus,
                                                      AsnInteger32* pErrorIndex);
typedef BOOL(SNMP_FUNC_TYPE* PFNSNMPEXTENSIONTRAP)(AsnObjectIdentifier* pEnterpriseOid,
                                                   AsnInteger32* pGenericTrapId,
                                                   AsnInteger32* pSpecificTrapId,
                                                   AsnTimeticks* pTimeStamp,
                                                   SnmpVarBindList* pVarBindList);
typedef void(SNMP_FUNC_TYPE* PFNSNMPEXTENSIONCLOSE)();

// ---- SnmpUtil ------------------------------------------------------------------------
// Memory handed between the service and an agent comes from SnmpUtilMemAlloc and
// goes back through SnmpUtilMemFree; copies are deep; the free calls release
// what a structure owns and leave the structure empty.
extern "C" {
SNMPAPI_EXPORT LPVOID SNMP_FUNC_TYPE SnmpUtilMemAlloc(UINT nBytes);
SNMPAPI_EXPORT LPVOID SNMP_FUNC_TYPE SnmpUtilMemReAlloc(LPVOID pMem, UINT nBytes);
SNMPAPI_EXPORT void SNMP_FUNC_TYPE SnmpUtilMemFree(LPVOID pMem);

SNMPAPI_EXPORT SNMPAPI SNMP_FUNC_TYPE SnmpUtilOidCpy(AsnObjectIdentifier* pOidDst,
                                                     AsnObjectIdentifier* pOidSrc);
SNMPAPI_EXPORT SNMPAPI SNMP_FUNC_TYPE SnmpUtilOidAppend(AsnObjectIdentifier* pOidDst,
                                                        AsnObjectIdentifier* pOidSrc);
SNMPAPI_EXPORT SNMPAPI SNMP_FUNC_TYPE SnmpUtilOidNCmp(AsnObjectIdentifier* pOid1,
                                                      AsnObjectIdentifier* pOid2, UINT nSubIds);
SNMPAPI_EXPORT SNMPAPI SNMP_FUNC_TYPE SnmpUtilOidCmp(AsnObjectIdentifier* pOid1,
                                                     AsnObjectIdentifier* pOid2);
SNMPAPI_EXPORT void SNMP_FUNC_TYPE SnmpUtilOidFree(AsnObjectIdentifier* pOid);

SNMPAPI_EXPORT SNMPAPI SNMP_FUNC_TYPE SnmpUtilOctetsCmp(AsnOctetString* pOctets1,
                                                        AsnOctetString* pOctets2);
SNMPAPI_EXPORT SNMPAPI SNMP_FUNC_TYPE SnmpUtilOctetsNCmp(AsnOctetString* pOctets1,
                                                         AsnOctetString* pOctets2, UINT nChars);
SNMPAPI_EXPORT SNMPAPI SNMP_FUNC_TYPE SnmpUtilOctetsCpy(AsnOctetString* pOctetsDst,
                                                        AsnOctetString* pOctetsSrc);
SNMPAPI_EXPORT void SNMP_FUNC_TYPE SnmpUtilOctetsFree(AsnOctetString* pOctets);

SNMPAPI_EXPORT SNMPAPI SNMP_FUNC_TYPE SnmpUtilAsnAnyCpy(AsnAny* pAnyDst, AsnAny* pAnySrc);
SNMPAPI_EXPORT void SNMP_FUNC_TYPE SnmpUtilAsnAnyFree(AsnAny* pAny);

SNMPAPI_EXPORT SNMPAPI SNMP_FUNC_TYPE SnmpUtilVarBindCpy(SnmpVarBind* pVbDst, SnmpVarBind* pVbSrc);
SNMPAPI_EXPORT void SNMP_FUNC_TYPE SnmpUtilVarBindFree(SnmpVarBind* pVb);
SNMPAPI_EXPORT SNMPAPI SNMP_FUNC_TYPE SnmpUtilVarBindListCpy(SnmpVarBindList* pVblDst,
                                                             SnmpVarBindList* pVblSrc);
SNMPAPI_EXPORT void SNMP_FUNC_TYPE SnmpUtilVarBindListFree(SnmpVarBindList* pVbl);

// Dotted text of an OID in a buffer shared by all callers, valid until the next call.
SNMPAPI_EXPORT LPSTR SNMP_FUNC_TYPE SnmpUtilOidToA(AsnObjectIdentifier* Oid);
}
