#pragma once

#include "core/math/Vector.h"
#include "core/scene/Node.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quarn {

// A sparse three-dimensional grid of objects for scripts, each object a few 32-bit fields read
// as int or float. Objects are numbered from 1; number 0 stands for none and, in field access,
// for the 32-word global row. The live objects are the first `count` entries of the position
// list, so removing one moves the last live object into its place.
//
// The "GR" file (little-endian): magic "GR", version 1, size x y z, signed offset x y z, field
// count, capacity, save mask (bit f: field f is saved), object count N, all 16 bits; then per
// live object in position-list order its cell index (16 bits) and its saved fields (32 bits
// each); then the global count 32 (16 bits) and the 128-byte global row. Sizes and cell indexes
// have 16 bits, so a grid that does not fit is refused on save rather than written as another.
class GridData : public Node {
public:
    static constexpr int32_t MaxFields = 8;
    static constexpr int32_t GlobalFields = 32;
    // Limit of cells and of objects, so a script's typo cannot ask for gigabytes.
    static constexpr int64_t MaxCells = 16 << 20;
    static constexpr int64_t MaxCapacity = 16 << 20;
    // What the file's 16-bit cell index can address.
    static constexpr int64_t MaxFileCells = 65536;

    GridData();

    // Refuses (logged, nothing changed) a negative size or more than MaxCells cells; the new
    // cell table is empty.
    void SetSize(Int3 size);
    Int3 GetSize() const { return size_; }
    void SetOffset(Int3 offset) { offset_ = offset; }
    Int3 GetOffset() const { return offset_; }
    // 0..MaxFields. A new field count or capacity makes a new, empty object table.
    void SetFieldCount(int32_t count);
    int32_t GetFieldCount() const { return fieldCount_; }
    void SetCapacity(int32_t capacity);
    int32_t GetCapacity() const { return capacity_; }
    void Clear();

    // Logged and ignored when the file is missing or refused.
    void LoadFile(const char* path);
    // LoadFile, answering false with the reason instead of logging it.
    bool ReadFile(const char* path, std::string& reason);
    void SaveFile(const char* path);

    // Object number, 0 when the cell is empty or outside.
    int32_t GetObjectAt(Int3 position) const;
    void RemoveAt(Int3 position);
    // Object number, 0 outside the grid or when the capacity is reached.
    int32_t AddAt(Int3 position);
    int32_t GetObjectCount() const { return count_; }
    // (0, 0, 0) for a number that names no live object.
    Int3 GetObjectPosition(int32_t object) const;
    int32_t GetIntField(int32_t object, int32_t field) const;
    float GetFloatField(int32_t object, int32_t field) const;
    void SetIntField(int32_t object, int32_t field, int32_t value);
    void SetFloatField(int32_t object, int32_t field, float value);
    void SetSaveFlag(int32_t field, bool save);
    bool GetSaveFlag(int32_t field) const;
    // The object number at a place of the position list (0 .. count - 1).
    int32_t GetObjectInOrder(int32_t place) const;

    // -1 outside the grid.
    int64_t CellIndexOf(Int3 position) const;
    Int3 PositionOfCell(int64_t index) const;

    // The file's bytes, or false with the reason when the grid does not fit the format.
    bool WriteBytes(std::vector<uint8_t>& bytes, std::string& reason) const;
    // Replaces the grid by a file's content, or answers false with the reason of the first
    // field found wrong and leaves the grid as it was. A file with another magic is not a grid
    // file: false with the reason, the grid unchanged.
    bool ReadBytes(std::span<const uint8_t> bytes, std::string& reason);

    ClassInfo* GetClass() const override { return classInfo; }
    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    int32_t RowWords() const { return fieldCount_ + 2; }
    // The row's words, or null when the number names no live object (0 included).
    uint32_t* LiveRow(int32_t object);
    const uint32_t* LiveRow(int32_t object) const;
    // The field's word of an object or of the global row; null when out of range.
    uint32_t* FieldWord(int32_t object, int32_t field);
    const uint32_t* FieldWord(int32_t object, int32_t field) const;
    void MakeObjectTable();
    // Whether `table` may grow to `size` entries within the game's memory budget; refused with
    // the script's runtime error (or a log line) naming `what`.
    template <class Table>
    static bool MayGrow(const char* what, const Table& table, size_t size);
    bool MayHoldObjects(const char* what, int32_t capacity, int32_t fieldCount);

    Int3 size_;
    Int3 offset_;
    int32_t fieldCount_ = 0;
    int32_t capacity_ = 0;
    int32_t count_ = 0;
    // Rows of RowWords(): place in the position list, cell index (-1 when free), fields.
    std::vector<uint32_t> objects_;
    std::vector<int32_t> positions_;
    std::vector<int32_t> cells_;
    uint32_t global_[GlobalFields] = {};
    bool saveFlags_[MaxFields] = {true, true, true, true, true, true, true, true};
};

} // namespace quarn
