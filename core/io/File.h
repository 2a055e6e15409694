#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quarn {

// A readable byte source: a file on disk, an archive entry, an embedded file or a text in
// memory. Sizes and positions are 32-bit, as in every format the engine reads.
class File {
public:
    virtual ~File() = default;

    // Folder operations; only disk files have them.
    virtual std::unique_ptr<File> GetParent() { return nullptr; }
    virtual int ListFolder() { return 0; }
    virtual std::unique_ptr<File> GetChild(int) { return nullptr; }
    virtual bool IsDirectory() const { return false; }

    // What kind of source this is: 2 for disk and embedded files, 0 for the others.
    virtual int GetKind() const { return 0; }

    // The next byte 0..255, or -1 at the end.
    virtual int ReadByte() = 0;
    // Steps back one byte (some sources keep only one byte of push-back).
    virtual void UnreadByte() = 0;
    // Copies up to `count` bytes; returns how many were copied.
    virtual uint32_t Read(void* buffer, uint32_t count) = 0;
    virtual uint32_t GetSize() = 0;

    // Reads until `delimiter` or the end; the delimiter is consumed and not stored. At most
    // capacity - 1 bytes are stored and a NUL added (buffer may be null to skip); the rest of
    // an overlong run is read and dropped. Returns the count stored.
    virtual uint32_t ReadUntil(char* buffer, uint32_t capacity, int delimiter);
    // The same into a string, bounded by what the source holds.
    void ReadStringUntil(std::string& text, int delimiter);
    // Everything from the position to the end. The buffer grows with what actually arrives: the
    // size the source claims is only a capped hint, so a lying size never decides an allocation.
    std::vector<uint8_t> ReadRemaining();
    // ReadUntil(LF) with a trailing CR removed.
    uint32_t ReadLine(char* buffer, uint32_t capacity);
    void ReadLineString(std::string& text);

    // Little-endian reads built on ReadByte; a byte past the end reads as 0xFF.
    virtual uint8_t ReadUInt8();
    virtual uint16_t ReadUInt16();
    virtual uint32_t ReadUInt32();

    virtual bool Seek(uint32_t position) = 0;
    virtual uint32_t Tell() = 0;
    virtual bool IsEof() = 0;

    // The path the file was opened with.
    const std::string& GetName() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }

private:
    std::string name_;
};

} // namespace quarn
