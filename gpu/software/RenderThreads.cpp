#include "gpu/software/RenderThreads.h"

#include <cstdlib>
#include <cstring>

namespace quarn {

uint32_t RenderThreadCount() {
    constexpr uint32_t Most = 256;
    if (const char* text = std::getenv("QUARN_RENDER_THREADS")) {
        char* end = nullptr;
        const unsigned long count = std::strtoul(text, &end, 10);
        if (end != text && *end == '\0' && count >= 1 && count <= Most) {
            return static_cast<uint32_t>(count);
        }
    }
    const uint32_t hardware = std::thread::hardware_concurrency();
    return hardware == 0 ? 1 : std::min(hardware, Most);
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
    {
        std::lock_guard lock(mutex_);
        work_ = &work;
        jobs_ = jobs;
        next_.store(0, std::memory_order_relaxed);
        running_ = static_cast<uint32_t>(workers_.size());
        ++round_;
    }
    wake_.notify_all();
    TakeJobs();
    std::unique_lock lock(mutex_);
    finished_.wait(lock, [this] { return running_ == 0; });
    work_ = nullptr;
}

void RenderThreads::TakeJobs() {
    for (uint32_t job = next_.fetch_add(1); job < jobs_; job = next_.fetch_add(1)) {
        (*work_)(job);
    }
}

void RenderThreads::Work() {
    uint64_t seen = 0;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stop_ || round_ != seen; });
            if (stop_) {
                return;
            }
            seen = round_;
        }
        TakeJobs();
        std::lock_guard lock(mutex_);
        if (--running_ == 0) {
            finished_.notify_one();
        }
    }
}

} // namespace quarn
