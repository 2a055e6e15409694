#include "device/VertexBuffer.h"

#include "core/debug/Log.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace quarn {

namespace {

std::vector<VertexBuffer*>& LiveBuffers() {
    // Never destroyed: buffers held by static objects may outlive every other static.
    static auto* list = new std::vector<VertexBuffer*>;
    return *list;
}

// A fresh array reads back this value until written, so unwritten vertices stand out.
constexpr float UnwrittenWord = 1234.0f;

void AddElement(VertexLayout& layout, uint32_t wordOffset, GpuDeclType type, GpuDeclUsage usage,
                uint32_t usageIndex) {
    layout.elements.push_back({0, wordOffset * 4, type, usage, usageIndex});
}

} // namespace

VertexLayout VertexLayout::FromFormat(uint32_t format) {
    VertexLayout layout;
    uint32_t words = 0;
    const bool screen = (format & VertexScreenPosition) != 0;
    if (screen || (format & VertexPosition)) {
        layout.position = 0;
        words = screen ? 4 : 3;
        layout.fixedFormat |= screen ? 0x4u : 0x2u;
    }
    if (format & VertexNormal) {
        layout.normal = words;
        words += 3;
        layout.fixedFormat |= 0x10;
    }
    layout.color = words;
    if (format & VertexDiffuse) {
        words += 1;
        layout.fixedFormat |= 0x40;
    }
    if (format & VertexSpecular) {
        words += 1;
        layout.fixedFormat |= 0x80;
    }
    // Sets are contiguous from set 0: only the highest bit counts.
    for (uint32_t set = 4; set > 0; --set) {
        if (format & (VertexTexCoord0 << (set - 1))) {
            layout.texCoordSets = set;
            break;
        }
    }
    layout.texCoord = words;
    words += 2 * layout.texCoordSets;
    layout.extra = words;
    if (format & VertexExtraFloat) {
        words += 1;
    }
    layout.weight = words;
    words += ((format & VertexWeight0) ? 1 : 0) + ((format & VertexWeight1) ? 1 : 0);
    layout.stride = words;
    const uint32_t fixedSets = layout.texCoordSets + ((format & VertexExtraFloat) ? 1 : 0);
    layout.fixedFormat |= fixedSets << 8;

    // Elements in bit order, each at its place in the layout above.
    if (screen) {
        AddElement(layout, 0, GpuDeclType::Float4, GpuDeclUsage::PositionT, 0);
    } else if (format & VertexPosition) {
        AddElement(layout, 0, GpuDeclType::Float3, GpuDeclUsage::Position, 0);
    }
    if (format & VertexNormal) {
        AddElement(layout, layout.normal, GpuDeclType::Float3, GpuDeclUsage::Normal, 0);
    }
    if (format & VertexDiffuse) {
        AddElement(layout, layout.color, GpuDeclType::Color, GpuDeclUsage::Color, 0);
    }
    if (format & VertexSpecular) {
        const uint32_t at = layout.color + ((format & VertexDiffuse) ? 1 : 0);
        AddElement(layout, at, GpuDeclType::Color, GpuDeclUsage::Color, 1);
    }
    for (uint32_t set = 0; set < layout.texCoordSets; ++set) {
        AddElement(layout, layout.texCoord + 2 * set, GpuDeclType::Float2, GpuDeclUsage::TexCoord,
                   set);
    }
    if (format & VertexWeight0) {
        AddElement(layout, layout.weight, GpuDeclType::Float1, GpuDeclUsage::BlendWeight, 0);
    }
    if (format & VertexWeight1) {
        const uint32_t at = layout.weight + ((format & VertexWeight0) ? 1 : 0);
        AddElement(layout, at, GpuDeclType::Float1, GpuDeclUsage::BlendWeight, 1);
    }
    // The extra float travels as the next coordinate set, as its fixed-function code says;
    // as a colour it would collide with the diffuse colour.
    if ((format & VertexExtraFloat) && layout.texCoordSets < 4) {
        AddElement(layout, layout.extra, GpuDeclType::Float1, GpuDeclUsage::TexCoord,
                   layout.texCoordSets);
    }
    return layout;
}

VertexBuffer::VertexBuffer(GpuDevice& device, ErrorCallback reporter)
    : device_(device), reporter_(std::move(reporter)) {
    listIndex_ = LiveBuffers().size();
    LiveBuffers().push_back(this);
}

VertexBuffer::~VertexBuffer() {
    std::vector<VertexBuffer*>& list = LiveBuffers();
    list[listIndex_] = list.back();
    list[listIndex_]->listIndex_ = listIndex_;
    list.pop_back();
}

bool VertexBuffer::Create(uint32_t count, uint32_t format, uint32_t flags) {
    const uint32_t word = format | flags;
    const uint32_t newFormat = word & 0xFFFF;
    const bool formatChanged = !hasLayout_ || newFormat != GetFormat();
    bool ok = true;
    count_ = count;
    if (formatChanged || !declaration_) {
        layout_ = VertexLayout::FromFormat(newFormat);
        hasLayout_ = true;
        declaration_.reset();
        if (!layout_.elements.empty()) {
            declaration_ = device_.CreateVertexDeclaration(layout_.elements);
        }
        ok = declaration_ != nullptr;
    }
    byteSize_ = layout_.stride * count * 4;
    flags_ = word;
    // Whatever the array holds now differs from any GPU copy made for the old size or format.
    MarkChanged();
    if (vertices_.empty() || capacity_ < count || formatChanged) {
        vertices_.assign(static_cast<size_t>(layout_.stride) * std::max(count, 1u),
                         std::bit_cast<uint32_t>(UnwrittenWord));
        capacity_ = count;
    }
    if (flags_ & VertexStartEmpty) {
        count_ = 0;
        ok = Upload() != nullptr && ok;
    }
    return ok;
}

void VertexBuffer::SetFlags(uint32_t mask, uint32_t value) {
    const uint32_t m = mask & ~0xFFFFu & ~VertexNeedsUpload;
    flags_ = (flags_ & ~m) | (value & m);
}

std::span<uint32_t> VertexBuffer::GetVertices() {
    if (writeState_ == 2) {
        MarkChanged();
    }
    return {vertices_.data(), static_cast<size_t>(count_) * layout_.stride};
}

std::span<uint32_t> VertexBuffer::OpenVertex(uint32_t first) {
    if (first >= capacity_) {
        if (reporter_) {
            reporter_("open vertex error: invalid index");
        } else {
            LogChannelMessage("render", "open vertex error: invalid index");
        }
        return {};
    }
    MarkChanged();
    const size_t begin = static_cast<size_t>(first) * layout_.stride;
    const size_t end = static_cast<size_t>(count_) * layout_.stride;
    return {vertices_.data() + begin, end > begin ? end - begin : 0};
}

uint32_t* VertexBuffer::Word(uint32_t i, uint32_t offset) {
    const size_t at = static_cast<size_t>(i) * layout_.stride + offset;
    return layout_.stride != 0 && i < vertices_.size() / layout_.stride ? &vertices_[at] : nullptr;
}

const uint32_t* VertexBuffer::Word(uint32_t i, uint32_t offset) const {
    return const_cast<VertexBuffer*>(this)->Word(i, offset);
}

void VertexBuffer::SetPosition(uint32_t i, const Float3& p) {
    const uint32_t format = GetFormat();
    uint32_t* w = (format & (VertexPosition | VertexScreenPosition)) ? Word(i, 0) : nullptr;
    if (!w) {
        return;
    }
    w[0] = std::bit_cast<uint32_t>(p.x);
    w[1] = std::bit_cast<uint32_t>(p.y);
    w[2] = std::bit_cast<uint32_t>(p.z);
    if (format & VertexScreenPosition) {
        w[3] = std::bit_cast<uint32_t>(1.0f);
    }
    MarkChanged();
}

void VertexBuffer::SetNormal(uint32_t i, const Float3& n) {
    uint32_t* w = (GetFormat() & VertexNormal) ? Word(i, layout_.normal) : nullptr;
    if (!w) {
        return;
    }
    w[0] = std::bit_cast<uint32_t>(n.x);
    w[1] = std::bit_cast<uint32_t>(n.y);
    w[2] = std::bit_cast<uint32_t>(n.z);
    MarkChanged();
}

void VertexBuffer::SetTexCoord(uint32_t i, uint32_t set, float u, float v) {
    uint32_t* w = set < layout_.texCoordSets ? Word(i, layout_.texCoord + 2 * set) : nullptr;
    if (!w) {
        return;
    }
    w[0] = std::bit_cast<uint32_t>(u);
    w[1] = std::bit_cast<uint32_t>(v);
    MarkChanged();
}

namespace {

// Word offset of colour channel 0 (diffuse) or 1 (specular), or -1 when the format lacks it.
int32_t ColorWord(uint32_t format, const VertexLayout& layout, uint32_t channel) {
    if (channel == 0) {
        return (format & VertexDiffuse) ? static_cast<int32_t>(layout.color) : -1;
    }
    if (channel == 1 && (format & VertexSpecular)) {
        return static_cast<int32_t>(layout.color + ((format & VertexDiffuse) ? 1 : 0));
    }
    return -1;
}

} // namespace

void VertexBuffer::SetColor(uint32_t i, uint32_t channel, uint32_t argb) {
    const int32_t at = ColorWord(GetFormat(), layout_, channel);
    uint32_t* w = at >= 0 ? Word(i, static_cast<uint32_t>(at)) : nullptr;
    if (w) {
        *w = argb;
        MarkChanged();
    }
}

Float3 VertexBuffer::GetPosition(uint32_t i) const {
    const bool has = (GetFormat() & (VertexPosition | VertexScreenPosition)) != 0;
    const uint32_t* w = has ? Word(i, 0) : nullptr;
    if (!w) {
        return {};
    }
    return {std::bit_cast<float>(w[0]), std::bit_cast<float>(w[1]), std::bit_cast<float>(w[2])};
}

Float3 VertexBuffer::GetNormal(uint32_t i) const {
    const uint32_t* w = (GetFormat() & VertexNormal) ? Word(i, layout_.normal) : nullptr;
    if (!w) {
        return {};
    }
    return {std::bit_cast<float>(w[0]), std::bit_cast<float>(w[1]), std::bit_cast<float>(w[2])};
}

Float2 VertexBuffer::GetTexCoord(uint32_t i, uint32_t set) const {
    const uint32_t* w = set < layout_.texCoordSets ? Word(i, layout_.texCoord + 2 * set) : nullptr;
    if (!w) {
        return {};
    }
    return {std::bit_cast<float>(w[0]), std::bit_cast<float>(w[1])};
}

uint32_t VertexBuffer::GetColor(uint32_t i, uint32_t channel) const {
    const int32_t at = ColorWord(GetFormat(), layout_, channel);
    const uint32_t* w = at >= 0 ? Word(i, static_cast<uint32_t>(at)) : nullptr;
    return w ? *w : 0;
}

uint32_t VertexBuffer::AddVertices(uint32_t n) {
    if (n > capacity_ - count_) {
        return NoVertex;
    }
    const uint32_t first = count_;
    count_ += n;
    writeState_ = 2;
    // The GPU copy does not yet cover the new vertices, whether or not they get written.
    MarkChanged();
    return first;
}

uint32_t VertexBuffer::Append(uint32_t n, const uint32_t* source) {
    n = std::min(n, capacity_ - count_);
    if (n == 0 || !source) {
        return NoVertex;
    }
    const size_t stride = layout_.stride;
    std::memcpy(vertices_.data() + count_ * stride, source, n * stride * sizeof(uint32_t));
    MarkChanged();
    const uint32_t first = count_;
    count_ += n;
    return first;
}

void VertexBuffer::Clear() {
    count_ = 0;
    writeState_ = 0;
}

GpuVertexBuffer* VertexBuffer::Upload() {
    if (!(flags_ & VertexNeedsUpload) && buffer_) {
        return buffer_.get();
    }
    if (!hasLayout_ || layout_.stride == 0) {
        return nullptr;
    }
    const bool dynamic = (flags_ & VertexDynamic) != 0;
    const uint32_t needed = layout_.stride * std::max(capacity_, 1u) * 4;
    if (!buffer_ || buffer_->GetLength() < needed) {
        buffer_.reset();
        buffer_ = device_.CreateVertexBuffer(
            needed, dynamic ? (GpuUsageDynamic | GpuUsageWriteOnly) : GpuUsageWriteOnly,
            layout_.fixedFormat, dynamic ? GpuPool::Default : GpuPool::Managed);
        if (!buffer_) {
            return nullptr;
        }
    }
    if (count_ > 0) {
        const uint32_t used = layout_.stride * count_ * 4;
        void* target = nullptr;
        const GpuResult locked = dynamic ? buffer_->Lock(0, used, target, GpuLockDiscard)
                                         : buffer_->Lock(0, 0, target, 0);
        if (locked != GpuResult::Ok) {
            // Keeps the upload pending: drawing stale vertices would be worse than not drawing.
            return nullptr;
        }
        std::memcpy(target, vertices_.data(), used);
        buffer_->Unlock();
    }
    flags_ &= ~VertexNeedsUpload;
    return buffer_.get();
}

void VertexBuffer::ReleaseDynamic(GpuDevice& device) {
    for (VertexBuffer* v : LiveBuffers()) {
        if (&v->device_ == &device && (v->flags_ & VertexDynamic)) {
            v->buffer_.reset();
            v->declaration_.reset();
        }
    }
}

bool VertexBuffer::RestoreDynamic(GpuDevice& device) {
    bool ok = true;
    for (VertexBuffer* v : LiveBuffers()) {
        if (&v->device_ == &device && (v->flags_ & VertexDynamic) && !v->buffer_) {
            ok = v->Create(v->capacity_, v->flags_ & 0xFFFF, v->flags_ & 0xFFFF0000u) && ok;
            v->count_ = 0;
        }
    }
    return ok;
}

} // namespace quarn
