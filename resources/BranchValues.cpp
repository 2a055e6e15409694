// The custom values of a branch instance and what they link to inside it: relays, exposed
// properties and output ports, all built from the branch file's custom class.
#include "core/debug/Log.h"
#include "core/object/ClassInfo.h"
#include "core/object/IdMap.h"
#include "core/object/Property.h"
#include "core/string/NumberText.h"
#include "core/string/Text.h"
#include "resources/Branch.h"
#include "resources/BranchFile.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_map>

namespace quarn {

namespace {

constexpr const char RelayPrefix[] = "relay_";
constexpr size_t RelayPrefixLength = sizeof RelayPrefix - 1;

bool IsRelayName(const std::string& name) {
    return name.compare(0, RelayPrefixLength, RelayPrefix) == 0;
}

// The relay number after "relay_": one or two decimal digits naming a port 0-15, else -1.
int RelayNumber(const std::string& name) {
    const std::string digits = name.substr(RelayPrefixLength);
    if (digits.empty() || digits.size() > 2 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return IsDigit(c); })) {
        return -1;
    }
    const int number = std::stoi(digits);
    return number < Branch::MaxRelays ? number : -1;
}

bool IsReferenceType(int32_t type) {
    return type == TypeEntity || IsClassType(type);
}

std::string LowerName(std::string name) {
    ToLowerAscii(name.data());
    return name;
}

// A reference to an input port of an entity, as relays hold it.
uint32_t PortReference(const Entity& entity, int port) {
    return (entity.GetId() & ~PortMask) | static_cast<uint32_t>(port & 0xF) << PortShift;
}

} // namespace

void Branch::EnsureCurrent() const {
    // The layout caches the file's class; rebuilding it changes no value a caller can see.
    auto* self = const_cast<Branch*>(this);
    const uint32_t generation = file_ ? file_->GetClassGeneration() : 0;
    if (file_ != layoutFile_ || GetCustomClass() != layoutClass_ ||
        generation != layoutGeneration_) {
        self->RebuildValues();
        self->RebuildLinks();
    } else if (linksStale_) {
        self->RebuildLinks();
    }
}

void Branch::RebuildValues() {
    const ClassInfo* custom = GetCustomClass();
    std::vector<CustomValue> old = std::move(custom_);
    const std::vector<uint32_t> oldValues = std::move(values_);
    custom_.clear();
    values_.clear();
    layoutFile_ = file_;
    layoutClass_ = custom;
    layoutGeneration_ = file_ ? file_->GetClassGeneration() : 0;
    slotOf_.clear();
    if (!custom) {
        return;
    }
    // Names compare without case; by the lowered name, each carried value is one look-up.
    std::unordered_map<std::string, size_t> previous;
    for (size_t index = 0; index < old.size(); ++index) {
        previous.emplace(LowerName(old[index].name), index);
    }
    size_t offset = 0;
    for (const auto& property : custom->GetOwnProperties()) {
        CustomValue slot;
        slot.name = property->GetName();
        slot.type = property->GetValueType();
        slot.words = GetTypeWordCount(slot.type);
        slot.offset = offset;
        slot.property = property.get();
        offset += static_cast<size_t>(slot.words);
        values_.resize(offset, 0);
        // A property that keeps its name and type keeps its value; any other starts afresh.
        const auto found = previous.find(LowerName(slot.name));
        if (found != previous.end() && old[found->second].type == slot.type) {
            CustomValue& before = old[found->second];
            std::copy_n(oldValues.begin() + static_cast<std::ptrdiff_t>(before.offset), slot.words,
                        values_.begin() + static_cast<std::ptrdiff_t>(slot.offset));
            slot.held = before.held;
            slot.text = std::move(before.text);
            slot.reference = std::move(before.reference);
            previous.erase(found);
        }
        if (IsReferenceType(slot.type) && !slot.reference) {
            slot.reference = std::make_unique<EntityRef>(this);
        }
        if (IsRelayName(slot.name) && RelayNumber(slot.name) < 0) {
            LogMessage("Branch '%s': %s names no input port 0-%d and is ignored", GetBranchPath(),
                       slot.name.c_str(), MaxRelays - 1);
        }
        slotOf_.emplace(slot.property, custom_.size());
        custom_.push_back(std::move(slot));
    }
}

void Branch::RebuildLinks() {
    linksStale_ = false;
    relays_.clear();
    outputs_.clear();
    linksMade_ = false;
    for (size_t index = 0; index < custom_.size(); ++index) {
        CustomValue& slot = custom_[index];
        slot.innerName.clear();
        slot.innerId = 0;
        slot.relay = -1;
        slot.relayTarget = 0;
        if (slot.reference) {
            // A reference cleared when its target went comes back with the target's id.
            slot.reference->SetId(values_[slot.offset]);
        }
        const std::string range = slot.property->GetRange();
        if (IsRelayName(slot.name)) {
            const int number = RelayNumber(slot.name);
            if (number < 0 || !slot.reference) {
                continue; // reported with the layout; a relay is a reference
            }
            if (relays_.size() <= static_cast<size_t>(number)) {
                relays_.resize(static_cast<size_t>(number) + 1, -1);
            }
            if (relays_[static_cast<size_t>(number)] >= 0) {
                continue; // "relay_1" and "relay_01": the first one serves
            }
            relays_[static_cast<size_t>(number)] = static_cast<int>(index);
            slot.relay = number;
            const size_t at = range.find("default=");
            if (at != std::string::npos) {
                IdPath path;
                path.Parse(range.c_str() + at + 8);
                if (path.count > 0 && path.ids[path.count - 1] <= LocalIdMask) {
                    const uint32_t id = path.ToId();
                    if (id != 0 && InnerId(id & LocalIdMask) != 0) {
                        slot.relayTarget = (id & PortMask) | InnerId(id & LocalIdMask);
                    }
                }
            }
            values_[slot.offset] = slot.relayTarget;
            slot.reference->SetId(slot.relayTarget);
            linksMade_ = true;
            continue;
        }
        // "<property>_id<local id>": split at the last "_id".
        const size_t split = slot.name.rfind("_id");
        if (split == std::string::npos || split == 0) {
            continue;
        }
        const std::string digits = slot.name.substr(split + 3);
        if (digits.empty() || digits.size() > 5 ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return IsDigit(c); })) {
            continue;
        }
        const uint32_t localId = static_cast<uint32_t>(std::stoul(digits));
        if (localId == 0 || localId > LocalIdMask) {
            continue;
        }
        slot.innerName = slot.name.substr(0, split);
        slot.innerId = InnerId(localId);
        if (range.find("signal") != std::string::npos) {
            outputs_.push_back(index);
        }
        linksMade_ = true;
    }
}

uint32_t Branch::InnerId(uint32_t localId) const {
    // Without an id system of its own yet, the instance has no content to link to: local ids
    // would name nodes of the opened scene.
    if (idSystem_ == 0 && !(flags_ & BranchNoIdSystem)) {
        return 0;
    }
    return (GetIdSystem() << IdSystemShift & IdSystemMask) | (localId & LocalIdMask);
}

bool Branch::FindInner(const CustomValue& slot, Entity*& entity, const Property*& property) const {
    entity = slot.innerId != 0 ? LookupEntity(slot.innerId) : nullptr;
    property = entity ? entity->FindAnyProperty(slot.innerName.c_str()) : nullptr;
    // The override keeps the type it was declared with; another type is not its property.
    return property && (property->GetValueType() == slot.type ||
                        (IsReferenceType(property->GetValueType()) && IsReferenceType(slot.type)));
}

Branch::CustomValue* Branch::FindValue(const Property& property) {
    const auto found = slotOf_.find(&property);
    return found == slotOf_.end() ? nullptr : &custom_[found->second];
}

void Branch::StoreValue(CustomValue& slot, const uint32_t* words) {
    if (slot.type == TypeString) {
        // The text is kept here; the word handed out later names a copy of it.
        slot.text = LookupText(words[0]);
        values_[slot.offset] = 0;
        return;
    }
    std::copy_n(words, slot.words, values_.begin() + static_cast<std::ptrdiff_t>(slot.offset));
    if (slot.reference) {
        slot.reference->SetId(words[0]);
    }
}

void Branch::WriteValueWords(const CustomValue& slot, uint32_t* out) const {
    if (slot.type == TypeString) {
        ValueTraits<const char*>::Write(slot.text.c_str(), out);
        return;
    }
    std::copy_n(values_.begin() + static_cast<std::ptrdiff_t>(slot.offset), slot.words, out);
}

void Branch::PullValue(CustomValue& slot) {
    Entity* entity = nullptr;
    const Property* inner = nullptr;
    if (slot.relay >= 0 || !FindInner(slot, entity, inner)) {
        return;
    }
    uint32_t words[MaxValueWords] = {};
    inner->ReadValue(*entity, words);
    StoreValue(slot, words);
}

void Branch::PushValues() {
    EnsureCurrent();
    const uint64_t self = GetSerial();
    const uint32_t generation = layoutGeneration_;
    // A setter run here may change anything, the file's class included: the walk stops when
    // the layout it walks is no longer this instance's.
    for (size_t index = 0; index < custom_.size(); ++index) {
        CustomValue& slot = custom_[index];
        if (slot.relay >= 0) {
            values_[slot.offset] = slot.relayTarget;
            continue;
        }
        if (!slot.held) {
            // Never given: the inner node's own value stands.
            PullValue(slot);
            continue;
        }
        Entity* entity = nullptr;
        const Property* inner = nullptr;
        if (!FindInner(slot, entity, inner)) {
            continue;
        }
        uint32_t words[MaxValueWords] = {};
        WriteValueWords(slot, words);
        inner->WriteValue(*entity, words);
        if (!IsAlive(self) || generation != layoutGeneration_ || file_ != layoutFile_) {
            return;
        }
    }
}

void Branch::PullValues() {
    EnsureCurrent();
    for (CustomValue& slot : custom_) {
        if (slot.relay >= 0) {
            values_[slot.offset] = slot.relayTarget;
        } else {
            PullValue(slot);
        }
    }
}

void Branch::GetPropertyValue(const Property& property, uint32_t* out) const {
    EnsureCurrent();
    auto* self = const_cast<Branch*>(this);
    CustomValue* slot = self->FindValue(property);
    if (!slot) {
        return;
    }
    if (!slot->held) {
        // A value never given mirrors the inner node's, so it reads as the file has it.
        self->PullValue(*slot);
    }
    WriteValueWords(*slot, out);
}

void Branch::SetPropertyValue(const Property& property, const uint32_t* value) {
    EnsureCurrent();
    CustomValue* slot = FindValue(property);
    if (!slot) {
        return;
    }
    if (slot->relay >= 0) {
        const bool moved = value[0] != values_[slot->offset];
        StoreValue(*slot, value);
        slot->held = true;
        // The file declares where a relay leads, for every instance.
        Entity* target = LookupEntity(value[0]);
        if (moved && file_ && target) {
            const std::string name = slot->name;
            file_->AddRelaySignal(name.c_str(), target, static_cast<int>(value[0] >> PortShift));
        }
        return;
    }
    StoreValue(*slot, value);
    slot->held = true;
    Entity* entity = nullptr;
    const Property* inner = nullptr;
    if (FindInner(*slot, entity, inner)) {
        inner->WriteValue(*entity, value);
    }
}

void Branch::OnReferenceChanged(Entity* target, uint32_t newId) {
    // A target that went keeps its id here: a reload brings a node back under it.
    if (newId == 0) {
        return;
    }
    for (CustomValue& slot : custom_) {
        if (slot.reference && slot.reference->GetTarget() == target) {
            values_[slot.offset] = slot.reference->GetId();
        }
    }
}

void Branch::OnClassTypeChanged(void* argument) {
    if (file_ && argument == static_cast<Entity*>(file_)) {
        EnsureCurrent();
    }
}

// Relays --------------------------------------------------------------------------------------

bool Branch::HasRelay(const Entity* entity, int port) const {
    if (!entity) {
        return false;
    }
    const uint32_t target = PortReference(*entity, port);
    for (int number = 0; number < GetInputCount(); ++number) {
        if (GetInputRedirect(number) == target) {
            return true;
        }
    }
    return false;
}

void Branch::AddRelay(Entity* entity, int port) {
    if (!file_ || !entity || HasRelay(entity, port)) {
        return;
    }
    int number = 0;
    while (number < MaxRelays && number < GetInputCount() && GetInputRedirect(number) != 0) {
        ++number;
    }
    if (number == MaxRelays) {
        LogMessage("Branch '%s' relays to all of its %d input ports; no relay is added",
                   file_->GetFullPath(), MaxRelays);
        return;
    }
    const Property* relay =
        file_->AddRelaySignal(StringFormat("relay_%d", number).c_str(), entity, port);
    EnsureCurrent();
    if (CustomValue* slot = relay ? FindValue(*relay) : nullptr) {
        const uint32_t target = PortReference(*entity, port);
        StoreValue(*slot, &target);
        slot->held = true;
    }
}

void Branch::RemoveRelay(Entity* entity, int port) {
    if (!file_ || !entity) {
        return;
    }
    const uint32_t target = PortReference(*entity, port);
    std::vector<std::string> names;
    EnsureCurrent();
    for (const CustomValue& slot : custom_) {
        if (slot.relay >= 0 && values_[slot.offset] == target) {
            names.push_back(slot.name);
        }
    }
    for (const std::string& name : names) {
        if (file_) {
            file_->RemoveClassProperty(name.c_str());
        }
    }
    EnsureCurrent();
}

void Branch::RefreshRelayDeclarations() {
    EnsureCurrent();
    std::vector<std::pair<std::string, uint32_t>> moved;
    for (const CustomValue& slot : custom_) {
        const uint32_t target = values_[slot.offset];
        if (slot.relay >= 0 && target != slot.relayTarget && LookupEntity(target)) {
            moved.emplace_back(slot.name, target);
        }
    }
    for (const auto& [name, target] : moved) {
        Entity* entity = LookupEntity(target);
        if (file_ && entity) {
            file_->AddRelaySignal(name.c_str(), entity, static_cast<int>(target >> PortShift));
        }
    }
}

} // namespace quarn
