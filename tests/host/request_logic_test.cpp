// The host's request logic against a scripted module: what it asks the module,
// how a GETNEXT moves on, and what the manager sees of each module status.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "host/request_logic.h"

namespace qv::host {
namespace {

Oid O(const std::string& text) { return ParseOid(text).value(); }

const Oid kStatusView = O("1.3.6.1.4.1.44821");
const Oid kView = O("1.3.6.1.4.1.39917");

// Applications publish variables; GETNEXT answers stay inside the addressed
// application, as the real module does, and the status variable answers a
// GETNEXT on its own name with that name.
class FakeModule : public ModuleAccess {
public:
    struct App {
        std::uint16_t pen;
        std::uint8_t appId, appInst;
        bool up = true;
        std::map<Oid, Value> variables;  // full names
    };
    std::vector<App> apps;
    std::vector<std::pair<Operation, Oid>> calls;
    std::map<Oid, int> failGet;  // name -> status for GET and SET
    int setStatus = 0;

    App* Owner(const Oid& name) {
        if (name.size() < 9) return nullptr;
        for (auto& app : apps) {
            if (app.pen == name[6] && app.appId == static_cast<std::uint8_t>(name[7]) &&
                app.appInst == static_cast<std::uint8_t>(name[8])) {
                return &app;
            }
        }
        return nullptr;
    }
    ModuleAnswer Query(Operation operation, const VarBind& binding) override {
        calls.emplace_back(operation, binding.name);
        ModuleAnswer answer;
        answer.binding = binding;
        const Oid& name = binding.name;
        if (name == kStatusView && operation != Operation::Set) {
            answer.binding.value = Value::Octets("No active session");
            return answer;
        }
        if (operation == Operation::Set && name.size() == 7) return {4, binding};
        App* app = Owner(name);
        if (app == nullptr) return {4, binding};
        if (!app->up) return {2, binding};
        if (operation == Operation::Set) {
            answer.status = setStatus;
            return answer;
        }
        if (operation == Operation::Get) {
            if (failGet.count(name)) return {failGet[name], binding};
            const auto found = app->variables.find(name);
            if (found == app->variables.end()) return {2, binding};
            answer.binding.value = found->second;
            return answer;
        }
        const auto next = app->variables.upper_bound(name);
        if (next == app->variables.end()) return {2, binding};
        answer.binding = VarBind{next->first, next->second};
        return answer;
    }
    std::vector<Application> Applications(std::uint16_t pen) override {
        std::vector<Application> result;
        for (const auto& app : apps) {
            if (app.pen == pen) result.push_back(Application{app.appId, app.appInst, app.up});
        }
        return result;
    }
};

class GetNextTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Session order is not OID order: 2.1 connected before 1.1.
        module_.apps.push_back({39917, 2, 1, true, {{O("1.3.6.1.4.1.39917.2.1.1"), Value::Integer(21)}}});
        module_.apps.push_back({39917, 1, 1, true,
                                {{O("1.3.6.1.4.1.39917.1.1.1"), Value::Integer(11)},
                                 {O("1.3.6.1.4.1.39917.1.1.2"), Value::Octets("two")}}});
    }
    std::vector<Oid> Walk(const Oid& view) {
        std::vector<Oid> names;
        Oid at = view;
        bool inclusive = false;
        for (int guard = 0; guard < 20; ++guard) {
            const Outcome outcome = RunGetNext(module_, view, at, inclusive);
            if (outcome.endOfView) return names;
            EXPECT_GT(outcome.binding.name, at) << "a walk must increase";
            names.push_back(outcome.binding.name);
            at = outcome.binding.name;
        }
        ADD_FAILURE() << "walk did not end";
        return names;
    }
    FakeModule module_;
};

TEST_F(GetNextTest, WalkVisitsEveryApplicationInOidOrderAndEnds) {
    EXPECT_EQ(Walk(kView), (std::vector<Oid>{O("1.3.6.1.4.1.39917.1.1.1"), O("1.3.6.1.4.1.39917.1.1.2"),
                                             O("1.3.6.1.4.1.39917.2.1.1")}));
}

TEST_F(GetNextTest, ARequestBeforeTheViewIsSentAsTheViewItself) {
    const Outcome outcome = RunGetNext(module_, kView, O("1.3.6.1.4.1"), false);
    ASSERT_FALSE(outcome.endOfView);
    EXPECT_EQ(outcome.binding.name, O("1.3.6.1.4.1.39917.1.1.1"));
    ASSERT_FALSE(module_.calls.empty());
    EXPECT_EQ(module_.calls.front().second, kView);
}

TEST_F(GetNextTest, TheStatusVariableIsFoundFromBeforeItButNotFromItself) {
    Outcome outcome = RunGetNext(module_, kStatusView, O("1.3.6.1.4.1.5"), false);
    ASSERT_FALSE(outcome.endOfView);
    EXPECT_EQ(outcome.binding.name, kStatusView);
    EXPECT_EQ(outcome.binding.value, Value::Octets("No active session"));

    // From its own name the module answers that name again: nothing greater.
    outcome = RunGetNext(module_, kStatusView, kStatusView, false);
    EXPECT_TRUE(outcome.endOfView);
    // ...unless the SNMP engine says the name itself is acceptable.
    outcome = RunGetNext(module_, kStatusView, kStatusView, true);
    EXPECT_EQ(outcome.binding.name, kStatusView);
}

TEST_F(GetNextTest, StatusViewGoesOnToApplicationsUnderItsOwnNumber) {
    module_.apps.push_back({44821, 3, 1, true, {{O("1.3.6.1.4.1.44821.3.1.7"), Value::Integer(7)}}});
    EXPECT_EQ(Walk(kStatusView), (std::vector<Oid>{O("1.3.6.1.4.1.44821.3.1.7")}));
}

TEST_F(GetNextTest, ApplicationsNotUpAndEmptyApplicationsAreSkipped) {
    module_.apps[0].up = false;  // 2.1
    module_.apps.push_back({39917, 1, 2, true, {}});
    module_.apps.push_back({39917, 3, 3, true, {{O("1.3.6.1.4.1.39917.3.3.1"), Value::Integer(33)}}});
    EXPECT_EQ(Walk(kView), (std::vector<Oid>{O("1.3.6.1.4.1.39917.1.1.1"), O("1.3.6.1.4.1.39917.1.1.2"),
                                             O("1.3.6.1.4.1.39917.3.3.1")}));
    for (const auto& [operation, name] : module_.calls) {
        EXPECT_NE(name, O("1.3.6.1.4.1.39917.2.1")) << "an application that is not up is not asked";
    }
}

TEST_F(GetNextTest, AppIdAbove127IsOrderedAsTheModuleNamesItsVariables) {
    // The module reads tail bytes as signed: AppId byte 200 is 2^32 - 56.
    module_.apps.push_back({39917, 200, 1, true, {{O("1.3.6.1.4.1.39917.4294967240.1.1"), Value::Integer(200)}}});
    const auto names = Walk(kView);
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ(names.back(), O("1.3.6.1.4.1.39917.4294967240.1.1"));
}

// Answers that would make a walk loop or leave the view are not taken.
class MisbehavingModule : public FakeModule {
public:
    ModuleAnswer answer;
    ModuleAnswer Query(Operation operation, const VarBind& binding) override {
        calls.emplace_back(operation, binding.name);
        return answer;
    }
};

TEST(GetNextAnswerTest, NamesNotGreaterEmptyOrOutsideTheViewMoveOn) {
    MisbehavingModule module;
    for (const Oid& name : {O("1.3.6.1.4.1.39917.1.1.5"), O("1.3.6.1.4.1.39917.1.1.4"), Oid{},
                            O("1.3.6.1.4.1.5113.1.1.9")}) {
        module.answer = {0, {name, Value::Integer(1)}};
        const Outcome outcome = RunGetNext(module, kView, O("1.3.6.1.4.1.39917.1.1.5"), false);
        EXPECT_TRUE(outcome.endOfView) << ToText(name);
    }
    module.answer = {13, {O("1.3.6.1.4.1.39917.1.1.6"), Value::Integer(1)}};
    EXPECT_TRUE(RunGetNext(module, kView, O("1.3.6.1.4.1.39917.1.1.5"), false).endOfView) << "a time-out";
    module.answer = {0, {O("1.3.6.1.4.1.39917.1.1.6"), Value{0x41, 0, {}}}};
    EXPECT_TRUE(RunGetNext(module, kView, O("1.3.6.1.4.1.39917.1.1.5"), false).endOfView)
        << "a type the host cannot send";
    module.answer = {0, {O("1.3.6.1.4.1.39917.1.1.6"), Value::Integer(6)}};
    const Outcome outcome = RunGetNext(module, kView, O("1.3.6.1.4.1.39917.1.1.5"), false);
    EXPECT_FALSE(outcome.endOfView);
    EXPECT_EQ(outcome.binding, (VarBind{O("1.3.6.1.4.1.39917.1.1.6"), Value::Integer(6)}));
}

class GetAndSetTest : public ::testing::Test {
protected:
    void SetUp() override {
        module_.apps.push_back({39917, 1, 1, true, {{O("1.3.6.1.4.1.39917.1.1.1"), Value::Integer(11)}}});
        module_.apps.push_back({39917, 2, 1, false, {}});
    }
    FakeModule module_;
};

TEST_F(GetAndSetTest, GetCopiesTheValueAndMissingNamesBecomeV2cExceptionsAndV1NoSuchName) {
    Outcome outcome = RunGet(module_, SnmpVersion::V2c, O("1.3.6.1.4.1.39917.1.1.1"));
    EXPECT_EQ(outcome.errorStatus, 0);
    EXPECT_EQ(outcome.exception, 0);
    EXPECT_EQ(outcome.binding.value, Value::Integer(11));
    // The application exists but lacks the instance.
    outcome = RunGet(module_, SnmpVersion::V2c, O("1.3.6.1.4.1.39917.1.1.9"));
    EXPECT_EQ(outcome.errorStatus, 0);
    EXPECT_EQ(outcome.exception, snmp::kNoSuchInstance);
    // No application there at all (the module says readOnly).
    outcome = RunGet(module_, SnmpVersion::V2c, O("1.3.6.1.4.1.39917.9.9.1"));
    EXPECT_EQ(outcome.exception, snmp::kNoSuchObject);
    // A session that is not up: noSuchName, and it does exist.
    outcome = RunGet(module_, SnmpVersion::V2c, O("1.3.6.1.4.1.39917.2.1.1"));
    EXPECT_EQ(outcome.exception, snmp::kNoSuchInstance);

    EXPECT_EQ(RunGet(module_, SnmpVersion::V1, O("1.3.6.1.4.1.39917.1.1.9")).errorStatus, snmp::kNoSuchName);
    EXPECT_EQ(RunGet(module_, SnmpVersion::V1, O("1.3.6.1.4.1.39917.9.9.1")).errorStatus, snmp::kNoSuchName);
}

TEST_F(GetAndSetTest, GetFailuresBecomeGenErr) {
    module_.failGet[O("1.3.6.1.4.1.39917.1.1.1")] = 13;
    EXPECT_EQ(RunGet(module_, SnmpVersion::V1, O("1.3.6.1.4.1.39917.1.1.1")).errorStatus, snmp::kGenErr);
    EXPECT_EQ(RunGet(module_, SnmpVersion::V2c, O("1.3.6.1.4.1.39917.1.1.1")).errorStatus, snmp::kGenErr);
    module_.failGet[O("1.3.6.1.4.1.39917.1.1.1")] = 5;
    EXPECT_EQ(RunGet(module_, SnmpVersion::V2c, O("1.3.6.1.4.1.39917.1.1.1")).errorStatus, snmp::kGenErr);
}

TEST_F(GetAndSetTest, SetIsForwardedOnceWithItsValue) {
    const VarBind binding{O("1.3.6.1.4.1.39917.1.1.1"), Value::Octets("new")};
    const Outcome outcome = RunSet(module_, SnmpVersion::V2c, binding);
    EXPECT_EQ(outcome.errorStatus, 0);
    ASSERT_EQ(module_.calls.size(), 1u);
    EXPECT_EQ(module_.calls[0], std::make_pair(Operation::Set, binding.name));
}

struct StatusCase {
    SnmpVersion version;
    Operation operation;
    int moduleStatus;
    int expected;
};

class ErrorStatusTest : public ::testing::TestWithParam<StatusCase> {};

TEST_P(ErrorStatusTest, MapsAsRfc3584Says) {
    const StatusCase& c = GetParam();
    EXPECT_EQ(ManagerErrorStatus(c.version, c.operation, c.moduleStatus), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    ModuleStatuses, ErrorStatusTest,
    ::testing::Values(
        // SNMPv1 has no resourceUnavailable.
        StatusCase{SnmpVersion::V1, Operation::Set, 13, snmp::kGenErr},
        StatusCase{SnmpVersion::V1, Operation::Get, 13, snmp::kGenErr},
        StatusCase{SnmpVersion::V1, Operation::Set, 2, snmp::kNoSuchName},
        StatusCase{SnmpVersion::V1, Operation::Set, 3, snmp::kBadValue},
        StatusCase{SnmpVersion::V1, Operation::Set, 4, snmp::kReadOnly},
        StatusCase{SnmpVersion::V1, Operation::Set, 5, snmp::kGenErr},
        StatusCase{SnmpVersion::V2c, Operation::Set, 4, snmp::kNotWritable},
        StatusCase{SnmpVersion::V2c, Operation::Set, 2, snmp::kNoAccess},
        StatusCase{SnmpVersion::V2c, Operation::Set, 3, snmp::kWrongValue},
        StatusCase{SnmpVersion::V2c, Operation::Set, 5, snmp::kGenErr},
        StatusCase{SnmpVersion::V2c, Operation::Set, 13, snmp::kResourceUnavailable},
        StatusCase{SnmpVersion::V2c, Operation::Get, 13, snmp::kGenErr}));

TEST(NotificationTest, EnterpriseSpecificTrapsBecomeEnterpriseZeroSpecific) {
    Trap trap;
    trap.enterprise = O("1.3.6.1.4.1.39917");
    trap.generic = 6;
    trap.specific = 1;
    EXPECT_EQ(NotificationOid(trap), O("1.3.6.1.4.1.39917.0.1"));
    EXPECT_FALSE(CarriesTrapEnterprise(trap));
    trap.generic = 3;  // linkUp
    EXPECT_EQ(NotificationOid(trap), O("1.3.6.1.6.3.1.1.5.4"));
    EXPECT_TRUE(CarriesTrapEnterprise(trap));
}

TEST(ModuleAloneTest, OnlyGetsOfAnEnterpriseRootSkipTheApplications) {
    auto task = [](Operation operation, const char* name) {
        Task made;
        made.operation = operation;
        made.view = O("1.3.6.1.4.1.44821");
        made.name = O(name);
        return made;
    };
    EXPECT_TRUE(AnsweredByModuleAlone(task(Operation::Get, "1.3.6.1.4.1.44821")));
    EXPECT_TRUE(AnsweredByModuleAlone(task(Operation::Get, "1.3.6.1.4.1.5113")));
    // Anything longer reaches an application and its reply wait.
    EXPECT_FALSE(AnsweredByModuleAlone(task(Operation::Get, "1.3.6.1.4.1.44821.0")));
    EXPECT_FALSE(AnsweredByModuleAlone(task(Operation::Get, "1.3.6.1.4.1.39917.1.1.1")));
    // GETNEXT of the root goes on to the applications below it.
    EXPECT_FALSE(AnsweredByModuleAlone(task(Operation::GetNext, "1.3.6.1.4.1.44821")));
    EXPECT_FALSE(AnsweredByModuleAlone(task(Operation::Set, "1.3.6.1.4.1.44821")));
}

TEST(OidTest, ParsesAndPrints) {
    EXPECT_EQ(ParseOid(".1.3.6"), (Oid{1, 3, 6}));
    EXPECT_EQ(ToText(Oid{1, 3, 4294967295u}), "1.3.4294967295");
    for (const char* bad : {"", ".", "1..3", "1.3.", "1.x", "1.4294967296"}) {
        EXPECT_FALSE(ParseOid(bad).has_value()) << bad;
    }
    EXPECT_TRUE(StartsWith(O("1.3.6.1"), O("1.3.6")));
    EXPECT_FALSE(StartsWith(O("1.3"), O("1.3.6")));
}

}  // namespace
}  // namespace qv::host
