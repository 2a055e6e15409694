#include "core/scene/SceneClasses.h"

#include "core/object/ClassInfo.h"
#include "core/scene/Node.h"
#include "core/scene/Pivot.h"
#include "core/scene/SignalReceiver.h"

namespace quarn {

int RegisterSceneClasses() {
    int before = GetClassCount();
    Node::RegisterClass();
    Pivot::RegisterClass();
    SignalReceiver::RegisterClass();
    return GetClassCount() - before;
}

} // namespace quarn
