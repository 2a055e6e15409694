#pragma once

// Peers that read their thread count once per process (llvmpipe's LP_NUM_THREADS) run in a
// child process, forked before the benchmark starts threads of its own; what the child
// measured comes back through a pipe as bytes.

#include "bench/BenchTiming.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quarn::bench {

inline bool WriteAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n <= 0) {
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

inline bool ReadAll(int fd, void* data, size_t size) {
    auto* p = static_cast<uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = read(fd, p, size);
        if (n <= 0) {
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Appends a value's or an array's bytes to `out`, and takes them back in the same order.
class Bytes {
public:
    template <typename T>
    void Put(const T& value) {
        Put(&value, sizeof value);
    }
    void Put(const void* data, size_t size) {
        const auto* p = static_cast<const uint8_t*>(data);
        bytes_.insert(bytes_.end(), p, p + size);
    }
    template <typename T>
    void Take(T& value) {
        Take(&value, sizeof value);
    }
    void Take(void* data, size_t size) {
        if (at_ + size > bytes_.size()) {
            std::fprintf(stderr, "the peer's child process sent too little\n");
            std::exit(1);
        }
        std::memcpy(data, bytes_.data() + at_, size);
        at_ += size;
    }
    std::vector<uint8_t>& Data() { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    size_t at_ = 0;
};

// Runs `work` in a child process with LP_NUM_THREADS and GALLIUM_DRIVER set for llvmpipe, and
// answers what it put; a failed child ends the benchmark.
template <typename Work>
Bytes RunInChild(unsigned threads, Work&& work) {
    int fds[2];
    if (pipe(fds) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        setenv("LP_NUM_THREADS", std::to_string(threads).c_str(), 1);
        setenv("GALLIUM_DRIVER", "llvmpipe", 1);
        Bytes out;
        work(out);
        const uint64_t size = out.Data().size();
        const bool ok = WriteAll(fds[1], &size, sizeof size) &&
                        WriteAll(fds[1], out.Data().data(), out.Data().size());
        _exit(ok ? 0 : 1);
    }
    close(fds[1]);
    Bytes in;
    uint64_t size = 0;
    bool ok = ReadAll(fds[0], &size, sizeof size);
    if (ok) {
        in.Data().resize(size);
        ok = ReadAll(fds[0], in.Data().data(), size);
    }
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!ok || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "the peer's child process failed\n");
        std::exit(1);
    }
    return in;
}

// llvmpipe's count for the all-threads rows: LP_NUM_THREADS when it holds a positive count, else
// one per hardware thread.
inline uint32_t PeerThreadCount() {
    const char* text = std::getenv("LP_NUM_THREADS");
    const long count = text ? std::strtol(text, nullptr, 10) : 0;
    return count > 0 ? static_cast<uint32_t>(count)
                     : std::max(1u, std::thread::hardware_concurrency());
}

// The child's side of PeerRounds.
class PeerLink {
public:
    PeerLink(int in, int out) : in_(in), out_(out) {}

    // What the parent gets before the first round (the peer's frames).
    Bytes& Out() { return setup_; }

    // Sends Out(), then times the rounds the parent asks for until it stops asking:
    // round(job) answers milliseconds per call of one round of that job.
    template <typename Round>
    void Serve(Round&& round) {
        const uint64_t size = setup_.Data().size();
        if (!WriteAll(out_, &size, sizeof size) ||
            !WriteAll(out_, setup_.Data().data(), setup_.Data().size())) {
            _exit(1);
        }
        uint32_t job = 0;
        while (ReadAll(in_, &job, sizeof job) && job != Stop) {
            const double ms = round(job);
            if (!WriteAll(out_, &ms, sizeof ms)) {
                _exit(1);
            }
        }
    }

    static constexpr uint32_t Stop = UINT32_MAX;

private:
    int in_;
    int out_;
    Bytes setup_;
};

// A peer kept in a child process (llvmpipe reads its thread count once per process) that times
// one round whenever the parent asks, so that the engine and the peer take turns round by round
// and a busy spell of the machine falls on both alike. Made before the parent starts threads of
// its own.
class PeerRounds {
public:
    // Forks; the child sets LP_NUM_THREADS and GALLIUM_DRIVER for llvmpipe and runs
    // work(PeerLink&), which sets the peer up and serves rounds. A failed child ends the
    // benchmark.
    template <typename Work>
    PeerRounds(unsigned threads, Work&& work) {
        int down[2];
        int up[2];
        if (pipe(down) != 0 || pipe(up) != 0) {
            std::perror("pipe");
            std::exit(1);
        }
        child_ = fork();
        if (child_ == 0) {
            close(down[1]);
            close(up[0]);
            setenv("LP_NUM_THREADS", std::to_string(threads).c_str(), 1);
            setenv("GALLIUM_DRIVER", "llvmpipe", 1);
            PeerLink link(down[0], up[1]);
            work(link);
            _exit(0);
        }
        close(down[0]);
        close(up[1]);
        toChild_ = down[1];
        fromChild_ = up[0];
        uint64_t size = 0;
        bool ok = ReadAll(fromChild_, &size, sizeof size);
        if (ok) {
            setup_.Data().resize(size);
            ok = ReadAll(fromChild_, setup_.Data().data(), size);
        }
        if (!ok) {
            Fail();
        }
    }
    ~PeerRounds() {
        const uint32_t stop = PeerLink::Stop;
        WriteAll(toChild_, &stop, sizeof stop);
        close(toChild_);
        close(fromChild_);
        int status = 0;
        waitpid(child_, &status, 0);
    }
    PeerRounds(const PeerRounds&) = delete;
    PeerRounds& operator=(const PeerRounds&) = delete;

    // What the child sent before its first round.
    Bytes& Setup() { return setup_; }

    // One round of `job` in the child: milliseconds per call.
    double Round(uint32_t job) {
        double ms = 0.0;
        if (!WriteAll(toChild_, &job, sizeof job) || !ReadAll(fromChild_, &ms, sizeof ms)) {
            Fail();
        }
        return ms;
    }

private:
    [[noreturn]] static void Fail() {
        std::fprintf(stderr, "the peer's child process failed\n");
        std::exit(1);
    }

    pid_t child_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
    Bytes setup_;
};

// A peer's frame and the milliseconds of its timed rounds, fastest first.
struct PeerFrameTimes {
    std::vector<uint32_t> pixels;
    std::vector<double> rounds;
};

// Makes a Peer in a child process on one llvmpipe thread, keeps the `pixelCount` pixels that
// `frame(peer)` answers and times `peer.Run()` in rounds.
template <typename Peer, typename Frame>
PeerFrameTimes MeasurePeerFrame(size_t pixelCount, Frame&& frame) {
    Bytes bytes = RunInChild(1, [&](Bytes& out) {
        Peer peer;
        std::vector<uint32_t> pixels = frame(peer);
        pixels.resize(pixelCount);
        out.Put(pixels.data(), pixels.size() * 4);
        for (double ms : RoundMilliseconds([&] { peer.Run(); })) {
            out.Put(ms);
        }
    });
    PeerFrameTimes measured;
    measured.pixels.resize(pixelCount);
    bytes.Take(measured.pixels.data(), measured.pixels.size() * 4);
    measured.rounds.resize(Rounds);
    for (double& ms : measured.rounds) {
        bytes.Take(ms);
    }
    return measured;
}

} // namespace quarn::bench
