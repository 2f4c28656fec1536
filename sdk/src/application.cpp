#include "qvsnmp/application.h"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "qv_windows.h"
#include "records.h"
#include "shm/wire.h"
#include "shm/ring.h"
#include "shm/shared_access.h"
#include "shm/snmp_session.h"
#include "shm/snmp_shared_memory.h"
#include "shm/unique_handle.h"
#include "test_access.h"
#include "variable_table.h"

namespace qvsnmp {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How long to wait for the agent to enter a connection request in its table
// (it does so within one 50 ms pass), and between failed attempts.
constexpr auto kConnectWait = 2s;
constexpr auto kRetryPause = 250ms;

}  // namespace

Setter IntegerSetter(std::function<bool(std::int32_t)> store) {
    return [store = std::move(store)](const Value& value) {
        if (!value.IsInteger()) return SetStatus::kBadValue;
        return store(value.integer()) ? SetStatus::kAccepted : SetStatus::kBadValue;
    };
}

Setter TextSetter(std::function<bool(const std::string&)> store) {
    return [store = std::move(store)](const Value& value) {
        if (value.IsInteger()) return SetStatus::kBadValue;
        return store(value.text()) ? SetStatus::kAccepted : SetStatus::kBadValue;
    };
}

const char* ToString(SessionEvent event) {
    switch (event) {
        case SessionEvent::kConnected:
            return "connected";
        case SessionEvent::kTimedOut:
            return "timed-out";
        case SessionEvent::kLost:
            return "lost";
        case SessionEvent::kDisconnected:
            return "disconnected";
    }
    return "?";
}

class Application::Impl {
public:
    Impl(Identity identity, Options options) : identity_(identity), options_(std::move(options)), table_(identity) {}

    ~Impl() { Stop(); }

    void Start() {
        std::lock_guard lock(controlMutex_);
        if (thread_.joinable()) return;
        stopping_ = false;
        thread_ = std::thread([this] { Run(); });
    }

    void Stop() {
        {
            std::lock_guard lock(controlMutex_);
            if (!thread_.joinable()) return;
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

    AppendResult RaiseTrap(const Suffix& suffix, const Value& value) {
        auto ring = Ring();
        if (!ring) return AppendResult{AppendStatus::kNoAgent, false};
        return ring->AppendTrap(identity_, suffix, value);
    }

    Status GetStatus() const {
        std::lock_guard lock(statusMutex_);
        return status_;
    }

    const Identity identity_;
    const Options options_;
    detail::VariableTable table_;
    std::atomic<bool> paused_{false};

private:
    // The base ring, opened on first need and kept while the agent runs.
    std::shared_ptr<BaseRing> Ring() {
        std::lock_guard lock(ringMutex_);
        if (!ring_) ring_ = BaseRing::Open(options_.lockTimeout);
        return ring_;
    }

    const QVSNMP_COMBufferHeaderLine* Header(const BaseRing& ring) const {
        return static_cast<const QVSNMP_COMBufferHeaderLine*>(ring.Region());
    }

    // Sleeps, but wakes at once for Stop(). False when stopping.
    bool Pause(Clock::duration duration) {
        std::unique_lock lock(controlMutex_);
        return !wake_.wait_for(lock, duration, [this] { return stopping_; });
    }

    bool Stopping() {
        std::lock_guard lock(controlMutex_);
        return stopping_;
    }

    void Notify(SessionEvent event, int session) {
        if (options_.onEvent) options_.onEvent(event, session);
    }

    void UpdateStatus(const std::function<void(Status&)>& change) {
        std::lock_guard lock(statusMutex_);
        change(status_);
    }

    void Run() {
        while (!Stopping()) {
            auto ring = Ring();
            if (ring && !ring->ServiceUp()) {
                // No agent behind our view. A restarted agent usually reuses
                // the region, but its name may have gone (removed, or the last
                // holder ended): look the name up afresh next time.
                std::lock_guard lock(ringMutex_);
                if (ring_ == ring) ring_.reset();
            }
            if (!ring || !ring->ServiceUp() || paused_ || !Connect(*ring)) {
                Pause(kRetryPause);
                continue;
            }
            Serve(*ring);
        }
    }

    // Connection request, find our row, map the rings, state 2.
    bool Connect(BaseRing& ring) {
        if (!ring.AppendConnectionRequest(identity_)) return false;
        const auto deadline = Clock::now() + kConnectWait;
        int slot = -1;
        while ((slot = SnmpSession::GetCurrentSnmpSessionId(identity_.pen, identity_.appId, identity_.appInst)) < 0) {
            if (Clock::now() >= deadline || !Pause(10ms)) return false;
        }
        char name[qv::shm::kRegionNameBufferSize];
        ::wsprintfA(name, qv::shm::kInRegionNameFormat, slot);
        in_ = std::make_unique<qv::shm::NamedView>(name, FILE_MAP_WRITE);
        ::wsprintfA(name, qv::shm::kOutRegionNameFormat, slot);
        out_ = std::make_unique<qv::shm::NamedView>(name, FILE_MAP_WRITE);
        if (in_->Get() == nullptr || out_->Get() == nullptr) {
            DropSession();
            return false;
        }
        slot_ = slot;
        SnmpSharedMemory::SetSharedMemoryInputPointer(static_cast<unsigned>(slot), in_->Get());
        SnmpSharedMemory::SetSharedMemoryOutputPointer(static_cast<unsigned>(slot), out_->Get());
        // The agent forwards queries and supervises keep-alive only from here on.
        auto* header = const_cast<QVSNMP_COMBufferHeaderLine*>(Header(ring));
        qv::shm::StoreShared(header->sessionState[slot], qv::shm::kSessionUp);
        UpdateStatus([slot](Status& status) {
            status.connected = true;
            status.session = slot;
            ++status.connects;
        });
        Notify(SessionEvent::kConnected, slot);
        return true;
    }

    // True while the row still holds us and the agent runs.
    bool StillOurs(const BaseRing& ring) const {
        const QVSNMP_COMBufferHeaderLine* header = Header(ring);
        using qv::shm::LoadShared;
        return LoadShared(header->sessionState[slot_]) != qv::shm::kSessionFree &&
               LoadShared(header->pen[slot_]) == identity_.pen && LoadShared(header->appId[slot_]) == identity_.appId &&
               LoadShared(header->appInst[slot_]) == identity_.appInst && LoadShared(header->serviceUp) != 0;
    }

    // Answers requests until the session ends or Stop().
    void Serve(BaseRing& ring) {
        auto nextKeepAlive = Clock::now() + options_.keepAlivePeriod;
        for (;;) {
            if (DrainRequests()) return EndSession(SessionEvent::kTimedOut);
            if (!StillOurs(ring)) {
                // The agent writes a time-out notice before it clears the row:
                // look once more so that a time-out is told from a loss.
                return EndSession(DrainRequests() ? SessionEvent::kTimedOut : SessionEvent::kLost);
            }
            if (!qv::shm::LoadRingIndices(in_->Get()).Valid() || !qv::shm::LoadRingIndices(out_->Get()).Valid()) {
                // Another process broke our rings (zeroed or truncated them):
                // no request would ever get through. Start a session afresh,
                // whose rings the agent empties.
                SnmpSession::FreeSessionId(static_cast<std::int8_t>(slot_));
                return EndSession(SessionEvent::kLost);
            }
            if (Stopping()) {
                // A keep-alive still waiting in the base ring would open a new
                // row for us after we freed ours, one that nobody ever times
                // out. Let the agent take out what is pending first (it does
                // so every pass; a few passes at most).
                const auto drainDeadline = Clock::now() + std::chrono::milliseconds(500);
                if (const QVSNMP_COMBufferHeaderLine* base = SnmpSharedMemory::GetSharedMemoryBasePointer()) {
                    while (qv::shm::LoadShared(base->readIndex) != qv::shm::LoadShared(base->writeIndex) &&
                           Clock::now() < drainDeadline) {
                        Pause(options_.pollInterval);
                    }
                }
                SnmpSession::FreeSessionId(static_cast<std::int8_t>(slot_));
                return EndSession(SessionEvent::kDisconnected);
            }
            if (Clock::now() >= nextKeepAlive && !paused_) {
                // A failed append (ring full, lock busy) is retried next round.
                if (ring.AppendConnectionRequest(identity_)) nextKeepAlive = Clock::now() + options_.keepAlivePeriod;
            }
            Pause(options_.pollInterval);
        }
    }

    // Takes every message out of the OUT ring and answers it. True when one
    // of them was the agent's time-out notice for us.
    bool DrainRequests() {
        std::uint8_t request[detail::kRecordSize];
        std::uint8_t reply[detail::kRecordSize];
        while (qv::shm::RingTake(out_->Get(), request)) {
            if (request[detail::message::kOperation] == detail::message::kTimeOutNotice) return true;
            if (!table_.Answer(request, reply)) continue;
            // A full IN ring drops the reply; the agent's wait then times out.
            qv::shm::RingAppend(in_->Get(), reply);
            UpdateStatus([](Status& status) { ++status.requests; });
        }
        return false;
    }

    void EndSession(SessionEvent event) {
        const int slot = slot_;
        DropSession();
        UpdateStatus([event](Status& status) {
            status.connected = false;
            status.session = -1;
            if (event == SessionEvent::kTimedOut) ++status.timeOuts;
            if (event == SessionEvent::kLost) ++status.losses;
        });
        Notify(event, slot);
    }

    void DropSession() {
        if (slot_ >= 0) {
            // Only our own registrations: another Application of this process
            // may have registered this slot since.
            const auto index = static_cast<unsigned>(slot_);
            if (in_ && SnmpSharedMemory::GetSharedMemoryInputPointer(index) == in_->Get()) {
                SnmpSharedMemory::SetSharedMemoryInputPointer(index, nullptr);
            }
            if (out_ && SnmpSharedMemory::GetSharedMemoryOutputPointer(index) == out_->Get()) {
                SnmpSharedMemory::SetSharedMemoryOutputPointer(index, nullptr);
            }
        }
        in_.reset();
        out_.reset();
        slot_ = -1;
    }

    std::mutex controlMutex_;  // guards stopping_ and thread_ start/stop
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;

    std::mutex ringMutex_;  // guards ring_
    std::shared_ptr<BaseRing> ring_;

    mutable std::mutex statusMutex_;  // guards status_
    Status status_;

    // Service thread only.
    int slot_ = -1;
    std::unique_ptr<qv::shm::NamedView> in_;  // session regions, unmapped on destruction
    std::unique_ptr<qv::shm::NamedView> out_;
};

Application::Application(Identity identity, Options options) {
    if (identity.appId < 1 || identity.appInst < 1) {
        throw std::invalid_argument("AppId and AppInst must be 1..127");
    }
    impl_ = std::make_unique<Impl>(identity, std::move(options));
}

Application::~Application() = default;

const Identity& Application::identity() const { return impl_->identity_; }

void Application::Publish(const Suffix& suffix, Getter get, Setter set) {
    impl_->table_.Publish(suffix, std::move(get), std::move(set));
}

void Application::PublishConstant(const Suffix& suffix, Value value) {
    impl_->table_.Publish(suffix, [value = std::move(value)] { return value; }, {});
}

void Application::Unpublish(const Suffix& suffix) { impl_->table_.Unpublish(suffix); }

void Application::Start() { impl_->Start(); }

void Application::Stop() { impl_->Stop(); }

AppendResult Application::RaiseTrap(const Suffix& suffix, const Value& value) { return impl_->RaiseTrap(suffix, value); }

Application::Status Application::GetStatus() const { return impl_->GetStatus(); }

void detail::TestAccess::SetKeepAlivePaused(Application& application, bool paused) {
    application.impl_->paused_ = paused;
}

}  // namespace qvsnmp
