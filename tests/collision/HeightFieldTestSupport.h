#pragma once

// Height fields over grids and raw data written into a temporary base folder, and an
// independent ray-triangle test to check their picks against.

#include "core/filesystem/DiskFileSystem.h"
#include "core/filesystem/FileSystem.h"
#include "tests/collision/CollisionTestSupport.h"
#include "tests/support/TempFolder.h"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace quarn::test {

class HeightFieldTest : public CollisionTest {
protected:
    void SetUp() override {
        CollisionTest::SetUp();
        files_.SetBaseFolder(temp_.Path().c_str());
        SetFileSystem(&files_);
    }
    void TearDown() override { SetFileSystem(nullptr); }

    static void Append(std::string& bytes, const void* value) {
        bytes.append(static_cast<const char*>(value), 4);
    }
    // A "raw" grid file: columns, rows, the heights row by row, then a third layer of zeros.
    template <class Height>
    std::string WriteGrid(const char* name, int32_t columns, int32_t rows, Height height) {
        std::string bytes;
        Append(bytes, &columns);
        Append(bytes, &rows);
        for (int32_t r = 0; r < rows; ++r) {
            for (int32_t c = 0; c < columns; ++c) {
                const float h = height(c, r);
                Append(bytes, &h);
            }
        }
        bytes.append(static_cast<size_t>(columns) * static_cast<size_t>(rows) * 4, '\0');
        temp_.WriteFile(name, bytes);
        return name;
    }
    // Raw data of a surface: the two sizes, then the given floats.
    std::string WriteSurfaceData(const char* name, int32_t columns, int32_t rows,
                                 const std::vector<float>& heights) {
        std::string bytes;
        Append(bytes, &columns);
        Append(bytes, &rows);
        for (float h : heights) {
            Append(bytes, &h);
        }
        temp_.WriteFile(name, bytes);
        return name;
    }

    TempFolder temp_;
    DiskFileSystem files_;
};

// Ray parameter of the hit of origin + t direction with the triangle from its upper side (+Y),
// or -1 when the ray misses it or meets it from below.
inline float RayTriangleFromAbove(const Float3& origin, const Float3& direction, const Float3& a,
                                  const Float3& b, const Float3& c) {
    Float3 n = (b - a).Cross(c - a);
    if (n.y < 0.0f) {
        n = n * -1.0f;
    }
    const float facing = direction.Dot(n);
    if (!(facing < 0.0f)) {
        return -1.0f;
    }
    const float t = (a - origin).Dot(n) / facing;
    const Float3 p = origin + direction * t;
    const Float3 corners[3] = {a, b, c};
    float sides[3];
    for (int i = 0; i < 3; ++i) {
        sides[i] = (corners[(i + 1) % 3] - corners[i]).Cross(p - corners[i]).Dot(n);
    }
    const float slack = 1e-5f * n.LengthSquared();
    const bool inside = (sides[0] >= -slack && sides[1] >= -slack && sides[2] >= -slack) ||
                        (sides[0] <= slack && sides[1] <= slack && sides[2] <= slack);
    return inside && t >= 0.0f ? t : -1.0f;
}

} // namespace quarn::test
