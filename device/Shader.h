#pragma once

// A pair of pre-compiled vertex and pixel shader programs and the constants the engine feeds
// them. Device meshes bind a shader around their draws; the device makes the objects.

#include "core/math/Matrix4.h"

#include <cstdint>
#include <string>

namespace quarn {

class DeviceTexture;

// Named constants, as the engine's shaders expect them.
inline constexpr uint32_t ShaderWorldViewProjection = 0;
inline constexpr uint32_t ShaderWorld = 1;
inline constexpr uint32_t ShaderOwnParameter = 2;
inline constexpr uint32_t ShaderMeshParameter = 3;
inline constexpr uint32_t ShaderColor = 4;
// Three per light (position, direction, colour times strength), for lights 0 and 1.
inline constexpr uint32_t ShaderLights = 5;

// Registers of the stencil volume pass: the world matrix, then view times biased projection.
inline constexpr uint32_t ShaderVolumeWorldRegister = 0;
inline constexpr uint32_t ShaderVolumeViewProjectionRegister = 4;

class Shader {
public:
    Shader() : id_(++lastId_) {}
    virtual ~Shader() = default;
    Shader(const Shader&) = delete;
    Shader& operator=(const Shader&) = delete;

    // A number no other shader of this run has had: batching keys on it, never on addresses.
    uint64_t GetId() const { return id_; }

    // Takes pre-compiled programs by the path's extension ("fx_raw", "vsh_raw", "psh_raw"); the
    // source formats are refused with their own texts. False leaves no programs.
    virtual bool Load(const uint8_t* data, uint32_t size, const std::string& path,
                      const std::string& options) = 0;
    virtual const std::string& GetErrorText() const = 0;
    // Sets the programs on the device; answers the number of passes (1 with a program, else 0).
    virtual int32_t Begin() = 0;
    virtual void End() = 0;
    virtual void BeginPass(int32_t pass) = 0;
    virtual void EndPass() = 0;
    // Matrices are transposed into four registers from the constant's register.
    virtual void SetMatrixConstant(uint32_t constant, const Matrix4& matrix) = 0;
    virtual void SetVectorConstant(uint32_t constant, const Float4& value) = 0;
    virtual void SetTexture(uint32_t stage, DeviceTexture* texture) = 0;
    // Four registers from `first`, not transposed.
    virtual void SetMatrixRegisters(uint32_t first, const Matrix4& matrix) = 0;
    virtual void SetVectorRegister(uint32_t first, const Float4& value) = 0;
    // The shader's own float4, kept for its owner.
    virtual void SetParameter(const Float4& parameter) = 0;
    virtual Float4 GetParameter() const = 0;

private:
    static inline uint64_t lastId_ = 0;
    uint64_t id_;
};

} // namespace quarn
