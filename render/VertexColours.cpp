#include "render/VertexColours.h"

#include "core/filesystem/FileReader.h"
#include "core/filesystem/FileSystem.h"
#include "core/io/Tokenizer.h"
#include "core/math/Color.h"
#include "core/os/BusyCursor.h"
#include "core/os/EngineWork.h"
#include "core/scene/Pivot.h"
#include "core/string/NumberText.h"
#include "device/IndexBuffer.h"
#include "device/RenderDevice.h"
#include "device/VertexBuffer.h"
#include "render/LightBakeSettings.h"

#include <algorithm>
#include <string>

namespace quarn {

namespace {

constexpr uint32_t OpaqueWhite = 0xFFFFFFFF;

uint32_t Pack(const Float4& c) {
    return PackColor(c.x, c.y, c.z, c.w);
}

std::unique_ptr<VertexBuffer> MakeColourBuffer(uint32_t count) {
    RenderDevice* device = TheRenderDevice();
    if (!device) {
        return nullptr;
    }
    std::unique_ptr<VertexBuffer> buffer = device->CreateVertexData();
    buffer->Create(count, VertexDiffuse, 0);
    return buffer;
}

// Per vertex: the sample count and the sums of the accepted samples. One array serves every
// bake, so a bake of a large mesh keeps its memory for the next.
struct SampleSum {
    float count = 0.0f;
    Float4 sum;
};
std::vector<SampleSum>& Accumulator() {
    static std::vector<SampleSum> accumulator;
    return accumulator;
}

void Accumulate(SampleSum& entry, const LightBakeSettings& settings, const Float3& at,
                const Float3& normal, const Float3& u, const Float3& v, float& validity) {
    const Float4 sample = settings.sampler->EvaluateLightSample(at, normal, u, v, nullptr);
    validity = sample.w;
    if (sample.w != 0.0f) {
        entry.sum = Float4(entry.sum.x + sample.x, entry.sum.y + sample.y, entry.sum.z + sample.z,
                           entry.sum.w + sample.w);
        entry.count += 1.0f;
    }
}

// The samples of one triangle corner: one just inside the corner, and with the settings' leave
// three more towards the middle of its edges and of the triangle.
void SampleCorner(SampleSum& entry, const LightBakeSettings& settings, const Float3& point,
                  const Float3& normal, const Float3& e1, const Float3& e2) {
    const Float3 u = e1.NormalizedOrSelf();
    const Float3 v = u.Cross(normal).NormalizedOrSelf();
    const Float3 lifted = point + normal * settings.offsetDistance;
    float validity = 0.0f;
    Accumulate(entry, settings, lifted + e1 * 0.05f + e2 * 0.05f, normal, u, v, validity);
    const bool more = (settings.flags & LightBakeCornerSamples) ||
                      ((settings.flags & LightBakeAdaptive) && validity == 0.0f);
    if (!more) {
        return;
    }
    Accumulate(entry, settings, lifted + e1 * 0.5f + e2 * 0.05f, normal, u, v, validity);
    Accumulate(entry, settings, lifted + e2 * 0.5f + e1 * 0.05f, normal, u, v, validity);
    Accumulate(entry, settings, lifted + e1 * 0.25f + e2 * 0.25f, normal, u, v, validity);
}

} // namespace

bool PrepareVertexColourBuffers(std::vector<Float4>& colours, std::unique_ptr<VertexBuffer>& buffer,
                                uint32_t count) {
    if (buffer && colours.empty() && count <= buffer->GetCount()) {
        colours.resize(count);
        buffer->SetWriteState(1);
        for (uint32_t i = 0; i < count; ++i) {
            colours[i] = UnpackColor(buffer->GetColor(i, 0));
        }
        buffer->SetWriteState(0);
        return true;
    }
    if (buffer && buffer->GetCount() < count) {
        buffer.reset();
        colours.clear();
    }
    if (!buffer) {
        buffer = MakeColourBuffer(count);
    }
    if (colours.empty()) {
        colours.resize(count);
    }
    return false;
}

void FillVertexColours(std::vector<Float4>& colours, VertexBuffer* buffer, float r, float g,
                       float b, float a) {
    if (!buffer) {
        return;
    }
    if (colours.empty()) {
        colours.resize(buffer->GetCount());
    }
    std::fill(colours.begin(), colours.end(), Float4(r, g, b, a));
    ChargeElementsPassed(buffer->GetCount());
    const uint32_t packed = PackColor(r, g, b, a);
    buffer->SetWriteState(2);
    for (uint32_t i = 0; i < buffer->GetCount(); ++i) {
        buffer->SetColor(i, 0, packed);
    }
    buffer->SetWriteState(0);
}

void ComputeVertexLighting(Pivot& model, std::vector<Float4>& colours, VertexBuffer* buffer,
                           VertexBuffer* vertices, IndexBuffer* indices, float brightness) {
    if (!buffer || !vertices || !indices) {
        return;
    }
    ShowBusyCursor(0.0f, "Filling lightmap buffer");
    const uint32_t vertexCount = vertices->GetCount();
    // Each vertex lit, and each corner of each triangle sampled: a script's bake of a large
    // mesh is work in proportion.
    ChargeElementsPassed(uint64_t(vertexCount) + indices->GetIndexCount());
    std::vector<SampleSum>& sums = Accumulator();
    sums.assign(vertexCount, SampleSum());

    const LightBakeSettings* settings = GetLightBakeSettings();
    if (settings && settings->sampler) {
        const uint32_t triangles = indices->GetIndexCount() / 3;
        for (uint32_t t = 0; t < triangles; ++t) {
            uint32_t corner[3];
            indices->GetTriangle(t, corner[0], corner[1], corner[2]);
            if (corner[0] >= vertexCount || corner[1] >= vertexCount || corner[2] >= vertexCount) {
                continue;
            }
            for (int k = 0; k < 3; ++k) {
                const Float3 p = vertices->GetPosition(corner[k]);
                const Float3 e1 = vertices->GetPosition(corner[(k + 1) % 3]) - p;
                const Float3 e2 = vertices->GetPosition(corner[(k + 2) % 3]) - p;
                const Float3 normal =
                    model.LocalToWorldDirection(vertices->GetNormal(corner[k])).NormalizedOrSelf();
                SampleCorner(sums[corner[k]], *settings, model.LocalToWorld(p), normal,
                             model.LocalToWorldDirection(e1), model.LocalToWorldDirection(e2));
            }
        }
    }

    const auto written =
        static_cast<uint32_t>(std::min<size_t>({sums.size(), buffer->GetCount(), colours.size()}));
    buffer->SetWriteState(2);
    for (uint32_t i = 0; i < written; ++i) {
        const SampleSum& entry = sums[i];
        Float4 colour(0.0f, 0.0f, 0.0f, 1.0f);
        if (entry.count > 0.0f) {
            const float scale = brightness / entry.count;
            colour = Float4(entry.sum.x * scale, entry.sum.y * scale, entry.sum.z * scale, 1.0f);
        }
        colours[i] = colour;
        buffer->SetColor(i, 0, Pack(colour));
    }
    buffer->SetWriteState(0);
    ShowBusyCursor(1.0f, "");
}

bool SaveVertexColourFile(const char* path, VertexBuffer& buffer, std::span<const Float4> colours) {
    ForwardingOutputStream out;
    if (!out.Open(path, WriteCreateFolders)) {
        return false;
    }
    const uint32_t count = buffer.GetCount();
    out.Printf("vertexcount = %d\n", static_cast<int>(count));
    buffer.SetWriteState(1);
    for (uint32_t i = 0; i < count; ++i) {
        out.Printf("\t%X\n", i < colours.size() ? Pack(colours[i]) : buffer.GetColor(i, 0));
    }
    buffer.SetWriteState(0);
    return out.Close();
}

bool LoadVertexColourFile(const char* path, std::unique_ptr<VertexBuffer>& buffer, uint32_t count,
                          int32_t* fileCount) {
    FileReader reader;
    const bool opened = reader.Open(path, true, false);
    int32_t lines = 0;
    if (opened) {
        Tokenizer tokenizer;
        std::string header;
        tokenizer.ReadLineSkippingComments(header, reader);
        lines = ParseInt32(header.c_str());
    }
    if (fileCount) {
        *fileCount = lines;
    }
    if (!buffer || buffer->GetCount() < count) {
        buffer = MakeColourBuffer(count);
        if (!buffer) {
            return opened;
        }
    }
    buffer->SetWriteState(2);
    std::string line;
    for (uint32_t i = 0; i < count; ++i) {
        // A header that promises more lines than the file holds leaves the rest white too.
        uint32_t colour = OpaqueWhite;
        if (static_cast<int64_t>(i) < lines && reader.Tell() < reader.GetSize()) {
            reader.ReadLineString(line);
            colour = ParseHex32(line.c_str());
        }
        buffer->SetColor(i, 0, colour);
    }
    buffer->SetWriteState(0);
    return opened;
}

} // namespace quarn
