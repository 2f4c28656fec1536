// Appending records to the agent's base ring from an application process.
//
// The base ring has many writers (every application) and one write index, so
// appends are serialised between processes by the named mutex
// kAppendLockName. It is a Win32 mutex: a holder that dies while holding it
// hands it to the next appender as abandoned, so a crashed application cannot
// block the others. Every process that appends to the base ring must take it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qvsnmp {

namespace detail {
struct TestAccess;  // the SDK's test hooks (sdk/src/test_access.h)
}  // namespace detail

// The application an OID below 1.3.6.1.4.1.<pen> belongs to:
// 1.3.6.1.4.1.<pen>.<appId>.<appInst>. AppId and AppInst are 1..127.
struct Identity {
    std::uint16_t pen = 0;
    std::int8_t appId = 0;
    std::int8_t appInst = 0;
};

// Sub-identifiers that follow AppId.AppInst (or, in a trap, the trap mark).
// Each travels as one byte, so each must be 1..127.
using Suffix = std::vector<std::uint8_t>;

// "1.2.3" -> {1, 2, 3}; false for an empty part or a number outside 1..127.
bool ParseSuffix(const std::string& dotted, Suffix* suffix);
std::string FormatSuffix(const Suffix& suffix);

// An SNMP value as it crosses the rings: an INTEGER or an OCTET STRING.
class Value {
public:
    enum class Type : std::uint8_t { kInteger = 2, kText = 4 };

    static Value Integer(std::int32_t number) { return Value(Type::kInteger, number, {}); }
    static Value Text(std::string text) { return Value(Type::kText, 0, std::move(text)); }

    Type type() const { return type_; }
    bool IsInteger() const { return type_ == Type::kInteger; }
    std::int32_t integer() const { return integer_; }
    const std::string& text() const { return text_; }
    bool operator==(const Value& other) const = default;

private:
    Value(Type type, std::int32_t number, std::string text)
        : type_(type), integer_(number), text_(std::move(text)) {}
    Type type_;
    std::int32_t integer_;
    std::string text_;
};

inline constexpr char kAppendLockName[] = "Global\\QV_BASE_APPEND1.3.6.1.4.1";
// Longest trap suffix and text that fit a trap record.
inline constexpr std::size_t kMaxTrapSuffix = 26;
inline constexpr std::size_t kMaxTrapText = 983;
inline constexpr std::chrono::milliseconds kTrapHoldBack{5000};

enum class AppendStatus {
    kAppended,
    kNoAgent,        // the base region is not there
    kRingFull,       // the agent is not draining; the record is dropped
    kLockTimeout,    // another appender held the lock for the whole wait
    kLockFailed,     // the lock could not be waited on at all
    kInvalidRecord,  // suffix or text does not fit a record
    kBusy,           // earlier traps still wait for the agent; try again later
};

struct AppendResult {
    AppendStatus status = AppendStatus::kNoAgent;
    // The previous holder of the append lock ended without releasing it. The
    // ring needs no repair (see base_ring.cpp); this is for diagnostics.
    bool lockAbandoned = false;

    explicit operator bool() const { return status == AppendStatus::kAppended; }
};

const char* ToString(AppendStatus status);

class BaseRegion;

// A mapping of the base region plus the append lock. Thread-safe: the lock
// serialises the threads of one process as well. All BaseRings of a process
// share one view of the region, which is also what the module's session
// functions see (SnmpSharedMemory's base pointer).
class BaseRing {
public:
    // Null when the base region does not exist (no agent has been started, or
    // the last process holding it has gone).
    static std::unique_ptr<BaseRing> Open(std::chrono::milliseconds lockTimeout = std::chrono::seconds(2));
    ~BaseRing();
    BaseRing(const BaseRing&) = delete;
    BaseRing& operator=(const BaseRing&) = delete;

    AppendResult AppendConnectionRequest(const Identity& identity);
    // A trap record: the binding is 1.3.6.1.4.1.<pen>.<appId>.<appInst>.1.<suffix>.
    //
    // The agent drops every trap it has not yet delivered when the records
    // behind its trap walk fill the whole ring, so a trap is appended only
    // while they leave room for it and for one keep-alive of every session.
    // Otherwise the call waits, up to kTrapHoldBack, for the agent to deliver
    // the earlier ones, and then reports kBusy: a burst goes out complete and
    // in order at the agent's pace, or the caller learns that it did not.
    AppendResult AppendTrap(const Identity& identity, const Suffix& suffix, const Value& value);
    // Any 1024-byte record.
    AppendResult AppendRecord(const std::uint8_t* record);

    // Start of the base region (its header), for readers of the header fields.
    const void* Region() const;
    bool ServiceUp() const;

private:
    friend struct detail::TestAccess;

    BaseRing(std::shared_ptr<BaseRegion> region, void* lock, std::chrono::milliseconds lockTimeout);
    AppendResult Append(const std::uint8_t* record, bool trap);

    std::shared_ptr<BaseRegion> region_;
    void* lock_;  // the append mutex's handle
    std::chrono::milliseconds lockTimeout_;
    std::atomic<std::uint16_t> nextTag_{0};  // bytes 0-1 of our records, which the agent does not read
};

}  // namespace qvsnmp
