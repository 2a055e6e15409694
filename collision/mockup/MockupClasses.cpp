#include "collision/mockup/MockupClasses.h"

#include "collision/mockup/MockupBox.h"

namespace quarn {

int RegisterMockupClasses() {
    MockupBox::RegisterClass();
    return 1;
}

} // namespace quarn
