#include "gpu/software/RenderThreads.h"

#include "core/debug/Log.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

namespace quarn {

uint32_t RenderThreadCount() {
    constexpr uint32_t Most = 256;
    const uint32_t hardware = std::thread::hardware_concurrency();
    const uint32_t fallback = hardware == 0 ? 1 : std::min(hardware, Most);
    const char* text = std::getenv("QUARN_RENDER_THREADS");
    if (!text) {
        return fallback;
    }
    uint32_t count = 0;
    const char* end = text + std::strlen(text);
    const auto parsed = std::from_chars(text, end, count);
    if (parsed.ec == std::errc() && parsed.ptr == end && count >= 1 && count <= Most) {
        return count;
    }
    // Every device asks again; the user hears of the mistake once.
    static std::once_flag warned;
    std::call_once(warned, [&] {
        LogMessage("QUARN_RENDER_THREADS is \"%s\", not a count from 1 to %u: drawing with %u "
                   "threads",
                   text, Most, fallback);
    });
    return fallback;
}

RenderThreads::RenderThreads(uint32_t count) {
    for (uint32_t i = 1; i < count; ++i) {
        workers_.emplace_back([this] { Work(); });
    }
}

RenderThreads::~RenderThreads() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& worker : workers_) {
        worker.join();
    }
}

void RenderThreads::Run(uint32_t jobs, const std::function<void(uint32_t job)>& work) {
    if (workers_.empty() || jobs <= 1) {
        for (uint32_t job = 0; job < jobs; ++job) {
            work(job);
        }
        return;
    }
    uint64_t round = 0;
    {
        std::lock_guard lock(mutex_);
        round = ++round_;
        work_ = &work;
        jobs_ = jobs;
        done_.store(0);
        ticket_.store(round << 32);
    }
    wake_.notify_all();
    TakeJobs(round, work, jobs);
    // Waits for the jobs, not for the threads: one the system has not run yet misses the round.
    std::unique_lock lock(mutex_);
    finished_.wait(lock, [&] { return done_.load() == jobs; });
}

void RenderThreads::TakeJobs(uint64_t round, const std::function<void(uint32_t)>& work,
                             uint32_t jobs) {
    for (;;) {
        uint64_t ticket = ticket_.load();
        do {
            if (ticket >> 32 != (round & 0xFFFFFFFFu) || uint32_t(ticket) >= jobs) {
                return;
            }
        } while (!ticket_.compare_exchange_weak(ticket, ticket + 1));
        work(uint32_t(ticket));
        if (done_.fetch_add(1) + 1 == jobs) {
            std::lock_guard lock(mutex_);
            finished_.notify_one();
        }
    }
}

void RenderThreads::Work() {
    uint64_t seen = 0;
    for (;;) {
        const std::function<void(uint32_t)>* work = nullptr;
        uint32_t jobs = 0;
        uint64_t round = 0;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stop_ || round_ != seen; });
            if (stop_) {
                return;
            }
            seen = round = round_;
            work = work_;
            jobs = jobs_;
        }
        TakeJobs(round, *work, jobs);
    }
}

} // namespace quarn
