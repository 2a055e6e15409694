#include "core/math/Matrix3.h"

namespace quarn {

Float3 Matrix3::RotateByTranspose(const Float3& v) const {
    return {m[0][0] * v.x + m[0][1] * v.y + m[0][2] * v.z,
            m[1][0] * v.x + m[1][1] * v.y + m[1][2] * v.z,
            m[2][0] * v.x + m[2][1] * v.y + m[2][2] * v.z};
}

} // namespace quarn
