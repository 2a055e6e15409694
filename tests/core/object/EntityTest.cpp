#include "core/object/Entity.h"

#include "core/object/IdMap.h"
#include "core/object/MethodInfo.h"
#include "core/object/Property.h"
#include "core/string/TextArena.h"
#include "tests/support/TestClass.h"

#include <gtest/gtest.h>
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

class EntityTest : public ::testing::Test {
protected:
    void SetUp() override {
        EtDog_old::RegisterClass();
        EtStone::RegisterClass();
        EtShapeShifter::RegisterClass();
    }
};

// Runs the Entity method at `index` on `object` with one argument word.
uint32_t CallEntityMethod(int index, Entity* object, uint32_t argument = 0) {
    uint32_t block[2] = {0, argument};
    Entity::classInfo->GetMethod(index)->Call(object, block);
    return block[0];
}

TEST_F(EntityTest, CastsAnswerTheObjectForItsClassAndItsBasesOnly) {
    auto* dog = static_cast<EtDog_old*>(EtDog_old::classInfo->CreateInstance());
    dog->ChangeId(TheIdMap().GetFreeLocalId(0));
    for (const char* name : {"EtDog_old", "EtAnimal", "Entity"}) {
        EXPECT_EQ(CallEntityMethod(0, dog, StoreText(name)), dog->GetId()) << name;
    }
    for (const char* name : {"EtStone", "EtDog", "etanimal", "EtNoSuchClass", ""}) {
        EXPECT_EQ(CallEntityMethod(0, dog, StoreText(name)), 0u) << name;
    }
    EXPECT_EQ(dog->CastTo(EtAnimal::classInfo), dog);
    EXPECT_EQ(dog->CastTo(Entity::classInfo), dog);
    EXPECT_EQ(dog->CastTo(EtStone::classInfo), nullptr);
    EXPECT_EQ(dog->CastTo(nullptr), nullptr);
    EtAnimal animal;
    EXPECT_EQ(animal.CastTo(EtDog_old::classInfo), nullptr);

    // The id, a copy of the description in the temporary ring, and destruction.
    dog->description = "barking";
    EXPECT_EQ(CallEntityMethod(3, dog), dog->GetId());
    const uint32_t description = CallEntityMethod(2, dog);
    EXPECT_STREQ(LookupText(description), "barking");
    EXPECT_NE(CallEntityMethod(2, dog), description);
    const uint32_t id = dog->GetId();
    const int count = EtDog_old::classInfo->GetInstanceCount();
    CallEntityMethod(1, dog);
    EXPECT_EQ(EtDog_old::classInfo->GetInstanceCount(), count - 1);
    EXPECT_EQ(LookupEntity(id), nullptr);
}

TEST_F(EntityTest, ANameWithALineFeedIsRefusedByAnyPathAndTheDisplayNameFallsBack) {
    EtDog_old dog;
    EXPECT_EQ(dog.GetDisplayName(), "<EtDog_old>");
    dog.description = "brown";
    EXPECT_EQ(dog.GetDisplayName(), "<EtDog>(brown)");
    dog.SetName("Rex");
    EXPECT_EQ(dog.GetDisplayName(), "\"Rex\"");
    dog.SetName("two\nlines");
    EXPECT_EQ(dog.GetName(), "Rex");

    Property* name = dog.FindProperty("NAME");
    ASSERT_NE(name, nullptr);
    uint32_t word = StoreText("boulder");
    name->WriteValue(dog, &word);
    uint32_t out = 0;
    name->ReadValue(dog, &out);
    EXPECT_STREQ(LookupText(out), "boulder");
    word = StoreText("a\nb");
    name->WriteValue(dog, &word);
    EXPECT_EQ(dog.GetName(), "boulder");
    dog.SetName("");
    EXPECT_EQ(dog.GetName(), "");
}

TEST_F(EntityTest, TheInstanceListStaysExactHoweverAnObjectGoes) {
    ClassInfo* stones = EtStone::classInfo;
    ClassInfo* shifters = EtShapeShifter::classInfo;
    const int count = stones->GetInstanceCount();
    const int shifterCount = shifters->GetInstanceCount();
    Entity* first = stones->CreateInstance();
    Entity* second = stones->CreateInstance();
    Entity* third = stones->CreateInstance();
    second->Delete();
    ASSERT_EQ(stones->GetInstanceCount(), count + 2);
    EXPECT_EQ(stones->GetInstance(count), first);
    EXPECT_EQ(stones->GetInstance(count + 1), third);

    // Deleted after its class changed: it leaves the list it was put in.
    auto* shifter = static_cast<EtShapeShifter*>(shifters->CreateInstance());
    shifter->answer = stones;
    shifter->Delete();
    EXPECT_EQ(shifters->GetInstanceCount(), shifterCount);
    EXPECT_EQ(stones->GetInstanceCount(), count + 2);

    delete first; // without Delete
    third->Delete();
    EXPECT_EQ(stones->GetInstanceCount(), count);
}

} // namespace
} // namespace quarn
