#include "host/silent_applications.h"

namespace qv::host {
namespace {
constexpr int kGenErr = 5;  // the module's status for a reply that never came
}

ModuleAnswer SilentApplications::Query(Operation operation, const VarBind& binding) {
    const Oid& name = binding.name;
    if (name.size() < 9) return module_.Query(operation, binding);  // no application addressed
    const Address address{name[6], name[7], name[8]};
    const Clock::time_point start = now_();
    if (const auto silent = silentUntil_.find(address); silent != silentUntil_.end()) {
        if (start < silent->second) return ModuleAnswer{kGenErr, binding};
        silentUntil_.erase(silent);
    }
    ModuleAnswer answer = module_.Query(operation, binding);
    const Clock::time_point end = now_();
    if (answer.status == kGenErr && end - start >= kSilentAfter) silentUntil_[address] = end + kHold;
    return answer;
}

}  // namespace qv::host
