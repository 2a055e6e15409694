#pragma once

#include "app/ClassRegistration.h"
#include "core/io/BufferFile.h"
#include "core/object/ClassInfo.h"
#include "core/object/IdMap.h"
#include "core/scene/Node.h"
#include "core/scenefile/SceneLoader.h"
#include "core/scenefile/SceneReferences.h"
#include "core/scenefile/SceneSaver.h"
#include "core/scenefile/SceneTextFormat.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace quarn::fuzz {

// Loads the bytes as a scene under a holder node, writes the tree back, and deletes it: the load
// must not fault, and nothing it made may outlive the holder. The flags vary with the input's
// length, so a seed stays a plain scene file.
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

    Node* holder = static_cast<Node*>(Node::classInfo->CreateInstance());
    BufferFile file(data, static_cast<uint32_t>(size));
    // Id system -1 takes the header's.
    SceneLoader loader("fuzz.scene", (size & 8) != 0 ? -1 : 0, flags, holder, nullptr);
    loader.Load(file);
    if (!Entity::FindBySerial(holder->GetSerial())) {
        std::abort();
    }
    GrowingOutputStream out;
    SceneTextWriter writer;
    writer.Begin(out, "", 0);
    WriteNodeTree(writer, *holder, 0, SceneWriteRoot);
    ReportMissingReferences();
    holder->Delete();
    if (Node::classInfo->GetInstanceCountRecursive() != baseline) {
        std::abort();
    }
    TheIdMap().Clear();
}

} // namespace quarn::fuzz
