#include "core/object/ValueType.h"

#include "core/debug/Log.h"
#include "core/object/ClassInfo.h"
#include "core/string/NumberText.h"
#include "core/string/Text.h"
#include "core/string/TextArena.h"

#include <cstring>

namespace quarn {

namespace {

struct ValueTypeRecord {
    int32_t id;
    int32_t scalarKind;
    const char* name;
    // What the script machine shows a value with; nothing in the core reads it.
    const char* displayFormat;
    int32_t words;
    // The word holds a reference to storage kept elsewhere.
    int32_t indirect;
};

// Indexed by type id; compiled scripts depend on every number here.
constexpr ValueTypeRecord ValueTypes[] = {
    {0, 0, "void", "N/A", 0, 0},          {1, 0, "int", "%d", 1, 0},
    {2, 0, "float", "%f", 1, 0},          {3, 0, "bool", "%d", 1, 0},
    {4, 0, "char", "%d", 1, 0},           {5, 1, "int2", "(%d,%d)", 2, 0},
    {6, 2, "float2", "(%f,%f)", 2, 0},    {7, 1, "int3", "(%d,%d,%d)", 3, 0},
    {8, 2, "float3", "(%f,%f,%f)", 3, 0}, {9, 2, "quaternion", "(%f,%f,%f,%f)", 4, 0},
    {10, 0, "entity", "%d", 1, 0},        {11, 4, "string", "%s", 1, 1},
    {12, 0, "class", "%s", 1, 0},         {13, 0, "function", "", 1, 0},
    {14, 0, "operator", "", 0, 0},        {15, 0, "array", "", 0, 0},
    {16, 0, "classtype", "%d", 1, 0},     {17, 0, "vref", "", 1, 1},
    {18, 4, "string64", "%s", 16, 0},
};

constexpr int32_t TableSize = static_cast<int32_t>(sizeof ValueTypes / sizeof ValueTypes[0]);
static_assert(TableSize == TypeString64 + 1);

bool InTable(int32_t type) {
    return type >= 0 && type < TableSize;
}

// Parts of a list text are cut to this many characters, as the fixed buffers they were read
// through held.
constexpr size_t ListPartChars = 63;
constexpr const char* ListDelimiters = " ,)\n";

template <class Convert>
int ParseList(const char* text, int count, uint32_t* out, Convert convert) {
    if (count < 2) {
        count = 2;
    } else if (count > 4) {
        count = 4;
    }
    char parts[4][ListPartChars + 1];
    char* const outputs[4] = {parts[0], parts[1], parts[2], parts[3]};
    const int found = SplitAtDelimiters(text, ListDelimiters, outputs, count, ListPartChars);
    for (int i = 0; i < found; ++i) {
        out[i] = convert(parts[i]);
    }
    return found;
}

} // namespace

// Normally the record at that place in the list, but a teardown moves the records behind a
// removed one up without renumbering them.
const ClassInfo* ClassOfType(int32_t type) {
    if (!IsClassType(type)) {
        return nullptr;
    }
    const int32_t number = type - ClassTypeBase;
    if (const ClassInfo* atIndex = GetClassByIndex(number);
        atIndex && atIndex->GetClassNumber() == number) {
        return atIndex;
    }
    for (int i = 0, count = GetClassCount(); i < count; ++i) {
        if (const ClassInfo* classInfo = GetClassByIndex(i);
            classInfo && classInfo->GetClassNumber() == number) {
            return classInfo;
        }
    }
    return nullptr;
}

int32_t GetTypeByName(const char* name) {
    if (!name) {
        return TypeVoid;
    }
    for (const ValueTypeRecord& record : ValueTypes) {
        if (std::strcmp(record.name, name) == 0) {
            return record.id;
        }
    }
    if (const ClassInfo* classInfo = FindClass(name)) {
        return ClassTypeBase + classInfo->GetClassNumber();
    }
    return TypeVoid;
}

const char* GetTypeName(int32_t type) {
    if (InTable(type)) {
        return ValueTypes[type].name;
    }
    if (type == TypeString64Alias) {
        return ValueTypes[TypeString64].name;
    }
    if (IsClassType(type)) {
        if (const ClassInfo* classInfo = ClassOfType(type)) {
            return classInfo->GetName();
        }
    }
    return "Unknown";
}

int32_t GetTypeWordCount(int32_t type) {
    if (InTable(type)) {
        return ValueTypes[type].words;
    }
    if (type == TypeString64Alias) {
        return ValueTypes[TypeString64].words;
    }
    return IsClassType(type) ? 1 : 0;
}

int32_t GetTypeScalarKind(int32_t type) {
    if (InTable(type)) {
        return ValueTypes[type].scalarKind;
    }
    return type == TypeString64Alias ? ValueTypes[TypeString64].scalarKind : 0;
}

int ParseIntList(const char* text, int count, uint32_t* out) {
    return ParseList(text, count, out,
                     [](const char* part) { return static_cast<uint32_t>(ParseInt32(part)); });
}

int ParseFloatList(const char* text, int count, uint32_t* out) {
    return ParseList(text, count, out, [](const char* part) {
        const float value = ParseFloat(part);
        uint32_t word;
        std::memcpy(&word, &value, sizeof word);
        return word;
    });
}

bool ParseTypedValue(int32_t type, const char* text, uint32_t* out) {
    if (IsClassType(type)) {
        out[0] = static_cast<uint32_t>(ParseInt32(text));
        return true;
    }
    switch (type) {
    case TypeInt:
    case TypeBool:
    case TypeEntity:
        out[0] = static_cast<uint32_t>(ParseInt32(text));
        return true;
    case TypeFloat: {
        const float value = ParseFloat(text);
        std::memcpy(out, &value, sizeof value);
        return true;
    }
    case TypeChar:
        // Sign-extended, as the byte sat in a signed char.
        out[0] = static_cast<uint32_t>(
            static_cast<int32_t>(static_cast<signed char>(text ? text[0] : '\0')));
        return true;
    case TypeInt2:
        return ParseIntList(text, 2, out) == 2;
    case TypeInt3:
        return ParseIntList(text, 3, out) == 3;
    case TypeFloat2:
        return ParseFloatList(text, 2, out) == 2;
    case TypeFloat3:
        return ParseFloatList(text, 3, out) == 3;
    case TypeQuaternion:
        return ParseFloatList(text, 4, out) == 4;
    case TypeString: {
        // The value outlives the call (script defaults live as long as the program), so a text
        // outside the arena is copied for good rather than into the temporary ring.
        TextWord word = TextWordOf(text);
        if (word == 0 && text) {
            word = StoreText(text);
            if (word == 0) {
                LogChannelMessage("text", "text arena full: a text of %zu bytes was not stored",
                                  std::strlen(text));
            }
        }
        out[0] = word;
        return true;
    }
    default:
        // void, array, string64 and the types that have no text form.
        return true;
    }
}

} // namespace quarn
