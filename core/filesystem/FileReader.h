#pragma once

#include "core/io/File.h"
#include "core/io/OutputStream.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace quarn {

// A file opened by path through the program's FileSystem. Every read goes to the file it
// opened; before a successful Open (and after Close) reads behave as at the end of an empty
// file: ReadByte gives -1, Read and ReadUntil 0, the little-endian reads all-ones bits.
class FileReader final : public File {
public:
    FileReader() = default;
    ~FileReader() override = default;

    // Closes any file open before. The path and text flag are kept even when opening fails.
    bool Open(const char* path, bool textFlag, bool scrambled);
    void Close();
    bool IsOpen() const { return file_ != nullptr; }
    bool GetTextFlag() const { return textFlag_; }

    // A NUL-terminated string (or the rest of the file).
    void ReadString(std::string& text);

    int GetKind() const override;
    int ReadByte() override;
    void UnreadByte() override;
    uint32_t Read(void* buffer, uint32_t count) override;
    uint32_t GetSize() override;
    uint32_t ReadUntil(char* buffer, uint32_t capacity, int delimiter) override;
    uint8_t ReadUInt8() override;
    uint16_t ReadUInt16() override;
    uint32_t ReadUInt32() override;
    bool Seek(uint32_t position) override;
    uint32_t Tell() override;
    bool IsEof() override;

private:
    std::unique_ptr<File> file_;
    bool textFlag_ = false;
};

// A stream opened by path through the program's FileSystem; everything goes to the stream it
// opened. Before a successful Open (and after Close) writes are dropped: Printf gives -1,
// Write 0.
class ForwardingOutputStream final : public OutputStream {
public:
    ForwardingOutputStream() = default;
    // Destroying the inner stream closes it.
    ~ForwardingOutputStream() override = default;

    // Closes any stream open before. `flags` are FileSystem WriteFlags.
    bool Open(const char* path, uint32_t flags);
    bool IsOpen() const { return stream_ != nullptr; }
    const std::string& GetPath() const { return path_; }

    int VPrintf(const char* format, va_list arguments) override QUARN_PRINTF(2, 0);
    void PutChar(int byte) override;
    uint32_t Write(const void* data, uint32_t count) override;
    void Flush() override;
    uint32_t Tell() override;
    // True when the file arrived whole; false too when nothing was open, since nothing can
    // have arrived then.
    bool Close() override;
    // Ends the stream leaving the file at the path as it was.
    void Abandon();

private:
    std::unique_ptr<OutputStream> stream_;
    std::string path_;
};

// Writes `bytes` as the whole of the file at `path` through the program's FileSystem (`flags`
// as for OpenForWrite): true only when every byte was written and the file closed, so the old
// file, if any, stays whole otherwise.
bool WriteWholeFile(const char* path, std::span<const uint8_t> bytes, uint32_t flags);

} // namespace quarn
