#pragma once

#include "core/filesystem/FileSystem.h"
#include "core/filesystem/MemoryFileSystem.h"
#include "core/io/BufferFile.h"
#include "core/io/MemoryOutputStream.h"
#include "core/object/ClassInfo.h"
#include "core/object/IdMap.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyText.h"
#include "core/object/PropertyVector.h"
#include "core/object/ValueBinding.h"
#include "core/scene/EngineState.h"
#include "core/scene/Node.h"
#include "core/scene/SceneClasses.h"
#include "core/scenefile/SceneFormat.h"
#include "core/scenefile/SceneLoader.h"
#include "core/scenefile/SceneSaver.h"
#include "core/string/FixedString.h"
#include "core/string/TextArena.h"
#include "tests/support/TestClass.h"

#include <array>
#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace quarn::test {

constexpr uint32_t EditorSave = SceneKeepUnmappedIds | SceneSystemZeroPaths | SceneWriteRoot;

// A node with one property of each kind a scene stores: numbers with defaults, a flag, a quoted
// text, a vector, a text kept in place, a reference without default and a transient word. It
// records what the loader does to it. A custom class, when given, keeps its values here as a
// branch keeps its exposed properties.
class SlItem : public TestClass<SlItem, Node> {
public:
    static constexpr const char* Name = "SlItem";
    static void Declare(ClassInfo& info) {
        const uint32_t zero = 0;
        info.AddProperty<PropertyInt, &SlItem::GetCount, &SlItem::SetCount>("count")->SetDefault(
            &zero);
        info.AddProperty<PropertyFloat, &SlItem::GetSpeed, &SlItem::SetSpeed>("speed:0,100,0,0.01")
            ->SetDefault(&zero);
        info.AddProperty<PropertyBool, &SlItem::GetOn, &SlItem::SetOn>("on")->SetDefault(&zero);
        info.AddProperty<PropertyString, &SlItem::GetLabel, &SlItem::SetLabel>("label");
        info.AddProperty<PropertyFloat3, &SlItem::GetOffset, &SlItem::SetOffset>("offset");
        info.AddProperty<PropertyString64, &SlItem::GetTag, &SlItem::SetTag>("tag");
        info.AddProperty<PropertyEntity, &SlItem::GetTarget, &SlItem::SetTarget>("target");
        Property* cache =
            info.AddProperty<PropertyInt, &SlItem::GetCache, &SlItem::SetCache>("cache");
        cache->SetDefault(&zero);
        cache->SetStateFlags(cache->GetStateFlags() | PropertyTransient);
        info.AddMethod("init_self", "()", BindMethod<&SlItem::InitSelf>(), 0);
    }

    int32_t GetCount() const { return count; }
    void SetCount(int32_t value) {
        count = value;
        stateWhileLoading = EngineState;
    }
    float GetSpeed() const { return speed; }
    void SetSpeed(float value) { speed = value; }
    bool GetOn() const { return on; }
    void SetOn(bool value) { on = value; }
    // Texts pass through words; a long one is kept in the arena so that its word holds it whole
    // however often the writer reads it.
    const char* GetLabel() const {
        if (label.size() < 1024) {
            return label.c_str();
        }
        if (storedLabel_ != label) {
            storedLabel_ = label;
            storedText_ = LookupText(StoreText(label));
        }
        return storedText_;
    }
    void SetLabel(const char* value) { label = value ? value : ""; }
    Float3 GetOffset() const { return offset; }
    void SetOffset(Float3 value) { offset = value; }
    String64 GetTag() const { return tag; }
    void SetTag(const String64& value) { tag = value; }
    EntityId GetTarget() const { return target; }
    void SetTarget(EntityId value) { target = value; }
    int32_t GetCache() const { return cache; }
    void SetCache(int32_t value) { cache = value; }

    ClassInfo* GetCustomClass() const override { return custom; }
    void GetPropertyValue(const Property& property, uint32_t* out) const override {
        auto found = customValues.find(&property);
        if (found != customValues.end()) {
            std::copy(found->second.begin(), found->second.end(), out);
        }
    }
    void SetPropertyValue(const Property& property, const uint32_t* value) override {
        std::copy(value, value + property.GetSize() / 4, customValues[&property].begin());
    }

    void InitSelf() {
        ++initCalls;
        if (onInitSelf) {
            onInitSelf(*this);
        }
    }
    void UpgradeVersion(int fileVersion) override { upgrades.push_back(fileVersion); }
    void Delete() override {
        deletedInState = EngineState;
        Node::Delete();
    }

    // Run by every InitSelf of the test under way.
    static inline std::function<void(SlItem&)> onInitSelf;
    static inline int32_t deletedInState = -1;

    int32_t count = 0;
    float speed = 0.0f;
    bool on = false;
    std::string label;
    Float3 offset;
    String64 tag;
    EntityId target;
    int32_t cache = 0;
    ClassInfo* custom = nullptr;
    std::map<const Property*, std::array<uint32_t, MaxValueWords>> customValues;
    int initCalls = 0;
    int32_t stateWhileLoading = -1;
    std::vector<int> upgrades;

private:
    mutable std::string storedLabel_;
    mutable const char* storedText_ = "";
};

// More properties than a number of the compact form can name.
class SlMany : public TestClass<SlMany, Node> {
public:
    static constexpr const char* Name = "SlMany";
    static void Declare(ClassInfo& info) {
        for (int index = 0; index < 300; ++index) {
            std::string name = "p";
            name += std::to_string(index);
            info.AddProperty(name.c_str(), std::make_unique<PropertyInt>());
        }
    }
};

// A plain node class under any name; the class registered under that name when one exists.
template <int N>
class SlNamed : public Node {
public:
    static inline ClassInfo* classInfo = nullptr;
    ClassInfo* GetClass() const override { return classInfo; }

    static ClassInfo* Ensure(const char* name) {
        if (ClassInfo* existing = FindClass(name)) {
            return existing;
        }
        if (!classInfo) {
            classInfo = new ClassInfo(
                name, []() -> Entity* { return new SlNamed; }, &classInfo);
            classInfo->SetParent(Node::RegisterClass());
        }
        return classInfo;
    }
};

// Writes the header (its node count, when negative, one per object) and one block per object with
// a writer of either form, the id text being the object's local id. The bytes, and the writer's
// verdict and error.
struct Written {
    std::string bytes;
    bool finished = false;
    std::string error;
};

inline SceneHeader BlockHeader(int32_t idSystem = 0) {
    SceneHeader header;
    header.version = SceneFormatVersion;
    header.idSystem = idSystem;
    header.nodeCount = -1;
    return header;
}

template <class Writer>
Written WriteBlocks(const std::vector<Entity*>& objects, uint32_t flags = 0,
                    SceneHeader header = BlockHeader()) {
    MemoryOutputStream stream(1 << 20);
    Writer writer;
    writer.Begin(stream, "test.scene", 0);
    if (header.nodeCount < 0) {
        header.nodeCount = static_cast<int32_t>(objects.size());
    }
    writer.WriteHeader(header);
    for (Entity* object : objects) {
        writer.BeginObject(*object, std::to_string(object->GetId() & 0xFFFF).c_str(),
                           object->GetClass()->GetName());
        for (int p = 0; p < object->GetPropertyCount(); ++p) {
            writer.WriteProperty(*object, *object->GetProperty(p), flags);
        }
        if (ClassInfo* custom = object->GetCustomClass()) {
            for (const auto& property : custom->GetOwnProperties()) {
                writer.WriteProperty(*object, *property, flags);
            }
        }
        writer.EndObject();
    }
    Written written;
    written.finished = writer.Finish();
    written.error = writer.GetError();
    written.bytes.assign(stream.GetData(), stream.GetPosition());
    return written;
}

// Loads scene texts for the tests and deletes what they made at the end of each test.
class SceneTestBase : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterSceneClasses();
        SlItem::RegisterClass();
        TheIdMap().Clear();
        SlItem::onInitSelf = nullptr;
        SlItem::deletedInState = -1;
    }
    void TearDown() override {
        SlItem::onInitSelf = nullptr;
        for (uint64_t serial : made_) {
            auto* node = dynamic_cast<Node*>(Entity::FindBySerial(serial));
            if (node && !node->GetParent()) {
                node->Delete();
            }
        }
        EngineState = EngineRunning;
        TheIdMap().Clear();
    }

    // The first top-level node of the text loaded with these flags; every top-level node is
    // kept for the end of the test and, when asked, in `roots`.
    Node* Load(const std::string& text, uint32_t flags = SceneKeepUnmappedIds, int32_t idSystem = 0,
               Node* parent = nullptr, std::vector<Node*>* roots = nullptr) {
        std::vector<Node*> made;
        BufferFile file(text.data(), static_cast<uint32_t>(text.size()));
        SceneLoader loader("test.scene", idSystem, flags, parent, &made);
        Node* first = loader.Load(file);
        for (Node* node : made) {
            Keep(node);
        }
        if (roots) {
            *roots = made;
        }
        return first;
    }

    // A node deleted at the end of the test unless something else owns it by then; in the
    // opened scene's id system.
    template <class T = Node>
    T* Make(Node* parent = nullptr) {
        auto* node = static_cast<T*>(T::RegisterClass()->CreateInstance());
        Keep(node);
        if (parent) {
            node->AttachAsLast(parent);
        } else {
            node->SetIdSystem(0);
        }
        return node;
    }

    Node* Keep(Node* node) {
        made_.push_back(node->GetSerial());
        return node;
    }

    // What SaveSceneFile writes, through a file system in memory; "" when the save failed.
    static std::string WriteScene(Node& root, uint32_t flags = EditorSave) {
        MemoryFileSystem files;
        FileSystem* previous = GetFileSystem();
        SetFileSystem(&files);
        bool saved = SaveSceneFile("out.scene", root, 0, flags);
        SetFileSystem(previous);
        const std::string* written = files.Written("out.scene");
        return saved && written ? *written : std::string();
    }

private:
    std::vector<uint64_t> made_;
};

} // namespace quarn::test
