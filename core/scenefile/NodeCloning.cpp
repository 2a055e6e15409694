#include "core/scenefile/NodeCloning.h"

#include "core/io/BufferFile.h"
#include "core/object/EntityRef.h"
#include "core/scene/Node.h"
#include "core/scenefile/SceneFormat.h"
#include "core/scenefile/SceneLoader.h"
#include "core/scenefile/SceneSaver.h"
#include "core/scenefile/SceneTextFormat.h"

#include <string>

namespace quarn {

Node* CloneNode(Node& node, bool keepOutsideReferences, bool alone, bool dissolveBranches,
                size_t* textBytes) {
    uint32_t flags = SceneWriteRoot;
    if (keepOutsideReferences) {
        flags |= SceneKeepUnmappedIds | SceneSystemZeroPaths;
    }
    if (dissolveBranches) {
        flags |= SceneDissolveBranches;
    }
    // The system the node's id lives in: its copies get their ids there too. (A branch node
    // answers GetIdSystem with the system of its contents.)
    const uint32_t idSystem = (node.GetId() & IdSystemMask) >> IdSystemShift;
    GrowingOutputStream buffer;
    SceneTextWriter writer;
    writer.Begin(buffer, "", 0);
    SceneHeader header;
    header.version = SceneFormatVersion;
    header.idSystem = static_cast<int32_t>(idSystem);
    header.nodeCount = alone ? 1 : CountSavedNodes(node);
    writer.WriteHeader(header);
    if (alone) {
        WriteNodeObject(writer, node, idSystem, flags);
    } else {
        WriteNodeTree(writer, node, idSystem, flags);
    }
    writer.Finish();
    const std::string& text = buffer.GetText();
    if (textBytes) {
        *textBytes = text.size();
    }
    BufferFile file(text.data(), static_cast<uint32_t>(text.size()));
    SceneLoader loader("", -1, flags, nullptr, nullptr);
    return loader.Load(file);
}

} // namespace quarn
