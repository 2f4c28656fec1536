// The SNMP extension-agent API on Linux: our libsnmpapi stand-in.
#pragma once

#include "qv_windows.h"

#include "snmpapi.h"
