#pragma once

#include <string>

namespace quarn {

// One GET of `address` + `pathAndQuery`; `reply` is filled in when it completes.
struct HttpRequest {
    std::string address;
    std::string pathAndQuery;
    std::string reply;
};

// Polls an exchange without blocking: the first call with a URL starts it on a worker thread of
// its own and answers false, as do later calls while it runs; the call that finds it done
// copies its reply into the request, forgets the exchange and answers true. Calls with the same
// URL share one exchange. A failed exchange completes with an empty reply. The reply holds the
// body's characters as Latin-1 bytes, '?' for each character past U+00FF; a body past
// MaxHttpBodySize is cut there and logged. Main thread only.
bool HttpRequestAsync(HttpRequest& request);

} // namespace quarn
