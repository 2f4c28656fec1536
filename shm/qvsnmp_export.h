// What QVSNMP exports to applications and to the SNMP service host.
#pragma once

#include "qv_platform_export.h"

#if defined(QVSNMP_BUILDING)
#define QVSNMP_API QV_DLL_EXPORT
#else
#define QVSNMP_API QV_DLL_IMPORT
#endif

// The SNMP service finds the extension-agent entry points by their C names.
#define QVSNMP_EXTERN_C extern "C" QVSNMP_API
