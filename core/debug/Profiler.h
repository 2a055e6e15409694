#pragma once

#include "core/string/FixedString.h"

#include <cstdint>
#include <vector>

namespace quarn {

// Time spent in named sections on up to four nested levels; scene loading times its phases and
// classes with it. Entering a section charges the time since the last reading to the current
// section of every level, so a section's time includes that of the deeper levels below it.
class SectionProfiler {
public:
    static constexpr int LevelCount = 4;

    struct Section {
        String64 name;
        uint32_t hits = 0;
        uint64_t ticks = 0;
        int32_t parent = -1; // current section of the level above when added; -1 on level 0
        uint32_t userWord = 0;
        // Ticks per hit over the last closed measuring period; 0 for a section not entered in it.
        uint64_t averageTicks = 0;
    };

    // Ticks are nanoseconds of a monotonic clock unless a test passes its own clock.
    using Clock = uint64_t (*)();
    explicit SectionProfiler(Clock clock = nullptr);

    // Index of a new record on the level; -1 for a level out of range.
    int32_t AddSection(int level, const char* name, uint32_t userWord);
    // Makes the record current on its level and every deeper level current on none. An index
    // that names no record is reported and changes nothing.
    void EnterSection(int level, int32_t index);
    // Ends the measuring period (one scene's run): the time since the last reading is charged,
    // then every section's totals become its average per hit and start again from zero.
    void ClosePeriod();

    const std::vector<Section>& Sections(int level) const;
    int32_t CurrentSection(int level) const;

private:
    // The ticks since the last reading go to the current section of every level.
    void ChargeElapsed();

    struct Level {
        int32_t current = -1;
        std::vector<Section> sections;
    };

    Clock clock_;
    uint64_t lastReading_ = 0;
    Level levels_[LevelCount];
};

// The program-wide instance.
SectionProfiler& Profiler();

} // namespace quarn
