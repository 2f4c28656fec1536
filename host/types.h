// Plain values the host passes between the module side, the request logic and
// the SNMP side. Nothing here knows the extension-agent structures or
// net-snmp, so the request logic can be tested on its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv::host {

// An OID as its sub-identifiers. std::vector's lexicographic order is the OID
// order (a prefix comes before everything below it).
using Oid = std::vector<std::uint32_t>;

std::string ToText(const Oid& oid);
// "1.3.6.1" or ".1.3.6.1"; nullopt for anything else.
std::optional<Oid> ParseOid(std::string_view text);
bool StartsWith(const Oid& oid, const Oid& prefix);

// The ASN.1 types the module exchanges with applications.
inline constexpr std::uint8_t kAsnInteger = 0x02;
inline constexpr std::uint8_t kAsnOctetString = 0x04;
inline constexpr std::uint8_t kAsnNull = 0x05;

struct Value {
    std::uint8_t type = kAsnNull;
    std::int32_t number = 0;  // kAsnInteger
    std::string bytes;        // kAsnOctetString

    static Value Integer(std::int32_t n) { return Value{kAsnInteger, n, {}}; }
    static Value Octets(std::string s) { return Value{kAsnOctetString, 0, std::move(s)}; }
    bool operator==(const Value&) const = default;
};

struct VarBind {
    Oid name;
    Value value;
    bool operator==(const VarBind&) const = default;
};

enum class Operation { Get, GetNext, Set };

// What the module answered for one binding: its error status (the
// extension-agent numbers 0, 2, 3, 4, 5, 13) and the binding as it left it.
struct ModuleAnswer {
    int status = 0;
    VarBind binding;
};

// An enterprise-specific trap as the module hands it over.
struct Trap {
    Oid enterprise;
    int generic = 0;
    int specific = 0;
    std::uint32_t timeStamp = 0;  // hundredths of a second since the agent started
    std::vector<VarBind> bindings;
};

}  // namespace qv::host
