#include "editor/UiLayer.h"

#include "core/string/Utf8.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <imgui.h>
#include <imgui_internal.h>
#include <type_traits>
#include <utility>

namespace quarn {

namespace {

struct UiVertex {
    float x, y, z, rhw;
    uint32_t color;
    float u, v;
};

constexpr GpuVertexElement UiVertexElements[] = {
    {0, 0, GpuDeclType::Float4, GpuDeclUsage::PositionT, 0},
    {0, 16, GpuDeclType::Color, GpuDeclUsage::Color, 0},
    {0, 20, GpuDeclType::Float2, GpuDeclUsage::TexCoord, 0},
};

// The UI library packs red in the low byte; the layer's colours are 0xAARRGGBB.
uint32_t ToArgb(uint32_t packed) {
    return (packed & 0xFF00FF00u) | ((packed & 0xFFu) << 16) | ((packed >> 16) & 0xFFu);
}

// What the pass changes, read back before and set again after: state blocks only record.
class SavedState {
public:
    explicit SavedState(GpuDevice& gpu) : gpu_(gpu) {
        for (size_t i = 0; i < RenderStates.size(); ++i) {
            renderStates_[i] = gpu.GetRenderState(RenderStates[i]);
        }
        for (uint32_t stage = 0; stage < 2; ++stage) {
            for (uint32_t i = 0; i < GpuStageStateCount; ++i) {
                stageStates_[stage][i] = gpu.GetTextureStageState(stage, GpuStageState(i));
            }
        }
        for (uint32_t i = 0; i < GpuSamplerStateCount; ++i) {
            samplerStates_[i] = gpu.GetSamplerState(0, GpuSamplerState(i));
        }
        texture_ = gpu.GetTexture(0);
        declaration_ = gpu.GetVertexDeclaration();
        vertexShader_ = gpu.GetVertexShader();
        pixelShader_ = gpu.GetPixelShader();
        viewport_ = gpu.GetViewport();
        scissor_ = gpu.GetScissorRect();
    }
    ~SavedState() {
        for (size_t i = 0; i < RenderStates.size(); ++i) {
            gpu_.SetRenderState(RenderStates[i], renderStates_[i]);
        }
        for (uint32_t stage = 0; stage < 2; ++stage) {
            for (uint32_t i = 0; i < GpuStageStateCount; ++i) {
                gpu_.SetTextureStageState(stage, GpuStageState(i), stageStates_[stage][i]);
            }
        }
        for (uint32_t i = 0; i < GpuSamplerStateCount; ++i) {
            gpu_.SetSamplerState(0, GpuSamplerState(i), samplerStates_[i]);
        }
        gpu_.SetTexture(0, texture_);
        gpu_.SetVertexDeclaration(declaration_);
        gpu_.SetVertexShader(vertexShader_);
        gpu_.SetPixelShader(pixelShader_);
        gpu_.SetViewport(viewport_);
        gpu_.SetScissorRect(scissor_);
    }
    SavedState(const SavedState&) = delete;
    SavedState& operator=(const SavedState&) = delete;

    static constexpr std::array RenderStates = {
        GpuRenderState::ZEnable,          GpuRenderState::ZWriteEnable,
        GpuRenderState::FillMode,         GpuRenderState::CullMode,
        GpuRenderState::AlphaTestEnable,  GpuRenderState::AlphaBlendEnable,
        GpuRenderState::SrcBlend,         GpuRenderState::DestBlend,
        GpuRenderState::BlendOp,          GpuRenderState::FogEnable,
        GpuRenderState::StencilEnable,    GpuRenderState::Lighting,
        GpuRenderState::ColorWriteEnable, GpuRenderState::ScissorTestEnable,
    };

private:
    GpuDevice& gpu_;
    std::array<uint32_t, RenderStates.size()> renderStates_{};
    uint32_t stageStates_[2][GpuStageStateCount] = {};
    uint32_t samplerStates_[GpuSamplerStateCount] = {};
    GpuTexture* texture_ = nullptr;
    GpuVertexDeclaration* declaration_ = nullptr;
    GpuShader* vertexShader_ = nullptr;
    GpuShader* pixelShader_ = nullptr;
    GpuViewport viewport_;
    GpuRect scissor_;
};

void SetUiState(GpuDevice& gpu, GpuVertexDeclaration* declaration) {
    auto set = [&gpu](GpuRenderState state, auto value) {
        gpu.SetRenderState(state, static_cast<uint32_t>(value));
    };
    set(GpuRenderState::ZEnable, 0);
    set(GpuRenderState::ZWriteEnable, 0);
    set(GpuRenderState::FillMode, GpuFillMode::Solid);
    set(GpuRenderState::CullMode, GpuCull::None);
    set(GpuRenderState::AlphaTestEnable, 0);
    set(GpuRenderState::AlphaBlendEnable, 1);
    set(GpuRenderState::SrcBlend, GpuBlend::SrcAlpha);
    set(GpuRenderState::DestBlend, GpuBlend::InvSrcAlpha);
    set(GpuRenderState::BlendOp, GpuBlendOp::Add);
    set(GpuRenderState::FogEnable, 0);
    set(GpuRenderState::StencilEnable, 0);
    set(GpuRenderState::Lighting, 0);
    set(GpuRenderState::ColorWriteEnable, 0xF);
    set(GpuRenderState::ScissorTestEnable, 1);
    auto stage = [&gpu](uint32_t index, GpuStageState state, auto value) {
        gpu.SetTextureStageState(index, state, static_cast<uint32_t>(value));
    };
    stage(0, GpuStageState::ColorOp, GpuTextureOp::Modulate);
    stage(0, GpuStageState::ColorArg1, GpuTextureArg::Texture);
    stage(0, GpuStageState::ColorArg2, GpuTextureArg::Diffuse);
    stage(0, GpuStageState::AlphaOp, GpuTextureOp::Modulate);
    stage(0, GpuStageState::AlphaArg1, GpuTextureArg::Texture);
    stage(0, GpuStageState::AlphaArg2, GpuTextureArg::Diffuse);
    stage(0, GpuStageState::TexCoordIndex, 0);
    stage(0, GpuStageState::TextureTransformFlags, GpuTextureTransformFlags::Disable);
    stage(1, GpuStageState::ColorOp, GpuTextureOp::Disable);
    stage(1, GpuStageState::AlphaOp, GpuTextureOp::Disable);
    // The atlas is drawn texel for texel.
    auto sampler = [&gpu](GpuSamplerState state, auto value) {
        gpu.SetSamplerState(0, state, static_cast<uint32_t>(value));
    };
    sampler(GpuSamplerState::MinFilter, GpuFilter::Point);
    sampler(GpuSamplerState::MagFilter, GpuFilter::Point);
    sampler(GpuSamplerState::MipFilter, GpuFilter::None);
    sampler(GpuSamplerState::AddressU, GpuAddress::Clamp);
    sampler(GpuSamplerState::AddressV, GpuAddress::Clamp);
    gpu.SetVertexDeclaration(declaration);
    gpu.SetVertexShader(nullptr);
    gpu.SetPixelShader(nullptr);
}

// A command's clip rectangle in target pixels, inside the target.
GpuRect ClipRect(const ImVec4& clip, const ImVec2& origin, int32_t width, int32_t height) {
    auto pixel = [](float value, int32_t limit) {
        return static_cast<int32_t>(std::clamp(std::floor(value), 0.0f, static_cast<float>(limit)));
    };
    GpuRect rect{pixel(clip.x - origin.x, width), pixel(clip.y - origin.y, height),
                 pixel(clip.z - origin.x, width), pixel(clip.w - origin.y, height)};
    rect.right = std::max(rect.right, rect.left);
    rect.bottom = std::max(rect.bottom, rect.top);
    return rect;
}

// Makes the layer's context current for a scope and restores the one before.
class ContextScope {
public:
    explicit ContextScope(ImGuiContext* context) : saved_(ImGui::GetCurrentContext()) {
        ImGui::SetCurrentContext(context);
    }
    ~ContextScope() { ImGui::SetCurrentContext(saved_); }
    ContextScope(const ContextScope&) = delete;
    ContextScope& operator=(const ContextScope&) = delete;

private:
    ImGuiContext* saved_;
};

} // namespace

UiLayer::UiLayer(GpuDevice& gpu) : gpu_(gpu) {
    context_ = ImGui::CreateContext();
    ContextScope scope(context_);
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.LogFilename = nullptr;
    io.BackendRendererName = "quarn";
    for (int32_t key = 0; key < ImGuiKey_COUNT; ++key) {
        io.KeyMap[key] = key;
    }
    io.Fonts->AddFontDefault();
    declaration_ = gpu_.CreateVertexDeclaration(UiVertexElements);
    RestoreDeviceObjects();
}

UiLayer::~UiLayer() {
    ImGui::DestroyContext(context_);
}

bool UiLayer::RestoreDeviceObjects() {
    ContextScope scope(context_);
    ImGuiIO& io = ImGui::GetIO();
    unsigned char* pixels = nullptr;
    int width = 0;
    int height = 0;
    io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
    fontTexture_ = gpu_.CreateTexture(static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                                      1, 0, GpuFormat::A8R8G8B8, GpuPool::Managed);
    GpuLockedRect locked;
    if (!fontTexture_ ||
        fontTexture_->LockRect(0, GpuCubeFace::PositiveX, locked, nullptr, 0) != GpuResult::Ok) {
        fontTexture_.reset();
        io.Fonts->SetTexID(nullptr);
        return false;
    }
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.bits) +
                                                static_cast<ptrdiff_t>(y) * locked.pitch);
        for (int x = 0; x < width; ++x) {
            uint32_t packed;
            std::memcpy(&packed, pixels + (static_cast<size_t>(y) * width + x) * 4, 4);
            row[x] = ToArgb(packed);
        }
    }
    fontTexture_->UnlockRect(0, GpuCubeFace::PositiveX);
    io.Fonts->SetTexID(fontTexture_.get());
    return true;
}

void UiLayer::ReleaseDeviceObjects() {
    ContextScope scope(context_);
    ImGui::GetIO().Fonts->SetTexID(nullptr);
    fontTexture_.reset();
}

void UiLayer::MouseMove(float x, float y) {
    ContextScope scope(context_);
    ImGui::GetIO().MousePos = ImVec2(x, y);
}

void UiLayer::MouseButton(UiMouseButton button, bool down, bool doubleClick) {
    queued_.push_back({InputEvent::Button, static_cast<int32_t>(button), down, doubleClick});
}

void UiLayer::MouseWheel(float steps) {
    ContextScope scope(context_);
    ImGui::GetIO().MouseWheel += steps;
}

void UiLayer::Key(int32_t key, bool down) {
    if (key >= 0 && key < ImGuiKey_COUNT) {
        queued_.push_back({InputEvent::KeyChange, key, down});
    }
}

void UiLayer::Modifiers(bool ctrl, bool shift, bool alt) {
    const int32_t bits = (ctrl ? 1 : 0) | (shift ? 2 : 0) | (alt ? 4 : 0);
    queued_.push_back({InputEvent::ModifierChange, bits, false});
}

void UiLayer::Text(std::string_view utf8) {
    ContextScope scope(context_);
    ImGui::GetIO().AddInputCharactersUTF8(std::string(utf8).c_str());
}

bool UiLayer::WantsMouse() const {
    ContextScope scope(context_);
    return ImGui::GetIO().WantCaptureMouse;
}

bool UiLayer::WantsMouseAt(float x, float y) const {
    const ImGuiContext& g = *context_;
    // An open menu or popup takes every click, as a press outside it only closes it.
    if (!g.OpenPopupStack.empty()) {
        return true;
    }
    for (size_t button = 0; button < std::size(g.IO.MouseDown); ++button) {
        if (g.IO.MouseDown[button] && g.IO.MouseDownOwned[button]) {
            return true;
        }
    }
    return std::any_of(g.Windows.begin(), g.Windows.end(), [&](const ImGuiWindow* window) {
        return window->Active && !window->Hidden &&
               !(window->Flags & ImGuiWindowFlags_NoMouseInputs) &&
               window->OuterRectClipped.Contains(ImVec2(x, y));
    });
}

bool UiLayer::WantsKeyboard() const {
    ContextScope scope(context_);
    return ImGui::GetIO().WantTextInput;
}

void UiLayer::ApplyQueuedInput() {
    ImGuiIO& io = ImGui::GetIO();
    constexpr size_t ButtonCount = std::extent_v<decltype(ImGuiIO::MouseDown)>;
    bool buttonChanged[ButtonCount] = {};
    std::vector<bool> keyChanged(ImGuiKey_COUNT);
    while (!queued_.empty()) {
        const InputEvent& event = queued_.front();
        if (event.kind == InputEvent::ModifierChange) {
            io.KeyCtrl = (event.index & 1) != 0;
            io.KeyShift = (event.index & 2) != 0;
            io.KeyAlt = (event.index & 4) != 0;
        } else if (event.kind == InputEvent::Button) {
            if (event.index >= static_cast<int32_t>(ButtonCount)) {
                queued_.pop_front();
                continue;
            }
            if (buttonChanged[event.index]) {
                break;
            }
            buttonChanged[event.index] = io.MouseDown[event.index] != event.down;
            io.MouseDown[event.index] = event.down;
            if (event.down && buttonChanged[event.index]) {
                // The library counts clicks by its own frame times, which a slow frame or a
                // press held back a frame would stretch past its limit: the window system's
                // count holds instead (the new frame's time is a step on from now).
                io.MouseClickedTime[event.index] =
                    event.doubleClick ? context_->Time + io.DeltaTime : context_->Time - 1.0e6;
                io.MouseClickedPos[event.index] = io.MousePos;
            }
        } else {
            if (keyChanged[event.index]) {
                break;
            }
            keyChanged[event.index] = io.KeysDown[event.index] != event.down;
            io.KeysDown[event.index] = event.down;
        }
        queued_.pop_front();
    }
}

void UiLayer::NameLastItem(std::string_view name) {
    ContextScope scope(context_);
    // A menu shows its items a frame after it opens; a click meanwhile lands on nothing.
    if (!ImGui::IsItemVisible() || ImGui::GetCurrentWindowRead()->Hidden) {
        return;
    }
    ImVec2 min = ImGui::GetItemRectMin();
    ImVec2 max = ImGui::GetItemRectMax();
    // Only the part inside the window's clip can be hit.
    const ImDrawList* drawList = ImGui::GetWindowDrawList();
    min = ImVec2(std::max(min.x, drawList->GetClipRectMin().x),
                 std::max(min.y, drawList->GetClipRectMin().y));
    max = ImVec2(std::min(max.x, drawList->GetClipRectMax().x),
                 std::min(max.y, drawList->GetClipRectMax().y));
    if (min.x >= max.x || min.y >= max.y) {
        return;
    }
    namedItems_.insert_or_assign(std::string(name), UiItemRect{min.x, min.y, max.x, max.y});
}

void UiLayer::NameCurrentWindow(std::string_view name) {
    ContextScope scope(context_);
    const ImVec2 min = ImGui::GetWindowPos();
    const ImVec2 size = ImGui::GetWindowSize();
    namedItems_.insert_or_assign(std::string(name),
                                 UiItemRect{min.x, min.y, min.x + size.x, min.y + size.y});
}

bool UiLayer::IsMenuToOpen(std::string_view name) const {
    return std::find(menusToOpen_.begin(), menusToOpen_.end(), name) != menusToOpen_.end();
}

std::optional<UiItemRect> UiLayer::FindItem(std::string_view name) const {
    auto found = lastNamedItems_.find(name);
    if (found == lastNamedItems_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void UiLayer::BeginFrame(uint32_t width, uint32_t height, float seconds) {
    ImGui::SetCurrentContext(context_);
    namedItems_.clear();
    ImGuiIO& io = ImGui::GetIO();
    io.DisplaySize = ImVec2(static_cast<float>(width), static_cast<float>(height));
    // The library refuses a zero step.
    io.DeltaTime = seconds > 0.0f ? seconds : 1.0f / 60.0f;
    ApplyQueuedInput();
    ImGui::NewFrame();
    if (std::exchange(closeMenus_, false) && !context_->OpenPopupStack.empty()) {
        ImGui::ClosePopupToLevel(0, true);
    }
}

void UiLayer::EndFrame() {
    ImGui::SetCurrentContext(context_);
    ImGui::Render();
    menusToOpen_.clear();
    lastNamedItems_.swap(namedItems_);
    Draw(*ImGui::GetDrawData());
}

void UiLayer::Draw(const ImDrawData& data) {
    GpuSurface* target = gpu_.GetRenderTarget(0);
    if (!target || data.CmdListsCount == 0 || !declaration_) {
        return;
    }
    const GpuSurfaceDesc desc = target->GetDesc();
    const auto width = static_cast<int32_t>(desc.width);
    const auto height = static_cast<int32_t>(desc.height);
    SavedState saved(gpu_);
    SetUiState(gpu_, declaration_.get());
    gpu_.SetViewport({0, 0, desc.width, desc.height, 0.0f, 1.0f});
    for (int32_t list = 0; list < data.CmdListsCount; ++list) {
        const ImDrawList& drawList = *data.CmdLists[list];
        const ImDrawVert* source = drawList.VtxBuffer.Data;
        const auto sourceCount = static_cast<uint32_t>(drawList.VtxBuffer.Size);
        for (const ImDrawCmd& command : drawList.CmdBuffer) {
            if (command.UserCallback || command.ElemCount < 3) {
                continue;
            }
            const GpuRect clip = ClipRect(command.ClipRect, data.DisplayPos, width, height);
            if (clip.left == clip.right || clip.top == clip.bottom) {
                continue;
            }
            // Indices are 16-bit, so each command counts from its own vertex offset.
            const uint32_t triangles = command.ElemCount / 3;
            vertices_.resize(static_cast<size_t>(triangles) * 3 * sizeof(UiVertex));
            auto* out = reinterpret_cast<UiVertex*>(vertices_.data());
            const ImDrawIdx* indices = drawList.IdxBuffer.Data + command.IdxOffset;
            size_t written = 0;
            for (uint32_t i = 0; i < triangles * 3; i += 3) {
                const uint32_t corners[3] = {command.VtxOffset + indices[i],
                                             command.VtxOffset + indices[i + 1],
                                             command.VtxOffset + indices[i + 2]};
                if (std::max({corners[0], corners[1], corners[2]}) >= sourceCount) {
                    continue;
                }
                for (uint32_t corner : corners) {
                    const ImDrawVert& v = source[corner];
                    // Pixel centres lie at integers here, at half pixels in the library.
                    out[written++] = {v.pos.x - data.DisplayPos.x - 0.5f,
                                      v.pos.y - data.DisplayPos.y - 0.5f,
                                      0.0f,
                                      1.0f,
                                      ToArgb(v.col),
                                      v.uv.x,
                                      v.uv.y};
                }
            }
            if (written == 0) {
                continue;
            }
            gpu_.SetScissorRect(clip);
            gpu_.SetTexture(0, static_cast<GpuTexture*>(command.GetTexID()));
            gpu_.DrawPrimitiveUP(GpuPrimitiveType::TriangleList, static_cast<uint32_t>(written / 3),
                                 out, sizeof(UiVertex));
        }
    }
}

std::string UiText(std::string_view text) {
    const DecodedText decoded = DecodeUtf8(text);
    bool valid = true;
    for (size_t i = 0; i < decoded.Size() && valid; ++i) {
        // A replacement character is valid only where the text spells it out.
        valid = decoded.codes[i] != 0xFFFD ||
                text.substr(decoded.offsets[i], decoded.offsets[i + 1] - decoded.offsets[i]) ==
                    "\xEF\xBF\xBD";
    }
    if (valid) {
        return std::string(text);
    }
    std::string out;
    out.reserve(text.size() * 2);
    for (unsigned char byte : text) {
        if (byte < 0x80) {
            out.push_back(static_cast<char>(byte));
        } else {
            out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return out;
}

} // namespace quarn
