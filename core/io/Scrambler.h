#pragma once

#include <cstdint>

namespace quarn {

// The engine's own byte-scrambling pass, used for ".zoo" archives and for files read or written
// with the scrambled flag: stored = plain ^ previous plain ^ key, with the key stepping by 27.
class Scrambler {
public:
    uint8_t Scramble(uint8_t plain) {
        uint8_t stored = plain ^ previous_ ^ key_;
        Advance(plain);
        return stored;
    }
    uint8_t Unscramble(uint8_t stored) {
        uint8_t plain = stored ^ previous_ ^ key_;
        Advance(plain);
        return plain;
    }
    // Steps back over the last byte; only one step is remembered.
    void StepBack() {
        previous_ = savedPrevious_;
        key_ = static_cast<uint8_t>(key_ - KeyStep);
    }
    void Reset() { *this = Scrambler(); }

private:
    static constexpr uint8_t KeyStep = 27;

    void Advance(uint8_t plain) {
        savedPrevious_ = previous_;
        previous_ = plain;
        key_ = static_cast<uint8_t>(key_ + KeyStep);
    }

    uint8_t previous_ = 0;
    uint8_t key_ = 0;
    uint8_t savedPrevious_ = 0;
};

} // namespace quarn
