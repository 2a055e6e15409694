#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace quarn {

// Reads an HTTP/1.1 reply from a byte source one line or byte at a time, as the Network node's
// GET needs it. Every read is bounded: a status or header line past MaxLineLength ends the reply
// with the empty text and a body stops at MaxBodyLength; each cut is logged.
class HttpReplyReader {
public:
    static constexpr size_t MaxLineLength = 64 * 1024;
    static constexpr size_t MaxBodyLength = 16 * 1024 * 1024;

    // Fills up to `size` bytes; answers the count, 0 when the peer has closed and negative on
    // a failure or time-out (the source logs why).
    using Source = std::function<long(char* buffer, size_t size)>;

    explicit HttpReplyReader(Source source) : source_(std::move(source)) {}

    // Reads the status line (and past interim 100 replies): true for 200; false for 404
    // silently, for any other status after logging "Error #%d - %s", and for a broken reply.
    bool ReadStatus();
    // The status line that decided ReadStatus ("HTTP/1.1 404 Not Found"); "" when none came.
    const std::string& GetStatusLine() const { return statusLine_; }
    // The rest of the reply after a status of 200: the headers, then the body. A plain body has
    // its lines joined without their breaks; a chunked one keeps its bytes. Reads until the
    // peer closes.
    std::string ReadBody();

private:
    // False at the end of the data with nothing read; `line` has no CR and no LF.
    bool ReadLine(std::string& line, size_t limit);
    bool ReadByte(char& byte);
    // Reads the header lines up to the empty one; false when they are cut or over-long.
    bool ReadHeaders(bool& chunked);
    void ReadChunkedBody(std::string& body);
    void ReadPlainBody(std::string& body);

    Source source_;
    char buffer_[4096];
    size_t start_ = 0;
    size_t end_ = 0;
    bool finished_ = false;
    bool lineTooLong_ = false;
    std::string statusLine_;
};

} // namespace quarn
