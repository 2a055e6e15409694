#include "collision/HeightField.h"

#include "core/debug/Validity.h"

namespace quarn {

bool CheckHeightFieldSize(const Int2& size, const char* className) {
    const bool valid =
        size.x >= 0 && size.y >= 0 && int64_t{size.x} * int64_t{size.y} <= MaxHeightFieldCells;
    return ValidityCheck(valid,
                         "%s: gridsize %d,%d refused: each side must be 0 or more and the cells "
                         "at most %lld",
                         className, size.x, size.y, static_cast<long long>(MaxHeightFieldCells));
}

} // namespace quarn
