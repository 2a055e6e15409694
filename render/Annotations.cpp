#include "render/Annotations.h"

#include "core/object/ClassInfo.h"
#include "core/object/NamedConstants.h"
#include "core/object/MethodInfo.h"
#include "core/object/PropertyScalar.h"
#include "core/scene/EngineState.h"
#include "device/DeviceMesh.h"
#include "device/DrawBufferShare.h"
#include "device/IndexBuffer.h"
#include "device/RenderDevice.h"
#include "device/VertexBuffer.h"
#include "render/RenderQueue.h"
#include "resources/Texture.h"

#include <algorithm>
#include <cmath>

namespace quarn {

ClassInfo* Annotations::classInfo = nullptr;

namespace {

constexpr uint32_t WorldMeshVertices = 4096;
constexpr uint32_t WorldMeshIndices = 1024;
constexpr uint32_t WorldMeshFormat = 0x10000 | DynamicWorldFormat;
constexpr uint32_t SphereSegments = 16;
constexpr uint32_t IconFormat = DynamicTextFormat;
// Blended, double-sided, filtered.
constexpr uint32_t IconRenderFlags = 0x211;
constexpr float IconHalf = 8.0f;
constexpr float IconCell = 0.25f;

// Draws every item, then takes the frame's time off its lifetime and keeps, in order, those
// with time left: a lifetime of 0 is drawn exactly once.
template <typename Item, typename Draw>
void DrawAndAge(std::vector<Item>& items, Draw draw) {
    size_t kept = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        draw(items[i]);
        items[i].lifetime -= FrameTime;
        if (items[i].lifetime > 0.0f) {
            if (kept != i) {
                items[kept] = std::move(items[i]);
            }
            ++kept;
        }
    }
    items.resize(kept);
}

} // namespace

Annotations::Annotations() {
    if (!GetActiveAnnotations()) {
        SetActiveAnnotations(this);
    }
    iconTexture_ = GetTexture("res://icon_atlas.png", "");
}

Annotations::~Annotations() {
    if (GetActiveAnnotations() == static_cast<AnnotationSink*>(this)) {
        SetActiveAnnotations(nullptr);
    }
    if (iconTexture_) {
        iconTexture_->Release();
    }
    iconMesh_.reset();
    iconVertices_.reset();
    iconIndices_.reset();
    worldMesh_.Destroy();
}

void Annotations::SetPointSize(float size) {
    if (size != 0.0f) {
        pointSize_ = size;
    }
}

void Annotations::AddPoint(const Float3& at, uint32_t color, float lifetime) {
    points_.push_back({at, color, lifetime});
}

void Annotations::AddLine(const Float3& from, const Float3& to, uint32_t color, float lifetime) {
    lines_.push_back({from, to, color, lifetime});
}

void Annotations::AddArrow(const Float3& from, const Float3& to, uint32_t color,
                           float lifetime) {
    arrows_.push_back({from, to, color, lifetime});
}

void Annotations::AddLine2D(float x1, float y1, float x2, float y2, uint32_t color,
                            float lifetime) {
    screenLines_.push_back({Float2(x1, y1), Float2(x2, y2), color, lifetime});
}

void Annotations::AddText(float x, float y, const char* text, uint32_t color, float lifetime) {
    texts_.push_back({text ? text : "", Float2(x, y), color, lifetime});
}

void Annotations::AddIcon(const Float2& at, float angle, int32_t icon, uint32_t color,
                          float lifetime) {
    if (icon < 0 || icon >= AnnotationIconCount) {
        return;
    }
    icons_.push_back({at, angle, icon, color, lifetime});
}

void Annotations::AddSphere(const Float3& centre, float radius, uint32_t color) {
    shapes_.push_back({centre, Float3(radius, 0.0f, 0.0f), Quaternion{}, color, true});
}

void Annotations::AddBox(const Float3& position, const Float3& size,
                         const Quaternion& orientation, uint32_t color) {
    shapes_.push_back({position, size, orientation, color, false});
}

int32_t Annotations::Render() {
    if (CurrentPass >= RenderOsd) {
        RenderScreen();
        return 0;
    }
    RenderWorld();
    return RenderOsd;
}

void Annotations::RenderWorld() {
    if (RenderDevice* device = TheRenderDevice()) {
        device->SetWorldMatrix(Matrix4{});
    }
    DrawAndAge(points_, [this](const PointItem& p) {
        DrawDebugPointMarker(p.at, pointSize_, p.color);
    });
    DrawAndAge(lines_, [](const LineItem& l) { DrawDebugLine(l.from, l.to, l.color); });
    DrawAndAge(arrows_, [](const LineItem& a) {
        Float3 v = a.to - a.from;
        const float length = v.Length();
        if (length != 0.0f) {
            v = v / length;
        }
        const Float3 q(-v.y * length, v.x * length, v.z * length);
        const Float3 back = (a.to - a.from) * 0.25f;
        DrawDebugLine(a.from, a.to, a.color);
        DrawDebugLine(a.to, a.to + q * 0.25f - back, a.color);
        DrawDebugLine(a.to, a.to - q * 0.25f - back, a.color);
    });
    FlushShapes();
}

void Annotations::FlushShapes() {
    if (shapes_.empty()) {
        return;
    }
    if (!worldMesh_.GetVertexBuffer()) {
        // Made at the first shapes, not with the node: a scene of many annotation nodes holds
        // buffers only for those drawing shapes, and those within the scene's draw buffers.
        if (!worldShare_.Hold(DrawBufferShare::MeshBytes(WorldMeshVertices,
                                                         WorldMeshFormat & 0xFFFF, WorldMeshIndices,
                                                         sizeof(uint32_t)),
                              this, "draws no spheres or boxes")) {
            shapes_.clear();
            return;
        }
        if (!worldMesh_.Create(WorldMeshVertices, WorldMeshIndices, WorldMeshFormat,
                               DynamicLines)) {
            worldMesh_.Destroy();
            worldShare_.Release();
            return; // no device yet: the shapes wait for one
        }
        worldMesh_.Clear();
    }
    auto add = [this](const Shape& s) {
        if (s.sphere) {
            worldMesh_.AddWireSphere(s.position, s.size.x, s.color, SphereSegments);
        } else {
            worldMesh_.AddBoxOutline(s.position, s.size, s.orientation, s.color);
        }
    };
    const VertexBuffer& vertices = *worldMesh_.GetVertexBuffer();
    for (const Shape& shape : shapes_) {
        const uint32_t before = vertices.GetCount();
        add(shape);
        if (vertices.GetCount() == before && before > 0) {
            // Full: draw what is there and start again.
            worldMesh_.Flush(DynamicDepthTested);
            add(shape);
        }
    }
    worldMesh_.Flush(DynamicDepthTested);
    shapes_.clear();
}

void Annotations::RenderScreen() {
    DrawAndAge(screenLines_, [](const ScreenLineItem& l) {
        DrawScreenLineNow(l.from.x, l.from.y, l.to.x, l.to.y, l.color);
    });
    DrawAndAge(texts_, [](const TextItem& t) {
        DrawScreenText(t.at.x, t.at.y, t.text.c_str(), t.color);
    });
    if (!icons_.empty()) {
        DrawIcons();
    }
}

bool Annotations::MakeIconMesh() {
    RenderDevice* device = TheRenderDevice();
    if (!device ||
        !iconShare_.Hold(DrawBufferShare::MeshBytes(4 * AnnotationMaxIcons, IconFormat,
                                                    6 * AnnotationMaxIcons, sizeof(uint32_t)),
                         this, "draws no icons")) {
        return false;
    }
    iconIndices_ = device->CreateIndexData();
    iconVertices_ = device->CreateVertexData();
    iconMesh_ = device->CreateDeviceMesh();
    if (!iconIndices_ || !iconVertices_ || !iconMesh_ ||
        !iconIndices_->Create(6 * AnnotationMaxIcons, IndexSystemMemory)) {
        iconMesh_.reset();
        iconShare_.Release();
        return false;
    }
    iconIndices_->FillQuadIndices(0, AnnotationMaxIcons, 0, true);
    iconMesh_->SetIndexData(iconIndices_.get());
    iconMesh_->SetVertexStream(iconVertices_.get(), 0);
    iconMesh_->SetRenderFlagsWord(IconRenderFlags);
    iconMesh_->SetLayerCount(1);
    iconMesh_->SetLayer(0, iconTexture_ ? iconTexture_->GetDeviceTexture() : nullptr,
                        BlendMode::Normal);
    iconMesh_->SetOptions(MeshOwnerBit, MeshOwnerBit);
    iconMesh_->SetOptions(MeshVerticesInWorld, MeshVerticesInWorld);
    return true;
}

void Annotations::DrawIcons() {
    const auto drawn = static_cast<uint32_t>(std::min<size_t>(icons_.size(), AnnotationMaxIcons));
    const bool ready = (iconMesh_ || MakeIconMesh()) &&
                       iconVertices_->Create(4 * drawn, IconFormat, VertexDynamic);
    if (ready) {
        // The index data holds 1024 quads; only the vertices written this frame may be read.
        iconIndices_->SetCount(6 * drawn);
        iconMesh_->SetVertexStream(iconVertices_.get(), 0);
        static constexpr Float2 Corners[4] = {{-IconHalf, -IconHalf},
                                              {IconHalf, -IconHalf},
                                              {IconHalf, IconHalf},
                                              {-IconHalf, IconHalf}};
        static constexpr Float2 CellOffsets[4] = {{0, 0}, {IconCell, 0}, {IconCell, IconCell},
                                                  {0, IconCell}};
        for (uint32_t k = 0; k < drawn; ++k) {
            const IconItem& icon = icons_[k];
            const float c = std::cos(icon.angle);
            const float s = std::sin(icon.angle);
            const Float2 cell(IconCell * static_cast<float>(icon.icon & 3),
                              IconCell * static_cast<float>(icon.icon / 4));
            for (uint32_t corner = 0; corner < 4; ++corner) {
                const Float2 p = Corners[corner];
                // A mirror, not a rotation: the atlas is drawn to read right through it.
                const Float2 turned(-c * p.x + s * p.y, s * p.x + c * p.y);
                const uint32_t v = 4 * k + corner;
                iconVertices_->SetPosition(v, Float3(icon.at.x + turned.x, icon.at.y + turned.y, 0));
                iconVertices_->SetColor(v, 0, icon.color);
                iconVertices_->SetTexCoord(v, 0, cell.x + CellOffsets[corner].x,
                                           cell.y + CellOffsets[corner].y);
            }
        }
    }
    DrawAndAge(icons_, [](const IconItem&) {});
    if (ready && drawn > 0) {
        SubmitMesh(*iconMesh_);
    }
}

ClassInfo* Annotations::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "Annotations", []() -> Entity* { return new Annotations(); }, &classInfo);
    classInfo->SetParent(RenderObject::RegisterClass());
    classInfo->SetCategory("Editor");

    using A = Annotations;
    classInfo->AddProperty<PropertyFloat, &A::GetPointSize, &A::SetPointSize>("pointsize:0.0,0.2");
    // Script-visible under generated names: the order is fixed (compiled scripts hold them).
    classInfo->AddMethod(NextShortName(), "(float3,int)", BindMethod<&A::ScriptAddPoint>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(float3,float3,int)", BindMethod<&A::ScriptAddLine>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(float2,float2,int)",
                         BindMethod<&A::ScriptAddLine2D>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(float2,string,int)", BindMethod<&A::ScriptAddText>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(float3,float3,int)", BindMethod<&A::ScriptAddArrow>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(float2,float,int,int)",
                         BindMethod<&A::ScriptAddIcon>(), MethodScript);
    for (int32_t icon = 0; icon < AnnotationIconCount; ++icon) {
        RegisterNamedConstant(NextShortName(), icon);
    }
    return classInfo;
}

} // namespace quarn
