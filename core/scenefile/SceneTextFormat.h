#pragma once

#include "core/scenefile/SceneFormat.h"

#include <cstdint>
#include <memory>
#include <string>

namespace quarn {

// The readable form of scene and branch files: keyword header lines, then one
// "obj<id> { class = "<name>" <property lines> }" block per entity. Values are written
// unescaped; a string value is quoted and may span lines.
class SceneTextWriter : public SceneWriter {
public:
    bool Begin(OutputStream& stream, const char* fileName, uint32_t flags) override;
    bool Finish() override;
    void WriteHeader(const SceneHeader& header) override;
    void BeginObject(Entity& entity, const char* idText, const char* className) override;
    // Reads flag bits 0x2 (references counted from id system 0 keep their path), 0x20
    // (references as the raw id in decimal) and SceneWriteDefaults.
    void WriteProperty(Entity& entity, const Property& property, uint32_t flags) override;
    // Fails the file for a compact block's kept values, which only the node's class can name.
    void WriteHeldLines(const Entity& entity, const HeldSceneLines& held) override;
    void EndObject() override;
    const std::string& GetError() const override { return error_; }

private:
    OutputStream* stream_ = nullptr;
    std::string fileName_;
    uint32_t flags_ = 0;
    std::string error_;
    int32_t idSystem_ = 0;
};

class SceneTextReader : public SceneReader {
public:
    SceneTextReader();
    ~SceneTextReader() override;

    bool IsCompact() const override { return false; }
    bool Begin(File& stream, const char* fileName, ErrorCallback onError) override;
    bool ReadHeader(SceneHeader& header) override;
    bool ReadObject(std::string& idText, std::string* className) override;
    void MapId(uint32_t, uint32_t) override {}
    // Fills key and value; the entity is not read.
    bool ReadProperty(Entity& entity, std::string& key, std::string& value) override;
    bool LastValueQuoted() const override { return lastQuoted_; }
    bool NextObject() override;
    void Rewind() override;
    const std::string& GetError() const override { return error_; }
    bool EndedEarly() const override { return endedEarly_; }

    // The longest id text after "obj" that is taken; longer ones fail the block.
    static constexpr size_t MaxIdTextLength = 255;

private:
    // Advances; true when the token before was of `kind`, else reports it.
    bool Expect(int32_t kind);
    void ReportUnexpected();
    void Report(std::string error);
    void ReportEndOfFile();
    bool IsObjectToken() const;
    // The rest of a property line after '=' into `value`, by the quoted-value rule.
    void ReadValue(std::string& value, bool* quoted = nullptr);

    File* stream_ = nullptr;
    std::string fileName_;
    ErrorCallback onError_;
    std::string error_;
    std::unique_ptr<Tokenizer> tokenizer_;
    uint32_t firstBlock_ = 0;
    // Between an object's '{' and its '}'.
    bool insideBlock_ = false;
    bool endedEarly_ = false;
    bool lastQuoted_ = false;
};

} // namespace quarn
