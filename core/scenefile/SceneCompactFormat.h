#pragma once

#include "core/scene/HeldSceneLines.h"
#include "core/scenefile/SceneFormat.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace quarn {

// The extensions of compact files: a scene's twin and a branch's copy. Every reader that picks
// the form by a file's name asks IsCompactSceneName, so that both read alike everywhere.
inline constexpr const char* SceneCompactExtension = "scn";
inline constexpr const char* BranchCompactExtension = "bscn";
// Whether the path's extension (after its last '.') is one of them, in any letter case.
bool IsCompactSceneName(const char* path);

// The packed form of scene files: a binary header, one block of property records per entity
// (properties by number, values as stored), and a table of block lengths at the end.
class SceneCompactWriter : public SceneWriter {
public:
    bool Begin(OutputStream& stream, const char* fileName, uint32_t flags) override;
    // Writes the block table. False, with the error text set, when something could not be
    // stored: a property numbered beyond 254, a reference into another id system that the text
    // form would keep (unless the file holds its branches' content), a block longer than a table entry holds (no table is written then), or
    // a block count other than the header's node count (the table would not be found).
    bool Finish() override;
    void WriteHeader(const SceneHeader& header) override;
    void BeginObject(Entity& entity, const char* idText, const char* className) override;
    void WriteProperty(Entity& entity, const Property& property, uint32_t flags) override;
    // Writes a compact block's kept values back as read, and kept text lines by name behind the
    // block's end marker.
    void WriteHeldLines(const Entity& entity, const HeldSceneLines& held) override;
    void EndObject() override;
    const std::string& GetError() const override { return error_; }

    static constexpr int MaxPropertyNumber = 254;
    static constexpr uint32_t MaxBlockLength = 65535;

private:
    // Keeps the first loss; later ones add nothing a caller could act on.
    void Fail(std::string error);

    OutputStream* stream_ = nullptr;
    std::string fileName_;
    uint32_t flags_ = 0;
    std::string error_;
    int32_t idSystem_ = 0;
    int32_t nodeCount_ = 0;
    std::vector<uint32_t> positions_;
    // The current object's kept text lines, written after its end marker.
    std::vector<HeldSceneLine> heldLines_;
};

class SceneCompactReader : public SceneReader {
public:
    SceneCompactReader();
    ~SceneCompactReader() override;

    bool IsCompact() const override { return true; }
    bool Begin(File& stream, const char* fileName, ErrorCallback onError) override;
    // False for a header cut short, a broken declaration block, or a block table that does not
    // fit the file.
    bool ReadHeader(SceneHeader& header) override;
    bool ReadObject(std::string& idText, std::string* className) override;
    void MapId(uint32_t storedId, uint32_t assignedId) override;
    // Applies the next stored value to the entity; key and value are untouched. A number the
    // entity's class does not name ends the block; a node that keeps such values is given the
    // rest of the block.
    bool ReadProperty(Entity& entity, std::string& key, std::string& value) override;
    bool LastReferenceMissing() const override { return referenceMissing_; }
    bool NextObject() override;
    void Rewind() override;
    const std::string& GetError() const override { return error_; }
    // The block table at the end proves the file's length: a cut file fails its header.
    bool EndedEarly() const override { return false; }

private:
    void Report(std::string error);
    // Leaves the current block: the stream moves to the next block's start.
    void EndBlock();
    // The kept text lines behind the current block's end marker, to a node that keeps them.
    void ReadHeldLines(Entity& entity);
    // The rest of the current block from `from` to a node that keeps what it cannot apply.
    void HoldRestOfBlock(Entity& entity, uint32_t from);
    // Reads up to a zero byte, within the current block.
    bool ReadText(std::string& text);
    // Where the current block ends (0 before the table is read).
    uint32_t BlockEnd() const;

    File* stream_ = nullptr;
    std::string fileName_;
    ErrorCallback onError_;
    std::string error_;
    std::unique_ptr<Tokenizer> tokenizer_;
    std::vector<uint32_t> positions_;
    size_t blockIndex_ = 0;
    std::unordered_map<uint16_t, uint32_t> idMap_;
    int32_t idSystem_ = 0;
    bool includeBranches_ = false;
    bool referenceMissing_ = false;
};

} // namespace quarn
