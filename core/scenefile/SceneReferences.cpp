#include "core/scenefile/SceneReferences.h"

#include "core/debug/Log.h"
#include "core/object/Entity.h"
#include "core/object/IdMap.h"
#include "core/object/Property.h"
#include "core/os/Dialogs.h"
#include "core/scene/Node.h"
#include "core/scenefile/SceneLoader.h"

#include <iterator>
#include <utility>

namespace quarn {

SceneLoadState& TheSceneLoadState() {
    static SceneLoadState state;
    return state;
}

void AssignLoadedNodeId(Node& node, uint32_t wanted, int32_t idSystem, uint32_t flags) {
    IdMap& map = TheIdMap();
    std::map<uint32_t, uint32_t>& remap = TheSceneLoadState().remap;
    const uint32_t current = node.GetId();
    if ((wanted & LocalIdMask) == 0) {
        // No usable id in the file: a fresh one, which nothing in the file can name.
        if (current == 0) {
            uint32_t system = static_cast<uint32_t>(idSystem);
            uint32_t localId = map.GetFreeLocalId(system);
            if (localId != 0) {
                node.ChangeId(system << IdSystemShift | localId);
            }
        }
        return;
    }
    if (current == wanted) {
        remap[wanted] = wanted;
    } else if (current != 0 && (flags & SceneKeepNodeIds)) {
        remap[wanted] = current;
    } else if (flags & SceneForceFileIds) {
        // Taken from whoever holds it, with the references to it.
        node.TakeOverId(wanted);
        remap[wanted] = wanted;
    } else if (map.IsIdFree(wanted, 0)) {
        node.ChangeId(wanted);
        remap[wanted] = node.GetId();
    } else {
        const uint32_t system = wanted & IdSystemMask;
        const uint32_t localId = map.GetFreeLocalId(system >> IdSystemShift);
        if (localId != 0) {
            node.ChangeId(system | localId);
        }
        if (node.GetId() != 0) {
            remap[wanted] = node.GetId();
        }
    }
}

uint32_t ResolveSceneIdPath(const IdPath& path, int32_t idSystem, uint32_t flags) {
    const IdMap& map = TheIdMap();
    const std::map<uint32_t, uint32_t>& remap = TheSceneLoadState().remap;
    uint32_t system = static_cast<uint32_t>(idSystem < 0 ? 0 : idSystem);
    if (!path.guid.IsZero()) {
        int32_t found = map.FindSceneByGuid(path.guid);
        if (found < 0) {
            return 0;
        }
        system = static_cast<uint32_t>(found);
    }
    if (path.count <= 0) {
        return 0;
    }
    int first = 0;
    if (path.ids[0] == 0) {
        if (path.count < 2 || path.ids[1] == 0) {
            return 0;
        }
        if (idSystem != 0 && !(flags & SceneSystemZeroPaths)) {
            return 0;
        }
        system = 0;
        first = 1;
    }
    for (int i = first; i < path.count && i < IdPath::MaxIds; ++i) {
        const uint32_t localId = path.ids[i];
        // A local id is 16 bits; anything else names no entity of this file.
        if (localId == 0 || localId > LocalIdMask || system > MaxIdSystem) {
            return 0;
        }
        uint32_t id = system << IdSystemShift | localId;
        if (!(flags & SceneNoRemap)) {
            auto hit = remap.find(id);
            if (hit != remap.end()) {
                id = hit->second;
            } else if (!(flags & SceneKeepUnmappedIds)) {
                return 0;
            }
        }
        if (i + 1 == path.count) {
            return id;
        }
        const Entity* entity = LookupEntity(id);
        if (!entity) {
            return 0;
        }
        system = entity->GetIdSystem();
        if (system == 0) {
            return 0;
        }
    }
    return 0;
}

void AddPendingReference(const Entity& entity, const Property& property, uint32_t id,
                         const IdPath& path) {
    if (entity.GetId() == 0) {
        return;
    }
    TheSceneLoadState().pending.push_back({entity.GetId(), property.GetName(), id, path});
}

void ResolvePendingReferences(int32_t idSystem) {
    // Setters may start loads of their own, which add records or, as outermost loads, empty
    // the list: the records walked here are taken out of it first.
    std::vector<PendingReference> records = std::move(TheSceneLoadState().pending);
    TheSceneLoadState().pending.clear();
    std::vector<PendingReference> unresolved;
    for (PendingReference& record : records) {
        Entity* entity = LookupEntity(record.entityId);
        const Property* property =
            entity ? entity->FindAnyProperty(record.property.c_str()) : nullptr;
        if (!property || !property->IsEntityReference()) {
            continue; // the referencing entity or its property went away
        }
        uint32_t words[MaxValueWords] = {};
        property->ReadValue(*entity, words);
        if (words[0] != 0 && LookupEntity(words[0])) {
            continue;
        }
        uint32_t id = record.id != 0 ? record.id : ResolveSceneIdPath(record.path, idSystem, 0);
        if (id != 0 && LookupEntity(id)) {
            words[0] = id | (record.path.port & 0xF) << PortShift;
            property->WriteValue(*entity, words);
        } else {
            unresolved.push_back(std::move(record));
        }
    }
    std::vector<PendingReference>& pending = TheSceneLoadState().pending;
    pending.insert(pending.begin(), std::make_move_iterator(unresolved.begin()),
                   std::make_move_iterator(unresolved.end()));
}

int GetPendingReferenceCount() {
    return static_cast<int>(TheSceneLoadState().pending.size());
}

int ReportMissingReferences() {
    const std::vector<PendingReference>& pending = TheSceneLoadState().pending;
    if (pending.empty()) {
        return 0;
    }
    ShowMessageBox("Some references were not found. This usually happens when a branch is used "
                   "in different scenes.\nIf you save the scene without rectifying this, the "
                   "references may be lost.\nCheck the log panel for details.",
                   "Warning", MessageBoxOk);
    const IdMap& map = TheIdMap();
    for (const PendingReference& record : pending) {
        std::string missing;
        if (record.id != 0) {
            missing = IdPath::FromId(record.id, 0).Format();
        } else {
            missing = std::to_string(record.path.ids[0]);
            for (int i = 1; i < record.path.count && i < IdPath::MaxIds; ++i) {
                if (record.path.ids[i] == 0) {
                    break;
                }
                missing += '.' + std::to_string(record.path.ids[i]);
            }
        }
        std::string referrer = IdPath::FromId(record.entityId, 0).Format();
        const uint32_t system = (record.entityId & IdSystemMask) >> IdSystemShift;
        const IdSystem* owner = system != 0 ? map.GetIdSystem(system) : nullptr;
        Entity* root = owner ? owner->GetRoot() : nullptr;
        if (root && root->CastToClassName("Branch")) {
            referrer += std::string(" (branch: ") + root->GetDescription().Text() + ")";
        } else {
            referrer += " (branch: none)";
        }
        LogAtPosition("system", record.entityId, "Id %s not found, referenced by %s",
                      missing.c_str(), referrer.c_str());
    }
    return static_cast<int>(pending.size());
}

} // namespace quarn
