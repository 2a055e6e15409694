#include "core/scenefile/SceneCompactFormat.h"

#include "core/io/File.h"
#include "core/io/OutputStream.h"
#include "core/io/Tokenizer.h"
#include "core/object/ClassInfo.h"
#include "core/object/Entity.h"
#include "core/object/EntityRef.h"
#include "core/object/IdPath.h"
#include "core/object/Property.h"
#include "core/object/ValueType.h"
#include "core/scene/Node.h"
#include "core/scenefile/CustomDeclarations.h"
#include "core/scenefile/SceneReferences.h"
#include "core/string/Text.h"

#include <algorithm>
#include <utility>

namespace quarn {

bool IsCompactSceneName(const char* path) {
    const std::string extension = GetPathExtension(path ? path : "");
    return CompareNoCase(extension.c_str(), SceneCompactExtension) == 0 ||
           CompareNoCase(extension.c_str(), BranchCompactExtension) == 0;
}

namespace {

constexpr uint8_t HeaderIncludeBranches = 1;
constexpr uint8_t HeaderCustomDeclarations = 2;
// Four words follow the node count. Without them a branch file read from its compact copy
// alone would lose the identity that references to its global instances go through.
constexpr uint8_t HeaderGlobalId = 4;
constexpr int GlobalIdSize = 16;
constexpr uint8_t EndOfBlock = 0xFF;
// Version, id system, flags and node count.
constexpr uint32_t HeaderSize = 7;

void PutUInt16(OutputStream& stream, uint32_t value) {
    stream.PutChar(static_cast<int>(value & 0xFF));
    stream.PutChar(static_cast<int>((value >> 8) & 0xFF));
}

void PutText(OutputStream& stream, const std::string& text) {
    stream.Write(text.c_str(), static_cast<uint32_t>(text.size() + 1));
}

// Values go out word by word, least significant byte first, whatever the host's order.
void PutWords(OutputStream& stream, const uint32_t* words, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        stream.PutChar(static_cast<int>((words[i / 4] >> (8 * (i % 4))) & 0xFF));
    }
}

uint32_t IdSystemBits(uint32_t id) {
    return (id & IdSystemMask) >> IdSystemShift;
}

// The class whose properties come before a custom record's: its parent, or the base it names.
int CustomNumberBase(const ClassInfo& custom, const Entity& entity) {
    if (const ClassInfo* base = custom.GetParent() ? custom.GetParent() : custom.GetCustomBase()) {
        return base->GetPropertyCount();
    }
    return entity.GetPropertyCount();
}

int OwnIndex(const ClassInfo& owner, const Property& property) {
    const auto& own = owner.GetOwnProperties();
    for (size_t i = 0; i < own.size(); ++i) {
        if (own[i].get() == &property) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

} // namespace

// Writer ------------------------------------------------------------------------------------

bool SceneCompactWriter::Begin(OutputStream& stream, const char* fileName, uint32_t flags) {
    stream_ = &stream;
    fileName_ = fileName ? fileName : "";
    flags_ = flags;
    error_.clear();
    positions_.clear();
    nodeCount_ = 0;
    return true;
}

void SceneCompactWriter::Fail(std::string error) {
    if (error_.empty()) {
        error_ = std::move(error);
    }
}

void SceneCompactWriter::WriteHeader(const SceneHeader& header) {
    idSystem_ = header.idSystem;
    nodeCount_ = header.nodeCount;
    bool declarations = header.customClass && !header.customClass->GetOwnProperties().empty();
    uint8_t flags = (header.includeBranches ? HeaderIncludeBranches : 0) |
                    (declarations ? HeaderCustomDeclarations : 0) |
                    (header.globalId.IsZero() ? 0 : HeaderGlobalId);
    PutUInt16(*stream_, static_cast<uint32_t>(header.version));
    PutUInt16(*stream_, static_cast<uint32_t>(header.idSystem));
    stream_->PutChar(flags);
    PutUInt16(*stream_, static_cast<uint32_t>(header.nodeCount));
    if (!header.globalId.IsZero()) {
        PutWords(*stream_, header.globalId.words, GlobalIdSize);
    }
    if (declarations) {
        // Nothing may follow the '}': the first block starts right after it.
        stream_->PutChar('{');
        WriteCustomDeclarations(*stream_, *header.customClass);
        stream_->PutChar('}');
    }
}

void SceneCompactWriter::BeginObject(Entity&, const char* idText, const char* className) {
    positions_.push_back(stream_->Tell());
    PutText(*stream_, idText ? idText : "");
    PutText(*stream_, className ? className : "");
}

void SceneCompactWriter::WriteProperty(Entity& entity, const Property& property, uint32_t flags) {
    const ClassInfo* custom = entity.GetCustomClass();
    int number = -1;
    if (custom && property.GetOwner() == custom) {
        int own = OwnIndex(*custom, property);
        number = own < 0 ? -1 : CustomNumberBase(*custom, entity) + own;
    } else {
        number = property.GetIndex();
    }
    if (number < 0 || number > MaxPropertyNumber) {
        Fail(StringFormat("Property %s cannot be numbered in the compact scene file %s",
                          property.GetName(), fileName_.c_str()));
        return;
    }
    stream_->PutChar(number);

    if (property.GetValueType() == TypeString) {
        PutText(*stream_, property.GetAsText(entity));
        return;
    }
    uint32_t words[MaxValueWords] = {};
    property.ReadValue(entity, words);
    if (property.IsEntityReference()) {
        uint32_t id = words[0];
        // A file that holds its branches' content holds the nodes such a reference names, and
        // they take their ids back when it is read.
        const bool intoIncludedBranch = (flags & SceneIncludeBranches) && LookupEntity(id);
        if (IdSystemBits(id) != static_cast<uint32_t>(idSystem_) && !intoIncludedBranch) {
            // The text form keeps such a reference unless it would write "0" for it.
            bool kept = false;
            if ((id & ~PortMask) != 0) {
                IdPath path = IdPath::FromId(id, static_cast<uint32_t>(idSystem_));
                kept = (flags & SceneRawIds) ||
                       (path.count > 0 && (path.ids[0] != 0 || (flags & SceneSystemZeroPaths)));
            }
            if (kept) {
                Fail(StringFormat("Property %s refers into another id system, which the compact "
                                  "scene file %s cannot store",
                                  property.GetName(), fileName_.c_str()));
            }
            words[0] = 0;
        }
        PutWords(*stream_, words, 4);
        return;
    }
    PutWords(*stream_, words, std::min(property.GetSize(), MaxValueWords * 4));
}

void SceneCompactWriter::WriteHeldLines(const Entity&, const HeldSceneLines& held) {
    stream_->Write(held.compactTail.data(), static_cast<uint32_t>(held.compactTail.size()));
    heldLines_ = held.lines;
}

void SceneCompactWriter::EndObject() {
    stream_->PutChar(EndOfBlock);
    // Behind the end marker, where a reader that does not know them passes over them: a block's
    // length comes from the table. A quoted value keeps its quotes, which no bare value starts
    // with.
    for (const HeldSceneLine& line : heldLines_) {
        PutText(*stream_, line.name);
        PutText(*stream_, line.quoted ? '"' + line.value + '"' : line.value);
    }
    heldLines_.clear();
}

bool SceneCompactWriter::Finish() {
    positions_.push_back(stream_->Tell());
    uint32_t longest = 0;
    for (size_t i = 1; i < positions_.size(); ++i) {
        longest = std::max(longest, positions_[i] - positions_[i - 1]);
    }
    size_t blocks = positions_.size() - 1;
    if (blocks != static_cast<size_t>(std::max(nodeCount_, 0))) {
        // Readers find the table through the header's count.
        Fail(StringFormat("The compact scene file %s holds %zu objects but declares %d",
                          fileName_.c_str(), blocks, nodeCount_));
    }
    if (longest > MaxBlockLength) {
        Fail(StringFormat("An object of %u bytes does not fit the compact scene file %s", longest,
                          fileName_.c_str()));
        return false;
    }
    int width = longest > 255 ? 2 : 1;
    for (size_t i = 1; i < positions_.size(); ++i) {
        uint32_t length = positions_[i] - positions_[i - 1];
        stream_->PutChar(static_cast<int>(length & 0xFF));
        if (width == 2) {
            stream_->PutChar(static_cast<int>(length >> 8));
        }
    }
    stream_->PutChar(width);
    return error_.empty();
}

// Reader ------------------------------------------------------------------------------------

SceneCompactReader::SceneCompactReader() = default;
SceneCompactReader::~SceneCompactReader() = default;

bool SceneCompactReader::Begin(File& stream, const char* fileName, ErrorCallback onError) {
    stream_ = &stream;
    fileName_ = fileName ? fileName : "";
    onError_ = std::move(onError);
    error_.clear();
    tokenizer_ = std::make_unique<Tokenizer>();
    positions_.clear();
    blockIndex_ = 0;
    idMap_.clear();
    return true;
}

void SceneCompactReader::Report(std::string error) {
    error_ = std::move(error);
    if (onError_) {
        onError_(error_.c_str());
    }
}

bool SceneCompactReader::ReadHeader(SceneHeader& header) {
    File& stream = *stream_;
    uint32_t size = stream.GetSize();
    uint32_t start = stream.Tell();
    if (start > size || size - start < HeaderSize + 1) {
        Report(StringFormat("Error loading scene: %s is too short", fileName_.c_str()));
        return false;
    }
    header.version = stream.ReadUInt16();
    header.idSystem = stream.ReadUInt16();
    uint8_t flags = stream.ReadUInt8();
    header.includeBranches = (flags & HeaderIncludeBranches) != 0;
    idSystem_ = header.idSystem;
    includeBranches_ = header.includeBranches;
    header.nodeCount = stream.ReadUInt16();
    if (flags & HeaderGlobalId) {
        if (size - stream.Tell() < static_cast<uint32_t>(GlobalIdSize) + 1) {
            Report(StringFormat("Error loading scene: %s is too short", fileName_.c_str()));
            return false;
        }
        for (uint32_t& word : header.globalId.words) {
            word = stream.ReadUInt32();
        }
    }
    if (flags & HeaderCustomDeclarations) {
        Tokenizer& tokens = *tokenizer_;
        if (tokens.Next(stream) != '{') {
            Report(StringFormat("Error loading scene: no declarations in %s", fileName_.c_str()));
            return false;
        }
        if (header.customClassSlot) {
            ReadCustomDeclarations(&tokens, stream, header.customClassSlot);
            if (tokens.GetKind() != '}') {
                Report(StringFormat("Error loading scene: broken declarations in %s",
                                    fileName_.c_str()));
                return false;
            }
        } else {
            stream.ReadUntil(nullptr, 0, '}');
        }
    }

    // The table at the end comes from the file: it must lie behind the blocks and describe
    // them exactly, or a block read would leave the file or run into another.
    auto broken = [&] {
        Report(StringFormat("Error loading scene: the object table of %s is broken",
                            fileName_.c_str()));
        positions_.clear();
        return false;
    };
    uint32_t first = stream.Tell();
    if (first >= size || !stream.Seek(size - 1)) {
        return broken();
    }
    uint32_t width = stream.ReadUInt8();
    uint64_t tableSize = static_cast<uint64_t>(header.nodeCount) * width;
    if ((width != 1 && width != 2) || tableSize > size - 1 - first) {
        return broken();
    }
    uint32_t tableStart = size - 1 - static_cast<uint32_t>(tableSize);
    stream.Seek(tableStart);
    positions_.assign(1, first);
    for (int32_t i = 0; i < header.nodeCount; ++i) {
        uint32_t length = width == 1 ? stream.ReadUInt8() : stream.ReadUInt16();
        if (length == 0 || length > tableStart - positions_.back()) {
            return broken();
        }
        positions_.push_back(positions_.back() + length);
    }
    if (positions_.back() != tableStart) {
        return broken();
    }
    blockIndex_ = 0;
    stream.Seek(first);
    return true;
}

uint32_t SceneCompactReader::BlockEnd() const {
    return blockIndex_ + 1 < positions_.size() ? positions_[blockIndex_ + 1] : 0;
}

bool SceneCompactReader::ReadText(std::string& text) {
    text.clear();
    uint32_t end = BlockEnd();
    while (stream_->Tell() < end) {
        int byte = stream_->ReadByte();
        if (byte == -1) {
            break;
        }
        if ((byte & 0xFF) == 0) {
            return true;
        }
        text.push_back(static_cast<char>(byte));
    }
    Report(
        StringFormat("Error loading scene: an object of %s ends inside a text", fileName_.c_str()));
    return false;
}

bool SceneCompactReader::ReadObject(std::string& idText, std::string* className) {
    std::string name;
    if (!ReadText(idText) || !ReadText(name)) {
        return false;
    }
    if (className) {
        *className = std::move(name);
    }
    return true;
}

void SceneCompactReader::MapId(uint32_t storedId, uint32_t assignedId) {
    idMap_[static_cast<uint16_t>(storedId & LocalIdMask)] = assignedId;
}

void SceneCompactReader::EndBlock() {
    if (blockIndex_ + 1 < positions_.size()) {
        ++blockIndex_;
        stream_->Seek(positions_[blockIndex_]);
    }
}

bool SceneCompactReader::ReadProperty(Entity& entity, std::string& key, std::string&) {
    referenceMissing_ = false;
    File& stream = *stream_;
    uint32_t end = BlockEnd();
    if (stream.Tell() >= end) {
        EndBlock();
        return false;
    }
    int number = stream.ReadByte() & 0xFF;
    if (number == EndOfBlock) {
        ReadHeldLines(entity);
        EndBlock();
        return false;
    }
    const Property* property = nullptr;
    int count = entity.GetPropertyCount();
    if (number < count) {
        property = entity.GetProperty(number);
    } else if (const ClassInfo* custom = entity.GetCustomClass()) {
        const auto& own = custom->GetOwnProperties();
        size_t index = static_cast<size_t>(number - count);
        property = index < own.size() ? own[index].get() : nullptr;
    }
    if (!property) {
        // The rest of the block cannot be read without knowing this value's size.
        HoldRestOfBlock(entity, stream.Tell() - 1);
        EndBlock();
        return false;
    }
    key = property->GetName();

    if (property->GetValueType() == TypeString) {
        std::string text;
        if (!ReadText(text)) {
            EndBlock();
            return false;
        }
        property->SetFromText(entity, text.c_str());
        return true;
    }
    uint32_t bytes =
        property->IsEntityReference()
            ? 4
            : static_cast<uint32_t>(std::clamp(property->GetSize(), 0, MaxValueWords * 4));
    if (end - stream.Tell() < bytes) {
        Report(StringFormat("Error loading scene: an object of %s ends inside a value",
                            fileName_.c_str()));
        EndBlock();
        return false;
    }
    uint32_t words[MaxValueWords] = {};
    for (uint32_t i = 0; i < bytes; ++i) {
        words[i / 4] |= static_cast<uint32_t>(stream.ReadByte() & 0xFF) << (8 * (i % 4));
    }
    // An id of another id system names a node of a branch's content the file holds (see
    // SceneCompactWriter::WriteProperty), which is given that id back.
    const bool intoIncludedBranch =
        includeBranches_ && IdSystemBits(words[0]) != static_cast<uint32_t>(idSystem_);
    if (property->IsEntityReference() && (words[0] & LocalIdMask) == 0) {
        // No node has local id 0, whatever port or id system the word carries.
        words[0] = 0;
    } else if (property->IsEntityReference() && !intoIncludedBranch) {
        auto found = idMap_.find(static_cast<uint16_t>(words[0] & LocalIdMask));
        referenceMissing_ = found == idMap_.end();
        words[0] = referenceMissing_ ? 0 : (found->second & ~PortMask) | (words[0] & PortMask);
    } else if (property->IsEntityReference() && !LookupEntity(words[0])) {
        // Its node may take the id later in the load; else it is reported missing, as a text
        // file's would be, rather than kept as an id that names nothing.
        AddPendingReference(entity, *property, words[0], IdPath());
        words[0] = 0;
    }
    property->WriteValue(entity, words);
    return true;
}

void SceneCompactReader::HoldRestOfBlock(Entity& entity, uint32_t from) {
    auto* node = dynamic_cast<Node*>(&entity);
    HeldSceneLines* held = node ? node->GetHeldLines() : nullptr;
    const uint32_t end = BlockEnd();
    if (!held || from >= end || !stream_->Seek(from)) {
        return;
    }
    std::string& tail = held->compactTail;
    tail.reserve(end - from);
    while (stream_->Tell() < end) {
        const int byte = stream_->ReadByte();
        if (byte == -1) {
            break;
        }
        tail.push_back(static_cast<char>(byte));
    }
    // The writer ends every block with its marker again.
    if (!tail.empty() && static_cast<uint8_t>(tail.back()) == EndOfBlock) {
        tail.pop_back();
    }
}

void SceneCompactReader::ReadHeldLines(Entity& entity) {
    auto* node = dynamic_cast<Node*>(&entity);
    HeldSceneLines* held = node ? node->GetHeldLines() : nullptr;
    HeldSceneLine line;
    while (held && stream_->Tell() < BlockEnd() && ReadText(line.name) && ReadText(line.value)) {
        line.quoted = line.value.size() >= 2 && line.value.front() == '"' &&
                      line.value.back() == '"';
        if (line.quoted) {
            line.value = line.value.substr(1, line.value.size() - 2);
        }
        held->lines.push_back(std::move(line));
        line = HeldSceneLine();
    }
}

bool SceneCompactReader::NextObject() {
    if (positions_.size() < 2) {
        return false;
    }
    uint32_t position = stream_->Tell();
    auto next = std::lower_bound(positions_.begin(), positions_.end() - 1, position);
    if (next == positions_.end() - 1) {
        return false;
    }
    blockIndex_ = static_cast<size_t>(next - positions_.begin());
    stream_->Seek(*next);
    return true;
}

void SceneCompactReader::Rewind() {
    blockIndex_ = 0;
    if (!positions_.empty()) {
        stream_->Seek(positions_[0]);
    }
}

} // namespace quarn
