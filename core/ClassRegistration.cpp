#include "core/ClassRegistration.h"

#include "core/ClassInfo.h"
#include "core/Entity.h"

namespace quarn {

int RegisterAllClasses() {
    int before = GetClassCount();
    // 1. "Node", and with it its base "Entity"; until Node exists, the base alone.
    Entity::RegisterClass();
    return GetClassCount() - before;
}

} // namespace quarn
