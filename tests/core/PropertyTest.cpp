#include "core/Property.h"

#include "core/ClassInfo.h"
#include "core/Entity.h"
#include "core/IdMap.h"
#include "core/PropertyScalar.h"
#include "core/PropertyText.h"
#include "core/PropertyVector.h"

#include <climits>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace quarn {
namespace {

// An object whose properties are members reached through bound accessors.
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

// An object without accessors: every value goes through Get/SetPropertyValue.
class Bag : public Entity {
public:
    void GetPropertyValue(const Property& property, uint32_t* out) const override {
        auto it = values_.find(&property);
        if (it != values_.end()) {
            std::memcpy(out, it->second.words, static_cast<size_t>(property.GetSize()));
        }
        ++reads;
    }
    void SetPropertyValue(const Property& property, const uint32_t* value) override {
        std::memcpy(values_[&property].words, value, static_cast<size_t>(property.GetSize()));
        ++writes;
    }

    uint32_t Word(const Property& property) { return values_[&property].words[0]; }

    mutable int reads = 0;
    int writes = 0;

private:
    std::map<const Property*, PropertyValue> values_;
};

// A branch node: the entities below it count their local ids in an id system of its own.
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

uint32_t FloatWord(float value) {
    uint32_t word;
    std::memcpy(&word, &value, sizeof word);
    return word;
}

// Property: accessors, index, defaults ------------------------------------------------------

TEST(PropertyTest, WithoutAccessorsValuesGoThroughTheObject) {
    auto count = MakeProperty<PropertyInt>("count");
    Bag bag;
    EXPECT_EQ(count->SetFromText(bag, "42"), 4);
    EXPECT_EQ(bag.writes, 1);
    EXPECT_EQ(bag.Word(*count), 42u);
    EXPECT_EQ(count->GetAsText(bag), "42");
    EXPECT_EQ(bag.reads, 1);
}

TEST(PropertyTest, IndexCountsInheritedPropertiesFirst) {
    ClassInfo base("PropertyTestBase", nullptr, nullptr);
    ClassInfo derived("PropertyTestDerived", nullptr, nullptr);
    derived.SetParent(&base);
    base.AddProperty("first", std::make_unique<PropertyInt>());
    base.AddProperty("second", std::make_unique<PropertyInt>());
    Property* own = derived.AddProperty("own:0,1", std::make_unique<PropertyFloat>());
    EXPECT_EQ(own->GetIndex(), 2);
    EXPECT_EQ(base.FindProperty("second")->GetIndex(), 1);
    EXPECT_EQ(PropertyInt().GetIndex(), -1);
}

TEST(PropertyTest, IsDefaultIsFalseUntilADefaultIsSet) {
    Bag bag;
    std::vector<std::unique_ptr<Property>> all;
    for (int32_t kind = 0; kind <= KindString64; ++kind) {
        if (auto property = CreatePropertyByKind(kind)) {
            all.push_back(std::move(property));
        }
    }
    for (const auto& property : all) {
        // Every value of the bag reads as zero words, which equals a zero default.
        EXPECT_FALSE(property->IsDefault(bag)) << GetPropertyKindName(property->GetKind());
    }
    const PropertyValue zero;
    for (const auto& property : all) {
        property->SetDefault(zero.words);
    }
    for (const auto& property : all) {
        const bool keepsDefault = !property->IsString() && property->GetKind() != KindString64;
        EXPECT_EQ(property->IsDefault(bag), keepsDefault)
            << GetPropertyKindName(property->GetKind());
    }
}

TEST(PropertyTest, EveryCreatableTypePrintsAndParsesBack) {
    const struct {
        int32_t type;
        std::vector<uint32_t> words;
    } cases[] = {
        {TypeInt, {static_cast<uint32_t>(-123)}},
        {TypeFloat, {FloatWord(2.5f)}},
        {TypeBool, {1}},
        {TypeInt2, {static_cast<uint32_t>(-3), 4}},
        {TypeFloat2, {FloatWord(0.25f), FloatWord(-8.0f)}},
        {TypeFloat3, {FloatWord(1.0f), FloatWord(2.0f), FloatWord(3.5f)}},
        {TypeQuaternion, {FloatWord(0.0f), FloatWord(0.6f), FloatWord(0.0f), FloatWord(0.8f)}},
        {TypeEntity, {0xC000000Cu}},
        {ClassTypeBase + 2, {77}},
    };
    for (const auto& c : cases) {
        auto property = CreateProperty(c.type);
        ASSERT_TRUE(property) << c.type;
        PropertyValue value;
        std::copy(c.words.begin(), c.words.end(), value.words);
        const std::string text = property->Print(value.words);
        PropertyValue back;
        property->Parse(text.c_str(), back.words);
        EXPECT_EQ(property->ValuesDiffer(value.words, back.words), 0) << c.type << " " << text;
    }
}

// Listeners ---------------------------------------------------------------------------------

struct Call {
    Entity* target;
    Entity* object;
    uint32_t oldWord;
    uint32_t newWord;
    int tag;
};
std::vector<Call>* calls = nullptr;

template <int Tag>
void Record(Entity* target, Entity& object, const uint32_t* oldValue, const uint32_t* newValue) {
    calls->push_back({target, &object, oldValue[0], newValue[0], Tag});
}

class PropertyListenerTest : public ::testing::Test {
protected:
    void SetUp() override { calls = &log_; }
    void TearDown() override { calls = nullptr; }

    int Notify(Entity& object, uint32_t oldWord, uint32_t newWord) {
        return flags_.NotifyListeners(object, &oldWord, &newWord);
    }

    std::vector<Call> log_;
    PropertyBitfield flags_;
};

TEST_F(PropertyListenerTest, KindsAreCalledInOrderWithTheirTargets) {
    Gadget object;
    Gadget watcher;
    flags_.AddListener(Property::ListenerOfGiven, &watcher, nullptr, Record<1>, 0);
    flags_.AddListener(Property::ListenerFree, nullptr, nullptr, Record<2>, 0);
    flags_.AddListener(Property::ListenerOfObject, nullptr, nullptr, Record<3>, 0);
    EXPECT_EQ(Notify(object, 1, 2), 3);
    ASSERT_EQ(log_.size(), 3u);
    EXPECT_EQ(log_[0].tag, 1);
    EXPECT_EQ(log_[0].target, &watcher);
    EXPECT_EQ(log_[1].tag, 2);
    EXPECT_EQ(log_[1].target, nullptr);
    EXPECT_EQ(log_[2].tag, 3);
    EXPECT_EQ(log_[2].target, &object);
    for (const Call& call : log_) {
        EXPECT_EQ(call.object, &object);
        EXPECT_EQ(call.oldWord, 1u);
        EXPECT_EQ(call.newWord, 2u);
    }
}

TEST_F(PropertyListenerTest, MaskedListenerIgnoresChangesOfOtherBits) {
    Gadget object;
    flags_.AddListener(Property::ListenerFree, nullptr, nullptr, Record<1>, 4);
    EXPECT_EQ(Notify(object, 0x3, 0x2), 1); // only bit 0 changed
    EXPECT_TRUE(log_.empty());
    Notify(object, 0x3, 0x7);
    EXPECT_EQ(log_.size(), 1u);
}

TEST_F(PropertyListenerTest, ClassFilterPassesTheClassAndItsDescendantsOnly) {
    ClassInfo base("ListenerTestBase", nullptr, nullptr);
    ClassInfo left("ListenerTestLeft", nullptr, nullptr);
    ClassInfo right("ListenerTestRight", nullptr, nullptr);
    left.SetParent(&base);
    right.SetParent(&base);
    flags_.AddListener(Property::ListenerFree, nullptr, &left, Record<1>, 0);
    Gadget leftObject(&left);
    Gadget rightObject(&right);
    Gadget baseObject(&base);
    Notify(leftObject, 0, 1);
    Notify(rightObject, 0, 1);
    Notify(baseObject, 0, 1);
    ASSERT_EQ(log_.size(), 1u);
    EXPECT_EQ(log_[0].object, &leftObject);
}

PropertyBitfield* notifying = nullptr;
Entity* doomed = nullptr;

void RemoveDoomed(Entity*, Entity&, const uint32_t*, const uint32_t*) {
    notifying->RemoveListenersOf(doomed);
}

TEST_F(PropertyListenerTest, ListenerRemovedDuringANotificationIsNotCalled) {
    Gadget object;
    Gadget victim;
    notifying = &flags_;
    doomed = &victim;
    flags_.AddListener(Property::ListenerFree, nullptr, nullptr, RemoveDoomed, 0);
    flags_.AddListener(Property::ListenerOfGiven, &victim, nullptr, Record<1>, 0);
    flags_.AddListener(Property::ListenerFree, nullptr, nullptr, Record<2>, 0);
    EXPECT_EQ(Notify(object, 0, 1), 2);
    ASSERT_EQ(log_.size(), 1u);
    EXPECT_EQ(log_[0].tag, 2);
    notifying = nullptr;
    doomed = nullptr;
}

// Factories and kind names ------------------------------------------------------------------

TEST(PropertyFactoryTest, EveryKindWithADescriptorClassMakesThatKind) {
    for (int32_t kind = 0; kind <= KindString64; ++kind) {
        auto property = CreatePropertyByKind(kind);
        if (kind == KindVector3I || kind == KindVref) {
            EXPECT_FALSE(property) << kind;
            continue;
        }
        ASSERT_TRUE(property) << kind;
        EXPECT_EQ(property->GetKind(), kind);
        EXPECT_FALSE(property->HasGetter());
        EXPECT_FALSE(property->HasSetter());
    }
    EXPECT_FALSE(CreatePropertyByKind(16));
    EXPECT_FALSE(CreatePropertyByKind(-1));
}

TEST(PropertyFactoryTest, ValueTypesMakeTheirDescriptorClass) {
    const std::pair<int32_t, int32_t> made[] = {
        {TypeInt, KindInt},
        {TypeFloat, KindFloat},
        {TypeBool, KindBool},
        {TypeInt2, KindVector2I},
        {TypeFloat2, KindVector2F},
        {TypeFloat3, KindVector3F},
        {TypeQuaternion, KindQuaternion},
        {TypeEntity, KindRef},
        {TypeString, KindString},
        {TypeString64, KindString64},
    };
    for (const auto& [type, kind] : made) {
        auto property = CreateProperty(type);
        ASSERT_TRUE(property) << type;
        EXPECT_EQ(property->GetKind(), kind) << type;
    }
    const int32_t unmade[] = {TypeVoid,  TypeChar, TypeInt3,          TypeClass,
                              TypeArray, TypeVref, TypeString64Alias, 19};
    for (int32_t type : unmade) {
        EXPECT_FALSE(CreateProperty(type)) << type;
    }
    auto reference = CreateProperty(ClassTypeBase + 5);
    ASSERT_TRUE(reference);
    EXPECT_EQ(reference->GetKind(), KindRef);
    EXPECT_EQ(reference->GetValueType(), ClassTypeBase + 5);
}

TEST(PropertyFactoryTest, KindNamesIgnoreCaseThenClassesThenAliases) {
    ClassInfo record("KindTestClass", nullptr, nullptr);
    EXPECT_EQ(GetPropertyKindByName("quaternion"), KindQuaternion);
    EXPECT_EQ(GetPropertyKindByName("String64"), KindString64);
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
    EXPECT_EQ(gadget.GetCount(), INT32_MIN);
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
    gadget.SetCount(1);
    EXPECT_EQ(visible->GetAsText(gadget), "1");
    visible->SetFromText(gadget, "-1");
    EXPECT_EQ(gadget.GetCount(), -1);
}

TEST(PropertyColorTest, PrintsSixHexDigitsAndReadsHex) {
    auto color = MakeProperty<PropertyColor>("color", "colorpick", MakeGetter<&Gadget::GetFlags>(),
                                             MakeSetter<&Gadget::SetFlags>());
    Gadget gadget;
    gadget.SetFlags(65280);
    EXPECT_EQ(color->GetAsText(gadget), "00FF00");
    color->SetFromText(gadget, "ff00");
    EXPECT_EQ(gadget.GetFlags(), 65280u);
    // All 32 bits are kept, alpha included.
    color->SetFromText(gadget, "80808080");
    EXPECT_EQ(gadget.GetFlags(), 0x80808080u);
    EXPECT_EQ(color->GetAsText(gadget), "80808080");
}

std::string PrintFloat(const char* range, float value) {
    auto property = MakeProperty<PropertyFloat>("f", range);
    const uint32_t word = FloatWord(value);
    return property->Print(&word);
}

TEST(PropertyFloatTest, StepSetsTheDecimals) {
    EXPECT_EQ(MakeProperty<PropertyFloat>("f", "0,1,,0.001")->GetPrintFormat(), "%0.3f");
    EXPECT_EQ(PrintFloat("0,1,,0.001", 0.5f), "0.500");
    EXPECT_EQ(PrintFloat("0,1,,0.5", 0.3f), "0.3");
    EXPECT_EQ(PrintFloat("0,1,,0.1", 0.66f), "0.7");
    EXPECT_EQ(PrintFloat("0,100,,5", 42.0f), "42.0");
    EXPECT_EQ(PrintFloat("0.01,,,0.01", 0.3f), "0.30");
}

TEST(PropertyFloatTest, WithoutAStepOfMoreThanAMillionthPrintsSixDecimals) {
    EXPECT_EQ(MakeProperty<PropertyFloat>("f", "0,180")->GetPrintFormat(), "%f");
    EXPECT_EQ(PrintFloat("", 1.5f), "1.500000");
    EXPECT_EQ(PrintFloat("0,1,,0.0000001", 1.5f), "1.500000");
}

TEST(PropertyFloatTest, BracketsSignsAndWordsDoNotHideTheStep) {
    EXPECT_EQ(MakeProperty<PropertyFloat>("f", "]-1,1[,,0.01")->GetPrintFormat(), "%0.2f");
    EXPECT_EQ(MakeProperty<PropertyFloat>("f", "[-10,-1],x,0.001")->GetPrintFormat(), "%0.3f");
}

// Entity references -------------------------------------------------------------------------

class PropertyEntityTest : public ::testing::Test {
protected:
    void SetUp() override { TheIdMap().Clear(); }
    void TearDown() override { TheIdMap().Clear(); }

    uint32_t SetText(const char* text) {
        target_->SetFromText(gadget_, text);
        return gadget_.GetTarget().value;
    }

    std::unique_ptr<PropertyEntity> target_ = [] {
        auto property = std::make_unique<PropertyEntity>();
        property->Setup("target", "", MakeGetter<&Gadget::GetTarget>(),
                        MakeSetter<&Gadget::SetTarget>());
        return property;
    }();
    Gadget gadget_;
};

TEST_F(PropertyEntityTest, DashRightAfterTheIdGivesThePort) {
    EXPECT_EQ(SetText("12-3"), 12u | 3u << 28);
    EXPECT_EQ(SetText("12 -3"), 12u);
    // Branch relays use ports up to 15: the whole number counts.
    EXPECT_EQ(SetText("12-12"), 12u | 12u << 28);
}

TEST_F(PropertyEntityTest, DottedIdCountsInTheBranchsIdSystem) {
    BranchRoot branch(3);
    branch.ChangeId(7);
    EXPECT_EQ(SetText("7.5"), 3u * 65536u + 5u);
    EXPECT_EQ(SetText("7.5-2"), (3u * 65536u + 5u) | 2u << 28);
}

TEST_F(PropertyEntityTest, TextNamingNoEntityStoresZero) {
    gadget_.SetTarget({99});
    EXPECT_EQ(SetText("9.5"), 0u);
    gadget_.SetTarget({99});
    EXPECT_EQ(SetText("none"), 0u);
    gadget_.SetTarget({99});
    EXPECT_EQ(SetText(""), 0u);
}

TEST_F(PropertyEntityTest, TextIsThePathAndDisplayName) {
    Gadget lamp;
    lamp.SetName("lamp");
    lamp.ChangeId(12);
    gadget_.SetTarget({12u | 2u << 28});
    EXPECT_EQ(target_->GetAsText(gadget_), "12-2  \"lamp\"");
    gadget_.SetTarget({13});
    EXPECT_EQ(target_->GetAsText(gadget_), "0");
}

TEST_F(PropertyEntityTest, WrittenTextReadsBackWhateverTheNameHolds) {
    BranchRoot branch(2);
    branch.ChangeId(4);
    TheIdMap().SetSceneRoot(2, &branch);
    Gadget inner;
    inner.ChangeId(2u * 65536u + 9u);
    // A '-' in the display name is not a port.
    inner.SetName("left-3");
    gadget_.SetTarget({inner.GetId()});
    const std::string text = target_->GetAsText(gadget_);
    gadget_.SetTarget({0});
    EXPECT_EQ(SetText(text.c_str()), inner.GetId()) << text;
}

TEST_F(PropertyEntityTest, PrintAndParseUseThePlainUnsignedId) {
    const uint32_t id = 12u | 12u << 28;
    EXPECT_EQ(target_->Print(&id), "3221225484");
    uint32_t back = 0;
    target_->Parse("3221225484", &back);
    EXPECT_EQ(back, id);
    target_->Parse("-1073741812", &back);
    EXPECT_EQ(back, id);
    target_->Parse("none", &back);
    EXPECT_EQ(back, id);
}

} // namespace
} // namespace quarn
