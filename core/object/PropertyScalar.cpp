#include "core/object/PropertyScalar.h"

#include "core/io/BufferFile.h"
#include "core/io/Tokenizer.h"
#include "core/object/Entity.h"
#include "core/object/EntityRef.h"
#include "core/object/IdPath.h"
#include "core/string/NumberText.h"
#include "core/string/Text.h"

#include <cmath>
#include <cstring>

namespace quarn {

namespace {

// Walks a float range text "min,max,third,step" token by token.
class RangeReader {
public:
    explicit RangeReader(const char* text) : file_(text) { Advance(); }

    void Advance() { kind_ = tokenizer_.Next(file_); }
    bool At(char c) const { return kind_ == static_cast<unsigned char>(c); }

    // A number with an optional leading '-'; a field that holds none keeps `value`.
    void ReadNumber(float& value) {
        bool negative = false;
        if (At('-')) {
            negative = true;
            Advance();
        }
        if (kind_ == TokenNumber) {
            const float number = ParseFloat(tokenizer_.GetText().c_str());
            value = negative ? -number : number;
            Advance();
        }
    }

    // Skips whatever else the field holds and steps past its ','; false at the end of the text.
    bool NextField() {
        while (kind_ != TokenEnd && !At(',')) {
            Advance();
        }
        if (kind_ == TokenEnd) {
            return false;
        }
        Advance();
        return true;
    }

private:
    TextFile file_;
    Tokenizer tokenizer_;
    int32_t kind_ = TokenEnd;
};

// Decimals a step needs: -log10(step) rounded to a float before it is truncated, so that 0.001
// gives 3 rather than the 2 that truncating 2.9999999... would give.
int DecimalsForStep(float step) {
    if (!(step > 1e-6f)) {
        return 6;
    }
    const float digits = static_cast<float>(-std::log10(static_cast<double>(step)));
    if (digits >= 6.0f) {
        return 6;
    }
    const int truncated = static_cast<int>(digits);
    return truncated < 1 ? 1 : truncated;
}

// Where a run of decimal digits ends; `text` itself when none starts there.
const char* SkipDigits(const char* text) {
    while (IsDigit(*text)) {
        ++text;
    }
    return text;
}

} // namespace

// PropertyWord ------------------------------------------------------------------------------

void PropertyWord::SetDefault(const uint32_t* value) {
    default_ = value[0];
    SetStateFlags(GetStateFlags() | PropertyHasDefault);
}

bool PropertyWord::IsDefaultValue(const uint32_t* value) const {
    return (GetStateFlags() & PropertyHasDefault) != 0 && value[0] == default_;
}

int PropertyWord::ValuesDiffer(const uint32_t* a, const uint32_t* b) const {
    return a[0] != b[0];
}

int PropertyWord::CopyValue(const uint32_t* source, uint32_t* destination) const {
    destination[0] = source[0];
    return 4;
}

// PropertyInt -------------------------------------------------------------------------------

std::string PropertyInt::Print(const uint32_t* value) const {
    return FormatTemp("%d", static_cast<int32_t>(value[0]));
}

void PropertyInt::Parse(const char* text, uint32_t* value) const {
    value[0] = static_cast<uint32_t>(ParseInt32(text));
}

std::string PropertyInt::FindTextMistake(const char* text) const {
    const char* mistake = FindInt32Mistake(text);
    return mistake ? mistake : "";
}

// PropertyBool ------------------------------------------------------------------------------

std::string PropertyBool::Print(const uint32_t* value) const {
    return FormatTemp("%d", static_cast<int32_t>(value[0]));
}

void PropertyBool::Parse(const char* text, uint32_t* value) const {
    value[0] = static_cast<uint32_t>(ParseInt32(text));
}

std::string PropertyBool::FindTextMistake(const char* text) const {
    const char* mistake = FindInt32Mistake(text);
    return mistake ? mistake : "";
}

std::string PropertyBool::GetAsText(const Entity& object) const {
    PropertyValue value;
    ReadValue(object, value.words);
    return (value.words[0] & 0xFF) != 0 ? "1" : "0";
}

// PropertyColor -----------------------------------------------------------------------------

std::string PropertyColor::Print(const uint32_t* value) const {
    return FormatTemp("%06X", value[0]);
}

void PropertyColor::Parse(const char* text, uint32_t* value) const {
    const char* end = text;
    const uint32_t color = ParseHex32(text, &end);
    if (end != text) {
        value[0] = color;
    }
}

std::string PropertyColor::FindTextMistake(const char* text) const {
    const char* mistake = FindHex32Mistake(text);
    return mistake ? mistake : "";
}

// PropertyEntity ----------------------------------------------------------------------------

std::string PropertyEntity::Print(const uint32_t* value) const {
    // Unsigned: ids with a port of 8 or more would otherwise print negative.
    return FormatTemp("%u", value[0]);
}

void PropertyEntity::Parse(const char* text, uint32_t* value) const {
    const char* end = text;
    const uint32_t id = ParseUInt32(text, &end);
    if (end != text) {
        value[0] = id;
    }
}

int PropertyEntity::SetFromText(Entity& object, const char* text) const {
    uint32_t id = 0;
    const char* cursor = text ? text : "";
    while (IsBlank(*cursor)) {
        ++cursor;
    }
    if (IsDigit(*cursor)) {
        const uint32_t first = ParseUInt32(cursor);
        cursor = SkipDigits(cursor);
        if (*cursor == '.') {
            ++cursor;
            const uint32_t local = ParseUInt32(cursor);
            cursor = SkipDigits(cursor);
            // The local id counts in the id system that the entity `first` opens (a branch).
            const Entity* system = LookupEntity(first);
            id = system ? system->GetIdSystem() * 65536u + local : 0;
        } else {
            id = first;
        }
        // The port follows the number directly ("12-3"); after a blank the '-' is not one.
        // The whole number counts: branch relays use ports up to 15.
        if (id != 0 && *cursor == '-' && IsDigit(cursor[1])) {
            const uint32_t port = ParseUInt32(cursor + 1) & 0xF;
            id |= port << PortShift;
        }
    }
    WriteValue(object, &id);
    return 4;
}

std::string PropertyEntity::GetAsText(const Entity& object) const {
    PropertyValue value;
    ReadValue(object, value.words);
    const Entity* entity = LookupEntity(value.words[0]);
    if (!entity) {
        return "0";
    }
    return IdPath::FromId(value.words[0], 0).Format() + "  " + entity->GetDisplayName();
}

// PropertyFloat -----------------------------------------------------------------------------

void PropertyFloat::SetDefault(const uint32_t* value) {
    default_ = WordToFloat(value[0]);
    SetStateFlags(GetStateFlags() | PropertyHasDefault);
}

bool PropertyFloat::IsDefaultValue(const uint32_t* value) const {
    return (GetStateFlags() & PropertyHasDefault) != 0 && WordToFloat(value[0]) == default_;
}

int PropertyFloat::ValuesDiffer(const uint32_t* a, const uint32_t* b) const {
    return WordToFloat(a[0]) != WordToFloat(b[0]);
}

int PropertyFloat::CopyValue(const uint32_t* source, uint32_t* destination) const {
    destination[0] = source[0];
    return 4;
}

std::string PropertyFloat::Print(const uint32_t* value) const {
    return FormatTemp("%.*f", decimals_, static_cast<double>(WordToFloat(value[0])));
}

void PropertyFloat::Parse(const char* text, uint32_t* value) const {
    value[0] = FloatToWord(ParseFloat(text));
}

std::string PropertyFloat::FindTextMistake(const char* text) const {
    const char* mistake = FindFloatMistake(text);
    return mistake ? mistake : "";
}

void PropertyFloat::ParseRange() {
    // Minimum, maximum and the third field are read only to find the step: the editor reads the
    // range text itself.
    float minimum = -3.4028235e38f;
    float maximum = 3.4028235e38f;
    float third = 0.0f;
    float step = 1e-6f;
    RangeReader reader(GetRange());
    if (reader.At('[') || reader.At(']')) {
        reader.Advance();
    }
    reader.ReadNumber(minimum);
    if (reader.NextField()) {
        reader.ReadNumber(maximum);
        if (reader.NextField()) {
            reader.ReadNumber(third);
            if (reader.NextField()) {
                reader.ReadNumber(step);
            }
        }
    }
    decimals_ = DecimalsForStep(step);
}

std::string PropertyFloat::GetPrintFormat() const {
    return decimals_ >= 6 ? std::string("%f") : FormatTemp("%%0.%df", decimals_);
}

} // namespace quarn
