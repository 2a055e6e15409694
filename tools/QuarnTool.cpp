// quarn-tool: developer commands over the engine's own file layer, so what it prints is what
// the engine reads. Its output is stable (tests and scripts compare it byte for byte); the
// help text below is its documentation.

#include "app/ClassRegistration.h"
#include "codecs/ImageCodec.h"
#include "codecs/PngCodec.h"
#include "codecs/PngEncoder.h"
#include "core/debug/Log.h"
#include "core/debug/Validity.h"
#include "core/filesystem/DiskFileSystem.h"
#include "core/filesystem/FileReader.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/SettingsFile.h"
#include "core/io/OutputStream.h"
#include "core/object/ClassInfo.h"
#include "core/object/Property.h"
#include "core/scene/Node.h"
#include "core/scenefile/SceneLoader.h"
#include "core/scenefile/SceneSaver.h"
#include "core/string/Text.h"
#include "device/GpuRenderDevice.h"
#include "gpu/software/SoftwareDevice.h"
#include "resources/FontNew.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace quarn {
namespace {

enum ExitStatus : int {
    ExitDone = 0,
    ExitFailed = 1, // one line "quarn-tool: reason" on stderr
    ExitUsage = 2,  // the reason and the help text on stderr
};

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

int Fail(const std::string& reason) {
    std::fprintf(stderr, "quarn-tool: %s\n", reason.c_str());
    return ExitFailed;
}

int RunHelp(char** arguments);
int RunCat(char** arguments);
int RunSettings(char** arguments);
int RunClasses(char** arguments);
int RunScene(char** arguments);
int RunImage(char** arguments);
int RunGlyphCache(char** arguments);

struct Command {
    const char* name;
    const char* arguments; // as the help shows them; one word per argument
    int argumentCount;
    const char* summary;
    // The arguments that follow the given ones are null.
    int (*run)(char** arguments);
    int optionalCount = 0; // arguments that may follow the required ones
};

// Later commands join this table; the help text is built from it.
constexpr Command Commands[] = {
    {"help", "", 0, "print this text", RunHelp},
    {"cat", "VPATH", 1, "write the bytes of the file at VPATH to stdout", RunCat},
    {"settings", "FILE", 1, "print the settings file FILE as saving it would write it",
     RunSettings},
    {"classes", "", 0, "print every registered class with its properties and methods", RunClasses},
    {"scene", "IN OUT [--compact]", 2, "load the scene IN and save it as OUT", RunScene, 1},
    {"image", "IN OUT.png", 2, "decode the PNG, BMP or JPEG image IN and save it as OUT.png",
     RunImage},
    {"glyphcache", "FACE SIZE OUT", 3,
     "rasterise the font FACE at SIZE points into the glyph cache OUT.png and OUT.dat",
     RunGlyphCache},
};

// "name ARGUMENTS", as the help and the usage line show a command.
std::string CommandCall(const Command& command) {
    std::string call = command.name;
    if (command.argumentCount > 0) {
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
               "\"user://\" is the user's data folder ($XDG_DATA_HOME, else ~/.local/share/)\n"
               "and \"res://\" names the files built into the tool.\n"
               "\n"
               "\"classes\" prints the classes in registration order, one line each, followed\n"
               "by a line per own property and per own script method:\n"
               "  class NAME number=N category=CATEGORY base=BASE flags=N abstract|concrete\n"
               "    property NAME type=TYPE kind=KIND flags=N state=N range=\"RANGE\"\n"
               "    method NAME (TYPE, ...)[:TYPE] flags=N\n"
               "An empty category and a missing base print as \"-\"; numbers are decimal. The\n"
               "order, the class numbers (a script's type of a class reference) and the\n"
               "declarations are what compiled scripts depend on.\n"
               "\n"
               "\"scene\" reads IN as the editor opens a scene (the compact form when its\n"
               "extension is \"scn\", else the text form) and writes it as the editor saves\n"
               "one: the text form, or the compact form with --compact. Saving a file the tool\n"
               "wrote gives the same bytes again. OUT is replaced only once it is written\n"
               "whole. A scene has one top-level node; IN with several is refused. What the\n"
               "engine noted while loading (a class it does not know, a reference it did not\n"
               "find, a block it dropped) is printed on stderr as \"quarn-tool: warning: ...\".\n"
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
               "exit status: 0 done; 1 the command failed, with one line on stderr saying why;\n"
               "2 bad usage, with this text on stderr.\n",
               out);
}

int Usage(const std::string& reason) {
    std::fprintf(stderr, "quarn-tool: %s\n\n", reason.c_str());
    PrintHelp(stderr);
    return ExitUsage;
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
    fileSystem->SetUserFolder(DefaultUserFolder().c_str());
    return fileSystem;
}

int RunHelp(char**) {
    PrintHelp(stdout);
    return ExitDone;
}

int RunCat(char** arguments) {
    const char* path = arguments[0];
    std::unique_ptr<File> file = GetFileSystem()->Open(path, 0);
    if (!file) {
        return Fail(std::string("cannot open ") + path);
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

int RunSettings(char** arguments) {
    const char* path = arguments[0];
    SettingsFile settings;
    if (!settings.Load(path, false)) {
        return Fail(std::string("cannot read ") + path);
    }
    StandardOutputStream out;
    bool written = settings.Write(out);
    if (!out.Close() || !written) {
        return Fail("cannot write to stdout");
    }
    return ExitDone;
}

int RunClasses(char**) {
    RegisterAllClasses();
    StandardOutputStream out;
    for (int index = 0; index < GetClassCount(); ++index) {
        const ClassInfo* classInfo = GetClassByIndex(index);
        const char* category = classInfo->GetCategory();
        const ClassInfo* base = classInfo->GetParent();
        out.Printf("class %s number=%d category=%s base=%s flags=%u %s\n", classInfo->GetName(),
                   classInfo->GetClassNumber(), *category ? category : "-",
                   base ? base->GetName() : "-", classInfo->GetFlags(),
                   classInfo->IsAbstract() ? "abstract" : "concrete");
        for (const auto& property : classInfo->GetOwnProperties()) {
            out.Printf("    property %s type=%s kind=%s flags=%u state=%u range=\"%s\"\n",
                       property->GetName(), GetTypeName(property->GetValueType()),
                       GetPropertyKindName(property->GetKind()), property->GetPropertyFlags(),
                       property->GetStateFlags(), property->GetRange());
        }
        for (const auto& method : classInfo->GetOwnMethods()) {
            out.Printf("    method %s %s flags=%u\n", method->GetName(),
                       method->GetSignatureText().c_str(), method->GetCallFlags());
        }
    }
    if (!out.Close()) {
        return Fail("cannot write to stdout");
    }
    return ExitDone;
}

// The last line the engine logged, as the reason of a failure the engine explains.
std::string lastLogLine;
std::vector<std::string> logLines;

void KeepLastLogLine(const char*, const char* text) {
    lastLogLine = text ? text : "";
    logLines.push_back(lastLogLine);
}

// What the engine logged while a command still succeeded (a node of an unknown class, a
// reference that was not found): the user should hear of it, on stderr.
void PrintWarnings() {
    for (const std::string& line : logLines) {
        std::fprintf(stderr, "quarn-tool: warning: %s\n", line.c_str());
    }
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
            return Usage("usage: quarn-tool scene IN OUT [--compact]");
        }
        compact = true;
    }
    RegisterAllClasses();
    // As the editor opens and saves scenes: ids kept when free, the root written with its tree.
    uint32_t loadFlags = SceneKeepUnmappedIds;
    if (CompareNoCase(GetPathExtension(in.c_str()).c_str(), "scn") == 0) {
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
    SceneLoader loader(in.c_str(), 0, loadFlags, nullptr, &loaded);
    if (!loader.Load(reader)) {
        return Fail(lastLogLine.empty() ? "cannot load " + in + ": it holds no node"
                                        : Explained("cannot load " + in));
    }
    if (int leftOut = loader.GetLeftOutCount(); leftOut > 0) {
        // Saving what was loaded would lose those objects.
        for (Node* node : loaded) {
            if (Entity::FindBySerial(node->GetSerial()) && !node->GetParent()) {
                node->Delete();
            }
        }
        return Fail(Explained(in + " loses " + std::to_string(leftOut) +
                              " of its objects when loaded, so " + out + " is not written"));
    }
    // A late reference may have moved a top-level node under another one.
    std::vector<Node*> roots;
    for (Node* node : loaded) {
        if (!node->GetParent()) {
            roots.push_back(node);
        }
    }
    bool saved = false;
    if (roots.size() == 1) {
        uint32_t saveFlags = SceneKeepUnmappedIds | SceneSystemZeroPaths | SceneWriteRoot;
        if (compact) {
            saveFlags |= SceneCompact;
        }
        lastLogLine.clear();
        saved = SaveSceneFile(out.c_str(), *roots[0], 0, saveFlags);
    }
    for (Node* root : roots) {
        root->Delete();
    }
    if (roots.size() != 1) {
        return Fail(in + " has " + std::to_string(roots.size()) +
                    " top-level nodes; a scene has one");
    }
    if (!saved) {
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

int RunImage(char** arguments) {
    const std::string in = arguments[0];
    const std::string out = arguments[1];
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
    std::vector<uint8_t> file;
    PngEncoder encoder;
    if (uint32_t error = encoder.Encode(file, image.bytes.data(), info.width, info.height)) {
        return Fail("cannot encode " + out + ": PNG error " + std::to_string(error));
    }
    ForwardingOutputStream stream;
    bool written = stream.Open(out.c_str(), WriteCreateFolders) &&
                   stream.Write(file.data(), static_cast<uint32_t>(file.size())) == file.size();
    if (!stream.Close() || !written) {
        return Fail("cannot write " + out);
    }
    return ExitDone;
}

int RunGlyphCache(char** arguments) {
    const std::string face = arguments[0];
    const std::string out = arguments[2];
    int32_t size = 0;
    const char* sizeText = arguments[1];
    const auto parsed = std::from_chars(sizeText, sizeText + std::strlen(sizeText), size);
    if (parsed.ec != std::errc() || *parsed.ptr != '\0' || size <= 0) {
        return Usage(std::string("SIZE must be a whole number of points above 0, not \"") +
                     sizeText + "\"");
    }
    GpuRenderDevice device(&SoftwareDevice::Create);
    if (!device.Create(0, nullptr, 16, 16)) {
        return Fail("cannot create the render device: " + device.GetErrorText());
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

int Run(int argc, char** argv) {
    if (argc < 2) {
        return Usage("no command given");
    }
    for (const Command& command : Commands) {
        if (std::strcmp(argv[1], command.name) != 0) {
            continue;
        }
        const int given = argc - 2;
        if (given < command.argumentCount ||
            given > command.argumentCount + command.optionalCount) {
            return Usage("usage: quarn-tool " + CommandCall(command));
        }
        std::unique_ptr<FileSystem> fileSystem = MakeFileSystem();
        if (!fileSystem) {
            return Fail("cannot read the current folder");
        }
        SetFileSystem(fileSystem.get());
        int status = command.run(argv + 2);
        SetFileSystem(nullptr);
        return status;
    }
    return Usage(std::string("unknown command \"") + argv[1] + "\"");
}

} // namespace
} // namespace quarn

int main(int argc, char** argv) {
    return quarn::Run(argc, argv);
}
