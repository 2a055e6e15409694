#pragma once

#include <cstdint>

namespace quarn {

class ClassInfo;

// Type ids of the values that properties, script methods and script variables hold. Every
// value is a whole number of 32-bit words; compiled scripts depend on these numbers.
enum ValueType : int32_t {
    TypeVoid = 0,
    TypeInt = 1,
    TypeFloat = 2,
    TypeBool = 3,
    TypeChar = 4,
    TypeInt2 = 5,
    TypeFloat2 = 6,
    TypeInt3 = 7,
    TypeFloat3 = 8,
    TypeQuaternion = 9,
    TypeEntity = 10,
    TypeString = 11, // one word: a text-arena word (TextArena.h), never an address
    TypeClass = 12,
    TypeFunction = 13,
    TypeOperator = 14,
    TypeArray = 15,
    TypeClassType = 16,
    TypeVref = 17,
    TypeString64 = 18, // 16 words: up to 63 characters in place
    TypeString64Alias = 32,
};

// Ids from here up name a reference to an instance of the registered class whose number is
// id - ClassTypeBase; such a value is one word, the entity id.
inline constexpr int32_t ClassTypeBase = 0x10000;

// Values never exceed this many words (string64).
inline constexpr int MaxValueWords = 16;

// The id of a value type's name (exact), else 0x10000 + the number of the first registered
// class of that name, else TypeVoid.
int32_t GetTypeByName(const char* name);
// "Unknown" for ids that name nothing.
const char* GetTypeName(int32_t type);
int32_t GetTypeWordCount(int32_t type);
// 1 for the integer vectors, 2 for the float vectors, 4 for the texts, 0 otherwise.
int32_t GetTypeScalarKind(int32_t type);
inline bool IsClassType(int32_t type) {
    return type >= ClassTypeBase;
}
// The registered class a class type id names; null for any other id.
const ClassInfo* ClassOfType(int32_t type);

// Writes the value a text denotes into `out` (which holds MaxValueWords words). Vector types
// answer whether the text held exactly enough parts; the rest answer true. A string value is
// the text's own arena word when it lies in the arena, else a copy made long-lived.
bool ParseTypedValue(int32_t type, const char* text, uint32_t* out);
// Splits at " ,)\n" into at most `count` parts (2 to 4), each read as an integer or a float into
// consecutive words; returns the number of parts found.
int ParseIntList(const char* text, int count, uint32_t* out);
int ParseFloatList(const char* text, int count, uint32_t* out);

} // namespace quarn
