#include "tools/ScriptAssembler.h"

#include "core/object/ClassInfo.h"
#include "core/object/Property.h"
#include "core/scene/Node.h"
#include "script/machine/ScriptCommands.h"
#include "script/machine/ScriptNodeClass.h"
#include "script/machine/ScriptValueType.h"
#include "tests/script/machine/ScriptTestSupport.h"

#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

using test::ScriptProgramTest;

// Every statement of the text form at least once.
constexpr const char* EveryStatement = R"asm(; a program using every statement
header 3 0x10000
stack 64
include "library"
var "count" int
var "title" string64 kind=2 decl="string64 title default=\"hi\"" hint="edit"
var "grid" array count=3 elem=float3
var "target" entity kind=2 hint="signal" w0=1 w6=6 w10=10 link=9
var "fixed" int offset=27
function "main" (int, float3):float at=@main export decl="float main(int n, float3 v)"
function "idle" () at=@idle state port
local "i" int first=@main last=@done
local "v" float3 first=@main last=@done
fixup "Jump" word=@call+1 hash=@call+4
main:
    line
    push -5
    pushf 1.5
    text "a \"quoted\" text\x01"
    jumpifnot done
    call @idle
call:
    extcall 0xFFFFFFFF 0 0 0
    push prop:Node.name
    method method:Node.aaw 1
    op 0x20003
    word 0x12345678
    99 100
done:
    line
    return 0 1
idle:
    end
)asm";

class ScriptAssemblerTest : public ScriptProgramTest {
protected:
    void SetUp() override {
        ScriptProgramTest::SetUp();
        Node::RegisterClass();
    }
    // The error of a text the assembler refuses.
    static std::string Refusal(const std::string& source) {
        ScriptProgramBuilder builder;
        std::string error;
        EXPECT_FALSE(AssembleScript(source, builder, error)) << source;
        return error;
    }
    // Assembles a text into NAME.bin / NAME.sym; returns their bytes.
    std::string Assemble(const std::string& source, const std::string& name,
                         const ScriptAssemblyOptions& options = {}) {
        ScriptProgramBuilder builder;
        std::string error;
        EXPECT_TRUE(AssembleScript(source, builder, error, options)) << error;
        Write(builder, name);
        return temp_.ReadFile(name + ".bin") + "|" + temp_.ReadFile(name + ".sym");
    }
};

TEST_F(ScriptAssemblerTest, DisassembledProgramsAssembleIntoTheSameFiles) {
    const std::string files = Assemble(EveryStatement, "every");
    ScriptResource* program = Load("every");
    ASSERT_NE(program->GetCode(), nullptr);
    EXPECT_EQ(program->GetSymbols().globals[4].offset, 27u);
    EXPECT_EQ(program->GetSymbols().globals[1].type, TypeString64Alias);
    EXPECT_EQ(program->GetSymbols().locals[1].offset, 1u);
    EXPECT_EQ(program->GetCode()[1], 0xFFFFFFFBu); // push -5
    const std::string text = DisassembleScript(*program);
    EXPECT_NE(text.find("call @L"), std::string::npos) << text;
    EXPECT_NE(text.find("; 14 line 2 Jump"), std::string::npos) << text;
    EXPECT_EQ(Assemble(text, "again"), files) << text;
    // And once more from the second program: the text is stable.
    EXPECT_EQ(DisassembleScript(*Load("again")).substr(text.find('\n')),
              text.substr(text.find('\n')));
}

// A program that keeps its source lines prints them as they stand, and each command's
// FILE:LINE beside it; the text assembles into the same files wherever its own lines fall.
TEST_F(ScriptAssemblerTest, SourceLinesComeBackAsTheyStand) {
    ScriptAssemblyOptions options;
    options.sourceName = "every.asm";
    const std::string files = Assemble(EveryStatement, "sourced", options);
    ScriptResource* program = Load("sourced");
    EXPECT_EQ(program->GetSourceFile(), "every.asm");
    EXPECT_EQ(program->GetSourceLine(0), 17) << "push -5";
    const std::string text = DisassembleScript(*program);
    EXPECT_NE(text.find("source \"every.asm\"\nsourcelines 0:17 2:18 "), std::string::npos)
        << text;
    EXPECT_NE(text.find("; 0 line 2 every.asm:17\n"), std::string::npos) << text;
    EXPECT_EQ(Assemble(text, "again", options), files) << text;
}

// A float literal is pushed by pushf, which the disassembler prints as a float again.
TEST_F(ScriptAssemblerTest, AFloatLiteralIsPushedAsAFloat) {
    Assemble("push 2.5\npush 3\npushf 0x7FC00000\nend\n", "floats");
    ScriptResource* program = Load("floats");
    const std::vector<uint32_t> code(program->GetCode(), program->GetCode() + 7);
    EXPECT_EQ(code, (std::vector<uint32_t>{1, 0x40200000, 0, 3, 1, 0x7FC00000, 32}));
    const std::string text = DisassembleScript(*program);
    EXPECT_NE(text.find("pushf 2.5 "), std::string::npos) << text;
    EXPECT_NE(text.find("pushf 0x7FC00000 "), std::string::npos) << text;
}

// The assembler and the disassembler read the machine's one list of commands: each is written
// with its list number and operand words and read back under its mnemonic. The machine's side,
// each command run by its mnemonic, is ScriptMachineTest.EachCommandLeavesItsStack.
TEST_F(ScriptAssemblerTest, EveryListedCommandAssemblesToItsNumberAndComesBackByName) {
    namespace command = script_command;
    std::string source;
    for (uint32_t c = 0; c < command::Count; ++c) {
        source += command::Mnemonics[c];
        if (c == command::PushText) {
            source += " \"abc\"";
        } else {
            for (uint32_t k = 0; k < command::OperandWords[c]; ++k) {
                source += c == command::Operator ? " 0x20003" : " 0";
            }
        }
        source += "\n";
    }
    Assemble(source, "every");
    ScriptResource* program = Load("every");
    ASSERT_NE(program->GetCode(), nullptr);
    const std::string text = DisassembleScript(*program);
    uint32_t offset = 0;
    for (uint32_t c = 0; c < command::Count; ++c) {
        ASSERT_LT(offset, program->GetCodeSize()) << command::Mnemonics[c];
        EXPECT_EQ(program->GetCode()[offset], c) << command::Mnemonics[c];
        offset += 1 + (c == command::PushText ? 1 : command::OperandWords[c]);
        EXPECT_NE(text.find(std::string("\n    ") + command::Mnemonics[c] +
                            (c == command::PushText || command::OperandWords[c] ? " " : "")),
                  std::string::npos)
            << command::Mnemonics[c] << "\n"
            << text;
    }
    EXPECT_EQ(offset, program->GetCodeSize());
}

TEST_F(ScriptAssemblerTest, WordsThatDecodeAsNothingComeBackRaw) {
    // A text whose padding is not zero, a command past 33, a return cut short by the end, and
    // a line table no marks could make.
    const std::string source = "word 2 0x41004141 0x42\nword 34\nlines 9 1\nword 29 0\n";
    const std::string files = Assemble(source, "raw");
    const std::string text = DisassembleScript(*Load("raw"));
    EXPECT_NE(text.find("lines 9 1"), std::string::npos) << text;
    EXPECT_EQ(Assemble(text, "again"), files) << text;
}

TEST_F(ScriptAssemblerTest, OperatorsAreFoundByTypeAndSignature) {
    CreateValueType("int", 1, TypeInt);
    CreateValueType("bool", 1, TypeBool);
    AddValueTypeKeywords();
    ScriptValueType* type = GetScriptValueType(TypeInt);
    type->AddOperator("+(int):int", 0, nullptr, 0);
    type->AddOperator("==(int):bool", 1, nullptr, 0);
    ScriptProgramBuilder builder;
    std::string error;
    ASSERT_TRUE(AssembleScript("op int \"==(int):bool\"\nend\n", builder, error)) << error;
    Write(builder, "ops");
    ScriptResource* program = Load("ops");
    EXPECT_EQ(program->GetCode()[1], 0x10001u);
    EXPECT_NE(DisassembleScript(*program).find("int =="), std::string::npos);
    EXPECT_FALSE(AssembleScript("op int \"-(int):int\"\n", builder, error));
    EXPECT_EQ(error, "1: int has no operator \"-(int):int\"");
    DeleteAllValueTypes();
    ResetScriptKeywordTable();
}

TEST_F(ScriptAssemblerTest, TheFirstErrorIsReportedWithItsLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"push", "1: push takes 1 operand"},
        {"end\nfly 3", "2: unknown command \"fly\""},
        {"push x", "1: \"x\" is not a number"},
        {"text \"open", "1: a text has no closing quote"},
        {"var count int", "1: var needs a quoted name"},
        {"var \"c\" colour", "1: unknown type \"colour\""},
        {"function \"f\" ():int", "1: a function needs at=OFFSET"},
        {"function \"f\" int at=0", "1: a function needs its parameters as (TYPE, ...)"},
        {"a:\na:", "2: label \"a\" is placed twice"},
        {"end\njump nowhere\n", "2: label \"nowhere\" is never placed"},
        {"push prop:Node.colour", "1: Node has no property \"colour\""},
        {"push method:Nobody.x", "1: unknown class \"Nobody\""},
        {"push method:Node.SetEnabled",
         "1: Node has no method \"SetEnabled\": the reference's SetEnabled is method:Node.aaw"},
        {"line\nlines 1", "2: a program takes line marks or one lines table, not both"},
        {"var \"v\" int weight=3", "1: unknown key \"weight\""},
        {"fixup \"f\" hash=0", "1: fixup needs word=VALUE"},
        {"source x", "1: source takes one quoted name"},
        {"source \"a\\x00b\"", "1: a text cannot hold a NUL byte"},
        {"end\ninclude \"\\x00\"", "2: a text cannot hold a NUL byte"},
        {"sourcelines 0:0", "1: sourcelines takes OFFSET:LINE pairs, lines from 1"},
        {"sourcelines 1:2", "1: source lines start at offset 0 and rise"},
        {"sourcelines 0:2\nsourcelines 0:3", "2: source lines start at offset 0 and rise"},
        {"sourcelines 0:1 5:2\nend", "1: a source line starts past the code"},
        {"var \"arr\" float3 count=4",
         "1: \"arr\" is no array (its type is float3): write var \"arr\" array elem=float3 "
         "count=4"},
        {"local \"l\" int count=2",
         "1: \"l\" is no array (its type is int): write local \"l\" array elem=int count=2"},
        {"members 0:int", "1: members takes OFFSET:CLASS pairs"},
        {"members 0", "1: members takes OFFSET:CLASS pairs"},
        {"members 1:Node 1:Node", "1: member offsets rise"},
        {"members 3:Node\nend", "1: a member offset lies past the code"},
        {"text \"a\\rb\"",
         "1: a text has an unknown escape \"\\r\": a text takes \\n (a line break), \\t (a tab), "
         "\\\", \\\\ and \\xHH (the byte of two hexadecimal digits)"},
        {"text \"\\x4\"", "1: a text has an unknown escape \"\\x\": a text takes \\n (a line "
                          "break), \\t (a tab), \\\", \\\\ and \\xHH (the byte of two "
                          "hexadecimal digits)"},
    };
    for (const auto& [source, expected] : cases) {
        EXPECT_EQ(Refusal(source), expected) << source;
    }
}

TEST_F(ScriptAssemblerTest, ALineBreakAndATabAreEscapesOfTheirOwn) {
    Assemble("text \"a\\nb\\tc\\\\n\\x0A\"\nend\n", "escapes");
    EXPECT_STREQ(reinterpret_cast<const char*>(Load("escapes")->GetCode() + 1), "a\nb\tc\\n\n");
}

// Globals share one name space, as the loader and a scene's properties tell names apart: every
// pairing of variable, public variable, output port, function and port function is refused at
// its second declaration, naming both lines; so are locals of one name over the same code.
TEST_F(ScriptAssemblerTest, ANameDeclaredTwiceIsRefusedNamingBothLines) {
    RegisterScriptNodeClass();
    const std::string long31(31, 'n');
    const std::pair<std::string, std::string> cases[] = {
        {"var \"status\" int kind=2\nvar \"status\" int kind=2",
         "2: \"status\" is declared twice: a public variable on line 1 and a public variable on "
         "line 2"},
        {"var \"status\" Node kind=2\nvar \"count\" int\n; a comment\nvar \"status\" int",
         "4: \"status\" is declared twice: a public variable on line 1 and a variable on line 4"},
        {"var \"n\" int\nvar \"n\" int kind=2",
         "2: \"n\" is declared twice: a variable on line 1 and a public variable on line 2"},
        {"var \"f\" float\nfunction \"f\" () at=0",
         "2: \"f\" is declared twice: a variable on line 1 and a function on line 2"},
        {"function \"f\" () at=0\nvar \"f\" float kind=2",
         "2: \"f\" is declared twice: a function on line 1 and a public variable on line 2"},
        {"function \"f\" () at=0\nfunction \"f\" (int) at=0 state",
         "2: \"f\" is declared twice: a function on line 1 and a function on line 2"},
        {"var \"out\" entity kind=2 hint=\"signal\"\nfunction \"out\" (entity) at=0 port",
         "2: \"out\" is declared twice: an output port on line 1 and a port function on line 2"},
        {"function \"hit\" () at=0 port\n\nvar \"hit\" entity kind=2 hint=\"signal\"",
         "3: \"hit\" is declared twice: a port function on line 1 and an output port on line 3"},
        {"var \"Score\" int kind=2\nvar \"score\" float",
         "2: \"Score\" (a public variable on line 1) and \"score\" (a variable on line 2) are one "
         "name: names are told apart without case, by their first 31 characters"},
        {"var \"" + long31 + "a\" int kind=2\nvar \"" + long31 + "b\" int kind=2",
         "2: \"" + long31 + "a\" (a public variable on line 1) and \"" + long31 +
             "b\" (a public variable on line 2) are one name: names are told apart without case, "
             "by their first 31 characters"},
        {"var \"Name\" string64 kind=2",
         "1: public variable \"Name\" takes the name of the property \"name\" every Script node "
         "has"},
        {"var \"scriptfile\" int kind=2",
         "1: public variable \"scriptfile\" takes the name of the property \"scriptfile\" every "
         "Script node has"},
        {"local \"i\" int first=@a last=@b\nlocal \"I\" float first=@b last=@c\na:\nb:\nend\nc:",
         "2: local \"I\" is declared twice over the same code: on line 1 and on line 2"},
        {"local \"i\" int first=@a last=@c\nlocal \"j\" int first=@a last=@c\n"
         "local \"i\" int first=@b last=@b\na:\nend\nb:\nend\nc:",
         "3: local \"i\" is declared twice over the same code: on line 1 and on line 3"},
    };
    for (const auto& [source, expected] : cases) {
        EXPECT_EQ(Refusal(source), expected) << source;
    }
    // A private variable may be named as a Script node's property, a local as a global, and
    // locals of one name over code apart.
    ScriptProgramBuilder builder;
    std::string error;
    EXPECT_TRUE(AssembleScript("var \"name\" int\nvar \"i\" int\nlocal \"i\" int first=@a "
                               "last=@a\nlocal \"i\" float first=@b last=@b\na:\nend\nb:\nend\n",
                               builder, error))
        << error;
}

// A public variable is saved as a line "NAME = VALUE" of its node's block, which a scene reads
// back only for an identifier: any other name would lose its value (and the next ones', or cut
// the file short) at the next load. Private variables and functions are saved by no scene.
TEST_F(ScriptAssemblerTest, APublicNameASceneCannotHoldIsRefused) {
    RegisterScriptNodeClass();
    for (const char* name : {"a b", "", "x=y", "q\\\"q", "line\\nbreak", "}", "trail ", "9lives",
                             "a-b", "\\xC3\\xBCber"}) {
        for (const char* form : {"int kind=2", "entity kind=2 hint=\"signal\""}) {
            const std::string source =
                std::string("var \"ok\" int kind=2\nvar \"") + name + "\" " + form;
            ScriptProgramBuilder builder;
            std::string error;
            EXPECT_FALSE(AssembleScript(source, builder, error)) << source;
            EXPECT_TRUE(error.starts_with("2: public variable \"")) << error;
            EXPECT_TRUE(error.ends_with("\" is no name a scene can hold (a letter or '_', then "
                                        "letters, digits and '_')"))
                << error;
        }
    }
    ScriptProgramBuilder builder;
    std::string error;
    EXPECT_TRUE(AssembleScript("var \"_Obj9\" int kind=2\nvar \"a b\" int\n"
                               "function \"x=y\" () at=0\nend\n",
                               builder, error))
        << error;
}

TEST_F(ScriptAssemblerTest, ClassMembersResolveToTheirIndexInTheChain) {
    ScriptProgramBuilder builder;
    std::string error;
    ASSERT_TRUE(AssembleScript("push prop:Node.name\nvar \"n\" Node\nend\n", builder, error))
        << error;
    Write(builder, "members");
    ScriptResource* program = Load("members");
    EXPECT_EQ(program->GetCode()[1],
              static_cast<uint32_t>(Node::RegisterClass()->FindProperty("name")->GetIndex()));
    EXPECT_EQ(program->GetSymbols().globals[0].type,
              ClassTypeBase + Node::RegisterClass()->GetClassNumber());
}

// The type check records the class that lists each member a getprop, setprop or method
// reaches; the disassembled text gives them back, and a text that records none keeps none.
TEST_F(ScriptAssemblerTest, TheClassThatListsEachMemberIsRecordedAndComesBack) {
    constexpr const char* Reads = R"asm(var "n" Node
function "f" () at=@f
f:
    push 0
    load 1
    push prop:Node.name
    getprop
    drop 1
    push 0
    load 1
    push prop:Node.parent
    getprop
    drop 1
    return 0 0
)asm";
    ScriptAssemblyOptions checked;
    checked.checkTypes = true;
    const std::string files = Assemble(Reads, "checked", checked);
    ScriptResource* program = Load("checked");
    const int32_t entity = ClassTypeBase + Entity::RegisterClass()->GetClassNumber();
    const int32_t node = ClassTypeBase + Node::RegisterClass()->GetClassNumber();
    EXPECT_EQ(program->GetSymbols().memberClasses,
              (std::vector<ScriptMemberClass>{{6, entity}, {15, node}}));
    EXPECT_EQ(program->GetMemberClassType(6), entity);
    EXPECT_EQ(program->GetMemberClassType(7), 0);
    const std::string text = DisassembleScript(*program);
    EXPECT_NE(text.find("\nmembers 6:Entity 15:Node\n"), std::string::npos) << text;
    EXPECT_EQ(Assemble(text, "again", checked), files) << text;

    Assemble(Reads, "unchecked");
    const std::string none = DisassembleScript(*Load("unchecked"));
    EXPECT_NE(none.find("\nmembers\n"), std::string::npos) << none;
    Assemble(none, "still", checked);
    EXPECT_TRUE(Load("still")->GetSymbols().memberClasses.empty());
}

} // namespace
} // namespace quarn
