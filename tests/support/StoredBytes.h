#pragma once

#include "core/io/Scrambler.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <minizip/zip.h>
#include <string>
#include <vector>

namespace quarn::test {

// Bytes as the scrambling pass stores them (".zoo" archives, scrambled files).
inline std::string Scrambled(std::string bytes) {
    Scrambler scrambler;
    for (char& byte : bytes) {
        byte = static_cast<char>(scrambler.Scramble(static_cast<uint8_t>(byte)));
    }
    return bytes;
}

struct ZipEntryText {
    std::string name;
    std::string data;
    int method = Z_DEFLATED; // 0: stored
    bool zip64 = false;
};

// The bytes of a zip archive holding the entries, written by minizip's own writer.
inline std::string MakeZip(const std::vector<ZipEntryText>& entries) {
    TempFolder folder;
    zipFile zip = zipOpen64(folder.Join("made.zip").c_str(), APPEND_STATUS_CREATE);
    if (zip == nullptr) {
        ADD_FAILURE() << "cannot write a zip archive";
        return "";
    }
    for (const ZipEntryText& entry : entries) {
        zip_fileinfo info = {};
        const int level = entry.method == 0 ? 0 : Z_DEFAULT_COMPRESSION;
        EXPECT_EQ(zipOpenNewFileInZip64(zip, entry.name.c_str(), &info, nullptr, 0, nullptr, 0,
                                        nullptr, entry.method, level, entry.zip64 ? 1 : 0),
                  ZIP_OK);
        EXPECT_EQ(
            zipWriteInFileInZip(zip, entry.data.data(), static_cast<unsigned>(entry.data.size())),
            ZIP_OK);
        EXPECT_EQ(zipCloseFileInZip(zip), ZIP_OK);
    }
    EXPECT_EQ(zipClose(zip, nullptr), ZIP_OK);
    return folder.ReadFile("made.zip");
}

} // namespace quarn::test
