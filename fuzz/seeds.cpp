// Writes the seeds that no committed fixture provides into <folder>/<target>/: scenes in both
// forms (saved by the engine, so they follow its current format), deflate streams made by the
// engine's compressor, JPEG files made by libjpeg, and small texts for the text parsers.
#include "app/ClassRegistration.h"
#include "codecs/Deflate.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/MemoryFileSystem.h"
#include "core/io/BufferFile.h"
#include "core/io/GrowingOutputStream.h"
#include "core/object/ClassInfo.h"
#include "core/object/IdMap.h"
#include "core/scene/Node.h"
#include "core/scenefile/SceneLoader.h"
#include "core/scenefile/SceneSaver.h"
#include "resources/Branch.h"
#include "script/nodes/GridData.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
// After <cstdio>: the library's header needs FILE and size_t declared.
#include <jpeglib.h>

namespace {

// A larger seed slows every execution of its target; large cases belong to the tests.
constexpr size_t MaxSeedBytes = 16u << 10;

void Write(const std::filesystem::path& folder, const char* target, const char* name,
           const std::string& bytes) {
    if (bytes.size() > MaxSeedBytes) {
        std::fprintf(stderr, "the seed %s/%s holds %zu bytes, more than %zu\n", target, name,
                     bytes.size(), MaxSeedBytes);
        std::exit(1);
    }
    std::filesystem::create_directories(folder / target);
    std::ofstream(folder / target / name, std::ios::binary) << bytes;
}

// Small trees of every node class there is, with names, texts and references: quoted values
// that span lines or hold braces, forward references, ports up to 15.
const char* const SeedScene =
    "version = 44\nidsystem = 0\nnum_nodes = 4\n"
    "obj1 {\n\tclass = \"Node\"\n\tname = \"root\"\n\tparent = 0\n\tflags = 17\n}\n"
    "obj2 {\n\tclass = \"Pivot\"\n\tname = \"two\nlines\"\n\tparent = 1\n\tflags = 1\n}\n"
    "obj3 {\n\tclass = \"SignalReceiver\"\n\tname = \"r\"\n\tparent = 2\n\tflags = 1\n}\n"
    "obj4 {\n\tclass = \"Pivot\"\n\tname = \"last\"\n\tparent = 1\n\tprev = 2\n}\n";
const char* const ChainScene =
    "version = 44\nidsystem = 0\nnum_nodes = 4\n"
    "obj3 {\n\tclass = \"SignalReceiver\"\n\tname = \"a\"\n\tparent = 0\n\tflags = 1\n"
    "\tsignalname = \"\nstarts with a line feed\"\n\twitness0 = 3\n}\n"
    "obj9 {\n\tclass = \"SignalReceiver\"\n\tname = \"b\"\n\tparent = 3\n\tflags = 1\n"
    "\tsignalname = \"two\nlines with } and obj9 {\"\n\twitness5 = 10-15\n}\n"
    "obj10 {\n\tclass = \"Pivot\"\n\tname = \"c\"\n\tparent = 9\n\tflags = 1\n"
    "\tpos = 1.000000,-2.500000,3.000000\n\tscale = 2.50\n}\n"
    "obj2 {\n\tclass = \"Node\"\n\tname = \"d\"\n\tparent = 3\n\tprev = 9\n\tflags = 17\n}\n";

// A physics world over a space, with a body resting on a plane and a trigger.
const char* const PhysicsScene =
    "version = 44\nidsystem = 0\nnum_nodes = 7\n"
    "obj1 {\n\tclass = \"Node\"\n\tname = \"root\"\n\tparent = 0\n}\n"
    "obj2 {\n\tclass = \"PhysicsMaster\"\n\tname = \"world\"\n\tparent = 1\n"
    "\tcollisionspace = 3\n\twitness = 1\n}\n"
    "obj3 {\n\tclass = \"CollisionSpaceSweepnPrune\"\n\tname = \"space\"\n\tparent = 1\n"
    "\tmaxvolumes = 10\n}\n"
    "obj4 {\n\tclass = \"CollisionPlane\"\n\tname = \"ground\"\n\tparent = 1\n"
    "\tworldside = 1\n\tcollflags = 17\n\tcollmask = 1\n\tcolltest = 1\n}\n"
    "obj5 {\n\tclass = \"RigidBody\"\n\tname = \"body\"\n\tparent = 1\n"
    "\tpos = 0,0.5,0\n\tspeed = 1,0,0\n}\n"
    "obj6 {\n\tclass = \"CollisionBox\"\n\tname = \"box\"\n\tparent = 5\n"
    "\tcollmask = 1\n\tcolltest = 1\n\tsignalenter = 1\n}\n"
    "obj7 {\n\tclass = \"CollisionSphere\"\n\tname = \"area\"\n\tparent = 1\n"
    "\tcollflags = 4\n\tcollmask = 4\n\tcolltest = 4\n\tradius = 2\n}\n";

// A branch file with a relay, exposed values and an instance of itself inside.
const char* const SeedBranch =
    "version = 44\nidsystem = 0\nnum_nodes = 3\ncustomdeclarations {\n"
    "Entity relay_0 <\"signal,default=3-2\">\nfloat3 pos_id2\nstring name_id3\n}\n"
    "obj2 {\n\tclass = \"Pivot\"\n\tname = \"hinge\"\n\tpos = 1.000000,2.000000,3.000000\n}\n"
    "obj3 {\n\tclass = \"SignalReceiver\"\n\tname = \"r\"\n\tparent = 2\n\twitness0 = 2\n}\n"
    "obj4 {\n\tclass = \"Branch\"\n\tprev = 2\n\tbranchflags = 1\n\tbranch = \"a.branch\"\n}\n";

// Objects 1..count, each under the one before: a tree as deep as it is large.
std::string DeepChain(int count) {
    std::string text = "version = 44\nidsystem = 0\nnum_nodes = " + std::to_string(count) + "\n";
    for (int n = 1; n <= count; ++n) {
        text += "obj" + std::to_string(n) +
                " {\n\tclass = \"Node\"\n\tparent = " + std::to_string(n - 1) + "\n}\n";
    }
    return text;
}

// Names of a few thousand bytes. Seeds stay under 16 KB so that each target runs hundreds of
// inputs a second; names past the temporary-text ring and deep chains are cases of the tests.
std::string LongNames(size_t length) {
    std::string text = "version = 44\nidsystem = 0\nnum_nodes = 3\n";
    for (int n = 1; n <= 3; ++n) {
        text += "obj" + std::to_string(n) + " {\n\tclass = \"Pivot\"\n\tname = \"" +
                std::string(length / n, static_cast<char>('a' + n)) +
                "\"\n\tparent = " + std::to_string(n - 1) + "\n}\n";
    }
    return text;
}

// A small gradient through libjpeg: colour or grey, baseline or progressive.
std::string EncodeJpeg(bool grey, bool progressive) {
    constexpr int Side = 24;
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = Side;
    info.image_height = Side;
    info.input_components = grey ? 1 : 3;
    info.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 60, TRUE);
    if (progressive) {
        jpeg_simple_progression(&info);
    }
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> row(Side * 3);
    for (int y = 0; y < Side; ++y) {
        for (size_t x = 0; x < row.size(); ++x) {
            row[x] = static_cast<unsigned char>(x * 7 + y * 11);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::string bytes(reinterpret_cast<const char*>(buffer), size);
    std::free(buffer);
    return bytes;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    quarn::RegisterAllClasses();
    quarn::MemoryFileSystem files;
    quarn::SetFileSystem(&files);

    // Loaded and saved again, so the seeds carry every property the classes write.
    const uint32_t save = quarn::SceneKeepUnmappedIds | quarn::SceneWriteRoot;
    struct SceneSeed {
        const char* name;
        std::string text;
    };
    const SceneSeed scenes[] = {
        {"tree.scene", SeedScene},
        {"chain.scene", ChainScene},
        {"physics.scene", PhysicsScene},
        {"deep.scene", DeepChain(64)},
        {"long_names.scene", LongNames(4000)},
    };
    for (const SceneSeed& scene : scenes) {
        std::vector<quarn::Node*> roots;
        quarn::BufferFile source(scene.text.data(), static_cast<uint32_t>(scene.text.size()));
        quarn::SceneLoader loader(scene.name, 0, quarn::SceneKeepUnmappedIds, nullptr, &roots);
        quarn::Node* root = loader.Load(source);
        if (!root || !quarn::SaveSceneFile("text.scene", *root, 0, save) ||
            !quarn::SaveSceneFile("compact.scene", *root, 0, save | quarn::SceneCompact)) {
            std::fprintf(stderr, "the seed scene %s did not load and save\n", scene.name);
            return 1;
        }
        Write(folder, "scene_text", scene.name, *files.Written("text.scene"));
        Write(folder, "scene_compact", scene.name, *files.Written("compact.scene"));
        for (quarn::Node* node : roots) {
            node->Delete();
        }
        quarn::TheIdMap().Clear();
    }

    // Saved by an instance, in both forms; the first byte picks the form (see branch.cpp).
    files.Add("a.branch", SeedBranch);
    auto* branch = static_cast<quarn::Branch*>(quarn::Branch::RegisterClass()->CreateInstance());
    branch->SetIdSystem(0);
    branch->SetBranchFlags(quarn::BranchLoaded);
    branch->SetBranchFile("a.branch");
    if (!branch->SaveBranch() || !files.Written("a.branch") || !files.Written("a.scn")) {
        std::fprintf(stderr, "the seed branch did not load and save\n");
        return 1;
    }
    Write(folder, "branch", "text", std::string(1, '\0') + *files.Written("a.branch"));
    Write(folder, "branch", "compact", std::string(1, '\1') + *files.Written("a.scn"));
    branch->Delete();
    quarn::TheIdMap().Clear();

    // Mode byte, room in 64-byte units, then the stream (see inflate.cpp).
    const std::string text = std::string(SeedScene) + SeedScene;
    int count = 0;
    for (uint32_t blockType : {0u, 1u, 2u}) {
        for (bool wrapped : {false, true}) {
            quarn::DeflateSettings settings;
            settings.blockType = blockType;
            std::vector<uint8_t> stream;
            const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
            if (wrapped) {
                quarn::ZlibCompress(stream, bytes, text.size(), settings);
            } else {
                quarn::DeflateCompress(stream, bytes, text.size(), settings);
            }
            const size_t room = (text.size() + 63) / 64;
            std::string seed = {char(wrapped ? 1 : 0), char(room & 0xFF), char(room >> 8)};
            seed.append(stream.begin(), stream.end());
            Write(folder, "inflate", ("stream" + std::to_string(count++)).c_str(), seed);
        }
    }

    Write(folder, "jpeg", "colour.jpg", EncodeJpeg(false, false));
    Write(folder, "jpeg", "grey.jpg", EncodeJpeg(true, false));
    Write(folder, "jpeg", "progressive.jpg", EncodeJpeg(false, true));

    Write(folder, "settings", "config.txt",
          "# comment\nwidth = \"640\"\nfull_screen = true\nsize = \"3,4\"\ncolour = 0x80808080\n"
          "_name = unquoted value  \r\n");
    Write(folder, "tokenizer", "scene.txt", SeedScene);
    Write(folder, "tokenizer", "operators.txt", "a <<= b == c -> d { 0x1F 2.5 } # x\n\"s\" \xff z");
    // The head of the class table as the tools print it, cut at a line end: the whole table has
    // outgrown a seed, and more of it adds only repeats.
    quarn::GrowingOutputStream classes;
    quarn::WriteClassTable(classes);
    const std::string& table = classes.GetText();
    Write(folder, "tokenizer", "classes.txt", table.substr(0, table.rfind('\n', 4096) + 1));
    Write(folder, "atlas_list", "two",
          std::string("\"atlas.png\"\n\0", 13) + "0 0 64 64 0 \"a.png\"\n64 0 32 32 1 b\n");
    Write(folder, "id_path", "nested", "7.5.3-2");
    Write(folder, "id_path", "global", "0x0123456789ABCDEF0123456789abcdef.4");
    Write(folder, "id_path", "system", "0.12");
    Write(folder, "raw_data", "text", std::string("\x00hello", 6));
    Write(folder, "raw_data", "scrambled", std::string("\x06\x01\x02\x03", 4));
    // A form byte, then the table (see data_table.cpp).
    Write(folder, "data_table", "typed",
          std::string(1, '\0') +
              "fields = 2\nmax_string_length = 6\nfield1_name = \"id\"\nfield1_type = int\n"
              "field2_name = \"label\"\nfield2_type = string\nkeys = 1\nkey1 = 1\nkey1_max = 4\n"
              "key_symmetry = false\nrecords = 2\nrecord\nid = 2\nlabel = \"two\"\nend\n"
              "# note\nrecord\nid = 3\nlabel = \"three\"\nend\n");
    Write(folder, "data_table", "text",
          "\x01\xEF\xBB\xBF"
          "a;\"b;c\"\r\n\nd\"e\";\n");
    // A form byte, the header's and the heights' lengths, then the files (see grid.cpp).
    std::string heights;
    for (int cell = 0; cell < 12; ++cell) {
        const float value = static_cast<float>(cell) * 0.5f;
        heights.append(reinterpret_cast<const char*>(&value), sizeof value);
    }
    const std::string header = "ncols         4\nnrows         3\nxllcorner     0.0\n"
                               "yllcorner     0.0\ncellsize      1.5\nNODATA_value  -9999\n"
                               "byteorder     LSBFIRST\nmirror        mirror_y";
    Write(folder, "grid", "set",
          std::string{'\0', static_cast<char>(header.size()), 48, 0} + header + heights + heights);
    Write(folder, "grid", "raw", std::string("\x01\x03\0\0\0\x02\0\0\0", 9) + heights);
    // Two objects in a small grid, one field saved of two, and a global word.
    quarn::GridData gridData;
    gridData.SetSize(quarn::Int3(4, 3, 2));
    gridData.SetOffset(quarn::Int3(-2, 0, 5));
    gridData.SetFieldCount(2);
    gridData.SetCapacity(4);
    gridData.SetIntField(gridData.AddAt(quarn::Int3(-1, 2, 6)), 0, 7);
    gridData.SetIntField(gridData.AddAt(quarn::Int3(1, 0, 5)), 1, 9);
    gridData.SetSaveFlag(1, false);
    gridData.SetIntField(0, 3, 42);
    std::vector<uint8_t> gridBytes;
    std::string reason;
    if (!gridData.WriteBytes(gridBytes, reason)) {
        std::fprintf(stderr, "the grid data seed was not written: %s\n", reason.c_str());
        return 1;
    }
    Write(folder, "griddata", "two_objects", std::string(gridBytes.begin(), gridBytes.end()));
    Write(folder, "online_list", "list",
          "#me;1;2;3;7\r\na;0;0;0;5\n*hello\nb;1;2;9;-1;more\r;4;5;6;7\nshort;1;2");
    // A piece-size byte, then the reply (see http_reply.cpp): whole replies of each framing,
    // and the ones the reader must refuse.
    std::string headerFlood = "HTTP/1.1 200 OK\r\n";
    std::string continueFlood;
    for (int line = 0; line < 200; ++line) {
        headerFlood += "X-Flood: 1\r\n";
        continueFlood += "HTTP/1.1 100 Continue\r\n\r\n";
    }
    const struct {
        const char* name;
        std::string reply;
    } replies[] = {
        {"sized", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\n"
                  "a\r\nb\r\nc"},
        {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                    "5;x=y\r\nhello\r\n3\r\nabc\r\n0\r\n\r\n"},
        {"closed", "HTTP/1.1 200 OK\r\n\r\nline1\r\nline2"},
        {"status", "HTTP/1.1 500 Internal Server Error\r\n\r\nx"},
        {"sized_cut", "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(300, 'c')},
        {"two_lengths", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\nab"},
        {"chunk_too_large", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                            "ffffffff\r\nshort"},
        {"chunk_cut", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nab"},
        {"header_flood", headerFlood + "\r\nbody"},
        {"continue_flood", continueFlood + "HTTP/1.1 200 OK\r\n\r\nbody"},
    };
    for (const auto& reply : replies) {
        Write(folder, "http_reply", reply.name, "\x07" + reply.reply);
    }
    quarn::SetFileSystem(nullptr);
    return 0;
}
