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
        queue_.clear();
    }
    wake_.notify_all();
    module_.WakeTrapWaiter();
    if (jobs_.joinable()) jobs_.join();
    if (trapPump_.joinable()) trapPump_.join();
}

ModuleWorker::JobId ModuleWorker::Submit(SnmpVersion version, std::vector<Task> tasks) {
    std::lock_guard<std::mutex> guard(lock_);
    const JobId id = nextJob_++;
    queue_.push_back(Job{id, version, std::move(tasks)});
    wake_.notify_one();
    return id;
}

std::optional<std::vector<Outcome>> ModuleWorker::TryRunNow(SnmpVersion version, const std::vector<Task>& tasks) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (stopping_ || busy_ || !queue_.empty()) return std::nullopt;
        busy_ = true;
    }
    std::vector<Outcome> outcomes;
    for (const Task& task : tasks) outcomes.push_back(RunTask(module_, version, task));
    {
        std::lock_guard<std::mutex> guard(lock_);
        busy_ = false;
    }
    wake_.notify_all();  // a job submitted meanwhile waits for us
    return outcomes;
}

void ModuleWorker::Cancel(JobId job) {
    std::lock_guard<std::mutex> guard(lock_);
    std::erase_if(queue_, [job](const Job& queued) { return queued.id == job; });
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
        Job job;
        {
            std::unique_lock<std::mutex> guard(lock_);
            wake_.wait(guard, [this] { return stopping_ || (!queue_.empty() && !busy_); });
            if (stopping_) return;
            job = std::move(queue_.front());
            queue_.pop_front();
            busy_ = true;
        }
        Finished done{job.id, {}};
        for (const Task& task : job.tasks) done.outcomes.push_back(RunTask(module_, job.version, task));
        {
            std::lock_guard<std::mutex> guard(lock_);
            busy_ = false;
            finished_.push_back(std::move(done));
        }
        Notify();
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
