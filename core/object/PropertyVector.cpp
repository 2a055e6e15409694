#include "core/object/PropertyVector.h"

#include "core/math/Quaternion.h"
#include "core/object/Entity.h"
#include "core/object/ValueBinding.h"
#include "core/string/NumberText.h"
#include "core/string/Text.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

namespace quarn {

namespace {

// Components are cut to this many characters, as the fixed buffers they were read through.
constexpr size_t PartChars = 63;

// Degrees per radian and back, as 32-bit floats: the texts of stored scenes were written with
// exactly these values.
constexpr float DegreesPerRadian = 57.2957763671875f;
constexpr float RadiansPerDegree = 0.017453292f;

struct Parts {
    char text[4][PartChars + 1];
    int count = 0;

    Parts(const char* source, int maxParts) {
        char* const outputs[4] = {text[0], text[1], text[2], text[3]};
        count = SplitAtDelimiters(source, ",", outputs, maxParts, PartChars);
    }
};

int CountCommas(const char* text) {
    int commas = 0;
    for (; text && *text; ++text) {
        commas += *text == ',';
    }
    return commas;
}

// A whole degree when the angle lies within 0.0001 of one, so 89.99999 is written as 90.
float SnapDegrees(float degrees) {
    const float whole = std::floor(degrees + 0.5f);
    return std::fabs(degrees - whole) < 0.0001f ? whole : degrees;
}

} // namespace

// PropertyVector ----------------------------------------------------------------------------

bool PropertyVector::IsFloat() const {
    return GetTypeScalarKind(GetValueType()) == 2;
}

void PropertyVector::SetDefault(const uint32_t* value) {
    std::memcpy(default_, value, sizeof(uint32_t) * static_cast<size_t>(count_));
    SetStateFlags(GetStateFlags() | PropertyHasDefault);
}

bool PropertyVector::IsDefaultValue(const uint32_t* value) const {
    return (GetStateFlags() & PropertyHasDefault) != 0 &&
           std::memcmp(value, default_, sizeof(uint32_t) * static_cast<size_t>(count_)) == 0;
}

int PropertyVector::ValuesDiffer(const uint32_t* a, const uint32_t* b) const {
    const bool isFloat = IsFloat();
    for (int i = 0; i < count_; ++i) {
        const bool differ = isFloat ? WordToFloat(a[i]) != WordToFloat(b[i]) : a[i] != b[i];
        if (differ) {
            return 1;
        }
    }
    return 0;
}

std::string PropertyVector::Print(const uint32_t* value) const {
    std::string text;
    for (int i = 0; i < count_; ++i) {
        if (i > 0) {
            text += ',';
        }
        text += IsFloat() ? FormatTemp("%f", static_cast<double>(WordToFloat(value[i])))
                          : FormatTemp("%i", static_cast<int32_t>(value[i]));
    }
    return text;
}

void PropertyVector::Parse(const char* text, uint32_t* value) const {
    const Parts parts(text, count_);
    for (int i = 0; i < parts.count; ++i) {
        value[i] = IsFloat() ? FloatToWord(ParseFloat(parts.text[i]))
                             : static_cast<uint32_t>(ParseInt32(parts.text[i]));
    }
}

int PropertyVector::SetFromText(Entity& object, const char* text) const {
    if (CountCommas(text) + 1 < GetRequiredParts()) {
        return 0;
    }
    PropertyValue value;
    Parse(text, value.words);
    WriteValue(object, value.words);
    return GetSize();
}

std::string PropertyVector::FindTextMistake(const char* text) const {
    const std::string_view whole = text ? text : "";
    int parts = 0;
    std::string mistake;
    for (size_t start = 0; start <= whole.size(); ++parts) {
        const size_t end = std::min(whole.find(',', start), whole.size());
        const std::string part(whole.substr(start, end - start));
        const char* wrong =
            IsFloat() ? FindFloatMistake(part.c_str()) : FindInt32Mistake(part.c_str());
        if (wrong && mistake.empty()) {
            mistake = "holds '" + part + "', which " + wrong;
        }
        start = end + 1;
    }
    const int least = GetRequiredParts();
    if (parts < least || parts > count_) {
        return "has " + std::to_string(parts) + (parts == 1 ? " number" : " numbers") + " where " +
               std::to_string(least) + (least == count_ ? "" : " or " + std::to_string(count_)) +
               " are needed";
    }
    return mistake;
}

// PropertyQuaternion ------------------------------------------------------------------------

void PropertyQuaternion::Parse(const char* text, uint32_t* value) const {
    const Parts parts(text, 4);
    if (parts.count == 3) {
        const Float3 degrees(ParseFloat(parts.text[0]), ParseFloat(parts.text[1]),
                             ParseFloat(parts.text[2]));
        const Quaternion rotation =
            Quaternion::FromEuler(Float3(degrees.x * RadiansPerDegree, degrees.y * RadiansPerDegree,
                                         degrees.z * RadiansPerDegree));
        ValueTraits<Quaternion>::Write(rotation, value);
    } else if (parts.count == 4) {
        for (int i = 0; i < 4; ++i) {
            value[i] = FloatToWord(ParseFloat(parts.text[i]));
        }
    }
}

std::string PropertyQuaternion::GetAsText(const Entity& object) const {
    PropertyValue value;
    ReadValue(object, value.words);
    return FormatEuler(ValueTraits<Quaternion>::Read(value.words));
}

std::string PropertyQuaternion::FormatEuler(const Quaternion& rotation) {
    const Float3 angles = rotation.ToEuler();
    return FormatTemp("%f,%f,%f", static_cast<double>(SnapDegrees(angles.x * DegreesPerRadian)),
                      static_cast<double>(SnapDegrees(angles.y * DegreesPerRadian)),
                      static_cast<double>(SnapDegrees(angles.z * DegreesPerRadian)));
}

} // namespace quarn
