// The variables of one application and the answers to the agent's requests.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "qvsnmp/application.h"

namespace qvsnmp::detail {

// Keys are whole OID tails as they travel in the messages: AppId, AppInst,
// then the suffix. std::map orders byte vectors lexicographically with a
// prefix before its extensions, which is exactly SNMP's order for OIDs whose
// sub-identifiers are single bytes, so GETNEXT is one upper_bound.
class VariableTable {
public:
    explicit VariableTable(const Identity& identity) : identity_(identity) {}

    void Publish(const Suffix& suffix, Getter get, Setter set);
    void Unpublish(const Suffix& suffix);

    // Builds the reply to a GET, GETNEXT or SET request (a copy of the
    // request with status, value and, for GETNEXT, the next tail filled in).
    // False for messages that take no reply. Getters and setters are called
    // without the table's lock held, so they may publish and unpublish.
    bool Answer(const std::uint8_t* request, std::uint8_t* reply) const;

private:
    struct Variable {
        Getter get;
        Setter set;
    };
    using Key = std::vector<std::uint8_t>;

    Key KeyOf(const Suffix& suffix) const;

    Identity identity_;
    mutable std::mutex mutex_;  // guards variables_
    std::map<Key, std::shared_ptr<const Variable>> variables_;
};

}  // namespace qvsnmp::detail
