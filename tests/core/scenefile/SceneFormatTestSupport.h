#pragma once

#include "core/io/BufferFile.h"
#include "core/object/ClassInfo.h"
#include "core/object/Entity.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyText.h"
#include "core/object/ValueBinding.h"
#include "core/scenefile/SceneFormat.h"
#include "core/string/FixedString.h"
#include "core/string/TextArena.h"
#include "tests/support/TestClass.h"

#include <array>
#include <cstdint>
#include <map>
#include <string>

namespace quarn::test {

// An object with one property of each kind the scene formats treat apart: a number with a
// default, a quoted text, a text kept in place, and a reference. A custom class, when given,
// keeps its values here as a branch keeps its exposed properties.
class SfThing : public TestClass<SfThing> {
public:
    static constexpr const char* Name = "SfThing";
    static void Declare(ClassInfo& info) {
        Property* count =
            info.AddProperty<PropertyInt, &SfThing::GetCount, &SfThing::SetCount>("count");
        const uint32_t zero = 0;
        count->SetDefault(&zero);
        info.AddProperty<PropertyString, &SfThing::GetLabel, &SfThing::SetLabel>("label");
        info.AddProperty<PropertyString64, &SfThing::GetTag, &SfThing::SetTag>("tag");
        info.AddProperty<PropertyEntity, &SfThing::GetTarget, &SfThing::SetTarget>("target");
    }

    int32_t GetCount() const { return count; }
    void SetCount(int32_t value) { count = value; }
    // Texts pass through words; a long one is kept in the arena so that its word holds it whole.
    const char* GetLabel() const {
        if (label.size() < 1024) {
            return label.c_str();
        }
        if (storedLabel_ != label) {
            storedLabel_ = label;
            storedText_ = LookupText(StoreText(label));
        }
        return storedText_;
    }
    void SetLabel(const char* value) { label = value ? value : ""; }
    String64 GetTag() const { return tag; }
    void SetTag(const String64& value) { tag = value; }
    EntityId GetTarget() const { return target; }
    void SetTarget(EntityId value) { target = value; }

    ClassInfo* GetCustomClass() const override { return custom; }
    void GetPropertyValue(const Property& property, uint32_t* out) const override {
        auto found = customValues.find(&property);
        if (found != customValues.end()) {
            std::copy(found->second.begin(), found->second.end(), out);
        }
    }
    void SetPropertyValue(const Property& property, const uint32_t* value) override {
        std::copy(value, value + property.GetSize() / 4, customValues[&property].begin());
    }

    int32_t count = 0;
    std::string label;
    String64 tag;
    EntityId target;
    ClassInfo* custom = nullptr;
    std::map<const Property*, std::array<uint32_t, MaxValueWords>> customValues;

private:
    mutable std::string storedLabel_;
    mutable const char* storedText_ = "";
};

// A file over the bytes a writer produced; the bytes stay with the file.
class OwnedBufferFile : public BufferFile {
public:
    explicit OwnedBufferFile(std::string bytes) : bytes_(std::move(bytes)) {
        SetData(bytes_.data(), static_cast<uint32_t>(bytes_.size()));
    }

private:
    std::string bytes_;
};

} // namespace quarn::test
