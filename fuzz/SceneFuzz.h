#pragma once

#include "app/ClassRegistration.h"
#include "core/io/BufferFile.h"
#include "core/object/ClassInfo.h"
#include "core/object/IdMap.h"
#include "core/scene/Node.h"
#include "core/scenefile/SceneLoader.h"
#include "core/scenefile/SceneReferences.h"
#include "core/scenefile/SceneSaver.h"
#include "core/scenefile/SceneCompactFormat.h"
#include "core/scenefile/SceneTextFormat.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace quarn::fuzz {

// The tree below the holder, saved as the editor saves a scene, in the form the flags pick;
// empty when the form cannot hold it.
inline std::string SaveBelow(Node& holder, uint32_t formatFlags) {
    const uint32_t flags = SceneKeepUnmappedIds | SceneSystemZeroPaths | formatFlags;
    std::unique_ptr<SceneWriter> writer;
    if (formatFlags & SceneCompact) {
        writer = std::make_unique<SceneCompactWriter>();
    } else {
        writer = std::make_unique<SceneTextWriter>();
    }
    GrowingOutputStream out;
    writer->Begin(out, "", 0);
    SceneHeader header;
    header.version = SceneFormatVersion;
    header.nodeCount = CountSavedNodes(holder) - 1;
    writer->WriteHeader(header);
    WriteNodeTree(*writer, holder, 0, flags);
    return writer->Finish() ? out.GetText() : std::string();
}

// Loads the bytes under a new holder node; the holder must survive the load.
inline Node* LoadUnder(const uint8_t* data, size_t size, int32_t idSystem, uint32_t flags) {
    Node* holder = static_cast<Node*>(Node::classInfo->CreateInstance());
    BufferFile file(data, static_cast<uint32_t>(size));
    SceneLoader loader("fuzz.scene", idSystem, flags, holder, nullptr);
    loader.Load(file);
    if (!Entity::FindBySerial(holder->GetSerial())) {
        std::abort();
    }
    ReportMissingReferences();
    return holder;
}

// Deletes the holder's tree: nothing the load made may outlive it.
inline void Unload(Node* holder, int baseline) {
    holder->Delete();
    if (Node::classInfo->GetInstanceCountRecursive() != baseline) {
        std::abort();
    }
    TheIdMap().Clear();
}

// Loads the bytes as a scene under a holder node, saves the tree, loads that save and saves
// again: the load must not fault, nothing it made may outlive the holder, and the two saves
// must be the same bytes (a value that changed or went missing on the way shows there). The
// first load's flags vary with the input's length, so a seed stays a plain scene file.
inline void LoadScene(const uint8_t* data, size_t size, uint32_t formatFlags) {
    if (size > UINT32_MAX) {
        return;
    }
    RegisterAllClasses();
    static const uint32_t FlagChoices[] = {
        SceneKeepUnmappedIds,
        SceneKeepUnmappedIds | SceneReuseNodes,
        SceneKeepUnmappedIds | SceneForceFileIds,
        SceneKeepNodeIds | SceneSystemZeroPaths,
        SceneKeepUnmappedIds | SceneRawIds,
        SceneKeepUnmappedIds | SceneTransientProperties | SceneIncludeBranches,
    };
    const uint32_t flags = FlagChoices[size % std::size(FlagChoices)] | formatFlags;
    const int baseline = Node::classInfo->GetInstanceCountRecursive();

    // Id system -1 takes the header's.
    Node* holder = LoadUnder(data, size, (size & 8) != 0 ? -1 : 0, flags);
    const std::string first = SaveBelow(*holder, formatFlags);
    Unload(holder, baseline);
    if (first.empty()) {
        return;
    }
    holder = LoadUnder(reinterpret_cast<const uint8_t*>(first.data()), first.size(), 0,
                       SceneKeepUnmappedIds | formatFlags);
    const std::string second = SaveBelow(*holder, formatFlags);
    Unload(holder, baseline);
    if (second != first) {
        std::abort();
    }
}

} // namespace quarn::fuzz
