#include "core/scenefile/CustomDeclarations.h"

#include "core/io/OutputStream.h"
#include "core/io/Tokenizer.h"
#include "core/object/ClassInfo.h"
#include "core/object/Property.h"
#include "core/object/ValueType.h"
#include "core/string/Text.h"

#include <memory>
#include <string>
#include <vector>

namespace quarn {

bool ReadCustomDeclarations(Tokenizer* tokenizer, File& stream, ClassInfo** slot) {
    if (!slot) {
        return true;
    }
    if (!*slot) {
        // "custom" records stay out of the class list; the slot is their holder.
        *slot = new ClassInfo("custom", nullptr, slot);
    }
    ClassInfo& custom = **slot;
    for (const auto& property : custom.GetOwnProperties()) {
        property->SetStateFlags(property->GetStateFlags() | PropertyStale);
    }
    Tokenizer temporary;
    Tokenizer& tokens = tokenizer ? *tokenizer : temporary;

    int32_t kind = tokens.Next(stream);
    while (kind == TokenIdentifier) {
        const int32_t propertyKind = GetPropertyKindByName(tokens.GetText().c_str());
        kind = tokens.Next(stream);
        if (propertyKind < 0) {
            continue; // an unknown type name; the new token may be the next one
        }
        if (kind != TokenIdentifier) {
            break;
        }
        const std::string name = tokens.GetText();
        Property* declared = nullptr;
        for (const auto& own : custom.GetOwnProperties()) {
            if (CompareNoCase(own->GetName(), name.c_str()) == 0) {
                declared = own.get();
                break;
            }
        }
        // A class reference's descriptor answers the reference kind; its value type names
        // the class.
        const bool sameKind =
            declared &&
            (declared->GetKind() == propertyKind ||
             (propertyKind >= ClassTypeBase && declared->GetValueType() == propertyKind));
        if (sameKind) {
            declared->SetStateFlags(declared->GetStateFlags() & ~PropertyStale);
        } else {
            if (declared) {
                custom.RemoveProperty(name.c_str());
            }
            // Kinds without a descriptor class (int3, vref) declare nothing.
            std::unique_ptr<Property> made = propertyKind >= ClassTypeBase
                                                 ? CreateProperty(propertyKind)
                                                 : CreatePropertyByKind(propertyKind);
            declared = nullptr;
            if (made) {
                made->Setup(name.c_str(), "", nullptr, nullptr);
                declared = custom.AddPropertyObject(std::move(made));
            }
        }
        kind = tokens.Next(stream);
        if (kind == '<') {
            kind = tokens.Next(stream);
            if (kind == TokenString) {
                if (declared) {
                    const std::string range = tokens.GetText();
                    const std::string ownName = declared->GetName();
                    declared->Setup(ownName.c_str(), range.c_str(), nullptr, nullptr);
                }
                kind = tokens.Next(stream);
            }
            if (kind == '>') {
                kind = tokens.Next(stream);
            }
        }
    }

    std::vector<std::string> stale;
    for (const auto& property : custom.GetOwnProperties()) {
        if (property->GetStateFlags() & PropertyStale) {
            stale.push_back(property->GetName());
        }
    }
    for (const std::string& name : stale) {
        custom.RemoveProperty(name.c_str());
    }
    return true;
}

void WriteCustomDeclarations(OutputStream& stream, const ClassInfo& customClass) {
    for (const auto& property : customClass.GetOwnProperties()) {
        const char* type = GetTypeName(property->GetValueType());
        if (*property->GetRange()) {
            stream.Printf("%s %s <\"%s\">\n", type, property->GetName(), property->GetRange());
        } else {
            stream.Printf("%s %s\n", type, property->GetName());
        }
    }
}

} // namespace quarn
