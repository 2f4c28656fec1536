#include "variable_table.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "records.h"
#include "shm/shared_access.h"

namespace qvsnmp::detail {
namespace {

void PutValue(std::uint8_t* reply, const Value& value) {
    reply[message::kValueType] = static_cast<std::uint8_t>(value.type());
    if (value.IsInteger()) {
        qv::shm::WriteI32(reply + message::kValue, value.integer());
        return;
    }
    // The agent takes the text up to its first zero byte; a longer text is
    // cut to what the message holds.
    const std::size_t length = std::min(value.text().size(), message::kMaxText);
    if (length > 0) std::memcpy(reply + message::kValue, value.text().data(), length);
    reply[message::kValue + length] = 0;
}

// The value a SET request carries; nullopt for a type we do not take.
std::optional<Value> ValueOfSet(const std::uint8_t* request) {
    switch (request[message::kValueType]) {
        case static_cast<std::uint8_t>(Value::Type::kInteger):
            return Value::Integer(qv::shm::ReadI32(request + message::kValue));
        case static_cast<std::uint8_t>(Value::Type::kText): {
            const std::size_t length =
                std::min<std::size_t>(qv::shm::ReadU16(request + message::kValueLength), message::kMaxText);
            return Value::Text(std::string(reinterpret_cast<const char*>(request + message::kValue), length));
        }
        default:
            return std::nullopt;
    }
}

// A setter's status goes into the reply as it is.
static_assert(static_cast<std::uint8_t>(SetStatus::kAccepted) == kReplyOk);
static_assert(static_cast<std::uint8_t>(SetStatus::kGeneralError) == kReplyGeneralError);
static_assert(static_cast<std::uint8_t>(SetStatus::kNoSuchName) == kReplyNoSuchName);
static_assert(static_cast<std::uint8_t>(SetStatus::kReadOnly) == kReplyReadOnly);
static_assert(static_cast<std::uint8_t>(SetStatus::kBadValue) == kReplyBadValue);

std::uint8_t Set(const Setter& set, const std::uint8_t* request) {
    if (!set) return kReplyReadOnly;
    const std::optional<Value> value = ValueOfSet(request);
    if (!value) return kReplyBadValue;
    try {
        return static_cast<std::uint8_t>(set(*value));
    } catch (...) {
        return kReplyGeneralError;
    }
}

}  // namespace

VariableTable::Key VariableTable::KeyOf(const Suffix& suffix) const {
    if (suffix.empty() || suffix.size() > message::kTailSize - 2) {
        throw std::invalid_argument("a variable needs 1 to 22 sub-identifiers below AppId.AppInst");
    }
    Key key{static_cast<std::uint8_t>(identity_.appId), static_cast<std::uint8_t>(identity_.appInst)};
    for (const std::uint8_t id : suffix) {
        if (!IsValidSubIdentifier(id)) throw std::invalid_argument("sub-identifiers must be 1..127");
        key.push_back(id);
    }
    return key;
}

void VariableTable::Publish(const Suffix& suffix, Getter get, Setter set) {
    if (!get) throw std::invalid_argument("a variable needs a getter");
    auto variable = std::make_shared<const Variable>(Variable{std::move(get), std::move(set)});
    Key key = KeyOf(suffix);
    std::lock_guard lock(mutex_);
    variables_[std::move(key)] = std::move(variable);
}

void VariableTable::Unpublish(const Suffix& suffix) {
    const Key key = KeyOf(suffix);
    std::lock_guard lock(mutex_);
    variables_.erase(key);
}

bool VariableTable::Answer(const std::uint8_t* request, std::uint8_t* reply) const {
    const std::uint8_t operation = request[message::kOperation];
    if (operation != message::kGet && operation != message::kGetNext && operation != message::kSet) return false;
    std::memcpy(reply, request, kRecordSize);

    Key tail;
    for (std::size_t i = 0; i < message::kTailSize && request[message::kTail + i] != 0; ++i) {
        tail.push_back(request[message::kTail + i]);
    }
    Key name;
    std::shared_ptr<const Variable> variable;
    {
        std::lock_guard lock(mutex_);
        const auto found = operation == message::kGetNext ? variables_.upper_bound(tail) : variables_.find(tail);
        if (found != variables_.end()) {
            name = found->first;
            variable = found->second;
        }
    }
    // Past our last variable GETNEXT also answers "no such name": the agent
    // does not walk on to other applications.
    if (!variable) {
        reply[message::kStatus] = kReplyNoSuchName;
        return true;
    }
    if (operation == message::kSet) {
        reply[message::kStatus] = Set(variable->set, request);
        return true;
    }
    std::optional<Value> value;
    try {
        value = variable->get();
    } catch (...) {
        reply[message::kStatus] = kReplyGeneralError;
        return true;
    }
    if (operation == message::kGetNext) {
        // Everything from the tail up to the operation byte belongs to the
        // tail as the agent reads it back.
        std::memset(reply + message::kTail, 0, message::kOperation - message::kTail);
        std::memcpy(reply + message::kTail, name.data(), name.size());
    }
    PutValue(reply, *value);
    reply[message::kStatus] = kReplyOk;
    return true;
}

}  // namespace qvsnmp::detail
