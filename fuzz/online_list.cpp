// Record-list replies of the online service: whatever a server sends, the list comes out sorted,
// every record named, and the own index on the first own record.
#include "app/online/HttpOnlineService.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    quarn::OnlineList list;
    quarn::ParseRecordList(reply, list);
    const auto& records = list.records;
    if (records.size() > static_cast<size_t>(std::count(reply.begin(), reply.end(), ';')) / 4) {
        std::abort();
    }
    int32_t own = -1;
    for (size_t i = 0; i < records.size(); ++i) {
        const quarn::OnlineRecord& record = records[i];
        if (record.name.empty() || record.name.find_first_of("\r\n;") != std::string::npos) {
            std::abort();
        }
        if (own < 0 && record.name[0] == '#') {
            own = static_cast<int32_t>(i);
        }
        if (i > 0) {
            const quarn::Int3 a = records[i - 1].position;
            const quarn::Int3 b = record.position;
            if (a.x > b.x || (a.x == b.x && (a.y > b.y || (a.y == b.y && a.z < b.z)))) {
                std::abort();
            }
        }
    }
    if (own != list.ownIndex || list.message.find_first_of("\r\n") != std::string::npos) {
        std::abort();
    }
    return 0;
}
