#pragma once

#include "core/object/Property.h"

#include <cstdint>
#include <string>

namespace quarn {

// The descriptors whose value is one 32-bit word: a default word, compared, copied and
// written as one word. Each class adds its text form; SetFromText parses into a zeroed word.
class PropertyWord : public Property {
public:
    void SetDefault(const uint32_t* value) override;
    // Compares as 32-bit integers.
    bool IsDefaultValue(const uint32_t* value) const override;
    int ValuesDiffer(const uint32_t* a, const uint32_t* b) const override;
    int CopyValue(const uint32_t* source, uint32_t* destination) const override;

    uint32_t GetDefault() const { return default_; }

protected:
    explicit PropertyWord(int32_t valueType) : Property(valueType) {}

private:
    uint32_t default_ = 0;
};

// Decimal text, clamped to the 32-bit limits when read.
class PropertyInt : public PropertyWord {
public:
    PropertyInt() : PropertyWord(TypeInt) {}

    std::string Print(const uint32_t* value) const override;
    void Parse(const char* text, uint32_t* value) const override;
    std::string FindTextMistake(const char* text) const override;
    int32_t GetKind() const override { return KindInt; }
};

// The range text lists the names of the values 0, 1, 2, ...; the value itself is a decimal int.
class PropertyEnum : public PropertyInt {
public:
    int32_t GetKind() const override { return KindEnum; }
};

// The range text lists the names of bits 0, 1, 2, ...; the value itself is a decimal int.
class PropertyBitfield : public PropertyInt {
public:
    int32_t GetKind() const override { return KindBitfield; }
};

// The whole word is stored and printed, but only its low byte counts as the truth value in the
// object-level text.
class PropertyBool : public PropertyWord {
public:
    PropertyBool() : PropertyWord(TypeBool) {}

    std::string Print(const uint32_t* value) const override;
    void Parse(const char* text, uint32_t* value) const override;
    // "1" or "0" from the value's low byte.
    std::string GetAsText(const Entity& object) const override;
    std::string FindTextMistake(const char* text) const override;
    int32_t GetKind() const override { return KindBool; }
};

// An ARGB word as hex: "%06X" written, one hex number of up to 32 bits read.
class PropertyColor : public PropertyWord {
public:
    PropertyColor() : PropertyWord(TypeInt) {}

    std::string Print(const uint32_t* value) const override;
    // Leaves the value alone when the text holds no hex number (SetFromText then writes 0).
    void Parse(const char* text, uint32_t* value) const override;
    std::string FindTextMistake(const char* text) const override;
    int32_t GetKind() const override { return KindColor; }

    // Start values of the editor's colour picker.
    int32_t GetPickerValue(int index) const { return pickerValues_[index & 1]; }

private:
    int32_t pickerValues_[2] = {150, 100};
};

// A reference to an entity, stored as its id with the port in bits 28-31. The value itself is
// printed and read as the plain unsigned id; the object-level text is the id path followed by
// the entity's display name.
class PropertyEntity : public PropertyWord {
public:
    // `valueType` restricts the reference to a class (0x10000 + its number).
    explicit PropertyEntity(int32_t valueType = TypeEntity) : PropertyWord(valueType) {}

    std::string Print(const uint32_t* value) const override;
    // Leaves the value alone when the text holds no number.
    void Parse(const char* text, uint32_t* value) const override;
    // "a.b" is local id b in the id system of the live entity a; one number is that id; "-n"
    // right after the number adds port n. A text that names no entity stores 0.
    int SetFromText(Entity& object, const char* text) const override;
    // "0" when the id names no live entity, else "<id path>  <display name>".
    std::string GetAsText(const Entity& object) const override;
    int32_t GetKind() const override { return KindRef; }
};

// A float printed with as many decimals as its range's step needs. The range text is
// "min,max,third,step", with an optional '[' or ']' before min (']' excludes it) and after max
// ('[' excludes it); only the step is kept.
class PropertyFloat : public Property {
public:
    PropertyFloat() : Property(TypeFloat) {}

    void SetDefault(const uint32_t* value) override;
    // Compares as floats.
    bool IsDefaultValue(const uint32_t* value) const override;
    int ValuesDiffer(const uint32_t* a, const uint32_t* b) const override;
    int CopyValue(const uint32_t* source, uint32_t* destination) const override;
    std::string Print(const uint32_t* value) const override;
    void Parse(const char* text, uint32_t* value) const override;
    std::string FindTextMistake(const char* text) const override;
    int32_t GetKind() const override { return KindFloat; }
    void ParseRange() override;

    float GetDefault() const { return default_; }
    // "%f", or "%0.<n>f" for a step that needs n (1 to 5) decimals.
    std::string GetPrintFormat() const;

private:
    // Digits after the point; 6 is what "%f" prints.
    int decimals_ = 6;
    float default_ = 0.0f;
};

} // namespace quarn
