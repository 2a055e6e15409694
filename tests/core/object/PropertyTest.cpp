#include "core/object/Property.h"

#include "core/object/IdMap.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyText.h"
#include "core/object/PropertyVector.h"
#include "core/string/TextArena.h"
#include "tests/support/MathExpectations.h"
#include "tests/support/TestClass.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace quarn {
namespace {

using test::ExpectSameRotation;

const float half = std::sqrt(0.5f);

// A property of every kind, most reached through bound accessors; "tag" and "plain" have none,
// so their values go through Get/SetPropertyValue. Its class may be any record.
class Gadget : public test::TestClass<Gadget> {
public:
    static constexpr const char* Name = "PtGadget";
    static void Declare(ClassInfo& info) {
        info.AddProperty<PropertyInt, &Gadget::GetCount, &Gadget::SetCount>("count");
        // A script may hand a bool any word.
        info.AddProperty<PropertyBool, &Gadget::GetCount, &Gadget::SetCount>("visible");
        info.AddProperty<PropertyColor, &Gadget::GetColor, &Gadget::SetColor>("color:colorpick");
        info.AddProperty<PropertyInt2, &Gadget::GetCell, &Gadget::SetCell>("cell");
        info.AddProperty<PropertyFloat3, &Gadget::GetPosition, &Gadget::SetPosition>("position");
        info.AddProperty<PropertyQuaternion, &Gadget::GetRotation, &Gadget::SetRotation>("turn");
        info.AddProperty<PropertyString, &Gadget::GetText, &Gadget::SetText>("text");
        info.AddProperty<PropertyEntity, &Gadget::GetTarget, &Gadget::SetTarget>("target");
        info.AddProperty("tag", std::make_unique<PropertyString64>());
        info.AddProperty("plain", std::make_unique<PropertyInt>());
    }
    ClassInfo* GetClass() const override { return answer ? answer : classInfo; }

    int32_t GetCount() const { return count; }
    void SetCount(int32_t value) { count = value; }
    uint32_t GetColor() const { return color; }
    void SetColor(uint32_t value) { color = value; }
    Int2 GetCell() const { return cell; }
    void SetCell(Int2 value) { cell = value; }
    Float3 GetPosition() const { return position; }
    void SetPosition(const Float3& value) { position = value; }
    Quaternion GetRotation() const { return rotation; }
    void SetRotation(const Quaternion& value) { rotation = value; }
    const char* GetText() const { return text.c_str(); }
    void SetText(const char* value) { text = value; }
    EntityId GetTarget() const { return target; }
    void SetTarget(EntityId value) { target = value; }
    // Unset values read as zeros.
    void GetPropertyValue(const Property& property, uint32_t* out) const override {
        if (auto it = values.find(&property); it != values.end()) {
            std::memcpy(out, it->second.words, static_cast<size_t>(property.GetSize()));
        }
    }
    void SetPropertyValue(const Property& property, const uint32_t* value) override {
        std::memcpy(values[&property].words, value, static_cast<size_t>(property.GetSize()));
    }

    ClassInfo* answer = nullptr;
    int32_t count = 0;
    uint32_t color = 0;
    Int2 cell;
    Float3 position;
    Quaternion rotation;
    std::string text;
    EntityId target;
    std::map<const Property*, PropertyValue> values;
};

// The entities below a branch count their local ids in an id system of its own.
class BranchRoot : public Entity {
public:
    explicit BranchRoot(uint32_t idSystem) : idSystem_(idSystem) {}
    uint32_t GetIdSystem() const override { return idSystem_; }

private:
    uint32_t idSystem_;
};

class PropertyTest : public ::testing::Test {
protected:
    void SetUp() override {
        Gadget::RegisterClass();
        TheIdMap().Clear();
    }
    void TearDown() override { TheIdMap().Clear(); }

    static Property& Find(const char* name) { return *Gadget::classInfo->FindProperty(name); }
    // The id the target property holds after reading `text` over a value of 99.
    uint32_t SetTarget(const char* text) {
        gadget_.target = {99};
        Find("target").SetFromText(gadget_, text);
        return gadget_.target.value;
    }

    Gadget gadget_;
};

TEST_F(PropertyTest, TextsReachTheObjectClampedOrCutAndTextsThatDoNotFitChangeNothing) {
    const std::string longTag(100, 'x');
    const struct {
        const char* property;
        const char* text;
        int written; // bytes, 0 when refused
        std::string readBack;
    } cases[] = {
        {"count", "42", 4, "42"},
        {"count", "99999999999", 4, "2147483647"},
        {"count", " -99999999999", 4, "-2147483648"},
        {"count", "abc", 4, "0"},
        {"visible", "-1", 4, "1"},
        {"color", "ff00", 4, "00FF00"},
        {"color", "80808080", 4, "80808080"}, // all 32 bits
        {"cell", "3,-4", 8, "3,-4"},
        {"cell", "5 6", 0, "3,-4"}, // split at commas only
        {"cell", "8, 9", 8, "8,9"},
        {"position", "1,2", 0, "0.000000,0.000000,0.000000"},
        {"position", "1,2,3", 12, "1.000000,2.000000,3.000000"},
        {"turn", "0,90,0", 16, "0.000000,90.000000,0.000000"}, // quarter turns: whole degrees
        {"turn", "10,20,30", 16, "10.000000,20.000000,30.000000"},
        {"turn", "90,0", 0, "10.000000,20.000000,30.000000"},
        {"text", "hello world", 4, "hello world"},
        {"tag", longTag.c_str(), 64, std::string(63, 'x')},
        {"plain", "7", 4, "7"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Find(c.property).SetFromText(gadget_, c.text), c.written) << c.text;
        EXPECT_EQ(Find(c.property).GetAsText(gadget_), c.readBack) << c.text;
    }
    EXPECT_EQ(gadget_.count, -1);
    EXPECT_EQ(gadget_.color, 0x80808080u);
    EXPECT_EQ(gadget_.values[&Find("plain")].words[0], 7u);

    // A bool prints its whole word but reads only its low byte as text.
    gadget_.count = 256;
    const uint32_t word = 256;
    EXPECT_EQ(Find("visible").Print(&word), "256");
    EXPECT_EQ(Find("visible").GetAsText(gadget_), "0");
    // Four parts are the components; Euler text of any turn names it again, gimbal lock too.
    Property& turn = Find("turn");
    turn.SetFromText(gadget_, "0,0.6,0,0.8");
    EXPECT_EQ(gadget_.rotation.y, 0.6f);
    EXPECT_EQ(gadget_.rotation.w, 0.8f);
    const uint32_t words[4] = {0, FloatToWord(0.6f), 0, FloatToWord(0.8f)};
    EXPECT_EQ(turn.Print(words), "0.000000,0.600000,0.000000,0.800000");
    turn.SetFromText(gadget_, "90,0,0");
    ExpectSameRotation(gadget_.rotation, {half, 0.0f, 0.0f, half});
    turn.SetFromText(gadget_, "30,90,0");
    const Quaternion original = gadget_.rotation;
    turn.SetFromText(gadget_, turn.GetAsText(gadget_).c_str());
    ExpectSameRotation(gadget_.rotation, original);
}

// The lenient reading above passes over these; the check names each, and texts its reading takes
// whole have none.
TEST_F(PropertyTest, AMistakeIsWhatReadingATextPassesOver) {
    const struct {
        const char* property;
        const char* text;
        const char* mistake;
    } cases[] = {
        {"count", "abc", "is not a whole number"},
        {"color", "red", "is not a hexadecimal number"},
        {"cell", "5 6", "has 1 number where 2 are needed"},
        {"cell", "1.5,2", "holds '1.5', which is not a whole number"},
        {"position", "1,2", "has 2 numbers where 3 are needed"},
        {"position", "1,2,3,4", "has 4 numbers where 3 are needed"},
        {"position", "1,2,", "holds '', which is not a number"},
        {"position", "1,2,3", ""},
        {"turn", "0,0.6,0,0.8", ""},
        {"turn", "90,0", "has 2 numbers where 3 or 4 are needed"},
        {"turn", "1,2,3,4,5", "has 5 numbers where 3 or 4 are needed"},
        {"text", "anything, 1.5", ""},
        {"tag", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Find(c.property).FindTextMistake(c.text), c.mistake)
            << c.property << " = " << c.text;
    }
}

TEST_F(PropertyTest, TheRangesStepSetsTheDecimalsOfAFloat) {
    const struct {
        const char* range;
        float value;
        const char* printed;
    } cases[] = {
        {"0,1,,0.001", 0.5f, "0.500"}, // -log10 rounds before it is truncated
        {"0,100,,5", 42.0f, "42.0"},   {"]-1,1[,,0.01", 0.5f, "0.50"},
        {"0,180", 1.5f, "1.500000"},   {"0,1,,0.0000001", 1.5f, "1.500000"},
    };
    for (const auto& c : cases) {
        PropertyFloat property;
        property.Setup("f", c.range, nullptr, nullptr);
        const uint32_t word = FloatToWord(c.value);
        EXPECT_EQ(property.Print(&word), c.printed) << c.range;
    }
}

// Kinds -----------------------------------------------------------------------------------------

TEST(PropertyKinds, EveryValueTypeMakesItsKindWhoseTextReadsBack) {
    const struct {
        int32_t type;
        int32_t kind;
        const char* text;
    } cases[] = {
        {TypeInt, KindInt, "-123"},
        {TypeFloat, KindFloat, "2.500000"},
        {TypeInt2, KindVector2I, "-3,4"},
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
    for (int32_t type : std::initializer_list<int32_t>{
             TypeVoid, TypeChar, TypeInt3, TypeClass, TypeArray, TypeVref, TypeString64Alias, 19}) {
        EXPECT_FALSE(CreateProperty(type)) << type;
    }
}

TEST(PropertyKinds, EveryKindWithADescriptorIsMadeAndIsDefaultOnlyOnceADefaultIsSet) {
    Gadget object; // every value without accessors reads as zero words, as a zero default
    for (int32_t kind = -1; kind <= 16; ++kind) {
        auto property = CreatePropertyByKind(kind);
        const bool made =
            kind >= 0 && kind <= KindString64 && kind != KindVector3I && kind != KindVref;
        ASSERT_EQ(property != nullptr, made) << kind;
        if (!made) {
            continue;
        }
        EXPECT_EQ(property->GetKind(), kind);
        EXPECT_FALSE(property->IsDefault(object)) << kind;
        const PropertyValue zero;
        property->SetDefault(zero.words);
        const bool text = property->IsString() || kind == KindString64; // never default
        EXPECT_EQ(property->IsDefault(object), !text) << kind;
    }
    // Defaults compare bit patterns: -0 is not 0.
    PropertyFloat3 position;
    position.Setup("p", "", MakeGetter<&Gadget::GetPosition>(), MakeSetter<&Gadget::SetPosition>());
    const uint32_t zero[3] = {};
    position.SetDefault(zero);
    EXPECT_TRUE(position.IsDefault(object));
    object.position = {-0.0f, 0.0f, 0.0f};
    EXPECT_FALSE(position.IsDefault(object));
}

// Texts -----------------------------------------------------------------------------------------

TEST(PropertyTexts, StringsCompareAsText) {
    PropertyString text;
    const uint32_t apple = StoreText("apple"), pear = StoreText("pear");
    const uint32_t apple2 = StoreText("apple");
    EXPECT_EQ(text.ValuesDiffer(&apple, &pear), -1);
    EXPECT_EQ(text.ValuesDiffer(&pear, &apple), 1);
    EXPECT_EQ(text.ValuesDiffer(&apple, &apple2), 0);
}

TEST(PropertyTexts, AString64LivesInItsValueAndPrintsAtMost63Characters) {
    PropertyString64 name;
    uint32_t words[16];
    std::memset(words, 0xAB, sizeof words);
    name.Parse(std::string(100, 'x').c_str(), words);
    EXPECT_EQ(reinterpret_cast<const char*>(words)[63], '\0');
    EXPECT_EQ(name.CopyValue(words, words), 64); // no overlapping copy onto itself
    EXPECT_EQ(name.Print(words), std::string(63, 'x'));
    std::memset(words, 'y', sizeof words); // unterminated, as a value from outside may be
    EXPECT_EQ(name.Print(words), std::string(63, 'y'));
}

// Listeners -------------------------------------------------------------------------------------

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
    void SetUp() override { object_.SetName("object"); }
    Calls Notify(Entity& object, uint32_t oldWord, uint32_t newWord, int told) {
        calls.clear();
        EXPECT_EQ(flags_.NotifyListeners(object, &oldWord, &newWord), told);
        return calls;
    }

    PropertyBitfield flags_;
    Gadget object_;
};

TEST_F(PropertyListenerTest, KindsAreCalledInOrderWithTheirTargetsFilteredByMaskAndClass) {
    Gadget watcher;
    watcher.SetName("watcher");
    flags_.AddListener(Property::ListenerOfGiven, &watcher, nullptr, Record<1>, 0);
    flags_.AddListener(Property::ListenerFree, nullptr, nullptr, Record<2>, 0);
    flags_.AddListener(Property::ListenerOfObject, nullptr, nullptr, Record<3>, 0);
    flags_.AddListener(Property::ListenerFree, nullptr, nullptr, Record<4>, 4);
    EXPECT_EQ(Notify(object_, 1, 2, 4),
              (Calls{"1:watcher:object:1>2", "2:-:object:1>2", "3:object:object:1>2"}));
    EXPECT_EQ(Notify(object_, 3, 7, 4).back(), "4:-:object:3>7");

    // A class filter passes the class and its descendants only.
    ClassInfo base("ListenerTestBase", nullptr, nullptr);
    ClassInfo left("ListenerTestLeft", nullptr, nullptr);
    ClassInfo right("ListenerTestRight", nullptr, nullptr);
    left.SetParent(&base);
    right.SetParent(&base);
    PropertyBitfield filtered;
    filtered.AddListener(Property::ListenerFree, nullptr, &base, Record<1>, 0);
    filtered.AddListener(Property::ListenerFree, nullptr, &left, Record<2>, 0);
    const uint32_t before = 0, after = 1;
    calls.clear();
    object_.answer = &left;
    filtered.NotifyListeners(object_, &before, &after);
    object_.answer = &right;
    filtered.NotifyListeners(object_, &before, &after);
    EXPECT_EQ(calls, (Calls{"1:-:object:0>1", "2:-:object:0>1", "1:-:object:0>1"}));
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
    EXPECT_EQ(Notify(object_, 0, 1, 2), Calls{"2:-:object:0>1"});
}

// Entity references ----------------------------------------------------------------------------

TEST_F(PropertyTest, ReferenceTextIsTheIdOrBranchPathWithThePortRightAfterIt) {
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
        EXPECT_EQ(SetTarget(text), id) << text;
    }
    // Parse reads any number as the unsigned id and keeps the value otherwise.
    uint32_t back = 0;
    Find("target").Parse("-1073741812", &back);
    EXPECT_EQ(back, 12u | 12u << 28);
    Find("target").Parse("none", &back);
    EXPECT_EQ(back, 12u | 12u << 28);
}

TEST_F(PropertyTest, ReferenceTextIsThePathAndDisplayNameAndReadsBackWhateverTheNameHolds) {
    Gadget lamp;
    lamp.SetName("lamp");
    lamp.ChangeId(12);
    gadget_.target = {12u | 2u << 28};
    EXPECT_EQ(Find("target").GetAsText(gadget_), "12-2  \"lamp\"");
    gadget_.target = {13};
    EXPECT_EQ(Find("target").GetAsText(gadget_), "0");

    BranchRoot branch(2);
    branch.ChangeId(4);
    TheIdMap().SetSceneRoot(2, &branch);
    Gadget inner;
    inner.ChangeId(2u * 65536u + 9u);
    inner.SetName("left-3"); // a '-' in the display name is not a port
    gadget_.target = {inner.GetId()};
    const std::string text = Find("target").GetAsText(gadget_);
    EXPECT_EQ(SetTarget(text.c_str()), inner.GetId()) << text;
}

} // namespace
} // namespace quarn
