#pragma once

#include "core/debug/ErrorCallback.h"
#include "core/object/IdPath.h"

#include <cstdint>
#include <string>

namespace quarn {

class ClassInfo;
class Entity;
class File;
class OutputStream;
class Property;
struct HeldSceneLines;
class Tokenizer;

// One flag word is shared by loading, saving and cloning; each side reads the bits it knows.
enum SceneFlags : uint32_t {
    // Resolution: an id that the remap table does not hold is used unchanged.
    SceneKeepUnmappedIds = 0x1,
    // Resolution: a path counted from id system 0 ("0.5") is accepted while loading into
    // another id system. Saving: such a reference is written as its path instead of "0".
    SceneSystemZeroPaths = 0x2,
    // Resolution: the remap table is not consulted.
    SceneNoRemap = 0x4,
    // Every node takes the id from the file, even from the entity that holds it.
    SceneForceFileIds = 0x10,
    // Ids are plain decimal numbers, in objects and references alike.
    SceneRawIds = 0x20,
    // A live node with the object's id and class is reused instead of created.
    SceneReuseNodes = 0x40,
    // A node that already has an id keeps it.
    SceneKeepNodeIds = 0x80,
    // Closed classes (branches) are written with their children; the load default of the
    // header's "include_branches".
    SceneIncludeBranches = 0x100,
    // Classes are read and written as their nearest native base.
    SceneNativeClasses = 0x400,
    // The save's root node is written itself, not only its descendants.
    SceneWriteRoot = 0x800,
    // Transient properties are read and written too.
    SceneTransientProperties = 0x2000,
    // A branch without a custom class becomes a ContainerBox keeping its children.
    SceneDissolveBranches = 0x4000,
    // The file goes through the file system's scrambling pass.
    SceneScrambled = 0x8000,
    // The compact form instead of the text form.
    SceneCompact = 0x10000,
    // Text form: properties at their default are written too, so that replaying the text
    // restores them (the editor's undo states).
    SceneWriteDefaults = 0x20000,
};

// The current scene format version; files below 15 are refused and newer ones load after a
// warning.
inline constexpr int32_t SceneFormatVersion = 44;
inline constexpr int32_t OldestSceneFormatVersion = 15;

// The header of a scene or branch file.
struct SceneHeader {
    int32_t version = 1;
    Guid globalId;
    int32_t idSystem = 0;
    bool includeBranches = false;
    int32_t nodeCount = 1;
    // Writers: the class whose properties are declared in the header, or null. Readers: a slot
    // to parse the declarations into (a null slot receives a new "custom" record), or null to
    // skip them.
    ClassInfo* customClass = nullptr;
    ClassInfo** customClassSlot = nullptr;
};

// Writes a scene: Begin, WriteHeader, per entity BeginObject, WriteProperty for each property,
// EndObject, then Finish. Two forms: text and compact.
class SceneWriter {
public:
    virtual ~SceneWriter() = default;
    // The stream is not owned.
    virtual bool Begin(OutputStream& stream, const char* fileName, uint32_t flags) = 0;
    // False when the file could not be completed (the compact form's tables could not hold it).
    virtual bool Finish() = 0;
    virtual void WriteHeader(const SceneHeader& header) = 0;
    // `className` is what appears in the file.
    virtual void BeginObject(Entity& entity, const char* idText, const char* className) = 0;
    virtual void WriteProperty(Entity& entity, const Property& property, uint32_t flags) = 0;
    // After the properties: the lines a load kept for the node. What the form cannot hold fails
    // the file rather than being dropped.
    virtual void WriteHeldLines(const Entity& entity, const HeldSceneLines& held) = 0;
    virtual void EndObject() = 0;
    virtual const std::string& GetError() const = 0;
};

// Reads a scene: Begin, ReadHeader; first pass: while NextObject, ReadObject and MapId; then
// Rewind; second pass, once per entity of the first pass: ReadObject and ReadProperty until
// false. Every read is bounded and stops at the end of the input.
class SceneReader {
public:
    virtual ~SceneReader() = default;
    virtual bool IsCompact() const = 0;
    // The stream is not owned; the file name is used in error texts only.
    virtual bool Begin(File& stream, const char* fileName, ErrorCallback onError) = 0;
    virtual bool ReadHeader(SceneHeader& header) = 0;
    // `className` may be null; an entity block without a class line leaves it unchanged.
    virtual bool ReadObject(std::string& idText, std::string* className) = 0;
    // Compact form: the id given to the entity stored under `storedId` (for its references).
    virtual void MapId(uint32_t storedId, uint32_t assignedId) = 0;
    // Text form: the next property's key and value text, for the caller to apply. Compact form:
    // applies the next stored value to the entity itself and gives its property's name as the
    // key. False ends the entity's properties.
    virtual bool ReadProperty(Entity& entity, std::string& key, std::string& value) = 0;
    // Compact form: the reference the last ReadProperty wrote named an object no block of the
    // file holds, and was written as none. The text form leaves references to the caller.
    virtual bool LastReferenceMissing() const { return false; }
    // Text form: the last value read was quoted.
    virtual bool LastValueQuoted() const { return false; }
    virtual bool NextObject() = 0;
    virtual void Rewind() = 0;
    virtual const std::string& GetError() const = 0;
    // The input ended inside an object: the file was cut short.
    virtual bool EndedEarly() const = 0;
};

} // namespace quarn
