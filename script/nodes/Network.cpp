#include "script/nodes/Network.h"

#include "core/debug/Log.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/NamedConstants.h"
#include "core/object/ValueBinding.h"
#include "core/string/TextArena.h"
#include "script/machine/ScriptApp.h"
#include "script/nodes/HttpReplyReader.h"
#include "script/nodes/OnlineService.h"
#include "script/nodes/SocketSend.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quarn {

ClassInfo* Network::classInfo = nullptr;

namespace {

Network::Resolver resolver = &::getaddrinfo;

timeval ToTimeval(std::chrono::milliseconds time) {
    return timeval{static_cast<time_t>(time.count() / 1000),
                   static_cast<suseconds_t>(time.count() % 1000 * 1000)};
}

// Connects within the time-out; a blocking connect to an address that drops packets would hold
// the frame for minutes.
bool ConnectWithin(int socket, const sockaddr* address, socklen_t length,
                   std::chrono::milliseconds timeout) {
    const int flags = fcntl(socket, F_GETFL);
    if (flags < 0 || fcntl(socket, F_SETFL, flags | O_NONBLOCK) < 0) {
        return false;
    }
    bool connected = connect(socket, address, length) == 0;
    if (!connected && errno == EINPROGRESS) {
        pollfd entry{socket, POLLOUT, 0};
        int error = 0;
        socklen_t size = sizeof error;
        connected = poll(&entry, 1, static_cast<int>(timeout.count())) == 1 &&
                    getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
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
    if (resolver(host, nullptr, &hints, &addresses) != 0 || !addresses) {
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
                          timeout_)) {
            const timeval wait = ToTimeval(timeout_);
            setsockopt(candidate, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
            setsockopt(candidate, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
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
        const ssize_t count = recv(socket_, buffer, size, 0);
        if (count >= 0) {
            return static_cast<long>(count);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            LogMessage("HTTP reply: no data for %lld ms, reading stopped",
                       static_cast<long long>(timeout_.count()));
        }
        return -1;
    }
}

bool Network::SendRequest(const char* host, const char* path) {
    if (socket_ == -1) {
        return false;
    }
    const std::string request =
        std::string("GET ") + path + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n";
    SocketSendAll(socket_, request.data(), static_cast<uint32_t>(request.size()));
    reader_ = std::make_unique<HttpReplyReader>(
        [this](char* buffer, size_t size) { return Receive(buffer, size); });
    return reader_->ReadStatus();
}

std::string Network::ReadBody() {
    std::string body = reader_ ? reader_->ReadBody() : std::string();
    CloseSocket();
    return body;
}

bool Network::Fetch(const char* host, const char* path, std::string& body) {
    body.clear();
    // A line break would end the request line early and let the rest pass as another request.
    if (std::strpbrk(host, "\r\n") || std::strpbrk(path, "\r\n")) {
        LogMessage("Network: a host or path holding a line break is not requested");
        return false;
    }
    if (!Connect(host) || !SendRequest(host, path)) {
        return false;
    }
    body = ReadBody();
    return true;
}

std::string Network::GetStatusLine() const {
    return reader_ ? reader_->GetStatusLine() : std::string();
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
