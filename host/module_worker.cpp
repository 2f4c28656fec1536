#include "host/module_worker.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <utility>

namespace qv::host {
namespace {
// Without a trap event the trap thread looks at the stop flag this often.
constexpr unsigned kTrapPollMs = 200;
}  // namespace

ModuleWorker::ModuleWorker(ExtensionModule& module) : module_(module) {
    notify_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (notify_ < 0) throw std::runtime_error("eventfd failed");
    jobs_ = std::thread([this] { RunJobs(); });
    trapPump_ = std::thread([this] { PumpTraps(); });
}

ModuleWorker::~ModuleWorker() {
    Stop();
    if (notify_ >= 0) ::close(notify_);
}

void ModuleWorker::Stop() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
        queues_.clear();
        turns_.clear();
        queued_ = 0;
    }
    wake_.notify_all();
    module_.WakeTrapWaiter();
    if (jobs_.joinable()) jobs_.join();
    if (trapPump_.joinable()) trapPump_.join();
}

std::optional<ModuleWorker::JobId> ModuleWorker::Submit(SnmpVersion version, std::vector<Task> tasks,
                                                        const std::string& source) {
    std::lock_guard<std::mutex> guard(lock_);
    auto& queue = queues_[source];
    if (queue.size() >= kMaxQueuedPerSource || queued_ >= kMaxQueued) {
        if (queue.empty()) queues_.erase(source);
        return std::nullopt;
    }
    if (queue.empty()) turns_.push_back(source);
    const JobId id = nextJob_++;
    queue.push_back(Job{id, version, std::move(tasks), {}, Clock::now()});
    ++queued_;
    wake_.notify_one();
    return id;
}

std::optional<std::vector<Outcome>> ModuleWorker::TryRunNow(SnmpVersion version, const std::vector<Task>& tasks) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (stopping_ || busy_ || queued_ != 0) return std::nullopt;
        busy_ = true;
    }
    std::vector<Outcome> outcomes;
    for (const Task& task : tasks) outcomes.push_back(RunTask(guarded_, version, task));
    {
        std::lock_guard<std::mutex> guard(lock_);
        busy_ = false;
    }
    wake_.notify_all();  // a job submitted meanwhile waits for us
    return outcomes;
}

void ModuleWorker::Cancel(JobId job) {
    std::lock_guard<std::mutex> guard(lock_);
    for (const auto& [source, queue] : queues_) {
        for (const Job& queued : queue) {
            if (queued.id == job) {
                RemoveJob(source, job);
                return;
            }
        }
    }
}

void ModuleWorker::RemoveJob(std::string source, JobId job) {
    const auto found = queues_.find(source);
    if (found == queues_.end()) return;
    const auto erased = std::erase_if(found->second, [job](const Job& queued) { return queued.id == job; });
    queued_ -= erased;
    if (found->second.empty()) {
        queues_.erase(found);
        std::erase(turns_, source);
    }
}

ModuleWorker::Job* ModuleWorker::NextJob(std::string* source) {
    if (turns_.empty()) return nullptr;
    *source = turns_.front();
    // Its turn passes to the next source; it comes back last if it has more.
    turns_.pop_front();
    turns_.push_back(*source);
    return &queues_.at(*source).front();
}

std::vector<ModuleWorker::Finished> ModuleWorker::TakeFinished() {
    Drain();
    std::lock_guard<std::mutex> guard(lock_);
    return std::exchange(finished_, {});
}

std::vector<Trap> ModuleWorker::TakeTraps() {
    Drain();
    std::lock_guard<std::mutex> guard(lock_);
    return std::exchange(traps_, {});
}

void ModuleWorker::RunJobs() {
    for (;;) {
        std::string source;
        JobId id = 0;
        SnmpVersion version{};
        Task task;
        {
            std::unique_lock<std::mutex> guard(lock_);
            wake_.wait(guard, [this] { return stopping_ || (queued_ != 0 && !busy_); });
            if (stopping_) return;
            Job* job = NextJob(&source);
            if (Clock::now() - job->submitted > kMaxAge) {
                finished_.push_back(Finished{job->id, {}, true});
                RemoveJob(source, job->id);
                guard.unlock();
                Notify();
                continue;
            }
            id = job->id;
            version = job->version;
            task = job->tasks[job->outcomes.size()];
            busy_ = true;
        }
        Outcome outcome = RunTask(guarded_, version, task);
        bool done = false;
        {
            std::lock_guard<std::mutex> guard(lock_);
            busy_ = false;
            // The job may have been cancelled (or the host stopped) meanwhile.
            const auto queue = queues_.find(source);
            if (queue != queues_.end() && !queue->second.empty() && queue->second.front().id == id) {
                Job& job = queue->second.front();
                job.outcomes.push_back(std::move(outcome));
                if (job.outcomes.size() == job.tasks.size()) {
                    finished_.push_back(Finished{id, std::move(job.outcomes), false});
                    RemoveJob(source, id);
                    done = true;
                }
            }
        }
        if (done) Notify();
    }
}

void ModuleWorker::PumpTraps() {
    // Sleeps until the module sets its trap event, or Stop() sets it to end
    // the wait: no periodic wake-ups while nothing happens.
    const unsigned wait = module_.HasTrapEvent() ? kWaitForever : kTrapPollMs;
    while (!stopping_) {
        if (!module_.WaitForTrapEvent(wait) || stopping_) continue;
        std::vector<Trap> traps = module_.CollectTraps();
        if (traps.empty()) continue;
        {
            std::lock_guard<std::mutex> guard(lock_);
            for (auto& trap : traps) traps_.push_back(std::move(trap));
        }
        Notify();
    }
}

void ModuleWorker::Notify() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(notify_, &one, sizeof one);
}

void ModuleWorker::Drain() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(notify_, &count, sizeof count);
}

}  // namespace qv::host
