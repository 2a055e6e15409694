#include "core/filesystem/FileSystem.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

namespace quarn {

namespace {

FileSystem* programFileSystem = nullptr;
thread_local std::string lastFileFailure;
std::atomic<bool> writeFailureTold{false};

} // namespace

FileSystem* GetFileSystem() {
    return programFileSystem;
}

void SetFileSystem(FileSystem* fileSystem) {
    programFileSystem = fileSystem;
}

const char* LastFileFailure() {
    return lastFileFailure.c_str();
}

void NoteFileFailure(int error) {
    lastFileFailure = error == EXDEV ? OutsideGameReason : std::strerror(error);
}

void NoteFileFailure(const char* reason) {
    lastFileFailure = reason ? reason : "";
}

void ClearFileFailure() {
    lastFileFailure.clear();
}

std::string FileFailureSuffix() {
    return lastFileFailure.empty() ? std::string() : ": " + lastFileFailure;
}

bool TellWriteFailure() {
    return !writeFailureTold.exchange(true);
}

void NoteWriteSucceeded() {
    writeFailureTold = false;
}

} // namespace quarn
