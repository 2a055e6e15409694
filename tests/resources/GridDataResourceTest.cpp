#include "resources/GridDataResource.h"

#include "tests/resources/ResourceTestSupport.h"

#include <algorithm>
#include <bit>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

namespace quarn {
namespace {

static_assert(std::endian::native == std::endian::little, "grid files are little-endian");

template <class T>
std::string Bytes(const std::vector<T>& values) {
    return {reinterpret_cast<const char*>(values.data()), values.size() * sizeof(T)};
}

std::vector<float> Ramp(float first, size_t count) {
    std::vector<float> values(count);
    std::iota(values.begin(), values.end(), first);
    return values;
}

// A header as the grid writes it: area from (10.5, -2), cells 0.25 apart.
std::string HeaderText(int columns, int rows, const char* mirror) {
    return "ncols         " + std::to_string(columns) + "\nnrows         " + std::to_string(rows) +
           "\nxllcorner     10.500000\nyllcorner     -2.000000\ncellsize      0.250000\n"
           "NODATA_value  -9999\nbyteorder     LSBFIRST\nmirror        " +
           mirror;
}

std::vector<float> Cells(const GridDataResource& grid, GridDataResource::Layer layer) {
    const float* cells = grid.GetLayer(layer);
    return cells ? std::vector<float>(cells, cells + grid.GetDataSize()) : std::vector<float>();
}

constexpr auto Heights = GridDataResource::Heights;
constexpr auto SecondLayer = GridDataResource::SecondLayer;
constexpr auto ThirdLayer = GridDataResource::ThirdLayer;

using GridTest = test::ResourceMemoryTest;

TEST_F(GridTest, FltSetLoadsByItsHeaderAndSavesTheSameFilesBack) {
    const std::string heights = Bytes(Ramp(0, 6));
    const std::string dat = Bytes(Ramp(100, 12));
    const std::pair<const char*, uint32_t> cases[] = {{"no", 0}, {"mirror_y", 2}, {"flipped", 2}};
    for (const auto& [mirror, flags] : cases) {
        files_.Add("g.hdr", HeaderText(3, 2, mirror));
        files_.Add("g.flt", heights);
        files_.Add("g.dat", dat);
        GridDataResource* grid = GetGridData("g.flt");
        ASSERT_EQ(GetGridData("G.FLT"), grid);
        grid->Release();
        EXPECT_EQ(grid->GetMirrorFlags(), flags) << mirror;
        EXPECT_FALSE(grid->GetArea() != Float4(10.5f, -2.0f, 11.0f, -1.75f));
        // Mirrored files hold their rows bottom-up.
        EXPECT_EQ(Cells(*grid, Heights),
                  flags ? (std::vector<float>{3, 4, 5, 0, 1, 2}) : Ramp(0, 6))
            << mirror;
        EXPECT_EQ(Cells(*grid, SecondLayer), Ramp(100, 6));
        EXPECT_EQ(Cells(*grid, ThirdLayer), Ramp(106, 6));
        // The files written are those read, so they load the same grid again.
        grid->SaveToFile("out.flt");
        EXPECT_EQ(Written("out.hdr"), HeaderText(3, 2, flags ? "mirror_y" : "no"));
        EXPECT_EQ(Written("out.flt"), heights);
        EXPECT_EQ(Written("out.dat"), dat);
        grid->Release();
    }
}

TEST_F(GridTest, GridsLargerThan1025BothWaysAreReducedTakingEveryLayerFromOneSourceCell) {
    constexpr int Side = 2049;
    // Every cell holds its index: heights as they are, the second layer + 0.5, the third negated.
    std::vector<float> cells = Ramp(0, size_t{Side} * Side);
    files_.Add("big.flt", Bytes(cells));
    std::string dat = Bytes(Ramp(0.5f, cells.size()));
    std::transform(cells.begin(), cells.end(), cells.begin(), [](float v) { return -v; });
    files_.Add("big.dat", dat + Bytes(cells));
    const float step = static_cast<float>(Side) / 1025.0f; // 1.9990244
    auto source = [&](int index) { return static_cast<int>(static_cast<float>(index) * step); };
    for (const char* mirror : {"no", "mirror_y"}) {
        files_.Add("big.hdr", HeaderText(Side, Side, mirror));
        GridDataResource grid("big.flt");
        ASSERT_EQ(grid.GetColumns() * grid.GetRows(), 1025u * 1025u);
        const bool mirrored = mirror[0] == 'm';
        for (int row : {0, 1, 600, 1024}) {
            for (int column : {0, 1, 777, 1024}) {
                const int fileRow = source(mirrored ? 1024 - row : row);
                const int gridRow = mirrored ? Side - 1 - fileRow : fileRow;
                const size_t cell = size_t(row) * 1025 + size_t(column);
                const float height = static_cast<float>(fileRow * Side + source(column));
                const float companion = static_cast<float>(gridRow * Side + source(column));
                EXPECT_EQ(grid.GetLayer(Heights)[cell], height);
                EXPECT_EQ(grid.GetLayer(SecondLayer)[cell], companion + 0.5f);
                EXPECT_EQ(grid.GetLayer(ThirdLayer)[cell], -companion);
            }
        }
    }
    files_.Add("big.hdr", HeaderText(Side, 1000, "no"));
    GridDataResource wide("big.flt");
    EXPECT_EQ(wide.GetColumns(), 2049u);
    EXPECT_EQ(wide.GetRows(), 1000u);
    EXPECT_EQ(wide.GetLayer(Heights)[2049 * 1000 - 1], 2049.0f * 1000 - 1);
}

TEST_F(GridTest, RawGridsAndFourByteDatFilesHoldNoSecondLayerOnTheirOwn) {
    const std::string raw = Bytes<uint32_t>({3, 2}) + Bytes(Ramp(0, 6)) + Bytes(Ramp(50, 6));
    files_.Add("r.raw", raw);
    GridDataResource grid("r.raw");
    EXPECT_EQ(Cells(grid, Heights), Ramp(0, 6));
    EXPECT_EQ(grid.GetLayer(SecondLayer), nullptr);
    EXPECT_EQ(Cells(grid, ThirdLayer), Ramp(50, 6));
    grid.SaveToFile("copy.raw");
    EXPECT_EQ(Written("copy.raw"), raw);
    // As ".flt" the third layer alone goes to the ".dat", 4 bytes per cell, and loads back so.
    grid.SaveToFile("as.flt");
    EXPECT_EQ(Written("as.dat"), Bytes(Ramp(50, 6)));
    for (const char* name : {"as.hdr", "as.flt", "as.dat"}) {
        files_.Add(name, Written(name));
    }
    GridDataResource set("as.flt");
    EXPECT_EQ(Cells(set, Heights), Ramp(0, 6));
    EXPECT_EQ(Cells(set, ThirdLayer), Ramp(50, 6));
    EXPECT_EQ(Bytes(Cells(set, SecondLayer)), std::string(24, '\xFF'));
}

TEST_F(GridTest, FilesThatDoNotHoldTheirGridLoadNoLayers) {
    const std::string header = HeaderText(3, 2, "no");
    // What is wrong, the header (none for a ".raw" grid) and the grid file.
    const std::tuple<const char*, std::string, std::string> cases[] = {
        {"negative columns", HeaderText(-5, 2, "no"), ""},
        {"no rows", HeaderText(3, 0, "no"), ""},
        {"short heights", header, Bytes(Ramp(0, 5))},
        {"cells wrapping 32 bits", HeaderText(65536, 65536, "no"), Bytes(Ramp(0, 4))},
        {"no columns", "", Bytes<uint32_t>({0, 2}) + Bytes(Ramp(0, 4))},
        {"short raw", "", Bytes<uint32_t>({3, 2}) + Bytes(Ramp(0, 11))},
        {"raw wrapping 32 bits", "", Bytes<uint32_t>({65536, 65536}) + Bytes(Ramp(0, 4))},
        {"no sides", "", "\x01"},
    };
    for (const auto& [name, header, cells] : cases) {
        const char* path = header.empty() ? "g.raw" : "g.flt";
        files_.Add(path, cells);
        files_.Add("g.hdr", header);
        log_.Clear();
        GridDataResource grid(path);
        EXPECT_EQ(grid.GetLayer(Heights), nullptr) << name;
        EXPECT_EQ(grid.GetDataSize(), 0u) << name;
        EXPECT_EQ(grid.GetState(), uint32_t{ResourceFailed}) << name;
        EXPECT_EQ(log_.Lines().size(), 1u) << name;
    }
}

TEST_F(GridTest, GridsOwnTheirLayersFillEveryCellWithTheValueAndSaveOnlyHeights) {
    EXPECT_EQ(GridDataResource(3, 5).GetCellSize().x, 1.0f);
    EXPECT_EQ(GridDataResource(3, 5).GetCellSize().y, 0.5f);
    EXPECT_EQ(GridDataResource(1, 4).GetCellSize().x, 0.0f);
    GridDataResource made(2, 2);
    made.FillHeights(1.0f);
    EXPECT_EQ(Cells(made, Heights), std::vector<float>(4, 1.0f));
    EXPECT_EQ(Cells(made, SecondLayer), std::vector<float>(4, 0.0f));

    GridDataResource first("");
    GridDataResource second("");
    first.FillHeights(1.5f);
    first.FillSecondLayer(7.0f);
    first.FillThirdLayer(2.5f);
    EXPECT_EQ(first.GetLayer(SecondLayer), nullptr);
    EXPECT_EQ(Cells(second, Heights), std::vector<float>{0.0f});
    first.SaveToFile("one.raw");
    EXPECT_EQ(Written("one.raw"), Bytes<uint32_t>({1, 1}) + Bytes(std::vector<float>{1.5f, 2.5f}));
    // Without heights, or to another form, nothing is written.
    GridDataResource failed("missing.flt");
    log_.Clear();
    failed.SaveToFile("x.flt");
    made.SaveToFile("x.png");
    for (const char* name : {"x.flt", "x.dat", "x.hdr", "x.png"}) {
        EXPECT_EQ(Written(name), "(nothing)") << name;
    }
    EXPECT_EQ(log_.Lines().size(), 2u);
}

} // namespace
} // namespace quarn
