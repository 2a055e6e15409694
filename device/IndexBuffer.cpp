#include "device/IndexBuffer.h"

#include "core/io/ByteOrder.h"

#include <algorithm>
#include <cstring>

namespace quarn {

namespace {

std::vector<IndexBuffer*>& LiveBuffers() {
    // Never destroyed: buffers held by static objects may outlive every other static.
    static auto* list = new std::vector<IndexBuffer*>;
    return *list;
}

uint32_t ReadIndex(const uint8_t* at, uint32_t size) {
    return size == 4 ? ReadLittleEndian32(at) : ReadLittleEndian16(at);
}

void WriteIndex(uint8_t* at, uint32_t size, uint32_t value) {
    if (size == 4) {
        WriteLittleEndian32(at, value);
    } else {
        WriteLittleEndian16(at, value);
    }
}

} // namespace

IndexBuffer::IndexBuffer(GpuDevice& device)
    : device_(device), indexSize_(device.GetCaps().maxVertexIndex > 0xFFFF ? 4u : 2u) {
    listIndex_ = LiveBuffers().size();
    LiveBuffers().push_back(this);
}

IndexBuffer::~IndexBuffer() {
    UnlockBuffer();
    std::vector<IndexBuffer*>& list = LiveBuffers();
    list[listIndex_] = list.back();
    list[listIndex_]->listIndex_ = listIndex_;
    list.pop_back();
}

void IndexBuffer::UnlockBuffer() {
    if (bufferLocked_ && buffer_) {
        buffer_->Unlock();
    }
    bufferLocked_ = false;
}

void IndexBuffer::UpdatePrimitiveCount() {
    static constexpr uint32_t BaseCount[4] = {0, 0, 2, 1};
    static constexpr uint32_t Divisor[4] = {3, 2, 1, 1};
    const uint32_t kind = flags_ & IndexKindMask;
    // Strips shorter than one primitive have none (rather than a wrapped-around count).
    primitiveCount_ = count_ > BaseCount[kind] ? (count_ - BaseCount[kind]) / Divisor[kind] : 0;
}

bool IndexBuffer::Create(uint32_t count, uint32_t flags) {
    // A lock held across re-creation would leave the write pointer behind stale memory.
    UnlockBuffer();
    lockMode_ = 0;
    writePointer_ = nullptr;
    count_ = count;
    const bool system = (flags & IndexSystemMemory) != 0;
    const bool keep = created_ && capacity_ >= count && (flags & 0xFFFF) == (flags_ & 0xFFFF) &&
                      (buffer_ || (system && !system_.empty()));
    bool ok = true;
    if (!keep) {
        buffer_.reset();
        system_.clear();
        const uint32_t capacity = std::max(count, 1u);
        if (system) {
            system_.assign(static_cast<size_t>(capacity) * indexSize_, 0);
        } else {
            const bool dynamic = (flags & (IndexDiscard | IndexStartEmpty)) != 0;
            buffer_ = device_.CreateIndexBuffer(
                capacity * indexSize_, dynamic ? (GpuUsageDynamic | GpuUsageWriteOnly) : 0,
                indexSize_ == 4 ? GpuFormat::Index32 : GpuFormat::Index16,
                dynamic ? GpuPool::Default : GpuPool::Managed);
            ok = buffer_ != nullptr;
        }
        capacity_ = capacity;
    }
    created_ = true;
    flags_ = flags;
    if (system) {
        MarkChanged();
    }
    if (flags_ & IndexStartEmpty) {
        count_ = 0;
    }
    static constexpr GpuPrimitiveType Types[4] = {
        GpuPrimitiveType::TriangleList, GpuPrimitiveType::LineList, GpuPrimitiveType::TriangleStrip,
        GpuPrimitiveType::LineStrip};
    primitiveType_ = Types[flags_ & IndexKindMask];
    UpdatePrimitiveCount();
    return ok;
}

bool IndexBuffer::Lock(uint32_t mode) {
    if (mode == lockMode_) {
        return true;
    }
    if (IsSystem()) {
        if (system_.empty()) {
            return false;
        }
        writePointer_ = system_.data();
        if (mode == 2) {
            MarkChanged();
        }
        lockMode_ = mode;
        return true;
    }
    if (mode == 0) {
        UnlockBuffer();
        writePointer_ = nullptr;
        lockMode_ = 0;
        return true;
    }
    if (mode != 1 && mode != 2) {
        lockMode_ = mode;
        return true;
    }
    if (!buffer_) {
        return false;
    }
    // Switching between reading and writing needs a fresh lock; a buffer holds one at a time.
    UnlockBuffer();
    writePointer_ = nullptr;
    lockMode_ = 0;
    uint32_t lockFlags = GpuLockReadOnly;
    if (mode == 2) {
        lockFlags = (flags_ & IndexDiscard) ? GpuLockDiscard : 0;
    }
    void* memory = nullptr;
    if (buffer_->Lock(0, 0, memory, lockFlags) != GpuResult::Ok) {
        return false;
    }
    bufferLocked_ = true;
    writePointer_ = static_cast<uint8_t*>(memory);
    lockMode_ = mode;
    if (mode == 2) {
        MarkChanged();
    }
    return true;
}

IndexRange IndexBuffer::GetRange(uint32_t first) const {
    if (!writePointer_ || first > capacity_) {
        return {nullptr, nullptr, indexSize_};
    }
    return {writePointer_ + static_cast<size_t>(first) * indexSize_,
            writePointer_ + static_cast<size_t>(capacity_) * indexSize_, indexSize_};
}

void IndexBuffer::Put(uint32_t position, uint32_t value) {
    if (writePointer_ && position < capacity_) {
        WriteIndex(writePointer_ + static_cast<size_t>(position) * indexSize_, indexSize_, value);
    }
}

uint32_t IndexBuffer::Fetch(uint32_t position) const {
    if (!writePointer_ || position >= capacity_) {
        return 0;
    }
    return ReadIndex(writePointer_ + static_cast<size_t>(position) * indexSize_, indexSize_);
}

template <typename Write>
void IndexBuffer::Writing(Write write) {
    const uint32_t previous = lockMode_;
    const bool already = previous == 2 && writePointer_;
    if (!already && !Lock(2)) {
        return;
    }
    write();
    if (!already) {
        Lock(previous == 1 ? 1 : 0);
    }
}

void IndexBuffer::SetTriangle(uint32_t triangle, uint32_t a, uint32_t b, uint32_t c) {
    Writing([&] {
        Put(3 * triangle, a);
        Put(3 * triangle + 1, b);
        Put(3 * triangle + 2, c);
    });
}

void IndexBuffer::GetTriangle(uint32_t triangle, uint32_t& a, uint32_t& b, uint32_t& c) {
    a = b = c = 0;
    const uint32_t previous = lockMode_;
    const bool already = (previous == 1 || previous == 2) && writePointer_;
    if (!already && !Lock(1)) {
        return;
    }
    a = Fetch(3 * triangle);
    b = Fetch(3 * triangle + 1);
    c = Fetch(3 * triangle + 2);
    if (!already) {
        Lock(0);
    }
}

uint32_t IndexBuffer::GetIndex(uint32_t position) {
    const bool already = (lockMode_ == 1 || lockMode_ == 2) && writePointer_;
    if (!already && !Lock(1)) {
        return 0;
    }
    const uint32_t value = Fetch(position);
    if (!already) {
        Lock(0);
    }
    return value;
}

void IndexBuffer::SetLine(uint32_t line, uint32_t a, uint32_t b) {
    Writing([&] {
        Put(2 * line, a);
        Put(2 * line + 1, b);
    });
}

void IndexBuffer::SetIndex(uint32_t position, uint32_t vertex) {
    Writing([&] { Put(position, vertex); });
}

void IndexBuffer::SetCount(uint32_t n) {
    count_ = n;
    UpdatePrimitiveCount();
}

uint32_t IndexBuffer::AddIndices(uint32_t n) {
    if (!created_ || n > capacity_ - count_) {
        return NoIndex;
    }
    if (IsSystem()) {
        writePointer_ = system_.data();
        MarkChanged();
    } else if (!(bufferLocked_ && lockMode_ == 2 && writePointer_)) {
        // One lock spans the whole frame's filling: the first discards, later ones promise not
        // to touch what was already written.
        if (!buffer_) {
            return NoIndex;
        }
        UnlockBuffer();
        uint32_t lockFlags = 0;
        if (IsDynamic()) {
            lockFlags = count_ == 0 ? GpuLockDiscard : GpuLockNoOverwrite;
        }
        void* memory = nullptr;
        if (buffer_->Lock(0, 0, memory, lockFlags) != GpuResult::Ok) {
            writePointer_ = nullptr;
            lockMode_ = 0;
            return NoIndex;
        }
        bufferLocked_ = true;
        writePointer_ = static_cast<uint8_t*>(memory);
        MarkChanged();
    }
    const uint32_t first = count_;
    count_ += n;
    UpdatePrimitiveCount();
    lockMode_ = 2;
    return first;
}

uint32_t IndexBuffer::AppendRange(uint32_t n, const IndexRange& source, uint32_t vertexOffset) {
    if (!created_ || n > capacity_ - count_ || !source.begin ||
        (source.indexSize != 2 && source.indexSize != 4) || source.end < source.begin ||
        static_cast<size_t>(source.end - source.begin) / source.indexSize < n) {
        return 0;
    }
    const uint32_t first = count_;
    if (n == 0) {
        return first;
    }
    uint8_t* target = nullptr;
    bool lockedHere = false;
    if (IsSystem()) {
        writePointer_ = system_.data();
        target = system_.data() + static_cast<size_t>(count_) * indexSize_;
    } else if (bufferLocked_ && lockMode_ == 2 && writePointer_) {
        target = writePointer_ + static_cast<size_t>(count_) * indexSize_;
    } else {
        if (!buffer_) {
            return 0;
        }
        // A read lock must not be written through; the range gets its own lock instead.
        UnlockBuffer();
        writePointer_ = nullptr;
        lockMode_ = 0;
        uint32_t lockFlags = 0;
        if (IsDynamic()) {
            lockFlags = count_ == 0 ? GpuLockDiscard : GpuLockNoOverwrite;
        }
        void* memory = nullptr;
        if (buffer_->Lock(count_ * indexSize_, n * indexSize_, memory, lockFlags) !=
            GpuResult::Ok) {
            return 0;
        }
        target = static_cast<uint8_t*>(memory);
        lockedHere = true;
    }
    count_ += n;
    UpdatePrimitiveCount();
    if (source.indexSize == indexSize_ && vertexOffset == 0) {
        std::memmove(target, source.begin, static_cast<size_t>(n) * indexSize_);
    } else {
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t value = ReadIndex(source.begin + i * source.indexSize, source.indexSize);
            WriteIndex(target + i * indexSize_, indexSize_, value + vertexOffset);
        }
    }
    MarkChanged();
    if (lockedHere) {
        buffer_->Unlock();
    }
    return first;
}

void IndexBuffer::Clear() {
    UnlockBuffer();
    count_ = 0;
    primitiveCount_ = 0;
    lockMode_ = 0;
    writePointer_ = nullptr;
}

void IndexBuffer::Bind() {
    device_.SetIndices(Upload());
}

void IndexBuffer::FillRun(uint32_t start, uint32_t count, uint32_t firstVertex) {
    if (count == 0) {
        return;
    }
    Writing([&] {
        for (uint32_t i = 0; i < count; ++i) {
            Put(start + i, firstVertex + i);
        }
    });
    MarkChanged();
}

void IndexBuffer::FillTriangles(uint32_t start, uint32_t n, uint32_t firstVertex) {
    FillRun(start, 3 * n, firstVertex);
}

void IndexBuffer::FillLines(uint32_t start, uint32_t n, uint32_t firstVertex) {
    FillRun(start, 2 * n, firstVertex);
}

void IndexBuffer::FillStrip(uint32_t start, uint32_t n, uint32_t firstVertex) {
    if (n != 0) {
        FillRun(start, n + 1, firstVertex);
    }
}

void IndexBuffer::FillQuadIndices(uint32_t start, uint32_t quads, uint32_t firstVertex,
                                  bool front) {
    if (quads == 0) {
        return;
    }
    static constexpr uint32_t FrontPattern[6] = {0, 1, 2, 0, 2, 3};
    static constexpr uint32_t BackPattern[6] = {0, 2, 1, 0, 3, 2};
    const uint32_t* pattern = front ? FrontPattern : BackPattern;
    Writing([&] {
        for (uint32_t q = 0; q < quads; ++q) {
            const uint32_t v = firstVertex + 4 * q;
            for (uint32_t k = 0; k < 6; ++k) {
                Put(start + 6 * q + k, v + pattern[k]);
            }
        }
    });
    MarkChanged();
}

void IndexBuffer::SetGroupCount(uint32_t count) {
    // Room for one start past the last group, which marks its end.
    if (count > groupCount_ || groups_.size() < static_cast<size_t>(count) + 1) {
        groups_.assign(static_cast<size_t>(count) + 1, 0);
    }
    groupCount_ = count;
}

void IndexBuffer::SetGroupStart(uint32_t group, uint32_t firstIndex) {
    if (group <= groupCount_ && group < groups_.size()) {
        groups_[group] = firstIndex;
    }
}

uint32_t IndexBuffer::GetGroupStart(uint32_t group) const {
    return group <= groupCount_ && group < groups_.size() ? groups_[group] : 0;
}

GpuIndexBuffer* IndexBuffer::Upload() {
    if (!created_) {
        return nullptr;
    }
    if (!buffer_) {
        const bool dynamic = IsDynamic();
        buffer_ = device_.CreateIndexBuffer(
            capacity_ * indexSize_, dynamic ? (GpuUsageDynamic | GpuUsageWriteOnly) : 0,
            indexSize_ == 4 ? GpuFormat::Index32 : GpuFormat::Index16,
            dynamic ? GpuPool::Default : GpuPool::Managed);
        if (!buffer_) {
            return nullptr;
        }
    }
    if (IsSystem() && (flags_ & IndexNeedsUpload)) {
        if (count_ > 0) {
            void* memory = nullptr;
            const uint32_t lockFlags = (flags_ & IndexDiscard) ? GpuLockDiscard : 0;
            if (buffer_->Lock(0, 0, memory, lockFlags) != GpuResult::Ok) {
                return nullptr;
            }
            std::memcpy(memory, system_.data(), static_cast<size_t>(count_) * indexSize_);
            buffer_->Unlock();
        }
        flags_ &= ~IndexNeedsUpload;
    }
    return buffer_.get();
}

void IndexBuffer::ReleaseDynamic(GpuDevice& device) {
    for (IndexBuffer* b : LiveBuffers()) {
        if (&b->device_ == &device && b->IsDynamic()) {
            b->UnlockBuffer();
            b->buffer_.reset();
            if (!b->IsSystem()) {
                b->writePointer_ = nullptr;
                b->lockMode_ = 0;
            }
        }
    }
}

bool IndexBuffer::RestoreDynamic(GpuDevice& device) {
    bool ok = true;
    for (IndexBuffer* b : LiveBuffers()) {
        if (&b->device_ == &device && b->IsDynamic() && !b->buffer_) {
            bool restored = b->Create(b->capacity_, b->flags_);
            if (restored && b->restore_) {
                restored = b->restore_(*b);
            }
            ok = ok && restored;
        }
    }
    return ok;
}

} // namespace quarn
