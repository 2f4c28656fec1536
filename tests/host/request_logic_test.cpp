// The host's request logic against a scripted module: what it asks the module,
// how a GETNEXT moves on, and what the manager sees of each module status.
#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "host/request_logic.h"

namespace qv::host {
namespace {

Oid O(const std::string& text) { return ParseOid(text).value(); }
const Oid kStatusView = O("1.3.6.1.4.1.44821"), kView = O("1.3.6.1.4.1.39917");
using enum Operation;

// Applications keyed by enterprise, AppId and AppInst, with variables. As the
// real module does, a GETNEXT stays in the addressed application, the status
// variable answers a GET and GETNEXT of its own name, a name nobody owns is
// readOnly, a session not up says noSuchName.
class FakeModule : public ModuleAccess {
public:
    std::map<std::tuple<std::uint32_t, std::uint8_t, std::uint8_t>, std::pair<bool, std::map<Oid, Value>>> apps;
    std::vector<std::pair<Operation, Oid>> calls;
    std::optional<ModuleAnswer> fixed;  // when set, the answer to everything

    ModuleAnswer Query(Operation operation, const VarBind& binding) override {
        calls.emplace_back(operation, binding.name);
        const Oid& name = binding.name;
        if (fixed || name == kStatusView) return fixed.value_or(ModuleAnswer{0, {name, Value::Octets("status")}});
        const auto app = name.size() < 9 ? apps.end() : apps.find({name[6], name[7] % 256, name[8] % 256});
        if (app == apps.end()) return {4, binding};
        const auto& [up, variables] = app->second;
        const auto found = operation == Get ? variables.find(name) : variables.upper_bound(name);
        if (!up || (operation != Set && found == variables.end())) return {2, binding};
        return operation == Set ? ModuleAnswer{0, binding} : ModuleAnswer{0, {found->first, found->second}};
    }
    std::vector<Application> Applications(std::uint16_t pen) override {
        std::vector<Application> result;  // in session order, which is not OID order
        for (auto it = apps.rbegin(); it != apps.rend(); ++it) {
            if (std::get<0>(it->first) == pen) result.push_back({std::get<1>(it->first), std::get<2>(it->first), it->second.first});
        }
        return result;
    }
};

class RequestLogicTest : public ::testing::Test {
protected:
    void SetUp() override {
        // One application is not up, one has nothing, one has an AppId above 127.
        module_.apps[{39917, 200, 1}] = {true, {{O("1.3.6.1.4.1.39917.4294967240.1.1"), Value::Integer(200)}}};
        module_.apps[{39917, 2, 1}] = {false, {{O("1.3.6.1.4.1.39917.2.1.1"), Value::Integer(21)}}};
        module_.apps[{39917, 1, 1}] = {true, {{O("1.3.6.1.4.1.39917.1.1.1"), Value::Integer(11)},
                                              {O("1.3.6.1.4.1.39917.1.1.2"), Value::Octets("two")}}};
        module_.apps[{39917, 1, 2}] = {true, {}};
        module_.apps[{44821, 3, 1}] = {true, {{O("1.3.6.1.4.1.44821.3.1.7"), Value::Integer(7)}}};
    }
    std::vector<std::string> Walk(const Oid& view, Oid at) {
        std::vector<std::string> names;
        for (Outcome outcome; names.size() < 10; at = outcome.binding.name) {
            outcome = RunGetNext(module_, view, at, false);
            if (outcome.endOfView) return names;
            names.push_back(ToText(outcome.binding.name));
        }
        return names;
    }
    FakeModule module_;
};

TEST_F(RequestLogicTest, WalksGoFromApplicationToApplicationInOidOrderAndEnd) {
    EXPECT_EQ(Walk(kView, O("1.3.6.1.4.1")),
              (std::vector<std::string>{"1.3.6.1.4.1.39917.1.1.1", "1.3.6.1.4.1.39917.1.1.2", "1.3.6.1.4.1.39917.4294967240.1.1"}));
    EXPECT_EQ(module_.calls.front().second, kView) << "a request before the view starts at the view";
    for (const auto& call : module_.calls) EXPECT_NE(call.second, O("1.3.6.1.4.1.39917.2.1")) << "not up: not asked";
    // The status variable is found from before it, not from itself, and its
    // view goes on to the applications under its number.
    EXPECT_EQ(Walk(kStatusView, O("1.3.6.1.4.1.5")), (std::vector<std::string>{"1.3.6.1.4.1.44821", "1.3.6.1.4.1.44821.3.1.7"}));
    EXPECT_EQ(RunGetNext(module_, kStatusView, kStatusView, true).binding.name, kStatusView) << "inclusive";
}

TEST_F(RequestLogicTest, AnswersNotGreaterOutsideTheViewFailedOrUnsendableEndTheView) {
    const Oid at = O("1.3.6.1.4.1.39917.1.1.5"), after = O("1.3.6.1.4.1.39917.1.1.6");
    for (const ModuleAnswer& answer : std::vector<ModuleAnswer>{
             {0, {at, Value::Integer(1)}}, {0, {O("1.3.6.1.4.1.39917.1.1.4"), {}}}, {0, {Oid{}, Value::Integer(1)}},
             {0, {O("1.3.6.1.4.1.5113.1.1.9"), Value::Integer(1)}}, {13, {after, Value::Integer(1)}}, {0, {after, {0x41, 0, {}}}}}) {
        module_.fixed = answer;
        EXPECT_TRUE(RunGetNext(module_, kView, at, false).endOfView) << ToText(answer.binding.name);
    }
    module_.fixed = ModuleAnswer{0, {after, Value::Integer(6)}};
    EXPECT_EQ(RunGetNext(module_, kView, at, false), Outcome{.binding = module_.fixed->binding});
}

TEST_F(RequestLogicTest, GetsOfSessionsNotUpAreMissingFailuresAreGenErrAndSetsGoOnce) {
    auto get = [&](SnmpVersion version, const char* name) { return RunGet(module_, version, O(name)); };
    // Values, missing names and the status mapping show through the host
    // (tests/e2e); here what a manager cannot easily make the module do.
    EXPECT_EQ(get(SnmpVersion::V2c, "1.3.6.1.4.1.39917.2.1.1").exception, snmp::kNoSuchInstance) << "not up";
    for (const ModuleAnswer& failure : {ModuleAnswer{13, {}}, ModuleAnswer{5, {}}, ModuleAnswer{0, {{}, {0x41, 0, {}}}}}) {
        module_.fixed = failure;
        EXPECT_EQ(get(SnmpVersion::V2c, "1.3.6.1.4.1.39917.1.1.1").errorStatus, snmp::kGenErr);
        EXPECT_EQ(get(SnmpVersion::V1, "1.3.6.1.4.1.39917.1.1.1").errorStatus, snmp::kGenErr);
    }
    module_.fixed.reset();
    module_.calls.clear();
    const VarBind binding{O("1.3.6.1.4.1.39917.1.1.1"), Value::Octets("new")};
    EXPECT_EQ(RunSet(module_, SnmpVersion::V2c, binding).errorStatus, 0);
    EXPECT_EQ(module_.calls, (std::vector<std::pair<Operation, Oid>>{{Set, binding.name}}));
}

// The statuses no manager can make the module give (tests/e2e shows the rest).
TEST(ManagerErrorStatusTest, MapsModuleStatusesByVersionAndOperation) {
    using V = SnmpVersion;
    EXPECT_EQ(ManagerErrorStatus(V::V1, Set, 2), snmp::kNoSuchName);
    EXPECT_EQ(ManagerErrorStatus(V::V2c, Set, 2), snmp::kNoAccess);
    for (const auto& [version, operation, status] : {std::tuple{V::V1, Set, 5}, {V::V2c, Set, 5}, {V::V2c, Get, 13}}) {
        EXPECT_EQ(ManagerErrorStatus(version, operation, status), snmp::kGenErr) << int(version) << int(operation) << status;
    }
}

TEST(NotificationTest, GenericTrapsBecomeTheirStandardOidAndCarryTheEnterprise) {
    // Enterprise-specific ones show at snmptrapd (tests/e2e).
    Trap trap{.enterprise = kView, .generic = 3, .specific = 1};  // linkUp
    EXPECT_EQ(NotificationOid(trap), O("1.3.6.1.6.3.1.1.5.4"));
    EXPECT_TRUE(CarriesTrapEnterprise(trap));
}

TEST(ModuleAloneTest, OnlyGetsOfAnEnterpriseRootSkipTheApplications) {
    auto alone = [](Operation operation, const char* name) { return AnsweredByModuleAlone({operation, kStatusView, O(name)}); };
    EXPECT_TRUE(alone(Get, "1.3.6.1.4.1.44821") && alone(Get, "1.3.6.1.4.1.5113"));
    EXPECT_FALSE(alone(Get, "1.3.6.1.4.1.44821.0") || alone(GetNext, "1.3.6.1.4.1.44821") || alone(Set, "1.3.6.1.4.1.44821"));
}

}  // namespace
}  // namespace qv::host
