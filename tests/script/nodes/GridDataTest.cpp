#include "script/nodes/GridData.h"

#include "core/io/ByteOrder.h"
#include "tests/resources/ResourceTestSupport.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestTree.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

// Vectors compared as text, which the failure shows.
std::string Text(Int3 v) {
    return std::to_string(v.x) + "," + std::to_string(v.y) + "," + std::to_string(v.z);
}

class GridDataTest : public test::ResourceDiskTest {
protected:
    // A (4, 4, 4) grid at (10, 0, 0) for two fields and five objects, cleared.
    GridData* MakeGrid() {
        GridData* grid = tree_.Make<GridData>("grid");
        grid->SetSize(Int3(4, 4, 4));
        grid->SetOffset(Int3(10, 0, 0));
        grid->SetFieldCount(2);
        grid->SetCapacity(5);
        grid->Clear();
        return grid;
    }
    std::vector<uint8_t> Bytes(const GridData& grid) {
        std::vector<uint8_t> bytes;
        std::string reason;
        EXPECT_TRUE(grid.WriteBytes(bytes, reason)) << reason;
        return bytes;
    }

    test::TestTree tree_;
};

TEST_F(GridDataTest, CellsMapPositionsInsideTheGridBothWays) {
    GridData* grid = MakeGrid();
    EXPECT_EQ(grid->CellIndexOf(Int3(10, 0, 0)), 0);
    EXPECT_EQ(grid->CellIndexOf(Int3(14, 0, 0)), -1);
    EXPECT_EQ(grid->CellIndexOf(Int3(9, 0, 0)), -1);
    EXPECT_EQ(grid->CellIndexOf(Int3(13, 3, 3)), 63);
    EXPECT_EQ(grid->CellIndexOf(Int3(11, 2, 1)), (4 * 1 + 2) * 4 + 1);
    for (int64_t cell : {0, 1, 5, 22, 63}) {
        EXPECT_EQ(grid->CellIndexOf(grid->PositionOfCell(cell)), cell);
    }
    EXPECT_EQ(grid->AddAt(Int3(14, 0, 0)), 0);
    EXPECT_EQ(grid->GetObjectAt(Int3(9, 0, 0)), 0);
}

TEST_F(GridDataTest, ALookUpBeforeTheFirstClearFindsNothing) {
    GridData* grid = tree_.Make<GridData>("grid");
    grid->SetSize(Int3(3, 3, 3));
    for (int32_t x = 0; x < 3; ++x) {
        EXPECT_EQ(grid->GetObjectAt(Int3(x, 1, 2)), 0);
    }
}

TEST_F(GridDataTest, RemovingMovesTheLastObjectIntoTheGapAndSaveLoadKeepsTheRest) {
    GridData* grid = MakeGrid();
    const Int3 places[] = {Int3(10, 0, 0), Int3(11, 2, 3), Int3(13, 3, 1)};
    for (int32_t i = 0; i < 3; ++i) {
        const int32_t object = grid->AddAt(places[i]);
        EXPECT_EQ(object, i + 1);
        grid->SetIntField(object, 0, 100 + i);
        grid->SetFloatField(object, 1, 0.5f + float(i));
    }
    grid->RemoveAt(places[0]);
    EXPECT_EQ(grid->GetObjectCount(), 2);
    EXPECT_EQ(grid->GetObjectInOrder(0), 3);
    EXPECT_EQ(grid->GetObjectInOrder(1), 2);
    EXPECT_EQ(grid->GetIntField(1, 0), 0) << "a free object reads 0";
    grid->SetIntField(0, 31, -7);
    grid->SetFloatField(0, 4, 2.25f);
    grid->SaveFile("a.grid");

    GridData* loaded = tree_.Make<GridData>("loaded");
    loaded->LoadFile("a.grid");
    EXPECT_EQ(loaded->GetObjectCount(), 2);
    EXPECT_EQ(Text(loaded->GetSize()), Text(Int3(4, 4, 4)));
    EXPECT_EQ(Text(loaded->GetOffset()), Text(Int3(10, 0, 0)));
    EXPECT_EQ(loaded->GetCapacity(), 5);
    for (int32_t i : {1, 2}) {
        const int32_t object = loaded->GetObjectAt(places[i]);
        ASSERT_NE(object, 0);
        EXPECT_EQ(Text(loaded->GetObjectPosition(object)), Text(places[i]));
        EXPECT_EQ(loaded->GetIntField(object, 0), 100 + i);
        EXPECT_EQ(loaded->GetFloatField(object, 1), 0.5f + float(i));
    }
    EXPECT_EQ(loaded->GetIntField(0, 31), -7);
    EXPECT_EQ(loaded->GetFloatField(0, 4), 2.25f);
    EXPECT_EQ(Bytes(*loaded), Bytes(*grid));
}

TEST_F(GridDataTest, FilesOutsideTheGameAreNeitherWrittenNorRead) {
    test::TempFolder outside;
    GridData* grid = MakeGrid();
    grid->AddAt(Int3(10, 0, 0));
    grid->SaveFile(outside.Join("a.grid").c_str());
    EXPECT_FALSE(std::filesystem::exists(outside.Join("a.grid")));
    grid->SaveFile("in.grid");
    std::filesystem::copy_file(temp_.Join("in.grid"), outside.Join("a.grid"));
    GridData* loaded = tree_.Make<GridData>("loaded");
    loaded->LoadFile(
        ("../" + std::filesystem::path(outside.Path()).filename().string() + "/a.grid").c_str());
    EXPECT_EQ(loaded->GetObjectCount(), 0);
    EXPECT_TRUE(log_.Contains("GridData.SaveFile refused"));
    EXPECT_TRUE(log_.Contains("GridData.LoadFile refused"));
}

TEST_F(GridDataTest, OutOfRangeFieldsNumbersAndAddsAreRefused) {
    GridData* grid = MakeGrid();
    const int32_t object = grid->AddAt(Int3(10, 0, 0));
    grid->SetIntField(object, 2, 5);  // past the field count
    grid->SetIntField(object, -1, 5); // negative
    grid->SetIntField(6, 0, 5);       // past the capacity
    grid->SetIntField(-3, 0, 5);
    grid->SetIntField(0, 32, 5); // past the global row
    for (auto [number, field] : std::vector<std::pair<int32_t, int32_t>>{
             {object, 2}, {object, -1}, {6, 0}, {-3, 0}, {0, 32}, {2, 0}}) {
        EXPECT_EQ(grid->GetIntField(number, field), 0) << number << " " << field;
    }
    EXPECT_EQ(grid->GetIntField(object, 0), 0);

    grid->SetFieldCount(9);
    EXPECT_EQ(grid->GetFieldCount(), 2);
    grid->SetSize(Int3(-1, 4, 4));
    grid->SetSize(Int3(1 << 12, 1 << 12, 2)); // 32 M cells
    grid->SetCapacity(int32_t(GridData::MaxCapacity + 1));
    EXPECT_EQ(Text(grid->GetSize()), Text(Int3(4, 4, 4)));
    EXPECT_EQ(grid->GetCapacity(), 5);
    EXPECT_EQ(grid->GetObjectCount(), 1);

    for (int32_t i = 1; i < 5; ++i) {
        EXPECT_NE(grid->AddAt(Int3(10 + i % 4, i / 4, 0)), 0);
    }
    EXPECT_EQ(grid->AddAt(Int3(12, 2, 2)), 0) << "the capacity is reached";
    EXPECT_EQ(grid->GetObjectCount(), 5);
    EXPECT_TRUE(log_.Contains("add refused"));
}

TEST_F(GridDataTest, AnAddOnAnOccupiedCellKeepsTheOldObjectCountedAndSaved) {
    GridData* grid = MakeGrid();
    const int32_t first = grid->AddAt(Int3(12, 1, 1));
    grid->SetIntField(first, 0, 1);
    const int32_t second = grid->AddAt(Int3(12, 1, 1));
    grid->SetIntField(second, 0, 2);
    EXPECT_EQ(grid->GetObjectAt(Int3(12, 1, 1)), second);
    EXPECT_EQ(grid->GetObjectCount(), 2);
    EXPECT_EQ(grid->GetIntField(first, 0), 1);

    GridData* loaded = tree_.Make<GridData>("loaded");
    std::string reason;
    ASSERT_TRUE(loaded->ReadBytes(Bytes(*grid), reason)) << reason;
    EXPECT_EQ(loaded->GetObjectCount(), 2);
    EXPECT_EQ(loaded->GetIntField(loaded->GetObjectAt(Int3(12, 1, 1)), 0), 2);
}

TEST_F(GridDataTest, UnsavedFieldsAreLeftOutOfTheFileAndReadBackAsZero) {
    GridData* grid = MakeGrid();
    const int32_t object = grid->AddAt(Int3(11, 1, 1));
    grid->SetIntField(object, 0, 8);
    grid->SetIntField(object, 1, 9);
    grid->SetSaveFlag(0, false);
    const std::vector<uint8_t> bytes = Bytes(*grid);
    EXPECT_EQ(bytes.size(), 24u + 2 + 4 + 2 + 128);
    EXPECT_EQ(ReadLittleEndian16(bytes.data() + 20), 0xFEu);

    GridData* loaded = tree_.Make<GridData>("loaded");
    std::string reason;
    ASSERT_TRUE(loaded->ReadBytes(bytes, reason)) << reason;
    EXPECT_EQ(loaded->GetIntField(1, 0), 0);
    EXPECT_EQ(loaded->GetIntField(1, 1), 9);
    EXPECT_FALSE(loaded->GetSaveFlag(0));
}

TEST_F(GridDataTest, AGridTheFileCannotHoldIsNotSaved) {
    struct Case {
        const char* name;
        Int3 size;
        Int3 offset;
        int32_t capacity;
    };
    const Case cases[] = {
        {"65537 cells", Int3(65537, 1, 1), Int3(), 1},
        {"65792 cells", Int3(257, 256, 1), Int3(), 1},
        {"a side above 65535", Int3(70000, 1, 0), Int3(), 1},
        {"an offset below -32768", Int3(2, 2, 2), Int3(0, -40000, 0), 1},
        {"a capacity above 65535", Int3(2, 2, 2), Int3(), 70000},
    };
    GridData* shrunk = MakeGrid();
    shrunk->AddAt(Int3(13, 3, 3));
    shrunk->SetSize(Int3(2, 2, 2));
    shrunk->SaveFile("big.grid");
    EXPECT_TRUE(log_.Contains("object 1 in a cell outside the grid"));
    for (const Case& c : cases) {
        GridData* grid = tree_.Make<GridData>(c.name);
        grid->SetSize(c.size);
        grid->SetOffset(c.offset);
        grid->SetCapacity(c.capacity);
        grid->Clear();
        log_.Clear();
        grid->SaveFile("big.grid");
        EXPECT_FALSE(temp_.ReadFile("big.grid").size()) << c.name;
        EXPECT_TRUE(log_.Contains("not saved")) << c.name;
    }
}

TEST_F(GridDataTest, BrokenFilesAreRefusedAndLeaveTheGridAsItWas) {
    GridData* source = MakeGrid();
    source->SetIntField(source->AddAt(Int3(11, 1, 1)), 1, 4);
    source->AddAt(Int3(12, 2, 2));
    const std::vector<uint8_t> good = Bytes(*source);

    const auto patched = [&good](size_t at, uint16_t value) {
        std::vector<uint8_t> bytes = good;
        WriteLittleEndian16(bytes.data() + at, value);
        return bytes;
    };
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"other magic", patched(0, 'X' | 'R' << 8), "not a grid file"},
        {"short header", std::vector<uint8_t>(good.begin(), good.begin() + 10), "header"},
        {"nine fields", patched(16, 9), "field count 9"},
        {"more objects than room", patched(22, 6), "above the capacity"},
        {"too many cells", patched(4, 5000), "65536 cells"},
        {"cell outside", patched(24, 64), "outside the grid"},
        {"cut in a record", std::vector<uint8_t>(good.begin(), good.begin() + 30), "object 1"},
        {"cut global row", std::vector<uint8_t>(good.begin(), good.end() - 1), "global row"},
        {"global count", patched(good.size() - 130, 31), "global count"},
    };
    for (const Case& c : cases) {
        GridData* grid = MakeGrid();
        grid->AddAt(Int3(13, 3, 3));
        std::string reason;
        EXPECT_FALSE(grid->ReadBytes(c.bytes, reason)) << c.name;
        EXPECT_NE(reason.find(c.reason), std::string::npos) << c.name << ": " << reason;
        EXPECT_EQ(grid->GetObjectCount(), 1) << c.name;
        EXPECT_EQ(grid->GetObjectAt(Int3(13, 3, 3)), 1) << c.name;
    }
}

} // namespace
} // namespace quarn
