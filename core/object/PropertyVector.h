#pragma once

#include "core/object/Property.h"

#include <cstdint>
#include <string>

namespace quarn {

// The descriptors of 2 to 4 components: integers when the value type's scalar kind says so,
// floats otherwise. Texts are the components separated by ',' (blanks do not separate).
class PropertyVector : public Property {
public:
    void SetDefault(const uint32_t* value) override;
    // Compares bit patterns, so -0.0 is not a default of 0.0.
    bool IsDefaultValue(const uint32_t* value) const override;
    int ValuesDiffer(const uint32_t* a, const uint32_t* b) const override;
    // "%i,%i" or "%f,%f,...", one field per component.
    std::string Print(const uint32_t* value) const override;
    // Components the text does not have keep their values.
    void Parse(const char* text, uint32_t* value) const override;
    // Does nothing (and returns 0) when the text has fewer ','-separated parts than needed.
    int SetFromText(Entity& object, const char* text) const override;
    // A count of parts other than the value reads, or a part that is no number of its kind.
    std::string FindTextMistake(const char* text) const override;

    int GetComponentCount() const { return count_; }

protected:
    PropertyVector(int32_t valueType, int count) : Property(valueType), count_(count) {}

    bool IsFloat() const;
    // Parts the text needs before SetFromText reads it.
    virtual int GetRequiredParts() const { return count_; }

private:
    int count_;
    uint32_t default_[4] = {};
};

class PropertyInt2 : public PropertyVector {
public:
    PropertyInt2() : PropertyVector(TypeInt2, 2) {}
    int32_t GetKind() const override { return KindVector2I; }
};

class PropertyFloat2 : public PropertyVector {
public:
    PropertyFloat2() : PropertyVector(TypeFloat2, 2) {}
    int32_t GetKind() const override { return KindVector2F; }
};

class PropertyFloat3 : public PropertyVector {
public:
    PropertyFloat3() : PropertyVector(TypeFloat3, 3) {}
    int32_t GetKind() const override { return KindVector3F; }
};

// A rotation (x, y, z, w). Print gives the four components; the object-level text is three
// Euler angles in degrees about X, Y and Z, snapped to whole degrees within 0.0001.
class PropertyQuaternion : public PropertyVector {
public:
    PropertyQuaternion() : PropertyVector(TypeQuaternion, 4) {}

    // Three parts are Euler degrees, four or more the components; fewer change nothing.
    void Parse(const char* text, uint32_t* value) const override;
    std::string GetAsText(const Entity& object) const override;
    int32_t GetKind() const override { return KindQuaternion; }

    // "x,y,z" in degrees, as GetAsText writes it.
    static std::string FormatEuler(const Quaternion& rotation);

protected:
    int GetRequiredParts() const override { return 3; }
};

} // namespace quarn
