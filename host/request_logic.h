// What the host does with one binding of a manager's request, apart from any
// SNMP library: which module calls it makes, how a GETNEXT moves on when an
// application has nothing more, and how the module's error statuses reach an
// SNMPv1 or SNMPv2c manager.
#pragma once

#include <cstdint>
#include <vector>

#include "host/types.h"

namespace qv::host {

enum class SnmpVersion { V1, V2c };

// Error statuses and exceptions as managers know them.
namespace snmp {
inline constexpr int kNoError = 0;
inline constexpr int kNoSuchName = 2;
inline constexpr int kBadValue = 3;
inline constexpr int kReadOnly = 4;
inline constexpr int kGenErr = 5;
inline constexpr int kNoAccess = 6;
inline constexpr int kWrongValue = 10;
inline constexpr int kResourceUnavailable = 13;
inline constexpr int kNoCreation = 11;
inline constexpr int kNotWritable = 17;
inline constexpr std::uint8_t kNoSuchObject = 0x80;
inline constexpr std::uint8_t kNoSuchInstance = 0x81;
}  // namespace snmp

// The answer for one binding, ready for the SNMP side.
struct Outcome {
    int errorStatus = snmp::kNoError;  // for the whole response, pointing at this binding
    std::uint8_t exception = 0;        // SNMPv2c exception value instead of a value
    bool endOfView = false;            // GETNEXT: nothing at or after the request in this view
    VarBind binding;
    bool operator==(const Outcome&) const = default;
};

// The module as the request logic sees it; the real one calls the extension
// agent's SnmpExtensionQuery and reads the session table.
class ModuleAccess {
public:
    virtual ~ModuleAccess() = default;
    virtual ModuleAnswer Query(Operation operation, const VarBind& binding) = 0;

    struct Application {
        std::uint8_t appId = 0;
        std::uint8_t appInst = 0;
        bool up = false;  // state 2: the application answers queries
    };
    // Sessions in use under an enterprise number, in session-table order.
    virtual std::vector<Application> Applications(std::uint16_t pen) = 0;
};

// One binding of one request, for one view.
struct Task {
    Operation operation = Operation::Get;
    Oid view;            // the registered view the binding fell into
    Oid name;
    bool inclusive = false;  // GETNEXT: the name itself is an acceptable answer
    Value value;             // SET
    bool operator==(const Task&) const = default;
};

// Whether a request can carry `name` to an application exactly. Below the
// enterprise number the module sends the low 8 bits of each sub-identifier,
// ends the tail with a zero byte and carries at most 24 of them; the
// application reads each byte back as a signed number. So only 1 to 127 and
// 2^32-128 to 2^32-1 (bytes 128 to 255) survive the trip, in names of at most
// 31 sub-identifiers; any other name would reach a different variable.
bool CanBeCarried(const Oid& name);

// Where a GETNEXT from `request`, a name that cannot be carried, picks up:
// the points to search from, in order, each exclusive (the first variable
// after it) or inclusive (the point itself first). Everything between the
// request and the first point is a name no application can have.
struct ResumePoint {
    Oid name;
    bool inclusive = false;
    bool operator==(const ResumePoint&) const = default;
};
std::vector<ResumePoint> ResumePoints(const Oid& request);

// Maps a module status of a failed binding to the response's error status.
int ManagerErrorStatus(SnmpVersion version, Operation operation, int moduleStatus);

Outcome RunGet(ModuleAccess& module, SnmpVersion version, const Oid& name);
Outcome RunSet(ModuleAccess& module, SnmpVersion version, const VarBind& binding);
Outcome RunGetNext(ModuleAccess& module, const Oid& view, const Oid& request, bool inclusive);
// True when the module answers the task without asking an application, so
// without its 50 ms reply wait: a GET of an enterprise root (the status
// variable 1.3.6.1.4.1.44821 and the roots nobody owns).
bool AnsweredByModuleAlone(const Task& task);

Outcome RunTask(ModuleAccess& module, SnmpVersion version, const Task& task);

}  // namespace qv::host

namespace qv::host {

// snmpTrapOID.0 of the SNMPv2 form of an SNMPv1 trap (RFC 3584, 3.1):
// enterprise.0.specific for enterprise-specific traps, snmpTraps.(generic+1)
// for the generic ones.
Oid NotificationOid(const Trap& trap);
// Generic traps also carry snmpTrapEnterprise.0 = enterprise (RFC 3584, 3.1).
bool CarriesTrapEnterprise(const Trap& trap);

inline const Oid kSysUpTime0 = {1, 3, 6, 1, 2, 1, 1, 3, 0};
inline const Oid kSnmpTrapOid0 = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};
inline const Oid kSnmpTrapEnterprise0 = {1, 3, 6, 1, 6, 3, 1, 1, 4, 3, 0};

}  // namespace qv::host
