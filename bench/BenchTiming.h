#pragma once

// Timing and the side-by-side table shared by the benchmarks: each case is timed in rounds and
// the median round is kept, so one slow round on a busy machine does not decide the result.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace quarn::bench {

constexpr int Rounds = 5;

// Milliseconds per call of `work` in each of Rounds rounds, each at least `roundSeconds` long,
// after one warm-up call; fastest first.
template <typename Work>
std::vector<double> RoundMilliseconds(Work&& work, double roundSeconds = 0.25) {
    using Clock = std::chrono::steady_clock;
    work();
    std::vector<double> rounds;
    for (int r = 0; r < Rounds; ++r) {
        const Clock::time_point start = Clock::now();
        int calls = 0;
        double elapsed = 0.0;
        do {
            work();
            ++calls;
            elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        } while (elapsed < roundSeconds);
        rounds.push_back(elapsed * 1000.0 / calls);
    }
    std::sort(rounds.begin(), rounds.end());
    return rounds;
}

// The median of RoundMilliseconds.
template <typename Work>
double MedianMilliseconds(Work&& work, double roundSeconds = 0.25) {
    return RoundMilliseconds(work, roundSeconds)[Rounds / 2];
}

inline void PrintTableHeader(const char* title, const char* peer) {
    std::printf("\n%-34s %12s %12s %8s\n", title, "engine ms", peer, "ratio");
}

// A ratio below 1 means the engine is faster.
inline void PrintTableRow(const char* name, double engineMs, double peerMs) {
    std::printf("%-34s %12.2f %12.2f %8.2f\n", name, engineMs, peerMs,
                peerMs > 0.0 ? engineMs / peerMs : 0.0);
}

} // namespace quarn::bench
