#include "tools/ScriptTypeCheck.h"

#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/Property.h"
#include "core/object/ValueType.h"
#include "script/machine/ScriptCommands.h"
#include "script/machine/ScriptValueType.h"
#include "tools/ScriptReferenceNotes.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <span>
#include <unordered_map>

namespace quarn {

namespace {

using namespace script_command;

constexpr int32_t Unknown = -1;
// Deeper stacks are not followed: every branch copies and compares the whole stack.
constexpr size_t MaxFollowedDepth = 1024;
// A branch target whose types changed this often takes its words as unknown, so loops settle
// after a few passes.
constexpr int MaxTypeChanges = 2;

// What is known of one word on the stack.
struct Slot {
    int32_t value = Unknown; // the value type the word belongs to
    int32_t word = Unknown;  // the word's own type: a vector's component type, else the value's
    int32_t part = 0;        // its place in a value whose words differ (string64)
    bool constant = false;   // a literal: `number` holds it
    uint32_t number = 0;
    const ClassInfo* member = nullptr; // the class a prop: or method: literal named
    int64_t element = -1; // an element address of the array variable at this offset

    bool operator==(const Slot&) const = default;
};
using Slots = std::vector<Slot>;

struct State {
    bool followed = true; // false where paths of different depths or functions met
    int function = -1;    // the global record of the function the code runs in
    Slots stack;          // from the function's first argument word up

    bool operator==(const State&) const = default;
};

int32_t Normal(int32_t type) {
    return type == TypeString64Alias ? TypeString64 : type;
}

bool IsIntLike(int32_t type) {
    return type == TypeInt || type == TypeBool || type == TypeChar;
}

bool IsReference(int32_t type) {
    return type == TypeEntity || IsClassType(type);
}

// An entity of one class may hold an object of the other.
bool Related(int32_t a, int32_t b) {
    const ClassInfo* first = ClassOfType(a);
    const ClassInfo* second = ClassOfType(b);
    return !first || !second || first->IsDerivedFrom(second) || second->IsDerivedFrom(first);
}

// The words of a value of the type; none for a type of no known size.
void AppendValue(Slots& out, int32_t type) {
    type = Normal(type);
    const int32_t words = GetTypeWordCount(type);
    const int32_t scalar = GetTypeScalarKind(type);
    for (int32_t i = 0; i < words; ++i) {
        Slot slot;
        slot.value = type;
        slot.word = words == 1 ? type : scalar == 1 ? TypeInt : scalar == 2 ? TypeFloat : type;
        slot.part = i;
        out.push_back(slot);
    }
}

Slots ValueSlots(int32_t type) {
    Slots slots;
    AppendValue(slots, type);
    return slots;
}

Slots ArgumentSlots(const ScriptIdentifier& function) {
    Slots slots;
    for (int32_t type : function.parameterTypes) {
        AppendValue(slots, type);
    }
    return slots;
}

Slot OneWord(int32_t type) {
    Slot slot;
    slot.value = type;
    slot.word = type;
    return slot;
}

bool Fits(const Slot& given, const Slot& expected) {
    if (given.word == Unknown || expected.word == Unknown) {
        return true;
    }
    if (IsIntLike(given.word) && IsIntLike(expected.word)) {
        return true;
    }
    if (IsReference(expected.word)) {
        if (given.constant && given.number == 0 && IsIntLike(given.word)) {
            return true; // none
        }
        return IsReference(given.word) && Related(given.word, expected.word);
    }
    // A word of a vector is a value of its component, wherever it lies in the vector; the
    // words of a string64 must line up.
    return given.word == expected.word &&
           (expected.word != expected.value || GetTypeWordCount(expected.value) == 1 ||
            given.part == expected.part);
}

const char* TypeName(int32_t type) {
    return type == Unknown ? "unknown" : GetTypeName(type);
}

// Whose words a report names: what a command expects is named by the type each word must
// have, what it was given also by the value the word came from.
enum class Side { Expected, Given };

// The type the words show: one whole value's, else that of the word at `at`, which a word of a
// larger value tells: "one word of float3", "word 2 of string64" (words count from 0, as
// offsets do).
std::string NameOf(std::span<const Slot> slots, size_t at, Side side) {
    const int32_t value = slots[0].value;
    bool whole = value != Unknown && GetTypeWordCount(value) == static_cast<int32_t>(slots.size());
    for (size_t i = 0; whole && i < slots.size(); ++i) {
        whole = slots[i].value == value && (slots[i].word != value || slots[i].part == int32_t(i));
    }
    if (whole) {
        return TypeName(value);
    }
    const Slot& slot = slots[at];
    if (slot.value == Unknown || GetTypeWordCount(slot.value) <= 1) {
        return TypeName(slot.word);
    }
    if (slot.word == slot.value) {
        return "word " + std::to_string(slot.part) + " of " + TypeName(slot.value);
    }
    return side == Side::Given ? std::string("one word of ") + TypeName(slot.value)
                               : TypeName(slot.word);
}

// The words of a value of the type held by a variable: its own, or its elements'.
int32_t HeldType(const ScriptIdentifier& record) {
    return record.type == TypeArray ? record.elementType : record.type;
}

// A word of a variable or local of `held` words named `name`, at `place` in it, counted from 0.
std::string WordName(const std::string& name, uint64_t place, uint64_t held) {
    return held <= 1 ? name : "word " + std::to_string(place % held) + " of " + name;
}

// The class whose own list holds member `index` of the chain of `named`: the chain of every class
// below it counts the member at the same number.
const ClassInfo* ListingClass(const ClassInfo& named, int index, bool property) {
    const ClassInfo* listing = &named;
    for (const ClassInfo* above = named.GetParent(); above; above = above->GetParent()) {
        const int inherited = property ? above->GetPropertyCount() : above->GetMethodCount();
        if (index >= inherited) {
            break;
        }
        listing = above;
    }
    return listing;
}

// The readable label the reference gives a generated method name.
const char* NoteLabel(const std::string& key) {
    static const std::unordered_map<std::string, const char*> labels = [] {
        std::unordered_map<std::string, const char*> map;
        for (const ScriptCallNote& note : GetMethodNotes()) {
            map.emplace(note.key, note.label);
        }
        return map;
    }();
    auto found = labels.find(key);
    return found != labels.end() && *found->second ? found->second : nullptr;
}

std::string Labelled(const std::string& text, const std::string& key) {
    const char* label = NoteLabel(key);
    return label ? text + " (" + label + ")" : text;
}

class Checker {
public:
    Checker(const ScriptCode& code, const ScriptSymbols& symbols, const ScriptCheckHints& hints);

    bool Run(std::string& error);
    // The class each getprop, setprop and method command's id was checked against, by the
    // command's offset; none for a command whose paths checked it against different classes,
    // or not at all.
    std::vector<ScriptMemberClass> MemberClasses() const;

private:
    struct Target {
        bool reached = false;
        int changes = 0;
        State state;
    };
    struct Variable {
        uint32_t offset;
        uint64_t words;
        const ScriptIdentifier* record;
    };

    // The offset after the command at `offset`; 0 for a word that is no command, or a command
    // cut short by the end of the code.
    uint32_t NextCommand(uint32_t offset) const;
    void CollectJumpTargets();
    void Merge(uint32_t offset, const State& incoming);
    void Walk(uint32_t start, State state);
    // Runs the command at `offset` on the state; false when the path ends there.
    bool Step(uint32_t offset, uint32_t next, State& state);

    // Every port function takes what an event on its port passes, or the first words of it.
    void CheckPorts();
    // `line`, when not 0, is the text line to name instead of the line of the command at at_.
    bool Fail(const std::string& reason, uint32_t line = 0);
    bool Need(const State& state, uint64_t words);
    Slots PopWords(State& state, uint32_t words);
    Slot Pop(State& state);
    // Checks given words against the words expected of them; `what` names them for the report.
    bool Expect(std::span<const Slot> given, std::span<const Slot> expected,
                const std::string& what);
    // Checks a value stored into part of a variable or local word by word, each named by its
    // place: word `place` + i of `held`-word values named `name`.
    bool ExpectEachWord(std::span<const Slot> given, std::span<const Slot> expected,
                        const std::string& name, uint64_t place, uint64_t held);
    bool ExpectType(std::span<const Slot> given, int32_t type, const std::string& what);
    bool ExpectOne(const Slot& given, int32_t type, const std::string& what) {
        return ExpectType(std::span<const Slot>(&given, 1), type, what);
    }
    // Checks a call's arguments, which lie in `given` one value after the other.
    bool ExpectArguments(std::span<const Slot> given, std::span<const int32_t> types,
                         const std::string& call);
    void PushResult(State& state, int32_t type, uint32_t words);

    const ScriptIdentifier* FunctionAt(uint32_t offset) const;
    const Variable* VariableAt(uint32_t offset) const;
    Slot VariableWord(uint32_t offset) const;
    const ScriptIdentifier* DeclaredLocal(int32_t offset, uint32_t at, uint32_t& place) const;
    const ClassInfo* MemberClass(uint32_t operand, const Slot& object) const;

    // Pops a value of `words` words and the offset below it, which must be an int.
    bool PopOffset(State& state, uint32_t words, Slots& value, Slot& offset);
    bool Load(State& state, uint32_t words);
    bool Store(State& state, uint32_t words);
    bool LoadFrame(State& state, uint32_t words, uint32_t at);
    bool StoreFrame(State& state, uint32_t words, uint32_t at);
    bool AccessProperty(State& state, bool write, uint32_t words);
    bool CallMethod(State& state, uint32_t offset, uint32_t index, uint32_t arguments);
    // "method Class.name (Label)", as reports name a method.
    std::string MethodCall(const MethodInfo& method) const;
    bool FailArgumentCount(const MethodInfo& method, uint32_t arguments);
    bool CallFunction(State& state, uint32_t index);
    bool CallOperator(State& state, uint32_t word);
    bool CallLocal(State& state, uint32_t entry);
    // Notes the class that lists the member the command at `offset` reaches; null for a member
    // that is not known there.
    void NoteMemberClass(uint32_t offset, const ClassInfo* owner);
    bool ReturnFrom(State& state, uint32_t locals, uint32_t results);

    const ScriptCode& code_;
    const ScriptSymbols& symbols_;
    const ScriptCheckHints& hints_;
    const uint32_t size_;
    std::unordered_map<uint32_t, size_t> functions_; // entry -> global record
    std::vector<Variable> variables_;                // by offset
    // Declared locals by frame offset, each list by the start of its code range.
    std::unordered_map<int32_t, std::vector<const ScriptIdentifier*>> locals_;
    std::map<uint32_t, Target> targets_;
    std::set<uint32_t> queue_;
    std::map<uint32_t, int32_t> memberClasses_; // 0: not one known class
    uint32_t at_ = 0;         // the command being checked
    std::string command_;     // its text, for reports
    uint32_t failedAt_ = 0;
    uint32_t failedLine_ = 0;
    std::string failure_;
};

Checker::Checker(const ScriptCode& code, const ScriptSymbols& symbols,
                 const ScriptCheckHints& hints)
    : code_(code), symbols_(symbols), hints_(hints),
      size_(static_cast<uint32_t>(code.words.size())) {
    for (size_t i = 0; i < symbols.globals.size(); ++i) {
        const ScriptIdentifier& record = symbols.globals[i];
        if (record.IsFunction()) {
            functions_[record.offset] = i;
        } else {
            variables_.push_back({record.offset, record.GetWordSize(), &record});
        }
    }
    std::stable_sort(variables_.begin(), variables_.end(),
                     [](const Variable& a, const Variable& b) { return a.offset < b.offset; });
    for (const ScriptIdentifier& local : symbols.locals) {
        locals_[static_cast<int32_t>(local.offset)].push_back(&local);
    }
    for (auto& [offset, list] : locals_) {
        std::stable_sort(list.begin(), list.end(),
                         [](const ScriptIdentifier* a, const ScriptIdentifier* b) {
                             return a->firstOffset < b->firstOffset;
                         });
    }
}

bool Checker::Run(std::string& error) {
    CheckPorts();
    CollectJumpTargets();
    for (const auto& [entry, index] : functions_) {
        Merge(entry, State{true, static_cast<int>(index), ArgumentSlots(symbols_.globals[index])});
    }
    while (!queue_.empty()) {
        const uint32_t offset = *queue_.begin();
        queue_.erase(queue_.begin());
        const State& state = targets_[offset].state;
        if (state.followed) {
            Walk(offset, state);
        }
    }
    if (failure_.empty()) {
        return true;
    }
    if (failedLine_ != 0) {
        error = std::to_string(failedLine_) + ": " + failure_;
        return false;
    }
    const auto after = std::upper_bound(
        hints_.lines.begin(), hints_.lines.end(), failedAt_,
        [](uint32_t at, const ScriptSourceLine& entry) { return at < entry.offset; });
    error = after == hints_.lines.begin() ? std::string("offset ").append(std::to_string(failedAt_))
                                          : std::to_string(std::prev(after)->line);
    error.append(": ").append(failure_);
    return false;
}

uint32_t Checker::NextCommand(uint32_t offset) const {
    const uint32_t command = code_.words[offset];
    uint32_t next = offset + 1;
    if (command == PushText) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(code_.words.data() + next);
        const void* end = std::memchr(bytes, 0, size_t{size_ - next} * 4);
        if (!end) {
            return 0;
        }
        next += static_cast<uint32_t>((static_cast<const uint8_t*>(end) - bytes + 4) / 4);
    } else if (command < Count) {
        next += OperandWords[command];
    } else {
        return 0;
    }
    return next <= size_ ? next : 0;
}

// Branches land here: the states of every path that arrives are met there.
void Checker::CollectJumpTargets() {
    for (uint32_t offset = 0; offset < size_;) {
        const uint32_t command = code_.words[offset];
        const uint32_t next = NextCommand(offset);
        if (next == 0) {
            ++offset;
            continue;
        }
        if (IsJump(command)) {
            const int64_t target = int64_t(next) + static_cast<int32_t>(code_.words[next - 1]);
            if (target >= 0 && target < int64_t(size_)) {
                targets_.try_emplace(static_cast<uint32_t>(target));
            }
        }
        offset = next;
    }
}

void Checker::Merge(uint32_t offset, const State& incoming) {
    if (offset >= size_) {
        return;
    }
    Target& target = targets_[offset];
    if (!target.reached) {
        target.reached = true;
        target.state = incoming;
        queue_.insert(offset);
        return;
    }
    State merged = target.state;
    if (!merged.followed || !incoming.followed || merged.function != incoming.function ||
        merged.stack.size() != incoming.stack.size()) {
        merged = State{false, -1, {}};
    } else {
        for (size_t i = 0; i < merged.stack.size(); ++i) {
            Slot& slot = merged.stack[i];
            const Slot& other = incoming.stack[i];
            if (slot == other) {
                continue;
            }
            if (slot.value == other.value && slot.word == other.word && slot.part == other.part) {
                // The type holds; what differs of the literals is forgotten.
                slot.constant = slot.constant && other.constant && slot.number == other.number;
                slot.member = slot.member == other.member ? slot.member : nullptr;
                slot.element = slot.element == other.element ? slot.element : -1;
            } else {
                slot = Slot{};
            }
        }
    }
    if (merged == target.state) {
        return;
    }
    if (++target.changes > MaxTypeChanges && merged.followed) {
        std::fill(merged.stack.begin(), merged.stack.end(), Slot{});
    }
    target.state = std::move(merged);
    queue_.insert(offset);
}

void Checker::Walk(uint32_t start, State state) {
    for (uint32_t offset = start; offset < size_;) {
        if (offset != start && targets_.contains(offset)) {
            Merge(offset, state);
            return;
        }
        if (state.stack.size() > MaxFollowedDepth) {
            return;
        }
        const uint32_t command = code_.words[offset];
        const uint32_t next = NextCommand(offset);
        if (next == 0) {
            return; // the machine refuses it when it runs
        }
        at_ = offset;
        command_ = Mnemonics[command];
        // A jump's operand is a distance, which says nothing in a report.
        const bool written = command != PushText && !IsJump(command);
        for (uint32_t k = offset + 1; written && k < next; ++k) {
            command_.append(" ").append(std::to_string(static_cast<int32_t>(code_.words[k])));
        }
        if (!Step(offset, next, state)) {
            return;
        }
        offset = next;
    }
}

void Checker::CheckPorts() {
    // The words an event hands its port's function, one each.
    const Slots passed = {OneWord(TypeEntity), OneWord(TypeEntity), OneWord(TypeFloat)};
    for (size_t i = 0; i < symbols_.globals.size(); ++i) {
        const ScriptIdentifier& function = symbols_.globals[i];
        if (!function.IsFunction() || !(function.flags & IdentifierInputPort)) {
            continue;
        }
        const Slots declared = ArgumentSlots(function);
        bool fits = declared.size() <= passed.size();
        for (size_t i = 0; fits && i < declared.size(); ++i) {
            fits = Fits(passed[i], declared[i]);
        }
        if (fits) {
            continue;
        }
        std::string form;
        for (int32_t type : function.parameterTypes) {
            form.append(form.empty() ? "" : ", ").append(TypeName(Normal(type)));
        }
        at_ = function.offset;
        // Its form is wrong where it is declared, not where its code starts.
        Fail("port function \"" + function.name + "\" takes (" + form +
                 "), but a port passes (entity sender, entity argument, float value): it takes "
                 "those or the first of them",
             i < hints_.declarationLines.size() ? hints_.declarationLines[i] : 0);
    }
}

bool Checker::Fail(const std::string& reason, uint32_t line) {
    if (failure_.empty() || at_ < failedAt_) {
        failure_ = reason;
        failedAt_ = at_;
        failedLine_ = line;
    }
    return false;
}

bool Checker::Need(const State& state, uint64_t words) {
    if (state.stack.size() >= words) {
        return true;
    }
    return Fail(command_ + " takes " + std::to_string(words) + " word" + (words == 1 ? "" : "s") +
                ", the function has " + std::to_string(state.stack.size()) + " on the stack");
}

Slots Checker::PopWords(State& state, uint32_t words) {
    Slots popped(state.stack.end() - words, state.stack.end());
    state.stack.resize(state.stack.size() - words);
    return popped;
}

Slot Checker::Pop(State& state) {
    const Slot slot = state.stack.back();
    state.stack.pop_back();
    return slot;
}

bool Checker::Expect(std::span<const Slot> given, std::span<const Slot> expected,
                     const std::string& what) {
    for (size_t i = 0; i < given.size() && i < expected.size(); ++i) {
        if (!Fits(given[i], expected[i])) {
            return Fail(what + " is " + NameOf(expected, i, Side::Expected) + ", given " +
                        NameOf(given, i, Side::Given));
        }
    }
    return true;
}

bool Checker::ExpectEachWord(std::span<const Slot> given, std::span<const Slot> expected,
                             const std::string& name, uint64_t place, uint64_t held) {
    for (size_t i = 0; i < given.size() && i < expected.size(); ++i) {
        if (!Expect(given.subspan(i, 1), expected.subspan(i, 1),
                    command_ + ": " + WordName(name, place + i, held))) {
            return false;
        }
    }
    return true;
}

bool Checker::ExpectType(std::span<const Slot> given, int32_t type, const std::string& what) {
    const Slots expected = ValueSlots(type);
    return Expect(given, expected, what);
}

bool Checker::ExpectArguments(std::span<const Slot> given, std::span<const int32_t> types,
                              const std::string& call) {
    size_t at = 0;
    for (size_t i = 0; i < types.size(); ++i) {
        const Slots expected = ValueSlots(types[i]);
        if (at + expected.size() > given.size()) {
            break;
        }
        if (!Expect(given.subspan(at, expected.size()), expected,
                    call + ": argument " + std::to_string(i + 1))) {
            return false;
        }
        at += expected.size();
    }
    return true;
}

void Checker::PushResult(State& state, int32_t type, uint32_t words) {
    Slots result = ValueSlots(type);
    if (result.size() != words) {
        result.assign(words, Slot{});
    }
    state.stack.insert(state.stack.end(), result.begin(), result.end());
}

const ScriptIdentifier* Checker::FunctionAt(uint32_t offset) const {
    auto found = functions_.find(offset);
    return found != functions_.end() ? &symbols_.globals[found->second] : nullptr;
}

const Checker::Variable* Checker::VariableAt(uint32_t offset) const {
    auto after = std::upper_bound(
        variables_.begin(), variables_.end(), offset,
        [](uint32_t at, const Variable& variable) { return at < variable.offset; });
    if (after == variables_.begin()) {
        return nullptr;
    }
    const Variable& variable = *std::prev(after);
    return offset - variable.offset < variable.words ? &variable : nullptr;
}

Slot Checker::VariableWord(uint32_t offset) const {
    const Variable* variable = VariableAt(offset);
    if (!variable) {
        return Slot{};
    }
    const Slots words = ValueSlots(HeldType(*variable->record));
    if (words.empty()) {
        return Slot{};
    }
    return words[(offset - variable->offset) % words.size()];
}

// The local whose words hold frame offset `offset` at code offset `at`, `place` being the
// word's place in it. Of the locals starting at one offset, the one whose range starts last
// before `at` is taken, if the range reaches it; a local in a range that others start inside
// goes unseen, and unchecked.
const ScriptIdentifier* Checker::DeclaredLocal(int32_t offset, uint32_t at, uint32_t& place) const {
    // No value but an array, which a local's checks pass over, takes more words than these.
    const int32_t widest = GetTypeWordCount(TypeString64);
    for (int32_t start = offset; start >= 0 && offset - start < widest; --start) {
        auto found = locals_.find(start);
        if (found == locals_.end()) {
            continue;
        }
        const std::vector<const ScriptIdentifier*>& list = found->second;
        auto after = std::upper_bound(
            list.begin(), list.end(), at,
            [](uint32_t code, const ScriptIdentifier* local) { return code < local->firstOffset; });
        if (after == list.begin()) {
            continue;
        }
        const ScriptIdentifier* local = *std::prev(after);
        if (at <= local->lastOffset && offset - start < GetTypeWordCount(Normal(local->type))) {
            place = static_cast<uint32_t>(offset - start);
            return local;
        }
    }
    return nullptr;
}

const ClassInfo* Checker::MemberClass(uint32_t operand, const Slot& object) const {
    auto hint = hints_.memberClasses.find(operand);
    if (hint != hints_.memberClasses.end()) {
        return hint->second;
    }
    return ClassOfType(object.word);
}

bool Checker::PopOffset(State& state, uint32_t words, Slots& value, Slot& offset) {
    if (!Need(state, uint64_t{words} + 1)) {
        return false;
    }
    value = PopWords(state, words);
    offset = Pop(state);
    return ExpectOne(offset, TypeInt, command_ + ": the offset");
}

bool Checker::Load(State& state, uint32_t words) {
    Slots none;
    Slot offset;
    if (words > MaxFollowedDepth || !PopOffset(state, 0, none, offset)) {
        return false;
    }
    const bool known = offset.constant || offset.element >= 0;
    const uint32_t first = offset.constant ? offset.number : static_cast<uint32_t>(offset.element);
    for (uint32_t i = 0; i < words; ++i) {
        Slot slot = known ? VariableWord(first + i) : Slot{};
        slot.constant = false;
        state.stack.push_back(slot);
    }
    return true;
}

bool Checker::Store(State& state, uint32_t words) {
    Slots value;
    Slot offset;
    if (!PopOffset(state, words, value, offset)) {
        return false;
    }
    if (!offset.constant && offset.element < 0) {
        return true;
    }
    const uint32_t first = offset.constant ? offset.number : static_cast<uint32_t>(offset.element);
    // Variable by variable: a whole value (or array element) is named as one, the words of
    // part of one each by its place.
    for (uint32_t i = 0; i < words;) {
        const Variable* variable = VariableAt(first + i);
        if (!variable) {
            ++i; // no variable holds the word: its type is not known
            continue;
        }
        const ScriptIdentifier& record = *variable->record;
        const std::string name =
            (record.type == TypeArray ? "an element of \"" : "\"") + record.name + "\"";
        const uint64_t held = std::max(GetTypeWordCount(Normal(HeldType(record))), 1);
        const uint64_t place = first + i - variable->offset;
        const auto count =
            static_cast<uint32_t>(std::min<uint64_t>(words - i, variable->words - place));
        Slots expected;
        for (uint32_t k = 0; k < count; ++k) {
            expected.push_back(VariableWord(first + i + k));
        }
        const std::span<const Slot> given = std::span<const Slot>(value).subspan(i, count);
        const bool fits = place % held == 0 && count == held
                              ? Expect(given, expected, command_ + ": " + name)
                              : ExpectEachWord(given, expected, name, place, held);
        if (!fits) {
            return false;
        }
        i += count;
    }
    return true;
}

bool Checker::LoadFrame(State& state, uint32_t words, uint32_t at) {
    Slots none;
    Slot offset;
    if (words > MaxFollowedDepth || !PopOffset(state, 0, none, offset)) {
        return false;
    }
    if (!offset.constant) {
        state.stack.insert(state.stack.end(), words, Slot{});
        return true;
    }
    const auto local = static_cast<int32_t>(offset.number);
    const int64_t first =
        int64_t(ArgumentSlots(symbols_.globals[size_t(state.function)]).size()) + local;
    if (first < 0 || first + words > int64_t(state.stack.size())) {
        return false; // outside the frame: the machine refuses it when it runs
    }
    uint32_t place = 0;
    const ScriptIdentifier* declared = local >= 0 ? DeclaredLocal(local, at, place) : nullptr;
    const Slots declaredWords = declared ? ValueSlots(declared->type) : Slots{};
    // Words inside one declared local (a whole one, or words of a vector) are of its type.
    const bool inside = uint64_t{place} + words <= declaredWords.size();
    for (uint32_t i = 0; i < words; ++i) {
        const Slot slot = inside ? declaredWords[place + i] : state.stack[size_t(first + i)];
        state.stack.push_back(slot);
    }
    return true;
}

bool Checker::StoreFrame(State& state, uint32_t words, uint32_t at) {
    Slots value;
    Slot offset;
    if (!PopOffset(state, words, value, offset)) {
        return false;
    }
    const Slots arguments = ArgumentSlots(symbols_.globals[size_t(state.function)]);
    if (!offset.constant) {
        // Any local may have changed.
        std::fill(state.stack.begin() + long(std::min(arguments.size(), state.stack.size())),
                  state.stack.end(), Slot{});
        return true;
    }
    const int32_t local = static_cast<int32_t>(offset.number);
    const int64_t first = int64_t(arguments.size()) + local;
    if (first < 0 || first + words > int64_t(state.stack.size())) {
        return false; // outside the frame: the machine refuses it when it runs
    }
    if (local < 0) {
        const std::span<const Slot> declared(arguments.data() + first,
                                             std::min<size_t>(words, arguments.size() - first));
        if (!Expect(value, declared, command_ + ": the argument")) {
            return false;
        }
    } else if (uint32_t place = 0;
               const ScriptIdentifier* declared = DeclaredLocal(local, at, place)) {
        const Slots declaredWords = ValueSlots(declared->type);
        const std::span<const Slot> expected = std::span<const Slot>(declaredWords).subspan(place);
        const std::string name = "\"" + declared->name + "\"";
        const bool fits = place == 0 && words >= declaredWords.size()
                              ? Expect(value, expected, command_ + ": " + name)
                              : ExpectEachWord(value, expected, name, place, declaredWords.size());
        if (!fits) {
            return false;
        }
    }
    std::copy(value.begin(), value.end(), state.stack.begin() + long(first));
    return true;
}

bool Checker::AccessProperty(State& state, bool write, uint32_t words) {
    if (!Need(state, uint64_t{2} + (write ? words : 0))) {
        return false;
    }
    const Slots value = write ? PopWords(state, words) : Slots{};
    const Slot id = Pop(state);
    const Slot object = Pop(state);
    if (!ExpectOne(id, TypeInt, command_ + ": the property number")) {
        return false;
    }
    const ClassInfo* owner = id.member ? id.member : ClassOfType(object.word);
    const Property* property =
        owner && id.constant ? owner->GetProperty(static_cast<int>(id.number)) : nullptr;
    NoteMemberClass(at_, property ? ListingClass(*owner, int(id.number), true) : nullptr);
    if (!property) {
        if (!ExpectOne(object, TypeEntity, command_ + ": the object")) {
            return false;
        }
        // Without the property its size is not known: the words after it are not followed.
        return write;
    }
    const std::string name = std::string(property->GetOwner()->GetName()) + "." +
                             property->GetName();
    const std::string call = command_ + " (" + name + ")";
    if (!ExpectOne(object, ClassTypeBase + property->GetOwner()->GetClassNumber(),
                   call + ": the object")) {
        return false;
    }
    const int32_t type = property->GetValueType();
    const auto size = static_cast<uint32_t>(GetTypeWordCount(Normal(type)));
    if (!write) {
        PushResult(state, type, size);
        return true;
    }
    if (words != size) {
        return Fail(call + " writes " + std::to_string(words) + " word" +
                    (words == 1 ? "" : "s") + ", the property takes " + std::to_string(size));
    }
    return ExpectType(value, type, call + ": the value");
}

std::string Checker::MethodCall(const MethodInfo& method) const {
    const std::string key =
        std::string(method.GetOwner() ? method.GetOwner()->GetName() : "") + "." + method.GetName();
    return Labelled("method " + key, key);
}

bool Checker::FailArgumentCount(const MethodInfo& method, uint32_t arguments) {
    const auto words = static_cast<uint32_t>(method.GetArgumentWords());
    return Fail(MethodCall(method) + " takes " + std::to_string(words) + " argument word" +
                (words == 1 ? "" : "s") + ", given " + std::to_string(arguments));
}

bool Checker::CallMethod(State& state, uint32_t offset, uint32_t index, uint32_t arguments) {
    // A miscounted argument word puts a word that is no entity where the object belongs: the
    // count is what is wrong, so it is told first wherever the method is known.
    auto hint = hints_.memberClasses.find(offset + 1);
    if (hint != hints_.memberClasses.end() && hint->second) {
        const MethodInfo* named = hint->second->GetMethod(static_cast<int>(index));
        if (named && named->GetArgumentWords() != static_cast<int>(arguments)) {
            return FailArgumentCount(*named, arguments);
        }
    }
    if (!Need(state, uint64_t{arguments} + 1)) {
        return false;
    }
    const Slots given = PopWords(state, arguments);
    const Slot object = Pop(state);
    const ClassInfo* owner = MemberClass(offset + 1, object);
    const MethodInfo* method = owner ? owner->GetMethod(static_cast<int>(index)) : nullptr;
    NoteMemberClass(offset, method ? ListingClass(*owner, int(index), false) : nullptr);
    if (!method && object.word != Unknown && !IsReference(object.word)) {
        // Without a member operand, an entity among the argument words whose method takes the
        // words above it tells the same miscount.
        for (size_t i = 0; i < given.size(); ++i) {
            const ClassInfo* below = ClassOfType(given[i].word);
            const MethodInfo* meant = below ? below->GetMethod(static_cast<int>(index)) : nullptr;
            if (meant && static_cast<size_t>(meant->GetArgumentWords()) == given.size() - i - 1) {
                return FailArgumentCount(*meant, arguments);
            }
        }
    }
    const std::string call = method ? MethodCall(*method) : command_;
    if (!ExpectOne(object, TypeEntity, call + ": the object") || !method) {
        return false; // without the method its results are not known
    }
    if (arguments != static_cast<uint32_t>(method->GetArgumentWords())) {
        return FailArgumentCount(*method, arguments);
    }
    std::vector<int32_t> types;
    for (int i = 0; i < method->GetArgumentCount(); ++i) {
        types.push_back(method->GetArgumentType(i));
    }
    if (!ExpectArguments(given, types, call)) {
        return false;
    }
    PushResult(state, method->GetReturnType(), static_cast<uint32_t>(method->GetReturnWords()));
    return true;
}

void Checker::NoteMemberClass(uint32_t offset, const ClassInfo* owner) {
    // Only the engine's own classes keep their numbers from one run to the next.
    const int32_t type = owner && (owner->GetFlags() & ClassNative) && owner->GetClassNumber() >= 0
                             ? ClassTypeBase + owner->GetClassNumber()
                             : 0;
    auto [noted, added] = memberClasses_.emplace(offset, type);
    if (!added && noted->second != type) {
        noted->second = 0;
    }
}

std::vector<ScriptMemberClass> Checker::MemberClasses() const {
    std::vector<ScriptMemberClass> classes;
    for (const auto& [offset, type] : memberClasses_) {
        if (type != 0) {
            classes.push_back({offset, type});
        }
    }
    return classes;
}

bool Checker::CallFunction(State& state, uint32_t index) {
    const MethodInfo* function = index < uint32_t(GetRegisteredFunctionCount())
                                     ? GetRegisteredFunction(static_cast<int>(index))
                                     : nullptr;
    if (!function) {
        return false; // the machine refuses it when it runs
    }
    const std::string call = std::strcmp(function->GetLabel(), function->GetName()) != 0
                                 ? command_ + " (" + function->GetLabel() + ")"
                                 : command_;
    const auto words = static_cast<uint32_t>(function->GetArgumentWords());
    if (!Need(state, words)) {
        return false;
    }
    const Slots given = PopWords(state, words);
    std::vector<int32_t> types;
    for (int i = 0; i < function->GetArgumentCount(); ++i) {
        types.push_back(function->GetArgumentType(i));
    }
    if (!ExpectArguments(given, types, call)) {
        return false;
    }
    PushResult(state, function->GetReturnType(),
               static_cast<uint32_t>(function->GetReturnWords()));
    return true;
}

bool Checker::CallOperator(State& state, uint32_t word) {
    const auto type = static_cast<int32_t>(word >> 16);
    const ScriptValueType* valueType = GetScriptValueType(type);
    const ScriptOperatorRecord* record =
        valueType ? valueType->GetOperator(static_cast<int>(word & 0xFFFF)) : nullptr;
    if (!record || !record->function || record->argumentWords < 0) {
        return false; // the machine refuses it when it runs
    }
    const std::string call =
        "op " + std::string(valueType->GetName()) + " \"" + record->signature + "\"";
    const auto self = static_cast<uint32_t>(valueType->GetWordCount());
    const auto operands = self + static_cast<uint32_t>(record->argumentWords);
    if (!Need(state, operands)) {
        return false;
    }
    const Slots given = PopWords(state, operands);
    std::vector<int32_t> types{type};
    types.insert(types.end(), record->parameterTypes,
                 record->parameterTypes + record->parameterCount);
    size_t at = 0;
    for (size_t i = 0; i < types.size(); ++i) {
        const ScriptValueType* operand = GetScriptValueType(types[i]);
        const size_t size = operand ? static_cast<size_t>(operand->GetWordCount()) : 0;
        if (at + size > given.size()) {
            break;
        }
        if (!ExpectType(std::span<const Slot>(given).subspan(at, size), types[i],
                        call + ": operand " + std::to_string(i + 1))) {
            return false;
        }
        at += size;
    }
    // Without a result type the operator changes its value in place (++, --).
    const int32_t result = record->resultType != TypeVoid ? record->resultType : type;
    const ScriptValueType* resultType = GetScriptValueType(result);
    PushResult(state, result, resultType ? static_cast<uint32_t>(resultType->GetWordCount()) : 0);
    return true;
}

bool Checker::CallLocal(State& state, uint32_t entry) {
    const ScriptIdentifier* function = FunctionAt(entry);
    if (!function) {
        return false; // what it takes and gives is not known
    }
    const Slots expected = ArgumentSlots(*function);
    if (!Need(state, expected.size())) {
        return false;
    }
    const Slots given = PopWords(state, static_cast<uint32_t>(expected.size()));
    if (!ExpectArguments(given, function->parameterTypes, "call \"" + function->name + "\"")) {
        return false;
    }
    if (function->HasResult()) {
        AppendValue(state.stack, function->resultType);
    }
    return true;
}

bool Checker::ReturnFrom(State& state, uint32_t locals, uint32_t results) {
    const ScriptIdentifier& function = symbols_.globals[size_t(state.function)];
    const Slots expected = function.HasResult() ? ValueSlots(function.resultType) : Slots{};
    const std::string call = command_ + " from \"" + function.name + "\"";
    if (results != expected.size()) {
        return Fail(call + ": it returns " + std::to_string(expected.size()) + " result word" +
                    (expected.size() == 1 ? "" : "s"));
    }
    if (!Need(state, results)) {
        return false;
    }
    const Slots given = PopWords(state, results);
    if (!Expect(given, expected, call + ": the result")) {
        return false;
    }
    if (locals != state.stack.size()) {
        return Fail(call + ": its arguments and locals take " +
                    std::to_string(state.stack.size()) + " word" +
                    (state.stack.size() == 1 ? "" : "s"));
    }
    return false;
}

bool Checker::Step(uint32_t offset, uint32_t next, State& state) {
    const uint32_t command = code_.words[offset];
    const uint32_t a = next > offset + 1 ? code_.words[offset + 1] : 0;
    const uint32_t b = next > offset + 2 ? code_.words[offset + 2] : 0;
    switch (command) {
    case PushInt: {
        Slot slot = OneWord(TypeInt);
        slot.constant = true;
        slot.number = a;
        auto hint = hints_.memberClasses.find(offset + 1);
        slot.member = hint != hints_.memberClasses.end() ? hint->second : nullptr;
        state.stack.push_back(slot);
        return true;
    }
    case PushFloat:
        state.stack.push_back(OneWord(TypeFloat));
        return true;
    case PushText:
        state.stack.push_back(OneWord(TypeString));
        return true;
    case Drop:
        if (!Need(state, a)) {
            return false;
        }
        state.stack.resize(state.stack.size() - a);
        return true;
    case Duplicate: {
        if (static_cast<int32_t>(a) < 1) {
            return true;
        }
        if (!Need(state, a)) {
            return false;
        }
        const Slots copy(state.stack.end() - a, state.stack.end());
        state.stack.insert(state.stack.end(), copy.begin(), copy.end());
        return true;
    }
    case ToFloat: {
        if (!Need(state, uint64_t{a} + b)) {
            return false;
        }
        const size_t first = state.stack.size() - a - b;
        for (size_t i = first; i < first + b; ++i) {
            if (!ExpectOne(state.stack[i], TypeInt,
                           command_ + ": word " + std::to_string(i - first + 1))) {
                return false;
            }
            state.stack[i] = OneWord(TypeFloat);
        }
        return true;
    }
    case PushSelf:
    case PushParent:
    case PushRoot: {
        const ClassInfo* node = FindClass(command == PushSelf ? "Script" : "Node");
        state.stack.push_back(OneWord(node ? ClassTypeBase + node->GetClassNumber() : TypeEntity));
        return true;
    }
    case Index: {
        const uint64_t words = uint64_t{a} * b;
        if (!Need(state, words + 1)) {
            return false;
        }
        if (!ExpectOne(Pop(state), TypeInt, command_ + ": the index")) {
            return false;
        }
        if (a == 0) {
            return false; // no index lies in an array of no elements: the run ends here
        }
        Slots element(state.stack.end() - long(words), state.stack.end() - long(words - b));
        state.stack.resize(state.stack.size() - words);
        for (Slot& slot : element) {
            slot.constant = false;
        }
        state.stack.insert(state.stack.end(), element.begin(), element.end());
        return true;
    }
    case ElementAddress: {
        if (!Need(state, 2)) {
            return false;
        }
        const Slot index = Pop(state);
        const Slot base = Pop(state);
        if (!ExpectOne(index, TypeInt, command_ + ": the index") ||
            !ExpectOne(base, TypeInt, command_ + ": the offset")) {
            return false;
        }
        Slot address = OneWord(TypeInt);
        address.element = base.constant ? int64_t{base.number} : -1;
        state.stack.push_back(address);
        return true;
    }
    case LoadVariable:
        return Load(state, a);
    case StoreVariable:
        return Store(state, a);
    case LoadExternal:
    case StoreExternal: {
        const bool store = command == StoreExternal;
        if (!Need(state, uint64_t{2} + (store ? a : 0))) {
            return false;
        }
        if (store) {
            PopWords(state, a);
        }
        const Slot variable = Pop(state);
        if (!ExpectOne(variable, TypeInt, command_ + ": the offset") ||
            !ExpectOne(Pop(state), TypeEntity, command_ + ": the object")) {
            return false;
        }
        if (store) {
            return true;
        }
        if (a > MaxFollowedDepth) {
            return false;
        }
        state.stack.insert(state.stack.end(), a, Slot{});
        return true;
    }
    case LoadLocal:
        return LoadFrame(state, a, offset);
    case StoreLocal:
        return StoreFrame(state, a, offset);
    case GetProperty:
        return AccessProperty(state, false, 0);
    case SetProperty:
        return AccessProperty(state, true, a);
    case Operator:
        return CallOperator(state, a);
    case Function:
        return CallFunction(state, a);
    case LocalCall:
        return CallLocal(state, a);
    case ExternalCall: {
        if (!Need(state, uint64_t{b} + 1)) {
            return false;
        }
        PopWords(state, b);
        if (!ExpectOne(Pop(state), TypeEntity, command_ + ": the object")) {
            return false;
        }
        // Only a call that runs in the other script's own context leaves nothing here.
        const uint32_t x = code_.words[offset + 3];
        return b == 0 && x == 0;
    }
    case Method:
        return CallMethod(state, offset, a, b);
    case Jump:
    case JumpIfTrue:
    case JumpIfFalse: {
        if (command != Jump) {
            if (!Need(state, 1)) {
                return false;
            }
            const Slot condition = Pop(state);
            if (condition.word != Unknown && !IsIntLike(condition.word) &&
                !IsReference(condition.word)) {
                return Fail(command_ + ": the condition is int or bool, given " +
                            NameOf(std::span<const Slot>(&condition, 1), 0, Side::Given));
            }
        }
        const int64_t target = int64_t(next) + static_cast<int32_t>(a);
        if (target >= 0 && target < int64_t(size_)) {
            Merge(static_cast<uint32_t>(target), state);
        }
        return command != Jump;
    }
    case Goto: {
        if (!Need(state, b)) {
            return false;
        }
        const ScriptIdentifier* function = FunctionAt(a);
        if (!function) {
            return false;
        }
        const Slots expected = ArgumentSlots(*function);
        if (b != expected.size()) {
            return Fail(command_ + ": \"" + function->name + "\" takes " +
                        std::to_string(expected.size()) + " argument word" +
                        (expected.size() == 1 ? "" : "s"));
        }
        // The path goes on in the function it starts, which is followed from its own entry.
        ExpectArguments(PopWords(state, b), function->parameterTypes,
                        command_ + " \"" + function->name + "\"");
        return false;
    }
    case ExternalGoto:
        if (!Need(state, uint64_t{b} + 1)) {
            return false;
        }
        PopWords(state, b);
        return ExpectOne(Pop(state), TypeEntity, command_ + ": the object");
    case Return:
        return ReturnFrom(state, a, b);
    case SleepFrame:
        state.stack.push_back(OneWord(TypeFloat));
        return true;
    case Sleep:
        if (!Need(state, 1) || !ExpectOne(Pop(state), TypeFloat, command_ + ": the time")) {
            return false;
        }
        state.stack.push_back(OneWord(TypeFloat));
        return true;
    case BreakpointCommand:
        return true;
    default: // End
        return false;
    }
}

} // namespace

bool CheckScriptTypes(const ScriptCode& code, const ScriptSymbols& symbols,
                      const ScriptCheckHints& hints, std::string& error,
                      std::vector<ScriptMemberClass>* memberClasses) {
    Checker checker(code, symbols, hints);
    if (!checker.Run(error)) {
        return false;
    }
    if (memberClasses) {
        *memberClasses = checker.MemberClasses();
    }
    return true;
}

} // namespace quarn
