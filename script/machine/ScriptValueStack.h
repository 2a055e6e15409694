#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace quarn {

// The value stack of one script context: 32-bit words, sized once from the program's stack size
// and never grown, so nothing allocates while a script runs. One spare word lies below the base
// so a call can use the word under its arguments as the result slot.
//
// Nothing is ever written or read outside the words the stack owns: a push past the capacity
// writes nothing and a pop below the base reads 0; both raise the sticky `Faulted` flag, which
// the machine turns into a runtime error after the command that caused it.
class ScriptValueStack {
public:
    explicit ScriptValueStack(uint32_t capacity)
        : words_(size_t(capacity) + 1), capacity_(capacity) {}

    uint32_t Capacity() const { return capacity_; }
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
    uint32_t* Base() { return words_.data() + 1; }

    std::vector<uint32_t> words_; // [0] is the spare word below the base
    uint32_t capacity_;
    uint32_t top_ = 0;
    bool faulted_ = false;
};

} // namespace quarn
