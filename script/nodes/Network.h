#pragma once

#include "core/math/Vector.h"
#include "core/scene/Node.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

struct addrinfo;

namespace quarn {

class HttpReplyReader;

// A node through which scripts fetch a page by a blocking HTTP/1.1 GET and reach the online
// service's client. The service methods ignore the node: they act on the one client of the run
// and answer a fixed fallback while none exists; only Open asks the shell to create it.
class Network : public Node {
public:
    // getaddrinfo's shape, so tests can answer name look-ups without DNS. A replacement answers
    // an error or a list that freeaddrinfo frees.
    using Resolver = int (*)(const char* host, const char* service, const addrinfo* hints,
                             addrinfo** result);
    static void SetResolver(Resolver resolver);

    Network();
    ~Network() override;

    // Stores the texts of the service set-up; nothing reads them back.
    bool Setup(const char* host, const char* pathA, const char* pathB, const char* id,
               const char* text, int32_t number);
    // Empty after a successful connect.
    const char* GetLastError() const { return lastError_.c_str(); }
    // The body of the reply, "" on any failure. Blocks the frame for at most the time-out, from
    // the name look-up to the body's end, and no longer than the frame's waits have left
    // (FrameWaits): past their bound it fails at once. The wait is charged to the running script.
    const char* Get(const char* host, const char* path);
    // Get, answering false when the page was not had whole: no connection, a status other than
    // 200, a reply that breaks the reader's bounds or ends early, the time-out, or a host or path
    // holding a line break.
    bool Fetch(const char* host, const char* path, std::string& body);
    // Why the last fetch failed, one line; "" after a fetch that had its page.
    const std::string& GetFailure() const { return failure_; }

    // Not visible to scripts: the port is 80 and the time-out 10 s for them.
    void SetPort(uint16_t port) { port_ = port; }
    void SetTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }

    // The online service's face.
    static bool SubmitRecord(const char* name, Int3 position, int32_t value, bool unused);
    static int32_t RequestList(const char* text, int32_t number);
    static int32_t GetRecordCount(const char* unused);
    static Int3 GetRecordPosition(int32_t index);
    static const char* GetRecordName(int32_t index);
    static int32_t GetRecordValue(int32_t index);
    static int32_t GetOwnRecordIndex();
    static const char* GetHostName();
    static const char* GetMessage();
    static const char* GetOwnName();
    static bool Open(const char* unusedA, const char* unusedB, const char* version);
    static bool Close();
    static bool QueryTrueA();
    static int32_t QueryCode();
    static const char* SetUserName(const char* name, const char* unused);
    static bool QueryTrueB();
    static bool SubmitFlag(const char* unused, int32_t bit, int32_t number, const char* text);
    static bool HasFlag(const char* unused, int32_t bit);
    static int32_t GetFlags();

    ClassInfo* GetClass() const override { return classInfo; }
    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    bool Connect(const char* host);
    bool SendRequest(const char* host, const char* path);
    bool ReadBody(std::string& body);
    void TakeReaderFailure();
    void CloseSocket();
    // The reader's source: waits for data only until the fetch's deadline.
    long Receive(char* buffer, size_t size);

    std::string host_;
    std::string requestA_;
    std::string requestB_;
    std::string id_;
    std::string text_;
    [[maybe_unused]] int32_t number_ = 0;
    int socket_ = -1;
    // Reads the open socket's reply from its status line on, keeping what it read ahead.
    std::unique_ptr<HttpReplyReader> reader_;
    std::string lastError_;
    std::string reply_;
    std::string failure_;
    uint16_t port_ = 80;
    std::chrono::milliseconds timeout_{10000};
    std::chrono::milliseconds allowed_{10000};       // the fetch under way's: the frame may cut it
    std::chrono::steady_clock::time_point deadline_; // of the fetch under way
};

} // namespace quarn
