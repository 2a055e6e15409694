#include "collision/CollisionPartition.h"
#include "collision/CollisionSpaceHash.h"
#include "collision/CollisionSpaceSweepnPrune.h"
#include "core/os/EditorToolbar.h"
#include "core/scene/EngineState.h"
#include "tests/collision/CollisionTestSupport.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/RecordingAssertionHook.h"
#include "tests/support/RecordingDialogHook.h"
#include "tests/support/RecordingValidityHook.h"

#include <algorithm>
#include <iterator>
#include <cfloat>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace quarn {
namespace {

using PairNames = std::set<std::pair<std::string, std::string>>;

// Built by appending: gcc 12 warns falsely about a literal + std::to_string in release builds.
std::string Numbered(const char* prefix, int number) {
    std::string name = prefix;
    name += std::to_string(number);
    return name;
}

std::pair<std::string, std::string> Named(const CollisionVolume& a, const CollisionVolume& b) {
    return std::minmax(a.GetName(), b.GetName());
}

// What the physics world would see of a space in one step.
struct Recorder {
    PairNames pairs;
    int calls = 0;
    static void Record(void* data, CollisionVolume& a, CollisionVolume& b) {
        auto* self = static_cast<Recorder*>(data);
        self->pairs.insert(Named(a, b));
        ++self->calls;
    }
    // From a sweep-and-prune space the first argument is the pair record.
    static inline Recorder* current = nullptr;
    static void RecordCached(void*, CollisionVolume& a, CollisionVolume& b) {
        Record(current, a, b);
    }
};

class CollisionSpaceTest : public test::CollisionTest {
protected:
    CollisionSphere* Ball(const std::string& name, Float3 centre, float radius,
                          uint32_t flags = CollSolid) {
        CollisionSphere* sphere = Sphere(centre, radius);
        sphere->SetName(name.c_str());
        sphere->SetCollFlags(flags);
        sphere->SetCollMask(CollSolid);
        sphere->SetCollTest(CollSolid);
        return sphere;
    }
    static PairNames Collide(CollisionSpace& space) {
        Recorder recorder;
        Recorder::current = &recorder;
        space.Prepare();
        space.Collide(&recorder, &Recorder::Record);
        return recorder.pairs;
    }
    static PairNames CollideCached(CollisionSpace& space) {
        Recorder recorder;
        Recorder::current = &recorder;
        space.Prepare();
        space.Collide(nullptr, &Recorder::RecordCached);
        EXPECT_EQ(static_cast<size_t>(recorder.calls), recorder.pairs.size());
        return recorder.pairs;
    }
    // The pairs whose world boxes overlap, under each space's own acceptance test.
    static PairNames BruteForce(const std::vector<CollisionVolume*>& volumes, bool cached) {
        PairNames pairs;
        for (size_t i = 0; i < volumes.size(); ++i) {
            for (size_t j = i + 1; j < volumes.size(); ++j) {
                CollisionVolume& a = *volumes[i];
                CollisionVolume& b = *volumes[j];
                const Aabb p = a.GetWorldBoundingBox();
                const Aabb q = b.GetWorldBoundingBox();
                const bool overlap = p.max.x >= q.min.x && q.max.x >= p.min.x &&
                                     p.max.y >= q.min.y && q.max.y >= p.min.y &&
                                     p.max.z >= q.min.z && q.max.z >= p.min.z;
                const bool accepted =
                    cached ? !(a.HasCollFlags(CollStatic) && b.HasCollFlags(CollStatic)) &&
                                 (a.AcceptsVolume(b) || b.AcceptsVolume(a))
                           : (a.GetActiveFlags() & b.GetQueryFlags()) ||
                                 (b.GetActiveFlags() & a.GetQueryFlags());
                if (overlap && accepted) {
                    pairs.insert(Named(a, b));
                }
            }
        }
        return pairs;
    }
    CollisionSpaceSweepnPrune* SweepSpace(int32_t maxVolumes) {
        auto* space = tree_.Make<CollisionSpaceSweepnPrune>("sap");
        space->SetMaxVolumes(maxVolumes);
        return space;
    }
};

// Pair cache ----------------------------------------------------------------------------------

TEST_F(CollisionSpaceTest, ThePairCacheAgreesWithAMapThroughLongProbeRunsAndWrapAround) {
    auto* space = tree_.Make<CollisionSpaceHash>("cache");
    std::vector<CollisionSphere*> volumes;
    for (int i = 0; i < 140; ++i) { // 9730 pairs: more than the table holds
        volumes.push_back(Ball(Numbered("v", i), Float3(), 1.0f));
    }
    std::map<std::pair<int, int>, uint32_t> model; // pair -> the stamp written into its record
    std::mt19937 random(99);
    uint32_t nextStamp = 1;
    auto check = [&] {
        ASSERT_EQ(space->GetUsedPairCount(), model.size());
        for (const auto& [pair, stamp] : model) {
            CollisionPair* record = space->FindPair(*volumes[pair.first], *volumes[pair.second]);
            ASSERT_NE(record, nullptr);
            ASSERT_EQ(record->stamp, stamp);
            EXPECT_EQ(&space->GetUsedPair(record->usedSlot), record);
            EXPECT_GT(record->first, record->second);
        }
    };
    // Up to 8,150 pairs, past the first table's three quarters (it grows while records are
    // taken and given back), then churn there, where runs wrap at the end.
    for (int step = 0; step < 60000; ++step) {
        int a = static_cast<int>(random() % volumes.size());
        int b = static_cast<int>(random() % volumes.size());
        if (a == b) {
            continue;
        }
        const auto key = std::minmax(a, b);
        const bool fill = model.size() < 8150;
        if (fill || (random() & 1)) {
            CollisionPair* record = space->FindOrCreatePair(*volumes[b], *volumes[a]);
            ASSERT_NE(record, nullptr);
            if (!model.count(key)) {
                record->stamp = nextStamp;
                model[key] = nextStamp++;
            }
        } else if (auto found = model.find(key); found != model.end()) {
            space->RemovePair(*space->FindPair(*volumes[a], *volumes[b]));
            model.erase(found);
        } else {
            EXPECT_EQ(space->FindPair(*volumes[a], *volumes[b]), nullptr);
        }
        if (step % 2000 == 0) {
            check();
        }
    }
    check();
    EXPECT_EQ(space->GetDroppedPairCount(), 0u);
}

TEST_F(CollisionSpaceTest, AFullPairCacheRefusesNewPairsWarnsOnceAndCountsThem) {
    test::CapturingLogSink log;
    auto* space = tree_.Make<CollisionSpaceHash>("full");
    std::vector<CollisionSphere*> volumes;
    for (int i = 0; i < 130; ++i) {
        volumes.push_back(Ball(Numbered("v", i), Float3(), 1.0f));
    }
    int refused = 0;
    for (size_t i = 0; i < volumes.size(); ++i) {
        for (size_t j = i + 1; j < volumes.size(); ++j) {
            refused += space->FindOrCreatePair(*volumes[i], *volumes[j]) ? 0 : 1;
        }
    }
    EXPECT_EQ(space->GetUsedPairCount(), CollisionSpace::PairCapacity);
    EXPECT_EQ(refused, 130 * 129 / 2 - 8192);
    EXPECT_EQ(space->GetDroppedPairCount(), static_cast<uint64_t>(refused));
    EXPECT_EQ(log.Lines().size(), 1u);
    EXPECT_TRUE(log.Contains("'full'") && log.Contains("8192"));
    // Existing pairs are still found.
    EXPECT_NE(space->FindOrCreatePair(*volumes[1], *volumes[0]), nullptr);
}

TEST_F(CollisionSpaceTest, AVolumeLeavingASpaceTakesItsRecordsAlong) {
    auto* space = tree_.Make<CollisionSpaceHash>("hash");
    CollisionSphere* a = Ball("a", Float3(), 1.0f);
    CollisionSphere* b = Ball("b", Float3(), 1.0f);
    CollisionSphere* c = Ball("c", Float3(), 1.0f);
    for (CollisionSphere* v : {a, b, c}) {
        space->AddVolume(*v);
    }
    space->FindOrCreatePair(*a, *b);
    space->FindOrCreatePair(*b, *c);
    space->FindOrCreatePair(*c, *a);
    b->Delete();
    ASSERT_EQ(space->GetUsedPairCount(), 1u);
    EXPECT_NE(space->FindPair(*a, *c), nullptr);
    // A record naming a volume that is gone (one never in the space) reaches no callback.
    CollisionSphere* stray = Ball("stray", Float3(), 1.0f);
    CollisionPair* record = space->FindOrCreatePair(*a, *stray);
    Recorder recorder;
    Recorder::current = &recorder;
    space->FilterCachedPair(*record, &Recorder::RecordCached);
    EXPECT_EQ(recorder.calls, 1);
    stray->Delete();
    space->FilterCachedPair(*record, &Recorder::RecordCached);
    EXPECT_EQ(recorder.calls, 1);
}

TEST_F(CollisionSpaceTest, RecordsHandOverTheVolumesTheyNameInTheirOrderAfterRemovals) {
    auto* space = tree_.Make<CollisionSpaceHash>("hash");
    std::vector<CollisionSphere*> volumes;
    for (int i = 0; i < 12; ++i) {
        volumes.push_back(Ball(Numbered("v", i), Float3(), 1.0f));
        space->AddVolume(*volumes.back());
    }
    for (size_t i = 0; i < volumes.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
            // Either volume named first: the record orders them by serial all the same.
            if ((i + j) % 2) {
                space->FindOrCreatePair(*volumes[i], *volumes[j]);
            } else {
                space->FindOrCreatePair(*volumes[j], *volumes[i]);
            }
        }
    }
    for (size_t i : {1, 4, 5, 9}) {
        volumes[i]->Delete();
    }
    ASSERT_EQ(space->GetUsedPairCount(), 28u);
    static uint64_t handed[2];
    for (uint32_t i = 0; i < space->GetUsedPairCount(); ++i) {
        CollisionPair& record = space->GetUsedPair(i);
        handed[0] = handed[1] = 0;
        space->FilterCachedPair(record, [](void*, CollisionVolume& a, CollisionVolume& b) {
            handed[0] = a.GetSerial();
            handed[1] = b.GetSerial();
        });
        EXPECT_EQ(handed[0], record.first);
        EXPECT_EQ(handed[1], record.second);
    }
}

// Sweep-and-prune space -----------------------------------------------------------------------

TEST_F(CollisionSpaceTest, SweepSpaceRecordsPersistAndFollowMovesRemovalsAndRebuilds) {
    CollisionSpaceSweepnPrune* space = SweepSpace(1000);
    std::mt19937 random(5);
    std::uniform_real_distribution<float> place(-10.0f, 10.0f);
    std::vector<CollisionVolume*> volumes;
    for (int i = 0; i < 300; ++i) {
        const uint32_t flags = (i % 7 == 0) ? CollSolid | CollStatic : CollSolid;
        volumes.push_back(Ball(Numbered("v", i), Float3(place(random), place(random), place(random)),
                               0.3f + static_cast<float>(i % 5) * 0.4f, flags));
        space->AddVolume(*volumes.back());
    }
    EXPECT_EQ(CollideCached(*space), BruteForce(volumes, true));
    ASSERT_GT(space->GetUsedPairCount(), 0u);
    // Touching data stays with its pair across steps.
    CollisionPair& kept = space->GetUsedPair(0);
    kept.contactDepth = 0.25f;
    const uint64_t keptFirst = kept.first;
    for (int step = 0; step < 20; ++step) {
        for (int m = 0; m < 15; ++m) {
            CollisionVolume* v = volumes[random() % volumes.size()];
            if (v->GetSerial() == keptFirst) {
                continue;
            }
            v->SetPosition(Float3(place(random), place(random), place(random)));
            space->VolumeMoved(*v);
        }
        EXPECT_EQ(CollideCached(*space), BruteForce(volumes, true)) << step;
    }
    bool found = false;
    for (uint32_t i = 0; i < space->GetUsedPairCount(); ++i) {
        found |= space->GetUsedPair(i).first == keptFirst && space->GetUsedPair(i).contactDepth == 0.25f;
    }
    EXPECT_TRUE(found);

    // A removal rebuilds the records at once.
    CollisionVolume* gone = volumes.back();
    volumes.pop_back();
    gone->Delete();
    for (uint32_t i = 0; i < space->GetUsedPairCount(); ++i) {
        EXPECT_NE(space->GetUsedPair(i).first, 0u);
    }
    EXPECT_EQ(CollideCached(*space), BruteForce(volumes, true));

    // Rebuild keeps the pairs and every volume's number.
    std::map<CollisionVolume*, uint32_t> numbers;
    for (CollisionVolume* v : volumes) {
        numbers[v] = v->sapHandle_ >> 16;
    }
    space->Rebuild();
    EXPECT_EQ(CollideCached(*space), BruteForce(volumes, true));
    for (CollisionVolume* v : volumes) {
        EXPECT_EQ(v->sapHandle_ >> 16, numbers[v]);
    }
}

TEST_F(CollisionSpaceTest, SweepSpaceKeepsItsVolumeLimit) {
    test::RecordingValidityHook validity;
    test::CapturingLogSink log;
    CollisionSpaceSweepnPrune* space = SweepSpace(0);
    CollisionSphere* first = Ball("first", Float3(), 1.0f);
    space->AddVolume(*first); // no limit set yet: refused
    EXPECT_EQ(first->GetSpace(), nullptr);
    ASSERT_EQ(validity.Messages().size(), 1u);
    EXPECT_EQ(validity.Messages()[0],
              "Max volumes reached in sweep-n-prune space \"sap\" (maxvolumes = 0)");
    struct {
        int32_t set;
        int32_t expected;
    } rules[] = {{2, 2}, {100000, 65535}, {0, 65535}, {-1, 65535}, {3, 3}, {65535, 65535}, {3, 3}};
    for (const auto& rule : rules) {
        space->SetMaxVolumes(rule.set);
        EXPECT_EQ(space->GetMaxVolumes(), rule.expected) << rule.set;
    }
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0].text,
              "Sweep-and-prune space \"sap\": maxvolumes 100000 is more than 65535; 65535 is taken");
    space->AddVolume(*first);
    CollisionSphere* second = Ball("second", Float3(), 1.0f);
    space->AddVolume(*second);
    space->SetMaxVolumes(1); // below the count: ignored
    EXPECT_EQ(space->GetMaxVolumes(), 3);
    space->SetMaxVolumes(2);
    space->AddVolume(*Ball("third", Float3(), 1.0f));
    EXPECT_EQ(validity.Messages().size(), 2u);
    EXPECT_NE(first->sapHandle_ >> 16, second->sapHandle_ >> 16);
}

// A scene that forgot "maxvolumes" hears of it once per space, not once per volume; a limit set
// again lets the next refusal speak.
TEST_F(CollisionSpaceTest, AFullSweepSpaceSaysSoOncePerSpaceNamingItAndItsLimit) {
    test::RecordingDialogHook dialogs;
    CollisionSpaceSweepnPrune* spaces[] = {SweepSpace(0),
                                           tree_.Make<CollisionSpaceSweepnPrune>("Space")};
    for (CollisionSpaceSweepnPrune* space : spaces) {
        for (int i = 0; i < 3; ++i) {
            space->AddVolume(*Ball(Numbered("v", i), Float3(), 1.0f));
        }
    }
    spaces[0]->SetMaxVolumes(1);
    for (int i = 0; i < 3; ++i) {
        spaces[0]->AddVolume(*Ball(Numbered("w", i), Float3(), 1.0f));
    }
    const char* const expected[] = {
        "Max volumes reached in sweep-n-prune space \"sap\" (maxvolumes = 0)",
        "Max volumes reached in sweep-n-prune space \"Space\" (maxvolumes = 0)",
        "Max volumes reached in sweep-n-prune space \"sap\" (maxvolumes = 1)",
    };
    ASSERT_EQ(dialogs.Dialogs().size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(dialogs.Dialogs()[i].title, "Validity check");
        EXPECT_EQ(dialogs.Dialogs()[i].text, expected[i]);
    }
}

// A lattice of 1,000 balls, each overlapping its 26 neighbours: 10,476 pairs, more than the
// first table holds, all cached (the table held 8,192 and dropped the rest).
TEST_F(CollisionSpaceTest, ThePairCacheGrowsWithItsSpace) {
    test::CapturingLogSink log;
    CollisionSpaceSweepnPrune* space = SweepSpace(1000);
    std::vector<CollisionVolume*> volumes;
    for (int i = 0; i < 1000; ++i) {
        const Float3 at(0.9f * static_cast<float>(i % 10), 0.9f * static_cast<float>(i / 10 % 10),
                        0.9f * static_cast<float>(i / 100));
        volumes.push_back(Ball(Numbered("v", i), at, 0.5f));
        space->AddVolume(*volumes.back());
    }
    const PairNames expected = BruteForce(volumes, true);
    ASSERT_EQ(expected.size(), 10476u);
    EXPECT_EQ(CollideCached(*space), expected);
    EXPECT_EQ(space->GetUsedPairCount(), expected.size());
    EXPECT_EQ(space->GetDroppedPairCount(), 0u);
    EXPECT_TRUE(log.Lines().empty());
    // Every record is found again in the grown table, and leaves it whole.
    std::vector<CollisionVolume*> kept;
    for (size_t i = 0; i < volumes.size(); ++i) {
        if (i % 3 == 0) {
            volumes[i]->Delete();
        } else {
            kept.push_back(volumes[i]);
        }
    }
    EXPECT_EQ(CollideCached(*space), BruteForce(kept, true));
}

TEST_F(CollisionSpaceTest, ACrowdOnOneSpotCostsMemoryByItsVolumesAndItsPairsAreFoundWhenItParts) {
    test::CapturingLogSink log;
    const DefaultAllocator& memory = DefaultAllocator::Instance();
    std::vector<size_t> bytes;
    for (int count : {200, 400}) {
        const size_t before = memory.GetLiveBytes();
        CollisionSpaceSweepnPrune* space = SweepSpace(count);
        std::vector<CollisionVolume*> volumes;
        for (int i = 0; i < count; ++i) {
            volumes.push_back(Ball(Numbered("v", i), Float3(), 0.5f));
            space->AddVolume(*volumes.back());
        }
        space->Prepare();
        bytes.push_back(memory.GetLiveBytes() - before);
        // The cache takes what it holds (these volumes, on no body, are kept first); every other
        // pair is counted as not tested.
        const uint64_t pairs = static_cast<uint64_t>(count) * (count - 1) / 2;
        const uint32_t held = CollisionSpace::PairCapacity + (CollisionSpace::PairsPerVolume +
                                                              CollisionSpace::KeptPairsPerVolume) *
                                                                 static_cast<uint32_t>(count);
        EXPECT_EQ(space->GetUsedPairCount(), held);
        EXPECT_EQ(space->GetDroppedPairCount(), pairs - held);

        // Apart (the last farthest, so that none passes another), then in a grid where each
        // touches its neighbours: every pair is found.
        for (int i = count; i-- > 0;) {
            volumes[i]->SetPosition(Float3(10.0f * static_cast<float>(i), 0.0f, 0.0f));
            space->VolumeMoved(*volumes[i]);
        }
        EXPECT_TRUE(CollideCached(*space).empty());
        for (int i = 0; i < count; ++i) {
            volumes[i]->SetPosition(Float3(0.75f * static_cast<float>(i % 20), 0.0f,
                                           0.75f * static_cast<float>(i / 20)));
            space->VolumeMoved(*volumes[i]);
        }
        EXPECT_EQ(CollideCached(*space), BruteForce(volumes, true)) << count;
    }
    // Twice the volumes, with four times the overlapping pairs, take far less than four times
    // the memory.
    EXPECT_LT(bytes[1], 2 * bytes[0]);
    EXPECT_EQ(log.Lines().size(), 2u); // one per space
}

TEST_F(CollisionSpaceTest, TwoStaticOrMasklessVolumesNeverPairInASweepSpace) {
    CollisionSpaceSweepnPrune* space = SweepSpace(10);
    CollisionSphere* a = Ball("a", Float3(), 1.0f, CollSolid | CollStatic);
    CollisionSphere* b = Ball("b", Float3(), 1.0f, CollSolid | CollStatic);
    CollisionSphere* c = Ball("c", Float3(), 1.0f);
    CollisionSphere* d = Ball("d", Float3(), 1.0f);
    c->SetCollMask(0);
    d->SetCollMask(0);
    for (CollisionSphere* v : {a, b, c, d}) {
        space->AddVolume(*v);
    }
    EXPECT_EQ(CollideCached(*space), (PairNames{{"a", "c"}, {"a", "d"}, {"b", "c"}, {"b", "d"}}));
    EXPECT_EQ(space->GetUsedPairCount(), 5u); // c-d has a record but no callback
}

TEST_F(CollisionSpaceTest, TearingDownASceneWithManyVolumesIsClean) {
    Node* root = tree_.Make<Node>("root");
    auto* space = tree_.Make<CollisionSpaceSweepnPrune>("sap", root);
    space->SetMaxVolumes(3000);
    for (int i = 0; i < 2000; ++i) {
        CollisionSphere* v = Ball("v", Float3(static_cast<float>(i % 50), 0.0f, static_cast<float>(i / 50)), 0.7f);
        v->AttachAsLast(root);
        space->AddVolume(*v);
    }
    space->Prepare();
    EngineStateScope shuttingDown(EngineShuttingDown);
    root->Delete();
}

TEST_F(CollisionSpaceTest, ToolbarButtonsServeTheFirstTwoSweepSpaces) {
    const auto& buttons = GetToolbarButtons();
    ASSERT_GE(buttons.size(), 2u);
    EXPECT_EQ(buttons[0].label, "Collision layer");
    EXPECT_EQ(buttons[1].bitmapIndex, 23);
    CollisionSpaceSweepnPrune* space = SweepSpace(1);
    EXPECT_EQ(CollisionSpaceSweepnPrune::HandleToolbar(0, ToolbarIsEnabled), 1);
    EXPECT_EQ(CollisionSpaceSweepnPrune::HandleToolbar(1, ToolbarIsEnabled), 0);
    CollisionSpaceSweepnPrune::HandleToolbar(0, ToolbarExecute);
    EXPECT_EQ(space->GetSpaceFlags(), 1u);
    EXPECT_EQ(CollisionSpaceSweepnPrune::HandleToolbar(0, ToolbarIsChecked), 1);
}

TEST_F(CollisionSpaceTest, SweepSpacesGiveTheSameRecordsWhateverTheMemoryOrder) {
    auto run = [this](int padding) {
        std::vector<std::unique_ptr<char[]>> pad;
        CollisionSpaceSweepnPrune* space = SweepSpace(100);
        std::vector<std::pair<std::string, std::string>> order;
        for (int i = 0; i < 40; ++i) {
            pad.emplace_back(new char[static_cast<size_t>(16 + (i * padding) % 300)]);
            space->AddVolume(*Ball(Numbered("v", i), Float3(static_cast<float>(i % 6), 0.0f, static_cast<float>(i / 6)), 0.8f));
        }
        space->Prepare();
        for (uint32_t i = 0; i < space->GetUsedPairCount(); ++i) {
            const CollisionPair& record = space->GetUsedPair(i);
            order.emplace_back(Entity::FindBySerial(record.first)->GetName(),
                               Entity::FindBySerial(record.second)->GetName());
        }
        return order;
    };
    const auto first = run(7);
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(run(131), first);
}

// Hash space ----------------------------------------------------------------------------------

TEST_F(CollisionSpaceTest, HashSpaceReportsEachFilteredOverlapOnce) {
    auto* space = tree_.Make<CollisionSpaceHash>("hash");
    std::mt19937 random(11);
    std::uniform_real_distribution<float> place(-20.0f, 20.0f);
    std::vector<CollisionVolume*> volumes;
    for (int i = 0; i < 400; ++i) {
        // Radii from 0.01 to 300: every level from the lowest to the big list.
        const float radius = 0.01f * std::pow(2.0f, static_cast<float>(i % 16));
        const uint32_t flags = (i % 5 == 0) ? CollSolid | CollStatic : (i % 9 == 0 ? CollTrigger : CollSolid);
        volumes.push_back(Ball(Numbered("v", i), Float3(place(random), place(random), place(random)), radius, flags));
    }
    volumes.push_back(Plane(Float3(0.0f, -5.0f, 0.0f), 0));
    volumes.back()->SetName("plane");
    volumes.push_back(Ball("huge", Float3(), 3.0e38f));
    volumes.push_back(Ball("nan", Float3(std::numeric_limits<float>::quiet_NaN(), 0.0f, 0.0f), 1.0f));
    for (CollisionVolume* v : volumes) {
        space->AddVolume(*v);
    }
    Recorder recorder;
    space->Collide(&recorder, &Recorder::Record);
    EXPECT_EQ(static_cast<size_t>(recorder.calls), recorder.pairs.size()); // once each
    const PairNames expected = BruteForce(volumes, false);
    std::vector<std::pair<std::string, std::string>> missing, extra;
    std::set_difference(expected.begin(), expected.end(), recorder.pairs.begin(),
                        recorder.pairs.end(), std::back_inserter(missing));
    std::set_difference(recorder.pairs.begin(), recorder.pairs.end(), expected.begin(),
                        expected.end(), std::back_inserter(extra));
    EXPECT_TRUE(missing.empty()) << missing.front().first << " " << missing.front().second;
    EXPECT_TRUE(extra.empty()) << extra.front().first << " " << extra.front().second;
    EXPECT_GT(std::count_if(expected.begin(), expected.end(),
                            [](const auto& pair) { return pair.first == "plane"; }),
              10);

    test::RecordingAssertionHook assertions;
    space->Collide(nullptr, nullptr);
    EXPECT_EQ(assertions.Messages().size(), 1u);
}

// The hash space's walk written plainly: per volume in list order, per level upward, per cell,
// the volumes of that level in the cell, latest hashed first, each pair once; then the hashed
// volumes against the big ones and the big ones among themselves.
std::vector<std::pair<std::string, std::string>> HashWalkOrder(CollisionSpace& space, int minLevel,
                                                              int maxLevel) {
    struct Hashed {
        CollisionVolume* volume;
        int level;
        int32_t cells[6];
    };
    std::vector<Hashed> hashed;
    std::vector<CollisionVolume*> big;
    for (CollisionVolume* v = space.GetFirstVolume(); v; v = v->GetNextInSpace()) {
        const Aabb box = v->GetWorldBoundingBox();
        Hashed h{v, std::max(CollisionSpaceHash::BoxLevel(box), minLevel), {}};
        const float bounds[6] = {box.min.x, box.min.y, box.min.z, box.max.x, box.max.y, box.max.z};
        bool fits = h.level <= maxLevel;
        for (int b = 0; b < 6 && fits; ++b) {
            const double q = bounds[b] / std::ldexp(1.0f, h.level);
            fits = std::fabs(q) < 1e9;
            h.cells[b] = fits ? static_cast<int32_t>(q >= 0 ? std::trunc(q) : std::trunc(q - 1)) : 0;
        }
        (fits ? (void)hashed.push_back(h) : big.push_back(v));
    }
    int highest = minLevel - 1;
    for (const Hashed& h : hashed) {
        highest = std::max(highest, h.level);
    }
    std::vector<std::pair<std::string, std::string>> order;
    std::set<std::pair<size_t, size_t>> tested;
    auto record = [](void* list, CollisionVolume& a, CollisionVolume& b) {
        static_cast<decltype(order)*>(list)->emplace_back(a.GetName(), b.GetName());
    };
    for (size_t a = 0; a < hashed.size(); ++a) {
        int32_t c[6];
        std::copy(hashed[a].cells, hashed[a].cells + 6, c);
        for (int level = hashed[a].level; level <= highest; ++level) {
            for (int32_t x = c[0]; x <= c[3]; ++x) {
                for (int32_t y = c[1]; y <= c[4]; ++y) {
                    for (int32_t z = c[2]; z <= c[5]; ++z) {
                        for (size_t b = hashed.size(); b-- > 0;) {
                            const Hashed& B = hashed[b];
                            if (b == a || B.level != level || x < B.cells[0] || x > B.cells[3] ||
                                y < B.cells[1] || y > B.cells[4] || z < B.cells[2] ||
                                z > B.cells[5] || !tested.insert(std::minmax(a, b)).second) {
                                continue;
                            }
                            CollisionSpace::FilterBoxPair(*hashed[a].volume, *B.volume, &order,
                                                          record);
                        }
                    }
                }
            }
            for (int32_t& cell : c) {
                cell >>= 1;
            }
        }
    }
    for (const Hashed& h : hashed) {
        for (CollisionVolume* v : big) {
            CollisionSpace::FilterBoxPair(*h.volume, *v, &order, record);
        }
    }
    for (size_t i = 0; i < big.size(); ++i) {
        for (size_t j = i + 1; j < big.size(); ++j) {
            CollisionSpace::FilterBoxPair(*big[i], *big[j], &order, record);
        }
    }
    return order;
}

TEST_F(CollisionSpaceTest, HashSpaceCallsBackInItsWalkOrder) {
    auto* space = tree_.Make<CollisionSpaceHash>("hash");
    std::mt19937 random(3);
    std::uniform_real_distribution<float> place(-6.0f, 6.0f);
    for (int i = 0; i < 300; ++i) {
        const uint32_t flags = (i % 4 == 0) ? CollSolid | CollStatic : CollSolid;
        space->AddVolume(*Ball(Numbered("v", i), Float3(place(random), place(random), place(random)),
                               0.05f * std::pow(2.0f, static_cast<float>(i % 9)), flags));
    }
    space->AddVolume(*Ball("huge", Float3(), 3.0e38f));
    std::vector<std::pair<std::string, std::string>> order;
    space->Collide(&order, [](void* list, CollisionVolume& a, CollisionVolume& b) {
        static_cast<decltype(order)*>(list)->emplace_back(a.GetName(), b.GetName());
    });
    EXPECT_GT(order.size(), 300u);
    EXPECT_EQ(order, HashWalkOrder(*space, -3, 10));
}

TEST_F(CollisionSpaceTest, LargeStaticVolumesAreFoundFromSmallerAndLargerOnes) {
    auto* space = tree_.Make<CollisionSpaceHash>("hash");
    CollisionSphere* ground = Ball("ground", Float3(), 40.0f, CollSolid | CollStatic);
    CollisionSphere* pebble = Ball("pebble", Float3(10.0f, 0.0f, 0.0f), 0.1f);
    CollisionSphere* rock = Ball("rock", Float3(-3.0f, 2.0f, 0.0f), 6.0f, CollSolid | CollStatic);
    for (CollisionSphere* v : {ground, pebble, rock}) {
        space->AddVolume(*v);
    }
    Recorder recorder;
    space->Collide(&recorder, &Recorder::Record);
    EXPECT_EQ(recorder.pairs, (PairNames{{"ground", "pebble"}}));
    // A moving volume larger than a static one never searches down to its level: the static
    // one searches up.
    space->AddVolume(*Ball("whale", Float3(0.0f, 90.0f, 0.0f), 100.0f));
    recorder = Recorder();
    space->Collide(&recorder, &Recorder::Record);
    EXPECT_EQ(recorder.pairs, (PairNames{{"ground", "pebble"}, {"ground", "whale"},
                                         {"rock", "whale"}, {"pebble", "whale"}}));
    EXPECT_EQ(CollisionSpaceHash::BoxLevel({Float3(), Float3(3.0f, 0.5f, 1.0f)}), 2);
    EXPECT_EQ(CollisionSpaceHash::BoxLevel({Float3(-FLT_MAX, 0, 0), Float3()}), INT_MAX);
}

// Queries -------------------------------------------------------------------------------------

TEST_F(CollisionSpaceTest, BoxAndRayQueriesAgreeWithBruteForce) {
    auto* space = tree_.Make<CollisionSpaceHash>("query");
    std::vector<CollisionSphere*> balls;
    for (int i = 0; i < 20; ++i) {
        balls.push_back(Ball(Numbered("b", i), Float3(static_cast<float>(i) * 3.0f, 0.0f, 0.0f), 1.0f));
        space->AddVolume(*balls.back());
    }
    CollisionVolume* found[CollisionSpace::BoxQueryCapacity];
    const int count = space->BoxQuery(Float3(2.0f, -1.0f, -1.0f), Float3(8.0f, 1.0f, 1.0f), found, 1024);
    std::set<std::string> names;
    for (int i = 0; i < count; ++i) {
        names.insert(found[i]->GetName());
    }
    EXPECT_EQ(names, (std::set<std::string>{"b1", "b2", "b3"})); // b1 reaches x = 4, b3 starts at 8
    EXPECT_EQ(space->BoxQuery(Float3(-100, -100, -100), Float3(100, 100, 100), found, 5), 5);

    // From x = 4.5 the ray meets b2 (5..7) within 10 but not within 0.4; the test value and
    // mask select volumes by their flags; a ray of no length hits nothing.
    EXPECT_TRUE(space->RayQuery(Float3(4.5f, 0.0f, 0.0f), Float3(10.0f, 0.0f, 0.0f), CollSolid, CollSolid));
    EXPECT_FALSE(space->RayQuery(Float3(4.5f, 0.0f, 0.0f), Float3(10.0f, 0.0f, 0.0f), CollTrigger, CollTrigger));
    EXPECT_FALSE(space->RayQuery(Float3(4.5f, 0.0f, 0.0f), Float3(0.4f, 0.0f, 0.0f), 0, 0));
    EXPECT_FALSE(space->RayQuery(Float3(4.5f, 0.0f, 0.0f), Float3(), 0, 0));

    auto* partition = tree_.Make<CollisionPartition>("partition");
    Node* root = tree_.Make<Node>("root");
    balls[4]->AttachAsLast(root);
    balls[6]->AttachAsLast(root);
    EXPECT_TRUE(partition->LineCollision(root, Float3(0.0f, 0.0f, 0.0f), Float3(1.0f, 0.0f, 0.0f)));
    EXPECT_EQ(partition->GetCollisionNode(), balls[4]);
    test::ExpectNear(partition->GetCollisionPoint(), Float3(11.0f, 0.0f, 0.0f));
    EXPECT_TRUE(space->PickSubtree(root, Float3(30.0f, 0.0f, 0.0f), Float3(-1.0f, 0.0f, 0.0f),
                                   PickDefaultFlags, 0, 0));
    EXPECT_FALSE(space->PickSubtree(root, Float3(30.0f, 5.0f, 0.0f), Float3(-1.0f, 0.0f, 0.0f),
                                    PickDefaultFlags, 0, 0));
    partition->SetMaxNodes(2000000000);
    EXPECT_EQ(partition->GetMaxNodes(), 2000000000);
}

} // namespace
} // namespace quarn
