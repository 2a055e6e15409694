#include "core/object/PropertyText.h"

#include "core/debug/Validity.h"
#include "core/object/Entity.h"
#include "core/object/ValueBinding.h"
#include "core/string/TextArena.h"

#include <cstring>
#include <string_view>

namespace quarn {

namespace {

int Order(int comparison) {
    return comparison < 0 ? -1 : (comparison > 0 ? 1 : 0);
}

// The text in a string64 value, which need not be terminated when it came from outside.
std::string_view String64Text(const uint32_t* value) {
    const char* text = reinterpret_cast<const char*>(value);
    return std::string_view(text, strnlen(text, PropertyString64::Capacity - 1));
}

} // namespace

void ValueTraits<const char*>::Write(const char* value, uint32_t* words) {
    TextWord word = TextWordOf(value);
    if (word != 0 || !value) {
        words[0] = word;
        return;
    }
    const char* copy = PutTempString(value);
    ValidityCheck(copy != nullptr, "A text of %zu bytes is too long to pass on as a value",
                  std::strlen(value));
    words[0] = TextWordOf(copy);
}

// PropertyString ----------------------------------------------------------------------------

int PropertyString::ValuesDiffer(const uint32_t* a, const uint32_t* b) const {
    if (a[0] == b[0]) {
        return 0;
    }
    return Order(std::strcmp(LookupText(a[0]), LookupText(b[0])));
}

int PropertyString::CopyValue(const uint32_t* source, uint32_t* destination) const {
    destination[0] = source[0];
    return 4;
}

int PropertyString::GetStorageSize(const uint32_t* value) const {
    return static_cast<int>(std::strlen(LookupText(value[0]))) + 1;
}

int PropertyString::StoreText(const uint32_t* value, char* buffer) const {
    const char* text = LookupText(value[0]);
    const size_t size = std::strlen(text) + 1;
    std::memcpy(buffer, text, size);
    return static_cast<int>(size);
}

std::string PropertyString::Print(const uint32_t* value) const {
    return LookupText(value[0]);
}

void PropertyString::Parse(const char* text, uint32_t* value) const {
    ValueTraits<const char*>::Write(text, value);
}

// PropertyResource --------------------------------------------------------------------------

std::vector<std::string> PropertyResource::GetLoadableExtensions() const {
    if (loads_) {
        return loads_();
    }
    return *GetRange() ? std::vector<std::string>{GetRange()} : std::vector<std::string>{};
}

// PropertyString64 --------------------------------------------------------------------------

int PropertyString64::ValuesDiffer(const uint32_t* a, const uint32_t* b) const {
    if (a == b) {
        return 0;
    }
    return Order(String64Text(a).compare(String64Text(b)));
}

std::string PropertyString64::Print(const uint32_t* value) const {
    return std::string(String64Text(value));
}

void PropertyString64::Parse(const char* text, uint32_t* value) const {
    char bytes[Capacity] = {};
    if (text) {
        std::memcpy(bytes, text, strnlen(text, Capacity - 1));
    }
    std::memcpy(value, bytes, Capacity);
}

} // namespace quarn
