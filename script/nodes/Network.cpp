#include "script/nodes/Network.h"

#include "core/debug/Log.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/NamedConstants.h"
#include "core/object/ValueBinding.h"
#include "core/os/FrameWaits.h"
#include "core/string/Text.h"
#include "core/string/TextArena.h"
#include "script/machine/ScriptApp.h"
#include "script/nodes/HttpReplyReader.h"
#include "script/nodes/OnlineService.h"
#include "script/nodes/SocketSend.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace quarn {

ClassInfo* Network::classInfo = nullptr;

namespace {

using Clock = std::chrono::steady_clock;

Network::Resolver resolver = &::getaddrinfo;

// The time left until `deadline` in whole milliseconds, rounded up so that a wait never ends
// just short of it; 0 once it has passed.
int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(std::min<int64_t>(left.count(), INT32_MAX)) : 0;
}

timeval ToTimeval(int milliseconds) {
    return timeval{static_cast<time_t>(milliseconds / 1000),
                   static_cast<suseconds_t>(milliseconds % 1000 * 1000)};
}

// One name look-up, shared by the waiting frame and the helper thread that runs it.
struct LookUp {
    Network::Resolver resolve;
    std::string host;
    addrinfo hints;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool abandoned = false; // the frame stopped waiting: the helper frees the answer
    int status = EAI_FAIL;
    addrinfo* addresses = nullptr;
};

// Looks the host up on a helper thread, so that a resolver that does not answer (a name server
// that drops packets can take half a minute) cannot hold the frame past the deadline.
int ResolveWithin(const char* host, const addrinfo& hints, addrinfo** addresses,
                  Clock::time_point deadline) {
    auto lookUp = std::make_shared<LookUp>();
    lookUp->resolve = resolver;
    lookUp->host = host;
    lookUp->hints = hints;
    try {
        std::thread([lookUp] {
            addrinfo* found = nullptr;
            const int status =
                lookUp->resolve(lookUp->host.c_str(), nullptr, &lookUp->hints, &found);
            std::lock_guard lock(lookUp->mutex);
            if (lookUp->abandoned) {
                if (status == 0 && found) {
                    freeaddrinfo(found);
                }
                return;
            }
            lookUp->status = status;
            lookUp->addresses = found;
            lookUp->done = true;
            lookUp->finished.notify_one();
        }).detach();
    } catch (const std::system_error&) {
        return resolver(host, nullptr, &hints, addresses); // no thread to spare: wait for it
    }
    std::unique_lock lock(lookUp->mutex);
    if (!lookUp->finished.wait_until(lock, deadline, [&] { return lookUp->done; })) {
        lookUp->abandoned = true;
        return EAI_AGAIN;
    }
    *addresses = lookUp->addresses;
    return lookUp->status;
}

// Connects within the time left; a blocking connect to an address that drops packets would
// hold the frame for minutes.
bool ConnectWithin(int socket, const sockaddr* address, socklen_t length,
                   Clock::time_point deadline) {
    const int flags = fcntl(socket, F_GETFL);
    if (flags < 0 || fcntl(socket, F_SETFL, flags | O_NONBLOCK) < 0) {
        return false;
    }
    bool connected = connect(socket, address, length) == 0;
    if (!connected && errno == EINPROGRESS) {
        pollfd entry{socket, POLLOUT, 0};
        int error = 0;
        socklen_t size = sizeof error;
        int ready;
        do {
            ready = poll(&entry, 1, MillisecondsLeft(deadline));
        } while (ready < 0 && errno == EINTR);
        connected = ready == 1 && getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) == 0 &&
                    error == 0;
    }
    return fcntl(socket, F_SETFL, flags) == 0 && connected;
}

} // namespace

void Network::SetResolver(Resolver replacement) {
    resolver = replacement ? replacement : &::getaddrinfo;
}

Network::Network() = default;

Network::~Network() {
    CloseSocket();
}

void Network::CloseSocket() {
    reader_.reset();
    if (socket_ != -1) {
        close(socket_);
        socket_ = -1;
    }
}

bool Network::Setup(const char* host, const char* pathA, const char* pathB, const char* id,
                    const char* text, int32_t number) {
    host_ = host;
    requestA_ = std::string(pathA) + "?id=" + id;
    requestB_ = std::string(pathB) + "?id=" + id;
    id_ = id;
    text_ = text;
    number_ = number;
    CloseSocket();
    return true;
}

bool Network::Connect(const char* host) {
    CloseSocket();
    lastError_.clear();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    if (ResolveWithin(host, hints, &addresses, deadline_) != 0 || !addresses) {
        lastError_ = "Host not found";
        return false;
    }
    for (const addrinfo* entry = addresses; entry; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET) {
            lastError_ = "Invalid address type";
            break;
        }
        if (entry->ai_addrlen != sizeof(sockaddr_in)) {
            lastError_ = "Invalid ip type";
            break;
        }
        // A socket whose connect failed cannot be connected again: each try has its own.
        const int candidate = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
        if (candidate < 0) {
            lastError_ = "Socket could not be established";
            break;
        }
        sockaddr_in address;
        std::memcpy(&address, entry->ai_addr, sizeof address);
        address.sin_port = htons(port_);
        if (ConnectWithin(candidate, reinterpret_cast<const sockaddr*>(&address), sizeof address,
                          deadline_)) {
            socket_ = candidate;
            lastError_.clear(); // an earlier address may have failed
            break;
        }
        close(candidate);
        lastError_ = "Connection failed";
    }
    freeaddrinfo(addresses);
    return socket_ != -1;
}

long Network::Receive(char* buffer, size_t size) {
    for (;;) {
        const int left = MillisecondsLeft(deadline_);
        pollfd entry{socket_, POLLIN, 0};
        const int ready = left > 0 ? poll(&entry, 1, left) : 0;
        if (ready == 0) {
            failure_ = StringFormat("no whole reply within %lld ms%s",
                                    static_cast<long long>(allowed_.count()),
                                    allowed_ < timeout_ ? ", what the frame's waits had left" : "");
            LogMessage("HTTP reply: %s, reading stopped", failure_.c_str());
            return -1;
        }
        const ssize_t count = ready > 0 ? recv(socket_, buffer, size, MSG_DONTWAIT) : -1;
        if (count >= 0) {
            return static_cast<long>(count);
        }
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            failure_ = std::string("the reply could not be read: ") + std::strerror(errno);
            LogMessage("HTTP reply: %s", failure_.c_str());
            return -1;
        }
    }
}

bool Network::SendRequest(const char* host, const char* path) {
    if (socket_ == -1) {
        return false;
    }
    const std::string request =
        std::string("GET ") + path + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n";
    // A peer that reads nothing fills the send buffer: the send may wait only the time left.
    const timeval wait = ToTimeval(std::max(MillisecondsLeft(deadline_), 1));
    setsockopt(socket_, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    if (request.size() > UINT32_MAX ||
        SocketSendAll(socket_, request.data(), static_cast<uint32_t>(request.size())) !=
            request.size()) {
        failure_ = "the request could not be sent";
        LogMessage("HTTP request: %s", failure_.c_str());
        return false;
    }
    reader_ = std::make_unique<HttpReplyReader>(
        [this](char* buffer, size_t size) { return Receive(buffer, size); });
    if (reader_->ReadStatus()) {
        return true;
    }
    TakeReaderFailure();
    return false;
}

void Network::TakeReaderFailure() {
    // The source's own reason (a time-out, a read error) says more than the reader's.
    if (failure_.empty()) {
        failure_ = reader_->Failure();
    }
}

bool Network::ReadBody(std::string& body) {
    const bool read = reader_ && reader_->ReadBody(body);
    if (!read && reader_) {
        TakeReaderFailure();
    }
    CloseSocket();
    return read;
}

bool Network::Fetch(const char* host, const char* path, std::string& body) {
    body.clear();
    failure_.clear();
    // A line break would end the request line early and let the rest pass as another request.
    if (std::strpbrk(host, "\r\n") || std::strpbrk(path, "\r\n")) {
        failure_ = "a host or path holding a line break is not requested";
        LogMessage("Network: %s", failure_.c_str());
        return false;
    }
    // Every fetch of a frame, and its other waits on the outside, share one bound.
    if (bool tell = false; FrameWaitsSpent(tell)) {
        failure_ = FrameWaitsSpentText();
        if (tell) {
            LogMessage("A Network page fetch fails until the next frame: %s", failure_.c_str());
        }
        return false;
    }
    const Clock::time_point start = Clock::now();
    allowed_ = std::min(timeout_, std::chrono::ceil<std::chrono::milliseconds>(FrameWaitLeft()));
    deadline_ = start + std::min<Clock::duration>(timeout_, FrameWaitLeft());
    bool fetched = false;
    if (!Connect(host)) {
        failure_ = lastError_;
    } else {
        fetched = SendRequest(host, path) && ReadBody(body);
    }
    // The frame waited all along: a loop of fetches meets the script's step limit.
    CountFrameWait(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start));
    return fetched;
}

const char* Network::Get(const char* host, const char* path) {
    Fetch(host, path, reply_);
    return PutTempString(reply_);
}

namespace {

OnlineService* Service() {
    return CurrentOnlineService();
}

} // namespace

bool Network::SubmitRecord(const char* name, Int3 position, int32_t value, bool) {
    OnlineService* service = Service();
    return service && service->SubmitRecord(name, position, value);
}

int32_t Network::RequestList(const char* text, int32_t number) {
    OnlineService* service = Service();
    if (!service || !service->RequestList(text, number)) {
        return -1;
    }
    service = Service();
    return service ? service->GetRecordCount() : -1;
}

int32_t Network::GetRecordCount(const char*) {
    OnlineService* service = Service();
    return service ? service->GetRecordCount() : 0;
}

Int3 Network::GetRecordPosition(int32_t index) {
    OnlineService* service = Service();
    return service ? service->GetRecordPosition(index) : Int3{};
}

const char* Network::GetRecordName(int32_t index) {
    OnlineService* service = Service();
    return PutTempString(service ? service->GetRecordName(index) : "");
}

int32_t Network::GetRecordValue(int32_t index) {
    OnlineService* service = Service();
    return service ? service->GetRecordValue(index) : 0;
}

int32_t Network::GetOwnRecordIndex() {
    OnlineService* service = Service();
    return service ? service->GetOwnRecordIndex() : -1;
}

const char* Network::GetHostName() {
    OnlineService* service = Service();
    return PutTempString(service ? service->GetHostName() : "");
}

const char* Network::GetMessage() {
    OnlineService* service = Service();
    return PutTempString(service ? service->GetMessage() : "");
}

const char* Network::GetOwnName() {
    OnlineService* service = Service();
    return PutTempString(service ? service->GetOwnName() : "");
}

bool Network::Open(const char* unusedA, const char* unusedB, const char* version) {
    OnlineService* service = Service();
    if (!service) {
        GetScriptApp().GetOnlineService();
        service = Service();
    }
    return service && service->Open(unusedA, unusedB, version);
}

bool Network::Close() {
    OnlineService* service = Service();
    return service && service->Close();
}

bool Network::QueryTrueA() {
    OnlineService* service = Service();
    return service && service->QueryTrueA();
}

int32_t Network::QueryCode() {
    OnlineService* service = Service();
    return service ? service->QueryCode() : 0;
}

const char* Network::SetUserName(const char* name, const char* unused) {
    OnlineService* service = Service();
    return PutTempString(service ? service->SetUserName(name, unused) : "");
}

bool Network::QueryTrueB() {
    OnlineService* service = Service();
    return service && service->QueryTrueB();
}

bool Network::SubmitFlag(const char* unused, int32_t bit, int32_t number, const char* text) {
    OnlineService* service = Service();
    return service && service->SubmitFlag(unused, bit, number, text);
}

bool Network::HasFlag(const char* unused, int32_t bit) {
    OnlineService* service = Service();
    return service && service->HasFlag(unused, bit);
}

int32_t Network::GetFlags() {
    OnlineService* service = Service();
    return service ? service->GetFlags() : 0;
}

ClassInfo* Network::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "Network", []() -> Entity* { return new Network(); }, &classInfo);
    classInfo->SetParent(Node::RegisterClass());
    classInfo->SetCategory("Input");

    using N = Network;
    // Script-visible under generated names: the order is fixed (compiled scripts hold them).
    const auto add = [](const char* signature, MethodBinding binding) {
        classInfo->AddMethod(NextShortName(), signature, binding, MethodScript);
    };
    add("(string,string,string,string,string,int):bool", BindMethod<&N::Setup>());
    add("(string,int3,int,bool):bool", BindMethod<&N::SubmitRecord>());
    add("(string,int):int", BindMethod<&N::RequestList>());
    add("(string):int", BindMethod<&N::GetRecordCount>());
    add("(int):int3", BindMethod<&N::GetRecordPosition>());
    add("(int):string", BindMethod<&N::GetRecordName>());
    add("(int):int", BindMethod<&N::GetRecordValue>());
    add("():int", BindMethod<&N::GetOwnRecordIndex>());
    add("():string", BindMethod<&N::GetLastError>());
    add("():string", BindMethod<&N::GetHostName>());
    add("():string", BindMethod<&N::GetMessage>());
    add("():string", BindMethod<&N::GetOwnName>());
    add("(string,string):string", BindMethod<&N::Get>());
    add("(string,string,string):bool", BindMethod<&N::Open>());
    add("():bool", BindMethod<&N::Close>());
    add("():bool", BindMethod<&N::QueryTrueA>());
    add("():int", BindMethod<&N::QueryCode>());
    add("(string,string):string", BindMethod<&N::SetUserName>());
    add("():bool", BindMethod<&N::QueryTrueB>());
    add("(string,int,int,string):bool", BindMethod<&N::SubmitFlag>());
    add("(string,int):bool", BindMethod<&N::HasFlag>());
    add("():int", BindMethod<&N::GetFlags>());
    for (int bit = 0; bit < 5; ++bit) {
        RegisterNamedConstant(NextShortName(), 1 << bit);
    }
    return classInfo;
}

} // namespace quarn
