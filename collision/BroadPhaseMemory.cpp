#include "collision/BroadPhaseMemory.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace quarn {

namespace {

// The tag and the size, padded so that the block after the header keeps malloc's alignment.
struct alignas(16) BlockHeader {
    uint32_t tag;
    size_t size;
};
constexpr uint32_t LiveTag = 0xBEEFBABE;
constexpr uint32_t FreedTag = 0xDEADDEAD;

Allocator* currentAllocator = nullptr;

} // namespace

void* DefaultAllocator::Allocate(size_t size, uint32_t) {
    if (size == 0 || size > SIZE_MAX - sizeof(BlockHeader)) {
        return nullptr;
    }
    auto* header = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + size));
    if (!header) {
        throw std::bad_alloc();
    }
    header->tag = LiveTag;
    header->size = size;
    liveBytes_ += size;
    peakBytes_ = std::max(peakBytes_, liveBytes_);
    ++totalAllocations_;
    ++liveAllocations_;
    return header + 1;
}

void DefaultAllocator::Free(void* block) {
    if (!block) {
        return;
    }
    BlockHeader* header = static_cast<BlockHeader*>(block) - 1;
    liveBytes_ -= header->size;
    --liveAllocations_;
    header->tag = FreedTag;
    header->size = 0;
    std::free(header);
}

void* DefaultAllocator::Reallocate(void*, size_t) {
    return nullptr;
}

DefaultAllocator& DefaultAllocator::Instance() {
    static DefaultAllocator instance;
    return instance;
}

Allocator& GetBroadPhaseAllocator() {
    return currentAllocator ? *currentAllocator : DefaultAllocator::Instance();
}

void SetBroadPhaseAllocator(Allocator* allocator) {
    currentAllocator = allocator;
}

// Container -----------------------------------------------------------------------------------

Container::Container(uint32_t* storage, uint32_t capacity, float growthFactor)
    : capacity_(capacity), entries_(storage), growthFactor_(growthFactor) {}

bool Container::Resize(uint32_t extra) {
    if (growthFactor_ <= 0.0f || extra > UINT32_MAX - count_) {
        return false;
    }
    const double grown = capacity_ ? static_cast<double>(capacity_) * growthFactor_ : 2.0;
    const uint32_t capacity =
        std::max<uint32_t>(static_cast<uint32_t>(std::min<double>(grown, UINT32_MAX)),
                           count_ + extra);
    ReallocateRecords(entries_, count_, capacity);
    capacity_ = capacity;
    return true;
}

void Container::Reset() {
    if (growthFactor_ > 0.0f) {
        FreeRecords(entries_);
        entries_ = nullptr;
        capacity_ = 0;
    }
    count_ = 0;
}

// BitArray ------------------------------------------------------------------------------------

BitArray::BitArray(uint32_t bitCount) : wordCount_((bitCount >> 5) + ((bitCount & 31) ? 1 : 0)) {
    words_ = AllocateRecords<uint32_t>(wordCount_);
    if (words_) {
        std::memset(words_, 0, wordCount_ * sizeof(uint32_t));
    }
}

// RadixSort -----------------------------------------------------------------------------------

RadixSort::~RadixSort() {
    FreeRecords(ranks_);
    FreeRecords(spare_);
}

RadixSort& RadixSort::Sort(const uint32_t* keys, uint32_t count, bool isUnsigned) {
    if (!keys || count == 0) {
        return *this;
    }
    if (count != capacity_) {
        FreeRecords(ranks_);
        FreeRecords(spare_);
        ranks_ = AllocateRecords<uint32_t>(count);
        spare_ = AllocateRecords<uint32_t>(count);
        capacity_ = count;
    }
    for (uint32_t i = 0; i < count; ++i) {
        ranks_[i] = i;
    }
    for (int pass = 0; pass < 4; ++pass) {
        const int shift = pass * 8;
        // Signed keys: flipping the sign bit makes the top byte order as unsigned.
        const uint32_t flip = (!isUnsigned && pass == 3) ? 0x80u : 0u;
        uint32_t histogram[256] = {};
        for (uint32_t i = 0; i < count; ++i) {
            ++histogram[((keys[i] >> shift) & 0xFF) ^ flip];
        }
        if (histogram[((keys[0] >> shift) & 0xFF) ^ flip] == count) {
            continue;
        }
        uint32_t offsets[256];
        uint32_t sum = 0;
        for (int b = 0; b < 256; ++b) {
            offsets[b] = sum;
            sum += histogram[b];
        }
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t index = ranks_[i];
            spare_[offsets[((keys[index] >> shift) & 0xFF) ^ flip]++] = index;
        }
        std::swap(ranks_, spare_);
    }
    return *this;
}

} // namespace quarn
