#include "core/object/PropertyVector.h"

#include "core/math/Quaternion.h"
#include "core/object/Entity.h"
#include "tests/support/MathExpectations.h"

#include <cmath>
#include <gtest/gtest.h>

namespace quarn {
namespace {

using test::ExpectSameRotation;

class Mover : public Entity {
public:
    Int2 GetCell() const { return cell_; }
    void SetCell(Int2 cell) { cell_ = cell; }
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
    Float3 position_;
    Quaternion rotation_;
};

template <class Descriptor, auto Getter, auto Setter>
std::unique_ptr<Descriptor> Bound() {
    auto property = std::make_unique<Descriptor>();
    property->Setup("p", "", MakeGetter<Getter>(), MakeSetter<Setter>());
    return property;
}

auto Position = Bound<PropertyFloat3, &Mover::GetPosition, &Mover::SetPosition>;
auto Rotation = Bound<PropertyQuaternion, &Mover::GetRotation, &Mover::SetRotation>;
const float half = std::sqrt(0.5f);

TEST(PropertyVectorTest, IntPairIsSplitAtCommasOnly) {
    auto cell = Bound<PropertyInt2, &Mover::GetCell, &Mover::SetCell>();
    Mover mover;
    EXPECT_EQ(cell->SetFromText(mover, "3,-4"), 8);
    EXPECT_EQ(cell->GetAsText(mover), "3,-4");
    EXPECT_EQ(cell->SetFromText(mover, "5 6"), 0);
    EXPECT_EQ(mover.GetCell().x, 3);
    cell->SetFromText(mover, "8, 9");
    EXPECT_EQ(mover.GetCell().y, 9);
}

TEST(PropertyVectorTest, Float3WithTooFewCommasChangesNothing) {
    auto position = Position();
    Mover mover;
    position->SetFromText(mover, "1,2");
    position->SetFromText(mover, "1 2 3");
    EXPECT_EQ(mover.positionWrites, 0);
    EXPECT_EQ(position->SetFromText(mover, "1,2,3"), 12);
    EXPECT_EQ(position->GetAsText(mover), "1.000000,2.000000,3.000000");
}

TEST(PropertyVectorTest, DefaultComparesBitPatterns) {
    auto position = Position();
    Mover mover;
    EXPECT_FALSE(position->IsDefault(mover));
    const uint32_t zero[3] = {};
    position->SetDefault(zero);
    EXPECT_TRUE(position->IsDefault(mover));
    mover.SetPosition({-0.0f, 0.0f, 0.0f});
    EXPECT_FALSE(position->IsDefault(mover));
}

TEST(PropertyQuaternionTest, QuarterTurnPrintsWholeDegreesOnItsOwnAxis) {
    auto rotation = Rotation();
    Mover mover;
    mover.SetRotation({half, 0.0f, 0.0f, half});
    EXPECT_EQ(rotation->GetAsText(mover), "90.000000,0.000000,0.000000");
    mover.SetRotation({0.0f, half, 0.0f, half});
    EXPECT_EQ(rotation->GetAsText(mover), "0.000000,90.000000,0.000000");
    mover.SetRotation({0.0f, 0.0f, -half, half});
    EXPECT_EQ(rotation->GetAsText(mover), "0.000000,0.000000,-90.000000");
}

TEST(PropertyQuaternionTest, EulerTextReadsBackToTheSameRotation) {
    auto rotation = Rotation();
    Mover mover;
    EXPECT_EQ(rotation->SetFromText(mover, "90,0,0"), 16);
    ExpectSameRotation(mover.GetRotation(), {half, 0.0f, 0.0f, half});
    rotation->SetFromText(mover, "10,20,30");
    EXPECT_EQ(rotation->GetAsText(mover), "10.000000,20.000000,30.000000");
}

TEST(PropertyQuaternionTest, GimbalLockTextStillNamesTheRotation) {
    auto rotation = Rotation();
    Mover mover;
    rotation->SetFromText(mover, "30,90,0");
    const Quaternion original = mover.GetRotation();
    rotation->SetFromText(mover, rotation->GetAsText(mover).c_str());
    ExpectSameRotation(mover.GetRotation(), original);
}

TEST(PropertyQuaternionTest, FourPartsAreTheComponentsAndFewerThanThreeChangeNothing) {
    auto rotation = Rotation();
    Mover mover;
    rotation->SetFromText(mover, "0,0.6,0,0.8");
    EXPECT_EQ(mover.GetRotation().y, 0.6f);
    EXPECT_EQ(mover.GetRotation().w, 0.8f);
    EXPECT_EQ(rotation->SetFromText(mover, "90,0"), 0);
    EXPECT_EQ(rotation->SetFromText(mover, "90 0 0"), 0);
    EXPECT_EQ(mover.GetRotation().y, 0.6f);
}

TEST(PropertyQuaternionTest, PrintGivesTheFourComponents) {
    const uint32_t words[4] = {0, FloatToWord(0.6f), 0, FloatToWord(0.8f)};
    EXPECT_EQ(PropertyQuaternion().Print(words), "0.000000,0.600000,0.000000,0.800000");
}

} // namespace
} // namespace quarn
