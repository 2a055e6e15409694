#include "collision/HeightField.h"

#include "core/debug/Log.h"
#include "core/debug/Validity.h"
#include "core/object/ClassInfo.h"

namespace quarn {

bool CheckHeightFieldSize(const Int2& size, const char* className) {
    const bool valid =
        size.x >= 0 && size.y >= 0 && int64_t{size.x} * int64_t{size.y} <= MaxHeightFieldCells;
    return ValidityCheck(valid,
                         "%s: gridsize %d,%d refused: each side must be 0 or more and the cells "
                         "at most %lld",
                         className, size.x, size.y, static_cast<long long>(MaxHeightFieldCells));
}

namespace {

int64_t sceneCells = 0;

} // namespace

bool HeightFieldCells::Take(int64_t cells, const Node& node, const Int2& size) {
    if (sceneCells - held_ + cells > SceneHeightFieldCellLimit) {
        LogMessage("%s '%s' (id %u): gridsize %d,%d refused: the grids of the scene's terrains "
                   "and surfaces would hold more than %lld cells",
                   node.GetClass()->GetName(), node.GetName().c_str(), node.GetId(), size.x,
                   size.y, static_cast<long long>(SceneHeightFieldCellLimit));
        return false;
    }
    sceneCells += cells - held_;
    held_ = cells;
    return true;
}

void HeightFieldCells::Release() {
    sceneCells -= held_;
    held_ = 0;
}

} // namespace quarn
