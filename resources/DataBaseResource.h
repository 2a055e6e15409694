#pragma once

#include "resources/Resource.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quarn {

class File;
class Tokenizer;

// A table of records with named fields, read from one of two formats.
//
// ".csv" (without case): a text table whose cells are separated by ';' or tab. Every value is
// a text in one pool, each record a run of zero-terminated texts; records may differ in their
// number of fields. A quoted part that starts a cell loses its quotes and keeps separators and
// line ends; a quoted part later in the cell keeps both quotes. Doubled quotes are not
// unescaped. It saves back as ';'-separated lines of texts quoted so that they read back the
// same; a save that cannot keep a text (an odd number of quotes) is refused.
//
// Any other extension: a typed table. A header of "key = value" lines taken by position (the
// keys are never compared): fields, an optional max_string_length, a name and a type per
// field, keys, the key fields, the key ranges, key_symmetry, records. Then each record: a line
// holding "record", one value line per field, one closing line. Values live in a table of
// 32-bit words; a string field is a slot of max_string_length bytes (rounded up to whole
// words) holding a zero-terminated text. With one or two int keys the record index is
// CombineKeys(k1, k2) over the product of the key ranges; index entries no record fills point
// at record 0.
//
// Both classes of table answer scripts as "ResourceRef".
class DataBaseResource : public Resource {
public:
    // Header numbers are checked against these before anything is allocated.
    static constexpr uint64_t MaxTableBytes = 256ull << 20;
    static constexpr uint32_t MaxStringSlot = 64u << 10;
    static constexpr uint32_t DefaultStringSlot = 32;

    DataBaseResource(const char* path, const char* options);

    // A text table's and a typed table's, which may take any extension but ".csv".
    static std::vector<std::string> GetLoadableExtensions();

    // False only when the file does not open; an integrity failure is logged as
    // "Database \"path\" integrity failure: reason" and leaves the fields as read and no
    // records.
    bool LoadFromFile(const char* path) override;
    bool Load() override;
    void Unload() override;
    // Writes a text table to a ".csv" path; anything else, and a text the format cannot carry,
    // is refused with a log line and leaves the file as it was.
    void SaveToFile(const char* path) override;
    // Bytes held for the values: the value table, or the text pool's capacity.
    uint32_t GetDataSize() const override;

    bool IsTextMode() const { return textMode_; }
    bool HasUtf8Signature() const { return utf8Signature_; }
    uint32_t GetRecordCount() const { return static_cast<uint32_t>(records_.size()); }
    uint32_t GetFieldCount() const { return static_cast<uint32_t>(fieldTypes_.size()); }
    // Empty in text mode, which has no names.
    const std::string& GetFieldName(uint32_t field) const;
    // A value type id (ValueType.h); TypeVoid for a field out of range.
    int32_t GetFieldType(uint32_t field) const;
    uint32_t GetKeyCount() const { return keyCount_; }
    // Texts in the record, in text mode; 0 otherwise and for a record out of range.
    uint32_t GetRecordFieldCount(int32_t record) const;

    // The record index of key values: k1 + key 1 range x k2 with two keys, else k1; -1 when
    // that is no 32-bit index.
    int32_t CombineKeys(int32_t k1, int32_t k2) const;
    // The first word of a typed value; null in text mode and for a record or field out of
    // range, which the callers answer as 0.
    uint32_t* GetValuePointer(int32_t record, int32_t field);
    // A text value, or a typed field's bytes up to its first zero within its own slot. Empty
    // out of range. Valid until the table next changes.
    std::string_view GetStringValue(int32_t record, int32_t field) const;
    // Stores a value given as text: typed by the field's type (bools are "true" without case,
    // strings cut at the smaller of 31 bytes and the slot); in text mode it replaces the text.
    // Nothing out of range.
    void SetValueText(int32_t record, int32_t field, const char* text);
    // Text mode: a new empty record after the last one; its index. A typed table answers -1
    // and is left as it was; an empty table becomes a text table.
    int32_t AddRecord();
    // Text mode: the text as one more field of the last record; its field index. 0 without a
    // record and on a typed table, which then stays as it was.
    int32_t AppendString(const char* text);
    // Text mode: grows the pool to `capacity` bytes when it holds fewer.
    void ReservePool(uint32_t capacity);

private:
    struct Header;

    void Clear();
    void ReadTextTable(const std::vector<uint8_t>& bytes);
    void ReadTypedTable(File& file);
    // Each gives the reason of the integrity failure that stops the load, or the empty text.
    std::string ReadHeader(File& file, Tokenizer& tokenizer, Header& header);
    // Makes the tables once the header's numbers are found sound.
    std::string CheckHeader(const Header& header);
    void ReadRecords(File& file, Tokenizer& tokenizer, const Header& header);
    void StoreTypedValue(uint32_t* slot, uint32_t field, const std::string& text);
    const uint32_t* FindValue(int32_t record, int32_t field) const;
    void ReportIntegrityFailure(const char* reason) const;
    uint32_t GetFieldBytes(uint32_t field) const;
    // Byte offset just after the last text of the last record.
    uint32_t TextEnd() const;
    // ReservePool, or a log line and false when the pool cannot grow that far.
    bool GrowPool(uint64_t capacity);
    // The table as text, or false with a log line when some text would read back otherwise.
    bool WriteText(std::string& text) const;
    // Text mode: the pool offset of a cell.
    uint32_t CellStart(uint32_t record, uint32_t field) const;

    uint32_t keyCount_ = 0;
    uint32_t keyFields_[2] = {0, 0};
    uint32_t keyRanges_[2] = {0, 0};
    bool keySymmetry_ = false;
    bool textMode_ = false;
    bool utf8Signature_ = false;
    uint32_t slotSize_ = DefaultStringSlot;
    uint32_t recordWords_ = 0;
    // Typed mode: the value table. Text mode: the text pool, its size the capacity.
    std::vector<uint32_t> values_;
    std::vector<char> pool_;
    std::vector<std::string> fieldNames_;
    std::vector<int32_t> fieldTypes_;
    std::vector<uint32_t> fieldOffsets_; // in words
    // Typed mode: each record's offset in the value table in words; text mode: the byte
    // offset of its first text in the pool.
    std::vector<uint32_t> records_;
    std::vector<uint32_t> recordFieldCounts_; // text mode only
    // Text mode: every cell's byte offset in the pool, record after record, and the index of
    // each record's first cell there, so that a field is found without walking its record.
    std::vector<uint32_t> cellStarts_;
    std::vector<uint32_t> firstCells_;
};

// Acquires a table by path and options (see AcquireResource).
DataBaseResource* GetDataBase(const char* path, const char* options);

} // namespace quarn
