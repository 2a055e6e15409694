#pragma once

// The render device's shader: a vertex and a pixel program made on the GPU layer from
// pre-compiled token streams, and the registers of the engine's named constants.

#include "device/Shader.h"
#include "gpu/GpuLayer.h"

#include <memory>

namespace quarn {

class DeviceShader final : public Shader {
public:
    explicit DeviceShader(GpuDevice& device);
    ~DeviceShader() override;

    // Source formats need a compiler the engine does not have; "vsh" and "psh" still answer
    // true, as callers ask before choosing a "_raw" twin.
    static bool IsSupportedExtension(const char* extension);
    static bool IsCompilerPresent() { return false; }
    // Every shader alive, for whoever must visit them all.
    static uint32_t LiveCount();

    bool Load(const uint8_t* data, uint32_t size, const std::string& path,
              const std::string& options) override;
    const std::string& GetErrorText() const override { return errorText_; }
    int32_t Begin() override;
    void End() override;
    void BeginPass(int32_t) override {}
    void EndPass() override {}
    void SetMatrixConstant(uint32_t constant, const Matrix4& matrix) override;
    void SetVectorConstant(uint32_t constant, const Float4& value) override;
    void SetTexture(uint32_t stage, DeviceTexture* texture) override;
    void SetMatrixRegisters(uint32_t first, const Matrix4& matrix) override;
    void SetVectorRegister(uint32_t first, const Float4& value) override;
    void SetParameter(const Float4& parameter) override { parameter_ = parameter; }
    Float4 GetParameter() const override { return parameter_; }

    bool HasVertexProgram() const { return vertex_ != nullptr; }
    bool HasPixelProgram() const { return pixel_ != nullptr; }
    const std::string& GetPath() const { return path_; }
    const std::string& GetOptions() const { return options_; }

private:
    // Makes both programs or neither; the reason of a refused stream goes to the log.
    bool LoadPrograms(std::span<const uint8_t> data, bool vertex, bool pixel);
    void WriteRegisters(uint32_t first, const float* values, uint32_t count);

    GpuDevice& device_;
    std::unique_ptr<GpuShader> vertex_;
    std::unique_ptr<GpuShader> pixel_;
    Float4 parameter_;
    std::string path_;
    std::string options_;
    std::string errorText_;
    uint32_t listIndex_ = 0;
};

} // namespace quarn
