#include "core/object/ClassInfo.h"

#include "core/object/Entity.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyText.h"
#include "core/object/ValueType.h"
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

// A record the test owns, so its parent's reset must not free it.
std::unique_ptr<ClassInfo> MakeClass(const char* name, ClassInfo* parent = nullptr) {
    auto record = std::make_unique<ClassInfo>(
        name, []() -> Entity* { return new CiAny; }, nullptr);
    record->SetFlags(record->GetFlags() & ~ClassHeapOwned);
    record->SetParent(parent);
    return record;
}

std::unique_ptr<ClassInfo> MakeEntityClass(const char* name) {
    return MakeClass(name, Entity::RegisterClass());
}

Entity* CreateIn(ClassInfo* record) {
    nextClass = record;
    return record->CreateInstance();
}

TEST(ClassInfoNames, ClassesAreListedInOrderFoundByExactNameAndTakeTheirParentsCategory) {
    const int count = GetClassCount();
    auto first = MakeClass("CiListedFirst");
    first->SetCategory("Behaviour");
    auto second = MakeClass("CiListedSecond");
    EXPECT_EQ(second->GetClassNumber(), count + 1);
    EXPECT_EQ(GetClassByIndex(count + 1), second.get());
    EXPECT_EQ(FindClass("CiListedFirst"), first.get());
    EXPECT_EQ(FindClass("cilistedfirst"), nullptr);
    EXPECT_EQ(GetClassByIndex(GetClassCount()), nullptr);

    auto custom = MakeClass("CUSTOM", first.get()); // "custom" in any case
    EXPECT_EQ(custom->GetClassNumber(), -1);
    EXPECT_EQ(GetClassCount(), count + 2);
    EXPECT_EQ(FindClass("CUSTOM"), nullptr);
    EXPECT_TRUE(custom->IsDerivedFrom(first.get()));

    // Without a category of its own a class takes its parent's when attached.
    second->SetCategory("Lights");
    second->SetParent(first.get());
    EXPECT_STREQ(custom->GetCategory(), "Behaviour");
    EXPECT_STREQ(second->GetCategory(), "Lights");
}

// Hierarchy ------------------------------------------------------------------------------------

TEST(ClassInfoHierarchy, AClassAddedAfterASiblingLeftIsUnrelatedToTheOthers) {
    auto base = MakeEntityClass("CiFamily");
    auto first = MakeClass("CiFamilyFirst", base.get());
    auto second = MakeClass("CiFamilySecond", base.get());
    auto grandchild = MakeClass("CiFamilySecondChild", second.get());
    first.reset();
    auto third = MakeClass("CiFamilyThird", base.get());
    EXPECT_FALSE(third->IsDerivedFrom(second.get()));
    EXPECT_FALSE(second->IsDerivedFrom(third.get()));
    EXPECT_FALSE(grandchild->IsDerivedFrom(third.get()));
    EXPECT_TRUE(grandchild->IsDerivedFrom(second.get()));

    // Custom classes coming and going never run out of numbers.
    test::RecordingValidityHook hook;
    for (int i = 0; i < 1000; ++i) {
        ASSERT_FALSE(MakeClass("custom", base.get())->IsDerivedFrom(third.get())) << i;
    }
    EXPECT_TRUE(hook.Messages().empty());
}

TEST(ClassInfoHierarchy, MoreThan255LiveSiblingsAreReported) {
    test::RecordingValidityHook hook;
    auto base = MakeEntityClass("CiCrowded");
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

TEST(ClassInfoHierarchy, DeepChainsDeriveFromEveryAncestorAndMoveWithTheirBase) {
    auto other = MakeEntityClass("CiOtherBase");
    std::vector<std::unique_ptr<ClassInfo>> chain;
    chain.push_back(MakeEntityClass("CiLevel0"));
    for (int level = 1; level < 10; ++level) { // deeper than the hierarchy id holds
        chain.push_back(MakeClass(("CiLevel" + std::to_string(level)).c_str(), chain.back().get()));
    }
    for (size_t i = 0; i < chain.size(); ++i) {
        for (size_t ancestor = 0; ancestor <= i; ++ancestor) {
            EXPECT_TRUE(chain[i]->IsDerivedFrom(chain[ancestor].get())) << i << " " << ancestor;
        }
    }
    EXPECT_TRUE(chain[9]->IsDerivedFrom(Entity::classInfo));
    EXPECT_FALSE(chain[1]->IsDerivedFrom(chain[2].get()));
    EXPECT_FALSE(chain[1]->IsDerivedFrom(nullptr));

    chain[1]->SetParent(other.get());
    EXPECT_TRUE(chain[9]->IsDerivedFrom(other.get()));
    EXPECT_FALSE(chain[9]->IsDerivedFrom(chain[0].get()));
    EXPECT_TRUE(chain[0]->GetDerivedClasses().empty());
}

// Properties and methods -----------------------------------------------------------------------

TEST(ClassInfoMembers, InheritedMembersComeFirstAndAreFoundWithoutCaseTheOwnPreferred) {
    auto base = MakeEntityClass("CiPropBase");
    Property* size = base->AddProperty("size", std::make_unique<PropertyInt>());
    auto derived = MakeClass("CiPropDerived", base.get());
    derived->AddProperty("colour", std::make_unique<PropertyInt>());
    ASSERT_EQ(derived->GetPropertyCount(), 3);
    EXPECT_STREQ(derived->GetProperty(0)->GetName(), "name");
    EXPECT_EQ(derived->GetProperty(1), size);
    EXPECT_STREQ(derived->GetProperty(2)->GetName(), "colour");
    EXPECT_EQ(derived->GetProperty(3), nullptr);
    EXPECT_EQ(derived->FindProperty("SIZE"), size);
    Property* own = derived->AddProperty("Size", std::make_unique<PropertyFloat>());
    EXPECT_EQ(derived->FindProperty("size"), own);
    EXPECT_EQ(derived->FindProperty("missing"), nullptr);

    auto methodBase = MakeClass("CiMethodBase");
    MethodInfo* inherited = methodBase->AddMethod("Jump", "()", MethodBinding(), MethodScript);
    auto methodDerived = MakeClass("CiMethodDerived", methodBase.get());
    MethodInfo* run = methodDerived->AddMethod("Run", "(float)", MethodBinding(),
                                               MethodNoResult | MethodScriptCallable);
    EXPECT_EQ(methodDerived->GetMethod(0), inherited);
    EXPECT_EQ(methodDerived->GetMethod(1), run);
    EXPECT_EQ(methodDerived->FindMethod("JUMP", true), inherited);
    EXPECT_EQ(methodDerived->FindMethod("jump", false), nullptr);
}

TEST(ClassInfoMembers, TheDeclarationIsCutAtItsFirstColonAnd255Characters) {
    auto record = MakeClass("CiDeclarations");
    Property* speed = record->AddProperty("speed:0,10,,0.5:x", std::make_unique<PropertyFloat>());
    EXPECT_STREQ(speed->GetName(), "speed");
    EXPECT_STREQ(speed->GetRange(), "0,10,,0.5:x");
    const std::string longDeclaration = "long:" + std::string(400, 'r');
    Property* cut =
        record->AddProperty(longDeclaration.c_str(), std::make_unique<PropertyString>());
    EXPECT_EQ(std::string(cut->GetRange()), std::string(250, 'r'));
}

// Instances ------------------------------------------------------------------------------------

TEST(ClassInfoInstances, ObjectsOfAClassWithFlagBit1StandInTheNearestAncestorsList) {
    auto shape = MakeEntityClass("CiSharedShape");
    auto circle = MakeClass("CiSharedCircle", shape.get());
    auto dot = MakeClass("CiSharedDot", circle.get());
    dot->SetFlags(dot->GetFlags() | ClassSharesInstanceList);
    Entity* first = CreateIn(dot.get());
    EXPECT_EQ(first->GetInstanceClass(), circle.get());
    circle->SetFlags(circle->GetFlags() | ClassSharesInstanceList);
    Entity* second = CreateIn(dot.get());
    EXPECT_EQ(second->GetInstanceClass(), shape.get());
    EXPECT_EQ(dot->GetInstanceCount(), 0);
    EXPECT_EQ(circle->GetInstanceCount(), 1);
    EXPECT_EQ(shape->GetInstanceCount(), 1);

    // Removal goes up the same way from the class it is asked of; strangers change nothing.
    CiAny stranger;
    EXPECT_FALSE(dot->RemoveInstance(&stranger));
    EXPECT_FALSE(dot->RemoveInstance(nullptr));
    EXPECT_EQ(shape->GetInstanceCount(), 1);
    EXPECT_TRUE(dot->RemoveInstance(second));
    EXPECT_EQ(shape->GetInstanceCount(), 0);
    delete second;
    circle->SetFlags(circle->GetFlags() & ~ClassSharesInstanceList);
    first->Delete();
    EXPECT_EQ(circle->GetInstanceCount(), 0);
}

TEST(ClassInfoInstances, RemovalsKeepTheOrderOfTheRest) {
    auto record = MakeEntityClass("CiRemoveOrder");
    std::vector<Entity*> kept;
    for (int i = 0; i < 10; ++i) {
        kept.push_back(CreateIn(record.get()));
    }
    // A read between removals closes the gaps; the next removals must still find their places.
    for (size_t index : {9u, 0u, 3u, 2u, 5u}) {
        kept[index]->Delete();
        kept[index] = nullptr;
        EXPECT_NE(record->GetInstance(0), nullptr);
    }
    std::erase(kept, nullptr);
    ASSERT_EQ(record->GetInstanceCount(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(record->GetInstance(i), kept[static_cast<size_t>(i)]) << i;
    }
    for (Entity* object : kept) {
        object->Delete();
    }
    EXPECT_EQ(record->GetInstanceCount(), 0);
}

TEST(ClassInfoInstances, InstancesAreWalkedOwnFirstThenDerivedDepthFirst) {
    auto root = MakeEntityClass("CiWalkRoot");
    auto left = MakeClass("CiWalkLeft", root.get());
    auto leftChild = MakeClass("CiWalkLeftChild", left.get());
    auto right = MakeClass("CiWalkRight", root.get());
    Entity* inRight = CreateIn(right.get());
    Entity* inLeftChild = CreateIn(leftChild.get());
    Entity* inLeft = CreateIn(left.get());
    Entity* inRoot = CreateIn(root.get());
    Entity* inRootToo = CreateIn(root.get());

    const std::vector<Entity*> expected = {inRoot, inRootToo, inLeft, inLeftChild, inRight};
    ASSERT_EQ(root->GetInstanceCountRecursive(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(root->GetInstance(i), expected[static_cast<size_t>(i)]) << i;
    }
    EXPECT_EQ(root->GetInstance(5), nullptr);
    EXPECT_EQ(left->GetInstance(1), inLeftChild);
    for (Entity* object : expected) {
        object->Delete();
    }
    EXPECT_EQ(root->GetInstanceCountRecursive(), 0);
}

TEST(ClassInfoInstances, OnlyConcreteClassesCreateByNameAndObjectsMayOutliveTheirClass) {
    EXPECT_EQ(Entity::RegisterClass()->CreateInstance(), nullptr);
    EXPECT_EQ(CreateInstanceByClassName("CiNoSuchClass"), nullptr);
    EXPECT_EQ(CreateInstanceByClassName("Entity"), nullptr);
    auto record = MakeEntityClass("CiByName");
    nextClass = record.get();
    Entity* object = CreateInstanceByClassName("CiByName");
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->GetInstanceClass(), record.get());
    record.reset();
    EXPECT_EQ(object->GetInstanceClass(), nullptr);
    object->Delete();
}

int cleanUpCalls = 0;

// Numbers are type ids: one made after a record left is no other live record's.
TEST(ClassInfoNames, ANumberIsNeverThatOfAnotherLiveClass) {
    auto first = MakeClass("CiNumberFirst");
    auto second = MakeClass("CiNumberSecond");
    auto third = MakeClass("CiNumberThird");
    const int32_t kept = third->GetClassNumber();
    second.reset();
    auto fourth = MakeClass("CiNumberFourth");
    EXPECT_EQ(third->GetClassNumber(), kept);
    EXPECT_EQ(fourth->GetClassNumber(), kept + 1);
    EXPECT_EQ(ClassOfType(ClassTypeBase + kept), third.get());
    EXPECT_EQ(ClassOfType(ClassTypeBase + kept + 1), fourth.get());
}

TEST(ClassInfoReset, ResetCleansUpFreesHeapOwnedDerivedClassesAndLeavesTheList) {
    cleanUpCalls = 0;
    ClassInfo* root = nullptr;
    ClassInfo* heapOwned = nullptr;
    ClassInfo* kept = nullptr;
    auto rootRecord = std::make_unique<ClassInfo>("CiResetRoot", nullptr, &root);
    root = rootRecord.get();
    root->SetCleanUp([] { ++cleanUpCalls; });
    root->AddProperty("value", std::make_unique<PropertyInt>());
    heapOwned = new ClassInfo("CiResetHeap", nullptr, &heapOwned);
    heapOwned->SetParent(root);
    auto keptRecord = std::make_unique<ClassInfo>("CiResetKept", nullptr, &kept);
    kept = keptRecord.get();
    kept->SetFlags(kept->GetFlags() & ~ClassHeapOwned);
    kept->SetParent(root);
    const int count = GetClassCount();

    root->Reset();
    EXPECT_EQ(cleanUpCalls, 1);
    EXPECT_EQ(root, nullptr);
    EXPECT_EQ(heapOwned, nullptr);
    EXPECT_EQ(kept, nullptr);
    EXPECT_EQ(rootRecord->GetPropertyCount(), 0);
    EXPECT_EQ(GetClassCount(), count - 3);

    // Destroying the record afterwards does not clean up a second time.
    rootRecord.reset();
    EXPECT_EQ(cleanUpCalls, 1);
}

} // namespace
} // namespace quarn
