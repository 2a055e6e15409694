#include "script/nodes/GridData.h"

#include "core/debug/Log.h"
#include "core/filesystem/FileReader.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/ScriptFileAccess.h"
#include "core/io/ByteOrder.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/ValueBinding.h"
#include "core/os/EngineWork.h"
#include "script/machine/ScriptContext.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <utility>

namespace quarn {

ClassInfo* GridData::classInfo = nullptr;

namespace {

constexpr uint32_t FileVersion = 1;
constexpr size_t HeaderBytes = 24;
constexpr size_t GlobalRowBytes = GridData::GlobalFields * 4;
constexpr int32_t Max16 = 0xFFFF;

// Reads the file's little-endian fields in order; once a read runs past the end every later
// one fails too.
class GridFileCursor {
public:
    explicit GridFileCursor(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    bool Has(size_t count) const { return bytes_.size() - at_ >= count; }
    uint16_t Read16() {
        const uint16_t value = ReadLittleEndian16(bytes_.data() + at_);
        at_ += 2;
        return value;
    }
    uint32_t Read32() {
        const uint32_t value = ReadLittleEndian32(bytes_.data() + at_);
        at_ += 4;
        return value;
    }

private:
    std::span<const uint8_t> bytes_;
    size_t at_ = 0;
};

struct GridFileHeader {
    Int3 size;
    Int3 offset;
    int32_t fieldCount = 0;
    int32_t capacity = 0;
    uint32_t saveMask = 0;
    int32_t objectCount = 0;
};

GridFileHeader ReadHeader(GridFileCursor& cursor) {
    GridFileHeader header;
    cursor.Read16(); // magic, checked by the caller
    cursor.Read16(); // version: every version reads alike
    // One statement per field: the order of a call's arguments is unspecified.
    header.size.x = cursor.Read16();
    header.size.y = cursor.Read16();
    header.size.z = cursor.Read16();
    const auto signedWord = [&cursor] { return int32_t(int16_t(cursor.Read16())); };
    header.offset.x = signedWord();
    header.offset.y = signedWord();
    header.offset.z = signedWord();
    header.fieldCount = cursor.Read16();
    header.capacity = cursor.Read16();
    header.saveMask = cursor.Read16();
    header.objectCount = cursor.Read16();
    return header;
}

// Fields below the count whose save flag is set.
uint32_t SavedFieldMask(uint32_t saveMask, int32_t fieldCount) {
    return saveMask & ((1u << fieldCount) - 1);
}

} // namespace

GridData::GridData() = default;

void GridData::SetSize(Int3 size) {
    if (size.x < 0 || size.y < 0 || size.z < 0) {
        LogMessage("GridData: size %d,%d,%d refused: negative", size.x, size.y, size.z);
        return;
    }
    const int64_t cells = int64_t(size.x) * size.y * size.z;
    if (cells > MaxCells) {
        LogMessage("GridData: size %d,%d,%d refused: more than %lld cells", size.x, size.y, size.z,
                   static_cast<long long>(MaxCells));
        return;
    }
    if (!MayGrow("GridData.SetSize", cells_, size_t(cells))) {
        return;
    }
    size_ = size;
    // Filled at once: a look-up before the first clear must not read stale rows.
    cells_.assign(size_t(cells), -1);
    ChargeBytesScanned(cells_.size() * sizeof(int32_t));
}

void GridData::SetFieldCount(int32_t count) {
    if (count < 0 || count > MaxFields) {
        LogMessage("GridData: field count %d refused: 0 to %d fields", count, MaxFields);
        return;
    }
    if (!MayHoldObjects("GridData.SetFieldCount", capacity_, count)) {
        return;
    }
    fieldCount_ = count;
    MakeObjectTable();
}

void GridData::SetCapacity(int32_t capacity) {
    if (capacity < 0 || capacity > MaxCapacity) {
        LogMessage("GridData: capacity %d refused: 0 to %lld objects", capacity,
                   static_cast<long long>(MaxCapacity));
        return;
    }
    if (!MayHoldObjects("GridData.SetCapacity", capacity, fieldCount_)) {
        return;
    }
    capacity_ = capacity;
    MakeObjectTable();
}

template <class Table>
bool GridData::MayGrow(const char* what, const Table& table, size_t size) {
    const size_t grown = size > table.capacity() ? (size - table.capacity()) * sizeof(table[0]) : 0;
    if (grown == 0 || ScriptMayHold(what, grown)) {
        return true;
    }
    LogMessage("%s: refused: %zu more bytes would take the game past its memory budget", what,
               grown);
    return false;
}

bool GridData::MayHoldObjects(const char* what, int32_t capacity, int32_t fieldCount) {
    const size_t rows = size_t(capacity);
    return MayGrow(what, objects_, rows * size_t(fieldCount + 2)) &&
           MayGrow(what, positions_, rows);
}

void GridData::MakeObjectTable() {
    objects_.assign(size_t(capacity_) * size_t(RowWords()), 0);
    positions_.resize(size_t(capacity_));
    // The old objects are gone: no cell may keep pointing at a row.
    Clear();
}

void GridData::Clear() {
    ChargeBytesScanned((objects_.size() + cells_.size()) * sizeof(uint32_t));
    for (int32_t row = 0; row < capacity_; ++row) {
        positions_[size_t(row)] = row;
        uint32_t* words = objects_.data() + size_t(row) * size_t(RowWords());
        std::fill(words, words + RowWords(), 0u);
        words[0] = words[1] = uint32_t(-1);
    }
    std::fill(cells_.begin(), cells_.end(), -1);
    count_ = 0;
}

int64_t GridData::CellIndexOf(Int3 position) const {
    const int64_t x = int64_t(position.x) - offset_.x;
    const int64_t y = int64_t(position.y) - offset_.y;
    const int64_t z = int64_t(position.z) - offset_.z;
    if (x < 0 || y < 0 || z < 0 || x >= size_.x || y >= size_.y || z >= size_.z) {
        return -1;
    }
    return (int64_t(size_.y) * z + y) * size_.x + x;
}

Int3 GridData::PositionOfCell(int64_t index) const {
    if (size_.x <= 0 || size_.y <= 0) {
        return offset_;
    }
    return Int3(int32_t(index % size_.x) + offset_.x,
                int32_t(index / size_.x % size_.y) + offset_.y,
                int32_t(index / size_.x / size_.y) + offset_.z);
}

uint32_t* GridData::LiveRow(int32_t object) {
    return const_cast<uint32_t*>(std::as_const(*this).LiveRow(object));
}

const uint32_t* GridData::LiveRow(int32_t object) const {
    if (object < 1 || object > capacity_) {
        return nullptr;
    }
    const uint32_t* row = objects_.data() + size_t(object - 1) * size_t(RowWords());
    return int32_t(row[1]) < 0 ? nullptr : row;
}

uint32_t* GridData::FieldWord(int32_t object, int32_t field) {
    return const_cast<uint32_t*>(std::as_const(*this).FieldWord(object, field));
}

const uint32_t* GridData::FieldWord(int32_t object, int32_t field) const {
    if (object == 0) {
        return field >= 0 && field < GlobalFields ? &global_[field] : nullptr;
    }
    const uint32_t* row = LiveRow(object);
    return row && field >= 0 && field < fieldCount_ ? row + 2 + field : nullptr;
}

int32_t GridData::GetObjectAt(Int3 position) const {
    const int64_t cell = CellIndexOf(position);
    return cell < 0 ? 0 : cells_[size_t(cell)] + 1;
}

int32_t GridData::AddAt(Int3 position) {
    const int64_t cell = CellIndexOf(position);
    if (cell < 0) {
        return 0;
    }
    if (count_ >= capacity_) {
        LogMessage("GridData: add refused: all %d objects are in use", capacity_);
        return 0;
    }
    const int32_t row = positions_[size_t(count_)];
    uint32_t* words = objects_.data() + size_t(row) * size_t(RowWords());
    std::fill(words, words + RowWords(), 0u);
    words[0] = uint32_t(count_);
    words[1] = uint32_t(cell);
    // An occupied cell is not tested: it points at the new object and the old one stays
    // counted, reachable by number, and saved.
    cells_[size_t(cell)] = row;
    ++count_;
    return row + 1;
}

void GridData::RemoveAt(Int3 position) {
    const int64_t cell = CellIndexOf(position);
    if (cell < 0 || cells_[size_t(cell)] < 0) {
        return;
    }
    const int32_t row = cells_[size_t(cell)];
    uint32_t* words = objects_.data() + size_t(row) * size_t(RowWords());
    cells_[size_t(cell)] = -1;
    --count_;
    const int32_t place = int32_t(words[0]);
    if (place != count_) {
        const int32_t last = positions_[size_t(count_)];
        positions_[size_t(place)] = last;
        objects_[size_t(last) * size_t(RowWords())] = uint32_t(place);
    }
    positions_[size_t(count_)] = row;
    std::fill(words, words + RowWords(), 0u);
    words[0] = words[1] = uint32_t(-1);
}

Int3 GridData::GetObjectPosition(int32_t object) const {
    const uint32_t* row = LiveRow(object);
    return row ? PositionOfCell(int32_t(row[1])) : Int3();
}

int32_t GridData::GetObjectInOrder(int32_t place) const {
    return place >= 0 && place < count_ ? positions_[size_t(place)] + 1 : 0;
}

int32_t GridData::GetIntField(int32_t object, int32_t field) const {
    const uint32_t* word = FieldWord(object, field);
    return word ? int32_t(*word) : 0;
}

float GridData::GetFloatField(int32_t object, int32_t field) const {
    const uint32_t* word = FieldWord(object, field);
    return word ? WordToFloat(*word) : 0.0f;
}

void GridData::SetIntField(int32_t object, int32_t field, int32_t value) {
    if (uint32_t* word = FieldWord(object, field)) {
        *word = uint32_t(value);
    }
}

void GridData::SetFloatField(int32_t object, int32_t field, float value) {
    if (uint32_t* word = FieldWord(object, field)) {
        *word = FloatToWord(value);
    }
}

void GridData::SetSaveFlag(int32_t field, bool save) {
    if (field >= 0 && field < MaxFields) {
        saveFlags_[field] = save;
    }
}

bool GridData::GetSaveFlag(int32_t field) const {
    return field >= 0 && field < MaxFields && saveFlags_[field];
}

// The file ------------------------------------------------------------------------------------

bool GridData::WriteBytes(std::vector<uint8_t>& bytes, std::string& reason) const {
    const int64_t cells = int64_t(size_.x) * size_.y * size_.z;
    if (size_.x > Max16 || size_.y > Max16 || size_.z > Max16) {
        reason = "a side above 65535 cells";
    } else if (cells > MaxFileCells) {
        reason = "more than 65536 cells";
    } else if (capacity_ > Max16) {
        reason = "a capacity above 65535";
    }
    for (int32_t axis : {offset_.x, offset_.y, offset_.z}) {
        if (reason.empty() && (axis < INT16_MIN || axis > INT16_MAX)) {
            reason = "an offset outside -32768..32767";
        }
    }
    // A new size keeps the objects' cells, which may now lie past the grid.
    for (int32_t place = 0; reason.empty() && place < count_; ++place) {
        const size_t row = size_t(positions_[size_t(place)]) * size_t(RowWords());
        if (objects_[row + 1] >= cells) {
            reason = "object " + std::to_string(positions_[size_t(place)] + 1) +
                     " in a cell outside the grid";
        }
    }
    if (!reason.empty()) {
        return false;
    }
    uint32_t saveMask = 0;
    for (int32_t field = 0; field < MaxFields; ++field) {
        saveMask |= saveFlags_[field] ? 1u << field : 0u;
    }
    const uint32_t saved = SavedFieldMask(saveMask, fieldCount_);
    bytes.clear();
    bytes.reserve(HeaderBytes + size_t(count_) * (2 + 4 * size_t(std::popcount(saved))) + 2 +
                  GlobalRowBytes);
    const auto put16 = [&bytes](uint32_t value) {
        bytes.push_back(uint8_t(value));
        bytes.push_back(uint8_t(value >> 8));
    };
    const auto put32 = [&put16](uint32_t value) {
        put16(value);
        put16(value >> 16);
    };
    bytes.push_back('G');
    bytes.push_back('R');
    put16(FileVersion);
    for (int32_t value : {size_.x, size_.y, size_.z, offset_.x, offset_.y, offset_.z}) {
        put16(uint32_t(value));
    }
    put16(uint32_t(fieldCount_));
    put16(uint32_t(capacity_));
    put16(saveMask);
    put16(uint32_t(count_));
    for (int32_t place = 0; place < count_; ++place) {
        const uint32_t* row =
            objects_.data() + size_t(positions_[size_t(place)]) * size_t(RowWords());
        put16(row[1]);
        for (int32_t field = 0; field < fieldCount_; ++field) {
            if (saved & (1u << field)) {
                put32(row[2 + field]);
            }
        }
    }
    put16(GlobalFields);
    for (uint32_t word : global_) {
        put32(word);
    }
    return true;
}

bool GridData::ReadBytes(std::span<const uint8_t> bytes, std::string& reason) {
    if (bytes.size() < 2 || bytes[0] != 'G' || bytes[1] != 'R') {
        reason = "not a grid file: no \"GR\" at its start";
        return false;
    }
    // Everything is checked before the grid changes, so a refused file leaves it as it was.
    GridFileCursor check(bytes);
    if (!check.Has(HeaderBytes)) {
        reason = "the header is cut short";
        return false;
    }
    const GridFileHeader header = ReadHeader(check);
    const int64_t cells = int64_t(header.size.x) * header.size.y * header.size.z;
    const uint32_t saved = SavedFieldMask(header.saveMask, std::min(header.fieldCount, MaxFields));
    const size_t recordBytes = 2 + 4 * size_t(std::popcount(saved));
    if (cells > MaxFileCells) {
        reason = "the size holds more than 65536 cells";
    } else if (header.fieldCount > MaxFields) {
        reason = "the field count " + std::to_string(header.fieldCount) + " is above 8";
    } else if (header.objectCount > header.capacity) {
        reason = "the object count " + std::to_string(header.objectCount) +
                 " is above the capacity " + std::to_string(header.capacity);
    }
    for (int32_t object = 0; reason.empty() && object < header.objectCount; ++object) {
        if (!check.Has(recordBytes)) {
            reason = "object " + std::to_string(object + 1) + " is cut short";
            break;
        }
        const uint32_t cell = check.Read16();
        if (cell >= cells) {
            reason = "object " + std::to_string(object + 1) + " lies in cell " +
                     std::to_string(cell) + ", outside the grid";
        }
        for (size_t word = 4; word < recordBytes; word += 4) {
            check.Read32();
        }
    }
    if (reason.empty()) {
        if (!check.Has(2 + GlobalRowBytes)) {
            reason = "the global row is cut short";
        } else if (const uint32_t globals = check.Read16(); globals != GlobalFields) {
            reason = "the global count is " + std::to_string(globals) + ", not 32";
        }
    }
    if (!reason.empty()) {
        return false;
    }

    GridFileCursor cursor(bytes);
    ReadHeader(cursor);
    SetSize(header.size);
    SetOffset(header.offset);
    SetFieldCount(header.fieldCount);
    SetCapacity(header.capacity);
    Clear();
    for (int32_t field = 0; field < MaxFields; ++field) {
        saveFlags_[field] = (header.saveMask >> field & 1) != 0;
    }
    for (int32_t object = 0; object < header.objectCount; ++object) {
        const int32_t number = AddAt(PositionOfCell(cursor.Read16()));
        for (int32_t field = 0; field < header.fieldCount; ++field) {
            if (saved & (1u << field)) {
                SetIntField(number, field, int32_t(cursor.Read32()));
            }
        }
    }
    cursor.Read16();
    for (uint32_t& word : global_) {
        word = cursor.Read32();
    }
    return true;
}

bool GridData::ReadFile(const char* path, std::string& reason) {
    FileReader file;
    if (!path || !*path || !file.Open(path, false, false)) {
        reason = std::string("cannot open \"") + (path ? path : "") + "\"";
        return false;
    }
    return ReadBytes(file.ReadRemaining(), reason);
}

void GridData::LoadFile(const char* path) {
    if (!ScriptMayReach("GridData.LoadFile", path)) {
        return;
    }
    std::string reason;
    if (!ReadFile(path, reason)) {
        LogMessage("GridData: \"%s\" not loaded: %s", path ? path : "", reason.c_str());
    }
}

void GridData::SaveFile(const char* path) {
    if (!ScriptMayReach("GridData.SaveFile", path)) {
        return;
    }
    std::vector<uint8_t> bytes;
    std::string reason;
    if (!WriteBytes(bytes, reason)) {
        LogMessage("GridData: \"%s\" not saved: the file cannot hold %s", path ? path : "",
                   reason.c_str());
        return;
    }
    if ((!path || !*path || !WriteWholeFile(path, bytes, 0)) && TellWriteFailure()) {
        LogMessage("GridData: \"%s\" could not be written%s", path ? path : "",
                   FileFailureSuffix().c_str());
    }
}

// Registration --------------------------------------------------------------------------------

ClassInfo* GridData::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "GridData", []() -> Entity* { return new GridData(); }, &classInfo);
    classInfo->SetParent(Node::RegisterClass());
    classInfo->SetCategory("Data");

    using G = GridData;
    // Script-visible under generated names: the order is fixed (compiled scripts hold them).
    classInfo->AddMethod(NextShortName(), "(int3)", BindMethod<&G::SetSize>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "():int3", BindMethod<&G::GetSize>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(int3)", BindMethod<&G::SetOffset>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "():int3", BindMethod<&G::GetOffset>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(int)", BindMethod<&G::SetFieldCount>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "():int", BindMethod<&G::GetFieldCount>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(int)", BindMethod<&G::SetCapacity>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "():int", BindMethod<&G::GetCapacity>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "()", BindMethod<&G::Clear>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(string)", BindMethod<&G::LoadFile>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(string)", BindMethod<&G::SaveFile>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(int3):int", BindMethod<&G::GetObjectAt>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int3)", BindMethod<&G::RemoveAt>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(int3):int", BindMethod<&G::AddAt>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "():int", BindMethod<&G::GetObjectCount>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(int):int3", BindMethod<&G::GetObjectPosition>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int,int):int", BindMethod<&G::GetIntField>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int,int):float", BindMethod<&G::GetFloatField>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int,int,int)", BindMethod<&G::SetIntField>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int,int,float)", BindMethod<&G::SetFloatField>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int,bool)", BindMethod<&G::SetSaveFlag>(),
                         MethodScript);
    return classInfo;
}

} // namespace quarn
