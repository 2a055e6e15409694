#include "collision/mockup/MockupClasses.h"

#include "collision/mockup/MockupBox.h"
#include "collision/mockup/MockupCylinder.h"

namespace quarn {

int RegisterMockupClasses() {
    MockupBox::RegisterClass();
    MockupCylinder::RegisterClass();
    return 2;
}

} // namespace quarn
