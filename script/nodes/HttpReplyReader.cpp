#include "script/nodes/HttpReplyReader.h"

#include "core/debug/Log.h"
#include "core/string/NumberText.h"
#include "core/string/Text.h"

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

// A Content-Length value: decimal digits only. Values beyond the body limit all read as "too
// large" rather than wrapping.
bool ParseLength(std::string_view text, uint64_t& length) {
    text = Trim(text);
    length = 0;
    for (char c : text) {
        if (!IsDigit(c)) {
            return false;
        }
        if (length <= HttpReplyReader::MaxBodyLength) {
            length = length * 10 + static_cast<uint64_t>(c - '0');
        }
    }
    return !text.empty();
}

} // namespace

bool HttpReplyReader::Fail(std::string reason) {
    failure_ = std::move(reason);
    LogMessage("HTTP reply: %s", failure_.c_str());
    return false;
}

bool HttpReplyReader::DataFailed(const char* reason) {
    if (!failure_.empty()) {
        return false; // a line too long already said why
    }
    if (sourceFailed_) {
        failure_ = "the connection failed";
        return false;
    }
    return Fail(reason);
}

bool HttpReplyReader::ReadByte(char& byte) {
    if (start_ == end_) {
        if (finished_) {
            return false;
        }
        const long count = source_(buffer_, sizeof buffer_);
        if (count <= 0) {
            finished_ = true;
            sourceFailed_ = count < 0;
            return false;
        }
        start_ = 0;
        end_ = static_cast<size_t>(count);
    }
    byte = buffer_[start_++];
    return true;
}

bool HttpReplyReader::ReadLine(std::string& line) {
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
        if (line.size() >= MaxLineLength) {
            return Fail(StringFormat("a line longer than %zu bytes", MaxLineLength));
        }
        line.push_back(byte);
    }
    return readAny;
}

bool HttpReplyReader::ReadHeadLine(std::string& line) {
    if (headLines_ == MaxHeadLines) {
        return Fail(StringFormat("more than %zu lines of status and headers", MaxHeadLines));
    }
    ++headLines_;
    return ReadLine(line);
}

bool HttpReplyReader::ReadHeaders(Head& head) {
    head = Head();
    std::string line;
    while (ReadHeadLine(line)) {
        if (line.empty()) {
            return true;
        }
        const size_t colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        const std::string_view name = Trim(std::string_view(line).substr(0, colon));
        const std::string_view value = std::string_view(line).substr(colon + 1);
        if (EqualsIgnoringCase(name, "Transfer-Encoding") &&
            EqualsIgnoringCase(Trim(value), "chunked")) {
            head.chunked = true;
        } else if (EqualsIgnoringCase(name, "Content-Length")) {
            uint64_t length;
            if (!ParseLength(value, length)) {
                return Fail("a Content-Length that is not a number");
            }
            if (head.sized && length != head.length) {
                return Fail("two different Content-Lengths");
            }
            head.sized = true;
            head.length = length;
        }
    }
    return DataFailed("the reply ended inside its headers");
}

bool HttpReplyReader::ReadStatus() {
    std::string line;
    for (;;) {
        if (!ReadHeadLine(line)) {
            return DataFailed("no status line");
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
            Head interim;
            if (!ReadHeaders(interim)) {
                return false;
            }
            continue;
        }
        if (status == 200) {
            return true;
        }
        while (at < line.size() && IsBlank(line[at])) {
            ++at;
        }
        failure_ = "Error #" + std::to_string(status) + " - " + line.substr(at);
        if (status != 404) {
            LogMessage("%s", failure_.c_str());
        }
        return false;
    }
}

bool HttpReplyReader::ReadPlainBody(std::string& body, const Head& head) {
    if (head.sized && head.length > MaxBodyLength) {
        return Fail(StringFormat("a body of more than %zu bytes", MaxBodyLength));
    }
    uint64_t read = 0;
    char byte;
    while (!head.sized || read < head.length) {
        if (!ReadByte(byte)) {
            if (!head.sized && !sourceFailed_) {
                return true; // the peer's close ends a body of no stated length
            }
            return DataFailed(StringFormat("the body ended after %llu of %llu bytes",
                                           static_cast<unsigned long long>(read),
                                           static_cast<unsigned long long>(head.length))
                                  .c_str());
        }
        if (++read > MaxBodyLength) {
            return Fail(StringFormat("a body of more than %zu bytes", MaxBodyLength));
        }
        if (byte != '\r' && byte != '\n') {
            body.push_back(byte);
        }
    }
    return true;
}

bool HttpReplyReader::ReadChunkedBody(std::string& body) {
    std::string line;
    for (;;) {
        if (!ReadLine(line)) {
            return DataFailed("the chunked body ended before its last chunk");
        }
        uint64_t size;
        // A size line that is not hexadecimal ends the body as the last chunk would; trailers
        // after the last chunk are not waited for.
        if (!ParseChunkSize(line, size) || size == 0) {
            return true;
        }
        if (size > MaxBodyLength - body.size()) {
            return Fail(StringFormat("a chunk larger than the %zu bytes left of the body limit",
                                     MaxBodyLength - body.size()));
        }
        for (uint64_t i = 0; i < size; ++i) {
            char byte;
            if (!ReadByte(byte)) {
                return DataFailed("the chunked body ended before its last chunk");
            }
            body.push_back(byte);
        }
        char end;
        if (ReadByte(end) && end == '\r') {
            ReadByte(end);
        }
    }
}

bool HttpReplyReader::ReadBody(std::string& body) {
    body.clear();
    Head head;
    const bool read =
        ReadHeaders(head) && (head.chunked ? ReadChunkedBody(body) : ReadPlainBody(body, head));
    if (!read) {
        body.clear();
    }
    return read;
}

} // namespace quarn
