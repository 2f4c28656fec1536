#include "host/request_logic.h"

#include <algorithm>
#include <optional>

namespace qv::host {
namespace {

// Sub-identifiers 6, 7 and 8 address enterprise, AppId and AppInst; the
// module reads their low 16 and low 8 bits.
constexpr std::size_t kPenIndex = 6;
constexpr std::size_t kAppIdIndex = 7;
constexpr std::size_t kAppInstIndex = 8;

// Sub-identifiers below the enterprise that a request carries.
constexpr std::size_t kMaxCarriedLength = 31;
constexpr std::uint32_t kFirstNegativeByte = 0xFFFFFF80;  // byte 128 read back as a signed number

bool CarriedExactly(std::uint32_t id) {
    return id != 0 && (id <= 127 || id >= kFirstNegativeByte);
}

// The smallest sub-identifier above `id` that is carried exactly, if any.
std::optional<std::uint32_t> NextCarried(std::uint32_t id) {
    if (id < 127) return id + 1;
    if (id < kFirstNegativeByte) return kFirstNegativeByte;
    if (id < 0xFFFFFFFF) return id + 1;
    return std::nullopt;
}

// The application's sub-identifier for a session-table byte: the byte read as
// a signed number, as the module hands names back.
std::uint32_t SubIdentifierOf(std::uint8_t byte) {
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int8_t>(byte)));
}

// The first carried name after everything that starts with `prefix`.
std::optional<Oid> AfterSubtree(Oid prefix) {
    while (prefix.size() > kPenIndex + 1) {
        const auto next = NextCarried(prefix.back());
        prefix.pop_back();
        if (next) {
            prefix.push_back(*next);
            return prefix;
        }
    }
    return std::nullopt;
}

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

bool CanBeCarried(const Oid& name) {
    if (name.size() > kMaxCarriedLength) return false;
    for (std::size_t i = kAppIdIndex; i < name.size(); ++i) {
        if (!CarriedExactly(name[i])) return false;
    }
    return true;
}

std::vector<ResumePoint> ResumePoints(const Oid& request) {
    std::size_t i = kAppIdIndex;
    while (i < request.size() && i < kMaxCarriedLength && CarriedExactly(request[i])) ++i;
    const Oid prefix(request.begin(), request.begin() + static_cast<std::ptrdiff_t>(i));
    std::vector<ResumePoint> points;
    if (i == kMaxCarriedLength) {
        // Too long: what follows in the prefix's subtree may still come after
        // the request; past that subtree, the next carried name.
        points.push_back({prefix, false});
        if (auto after = AfterSubtree(prefix)) points.push_back({*after, true});
    } else if (i < request.size() && request[i] == 0) {
        // prefix.0... comes right after the prefix and holds nothing.
        points.push_back({prefix, false});
    } else if (i < request.size()) {
        Oid next = prefix;
        next.push_back(kFirstNegativeByte);  // request[i] lies between 128 and it
        points.push_back({next, true});
    } else {
        points.push_back({request, false});
    }
    return points;
}

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
    if (!CanBeCarried(name)) {
        // The module would ask for another variable; nobody has this one.
        if (version == SnmpVersion::V1) {
            outcome.errorStatus = snmp::kNoSuchName;
        } else {
            outcome.exception = snmp::kNoSuchObject;
        }
        return outcome;
    }
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
    if (!CanBeCarried(binding.name)) {
        // It would write another variable; this one cannot exist.
        outcome.errorStatus = version == SnmpVersion::V1 ? snmp::kNoSuchName : snmp::kNoCreation;
        return outcome;
    }
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

    // A name the module cannot carry would be searched from another name:
    // start where the next carried names begin.
    const std::vector<ResumePoint> points =
        StartsWith(start, view) && start.size() > view.size() ? ResumePoints(start) : std::vector{ResumePoint{start}};
    ModuleAnswer answer;
    for (const ResumePoint& point : points) {
        if (point.inclusive) {
            answer = module.Query(Operation::Get, VarBind{point.name, {}});
            answer.binding.name = point.name;
            if (acceptable(answer)) return found(answer);
        }
        answer = module.Query(Operation::GetNext, VarBind{point.name, {}});
        if (acceptable(answer)) return found(answer);
    }

    // The addressed application has nothing more (or there is none there):
    // go on with the roots of the applications after the request, in OID
    // order. The module itself never leaves one application.
    if (view.size() > kPenIndex) {
        auto applications = module.Applications(static_cast<std::uint16_t>(view[kPenIndex]));
        std::erase_if(applications, [](const auto& application) { return !application.up; });
        std::vector<Oid> roots;
        for (const auto& application : applications) {
            Oid root = view;
            root.push_back(SubIdentifierOf(application.appId));
            root.push_back(SubIdentifierOf(application.appInst));
            roots.push_back(std::move(root));
        }
        std::sort(roots.begin(), roots.end());
        for (const Oid& root : roots) {
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
