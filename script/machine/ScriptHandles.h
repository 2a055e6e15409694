#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace quarn {

// Objects that scripts hold as 32-bit handles: the slot index in the low 16 bits, the slot's
// generation in the high 16. Handle 0 names nothing; a stale or made-up handle finds nothing,
// so a script can never reach a freed or foreign object.
template <class T>
class HandleTable {
public:
    uint32_t Add(std::unique_ptr<T> object) {
        size_t slot = 0;
        while (slot < slots_.size() && slots_[slot].object) {
            ++slot;
        }
        if (slot == slots_.size()) {
            if (slots_.size() >= 0xFFFF) {
                return 0;
            }
            slots_.emplace_back();
        }
        Slot& entry = slots_[slot];
        entry.generation = static_cast<uint16_t>(entry.generation % 0xFFFF + 1);
        entry.object = std::move(object);
        return (uint32_t{entry.generation} << 16) | static_cast<uint32_t>(slot + 1);
    }
    T* Find(uint32_t handle) const {
        const Slot* entry = SlotOf(handle);
        return entry ? entry->object.get() : nullptr;
    }
    void Remove(uint32_t handle) {
        if (const Slot* entry = SlotOf(handle)) {
            const_cast<Slot*>(entry)->object.reset();
        }
    }

private:
    struct Slot {
        std::unique_ptr<T> object;
        uint16_t generation = 0;
    };
    const Slot* SlotOf(uint32_t handle) const {
        const uint32_t index = handle & 0xFFFFu;
        if (index == 0 || index > slots_.size()) {
            return nullptr;
        }
        const Slot& entry = slots_[index - 1];
        return entry.object && entry.generation == handle >> 16 ? &entry : nullptr;
    }

    std::vector<Slot> slots_;
};

} // namespace quarn
