#include "core/PropertyVector.h"

#include "core/Entity.h"
#include "core/Quaternion.h"
#include "tests/support/MathExpectations.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

namespace quarn {
namespace {

using test::ExpectNear;
using test::ExpectSameRotation;

class Mover : public Entity {
public:
    Int2 GetCell() const { return cell_; }
    void SetCell(Int2 cell) { cell_ = cell; }
    Float2 GetUv() const { return uv_; }
    void SetUv(Float2 uv) { uv_ = uv; }
    Float3 GetPosition() const { return position_; }
    void SetPosition(const Float3& position) {
        position_ = position;
        ++positionWrites;
    }
    Quaternion GetRotation() const { return rotation_; }
    void SetRotation(const Quaternion& rotation) { rotation_ = rotation; }

    int positionWrites = 0;

private:
    Int2 cell_;
    Float2 uv_;
    Float3 position_;
    Quaternion rotation_;
};

template <class Descriptor, auto Getter, auto Setter>
std::unique_ptr<Descriptor> Bound(const char* name) {
    auto property = std::make_unique<Descriptor>();
    property->Setup(name, "", MakeGetter<Getter>(), MakeSetter<Setter>());
    return property;
}

auto PositionProperty() {
    return Bound<PropertyFloat3, &Mover::GetPosition, &Mover::SetPosition>("position");
}
auto RotationProperty() {
    return Bound<PropertyQuaternion, &Mover::GetRotation, &Mover::SetRotation>("rotation");
}

// PropertyVector: Int2, Float2, Float3 ------------------------------------------------------

TEST(PropertyVectorTest, IntPairIsSplitAtCommasOnly) {
    auto cell = Bound<PropertyInt2, &Mover::GetCell, &Mover::SetCell>("cell");
    Mover mover;
    EXPECT_EQ(cell->SetFromText(mover, "3,-4"), 8);
    EXPECT_EQ(mover.GetCell().x, 3);
    EXPECT_EQ(mover.GetCell().y, -4);
    EXPECT_EQ(cell->GetAsText(mover), "3,-4");
    EXPECT_EQ(cell->SetFromText(mover, "5 6"), 0);
    EXPECT_EQ(cell->SetFromText(mover, "7"), 0);
    EXPECT_EQ(mover.GetCell().x, 3);
    cell->SetFromText(mover, "8, 9");
    EXPECT_EQ(mover.GetCell().y, 9);
}

TEST(PropertyVectorTest, FloatPairPrintsSixDecimals) {
    auto uv = Bound<PropertyFloat2, &Mover::GetUv, &Mover::SetUv>("uv");
    Mover mover;
    uv->SetFromText(mover, "0.5,-2");
    EXPECT_EQ(uv->GetAsText(mover), "0.500000,-2.000000");
}

TEST(PropertyVectorTest, Float3WithTooFewCommasChangesNothing) {
    auto position = PositionProperty();
    Mover mover;
    mover.SetPosition({9, 9, 9});
    mover.positionWrites = 0;
    position->SetFromText(mover, "1,2");
    position->SetFromText(mover, "1 2 3");
    EXPECT_EQ(mover.positionWrites, 0);
    EXPECT_EQ(position->SetFromText(mover, "1,2,3"), 12);
    EXPECT_EQ(mover.GetPosition().x, 1.0f);
    EXPECT_EQ(mover.GetPosition().y, 2.0f);
    EXPECT_EQ(mover.GetPosition().z, 3.0f);
    EXPECT_EQ(position->GetAsText(mover), "1.000000,2.000000,3.000000");
}

TEST(PropertyVectorTest, DefaultComparesBitPatterns) {
    auto position = PositionProperty();
    Mover mover;
    EXPECT_FALSE(position->IsDefault(mover));
    const Float3 zero;
    uint32_t words[3];
    std::memcpy(words, &zero, sizeof words);
    position->SetDefault(words);
    EXPECT_TRUE(position->IsDefault(mover));
    mover.SetPosition({-0.0f, 0.0f, 0.0f});
    EXPECT_FALSE(position->IsDefault(mover));
}

// PropertyQuaternion ------------------------------------------------------------------------

TEST(PropertyQuaternionTest, QuarterTurnPrintsWholeDegrees) {
    auto rotation = RotationProperty();
    Mover mover;
    const float half = std::sqrt(0.5f);
    mover.SetRotation({half, 0.0f, 0.0f, half});
    EXPECT_EQ(rotation->GetAsText(mover), "90.000000,0.000000,0.000000");
    mover.SetRotation({0.0f, half, 0.0f, half});
    EXPECT_EQ(rotation->GetAsText(mover), "0.000000,90.000000,0.000000");
    mover.SetRotation({0.0f, 0.0f, -half, half});
    EXPECT_EQ(rotation->GetAsText(mover), "0.000000,0.000000,-90.000000");
}

TEST(PropertyQuaternionTest, EulerTextReadsBackToTheSameRotation) {
    auto rotation = RotationProperty();
    Mover mover;
    EXPECT_EQ(rotation->SetFromText(mover, "90,0,0"), 16);
    const float half = std::sqrt(0.5f);
    ExpectSameRotation(mover.GetRotation(), {half, 0.0f, 0.0f, half});
    EXPECT_EQ(rotation->GetAsText(mover), "90.000000,0.000000,0.000000");

    rotation->SetFromText(mover, "10,20,30");
    EXPECT_EQ(rotation->GetAsText(mover), "10.000000,20.000000,30.000000");
}

TEST(PropertyQuaternionTest, GimbalLockTextStillNamesTheRotation) {
    auto rotation = RotationProperty();
    Mover mover;
    rotation->SetFromText(mover, "30,90,0");
    const Quaternion original = mover.GetRotation();
    const std::string text = rotation->GetAsText(mover);
    rotation->SetFromText(mover, text.c_str());
    ExpectSameRotation(mover.GetRotation(), original);
}

TEST(PropertyQuaternionTest, FourPartsAreTheComponents) {
    auto rotation = RotationProperty();
    Mover mover;
    rotation->SetFromText(mover, "0,0.6,0,0.8");
    EXPECT_EQ(mover.GetRotation().y, 0.6f);
    EXPECT_EQ(mover.GetRotation().w, 0.8f);
}

TEST(PropertyQuaternionTest, FewerThanThreePartsChangeNothing) {
    auto rotation = RotationProperty();
    Mover mover;
    mover.SetRotation({0.0f, 0.6f, 0.0f, 0.8f});
    EXPECT_EQ(rotation->SetFromText(mover, "90,0"), 0);
    EXPECT_EQ(rotation->SetFromText(mover, "90 0 0"), 0);
    EXPECT_EQ(mover.GetRotation().y, 0.6f);
}

TEST(PropertyQuaternionTest, PrintGivesTheFourComponents) {
    PropertyQuaternion rotation;
    const Quaternion value(0.0f, 0.6f, 0.0f, 0.8f);
    uint32_t words[4];
    std::memcpy(words, &value, sizeof words);
    EXPECT_EQ(rotation.Print(words), "0.000000,0.600000,0.000000,0.800000");
}

} // namespace
} // namespace quarn
