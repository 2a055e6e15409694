#include "script/nodes/ClickHandler.h"

#include "core/debug/Log.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/NamedConstants.h"
#include "core/object/PropertyScalar.h"
#include "core/object/Signals.h"
#include "core/scene/CameraView.h"
#include "core/scene/Picking.h"
#include "render/RenderObject.h"
#include "script/machine/ScriptApp.h"

#include <cmath>

namespace quarn {

ClassInfo* ClickHandler::classInfo = nullptr;

namespace {

constexpr uint32_t ButtonBits = ClickButton0 | ClickButton2;
// What an entry's ray test is asked for: every kind of object, visible and clickable ones, with
// rays let through hidden faces.
constexpr uint32_t EntryPickFlags =
    PickAnyObject | PickVisibleOnly | PickFaceMasks | PickClickableOnly;
constexpr float NoHitDistance = 1e24f;

RenderObject* AsRenderObject(Entity* entity) {
    Node* node = dynamic_cast<Node*>(entity);
    return node && node->HasFlag(NodeKindRenderObject) ? dynamic_cast<RenderObject*>(node)
                                                       : nullptr;
}

uint64_t SerialOf(const Entity* entity) {
    return entity ? entity->GetSerial() : 0;
}

uint32_t IdOfSerial(uint64_t serial) {
    const Entity* entity = serial ? Entity::FindBySerial(serial) : nullptr;
    return entity ? entity->GetId() : 0;
}

} // namespace

ClickHandler::ClickHandler() = default;

// The list ----------------------------------------------------------------------------------

void ClickHandler::AddClickable(EntityId object, EntityId target, int32_t mask) {
    Entity* found = object.value ? LookupEntity(object.value) : nullptr;
    RenderObject* renderObject = AsRenderObject(found);
    if (object.value && !renderObject) {
        LogChannelMessage("Input", "Did not add clickable object, wrong type");
        return;
    }
    if (renderObject) {
        RemoveClickable(object);
    }
    uint32_t bits = static_cast<uint32_t>(mask);
    if (!(bits & ButtonBits)) {
        bits |= ClickButton0;
    }
    entries_.push_back(
        {SerialOf(renderObject), SerialOf(LookupEntity(target.value)), bits, nextKey_++});
}

void ClickHandler::RemoveClickable(EntityId object) {
    const uint64_t serial = SerialOf(LookupEntity(object.value));
    for (size_t i = 0; serial && i < entries_.size(); ++i) {
        if (entries_[i].object == serial) {
            RemoveEntry(i);
            return;
        }
    }
}

void ClickHandler::RemoveTarget(EntityId target) {
    const uint64_t serial = SerialOf(LookupEntity(target.value));
    for (size_t i = entries_.size(); serial && i-- > 0;) {
        if (entries_[i].target == serial) {
            RemoveEntry(i);
        }
    }
}

void ClickHandler::RemoveAll() {
    entries_.clear();
    current_ = -1;
    lastReport_ = 0;
}

void ClickHandler::RemoveEntry(size_t index) {
    entries_.erase(entries_.begin() + static_cast<ptrdiff_t>(index));
    const auto removed = static_cast<int32_t>(index);
    if (removed < current_) {
        --current_;
    } else if (removed == current_) {
        current_ = -1;
        lastReport_ = 0;
    }
}

int32_t ClickHandler::IndexOfKey(uint32_t key) const {
    for (size_t i = 0; key && i < entries_.size(); ++i) {
        if (entries_[i].key == key) {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

void ClickHandler::OnNodeDeletion(void* argument) {
    const uint64_t serial = SerialOf(static_cast<Entity*>(argument));
    if (!serial) {
        return;
    }
    for (size_t i = entries_.size(); i-- > 0;) {
        if (entries_[i].object == serial || entries_[i].target == serial) {
            RemoveEntry(i);
        }
    }
    if (underMouse_ == serial) {
        underMouse_ = 0;
    }
}

// Queries ------------------------------------------------------------------------------------

bool ClickHandler::IsButtonCaptured(int32_t button) const {
    return button >= 0 && button < 4 && GetScriptApp().GetMouseTag(button) == OwnerName;
}

EntityId ClickHandler::GetObjectUnderMouse() const {
    return {IdOfSerial(underMouse_)};
}

int32_t ClickHandler::PickEntry(Float2 mouse) const {
    CameraView* camera = CurrentCamera;
    if (!camera) {
        return -1;
    }
    Float3 eye;
    Float3 farPoint;
    camera->GetScreenRay(mouse.x, mouse.y, eye, farPoint);
    const Float3 direction = (farPoint - eye).NormalizedOrSelf();
    PickQuery query;
    query.Init(NoHitDistance, EntryPickFlags, 0, 0);
    query.screenPoint = mouse;

    float best = NoHitDistance;
    int32_t chosen = -1;
    for (size_t i = 0; i < entries_.size(); ++i) {
        const uint64_t serial = entries_[i].object;
        if (!serial) {
            if (chosen < 0) {
                chosen = static_cast<int32_t>(i);
                best = NoHitDistance;
            }
            continue;
        }
        RenderObject* object = AsRenderObject(Entity::FindBySerial(serial));
        if (!object || !object->IsVisible() || !object->IsFullyEnabled()) {
            continue;
        }
        query.current = PickHit();
        query.current.node = object;
        query.current.object = object;
        if (object->IntersectRay(eye, direction, query) && query.current.distance < best) {
            best = query.current.distance;
            chosen = static_cast<int32_t>(i);
        }
    }
    return chosen;
}

void ClickHandler::PickUnderMouse(ScriptApp& app) {
    const Float2 mouse = app.GetMousePosition();
    const Int2 view = app.GetViewSize();
    if (!(mouse.x >= 0.0f && mouse.x < float(view.x) && mouse.y >= 0.0f &&
          mouse.y < float(view.y))) {
        return;
    }
    PickQuery query;
    const bool hit = query.PickFromScreen(mouse.x, mouse.y);
    underMouse_ = hit ? SerialOf(AsRenderObject(query.best.node)) : 0;
    pickPoint_ = query.worldHitPoint;
    pickNormal_ = query.best.data;
}

// Reports ------------------------------------------------------------------------------------

bool ClickHandler::Report(const Clickable& entry, uint32_t bits) {
    const uint32_t reported = bits & entry.mask;
    Entity* target = entry.target ? Entity::FindBySerial(entry.target) : nullptr;
    if (reported == 0 || !target) {
        return true;
    }
    uint32_t record[3] = {target->GetId(), IdOfSerial(entry.object), reported};
    const uint64_t self = GetSerial();
    CallEntityMethodWithRecord(target, "click", record);
    return Entity::FindBySerial(self) == this;
}

void ClickHandler::PickNow() {
    const int32_t index = PickEntry(GetScriptApp().GetMousePosition());
    if (index >= 0) {
        Report(entries_[static_cast<size_t>(index)], ClickPick);
    }
}

void ClickHandler::Update(float frameTime, int mode) {
    ScriptApp& app = GetScriptApp();
    PickUnderMouse(app);
    if (mode != UpdateRunning || !CurrentCamera) {
        return;
    }
    const Float2 mouse = app.GetMousePosition();
    const int32_t hoveredIndex = PickEntry(mouse);
    const uint32_t hovered = hoveredIndex >= 0 ? entries_[size_t(hoveredIndex)].key : 0;

    uint32_t released = 0;
    if (current_ >= 0) {
        // A copy: the "click" call may change the list.
        const Clickable entry = entries_[size_t(current_)];
        const bool on0 = (entry.mask & ClickButton0) != 0;
        const bool on2 = (entry.mask & ClickButton2) != 0;
        const bool up0 = on0 && app.MouseWentUpFor(0, OwnerName);
        const bool up2 = on2 && app.MouseWentUpFor(2, OwnerName);
        // A release and a new press in one frame (a quick double click in a slow frame) leave
        // the button down: the release comes first.
        if (!up0 && !up2 &&
            ((on0 && app.MouseIsDownFor(0, OwnerName)) ||
             (on2 && app.MouseIsDownFor(2, OwnerName)))) {
            uint32_t bits = ClickHold | ClickOver;
            if (clickFlags_ & ClickEnableDrag) {
                if (timer_ > 0.0f) {
                    const float dx = mouse.x - pressPosition_.x;
                    const float dy = mouse.y - pressPosition_.y;
                    if (hovered != entry.key || std::sqrt(dx * dx + dy * dy) > pixelLimit_) {
                        timer_ = 0.0f;
                    }
                    timer_ -= frameTime;
                    if (timer_ <= 0.0f) {
                        timer_ = 0.0f;
                        resolved_ = true;
                    }
                }
                if (timer_ == 0.0f) {
                    bits |= ClickDrag;
                }
            }
            lastReport_ = bits;
            Report(entry, bits);
            return;
        }
        if (up0 || up2) {
            uint32_t bits = !resolved_                        ? ClickRelease | ClickClick
                            : (clickFlags_ & ClickEnableDrag) ? ClickRelease | ClickDrop
                                                              : ClickRelease;
            resolved_ = true;
            timer_ = 0.0f;
            bits |= hovered == entry.key ? ClickOver : ClickLeave;
            if (hovered == entry.key) {
                lastReport_ = bits;
            } else {
                current_ = -1;
                lastReport_ = 0;
            }
            // Pressed again after the release, in the same frame (the press this entry took came
            // in an earlier one): that press is taken below, as the next click's, and over the
            // same entry the release goes in the same call.
            const bool pressedAgain = (up0 && app.MouseWentDownFor(0, OwnerName)) ||
                                      (up2 && app.MouseWentDownFor(2, OwnerName));
            bool alive = true;
            if (pressedAgain && current_ >= 0) {
                released = bits;
            } else {
                alive = Report(entry, bits);
            }
            // The buttons are the mouse's, so they go back even when the call deleted this node.
            if (up0) {
                app.SetMouseTag(0, "");
            }
            if (up2) {
                app.SetMouseTag(2, "");
            }
            if (!pressedAgain || !alive) {
                return;
            }
        }
    }

    if (current_ >= 0 && lastReport_ != 0 && hovered != entries_[size_t(current_)].key) {
        const Clickable left = entries_[size_t(current_)];
        const uint32_t bits = (lastReport_ & (ClickEnter | ClickOver)) ? ClickLeave : 0;
        resolved_ = true;
        timer_ = 0.0f;
        current_ = -1;
        lastReport_ = 0;
        if (!Report(left, bits)) {
            return;
        }
    }

    // Found again: the call above may have changed the list.
    const int32_t index = IndexOfKey(hovered);
    uint32_t bits = 0;
    if (index >= 0) {
        const uint32_t mask = entries_[size_t(index)].mask;
        const bool on0 = (mask & ClickButton0) != 0;
        const bool on2 = (mask & ClickButton2) != 0;
        bits = (index == current_ ? ClickOver : ClickEnter) | released;
        // The second press of a double click, a press of button 0 as well, is one here only
        // with double_as_single; a single press in the same frame (a quick double click in a
        // slow frame) is one all the same.
        const bool press0 =
            on0 && (app.MouseWentDownSinglyFor(0, "") ||
                    ((clickFlags_ & ClickDoubleAsSingle) && app.MouseWentDownFor(3, "")));
        const bool press2 = on2 && app.MouseWentDownFor(2, "");
        if (press0 || press2) {
            bits |= ClickPress;
            resolved_ = false;
            if (press0) {
                app.SetMouseTag(0, OwnerName);
            }
            if (press2) {
                app.SetMouseTag(2, OwnerName);
            }
            timer_ = timeLimit_;
            pressPosition_ = mouse;
        }
        // A release with the button down again was an earlier press's.
        if ((on0 && app.MouseWentUpFor(0, OwnerName) && !app.MouseIsDownFor(0, OwnerName)) ||
            (on2 && app.MouseWentUpFor(2, OwnerName) && !app.MouseIsDownFor(2, OwnerName))) {
            bits |= ClickRelease | ClickClick;
            timer_ = 0.0f;
            resolved_ = true;
        }
        current_ = index;
    }
    if (current_ >= 0) {
        lastReport_ = bits;
        Report(entries_[size_t(current_)], bits);
    }
}

// Registration ---------------------------------------------------------------------------------

ClassInfo* ClickHandler::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "ClickHandler", []() -> Entity* { return new ClickHandler(); }, &classInfo);
    classInfo->SetParent(Node::RegisterClass());
    classInfo->SetCategory("Input");
    classInfo->SetFlags(classInfo->GetFlags() | ClassUpdateWhileStopped);
    using C = ClickHandler;
    classInfo->AddProperty<PropertyBitfield, &C::GetClickFlags, &C::SetClickFlags>(
        "clickflags:unfold,enabledrag,double_as_single");
    classInfo->AddProperty<PropertyFloat, &C::GetTimeLimit, &C::SetTimeLimit>("clicktimelimit");
    classInfo->AddProperty<PropertyFloat, &C::GetPixelLimit, &C::SetPixelLimit>("clickpixellimit");

    // Script-visible under generated names: the order is fixed (compiled scripts hold them).
    classInfo->AddMethod(NextShortName(), "(RenderObject, Node, int)",
                         BindMethod<&C::AddClickable>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(RenderObject)", BindMethod<&C::RemoveClickable>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(Node)", BindMethod<&C::RemoveTarget>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "()", BindMethod<&C::RemoveAll>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(int):bool", BindMethod<&C::IsButtonCaptured>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():RenderObject", BindMethod<&C::GetObjectUnderMouse>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():float3", BindMethod<&C::GetPickPoint>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():float3", BindMethod<&C::GetPickNormal>(),
                         MethodScript);
    // Stored scenes and compiled scripts know this signature text as it stands; it reads as
    // no arguments and no result.
    classInfo->AddMethod(NextShortName(), ")", BindMethod<&C::PickNow>(), MethodScript);
    classInfo->AddMethod("nodedeletion", "(entity)", BindSignalHandler<&C::OnNodeDeletion>(),
                         MethodClassSignal);
    for (uint32_t bit : {0x1u, 0x2u, 0x4u, 0x8u, 0x20u, 0x40u, 0x80u, 0x100u, 0x200u, 0x400u,
                         0x800u, 0x1000u, 0x0u, 0x2u, 0x1u}) {
        RegisterNamedConstant(NextShortName(), static_cast<int32_t>(bit));
    }
    RegisterClassSignal("nodedeletion", classInfo);
    return classInfo;
}

} // namespace quarn
