#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace quarn {

// Reads an HTTP/1.1 reply from a byte source one line or byte at a time, as the Network node's
// GET needs it. Every read is bounded, so a hostile server ends the reply rather than holding
// it: a line past MaxLineLength, a head of more than MaxHeadLines lines (interim replies
// included) or a body past MaxBodyLength fails it, and so does a body that ends before its
// Content-Length or its last chunk. A failure keeps its reason and logs it (a 404 only keeps
// it); failures of the source itself are the source's to log.
class HttpReplyReader {
public:
    static constexpr size_t MaxLineLength = 64 * 1024;
    static constexpr size_t MaxHeadLines = 128;
    static constexpr size_t MaxBodyLength = 16 * 1024 * 1024;

    // Fills up to `size` bytes; answers the count, 0 when the peer has closed and negative on
    // a failure or time-out.
    using Source = std::function<long(char* buffer, size_t size)>;

    explicit HttpReplyReader(Source source) : source_(std::move(source)) {}

    // Reads the status line (and past interim 100 replies): true for 200; false for 404
    // silently, for any other status after logging "Error #%d - %s", and for a broken reply.
    bool ReadStatus();
    // The rest of the reply after a status of 200: the headers, then the body. A plain body has
    // its lines joined without their breaks; a chunked one keeps its bytes. The body ends at its
    // Content-Length, at its last chunk, or else when the peer closes. False, with `body`
    // empty, when the reply fails.
    bool ReadBody(std::string& body);

    // Why the reply failed; "" while it has not.
    const std::string& Failure() const { return failure_; }

private:
    struct Head {
        bool chunked = false;
        bool sized = false;
        uint64_t length = 0; // the Content-Length, when sized
    };

    bool Fail(std::string reason);
    bool ReadByte(char& byte);
    // False at the end of the data with nothing read, or (failing) past `MaxLineLength`;
    // `line` has no CR and no LF.
    bool ReadLine(std::string& line);
    // A status or header line, counted against MaxHeadLines; false when none could be had.
    bool ReadHeadLine(std::string& line);
    // Reads the header lines up to the empty one; false when they fail.
    bool ReadHeaders(Head& head);
    bool ReadChunkedBody(std::string& body);
    // Up to `length` bytes, or all until the peer closes when not sized.
    bool ReadPlainBody(std::string& body, const Head& head);
    bool DataFailed(const char* reason);

    Source source_;
    char buffer_[4096];
    size_t start_ = 0;
    size_t end_ = 0;
    bool finished_ = false;
    bool sourceFailed_ = false;
    size_t headLines_ = 0;
    std::string failure_;
};

} // namespace quarn
