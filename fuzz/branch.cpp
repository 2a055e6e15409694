// Branch files, text or compact (the first byte chooses), as the content of two instances:
// each loads what it can or nothing, the instances save, unload and reload, and nothing they
// made or acquired outlives them.
#include "resources/Branch.h"

#include "app/ClassRegistration.h"
#include "core/filesystem/MemoryFileSystem.h"
#include "core/object/ClassInfo.h"
#include "core/object/IdMap.h"
#include "core/scene/Node.h"
#include "resources/ResourceRegistry.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quarn;
    if (size < 1 || size > UINT32_MAX) {
        return 0;
    }
    RegisterAllClasses();
    MemoryFileSystem files;
    SetFileSystem(&files);
    const bool compact = (data[0] & 1) != 0;
    files.Add(compact ? "a.scn" : "a.branch",
              std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
    const int nodes = Node::classInfo->GetInstanceCountRecursive();
    const int resources = GetRegisteredResourceCount();

    Node* holder = static_cast<Node*>(Node::classInfo->CreateInstance());
    holder->SetIdSystem(0);
    for (uint32_t flags :
         {uint32_t{BranchLoaded}, uint32_t{BranchLoaded | BranchClosed | BranchGlobal}}) {
        auto* branch = static_cast<Branch*>(Branch::RegisterClass()->CreateInstance());
        branch->AttachAsLast(holder);
        branch->SetBranchFlags(flags);
        branch->SetBranchFile("a.branch");
    }
    if (auto* open = dynamic_cast<Branch*>(holder->GetFirstChild())) {
        open->SaveBranch();
        open->UnloadContent();
        open->LoadContent(Branch::Pull);
    }
    if (auto* closed = dynamic_cast<Branch*>(holder->GetLastChild())) {
        closed->Reload();
    }
    holder->Delete();
    if (Node::classInfo->GetInstanceCountRecursive() != nodes ||
        GetRegisteredResourceCount() != resources) {
        std::abort();
    }
    SetFileSystem(nullptr);
    TheIdMap().Clear();
    return 0;
}
