// Keeps one silent application from taking the host's whole capacity. The
// module serves one binding at a time and waits about 2 s for an application
// that does not answer; five managers asking such an application would hold
// every other request for ten seconds. An application whose reply never came
// is answered genErr at once, the status the module gives it after its wait,
// until a hold has passed; then the next binding asks it again.
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
    // A genErr that took this long was the module's wait for a reply.
    static constexpr auto kSilentAfter = std::chrono::milliseconds(1500);
    static constexpr auto kHold = std::chrono::seconds(10);

    explicit SilentApplications(ModuleAccess& module, std::function<Clock::time_point()> now = Clock::now)
        : module_(module), now_(std::move(now)) {}

    ModuleAnswer Query(Operation operation, const VarBind& binding) override;
    std::vector<Application> Applications(std::uint16_t pen) override { return module_.Applications(pen); }

private:
    // Enterprise, AppId and AppInst sub-identifiers of a name.
    using Address = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>;

    ModuleAccess& module_;
    std::function<Clock::time_point()> now_;
    std::map<Address, Clock::time_point> silentUntil_;
};

}  // namespace qv::host
