#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quarn {

// The script-side description of one class a compiled script can name: the engine's registered
// classes and every loaded program. Scripts name a class by its index (type id 0x10000 +
// index) and guard external calls with the hash of its name.
struct ScriptPropertyRecord {
    std::string name;
    std::string hint;
    int32_t type = 0;
};

struct ScriptMethodRecord {
    // A method record holds no more parameters than this.
    static constexpr int MaxParameters = 16;

    // Appends a parameter and adds its word size to the argument words; false for one past
    // MaxParameters, which is left out.
    bool AddParameter(int32_t type);

    uint32_t codeOffset = 0; // a program's function: where its code starts, in words
    std::string name;
    int32_t resultType = 0;
    int32_t parameterCount = 0;
    int32_t parameterTypes[MaxParameters] = {};
    int32_t argumentWords = 0;
    bool stateFunction = false;
    uint32_t flags = 0;
};

class ScriptClass {
public:
    // Type ids of class references start here: 0x10000 + index.
    static constexpr int32_t TypeBase = 0x10000;

    // Makes the object and stores it at `index` in the list of script classes, which grows with
    // empty slots (an earlier object there is deleted). "Script" and "Node" also record their
    // index.
    static ScriptClass* Create(const char* name, int index);

    ScriptClass(const char* name, int index) : name_(name ? name : ""), index_(index) {}

    void Clear();
    void SetName(const char* name);
    // Records at an index, the list growing with empty records; null for a negative index.
    ScriptPropertyRecord* AddProperty(const char* name, int index, int32_t type);
    ScriptMethodRecord* AddMethod(const char* name, int index, int32_t resultType);
    int AppendProperty(const char* name, int32_t type);
    int AppendMethod(const char* name, int32_t resultType);

    // StringWordSum of the name, computed once per name and set of records. Inline: every
    // external call checks it.
    uint32_t GetNameHash() const { return hashComputed_ ? nameHash_ : ComputeNameHash(); }

    const char* GetName() const { return name_.c_str(); }
    int GetIndex() const { return index_; }
    int32_t GetTypeId() const { return TypeBase + index_; }
    std::vector<ScriptPropertyRecord>& Properties() { return properties_; }
    const std::vector<ScriptPropertyRecord>& Properties() const { return properties_; }
    std::vector<ScriptMethodRecord>& Methods() { return methods_; }
    const std::vector<ScriptMethodRecord>& Methods() const { return methods_; }

private:
    void Invalidate() { hashComputed_ = false; }
    uint32_t ComputeNameHash() const;

    std::string name_;
    int index_;
    mutable uint32_t nameHash_ = 0;
    mutable bool hashComputed_ = false;
    std::vector<ScriptPropertyRecord> properties_;
    std::vector<ScriptMethodRecord> methods_;
};

namespace detail {
// Constant-initialised, so it outlives every program that deletes its entry at exit.
inline std::vector<std::unique_ptr<ScriptClass>> scriptClasses;
} // namespace detail

// The list of script classes by index; null for a gap or an index out of range. Inline: every
// external call looks its program's class up.
int GetScriptClassCount();
inline ScriptClass* GetScriptClass(int index) {
    return index >= 0 && size_t(index) < detail::scriptClasses.size()
               ? detail::scriptClasses[size_t(index)].get()
               : nullptr;
}
// Deletes the object at that index, leaving a gap (a program that goes away); gaps at the end
// of the list are dropped.
void DeleteScriptClass(int index);
void DeleteAllScriptClasses();
// -1 until a script class of that name is created.
int GetScriptNodeClassIndex();
int GetNodeClassIndex();

// The engine's free functions as method records. Its index field says 1, but it stands outside
// the list, whose index 1 is an engine class.
ScriptClass& GetGlobalsScriptClass();

// Whether a type id names a class of the list: 0x10000 <= id < 0x10000 + GetScriptClassCount().
bool IsScriptClassType(int32_t type);

} // namespace quarn
