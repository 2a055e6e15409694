#pragma once

#include "core/filesystem/DiskFileSystem.h"
#include "core/filesystem/MemoryFileSystem.h"
#include "resources/ResourceRegistry.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/TempFolder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

namespace quarn::test {

// Resources read from a temporary folder that is the base folder. Every test must give back
// what it acquired: the registry is checked to be as it was.
class ResourceDiskTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = GetFileSystem();
        files_.SetBaseFolder(temp_.Path().c_str());
        SetFileSystem(&files_);
        registered_ = GetRegisteredResourceCount();
        NoteWriteSucceeded(); // as ResourceMemoryTest does
    }
    void TearDown() override {
        EXPECT_EQ(GetRegisteredResourceCount(), registered_) << "a resource was not released";
        SetFileSystem(previous_);
    }

    // Sets a file's last-write time to whole seconds.
    void SetFileTime(const std::string& relative, time_t seconds) {
        timespec times[2] = {{seconds, 0}, {seconds, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, temp_.Join(relative).c_str(), times, 0), 0);
    }

    TempFolder temp_;
    DiskFileSystem files_;
    CapturingLogSink log_;
    FileSystem* previous_ = nullptr;
    int registered_ = 0;
};

// Resources read from files in memory, the log captured.
class ResourceMemoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = GetFileSystem();
        SetFileSystem(&files_);
        // A write failure is told once until a file is written whole: as in a fresh process,
        // whatever the tests before this one left untold.
        NoteWriteSucceeded();
    }
    void TearDown() override { SetFileSystem(previous_); }
    // What a closed stream wrote to the path.
    std::string Written(const char* path) const {
        return files_.Written(path) ? *files_.Written(path) : "(nothing)";
    }

    MemoryFileSystem files_;
    CapturingLogSink log_;
    FileSystem* previous_ = nullptr;
};

} // namespace quarn::test
