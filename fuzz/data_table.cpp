// Data tables read from a file system. The first byte picks the form (bit 0: ".csv" text table,
// else typed table); the rest is the file. Every cell is read and written, records and texts
// are appended and the table is saved.
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/MemoryFileSystem.h"
#include "resources/DataBaseResource.h"

#include <algorithm>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const char* path = (data[0] & 1) ? "table.csv" : "table.dat";
    quarn::MemoryFileSystem files;
    quarn::FileSystem* previous = quarn::GetFileSystem();
    quarn::SetFileSystem(&files);
    files.Add(path, std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    quarn::DataBaseResource table(path, nullptr);
    // Declared records beyond those listed read as zeros; a few hundred show that.
    const auto records = static_cast<int32_t>(std::min(table.GetRecordCount(), 300u));
    const auto fields = static_cast<int32_t>(std::min(table.GetFieldCount(), 300u));
    for (int32_t record = -1; record <= records; ++record) {
        for (int32_t field = -1; field <= fields; ++field) {
            table.GetStringValue(record, field);
            table.GetValuePointer(record, field);
            table.SetValueText(record, field, (record + field) % 2 ? "a longer text" : "TRUE");
        }
    }
    table.AddRecord();
    table.AppendString("appended");
    table.SaveToFile("out.csv");
    quarn::SetFileSystem(previous);
    return 0;
}
