#pragma once

// Timing and the side-by-side table shared by the benchmarks: each case is timed in rounds and
// the median round is kept, so one slow round on a busy machine does not decide the result; the
// fastest and slowest rounds are printed beside it so that a reader sees the noise.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace quarn::bench {

constexpr int Rounds = 5;

// Milliseconds per call of `work` over one round at least `roundSeconds` long.
template <typename Work>
double RoundOf(Work& work, double roundSeconds) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    int calls = 0;
    double elapsed = 0.0;
    do {
        work();
        ++calls;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < roundSeconds);
    return elapsed * 1000.0 / calls;
}

// Milliseconds per call of `work` in each of Rounds rounds, each at least `roundSeconds` long,
// after one warm-up call; fastest first.
template <typename Work>
std::vector<double> RoundMilliseconds(Work&& work, double roundSeconds = 0.25) {
    work();
    std::vector<double> rounds;
    for (int r = 0; r < Rounds; ++r) {
        rounds.push_back(RoundOf(work, roundSeconds));
    }
    std::sort(rounds.begin(), rounds.end());
    return rounds;
}

// One series of rounds in milliseconds: its median, fastest and slowest round.
struct Timing {
    double median = 0.0;
    double min = 0.0;
    double max = 0.0;
};

// `rounds` sorted fastest first, as RoundMilliseconds answers them.
inline Timing Summarise(const std::vector<double>& rounds) {
    return {rounds[rounds.size() / 2], rounds.front(), rounds.back()};
}

template <typename Work>
Timing TimeRounds(Work&& work, double roundSeconds = 0.25) {
    return Summarise(RoundMilliseconds(work, roundSeconds));
}

struct SideBySide {
    Timing engine;
    Timing peer;
};

// The engine and its peer in alternating rounds, so that a busy spell of a shared machine falls
// on both sides alike rather than on one side's rounds.
template <typename Engine, typename Peer>
SideBySide TimeSideBySide(Engine&& engine, Peer&& peer, double roundSeconds = 0.25) {
    engine();
    peer();
    std::vector<double> engineRounds;
    std::vector<double> peerRounds;
    for (int r = 0; r < Rounds; ++r) {
        engineRounds.push_back(RoundOf(engine, roundSeconds));
        peerRounds.push_back(RoundOf(peer, roundSeconds));
    }
    std::sort(engineRounds.begin(), engineRounds.end());
    std::sort(peerRounds.begin(), peerRounds.end());
    return {Summarise(engineRounds), Summarise(peerRounds)};
}

// As TimeSideBySide for a peer whose rounds run elsewhere (PeerRounds): an engine round, then
// peerRound(), which runs one round and answers its milliseconds per call, Rounds times.
template <typename Engine, typename PeerRound>
SideBySide TimeTurns(Engine&& engine, PeerRound&& peerRound, double roundSeconds = 0.25) {
    engine();
    std::vector<double> engineRounds;
    std::vector<double> peerRounds;
    for (int r = 0; r < Rounds; ++r) {
        engineRounds.push_back(RoundOf(engine, roundSeconds));
        peerRounds.push_back(peerRound());
    }
    std::sort(engineRounds.begin(), engineRounds.end());
    std::sort(peerRounds.begin(), peerRounds.end());
    return {Summarise(engineRounds), Summarise(peerRounds)};
}

// A table of engine and peer times, one row per case with both medians, their spreads and the
// ratio engine / peer (below 1: the engine is faster), closed by the geometric mean of the
// ratios and the worst row, by which a goal is judged: no total lets one large case hide the
// others.
class RatioTable {
public:
    RatioTable(const char* title, const char* peer) {
        std::printf("\n%-36s %9s %15s %9s %15s %7s\n", title, "engine ms", "rounds", peer, "rounds",
                    "ratio");
    }

    void Row(const std::string& name, const Timing& engine, const Timing& peer) {
        const double ratio = peer.median > 0.0 ? engine.median / peer.median : 0.0;
        std::printf("%-36s %9.2f %15s %9.2f %15s %7.2f\n", name.c_str(), engine.median,
                    Spread(engine).c_str(), peer.median, Spread(peer).c_str(), ratio);
        if (ratio > 0.0) {
            logSum_ += std::log(ratio);
            ++count_;
            if (ratio > worst_) {
                worst_ = ratio;
                worstName_ = name;
            }
        }
    }

    // Only for tables of more than one row.
    void PrintSummary() const {
        if (count_ == 0) {
            return;
        }
        std::printf("%-36s %59.2f\n", "geometric mean", std::exp(logSum_ / count_));
        std::printf("%-36s %59.2f  (%s)\n", "worst row", worst_, worstName_.c_str());
    }

private:
    static std::string Spread(const Timing& t) {
        char text[48];
        std::snprintf(text, sizeof text, "%.2f-%.2f", t.min, t.max);
        return text;
    }

    double logSum_ = 0.0;
    int count_ = 0;
    double worst_ = 0.0;
    std::string worstName_;
};

} // namespace quarn::bench
