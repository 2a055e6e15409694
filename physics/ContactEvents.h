#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <unordered_map>
#include <vector>

namespace quarn {

class CollisionVolume;

// The contact events of one world: "collision", "trig" and "probe" records waiting for
// dispatch, and the table of touching pairs that gives "signalenter" and "signalleave".
// Volumes are held by serial and id, never by address: either may be deleted meanwhile.
class ContactEvents {
public:
    ContactEvents() = default;
    ~ContactEvents() { *alive_ = false; }
    ContactEvents(const ContactEvents&) = delete;
    ContactEvents& operator=(const ContactEvents&) = delete;

    enum Kind : int32_t { Collision, Trig, Probe };
    static constexpr int MaxWords = 13;

    struct Event {
        Kind kind = Collision;
        uint32_t recipients[2] = {}; // entity ids, 0 for none
        uint32_t words[MaxWords] = {};
        int32_t wordCount = 0;
    };

    static const char* GetKindName(Kind kind);
    // Sees every event as it is dispatched; for tools that print them.
    using Observer = void (*)(const Event& event);
    static void SetObserver(Observer observer);

    // Starts an event whose first two words are the volumes' ids.
    Event& Queue(Kind kind, const CollisionVolume& a, const CollisionVolume& b);
    // Calls the event's method, forced, on each recipient that resolves and its subtree, in
    // order, then empties the list. Events queued by a handler wait for the next dispatch.
    void Dispatch();
    void ClearEvents() { events_.clear(); }
    const std::vector<Event>& GetEvents() const { return events_; }

    // The pair touched in this scan step.
    void Touch(const CollisionVolume& a, const CollisionVolume& b);
    // Enters pairs first touched in this step, leaves pairs no longer touched, then advances.
    void Scan();
    size_t GetTouchCount() const { return pairs_.size(); }

private:
    struct TouchedPair {
        uint64_t serials[2]; // lower first
        uint32_t ids[2];
        uint32_t firstStep;
        uint32_t lastStep;
        bool entered[2];
    };
    struct PairKey {
        uint64_t first;
        uint64_t second;
        bool operator==(const PairKey&) const = default;
    };
    struct PairHash {
        size_t operator()(const PairKey& key) const {
            return std::hash<uint64_t>()(key.first * 0x9E3779B97F4A7C15ull ^ key.second);
        }
    };

    // Handlers may delete the world that owns this: loops check it after every call.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::vector<Event> events_;
    std::vector<TouchedPair> pairs_; // in the order first touched
    std::unordered_map<PairKey, size_t, PairHash> pairIndex_;
    uint32_t step_ = 0;
};

} // namespace quarn
