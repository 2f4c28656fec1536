// The Windows SNMP extension-agent API (snmp.h, snmpapi.dll).
//
// This header must contain only Win32 specific code.
#pragma once

#include "qv_windows.h"

#include <snmp.h>
