#include "core/scene/SelectionSet.h"


namespace quarn {

namespace {
SelectionSet* installed = nullptr;
} // namespace

SelectionSet* GetSelectionSet() {
    return installed;
}

void SetSelectionSet(SelectionSet* selection) {
    installed = selection;
}

} // namespace quarn
