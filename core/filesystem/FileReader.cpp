#include "core/filesystem/FileReader.h"

#include "core/filesystem/FileOutputStream.h"
#include "core/filesystem/FileSystem.h"

namespace quarn {

bool FileReader::Open(const char* path, bool textFlag, bool scrambled) {
    Close();
    SetName(path ? path : "");
    textFlag_ = textFlag;
    ClearFileFailure();
    FileSystem* fileSystem = GetFileSystem();
    if (!fileSystem || !path) {
        return false;
    }
    uint32_t flags = (textFlag ? OpenText : 0u) | (scrambled ? OpenScrambled : 0u);
    file_ = fileSystem->Open(path, flags);
    return file_ != nullptr;
}

void FileReader::Close() {
    file_.reset();
}

void FileReader::ReadString(std::string& text) {
    ReadStringUntil(text, 0);
}

int FileReader::GetKind() const {
    return file_ ? file_->GetKind() : 0;
}

int FileReader::ReadByte() {
    return file_ ? file_->ReadByte() : -1;
}

void FileReader::UnreadByte() {
    if (file_) {
        file_->UnreadByte();
    }
}

uint32_t FileReader::Read(void* buffer, uint32_t count) {
    return file_ ? file_->Read(buffer, count) : 0;
}

uint32_t FileReader::GetSize() {
    return file_ ? file_->GetSize() : 0;
}

// The inner file may have a faster way than byte by byte; without one the base reads our
// ReadByte, which gives the end at once.
uint32_t FileReader::ReadUntil(char* buffer, uint32_t capacity, int delimiter) {
    return file_ ? file_->ReadUntil(buffer, capacity, delimiter)
                 : File::ReadUntil(buffer, capacity, delimiter);
}

uint8_t FileReader::ReadUInt8() {
    return file_ ? file_->ReadUInt8() : File::ReadUInt8();
}

uint16_t FileReader::ReadUInt16() {
    return file_ ? file_->ReadUInt16() : File::ReadUInt16();
}

uint32_t FileReader::ReadUInt32() {
    return file_ ? file_->ReadUInt32() : File::ReadUInt32();
}

bool FileReader::Seek(uint32_t position) {
    return file_ ? file_->Seek(position) : false;
}

uint32_t FileReader::Tell() {
    return file_ ? file_->Tell() : 0;
}

bool FileReader::IsEof() {
    return file_ ? file_->IsEof() : true;
}

bool ForwardingOutputStream::Open(const char* path, uint32_t flags) {
    stream_.reset();
    path_ = path ? path : "";
    ClearFileFailure();
    FileSystem* fileSystem = GetFileSystem();
    if (!fileSystem || !path) {
        return false;
    }
    stream_ = fileSystem->OpenForWrite(path, flags);
    return stream_ != nullptr;
}

int ForwardingOutputStream::VPrintf(const char* format, va_list arguments) {
    return stream_ ? stream_->VPrintf(format, arguments) : -1;
}

void ForwardingOutputStream::PutChar(int byte) {
    if (stream_) {
        stream_->PutChar(byte);
    }
}

uint32_t ForwardingOutputStream::Write(const void* data, uint32_t count) {
    return stream_ ? stream_->Write(data, count) : 0;
}

void ForwardingOutputStream::Flush() {
    if (stream_) {
        stream_->Flush();
    }
}

uint32_t ForwardingOutputStream::Tell() {
    return stream_ ? stream_->Tell() : 0;
}

bool ForwardingOutputStream::Close() {
    if (!stream_) {
        return false;
    }
    bool whole = stream_->Close();
    stream_.reset();
    return whole;
}

void ForwardingOutputStream::Abandon() {
    // A disk file would arrive on being destroyed; the other streams arrive only when closed.
    if (auto* file = dynamic_cast<FileOutputStream*>(stream_.get())) {
        file->Abandon();
    }
    stream_.reset();
}

bool WriteWholeFile(const char* path, std::span<const uint8_t> bytes, uint32_t flags) {
    if (bytes.size() > UINT32_MAX) {
        return false; // a stream counts its bytes in 32-bit words
    }
    ForwardingOutputStream stream;
    const auto size = static_cast<uint32_t>(bytes.size());
    const bool written = stream.Open(path, flags) && stream.Write(bytes.data(), size) == size;
    return stream.Close() && written;
}

} // namespace quarn
