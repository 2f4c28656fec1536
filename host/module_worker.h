// The threads that call into the module, so that the SNMP side never blocks on
// it: one runs the queued requests one after the other (the module serves one
// query at a time and may wait about 2 s per binding), one waits on the trap
// event and collects the traps. Both report through a descriptor that becomes
// readable when something is ready; the SNMP side picks the results up on its
// own thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "host/extension_module.h"
#include "host/request_logic.h"

namespace qv::host {

class ModuleWorker {
public:
    using JobId = std::uint64_t;

    explicit ModuleWorker(ExtensionModule& module);
    ~ModuleWorker();  // stops and joins both threads
    ModuleWorker(const ModuleWorker&) = delete;
    ModuleWorker& operator=(const ModuleWorker&) = delete;

    // Readable while finished jobs or traps wait to be taken.
    int NotifyDescriptor() const { return notify_; }

    JobId Submit(SnmpVersion version, std::vector<Task> tasks);
    // Runs `tasks` on the calling thread when the module is free (no job
    // running or queued) and returns their outcomes; otherwise nothing and the
    // caller submits them. For work the module does without waiting on an
    // application: it saves two thread hand-overs per request.
    std::optional<std::vector<Outcome>> TryRunNow(SnmpVersion version, const std::vector<Task>& tasks);
    // A job that has not started yet is dropped; one that runs finishes.
    void Cancel(JobId job);

    struct Finished {
        JobId job = 0;
        std::vector<Outcome> outcomes;
    };
    std::vector<Finished> TakeFinished();
    std::vector<Trap> TakeTraps();

    void Stop();

private:
    struct Job {
        JobId id = 0;
        SnmpVersion version = SnmpVersion::V2c;
        std::vector<Task> tasks;
    };
    void RunJobs();
    void PumpTraps();
    void Notify();
    void Drain();

    ExtensionModule& module_;
    int notify_ = -1;
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<Job> queue_;
    std::vector<Finished> finished_;
    std::vector<Trap> traps_;
    JobId nextJob_ = 1;
    bool busy_ = false;  // a thread is inside SnmpExtensionQuery; guarded by lock_
    std::atomic<bool> stopping_{false};
    std::thread jobs_;
    std::thread trapPump_;
};

}  // namespace qv::host
