#include "host/silent_applications.h"

namespace qv::host {

ModuleAnswer SilentApplications::Query(Operation operation, const VarBind& binding) {
    const Oid& name = binding.name;
    if (name.size() < 9) return module_.Query(operation, binding);  // no application addressed
    const Address address{name[6], name[7], name[8]};
    const Clock::time_point start = now_();
    if (const auto found = silent_.find(address);
        found != silent_.end() && start < found->second.until && othersWaiting_()) {
        return ModuleAnswer{found->second.status, binding};
    }
    ModuleAnswer answer = module_.Query(operation, binding);
    const Clock::time_point end = now_();
    if (answer.status != 0 && end - start >= kSilentAfter) {
        silent_[address] = Silence{end + kHold, answer.status};
    } else {
        silent_.erase(address);  // it answered
    }
    return answer;
}

}  // namespace qv::host
