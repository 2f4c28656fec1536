// The module's entry points as the host calls them. Kept apart from
// extension_module.h so that files that include net-snmp never see the
// extension-agent declarations.
#pragma once

#include "host/extension_module.h"
#include "qv_snmp.h"
#include "shm/wire.h"

namespace qv::host {

struct ExtensionModule::EntryPoints {
    PFNSNMPEXTENSIONINIT init = nullptr;
    PFNSNMPEXTENSIONINITEX initEx = nullptr;
    PFNSNMPEXTENSIONQUERY query = nullptr;
    PFNSNMPEXTENSIONTRAP trap = nullptr;
    // The module's registry of mapped views; any process with the module
    // loaded may read the session table through it.
    QVSNMP_COMBufferHeaderLine* (*basePointer)() = nullptr;
};

}  // namespace qv::host
