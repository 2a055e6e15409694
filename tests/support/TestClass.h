#pragma once

#include "core/object/ClassInfo.h"
#include "core/object/Entity.h"
#include "core/object/Signals.h"

#include <gtest/gtest.h>
#include <initializer_list>

namespace quarn::test {

// A concrete class registered under Self::Name below Base. Registration is global to the test
// program, so every test class needs a name of its own. Self may add properties and methods in
// a `static void Declare(ClassInfo&)`.
template <class Self, class Base = Entity>
class TestClass : public Base {
public:
    static inline ClassInfo* classInfo = nullptr;

    static ClassInfo* RegisterClass() {
        if (!classInfo) {
            // Lookups by name would find only the first of two.
            EXPECT_EQ(FindClass(Self::Name), nullptr)
                << "two classes are registered as \"" << Self::Name << "\"";
            classInfo = new ClassInfo(
                Self::Name, []() -> Entity* { return new Self; }, &classInfo);
            classInfo->SetParent(Base::RegisterClass());
            if constexpr (requires { Self::Declare(*classInfo); }) {
                Self::Declare(*classInfo);
            }
        }
        return classInfo;
    }
    ClassInfo* GetClass() const override { return classInfo; }

    // Every instance receives these signals through its methods of the same names. Registered
    // once for the program, as each registration delivers the signals once more.
    static void ListenOnce(std::initializer_list<const char*> signals) {
        static bool listening = false;
        if (!listening) {
            for (const char* name : signals) {
                RegisterClassSignal(name, RegisterClass());
            }
            listening = true;
        }
    }
};

} // namespace quarn::test
