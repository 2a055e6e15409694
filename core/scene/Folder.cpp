#include "core/scene/Folder.h"

#include "core/object/ClassInfo.h"

namespace quarn {

ClassInfo* Folder::classInfo = nullptr;

ClassInfo* Folder::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "Folder", []() -> Entity* { return new Folder(); }, &classInfo);
    classInfo->SetParent(Node::RegisterClass());
    classInfo->SetCategory("SceneTree");
    return classInfo;
}

} // namespace quarn
