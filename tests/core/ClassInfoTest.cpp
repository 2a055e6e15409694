#include "core/ClassInfo.h"

#include "core/Entity.h"
#include "core/PropertyScalar.h"
#include "core/PropertyText.h"
#include "core/PropertyVector.h"
#include "tests/support/RecordingValidityHook.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace quarn {
namespace {

// The class the next CiAny made by a factory answers.
ClassInfo* nextClass = nullptr;

// An object whose class is whatever record made it, so one C++ class serves every record.
class CiAny : public Entity {
public:
    ClassInfo* GetClass() const override { return class_; }

private:
    ClassInfo* class_ = nextClass;
};

Entity* CreateAny() {
    return new CiAny;
}

// A record made for one test. The test owns it, so its parent's reset must not free it.
std::unique_ptr<ClassInfo> MakeClass(const char* name, ClassInfo* parent = nullptr,
                                     EntityFactory factory = nullptr) {
    auto record = std::make_unique<ClassInfo>(name, factory, nullptr);
    record->SetFlags(record->GetFlags() & ~ClassHeapOwned);
    record->SetParent(parent);
    return record;
}

Entity* CreateIn(ClassInfo* record) {
    nextClass = record;
    return record->CreateInstance();
}

TEST(ClassInfoNames, ShortNameStopsAtTheFirstUnderscore) {
    auto sprite = MakeClass("CiSprite_old");
    EXPECT_STREQ(sprite->GetName(), "CiSprite_old");
    EXPECT_STREQ(sprite->GetShortName(), "CiSprite");
    auto plain = MakeClass("CiPlain");
    EXPECT_STREQ(plain->GetShortName(), "CiPlain");
}

TEST(ClassInfoNames, ClassesJoinTheListInOrderAndAreFoundByExactName) {
    int count = GetClassCount();
    auto first = MakeClass("CiListedFirst");
    auto second = MakeClass("CiListedSecond");
    EXPECT_EQ(GetClassCount(), count + 2);
    EXPECT_EQ(first->GetClassNumber(), count);
    EXPECT_EQ(second->GetClassNumber(), count + 1);
    EXPECT_EQ(GetClassByIndex(count + 1), second.get());
    EXPECT_EQ(FindClass("CiListedFirst"), first.get());
    EXPECT_EQ(FindClass("cilistedfirst"), nullptr);
    EXPECT_EQ(GetClassByIndex(-1), nullptr);
    EXPECT_EQ(GetClassByIndex(GetClassCount()), nullptr);
}

TEST(ClassInfoNames, CustomRecordsOfAnyCaseStayOutOfTheList) {
    auto base = MakeClass("CiCustomBase", Entity::RegisterClass());
    int count = GetClassCount();
    auto custom = MakeClass("CUSTOM", base.get());
    EXPECT_EQ(custom->GetClassNumber(), -1);
    EXPECT_EQ(GetClassCount(), count);
    EXPECT_EQ(FindClass("CUSTOM"), nullptr);
    EXPECT_TRUE(custom->IsDerivedFrom(base.get()));
}

TEST(ClassInfoNames, ADerivedClassWithoutCategoryTakesItsParentsWhenAttached) {
    auto base = MakeClass("CiCategoryBase");
    base->SetCategory("Behaviour");
    auto plain = MakeClass("CiCategoryPlain", base.get());
    auto own = MakeClass("CiCategoryOwn");
    own->SetCategory("Lights");
    own->SetParent(base.get());
    EXPECT_STREQ(plain->GetCategory(), "Behaviour");
    EXPECT_STREQ(own->GetCategory(), "Lights");
}

TEST(ClassInfoHierarchy, AClassDerivesFromItselfAndItsAncestorsButNotFromASibling) {
    auto shape = MakeClass("CiShape", Entity::RegisterClass());
    auto circle = MakeClass("CiCircle", shape.get());
    auto square = MakeClass("CiSquare", shape.get());
    EXPECT_TRUE(circle->IsDerivedFrom(circle.get()));
    EXPECT_TRUE(circle->IsDerivedFrom(shape.get()));
    EXPECT_TRUE(circle->IsDerivedFrom(Entity::classInfo));
    EXPECT_FALSE(circle->IsDerivedFrom(square.get()));
    EXPECT_FALSE(square->IsDerivedFrom(circle.get()));
    EXPECT_FALSE(shape->IsDerivedFrom(circle.get()));
    EXPECT_FALSE(circle->IsDerivedFrom(nullptr));
}

TEST(ClassInfoHierarchy, AClassAddedAfterASiblingLeftIsUnrelatedToTheOthers) {
    auto base = MakeClass("CiFamily", Entity::RegisterClass());
    auto first = MakeClass("CiFamilyFirst", base.get());
    auto second = MakeClass("CiFamilySecond", base.get());
    auto grandchild = MakeClass("CiFamilySecondChild", second.get());
    first.reset();
    auto third = MakeClass("CiFamilyThird", base.get());
    EXPECT_FALSE(third->IsDerivedFrom(second.get()));
    EXPECT_FALSE(second->IsDerivedFrom(third.get()));
    EXPECT_FALSE(grandchild->IsDerivedFrom(third.get()));
    EXPECT_TRUE(grandchild->IsDerivedFrom(second.get()));
    EXPECT_TRUE(third->IsDerivedFrom(base.get()));
}

TEST(ClassInfoHierarchy, CustomClassesComingAndGoingNeverRunOutOfNumbers) {
    test::RecordingValidityHook hook;
    auto base = MakeClass("CiBranchLike", Entity::RegisterClass());
    auto resident = MakeClass("custom", base.get());
    for (int i = 0; i < 1000; ++i) {
        auto passing = MakeClass("custom", base.get());
        ASSERT_FALSE(passing->IsDerivedFrom(resident.get())) << i;
    }
    EXPECT_TRUE(hook.Messages().empty());
}

TEST(ClassInfoHierarchy, MoreThan255LiveSiblingsAreReported) {
    test::RecordingValidityHook hook;
    auto base = MakeClass("CiCrowded", Entity::RegisterClass());
    std::vector<std::unique_ptr<ClassInfo>> children;
    for (int i = 0; i < 255; ++i) {
        children.push_back(MakeClass("custom", base.get()));
        if (i > 0) {
            ASSERT_FALSE(children[i]->IsDerivedFrom(children[i - 1].get())) << i;
        }
    }
    EXPECT_TRUE(hook.Messages().empty());
    auto extra = MakeClass("CiCrowdedExtra", base.get());
    ASSERT_EQ(hook.Messages().size(), 1u);
    EXPECT_NE(hook.Messages()[0].find("CiCrowdedExtra"), std::string::npos);
    EXPECT_TRUE(extra->IsDerivedFrom(base.get()));

    // Once one leaves, the next class has a number again.
    children[100].reset();
    auto late = MakeClass("CiCrowdedLate", base.get());
    EXPECT_EQ(hook.Messages().size(), 1u);
    EXPECT_FALSE(late->IsDerivedFrom(children[99].get()));
    EXPECT_FALSE(children[101]->IsDerivedFrom(late.get()));
}

TEST(ClassInfoHierarchy, ChainsDeeperThanTheIdHoldsStillDeriveFromEveryAncestor) {
    std::vector<std::unique_ptr<ClassInfo>> chain;
    chain.push_back(MakeClass("CiLevel0", Entity::RegisterClass()));
    for (int level = 1; level < 10; ++level) {
        std::string name = "CiLevel" + std::to_string(level);
        chain.push_back(MakeClass(name.c_str(), chain.back().get()));
    }
    for (size_t i = 0; i < chain.size(); ++i) {
        for (size_t ancestor = 0; ancestor <= i; ++ancestor) {
            EXPECT_TRUE(chain[i]->IsDerivedFrom(chain[ancestor].get())) << i << " " << ancestor;
        }
    }
    EXPECT_FALSE(chain[1]->IsDerivedFrom(chain[2].get()));
}

TEST(ClassInfoHierarchy, MovingAClassCarriesItsDerivedClassesAlong) {
    auto left = MakeClass("CiLeft", Entity::RegisterClass());
    auto right = MakeClass("CiRight", Entity::RegisterClass());
    auto middle = MakeClass("CiMiddle", left.get());
    auto leaf = MakeClass("CiLeaf", middle.get());
    middle->SetParent(right.get());
    EXPECT_TRUE(leaf->IsDerivedFrom(right.get()));
    EXPECT_FALSE(leaf->IsDerivedFrom(left.get()));
    EXPECT_TRUE(left->GetDerivedClasses().empty());
}

// Properties -----------------------------------------------------------------------------------

TEST(ClassInfoProperties, InheritedPropertiesComeFirst) {
    auto base = MakeClass("CiPropBase", Entity::RegisterClass());
    base->AddProperty("size", std::make_unique<PropertyInt>());
    auto derived = MakeClass("CiPropDerived", base.get());
    derived->AddProperty("colour", std::make_unique<PropertyInt>());
    ASSERT_EQ(derived->GetPropertyCount(), 3);
    EXPECT_STREQ(derived->GetProperty(0)->GetName(), "name");
    EXPECT_STREQ(derived->GetProperty(1)->GetName(), "size");
    EXPECT_STREQ(derived->GetProperty(2)->GetName(), "colour");
    EXPECT_EQ(derived->GetProperty(3), nullptr);
    EXPECT_EQ(derived->GetProperty(-1), nullptr);
    EXPECT_EQ(derived->GetProperty(2)->GetIndex(), 2);
}

TEST(ClassInfoProperties, LookupIgnoresCaseAndPrefersTheOwnProperty) {
    auto base = MakeClass("CiShadowBase", Entity::RegisterClass());
    Property* inherited = base->AddProperty("speed", std::make_unique<PropertyInt>());
    auto derived = MakeClass("CiShadowDerived", base.get());
    EXPECT_EQ(derived->FindProperty("SPEED"), inherited);
    Property* own = derived->AddProperty("Speed", std::make_unique<PropertyFloat>());
    EXPECT_EQ(derived->FindProperty("speed"), own);
    EXPECT_EQ(derived->FindProperty("NAME"), Entity::classInfo->GetProperty(0));
    EXPECT_EQ(derived->FindProperty("missing"), nullptr);
}

TEST(ClassInfoProperties, TheDeclarationIsCutAtItsFirstColonAnd255Characters) {
    auto record = MakeClass("CiDeclarations");
    EXPECT_TRUE(record->GetPropertiesChanged());
    Property* speed = record->AddProperty("speed:0,10,,0.5:x", std::make_unique<PropertyFloat>());
    EXPECT_STREQ(speed->GetName(), "speed");
    EXPECT_STREQ(speed->GetRange(), "0,10,,0.5:x");
    EXPECT_EQ(speed->GetOwner(), record.get());
    EXPECT_FALSE(record->GetPropertiesChanged());
    Property* bare = record->AddProperty("bare", std::make_unique<PropertyInt>());
    EXPECT_STREQ(bare->GetRange(), "");
    std::string longDeclaration = "long:" + std::string(400, 'r');
    Property* cut =
        record->AddProperty(longDeclaration.c_str(), std::make_unique<PropertyString>());
    EXPECT_EQ(std::string(cut->GetRange()), std::string(250, 'r'));
}

TEST(ClassInfoProperties, DataSizeCountsTheWordsOfTheOwnProperties) {
    auto record = MakeClass("CiDataSize");
    record->AddProperty("position", std::make_unique<PropertyFloat3>());
    record->AddProperty("count", std::make_unique<PropertyInt>());
    record->AddProperty("turn", std::make_unique<PropertyQuaternion>());
    EXPECT_EQ(record->GetDataSize(), 8);
    EXPECT_TRUE(record->RemoveProperty("POSITION"));
    EXPECT_EQ(record->GetDataSize(), 5);
    EXPECT_FALSE(record->RemoveProperty("position"));
    EXPECT_EQ(record->GetPropertyCount(), 2);
    record->ClearProperties();
    EXPECT_EQ(record->GetDataSize(), 0);
    EXPECT_EQ(record->GetPropertyCount(), 0);
}

TEST(ClassInfoProperties, TheFirstResourcePropertyIsFoundAmongTheOwnOnly) {
    auto base = MakeClass("CiResourceBase");
    base->AddProperty("texture:texture:bmp", std::make_unique<PropertyResource>());
    auto derived = MakeClass("CiResourceDerived", base.get());
    derived->AddProperty("label", std::make_unique<PropertyString>());
    EXPECT_EQ(derived->FindFirstResourceProperty(), nullptr);
    Property* mesh = derived->AddProperty("mesh:mesh:mesh", std::make_unique<PropertyResource>());
    derived->AddProperty("shader:shader:fx", std::make_unique<PropertyResource>());
    EXPECT_EQ(derived->FindFirstResourceProperty(), mesh);
}

// Methods --------------------------------------------------------------------------------------

TEST(ClassInfoMethods, MethodsOverTheChainComeInheritedFirstAndAreFoundWithoutCase) {
    auto base = MakeClass("CiMethodBase");
    MethodInfo* inherited = base->AddMethod("Jump", "()", MethodBinding(), 66);
    auto derived = MakeClass("CiMethodDerived", base.get());
    MethodInfo* own = derived->AddMethod("Run", "(float)", MethodBinding(), 3);
    EXPECT_EQ(derived->GetMethodCount(), 2);
    EXPECT_EQ(derived->GetMethod(0), inherited);
    EXPECT_EQ(derived->GetMethod(1), own);
    EXPECT_EQ(derived->GetMethod(2), nullptr);
    EXPECT_EQ(derived->FindMethod("JUMP", true), inherited);
    EXPECT_EQ(derived->FindMethod("jump", false), nullptr);
    EXPECT_EQ(derived->FindMethod("run", false), own);
    EXPECT_EQ(own->GetOwner(), derived.get());
    EXPECT_EQ(own->GetCallFlags(), 3u);
}

// Instances ------------------------------------------------------------------------------------

TEST(ClassInfoInstances, ObjectsOfAClassWithFlagBit1StandInTheNearestAncestorsList) {
    auto shape = MakeClass("CiSharedShape", Entity::RegisterClass(), CreateAny);
    auto circle = MakeClass("CiSharedCircle", shape.get(), CreateAny);
    auto dot = MakeClass("CiSharedDot", circle.get(), CreateAny);
    dot->SetFlags(dot->GetFlags() | ClassSharesInstanceList);
    Entity* first = CreateIn(dot.get());
    EXPECT_EQ(first->GetInstanceClass(), circle.get());
    circle->SetFlags(circle->GetFlags() | ClassSharesInstanceList);
    Entity* second = CreateIn(dot.get());
    EXPECT_EQ(second->GetInstanceClass(), shape.get());
    EXPECT_EQ(dot->GetInstanceCount(), 0);
    EXPECT_EQ(circle->GetInstanceCount(), 1);
    EXPECT_EQ(shape->GetInstanceCount(), 1);

    // Removal goes up the same way from the class it is asked of.
    EXPECT_TRUE(dot->RemoveInstance(second));
    EXPECT_EQ(shape->GetInstanceCount(), 0);
    delete second;
    circle->SetFlags(circle->GetFlags() & ~ClassSharesInstanceList);
    first->Delete();
    EXPECT_EQ(circle->GetInstanceCount(), 0);
}

TEST(ClassInfoInstances, RemovingAnObjectThatIsNotInTheListChangesNothing) {
    auto record = MakeClass("CiRemoveAbsent", Entity::RegisterClass(), CreateAny);
    Entity* member = CreateIn(record.get());
    CiAny stranger;
    EXPECT_FALSE(record->RemoveInstance(&stranger));
    EXPECT_FALSE(record->RemoveInstance(nullptr));
    EXPECT_EQ(record->GetInstanceCount(), 1);
    EXPECT_EQ(record->GetInstance(0), member);
    EXPECT_EQ(member->GetInstanceClass(), record.get());
    member->Delete();
}

TEST(ClassInfoInstances, InstancesAreWalkedOwnFirstThenDerivedDepthFirst) {
    auto root = MakeClass("CiWalkRoot", Entity::RegisterClass(), CreateAny);
    auto left = MakeClass("CiWalkLeft", root.get(), CreateAny);
    auto leftChild = MakeClass("CiWalkLeftChild", left.get(), CreateAny);
    auto right = MakeClass("CiWalkRight", root.get(), CreateAny);
    Entity* inRight = CreateIn(right.get());
    Entity* inLeftChild = CreateIn(leftChild.get());
    Entity* inLeft = CreateIn(left.get());
    Entity* inRoot = CreateIn(root.get());
    Entity* inRootToo = CreateIn(root.get());

    std::vector<Entity*> expected = {inRoot, inRootToo, inLeft, inLeftChild, inRight};
    ASSERT_EQ(root->GetInstanceCountRecursive(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(root->GetInstance(i), expected[static_cast<size_t>(i)]) << i;
    }
    EXPECT_EQ(root->GetInstance(5), nullptr);
    EXPECT_EQ(root->GetInstance(-1), nullptr);
    EXPECT_EQ(left->GetInstanceCountRecursive(), 2);
    EXPECT_EQ(left->GetInstance(1), inLeftChild);
    for (Entity* object : expected) {
        object->Delete();
    }
    EXPECT_EQ(root->GetInstanceCountRecursive(), 0);
}

TEST(ClassInfoInstances, AbstractClassesAndUnknownNamesCreateNothing) {
    EXPECT_EQ(Entity::RegisterClass()->CreateInstance(), nullptr);
    EXPECT_EQ(CreateInstanceByClassName("CiNoSuchClass"), nullptr);
    EXPECT_EQ(CreateInstanceByClassName("Entity"), nullptr);
    auto record = MakeClass("CiByName", Entity::RegisterClass(), CreateAny);
    nextClass = record.get();
    Entity* object = CreateInstanceByClassName("CiByName");
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->GetInstanceClass(), record.get());
    object->Delete();
}

// Teardown -------------------------------------------------------------------------------------

int cleanUpCalls = 0;

TEST(ClassInfoReset, ResetCleansUpFreesHeapOwnedDerivedClassesAndLeavesTheList) {
    ClassInfo* root = nullptr;
    ClassInfo* heapOwned = nullptr;
    ClassInfo* kept = nullptr;
    auto rootRecord = std::make_unique<ClassInfo>("CiResetRoot", nullptr, &root);
    root = rootRecord.get();
    root->SetCleanUp([] { ++cleanUpCalls; });
    root->AddProperty("value", std::make_unique<PropertyInt>());
    root->AddMethod("Go", "()", MethodBinding(), 66);
    heapOwned = new ClassInfo("CiResetHeap", nullptr, &heapOwned);
    heapOwned->SetParent(root);
    auto keptRecord = std::make_unique<ClassInfo>("CiResetKept", nullptr, &kept);
    kept = keptRecord.get();
    kept->SetFlags(kept->GetFlags() & ~ClassHeapOwned);
    kept->SetParent(root);
    int count = GetClassCount();

    cleanUpCalls = 0;
    root->Reset();
    EXPECT_EQ(cleanUpCalls, 1);
    EXPECT_EQ(root, nullptr);
    EXPECT_EQ(heapOwned, nullptr);
    EXPECT_EQ(kept, nullptr);
    EXPECT_EQ(keptRecord->GetParent(), nullptr);
    EXPECT_TRUE(rootRecord->GetDerivedClasses().empty());
    EXPECT_EQ(rootRecord->GetPropertyCount(), 0);
    EXPECT_EQ(rootRecord->GetMethodCount(), 0);
    EXPECT_EQ(GetClassCount(), count - 3);
    EXPECT_EQ(FindClass("CiResetKept"), nullptr);

    // Destroying the record afterwards does not clean up a second time.
    rootRecord.reset();
    EXPECT_EQ(cleanUpCalls, 1);
}

TEST(ClassInfoReset, ObjectsOutlivingTheirClassCanStillBeDeleted) {
    auto record = MakeClass("CiOutlived", Entity::RegisterClass(), CreateAny);
    Entity* object = CreateIn(record.get());
    record.reset();
    EXPECT_EQ(object->GetInstanceClass(), nullptr);
    object->Delete();
}

} // namespace
} // namespace quarn
