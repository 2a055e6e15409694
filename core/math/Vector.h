#pragma once

#include <cmath>
#include <cstdint>

namespace quarn {

// The square root that the engine uses wherever rounding may push an argument below zero: a
// negative argument yields 0 instead of NaN, so one bad value cannot poison a whole transform.
float SafeSqrt(float value);
// Arc cosine with the argument clamped to [-1, 1]: a dot product of unit vectors may round to
// just past 1, which must give 0 rather than NaN.
float SafeAcos(float value);

// The larger of a and b; b when they are equal or either is NaN.
constexpr float MaxFloat(float a, float b) {
    return a > b ? a : b;
}
// The smaller of a and b; a when either is NaN.
constexpr float MinFloat(float a, float b) {
    return b <= a ? b : a;
}

struct Int3 {
    int32_t x = 0;
    int32_t y = 0;
    int32_t z = 0;

    constexpr Int3() = default;
    constexpr Int3(int32_t x, int32_t y, int32_t z) : x(x), y(y), z(z) {}

    constexpr void Set(int32_t newX, int32_t newY, int32_t newZ) {
        x = newX;
        y = newY;
        z = newZ;
    }

    constexpr bool Equals(const Int3& other) const {
        return x == other.x && y == other.y && z == other.z;
    }

    // Sums wrap around like the 32-bit registers they model instead of overflowing into
    // undefined behaviour; grid coordinates from a broken file must not crash the engine.
    constexpr Int3 operator+(const Int3& other) const {
        return {Wrap(Bits(x) + Bits(other.x)), Wrap(Bits(y) + Bits(other.y)),
                Wrap(Bits(z) + Bits(other.z))};
    }

    constexpr Int3& operator-=(const Int3& other) {
        x = Wrap(Bits(x) - Bits(other.x));
        y = Wrap(Bits(y) - Bits(other.y));
        z = Wrap(Bits(z) - Bits(other.z));
        return *this;
    }

    constexpr Int3 operator-() const {
        return {Wrap(0u - Bits(x)), Wrap(0u - Bits(y)), Wrap(0u - Bits(z))};
    }

private:
    static constexpr uint32_t Bits(int32_t value) { return static_cast<uint32_t>(value); }
    static constexpr int32_t Wrap(uint32_t value) { return static_cast<int32_t>(value); }
};

struct Int2 {
    int32_t x = 0;
    int32_t y = 0;

    constexpr Int2() = default;
    constexpr Int2(int32_t x, int32_t y) : x(x), y(y) {}

    constexpr bool operator==(const Int2&) const = default;
};

struct Float2 {
    float x = 0.0f;
    float y = 0.0f;

    constexpr Float2() = default;
    constexpr Float2(float x, float y) : x(x), y(y) {}

    // A zero vector stays zero rather than turning into NaN.
    void Normalize();
    Float2 Normalized() const;
};

struct Float3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    constexpr Float3() = default;
    constexpr Float3(float x, float y, float z) : x(x), y(y), z(z) {}

    // Exact comparison: callers use it to detect any change at all, e.g. before notifying.
    constexpr bool operator!=(const Float3& other) const {
        return x != other.x || y != other.y || z != other.z;
    }
    // No NaN and no infinity: v - v is 0 for a finite v and NaN otherwise, so one test serves
    // all three.
    bool IsFinite() const { return (x - x) + (y - y) + (z - z) == 0.0f; }

    constexpr Float3 operator+(const Float3& other) const {
        return {x + other.x, y + other.y, z + other.z};
    }
    constexpr Float3 operator-(const Float3& other) const {
        return {x - other.x, y - other.y, z - other.z};
    }
    constexpr Float3 operator*(float scale) const { return {x * scale, y * scale, z * scale}; }
    // Divides each component rather than multiplying by the reciprocal, which rounds differently.
    constexpr Float3 operator/(float divisor) const {
        return {x / divisor, y / divisor, z / divisor};
    }

    constexpr float Dot(const Float3& other) const {
        return x * other.x + y * other.y + z * other.z;
    }
    constexpr Float3 Cross(const Float3& other) const {
        return {y * other.z - z * other.y, z * other.x - x * other.z, x * other.y - y * other.x};
    }

    constexpr float LengthSquared() const { return x * x + y * y + z * z; }
    float Length() const { return std::sqrt(LengthSquared()); }

    // A zero vector stays zero rather than turning into NaN.
    void Normalize();
    Float3 NormalizedOrSelf() const;

    // A unit vector perpendicular to this one, chosen by fixed rules so that contact and joint
    // frames are repeatable. A zero vector gives zero.
    Float3 AnyPerpendicular() const;
};

constexpr Float3 Float3Scale(float scale, const Float3& v) {
    return v * scale;
}

// Two unit vectors p and q that complete the unit normal n to an orthonormal frame (p x q = n).
// A zero normal, which has no frame, gives the X and Y axes.
void PlaneSpace(const Float3& n, Float3& p, Float3& q);

struct Float4 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 0.0f;

    constexpr Float4() = default;
    constexpr Float4(float x, float y, float z, float w) : x(x), y(y), z(z), w(w) {}

    constexpr bool operator!=(const Float4& other) const {
        return x != other.x || y != other.y || z != other.z || w != other.w;
    }

    // Scales a colour's red, green and blue and keeps its alpha.
    constexpr Float4 ScaleXyz(float scale) const { return {x * scale, y * scale, z * scale, w}; }
};

// Stored files and script blocks see these types as packed 32-bit words.
static_assert(sizeof(Int2) == 8);
static_assert(sizeof(Int3) == 12);
static_assert(sizeof(Float2) == 8);
static_assert(sizeof(Float3) == 12);
static_assert(sizeof(Float4) == 16);

} // namespace quarn
