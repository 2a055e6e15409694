#include "tools/ScriptReference.h"

#include "app/input/JoystickDevice.h"
#include "app/input/Keyboard.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/NamedConstants.h"
#include "core/object/Property.h"
#include "core/object/ValueType.h"
#include "core/string/Text.h"
#include "script/machine/ScriptCommands.h"
#include "script/machine/ScriptValueType.h"
#include "tools/ScriptReferenceGuide.h"
#include "tools/ScriptReferenceNotes.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <set>

namespace quarn {

namespace {

// Generated names are three lower-case letters, handed out in registration order, so their
// byte order is the order they were made in; fixed names ("play", "loaded") are longer.
bool IsGeneratedName(const std::string& name) {
    return name.size() == 3 &&
           std::all_of(name.begin(), name.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

// A table cell: a '|' would end it, a line break the row.
std::string Cell(std::string text) {
    std::string cell;
    for (char c : text) {
        if (c == '|') {
            cell += "\\|";
        } else {
            cell += c == '\n' ? ' ' : c;
        }
    }
    return cell;
}

std::string Code(const std::string& text) {
    return "`" + Cell(text) + "`";
}

// The anchor a Markdown viewer gives a class's heading.
std::string Anchor(const char* name) {
    std::string anchor = name;
    ToLowerAscii(anchor.data());
    return anchor;
}

// Whose named constants are whose: a class registers its constants right after its methods,
// so each generated constant belongs to the owner of the last generated method name before it.
struct ConstantOwners {
    std::map<std::string, std::string> ownerOfName; // generated method name -> class or ""
    std::map<std::string, std::vector<std::pair<std::string, int32_t>>> byOwner;

    // The owner's constants by value, the first name of each.
    std::map<int32_t, std::string> NamesByValue(const std::string& owner) const {
        std::map<int32_t, std::string> names;
        if (auto found = byOwner.find(owner); found != byOwner.end()) {
            for (const auto& [name, value] : found->second) {
                names.emplace(value, name);
            }
        }
        return names;
    }

    void Build() {
        for (int index = 0; index < GetClassCount(); ++index) {
            const ClassInfo* owner = GetClassByIndex(index);
            for (const auto& method : owner->GetOwnMethods()) {
                if (IsGeneratedName(method->GetName())) {
                    ownerOfName[method->GetName()] = owner->GetName();
                }
            }
        }
        for (int index = 0; index < GetRegisteredFunctionCount(); ++index) {
            ownerOfName[GetRegisteredFunction(index)->GetName()] = "";
        }
        for (const auto& [name, value] : NamedConstants()) {
            if (!IsGeneratedName(name)) {
                continue;
            }
            auto before = ownerOfName.lower_bound(name);
            if (before != ownerOfName.begin()) {
                byOwner[std::prev(before)->second].emplace_back(name, value);
            }
        }
    }
};

class ReferenceWriter {
public:
    ReferenceWriter(ScriptReferenceProblems& problems, std::span<const ScriptCallNote> methodNotes)
        : problems_(problems), methodNoteList_(methodNotes) {}

    std::string Write();

private:
    void IndexNotes();
    void CheckUnused();
    std::string Fill(const char* guide);
    void Commands();
    void ValueTypes();
    void Functions();
    void Classes();
    void Class(const ClassInfo& info);
    void Properties(const ClassInfo& info);
    void Methods(const ClassInfo& info);
    void Keys();
    void PadButtons();
    std::string PropertyValues(const Property& property) const;
    void CheckSignature(const std::string& key, const ScriptCallNote* note,
                        const MethodInfo& registered);

    ScriptReferenceProblems& problems_;
    std::span<const ScriptCallNote> methodNoteList_;
    std::string out_;
    ConstantOwners constants_;
    std::map<std::string, const ScriptNote*> classNotes_;
    std::map<std::string, const ScriptCallNote*> methodNotes_;
    std::map<std::string, const ScriptCallNote*> functionNotes_;
    std::map<std::string, std::string> methodByLabel_;   // "Class.Label" -> generated name
    std::map<std::string, std::string> functionByLabel_; // the engine's "Label" -> index
    std::set<std::string> used_;
};

void ReferenceWriter::IndexNotes() {
    for (const ScriptNote& note : GetClassNotes()) {
        classNotes_[note.key] = &note;
    }
    for (const ScriptCallNote& note : methodNoteList_) {
        methodNotes_[note.key] = &note;
        const std::string key = note.key;
        if (*note.label) {
            methodByLabel_[key.substr(0, key.find('.') + 1) + note.label] =
                key.substr(key.find('.') + 1);
        }
    }
    for (const ScriptCallNote& note : GetFunctionNotes()) {
        functionNotes_[note.key] = &note;
    }
    for (int index = 0; index < GetRegisteredFunctionCount(); ++index) {
        const MethodInfo& function = *GetRegisteredFunction(index);
        if (std::strcmp(function.GetLabel(), function.GetName()) != 0) {
            functionByLabel_[function.GetLabel()] = std::to_string(index);
        }
    }
}

// Notes that named nothing the registry holds: renamed, removed or mistyped.
void ReferenceWriter::CheckUnused() {
    const auto check = [this](const auto& notes, const std::string& usedPrefix) {
        for (const auto& [key, note] : notes) {
            if (!used_.contains(usedPrefix + key)) {
                problems_.errors.push_back("the note \"" + key + "\" names nothing registered");
            }
        }
    };
    check(classNotes_, "");
    check(methodNotes_, "");
    check(functionNotes_, "#");
}

// A note kept for a generated name that now stands for another method would describe that one.
void ReferenceWriter::CheckSignature(const std::string& key, const ScriptCallNote* note,
                                     const MethodInfo& registered) {
    if (note && registered.GetSignatureText() != std::string(note->signature)) {
        const char* label = *note->label ? note->label : registered.GetLabel();
        problems_.errors.push_back("the note \"" + key + "\" (" + label + ") describes " +
                                   note->signature + ", but " + key + " is " +
                                   registered.GetSignatureText());
    }
}

// Replaces "{m:Class.Label}" and "{f:Label}" by what the registry calls them now.
std::string ReferenceWriter::Fill(const char* guide) {
    std::string text = guide;
    for (size_t open = text.find('{'); open != std::string::npos; open = text.find('{', open)) {
        const size_t close = text.find('}', open);
        if (close == std::string::npos || text.compare(open + 2, 1, ":") != 0 ||
            (text[open + 1] != 'm' && text[open + 1] != 'f')) {
            ++open;
            continue;
        }
        const std::string key = text.substr(open + 3, close - open - 3);
        const auto& names = text[open + 1] == 'm' ? methodByLabel_ : functionByLabel_;
        auto found = names.find(key);
        std::string name = found != names.end() ? found->second : "?";
        if (found == names.end()) {
            problems_.errors.push_back("the guide names \"" + key + "\", which no note labels");
        }
        text.replace(open, close + 1 - open, name);
        open += name.size();
    }
    return text;
}

void ReferenceWriter::Commands() {
    out_ += "## Commands\n\n" + Fill(ScriptCommandsGuide) +
            "\n| # | Command | Operands | Stack before -> after | What it does | Also raises |\n"
            "|---|---|---|---|---|---|\n";
    std::map<std::string, const ScriptCommandNote*> notes;
    for (const ScriptCommandNote& note : GetCommandNotes()) {
        notes[note.mnemonic] = &note;
    }
    for (uint32_t command = 0; command < script_command::Count; ++command) {
        const std::string mnemonic = script_command::Mnemonics[command];
        auto found = notes.find(mnemonic);
        if (found == notes.end()) {
            problems_.warnings.push_back("the command \"" + mnemonic + "\" has no note");
            out_ += StringFormat("| %u | `%s` | | | | |\n", command, mnemonic.c_str());
            continue;
        }
        const ScriptCommandNote& note = *found->second;
        notes.erase(found);
        out_ += StringFormat("| %u | `%s` | %s | %s | %s | %s |\n", command, mnemonic.c_str(),
                             note.operands, note.stack, note.text, note.errors);
    }
    for (const auto& [mnemonic, note] : notes) {
        problems_.errors.push_back("the command note \"" + mnemonic + "\" names no command");
    }
    out_ += "\n";
}

void ReferenceWriter::ValueTypes() {
    out_ += "## Value types and operators\n\n" + Fill(ScriptValueTypesGuide) +
            "\n| Type | Id | Words | Components |\n|---|---|---|---|\n";
    for (int id = 0; id < GetScriptValueTypeCount(); ++id) {
        if (const ScriptValueType* type = GetScriptValueType(id)) {
            std::string components;
            for (const ScriptComponent& component : type->Components()) {
                components += (components.empty() ? "`" : ", `") + component.name + "` (" +
                              GetTypeName(component.type) + ")";
            }
            out_ += StringFormat("| `%s` | %d | %d | %s |\n", type->GetName(), id,
                                 type->GetWordCount(), components.c_str());
        }
    }
    for (int id = 0; id < GetScriptValueTypeCount(); ++id) {
        const ScriptValueType* type = GetScriptValueType(id);
        if (!type || type->GetOperatorCount() == 0) {
            continue;
        }
        out_ += StringFormat("\n### %s\n\n| Entry | `op` word | Kind | Signature |\n"
                             "|---|---|---|---|\n",
                             type->GetName());
        for (int index = 0; index < type->GetOperatorCount(); ++index) {
            const ScriptOperatorRecord* entry = type->GetOperator(index);
            out_ += StringFormat("| %d | 0x%X | %d | %s |\n", index,
                                 static_cast<uint32_t>(id) << 16 | static_cast<uint32_t>(index),
                                 entry->kind, Code(entry->signature).c_str());
        }
    }
    out_ += "\n";
}

void ReferenceWriter::Functions() {
    out_ += "## Engine functions\n\n"
            "`func N` calls engine function N: its arguments are pushed first, in order, and "
            "its result (nothing for a function without one) takes their place. The name is "
            "the one the engine generates for it; the label is only a reading aid.\n\n"
            "| # | Name | Label | Signature | What it does |\n|---|---|---|---|---|\n";
    for (int index = 0; index < GetRegisteredFunctionCount(); ++index) {
        const MethodInfo& function = *GetRegisteredFunction(index);
        const std::string key = std::to_string(index);
        auto found = functionNotes_.find(key);
        used_.insert("#" + key);
        if (found == functionNotes_.end()) {
            problems_.warnings.push_back("the engine function " + key + " (" +
                                         function.GetName() + ") has no note");
        }
        const ScriptCallNote* note = found != functionNotes_.end() ? found->second : nullptr;
        CheckSignature(key, note, function);
        const bool labelled = std::strcmp(function.GetLabel(), function.GetName()) != 0;
        out_ += StringFormat("| %d | `%s` | %s | %s | %s |\n", index, function.GetName(),
                             labelled ? function.GetLabel() : "",
                             Code(function.GetSignatureText()).c_str(), note ? note->text : "");
    }
    const auto& library = constants_.byOwner[""];
    if (!library.empty()) {
        out_ += "\nThe library also names the constant";
        for (const auto& [name, value] : library) {
            out_ += StringFormat(" `%s` = %d", name.c_str(), value);
        }
        out_ += ".\n";
    }
    out_ += "\n";
}

std::string ReferenceWriter::PropertyValues(const Property& property) const {
    std::string range = property.GetRange();
    const std::string kind = GetPropertyKindName(property.GetKind());
    for (const char* prefix : {"bitfield:", "enum:"}) {
        if (range.starts_with(prefix)) {
            range.erase(0, std::strlen(prefix));
        }
    }
    const bool bits = kind == "BITFIELD";
    if (!bits && kind != "ENUM" && std::string(property.GetRange()).rfind("enum:", 0) != 0) {
        return range.empty() ? "" : Code(range);
    }
    std::string values;
    int64_t value = bits ? 1 : 0;
    for (size_t start = 0; start <= range.size();) {
        const size_t comma = std::min(range.find(',', start), range.size());
        values += (values.empty() ? "" : ", ") + Code(range.substr(start, comma - start)) + " " +
                  std::to_string(value);
        value = bits ? value * 2 : value + 1;
        start = comma + 1;
    }
    return values;
}

void ReferenceWriter::Properties(const ClassInfo& info) {
    const auto& own = info.GetOwnProperties();
    if (own.empty()) {
        return;
    }
    out_ += "\n| # | Property | Type | Values |\n|---|---|---|---|\n";
    const int first = info.GetPropertyCount() - static_cast<int>(own.size());
    for (size_t i = 0; i < own.size(); ++i) {
        const Property& property = *own[i];
        out_ += StringFormat("| %d | `%s` | %s | %s |\n", first + static_cast<int>(i),
                             property.GetName(), GetTypeName(property.GetValueType()),
                             PropertyValues(property).c_str());
    }
}

void ReferenceWriter::Methods(const ClassInfo& info) {
    const auto& own = info.GetOwnMethods();
    if (own.empty()) {
        return;
    }
    out_ += "\n| # | Method | Label | Signature | Use | What it does |\n"
            "|---|---|---|---|---|---|\n";
    const int first = info.GetMethodCount() - static_cast<int>(own.size());
    for (size_t i = 0; i < own.size(); ++i) {
        const MethodInfo& method = *own[i];
        const std::string key = std::string(info.GetName()) + "." + method.GetName();
        used_.insert(key);
        auto found = methodNotes_.find(key);
        if (found == methodNotes_.end()) {
            problems_.warnings.push_back("the method " + key + " " + method.GetSignatureText() +
                                         " has no note");
        }
        const uint32_t flags = method.GetCallFlags();
        std::string use;
        for (const auto& [bit, word] : {std::pair{uint32_t(MethodScriptCallable), "script"},
                                        std::pair{uint32_t(MethodNoResult), "editor"},
                                        std::pair{uint32_t(MethodSignalHandler), "signal"}}) {
            if (flags & bit) {
                use += (use.empty() ? "" : ", ") + std::string(word);
            }
        }
        const ScriptCallNote* note = found != methodNotes_.end() ? found->second : nullptr;
        CheckSignature(key, note, method);
        out_ += StringFormat("| %d | `%s` | %s | %s | %s | %s |\n", first + static_cast<int>(i),
                             method.GetName(), note ? note->label : "",
                             Code(method.GetSignatureText()).c_str(), use.c_str(),
                             note ? note->text : "");
    }
}

void ReferenceWriter::Class(const ClassInfo& info) {
    const std::string name = info.GetName();
    used_.insert(name);
    const ClassInfo* base = info.GetParent();
    const char* category = info.GetCategory();
    out_ += StringFormat("\n### %s\n\nClass %d", name.c_str(), info.GetClassNumber());
    if (base) {
        out_ += StringFormat(", base [%s](#%s)", base->GetName(), Anchor(base->GetName()).c_str());
    }
    if (*category) {
        out_ += StringFormat(", category %s", category);
    }
    out_ += info.IsAbstract() ? " (abstract: no node is made of it).\n" : ".\n";
    auto found = classNotes_.find(name);
    if (found == classNotes_.end()) {
        problems_.warnings.push_back("the class " + name + " has no note");
    } else {
        out_ += std::string("\n") + found->second->text + "\n";
    }
    Properties(info);
    Methods(info);
    const auto& constants = constants_.byOwner[name];
    if (!constants.empty()) {
        out_ += "\nNamed constants:";
        for (size_t i = 0; i < constants.size(); ++i) {
            out_ += StringFormat("%s `%s` = %d", i ? "," : "", constants[i].first.c_str(),
                                 constants[i].second);
        }
        out_ += ".\n";
    }
}

void ReferenceWriter::Classes() {
    out_ += "## Script classes\n\n" + Fill(ScriptClassesGuide) + "\n";
    std::map<std::string, std::vector<std::string>> byCategory;
    for (int index = 0; index < GetClassCount(); ++index) {
        const ClassInfo* info = GetClassByIndex(index);
        byCategory[*info->GetCategory() ? info->GetCategory() : "(none)"].push_back(
            info->GetName());
    }
    for (const auto& [category, names] : byCategory) {
        out_ += "- " + category + ":";
        for (size_t i = 0; i < names.size(); ++i) {
            out_ += StringFormat("%s [%s](#%s)", i ? "," : "", names[i].c_str(),
                                 Anchor(names[i].c_str()).c_str());
        }
        out_ += "\n";
    }
    for (int index = 0; index < GetClassCount(); ++index) {
        Class(*GetClassByIndex(index));
    }
    out_ += "\n";
}

void ReferenceWriter::Keys() {
    out_ += "## Keys\n\n"
            "The engine's key codes, as the `KeyboardInterface` methods take them, an "
            "`InputCode`'s `keycode` holds them and `QUARN_INPUT` scripts name them; the last "
            "column is the `KeyboardInterface` constant of each. Codes 71 to 74 stand for "
            "either key of a pair; 75 is no key.\n\n"
            "| Code | Key | Constant |\n|---|---|---|\n";
    const std::map<int32_t, std::string> constantOf = constants_.NamesByValue("KeyboardInterface");
    for (int32_t code = 0; code <= KeyCount; ++code) {
        const std::string key = code == KeyCount ? "(none)" : GetKeyName(code);
        const auto constant = constantOf.find(code);
        out_ += StringFormat("| %d | %s | %s |\n", code, Cell(key).c_str(),
                             constant != constantOf.end() ? Code(constant->second).c_str() : "");
    }
}

void ReferenceWriter::PadButtons() {
    out_ += "\n## Pad buttons\n\n"
            "The joystick's buttons, as the `Joystick` methods take them and its constants name "
            "them. Each direction of a stick or the d-pad and each trigger is a button of its "
            "own, with a value from 0 to 1, down past 0.3. A pad SDL knows is read by its "
            "controller layout, as the third column says (the names of 16 and 20, which "
            "`GetButtonName` gives, are those of the shoulder buttons); another by its own "
            "numbers: its buttons 0 to 7 as A, B, X, Y, the left and right shoulder, Back and "
            "Start, its axes 0 and 1 as the left stick, 2 and 3 the right stick, 4 and 5 the "
            "left and right trigger, its first hat as the d-pad. The two triggers share one "
            "axis, as such a pad reports them: held together they cancel. Only a pad whose name "
            "holds \"360\" reports any button. 29 is no button.\n\n"
            "| Button | Name | On the pad | Constant |\n|---|---|---|---|\n";
    const std::map<int32_t, std::string> constantOf = constants_.NamesByValue("Joystick");
    const std::span<const char* const> notes = GetPadButtonNotes();
    if (notes.size() != PadButtonCount) {
        problems_.errors.push_back("the pad button notes number " + std::to_string(notes.size()) +
                                   ", the pad has " + std::to_string(PadButtonCount) + " buttons");
    }
    for (int32_t button = 0; button <= PadButtonNone; ++button) {
        const bool none = button == PadButtonNone;
        if (button == PadButtonCount) {
            continue; // no button has the number between the last and none
        }
        const auto constant = constantOf.find(button);
        const auto index = static_cast<size_t>(button);
        out_ += StringFormat("| %d | %s | %s | %s |\n", button,
                             none ? "" : Cell(GetPadButtonName(button)).c_str(),
                             none                   ? "(none)"
                             : index < notes.size() ? notes[index]
                                                    : "",
                             constant != constantOf.end() ? Code(constant->second).c_str() : "");
    }
}

std::string ReferenceWriter::Write() {
    IndexNotes();
    constants_.Build();
    out_ = "# Script reference\n\n"
           "What scripts can name, as `quarn-tool script reference` prints it from what the "
           "engine registers. `docs/scripting.md` is a copy that a test keeps equal to the "
           "tool's output: after a change to the engine's classes, functions or value types, "
           "write it again with `quarn-tool script reference > docs/scripting.md`.\n\n"
           "[Scripts in a scene](#scripts-in-a-scene) · "
           "[The assembler's text form](#the-assemblers-text-form) · "
           "[Commands](#commands) · [Value types and operators](#value-types-and-operators) · "
           "[Finding and talking to other nodes](#finding-and-talking-to-other-nodes) · "
           "[Hearing collisions](#hearing-collisions) · "
           "[Engine functions](#engine-functions) · [Script classes](#script-classes) · "
           "[Keys](#keys) · [Pad buttons](#pad-buttons)\n\n";
    out_ += "## Scripts in a scene\n\n" + Fill(ScriptRunCycleGuide) + "\n";
    out_ += "## The assembler's text form\n\n" + Fill(ScriptAssemblerGuide) + "\n";
    Commands();
    ValueTypes();
    out_ += "## Finding and talking to other nodes\n\n" + Fill(ScriptOtherNodesGuide) + "\n";
    out_ += "## Hearing collisions\n\n" + Fill(ScriptCollisionsGuide) + "\n";
    Functions();
    Classes();
    Keys();
    PadButtons();
    CheckUnused();
    return out_;
}

} // namespace

std::string WriteScriptReference(ScriptReferenceProblems& problems,
                                 std::span<const ScriptCallNote> methodNotes) {
    return ReferenceWriter(problems, methodNotes).Write();
}

} // namespace quarn
