#include "resources/GridDataResource.h"

#include "core/debug/Log.h"
#include "core/filesystem/FileReader.h"
#include "core/filesystem/FileSystem.h"
#include "core/io/ByteOrder.h"
#include "core/object/ValueBinding.h"
#include "core/string/NumberText.h"
#include "core/string/Text.h"
#include "resources/ResourceRegistry.h"

#include <algorithm>
#include <cstdarg>
#include <new>
#include <string>

namespace quarn {

namespace {

// Header lines hold a key padded to this width, then the value.
constexpr size_t HeaderKeyWidth = 14;
constexpr uint32_t HeaderLines = 8;
constexpr uint32_t MirrorY = 2;
// Floats travel through a buffer of this many.
constexpr uint32_t ChunkFloats = 4096;

// Reads `count` little-endian floats from the file's position, handing each to take(index,
// value); false when the file ends first. Memory stays bounded whatever the count.
template <class Take>
bool ReadFloats(File& file, uint64_t count, Take take) {
    uint8_t chunk[ChunkFloats * 4];
    for (uint64_t done = 0; done < count;) {
        const auto want = static_cast<uint32_t>(std::min<uint64_t>(count - done, ChunkFloats));
        const uint32_t got = file.Read(chunk, want * 4) / 4;
        for (uint32_t i = 0; i < got; ++i) {
            take(done + i, WordToFloat(ReadLittleEndian32(chunk + 4 * i)));
        }
        if (got < want) {
            return false;
        }
        done += want;
    }
    return true;
}

// Appends `count` floats read from the file to `out`, which grows with what arrives rather
// than with the count a header claims.
bool AppendFloats(File& file, uint64_t count, std::vector<float>& out) {
    return ReadFloats(file, count, [&](uint64_t, float value) { out.push_back(value); });
}

// The reduced grid's cells: destination row r takes row rows[r] of a layer of `stride` floats
// per row that starts at float `first`, destination column c takes column columns[c].
bool ReadPickedCells(File& file, uint64_t first, uint64_t stride, const std::vector<uint32_t>& rows,
                     const std::vector<uint32_t>& columns, float* out) {
    for (uint32_t row : rows) {
        const uint64_t position = (first + row * stride) * 4;
        if (position > UINT32_MAX || !file.Seek(static_cast<uint32_t>(position))) {
            return false;
        }
        size_t next = 0;
        const bool read = ReadFloats(file, columns.back() + uint64_t{1}, [&](uint64_t i, float v) {
            if (next < columns.size() && i == columns[next]) {
                out[next++] = v;
            }
        });
        if (!read) {
            return false;
        }
        out += columns.size();
    }
    return true;
}

bool WriteFloats(OutputStream& out, const float* values, size_t count) {
    uint8_t chunk[ChunkFloats * 4];
    for (size_t done = 0; done < count;) {
        const size_t now = std::min<size_t>(count - done, ChunkFloats);
        for (size_t i = 0; i < now; ++i) {
            WriteLittleEndian32(chunk + 4 * i, FloatToWord(values[done + i]));
        }
        const auto bytes = static_cast<uint32_t>(now * 4);
        if (out.Write(chunk, bytes) != bytes) {
            return false;
        }
        done += now;
    }
    return true;
}

// Writes one file whole or not at all; false, with a log line, when it is not written.
template <class Write>
bool WriteWhole(const std::string& path, Write write) {
    ForwardingOutputStream out;
    bool written = out.Open(path.c_str(), 0) && write(static_cast<OutputStream&>(out));
    written = out.Close() && written;
    if (!written && TellWriteFailure()) {
        LogMessage("Grid file \"%s\" could not be written whole%s; it is left as it was",
                   path.c_str(), FileFailureSuffix().c_str());
    }
    return written;
}

// (a - b) / (cells - 1), or 0 along a side without two cells.
float Spacing(float a, float b, uint32_t cells) {
    return cells > 1 ? (a - b) / static_cast<float>(cells - 1) : 0.0f;
}

} // namespace

GridDataResource::GridDataResource(uint32_t columns, uint32_t rows) : Resource("", nullptr) {
    columns_ = columns;
    rows_ = rows;
    MakeLayers({Heights, SecondLayer, ThirdLayer});
}

GridDataResource::GridDataResource(const char* path) : Resource(path, nullptr) {
    if (path && *path) {
        LoadGrid();
        return;
    }
    // Its own block, laid out as a ".raw" grid's.
    columns_ = 1;
    rows_ = 1;
    MakeLayers({Heights, ThirdLayer});
}

uint32_t GridDataResource::GetDataSize() const {
    return static_cast<uint32_t>(std::min<uint64_t>(CellCount(), UINT32_MAX));
}

Float2 GridDataResource::GetCellSize() const {
    return {Spacing(area_.z, area_.x, columns_), Spacing(area_.w, area_.y, rows_)};
}

float* GridDataResource::GetLayer(Layer layer) {
    return layers_[layer] == NoLayer ? nullptr : block_.data() + layers_[layer];
}

const float* GridDataResource::GetLayer(Layer layer) const {
    return layers_[layer] == NoLayer ? nullptr : block_.data() + layers_[layer];
}

void GridDataResource::Fill(Layer layer, float value) {
    if (float* cells = GetLayer(layer)) {
        std::fill_n(cells, CellCount(), value);
    }
}

void GridDataResource::MakeLayers(std::initializer_list<Layer> layers) {
    block_.assign(CellCount() * layers.size(), 0.0f);
    size_t first = 0;
    for (Layer layer : layers) {
        layers_[layer] = first;
        first += CellCount();
    }
}

bool GridDataResource::Refuse(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    LogMessage("Grid \"%s\" is not loaded: %s", GetFullPath(), FormatTempV(format, arguments));
    va_end(arguments);
    block_ = {};
    std::fill_n(layers_, 3, NoLayer);
    columns_ = 0;
    rows_ = 0;
    SetState(ResourceFailed);
    return false;
}

bool GridDataResource::LoadGrid() {
    block_ = {};
    std::fill_n(layers_, 3, NoLayer);
    columns_ = 0;
    rows_ = 0;
    SetState(ResourceLoaded);
    FileSystem* files = GetFileSystem();
    if (!files || !files->Exists(GetFullPath())) {
        ReportMissingResource(GetFullPath());
        SetState(ResourcePlaceholder);
        return false;
    }
    mirrorFlags_ = 0;
    bool loaded = false;
    try {
        if (CompareNoCase(GetExtension(), "flt") == 0) {
            loaded = LoadFltSet();
        } else if (CompareNoCase(GetExtension(), "raw") == 0) {
            loaded = LoadRaw();
        }
    } catch (const std::bad_alloc&) {
        loaded = Refuse("there is not enough memory for its cells");
    }
    if (loaded) {
        UpdateFileTime();
    }
    return loaded;
}

bool GridDataResource::LoadFltSet() {
    const std::string headerPath = ReplaceExtension(GetFullPath(), "hdr");
    FileReader header;
    if (!header.Open(headerPath.c_str(), true, false)) {
        return Refuse("its header \"%s\" cannot be opened", headerPath.c_str());
    }
    std::string values[HeaderLines];
    for (std::string& value : values) {
        std::string line;
        header.ReadLineString(line);
        value = line.size() > HeaderKeyWidth ? line.substr(HeaderKeyWidth) : std::string();
    }
    header.Close();
    const int32_t fileColumns = ParseInt32(values[0].c_str());
    const int32_t fileRows = ParseInt32(values[1].c_str());
    const float cellSize = ParseFloat(values[4].c_str());
    area_.x = ParseFloat(values[2].c_str());
    area_.y = ParseFloat(values[3].c_str());
    area_.z = area_.x + cellSize * static_cast<float>(int64_t{fileColumns} - 1);
    area_.w = area_.y + cellSize * static_cast<float>(int64_t{fileRows} - 1);
    mirrorFlags_ = MirrorY;
    if (values[7].find("no") != std::string::npos) {
        mirrorFlags_ = 0;
    }
    if (values[7].find("mirror_y") != std::string::npos) {
        mirrorFlags_ = MirrorY;
    }
    const bool mirrored = mirrorFlags_ == MirrorY;

    FileReader heights;
    if (!heights.Open(GetFullPath(), true, false)) {
        return Refuse("its heights cannot be opened");
    }
    if (fileColumns < 1 || fileRows < 1) {
        return Refuse("ncols %d and nrows %d must both be at least 1", fileColumns, fileRows);
    }
    const uint64_t fileCells = uint64_t(fileColumns) * uint64_t(fileRows);
    if (heights.GetSize() / 4 < fileCells) {
        return Refuse("%u bytes hold fewer than its %d x %d floats", heights.GetSize(), fileColumns,
                      fileRows);
    }
    const bool reduced = fileColumns > int32_t{ReducedSide} && fileRows > int32_t{ReducedSide};
    // Where each reduced cell comes from: its row in the height file and in the ".dat" file
    // (which is in grid order), and its column in both.
    std::vector<uint32_t> heightRows, datRows, sourceColumns;
    if (reduced) {
        const float stepX = static_cast<float>(fileColumns) / static_cast<float>(ReducedSide);
        const float stepY = static_cast<float>(fileRows) / static_cast<float>(ReducedSide);
        auto source = [](uint32_t index, float step, int32_t count) {
            return std::min(static_cast<uint32_t>(static_cast<float>(index) * step),
                            static_cast<uint32_t>(count - 1));
        };
        for (uint32_t index = 0; index < ReducedSide; ++index) {
            const uint32_t fileRow =
                source(mirrored ? ReducedSide - 1 - index : index, stepY, fileRows);
            heightRows.push_back(fileRow);
            datRows.push_back(mirrored ? static_cast<uint32_t>(fileRows) - 1 - fileRow : fileRow);
            sourceColumns.push_back(source(index, stepX, fileColumns));
        }
        columns_ = ReducedSide;
        rows_ = ReducedSide;
        MakeLayers({Heights, SecondLayer, ThirdLayer});
        if (!ReadPickedCells(heights, 0, uint64_t(fileColumns), heightRows, sourceColumns,
                             GetLayer(Heights))) {
            return Refuse("its heights end early");
        }
    } else {
        // The file's size has proved the cells, so the block is made first and the heights go
        // straight into their rows: no second copy of a grid that may be large on one side.
        columns_ = static_cast<uint32_t>(fileColumns);
        rows_ = static_cast<uint32_t>(fileRows);
        MakeLayers({Heights, SecondLayer, ThirdLayer});
        float* cells = GetLayer(Heights);
        const bool read = ReadFloats(heights, fileCells, [&](uint64_t index, float value) {
            const uint64_t row = index / columns_;
            const uint64_t target = mirrored ? rows_ - 1 - row : row;
            cells[target * columns_ + index % columns_] = value;
        });
        if (!read) {
            return Refuse("its heights end early");
        }
    }
    heights.Close();

    // Companion layers: a short or missing ".dat" leaves the cells it does not reach at 0.
    FileReader dat;
    const std::string datPath = ReplaceExtension(GetFullPath(), "dat");
    if (!GetFileSystem()->Exists(datPath.c_str()) || !dat.Open(datPath.c_str(), true, false)) {
        return true;
    }
    const bool thirdOnly = dat.GetSize() / 4 <= fileCells;
    if (thirdOnly) {
        Fill(SecondLayer, WordToFloat(0xFFFFFFFFu));
    }
    float* first = GetLayer(thirdOnly ? ThirdLayer : SecondLayer);
    if (reduced) {
        if (ReadPickedCells(dat, 0, uint64_t(fileColumns), datRows, sourceColumns, first) &&
            !thirdOnly) {
            ReadPickedCells(dat, fileCells, uint64_t(fileColumns), datRows, sourceColumns,
                            GetLayer(ThirdLayer));
        }
    } else {
        // The second and third layers follow each other in the block as in the file.
        ReadFloats(dat, CellCount() * (thirdOnly ? 1 : 2),
                   [&](uint64_t index, float value) { first[index] = value; });
    }
    return true;
}

bool GridDataResource::LoadRaw() {
    FileReader file;
    if (!file.Open(GetFullPath(), true, false)) {
        return Refuse("it cannot be opened");
    }
    const uint32_t size = file.GetSize();
    const auto columns = static_cast<int32_t>(file.ReadUInt32());
    const auto rows = static_cast<int32_t>(file.ReadUInt32());
    if (size < 8 || columns < 1 || rows < 1) {
        return Refuse("columns and rows must both be at least 1");
    }
    const uint64_t cells = uint64_t(columns) * uint64_t(rows);
    if ((size - 8) / 8 < cells) {
        return Refuse("%u bytes hold fewer than %d x %d cells of two floats", size, columns, rows);
    }
    std::vector<float> block;
    block.reserve(2 * cells); // proved by the file's size
    if (!AppendFloats(file, 2 * cells, block)) {
        return Refuse("it ends early");
    }
    block_ = std::move(block);
    columns_ = static_cast<uint32_t>(columns);
    rows_ = static_cast<uint32_t>(rows);
    layers_[Heights] = 0;
    layers_[ThirdLayer] = CellCount();
    return true;
}

void GridDataResource::SaveGridAscii(const char* path) {
    if (!path) {
        return;
    }
    const std::string extension = GetPathExtension(path);
    if (!GetLayer(Heights) || (CompareNoCase(extension.c_str(), "flt") != 0 &&
                               CompareNoCase(extension.c_str(), "raw") != 0)) {
        LogMessage("Grid \"%s\" is not saved to \"%s\": %s", GetFullPath(), path,
                   GetLayer(Heights) ? "grids save only as \"flt\" or \"raw\""
                                     : "it holds no heights");
        return;
    }
    if (CompareNoCase(extension.c_str(), "flt") == 0) {
        SaveFltSet(path);
    } else {
        SaveRaw(path);
    }
}

bool GridDataResource::SaveFltSet(const char* path) const {
    const bool mirrored = mirrorFlags_ == MirrorY;
    const bool written = WriteWhole(path, [&](OutputStream& out) {
        for (uint32_t row = 0; row < rows_; ++row) {
            const uint32_t source = mirrored ? rows_ - 1 - row : row;
            if (!WriteFloats(out, GetLayer(Heights) + size_t{source} * columns_, columns_)) {
                return false;
            }
        }
        return true;
    });
    if (!written) {
        return false;
    }
    // Without a second layer (a ".raw" grid) only the third is written, 4 bytes per cell, which
    // loads back as such.
    const float* second = GetLayer(SecondLayer);
    if (!WriteWhole(ReplaceExtension(path, "dat"), [&](OutputStream& out) {
            return (!second || WriteFloats(out, second, CellCount())) &&
                   WriteFloats(out, GetLayer(ThirdLayer), CellCount());
        })) {
        return false;
    }
    const std::string header = FormatClassic(
        "ncols         %d\nnrows         %d\nxllcorner     %f\nyllcorner     %f\n"
        "cellsize      %f\nNODATA_value  -9999\nbyteorder     LSBFIRST\nmirror        %s",
        static_cast<int32_t>(columns_), static_cast<int32_t>(rows_), static_cast<double>(area_.x),
        static_cast<double>(area_.y), static_cast<double>(GetCellSize().x),
        mirrored ? "mirror_y" : "no");
    return WriteWhole(ReplaceExtension(path, "hdr"), [&](OutputStream& out) {
        return out.Write(header.data(), static_cast<uint32_t>(header.size())) == header.size();
    });
}

bool GridDataResource::SaveRaw(const char* path) const {
    // The layer stored after the heights: the second, or the third where there is no second.
    const float* companion = GetLayer(SecondLayer) ? GetLayer(SecondLayer) : GetLayer(ThirdLayer);
    return WriteWhole(path, [&](OutputStream& out) {
        uint8_t sides[8];
        WriteLittleEndian32(sides, columns_);
        WriteLittleEndian32(sides + 4, rows_);
        return out.Write(sides, sizeof sides) == sizeof sides &&
               WriteFloats(out, GetLayer(Heights), CellCount()) &&
               WriteFloats(out, companion, CellCount());
    });
}

GridDataResource* GetGridData(const char* path) {
    const PathString name = NormalizeResourcePath(path ? path : "");
    if (Resource* loaded = FindLoadedResource(name.Text(), "")) {
        if (auto* grid = dynamic_cast<GridDataResource*>(loaded)) {
            return grid;
        }
        // Raw data of the same file: the grid takes the name, the other keeps its holders.
        loaded->Release();
    }
    return new GridDataResource(path);
}

} // namespace quarn
