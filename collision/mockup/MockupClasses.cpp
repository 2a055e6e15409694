#include "collision/mockup/MockupClasses.h"

#include "collision/mockup/MockupBox.h"
#include "collision/mockup/MockupCylinder.h"
#include "collision/mockup/MockupShadow.h"

namespace quarn {

int RegisterMockupClasses() {
    MockupBox::RegisterClass();
    MockupCylinder::RegisterClass();
    MockupShadow::RegisterClass();
    return 3;
}

} // namespace quarn
