#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quarn {

// The allocator every array of the sweep-and-prune kit goes through, replaceable process-wide
// so that a game can count or pool the broad phase's memory.
class Allocator {
public:
    virtual ~Allocator() = default;
    // Null for size 0.
    virtual void* Allocate(size_t size, uint32_t flags) = 0;
    virtual void Free(void* block) = 0;
    virtual void* Reallocate(void* block, size_t size) = 0;
};

// Counts what it hands out. Each block carries a header (a tag and the size) in front of it;
// blocks stay 16-byte aligned.
class DefaultAllocator : public Allocator {
public:
    void* Allocate(size_t size, uint32_t flags) override;
    void Free(void* block) override;
    // Not offered: answers null and leaves the block as it is.
    void* Reallocate(void* block, size_t size) override;

    size_t GetLiveBytes() const { return liveBytes_; }
    size_t GetPeakBytes() const { return peakBytes_; }
    uint64_t GetTotalAllocations() const { return totalAllocations_; }
    uint64_t GetLiveAllocations() const { return liveAllocations_; }

    // The one static instance the current allocator starts as.
    static DefaultAllocator& Instance();

private:
    size_t liveBytes_ = 0;
    size_t peakBytes_ = 0;
    uint64_t totalAllocations_ = 0;
    uint64_t liveAllocations_ = 0;
};

Allocator& GetBroadPhaseAllocator();
// Null restores the default one. Blocks must go back to the allocator they came from.
void SetBroadPhaseAllocator(Allocator* allocator);

// An uninitialised array of trivially copyable records from the current allocator.
template <class T>
T* AllocateRecords(size_t count) {
    return static_cast<T*>(GetBroadPhaseAllocator().Allocate(count * sizeof(T), 0));
}
inline void FreeRecords(void* records) {
    GetBroadPhaseAllocator().Free(records);
}
// Moves the first `count` records into a new array of `capacity` records.
template <class T>
void ReallocateRecords(T*& records, size_t count, size_t capacity) {
    T* moved = AllocateRecords<T>(capacity);
    if (count) {
        std::memcpy(moved, records, count * sizeof(T));
    }
    FreeRecords(records);
    records = moved;
}

// A growable array of 32-bit words. A growth factor of 0 or below marks storage the container
// does not own: it never grows it and never frees it.
class Container {
public:
    Container() = default;
    Container(uint32_t* storage, uint32_t capacity, float growthFactor);
    ~Container() { Reset(); }
    Container(const Container&) = delete;
    Container& operator=(const Container&) = delete;

    // False (and unchanged) when the container may not grow.
    bool Add(uint32_t word) {
        if (count_ == capacity_ && !Resize(1)) {
            return false;
        }
        entries_[count_++] = word;
        return true;
    }
    // Makes room for `extra` more entries; false when it may not grow.
    bool Resize(uint32_t extra);
    // Frees owned storage and empties the container.
    void Reset();
    void Clear() { count_ = 0; }

    uint32_t GetCount() const { return count_; }
    uint32_t GetCapacity() const { return capacity_; }
    uint32_t operator[](uint32_t index) const { return entries_[index]; }
    uint32_t* GetEntries() { return entries_; }

private:
    uint32_t capacity_ = 0;
    uint32_t count_ = 0;
    uint32_t* entries_ = nullptr;
    float growthFactor_ = 2.0f;
};

// A fixed number of bits, all clear at first.
class BitArray {
public:
    explicit BitArray(uint32_t bitCount);
    ~BitArray() { FreeRecords(words_); }
    BitArray(const BitArray&) = delete;
    BitArray& operator=(const BitArray&) = delete;

    void Set(uint32_t bit) { words_[bit >> 5] |= 1u << (bit & 31); }
    bool IsSet(uint32_t bit) const { return (words_[bit >> 5] >> (bit & 31)) & 1u; }
    uint32_t GetWordCount() const { return wordCount_; }

private:
    uint32_t wordCount_;
    uint32_t* words_;
};

// Least-significant-byte-first counting sort of 32-bit keys into ranks: the indices of the keys
// in ascending order, equal keys in input order. A pass whose byte is the same in every key is
// skipped.
class RadixSort {
public:
    RadixSort() = default;
    ~RadixSort();
    RadixSort(const RadixSort&) = delete;
    RadixSort& operator=(const RadixSort&) = delete;

    // Signed keys order as int32_t. No keys or a count of 0 leaves the ranks as they were.
    RadixSort& Sort(const uint32_t* keys, uint32_t count, bool isUnsigned = true);
    const uint32_t* GetRanks() const { return ranks_; }

private:
    uint32_t capacity_ = 0;
    uint32_t* ranks_ = nullptr;
    uint32_t* spare_ = nullptr;
};

} // namespace quarn
