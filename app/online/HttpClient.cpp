#include "app/online/HttpClient.h"

#include "core/string/Text.h"

#include <algorithm>
#include <atomic>
#include <curl/curl.h>
#include <mutex>
#include <new>

namespace quarn {

namespace {

constexpr size_t InitialBodyCapacity = 10240;
constexpr int Attempts = 3;
constexpr long MaxRedirects = 10;
constexpr const char* UserAgent = "WinHttpClient";
constexpr long ConnectTimeoutMs = 60000;
constexpr long IdleTimeoutSeconds = 30; // the send and receive time-outs

std::atomic<int64_t> timeoutMs{DefaultHttpTimeout.count()};

bool HasControlByte(const std::string& text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// The header lines of a CR LF separated text, empty lines dropped, so no line can smuggle in
// a request of its own.
curl_slist* HeaderList(const std::string& headers) {
    curl_slist* list = nullptr;
    size_t start = 0;
    while (start < headers.size()) {
        size_t end = headers.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            end = headers.size();
        }
        if (end > start) {
            curl_slist* longer =
                curl_slist_append(list, headers.substr(start, end - start).c_str());
            if (!longer) {
                break;
            }
            list = longer;
        }
        start = end + 1;
    }
    return list;
}

} // namespace

void SetHttpTimeout(std::chrono::milliseconds timeout) {
    timeoutMs = timeout.count();
}

void InitHttp() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string HostOfUrl(const std::string& url) {
    InitHttp();
    std::string host;
    CURLU* parts = curl_url();
    if (!parts) {
        return host;
    }
    char* text = nullptr;
    if (curl_url_set(parts, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
        curl_url_get(parts, CURLUPART_HOST, &text, 0) == CURLUE_OK) {
        host = text;
        curl_free(text);
    }
    curl_url_cleanup(parts);
    return host;
}

HttpClient::HttpClient(std::string url) : url_(std::move(url)) {
    InitHttp();
}

HttpClient::~HttpClient() {
    if (session_) {
        curl_easy_cleanup(session_);
    }
}

bool HttpClient::Fail(uint32_t error, std::string reason) {
    lastError_ = error;
    failure_ = std::move(reason);
    return false;
}

bool HttpClient::SendHttpRequest(const char* verb, bool disableRedirects) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs.load());
    failure_.clear();
    if (url_.empty() || HasControlByte(url_)) {
        return Fail(CURLE_URL_MALFORMAT, "the URL is empty or holds a control byte");
    }
    const bool post = CompareNoCase(verb, "POST") == 0;
    if (!post && CompareNoCase(verb, "GET") != 0) {
        return Fail(CURLE_BAD_FUNCTION_ARGUMENT, "the verb is neither GET nor POST");
    }
    if (!session_ && !(session_ = curl_easy_init())) {
        return Fail(CURLE_FAILED_INIT, "libcurl could not start");
    }
    host_ = HostOfUrl(url_);
    if (host_.empty()) {
        return Fail(CURLE_URL_MALFORMAT, "the URL names no host");
    }
    int attempt = 0;
    while (!Perform(post, disableRedirects, deadline)) {
        // A request that reached the server may have done its work there: sending it again
        // could do it twice. Only one that never left is tried again.
        if (requestSent_ || ++attempt == Attempts || std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
    }
    if (outOfMemory_) {
        std::string().swap(responseContent_); // memory is short: give the part back
        return false;
    }
    return true;
}

bool HttpClient::Perform(bool post, bool disableRedirects,
                         std::chrono::steady_clock::time_point deadline) {
    static_assert(sizeof errorText_ >= CURL_ERROR_SIZE);
    responseHeader_.clear();
    statusCode_.clear();
    responseContent_.clear();
    responseContent_.shrink_to_fit();
    bodyCapacity_ = InitialBodyCapacity;
    responseContent_.reserve(bodyCapacity_);
    bodyCapped_ = false;
    outOfMemory_ = false;
    errorText_[0] = '\0';
    // At least a millisecond: 0 would mean no limit at all to libcurl.
    const long timeLeft = static_cast<long>(std::max<int64_t>(
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
            .count(),
        1));

    CURL* curl = session_;
    curl_easy_reset(curl); // keeps the open connections
    curl_easy_setopt(curl, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L); // signals would reach whichever thread runs
    curl_easy_setopt(curl, CURLOPT_USERAGENT, UserAgent);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, std::min(ConnectTimeoutMs, timeLeft));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeLeft);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText_);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, IdleTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, disableRedirects ? 0L : 1L);
    // libcurl sends a request again on its own when a connection it reused (a redirect's) dies
    // before an answer: each request gets a connection of its own instead.
    curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, MaxRedirects);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, requireValidCertificates_ ? 1L : 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, requireValidCertificates_ ? 2L : 0L);
    curl_slist* headers = HeaderList(additionalHeaders_);
    if (headers) {
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    }
    if (!cookies_.empty()) {
        curl_easy_setopt(curl, CURLOPT_COOKIE, cookies_.c_str());
    }
    if (!proxy_.empty()) {
        curl_easy_setopt(curl, CURLOPT_PROXY, proxy_.c_str());
        if (!proxyUserName_.empty()) {
            curl_easy_setopt(curl, CURLOPT_PROXYUSERNAME, proxyUserName_.c_str());
            if (!proxyPassword_.empty()) {
                curl_easy_setopt(curl, CURLOPT_PROXYPASSWORD, proxyPassword_.c_str());
            }
        }
    }
    if (post || !dataToSend_.empty()) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(dataToSend_.size()));
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, dataToSend_.data());
        if (!post) {
            curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "GET");
        }
    }
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);

    const CURLcode result = curl_easy_perform(curl);
    curl_slist_free_all(headers);
    if (result != CURLE_OK) {
        lastError_ = result;
        failure_ = *errorText_ ? errorText_ : curl_easy_strerror(result);
    } else {
        failure_.clear(); // an earlier attempt's
    }
    // The callbacks' own reasons, where libcurl only saw a write refused.
    if (outOfMemory_) {
        Fail(CURLE_OUT_OF_MEMORY, "out of memory");
    } else if (bodyCapped_) {
        failure_ = "the body passed " + std::to_string(MaxHttpBodySize) + " bytes";
    }
    // Certainly not sent: no byte of any request went out, and the failure came before a
    // connection stood.
    long requestBytes = 0;
    curl_easy_getinfo(curl, CURLINFO_REQUEST_SIZE, &requestBytes);
    requestSent_ = requestBytes != 0 ||
                   (result != CURLE_COULDNT_RESOLVE_PROXY && result != CURLE_COULDNT_RESOLVE_HOST &&
                    result != CURLE_COULDNT_CONNECT);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    // Once a response has begun, another attempt would only fetch it again.
    if (status == 0) {
        return false;
    }
    statusCode_ = std::to_string(status);
    responseCharset_ = "utf-8";
    return true;
}

size_t HttpClient::OnHeader(char* data, size_t size, size_t count, void* self) {
    auto& client = *static_cast<HttpClient*>(self);
    const size_t length = size * count;
    // A redirect or an interim response starts a new block; the last one is the answer's.
    if (length >= 5 && std::string_view(data, 5) == "HTTP/") {
        client.responseHeader_.clear();
    }
    if (client.responseHeader_.size() + length > MaxHttpBodySize) {
        return 0;
    }
    try {
        client.responseHeader_.append(data, length);
    } catch (const std::bad_alloc&) {
        client.outOfMemory_ = true;
        return 0; // an exception must not pass through libcurl
    }
    return length;
}

size_t HttpClient::OnBody(char* data, size_t size, size_t count, void* self) {
    auto& client = *static_cast<HttpClient*>(self);
    const size_t length = size * count;
    std::string& body = client.responseContent_;
    const size_t kept = std::min(length, MaxHttpBodySize - body.size());
    try {
        if (body.size() + kept > client.bodyCapacity_) {
            while (body.size() + kept > client.bodyCapacity_) {
                client.bodyCapacity_ *= 2;
            }
            // A fresh string takes exactly what it reserves; reserving in place may take twice
            // the old capacity instead, 20 MiB for a 16 MiB body.
            std::string grown;
            grown.reserve(std::min(client.bodyCapacity_, MaxHttpBodySize));
            grown.append(body);
            body.swap(grown);
        }
        body.append(data, kept);
    } catch (const std::bad_alloc&) {
        client.outOfMemory_ = true;
        return 0;
    }
    if (kept < length) {
        client.bodyCapped_ = true;
        return 0; // ends the transfer
    }
    return length;
}

} // namespace quarn
