#include "resources/DataBaseResource.h"

#include "core/debug/Log.h"
#include "core/filesystem/FileReader.h"
#include "core/filesystem/FileSystem.h"
#include "core/io/Tokenizer.h"
#include "core/object/ValueBinding.h"
#include "core/object/ValueType.h"
#include "core/string/NumberText.h"
#include "core/string/Text.h"
#include "resources/ResourceRegistry.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace quarn {

namespace {

// Pool offsets are signed 32-bit words in the record table.
constexpr uint64_t MaxPoolBytes = 0x7FFFFFFF;
// Extra room the pool keeps, so small edits do not move it each time.
constexpr uint32_t PoolSlack = 1024;
// AddRecord moves the pool only when fewer bytes than this are left after the last text.
constexpr uint32_t RecordRoom = 128;
// Longest text SetValueText stores in a string field.
constexpr size_t MaxSetText = 31;

bool IsSeparator(uint8_t byte) {
    return byte == ';' || byte == '\t';
}

bool IsLineEnd(uint8_t byte) {
    return byte == '\n' || byte == '\r';
}

bool IsInPlaceText(int32_t type) {
    return type == TypeString || type == TypeString64 || type == TypeString64Alias;
}

// A header or record value: double quotes removed and the blank after the '=' dropped.
std::string Unquoted(std::string value) {
    RemoveCharFromString(value, '"');
    if (!value.empty()) {
        value.erase(0, 1);
    }
    return value;
}

// Copies at most `limit` bytes of the text and a zero into a slot of `size` bytes.
void StoreSlotText(uint32_t* slot, uint32_t size, std::string_view text, size_t limit) {
    if (size == 0) {
        return;
    }
    const size_t length = std::min({text.size(), limit, static_cast<size_t>(size - 1)});
    char* bytes = reinterpret_cast<char*>(slot);
    std::memcpy(bytes, text.data(), length);
    bytes[length] = '\0';
}

// Appends a cell so that the reader gives back `cell`: its text up to the first quote inside
// a quoted part that starts the cell (separators and line ends kept), the rest as it is. A
// quoted part later in a cell keeps its quotes, so the rest reads back unchanged when its
// quotes pair up and nothing between two pairs ends the cell; only the file's last cell may
// end in an open quote, which runs to the end of the file. False where no writing reads back
// the same. An only cell that is empty is written as "", or it would read back as no cell.
bool AppendCell(std::string& out, std::string_view cell, bool only, bool lastInFile) {
    if (cell.empty()) {
        out += only ? "\"\"" : "";
        return true;
    }
    const size_t first = std::min(cell.find('"'), cell.size());
    bool paired = true;
    for (size_t at = first; at < cell.size(); ++at) {
        if (cell[at] == '"') {
            paired = !paired;
        } else if (paired && (IsSeparator(uint8_t(cell[at])) || IsLineEnd(uint8_t(cell[at])))) {
            return false;
        }
    }
    if (!paired && !lastInFile) {
        return false;
    }
    out.append("\"").append(cell.substr(0, first)).append("\"").append(cell.substr(first));
    return true;
}

} // namespace

struct DataBaseResource::Header {
    int32_t keyFields[2] = {0, 0}; // 1-based field numbers
    int32_t keyRanges[2] = {0, 0};
    int32_t records = 0;
    uint32_t keys = 0;
    uint64_t recordBytes = 0;
};

DataBaseResource::DataBaseResource(const char* path, const char* options)
    : Resource(path, options) {
    if (path && *path) {
        LoadFromFile(GetFullPath());
    }
}

void DataBaseResource::Clear() {
    keyCount_ = 0;
    keySymmetry_ = false;
    textMode_ = false;
    utf8Signature_ = false;
    slotSize_ = DefaultStringSlot;
    recordWords_ = 0;
    values_ = {};
    pool_ = {};
    fieldNames_.clear();
    fieldTypes_.clear();
    fieldOffsets_.clear();
    records_.clear();
    recordFieldCounts_.clear();
    cellStarts_.clear();
    firstCells_.clear();
}

void DataBaseResource::Unload() {
    Clear();
}

bool DataBaseResource::Load() {
    return LoadFromFile(GetFullPath());
}

std::vector<std::string> DataBaseResource::GetLoadableExtensions() {
    return {"csv", "data"};
}

bool DataBaseResource::LoadFromFile(const char* path) {
    Clear();
    SetState(ResourceLoaded);
    FileReader reader;
    if (!path || !reader.Open(path, true, false)) {
        return false;
    }
    try {
        if (CompareNoCase(GetPathExtension(path).c_str(), "csv") == 0) {
            ReadTextTable(reader.ReadRemaining());
        } else {
            ReadTypedTable(reader);
        }
    } catch (const std::bad_alloc&) {
        Clear();
        LogMessage("Database \"%s\" is not loaded: there is not enough memory for it",
                   GetFullPath());
        SetState(ResourceFailed);
        reader.Close();
        return false;
    }
    UpdateFileTime();
    reader.Close();
    return true;
}

uint32_t DataBaseResource::GetDataSize() const {
    return textMode_ ? static_cast<uint32_t>(pool_.size())
                     : static_cast<uint32_t>(values_.size() * sizeof(uint32_t));
}

const std::string& DataBaseResource::GetFieldName(uint32_t field) const {
    static const std::string none;
    return field < fieldNames_.size() ? fieldNames_[field] : none;
}

int32_t DataBaseResource::GetFieldType(uint32_t field) const {
    return field < fieldTypes_.size() ? fieldTypes_[field] : TypeVoid;
}

uint32_t DataBaseResource::GetRecordFieldCount(int32_t record) const {
    if (!textMode_ || record < 0 || static_cast<uint32_t>(record) >= records_.size()) {
        return 0;
    }
    return recordFieldCounts_[static_cast<uint32_t>(record)];
}

uint32_t DataBaseResource::GetFieldBytes(uint32_t field) const {
    const int32_t type = fieldTypes_[field];
    if (type == TypeString) {
        return slotSize_;
    }
    return 4 * static_cast<uint32_t>(GetTypeWordCount(type));
}

void DataBaseResource::ReportIntegrityFailure(const char* reason) const {
    LogMessage("Database \"%s\" integrity failure: %s", GetFullPath(), reason);
}

// Text tables ----------------------------------------------------------------------------------

void DataBaseResource::ReadTextTable(const std::vector<uint8_t>& bytes) {
    if (bytes.size() + PoolSlack > MaxPoolBytes) {
        LogMessage("Database \"%s\" holds %zu bytes, more than a text table takes", GetFullPath(),
                   bytes.size());
        SetState(ResourceFailed);
        return;
    }
    textMode_ = true;
    const size_t size = bytes.size();
    size_t at = 0;
    if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        utf8Signature_ = true;
        at = 3;
    }
    // Cells never take more bytes than the file: each one's zero replaces the separator or
    // line end that closed it, bar one at the very end.
    std::vector<char> pool;
    pool.reserve(size + PoolSlack);
    uint32_t widest = 0;
    // Whether every line so far is one cell holding a comma: a table written with commas.
    bool commaLines = false;
    bool onlyCommaLines = true;
    while (at < size) {
        records_.push_back(static_cast<uint32_t>(pool.size()));
        firstCells_.push_back(static_cast<uint32_t>(cellStarts_.size()));
        uint32_t cells = 0;
        // An empty line is a record without fields; a separator before a line end or the end
        // of the file opens one more, empty, cell.
        bool more = !IsLineEnd(bytes[at]);
        while (more) {
            const size_t cellStart = at;
            cellStarts_.push_back(static_cast<uint32_t>(pool.size()));
            while (at < size && !IsSeparator(bytes[at]) && !IsLineEnd(bytes[at])) {
                if (bytes[at] != '"') {
                    pool.push_back(static_cast<char>(bytes[at++]));
                    continue;
                }
                const bool keepQuotes = at != cellStart;
                const auto* close = static_cast<const uint8_t*>(
                    std::memchr(bytes.data() + at + 1, '"', size - at - 1));
                const size_t end = close ? static_cast<size_t>(close - bytes.data()) : size;
                if (!close) {
                    const auto line =
                        1 + std::count(bytes.begin(), bytes.begin() + ptrdiff_t(at), '\n');
                    LogMessage("Database \"%s\": the quote on line %td is never closed; the rest "
                               "of the file is read as one text",
                               GetFullPath(), line);
                }
                if (keepQuotes) {
                    pool.push_back('"');
                }
                pool.insert(pool.end(), bytes.begin() + static_cast<ptrdiff_t>(at + 1),
                            bytes.begin() + static_cast<ptrdiff_t>(end));
                if (keepQuotes && close) {
                    pool.push_back('"');
                }
                at = close ? end + 1 : size;
            }
            pool.push_back('\0');
            ++cells;
            more = at < size && IsSeparator(bytes[at]);
            at += more ? 1 : 0;
        }
        // LF or CR, each optionally followed by the other.
        if (at < size) {
            const uint8_t end = bytes[at++];
            if (at < size && IsLineEnd(bytes[at]) && bytes[at] != end) {
                ++at;
            }
        }
        recordFieldCounts_.push_back(cells);
        widest = std::max(widest, cells);
        if (cells == 1) {
            const bool comma =
                std::find(pool.begin() + records_.back(), pool.end(), ',') != pool.end();
            commaLines = commaLines || comma;
            onlyCommaLines = onlyCommaLines && comma;
        }
    }
    if (commaLines && onlyCommaLines && widest == 1) {
        LogMessage("Database \"%s\": every line is one field holding commas; a text table's "
                   "fields are separated by ';' or tabs, not commas",
                   GetFullPath());
    }
    pool.resize(std::max(pool.size(), size + PoolSlack));
    pool_ = std::move(pool);
    fieldTypes_.assign(widest, TypeString);
}

uint32_t DataBaseResource::TextEnd() const {
    if (records_.empty()) {
        return 0;
    }
    if (recordFieldCounts_.back() == 0) {
        return records_.back();
    }
    const uint32_t last = cellStarts_.back();
    return static_cast<uint32_t>(last + std::strlen(pool_.data() + last) + 1);
}

uint32_t DataBaseResource::CellStart(uint32_t record, uint32_t field) const {
    return cellStarts_[firstCells_[record] + field];
}

void DataBaseResource::ReservePool(uint32_t capacity) {
    if (textMode_ && capacity > pool_.size()) {
        pool_.resize(capacity);
    }
}

bool DataBaseResource::GrowPool(uint64_t capacity) {
    if (capacity > MaxPoolBytes) {
        LogMessage("Database \"%s\": the text pool cannot grow to %llu bytes", GetFullPath(),
                   static_cast<unsigned long long>(capacity));
        return false;
    }
    ReservePool(static_cast<uint32_t>(capacity));
    return true;
}

int32_t DataBaseResource::AddRecord() {
    if (!textMode_) {
        if (!records_.empty() || !fieldTypes_.empty()) {
            return -1;
        }
        textMode_ = true;
    }
    const uint32_t position = TextEnd();
    if (pool_.empty() || uint64_t{position} + RecordRoom > pool_.size()) {
        if (!GrowPool(uint64_t{position} + PoolSlack)) {
            return -1;
        }
    }
    pool_[position] = '\0';
    records_.push_back(position);
    recordFieldCounts_.push_back(0);
    firstCells_.push_back(static_cast<uint32_t>(cellStarts_.size()));
    return static_cast<int32_t>(records_.size() - 1);
}

int32_t DataBaseResource::AppendString(const char* text) {
    if (!textMode_ || records_.empty()) {
        return 0;
    }
    const std::string copy = text ? text : ""; // the text may lie in the pool, which may move
    const uint32_t end = TextEnd();
    const uint64_t needed = copy.size() + 1;
    if (end + needed > pool_.size() && !GrowPool(pool_.size() + needed + PoolSlack)) {
        return 0;
    }
    std::memcpy(pool_.data() + end, copy.c_str(), needed);
    cellStarts_.push_back(end);
    return static_cast<int32_t>(recordFieldCounts_.back()++);
}

bool DataBaseResource::WriteText(std::string& text) const {
    for (size_t record = 0; record < records_.size(); ++record) {
        if (record > 0) {
            text += '\n';
        }
        const uint32_t count = recordFieldCounts_[record];
        for (uint32_t field = 0; field < count; ++field) {
            if (field > 0) {
                text += ';';
            }
            const bool last = record + 1 == records_.size() && field + 1 == count;
            const std::string_view cell = pool_.data() + CellStart(uint32_t(record), field);
            if (!AppendCell(text, cell, count == 1, last)) {
                LogMessage("Database \"%s\" is not saved: the text of record %zu, field %u holds "
                           "quotes that would not read back as they are",
                           GetFullPath(), record, field);
                return false;
            }
        }
    }
    return true;
}

void DataBaseResource::SaveToFile(const char* path) {
    if (!path) {
        return;
    }
    if (!textMode_ || CompareNoCase(GetPathExtension(path).c_str(), "csv") != 0) {
        LogMessage("Database \"%s\" is not saved to \"%s\": only a text table saves, and only to "
                   "a \".csv\" file",
                   GetFullPath(), path);
        return;
    }
    std::string text;
    if (!WriteText(text)) {
        return;
    }
    ForwardingOutputStream out;
    bool written = out.Open(path, 0) &&
                   out.Write(text.data(), static_cast<uint32_t>(text.size())) == text.size();
    // The file system puts the file in place only when everything arrived.
    written = out.Close() && written;
    if (!written && TellWriteFailure()) {
        LogMessage("Database \"%s\" could not be written whole to \"%s\"%s; the file is left as "
                   "it was",
                   GetFullPath(), path, FileFailureSuffix().c_str());
    }
}

// Typed tables ---------------------------------------------------------------------------------

void DataBaseResource::ReadTypedTable(File& file) {
    Tokenizer tokenizer;
    Header header;
    std::string reason = ReadHeader(file, tokenizer, header);
    if (reason.empty()) {
        reason = CheckHeader(header);
    }
    if (!reason.empty()) {
        ReportIntegrityFailure(reason.c_str());
        SetState(ResourceFailed);
        return;
    }
    ReadRecords(file, tokenizer, header);
}

std::string DataBaseResource::ReadHeader(File& file, Tokenizer& tokenizer, Header& header) {
    std::string value;
    auto next = [&]() { return tokenizer.ReadLineSkippingComments(value, file); };
    if (!next()) {
        return "Invalid header";
    }
    const int32_t fields = ParseInt32(value.c_str());
    // The slot size comes only when its key is the next word.
    while (tokenizer.Next(file) == '#') {
        file.ReadUntil(nullptr, 0, '\n');
    }
    tokenizer.PushBack();
    if (tokenizer.GetKind() == TokenIdentifier && tokenizer.GetText() == "max_string_length") {
        next();
        const int32_t slot = ParseInt32(value.c_str());
        if (slot < 0 || static_cast<uint32_t>(slot) > MaxStringSlot) {
            return "Invalid header";
        }
        // Whole words, so that every field starts on one.
        slotSize_ = (static_cast<uint32_t>(slot) + 3) & ~3u;
    }
    // The field lists grow with the lines that arrive, whatever count the header gave.
    for (int32_t field = 0; field < fields; ++field) {
        if (!next()) {
            return "Invalid header";
        }
        fieldNames_.push_back(Unquoted(value));
        if (!next()) {
            return "Invalid header";
        }
        fieldTypes_.push_back(GetTypeByName(Unquoted(value).c_str()));
        fieldOffsets_.push_back(static_cast<uint32_t>(header.recordBytes / 4));
        header.recordBytes += GetFieldBytes(static_cast<uint32_t>(field));
        if (header.recordBytes > MaxTableBytes) {
            return "Invalid header";
        }
    }
    if (!next()) {
        return "Invalid header";
    }
    header.keys = static_cast<uint32_t>(ParseInt32(value.c_str()));
    if (header.keys > 2) {
        return "Max 2 keys";
    }
    for (int32_t* numbers : {header.keyFields, header.keyRanges}) {
        for (uint32_t key = 0; key < header.keys; ++key) {
            if (!next()) {
                return "Invalid header";
            }
            numbers[key] = ParseInt32(value.c_str());
        }
    }
    if (!next()) {
        return "Invalid header";
    }
    keySymmetry_ = value.find("true") != std::string::npos;
    if (!next()) {
        return "Invalid header";
    }
    header.records = ParseInt32(value.c_str());
    return {};
}

std::string DataBaseResource::CheckHeader(const Header& header) {
    uint64_t entries = header.records < 0 ? 0 : static_cast<uint64_t>(header.records);
    if (header.keys > 0) {
        entries = 1;
    }
    for (uint32_t key = 0; key < header.keys; ++key) {
        const int32_t field = header.keyFields[key];
        if (field <= 0 || static_cast<uint32_t>(field) > fieldTypes_.size()) {
            return "Invalid key";
        }
        if (fieldTypes_[static_cast<uint32_t>(field - 1)] != TypeInt) {
            return "Key must be integer";
        }
        if (header.keyRanges[key] < 0) {
            return "Invalid header";
        }
        // Both ranges are below 2^31, so the product stays within 64 bits.
        entries *= static_cast<uint64_t>(header.keyRanges[key]);
    }
    if (header.records < 0) {
        return "Invalid header";
    }
    if (entries * sizeof(uint32_t) > MaxTableBytes) {
        return header.keys > 0 ? "Key range too large" : "Invalid header";
    }
    // A file may list fewer records than it declares; the rest read as zeros.
    if (static_cast<uint64_t>(header.records) * header.recordBytes > MaxTableBytes) {
        return "Invalid header";
    }
    keyCount_ = header.keys;
    for (uint32_t key = 0; key < header.keys; ++key) {
        keyFields_[key] = static_cast<uint32_t>(header.keyFields[key] - 1);
        keyRanges_[key] = static_cast<uint32_t>(header.keyRanges[key]);
    }
    recordWords_ = static_cast<uint32_t>(header.recordBytes / 4);
    values_.assign(static_cast<size_t>(header.records) * recordWords_, 0);
    records_.assign(entries, 0);
    if (keyCount_ == 0) {
        for (uint32_t record = 0; record < records_.size(); ++record) {
            records_[record] = record * recordWords_;
        }
    }
    return {};
}

void DataBaseResource::ReadRecords(File& file, Tokenizer& tokenizer, const Header& header) {
    bool reported = false;
    auto reportOutOfRange = [&]() {
        if (!reported) {
            ReportIntegrityFailure("Key out of range");
            reported = true;
        }
    };
    std::string line;
    for (uint32_t record = 0; record < static_cast<uint32_t>(header.records); ++record) {
        do {
            file.ReadLineString(line);
        } while (!line.empty() && line[0] == '#');
        if (line.find("record") == std::string::npos) {
            return;
        }
        const uint32_t offset = record * recordWords_;
        for (uint32_t field = 0; field < fieldTypes_.size(); ++field) {
            if (!tokenizer.ReadLineSkippingComments(line, file)) {
                return;
            }
            StoreTypedValue(values_.data() + offset + fieldOffsets_[field], field, line);
        }
        file.ReadLineString(line); // the line that closes the record
        if (keyCount_ == 0) {
            continue;
        }
        auto key = [&](uint32_t index) {
            return static_cast<int32_t>(values_[offset + fieldOffsets_[keyFields_[index]]]);
        };
        const int64_t k1 = key(0);
        const int64_t k2 = keyCount_ == 2 ? key(1) : 0;
        const int64_t range1 = keyRanges_[0];
        const int64_t range2 = keyCount_ == 2 ? keyRanges_[1] : 1;
        if (k1 < 0 || k1 >= range1 || k2 < 0 || k2 >= range2) {
            reportOutOfRange();
            continue;
        }
        records_[static_cast<size_t>(k1 + range1 * k2)] = offset;
        // Symmetry means one record for (k1, k2) and (k2, k1); with one key there is no pair.
        if (keySymmetry_ && keyCount_ == 2) {
            if (k2 < range1 && k1 < range2) {
                records_[static_cast<size_t>(k2 + range1 * k1)] = offset;
            } else {
                reportOutOfRange();
            }
        }
    }
}

void DataBaseResource::StoreTypedValue(uint32_t* slot, uint32_t field, const std::string& text) {
    const int32_t type = fieldTypes_[field];
    if (IsInPlaceText(type)) {
        StoreSlotText(slot, GetFieldBytes(field), Unquoted(text), SIZE_MAX);
        return;
    }
    switch (type) {
    case TypeInt:
        slot[0] = static_cast<uint32_t>(ParseInt32(text.c_str()));
        break;
    case TypeFloat:
        slot[0] = FloatToWord(ParseFloat(text.c_str()));
        break;
    case TypeBool:
        slot[0] = text.find("true") != std::string::npos ? 1 : 0;
        break;
    default: {
        // The value type's own text form, into as many words as the type has; a blank
        // would start a list with an empty part.
        uint32_t words[MaxValueWords] = {};
        ParseTypedValue(type, text.c_str() + std::min(text.find_first_not_of(' '), text.size()),
                        words);
        if (const uint32_t bytes = GetFieldBytes(field)) { // a void field has no slot at all
            std::memcpy(slot, words, bytes);
        }
        break;
    }
    }
}

// Access ---------------------------------------------------------------------------------------

int32_t DataBaseResource::CombineKeys(int32_t k1, int32_t k2) const {
    const int64_t index = keyCount_ == 2 ? int64_t{k1} + int64_t{keyRanges_[0]} * k2 : k1;
    return index >= INT32_MIN && index <= INT32_MAX ? static_cast<int32_t>(index) : -1;
}

uint32_t* DataBaseResource::GetValuePointer(int32_t record, int32_t field) {
    return const_cast<uint32_t*>(FindValue(record, field));
}

const uint32_t* DataBaseResource::FindValue(int32_t record, int32_t field) const {
    if (textMode_ || record < 0 || static_cast<uint32_t>(record) >= records_.size() || field < 0 ||
        static_cast<uint32_t>(field) >= fieldTypes_.size()) {
        return nullptr;
    }
    const uint32_t bytes = GetFieldBytes(static_cast<uint32_t>(field));
    // A keyed table declaring no records points its entries at a record that is not there.
    const size_t at = size_t{records_[static_cast<uint32_t>(record)]} +
                      fieldOffsets_[static_cast<uint32_t>(field)];
    if (bytes == 0 || at + bytes / 4 > values_.size()) {
        return nullptr;
    }
    return values_.data() + at;
}

std::string_view DataBaseResource::GetStringValue(int32_t record, int32_t field) const {
    if (record < 0 || static_cast<uint32_t>(record) >= records_.size() || field < 0) {
        return {};
    }
    const auto index = static_cast<uint32_t>(record);
    if (!textMode_) {
        const uint32_t* value = FindValue(record, field);
        if (!value) {
            return {};
        }
        const char* bytes = reinterpret_cast<const char*>(value);
        return {bytes, strnlen(bytes, GetFieldBytes(static_cast<uint32_t>(field)))};
    }
    if (static_cast<uint32_t>(field) >= recordFieldCounts_[index]) {
        return {};
    }
    return pool_.data() + CellStart(index, static_cast<uint32_t>(field));
}

void DataBaseResource::SetValueText(int32_t record, int32_t field, const char* text) {
    if (!text) {
        text = "";
    }
    if (!textMode_) {
        uint32_t* value = GetValuePointer(record, field);
        if (!value) {
            return;
        }
        switch (fieldTypes_[static_cast<uint32_t>(field)]) {
        case TypeInt:
            value[0] = static_cast<uint32_t>(ParseInt32(text));
            break;
        case TypeFloat:
            value[0] = FloatToWord(ParseFloat(text));
            break;
        case TypeBool:
            value[0] = CompareNoCase(text, "true") == 0 ? 1 : 0;
            break;
        case TypeString:
            StoreSlotText(value, slotSize_, text, MaxSetText);
            break;
        default:
            break;
        }
        return;
    }
    if (record < 0 || static_cast<uint32_t>(record) >= records_.size() || field < 0 ||
        static_cast<uint32_t>(field) >= recordFieldCounts_[static_cast<uint32_t>(record)]) {
        return;
    }
    const std::string copy = text; // the text may lie in the pool, which may move
    const size_t cell = firstCells_[static_cast<uint32_t>(record)] + static_cast<uint32_t>(field);
    const size_t at = cellStarts_[cell];
    const size_t oldLength = std::strlen(pool_.data() + at);
    const size_t end = TextEnd();
    if (copy.size() > oldLength &&
        !GrowPool(pool_.size() + (copy.size() - oldLength) + PoolSlack)) {
        return;
    }
    // The texts after this one, from its zero on, move by the length difference.
    std::memmove(pool_.data() + at + copy.size(), pool_.data() + at + oldLength,
                 end - at - oldLength);
    std::memcpy(pool_.data() + at, copy.data(), copy.size());
    const auto shift = static_cast<uint32_t>(copy.size() - oldLength); // modulo 2^32
    for (size_t later = static_cast<size_t>(record) + 1; later < records_.size(); ++later) {
        records_[later] += shift;
    }
    for (size_t later = cell + 1; later < cellStarts_.size(); ++later) {
        cellStarts_[later] += shift;
    }
}

DataBaseResource* GetDataBase(const char* path, const char* options) {
    return AcquireResource<DataBaseResource>(path, options);
}

} // namespace quarn
