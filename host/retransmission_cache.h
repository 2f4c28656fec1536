// Remembers the requests the host has taken on, so that a manager's
// retransmission of one (same source, community and request-id; or, under
// AgentX, the master's resend of the same packet) is answered from the first
// copy's work instead of reaching the module again. A SET sent three times is
// applied once.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/request_logic.h"

namespace qv::host {

// Everything that makes two handler calls the same piece of work.
std::string RequestKey(const std::string& source, const std::string& community, long requestId, int pduType,
                       SnmpVersion version, const std::vector<Task>& tasks);

class RetransmissionCache {
public:
    using Clock = std::chrono::steady_clock;
    using JobId = std::uint64_t;

    // Completed entries are kept this long, and at most `capacity` of them.
    RetransmissionCache(Clock::duration keep, std::size_t capacity);

    struct Entry {
        JobId job = 0;
        bool done = false;
        std::vector<Outcome> outcomes;  // once done
    };

    // The entry for a key, if the work is in progress or was done recently.
    const Entry* Find(const std::string& key, Clock::time_point now);
    void Start(const std::string& key, JobId job);
    // Records the outcomes of a job for every key that waits on it.
    void Complete(JobId job, const std::vector<Outcome>& outcomes, Clock::time_point now);
    // Forgets the keys that wait on a job that will not finish: their copies
    // are new work again.
    void Forget(JobId job);
    std::size_t Size() const { return entries_.size(); }

private:
    void Expire(Clock::time_point now);

    struct Stored {
        Entry entry;
        Clock::time_point completedAt{};
    };
    Clock::duration keep_;
    std::size_t capacity_;
    std::map<std::string, Stored> entries_;
    std::multimap<Clock::time_point, std::string> completionOrder_;
};

}  // namespace qv::host
