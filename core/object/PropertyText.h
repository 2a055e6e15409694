#pragma once

#include "core/object/Property.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quarn {

// A text kept elsewhere: the value is one text-arena word (ValueBinding.h), never an address.
class PropertyString : public Property {
public:
    PropertyString() : Property(TypeString) {}

    // The ordering of the two texts (-1, 0, 1); 0 for the same word.
    int ValuesDiffer(const uint32_t* a, const uint32_t* b) const override;
    int CopyValue(const uint32_t* source, uint32_t* destination) const override;
    // Length + 1 (1 for no text).
    int GetStorageSize(const uint32_t* value) const override;
    int StoreText(const uint32_t* value, char* buffer) const override;
    std::string Print(const uint32_t* value) const override;
    // The word of the text itself when it lies in the arena; else of a copy in the temporary
    // ring, which lasts until the ring wraps (keep it with ::StoreText to hold it longer).
    void Parse(const char* text, uint32_t* value) const override;
    int32_t GetKind() const override { return KindString; }
};

// The extensions (no dot, any case) of the files a resource class loads.
using LoadableExtensions = std::vector<std::string> (*)();

// The name of a resource file; the range text names the kind of file offered ("texture:bmp").
class PropertyResource : public PropertyString {
public:
    // `loads` is the list of the resource the property names, where it loads more than files of
    // the range's kind.
    explicit PropertyResource(LoadableExtensions loads = nullptr) : loads_(loads) {}
    int32_t GetKind() const override { return KindResource; }
    // What the editor offers for it: the resource's list, else the range's kind alone.
    std::vector<std::string> GetLoadableExtensions() const;

private:
    LoadableExtensions loads_;
};

// Up to 63 characters in the 16 words of the value itself; longer texts are cut.
class PropertyString64 : public Property {
public:
    static constexpr size_t Capacity = 64;

    PropertyString64() : Property(TypeString64) {}

    int ValuesDiffer(const uint32_t* a, const uint32_t* b) const override;
    std::string Print(const uint32_t* value) const override;
    // Fills all 64 bytes: the text, cut to 63 characters, then zeros.
    void Parse(const char* text, uint32_t* value) const override;
    int32_t GetKind() const override { return KindString64; }
};

} // namespace quarn
