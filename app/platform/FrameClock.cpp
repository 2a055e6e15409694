#include "app/platform/FrameClock.h"

#include <chrono>

namespace quarn {

namespace {

class SteadyClock : public MonotonicClock {
public:
    int64_t Counter() override {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    int64_t Frequency() override { return 1000000000; }
};

} // namespace

std::unique_ptr<MonotonicClock> CreateSteadyClock() {
    return std::make_unique<SteadyClock>();
}

void FrameClock::EndFrame(int64_t counter, int64_t frequency) {
    int64_t delta = counter - lastCounter_;
    raw_ = frequency > 0 ? static_cast<float>(static_cast<double>(delta) / frequency) : 0.0f;
    clamped_ = raw_;
    if (clamped_ > LongestFrame) {
        clamped_ = LongestFrame;
    } else if (clamped_ < 0.0f) {
        clamped_ = BackwardsFrame;
    }
    ++frameCount_;
    lastCounter_ = counter;
    float sum = history_[0] + history_[1] + history_[2] + history_[3] + clamped_;
    smoothed_ = static_cast<float>(sum / 5.0);
    history_[0] = history_[1];
    history_[1] = history_[2];
    history_[2] = history_[3];
    history_[3] = clamped_;
}

} // namespace quarn
