#include "resources/MeshText.h"

#include "core/debug/Log.h"
#include "core/filesystem/FileReader.h"
#include "core/io/Tokenizer.h"
#include "core/string/NumberText.h"
#include "core/string/Text.h"
#include "device/IndexBuffer.h"
#include "device/VertexBuffer.h"
#include "resources/Mesh.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace quarn {

namespace {

// Past the end of the file every line reads as empty, its numbers as zeros; `cut` records
// that the file ended before a line the reader needed.

// A header or count line: the key and its '=' as two tokens, then the rest of the line.
std::string ReadValue(Tokenizer& tokenizer, File& file, bool& cut) {
    cut = cut || file.IsEof();
    tokenizer.Next(file);
    tokenizer.Next(file);
    std::string value;
    file.ReadLineString(value);
    return value;
}

std::string ReadLine(File& file, bool& cut) {
    cut = cut || file.IsEof();
    std::string line;
    file.ReadLineString(line);
    return line;
}

// Reads a section's count line and hands each element line to store. Elements past `held`
// (what the mesh has room for) are read only while the file has lines left: beyond its end
// each would be an empty line, only to be reported and dropped, as many times as a damaged
// count says.
template <typename Store>
void ReadSection(Tokenizer& tokenizer, File& file, bool& cut, uint32_t held, Store store) {
    const int32_t count = ParseInt32(ReadValue(tokenizer, file, cut).c_str());
    for (int32_t i = 0; i < count && (static_cast<uint32_t>(i) < held || !file.IsEof()); ++i) {
        store(static_cast<uint32_t>(i), ReadLine(file, cut));
    }
}

// Vertex-format words and the channels they name.
struct ChannelWord {
    const char* word;
    uint32_t bit;
};
constexpr ChannelWord ChannelWords[] = {{"point", VertexPosition},
                                        {"normal", VertexNormal},
                                        {"uv", VertexTexCoord0},
                                        {"color", VertexDiffuse},
                                        {"weights", VertexWeight0}};

} // namespace

bool ReadMeshText(Mesh& mesh, const char* path) {
    FileReader reader;
    reader.Open(path, true, false);
    Tokenizer tokenizer;
    bool cut = false;
    const int32_t vertexCount = ParseInt32(ReadValue(tokenizer, reader, cut).c_str());
    const int32_t indexCount = ParseInt32(ReadValue(tokenizer, reader, cut).c_str());
    const std::string vertexFormat = ReadValue(tokenizer, reader, cut);
    const std::string indexFormat = ReadValue(tokenizer, reader, cut);
    // Every vertex and index takes at least a byte of the file: larger counts are a damaged
    // header, not a file that ends early.
    const int64_t size = reader.GetSize();
    if (vertexCount < 1 || indexCount < 3 ||
        vertexCount > static_cast<int64_t>(Mesh::MaxVertices) || vertexCount > size ||
        indexCount > size) {
        LogMessage("Error: Invalid mesh file '%s'", path);
        return false;
    }
    uint32_t format = 0;
    for (const ChannelWord& channel : ChannelWords) {
        if (std::strstr(vertexFormat.c_str(), channel.word)) {
            format |= channel.bit;
        }
    }
    const bool strip = std::strstr(indexFormat.c_str(), "trianglestrip") != nullptr;
    const bool flagged = std::strstr(indexFormat.c_str(), "triangleflags") != nullptr;
    const int32_t triangleCount = strip ? indexCount - 2 : indexCount / 3;
    if (!mesh.Create(vertexCount, triangleCount, format)) {
        return false;
    }

    const auto vertices = static_cast<uint32_t>(vertexCount);
    if (format & VertexPosition) {
        ReadSection(tokenizer, reader, cut, vertices, [&](uint32_t i, const std::string& line) {
            mesh.SetPoint(i, ParseFloat3(line.c_str(), " "));
        });
    }
    if (format & VertexNormal) {
        ReadSection(tokenizer, reader, cut, vertices, [&](uint32_t i, const std::string& line) {
            mesh.SetNormal(i, ParseFloat3(line.c_str(), " "));
        });
    }
    UvRangeTest range;
    if (format & VertexTexCoord0) {
        ReadSection(tokenizer, reader, cut, vertices, [&](uint32_t i, const std::string& line) {
            const Float2 uv = ParseFloat2(line.c_str(), " ");
            if (i < vertices) {
                range.Add(uv);
            }
            mesh.SetUv(i, uv);
        });
    }
    if (format & VertexDiffuse) {
        ReadSection(tokenizer, reader, cut, vertices, [&](uint32_t i, const std::string& line) {
            mesh.SetColor(i, static_cast<uint32_t>(ParseInt32(line.c_str())));
        });
    }
    if (format & VertexWeight0) {
        // Blend weights and their bones are not kept.
        ReadSection(tokenizer, reader, cut, vertices,
                    [&](uint32_t, const std::string&) { mesh.RecordChange(); });
    }

    const auto triangles = static_cast<uint32_t>(triangleCount);
    if (strip) {
        const int64_t count = ParseInt32(ReadValue(tokenizer, reader, cut).c_str());
        int32_t s0 = ParseInt32(ReadLine(reader, cut).c_str());
        int32_t s1 = ParseInt32(ReadLine(reader, cut).c_str());
        for (int64_t k = 0; k + 2 < count && (k < triangles || !reader.IsEof()); ++k) {
            const int32_t s2 = ParseInt32(ReadLine(reader, cut).c_str());
            // Every other triangle of a strip is wound the other way.
            if (k % 2 == 0) {
                mesh.SetTriangle(static_cast<uint32_t>(k), s0, s1, s2);
            } else {
                mesh.SetTriangle(static_cast<uint32_t>(k), s0, s2, s1);
            }
            s0 = s1;
            s1 = s2;
        }
    } else {
        ReadSection(tokenizer, reader, cut, triangles, [&](uint32_t t, const std::string& line) {
            const Int3 corners = ParseInt3(line.c_str(), " ");
            mesh.SetTriangle(t, corners.x, corners.y, corners.z);
        });
    }
    if (flagged) {
        ReadSection(tokenizer, reader, cut, triangles, [&](uint32_t t, const std::string& line) {
            if (t < triangles) {
                mesh.SetTriangleFlags(t, static_cast<uint32_t>(ParseInt32(line.c_str())));
            } else {
                static bool reported = false;
                ReportInvalidTriangleEntry(reported, t);
            }
        });
        mesh.GroupTrianglesByFlags();
    } else {
        for (uint32_t t = 0; t < triangles; ++t) {
            mesh.SetTriangleFlags(t, 0);
        }
    }
    mesh.SetUvRange(range);
    if (cut) {
        mesh.SetFileEndedEarly(true);
        LogMessage("Mesh file '%s' ends early: what it lacks reads as zeros", path);
    }
    mesh.RecordChange();
    mesh.FinishChange();
    return true;
}

bool WriteMeshText(const Mesh& mesh, const char* path) {
    const auto vertexCount = static_cast<int>(mesh.GetVertexCount());
    const auto triangleCount = static_cast<int>(mesh.GetTriangleCount());
    bool flagged = false;
    for (int t = 0; t < triangleCount && !flagged; ++t) {
        flagged = mesh.GetTriangleFlags(static_cast<uint32_t>(t)) != 0;
    }
    ForwardingOutputStream out;
    if (!out.Open(path, 0)) {
        return false;
    }
    out.Printf("vertexcount=%d\nindexcount=%d\nvertexformat=(point,normal,uv)\nindexformat=%s\n",
               vertexCount, triangleCount * 3,
               flagged ? "trianglelist,triangleflags" : "trianglelist");
    out.Printf("points=%d\n", vertexCount);
    for (int i = 0; i < vertexCount; ++i) {
        const Float3 p = mesh.GetPoint(static_cast<uint32_t>(i));
        out.Printf("\t%f %f %f\n", static_cast<double>(p.x), static_cast<double>(p.y),
                   static_cast<double>(p.z));
    }
    out.Printf("normals=%d\n", vertexCount);
    for (int i = 0; i < vertexCount; ++i) {
        const Float3 n = mesh.GetNormal(static_cast<uint32_t>(i));
        out.Printf("\t%f %f %f\n", static_cast<double>(n.x), static_cast<double>(n.y),
                   static_cast<double>(n.z));
    }
    out.Printf("uvs=%d\n", vertexCount);
    for (int i = 0; i < vertexCount; ++i) {
        const Float2 uv = mesh.GetUv(static_cast<uint32_t>(i));
        out.Printf("\t%f %f\n", static_cast<double>(uv.x), static_cast<double>(uv.y));
    }
    out.Printf("triangles=%d\n", triangleCount);
    for (int t = 0; t < triangleCount; ++t) {
        const Int3 corners = mesh.GetTriangle(static_cast<uint32_t>(t));
        out.Printf("\t%d %d %d\n", corners.x, corners.y, corners.z);
    }
    if (flagged) {
        out.Printf("flags=%d\n", triangleCount);
        for (int t = 0; t < triangleCount; ++t) {
            out.Printf("\t%d\n", static_cast<int>(mesh.GetTriangleFlags(static_cast<uint32_t>(t))));
        }
    }
    return out.Close();
}

void Mesh::GroupTrianglesByFlags() {
    struct Entry {
        uint32_t corners[3];
        MeshTriangle record;
    };
    const auto count =
        static_cast<uint32_t>(std::min<size_t>(GetTriangleCount(), triangles_.size()));
    std::vector<Entry> entries(count);
    uint32_t largest = 0;
    for (uint32_t t = 0; t < count; ++t) {
        ReadIndices(t, entries[t].corners);
        entries[t].record = triangles_[t];
        largest = std::max(largest, triangles_[t].flags);
    }
    // Flags of 32 and more have no group of their own; they follow the last group in the same
    // ascending order, so no triangle is lost.
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.record.flags < b.record.flags;
    });
    const uint32_t groupCount = largest >= 31 ? 32 : largest + 1;
    indices_->Lock(2);
    for (uint32_t t = 0; t < count; ++t) {
        indices_->SetTriangle(t, entries[t].corners[0], entries[t].corners[1],
                              entries[t].corners[2]);
        triangles_[t] = entries[t].record;
    }
    // Each group starts at its first triangle; a value that does not occur is an empty group
    // where the next one starts. The entry after the last group is its end.
    indices_->SetGroupCount(groupCount);
    uint32_t position = 0;
    for (uint32_t group = 0; group <= groupCount; ++group) {
        while (position < count && entries[position].record.flags < group) {
            ++position;
        }
        indices_->SetGroupStart(group, 3 * position);
    }
    indices_->Lock(0);
}

} // namespace quarn
