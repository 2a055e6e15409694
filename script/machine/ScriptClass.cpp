#include "script/machine/ScriptClass.h"

#include "core/object/ValueType.h"
#include "core/string/Text.h"

#include <cstring>

namespace quarn {

namespace {

// The indexes of "Script" and "Node" in the list.
struct ScriptClassIndexes {
    int scriptIndex = -1;
    int nodeIndex = -1;
};

ScriptClassIndexes& TheIndexes() {
    static ScriptClassIndexes indexes;
    return indexes;
}

template <class Record>
Record* RecordAt(std::vector<Record>& records, int index) {
    if (index < 0) {
        return nullptr;
    }
    if (static_cast<size_t>(index) >= records.size()) {
        records.resize(static_cast<size_t>(index) + 1);
    }
    return &records[static_cast<size_t>(index)];
}

} // namespace

bool ScriptMethodRecord::AddParameter(int32_t type) {
    if (parameterCount >= MaxParameters) {
        return false;
    }
    parameterTypes[parameterCount++] = type;
    argumentWords += GetTypeWordCount(type);
    return true;
}

ScriptClass* ScriptClass::Create(const char* name, int index) {
    if (index < 0) {
        return nullptr;
    }
    auto& classes = detail::scriptClasses;
    if (static_cast<size_t>(index) >= classes.size()) {
        classes.resize(static_cast<size_t>(index) + 1);
    }
    classes[static_cast<size_t>(index)] = std::make_unique<ScriptClass>(name, index);
    if (name && std::strcmp(name, "Script") == 0) {
        TheIndexes().scriptIndex = index;
    } else if (name && std::strcmp(name, "Node") == 0) {
        TheIndexes().nodeIndex = index;
    }
    return classes[static_cast<size_t>(index)].get();
}

void ScriptClass::Clear() {
    properties_.clear();
    methods_.clear();
    Invalidate();
}

void ScriptClass::SetName(const char* name) {
    name_ = name ? name : "";
    Invalidate();
}

ScriptPropertyRecord* ScriptClass::AddProperty(const char* name, int index, int32_t type) {
    ScriptPropertyRecord* record = RecordAt(properties_, index);
    if (record) {
        *record = ScriptPropertyRecord{name ? name : "", "", type};
        Invalidate();
    }
    return record;
}

ScriptMethodRecord* ScriptClass::AddMethod(const char* name, int index, int32_t resultType) {
    ScriptMethodRecord* record = RecordAt(methods_, index);
    if (record) {
        *record = ScriptMethodRecord{};
        record->name = name ? name : "";
        record->resultType = resultType;
        Invalidate();
    }
    return record;
}

int ScriptClass::AppendProperty(const char* name, int32_t type) {
    const int index = static_cast<int>(properties_.size());
    AddProperty(name, index, type);
    return index;
}

int ScriptClass::AppendMethod(const char* name, int32_t resultType) {
    const int index = static_cast<int>(methods_.size());
    AddMethod(name, index, resultType);
    return index;
}

uint32_t ScriptClass::ComputeNameHash() const {
    nameHash_ = StringWordSum(name_.c_str());
    hashComputed_ = true;
    return nameHash_;
}

int GetScriptClassCount() {
    return static_cast<int>(detail::scriptClasses.size());
}

void DeleteScriptClass(int index) {
    auto& classes = detail::scriptClasses;
    if (index >= 0 && static_cast<size_t>(index) < classes.size()) {
        classes[static_cast<size_t>(index)].reset();
    }
    // Programs come and go at the end of the list; their gaps there need no slot.
    while (!classes.empty() && !classes.back()) {
        classes.pop_back();
    }
}

void DeleteAllScriptClasses() {
    detail::scriptClasses.clear();
    TheIndexes() = {};
}

int GetScriptNodeClassIndex() {
    return TheIndexes().scriptIndex;
}

int GetNodeClassIndex() {
    return TheIndexes().nodeIndex;
}

ScriptClass& GetGlobalsScriptClass() {
    static ScriptClass globals("globals", 1);
    return globals;
}

bool IsScriptClassType(int32_t type) {
    return type >= ScriptClass::TypeBase &&
           static_cast<int64_t>(type) - ScriptClass::TypeBase < GetScriptClassCount();
}

} // namespace quarn
