#include "core/object/ClassInfo.h"
#include "core/object/IdMap.h"
#include "core/object/MethodInfo.h"
#include "core/string/TextArena.h"
#include "resources/RawData.h"
#include "resources/Resource.h"
#include "resources/ResourceRegistry.h"
#include "tests/resources/ResourceTestSupport.h"

#include <functional>
#include <string>
#include <vector>

namespace quarn {
namespace {

using test::ResourceDiskTest;

std::vector<std::string>& Journal() {
    static std::vector<std::string> journal;
    return journal;
}

// A resource that records what is done to it and can run a hook while it is.
class Probe : public Resource {
public:
    Probe(const char* path, const char* options) : Resource(path, options) {}

    bool Load() override {
        ++loads;
        if (onLoad) {
            onLoad();
        }
        return true;
    }
    uint32_t GetDataSize() const override { return 0; }
    void SaveToFile(const char* path) override { Journal().push_back(std::string("save ") + path); }
    void ReleaseVideoMemory() override {
        Journal().push_back(std::string("release ") + GetKey());
        if (onRelease) {
            onRelease();
        }
    }
    void RestoreVideoMemory() override { Journal().push_back(std::string("restore ") + GetKey()); }

    int loads = 0;
    std::function<void()> onLoad;
    std::function<void()> onRelease;
};

// The device side of a lost render device: the frame releases video memory, resets the
// device and restores.
struct LosableDevice {
    void LoseAndReset() {
        ReleaseAllVideoMemory();
        Journal().push_back("reset");
        RestoreAllVideoMemory();
    }
};

bool IsAlive(uint64_t serial) {
    return Entity::FindBySerial(serial) != nullptr;
}

// Acquisition -----------------------------------------------------------------------------

using ResourceAcquisition = ResourceDiskTest;

TEST_F(ResourceAcquisition, SpellingsOfOnePathShareOneObjectAndOptionsMakeDistinctOnes) {
    temp_.WriteFile("Data/Notes.txt", "hello");
    RawData* first = GetRawData("Data\\Notes.TXT", nullptr);
    RawData* second = GetRawData((temp_.Path() + "/data/notes.txt").c_str(), "");
    ASSERT_EQ(first, second);
    EXPECT_EQ(first->GetReferenceCount(), 2u);
    EXPECT_STREQ(first->GetKey(), "data/notes.txt");
    // "." steps and doubled separators name the same file; ".." may not (a link, a missing
    // folder), and a scheme keeps its "://".
    for (const std::string& spelling :
         {std::string("./Data/Notes.txt"), std::string("Data//./Notes.txt"),
          std::string(".\\Data\\\\Notes.txt"), temp_.Path() + "//Data/./notes.txt"}) {
        RawData* same = GetRawData(spelling.c_str(), nullptr);
        EXPECT_EQ(same, first) << spelling;
        same->Release();
    }
    EXPECT_STREQ(NormalizeResourcePath("Data/../Data/Notes.txt").Text(), "data/../data/notes.txt");
    EXPECT_STREQ(NormalizeResourcePath("user://./Saves//A.txt").Text(), "user://saves/a.txt");
    EXPECT_STREQ(NormalizeResourcePath("./").Text(), "./");
    RawData* optioned = GetRawData("Data/Notes.txt", "a");
    EXPECT_NE(optioned, first);
    EXPECT_STREQ(optioned->GetKey(), "data/notes.txta");
    for (RawData* data : {first, second, optioned}) {
        data->Release();
    }
    // A placeholder with options leaves the resource named like them alone.
    temp_.WriteFile("opt", "");
    RawData* named = GetRawData("opt", nullptr);
    RawData* missing = GetRawData("missing.txt", "opt");
    EXPECT_EQ(FindResourceByKey("opt"), named);
    EXPECT_EQ(FindResourceByKey("missing.txtopt"), missing);
    named->Release();
    missing->Release();
}

// One file named as two kinds of resource (a scene may): each caller gets its own kind.
TEST_F(ResourceAcquisition, AResourceLoadedAsAnotherClassIsNotHandedOut) {
    temp_.WriteFile("both.txt", "bytes");
    auto* probe = AcquireResource<Probe>("both.txt", nullptr);
    RawData* data = GetRawData("Both.TXT", nullptr);
    ASSERT_NE(static_cast<Resource*>(data), static_cast<Resource*>(probe));
    EXPECT_STREQ(reinterpret_cast<const char*>(data->GetData()), "bytes");
    EXPECT_EQ(probe->GetReferenceCount(), 1u);
    data->Release();
    probe->Release();
}

TEST_F(ResourceAcquisition, LastReleaseDeletesAndTheNextAcquisitionLoadsAgain) {
    temp_.WriteFile("a.txt", "one");
    RawData* first = GetRawData("a.txt", nullptr);
    GetRawData("a.txt", nullptr);
    const uint64_t serial = first->GetSerial();
    first->Release();
    EXPECT_EQ(FindResourceByKey("a.txt"), first);
    first->Release();
    EXPECT_FALSE(IsAlive(serial));
    EXPECT_EQ(FindResourceByKey("a.txt"), nullptr);
    temp_.WriteFile("a.txt", "two");
    RawData* again = GetRawData("a.txt", nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(again->GetData()), "two");
    again->Release();
}

TEST_F(ResourceAcquisition, MissingFileGivesOnePlaceholderReportedOnceUnlessItsExtensionIsListed) {
    RawData* first = GetRawData("Missing.TXT", nullptr);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->GetDataSize(), 1u);
    ASSERT_EQ(log_.Lines().size(), 1u);
    EXPECT_EQ(log_.Lines()[0].text, "Missing resource: \"missing.txt\"");
    RawData* second = GetRawData("missing.txt", nullptr);
    EXPECT_EQ(second, first);
    EXPECT_EQ(log_.Lines().size(), 1u);
    EXPECT_EQ(GetRawData("", nullptr), nullptr);
    first->Release();
    second->Release();
    RegisterResourceExtension("bmp");
    EXPECT_STREQ(ResolveResourceFile("x.bmp").Text(), "x.bmp");
    EXPECT_STREQ(ResolveResourceFile("x.txt").Text(), "");
}

// Link files ------------------------------------------------------------------------------

using ResourceLinks = ResourceDiskTest;

TEST_F(ResourceLinks, TextLinkOnItsFirstLineLoadsAndSharesTheTargetAndCyclesResolveToNothing) {
    temp_.WriteFile("c/d.txt", "target");
    temp_.WriteFile("a/b.lnk", "  C\\D.txt \r\nnot part of the path");
    RawData* linked = GetRawData("a/b.txt", nullptr);
    EXPECT_STREQ(linked->GetKey(), "c/d.txt");
    EXPECT_STREQ(reinterpret_cast<const char*>(linked->GetData()), "target");
    RawData* direct = GetRawData("c/d.txt", nullptr);
    EXPECT_EQ(direct, linked);
    linked->Release();
    direct->Release();
    // Shell links are not followed.
    temp_.WriteFile("a.lnk", "b.txt");
    temp_.WriteFile("b.lnk", "a.txt");
    EXPECT_STREQ(ResolveResourceFile("a.txt").Text(), "");
    temp_.WriteFile("s.lnk", std::string("\x4C\0\0\0\x01\x14\x02\0", 8) + "C:\\game\\s.txt");
    EXPECT_STREQ(ResolveResourceFile("s.txt").Text(), "");
}

// Names and renaming ----------------------------------------------------------------------

using ResourceNames = ResourceDiskTest;

TEST_F(ResourceNames, PathIsSplitIntoExtensionBaseNameAndKeyAndRenamingKeepsTheCount) {
    auto* probe = new Probe((temp_.Path() + "/Models\\Tree.MESH").c_str(), "0123456789abcdefTAIL");
    EXPECT_STREQ(probe->GetFullPath(), "models/tree.mesh");
    EXPECT_STREQ(probe->GetBaseName(), "tree");
    EXPECT_STREQ(probe->GetKey(), "models/tree.mesh0123456789abcdef");
    probe->Release();
    temp_.WriteFile("old.txt", "x");
    RawData* data = GetRawData("old.txt", nullptr);
    GetRawData("old.txt", nullptr);
    GetRawData("old.txt", nullptr);
    data->SetFileName("New.txt", "", false);
    EXPECT_EQ(data->GetReferenceCount(), 3u);
    EXPECT_EQ(FindResourceByKey("old.txt"), nullptr);
    EXPECT_EQ(FindResourceByKey("new.txt"), data);
    // Each holder gives its reference back; none may reach a deleted object.
    data->Release();
    data->Release();
    EXPECT_EQ(FindResourceByKey("new.txt"), data);
    data->Release();
    EXPECT_EQ(FindResourceByKey("new.txt"), nullptr);
}

TEST_F(ResourceNames, UnnamedResourceLivesUntilItsLastHolderReleasesIt) {
    auto* probe = new Probe("", nullptr);
    const uint64_t unnamed = probe->GetSerial();
    probe->Release();
    EXPECT_FALSE(IsAlive(unnamed));
    // Renamed to nothing while two hold it: out of the registry, still counted.
    probe = new Probe("held.dat", nullptr);
    probe->AddReference();
    probe->SetFileName("", nullptr, false);
    EXPECT_EQ(FindResourceByKey("held.dat"), nullptr);
    const uint64_t held = probe->GetSerial();
    probe->Release();
    EXPECT_TRUE(IsAlive(held));
    probe->Release();
    EXPECT_FALSE(IsAlive(held));
}

TEST_F(ResourceNames, SavingOnRenameSkipsPlaceholdersAndScriptMethodsRename) {
    Journal().clear();
    Resource* missing = AcquireResource<Probe>("gone.dat", nullptr);
    missing->SetFileName("elsewhere.dat", nullptr, true);
    EXPECT_TRUE(Journal().empty());
    auto* real = new Probe("real.dat", nullptr);
    real->SetFileName("Copy.DAT", nullptr, true);
    EXPECT_EQ(Journal(), std::vector<std::string>{"save Copy.DAT"});
    missing->Release();
    real->Release();
    Resource::RegisterClass();
    auto* probe = new Probe("first.dat", nullptr);
    const auto& methods = Resource::classInfo->GetOwnMethods();
    ASSERT_EQ(methods.size(), 4u);
    uint32_t block[2] = {0, TextWordOf(PutTempString("Second.dat"))};
    methods[1]->Call(probe, block);
    EXPECT_EQ(FindResourceByKey("second.dat"), probe);
    uint32_t answer[1] = {0};
    methods[3]->Call(probe, answer);
    EXPECT_STREQ(LookupText(answer[0]), "second.dat");
    methods[0]->Call(probe, answer);
    EXPECT_EQ(probe->loads, 1);
    probe->Release();
}

TEST_F(ResourceNames, ScriptsRenameAndSaveOnlyInsideTheGame) {
    Resource::RegisterClass();
    const auto& methods = Resource::classInfo->GetOwnMethods();
    auto* probe = new Probe("first.dat", nullptr);
    Journal().clear();
    for (const char* outside : {"../away.dat", "/tmp/away.dat"}) {
        uint32_t block[2] = {0, TextWordOf(PutTempString(outside))};
        methods[1]->Call(probe, block);
        methods[2]->Call(probe, block);
    }
    EXPECT_EQ(FindResourceByKey("first.dat"), probe);
    EXPECT_TRUE(Journal().empty());
    EXPECT_TRUE(log_.Contains("ResourceRef.Rename refused \"../away.dat\""));
    EXPECT_TRUE(log_.Contains("ResourceRef.SaveAs refused \"/tmp/away.dat\""));
    uint32_t inside[2] = {0, TextWordOf(PutTempString("saves/copy.dat"))};
    methods[2]->Call(probe, inside);
    EXPECT_EQ(Journal(), std::vector<std::string>{"save saves/copy.dat"});
    probe->Release();
}

// Reloading -------------------------------------------------------------------------------

using ResourceReload = ResourceDiskTest;

TEST_F(ResourceReload, ReloadsOnlyWhenTheFileTimeChanged) {
    temp_.WriteFile("r.txt", "old");
    SetFileTime("r.txt", 1000);
    RawData* data = GetRawData("r.txt", nullptr);
    EXPECT_FALSE(data->ReloadIfChanged());
    temp_.WriteFile("r.txt", "new!");
    SetFileTime("r.txt", 1000);
    EXPECT_FALSE(data->ReloadIfChanged());
    SetFileTime("r.txt", 2000);
    log_.Clear();
    EXPECT_TRUE(data->ReloadIfChanged());
    EXPECT_TRUE(log_.Contains("Resource 'r.txt' reloaded"));
    EXPECT_FALSE(data->ReloadIfChanged());
    data->Release();
}

TEST_F(ResourceReload, ReloadingAllSurvivesLoadsThatReleaseAndAcquire) {
    for (const char* name : {"a.dat", "b.dat", "c.dat", "d.dat"}) {
        temp_.WriteFile(name, "x");
        SetFileTime(name, 1000);
    }
    auto* a = new Probe("a.dat", nullptr);
    auto* b = new Probe("b.dat", nullptr);
    auto* c = new Probe("c.dat", nullptr);
    auto* d = new Probe("d.dat", nullptr);
    for (const char* name : {"a.dat", "b.dat", "c.dat", "d.dat"}) {
        SetFileTime(name, 2000);
    }
    // Loading "b" makes its last holder let go of it, drops "c" (not yet visited) and brings
    // in a new resource.
    const uint64_t bSerial = b->GetSerial();
    Probe* extra = nullptr;
    b->onLoad = [&] {
        b->Release();
        c->Release();
        extra = new Probe("bb.dat", nullptr);
    };
    ReloadAllChangedResources();
    EXPECT_EQ(a->loads, 1);
    EXPECT_EQ(d->loads, 1);
    EXPECT_FALSE(IsAlive(bSerial));
    EXPECT_EQ(FindResourceByKey("c.dat"), nullptr);
    ASSERT_NE(extra, nullptr);
    EXPECT_EQ(extra->loads, 0);
    temp_.WriteFile("bb.dat", "x");
    EXPECT_TRUE(ReloadResourceByName("BB.DAT"));
    EXPECT_EQ(extra->loads, 1);
    for (Probe* probe : {a, d, extra}) {
        probe->Release();
    }
}

// Device loss -----------------------------------------------------------------------------

using ResourceVideoMemory = ResourceDiskTest;

TEST_F(ResourceVideoMemory, DeviceLossReleasesThenRestoresEveryResourceInKeyOrder) {
    Journal().clear();
    auto* c = new Probe("c.dat", nullptr);
    auto* b = new Probe("B.dat", nullptr);
    auto* a = new Probe("a.dat", nullptr);
    auto* unnamed = new Probe("", nullptr);
    // A release that gives back a resource later in the order must not upset the walk.
    b->onRelease = [&] {
        c->Release();
        c = nullptr;
    };
    LosableDevice().LoseAndReset();
    EXPECT_EQ(Journal(), (std::vector<std::string>{"release a.dat", "release b.dat", "reset",
                                                   "restore a.dat", "restore b.dat"}));
    for (Probe* probe : {a, b, unnamed}) {
        probe->Release();
    }
}

// Users -----------------------------------------------------------------------------------

struct Watcher : Entity {
    void OnResourceChanged(Resource* resource, const char* argument) override {
        seen.push_back(std::string(resource->GetKey()) + " " + argument);
    }
    std::vector<std::string> seen;
};

TEST_F(ResourceReload, UsersAreToldOfEveryLoadAndGoneUsersAreSkipped) {
    temp_.WriteFile("u.txt", "x");
    RawData* data = GetRawData("u.txt", nullptr);
    Watcher watcher;
    watcher.ChangeId(TheIdMap().GetFreeLocalId(0));
    {
        Watcher gone;
        gone.ChangeId(TheIdMap().GetFreeLocalId(0));
        data->AddUser(gone.GetId());
    }
    data->AddUser(watcher.GetId());
    data->Load();
    EXPECT_EQ(watcher.seen, std::vector<std::string>{"u.txt changed"});
    data->RemoveUser(watcher.GetId());
    data->Load();
    EXPECT_EQ(watcher.seen.size(), 1u);
    data->Release();
}

} // namespace
} // namespace quarn
