#include "app/online/HttpRequestAsync.h"

#include "app/online/HttpClient.h"
#include "core/debug/Log.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace quarn {

namespace {

// One exchange in flight. Its worker writes the reply and the cap, then sets `done` last.
struct HttpJob {
    std::string url; // also the key: two hosts serving the same path must not share a reply
    std::string reply;
    bool capped = false;
    std::atomic<bool> done{false};
};

// Never destroyed: the process may end while workers still hold jobs, and static destructors
// must not free what they use.
std::vector<std::shared_ptr<HttpJob>>& Queue() {
    static auto* queue = new std::vector<std::shared_ptr<HttpJob>>;
    return *queue;
}

void RunJob(const std::shared_ptr<HttpJob>& job) {
    HttpClient client(job->url);
    client.SendHttpRequest("GET", false);
    const std::u32string& content = client.GetResponseContent();
    try {
        job->reply.reserve(content.size());
        for (char32_t code : content) {
            job->reply.push_back(code <= 0xFF ? static_cast<char>(code) : '?');
        }
    } catch (const std::bad_alloc&) {
        job->reply.clear(); // fails as an exchange does
    }
    job->capped = client.BodyCapped();
    job->done.store(true, std::memory_order_release);
}

} // namespace

bool HttpRequestAsync(HttpRequest& request) {
    std::string url = request.address + request.pathAndQuery;
    auto& queue = Queue();
    auto found = std::find_if(queue.begin(), queue.end(),
                              [&](const std::shared_ptr<HttpJob>& job) { return job->url == url; });
    if (found != queue.end()) {
        HttpJob& job = **found;
        if (!job.done.load(std::memory_order_acquire)) {
            return false;
        }
        request.reply = std::move(job.reply);
        if (job.capped) {
            LogMessage("HTTP reply from %s passed %zu bytes and was cut there", url.c_str(),
                       MaxHttpBodySize);
        }
        queue.erase(found);
        return true;
    }
    InitHttp();
    auto job = std::make_shared<HttpJob>();
    job->url = std::move(url);
    queue.push_back(job);
    try {
        std::thread(RunJob, job).detach();
    } catch (const std::system_error&) {
        job->done.store(true, std::memory_order_release); // no thread: completes, empty
    }
    return false;
}

} // namespace quarn
