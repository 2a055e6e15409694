#include "script/nodes/OnlineService.h"

namespace quarn {

namespace {

OnlineService* current = nullptr;

} // namespace

OnlineService::OnlineService() {
    current = this;
}

OnlineService::~OnlineService() {
    if (current == this) {
        current = nullptr;
    }
}

OnlineService* CurrentOnlineService() {
    return current;
}

} // namespace quarn
