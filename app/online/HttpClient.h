#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

typedef void CURL;

namespace quarn {

// The most body bytes one exchange keeps; a larger reply ends the exchange there, so a hostile
// or broken server cannot exhaust memory.
constexpr size_t MaxHttpBodySize = 16u << 20;

// The time one exchange may take in all, attempts and redirects included.
constexpr std::chrono::milliseconds DefaultHttpTimeout{120000};
// Changes the time every exchange started from now on may take (tests shorten it).
void SetHttpTimeout(std::chrono::milliseconds timeout);

// One synchronous HTTP or HTTPS exchange at a time, on libcurl, as the user agent
// "WinHttpClient". Only http and https addresses are fetched, also when following redirects.
// libcurl's proxy variables (http_proxy, https_proxy, no_proxy) apply unless a proxy is set
// here. Connecting (name resolution included) may take 60 s; an exchange that moves no byte for
// 30 s ends, and so does one that passes its overall time-out (SetHttpTimeout).
class HttpClient {
public:
    explicit HttpClient(std::string url);
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // verb is "GET" or "POST" in any case. Up to three attempts are made while the request
    // could not be sent (no name, no connection); once it went out, a reply that does not come
    // is a failure, never a second request. True once a response was read, also when its body
    // was cut short (see GetFailure); false when none came, memory ran out or the URL or verb
    // is refused.
    bool SendHttpRequest(const char* verb = "GET", bool disableRedirects = false);

    // The raw headers of the last response, CR LF after each line, the status line first.
    const std::string& GetResponseHeader() const { return responseHeader_; }
    // The body's bytes as they came; the charset says how to read them.
    const std::string& GetResponseContent() const { return responseContent_; }
    // Hands the body over without a copy (a body may hold 16 MiB), leaving the content empty.
    std::string TakeResponseContent() { return std::move(responseContent_); }
    const std::string& GetResponseCharset() const { return responseCharset_; }
    // The status as decimal text, "" before a response.
    const std::string& GetStatusCode() const { return statusCode_; }
    // True when the body passed MaxHttpBodySize and was cut there.
    bool BodyCapped() const { return bodyCapped_; }
    // Why the last exchange brought no whole response, one line; "" when it did.
    const std::string& GetFailure() const { return failure_; }
    // The libcurl code of the last failing step, 0 when none failed.
    uint32_t GetLastError() const { return lastError_; }
    const std::string& GetHost() const { return host_; }

    // Verified unless turned off: without it any server could pose as the one asked for.
    void SetRequireValidCertificates(bool require) { requireValidCertificates_ = require; }
    // Sent as one "Cookie:" header when not empty.
    void SetCookies(std::string cookies) { cookies_ = std::move(cookies); }
    // Header lines separated by CR LF.
    void SetAdditionalRequestHeaders(std::string headers) {
        additionalHeaders_ = std::move(headers);
    }
    void SetDataToSend(std::string data) { dataToSend_ = std::move(data); }
    void SetProxy(std::string proxy) { proxy_ = std::move(proxy); }
    void SetProxyUserName(std::string name) { proxyUserName_ = std::move(name); }
    void SetProxyPassword(std::string password) { proxyPassword_ = std::move(password); }

private:
    bool Perform(bool post, bool disableRedirects, std::chrono::steady_clock::time_point deadline);
    bool Fail(uint32_t error, std::string reason);
    static size_t OnHeader(char* data, size_t size, size_t count, void* client);
    static size_t OnBody(char* data, size_t size, size_t count, void* client);

    CURL* session_ = nullptr;
    bool requireValidCertificates_ = true;
    std::string url_;
    std::string host_;
    std::string responseHeader_;
    std::string responseContent_;
    std::string responseCharset_;
    size_t bodyCapacity_ = 0;
    bool bodyCapped_ = false;
    bool outOfMemory_ = false; // a failed allocation makes the exchange fail
    bool requestSent_ = false; // by the last attempt, as far as can be told
    std::string cookies_;
    std::string dataToSend_;
    std::string additionalHeaders_;
    std::string proxy_;
    uint32_t lastError_ = 0;
    std::string failure_;
    char errorText_[256] = {}; // libcurl's words for a failed transfer
    std::string statusCode_;
    std::string proxyUserName_;
    std::string proxyPassword_;
};

// Readies libcurl for the process; call on the main thread before any exchange runs on another.
// Never undone: a worker may still be inside libcurl when the process ends.
void InitHttp();

// The host name of a URL, "" when it has none or does not parse.
std::string HostOfUrl(const std::string& url);

} // namespace quarn
