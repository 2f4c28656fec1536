// Watches the name of the base region in /dev/shm. Any local account can
// remove it: the sessions open then go on, but no application can connect
// until the host starts again and creates a new region. The host says so in
// its log, and once more when the name comes back.
#pragma once

#include <sys/types.h>

#include <string>

namespace qv::host {

// /dev/shm/[QVSNMP_NAMESPACE.]QV1.3.6.1.4.1, where the platform layer keeps
// the region "Global\QV1.3.6.1.4.1".
std::string BaseRegionPath();

class RegionWatch {
public:
    // Remembers which object the name leads to now: the host's own region.
    RegionWatch();
    // Looks again; one line to stderr for each change, "" when none.
    std::string Check();

private:
    std::string path_;
    ino_t own_ = 0;
    enum class State { kOwn, kMissing, kForeign } state_ = State::kOwn;
};

}  // namespace qv::host
