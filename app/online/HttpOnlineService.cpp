#include "app/online/HttpOnlineService.h"

#include "app/online/HttpClient.h"
#include "app/online/HttpRequestAsync.h"
#include "core/debug/Log.h"
#include "core/string/NumberText.h"

#include <algorithm>

namespace quarn {

namespace {

std::string_view TextOf(const char* text) {
    return text ? std::string_view(text) : std::string_view();
}

// Blanks become '_' as the service has always received them; everything that could end or
// split a parameter (or is not ASCII) is percent-encoded.
std::string Parameter(std::string_view text) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == ' ') {
            encoded.push_back('_');
        } else if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                   (byte >= '0' && byte <= '9') || c == '-' || c == '_' || c == '.' || c == '~') {
            encoded.push_back(c);
        } else {
            encoded.push_back('%');
            encoded.push_back(Hex[byte >> 4]);
            encoded.push_back(Hex[byte & 15]);
        }
    }
    return encoded;
}

int32_t NumberField(std::string_view field) {
    return ParseInt32(std::string(field).c_str()); // the copy ends the number at the field's end
}

bool RecordBefore(const OnlineRecord& a, const OnlineRecord& b) {
    if (a.position.x != b.position.x) {
        return a.position.x < b.position.x;
    }
    if (a.position.y != b.position.y) {
        return a.position.y < b.position.y;
    }
    if (a.position.z != b.position.z) {
        return a.position.z > b.position.z;
    }
    return static_cast<uint32_t>(a.value) > static_cast<uint32_t>(b.value);
}

void ParseRecordLine(std::string_view line, OnlineList& list) {
    std::string_view fields[5];
    for (int i = 0; i < 4; ++i) {
        const size_t end = line.find(';');
        if (end == std::string_view::npos) {
            return;
        }
        fields[i] = line.substr(0, end);
        line.remove_prefix(end + 1);
    }
    fields[4] = line.substr(0, line.find(';'));
    if (fields[0].empty()) {
        return;
    }
    OnlineRecord record{
        std::string(fields[0]),
        Int3(NumberField(fields[1]), NumberField(fields[2]), NumberField(fields[3])),
        NumberField(fields[4])};
    if (record.name[0] == '#') {
        list.flags = record.value;
        list.ownName = record.name.substr(1);
    }
    list.records.push_back(std::move(record));
}

} // namespace

void ParseRecordList(std::string_view reply, OnlineList& list) {
    while (!reply.empty()) {
        const size_t end = std::min(reply.find_first_of("\r\n"), reply.size());
        const std::string_view line = reply.substr(0, end);
        reply.remove_prefix(std::min(end + 1, reply.size()));
        if (line.empty()) {
            continue;
        }
        if (line[0] == '*') {
            list.message = line.substr(1);
        } else {
            ParseRecordLine(line, list);
        }
    }
    std::stable_sort(list.records.begin(), list.records.end(), RecordBefore);
    auto own = std::find_if(list.records.begin(), list.records.end(),
                            [](const OnlineRecord& record) { return record.name[0] == '#'; });
    list.ownIndex =
        own == list.records.end() ? -1 : static_cast<int32_t>(own - list.records.begin());
}

HttpOnlineService::HttpOnlineService(std::string baseAddress, uint32_t volumeSerial)
    : baseAddress_(std::move(baseAddress)), volumeSerial_(volumeSerial) {
    if (!baseAddress_.empty() && baseAddress_.back() != '/') {
        baseAddress_.push_back('/');
    }
    if (!baseAddress_.empty()) {
        host_ = HostOfUrl(baseAddress_);
    }
}

bool HttpOnlineService::Open(const char*, const char*, const char* version) {
    versionText_ = TextOf(version);
    state_ = 2;
    return true;
}

const char* HttpOnlineService::SetUserName(const char* name, const char*) {
    if (state_ != 2) {
        return "";
    }
    userText_ = TextOf(name);
    return "SUCCESS";
}

bool HttpOnlineService::Close() {
    state_ = 0;
    return true;
}

bool HttpOnlineService::SubmitFlag(const char*, int32_t bit, int32_t number, const char* text) {
    if (userText_.empty()) {
        return false;
    }
    const uint32_t mask = 1u << (bit & 31);
    const std::string maskText = std::to_string(mask);
    std::string reply;
    if (!Exchange("SubmitFlag",
                  "flag?key=" + Parameter(keyText_) + "&" + Identity() + "&bit=" + maskText +
                      "&set=" + maskText + "&n=" + std::to_string(number) +
                      "&text=" + Parameter(TextOf(text)),
                  reply)) {
        return false;
    }
    list_.flags = static_cast<int32_t>(static_cast<uint32_t>(list_.flags) | mask);
    return reply.find("SUCCESS") != std::string::npos;
}

bool HttpOnlineService::HasFlag(const char*, int32_t bit) {
    return (static_cast<uint32_t>(list_.flags) >> (bit & 31)) & 1;
}

bool HttpOnlineService::RequestList(const char* text, int32_t number) {
    list_.records.clear();
    list_.ownIndex = -1;
    std::string reply;
    if (!Exchange("RequestList",
                  "list?list=" + Parameter(TextOf(text)) + "&" + Identity() + "&serial=" +
                      std::to_string(volumeSerial_ & 0x7FFFFFFFu) + "&n=" + std::to_string(number),
                  reply)) {
        return false;
    }
    ParseRecordList(reply, list_);
    return true;
}

bool HttpOnlineService::SubmitRecord(const char* name, Int3 position, int32_t value) {
    if (userText_.empty()) {
        return false;
    }
    std::string reply;
    return Exchange("SubmitRecord",
                    "record?name=" + Parameter(TextOf(name)) + "&" + Identity() +
                        "&x=" + std::to_string(position.x) + "&y=" + std::to_string(position.y) +
                        "&z=" + std::to_string(position.z) + "&value=" + std::to_string(value),
                    reply) &&
           reply.find("SUCCESS") != std::string::npos;
}

Int3 HttpOnlineService::GetRecordPosition(int32_t index) {
    const OnlineRecord* record = RecordAt(index);
    return record ? record->position : Int3();
}

const char* HttpOnlineService::GetRecordName(int32_t index) {
    const OnlineRecord* record = RecordAt(index);
    return record ? record->name.c_str() : "";
}

int32_t HttpOnlineService::GetRecordValue(int32_t index) {
    const OnlineRecord* record = RecordAt(index);
    return record ? record->value : 0;
}

bool HttpOnlineService::Exchange(const char* operation, std::string path, std::string& reply) {
    if (baseAddress_.empty()) {
        return false;
    }
    HttpRequest request{baseAddress_, std::move(path), {}};
    if (!HttpRequestAsync(request)) {
        return false;
    }
    std::string failure = std::move(request.failure);
    if (failure.empty() && (request.status < 200 || request.status > 299)) {
        failure = "HTTP status " + std::to_string(request.status);
    }
    if (!failure.empty()) {
        // A game polls every frame, each operation it asks for: a server that stays down is
        // logged once, whatever failed, until an exchange succeeds.
        if (!failing_) {
            LogMessage("Online service: %s failed: %s", operation, failure.c_str());
            failing_ = true;
        }
        return false;
    }
    failing_ = false;
    reply = std::move(request.reply);
    return true;
}

std::string HttpOnlineService::Identity() const {
    return "user=" + Parameter(userText_) + "&v=" + Parameter(versionText_);
}

const OnlineRecord* HttpOnlineService::RecordAt(int32_t index) const {
    return index >= 0 && static_cast<size_t>(index) < list_.records.size() ? &list_.records[index]
                                                                           : nullptr;
}

} // namespace quarn
