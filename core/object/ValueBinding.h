#pragma once

#include "core/math/Quaternion.h"
#include "core/math/Vector.h"
#include "core/object/EntityRef.h"
#include "core/object/ValueType.h"
#include "core/string/FixedString.h"
#include "core/string/TextArena.h"

#include <cstdint>
#include <cstring>
#include <tuple>
#include <type_traits>
#include <typeinfo>
#include <utility>

// How C++ values travel as 32-bit words, and the typed thunks that let properties and script
// methods reach C++ members through word blocks. Host pointers never enter a word: texts go
// through the text arena and entities by id.

namespace quarn {

class Entity;

// An entity reference as a value: the entity id, port bits included.
struct EntityId {
    uint32_t value = 0;
};

// ValueTraits<T>: the type id, word count and word conversions of one C++ value type.
template <class T>
struct ValueTraits;

template <>
struct ValueTraits<int32_t> {
    static constexpr int32_t Type = TypeInt;
    static constexpr int Words = 1;
    static int32_t Read(const uint32_t* words) { return static_cast<int32_t>(words[0]); }
    static void Write(int32_t value, uint32_t* words) { words[0] = static_cast<uint32_t>(value); }
};

// Colours and flag words are int values whose high bit is data, not a sign.
template <>
struct ValueTraits<uint32_t> {
    static constexpr int32_t Type = TypeInt;
    static constexpr int Words = 1;
    static uint32_t Read(const uint32_t* words) { return words[0]; }
    static void Write(uint32_t value, uint32_t* words) { words[0] = value; }
};

template <>
struct ValueTraits<float> {
    static constexpr int32_t Type = TypeFloat;
    static constexpr int Words = 1;
    static float Read(const uint32_t* words) {
        float value;
        std::memcpy(&value, words, sizeof value);
        return value;
    }
    static void Write(float value, uint32_t* words) { std::memcpy(words, &value, sizeof value); }
};

inline float WordToFloat(uint32_t word) {
    return ValueTraits<float>::Read(&word);
}
inline uint32_t FloatToWord(float value) {
    uint32_t word;
    ValueTraits<float>::Write(value, &word);
    return word;
}

// A bool is a whole int word; any non-zero word is true.
template <>
struct ValueTraits<bool> {
    static constexpr int32_t Type = TypeBool;
    static constexpr int Words = 1;
    static bool Read(const uint32_t* words) { return words[0] != 0; }
    static void Write(bool value, uint32_t* words) { words[0] = value ? 1u : 0u; }
};

// Vectors are their components' words in order (x, y, z, w).
template <class T, int32_t TypeId>
struct PackedValueTraits {
    static constexpr int32_t Type = TypeId;
    static constexpr int Words = sizeof(T) / 4;
    static_assert(std::is_trivially_copyable_v<T> && sizeof(T) % 4 == 0);
    static T Read(const uint32_t* words) {
        T value;
        std::memcpy(static_cast<void*>(&value), words, sizeof value);
        return value;
    }
    static void Write(const T& value, uint32_t* words) { std::memcpy(words, &value, sizeof value); }
};
template <>
struct ValueTraits<Int2> : PackedValueTraits<Int2, TypeInt2> {};
template <>
struct ValueTraits<Int3> : PackedValueTraits<Int3, TypeInt3> {};
template <>
struct ValueTraits<Float2> : PackedValueTraits<Float2, TypeFloat2> {};
template <>
struct ValueTraits<Float3> : PackedValueTraits<Float3, TypeFloat3> {};
template <>
struct ValueTraits<Quaternion> : PackedValueTraits<Quaternion, TypeQuaternion> {};

// A string word names an arena text. A C++ text that is not in the arena is copied into the
// temporary ring (or a long-text slot), where it lives long enough to be read from the word.
template <>
struct ValueTraits<const char*> {
    static constexpr int32_t Type = TypeString;
    static constexpr int Words = 1;
    static const char* Read(const uint32_t* words) { return LookupText(words[0]); }
    static void Write(const char* value, uint32_t* words);
};

// 64 bytes of text in place; the length word of String64 is not part of the value.
template <>
struct ValueTraits<String64> {
    static constexpr int32_t Type = TypeString64;
    static constexpr int Words = 16;
    static String64 Read(const uint32_t* words) {
        char text[64];
        std::memcpy(text, words, sizeof text);
        text[63] = '\0';
        return String64(text);
    }
    static void Write(const String64& value, uint32_t* words) {
        std::memcpy(words, value.text, sizeof value.text);
    }
};

template <>
struct ValueTraits<EntityId> {
    static constexpr int32_t Type = TypeEntity;
    static constexpr int Words = 1;
    static EntityId Read(const uint32_t* words) { return {words[0]}; }
    static void Write(EntityId value, uint32_t* words) { words[0] = value.value; }
};

// An entity argument resolves its id on every call, so a method never sees a destroyed object;
// null for an id that names nothing. Results are written as the entity's id.
template <>
struct ValueTraits<Entity*> {
    static constexpr int32_t Type = TypeEntity;
    static constexpr int Words = 1;
    static Entity* Read(const uint32_t* words) { return LookupEntity(words[0]); }
    static void Write(Entity* value, uint32_t* words);
};

template <class T>
using ValueOf = std::remove_cvref_t<T>;

// Whether a type id that a signature text names fits a C++ value of type id `bound`: entity
// values fit every class type, the two string64 ids are one type.
inline bool TypeFits(int32_t named, int32_t bound) {
    if (named == bound) {
        return true;
    }
    if (bound == TypeEntity) {
        return named == TypeEntity || IsClassType(named);
    }
    return bound == TypeString64 && named == TypeString64Alias;
}

// Property accessors ------------------------------------------------------------------------

// Reads a property's value from an object into words, or writes it from words. Objects of
// another class than the accessor was made for are left alone.
using PropertyGetter = void (*)(const Entity& object, uint32_t* out);
using PropertySetter = void (*)(Entity& object, const uint32_t* value);

template <class>
struct GetterTraits;
template <class C, class R>
struct GetterTraits<R (C::*)() const> {
    using Class = C;
    using Value = ValueOf<R>;
};

template <class>
struct SetterTraits;
template <class C, class A>
struct SetterTraits<void (C::*)(A)> {
    using Class = C;
    using Value = ValueOf<A>;
};

// The object as a C, or null: an object of exactly that type answers without the cast's walk of
// the class hierarchy, which scripts pay on every property and method call otherwise.
template <class C, class E>
C* CastObject(E* object) {
    return typeid(*object) == typeid(C) ? static_cast<C*>(object) : dynamic_cast<C*>(object);
}

// MakeGetter<&Node::GetFlags>(): a getter for a member `R C::F() const`.
template <auto Getter>
PropertyGetter MakeGetter() {
    using Traits = GetterTraits<decltype(Getter)>;
    return [](const Entity& object, uint32_t* out) {
        if (auto* typed = CastObject<const typename Traits::Class>(&object)) {
            ValueTraits<typename Traits::Value>::Write((typed->*Getter)(), out);
        }
    };
}

// MakeSetter<&Node::SetFlags>(): a setter for a member `void C::F(A)`.
template <auto Setter>
PropertySetter MakeSetter() {
    using Traits = SetterTraits<decltype(Setter)>;
    return [](Entity& object, const uint32_t* value) {
        if (auto* typed = CastObject<typename Traits::Class>(&object)) {
            (typed->*Setter)(ValueTraits<typename Traits::Value>::Read(value));
        }
    };
}

// Script methods ----------------------------------------------------------------------------

// Calls a method with an argument block: the result goes to the block's first words, the
// arguments follow from word 1 on (word 0 is the result's place even when it is wider).
// `object` is null for free functions.
using MethodThunk = void (*)(Entity* object, uint32_t* block);

// Calls a method that receives a named signal with the signal's argument: a pointer-sized value
// (an entity, an argument list, an event record) whose meaning the signal's name gives. It
// never travels as words.
using SignalThunk = void (*)(Entity* object, void* argument);

// What a registration binds to a script method: the thunk, and the C++ types it was made from
// so the registry can check them against the signature text. Untyped bindings take the block
// as it is (methods that read their own words) and are not checked. Signal handlers bind a
// signal thunk instead.
struct MethodBinding {
    MethodThunk thunk = nullptr;
    SignalThunk signalThunk = nullptr;
    bool typed = false;
    int32_t returnType = TypeVoid;
    int argumentCount = 0;
    int32_t argumentTypes[16] = {};
};

namespace detail {

template <class... A>
constexpr int WordsBefore(int index) {
    constexpr int words[] = {ValueTraits<ValueOf<A>>::Words..., 0};
    int sum = 0;
    for (int i = 0; i < index; ++i) {
        sum += words[i];
    }
    return sum;
}

template <class R, class... A>
MethodBinding Describe(MethodThunk thunk) {
    static_assert(sizeof...(A) <= 16, "a script method takes at most 16 arguments");
    MethodBinding binding;
    binding.thunk = thunk;
    binding.typed = true;
    if constexpr (!std::is_void_v<R>) {
        binding.returnType = ValueTraits<ValueOf<R>>::Type;
    }
    binding.argumentCount = static_cast<int>(sizeof...(A));
    int i = 0;
    ((binding.argumentTypes[i++] = ValueTraits<ValueOf<A>>::Type), ...);
    return binding;
}

// Calls `call` with the arguments read from the block, and writes its result to word 0.
template <class R, class... A, class Call, size_t... I>
void Invoke(Call&& call, uint32_t* block, std::index_sequence<I...>) {
    const uint32_t* arguments = block + 1;
    if constexpr (std::is_void_v<R>) {
        call(ValueTraits<ValueOf<A>>::Read(arguments + WordsBefore<A...>(I))...);
    } else {
        R result = call(ValueTraits<ValueOf<A>>::Read(arguments + WordsBefore<A...>(I))...);
        ValueTraits<ValueOf<R>>::Write(result, block);
    }
}

template <auto Method, class>
struct MethodMaker;

template <auto Method, class C, class R, class... A>
struct MethodMaker<Method, R (C::*)(A...)> {
    static MethodBinding Make() {
        return Describe<R, A...>([](Entity* object, uint32_t* block) {
            if (auto* typed = CastObject<C>(object)) {
                Invoke<R, A...>(
                    [typed](ValueOf<A>... arguments) { return (typed->*Method)(arguments...); },
                    block, std::index_sequence_for<A...>());
            }
        });
    }
};

template <auto Method, class C, class R, class... A>
struct MethodMaker<Method, R (C::*)(A...) const> {
    static MethodBinding Make() {
        return Describe<R, A...>([](Entity* object, uint32_t* block) {
            if (auto* typed = CastObject<const C>(object)) {
                Invoke<R, A...>(
                    [typed](ValueOf<A>... arguments) { return (typed->*Method)(arguments...); },
                    block, std::index_sequence_for<A...>());
            }
        });
    }
};

template <auto Function, class R, class... A>
struct MethodMaker<Function, R (*)(A...)> {
    static MethodBinding Make() {
        return Describe<R, A...>([](Entity*, uint32_t* block) {
            Invoke<R, A...>([](ValueOf<A>... arguments) { return Function(arguments...); }, block,
                            std::index_sequence_for<A...>());
        });
    }
};

template <auto Method, class C>
struct BlockMethodMaker;

template <auto Method, class C>
struct BlockMethodMaker<Method, void (C::*)(uint32_t*)> {
    static MethodBinding Make() {
        MethodBinding binding;
        binding.thunk = [](Entity* object, uint32_t* block) {
            if (auto* typed = dynamic_cast<C*>(object)) {
                (typed->*Method)(block);
            }
        };
        return binding;
    }
};

template <auto Handler, class C>
struct SignalHandlerMaker;

template <auto Handler, class C>
struct SignalHandlerMaker<Handler, void (C::*)(void*)> {
    static MethodBinding Make() {
        MethodBinding binding;
        binding.signalThunk = [](Entity* object, void* argument) {
            if (auto* typed = dynamic_cast<C*>(object)) {
                (typed->*Handler)(argument);
            }
        };
        return binding;
    }
};

} // namespace detail

// BindMethod<&Pivot::GetPosition>(): a typed binding of a member or free function whose
// parameters and result are value types.
template <auto Method>
MethodBinding BindMethod() {
    return detail::MethodMaker<Method, decltype(Method)>::Make();
}

// BindBlockMethod<&Script::Call>(): a member `void C::F(uint32_t* block)` that reads its
// arguments and writes its result itself.
template <auto Method>
MethodBinding BindBlockMethod() {
    return detail::BlockMethodMaker<Method, decltype(Method)>::Make();
}

// BindSignalHandler<&ClickHandler::OnNodeDeletion>(): a member `void C::F(void* argument)`
// registered under a signal's name.
template <auto Handler>
MethodBinding BindSignalHandler() {
    return detail::SignalHandlerMaker<Handler, decltype(Handler)>::Make();
}

} // namespace quarn
