// The module linked into the fuzzing process, reached the way the host reaches
// it (ExtensionModule), over a base region of our own. Apart from the target's
// net-snmp side: the module's declarations and net-snmp's collide.
#pragma once

#include "host/request_logic.h"

namespace qv::fuzz {

// The session table holds rows that are being opened, never up, so the module
// answers every query without waiting for a reply; the request logic is told
// they are up, so that its GETNEXT moves on from one application to the next.
host::ModuleAccess& HostModule();

}  // namespace qv::fuzz
