#include "core/scene/SceneClasses.h"

#include "core/object/ClassInfo.h"
#include "core/scene/ContainerBox.h"
#include "core/scene/EventMultiplier.h"
#include "core/scene/Folder.h"
#include "core/scene/Node.h"
#include "core/scene/Pivot.h"
#include "core/scene/PropertyController.h"
#include "core/scene/SignalEmitter.h"
#include "core/scene/SignalFilter.h"
#include "core/scene/SignalReceiver.h"

namespace quarn {

int RegisterSceneClasses() {
    int before = GetClassCount();
    Node::RegisterClass();
    Pivot::RegisterClass();
    Folder::RegisterClass();
    Layer::RegisterClass(); // with its base "ContainerBox"
    SignalEmitter::RegisterClass();
    SignalReceiver::RegisterClass();
    SignalFilter::RegisterClass();
    EventMultiplier::RegisterClass();
    PropertyController::RegisterClass();
    return GetClassCount() - before;
}

} // namespace quarn
