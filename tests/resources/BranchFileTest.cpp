#include "core/scene/ContainerBox.h"
#include "tests/resources/BranchTestSupport.h"

#include <cstdio>
#include <filesystem>

namespace quarn {
namespace {

using test::BranchTest;
using test::BrItem;

TEST_F(BranchTest, SavedFilesCarryTheirGuidInBothFormsAndTheCompactCopyStandsIn) {
    Branch* branch = Instance();
    BranchFile* file = branch->GetBranchFile();
    EXPECT_TRUE(file->GetGuid().IsZero());
    Inner(branch, 7)->speed = 42.0f;
    SendSignal("quarn_save", nullptr, false);
    const Guid guid = file->GetGuid();
    ASSERT_FALSE(guid.IsZero());
    const std::string text = folder_.ReadFile("door.branch");
    EXPECT_NE(text.find("globalid = " + guid.ToHex() + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("num_nodes = 3\n"), std::string::npos) << text;

    std::remove(folder_.Join("door.branch").c_str());
    ASSERT_TRUE(file->Load());
    EXPECT_TRUE(file->IsBinary());
    EXPECT_EQ(file->GetState(), 1u);
    EXPECT_EQ(file->GetGuid(), guid);
    ASSERT_NE(file->GetCustomClass(), nullptr);
    EXPECT_EQ(file->GetCustomClass()->GetOwnProperties().size(), 2u);
    branch->Reload();
    ASSERT_NE(Inner(branch, 7), nullptr);
    EXPECT_EQ(Inner(branch, 7)->speed, 42.0f);

    // Neither form there: the file is empty, but still the one registered under its name.
    std::remove(folder_.Join("door.scn").c_str());
    const uint32_t references = file->GetReferenceCount();
    EXPECT_FALSE(file->Load());
    EXPECT_EQ(file->GetState(), 0u);
    EXPECT_TRUE(file->GetGuid().IsZero());
    EXPECT_NE(file->GetCustomClass(), nullptr);
    EXPECT_EQ(file->GetReferenceCount(), references);
    EXPECT_EQ(FindResourceByKey("door.branch"), file);
}

TEST_F(BranchTest, ASaveSucceedsOnlyWhenBothFormsWereWritten) {
    // Relays of an instance inside lead into its own id system; they are not saved with it, or
    // the compact copy could not be written.
    Write("outer.branch",
          test::Scene(test::Object(2, "Branch", "branchflags = 1\nbranch = \"door.branch\"")));
    Branch* outer = Instance("outer.branch");
    EXPECT_TRUE(outer->GetBranchFile()->Save(*outer, outer->GetIdSystem()));
    EXPECT_EQ(folder_.ReadFile("outer.branch").find("relay_0 ="), std::string::npos);

    for (const char* blocked : {"door.branch", "door.scn"}) {
        Write("door.branch", test::DoorBranch);
        Branch* branch = Instance();
        std::filesystem::remove(folder_.Join(blocked));
        std::filesystem::create_directory(folder_.Join(blocked));
        EXPECT_FALSE(branch->GetBranchFile()->Save(*branch, branch->GetIdSystem())) << blocked;
        std::filesystem::remove(folder_.Join(blocked));
        branch->Delete();
    }
}

TEST_F(BranchTest, RenamingGivesANewGuidAndWritesNothing) {
    Branch* branch = Instance();
    BranchFile* file = branch->GetBranchFile();
    Guid before = file->EnsureGuid();
    for (const char* name : {"door.branch", "hall.branch"}) {
        file->SetFileName(name, "", true);
        EXPECT_FALSE(file->GetGuid() == before) << name;
        before = file->GetGuid();
        EXPECT_EQ(FindResourceByKey(name), file) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(folder_.Join("hall.branch")));
    EXPECT_FALSE(std::filesystem::exists(folder_.Join("door.scn")));
    EXPECT_STREQ(branch->GetBranchPath(), "hall.branch");
}

TEST_F(BranchTest, OneInstanceAtATimeIsTheFilesEditor) {
    Branch* first = Instance();
    Branch* second = Instance();
    BranchFile* file = first->GetBranchFile();
    const struct {
        bool set;
        Branch* branch;
        bool answer;
        Branch* editor;
    } steps[] = {{true, first, true, first},     {true, first, false, first},
                 {true, second, false, first},   {false, second, false, first},
                 {false, first, false, nullptr}, {true, second, true, second}};
    for (const auto& step : steps) {
        if (step.set) {
            EXPECT_EQ(file->SetOwner(step.branch), step.answer);
        } else {
            file->ClearOwner(step.branch);
        }
        EXPECT_EQ(file->GetOwner(), step.editor);
    }
    second->Delete();
    EXPECT_EQ(file->GetOwner(), nullptr);
    // A new instance of a file that another instance edits is closed.
    file->SetOwner(first);
    Branch* third = Instance();
    EXPECT_TRUE(third->IsClosed());
    EXPECT_TRUE(log_.Contains("Branch 'door.branch' is already opened by another branch instance. "
                              "The closed-flag on this instance has therefore been set."));
}

TEST_F(BranchTest, CustomClassesComeAndGoWithoutMixingUpTheirAncestry) {
    auto* item = static_cast<BrItem*>(BrItem::RegisterClass()->CreateInstance());
    made_.push_back(item->GetSerial());
    BranchFile* previous = nullptr;
    for (int index = 0; index < 300; ++index) {
        auto* file =
            AcquireResource<BranchFile>(("f" + std::to_string(index) + ".branch").c_str(), "");
        file->ExposeProperty(item, item->FindProperty("speed"), true);
        const ClassInfo* custom = file->GetCustomClass();
        ASSERT_NE(custom, nullptr);
        EXPECT_TRUE(custom->IsDerivedFrom(Branch::classInfo));
        EXPECT_FALSE(ContainerBox::classInfo->IsDerivedFrom(custom));
        if (previous) {
            EXPECT_FALSE(custom->IsDerivedFrom(previous->GetCustomClass())) << index;
            EXPECT_FALSE(previous->GetCustomClass()->IsDerivedFrom(custom)) << index;
            previous->Release();
        }
        previous = file;
    }
    previous->Release();
}

} // namespace
} // namespace quarn
