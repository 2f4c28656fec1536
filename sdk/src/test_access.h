// Hooks for the SDK's own test programs; not part of the SDK's interface.
#pragma once

#include "qvsnmp/application.h"
#include "qvsnmp/base_ring.h"

namespace qvsnmp::detail {

struct TestAccess {
    // Makes the application fall silent: no connection requests at all (keep-
    // alive or reconnect) until resumed, so that the agent times it out.
    static void SetKeepAlivePaused(Application& application, bool paused);

    // Takes the ring's append lock and never gives it back (tests of
    // abandonment).
    static AppendResult HoldAppendLock(BaseRing& ring);
};

}  // namespace qvsnmp::detail
