#include "tools/GridDataTool.h"

#include "script/nodes/GridData.h"
#include "tools/ToolStatus.h"

#include <cinttypes>
#include <cstdio>

namespace quarn {

int RunGridDataTool(char** arguments, std::string& reason) {
    GridData grid;
    if (!grid.ReadFile(arguments[0], reason)) {
        return ExitFailed;
    }
    const Int3 size = grid.GetSize();
    const Int3 offset = grid.GetOffset();
    uint32_t saveMask = 0;
    for (int32_t field = 0; field < GridData::MaxFields; ++field) {
        saveMask |= grid.GetSaveFlag(field) ? 1u << field : 0u;
    }
    std::printf("size %d %d %d\noffset %d %d %d\nfields %d\ncapacity %d\nsavemask 0x%02X\n"
                "objects %d\n",
                size.x, size.y, size.z, offset.x, offset.y, offset.z, grid.GetFieldCount(),
                grid.GetCapacity(), saveMask, grid.GetObjectCount());
    for (int32_t place = 0; place < grid.GetObjectCount(); ++place) {
        const int32_t object = grid.GetObjectInOrder(place);
        const Int3 at = grid.GetObjectPosition(object);
        std::printf("object %d at %d %d %d:", object, at.x, at.y, at.z);
        for (int32_t field = 0; field < grid.GetFieldCount(); ++field) {
            if (grid.GetSaveFlag(field)) {
                std::printf(" %08" PRIX32, uint32_t(grid.GetIntField(object, field)));
            }
        }
        std::printf("\n");
    }
    std::printf("global");
    for (int32_t field = 0; field < GridData::GlobalFields; ++field) {
        std::printf(" %08" PRIX32, uint32_t(grid.GetIntField(0, field)));
    }
    std::printf("\n");
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        reason = "cannot write to stdout";
        return ExitFailed;
    }
    return ExitDone;
}

} // namespace quarn
