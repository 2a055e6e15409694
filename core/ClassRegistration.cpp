#include "core/ClassRegistration.h"

#include "core/ClassInfo.h"
#include "core/Node.h"
#include "core/Pivot.h"
#include "core/SignalReceiver.h"
#include "resources/RawData.h"
#include "resources/Resource.h"

namespace quarn {

int RegisterAllClasses() {
    int before = GetClassCount();
    // Only the classes that exist so far, each at its place in the start-up order.
    Node::RegisterClass();           // 1. with its base "Entity"
    Pivot::RegisterClass();          // 2.
    Resource::RegisterClass();       // 9. "ResourceRef"
    RawData::RegisterClass();        // 11.
    SignalReceiver::RegisterClass(); // 17.
    return GetClassCount() - before;
}

} // namespace quarn
