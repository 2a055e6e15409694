#pragma once

#include "core/scene/SceneClasses.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/MemoryFileSystem.h"
#include "core/io/BufferFile.h"
#include "core/object/ClassInfo.h"
#include "core/object/IdMap.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyText.h"
#include "core/object/PropertyVector.h"
#include "core/object/ValueBinding.h"
#include "core/scene/EngineState.h"
#include "core/scene/Node.h"
#include "core/scenefile/SceneLoader.h"
#include "core/scenefile/SceneSaver.h"
#include "tests/support/TestClass.h"

#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn::test {

// A node with one property of each kind a scene stores: numbers with defaults, a flag, texts,
// a vector, a reference and a transient word. It records what the loader does to it.
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
        info.AddProperty<PropertyEntity, &SlItem::GetTarget, &SlItem::SetTarget>("target")
            ->SetDefault(&zero);
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
    const char* GetLabel() const { return label.c_str(); }
    void SetLabel(const char* value) { label = value ? value : ""; }
    Float3 GetOffset() const { return offset; }
    void SetOffset(Float3 value) { offset = value; }
    EntityId GetTarget() const { return target; }
    void SetTarget(EntityId value) { target = value; }
    int32_t GetCache() const { return cache; }
    void SetCache(int32_t value) { cache = value; }

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
    EntityId target;
    int32_t cache = 0;
    int initCalls = 0;
    int32_t stateWhileLoading = -1;
    std::vector<int> upgrades;
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

    // A node deleted at the end of the test unless something else owns it by then.
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

    // The tree saved as a text scene with the editor's flags (root included).
    static std::string SaveText(Node& root, uint32_t flags = SceneKeepUnmappedIds |
                                                             SceneSystemZeroPaths |
                                                             SceneWriteRoot) {
        return WriteScene(root, flags);
    }
    // What SaveSceneFile writes, through a file system in memory; "" when the save failed.
    static std::string WriteScene(Node& root, uint32_t flags) {
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
