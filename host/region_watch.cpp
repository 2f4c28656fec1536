#include "host/region_watch.h"

#include <sys/stat.h>

#include <cstdlib>

namespace qv::host {

std::string BaseRegionPath() {
    const char* space = std::getenv("QVSNMP_NAMESPACE");
    std::string path = "/dev/shm/";
    if (space != nullptr && *space != '\0') path.append(space).append(".");
    return path + "QV1.3.6.1.4.1";
}

RegionWatch::RegionWatch() : path_(BaseRegionPath()) {
    struct stat status {};
    if (::stat(path_.c_str(), &status) == 0) own_ = status.st_ino;
}

std::string RegionWatch::Check() {
    struct stat status {};
    State now = State::kOwn;
    if (::stat(path_.c_str(), &status) != 0) {
        now = State::kMissing;
    } else if (status.st_ino != own_) {
        now = State::kForeign;
    }
    if (now == state_) return {};
    state_ = now;
    switch (now) {
        case State::kMissing:
            return "snmp: " + path_ +
                   " was removed: open sessions go on, new applications cannot connect until the host restarts";
        case State::kForeign:
            return "snmp: " + path_ +
                   " now names a region this host did not make: new applications cannot reach it until the host restarts";
        case State::kOwn:
            return "snmp: " + path_ + " names this host's region again";
    }
    return {};
}

}  // namespace qv::host
