#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quarn {

// One GET of `address` + `pathAndQuery`; the rest is filled in when it completes.
struct HttpRequest {
    std::string address;
    std::string pathAndQuery;
    std::string reply;
    int32_t status = 0; // the HTTP status, 0 when no response came
    // Why the exchange brought no whole response (no connection, a refused certificate, a body
    // cut short or past MaxHttpBodySize, the time-out); "" when it did.
    std::string failure = "";
};

// The most exchanges that run at once; more wait for a worker in the order they were asked.
constexpr size_t MaxHttpWorkers = 4;

// Polls an exchange without blocking: the first call with a URL queues it for one of the
// workers and answers false, as do later calls while it waits or runs; the call that finds it
// done moves its reply into the request, forgets the exchange and answers true. Calls with the
// same URL share one exchange. A failed exchange completes with its failure and whatever body
// arrived (none when no response came). The reply holds the body's characters as Latin-1
// bytes, '?' for each character past U+00FF; a body past MaxHttpBodySize is cut there and
// logged. Main thread only.
bool HttpRequestAsync(HttpRequest& request);

} // namespace quarn
