#include "render/LightMapPath.h"

#include "core/object/ClassInfo.h"
#include "core/object/EntityRef.h"
#include "core/object/IdPath.h"
#include "core/scene/Node.h"

#include <cstring>
#include <string>

namespace quarn {

namespace {

// '\' separates like '/', ':' (which would make the path absolute) becomes '_', and so does a
// component "." or "..".
std::string SanitizedOwner(const char* text) {
    std::string owner;
    std::string component;
    const auto flush = [&] {
        owner += component == "." || component == ".." ? "_" : component;
        component.clear();
    };
    for (const char* c = text; *c; ++c) {
        if (*c == '/' || *c == '\\') {
            flush();
            owner += '/';
        } else {
            component += *c == ':' ? '_' : *c;
        }
    }
    flush();
    return owner;
}

std::string OwnerOf(const Node& node) {
    const Node* branch = nullptr;
    int branches = 0;
    for (const Node* up = node.GetParent(); up; up = up->GetParent()) {
        if (std::strcmp(up->GetClass()->GetName(), "Branch") == 0) {
            branch = branches == 0 ? up : branch;
            ++branches;
        }
    }
    if (branches == 1) {
        return SanitizedOwner(branch->GetName().empty() ? branch->GetDescription().Text()
                                                        : branch->GetName().c_str());
    }
    const uint32_t idSystem = node.GetId() & IdSystemMask;
    return idSystem == 0 ? "scene" : SanitizedOwner(IdPath::FromId(idSystem, 0).Format().c_str());
}

} // namespace

PathString BuildLightMapPath(const Node& node, const char* extension) {
    PathString path("pelgrath/maps/");
    path.Append(OwnerOf(node).c_str());
    path.Append("/");
    path.Append(std::to_string(node.GetId() & LocalIdMask).c_str());
    path.Append(".");
    path.Append(extension);
    return path;
}

std::vector<std::string> LightMapFileOf(const Entity& entity, const char* extension) {
    const auto* node = dynamic_cast<const Node*>(&entity);
    if (!node) {
        return {};
    }
    return {BuildLightMapPath(*node, extension).Text()};
}

} // namespace quarn
