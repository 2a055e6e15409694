#pragma once

#include "core/filesystem/DiskFileSystem.h"
#include "core/object/IdMap.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyText.h"
#include "core/scene/EngineState.h"
#include "core/scenefile/SceneLoader.h"
#include "core/scenefile/VersionControl.h"
#include "resources/Branch.h"
#include "resources/BranchFile.h"
#include "resources/ResourceRegistry.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/EventLog.h"
#include "tests/support/RecordingDialogHook.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn::test {

// An inner node of the test branches: a number, a text and a signal reference to expose, three
// input ports, and the announcements it heard ("loaded 5 start 5 ").
class BrItem : public TestClass<BrItem, EventProbe> {
public:
    static constexpr const char* Name = "BrItem";
    static void Declare(ClassInfo& info) {
        info.AddProperty<PropertyFloat, &BrItem::GetSpeed, &BrItem::SetSpeed>("speed:0,100,0,0.01");
        info.AddProperty<PropertyString, &BrItem::GetLabel, &BrItem::SetLabel>("label");
        info.AddProperty<PropertyEntity, &BrItem::GetTarget, &BrItem::SetTarget>("target:signal");
        info.AddMethod("loaded", "()", BindSignalHandler<&BrItem::Heard<0>>(), 0);
        info.AddMethod("start", "()", BindSignalHandler<&BrItem::Heard<1>>(), 0);
    }
    int GetInputCount() const override { return 3; }
    float GetSpeed() const { return speed; }
    void SetSpeed(float value) { speed = value; }
    const char* GetLabel() const { return label.c_str(); }
    void SetLabel(const char* value) { label = value; }
    EntityId GetTarget() const { return target; }
    void SetTarget(EntityId value) { target = value; }
    template <int N>
    void Heard(void*) {
        heard += (N == 0 ? "loaded " : "start ") + std::to_string(GetId() & LocalIdMask) + " ";
    }

    float speed = 0.0f;
    std::string label;
    EntityId target;
    static inline std::string heard;
};

// A version-control service in the state the test sets; it notes what it is asked to do.
struct FakeVersionControl : VersionControl {
    int GetFileState(const char*) override { return state; }
    bool CheckOut(const char*) override { return (done += "checkout ", true); }
    bool Revert(const char*) override { return (done += "revert ", true); }
    bool Commit(const char*) override { return (done += "commit ", true); }
    int state = NotControlled;
    std::string done;
};

// Nodes 7, 5 and 12; relay 0 leads to port 2 of node 12 and node 7's speed is exposed.
inline const std::string DoorBranch = "version = 44\nidsystem = 0\nnum_nodes = 3\n"
                                      "customdeclarations {\n"
                                      "Entity relay_0 <\"signal,default=12-2\">\n"
                                      "float speed_id7 <\"0,100,0,0.01\">\n}\n"
                                      "obj7 {\n\tclass = \"BrItem\"\n\tspeed = 5.00\n}\n"
                                      "obj5 {\n\tclass = \"BrItem\"\n\tlabel = \"five\"\n}\n"
                                      "obj12 {\n\tclass = \"BrItem\"\n}\n";

// "obj<id> {", the class, a tab before each of the lines given, "}".
inline std::string Object(int id, const char* className, const std::string& lines = "") {
    std::string text = "obj" + std::to_string(id) + " {\n\tclass = \"" + className + "\"\n";
    for (size_t start = 0; start < lines.size();) {
        const size_t end = std::min(lines.find('\n', start), lines.size());
        text += '\t';
        text.append(lines, start, end - start);
        text += '\n';
        start = end + 1;
    }
    return text + "}\n";
}
inline std::string Scene(const std::string& objects) {
    return "version = 44\nidsystem = 0\nnum_nodes = 1\n" + objects;
}

// Branches and scenes in files the test writes into a temporary base folder. What it loads or
// makes is deleted at the end, and every branch file must be given back by then.
class BranchTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = GetFileSystem();
        files_.SetBaseFolder(folder_.Path().c_str());
        SetFileSystem(&files_);
        Branch::RegisterClass();
        BranchFile::RegisterClass();
        BrItem::RegisterClass();
        TheIdMap().Clear();
        registered_ = GetRegisteredResourceCount();
        BrItem::heard.clear();
        Write("door.branch", DoorBranch);
    }
    void TearDown() override {
        for (uint64_t serial : made_) {
            if (Node* node = FindLiveNode(serial); node && !node->GetParent()) {
                node->Delete();
            }
        }
        EXPECT_EQ(GetRegisteredResourceCount(), registered_) << "a branch file was kept";
        SetVersionControl(nullptr);
        GameRunning = false;
        SetFileSystem(previous_);
        TheIdMap().Clear();
    }

    void Write(const std::string& name, const std::string& text) { folder_.WriteFile(name, text); }
    // The scene's first top-level node; every top-level node is deleted at the end.
    Node* Load(const std::string& text, uint32_t flags = SceneKeepUnmappedIds) {
        Write("scene.scene", text);
        std::vector<Node*> roots;
        Node* first = LoadSceneFile("scene.scene", 0, flags, nullptr, &roots, nullptr);
        for (Node* root : roots) {
            made_.push_back(root->GetSerial());
        }
        return first;
    }
    template <class T = Node>
    T* Make(Node* parent = nullptr) {
        auto* node = static_cast<T*>(T::RegisterClass()->CreateInstance());
        made_.push_back(node->GetSerial());
        parent ? node->AttachTo(parent) : node->SetIdSystem(0);
        return node;
    }

    // A new instance of the file with these flags, in the opened scene's id system.
    Branch* Instance(const char* path = "door.branch", uint32_t flags = BranchLoaded) {
        auto* branch = Make<Branch>();
        branch->SetBranchFlags(flags);
        branch->SetBranchFile(path);
        return branch;
    }
    static Branch* BranchAt(uint32_t id) { return dynamic_cast<Branch*>(LookupEntity(id)); }
    static BrItem* Inner(const Branch* branch, uint32_t localId) {
        return dynamic_cast<BrItem*>(
            LookupEntity(branch->GetIdSystem() << IdSystemShift | localId));
    }

    TempFolder folder_;
    DiskFileSystem files_;
    CapturingLogSink log_;
    RecordingDialogHook dialogs_;
    FileSystem* previous_ = nullptr;
    int registered_ = 0;
    std::vector<uint64_t> made_;
};

} // namespace quarn::test
