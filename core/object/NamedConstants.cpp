#include "core/object/NamedConstants.h"

namespace quarn {

namespace {

std::map<std::string, int32_t>& Table() {
    static std::map<std::string, int32_t> table;
    return table;
}

} // namespace

void RegisterNamedConstant(const char* name, int32_t value) {
    if (name) {
        Table().emplace(name, value);
    }
}

bool FindNamedConstant(const char* name, int32_t* value) {
    if (!name) {
        return false;
    }
    auto found = Table().find(name);
    if (found == Table().end()) {
        return false;
    }
    if (value) {
        *value = found->second;
    }
    return true;
}

const std::map<std::string, int32_t>& NamedConstants() {
    return Table();
}

} // namespace quarn
