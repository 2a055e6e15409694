#include "core/scenefile/SceneSaver.h"

#include "core/debug/Log.h"
#include "core/filesystem/FileReader.h"
#include "core/filesystem/FileSystem.h"
#include "core/object/ClassInfo.h"
#include "core/object/IdMap.h"
#include "core/object/Property.h"
#include "core/scene/Node.h"
#include "core/scenefile/SceneCompactFormat.h"
#include "core/scenefile/SceneFormat.h"
#include "core/scenefile/SceneTextFormat.h"
#include "core/scenefile/VersionControl.h"

#include <cstdio>
#include <memory>
#include <vector>

namespace quarn {

namespace {

// Nodes being written, nested when a getter writes another tree (a copy inside a save).
int writingDepth = 0;

bool IsClosed(const Node& node) {
    const ClassInfo* classInfo = node.GetClass();
    return classInfo && (classInfo->GetFlags() & ClassClosed) != 0;
}

// The class a node is written as: with SceneNativeClasses the nearest class on its base chain
// that a load can make again.
const ClassInfo* WrittenClass(const Node& node, uint32_t flags) {
    const ClassInfo* own = node.GetClass();
    if (!(flags & SceneNativeClasses)) {
        return own;
    }
    for (const ClassInfo* each = own; each; each = each->GetParent()) {
        if ((each->GetFlags() & ClassNative) &&
            (!each->IsAbstract() || (each->GetFlags() & ClassSharesInstanceList))) {
            return each;
        }
    }
    return own;
}

// The nodes WriteNodeTree writes, in the order it writes them. Iterative, so a deep tree cannot
// exhaust the stack.
template <class Visit>
void WalkSavedNodes(Node& top, uint32_t flags, Visit visit) {
    struct Step {
        Node* node;
        uint32_t flags;
    };
    std::vector<Step> stack{{&top, flags}};
    while (!stack.empty()) {
        Step step = stack.back();
        stack.pop_back();
        if (step.flags & SceneWriteRoot) {
            visit(*step.node);
            if (!(step.flags & SceneIncludeBranches) && IsClosed(*step.node)) {
                continue;
            }
        }
        // Pushed last child first, so the first child comes out next.
        for (Node* child = step.node->GetLastChild(); child; child = child->GetPrevious()) {
            stack.push_back({child, step.flags | SceneWriteRoot});
        }
    }
}

void WriteProperties(SceneWriter& writer, Node& node, const ClassInfo& classInfo, bool ownOnly,
                     uint32_t flags) {
    const int count = ownOnly ? static_cast<int>(classInfo.GetOwnProperties().size())
                              : classInfo.GetPropertyCount();
    for (int index = 0; index < count; ++index) {
        const Property* property =
            ownOnly ? classInfo.GetOwnProperties()[index].get() : classInfo.GetProperty(index);
        if (!property) {
            continue;
        }
        if ((property->GetStateFlags() & PropertyTransient) &&
            !(flags & SceneTransientProperties)) {
            continue;
        }
        writer.WriteProperty(node, *property, flags);
    }
}

bool WriteWholeFile(const char* path, const std::string& bytes, uint32_t flags) {
    uint32_t openFlags = 0;
    if (flags & SceneScrambled) {
        openFlags |= WriteScrambled;
    }
    ForwardingOutputStream out;
    if (!out.Open(path, openFlags)) {
        if (TellWriteFailure()) {
            LogMessage("Scene %s cannot be written%s", path, FileFailureSuffix().c_str());
        }
        return false;
    }
    const uint32_t size = static_cast<uint32_t>(bytes.size());
    bool written = out.Write(bytes.data(), size) == size;
    // The file system puts the file in place only when everything arrived.
    written = out.Close() && written;
    if (!written && TellWriteFailure()) {
        LogMessage("Scene %s could not be written whole%s; the file is left as it was", path,
                   FileFailureSuffix().c_str());
    }
    return written;
}

} // namespace

int CountSavedNodes(const Node& node) {
    int count = 1;
    std::vector<const Node*> stack{&node};
    while (!stack.empty()) {
        const Node* each = stack.back();
        stack.pop_back();
        for (const Node* child = each->GetFirstChild(); child; child = child->GetNext()) {
            ++count;
            if (!IsClosed(*child)) {
                stack.push_back(child);
            }
        }
    }
    return count;
}

void WriteNodeTree(SceneWriter& writer, Node& node, uint32_t idSystem, uint32_t flags) {
    WalkSavedNodes(node, flags,
                   [&](Node& each) { WriteNodeObject(writer, each, idSystem, flags); });
}

bool IsWritingScene() {
    return writingDepth > 0;
}

void WriteNodeObject(SceneWriter& writer, Node& node, uint32_t idSystem, uint32_t flags) {
    const ClassInfo* classInfo = WrittenClass(node, flags);
    if (!classInfo) {
        return;
    }
    struct WritingScope {
        WritingScope() { ++writingDepth; }
        ~WritingScope() { --writingDepth; }
    } writing;
    const uint32_t id = node.GetId() & ~PortMask;
    std::string idText;
    if (flags & SceneRawIds) {
        idText = std::to_string(id);
    } else {
        idText = IdPath::FromId(id, idSystem).Format();
    }
    writer.BeginObject(node, idText.c_str(), classInfo->GetShortName());
    WriteProperties(writer, node, *classInfo, false, flags);
    if (const ClassInfo* custom = node.GetCustomClass()) {
        const ClassInfo* base =
            custom->GetCustomBase() ? custom->GetCustomBase() : custom->GetParent();
        if (base && classInfo->IsDerivedFrom(base)) {
            WriteProperties(writer, node, *custom, true, flags);
        }
    }
    if (const HeldSceneLines* held = node.GetHeldLines(); held && !held->IsEmpty()) {
        writer.WriteHeldLines(node, *held);
    }
    writer.EndObject();
}

Guid GetSceneGuid(uint32_t idSystem) {
    const IdSystem* record = TheIdMap().GetIdSystem(idSystem);
    return record && record->HasGuid() ? record->GetGuid() : Guid();
}

bool SaveSceneFile(const char* path, Node& root, uint32_t idSystem, uint32_t flags) {
    return SaveSceneFileWithIds(path, root, GetSceneGuid(idSystem), idSystem, nullptr, flags);
}

bool WriteSceneBytes(std::string& bytes, std::string& error, const char* path, Node& root,
                     const Guid& guid, uint32_t idSystem, const ClassInfo* customClass,
                     uint32_t flags) {
    const bool compact = (flags & SceneCompact) != 0;
    std::unique_ptr<SceneWriter> writer;
    if (compact) {
        writer = std::make_unique<SceneCompactWriter>();
    } else {
        writer = std::make_unique<SceneTextWriter>();
    }
    GrowingOutputStream buffer;
    writer->Begin(buffer, path, 0);

    SceneHeader header;
    header.version = SceneFormatVersion;
    header.globalId = guid;
    header.idSystem = static_cast<int32_t>(idSystem);
    header.includeBranches = (flags & SceneIncludeBranches) != 0;
    if (compact) {
        // The reader finds its block table through this count, so it must be the number of
        // blocks written, a branch's children included when they are written.
        int written = 0;
        WalkSavedNodes(root, flags, [&](Node&) { ++written; });
        header.nodeCount = written;
    } else {
        header.nodeCount = CountSavedNodes(root) - ((flags & SceneWriteRoot) ? 0 : 1);
    }
    header.customClass = const_cast<ClassInfo*>(customClass);
    writer->WriteHeader(header);
    WriteNodeTree(*writer, root, idSystem, flags);
    if (!writer->Finish()) {
        error = writer->GetError();
        return false;
    }
    bytes = buffer.TakeText();
    return true;
}

bool SaveSceneFileWithIds(const char* path, Node& root, const Guid& guid, uint32_t idSystem,
                          const ClassInfo* customClass, uint32_t flags) {
    if (!path || !VersionControlCheckSave(path, VersionControlSaveMode)) {
        return false;
    }
    // Every reader takes a file's form from its name: a compact name holds the compact form
    // whatever is asked, or no load would read the file back.
    if (IsCompactSceneName(path)) {
        flags |= SceneCompact;
    }
    // The whole file is made in memory first: a writer that cannot hold the tree then leaves
    // the file on disk as it was.
    std::string text;
    std::string error;
    if (!WriteSceneBytes(text, error, path, root, guid, idSystem, customClass, flags)) {
        LogMessage("Scene %s is not saved: %s", path, error.c_str());
        NoteFileFailure(error.c_str());
        return false;
    }
    return WriteWholeFile(path, text, flags);
}

bool SaveSceneBytes(const char* path, const std::string& bytes, uint32_t flags) {
    return path && VersionControlCheckSave(path, VersionControlSaveMode) &&
           WriteWholeFile(path, bytes, flags);
}

uint32_t EstimateSceneTextSize() {
    const ClassInfo* node = Node::RegisterClass();
    return static_cast<uint32_t>(node->GetInstanceCountRecursive() + 5004) * 1024u;
}

} // namespace quarn
