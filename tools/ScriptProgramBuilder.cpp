#include "tools/ScriptProgramBuilder.h"

#include "core/filesystem/FileReader.h"
#include "core/filesystem/FileSystem.h"
#include "core/object/ValueType.h"
#include "script/machine/ScriptCommands.h"

#include <cstdio>

namespace quarn {

namespace {

bool WriteWhole(const std::string& path, const std::vector<uint8_t>& bytes, std::string& reason) {
    if (!WriteWholeFile(path.c_str(), bytes, WriteCreateFolders)) {
        reason = "cannot write " + path;
        return false;
    }
    return true;
}

} // namespace

void ScriptProgramBuilder::SetHeader(uint32_t first, uint32_t second) {
    code_.header[0] = first;
    code_.header[1] = second;
}

ScriptIdentifier& ScriptProgramBuilder::AddVariable(const std::string& name, int32_t type,
                                                    uint32_t kind) {
    Global& global = globals_.emplace_back();
    global.record.name = name;
    global.record.type = type;
    global.record.kind = kind;
    global.autoOffset = true;
    return global.record;
}

ScriptIdentifier& ScriptProgramBuilder::AddArray(const std::string& name, int32_t elementType,
                                                 uint32_t count, uint32_t kind) {
    ScriptIdentifier& record = AddVariable(name, TypeArray, kind);
    record.elementType = elementType;
    record.arrayCount = count;
    return record;
}

ScriptIdentifier& ScriptProgramBuilder::AddFunction(const std::string& name,
                                                    std::vector<int32_t> parameters,
                                                    int32_t resultType, uint32_t flags,
                                                    ProgramValue entry) {
    ScriptIdentifier record;
    record.name = name;
    record.type = TypeFunction;
    record.flags = flags;
    record.parameterTypes = std::move(parameters);
    record.resultFlag = resultType >= 0 ? 1 : 0;
    record.resultType = resultType >= 0 ? resultType : 0;
    return AddRecord(record, std::move(entry));
}

ScriptIdentifier& ScriptProgramBuilder::AddRecord(const ScriptIdentifier& record,
                                                  ProgramValue entry) {
    Global& global = globals_.emplace_back();
    global.record = record;
    global.entry = std::move(entry);
    return global.record;
}

void ScriptProgramBuilder::SetOffset(ScriptIdentifier& variable, uint32_t offset) {
    for (Global& global : globals_) {
        if (&global.record == &variable) {
            global.autoOffset = false;
        }
    }
    variable.offset = offset;
}

ScriptIdentifier& ScriptProgramBuilder::AddLocal(const ScriptIdentifier& record,
                                                 ProgramValue first, ProgramValue last) {
    Local& local = locals_.emplace_back();
    local.record = record;
    local.first = std::move(first);
    local.last = std::move(last);
    return local.record;
}

void ScriptProgramBuilder::AddInclude(const std::string& name) {
    includes_.push_back(name);
}

void ScriptProgramBuilder::AddFixup(const std::string& name, ProgramValue callWord,
                                    ProgramValue hashWord) {
    fixups_.push_back({name, std::move(callWord), std::move(hashWord)});
}

bool ScriptProgramBuilder::PlaceLabel(const std::string& label) {
    return labels_.emplace(label, Here()).second;
}

void ScriptProgramBuilder::Word(const ProgramValue& value) {
    if (!value.label.empty()) {
        references_.push_back({code_.words.size(), value, false});
    }
    code_.words.push_back(value.number);
}

void ScriptProgramBuilder::Command(uint32_t command, const std::vector<ProgramValue>& operands) {
    code_.words.push_back(command);
    for (const ProgramValue& operand : operands) {
        Word(operand);
    }
}

void ScriptProgramBuilder::Text(std::string_view text) {
    code_.words.push_back(script_command::PushText);
    const size_t words = (text.size() + 4) / 4;
    const size_t start = code_.words.size();
    code_.words.resize(start + words, 0);
    for (size_t i = 0; i < text.size(); ++i) {
        code_.words[start + i / 4] |= uint32_t{static_cast<uint8_t>(text[i])} << (8 * (i % 4));
    }
}

void ScriptProgramBuilder::Jump(uint32_t command, const std::string& label) {
    code_.words.push_back(command);
    references_.push_back({code_.words.size(), ProgramValue::At(label), true});
    code_.words.push_back(0);
}

void ScriptProgramBuilder::MarkLine() {
    lines_.push_back(Here());
}

void ScriptProgramBuilder::SetLineTable(std::vector<uint32_t> entries) {
    lines_ = std::move(entries);
}

void ScriptProgramBuilder::SetSource(std::string file, std::vector<ScriptSourceLine> lines) {
    sourceFile_ = std::move(file);
    sourceLines_ = std::move(lines);
}

void ScriptProgramBuilder::SetMemberClasses(std::vector<ScriptMemberClass> classes) {
    memberClasses_ = std::move(classes);
}

bool ScriptProgramBuilder::Resolve(const ProgramValue& value, uint32_t& out,
                                   std::string& reason) const {
    if (value.label.empty()) {
        out = value.number;
        return true;
    }
    auto label = labels_.find(value.label);
    if (label == labels_.end()) {
        reason = "label \"" + value.label + "\" is never placed";
        return false;
    }
    out = label->second + static_cast<uint32_t>(value.addend);
    return true;
}

bool ScriptProgramBuilder::Finish(ScriptCode& code, ScriptSymbols& symbols,
                                  std::string& reason) const {
    code = code_;
    for (const Reference& reference : references_) {
        uint32_t target = 0;
        if (!Resolve(reference.value, target, reason)) {
            return false;
        }
        code.words[reference.word] =
            reference.relative ? target - static_cast<uint32_t>(reference.word + 1) : target;
    }
    symbols = ScriptSymbols{};
    uint64_t nextOffset = 0;
    for (const Global& global : globals_) {
        ScriptIdentifier record = global.record;
        if (record.IsFunction()) {
            if (!Resolve(global.entry, record.offset, reason)) {
                return false;
            }
        } else {
            if (global.autoOffset) {
                record.offset = static_cast<uint32_t>(nextOffset);
            }
            nextOffset += record.GetWordSize();
        }
        symbols.globals.push_back(std::move(record));
    }
    for (const Local& local : locals_) {
        ScriptIdentifier record = local.record;
        if (!Resolve(local.first, record.firstOffset, reason) ||
            !Resolve(local.last, record.lastOffset, reason)) {
            return false;
        }
        symbols.locals.push_back(std::move(record));
    }
    symbols.includes = includes_;
    for (const Fixup& fixup : fixups_) {
        ScriptFixup resolved{fixup.name, 0, 0};
        if (!Resolve(fixup.callWord, resolved.wordOffset, reason) ||
            !Resolve(fixup.hashWord, resolved.hashOffset, reason)) {
            return false;
        }
        symbols.fixups.push_back(std::move(resolved));
    }
    symbols.lines = lines_;
    if (!sourceFile_.empty()) {
        symbols.sourceFile = sourceFile_;
        symbols.sourceLines = sourceLines_;
    }
    symbols.memberClasses = memberClasses_;
    return true;
}

bool ScriptProgramBuilder::Write(const std::string& basePath, std::string& reason) const {
    ScriptCode code;
    ScriptSymbols symbols;
    if (!Finish(code, symbols, reason) ||
        !WriteWhole(basePath + ".bin", WriteScriptCode(code), reason)) {
        return false;
    }
    if (!WriteWhole(basePath + ".sym", WriteScriptSymbols(symbols), reason)) {
        // New code beside the old symbols would load with the wrong names and fixups.
        PathString native;
        if (GetFileSystem()->GetNativePath(native, (basePath + ".bin").c_str())) {
            std::remove(native.Text());
        }
        return false;
    }
    return true;
}

} // namespace quarn
