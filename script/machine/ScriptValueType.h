#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarn {

class ScriptValueStack;
class TokenTable;

// An operator body: pops its operands from the value stack and pushes its result.
using ScriptOperatorFunction = void (*)(ScriptValueStack& stack);

// One operator, method or conversion of a value type, as command 19 calls it by index.
struct ScriptOperatorRecord {
    static constexpr int MaxParameters = 16;

    std::string name;      // the symbol ("+", "==") or identifier ("ToFloat2")
    std::string signature; // the text it was registered with
    int32_t parameterCount = 0;
    int32_t parameterTypes[MaxParameters] = {};
    int32_t argumentWords = 0;
    int32_t resultType = 0; // void when the signature names none
    int32_t kind = 0;       // 0, 1 or 2: the registration form that made it
    ScriptOperatorFunction function = nullptr;
};

struct ScriptComponent {
    std::string name;
    int32_t type = 0;
    int32_t index = 0;
};

// A value type as scripts see it: name, size, named components and its operators by index.
class ScriptValueType {
public:
    static constexpr int MaxComponents = 8;

    ScriptValueType(const char* name, int32_t wordCount) : name_(name), wordCount_(wordCount) {}

    // False for a component past MaxComponents, which is left out.
    bool AddComponent(const char* name, int32_t type, int32_t componentIndex);
    // Stores the operator at `index` (the list grows with empty records); false when the
    // signature does not parse, and nothing is stored.
    bool AddOperator(const char* signature, int index, ScriptOperatorFunction function,
                     int32_t kind);

    const char* GetName() const { return name_.c_str(); }
    int32_t GetWordCount() const { return wordCount_; }
    const std::vector<ScriptComponent>& Components() const { return components_; }
    // Null past the end. Inline: the machine looks one up per operator command.
    const ScriptOperatorRecord* GetOperator(int index) const {
        return index >= 0 && static_cast<size_t>(index) < operators_.size()
                   ? &operators_[static_cast<size_t>(index)]
                   : nullptr;
    }
    int GetOperatorCount() const { return static_cast<int>(operators_.size()); }

private:
    std::string name_;
    int32_t wordCount_;
    std::vector<ScriptComponent> components_;
    std::vector<ScriptOperatorRecord> operators_;
};

// The list of value types by type id (gaps empty).
ScriptValueType* CreateValueType(const char* name, int32_t wordCount, int32_t typeId);
ScriptValueType* GetScriptValueType(int32_t typeId);
int GetScriptValueTypeCount();
// The type id of the value type of that name (exact); -1 when none.
int32_t FindValueType(const char* name);
void DeleteAllValueTypes();
namespace detail {
inline uint64_t scriptValueTypeGeneration = 0;
} // namespace detail
// Changes whenever a value type or operator is created, replaced or deleted.
inline uint64_t GetScriptValueTypeGeneration() {
    return detail::scriptValueTypeGeneration;
}

// Token ids of the script language's keyword table.
enum ScriptToken : int32_t {
    FirstOperatorToken = 256, // "&&" .. "/=" are 256 .. 272
    EndOfOperatorTokens = 273,
    ClassNameTokenBase = 0x10000, // + the script class's index
    TypeNameTokenBase = 0x20000,  // + the value type's id
};

// The keyword table, made on first use with its 47 fixed rows.
TokenTable& GetScriptKeywordTable();
// Adds every script class name and every value type name with their ids; each runs once the
// classes or value types are registered.
void AddScriptClassKeywords();
void AddValueTypeKeywords();
// Forgets the table; the next use builds the fixed rows again.
void ResetScriptKeywordTable();

// Reads "+(int):int" or "!():bool" into the record's name, parameters, argument words and result
// type; false on any token out of place.
bool ParseOperatorSignature(const char* text, ScriptOperatorRecord& record);

} // namespace quarn
