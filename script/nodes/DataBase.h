#pragma once

#include "core/scene/Node.h"

#include <cstdint>
#include <unordered_set>

namespace quarn {

class DataBaseResource;

// A table resource ("database:data") offered to scripts: counts, a case-blind search, values
// by record and field, and, for text tables, new records and texts. A text cell (every cell of
// a ".csv" table, a string field of a typed one) answers GetInt and GetFloat with the number
// its text holds, and 0 with a log line (once a cell) when it holds none. A negative record
// leaves a value method's result word as the caller had it.
class DataBase : public Node {
public:
    DataBase();
    ~DataBase() override;

    const char* GetDataPath() const;
    // Acquires the table; a different one replaces the held one and sends "propertychange".
    void SetDataPath(const char* path);
    DataBaseResource* GetTable() const { return table_; }

    int32_t GetRecordCount() const;
    int32_t GetFieldCount() const;
    // The first record whose text in the field equals `text` ignoring ASCII case; -1 for none.
    int32_t FindRecord(int32_t field, const char* text) const;
    int32_t CombineKeys(int32_t key1, int32_t key2) const;
    // Block methods: (record, field) in words 1 and 2, the value to word 0.
    void GetIntValue(uint32_t* block);
    void GetBoolValue(uint32_t* block);
    void GetFloatValue(uint32_t* block);
    void GetStringValue(uint32_t* block);
    // Text tables only: -1 and 0 elsewhere, the table unchanged.
    int32_t AddRecord();
    int32_t AppendString(const char* text);
    void SetValueText(int32_t record, int32_t field, const char* text);
    // Through the table's own save, which writes text tables only.
    void Save();
    int32_t CheckRecord(int32_t) const { return 0; }

    PathString GetDescription() const override;
    Entity* GetResource() const override;
    ClassInfo* GetClass() const override { return classInfo; }
    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    // The typed value's word for a value method's block; null answers 0. False when the record
    // is negative and the result must stay as it is.
    bool FindValueWord(const uint32_t* block, const uint32_t*& word) const;
    // Whether the block's cell is a text that exists.
    bool IsTextCell(const uint32_t* block) const;
    // The number the block's text cell holds, as an int (`whole`) or a float word.
    uint32_t ReadTextNumber(const uint32_t* block, bool whole);

    DataBaseResource* table_ = nullptr; // one counted reference
    // Cells (record << 32 | field) already logged as holding no number.
    std::unordered_set<uint64_t> toldCells_;
};

} // namespace quarn
