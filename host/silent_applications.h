// Keeps one silent application from taking the host's whole capacity. The
// module serves one binding at a time and waits about 2 s for an application
// that does not answer; five managers asking such an application would hold
// every other request for ten seconds. While other requests wait, an
// application whose reply never came is answered at once with the status the
// module gave it after its wait (noSuchName or resourceUnavailable), until a
// hold has passed. With nobody else waiting it is asked as usual: that costs
// no one anything, and an application that is back is served at once.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <tuple>

#include "host/request_logic.h"

namespace qv::host {

class SilentApplications final : public ModuleAccess {
public:
    using Clock = std::chrono::steady_clock;
    // A failure that took this long was the module's wait for a reply.
    static constexpr auto kSilentAfter = std::chrono::milliseconds(1500);
    static constexpr auto kHold = std::chrono::seconds(10);

    // `othersWaiting` tells whether requests other than the current one wait.
    SilentApplications(ModuleAccess& module, std::function<bool()> othersWaiting,
                       std::function<Clock::time_point()> now = Clock::now)
        : module_(module), othersWaiting_(std::move(othersWaiting)), now_(std::move(now)) {}

    ModuleAnswer Query(Operation operation, const VarBind& binding) override;
    std::vector<Application> Applications(std::uint16_t pen) override { return module_.Applications(pen); }

private:
    // Enterprise, AppId and AppInst sub-identifiers of a name.
    using Address = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>;

    ModuleAccess& module_;
    std::function<bool()> othersWaiting_;
    std::function<Clock::time_point()> now_;
    struct Silence {
        Clock::time_point until;
        int status;  // what the module answered after its wait
    };
    std::map<Address, Silence> silent_;
};

}  // namespace qv::host
