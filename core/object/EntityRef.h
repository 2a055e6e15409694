#pragma once

#include <cstdint>
#include <vector>

namespace quarn {

class Entity;
class Referable;
class Resource;

// Bits of an entity id: the local id inside its id system, the id-system number, and (in
// reference values only) the input port an event goes to.
inline constexpr uint32_t LocalIdMask = 0x0000FFFF;
inline constexpr uint32_t IdSystemMask = 0x0FFF0000;
inline constexpr uint32_t PortMask = 0xF0000000;
inline constexpr int IdSystemShift = 16;
inline constexpr int PortShift = 28;

// The entity an id names, or null (id 0, a free or released id, an id system that does not
// exist). Port bits are ignored. Every other part of the engine resolves ids through this.
Entity* LookupEntity(uint32_t id);

// A reference to an entity by id. A reference with a listener is linked into its target's list:
// it follows the target when its id changes and is cleared (listener told) when the target
// goes. A reference without a listener is only an id and resolves afresh on every read, so it
// never hands out a destroyed object.
class EntityRef {
public:
    EntityRef() = default;
    // A reference whose changes are told to `listener`.
    explicit EntityRef(Referable* listener) : listener_(listener) {}
    // Copies the id only: the copy has no listener of its own.
    EntityRef(const EntityRef& other);
    // Takes the other's id; this reference keeps its own listener.
    EntityRef& operator=(const EntityRef& other);
    ~EntityRef();

    // Makes an unlinked reference to `id`.
    void InitFromId(uint32_t id);
    // Points the reference at another id (port bits included); returns the new target.
    Entity* SetId(uint32_t id);

    uint32_t GetId() const { return id_; }
    uint32_t GetPort() const { return id_ >> PortShift; }
    Entity* GetTarget() const;
    Referable* GetListener() const { return listener_; }

private:
    friend class Referable;

    bool IsLinked() const { return target_ != nullptr && listener_ != nullptr; }
    // On a self-reference: takes `reference` out of the list of references to the entity.
    void UnlinkReference(EntityRef* reference);
    // On a self-reference: clears every reference to the entity, telling each listener.
    void DetachAllReferences(Entity* entity);

    uint32_t id_ = 0;
    Entity* target_ = nullptr; // for linked references and self-references
    Referable* listener_ = nullptr;
    EntityRef* next_ = nullptr;
};

// Base of every entity: its own id, kept in the global id map, and the list of linked
// references that point at it.
class Referable {
public:
    Referable();
    virtual ~Referable();
    Referable(const Referable&) = delete;
    Referable& operator=(const Referable&) = delete;

    // The id system that this entity's children and contents belong to: by default its own.
    virtual uint32_t GetIdSystem() const { return (GetId() & IdSystemMask) >> IdSystemShift; }
    // A reference held by this object lost its target (newId 0) or the target moved.
    virtual void OnReferenceChanged(Entity* target, uint32_t newId);
    // A resource this object uses (it is in the resource's user list) changed its data.
    virtual void OnResourceChanged(Resource*, const char* /*argument*/) {}

    uint32_t GetId() const { return self_.id_; }
    // Moves the entity to another id; references to it follow. 0 takes its id away.
    void ChangeId(uint32_t newId);
    // Takes an id from whoever holds it, with every reference to the holder.
    void TakeOverId(uint32_t id);
    // The objects holding linked references to this one (the references' listeners), each
    // once, in the order the references were linked last first.
    std::vector<Referable*> GetReferenceHolders() const;

private:
    friend class EntityRef;

    Entity* Self();
    // Points the references from `head` up to `end` (exclusive) at `entity` under `id`, each
    // keeping its port, then tells their listeners in list order.
    static void Repoint(EntityRef* head, EntityRef* end, Entity* entity, uint32_t id);

    EntityRef self_;
};

} // namespace quarn
