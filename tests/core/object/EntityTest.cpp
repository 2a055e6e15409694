#include "core/object/Entity.h"

#include "core/object/ClassInfo.h"
#include "core/object/IdMap.h"
#include "core/object/MethodInfo.h"
#include "core/object/Property.h"
#include "core/string/TextArena.h"
#include "tests/support/TestClass.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace quarn {
namespace {

using test::TestClass;

class EtAnimal : public TestClass<EtAnimal> {
public:
    static constexpr const char* Name = "EtAnimal";
};
class EtDog_old : public TestClass<EtDog_old, EtAnimal> {
public:
    static constexpr const char* Name = "EtDog_old";
    PathString GetDescription() const override { return PathString(description.c_str()); }
    std::string description;
};
class EtStone : public TestClass<EtStone> {
public:
    static constexpr const char* Name = "EtStone";
};
// Answers whatever class it is told, as a script node answers its program's class.
class EtShapeShifter : public TestClass<EtShapeShifter> {
public:
    static constexpr const char* Name = "EtShapeShifter";
    ClassInfo* GetClass() const override { return answer ? answer : classInfo; }
    ClassInfo* answer = nullptr;
};

void RegisterTestClasses() {
    EtDog_old::RegisterClass();
    EtStone::RegisterClass();
    EtShapeShifter::RegisterClass();
}

// An entity with an id in the opened scene, made through its class.
template <class T>
T* CreateWithId() {
    auto* object = static_cast<T*>(T::RegisterClass()->CreateInstance());
    object->ChangeId(TheIdMap().GetFreeLocalId(0));
    return object;
}

// Runs the Entity method at `index` on `object` with one argument word.
uint32_t CallEntityMethod(int index, Entity* object, uint32_t argument = 0) {
    MethodInfo* method = Entity::RegisterClass()->GetMethod(index);
    uint32_t block[2] = {0, argument};
    method->Call(object, block);
    return block[0];
}

std::string Successor(std::string name) {
    for (int i = 2; i >= 0 && ++name[i] > 'z'; --i) {
        name[i] = 'a';
    }
    return name;
}

TEST(EntityRegistration, FourMethodsTakeConsecutiveGeneratedNamesInOrder) {
    RegisterTestClasses();
    ClassInfo* entity = Entity::RegisterClass();
    ASSERT_EQ(entity->GetMethodCount(), 4);
    const char* signatures[] = {"(string):Entity", "()", "():string", "():int"};
    for (int i = 0; i < 4; ++i) {
        MethodInfo* method = entity->GetMethod(i);
        EXPECT_EQ(method->GetSignatureText(), signatures[i]) << i;
        EXPECT_EQ(method->GetCallFlags(), MethodScript) << i;
        EXPECT_TRUE(method->IsBound()) << i;
        if (i > 0) {
            EXPECT_EQ(method->GetName(), Successor(entity->GetMethod(i - 1)->GetName())) << i;
        }
    }
}

TEST(EntityRegistration, RegisteringAgainAddsNothing) {
    RegisterTestClasses();
    ClassInfo* entity = Entity::RegisterClass();
    const int count = GetClassCount();
    const std::string lastName = entity->GetMethod(3)->GetName();
    EXPECT_EQ(Entity::RegisterClass(), entity);
    EXPECT_EQ(GetClassCount(), count);
    EXPECT_EQ(entity->GetMethodCount(), 4);
    EXPECT_EQ(entity->GetMethod(3)->GetName(), lastName);
}

TEST(EntityMethods, CastByNameAnswersTheIdForTheClassAndItsBases) {
    RegisterTestClasses();
    EtDog_old* dog = CreateWithId<EtDog_old>();
    for (const char* name : {"EtDog_old", "EtAnimal", "Entity"}) {
        EXPECT_EQ(CallEntityMethod(0, dog, StoreText(name)), dog->GetId()) << name;
    }
    for (const char* name : {"EtStone", "EtDog", "etanimal", "EtNoSuchClass", ""}) {
        EXPECT_EQ(CallEntityMethod(0, dog, StoreText(name)), 0u) << name;
    }
    dog->Delete();
}

TEST(EntityMethods, TheIdAndACopyOfTheDescriptionAreAnswered) {
    EtDog_old* dog = CreateWithId<EtDog_old>();
    dog->description = "barking";
    EXPECT_EQ(CallEntityMethod(3, dog), dog->GetId());
    const uint32_t description = CallEntityMethod(2, dog);
    EXPECT_STREQ(LookupText(description), "barking");
    // A copy in the temporary ring: the next one lies elsewhere.
    EXPECT_NE(CallEntityMethod(2, dog), description);
    dog->Delete();
}

TEST(EntityMethods, DestroyDeletesTheObjectAndItsInstanceEntry) {
    ClassInfo* stoneClass = EtStone::RegisterClass();
    const int count = stoneClass->GetInstanceCount();
    EtStone* stone = CreateWithId<EtStone>();
    const uint32_t id = stone->GetId();
    CallEntityMethod(1, stone);
    EXPECT_EQ(stoneClass->GetInstanceCount(), count);
    EXPECT_EQ(LookupEntity(id), nullptr);
}

TEST(EntityName, ATextWithALineFeedLeavesTheNameUnchangedByAnyPath) {
    RegisterTestClasses();
    EtStone stone;
    stone.SetName("pebble");
    stone.SetName("two\nlines");
    EXPECT_EQ(stone.GetName(), "pebble");
    Property* name = stone.FindProperty("NAME");
    ASSERT_NE(name, nullptr);
    uint32_t word = StoreText("boulder");
    name->WriteValue(stone, &word);
    uint32_t out = 0;
    name->ReadValue(stone, &out);
    EXPECT_STREQ(LookupText(out), "boulder");
    word = StoreText("a\nb");
    name->WriteValue(stone, &word);
    EXPECT_EQ(stone.GetName(), "boulder");
    stone.SetName("");
    EXPECT_EQ(stone.GetName(), "");
}

TEST(EntityName, DisplayNameIsTheQuotedNameElseShortNameAndDescriptionElseClassName) {
    RegisterTestClasses();
    EtDog_old dog;
    EXPECT_EQ(dog.GetDisplayName(), "<EtDog_old>");
    dog.description = "brown";
    EXPECT_EQ(dog.GetDisplayName(), "<EtDog>(brown)");
    dog.SetName("Rex");
    EXPECT_EQ(dog.GetDisplayName(), "\"Rex\"");
}

TEST(EntityClass, CastToAnswersTheObjectForItsClassAndBasesOnly) {
    RegisterTestClasses();
    EtDog_old dog;
    EXPECT_EQ(dog.CastTo(EtAnimal::classInfo), &dog);
    EXPECT_EQ(dog.CastTo(Entity::classInfo), &dog);
    EXPECT_EQ(dog.CastTo(EtStone::classInfo), nullptr);
    EXPECT_EQ(dog.CastTo(nullptr), nullptr);
    EtAnimal animal;
    EXPECT_EQ(animal.CastTo(EtDog_old::classInfo), nullptr);
}

TEST(EntityClass, DeleteKeepsTheInstanceListExact) {
    ClassInfo* stoneClass = EtStone::RegisterClass();
    const int count = stoneClass->GetInstanceCount();
    Entity* first = stoneClass->CreateInstance();
    Entity* second = stoneClass->CreateInstance();
    Entity* third = stoneClass->CreateInstance();
    second->Delete();
    ASSERT_EQ(stoneClass->GetInstanceCount(), count + 2);
    EXPECT_EQ(stoneClass->GetInstance(count), first);
    EXPECT_EQ(stoneClass->GetInstance(count + 1), third);
    first->Delete();
    third->Delete();
}

TEST(EntityClass, DeleteLeavesTheListItWasPutInEvenWhenItsClassChanged) {
    ClassInfo* shifterClass = EtShapeShifter::RegisterClass();
    ClassInfo* stoneClass = EtStone::RegisterClass();
    const int shifters = shifterClass->GetInstanceCount();
    const int stones = stoneClass->GetInstanceCount();
    auto* shifter = static_cast<EtShapeShifter*>(shifterClass->CreateInstance());
    Entity* stone = stoneClass->CreateInstance();
    shifter->answer = stoneClass;
    shifter->Delete();
    EXPECT_EQ(shifterClass->GetInstanceCount(), shifters);
    ASSERT_EQ(stoneClass->GetInstanceCount(), stones + 1);
    EXPECT_EQ(stoneClass->GetInstance(stones), stone);
    stone->Delete();
}

TEST(EntityClass, AnObjectDestroyedWithoutDeleteLeavesNoInstanceEntry) {
    ClassInfo* stoneClass = EtStone::RegisterClass();
    const int count = stoneClass->GetInstanceCount();
    delete stoneClass->CreateInstance();
    EXPECT_EQ(stoneClass->GetInstanceCount(), count);
}

} // namespace
} // namespace quarn
