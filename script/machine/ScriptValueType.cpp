#include "script/machine/ScriptValueType.h"

#include "core/io/MemoryFile.h"
#include "core/io/Tokenizer.h"
#include "script/machine/ScriptClass.h"

#include <cstring>
#include <memory>

namespace quarn {

namespace {

std::vector<std::unique_ptr<ScriptValueType>>& ValueTypes() {
    static std::vector<std::unique_ptr<ScriptValueType>> types;
    return types;
}

std::unique_ptr<TokenTable>& KeywordTable() {
    static std::unique_ptr<TokenTable> table;
    return table;
}

struct Keyword {
    int32_t id;
    const char* text;
};

constexpr Keyword FixedKeywords[] = {
    {256, "&&"},         {257, "||"},        {258, "^^"},     {259, "++"},         {260, "--"},
    {261, "<<"},         {262, ">>"},        {263, ">="},     {264, "<="},         {265, "=="},
    {266, "!="},         {267, "+="},        {268, "-="},     {269, "&="},         {270, "|="},
    {271, "*="},         {272, "/="},        {273, "if"},     {274, "else"},       {275, "elseif"},
    {276, "while"},      {277, "for"},       {278, "break"},  {279, "continue"},   {280, "return"},
    {281, "sleepframe"}, {282, "sleep"},     {283, "goto"},   {284, "breakpoint"}, {285, "//"},
    {286, "/*"},         {287, "*/"},        {288, "false"},  {289, "true"},       {290, "none"},
    {291, "self"},       {292, "root"},      {293, "parent"}, {294, "include"},    {295, "persist"},
    {296, "state"},      {297, "const"},     {298, "signal"}, {299, "public"},     {300, "private"},
    {301, "obfuscate"},  {302, "stacksize"},
};
static_assert(std::size(FixedKeywords) == 47);

bool IsOperatorToken(int32_t token) {
    return token >= FirstOperatorToken && token < EndOfOperatorTokens;
}

// Identifiers that happen to be class or type names come back with those ids.
bool IsNameToken(int32_t token) {
    return token == TokenIdentifier || token >= ClassNameTokenBase;
}

// The value type a type-name token names; -1 when it names none.
int32_t TypeOfToken(const Tokenizer& tokenizer) {
    return IsNameToken(tokenizer.GetKind()) ? FindValueType(tokenizer.GetText().c_str()) : -1;
}

} // namespace

bool ScriptValueType::AddComponent(const char* name, int32_t type, int32_t componentIndex) {
    if (components_.size() >= MaxComponents) {
        return false;
    }
    components_.push_back({name ? name : "", type, componentIndex});
    return true;
}

bool ScriptValueType::AddOperator(const char* signature, int index, ScriptOperatorFunction function,
                                  int32_t kind) {
    ScriptOperatorRecord record;
    if (index < 0 || !ParseOperatorSignature(signature, record)) {
        return false;
    }
    record.signature = signature;
    record.kind = kind;
    record.function = function;
    if (static_cast<size_t>(index) >= operators_.size()) {
        operators_.resize(static_cast<size_t>(index) + 1);
    }
    operators_[static_cast<size_t>(index)] = std::move(record);
    ++detail::scriptValueTypeGeneration;
    return true;
}

ScriptValueType* CreateValueType(const char* name, int32_t wordCount, int32_t typeId) {
    if (typeId < 0 || !name) {
        return nullptr;
    }
    auto& types = ValueTypes();
    if (static_cast<size_t>(typeId) >= types.size()) {
        types.resize(static_cast<size_t>(typeId) + 1);
    }
    types[static_cast<size_t>(typeId)] = std::make_unique<ScriptValueType>(name, wordCount);
    ++detail::scriptValueTypeGeneration;
    return types[static_cast<size_t>(typeId)].get();
}

ScriptValueType* GetScriptValueType(int32_t typeId) {
    auto& types = ValueTypes();
    if (typeId < 0 || static_cast<size_t>(typeId) >= types.size()) {
        return nullptr;
    }
    return types[static_cast<size_t>(typeId)].get();
}

int GetScriptValueTypeCount() {
    return static_cast<int>(ValueTypes().size());
}

int32_t FindValueType(const char* name) {
    auto& types = ValueTypes();
    for (size_t id = 0; name && id < types.size(); ++id) {
        if (types[id] && std::strcmp(types[id]->GetName(), name) == 0) {
            return static_cast<int32_t>(id);
        }
    }
    return -1;
}

void DeleteAllValueTypes() {
    ValueTypes().clear();
    ++detail::scriptValueTypeGeneration;
}

TokenTable& GetScriptKeywordTable() {
    std::unique_ptr<TokenTable>& table = KeywordTable();
    if (!table) {
        table = std::make_unique<TokenTable>();
        table->SetDelimiters(" \t\r");
        for (const Keyword& keyword : FixedKeywords) {
            table->Add(keyword.id, keyword.text);
        }
    }
    return *table;
}

void AddScriptClassKeywords() {
    TokenTable& table = GetScriptKeywordTable();
    for (int index = 0; index < GetScriptClassCount(); ++index) {
        if (const ScriptClass* scriptClass = GetScriptClass(index)) {
            table.Add(ClassNameTokenBase + index, scriptClass->GetName());
        }
    }
}

void AddValueTypeKeywords() {
    TokenTable& table = GetScriptKeywordTable();
    for (int id = 0; id < GetScriptValueTypeCount(); ++id) {
        if (const ScriptValueType* type = GetScriptValueType(id)) {
            table.Add(TypeNameTokenBase + id, type->GetName());
        }
    }
}

void ResetScriptKeywordTable() {
    KeywordTable().reset();
}

bool ParseOperatorSignature(const char* text, ScriptOperatorRecord& record) {
    if (!text) {
        return false;
    }
    MemoryFile file(std::vector<uint8_t>(text, text + std::strlen(text)));
    Tokenizer tokenizer(&GetScriptKeywordTable());
    const int32_t first = tokenizer.Next(file);
    if (!IsOperatorToken(first) && !IsNameToken(first) &&
        !(first > 0 && first < 256 && std::strchr("*+-/&|%^<>!~=", first))) {
        return false;
    }
    record.name = tokenizer.GetText();
    record.parameterCount = 0;
    record.argumentWords = 0;
    record.resultType = 0;
    if (tokenizer.Next(file) != '(') {
        return false;
    }
    int32_t token = tokenizer.Next(file);
    while (token != ')') {
        const int32_t type = TypeOfToken(tokenizer);
        if (type < 0 || record.parameterCount >= ScriptOperatorRecord::MaxParameters) {
            return false;
        }
        record.parameterTypes[record.parameterCount++] = type;
        record.argumentWords += GetScriptValueType(type)->GetWordCount();
        token = tokenizer.Next(file);
        if (token == ',') {
            token = tokenizer.Next(file);
            if (token == ')') {
                return false;
            }
        } else if (token != ')') {
            return false;
        }
    }
    token = tokenizer.Next(file);
    if (token == ':') {
        tokenizer.Next(file);
        const int32_t type = TypeOfToken(tokenizer);
        if (type < 0) {
            return false;
        }
        record.resultType = type;
        token = tokenizer.Next(file);
    }
    return token == TokenEnd;
}

} // namespace quarn
