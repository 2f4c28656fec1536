#include "host/request_logic.h"

#include <algorithm>

namespace qv::host {
namespace {

// Sub-identifiers 6, 7 and 8 address enterprise, AppId and AppInst; the
// module reads their low 16 and low 8 bits.
constexpr std::size_t kPenIndex = 6;
constexpr std::size_t kAppIdIndex = 7;
constexpr std::size_t kAppInstIndex = 8;

bool Encodable(const Value& value) {
    return value.type == kAsnInteger || value.type == kAsnOctetString;
}

bool AddressesASession(ModuleAccess& module, const Oid& name) {
    if (name.size() <= kAppInstIndex) return false;
    const auto pen = static_cast<std::uint16_t>(name[kPenIndex]);
    const auto appId = static_cast<std::uint8_t>(name[kAppIdIndex]);
    const auto appInst = static_cast<std::uint8_t>(name[kAppInstIndex]);
    for (const auto& application : module.Applications(pen)) {
        if (application.appId == appId && application.appInst == appInst) return true;
    }
    return false;
}

}  // namespace

int ManagerErrorStatus(SnmpVersion version, Operation operation, int moduleStatus) {
    if (version == SnmpVersion::V1) {
        switch (moduleStatus) {
            case snmp::kNoSuchName:
            case snmp::kBadValue:
            case snmp::kGenErr:
                return moduleStatus;
            case snmp::kReadOnly:
                // For a GET the module says readOnly when no application owns
                // the name: to a manager that is a name that does not exist.
                return operation == Operation::Set ? snmp::kReadOnly : snmp::kNoSuchName;
            default:
                // resourceUnavailable and anything else SNMPv1 lacks.
                return snmp::kGenErr;
        }
    }
    if (operation == Operation::Set) {
        switch (moduleStatus) {
            case snmp::kNoSuchName: return snmp::kNoAccess;
            case snmp::kBadValue: return snmp::kWrongValue;
            case snmp::kReadOnly: return snmp::kNotWritable;
            case snmp::kResourceUnavailable: return snmp::kResourceUnavailable;
            default: return snmp::kGenErr;
        }
    }
    // A v2c GET fails only with genErr; missing names become exceptions.
    return snmp::kGenErr;
}

Outcome RunGet(ModuleAccess& module, SnmpVersion version, const Oid& name) {
    Outcome outcome;
    outcome.binding.name = name;
    const ModuleAnswer answer = module.Query(Operation::Get, VarBind{name, {}});
    if (answer.status == snmp::kNoError) {
        if (!Encodable(answer.binding.value)) {
            outcome.errorStatus = snmp::kGenErr;
            return outcome;
        }
        outcome.binding.value = answer.binding.value;
        return outcome;
    }
    const bool missing = answer.status == snmp::kNoSuchName || answer.status == snmp::kReadOnly;
    if (version == SnmpVersion::V2c && missing) {
        // noSuchName from a connected application means it has the name's
        // subtree but not this instance; readOnly means nobody owns it.
        outcome.exception = answer.status == snmp::kNoSuchName && AddressesASession(module, name)
                                ? snmp::kNoSuchInstance
                                : snmp::kNoSuchObject;
        return outcome;
    }
    outcome.errorStatus = ManagerErrorStatus(version, Operation::Get, answer.status);
    return outcome;
}

Outcome RunSet(ModuleAccess& module, SnmpVersion version, const VarBind& binding) {
    Outcome outcome;
    outcome.binding = binding;
    const ModuleAnswer answer = module.Query(Operation::Set, binding);
    if (answer.status != snmp::kNoError) {
        outcome.errorStatus = ManagerErrorStatus(version, Operation::Set, answer.status);
    }
    return outcome;
}

Outcome RunGetNext(ModuleAccess& module, const Oid& view, const Oid& request, bool inclusive) {
    // A request before the view starts at the view itself, and then the view's
    // own OID is an acceptable answer (the status variable is one).
    Oid start = request;
    if (!StartsWith(request, view)) {
        start = view;
        inclusive = true;
    }
    auto acceptable = [&](const ModuleAnswer& answer) {
        const Oid& name = answer.binding.name;
        return answer.status == snmp::kNoError && !name.empty() && StartsWith(name, view) &&
               (inclusive ? name >= start : name > start) && Encodable(answer.binding.value);
    };
    auto found = [](const ModuleAnswer& answer) {
        Outcome outcome;
        outcome.binding = answer.binding;
        return outcome;
    };

    ModuleAnswer answer = module.Query(Operation::GetNext, VarBind{start, {}});
    if (acceptable(answer)) return found(answer);

    // The addressed application has nothing more (or there is none there):
    // go on with the roots of the applications after the request, in OID
    // order. The module itself never leaves one application.
    if (view.size() > kPenIndex) {
        auto applications = module.Applications(static_cast<std::uint16_t>(view[kPenIndex]));
        std::erase_if(applications, [](const auto& application) { return !application.up; });
        std::sort(applications.begin(), applications.end(), [](const auto& a, const auto& b) {
            return std::pair(a.appId, a.appInst) < std::pair(b.appId, b.appInst);
        });
        for (const auto& application : applications) {
            Oid root = view;
            root.push_back(application.appId);
            root.push_back(application.appInst);
            if (root <= start) continue;
            answer = module.Query(Operation::GetNext, VarBind{root, {}});
            if (acceptable(answer)) return found(answer);
        }
    }
    Outcome outcome;
    outcome.endOfView = true;
    outcome.binding.name = request;
    return outcome;
}

bool AnsweredByModuleAlone(const Task& task) {
    return task.operation == Operation::Get && task.name.size() == kPenIndex + 1;
}

Outcome RunTask(ModuleAccess& module, SnmpVersion version, const Task& task) {
    switch (task.operation) {
        case Operation::Get: return RunGet(module, version, task.name);
        case Operation::GetNext: return RunGetNext(module, task.view, task.name, task.inclusive);
        case Operation::Set: return RunSet(module, version, VarBind{task.name, task.value});
    }
    return {};
}

}  // namespace qv::host

namespace qv::host {

namespace {
constexpr int kEnterpriseSpecific = 6;
}

Oid NotificationOid(const Trap& trap) {
    if (trap.generic == kEnterpriseSpecific) {
        Oid oid = trap.enterprise;
        oid.push_back(0);
        oid.push_back(static_cast<std::uint32_t>(trap.specific));
        return oid;
    }
    return Oid{1, 3, 6, 1, 6, 3, 1, 1, 5, static_cast<std::uint32_t>(trap.generic + 1)};
}

bool CarriesTrapEnterprise(const Trap& trap) {
    return trap.generic != kEnterpriseSpecific;
}

}  // namespace qv::host
