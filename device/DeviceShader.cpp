#include "device/DeviceShader.h"

#include "core/io/ByteOrder.h"
#include "core/string/Text.h"
#include "device/DeviceTexture.h"

#include <cstring>
#include <vector>

namespace quarn {
namespace {

// Register of each named constant; matrices take four from theirs.
constexpr uint32_t ConstantRegisters[] = {0,  7,  6,  4,  5,  12, 13, 14, 15,
                                          16, 17, 18, 19, 20, 21, 22, 23};
constexpr uint32_t ConstantCount = sizeof ConstantRegisters / sizeof ConstantRegisters[0];

std::vector<DeviceShader*>& LiveShaders() {
    static std::vector<DeviceShader*> shaders;
    return shaders;
}

} // namespace

DeviceShader::DeviceShader(GpuDevice& device) : device_(device) {
    listIndex_ = static_cast<uint32_t>(LiveShaders().size());
    LiveShaders().push_back(this);
}

DeviceShader::~DeviceShader() {
    std::vector<DeviceShader*>& live = LiveShaders();
    live[listIndex_] = live.back();
    live[listIndex_]->listIndex_ = listIndex_;
    live.pop_back();
}

uint32_t DeviceShader::LiveCount() {
    return static_cast<uint32_t>(LiveShaders().size());
}

bool DeviceShader::IsSupportedExtension(const char* extension) {
    return CompareNoCase(extension, "vsh") == 0 || CompareNoCase(extension, "psh") == 0;
}

bool DeviceShader::Load(const uint8_t* data, uint32_t size, const std::string& path,
                        const std::string& options) {
    path_ = path;
    options_ = options;
    vertex_.reset();
    pixel_.reset();
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos) {
        return false; // the error text stays as it was
    }
    const char* extension = path.c_str() + dot + 1;
    std::span<const uint8_t> bytes(data, data != nullptr ? size : 0);
    bool loaded = false;
    if (CompareNoCase(extension, "fx") == 0) {
        errorText_ = "Shader fx format is not allowed in this editor version.";
        return false;
    } else if (CompareNoCase(extension, "vsh") == 0) {
        errorText_ = "Vertex-shader vsh format is not allowed in this editor version (shader "
                     "compiler not present).";
        return false;
    } else if (CompareNoCase(extension, "psh") == 0) {
        errorText_ = "Pixel-shader psh format is not allowed in this editor version (shader "
                     "compiler not present).";
        return false;
    } else if (CompareNoCase(extension, "fx_raw") == 0) {
        loaded = LoadPrograms(bytes, true, true);
    } else if (CompareNoCase(extension, "vsh_raw") == 0) {
        loaded = LoadPrograms(bytes, true, false);
    } else if (CompareNoCase(extension, "psh_raw") == 0) {
        loaded = LoadPrograms(bytes, false, true);
    } else {
        errorText_ = "Unknown file format";
        return false;
    }
    if (!loaded) {
        const std::string reason = errorText_;
        errorText_ = "Failed to load pre-compiled shader: '" + path + "'";
        if (!reason.empty()) {
            errorText_ += " (" + reason + ")";
        }
        return false;
    }
    errorText_.clear();
    return true;
}

bool DeviceShader::LoadPrograms(std::span<const uint8_t> data, bool vertex, bool pixel) {
    errorText_.clear();
    std::span<const uint8_t> vertexBytes;
    std::span<const uint8_t> pixelBytes;
    if (vertex && pixel) {
        // The container states both lengths; they must fit the data before any program is made.
        if (data.size() < 4) {
            errorText_ = "the file is too short to hold the vertex program's length";
            return false;
        }
        const uint64_t n = ReadLittleEndian32(data.data());
        const uint64_t pixelAt = 4 + 4 * n;
        if (pixelAt + 4 > data.size()) {
            errorText_ = StringFormat("the vertex program's length of %llu words runs past the "
                                      "file's %zu bytes",
                                      static_cast<unsigned long long>(n), data.size());
            return false;
        }
        const uint64_t m = ReadLittleEndian32(data.data() + pixelAt);
        if (pixelAt + 4 + 4 * m > data.size()) {
            errorText_ = StringFormat("the pixel program's length of %llu words runs past the "
                                      "file's %zu bytes",
                                      static_cast<unsigned long long>(m), data.size());
            return false;
        }
        vertexBytes = data.subspan(4, 4 * n);
        pixelBytes = data.subspan(pixelAt + 4, 4 * m);
    } else {
        (vertex ? vertexBytes : pixelBytes) = data;
        if (data.empty()) {
            return false;
        }
    }
    if (!vertexBytes.empty()) {
        vertex_ = device_.CreateShader(GpuShaderKind::Vertex, vertexBytes, errorText_);
        if (!vertex_) {
            return false;
        }
    }
    if (!pixelBytes.empty()) {
        pixel_ = device_.CreateShader(GpuShaderKind::Pixel, pixelBytes, errorText_);
        if (!pixel_) {
            vertex_.reset(); // a failed load leaves no programs, not half a pair
            return false;
        }
    }
    return true;
}

int32_t DeviceShader::Begin() {
    if (pixel_) {
        device_.SetPixelShader(pixel_.get());
    }
    if (vertex_) {
        device_.SetVertexShader(vertex_.get());
    }
    return pixel_ || vertex_ ? 1 : 0;
}

void DeviceShader::End() {
    if (pixel_) {
        device_.SetPixelShader(nullptr);
    }
    if (vertex_) {
        device_.SetVertexShader(nullptr);
    }
}

void DeviceShader::WriteRegisters(uint32_t first, const float* values, uint32_t count) {
    if (pixel_) {
        device_.SetShaderConstants(GpuShaderKind::Pixel, first, values, count);
    }
    if (vertex_) {
        device_.SetShaderConstants(GpuShaderKind::Vertex, first, values, count);
    }
}

void DeviceShader::SetMatrixConstant(uint32_t constant, const Matrix4& matrix) {
    if (constant < ConstantCount) {
        Matrix4 transposed = matrix;
        transposed.TransposeInPlace();
        WriteRegisters(ConstantRegisters[constant], transposed.m, 4);
    }
}

void DeviceShader::SetVectorConstant(uint32_t constant, const Float4& value) {
    if (constant < ConstantCount) {
        SetVectorRegister(ConstantRegisters[constant], value);
    }
}

void DeviceShader::SetMatrixRegisters(uint32_t first, const Matrix4& matrix) {
    WriteRegisters(first, matrix.m, 4);
}

void DeviceShader::SetVectorRegister(uint32_t first, const Float4& value) {
    const float values[4] = {value.x, value.y, value.z, value.w};
    WriteRegisters(first, values, 1);
}

void DeviceShader::SetTexture(uint32_t stage, DeviceTexture* texture) {
    if (pixel_) {
        device_.SetTexture(stage, texture != nullptr ? texture->GetGpuTexture() : nullptr);
    }
}

} // namespace quarn
