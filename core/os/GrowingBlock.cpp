#include "core/os/GrowingBlock.h"

#include "core/os/HeldMemory.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <unistd.h>

namespace quarn {

namespace {

size_t PageSize() {
    static const size_t page = [] {
        const long size = sysconf(_SC_PAGESIZE);
        return size > 0 ? size_t(size) : size_t(4096);
    }();
    return page;
}

size_t RoundUpToPages(size_t bytes) {
    const size_t page = PageSize();
    return bytes > SIZE_MAX - page ? SIZE_MAX : (bytes + page - 1) / page * page;
}

} // namespace

GrowingBlock::~GrowingBlock() {
    Release();
}

void GrowingBlock::Release() {
    if (mapped_ != 0) {
        munmap(data_, mapped_);
        CountMappedMemory(-int64_t(used_));
    } else {
        ::operator delete(data_);
    }
    data_ = nullptr;
    size_ = used_ = mapped_ = 0;
}

bool GrowingBlock::Reserve(size_t size, size_t used) {
    Release();
    if (size <= WholeBytes || AddressSpaceIsLimited()) {
        if (!MemoryBudgetAllows(size)) {
            return false;
        }
        data_ = ::operator new(std::max<size_t>(size, 1), std::nothrow);
        if (!data_) {
            return false;
        }
        std::memset(data_, 0, size);
        size_ = used_ = size;
        return true;
    }
    // Fresh anonymous pages read as zeros and take memory only once written.
    const size_t mapped = RoundUpToPages(size);
    void* region = mmap(nullptr, mapped, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (region == MAP_FAILED) {
        return false;
    }
    data_ = region;
    size_ = size;
    mapped_ = mapped;
    if (!Use(std::max(used, WholeBytes))) {
        Release();
        return false;
    }
    return true;
}

bool GrowingBlock::Use(size_t bytes) {
    if (bytes <= used_) {
        return true;
    }
    const size_t wanted = std::min(size_, RoundUpToPages(std::max(bytes, used_ * 2)));
    if (wanted <= used_ || !MemoryBudgetAllows(wanted - used_)) {
        return false;
    }
    CountMappedMemory(int64_t(wanted - used_));
    used_ = wanted;
    return true;
}

} // namespace quarn
