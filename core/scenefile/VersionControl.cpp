#include "core/scenefile/VersionControl.h"

namespace quarn {

namespace {

VersionControlCheckSaveHook checkSaveHook = nullptr;
VersionControlOpenForEditHook openForEditHook = nullptr;
VersionControl* service = nullptr;

} // namespace

void SetVersionControlHooks(VersionControlCheckSaveHook checkSave,
                            VersionControlOpenForEditHook openForEdit) {
    checkSaveHook = checkSave;
    openForEditHook = openForEdit;
}

bool VersionControlCheckSave(const char* path, int mode) {
    return checkSaveHook ? checkSaveHook(path ? path : "", mode) : true;
}

bool VersionControlOpenForEdit(const char* path, int ask) {
    return openForEditHook ? openForEditHook(path ? path : "", ask) : true;
}

void SetVersionControl(VersionControl* newService) {
    service = newService;
}

VersionControl* GetVersionControl() {
    return service;
}

} // namespace quarn
