#include "script/machine/ScriptResource.h"

#include "core/io/ByteOrder.h"
#include "core/object/Property.h"
#include "core/object/ValueType.h"
#include "core/scene/EngineState.h"
#include "core/string/Text.h"
#include "script/machine/ScriptClass.h"
#include "script/machine/ScriptNodeClass.h"
#include "tests/script/machine/ScriptTestSupport.h"
#include "tests/support/FreshProcess.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

using test::ScriptProgramTest;

constexpr uint32_t Unresolved = ScriptResource::UnresolvedWord;

std::string Bytes(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TEST(ScriptCodeFile, CodeIsScrambledWithTheEngineKeyAndRestored) {
    ScriptCode code;
    code.header[0] = 7;
    code.header[1] = 8;
    code.stackSize = 9;
    code.words = {0x04030201};
    const std::vector<uint8_t> bytes = WriteScriptCode(code);
    // stored(i) = plain(i) ^ (27 i mod 256) ^ plain(i - 1)
    const std::string expected("\x07\0\0\0\x08\0\0\0\x09\0\0\0\x01\x18\x37\x56", 16);
    EXPECT_EQ(Bytes(bytes), expected);
    std::vector<uint8_t> withTail = bytes;
    withTail.push_back(0xAB); // bytes after the last whole word are ignored
    ScriptCode read;
    std::string reason;
    ASSERT_TRUE(ReadScriptCode(withTail, read, reason)) << reason;
    EXPECT_EQ(read.words, code.words);
    EXPECT_EQ(read.stackSize, 9u);
    EXPECT_EQ(read.header[1], 8u);
}

TEST_F(ScriptProgramTest, EveryRecordKindComesBackAsTheAssemblerWroteIt) {
    ScriptProgramBuilder builder;
    builder.SetHeader(0x11, 0x22);
    builder.SetStackSize(512);
    builder.AddVariable("count", TypeInt);
    ScriptIdentifier& name =
        builder.AddVariable("title", TypeString64Alias, IdentifierPublicVariable);
    name.declaration = "string64 title default=hello";
    builder.AddArray("grid", TypeFloat3, 4);
    ScriptIdentifier& speed = builder.AddVariable("speed", TypeFloat, IdentifierPublicVariable);
    speed.word0 = 1;
    speed.word6 = 6;
    speed.word10 = 10;
    ScriptIdentifier& main = builder.AddFunction("main", {TypeInt, TypeFloat3}, TypeFloat,
                                                 IdentifierExported, ProgramValue::At("main"));
    main.declaration = "float main(int a, float3 b)";
    ScriptIdentifier local;
    local.name = "i";
    local.type = TypeInt;
    local.kind = IdentifierLocalVariable;
    local.offset = 0;
    builder.AddLocal(local, ProgramValue::At("main"), ProgramValue::At("end"));
    builder.AddInclude("library");
    builder.AddFixup("helper", ProgramValue::At("call", 1), ProgramValue::At("call", 4));
    builder.PlaceLabel("main");
    builder.Text("hi");
    builder.MarkLine();
    builder.PlaceLabel("call");
    builder.Command(22, {ProgramValue::Of(Unresolved), ProgramValue::Of(0), ProgramValue::Of(0),
                         ProgramValue::Of(0)});
    builder.PlaceLabel("end");
    builder.Command(29, {ProgramValue::Of(0), ProgramValue::Of(1)});
    ScriptCode code;
    ScriptSymbols symbols;
    std::string reason;
    ASSERT_TRUE(builder.Finish(code, symbols, reason)) << reason;

    ScriptResource* program = WriteAndLoad(builder, "records");
    ASSERT_NE(program->GetCode(), nullptr);
    EXPECT_EQ(
        std::vector<uint32_t>(program->GetCode(), program->GetCode() + program->GetCodeSize()),
        code.words);
    EXPECT_EQ(program->GetCodeHeader()[0], 0x11u);
    EXPECT_EQ(program->GetStackSize(), 512u);
    EXPECT_EQ(Bytes(WriteScriptSymbols(program->GetSymbols())), Bytes(WriteScriptSymbols(symbols)));
    // Offsets follow the declaration order: 1 + 16 + 12 words before "speed".
    EXPECT_EQ(program->GetSymbols().globals[3].offset, 29u);
    EXPECT_EQ(program->GetVariableWords(), 30u);
    EXPECT_EQ(program->GetPublicVariableWords(), 17u);
    EXPECT_EQ(program->GetSymbols().locals[0].lastOffset, 7u);
    EXPECT_EQ(program->GetSymbols().fixups[0].wordOffset, 3u);
    EXPECT_EQ(program->GetLinkState(), static_cast<uint32_t>(ScriptUnresolved));
    // A literal is a text word into the code.
    EXPECT_STREQ(LookupText(program->GetCodeTextWord() + 4), "hi");
    EXPECT_EQ(program->GetDataSize(), code.words.size() * 4);
    EXPECT_EQ(program->GetState(), ScriptResource::ProgramLoaded);
}

TEST_F(ScriptProgramTest, LookupsIgnoreCaseLetTheLastRecordWinAndTryTheStateFirst) {
    ScriptProgramBuilder builder;
    builder.AddFunction("Walk", {}, -1, 0, ProgramValue::Of(0));
    builder.AddFunction("walk", {}, -1, 0, ProgramValue::Of(1));
    builder.AddFunction("Running", {}, -1, IdentifierStateFunction, ProgramValue::Of(2));
    builder.AddFunction("running.walk", {}, -1, 0, ProgramValue::Of(3));
    builder.Command(32, {});
    builder.Command(32, {});
    builder.Command(32, {});
    builder.Command(32, {});
    ScriptResource* program = WriteAndLoad(builder, "lookups");
    EXPECT_EQ(program->FindIdentifier("WALK"), 1);
    EXPECT_EQ(program->FindIdentifier("fly"), -1);
    EXPECT_EQ(program->FindIdentifierByTypeAndOffset(TypeFunction, 2), 2);
    EXPECT_EQ(program->FindFunction("walk", -1), 1);
    EXPECT_EQ(program->FindFunction("walk", 2), 3);
    EXPECT_EQ(program->FindFunction("Running", 2), 2); // no "Running.Running": the plain name
    EXPECT_EQ(program->FindFunctionInState("walk", "RUNNING"), 3);
    EXPECT_EQ(program->FindFunctionInState("walk", "idle"), 1);
    EXPECT_EQ(program->FindFunction("fly", 2), -1);
}

// A program whose interface is two public variables and two functions.
ScriptProgramBuilder InterfaceProgram(uint32_t secondEntry) {
    ScriptProgramBuilder builder;
    builder.AddVariable("hidden", TypeInt);
    builder.AddVariable("label", TypeString64Alias, IdentifierPublicVariable);
    ScriptIdentifier& target = builder.AddVariable("target", TypeEntity, IdentifierPublicVariable);
    target.hint = "Signal";
    builder.AddFunction("update", {TypeFloat}, -1, 0, ProgramValue::Of(0));
    builder.AddFunction("score", {TypeInt, TypeInt}, TypeInt,
                        IdentifierStateFunction | IdentifierInputPort,
                        ProgramValue::Of(secondEntry));
    for (int i = 0; i < 4; ++i) {
        builder.Command(32, {});
    }
    return builder;
}

TEST_F(ScriptProgramTest, TheProgramClassShowsPublicVariablesAndFunctions) {
    ScriptResource* program = WriteAndLoad(InterfaceProgram(1), "hero");
    ClassInfo* info = program->GetClassInfo();
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(info->GetName(), "Script_hero");
    EXPECT_EQ(info->GetParent(), RegisterScriptNodeClass());
    EXPECT_EQ(info->GetFlags(), 194u); // updated while the game runs and while it is stopped
    ASSERT_EQ(info->GetOwnProperties().size(), 2u);
    const Property& label = *info->GetOwnProperties()[0];
    EXPECT_STREQ(label.GetName(), "label");
    EXPECT_EQ(label.GetValueType(), TypeString64);
    EXPECT_EQ(program->GetPropertyOffset(label), 1);
    EXPECT_EQ(program->GetPropertyOffset(*info->GetOwnProperties()[1]), 17);
    ASSERT_EQ(info->GetOwnMethods().size(), 2u);
    const MethodInfo& update = *info->GetOwnMethods()[0];
    EXPECT_EQ(update.GetCallFlags(), 3u);
    EXPECT_EQ(update.GetArgumentCount(), 1);
    const MethodInfo& score = *info->GetOwnMethods()[1];
    EXPECT_EQ(score.GetCallFlags(), static_cast<uint32_t>(2 | 8 | 16));
    EXPECT_EQ(score.GetReturnType(), TypeInt);
    ScriptClass* scriptClass = program->GetScriptClass();
    EXPECT_STREQ(scriptClass->GetName(), "hero");
    EXPECT_EQ(scriptClass->Methods()[1].codeOffset, 1u);
    EXPECT_TRUE(scriptClass->Methods()[1].stateFunction);
    EXPECT_EQ(scriptClass->Properties()[0].type, TypeString64Alias);
    EXPECT_EQ(program->GetLinkIndex(4), 1);
    EXPECT_EQ(program->GetLinkIndex(0), -1);
    // The ports: the input function, and the entity variable whose hint says "signal".
    EXPECT_EQ(program->GetInputPortCount(), 1);
    EXPECT_EQ(program->GetInputFunction(0), 1);
    EXPECT_STREQ(program->GetOutputPortName(0), "target");
    EXPECT_EQ(program->GetOutputVariable(0), 17);
    EXPECT_STREQ(program->GetInputPortName(1), "<none>");
    EXPECT_EQ(watcher_->classChanges, 1);
    ASSERT_EQ(watcher_->changedPrograms.size(), 1u);
    EXPECT_EQ(watcher_->changedPrograms[0], program);
}

TEST_F(ScriptProgramTest, AReloadKeepsAnUnchangedClassAndRebuildsOneWhoseCodeMoved) {
    ScriptResource* program = WriteAndLoad(InterfaceProgram(1), "hero");
    const ClassInfo* info = program->GetClassInfo();
    ASSERT_TRUE(program->Load());
    EXPECT_EQ(program->GetClassInfo(), info);
    EXPECT_EQ(watcher_->classChanges, 1);
    EXPECT_EQ(watcher_->changedPrograms.size(), 2u);
    Write(InterfaceProgram(2), "hero");
    ASSERT_TRUE(program->Load());
    EXPECT_EQ(program->GetClassInfo(), info);
    EXPECT_EQ(watcher_->classChanges, 2);
    EXPECT_EQ(program->GetScriptClass()->Methods()[1].codeOffset, 2u);
    // Breakpoints are armed again after each load.
    program->Breakpoints().push_back({2, 0, 1});
    program->Breakpoints().push_back({99, 0, 1}); // past the code: left alone
    ASSERT_TRUE(program->Load());
    EXPECT_EQ(program->GetCode()[2], ScriptResource::BreakpointCommand);
    EXPECT_EQ(program->Breakpoints()[0].savedWord, 32u);
    EXPECT_EQ(program->Breakpoints()[1].savedWord, 0u);
    // While the game runs, nothing reloads.
    GameRunning = true;
    EXPECT_FALSE(program->Load());
    GameRunning = false;
    EXPECT_NE(program->GetCode(), nullptr);
}

TEST_F(ScriptProgramTest, NinePortFunctionsGiveEightPorts) {
    ScriptProgramBuilder builder;
    for (int i = 0; i < 9; ++i) {
        builder.AddFunction("in" + std::to_string(i), {}, -1, IdentifierInputPort,
                            ProgramValue::Of(0));
    }
    builder.Command(32, {});
    ScriptResource* program = WriteAndLoad(builder, "ports");
    EXPECT_EQ(program->GetInputPortCount(), 8);
    EXPECT_STREQ(program->GetInputPortName(7), "in7");
    EXPECT_EQ(program->GetInputFunction(8), -1);
}

// A library exporting `name` (and, unexported, "private") at code offset `entry`.
ScriptProgramBuilder Library(const std::string& name, uint32_t entry) {
    ScriptProgramBuilder builder;
    builder.AddFunction(name, {}, -1, IdentifierExported, ProgramValue::Of(entry));
    builder.AddFunction("private", {}, -1, 0, ProgramValue::Of(0));
    for (uint32_t i = 0; i <= entry; ++i) {
        builder.Command(32, {});
    }
    return builder;
}

// A program calling each name in `calls` in the included programs.
ScriptProgramBuilder Caller(const std::vector<std::string>& includes,
                            const std::vector<std::string>& calls) {
    ScriptProgramBuilder builder;
    for (const std::string& include : includes) {
        builder.AddInclude(include);
    }
    for (const std::string& call : calls) {
        const uint32_t at = builder.Here();
        builder.AddFixup(call, ProgramValue::Of(at + 1), ProgramValue::Of(at + 4));
        builder.Command(22, {ProgramValue::Of(Unresolved), ProgramValue::Of(0), ProgramValue::Of(0),
                             ProgramValue::Of(0)});
    }
    builder.Command(32, {});
    return builder;
}

TEST_F(ScriptProgramTest, LinkingResolvesExportsInIncludeOrderAndWarnsOnce) {
    ScriptResource* alone = WriteAndLoad(Library("jump", 2), "alone");
    EXPECT_EQ(alone->GetLinkState(), static_cast<uint32_t>(ScriptLinked));
    ScriptResource* first = WriteAndLoad(Library("jump", 1), "first");
    ScriptResource* second = WriteAndLoad(Library("jump", 3), "second");
    log_.Clear();
    ScriptResource* caller = WriteAndLoad(Caller({"first", "second"}, {"JUMP"}), "caller");
    EXPECT_EQ(caller->GetLinkState(), static_cast<uint32_t>(ScriptLinked));
    EXPECT_EQ(FindLoadedProgram("caller"), caller);
    EXPECT_EQ(FindLoadedProgram("Caller"), nullptr); // script names keep their case
    EXPECT_EQ(caller->GetCode()[1], 3u);
    EXPECT_EQ(caller->GetCode()[4], StringWordSum("second"));
    int warnings = 0;
    for (const auto& line : log_.Lines()) {
        warnings += line.text == "Warning: multiple resolve options on identifier JUMP";
    }
    EXPECT_EQ(warnings, 1);
    // A resolved word is left unless forced.
    caller->EditCode()[4] = 0;
    EXPECT_FALSE(caller->ResolveExterns(false));
    EXPECT_EQ(caller->GetCode()[4], 0u);
    (void)first;
    (void)second;
}

TEST_F(ScriptProgramTest, AnUnresolvedCallStaysUntilItsProgramLoads) {
    ScriptResource* caller = WriteAndLoad(Caller({"later"}, {"run", "private"}), "caller");
    EXPECT_EQ(caller->GetLinkState(), static_cast<uint32_t>(ScriptUnresolved));
    EXPECT_EQ(caller->GetCode()[1], Unresolved);
    ScriptResource* later = WriteAndLoad(Library("run", 2), "later");
    EXPECT_EQ(caller->GetCode()[1], 2u);
    EXPECT_EQ(caller->GetCode()[4], later->GetScriptClass()->GetNameHash());
    // "private" is not exported: still unresolved.
    EXPECT_EQ(caller->GetCode()[6], Unresolved);
    EXPECT_EQ(caller->GetLinkState(), static_cast<uint32_t>(ScriptUnresolved));
    WriteAndLoad(Caller({"later"}, {"run"}), "other");
    ScriptResource* other = loaded_.back();
    EXPECT_EQ(other->GetLinkState(), static_cast<uint32_t>(ScriptLinked));
}

TEST_F(ScriptProgramTest, IncludesLoadedInAnyOrderLinkInTheEnd) {
    ScriptResource* caller = WriteAndLoad(Caller({"late"}, {"go"}), "caller");
    EXPECT_EQ(caller->GetLinkState(), static_cast<uint32_t>(ScriptUnresolved));
    WriteAndLoad(Library("go", 1), "late");
    EXPECT_EQ(caller->GetLinkState(), static_cast<uint32_t>(ScriptLinked));
    EXPECT_EQ(caller->GetCode()[1], 1u);
}

TEST_F(ScriptProgramTest, AReloadedProgramsCallersFollowItsFunctions) {
    ScriptResource* library = WriteAndLoad(Library("go", 1), "library");
    ScriptResource* caller = WriteAndLoad(Caller({"library"}, {"go"}), "caller");
    ASSERT_EQ(caller->GetCode()[1], 1u);
    Write(Library("go", 3), "library");
    ASSERT_TRUE(library->Load());
    EXPECT_EQ(caller->GetCode()[1], 3u);
    EXPECT_EQ(caller->GetLinkState(), static_cast<uint32_t>(ScriptLinked));
}

TEST_F(ScriptProgramTest, FilesAreFoundBesideTheSourceWhateverTheirCase) {
    ScriptProgramBuilder builder = Library("go", 0);
    std::string reason;
    ASSERT_TRUE(builder.Write(temp_.Join("Mixed"), reason));
    std::rename(temp_.Join("Mixed.bin").c_str(), temp_.Join("Mixed.BIN").c_str());
    // No source beside them: a program shipped compiled only.
    ScriptResource* mixed = Load("mixed");
    EXPECT_NE(mixed->GetCode(), nullptr);
    EXPECT_EQ(mixed->FindIdentifier("go"), 0);

    Write(builder, "stale");
    SetFileTime("stale.bin", 500);
    ScriptResource* stale = Load("stale");
    EXPECT_EQ(stale->GetCode(), nullptr);
    EXPECT_EQ(stale->GetLinkState(), static_cast<uint32_t>(ScriptNotLinked));
    EXPECT_EQ(stale->GetState(), ScriptResource::ProgramLoaded);

    ScriptResource* missing = Load("missing");
    EXPECT_EQ(missing->GetCode(), nullptr);
    EXPECT_EQ(missing->GetState() & ResourcePlaceholder, ResourcePlaceholder);
    EXPECT_TRUE(log_.Contains("missing.script"));
}

TEST_F(ScriptProgramTest, TheLineOfAnOffsetCountsTheTableEntriesUpToIt) {
    ScriptProgramBuilder builder;
    builder.Command(32, {});
    builder.MarkLine(); // line 2 at 1
    builder.Command(0, {ProgramValue::Of(5)});
    builder.MarkLine(); // line 3 at 3
    builder.MarkLine(); // line 4 at 3 too
    builder.Command(32, {});
    ScriptResource* program = WriteAndLoad(builder, "lines");
    const std::pair<uint32_t, int32_t> cases[] = {{0, 1}, {1, 2}, {2, 2}, {3, 4}, {4, 4}, {99, 4}};
    for (const auto& [offset, line] : cases) {
        EXPECT_EQ(program->GetLineOfOffset(offset), line) << offset;
    }
    ScriptProgramBuilder empty;
    empty.Command(32, {});
    EXPECT_EQ(WriteAndLoad(empty, "empty")->GetLineOfOffset(0), 1);
    Write(empty, "nosym");
    std::remove(temp_.Join("nosym.sym").c_str());
    ScriptResource* bare = Load("nosym");
    ASSERT_NE(bare->GetCode(), nullptr);
    EXPECT_FALSE(bare->HasLineTable());
    EXPECT_EQ(bare->GetLineOfOffset(7), -7);
}

TEST_F(ScriptProgramTest, SourceLinesNameTheFileLineOfEachOffsetBesideTheMarks) {
    ScriptProgramBuilder builder;
    builder.Command(32, {});
    builder.MarkLine(); // line 2 at 1
    builder.Command(0, {ProgramValue::Of(5)});
    builder.Command(32, {});
    builder.SetSource("game.asm", {{0, 10}, {1, 12}, {3, 15}});
    ScriptResource* program = WriteAndLoad(builder, "sourced");
    EXPECT_EQ(program->GetSourceFile(), "game.asm");
    const std::pair<uint32_t, int32_t> cases[] = {{0, 10}, {1, 12}, {2, 12}, {3, 15}, {99, 15}};
    for (const auto& [offset, line] : cases) {
        EXPECT_EQ(program->GetSourceLine(offset), line) << offset;
    }
    EXPECT_EQ(program->GetLineOfOffset(3), 2) << "the marks count as before";
    EXPECT_EQ(program->DescribeOffset(2), "game.asm:12");
    const std::pair<int32_t, int64_t> starts[] = {{12, 1}, {15, 3}, {11, -1}, {0, -1}};
    for (const auto& [line, offset] : starts) {
        EXPECT_EQ(program->GetSourceLineStart(line), offset) << line;
    }

    // A program that names no source counts its marks, as every older one does.
    builder.SetSource("", {{0, 10}});
    ScriptResource* marked = WriteAndLoad(builder, "marked");
    EXPECT_EQ(marked->GetSourceLine(3), 2);
    EXPECT_EQ(marked->DescribeOffset(3), "line 2");
    EXPECT_EQ(marked->GetSourceLineStart(2), 1);
}

// The source lines follow the line table behind a tag: a file without them, or with other
// bytes there, reads as it always did; a broken section is refused.
TEST(ScriptSymbolFile, SourceLinesAreReadOnlyBehindTheirTagAndMustRiseThroughTheCode) {
    ScriptSymbols plain;
    plain.lines = {2};
    ScriptSymbols sourced = plain;
    sourced.sourceFile = "game.asm";
    sourced.sourceLines = {{0, 3}, {2, 7}};
    ScriptSymbols read;
    std::string reason;
    ASSERT_TRUE(ReadScriptSymbols(WriteScriptSymbols(sourced), 4, read, reason)) << reason;
    EXPECT_EQ(read.sourceFile, "game.asm");
    EXPECT_EQ(read.sourceLines, sourced.sourceLines);

    std::vector<uint8_t> older = WriteScriptSymbols(plain);
    older.insert(older.end(), {'j', 'u', 'n', 'k', 0});
    ASSERT_TRUE(ReadScriptSymbols(older, 4, read, reason)) << reason;
    EXPECT_EQ(read.sourceFile, "");
    EXPECT_TRUE(read.sourceLines.empty());

    const std::vector<ScriptSourceLine> broken[] = {
        {{1, 3}}, {{0, 3}, {0, 4}}, {{0, 3}, {4, 4}}};
    for (const auto& lines : broken) {
        ScriptSymbols bad = sourced;
        bad.sourceLines = lines;
        EXPECT_FALSE(ReadScriptSymbols(WriteScriptSymbols(bad), 4, read, reason));
        EXPECT_EQ(reason, "the source lines do not start at 0 and rise through the code");
    }
    std::vector<uint8_t> cut = WriteScriptSymbols(sourced);
    cut.resize(cut.size() - 5);
    EXPECT_FALSE(ReadScriptSymbols(cut, 4, read, reason));
}

// The member classes follow behind a tag of their own, with or without source lines; they must
// rise through the code and name classes.
TEST(ScriptSymbolFile, MemberClassesAreReadBehindTheirTagAndMustRiseThroughTheCode) {
    const int32_t someClass = ClassTypeBase + 3;
    for (const char* source : {"", "game.asm"}) {
        ScriptSymbols symbols;
        symbols.lines = {2};
        symbols.sourceFile = source;
        symbols.sourceLines = {{0, 3}};
        symbols.memberClasses = {{1, someClass}, {3, someClass + 1}};
        ScriptSymbols read;
        std::string reason;
        ASSERT_TRUE(ReadScriptSymbols(WriteScriptSymbols(symbols), 4, read, reason)) << reason;
        EXPECT_EQ(read.memberClasses, symbols.memberClasses);
        EXPECT_EQ(read.sourceFile, source);
    }
    const std::pair<std::vector<ScriptMemberClass>, const char*> broken[] = {
        {{{4, someClass}}, "the member classes do not rise through the code"},
        {{{2, someClass}, {2, someClass}}, "the member classes do not rise through the code"},
        {{{1, TypeInt}}, "a member class is no class type"},
    };
    for (const auto& [classes, expected] : broken) {
        ScriptSymbols bad;
        bad.memberClasses = classes;
        ScriptSymbols read;
        std::string reason;
        EXPECT_FALSE(ReadScriptSymbols(WriteScriptSymbols(bad), 4, read, reason));
        EXPECT_EQ(reason, expected);
    }
}

TEST_F(ScriptProgramTest, AFreedProgramsCodeBlockIsReusedByTheNextLoad) {
    // Where no block was given back before: a smaller one of another test would be taken first.
    test::ExpectInFreshProcess([this] {
        ScriptResource* first = WriteAndLoad(Library("go", 3), "first");
        const TextWord block = first->GetCodeTextWord();
        first->Release();
        loaded_.clear();
        EXPECT_EQ(FindLoadedProgram("first"), nullptr);
        EXPECT_STREQ(LookupText(block), "");
        ScriptResource* second = WriteAndLoad(Library("go", 3), "second");
        EXPECT_EQ(second->GetCodeTextWord(), block);
    });
}

// Symbol bytes from words and texts, for files no assembler writes.
struct RawSymbols {
    std::vector<uint8_t> bytes;
    RawSymbols& Word(uint32_t word) {
        uint8_t data[4];
        WriteLittleEndian32(data, word);
        bytes.insert(bytes.end(), data, data + 4);
        return *this;
    }
    RawSymbols& Text(const std::string& text) {
        bytes.insert(bytes.end(), text.begin(), text.end());
        return *this;
    }
};

TEST_F(ScriptProgramTest, HostileFilesLoadWithoutCode) {
    ScriptCode code;
    code.words = {32, 32};
    const std::vector<uint8_t> goodCode = WriteScriptCode(code);
    auto symbolsWith = [](auto change) {
        ScriptSymbols symbols;
        ScriptIdentifier function;
        function.name = "f";
        function.type = TypeFunction;
        symbols.globals.push_back(function);
        change(symbols);
        return WriteScriptSymbols(symbols);
    };
    struct Case {
        const char* name;
        std::vector<uint8_t> code;
        std::vector<uint8_t> symbols;
        const char* reason;
    };
    // Two public variables of one name without case; one named as a Script node's property.
    auto publicNamed = [&](const char* first, const char* second, uint32_t kind) {
        return symbolsWith([&](ScriptSymbols& s) {
            for (const char* name : {first, second}) {
                ScriptIdentifier variable;
                variable.name = name;
                variable.type = TypeInt;
                variable.kind = kind;
                variable.offset = static_cast<uint32_t>(s.globals.size() - 1);
                s.globals.push_back(variable);
            }
        });
    };
    ScriptCode hugeStack = code;
    hugeStack.stackSize = 0xFFFFFFFF;
    const Case cases[] = {
        {"short", std::vector<uint8_t>(7, 1), {}, "shorter than its 12-byte header"},
        {"stack", WriteScriptCode(hugeStack), {}, "stack size"},
        {"globals", goodCode, RawSymbols().Word(100000).bytes, "count is larger"},
        {"locals", goodCode, RawSymbols().Word(0).Word(0xFFFFFFFF).bytes, "count is larger"},
        {"includes", goodCode, RawSymbols().Word(0).Word(0).Word(5).Text("ab").bytes,
         "count is larger"},
        {"fixups", goodCode, RawSymbols().Word(0).Word(0).Word(0).Word(2).Word(0).bytes,
         "count is larger"},
        {"lines", goodCode, RawSymbols().Word(0).Word(0).Word(0).Word(0).Word(3).Word(1).bytes,
         "count is larger"},
        {"text", goodCode, RawSymbols().Word(1).Text(std::string(60, 'x')).bytes, "text runs past"},
        {"parameters", goodCode,
         symbolsWith([](ScriptSymbols& s) { s.globals[0].parameterTypes.assign(17, TypeInt); }),
         "more than 16 parameters"},
        {"entry", goodCode, symbolsWith([](ScriptSymbols& s) { s.globals[0].offset = 2; }),
         "function starts outside"},
        {"variable", goodCode, symbolsWith([](ScriptSymbols& s) {
             ScriptIdentifier variable;
             variable.type = TypeInt;
             variable.offset = 1;
             s.globals.push_back(variable);
         }),
         "variable lies outside"},
        {"array", goodCode, symbolsWith([](ScriptSymbols& s) {
             ScriptIdentifier variable;
             variable.type = TypeArray;
             variable.elementType = TypeString64;
             variable.arrayCount = 0xFFFFFFFF;
             s.globals.push_back(variable);
         }),
         "more than 1048576 words"},
        {"fixup", goodCode, symbolsWith([](ScriptSymbols& s) {
             s.fixups.push_back({"g", 2, 0});
         }),
         "fixup's word lies outside"},
        {"hash", goodCode, symbolsWith([](ScriptSymbols& s) {
             s.fixups.push_back({"g", 0, 9});
         }),
         "fixup's word lies outside"},
        {"public", goodCode, publicNamed("status", "Status", IdentifierPublicVariable),
         "two public variables are named \"Status\" (globals 2 and 3)"},
        {"inherited", goodCode, publicNamed("score", "Flags", IdentifierPublicVariable),
         "the public variable \"Flags\" takes the name of the property \"flags\" every Script "
         "node has"},
        {"unsaved", goodCode, publicNamed("score", "high score", IdentifierPublicVariable),
         "the public variable \"high score\" (global 3) is no name a scene can hold"},
        {"record", goodCode,
         RawSymbols().Word(1).Text(std::string("a\0b\0c\0", 6)).Text(std::string(45, 'z')).bytes,
         "ends inside a record"},
    };
    for (const Case& c : cases) {
        const std::string name = c.name;
        temp_.WriteFile(name + ".bin", Bytes(c.code));
        temp_.WriteFile(name + ".sym", Bytes(c.symbols));
        log_.Clear();
        ScriptResource* program = Load(name);
        EXPECT_EQ(program->GetCode(), nullptr) << name;
        EXPECT_EQ(program->GetLinkState(), static_cast<uint32_t>(ScriptNotLinked)) << name;
        ASSERT_EQ(log_.Lines().size(), 1u) << name;
        EXPECT_NE(log_.Lines()[0].text.find(c.reason), std::string::npos)
            << name << ": " << log_.Lines()[0].text;
        EXPECT_NE(log_.Lines()[0].text.find(name + "."), std::string::npos) << name;
    }
    // Private variables are no properties: their names may meet anything.
    temp_.WriteFile("private.bin", Bytes(goodCode));
    temp_.WriteFile("private.sym",
                    Bytes(publicNamed("flags", "Flags", IdentifierInstanceVariable)));
    EXPECT_NE(Load("private")->GetCode(), nullptr);
    temp_.WriteFile("spaced.bin", Bytes(goodCode));
    temp_.WriteFile("spaced.sym", Bytes(publicNamed("a b", "x=y", IdentifierInstanceVariable)));
    EXPECT_NE(Load("spaced")->GetCode(), nullptr);
}

} // namespace
} // namespace quarn
