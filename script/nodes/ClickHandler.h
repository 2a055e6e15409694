#pragma once

#include "core/math/Vector.h"
#include "core/object/ValueBinding.h"
#include "core/scene/Node.h"

#include <cstdint>
#include <vector>

namespace quarn {

class ScriptApp;

// Bits of the "click" report and of an entry's mask.
inline constexpr uint32_t ClickPress = 0x1;
inline constexpr uint32_t ClickHold = 0x2;
inline constexpr uint32_t ClickRelease = 0x4;
inline constexpr uint32_t ClickClick = 0x8; // released before the press became a drag
inline constexpr uint32_t ClickEnter = 0x20;
inline constexpr uint32_t ClickOver = 0x40;
inline constexpr uint32_t ClickLeave = 0x80;
inline constexpr uint32_t ClickDrag = 0x100; // held past the time or pixel limit (enabledrag only)
inline constexpr uint32_t ClickDrop = 0x200; // released after a drag (enabledrag only)
inline constexpr uint32_t ClickPick = 0x400;
inline constexpr uint32_t ClickButton0 = 0x800; // the entry reacts to mouse button 0
inline constexpr uint32_t ClickButton2 = 0x1000;

// Bits of "clickflags"; bit 0 (unfold) is stored only.
inline constexpr uint32_t ClickEnableDrag = 0x2;
inline constexpr uint32_t ClickDoubleAsSingle = 0x4;

// Keeps a list of clickable render objects, finds the one under the mouse each frame and calls
// "click" on each entry's target with what happened to it. The buttons it answers are taken
// under the owner name "ClickHandler" from press to release. Entries hold their nodes by serial
// and are found again after every "click" call, since a script may delete anything there, the
// handler included, or change the list.
class ClickHandler : public Node {
public:
    static constexpr const char* OwnerName = "ClickHandler";

    ClickHandler();

    uint32_t GetClickFlags() const { return clickFlags_; }
    void SetClickFlags(uint32_t flags) { clickFlags_ = flags; }
    float GetTimeLimit() const { return timeLimit_; }
    void SetTimeLimit(float seconds) { timeLimit_ = seconds; }
    float GetPixelLimit() const { return pixelLimit_; }
    void SetPixelLimit(float pixels) { pixelLimit_ = pixels; }

    // Object id 0 makes an entry that catches clicks wherever no other entry is hit; any other
    // id must name a render object. A mask without a button bit reacts to button 0.
    void AddClickable(EntityId object, EntityId target, int32_t mask);
    void RemoveClickable(EntityId object);
    void RemoveTarget(EntityId target);
    void RemoveAll();
    bool IsButtonCaptured(int32_t button) const;
    EntityId GetObjectUnderMouse() const;
    Float3 GetPickPoint() const { return pickPoint_; }
    Float3 GetPickNormal() const { return pickNormal_; }
    // Reports ClickPick to the entry under the mouse.
    void PickNow();
    void OnNodeDeletion(void* argument);

    int GetEntryCount() const { return static_cast<int>(entries_.size()); }
    int32_t GetCurrentEntry() const { return current_; }

    void Update(float frameTime, int mode) override;
    ClassInfo* GetClass() const override { return classInfo; }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    struct Clickable {
        uint64_t object; // serial; 0 for an entry without an object
        uint64_t target; // serial
        uint32_t mask;
        uint32_t key; // names the entry across calls that may change the list
    };

    // The entry the ray through the mouse hits first, or -1.
    int32_t PickEntry(Float2 mouse) const;
    void PickUnderMouse(ScriptApp& app);
    int32_t IndexOfKey(uint32_t key) const;
    void RemoveEntry(size_t index);
    // Calls "click" on the entry's target when the bits pass its mask; false when the call
    // deleted this handler.
    bool Report(const Clickable& entry, uint32_t bits);

    uint32_t clickFlags_ = ClickEnableDrag;
    float timeLimit_ = 0.15f;
    float pixelLimit_ = 5.0f;
    std::vector<Clickable> entries_;
    uint32_t nextKey_ = 1;
    int32_t current_ = -1; // hovered or pressed entry
    uint32_t lastReport_ = 0;
    bool resolved_ = true; // the press has become a drag or has been answered
    float timer_ = 0.0f;
    Float2 pressPosition_;
    uint64_t underMouse_ = 0; // serial
    Float3 pickPoint_;
    Float3 pickNormal_;
};

} // namespace quarn
