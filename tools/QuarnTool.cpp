// quarn-tool: developer commands over the engine's own file layer, so what it prints is what
// the engine reads. Its output is stable (tests and scripts compare it byte for byte); the
// help text below is its documentation.

#include "app/ClassRegistration.h"
#include "app/platform/Platform.h"
#include "app/platform/SdlPlatform.h"
#include "app/platform/StopSignal.h"
#include "app/player/Engine.h"
#include "app/player/InputScript.h"
#include "app/player/SceneCommands.h"
#include "codecs/ImageCodec.h"
#include "codecs/PngCodec.h"
#include "codecs/PngEncoder.h"
#include "core/debug/Log.h"
#include "core/debug/Validity.h"
#include "core/filesystem/DataFolders.h"
#include "core/filesystem/DiskFileSystem.h"
#include "core/filesystem/FileReader.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/ScriptFileAccess.h"
#include "core/filesystem/SettingsFile.h"
#include "core/io/OutputStream.h"
#include "core/object/ClassInfo.h"
#include "core/object/Property.h"
#include "core/object/ValueBinding.h"
#include "core/scene/Node.h"
#include "core/scenefile/SceneCompactFormat.h"
#include "core/scenefile/SceneLoader.h"
#include "core/scenefile/SceneSaver.h"
#include "core/string/NumberText.h"
#include "core/string/Text.h"
#include "device/GpuRenderDevice.h"
#include "device/ImageTexture.h"
#include "render/ParticleEmitter.h"
#include "resources/DataBaseResource.h"
#include "resources/FontNew.h"
#include "resources/GridDataResource.h"
#include "resources/Mesh.h"
#include "resources/MeshText.h"
#include "script/machine/ScriptContext.h"
#include "script/machine/ScriptLibrary.h"
#include "tools/ContactsTool.h"
#include "tools/EditorShotTool.h"
#include "tools/GamePacker.h"
#include "tools/GridDataTool.h"
#include "tools/HeadlessPlayer.h"
#include "tools/HttpGetTool.h"
#include "tools/LcpTool.h"
#include "tools/LightMapTool.h"
#include "tools/PairsTool.h"
#include "tools/ScriptReferenceGuide.h"
#include "tools/ScriptTool.h"
#include "tools/ShaderTool.h"
#include "tools/SimulateTool.h"
#include "tools/ToolOptions.h"
#include "tools/ToolScene.h"
#include "tools/ToolStatus.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace quarn {
namespace {

// stdout as the engine's output stream, so commands print through the same writers that save
// files.
class StandardOutputStream final : public OutputStream {
public:
    int VPrintf(const char* format, va_list arguments) override QUARN_PRINTF(2, 0) {
        int count = std::vfprintf(stdout, format, arguments);
        position_ += count > 0 ? static_cast<uint32_t>(count) : 0u;
        return count;
    }
    void PutChar(int byte) override {
        if (std::fputc(byte, stdout) != EOF) {
            ++position_;
        }
    }
    uint32_t Write(const void* data, uint32_t count) override {
        uint32_t written = static_cast<uint32_t>(std::fwrite(data, 1, count, stdout));
        position_ += written;
        return written;
    }
    void Flush() override { std::fflush(stdout); }
    uint32_t Tell() override { return position_; }
    // False when anything failed to reach stdout (a closed pipe, a full disk).
    bool Close() override { return std::fflush(stdout) == 0 && !std::ferror(stdout); }

private:
    uint32_t position_ = 0;
};

// A command that fails once a stop signal came fails for the stop, which says so.
int Fail(const std::string& reason) {
    if (StopRequested()) {
        SayToolStopped();
    } else {
        std::fprintf(stderr, "quarn-tool: %s\n", reason.c_str());
    }
    return ExitFailed;
}

int RunHelp(char** arguments);
int RunCat(char** arguments);
int RunSettings(char** arguments);
int RunClasses(char** arguments);
int RunScene(char** arguments);
int RunImage(char** arguments);
int RunGlyphCache(char** arguments);
int RunRender(char** arguments);
int RunMesh(char** arguments);
int RunTable(char** arguments);
int RunGrid(char** arguments);
int RunGridData(char** arguments);
int RunHttpGet(char** arguments);
int RunPack(char** arguments);
int RunShader(char** arguments);
int RunScript(char** arguments);
int RunContacts(char** arguments);
int RunPairs(char** arguments);
int RunLcp(char** arguments);
int RunSimulate(char** arguments);
int RunEditorShot(char** arguments);
int RunLightMap(char** arguments);

struct Command {
    const char* name;
    const char* arguments; // as the help shows them; one word per argument
    int argumentCount;
    const char* summary;
    // The arguments that follow the given ones are null.
    int (*run)(char** arguments);
    int optionalCount = 0; // arguments that may follow the required ones
    int output = -1;       // the argument naming the one file the command writes, if any
};

constexpr const char* RenderArguments =
    "SCENE --frames N --out SHOT.png [--size WxH] [--step SECONDS]";

// Later commands join this table; the help text is built from it.
constexpr Command Commands[] = {
    {"help", "[script|editor]", 0,
     "print this text (so do --help and -h); \"help script\" tells how scripts run, \"help "
     "editor\" lists the editor's menu commands",
     RunHelp, 1},
    {"cat", "VPATH", 1, "write the bytes of the file at VPATH to stdout", RunCat},
    {"settings", "FILE", 1, "print the settings file FILE as saving it would write it",
     RunSettings},
    {"classes", "", 0, "print the registered classes and script value types", RunClasses},
    {"scene", "IN OUT [--compact]", 2, "load the scene IN and save it as OUT", RunScene, 1, 1},
    {"image", "IN OUT.png", 2, "decode the PNG, BMP or JPEG image IN and save it as OUT.png",
     RunImage, 0, 1},
    {"glyphcache", "FACE SIZE OUT", 3,
     "rasterise the font FACE at SIZE points into the glyph cache OUT.png and OUT.dat",
     RunGlyphCache},
    {"render", RenderArguments, 5,
     "run the player headless on SCENE for N frames and save the last one as SHOT.png", RunRender,
     4},
    {"mesh", "IN [OUT.mesh]", 1,
     "load the mesh IN, print its counts and topology, and save it as OUT.mesh when given", RunMesh,
     1, 1},
    {"table", "IN [OUT.csv]", 1, "print the data table IN; with OUT.csv, save it there", RunTable,
     1, 1},
    {"grid", "IN [OUT]", 1, "print the height grid IN; with OUT, save it in OUT's form", RunGrid, 1,
     1},
    {"griddata", "FILE", 1, "print the grid data file FILE as a GridData node loads it",
     RunGridData},
    {"http-get", "HOST PATH [--port N]", 2,
     "fetch PATH from HOST by a Network node's GET and print the page", RunHttpGet, 2},
    {"pack", "FOLDER OUT.zoo", 2,
     "pack the game in FOLDER into the archive OUT.zoo that quarn runs as data.zoo", RunPack, 0, 1},
    {"shader", "asm IN OUT | dis FILE | syntax", 1,
     "assemble IN into the shader file OUT, print FILE's programs, or print the source form",
     RunShader, 2},
    {"script",
     "asm IN OUT | dis PATH | run PROGRAM [--frames N] [--call NAME [ARG...]] | reference", 1,
     "assemble the program text IN into OUT.bin and OUT.sym, print the program of PATH, run "
     "PROGRAM on a Script node, or print the script reference",
     RunScript, 65},
    {"contacts", "SCENE A B [--max N]", 3,
     "print the contacts of the collision volumes named A and B in SCENE", RunContacts, 2},
    {"pairs", "SCENE", 1, "print the candidate pairs each collision space of SCENE finds", RunPairs},
    {"lcp", "FILE", 1, "solve the complementarity problem in FILE with the physics' LCP solver",
     RunLcp},
    {"simulate", "SCENE --steps N [--every K] [--print NAME]... [--events]", 3,
     "run N steps of the first physics master of SCENE and print the named bodies", RunSimulate,
     64},
    {"editor-shot", "FOLDER OUT.png [--size WxH] [--frames N] [--input FILE]", 2,
     "run the editor headless in FOLDER and save the window's last picture as OUT.png",
     RunEditorShot, 6},
    {"lightmap", "SCENE [--bake] [--spacing D] [--save] [--atlas PATH]", 1,
     "create and update the lightmaps of SCENE as the editor's commands do", RunLightMap, 6},
};

// "name ARGUMENTS", as the help and the usage line show a command.
std::string CommandCall(const Command& command) {
    std::string call = command.name;
    if (*command.arguments) {
        call = call + " " + command.arguments;
    }
    return call;
}

void PrintHelp(FILE* out) {
    std::fputs("usage: quarn-tool COMMAND [ARGUMENT...]\n\ncommands:\n", out);
    int width = 18;
    for (const Command& command : Commands) {
        width = std::max(width, static_cast<int>(CommandCall(command).size()) + 2);
    }
    for (const Command& command : Commands) {
        std::fprintf(out, "  %-*s%s\n", width, CommandCall(command).c_str(), command.summary);
    }
    std::fputs("\n"
               "Paths are the engine's virtual paths: a relative path starts at the current\n"
               "folder, its folders and file found without case when no exact match exists,\n"
               "and it may pass through a \".zip\" or \".zoo\" archive (some.zoo/Dir/File.txt);\n"
               "\"user://\" is the game's own data folder, $XDG_DATA_HOME/Quarn/games/NAME/ (else\n"
               "under ~/.local/share/), NAME being the \"name\" its config.txt gives, else the\n"
               "name of its folder (the folder holding a \"data.zoo\"), each byte that cannot\n"
               "stand in a file name written as '%' and two hexadecimal digits, as the player\n"
               "names it; \"res://\" names the files built into the tool.\n"
               "\n"
               "SIGTERM, SIGINT, SIGHUP and SIGQUIT stop every command as a failure (status\n"
               "1) that says so, \"stopped by a signal\", followed for a command writing OUT by\n"
               "\"; OUT is left as it was\": however far its writing came, a file is left\n"
               "whole or as it was, with no temporary beside it.\n"
               "\n"
               "\"classes\" prints the classes in registration order, one line each, followed\n"
               "by a line per own property and per own script method:\n"
               "  class NAME number=N category=CATEGORY base=BASE flags=N abstract|concrete\n"
               "    property NAME type=TYPE kind=KIND flags=N state=N range=\"RANGE\"\n"
               "    method NAME (TYPE, ...)[:TYPE] flags=N\n"
               "An empty category and a missing base print as \"-\"; numbers are decimal. The\n"
               "order, the class numbers (a script's type of a class reference) and the\n"
               "declarations are what compiled scripts depend on. The script value types\n"
               "follow by type id, each with its components and its operators, methods and\n"
               "conversions by index (kind 0, 1 and 2), then the script keyword table:\n"
               "  valuetype NAME id=N words=N\n"
               "    component NAME type=TYPE word=N\n"
               "    entry INDEX kind=N SIGNATURE\n"
               "  keyword ID TEXT\n"
               "The engine functions scripts call come before the value types, by index, with\n"
               "the constant that takes a generated name among them:\n"
               "  function INDEX NAME SIGNATURE\n"
               "  constant NAME VALUE\n"
               "\n"
               "\"scene\" reads IN as the editor opens a scene (the compact form when its\n"
               "extension is \"scn\" or a branch's \"bscn\", else the text form), as its own\n"
               "game (as \"render\" finds it: what it names and the scripts its load runs are\n"
               "that game's), and writes it as the editor saves one, in the form OUT's name\n"
               "says: compact for \"scn\" or \"bscn\", else text (--compact, which asks for\n"
               "the compact form, is refused for an OUT named otherwise: no loader reads it).\n"
               "Saving a file the tool wrote gives the same bytes again. OUT is replaced only\n"
               "once it is written whole. A scene has one top-level node; IN with several is\n"
               "refused, and so is IN whose parent lines form a cycle. What the engine noted\n"
               "while loading (a class it does not know, a reference it did not find, a block\n"
               "it dropped, a property the object's class lacks or a value that is none of its\n"
               "type, as \"IN: obj4 (Logo): unknown property 'poss' of class Sprite\") is\n"
               "printed on stderr as \"quarn-tool: warning: ...\". A file cut short (it ends\n"
               "inside an object, or holds fewer objects than its header counts) fails, and\n"
               "OUT is not written.\n"
               "\n"
               "\"image\" decodes IN with the engine's image codecs, chosen by its extension\n"
               "(png, bmp, jpg; without case), as a texture loads it, and writes the pixels\n"
               "to OUT with the engine's PNG encoder, whatever OUT's extension. A JPEG larger\n"
               "than 2048 pixels either way is halved until it fits, as for a texture. When\n"
               "IN cannot be decoded the reason is the texture loader's (\"Unknown format\",\n"
               "\"Invalid texture\", \"Load error\"), with the PNG decoder's error number for\n"
               "a PNG. OUT is replaced only once it is written whole.\n"
               "\n"
               "\"glyphcache\" builds a font's glyph cache as the engine would rasterise the font\n"
               "\"res://FACE.ttf\" at SIZE points (regular style): the face found by that name\n"
               "(fontconfig; \"arial\" is Liberation Sans where that is installed), the\n"
               "characters of \"char_set.txt\" in the current folder, else the default set.\n"
               "The engine's own cache of its default font is made with\n"
               "  quarn-tool glyphcache arial 8 res/arial_8\n"
               "Each file is replaced only once it is written whole.\n"
               "\n"
               "\"render\" starts the player as quarn does (settings, window, render device,\n"
               "classes) without a display, sound card or dialogs, opens SCENE (relative to\n"
               "the current folder, or a res:// path; in a packed game, a path in its archive\n"
               "unless only the disk has it) instead of the configuration's \"autorun\", runs N\n"
               "frames (fewer when the scene's root is disabled) and saves the last frame's\n"
               "picture with the engine's PNG encoder. Each frame steps the game by SECONDS\n"
               "(1/60 unless --step says otherwise), not by the time it took, so a scene\n"
               "renders to the same picture every time. With QUARN_INPUT set, its input\n"
               "script plays keys and clicks frame by frame, as in quarn (see the README), a\n"
               "close it plays ending the run with the frame before; one that cannot be read\n"
               "fails the command. --size gives the picture's size exactly (no screen bounds\n"
               "it; each side from 1 to 16384); without it the picture is the player's view\n"
               "in a window of 1024x768, or of the size the\n"
               "configuration names, less the two-pixel edge around the view on each side. A\n"
               "configuration's \"fullscreen\" is ignored. SCENE runs as its own game, as in\n"
               "quarn: the nearest folder at or above it that holds a \"config.txt\" (or a\n"
               "\"data.zoo\", whose game it is), else SCENE's own folder, never the current\n"
               "folder for being current; a relative SCENE in a current folder holding a\n"
               "\"data.zoo\" lies in the archive. What it names and what its scripts open stay\n"
               "inside that game, its user:// and the built-in files; a game without a\n"
               "\"config.txt\" is one for reading, whose scripts write only in user://. A\n"
               "script's Print writes its text as\n"
               "a line of stdout. What the engine noted meanwhile (a texture it did not find, a\n"
               "class it does not know, the scene's mistakes as \"scene\" names them) is\n"
               "printed on stderr as \"quarn-tool: warning: ...\"; with QUARN_LOG set, every\n"
               "log line goes to stderr as quarn writes it instead (a Print's as \"script:\n"
               "0.17: TEXT\", 0.17 being the printing node's id, 17, in two 16-bit halves). A\n"
               "scene that does not load fails with the loader's reason (\"cannot load SCENE:\n"
               "...\"), and one whose parent lines form a cycle is refused as \"scene\" refuses\n"
               "it. SHOT.png is replaced only once it is written whole. When a runtime error\n"
               "terminated a script during the run (its report is among the warnings), the\n"
               "picture is still saved and the command exits with status 3. SIGTERM, SIGINT,\n"
               "SIGHUP and SIGQUIT stop it as they stop quarn, a frame that has not ended half\n"
               "a second after the signal cut short, but as a failure that saves no picture:\n"
               "\"stopped by a signal after N of M frames; SHOT.png is not written\" (or\n"
               "\"during frame N of M (N-1 ran whole)\"). \"simulate\" and \"editor-shot\"\n"
               "stop the same way, counting steps and frames.\n"
               "\n"
               "\"mesh\" loads IN as a mesh resource loads it, by its extension (\"mesh\" or\n"
               "\"obj\", without case), and prints one line each:\n"
               "  vertices N\n"
               "  triangles N\n"
               "  format N            the vertex-format bits (1 positions, 4 normals, 8 colours,\n"
               "                      32 texture coordinates, 512 and 1024 blend weights)\n"
               "  unique positions N  vertices at distinct positions\n"
               "  edges N             edges between those positions\n"
               "  closed yes|no       whether every edge joins exactly two triangles\n"
               "  faces N             groups of connected triangles whose normals differ by a\n"
               "                      cosine above 0.9999\n"
               "With OUT.mesh it writes the mesh in the engine's text form (positions, normals,\n"
               "texture coordinates, triangles and their flags); OUT.mesh is replaced only once\n"
               "it is written whole. A file the readers refuse fails with their reason\n"
               "(\"Error: Invalid mesh file '...'\", \"Unknown mesh format: '...'\"); what the\n"
               "engine reported while reading one it took (an index outside the vertices) is\n"
               "printed on stderr as \"quarn-tool: warning: ...\". A \".mesh\" file that ends\n"
               "before its counts are read fails: the engine reads what it lacks as zeros.\n"
               "\n"
               "\"table\" loads IN as the engine loads a data table (a text table when its\n"
               "extension is \"csv\", else a typed table) and prints \"mode text|typed\", a\n"
               "line \"field NAME TYPE\" per field (NAME \"-\" in text mode), \"keys N\",\n"
               "\"records N\", then a line per record holding its fields separated by tabs:\n"
               "texts as they are, numbers in decimal, vectors with ',' between their parts.\n"
               "A table that fails its integrity check fails with the engine's reason. With\n"
               "OUT.csv the table is saved as the engine saves it; only a text table saves.\n"
               "\n"
               "\"grid\" loads IN as the engine loads a height grid (\"flt\" with its \"hdr\"\n"
               "and \"dat\" files, or \"raw\") and prints its columns, rows, area (x0 y0 x1\n"
               "y1), mirror flags and a line per layer (heights, second, third) with its\n"
               "smallest and largest cell, or \"none\". A grid without heights fails with\n"
               "the engine's reason. With OUT the grid is saved in the form of OUT's\n"
               "extension, \"flt\" or \"raw\".\n"
               "\n"
               "\"griddata\" loads FILE as a GridData node loads a \"GR\" file and prints\n"
               "\"size X Y Z\", \"offset X Y Z\", \"fields N\", \"capacity N\",\n"
               "\"savemask 0xMM\" (bit f: field f is saved), \"objects N\", then a line\n"
               "\"object NUMBER at X Y Z: WORD...\" per object in the file's order with its\n"
               "saved fields, and \"global WORD...\" with the 32 words of the global row;\n"
               "each word is the field's 32 bits in hexadecimal (an int, or a float's bits).\n"
               "A file the load refuses fails with the first thing found wrong in it.\n"
               "\n"
               "\"http-get\" sends the GET a Network node sends to HOST (port 80, or N)\n"
               "and prints the page's body as the node hands it to scripts. It fails when\n"
               "no page came, with the node's reason: its connection's error (\"Host not\n"
               "found\", \"Connection failed\"), a status other than 200 (\"Error #404 - Not\n"
               "Found\"), or what went wrong reading the reply (\"no status line\"). With\n"
               "QUARN_LOG set, the log goes to stderr as well.\n"
               "\n"
               "\"pack\" writes every file and folder below the disk folder FOLDER into one\n"
               "archive, named by its path relative to FOLDER: a zip stored through the\n"
               "engine's scrambling pass, which quarn mounts as its resource root when it is\n"
               "called \"data.zoo\" in the folder quarn starts in; a plain zip when OUT ends\n"
               "in \".zip\" (any other extension is refused). OUT itself, when it lies in\n"
               "FOLDER, is left out. The entries go in name order without time stamps, so a\n"
               "folder packs to the same bytes every time. FOLDER is read as quarn reads its\n"
               "game: a link is followed only while it stays below FOLDER (an absolute link\n"
               "never), its target packed under the link's name; a folder is packed through\n"
               "links once, so a second link to it (by any path) is left out. Left out too,\n"
               "each with the line \"quarn-tool: warning: skipped FOLDER/NAME: REASON\" on\n"
               "stderr: a link that leads out of FOLDER, nowhere, or back into a folder that\n"
               "holds it; anything that is no regular file or folder (a pipe, a device, a\n"
               "socket); a path longer than the 249 bytes the engine opens in an archive; a\n"
               "folder named \"*.zip\" or \"*.zoo\", which the engine reads as an archive. A\n"
               "file larger than the engine reads from an archive (1 GiB), or an archive past\n"
               "4 GiB, fails the command. The archive is built in a scratch file beside OUT\n"
               "(else in $TMPDIR or /tmp), not in memory; OUT is replaced only once it is\n"
               "written whole.\n"
               "\n"
               "\"script asm\" reads IN in the script assembler's text form (one statement a\n"
               "line: header, stack, include, var, function, local, fixup, line marks,\n"
               "labels and commands; see tools/ScriptAssembler.h) and writes the program's\n"
               "code file OUT.bin and symbol file OUT.sym as the engine loads them, each\n"
               "replaced only once it is written whole. The program keeps IN's file name and\n"
               "the line of each command, so that runtime errors and the debugger name\n"
               "\"IN:LINE\". It follows the types of the values on the stack through each\n"
               "function and refuses a command, operator or call given a value of the wrong\n"
               "type or the wrong number of words (docs/scripting.md says what is checked).\n"
               "The first error fails the command with \"IN:LINE: reason\". \"script dis\"\n"
               "loads the program of the script source PATH as the engine does (PATH's \"bin\"\n"
               "and \"sym\" beside it; the source itself may be missing) and prints it in that\n"
               "text form, with each command's code offset, line and source line (FILE:LINE)\n"
               "and the names its operands stand for as comments; assembling the output gives\n"
               "the same two files again. A program that cannot be loaded or has no code\n"
               "fails with the loader's reason.\n"
               "\"script run\" puts one Script node running PROGRAM (its folder the base\n"
               "folder; the game it lies in, as \"render\" finds a scene's, its settings,\n"
               "reach and \"user://\", made when it is missing, as quarn makes it at start)\n"
               "under a new scene root, starts the game (\"quarn_start\", then\n"
               "\"start\"), updates the tree for N frames of 1/60 s (1 unless --frames says\n"
               "otherwise) and, with --call, then calls the program's function NAME with the\n"
               "ARGs read as its parameter types. It prints \"result: VALUE\" for a call with\n"
               "a result (texts as they are, vectors with ',' between their parts), \"state: \"\n"
               "and the node's run state (READY, RUNNING, SLEEPING, DEBUG, ERROR PENDING), a\n"
               "line \"NAME = VALUE\" per public variable, then in the order they came\n"
               "\"error: \" and the report of each runtime error and \"invalid: \" and the\n"
               "report of each invalid parameter (a division by zero; dialogs answer their\n"
               "first button, so the node stops for the debugger). The program's Print lines\n"
               "come first on stdout, as it prints them; what else the run logs (a file\n"
               "refused to a script, a save that failed and why) is printed on stderr as\n"
               "\"quarn-tool: warning: ...\". A program that\n"
               "cannot be loaded or is not linked fails with the reason, as does a NAME the\n"
               "program lacks, a wrong number of ARGs, or an ARG that is no value of its type\n"
               "(a string64 holds at most 63 characters). When a runtime error terminated\n"
               "the program (its \"error: \" line printed), the command exits with status 3,\n"
               "as \"render\" does.\n"
               "\"script reference\" prints the script reference in Markdown: the run cycle,\n"
               "the assembler's text form, every command, value type and operator, engine\n"
               "function, class with its properties, methods and constants, and the key\n"
               "codes, all read from the engine's registrations. A name the reference's\n"
               "notes do not describe is warned of on stderr. docs/scripting.md is its copy.\n"
               "\n"
               "\"contacts\" loads SCENE as \"scene\" does and runs the narrow phase on the\n"
               "collision volumes named A and B (the first node of each name, depth first),\n"
               "as the physics world does, with room for 100 contacts and at most N of them\n"
               "(100 unless --max says otherwise; the first contact is always given). It\n"
               "prints \"contacts K\", then a line per contact: its world position, its\n"
               "normal (of unit length, pointing from A toward B) and its depth, positive\n"
               "where the volumes overlap: seven numbers as \"%.9g\" separated by spaces.\n"
               "Pairs of shapes without a collider of their own (a box and a mesh, say)\n"
               "take the general convex route, which gives every contact the room holds\n"
               "whatever N says, as do the colliders of two boxes and of a cylinder with\n"
               "anything but a capsule. Collision meshes have their vertices, as in the\n"
               "player. What the engine noted while loading is printed on stderr as\n"
               "\"quarn-tool: warning: ...\". A scene that does not load, a name no node has\n"
               "and a node that is no collision volume fail the command.\n"
               "\n"
               "\"pairs\" loads SCENE as \"scene\" does (collision meshes with their vertices,\n"
               "as in the player), puts each collision volume into the first collision space\n"
               "(in tree order) of its spacenum, as the physics world does, and runs one step\n"
               "of each space's broad phase. For each space in tree order it prints \"space\n"
               "NAME\", then one line \"A B\" per candidate pair (the two volume names in byte\n"
               "order; the lines sorted), then \"dropped N\": the pairs the space's cache of\n"
               "8192 had no room for (in a sweep-and-prune space also those beyond the 8192\n"
               "plus 8 per volume its sweep-and-prune follows). Log lines go to stderr as\n"
               "\"quarn-tool: warning: ...\"; a scene that does not load fails the command.\n"
               "\n"
               "\"lcp\" reads FILE as numbers separated by white space: n and nub; the n rows\n"
               "of A, n numbers each (only the lower triangle is used; A should be symmetric\n"
               "positive definite); b; lo; hi; then n findex values (-1 for none) or the word\n"
               "\"none\". A bound may be \"inf\" or \"-inf\" (absent); every other number is\n"
               "finite, lo is at most 0 and hi at least 0. The first nub rows are taken as\n"
               "unbounded whatever their bounds; a row with findex k >= 0 is a friction row\n"
               "whose bounds become -|hi x_k| .. |hi x_k| once the other rows are solved. It\n"
               "solves A x = b + w with the engine's solver and prints a line \"x w\" per row\n"
               "in the file's order (\"%.9g\"; w as the solver returns it, 0 for a row held\n"
               "inside its bounds), then \"failures K\", the solver's count of steps that were\n"
               "not positive (0 on a sound problem; 2 when it gave up and zeroed the rows from\n"
               "the one it was driving).\n"
               "\n"
               "\"simulate\" loads SCENE as the player opens a scene (\"loaded\" is sent, and\n"
               "collision meshes have their vertices, so a mesh body has its mass) and runs N\n"
               "world steps of its first physics master (in tree order): scripts' \"integrate\"\n"
               "handlers run, no other node is updated. It prints \"body NAME mass M inertia\n"
               "Ixx Iyy Izz\" for each body named by --print, then every K steps (1 unless\n"
               "--every says otherwise) \"step S NAME\" with the body's world position,\n"
               "orientation (x y z w), linear and angular velocity. With --events each event\n"
               "is printed as it is dispatched: \"event KIND A B\" with the two volume ids, then\n"
               "its numbers: for \"collision\" the point (x y z), the normal (x y z), the normal\n"
               "speed, the tangent speed and the contact area; for \"probe\" the depth, the point\n"
               "and the normal; none for \"trig\" (the script reference's \"Hearing collisions\"\n"
               "tells what each means). Numbers are \"%.9g\". A scene that does not load or has no\n"
               "physics master, and a name that is no rigid body, fail the command. SCENE runs\n"
               "as its own game, as for \"render\": what it names and its scripts open stay\n"
               "inside that game, its user:// and the built-in files. It takes at most 67\n"
               "arguments, SCENE and \"--steps N\" among them: 32 --print names, 31 with\n"
               "--every, 30 with --every and --events; more are refused with that count.\n"
               "\n"
               "\"editor-shot\" starts the editor as \"quarn --editor\" does in FOLDER, without a\n"
               "display, sound card or dialogs, runs N frames (1 unless --frames says\n"
               "otherwise; each steps the game by 1/60 s) and saves the last picture the window\n"
               "showed, the view with the editor's interface over it, as OUT.png. --size gives\n"
               "the window's size with its menu bar and toolbar (more than 43 rows; otherwise\n"
               "the user's last editor window size, else 1024x768 below them) at start-up; the\n"
               "View menu's window sizes change it as they change the editor's, and the picture\n"
               "follows. --input plays FILE as QUARN_INPUT does (see the README); when it ends\n"
               "the run (a close, a stop) the picture is the last frame's before the end. A step\n"
               "that does nothing (a \"click-item\" naming no item of the last frame, a\n"
               "\"command\" that no menu item or toolbar button sends, or an \"answer\" or\n"
               "\"answer-path\" that no dialog took by the end of its frame's step, which is\n"
               "then dropped) is printed on stderr as \"quarn-tool: warning: input script line\n"
               "N: ...\" and fails the command, the picture saved all the same. \"quarn-tool\n"
               "help editor\" lists the menu commands. OUT.png is replaced only once it is\n"
               "written whole.\n"
               "\n"
               "\"lightmap\" starts the player on SCENE as \"render\" does, runs one frame,\n"
               "selects the scene's root and runs the editor's \"Create light maps\" and\n"
               "\"Update light maps\" on the mockups and models below it. With --bake the\n"
               "update bakes the direct light of the scene's static lights with their shadows,\n"
               "one sample at each texel's centre lifted 0.01 off the surface, D world units\n"
               "a texel (1 unless --spacing says otherwise: the game maps lightmaps at 1, so\n"
               "only that spacing fits them there); without it every lightmap takes its\n"
               "start fill. --save then runs \"Save light maps\", which writes\n"
               "each lightmap under \"pelgrath/maps/\" in the game's folder. --atlas then\n"
               "packs the saved lightmaps into one atlas image at PATH (a path of the game,\n"
               "as the lightmaps' are), writes its definition beside it (PATH with the\n"
               "extension \"txt\") and names it in the game's \"atlases.txt\", so the game\n"
               "loads the lightmaps from the atlas; any question is answered Yes. It prints\n"
               "every line the commands log (\"N lightmaps were created\", ...) and, for an\n"
               "atlas, \"atlas PATH WxH N parts\". A scene that does not load fails the\n"
               "command, as does an atlas that was not written (nothing saved, too large,\n"
               "not writable): the atlas list is then left as it was. Lightmaps that would\n"
               "take more than 536870912 bytes together (or the memory budget, where that is\n"
               "less) are not made: the command fails with the line \"No lightmap was made:\n"
               "...\", which names the spacing that fits.\n"
               "\n"
               "exit status: 0 done; 1 the command failed, with one line on stderr saying why;\n"
               "2 bad usage, with the reason and the command's usage line on stderr; 3 \"render\"\n"
               "saved its picture, or \"script run\" printed its lines, but a runtime error\n"
               "terminated a script on the way.\n",
               out);
}

// A call the tool cannot run: the reason when there is more to say than the usage line, the
// command's usage line (the tool's own without a command) and where to read more.
int Usage(const std::string& reason, const Command* command = nullptr) {
    if (!reason.empty()) {
        std::fprintf(stderr, "quarn-tool: %s\n", reason.c_str());
    }
    std::fprintf(stderr, "usage: quarn-tool %s\n",
                 command ? CommandCall(*command).c_str() : "COMMAND [ARGUMENT...]");
    std::fputs("\"quarn-tool help\" describes every command.\n", stderr);
    return ExitUsage;
}

int CommandUsage(const char* name, const std::string& reason = "") {
    for (const Command& command : Commands) {
        if (std::strcmp(command.name, name) == 0) {
            return Usage(reason, &command);
        }
    }
    return Usage(reason);
}

// The engine's disk file system over the current folder; null when that folder is gone.
std::unique_ptr<FileSystem> MakeFileSystem() {
    std::error_code error;
    std::string folder = std::filesystem::current_path(error).string();
    if (error) {
        return nullptr;
    }
    auto fileSystem = std::make_unique<DiskFileSystem>();
    fileSystem->SetBaseFolder(folder.c_str());
    // "user://" is the current folder's game's own, as the player and the editor name it.
    const std::string root = folder + (fileSystem->Exists("data.zoo") ? "/data.zoo/" : "/");
    SettingsFile config;
    if (std::unique_ptr<File> file = fileSystem->Open((root + "config.txt").c_str(), 0)) {
        const std::vector<uint8_t> bytes = file->ReadRemaining();
        config.Parse(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    fileSystem->SetUserFolder(
        GameDataFolder(DataHomeFolder(), config.GetString("name"), root).c_str());
    return fileSystem;
}

int RunHelp(char** arguments) {
    if (!arguments || !arguments[0]) {
        PrintHelp(stdout);
        return ExitDone;
    }
    if (std::strcmp(arguments[0], "editor") == 0) {
        std::fputs("The editor's menu commands\n\n"
                   "An input script chooses one with \"command ID\", which closes open menus, or\n"
                   "clicks it with \"click-item cmd:ID\", which opens the menus on its way first.\n"
                   "Each line gives the command's number, its menu and its item.\n\n",
                   stdout);
        std::fputs(ListEditorCommands().c_str(), stdout);
        return ExitDone;
    }
    if (std::strcmp(arguments[0], "script") != 0) {
        return CommandUsage("help", std::string("no help on \"") + arguments[0] + "\"");
    }
    std::fputs("How scripts run\n\n", stdout);
    std::fputs(ScriptRunCycleGuide, stdout);
    std::fputs("\nThe script reference lists what programs can name: every command with its\n"
               "operands and stack, the value types and their operators, every engine\n"
               "function by number, every class with its properties and methods (the numbers\n"
               "getprop, setprop and method take, and the generated names) and the key codes.\n"
               "\"quarn-tool script reference\" prints it; the repository keeps it as\n"
               "docs/scripting.md. The README's \"Your first game\" walks through a game that\n"
               "uses it, examples/first-game.\n",
               stdout);
    return ExitDone;
}

int RunCat(char** arguments) {
    const char* path = arguments[0];
    ClearFileFailure();
    std::unique_ptr<File> file = GetFileSystem()->Open(path, 0);
    if (!file) {
        return Fail(std::string("cannot open ") + path + FileFailureSuffix());
    }
    StandardOutputStream out;
    char buffer[65536];
    bool written = true;
    for (uint32_t count; written && (count = file->Read(buffer, sizeof buffer)) > 0;) {
        written = out.Write(buffer, count) == count;
    }
    if (!out.Close() || !written) {
        return Fail("cannot write to stdout");
    }
    return ExitDone;
}

void KeepLastLogLine(const char*, const char* text);
std::string Explained(const std::string& reason);

int RunSettings(char** arguments) {
    const char* path = arguments[0];
    SetLogSink(KeepLastLogLine);
    SettingsFile settings;
    if (!settings.Load(path, false)) {
        return Fail(Explained(std::string("cannot read ") + path));
    }
    StandardOutputStream out;
    bool written = settings.Write(out);
    if (!out.Close() || !written) {
        return Fail("cannot write to stdout");
    }
    return ExitDone;
}

int RunClasses(char**) {
    RegisterPlayerClasses();
    StandardOutputStream out;
    WriteClassTable(out);
    if (!out.Close()) {
        return Fail("cannot write to stdout");
    }
    return ExitDone;
}

// The last line the engine logged, as the reason of a failure the engine explains.
std::string lastLogLine;
std::vector<std::string> logLines;
// Where QUARN_LOG sends the log, when it is set and a command keeps the lines as well.
LogSink echoSink = nullptr;

void KeepLastLogLine(const char* channel, const char* text) {
    if (echoSink) {
        echoSink(channel, text);
    }
    // A script's Print is on stdout already, as the script's own line: no warning, no reason.
    if (IsScriptPrintLine(channel, text)) {
        return;
    }
    lastLogLine = text ? text : "";
    logLines.push_back(lastLogLine);
}

// Keeps every log line; with QUARN_LOG set, each also goes to stderr as quarn writes it.
void KeepLogLines() {
    echoSink = LogToStandardErrorWhenAsked() ? GetLogSink() : nullptr;
    SetLogSink(KeepLastLogLine);
}

// What the engine logged while a command still succeeded (a node of an unknown class, a
// reference that was not found): the user should hear of it, on stderr, unless QUARN_LOG
// has shown it already.
void PrintWarnings() {
    if (echoSink) {
        return;
    }
    for (const std::string& line : logLines) {
        std::fprintf(stderr, "quarn-tool: warning: %s\n", line.c_str());
    }
}

// A parent line the load refused because it would close a cycle leaves its node elsewhere
// than the file says (often on top, as a second top-level node); "" when none was refused.
// The report may have reached a message box, whose logged line quotes it, or the log beside
// the load's box.
std::string FindParentCycle() {
    const std::string quoted = "message box \"Validity check\": \"";
    const std::string logged = "Validity check: ";
    for (const std::string& line : logLines) {
        if (line.find("cannot be attached below itself") == std::string::npos) {
            continue;
        }
        const size_t end = line.rfind("\" answered \"");
        if (line.starts_with(quoted) && end > quoted.size()) {
            // Without the count of the load's other reports the box adds.
            const std::string text = line.substr(quoted.size(), end - quoted.size());
            return text.substr(0, text.find("\n\n("));
        }
        return line.starts_with(logged) ? line.substr(logged.size()) : line;
    }
    return "";
}

// The reason, with the engine's own explanation when it logged one meanwhile.
std::string Explained(const std::string& reason) {
    return lastLogLine.empty() ? reason : reason + ": " + lastLogLine;
}

int RunScene(char** arguments) {
    const std::string in = arguments[0];
    const std::string out = arguments[1];
    bool compact = false;
    if (arguments[2]) {
        if (std::strcmp(arguments[2], "--compact") != 0) {
            return CommandUsage("scene");
        }
        compact = true;
    }
    // Every loader takes a file's form from its name, and so does the save (a compact name gets
    // the compact form): asked of any other name, it would be read by none.
    if (compact && !IsCompactSceneName(out.c_str())) {
        return CommandUsage("scene", out + " names no compact scene, and no loader reads one "
                                           "there: name it .scn (.bscn for a branch)");
    }
    // Numbered as the player numbers them: a script's symbol file names classes by number.
    RegisterPlayerClasses();
    // As the editor opens and saves scenes: ids kept when free, the root written with its tree.
    uint32_t loadFlags = SceneKeepUnmappedIds;
    if (IsCompactSceneName(in.c_str())) {
        loadFlags |= SceneCompact;
    }
    SetLogSink(KeepLastLogLine);
    // Refused attaches and the like are reported, not logged; the user hears of them too.
    SetValidityHook([](const char* message) {
        KeepLastLogLine("", message);
        return true;
    });
    std::vector<Node*> loaded;
    lastLogLine.clear();
    FileReader reader;
    if (!reader.Open(in.c_str(), (loadFlags & SceneCompact) != 0, false)) {
        return Fail("cannot open " + in);
    }
    // OUT is named from the current folder, which the scene's game does not keep.
    PathString target;
    const std::string outPath =
        GetFileSystem()->GetNativePath(target, out.c_str()) ? target.Text() : out;
    EnterToolSceneGame(in);
    SceneLoader loader(in.c_str(), 0, loadFlags, nullptr, &loaded);
    if (!loader.Load(reader)) {
        return Fail(lastLogLine.empty() ? "cannot load " + in + ": it holds no node"
                                        : Explained("cannot load " + in));
    }
    // Saving what was loaded would lose what the load could not keep or the file never held.
    auto dropLoaded = [&] {
        for (Node* node : loaded) {
            if (Entity::FindBySerial(node->GetSerial()) && !node->GetParent()) {
                node->Delete();
            }
        }
    };
    if (int leftOut = loader.GetLeftOutCount(); leftOut > 0) {
        dropLoaded();
        return Fail(Explained(in + " loses " + std::to_string(leftOut) +
                              " of its objects when loaded, so " + out + " is not written"));
    }
    if (loader.EndedEarly()) {
        dropLoaded();
        return Fail(in + " ends early: the file is cut short, so " + out + " is not written");
    }
    // A late reference may have moved a top-level node under another one.
    std::vector<Node*> roots;
    for (Node* node : loaded) {
        if (!node->GetParent()) {
            roots.push_back(node);
        }
    }
    // Saved, a scene whose parents form a cycle would change.
    const std::string cycle = FindParentCycle();
    bool saved = false;
    if (roots.size() == 1 && cycle.empty()) {
        uint32_t saveFlags = SceneKeepUnmappedIds | SceneSystemZeroPaths | SceneWriteRoot;
        if (compact) {
            saveFlags |= SceneCompact;
        }
        lastLogLine.clear();
        saved = SaveSceneFile(outPath.c_str(), *roots[0], 0, saveFlags);
    }
    for (Node* root : roots) {
        root->Delete();
    }
    if (!cycle.empty()) {
        return Fail(in + " is refused: its parents form a cycle (" + cycle + ")");
    }
    if (roots.size() != 1) {
        // A parent line that placed nothing is named; a second root needs no more words.
        const std::string misplaced =
            loader.GetMisplacedNodes().empty() ? "" : ": " + loader.DescribeShortfall();
        return Fail(in + " has " + std::to_string(roots.size()) +
                    " top-level nodes; a scene has one" + misplaced);
    }
    if (!saved) {
        // The engine names the native path it wrote to; the user knows OUT by the name given.
        if (const size_t at = lastLogLine.find(outPath); at != std::string::npos) {
            lastLogLine.replace(at, outPath.size(), out);
        }
        return Fail(Explained("cannot save " + out));
    }
    PrintWarnings();
    return ExitDone;
}

// Decoded pixels as 8-bit RGBA rows, the PNG encoder's input.
struct RgbaImage {
    uint32_t width;
    uint32_t height;
    std::vector<uint8_t> bytes;
};

// The pixels are made room for when the first one arrives: a header alone, however large the
// image it claims, costs nothing until the codec has the data to decode.
void AllocatePixels(RgbaImage& image) {
    if (image.bytes.empty()) {
        image.bytes.assign(static_cast<size_t>(image.width) * image.height * 4, 0);
    }
}

void StoreRgba(int32_t x, int32_t y, ImagePixel pixel, void* context) {
    auto* image = static_cast<RgbaImage*>(context);
    if (x < 0 || y < 0 || static_cast<uint32_t>(x) >= image->width ||
        static_cast<uint32_t>(y) >= image->height) {
        return;
    }
    AllocatePixels(*image);
    uint8_t* at = &image->bytes[(static_cast<size_t>(y) * image->width + x) * 4];
    at[0] = static_cast<uint8_t>(pixel >> 16);
    at[1] = static_cast<uint8_t>(pixel >> 8);
    at[2] = static_cast<uint8_t>(pixel);
    at[3] = static_cast<uint8_t>(pixel >> 24);
}

// Encodes the pixels with the engine's PNG encoder and writes them whole to `out`.
int WritePng(const RgbaImage& image, const std::string& out) {
    std::vector<uint8_t> file;
    PngEncoder encoder;
    if (uint32_t error = encoder.Encode(file, image.bytes.data(), image.width, image.height)) {
        return Fail("cannot encode " + out + ": PNG error " + std::to_string(error));
    }
    // The user's file, also after a game's run.
    const UserChoiceScope picked;
    ForwardingOutputStream stream;
    bool written = stream.Open(out.c_str(), WriteCreateFolders) &&
                   stream.Write(file.data(), static_cast<uint32_t>(file.size())) == file.size();
    if (!stream.Close() || !written) {
        return Fail("cannot write " + out);
    }
    return ExitDone;
}

int RunImage(char** arguments) {
    const std::string in = arguments[0];
    const std::string out = arguments[1];
    if (!GetFileSystem()->Exists(in.c_str())) {
        return Fail("cannot open " + in);
    }
    InitImageCodecs();
    ImageCodec* codec = FindImageCodec(GetPathExtension(in.c_str()).c_str());
    if (!codec) {
        return Fail("cannot decode " + in + ": Unknown format");
    }
    auto decodeFailure = [&](const char* reason) {
        std::string text = "cannot decode " + in + ": " + reason;
        if (auto* png = dynamic_cast<PngCodec*>(codec)) {
            text += " (PNG error " + std::to_string(png->GetLastErrorCode()) + ")";
        }
        codec->ReleaseData();
        return Fail(text);
    };
    FileReader reader;
    if (!reader.Open(in.c_str(), true, false)) {
        return Fail("cannot decode " + in + ": Invalid texture");
    }
    std::vector<uint8_t> data(reader.GetSize());
    data.resize(reader.Read(data.data(), static_cast<uint32_t>(data.size())));
    reader.Close();
    ImageInfo info;
    codec->GetTextureFormat(info, data.data(), static_cast<uint32_t>(data.size()));
    if (info.width == 0 || info.height == 0 || info.bitsPerPixel == 0) {
        return decodeFailure("Invalid texture");
    }
    RgbaImage image{info.width, info.height, {}};
    bool loaded = codec->Load(data.data(), static_cast<uint32_t>(data.size()), &image, StoreRgba);
    codec->ReleaseData();
    if (!loaded) {
        return decodeFailure("Load error");
    }
    AllocatePixels(image); // a run-length file may leave every pixel at its default
    return WritePng(image, out);
}

int RunGlyphCache(char** arguments) {
    const std::string face = arguments[0];
    const std::string out = arguments[2];
    int32_t size = 0;
    const char* sizeText = arguments[1];
    const auto parsed = std::from_chars(sizeText, sizeText + std::strlen(sizeText), size);
    if (parsed.ec != std::errc() || *parsed.ptr != '\0' || size <= 0) {
        return CommandUsage("glyphcache",
                            std::string("SIZE must be a whole number of points above 0, not \"") +
                                sizeText + "\"");
    }
    std::string reason;
    const std::unique_ptr<GpuRenderDevice> device = MakeToolDevice(reason);
    if (!device) {
        return Fail(reason);
    }
    const std::string path = "res://" + face + ".ttf";
    // Whatever the font was built from at first (the tool's own copy of the engine's cache, for
    // one), the characters are rasterised afresh.
    FontNew font(path.c_str(), size, 0);
    uint64_t stamp = 0;
    std::string characters = ReadCharacterSet(stamp);
    if (characters.empty()) {
        characters = GetDefaultCharacterSet();
    }
    if (!font.RasterizeGlyphs(path.c_str(), DecodeUtf8(characters).codes, 0, false)) {
        return Fail("cannot rasterise " + face + " at " + sizeText + " points");
    }
    if (font.GetCursor().y == FontNew::FullTexture) {
        return Fail("the characters do not fit one texture at " + std::string(sizeText) +
                    " points");
    }
    if (!font.SaveGlyphCache(out.c_str())) {
        return Fail("cannot write " + out + ".png and " + out + ".dat");
    }
    return ExitDone;
}

// The frame as the window shows it, with what the engine noted meanwhile as warnings.
int SaveLastFrame(const std::string& out) {
    // The back buffer has no alpha to keep.
    RenderDevice& device = *TheRenderDevice();
    Int2 view = device.GetViewportSize();
    std::unique_ptr<DeviceTexture> back = device.GetBackBuffer();
    if (!back || !back->Lock(TextureLockRead, 0)) {
        return Fail("cannot read the frame");
    }
    RgbaImage image{static_cast<uint32_t>(view.x), static_cast<uint32_t>(view.y), {}};
    for (int32_t y = 0; y < view.y; ++y) {
        for (int32_t x = 0; x < view.x; ++x) {
            StoreRgba(x, y, back->GetPixel(x, y) | 0xFF000000u, &image);
        }
    }
    back->Lock(TextureUnlocked, 0);
    std::erase_if(logLines, IsStartUpNews);
    PrintWarnings();
    return WritePng(image, FromCurrentFolder(out));
}

// A run whose scripts a runtime error terminated has its own status, so that a game's checks
// can tell it from a good one. A stopped run saves no picture: it would pass for the last one.
int FinishRender(const std::string& out) {
    if (StopRequested()) {
        std::erase_if(logLines, IsStartUpNews);
        PrintWarnings();
        return Fail(ToolStopReason());
    }
    const int saved = SaveLastFrame(out);
    return saved == ExitDone && ScriptContext::GetTerminatingErrorCount() > 0
               ? ExitScriptTerminated
               : saved;
}

int RunRender(char** arguments) {
    const std::string scene = arguments[0];
    int32_t frames = 0;
    float step = 1.0f / 60.0f;
    std::string out;
    Int2 size;
    for (int at = 1; arguments[at]; at += 2) {
        const char* option = arguments[at];
        const char* value = arguments[at + 1];
        if (!value) {
            return CommandUsage("render", std::string(option) + " needs a value");
        }
        auto refused = [&](const char* what) {
            return CommandUsage("render", std::string(option) + " must be " + what + ", not \"" +
                                              value + "\"");
        };
        if (std::strcmp(option, "--frames") == 0) {
            if (!ParsePositive(value, frames)) {
                return refused("a whole number above 0");
            }
        } else if (std::strcmp(option, "--out") == 0) {
            out = value;
        } else if (std::strcmp(option, "--size") == 0) {
            if (!ParseSize(value, size)) {
                return refused(("WxH, two whole numbers from 1 to " +
                                std::to_string(MostPictureSide))
                                   .c_str());
            }
        } else if (std::strcmp(option, "--step") == 0) {
            if (!ParsePositive(value, step)) {
                return refused("a number of seconds above 0");
            }
        } else {
            return CommandUsage("render", "unknown option \"" + std::string(option) + "\"");
        }
    }
    if (frames <= 0 || out.empty()) {
        return CommandUsage("render", "--frames and --out are needed");
    }
    // The keys and clicks of a game played without anyone at it, as the player plays them.
    std::string inputError;
    if (!LoadInputScriptWhenAsked(inputError)) {
        return Fail(inputError);
    }
    KeepLogLines();
    WatchToolStopSignals("frames", frames, out + " is not written");
    // A close played from the input script ends the program there, with the frame before it;
    // so does a stop, at any time.
    static std::string shot;
    shot = out;
    SetExitHandler([] { std::exit(FinishRender(shot)); });
    switch (StartHeadlessPlayer(scene, step, size)) {
    case HeadlessStart::NoPlayer:
        return Fail(StartUpError());
    case HeadlessStart::NoScene: {
        const std::string reason = SceneLoadFailure(logLines);
        return Fail("cannot load " + scene + (reason.empty() ? "" : ": " + reason));
    }
    case HeadlessStart::Started:
        break;
    }
    // Before any frame, so that only the file's parent lines are taken for a cycle.
    if (const std::string cycle = FindParentCycle(); !cycle.empty()) {
        return Fail(scene + " is refused: its parents form a cycle (" + cycle + ")");
    }
    RunHeadlessFrames(frames);
    SetExitHandler(nullptr);
    return FinishRender(out);
}

// Validity reports of a command that still succeeds are warnings, as log lines are.
bool KeepValidityReport(const char* message) {
    logLines.push_back(message ? message : "");
    return true;
}

int RunMesh(char** arguments) {
    const std::string in = arguments[0];
    std::string reason;
    const std::unique_ptr<GpuRenderDevice> device = MakeToolDevice(reason);
    if (!device) {
        return Fail(reason);
    }
    if (!GetFileSystem()->Exists(in.c_str())) {
        return Fail("cannot open " + in);
    }
    RegisterAllClasses();
    SetLogSink(KeepLastLogLine);
    SetValidityHook(KeepValidityReport);
    lastLogLine.clear();
    Mesh mesh("", nullptr);
    if (!mesh.LoadFromFile(in.c_str())) {
        return Fail(Explained("cannot load " + in));
    }
    if (mesh.FileEndedEarly()) {
        return Fail(in + " ends early: the file is cut short, and what it lacks reads as zeros");
    }
    mesh.BuildFaces(0.9999f);
    StandardOutputStream out;
    out.Printf("vertices %u\ntriangles %u\nformat %u\nunique positions %u\nedges %zu\n"
               "closed %s\nfaces %zu\n",
               mesh.GetVertexCount(), mesh.GetTriangleCount(), mesh.GetVertexFormat(),
               mesh.GetUniquePositionCount(), mesh.GetEdges().size(),
               (mesh.GetStateFlags() & Mesh::Closed) ? "yes" : "no", mesh.GetFaces().size());
    if (!out.Close()) {
        return Fail("cannot write to stdout");
    }
    if (arguments[1] && !WriteMeshText(mesh, arguments[1])) {
        return Fail(std::string("cannot write ") + arguments[1]);
    }
    PrintWarnings();
    return ExitDone;
}

// A typed value as text: numbers in decimal, vectors with ',' between their parts.
std::string FieldText(DataBaseResource& table, int32_t record, int32_t field) {
    const int32_t type = table.GetFieldType(static_cast<uint32_t>(field));
    if (table.IsTextMode() || GetTypeScalarKind(type) == 4) {
        return std::string(table.GetStringValue(record, field));
    }
    const uint32_t* value = table.GetValuePointer(record, field);
    const bool floats = type == TypeFloat || GetTypeScalarKind(type) == 2;
    std::string text;
    for (int32_t word = 0; value && word < GetTypeWordCount(type); ++word) {
        text += word > 0 ? "," : "";
        text += floats ? FormatClassic("%.9g", static_cast<double>(WordToFloat(value[word])))
                       : std::to_string(static_cast<int32_t>(value[word]));
    }
    return text;
}

// Saves through the resource, which says only in the log why it did not save.
int SaveResource(Resource& resource, const std::string& out) {
    lastLogLine.clear();
    resource.SaveToFile(out.c_str());
    return lastLogLine.empty() ? ExitDone : Fail(Explained("cannot save " + out));
}

int RunTable(char** arguments) {
    const std::string in = arguments[0];
    SetLogSink(KeepLastLogLine);
    if (!GetFileSystem()->Exists(in.c_str())) {
        return Fail("cannot open " + in);
    }
    DataBaseResource table(in.c_str(), nullptr);
    if (table.GetState() == ResourceFailed) {
        return Fail(Explained("cannot load " + in));
    }
    StandardOutputStream out;
    out.Printf("mode %s\n", table.IsTextMode() ? "text" : "typed");
    for (uint32_t field = 0; field < table.GetFieldCount(); ++field) {
        const std::string& name = table.GetFieldName(field);
        out.Printf("field %s %s\n", name.empty() ? "-" : name.c_str(),
                   GetTypeName(table.GetFieldType(field)));
    }
    out.Printf("keys %u\nrecords %u\n", table.GetKeyCount(), table.GetRecordCount());
    for (int32_t record = 0; record < static_cast<int32_t>(table.GetRecordCount()); ++record) {
        const uint32_t fields =
            table.IsTextMode() ? table.GetRecordFieldCount(record) : table.GetFieldCount();
        for (uint32_t field = 0; field < fields; ++field) {
            out.Printf(field > 0 ? "\t%s" : "%s",
                       FieldText(table, record, static_cast<int32_t>(field)).c_str());
        }
        out.PutChar('\n');
    }
    if (!out.Close()) {
        return Fail("cannot write to stdout");
    }
    PrintWarnings();
    return arguments[1] ? SaveResource(table, arguments[1]) : ExitDone;
}

int RunGrid(char** arguments) {
    const std::string in = arguments[0];
    SetLogSink(KeepLastLogLine);
    GridDataResource grid(in.c_str());
    if (!grid.GetLayer(GridDataResource::Heights)) {
        return Fail(Explained("cannot load " + in + " as a \"flt\" or \"raw\" grid"));
    }
    auto number = [](float value) { return FormatClassic("%.9g", static_cast<double>(value)); };
    const Float4& area = grid.GetArea();
    StandardOutputStream out;
    out.Printf("columns %u\nrows %u\narea %s %s %s %s\nmirror %u\n", grid.GetColumns(),
               grid.GetRows(), number(area.x).c_str(), number(area.y).c_str(),
               number(area.z).c_str(), number(area.w).c_str(), grid.GetMirrorFlags());
    const std::pair<const char*, GridDataResource::Layer> layers[] = {
        {"heights", GridDataResource::Heights},
        {"second", GridDataResource::SecondLayer},
        {"third", GridDataResource::ThirdLayer}};
    for (const auto& [name, layer] : layers) {
        const float* cells = grid.GetLayer(layer);
        if (!cells) {
            out.Printf("%s none\n", name);
            continue;
        }
        // fmin and fmax pass over NaN cells.
        float low = NAN;
        float high = NAN;
        for (uint32_t cell = 0; cell < grid.GetDataSize(); ++cell) {
            low = std::fmin(low, cells[cell]);
            high = std::fmax(high, cells[cell]);
        }
        out.Printf("%s %s %s\n", name, number(low).c_str(), number(high).c_str());
    }
    if (!out.Close()) {
        return Fail("cannot write to stdout");
    }
    return arguments[1] ? SaveResource(grid, arguments[1]) : ExitDone;
}

int RunPack(char** arguments) {
    std::string error;
    std::vector<std::string> skipped;
    const bool packed = PackFolder(arguments[0], arguments[1], error, skipped);
    for (const std::string& line : skipped) {
        std::fprintf(stderr, "quarn-tool: warning: skipped %s\n", line.c_str());
    }
    return packed ? ExitDone : Fail(error);
}

// A command whose own tool answers a status and, for a failure, its reason.
int RunSubTool(const char* name, int (*tool)(char**, std::string&), char** arguments) {
    std::string reason;
    const int status = tool(arguments, reason);
    return status == ExitUsage    ? CommandUsage(name, reason)
           : status == ExitFailed ? Fail(reason)
                                  : status;
}

int RunGridData(char** arguments) {
    return RunSubTool("griddata", RunGridDataTool, arguments);
}

int RunHttpGet(char** arguments) {
    return RunSubTool("http-get", RunHttpGetTool, arguments);
}

int RunShader(char** arguments) {
    return RunSubTool("shader", RunShaderTool, arguments);
}

int RunScript(char** arguments) {
    return RunSubTool("script", RunScriptTool, arguments);
}

int RunContacts(char** arguments) {
    return RunSubTool("contacts", RunContactsTool, arguments);
}

int RunPairs(char** arguments) {
    return RunSubTool("pairs", RunPairsTool, arguments);
}

int RunLcp(char** arguments) {
    return RunSubTool("lcp", RunLcpTool, arguments);
}

int RunSimulate(char** arguments) {
    return RunSubTool("simulate", RunSimulateTool, arguments);
}

int RunEditorShot(char** arguments) {
    return RunSubTool("editor-shot", RunEditorShotTool, arguments);
}

int RunLightMap(char** arguments) {
    return RunSubTool("lightmap", RunLightMapTool, arguments);
}

int Run(int argc, char** argv) {
    if (argc < 2) {
        return Usage("no command given");
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        return RunHelp(nullptr);
    }
    for (const Command& command : Commands) {
        if (std::strcmp(argv[1], command.name) != 0) {
            continue;
        }
        const int given = argc - 2;
        const int most = command.argumentCount + command.optionalCount;
        if (given < command.argumentCount) {
            return Usage("", &command);
        }
        if (given > most) {
            // A usage line with a repeated argument does not show where the count ends.
            const bool repeats = std::strstr(command.arguments, "...") != nullptr;
            return Usage(repeats ? "\"" + std::string(command.name) + "\" takes at most " +
                                       std::to_string(most) + " arguments; " +
                                       std::to_string(given) + " were given"
                                 : "",
                         &command);
        }
        std::unique_ptr<FileSystem> fileSystem = MakeFileSystem();
        if (!fileSystem) {
            return Fail("cannot read the current folder");
        }
        SetFileSystem(fileSystem.get());
        // Every command stops on a stop signal as a failure saying so.
        const char* output = command.output >= 0 ? argv[2 + command.output] : nullptr;
        WatchToolStop(output ? std::string(output) + " is left as it was" : "");
        int status = command.run(argv + 2);
        // A player started by the command keeps its own for the rest of the run.
        if (GetFileSystem() == fileSystem.get()) {
            SetFileSystem(nullptr);
        }
        return status;
    }
    return Usage(std::string("unknown command \"") + argv[1] + "\"");
}

} // namespace
} // namespace quarn

int main(int argc, char** argv) {
    return quarn::Run(argc, argv);
}
