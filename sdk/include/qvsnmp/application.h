// Publishing SNMP variables and raising traps through the QVSNMP agent.
//
//     qvsnmp::Application app({39917, 1, 1});
//     app.Publish({1}, [] { return qvsnmp::Value::Integer(42); });
//     app.Start();  // connects, serves, keeps the session, reconnects
//     app.RaiseTrap({1}, qvsnmp::Value::Text("hello"));
//
// Threading. Start() runs one service thread per Application. It connects
// the session, keeps it alive, answers the agent's GET, GETNEXT and SET
// requests and reconnects after a time-out or an agent restart. Every getter
// and setter runs on that thread, one at a time, so they need no locking
// among themselves; they must answer well within two seconds (the agent's
// wait for a reply). Publish, Unpublish, RaiseTrap and GetStatus may be called
// from any thread, before or after Start().
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "qvsnmp/base_ring.h"

namespace qvsnmp {

// The answer to a SET: the reply status codes the agent maps to SNMP errors.
enum class SetStatus : std::uint8_t {
    kAccepted = 2,
    kGeneralError = 3,
    kNoSuchName = 4,
    kReadOnly = 5,
    kBadValue = 6,
};

using Getter = std::function<Value()>;
using Setter = std::function<SetStatus(const Value&)>;

// A setter for an integer variable: other types are refused with kBadValue,
// and so is a number `store` returns false for.
Setter IntegerSetter(std::function<bool(std::int32_t)> store);
Setter TextSetter(std::function<bool(const std::string&)> store);

enum class SessionEvent {
    kConnected,     // the session is up (again)
    kTimedOut,      // the agent sent a time-out notice: we were silent too long
    kLost,          // our row was cleared, or the agent stopped
    kDisconnected,  // Stop() released the session
};
const char* ToString(SessionEvent event);

struct Options {
    // How often the session is renewed; the agent gives up after about 4 s.
    std::chrono::milliseconds keepAlivePeriod{1000};
    // How often the service thread looks for requests. The agent looks for
    // the reply 50 ms after it sent the request (and every 50 ms after that),
    // so anything well below 50 ms answers at its first look; 20 ms leaves
    // room for a busy machine and costs an idle application little CPU.
    std::chrono::milliseconds pollInterval{20};
    // Longest wait for the base ring's append lock.
    std::chrono::milliseconds lockTimeout{2000};
    // Called on the service thread; `session` is the slot 0..15 involved.
    std::function<void(SessionEvent event, int session)> onEvent;
};

class Application {
public:
    // Throws std::invalid_argument unless AppId and AppInst are 1..127.
    explicit Application(Identity identity, Options options = {});
    // Stops the service thread and releases the session.
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    const Identity& identity() const;

    // 1.3.6.1.4.1.<pen>.<appId>.<appInst>.<suffix> reads as get() and, with a
    // setter, accepts SETs; without one a SET is refused as read-only.
    // Replaces an earlier variable of that suffix. Throws
    // std::invalid_argument for an empty suffix, a sub-identifier outside
    // 1..127 or more than 22 sub-identifiers.
    void Publish(const Suffix& suffix, Getter get, Setter set = {});
    void PublishConstant(const Suffix& suffix, Value value);
    void Unpublish(const Suffix& suffix);

    void Start();
    // Joins the service thread and frees the session row. Idempotent.
    void Stop();

    // Appends a trap record: the agent delivers it as the binding
    // 1.3.6.1.4.1.<pen>.<appId>.<appInst>.1.<suffix> = value. Needs a running
    // agent, not a connected session.
    AppendResult RaiseTrap(const Suffix& suffix, const Value& value);

    struct Status {
        bool connected = false;
        int session = -1;  // slot 0..15 while connected
        unsigned connects = 0;
        unsigned timeOuts = 0;
        unsigned losses = 0;
        unsigned requests = 0;  // GET, GETNEXT and SET answered
    };
    Status GetStatus() const;

    class Impl;

private:
    friend struct detail::TestAccess;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qvsnmp
