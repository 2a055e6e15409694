#pragma once

#include "core/os/GrowingBlock.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace quarn {

// The value stack of one script context: 32-bit words, as many as the program's stack size, at
// an address that never changes. One spare word lies below the base so a call can use the word
// under its arguments as the result slot.
//
// The stack size is the program's own word, not what it uses: a large stack is reserved whole but
// taken into use (held, and counted against the game's memory budget) only as deep as the runs
// reach. The machine takes words before it runs code that may reach them (Take), or at the latest
// after the command that did; past the budget that is its runtime error.
//
// Nothing is ever written or read outside the words the stack owns: a push past the capacity
// writes nothing and a pop below the base reads 0; both raise the sticky `Faulted` flag, which
// the machine turns into a runtime error after the command that caused it.
class ScriptValueStack {
public:
    // Words taken at once: most programs never need more.
    static constexpr uint32_t InitialWords = 4096;

    explicit ScriptValueStack(uint32_t capacity) : capacity_(capacity) {
        const size_t bytes = (size_t(capacity) + 1) * 4;
        if (block_.Reserve(bytes, (size_t(std::min(capacity, InitialWords)) + 1) * 4)) {
            words_ = static_cast<uint32_t*>(block_.Data());
            taken_ = TakenWords();
        } else {
            // The spare word alone: a context whose stack was refused never runs.
            words_ = &spare_;
            capacity_ = 0;
            refused_ = true;
        }
    }

    // False when the memory budget or the address space refused the stack when it was made.
    bool IsHeld() const { return !refused_; }
    uint32_t Capacity() const { return capacity_; }
    // Words above the base taken into use; the machine keeps its depth within them.
    uint32_t Taken() const { return taken_; }
    // Takes the words up to `words` above the base into use (no further than the capacity);
    // false, nothing changed, when the memory budget does not allow it.
    bool Take(uint64_t words) {
        if (words <= taken_) {
            return true;
        }
        if (words > capacity_ || !block_.Use(size_t(words + 1) * 4)) {
            return false;
        }
        taken_ = TakenWords();
        return true;
    }
    // The bytes the stack holds.
    size_t HeldBytes() const { return block_.InUse(); }
    // Words in use above the base.
    uint32_t Depth() const { return top_; }
    bool Faulted() const { return faulted_; }
    void ClearFault() { faulted_ = false; }

    void Push(uint32_t word) {
        if (top_ >= capacity_) {
            faulted_ = true;
            return;
        }
        Base()[top_++] = word;
    }
    void PushWords(const uint32_t* source, uint32_t count) {
        if (count > capacity_ - top_) {
            faulted_ = true;
            return;
        }
        std::memmove(Base() + top_, source, size_t(count) * 4);
        top_ += count;
    }
    uint32_t Pop() {
        if (top_ == 0) {
            faulted_ = true;
            return 0;
        }
        return Base()[--top_];
    }
    // The words keep their order in `target`.
    void PopWords(uint32_t* target, uint32_t count) {
        if (count > top_) {
            faulted_ = true;
            std::memset(target, 0, size_t(count) * 4);
            return;
        }
        top_ -= count;
        std::memmove(target, Base() + top_, size_t(count) * 4);
    }
    // Positive reserves words (zeroed, so no stale word is read as a value), negative drops them.
    void Adjust(int32_t delta) {
        if (delta >= 0) {
            if (uint32_t(delta) > capacity_ - top_) {
                faulted_ = true;
                return;
            }
            std::memset(Base() + top_, 0, size_t(delta) * 4);
            top_ += uint32_t(delta);
        } else {
            uint32_t drop = uint32_t(-int64_t(delta));
            if (drop > top_) {
                faulted_ = true;
                return;
            }
            top_ -= drop;
        }
    }
    // Moves the n topmost words to the base and makes them the whole stack.
    void KeepTop(uint32_t count) {
        if (count > top_) {
            faulted_ = true;
            return;
        }
        std::memmove(Base(), Base() + top_ - count, size_t(count) * 4);
        top_ = count;
    }
    // Drops every word above `depth` (a frame base); deeper depths are left alone.
    void Truncate(uint32_t depth) {
        if (depth < top_)
            top_ = depth;
    }

    // The n topmost words, lowest first; null when fewer are on the stack. Operator bodies work
    // on their operands in place through this.
    uint32_t* TopWords(uint32_t count) { return count <= top_ ? Base() + top_ - count : nullptr; }
    // Word `index` above the base (0 is the lowest); the spare word is index -1.
    uint32_t* WordAt(int64_t index) {
        return index >= -1 && index < int64_t(top_) ? Base() + index : nullptr;
    }

    // Words `index` .. index + count - 1 (index -1 is the spare word) when they lie inside the
    // capacity, used or not; null otherwise. Calls write their results above the top through it.
    uint32_t* Span(int64_t index, uint32_t count) {
        return index >= -1 && index + int64_t(count) <= int64_t(capacity_) ? Base() + index
                                                                           : nullptr;
    }
    // Raises the top over words already written above it (a call's results); unlike Adjust it
    // keeps them.
    void RaiseTop(uint32_t count) {
        if (count > capacity_ - top_) {
            faulted_ = true;
            return;
        }
        top_ += count;
    }

    // The machine's translated commands address the words directly: word `index` above the base
    // is Words()[index] (the spare word is Words()[-1]). They set the depth once a straight run
    // of commands is done; SetDepth never goes past the capacity.
    uint32_t* Words() { return Base(); }
    void SetDepth(uint32_t depth) { top_ = depth <= capacity_ ? depth : capacity_; }

    void PushInt(int32_t value) { Push(uint32_t(value)); }
    int32_t PopInt() { return int32_t(Pop()); }
    void PushFloat(float value) {
        uint32_t word;
        std::memcpy(&word, &value, 4);
        Push(word);
    }
    float PopFloat() {
        uint32_t word = Pop();
        float value;
        std::memcpy(&value, &word, 4);
        return value;
    }

private:
    uint32_t* Base() { return words_ + 1; }
    uint32_t TakenWords() const {
        return uint32_t(std::min<size_t>(block_.InUse() / 4 - 1, capacity_));
    }

    GrowingBlock block_;
    uint32_t* words_ = nullptr; // [0] is the spare word below the base
    uint32_t spare_ = 0;
    uint32_t capacity_;
    uint32_t taken_ = 0;
    bool refused_ = false;
    uint32_t top_ = 0;
    bool faulted_ = false;
};

} // namespace quarn
