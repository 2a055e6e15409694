#include "core/object/IdPath.h"

#include "core/debug/Validity.h"
#include "core/io/ByteOrder.h"
#include "core/object/ClassInfo.h"
#include "core/object/Entity.h"
#include "core/object/IdMap.h"
#include "core/string/NumberText.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/random.h>

namespace quarn {

namespace {

constexpr int GuidDigits = 32;

uint32_t IdSystemOf(uint32_t id) {
    return (id & IdSystemMask) >> IdSystemShift;
}

bool FillRandom(unsigned char* bytes, size_t count) {
    size_t filled = 0;
    while (filled < count) {
        ssize_t got = getrandom(bytes + filled, count - filled, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        filled += static_cast<size_t>(got);
    }
    return true;
}

} // namespace

// Guid --------------------------------------------------------------------------------------

Guid Guid::Create() {
    unsigned char bytes[16];
    if (!FillRandom(bytes, sizeof bytes)) {
        // Still distinct within this run, which is what a branch instance needs of it.
        ValidityReport("No random bytes for a new GUID; using the clock instead");
        static uint32_t counter = 0;
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        uint32_t seed[4] = {static_cast<uint32_t>(now.tv_sec), static_cast<uint32_t>(now.tv_nsec),
                            ++counter, static_cast<uint32_t>(now.tv_sec >> 16) ^ 0x9E3779B9u};
        std::memcpy(bytes, seed, sizeof bytes);
    }
    // The bytes in the order of the operating system's GUID structure, read as four
    // little-endian words: word 1 is Data3 << 16 | Data2 and word 2 starts with Data4[0].
    Guid guid;
    for (int word = 0; word < 4; ++word) {
        guid.words[word] = ReadLittleEndian32(bytes + word * 4);
    }
    // Version 4 (random) lives in the top nibble of Data3, the variant in the top two bits of
    // Data4[0].
    guid.words[1] = (guid.words[1] & 0x0FFFFFFFu) | 0x40000000u;
    guid.words[2] = (guid.words[2] & ~0xC0u) | 0x80u;
    return guid;
}

std::string Guid::ToHex() const {
    static const char digits[] = "0123456789ABCDEF";
    std::string text(GuidDigits, '0');
    for (int i = 0; i < GuidDigits; ++i) {
        int shift = 28 - (i % 8) * 4;
        text[static_cast<size_t>(i)] = digits[(words[i / 8] >> shift) & 0xF];
    }
    return text;
}

Guid Guid::FromHex(const char* text, const char** end) {
    Guid guid;
    int i = 0;
    if (text) {
        for (; i < GuidDigits; ++i) {
            int value = HexDigitValue(text[i]);
            if (value < 0) {
                break;
            }
            guid.words[i / 8] |= static_cast<uint32_t>(value) << (28 - (i % 8) * 4);
        }
    }
    if (end) {
        *end = text ? text + i : text;
    }
    return guid;
}

// IdPath ------------------------------------------------------------------------------------

IdPath IdPath::FromId(uint32_t id, uint32_t stopIdSystem) {
    IdPath path;
    path.port = id >> PortShift;
    // Collected innermost first; the path is written outermost first.
    uint32_t collected[MaxIds];
    int count = 0;
    collected[count++] = id & LocalIdMask;

    const IdMap& map = TheIdMap();
    uint32_t system = IdSystemOf(id);
    bool found = true;
    bool tooDeep = false;
    while (system != 0 && system != stopIdSystem) {
        const IdSystem* record = map.GetIdSystem(system);
        if (record && record->HasGuid()) {
            path.guid = record->GetGuid();
            break;
        }
        if (!record || !record->GetRoot()) {
            found = false;
            break;
        }
        if (count == MaxIds) {
            tooDeep = true; // also ends a chain of roots that loops back on itself
            break;
        }
        // The root is the branch node that owns the system; it lives in the enclosing one.
        uint32_t rootId = record->GetRoot()->GetId();
        collected[count++] = rootId & LocalIdMask;
        system = IdSystemOf(rootId);
    }
    if (!found) {
        system = 0;
    }
    if (!tooDeep && id != 0 && system == 0 && stopIdSystem != 0) {
        // A leading 0: counted from id system 0 rather than from the stop system.
        if (count == MaxIds) {
            tooDeep = true;
        } else {
            collected[count++] = 0;
        }
    }
    if (tooDeep) {
        ValidityReport("Id %u lies deeper in branches than an id path can say (%d levels)", id,
                       MaxIds);
        return IdPath();
    }
    for (int i = 0; i < count; ++i) {
        path.ids[i] = collected[count - 1 - i];
    }
    path.count = count;
    return path;
}

std::string IdPath::Format() const {
    std::string text;
    if (!guid.IsZero()) {
        text = "0x" + guid.ToHex();
    }
    for (int i = 0; i < count && i < MaxIds; ++i) {
        if (!text.empty()) {
            text += '.';
        }
        text += std::to_string(ids[i]);
    }
    if (port != 0) {
        text += '-';
        text += std::to_string(port & 0xF);
    }
    return text;
}

bool IdPath::Parse(const char* text) {
    *this = IdPath();
    if (!text) {
        return false;
    }
    const char* p = text;
    if (p[0] == '0' && p[1] == 'x') {
        const char* end = nullptr;
        guid = Guid::FromHex(p + 2, &end);
        if (end - (p + 2) < GuidDigits) {
            guid = Guid(); // a cut-off GUID names no instance
            return false;
        }
        p = end;
        if (*p == '.') {
            ++p;
        }
    }
    if (!IsDigit(*p)) {
        guid = Guid();
        return false;
    }
    // Digits only: ParseUInt32 would also take blanks and a sign.
    ids[0] = ParseUInt32(p, &p);
    count = 1;
    while (*p == '.') {
        ++p;
        uint32_t value = IsDigit(*p) ? ParseUInt32(p, &p) : 0;
        if (count == MaxIds) {
            ValidityReport("The id path \"%.64s\" has more than %d ids", text, MaxIds);
            *this = IdPath();
            return false;
        }
        ids[count++] = value;
    }
    if (*p == '-' && IsDigit(p[1])) {
        port = ParseUInt32(p + 1) & 0xF;
    }
    return true;
}

uint32_t IdPath::ToId() const {
    if (count <= 0 || count > MaxIds) {
        return 0;
    }
    uint32_t system = 0;
    int first = 0;
    if (!guid.IsZero()) {
        int32_t number = TheIdMap().FindSceneByGuid(guid);
        if (number < 0) {
            return 0;
        }
        system = static_cast<uint32_t>(number) << IdSystemShift;
    } else if (count > 1 && ids[0] == 0) {
        first = 1; // a leading 0 counts from id system 0, where the walk starts anyway
    }
    // Each id but the last names the branch whose id system holds the next one.
    for (int i = first; i < count - 1; ++i) {
        Entity* entity = LookupEntity(system | ids[i]);
        if (!entity) {
            return 0;
        }
        system = (entity->GetIdSystem() << IdSystemShift) & IdSystemMask;
    }
    uint32_t id = system | ids[count - 1];
    if ((id & ~PortMask) == 0) {
        return 0;
    }
    return (port & 0xF) << PortShift | id;
}

std::string DescribeEntity(const Entity& entity) {
    const ClassInfo* own = entity.GetClass();
    std::string heading = std::string(own ? own->GetName() : "") + " obj" +
                          IdPath::FromId(entity.GetId(), 0).Format();
    if (!entity.GetName().empty()) {
        heading += " (" + entity.GetName() + ")";
    }
    return heading;
}

} // namespace quarn
