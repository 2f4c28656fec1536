// An application whose replies never come is answered genErr at once for a
// while, instead of costing the module's 2 s wait on every binding.
#include <gtest/gtest.h>

#include "host/silent_applications.h"

namespace qv::host {
namespace {

using Clock = SilentApplications::Clock;
using namespace std::chrono_literals;

// Answers after `delay` of fake time with `status`, counting its calls.
struct SlowModule : ModuleAccess {
    Clock::time_point now{};
    Clock::duration delay = 2050ms;
    int status = 13;  // resourceUnavailable: no reply within the wait
    int calls = 0;
    ModuleAnswer Query(Operation, const VarBind& binding) override {
        ++calls;
        now += delay;
        return ModuleAnswer{status, binding};
    }
    std::vector<Application> Applications(std::uint16_t) override { return {}; }
};

VarBind Name(std::uint32_t appId) { return VarBind{{1, 3, 6, 1, 4, 1, 39917, appId, 1, 1}, {}}; }

TEST(SilentApplicationsTest, ASilentApplicationIsAnsweredAtOnceUntilTheHoldPasses) {
    SlowModule module;
    bool othersWaiting = true;
    SilentApplications guard(module, [&] { return othersWaiting; }, [&] { return module.now; });

    EXPECT_EQ(guard.Query(Operation::Get, Name(1)).status, 13);  // the module's wait
    EXPECT_EQ(guard.Query(Operation::GetNext, Name(1)).status, 13);
    EXPECT_EQ(module.calls, 1);
    // Another application, and names of no application, still reach the module.
    module.delay = 50ms;
    module.status = 0;
    EXPECT_EQ(guard.Query(Operation::Get, Name(2)).status, 0);
    EXPECT_EQ(guard.Query(Operation::Get, VarBind{{1, 3, 6, 1, 4, 1, 44821}, {}}).status, 0);
    EXPECT_EQ(module.calls, 3);

    // With nobody else waiting it is asked, and so after the hold.
    othersWaiting = false;
    EXPECT_EQ(guard.Query(Operation::Get, Name(1)).status, 0);
    EXPECT_EQ(module.calls, 4);
    module.status = 13;
    module.delay = 2050ms;
    othersWaiting = true;
    guard.Query(Operation::Get, Name(1));
    module.status = 0;
    module.delay = 50ms;
    module.now += SilentApplications::kHold;
    EXPECT_EQ(guard.Query(Operation::Get, Name(1)).status, 0);
    EXPECT_EQ(guard.Query(Operation::Get, Name(1)).status, 0);
    EXPECT_EQ(module.calls, 7);
}

TEST(SilentApplicationsTest, AQuickFailureIsTheApplicationsOwnAnswer) {
    SlowModule module;
    module.delay = 60ms;
    SilentApplications guard(module, [] { return true; }, [&] { return module.now; });
    guard.Query(Operation::Get, Name(1));
    guard.Query(Operation::Get, Name(1));
    EXPECT_EQ(module.calls, 2);
}

}  // namespace
}  // namespace qv::host
