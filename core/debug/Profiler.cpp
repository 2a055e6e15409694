#include "core/debug/Profiler.h"

#include "core/debug/Validity.h"

#include <ctime>

namespace quarn {

namespace {

uint64_t MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000ull + static_cast<uint64_t>(now.tv_nsec);
}

bool IsLevel(int level) {
    return level >= 0 && level < SectionProfiler::LevelCount;
}

} // namespace

SectionProfiler::SectionProfiler(Clock clock) : clock_(clock ? clock : MonotonicNanoseconds) {
    for (Level& level : levels_) {
        level.sections.reserve(256);
    }
    lastReading_ = clock_();
}

int32_t SectionProfiler::AddSection(int level, const char* name, uint32_t userWord) {
    if (!ValidityCheck(IsLevel(level), "Profiler level %d does not exist", level)) {
        return -1;
    }
    Section section;
    section.name.Set(name);
    section.parent = level > 0 ? levels_[level - 1].current : -1;
    section.userWord = userWord;
    levels_[level].sections.push_back(section);
    return static_cast<int32_t>(levels_[level].sections.size() - 1);
}

void SectionProfiler::EnterSection(int level, int32_t index) {
    if (!ValidityCheck(IsLevel(level) && index >= 0 &&
                           static_cast<size_t>(index) < levels_[level].sections.size(),
                       "Profiler section %d of level %d does not exist", index, level)) {
        return;
    }
    ChargeElapsed();
    levels_[level].current = index;
    levels_[level].sections[static_cast<size_t>(index)].hits += 1;
    for (int deeper = level + 1; deeper < LevelCount; ++deeper) {
        levels_[deeper].current = -1;
    }
}

void SectionProfiler::ChargeElapsed() {
    uint64_t now = clock_();
    uint64_t elapsed = now - lastReading_;
    lastReading_ = now;
    for (Level& each : levels_) {
        if (each.current >= 0) {
            each.sections[static_cast<size_t>(each.current)].ticks += elapsed;
        }
    }
}

void SectionProfiler::ClosePeriod() {
    ChargeElapsed();
    for (Level& level : levels_) {
        for (Section& section : level.sections) {
            section.averageTicks = section.hits > 0 ? section.ticks / section.hits : 0;
            section.ticks = 0;
            section.hits = 0;
        }
    }
}

const std::vector<SectionProfiler::Section>& SectionProfiler::Sections(int level) const {
    static const std::vector<Section> none;
    return IsLevel(level) ? levels_[level].sections : none;
}

int32_t SectionProfiler::CurrentSection(int level) const {
    return IsLevel(level) ? levels_[level].current : -1;
}

SectionProfiler& Profiler() {
    static SectionProfiler profiler;
    return profiler;
}

} // namespace quarn
