#pragma once

// Ids and references across a load. Loads nested in another (a branch reading its file while
// its properties are set) share one remap table and one list of pending references with the
// outermost load, which alone empties them, so references between an outer scene and its
// branch instances resolve at the latest when the outermost load ends.

#include "core/object/EntityRef.h"
#include "core/object/IdPath.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace quarn {

class Entity;
class Node;
class Property;

// A reference that did not resolve while its file was read. The referencing entity is kept by
// id and the property by name: either may be replaced or destroyed before the record is
// resolved (a class replacement, a reused node deleted, a branch unloaded), and an id then
// resolves to the replacement or to nothing, never to freed memory.
struct PendingReference {
    uint32_t entityId;
    std::string property;
    uint32_t id; // 0 when only the path is known
    IdPath path;
};

struct SceneLoadState {
    int32_t depth = -1;  // of the load running now; -1 when none runs
    int64_t nodes = 0;   // made by the outermost load and the loads inside it
    int64_t unread = 0;  // loads inside it refused for the node limit
    int64_t tooDeep = 0; // loads inside it refused for their nesting
    // Set once a branch instance inside it found no id system left (each instance needs one
    // of its own): from then on no branch load is tried in it, and those not tried are counted.
    bool outOfIdSystems = false;
    int64_t leftForIdSystems = 0;
    std::map<uint32_t, uint32_t> remap; // id in the file (as resolved) -> id its node got
    std::vector<PendingReference> pending;
    // Each file of the loads since the outermost began that did not load as it is written,
    // with what it lost (SceneLoader::DescribeShortfall), for the outermost load's caller to
    // tell.
    std::vector<std::pair<std::string, std::string>> shortLoads;
};

SceneLoadState& TheSceneLoadState();

// The highest id system an id can hold.
inline constexpr uint32_t MaxIdSystem = IdSystemMask >> IdSystemShift;

// Gives a node read into `idSystem` the id the file wants for it, or another one as the flags
// (SceneFlags) allow, and notes in the remap table what the wanted id became.
void AssignLoadedNodeId(Node& node, uint32_t wanted, int32_t idSystem, uint32_t flags);

// The id a path in a file read into `idSystem` names: through the remap table, that id system
// and the branch instances along the path; 0 when it names nothing.
uint32_t ResolveSceneIdPath(const IdPath& path, int32_t idSystem, uint32_t flags);

// Notes a reference to retry when the load ends; an entity without id is passed over, since
// nothing could find it again.
void AddPendingReference(const Entity& entity, const Property& property, uint32_t id,
                         const IdPath& path);
// Retries every pending reference, paths resolving in `idSystem`; those that still name
// nothing stay pending.
void ResolvePendingReferences(int32_t idSystem);

// After the outermost load: when references stayed unresolved, shows one warning and logs a
// line per reference on the channel "system". Returns how many were reported.
int ReportMissingReferences();
// References still unresolved since the last outermost load began.
int GetPendingReferenceCount();

} // namespace quarn
