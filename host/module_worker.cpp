#include "host/module_worker.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <utility>

namespace qv::host {
namespace {
// How often the trap thread looks at the stop flag while it waits.
constexpr unsigned kTrapWaitSliceMs = 200;
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
            wake_.wait(guard, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            job = std::move(queue_.front());
            queue_.pop_front();
        }
        Finished done{job.id, {}};
        for (const Task& task : job.tasks) done.outcomes.push_back(RunTask(module_, job.version, task));
        {
            std::lock_guard<std::mutex> guard(lock_);
            finished_.push_back(std::move(done));
        }
        Notify();
    }
}

void ModuleWorker::PumpTraps() {
    while (!stopping_) {
        if (!module_.WaitForTrapEvent(kTrapWaitSliceMs)) continue;
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
