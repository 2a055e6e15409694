#pragma once

// The rasteriser's pool of threads. A draw is cut into jobs (bands of rows) that the pool's
// threads and the calling thread take in turn; the call returns when every job is done.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quarn {

// Threads to draw with: QUARN_RENDER_THREADS when it holds a count from 1 to 256, else one
// per hardware thread.
uint32_t RenderThreadCount();

class RenderThreads {
public:
    // `count` threads in all, the caller's included: count - 1 are started.
    explicit RenderThreads(uint32_t count);
    ~RenderThreads();
    RenderThreads(const RenderThreads&) = delete;
    RenderThreads& operator=(const RenderThreads&) = delete;

    uint32_t Count() const { return static_cast<uint32_t>(workers_.size()) + 1; }
    // Calls work(job) once for every job in [0, jobs) and returns when all have returned.
    void Run(uint32_t jobs, const std::function<void(uint32_t job)>& work);

private:
    void Work();
    // Takes jobs of round `round` until none is left; a thread that woke too late for its
    // round takes none of the next one's by mistake.
    void TakeJobs(uint64_t round, const std::function<void(uint32_t)>& work, uint32_t jobs);

    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    const std::function<void(uint32_t)>* work_ = nullptr;
    uint32_t jobs_ = 0;
    uint64_t round_ = 0;
    // The round in the high half, the next job in the low half.
    std::atomic<uint64_t> ticket_{0};
    std::atomic<uint32_t> done_{0};
    bool stop_ = false;
};

} // namespace quarn
