#include "script/nodes/HttpReplyReader.h"

#include "core/debug/Log.h"
#include "core/string/NumberText.h"
#include "core/string/Text.h"

#include <cstdint>
#include <string_view>

namespace quarn {

namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (ToLowerAscii(a[i]) != ToLowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

// The leading hexadecimal number of a chunk-size line, or false when it starts with none.
// Sizes beyond the body limit all read as "too large" rather than wrapping.
bool ParseChunkSize(std::string_view line, uint64_t& size) {
    line = Trim(line.substr(0, line.find(';')));
    size = 0;
    size_t digits = 0;
    for (char c : line) {
        const int digit = HexDigitValue(c);
        if (digit < 0) {
            break;
        }
        if (size <= HttpReplyReader::MaxBodyLength) {
            size = size * 16 + static_cast<uint64_t>(digit);
        }
        ++digits;
    }
    return digits > 0;
}

} // namespace

bool HttpReplyReader::ReadByte(char& byte) {
    if (start_ == end_) {
        if (finished_) {
            return false;
        }
        const long count = source_(buffer_, sizeof buffer_);
        if (count <= 0) {
            finished_ = true;
            return false;
        }
        start_ = 0;
        end_ = static_cast<size_t>(count);
    }
    byte = buffer_[start_++];
    return true;
}

bool HttpReplyReader::ReadLine(std::string& line, size_t limit) {
    line.clear();
    bool readAny = false;
    char byte;
    while (ReadByte(byte)) {
        readAny = true;
        if (byte == '\n') {
            return true;
        }
        if (byte == '\r') {
            continue;
        }
        if (line.size() >= limit) {
            lineTooLong_ = true;
            LogMessage("HTTP reply: a line longer than %zu bytes ends it", limit);
            return false;
        }
        line.push_back(byte);
    }
    return readAny;
}

bool HttpReplyReader::ReadHeaders(bool& chunked) {
    chunked = false;
    std::string line;
    while (ReadLine(line, MaxLineLength)) {
        if (line.empty()) {
            return true;
        }
        const size_t colon = line.find(':');
        if (colon != std::string::npos &&
            EqualsIgnoringCase(Trim(std::string_view(line).substr(0, colon)),
                               "Transfer-Encoding") &&
            EqualsIgnoringCase(Trim(std::string_view(line).substr(colon + 1)), "chunked")) {
            chunked = true;
        }
    }
    // Headers cut by the peer still let the body that follows them (none) be read.
    return !lineTooLong_;
}

bool HttpReplyReader::ReadStatus() {
    std::string line;
    for (;;) {
        if (!ReadLine(line, MaxLineLength)) {
            if (!lineTooLong_) {
                LogMessage("HTTP reply: no status line");
            }
            return false;
        }
        // The first integer after the protocol word.
        size_t at = line.find(' ');
        at = at == std::string::npos ? line.size() : at;
        while (at < line.size() && IsBlank(line[at])) {
            ++at;
        }
        int32_t status = 0;
        while (at < line.size() && line[at] >= '0' && line[at] <= '9' && status < 100000) {
            status = status * 10 + (line[at++] - '0');
        }
        if (status == 100) {
            // An interim reply: its headers, then the status that decides.
            bool chunked;
            if (!ReadHeaders(chunked)) {
                return false;
            }
            continue;
        }
        statusLine_ = line;
        if (status == 200) {
            return true;
        }
        if (status != 404) {
            while (at < line.size() && IsBlank(line[at])) {
                ++at;
            }
            LogMessage("Error #%d - %s", status, line.c_str() + at);
        }
        return false;
    }
}

void HttpReplyReader::ReadPlainBody(std::string& body) {
    char byte;
    while (ReadByte(byte)) {
        if (byte == '\r' || byte == '\n') {
            continue;
        }
        if (body.size() >= MaxBodyLength) {
            LogMessage("HTTP reply: body cut at %zu bytes", MaxBodyLength);
            return;
        }
        body.push_back(byte);
    }
}

void HttpReplyReader::ReadChunkedBody(std::string& body) {
    std::string line;
    while (ReadLine(line, MaxLineLength)) {
        uint64_t size;
        if (!ParseChunkSize(line, size) || size == 0) {
            return;
        }
        for (uint64_t i = 0; i < size; ++i) {
            char byte;
            if (!ReadByte(byte)) {
                return; // cut off by the peer: what arrived stays
            }
            if (body.size() >= MaxBodyLength) {
                LogMessage("HTTP reply: body cut at %zu bytes", MaxBodyLength);
                return;
            }
            body.push_back(byte);
        }
        char end;
        if (ReadByte(end) && end == '\r') {
            ReadByte(end);
        }
    }
}

std::string HttpReplyReader::ReadBody() {
    std::string body;
    bool chunked;
    if (!ReadHeaders(chunked)) {
        return body;
    }
    if (chunked) {
        ReadChunkedBody(body);
    } else {
        ReadPlainBody(body);
    }
    return body;
}

} // namespace quarn
