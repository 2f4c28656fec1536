// The threads that call into the module, so that the SNMP side never blocks on
// it: one runs the queued requests' bindings one after the other (the module
// serves one query at a time and may wait about 2 s per binding), one waits on
// the trap event and collects the traps. Both report through a descriptor that
// becomes readable when something is ready; the SNMP side picks the results up
// on its own thread.
//
// Many managers share the one module thread, so its time is shared out:
// - each source (manager address and port) has its own queue, and the thread
//   takes one binding from each source in turn, so one busy manager, or one
//   request of thousands of bindings, delays another by one binding at most;
// - a source has at most kMaxQueuedPerSource requests queued, and all sources
//   together kMaxQueued; more are refused (Submit says so);
// - a request older than kMaxAge is dropped unfinished: its manager has given
//   up (net-snmp's tools wait 1 s and retry 5 times, 6 s in all) and its
//   answer would only delay the requests behind it;
// - an application that does not answer is answered genErr at once for a while
//   while others wait (SilentApplications), instead of holding the thread for
//   2 s a binding;
// - Stop() waits for the binding in progress, not the request's others.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/extension_module.h"
#include "host/request_logic.h"
#include "host/silent_applications.h"

namespace qv::host {

class ModuleWorker {
public:
    using JobId = std::uint64_t;
    using Clock = std::chrono::steady_clock;

    static constexpr std::size_t kMaxQueuedPerSource = 64;
    static constexpr std::size_t kMaxQueued = 1024;
    static constexpr auto kMaxAge = std::chrono::seconds(5);

    explicit ModuleWorker(ExtensionModule& module);
    ~ModuleWorker();  // stops and joins both threads
    ModuleWorker(const ModuleWorker&) = delete;
    ModuleWorker& operator=(const ModuleWorker&) = delete;

    // Readable while finished jobs or traps wait to be taken.
    int NotifyDescriptor() const { return notify_; }

    // Queues `tasks` for `source`; nullopt when its queue (or the host's) is full.
    std::optional<JobId> Submit(SnmpVersion version, std::vector<Task> tasks, const std::string& source);
    // Runs `tasks` on the calling thread when the module is free (no job
    // running or queued) and returns their outcomes; otherwise nothing and the
    // caller submits them. For work the module does without waiting on an
    // application: it saves two thread hand-overs per request.
    std::optional<std::vector<Outcome>> TryRunNow(SnmpVersion version, const std::vector<Task>& tasks);
    // The job's bindings not yet started are dropped.
    void Cancel(JobId job);

    struct Finished {
        JobId job = 0;
        std::vector<Outcome> outcomes;
        bool dropped = false;  // too old: no outcomes, nothing to answer
    };
    std::vector<Finished> TakeFinished();
    std::vector<Trap> TakeTraps();

    void Stop();

private:
    struct Job {
        JobId id = 0;
        SnmpVersion version = SnmpVersion::V2c;
        std::vector<Task> tasks;
        std::vector<Outcome> outcomes;  // of tasks[0 .. outcomes.size())
        Clock::time_point submitted;
    };
    void RunJobs();
    void PumpTraps();
    void Notify();
    void Drain();
    // The next source's oldest job; nullptr when nothing is queued. lock_ held.
    Job* NextJob(std::string* source);
    void RemoveJob(std::string source, JobId job);  // a copy: the key may go

    ExtensionModule& module_;
    // Used by one thread at a time (busy_). The running job stays queued
    // until its last binding is done, so more than one means others wait.
    SilentApplications guarded_{module_, [this] { return queued_.load() > 1; }};
    int notify_ = -1;
    std::mutex lock_;
    std::condition_variable wake_;
    // Guarded by lock_:
    std::map<std::string, std::deque<Job>> queues_;  // by source; no empty queue is kept
    std::deque<std::string> turns_;                  // sources with a queue, next first
    std::atomic<std::size_t> queued_{0};  // written under lock_
    std::vector<Finished> finished_;
    std::vector<Trap> traps_;
    JobId nextJob_ = 1;
    bool busy_ = false;  // a thread is inside SnmpExtensionQuery
    std::atomic<bool> stopping_{false};
    std::thread jobs_;
    std::thread trapPump_;
};

}  // namespace qv::host
