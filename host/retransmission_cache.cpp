#include "host/retransmission_cache.h"

namespace qv::host {

std::string RequestKey(const std::string& source, const std::string& community, long requestId, int pduType,
                       SnmpVersion version, const std::vector<Task>& tasks) {
    // Lengths before variable parts keep distinct inputs from meeting in one key.
    std::string key;
    auto add = [&key](const std::string& part) {
        key += std::to_string(part.size());
        key += ':';
        key += part;
    };
    add(source);
    add(community);
    add(std::to_string(requestId));
    add(std::to_string(pduType));
    add(version == SnmpVersion::V1 ? "1" : "2c");
    for (const Task& task : tasks) {
        add(std::to_string(static_cast<int>(task.operation)));
        add(ToText(task.name));
        add(task.inclusive ? "i" : "x");
        add(std::to_string(task.value.type));
        add(std::to_string(task.value.number));
        add(task.value.bytes);
    }
    return key;
}

RetransmissionCache::RetransmissionCache(Clock::duration keep, std::size_t capacity)
    : keep_(keep), capacity_(capacity) {}

const RetransmissionCache::Entry* RetransmissionCache::Find(const std::string& key, Clock::time_point now) {
    Expire(now);
    const auto found = entries_.find(key);
    return found == entries_.end() ? nullptr : &found->second.entry;
}

void RetransmissionCache::Start(const std::string& key, JobId job) {
    Stored& stored = entries_[key];
    stored.entry = Entry{job, false, {}};
}

void RetransmissionCache::Complete(JobId job, const std::vector<Outcome>& outcomes, Clock::time_point now) {
    for (auto& [key, stored] : entries_) {
        if (stored.entry.job != job || stored.entry.done) continue;
        stored.entry.done = true;
        stored.entry.outcomes = outcomes;
        stored.completedAt = now;
        completionOrder_.emplace(now, key);
    }
    Expire(now);
}

void RetransmissionCache::Forget(JobId job) {
    std::erase_if(entries_, [job](const auto& entry) { return entry.second.entry.job == job && !entry.second.entry.done; });
}

void RetransmissionCache::Expire(Clock::time_point now) {
    // Work in progress is never dropped: its key must keep catching copies.
    while (!completionOrder_.empty()) {
        const auto oldest = completionOrder_.begin();
        const bool tooOld = now - oldest->first > keep_;
        const bool tooMany = completionOrder_.size() > capacity_;
        if (!tooOld && !tooMany) break;
        const auto found = entries_.find(oldest->second);
        if (found != entries_.end() && found->second.entry.done && found->second.completedAt == oldest->first) {
            entries_.erase(found);
        }
        completionOrder_.erase(oldest);
    }
}

}  // namespace qv::host
