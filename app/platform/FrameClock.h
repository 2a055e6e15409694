#pragma once

#include <cstdint>
#include <memory>

namespace quarn {

// A monotonic counter; injectable so tests can feed any sequence of frame times.
class MonotonicClock {
public:
    virtual ~MonotonicClock() = default;
    virtual int64_t Counter() = 0;
    // Counter ticks per second.
    virtual int64_t Frequency() = 0;
};

// The steady clock in nanoseconds. Never clock(): that is processor time on Linux.
std::unique_ptr<MonotonicClock> CreateSteadyClock();

// Frame time of the main loop: the raw time between two frame ends, cut to 0.1 s (a hitch
// must not throw the game forward), 1e-6 s when the counter went backwards, and smoothed as
// the mean of the last five cut times. All times start at 0.01 s.
class FrameClock {
public:
    static constexpr float InitialTime = 0.01f;
    static constexpr float LongestFrame = 0.1f;
    static constexpr float BackwardsFrame = 0.000001f;

    // Takes the counter value the first frame is measured from.
    void Start(int64_t counter) { lastCounter_ = counter; }
    // Ends one frame at the given counter value.
    void EndFrame(int64_t counter, int64_t frequency);

    float RawTime() const { return raw_; }
    float ClampedTime() const { return clamped_; }
    float SmoothedTime() const { return smoothed_; }
    uint32_t FrameCount() const { return frameCount_; }

private:
    int64_t lastCounter_ = 0;
    uint32_t frameCount_ = 0;
    float raw_ = InitialTime;
    float clamped_ = InitialTime;
    float smoothed_ = InitialTime;
    float history_[4] = {InitialTime, InitialTime, InitialTime, InitialTime}; // oldest first
};

} // namespace quarn
