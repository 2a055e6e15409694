#include "app/online/HttpRequestAsync.h"

#include "app/online/HttpClient.h"
#include "core/debug/Log.h"
#include "core/string/NumberText.h"
#include "core/string/Utf8.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <system_error>
#include <thread>
#include <vector>

namespace quarn {

namespace {

// One exchange in flight. Its worker writes the results, then sets `done` last.
struct HttpJob {
    std::string url; // also the key: two hosts serving the same path must not share a reply
    std::string reply;
    int32_t status = 0;
    std::string failure;
    bool capped = false;
    std::atomic<bool> done{false};
};

// The exchanges waiting for a worker, and the workers running. A worker takes exchanges while
// any wait and then ends, so that no thread (nor libcurl's and OpenSSL's state in it) lingers
// between bursts.
struct Workers {
    std::mutex mutex;
    std::deque<std::shared_ptr<HttpJob>> waiting;
    size_t running = 0;
};

// Neither is ever destroyed: the process may end while workers still hold jobs, and static
// destructors must not free what they use.
std::vector<std::shared_ptr<HttpJob>>& Queue() {
    static auto* queue = new std::vector<std::shared_ptr<HttpJob>>;
    return *queue;
}

Workers& TheWorkers() {
    static auto* workers = new Workers;
    return *workers;
}

// A forked child has none of its parent's workers; the lock is held across the fork so that
// the child's copy is never left locked by a thread it does not have.
void ForkWorkers() {
    pthread_atfork([] { TheWorkers().mutex.lock(); }, [] { TheWorkers().mutex.unlock(); },
                   [] {
                       Workers& workers = TheWorkers();
                       workers.running = 0; // the waiting exchanges go to the child's own
                       workers.mutex.unlock();
                   });
}

void RunJob(HttpJob& job) {
    HttpClient client(job.url);
    client.SendHttpRequest("GET", false);
    job.status = ParseInt32(client.GetStatusCode().c_str());
    job.failure = client.GetFailure();
    job.capped = client.BodyCapped();
    job.reply = client.TakeResponseContent();
    Utf8ToLatin1InPlace(job.reply, '?');
    job.done.store(true, std::memory_order_release);
}

void Work(Workers& workers) {
    for (;;) {
        std::shared_ptr<HttpJob> job;
        {
            std::lock_guard lock(workers.mutex);
            if (workers.waiting.empty()) {
                --workers.running;
                return;
            }
            job = std::move(workers.waiting.front());
            workers.waiting.pop_front();
        }
        RunJob(*job);
    }
}

void Start(const std::shared_ptr<HttpJob>& job) {
    static std::once_flag once;
    std::call_once(once, ForkWorkers);
    Workers& workers = TheWorkers();
    std::lock_guard lock(workers.mutex);
    workers.waiting.push_back(job);
    if (workers.running < MaxHttpWorkers) {
        try {
            std::thread(Work, std::ref(workers)).detach();
            ++workers.running;
        } catch (const std::system_error&) {
            // the workers there are take the job
        }
    }
    if (workers.running == 0) {
        workers.waiting.pop_back();
        job->failure = "no thread could be started for the exchange";
        job->done.store(true, std::memory_order_release);
    }
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
        request.status = job.status;
        request.failure = std::move(job.failure);
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
    Start(job);
    return false;
}

} // namespace quarn
