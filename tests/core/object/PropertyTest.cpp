#include "core/object/Property.h"

#include "core/object/ClassInfo.h"
#include "core/object/Entity.h"
#include "core/object/IdMap.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyText.h"
#include "core/object/PropertyVector.h"

#include <climits>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace quarn {
namespace {

// Its properties are members reached through bound accessors; its class may be any record.
class Gadget : public Entity {
public:
    explicit Gadget(ClassInfo* classInfo = nullptr) : class_(classInfo) {}
    ClassInfo* GetClass() const override { return class_ ? class_ : Entity::GetClass(); }

    int32_t GetCount() const { return count_; }
    void SetCount(int32_t count) { count_ = count; }
    uint32_t GetFlags() const { return flags_; }
    void SetFlags(uint32_t flags) { flags_ = flags; }
    EntityId GetTarget() const { return target_; }
    void SetTarget(EntityId target) { target_ = target; }

private:
    ClassInfo* class_;
    int32_t count_ = 0;
    uint32_t flags_ = 0;
    EntityId target_;
};

// Without accessors every value goes through Get/SetPropertyValue; unset values read as zeros.
class Bag : public Entity {
public:
    void GetPropertyValue(const Property& property, uint32_t* out) const override {
        if (auto it = values_.find(&property); it != values_.end()) {
            std::memcpy(out, it->second.words, static_cast<size_t>(property.GetSize()));
        }
    }
    void SetPropertyValue(const Property& property, const uint32_t* value) override {
        std::memcpy(values_[&property].words, value, static_cast<size_t>(property.GetSize()));
    }
    uint32_t Word(const Property& property) { return values_[&property].words[0]; }

private:
    std::map<const Property*, PropertyValue> values_;
};

// The entities below a branch count their local ids in an id system of its own.
class BranchRoot : public Entity {
public:
    explicit BranchRoot(uint32_t idSystem) : idSystem_(idSystem) {}
    uint32_t GetIdSystem() const override { return idSystem_; }

private:
    uint32_t idSystem_;
};

template <class Descriptor>
std::unique_ptr<Descriptor> MakeProperty(const char* name, const char* range = "",
                                         PropertyGetter getter = nullptr,
                                         PropertySetter setter = nullptr) {
    auto property = std::make_unique<Descriptor>();
    property->Setup(name, range, getter, setter);
    return property;
}

TEST(PropertyTest, WithoutAccessorsValuesGoThroughTheObject) {
    auto count = MakeProperty<PropertyInt>("count");
    Bag bag;
    EXPECT_EQ(count->SetFromText(bag, "42"), 4);
    EXPECT_EQ(bag.Word(*count), 42u);
    EXPECT_EQ(count->GetAsText(bag), "42");
}

TEST(PropertyTest, IsDefaultIsFalseUntilADefaultIsSetAndNeverForTexts) {
    Bag bag; // every value reads as zero words, which equals a zero default
    std::vector<std::unique_ptr<Property>> all;
    for (int32_t kind = 0; kind <= KindString64; ++kind) {
        if (auto property = CreatePropertyByKind(kind)) {
            EXPECT_FALSE(property->IsDefault(bag)) << kind;
            all.push_back(std::move(property));
        }
    }
    const PropertyValue zero;
    for (const auto& property : all) {
        property->SetDefault(zero.words);
        const bool keepsDefault = !property->IsString() && property->GetKind() != KindString64;
        EXPECT_EQ(property->IsDefault(bag), keepsDefault) << property->GetKind();
    }
}

TEST(PropertyTest, EveryValueTypeMakesItsKindWhoseTextReadsBack) {
    const struct {
        int32_t type;
        int32_t kind;
        const char* text;
    } cases[] = {
        {TypeInt, KindInt, "-123"},
        {TypeFloat, KindFloat, "2.500000"},
        {TypeBool, KindBool, "1"},
        {TypeInt2, KindVector2I, "-3,4"},
        {TypeFloat2, KindVector2F, "0.250000,-8.000000"},
        {TypeFloat3, KindVector3F, "1.000000,2.000000,3.500000"},
        {TypeQuaternion, KindQuaternion, "0.000000,0.600000,0.000000,0.800000"},
        {TypeEntity, KindRef, "3221225484"},
        {ClassTypeBase + 5, KindRef, "77"},
        {TypeString, KindString, "some text"},
        {TypeString64, KindString64, "a name"},
    };
    for (const auto& c : cases) {
        auto property = CreateProperty(c.type);
        ASSERT_TRUE(property) << c.type;
        EXPECT_EQ(property->GetKind(), c.kind) << c.type;
        PropertyValue value, back;
        property->Parse(c.text, value.words);
        EXPECT_EQ(property->Print(value.words), c.text);
        property->Parse(property->Print(value.words).c_str(), back.words);
        EXPECT_EQ(property->ValuesDiffer(value.words, back.words), 0) << c.text;
    }
    EXPECT_EQ(CreateProperty(ClassTypeBase + 5)->GetValueType(), ClassTypeBase + 5);
    const int32_t unmade[] = {TypeVoid,  TypeChar, TypeInt3,          TypeClass,
                              TypeArray, TypeVref, TypeString64Alias, 19};
    for (int32_t type : unmade) {
        EXPECT_FALSE(CreateProperty(type)) << type;
    }
}

// Listeners ---------------------------------------------------------------------------------

using Calls = std::vector<std::string>;
Calls calls; // "tag:target:object:old>new"

template <int Tag>
void Record(Entity* target, Entity& object, const uint32_t* oldValue, const uint32_t* newValue) {
    calls.push_back(std::to_string(Tag) + ":" + (target ? target->GetName() : "-") + ":" +
                    object.GetName() + ":" + std::to_string(oldValue[0]) + ">" +
                    std::to_string(newValue[0]));
}

class PropertyListenerTest : public ::testing::Test {
protected:
    void SetUp() override {
        calls.clear();
        object_.SetName("object");
    }
    int Notify(Entity& object, uint32_t oldWord, uint32_t newWord) {
        return flags_.NotifyListeners(object, &oldWord, &newWord);
    }

    PropertyBitfield flags_;
    Gadget object_;
};

TEST_F(PropertyListenerTest, KindsAreCalledInOrderWithTheirTargets) {
    Gadget watcher;
    watcher.SetName("watcher");
    flags_.AddListener(Property::ListenerOfGiven, &watcher, nullptr, Record<1>, 0);
    flags_.AddListener(Property::ListenerFree, nullptr, nullptr, Record<2>, 0);
    flags_.AddListener(Property::ListenerOfObject, nullptr, nullptr, Record<3>, 0);
    EXPECT_EQ(Notify(object_, 1, 2), 3);
    EXPECT_EQ(calls, (Calls{"1:watcher:object:1>2", "2:-:object:1>2", "3:object:object:1>2"}));
}

TEST_F(PropertyListenerTest, MaskedListenerIgnoresChangesOfOtherBits) {
    flags_.AddListener(Property::ListenerFree, nullptr, nullptr, Record<1>, 4);
    EXPECT_EQ(Notify(object_, 0x3, 0x2), 1);
    Notify(object_, 0x3, 0x7);
    EXPECT_EQ(calls, Calls{"1:-:object:3>7"});
}

TEST_F(PropertyListenerTest, ClassFilterPassesTheClassAndItsDescendantsOnly) {
    ClassInfo base("ListenerTestBase", nullptr, nullptr);
    ClassInfo left("ListenerTestLeft", nullptr, nullptr);
    ClassInfo right("ListenerTestRight", nullptr, nullptr);
    left.SetParent(&base);
    right.SetParent(&base);
    flags_.AddListener(Property::ListenerFree, nullptr, &base, Record<1>, 0);
    flags_.AddListener(Property::ListenerFree, nullptr, &left, Record<2>, 0);
    Gadget leftObject(&left), rightObject(&right);
    leftObject.SetName("left");
    rightObject.SetName("right");
    Notify(leftObject, 0, 1);
    Notify(rightObject, 0, 1);
    EXPECT_EQ(calls, (Calls{"1:-:left:0>1", "2:-:left:0>1", "1:-:right:0>1"}));
}

PropertyBitfield* notifying = nullptr;
Entity* doomed = nullptr;

TEST_F(PropertyListenerTest, ListenerRemovedDuringANotificationIsNotCalled) {
    Gadget victim;
    notifying = &flags_;
    doomed = &victim;
    flags_.AddListener(
        Property::ListenerFree, nullptr, nullptr,
        [](Entity*, Entity&, const uint32_t*, const uint32_t*) {
            notifying->RemoveListenersOf(doomed);
        },
        0);
    flags_.AddListener(Property::ListenerOfGiven, &victim, nullptr, Record<1>, 0);
    flags_.AddListener(Property::ListenerFree, nullptr, nullptr, Record<2>, 0);
    EXPECT_EQ(Notify(object_, 0, 1), 2);
    EXPECT_EQ(calls, Calls{"2:-:object:0>1"});
}

// Kinds and their names ------------------------------------------------------------------

TEST(PropertyFactoryTest, EveryKindWithADescriptorClassMakesThatKind) {
    for (int32_t kind = -1; kind <= 16; ++kind) {
        auto property = CreatePropertyByKind(kind);
        const bool made =
            kind >= 0 && kind <= KindString64 && kind != KindVector3I && kind != KindVref;
        ASSERT_EQ(property != nullptr, made) << kind;
        if (made) {
            EXPECT_EQ(property->GetKind(), kind);
        }
    }
}

TEST(PropertyFactoryTest, KindNamesIgnoreCaseThenClassesThenAliases) {
    ClassInfo record("KindTestClass", nullptr, nullptr);
    EXPECT_EQ(GetPropertyKindByName("quaternion"), KindQuaternion);
    EXPECT_EQ(GetPropertyKindByName("INT3"), KindVector3I);
    EXPECT_EQ(GetPropertyKindByName("float2"), KindVector2F);
    EXPECT_EQ(GetPropertyKindByName("KindTestClass"), ClassTypeBase + record.GetClassNumber());
    EXPECT_EQ(GetPropertyKindByName("kindtestclass"), -1);
    EXPECT_EQ(GetPropertyKindByName("INT4"), -1);
    EXPECT_EQ(GetPropertyKindByName(nullptr), -1);
    EXPECT_STREQ(GetPropertyKindName(KindVref), "VREF");
}

// Scalar kinds ------------------------------------------------------------------------------

TEST(PropertyIntTest, TextClampsToThe32BitLimits) {
    auto count = MakeProperty<PropertyInt>("count", "", MakeGetter<&Gadget::GetCount>(),
                                           MakeSetter<&Gadget::SetCount>());
    Gadget gadget;
    count->SetFromText(gadget, "99999999999");
    EXPECT_EQ(gadget.GetCount(), INT32_MAX);
    count->SetFromText(gadget, " -99999999999");
    EXPECT_EQ(count->GetAsText(gadget), "-2147483648");
    count->SetFromText(gadget, "abc");
    EXPECT_EQ(gadget.GetCount(), 0);
}

TEST(PropertyBoolTest, PrintShowsTheWordButTextOnlyTheLowByte) {
    auto visible = MakeProperty<PropertyBool>("visible", "", MakeGetter<&Gadget::GetCount>(),
                                              MakeSetter<&Gadget::SetCount>());
    Gadget gadget;
    gadget.SetCount(256);
    const uint32_t word = 256;
    EXPECT_EQ(visible->Print(&word), "256");
    EXPECT_EQ(visible->GetAsText(gadget), "0");
    visible->SetFromText(gadget, "-1");
    EXPECT_EQ(gadget.GetCount(), -1);
    EXPECT_EQ(visible->GetAsText(gadget), "1");
}

TEST(PropertyColorTest, PrintsSixHexDigitsAndKeepsAllThirtyTwoBits) {
    auto color = MakeProperty<PropertyColor>("color", "colorpick", MakeGetter<&Gadget::GetFlags>(),
                                             MakeSetter<&Gadget::SetFlags>());
    Gadget gadget;
    color->SetFromText(gadget, "ff00");
    EXPECT_EQ(gadget.GetFlags(), 0xFF00u);
    EXPECT_EQ(color->GetAsText(gadget), "00FF00");
    color->SetFromText(gadget, "80808080");
    EXPECT_EQ(gadget.GetFlags(), 0x80808080u);
    EXPECT_EQ(color->GetAsText(gadget), "80808080");
}

TEST(PropertyFloatTest, TheRangesStepSetsTheDecimals) {
    const struct {
        const char* range;
        float value;
        const char* printed;
    } cases[] = {
        {"0,1,,0.001", 0.5f, "0.500"}, // -log10 rounds before it is truncated
        {"0,1,,0.5", 0.3f, "0.3"},
        {"0,100,,5", 42.0f, "42.0"},
        {"0.01,,,0.01", 0.3f, "0.30"},
        {"]-1,1[,,0.01", 0.5f, "0.50"},
        {"[-10,-1],x,0.001", 0.5f, "0.500"},
        {"", 1.5f, "1.500000"},
        {"0,1,,0.0000001", 1.5f, "1.500000"},
    };
    for (const auto& c : cases) {
        const uint32_t word = FloatToWord(c.value);
        EXPECT_EQ(MakeProperty<PropertyFloat>("f", c.range)->Print(&word), c.printed) << c.range;
    }
    EXPECT_EQ(MakeProperty<PropertyFloat>("f", "0,1,,0.001")->GetPrintFormat(), "%0.3f");
    EXPECT_EQ(MakeProperty<PropertyFloat>("f", "0,180")->GetPrintFormat(), "%f");
}

// Entity references -------------------------------------------------------------------------

class PropertyEntityTest : public ::testing::Test {
protected:
    void SetUp() override {
        TheIdMap().Clear();
        target_.Setup("target", "", MakeGetter<&Gadget::GetTarget>(),
                      MakeSetter<&Gadget::SetTarget>());
    }
    void TearDown() override { TheIdMap().Clear(); }

    uint32_t SetText(const char* text) {
        gadget_.SetTarget({99});
        target_.SetFromText(gadget_, text);
        return gadget_.GetTarget().value;
    }

    PropertyEntity target_;
    Gadget gadget_;
};

TEST_F(PropertyEntityTest, TextReadsTheIdOrBranchPathAndThePortRightAfterIt) {
    BranchRoot branch(3);
    branch.ChangeId(7);
    const std::pair<const char*, uint32_t> cases[] = {
        {"12-3", 12u | 3u << 28},
        {"12 -3", 12u},
        {"12-12", 12u | 12u << 28}, // branch relays use ports up to 15
        {"7.5", 3u * 65536u + 5u},  // counted in the branch's id system
        {"7.5-2", (3u * 65536u + 5u) | 2u << 28},
        {"9.5", 0},
        {"none", 0},
        {"", 0},
    };
    for (const auto& [text, id] : cases) {
        EXPECT_EQ(SetText(text), id) << text;
    }
}

TEST_F(PropertyEntityTest, TextIsThePathAndDisplayName) {
    Gadget lamp;
    lamp.SetName("lamp");
    lamp.ChangeId(12);
    gadget_.SetTarget({12u | 2u << 28});
    EXPECT_EQ(target_.GetAsText(gadget_), "12-2  \"lamp\"");
    gadget_.SetTarget({13});
    EXPECT_EQ(target_.GetAsText(gadget_), "0");
}

TEST_F(PropertyEntityTest, WrittenTextReadsBackWhateverTheNameHolds) {
    BranchRoot branch(2);
    branch.ChangeId(4);
    TheIdMap().SetSceneRoot(2, &branch);
    Gadget inner;
    inner.ChangeId(2u * 65536u + 9u);
    inner.SetName("left-3"); // a '-' in the display name is not a port
    gadget_.SetTarget({inner.GetId()});
    const std::string text = target_.GetAsText(gadget_);
    EXPECT_EQ(SetText(text.c_str()), inner.GetId()) << text;
}

TEST_F(PropertyEntityTest, ParseReadsAnyNumberAsTheUnsignedIdAndKeepsTheValueOtherwise) {
    uint32_t back = 0;
    target_.Parse("-1073741812", &back);
    EXPECT_EQ(back, 12u | 12u << 28);
    target_.Parse("none", &back);
    EXPECT_EQ(back, 12u | 12u << 28);
}

} // namespace
} // namespace quarn
