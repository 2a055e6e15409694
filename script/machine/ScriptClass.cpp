#include "script/machine/ScriptClass.h"

#include "core/object/ValueType.h"
#include "core/string/Text.h"

#include <cstring>

namespace quarn {

namespace {

struct ScriptClassList {
    std::vector<std::unique_ptr<ScriptClass>> classes;
    int scriptIndex = -1;
    int nodeIndex = -1;
};

ScriptClassList& TheList() {
    static ScriptClassList list;
    return list;
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
    ScriptClassList& list = TheList();
    if (static_cast<size_t>(index) >= list.classes.size()) {
        list.classes.resize(static_cast<size_t>(index) + 1);
    }
    list.classes[static_cast<size_t>(index)] = std::make_unique<ScriptClass>(name, index);
    if (name && std::strcmp(name, "Script") == 0) {
        list.scriptIndex = index;
    } else if (name && std::strcmp(name, "Node") == 0) {
        list.nodeIndex = index;
    }
    return list.classes[static_cast<size_t>(index)].get();
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

uint32_t ScriptClass::GetNameHash() const {
    if (!hashComputed_) {
        nameHash_ = StringWordSum(name_.c_str());
        hashComputed_ = true;
    }
    return nameHash_;
}

int GetScriptClassCount() {
    return static_cast<int>(TheList().classes.size());
}

ScriptClass* GetScriptClass(int index) {
    ScriptClassList& list = TheList();
    if (index < 0 || static_cast<size_t>(index) >= list.classes.size()) {
        return nullptr;
    }
    return list.classes[static_cast<size_t>(index)].get();
}

void DeleteScriptClass(int index) {
    ScriptClassList& list = TheList();
    if (index >= 0 && static_cast<size_t>(index) < list.classes.size()) {
        list.classes[static_cast<size_t>(index)].reset();
    }
    // Programs come and go at the end of the list; their gaps there need no slot.
    while (!list.classes.empty() && !list.classes.back()) {
        list.classes.pop_back();
    }
}

void DeleteAllScriptClasses() {
    ScriptClassList& list = TheList();
    list.classes.clear();
    list.scriptIndex = -1;
    list.nodeIndex = -1;
}

int GetScriptNodeClassIndex() {
    return TheList().scriptIndex;
}

int GetNodeClassIndex() {
    return TheList().nodeIndex;
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
