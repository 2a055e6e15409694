#include "resources/ObjReader.h"

#include "core/debug/Log.h"
#include "core/filesystem/FileSystem.h"
#include "core/io/BufferFile.h"
#include "core/io/Tokenizer.h"
#include "core/string/NumberText.h"
#include "core/string/Text.h"
#include "device/VertexBuffer.h"
#include "resources/Mesh.h"
#include "resources/TripleKey.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

namespace quarn {

namespace {

// A face corner: position, texture and normal reference as the file writes them (1-based).
struct Corner {
    int32_t position;
    int32_t texture;
    int32_t normal;

    TripleKey Key() const { return {uint32_t(position), uint32_t(texture), uint32_t(normal)}; }
};

struct Face {
    uint32_t corners[3];
    uint32_t group;
};

class ObjParser {
public:
    ObjParser(File& file, Mesh& mesh) : file_(file), mesh_(mesh) {}

    // False once the file holds more distinct corners than a mesh can address, or at a
    // number that is missing or malformed (GetNumberMistake says what, GetErrorPosition where).
    bool Parse();
    bool Fill();
    // Faces of fewer than three corners, which are skipped.
    uint32_t GetShortFaceCount() const { return shortFaces_; }
    // Null, "" for a missing number, or what is wrong with GetNumberText.
    const char* GetNumberMistake() const { return mistake_; }
    const std::string& GetNumberText() const { return number_; }
    uint32_t GetErrorPosition() const { return errorPosition_; }

private:
    void Next() { tokenizer_.Next(file_); }
    bool IsNumber() const { return tokenizer_.GetKind() == TokenNumber; }
    std::string RestOfLine() {
        std::string rest;
        file_.ReadLineString(rest);
        return rest;
    }
    bool ReadNumber(float& value, bool optional = false);
    bool AtCorner() const { return IsNumber() || tokenizer_.GetKind() == '-'; }
    int32_t ReadReference(size_t listSize);
    Corner ReadCorner();
    uint32_t AddCorner(const Corner& corner);
    void ReadFace();

    File& file_;
    Mesh& mesh_;
    Tokenizer tokenizer_;
    std::vector<Float3> positions_;
    std::vector<Float3> normals_;
    std::vector<Float2> texture_;
    std::vector<Corner> corners_;
    // The first corner of each distinct triple, as a search of the list in order finds it.
    std::unordered_map<TripleKey, uint32_t, TripleKeyHash> cornerIndex_;
    std::vector<Face> faces_;
    std::vector<std::string> groupNames_;
    uint32_t group_ = 0;
    std::vector<Corner> faceCorners_; // the face being read
    uint32_t shortFaces_ = 0;
    std::string number_; // the text of the number being read
    uint32_t errorPosition_ = 0;
    const char* mistake_ = nullptr;
};

// A number is the run of bytes up to the next blank or '#' on its line, read whole as strtod
// reads it ("1e-3", ".5", "-.5", "5."); the tokenizer would split such forms at their sign or
// point. False, with the run's start kept for the error, when the run is empty or is not one
// number, or when its value lies beyond a float's range. An optional number may be missing
// (the line ends first), which leaves `value` as it was.
bool ObjParser::ReadNumber(float& value, bool optional) {
    int byte = file_.ReadByte();
    while (byte != '\n' && (byte == 0 || IsBlank(static_cast<char>(byte)))) {
        byte = file_.ReadByte();
    }
    errorPosition_ = file_.Tell() - (byte == -1 ? 0 : 1);
    number_.clear();
    while (byte != -1 && byte != 0xFF && byte != '#' && !IsBlank(static_cast<char>(byte)) &&
           byte != 0) {
        number_.push_back(static_cast<char>(byte));
        byte = file_.ReadByte();
    }
    if (byte != -1) {
        file_.UnreadByte(); // a line end or comment is still the tokenizer's
    }
    if (number_.empty()) {
        mistake_ = optional ? nullptr : "";
        return optional;
    }
    mistake_ = FindFloatMistake(number_.c_str(), value);
    return !mistake_;
}

// A reference at the current token (the tokenizer gives a sign as a token of its own); moves
// past it. A negative one counts back from the end of its list as read so far, -1 being the
// last entry, as the format defines; one reaching before the list's start has no entry (0).
int32_t ObjParser::ReadReference(size_t listSize) {
    const bool negative = tokenizer_.GetKind() == '-';
    if (negative) {
        Next();
    }
    const int32_t value = ParseInt32(tokenizer_.GetText().c_str());
    Next();
    if (!negative) {
        return value;
    }
    return value > 0 && static_cast<size_t>(value) <= listSize
               ? static_cast<int32_t>(listSize + 1 - static_cast<size_t>(value))
               : 0;
}

// "p", "p/t", "p/t/n" or "p//n" at the current token; a missing texture reference is the
// position's, except in "p//n" where it is 0, and a missing normal reference is the
// position's. Leaves the token after the corner current.
Corner ObjParser::ReadCorner() {
    Corner corner;
    corner.position = ReadReference(positions_.size());
    corner.texture = corner.position;
    corner.normal = corner.position;
    if (tokenizer_.GetKind() == '/') {
        Next();
        bool hasNormal = true;
        if (tokenizer_.GetKind() != '/') {
            corner.texture = ReadReference(texture_.size());
            hasNormal = tokenizer_.GetKind() == '/';
        } else {
            corner.texture = 0;
        }
        if (hasNormal) {
            Next();
            corner.normal = ReadReference(normals_.size());
        }
    }
    return corner;
}

// The vertex index of the corner: one vertex per distinct triple.
uint32_t ObjParser::AddCorner(const Corner& corner) {
    const auto [found, added] =
        cornerIndex_.try_emplace(corner.Key(), static_cast<uint32_t>(corners_.size()));
    if (added) {
        corners_.push_back(corner);
    }
    return found->second;
}

// A polygon becomes the fan (1, 2, 3), (1, 3, 4) ... of its corners; a face of fewer than three
// corners makes no triangle and adds no vertex.
void ObjParser::ReadFace() {
    Next();
    faceCorners_.clear();
    while (AtCorner()) {
        faceCorners_.push_back(ReadCorner());
    }
    if (faceCorners_.size() < 3) {
        ++shortFaces_;
        return;
    }
    Face face;
    face.group = group_;
    for (uint32_t i = 0; i < 3; ++i) {
        face.corners[i] = AddCorner(faceCorners_[i]);
    }
    faces_.push_back(face);
    for (size_t i = 3; i < faceCorners_.size() && corners_.size() <= Mesh::MaxVertices; ++i) {
        face.corners[1] = face.corners[2];
        face.corners[2] = AddCorner(faceCorners_[i]);
        faces_.push_back(face);
    }
}

bool ObjParser::Parse() {
    Next();
    while (tokenizer_.GetKind() != TokenEnd) {
        if (corners_.size() > Mesh::MaxVertices) {
            return false;
        }
        if (tokenizer_.GetKind() == '#') {
            RestOfLine();
            Next();
            continue;
        }
        if (tokenizer_.GetKind() != TokenIdentifier) {
            Next();
            continue;
        }
        const std::string keyword = tokenizer_.GetText();
        const auto is = [&keyword](const char* name) {
            return CompareNoCase(keyword.c_str(), name) == 0;
        };
        if (is("v") || is("vn")) {
            Float3 read;
            if (!ReadNumber(read.x) || !ReadNumber(read.y) || !ReadNumber(read.z)) {
                return false;
            }
            (is("v") ? positions_ : normals_).push_back({read.x, read.y, -read.z});
            Next();
        } else if (is("vt")) {
            // v may be left out (a one-dimensional texture) and reads 0; w is skipped as any
            // further token is.
            Float2 read{};
            if (!ReadNumber(read.x) || !ReadNumber(read.y, true)) {
                return false;
            }
            texture_.push_back(read);
            Next();
        } else if (is("f")) {
            ReadFace();
        } else if (is("g") || is("o")) {
            std::string name = RestOfLine();
            const size_t first = name.find_first_not_of(" \t\r");
            name = first == std::string::npos
                       ? std::string()
                       : name.substr(first, name.find_last_not_of(" \t\r") - first + 1);
            groupNames_.push_back(std::move(name));
            ++group_;
            Next();
        } else if (is("s") || is("mtllib") || is("usemtl")) {
            RestOfLine();
            Next();
        } else {
            Next();
        }
    }
    return corners_.size() <= Mesh::MaxVertices;
}

// References of 0 or below, and beyond their list, have no entry: such a position or normal
// is the zero vector, such a texture coordinate (0, 0), which the flip makes (0, 1).
template <typename T>
T Reference(const std::vector<T>& list, int32_t reference) {
    return reference > 0 && static_cast<size_t>(reference) <= list.size()
               ? list[static_cast<size_t>(reference) - 1]
               : T{};
}

bool ObjParser::Fill() {
    const auto triangleCount = static_cast<int32_t>(std::min<size_t>(faces_.size(), INT32_MAX));
    if (!mesh_.Create(static_cast<int32_t>(corners_.size()), triangleCount,
                      VertexPosition | VertexNormal | VertexTexCoord0)) {
        return false;
    }
    for (std::string& name : groupNames_) {
        mesh_.AddGroupName(std::move(name));
    }
    UvRangeTest range;
    for (uint32_t i = 0; i < corners_.size(); ++i) {
        const Corner& corner = corners_[i];
        mesh_.SetPoint(i, Reference(positions_, corner.position));
        mesh_.SetNormal(i, Reference(normals_, corner.normal));
        const Float2 read = Reference(texture_, corner.texture);
        const Float2 uv{read.x, 1.0f - read.y};
        range.Add(uv);
        mesh_.SetUv(i, uv);
    }
    for (uint32_t k = 0; k < static_cast<uint32_t>(triangleCount); ++k) {
        const Face& face = faces_[k];
        mesh_.SetTriangle(k, static_cast<int32_t>(face.corners[0]),
                          static_cast<int32_t>(face.corners[1]),
                          static_cast<int32_t>(face.corners[2]));
        mesh_.SetTriangleFlags(k, face.group);
    }
    mesh_.SetUvRange(range);
    mesh_.RecordChange();
    mesh_.FinishChange();
    return true;
}

} // namespace

bool ReadObj(Mesh& mesh, const char* path) {
    FileSystem* files = GetFileSystem();
    std::unique_ptr<File> file = files ? files->Open(path, OpenText) : nullptr;
    // Read whole, so that an error can count the lines before it.
    std::vector<uint8_t> bytes = file ? file->ReadRemaining() : std::vector<uint8_t>();
    file.reset();
    BufferFile source(bytes.data(), static_cast<uint32_t>(bytes.size()));
    mesh.ClearGroupNames();
    ObjParser parser(source, mesh);
    if (!parser.Parse()) {
        if (const char* mistake = parser.GetNumberMistake()) {
            const auto before = bytes.begin() + parser.GetErrorPosition();
            const long line = 1 + std::count(bytes.begin(), before, uint8_t('\n'));
            const std::string& number = parser.GetNumberText();
            if (!*mistake) {
                LogMessage("Error: Mesh file '%s', line %ld: a number is missing", path, line);
            } else {
                // A run of garbage can be as long as the file; its start names it well enough.
                constexpr size_t Shown = 40;
                LogMessage("Error: Mesh file '%s', line %ld: '%.*s%s' %s", path, line,
                           static_cast<int>(std::min(number.size(), Shown)), number.data(),
                           number.size() > Shown ? "..." : "", mistake);
            }
        } else {
            LogMessage("Error: Invalid mesh file '%s'", path);
        }
        return false;
    }
    // The text goes before the mesh is made, so that at most two copies of the triangles (the
    // parsed faces and the mesh's) are ever held at once.
    std::vector<uint8_t>().swap(bytes);
    if (parser.GetShortFaceCount() > 0) {
        LogMessage("Warning: %u faces of fewer than three corners in mesh file '%s' are skipped",
                   parser.GetShortFaceCount(), path);
    }
    return parser.Fill();
}

} // namespace quarn
