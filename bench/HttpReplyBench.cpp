// One exchange through the HTTP request queue per kind of reply, from a loopback server: the
// median time of three and the peak of memory the exchange holds while its body arrives and is
// turned into the reply, beside the body cap (MaxHttpBodySize). A bounded client holds about
// one body: the growing buffer at its last doubling, then the reply converted in place.
#include "app/online/HttpClient.h"
#include "app/online/HttpRequestAsync.h"
#include "core/os/HeldMemory.h"
#include "tests/support/OneShotHttpServer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Exchange {
    double milliseconds = 0;
    size_t peak = 0;
    size_t reply = 0;
};

Exchange Run(const std::string& answer) {
    quarn::test::OneShotServer server({answer});
    const size_t base = quarn::ResetHeldMemoryPeak();
    const Clock::time_point start = Clock::now();
    quarn::HttpRequest request{
        "http://127.0.0.1:" + std::to_string(server.Port()) + "/", "body", {}};
    while (!quarn::HttpRequestAsync(request)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return {std::chrono::duration<double, std::milli>(Clock::now() - start).count(),
            quarn::GetHeldMemoryPeak() - base, request.reply.size()};
}

} // namespace

int main() {
    using quarn::MaxHttpBodySize;
    quarn::InitHttp();
    std::string latin1;
    while (latin1.size() < MaxHttpBodySize) {
        latin1 += "caf\xC3\xA9 ";
    }
    latin1.resize(MaxHttpBodySize - MaxHttpBodySize % 6);
    const struct {
        const char* name;
        std::string body;
    } kinds[] = {
        {"1 MiB ASCII", std::string(1u << 20, 'a')},
        {"16 MiB ASCII", std::string(MaxHttpBodySize, 'a')},
        {"16 MiB UTF-8 Latin-1", latin1},
        {"past the cap", std::string(MaxHttpBodySize + 4096, 'a')},
    };
    std::printf("%-22s %12s %10s %12s %12s\n", "reply", "reply bytes", "ms", "peak MiB",
                "peak / cap");
    for (const auto& kind : kinds) {
        const std::string answer =
            "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kind.body.size()) +
            "\r\nConnection: close\r\n\r\n" + kind.body;
        std::vector<Exchange> runs;
        for (int round = 0; round < 3; ++round) {
            runs.push_back(Run(answer));
        }
        std::sort(runs.begin(), runs.end(), [](const Exchange& a, const Exchange& b) {
            return a.milliseconds < b.milliseconds;
        });
        size_t peak = 0;
        for (const Exchange& run : runs) {
            peak = std::max(peak, run.peak);
        }
        std::printf("%-22s %12zu %10.1f %12.1f %12.2f\n", kind.name, runs[1].reply,
                    runs[1].milliseconds, double(peak) / (1u << 20),
                    double(peak) / double(MaxHttpBodySize));
    }
    return 0;
}
