#include "script/machine/ScriptLibrary.h"

#include "audio/AudioSystem.h"
#include "audio/SoundCaptureBuffer.h"
#include "core/debug/Log.h"
#include "core/debug/Validity.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/GameSettings.h"
#include "core/filesystem/ScriptFileAccess.h"
#include "core/filesystem/SettingsFile.h"
#include "core/io/File.h"
#include "core/math/Color.h"
#include "core/math/Intersection.h"
#include "core/math/Matrix4.h"
#include "core/math/Quaternion.h"
#include "core/math/Random.h"
#include "core/math/Vector.h"
#include "core/object/ClassInfo.h"
#include "core/object/Entity.h"
#include "core/object/EntityRef.h"
#include "core/object/IdMap.h"
#include "core/object/IdPath.h"
#include "core/object/MethodInfo.h"
#include "core/object/NamedConstants.h"
#include "core/object/Signals.h"
#include "core/object/ValueBinding.h"
#include "core/os/Dialogs.h"
#include "core/os/EngineWork.h"
#include "core/os/FrameWaits.h"
#include "core/scene/EngineState.h"
#include "core/scene/Node.h"
#include "core/scene/NodeSignals.h"
#include "core/scene/Picking.h"
#include "core/scene/SignalReceiver.h"
#include "core/scenefile/NodeCloning.h"
#include "core/scenefile/SceneCompactFormat.h"
#include "core/scenefile/SceneFormat.h"
#include "core/scenefile/SceneLoader.h"
#include "core/scenefile/SceneSaver.h"
#include "core/string/NumberText.h"
#include "core/string/Text.h"
#include "core/string/TextArena.h"
#include "device/Shader.h"
#include "render/Camera.h"
#include "render/RenderObject.h"
#include "resources/EffectShader.h"
#include "resources/ResourceRegistry.h"
#include "script/machine/ScriptApp.h"
#include "script/machine/ScriptContext.h"
#include "script/machine/ScriptDebugHooks.h"
#include "script/machine/ScriptHandles.h"
#include "script/machine/ScriptNode.h"
#include "script/machine/ScriptNoise.h"
#include "script/machine/ScriptOperators.h"
#include "script/machine/ScriptResource.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <pwd.h>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace quarn {

namespace {

ScriptApp defaultApp;
ScriptApp* installedApp = nullptr;

int firstIndex = -1;
std::string constantName;

// Library state shared by every script.
std::unique_ptr<File> currentFile;
int listedEntries = 0;
HandleTable<File> openFiles;
HandleTable<uint32_t> textWindows;
std::vector<uint32_t> dataArray;
// A script sizing the shared array past this is refused rather than exhausting memory.
constexpr int32_t MaxDataArrayWords = 16 * 1024 * 1024;
PickQuery rayPick;
uint32_t unreadFlags = 0;

const char* Temp(const std::string& text) {
    return PutTempString(text);
}

// Charges the running script for reading a text of that length whole; false, with the
// function's runtime error to come, for a text longer than a script's text may be.
bool ChargeText(const char* function, size_t length) {
    return ChargeTextWork(function, length, length);
}
bool ReadText(const char* function, const char* text) {
    return ChargeText(function, std::strlen(text));
}
// A text whose length the script or the user decides, given to the script: charged as made;
// over the limit, the function's runtime error to come and the empty text.
const char* MadeText(const char* function, const std::string& text) {
    return Temp(ChargeText(function, text.size()) ? text : std::string());
}

// Where the running script stands, for the validity hook and the assertion: its node's
// description and its current source line.
std::string DescribeRunningScript(Script*& script) {
    ScriptContext* context = GetCurrentScriptContext();
    script = context ? context->GetCurrentInstance() : nullptr;
    return script ? std::string(script->GetDescriptionText()) : std::string();
}

bool DebuggerAttached() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("TracerPid:", 0) == 0) {
            return ParseInt32(line.c_str() + 10) != 0;
        }
    }
    return false;
}

// What the validity box offers for a running script. The editor with its script debugger offers
// the four choices in their order; without one (the player, the tools, the editor's standalone
// play) nothing could resume a stopped script, so it offers going on first (the choice a run
// without a display takes), and the native debugger only while one is attached.
enum class ValidityChoice { DebugScript, DebugNative, Terminate, Ignore };

std::vector<ValidityChoice> OfferedValidityChoices() {
    if (EditorRunning && ScriptDebuggerCanResume()) {
        return {ValidityChoice::DebugScript, ValidityChoice::DebugNative, ValidityChoice::Terminate,
                ValidityChoice::Ignore};
    }
    std::vector<ValidityChoice> offered = {ValidityChoice::Ignore, ValidityChoice::Terminate};
    if (DebuggerAttached()) {
        offered.push_back(ValidityChoice::DebugNative);
    }
    return offered;
}

const char* ValidityChoiceLabel(ValidityChoice choice) {
    switch (choice) {
    case ValidityChoice::DebugScript:
        return "Debug script";
    case ValidityChoice::DebugNative:
        return "Debug c++";
    case ValidityChoice::Terminate:
        return "Terminate script";
    case ValidityChoice::Ignore:
        break;
    }
    return "Ignore";
}

bool ScriptValidityHook(const char* message) {
    Script* script = nullptr;
    const std::string name = DescribeRunningScript(script);
    if (!script) {
        return false;
    }
    const std::string text = FormatClassic("Script \"%s\" Line %d: %s\n.", name.c_str(),
                                           script->GetCurrentLine(), message);
    const std::vector<ValidityChoice> offered = OfferedValidityChoices();
    std::string buttons;
    for (ValidityChoice choice : offered) {
        buttons.append(buttons.empty() ? "" : "#").append(ValidityChoiceLabel(choice));
    }
    const int answer =
        ShowChoiceBox("Invalid parameter during script execution", text.c_str(), buttons.c_str());
    const ValidityChoice choice = answer >= 0 && size_t(answer) < offered.size()
                                      ? offered[size_t(answer)]
                                      : ValidityChoice::Ignore;
    // The dialog may have run anything; the script is looked up again by its serial.
    const uint64_t serial = script->GetSerial();
    switch (choice) {
    case ValidityChoice::DebugScript:
        if (GameRunning) {
            GamePaused = true;
        }
        if (Entity::FindBySerial(serial)) {
            script->SetRunState(ScriptDebug);
        }
        break;
    case ValidityChoice::DebugNative:
        if (DebuggerAttached()) {
            std::raise(SIGTRAP);
        } else {
            LogChannelMessage("script", "no native debugger attached; going on as Ignore");
        }
        break;
    case ValidityChoice::Terminate:
        if (Entity::FindBySerial(serial)) {
            script->SetRunState(ScriptTerminateRequested);
        }
        break;
    case ValidityChoice::Ignore:
        break;
    }
    return true;
}

// Arithmetic ---------------------------------------------------------------------------------

float MaxFloat(float a, float b) {
    return b >= a ? b : a;
}
float MinFloat(float a, float b) {
    return b <= a ? b : a;
}
int32_t MaxInt(int32_t a, int32_t b) {
    return b >= a ? b : a;
}
int32_t MinInt(int32_t a, int32_t b) {
    return b <= a ? b : a;
}
float Cosine(float a) {
    return std::cos(a);
}
float Sine(float a) {
    return std::sin(a);
}
float Tangent(float a) {
    return std::tan(a);
}
float ArcTangent(float a) {
    return std::atan(a);
}
float AngleOf(float a, float b) {
    return SignedAngle2D(Float2{1.0f, 0.0f}, Float2{b, a});
}
float ArcCosine(float a) {
    return std::acos(a);
}
float ArcSine(float a) {
    return std::asin(a);
}
// The smallest int is its own absolute value, as the wrapping machine word gives it.
int32_t AbsInt(int32_t a) {
    return a < 0 ? static_cast<int32_t>(0u - static_cast<uint32_t>(a)) : a;
}
float AbsFloat(float a) {
    return std::fabs(a);
}
float SquareRoot(float a) {
    return std::sqrt(a);
}
int32_t RandomInt(int32_t a) {
    return a < 1 ? 0 : RandomNumber() % a;
}
float RandomUnit() {
    return static_cast<float>(RandomNumber()) / 32767.0f;
}
float Noise(float a) {
    return Noise1D(a);
}
float Fractal(float a, int32_t octaves, float persistence) {
    return FractalNoise1D(a, octaves, persistence);
}
float Round(float a) {
    return std::floor(a + 0.5f);
}
float Floor(float a) {
    return std::floor(a);
}
float Ceiling(float a) {
    return std::ceil(a);
}
float Sign(float a) {
    return a >= 0.0f ? 1.0f : -1.0f;
}
float Clamp(float a, float low, float high) {
    const float v = low > a ? low : a;
    return high < v ? high : v;
}
float Lerp(float a, float b, float t) {
    return a + (b - a) * t;
}
float Power(float a, float b) {
    return std::pow(a, b);
}
int32_t FloatToInt(float a) {
    return ScriptFloatToInt(a);
}
float IntToFloat(int32_t a) {
    return static_cast<float>(a);
}
int32_t TextToInt(const char* a) {
    return ReadText("TextToInt", a) ? ParseInt32(a) : 0;
}
float TextToFloat(const char* a) {
    return ReadText("TextToFloat", a) ? ParseFloat(a) : 0.0f;
}

// Text forms ---------------------------------------------------------------------------------

const char* IntText(int32_t a) {
    return Temp(FormatClassic("%d", a));
}
const char* FloatText(float a) {
    return Temp(FormatClassic("%f", static_cast<double>(a)));
}
const char* EntityPathText(EntityId a) {
    return Temp(IdPath::FromId(a.value, 0).Format());
}
const char* Float3Text(Float3 a) {
    return Temp(FormatClassic("(%f,%f,%f)", static_cast<double>(a.x), static_cast<double>(a.y),
                              static_cast<double>(a.z)));
}
// "(x,y,z)": each part after its separator; a missing one reads 0, and so does every part of
// the empty text.
Float3 TextToFloat3(const char* a) {
    Float3 result;
    if (!*a || !ReadText("TextToFloat3", a)) {
        return result;
    }
    result.x = ParseFloat(a + 1);
    const char* comma = std::strchr(a, ',');
    if (comma) {
        result.y = ParseFloat(comma + 1);
        comma = std::strchr(comma + 1, ',');
        if (comma) {
            result.z = ParseFloat(comma + 1);
        }
    }
    return result;
}
Float3 Float2To3(Float2 a) {
    return {a.x, a.y, 0.0f};
}
// Its result is the first two words of its argument as they stand.
void Float3To2(Entity*, uint32_t* block) {
    block[0] = block[1];
    block[1] = block[2];
}

// Messages and assertions --------------------------------------------------------------------

void Print(const char* a) {
    if (!ReadText("Print", a)) {
        return;
    }
    ScriptContext* context = GetCurrentScriptContext();
    Script* script = context ? context->GetCurrentInstance() : nullptr;
    LogAtPosition("script", script ? script->GetId() : 0u, "%s", a);
    std::fputs(a, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
void Message(const char* a) {
    if (ReadText("Message", a)) {
        ShowMessageBox(a, "Script message", MessageBoxOk);
    }
}
void Assert(bool condition, const char* message) {
    if (condition || !ReadText("Assert", message)) {
        return;
    }
    Script* script = nullptr;
    const std::string name = DescribeRunningScript(script);
    if (!script) {
        ShowMessageBox("<unknown script and address>", "Assertion failed", MessageBoxOk);
        return;
    }
    const uint64_t serial = script->GetSerial();
    const std::string text = FormatClassic("Script \"%s\" Line %d\n%s\nTerminate script?",
                                           name.c_str(), script->GetCurrentLine(), message);
    if (ShowMessageBox(text.c_str(), "Assertion failed", MessageBoxYesNo | MessageBoxIconError) ==
            DialogYes &&
        Entity::FindBySerial(serial)) {
        script->SetRunState(ScriptTerminateRequested);
    }
}
void Nothing() {}

// Strings ------------------------------------------------------------------------------------

int32_t Length(const char* a) {
    const size_t length = std::strlen(a);
    return ChargeText("Length", length) ? static_cast<int32_t>(length) : 0;
}
// Whether byte `index` lies in the text, looked for no further than that byte and charged to
// the running script as such.
bool InsideText(const char* function, const char* text, int32_t index) {
    if (index < 0) {
        return false;
    }
    const size_t seen = strnlen(text, static_cast<size_t>(index) + 1);
    ChargeTextWork(function, 0, seen);
    return seen > static_cast<size_t>(index);
}
int32_t ByteAt(const char* a, int32_t b) {
    return InsideText("ByteAt", a, b) ? static_cast<uint8_t>(a[b]) : 0;
}
// Writes into the script's own text (a literal or a ring text), never past its end.
void SetByteAt(Entity*, uint32_t* block) {
    const char* text = LookupText(block[1]);
    const auto index = static_cast<int32_t>(block[2]);
    if (InsideText("SetByteAt", text, index)) {
        const_cast<char*>(text)[index] = static_cast<char>(block[3] & 0xFF);
    }
}
const char* CharText(int32_t a) {
    const char text[2] = {static_cast<char>(a & 0xFF), '\0'};
    return Temp(text);
}
int32_t Find(const char* a, const char* b) {
    const size_t length = std::strlen(a);
    const size_t wanted = std::strlen(b);
    if (!ChargeTextWork("Find", std::max(length, wanted), length + wanted)) {
        return -1;
    }
    const char* at = std::strstr(a, b);
    return at ? static_cast<int32_t>(at - a) : -1;
}
const char* Substring(const char* a, int32_t start, int32_t count) {
    if (start < 0 || count < 0 || (start > 0 && !InsideText("Substring", a, start - 1))) {
        return Temp("");
    }
    // Only the part taken is read and copied.
    const size_t part = strnlen(a + start, static_cast<size_t>(count));
    if (!ChargeTextWork("Substring", part, 2 * part)) {
        return Temp("");
    }
    return Temp(std::string(a + start, part));
}

// Quaternions and vectors --------------------------------------------------------------------

Quaternion AboutX(float a) {
    return {std::sin(-a / 2), 0.0f, 0.0f, std::cos(-a / 2)};
}
Quaternion AboutY(float a) {
    return {0.0f, std::sin(-a / 2), 0.0f, std::cos(-a / 2)};
}
Quaternion AboutZ(float a) {
    return {0.0f, 0.0f, std::sin(-a / 2), std::cos(-a / 2)};
}
Float3 RandomDirection() {
    const float x = RandomRange(-1.0f, 1.0f);
    const float y = RandomRange(-1.0f, 1.0f);
    const float z = RandomRange(-1.0f, 1.0f);
    return Float3{x, y, z}.NormalizedOrSelf();
}
Quaternion FromEuler(Float3 a) {
    return Quaternion::FromEuler(a);
}
Quaternion FromRotationVector(Float3 a) {
    const float angle = a.Length();
    const Float3 axis = angle != 0.0f ? a * (1.0f / angle) : a;
    return Quaternion::FromAxisAngle(angle, axis);
}
Quaternion FromRows(Float3 a, Float3 b, Float3 c) {
    const float rows[3][4] = {{a.x, a.y, a.z, 0.0f}, {b.x, b.y, b.z, 0.0f}, {c.x, c.y, c.z, 0.0f}};
    Matrix4 matrix;
    matrix.FromMatrix3x4(rows);
    return Quaternion::FromMatrix(matrix);
}
Float2 Intersect(Float2 a, Float2 b, Float2 c, Float2 d) {
    const Float2 ab{b.x - a.x, b.y - a.y};
    float t = 0.0f;
    float s = 0.0f;
    if (!SegmentIntersect2D(a, ab, c, Float2{d.x - c.x, d.y - c.y}, t, s)) {
        return {};
    }
    return {a.x + ab.x * t, a.y + ab.y * t};
}

// Mouse --------------------------------------------------------------------------------------

bool IsButton(int32_t button) {
    return button >= 0 && button <= 3;
}
bool HasMouse() {
    return GetScriptApp().HasMouse();
}
Float2 MousePosition() {
    return GetScriptApp().GetMousePosition();
}
Float2 MouseDelta() {
    return GetScriptApp().GetMouseDelta();
}
int32_t MouseWheel() {
    return GetScriptApp().GetMouseWheel();
}
bool ButtonWentDown(int32_t a) {
    return IsButton(a) && GetScriptApp().MouseWentDown(a);
}
bool ButtonClicked(int32_t a) {
    return IsButton(a) && GetScriptApp().MouseClicked(a);
}
bool ButtonHeld(int32_t a) {
    return IsButton(a) && GetScriptApp().MouseIsDown(a);
}
bool ButtonWentUp(int32_t a) {
    return IsButton(a) && GetScriptApp().MouseWentUp(a);
}
void SetButtonTag(int32_t a, const char* b) {
    if (IsButton(a) && ReadText("SetButtonTag", b)) {
        GetScriptApp().SetMouseTag(a, b);
    }
}
void ClearButtonTag(int32_t a) {
    if (IsButton(a)) {
        GetScriptApp().SetMouseTag(a, "");
    }
}
bool ButtonTagged(int32_t a) {
    return IsButton(a) && !GetScriptApp().GetMouseTag(a).empty();
}
const char* ButtonTag(int32_t a) {
    return MadeText("ButtonTag", IsButton(a) ? GetScriptApp().GetMouseTag(a) : std::string());
}
void ShowCursor(bool a) {
    GetScriptApp().ShowCursor(a);
}
void MoveCursor(Float2 a) {
    GetScriptApp().SetMousePosition(ScriptFloatToInt(a.x), ScriptFloatToInt(a.y));
}

// Nodes, scenes and events -------------------------------------------------------------------

void CallLoaded(Node* node) {
    if (node) {
        CallMethodInSubtree(node, "loaded", nullptr, false);
    }
}

Entity* NewObject(const char* a) {
    Entity* object = ReadText("NewObject", a) ? CreateInstanceByClassName(a) : nullptr;
    if (!object) {
        return nullptr;
    }
    object->OnCreate();
    const uint64_t serial = object->GetSerial();
    const uint32_t id = TheIdMap().GetFreeLocalId(0);
    if (id == 0) {
        // An object no id names could never be found again.
        object->Delete();
        return nullptr;
    }
    object->ChangeId(id);
    if (auto* node = dynamic_cast<Node*>(object)) {
        CallLoaded(node);
    }
    return Entity::FindBySerial(serial) ? object : nullptr;
}
Entity* Copy(Entity* a) {
    auto* node = dynamic_cast<Node*>(a);
    size_t copied = 0;
    Node* copy = node ? CloneNode(*node, false, false, false, &copied) : nullptr;
    if (!copy) {
        return nullptr;
    }
    // The copy holds every text of the subtree anew: charged as texts handed to the engine, by
    // the size of the scene text it was made from.
    if (ScriptContext* context = GetCurrentScriptContext()) {
        context->ChargeSteps(copied / ScriptHandedTextBytesPerStep);
    }
    const uint64_t serial = copy->GetSerial();
    CallLoaded(copy);
    return Entity::FindBySerial(serial) ? copy : nullptr;
}
Entity* LoadScene(const char* a, Entity* b, bool c) {
    if (!ReadText("LoadScene", a) || !ScriptMayReach("LoadScene", a)) {
        return nullptr;
    }
    auto* parent = dynamic_cast<Node*>(b);
    const uint64_t parentSerial = parent ? parent->GetSerial() : 0;
    // A compact file is read as such, as the editor and the tools read it.
    const uint32_t compact = IsCompactSceneName(a) ? SceneCompact : 0u;
    Node* root = LoadSceneFile(a, 0, (c ? 0x8001u : 1u) | compact, parent, nullptr, nullptr);
    const uint32_t id = root ? root->GetId() : 0;
    if (parent) {
        if (Entity::FindBySerial(parentSerial)) {
            CallLoaded(parent);
        }
    } else {
        CallLoaded(root);
    }
    return LookupEntity(id);
}
// The file is one tree, the node at its root, whatever c asks: without the node its children
// were top-level objects naming a parent the file lacks, which every load refused or dropped.
void SaveScene(const char* a, Entity* b, bool, bool d) {
    auto* node = dynamic_cast<Node*>(b);
    if (node && ReadText("SaveScene", a) && ScriptMayReach("SaveScene", a)) {
        const uint32_t flags = 3u | SceneWriteRoot | (d ? SceneScrambled : 0u);
        SaveSceneFile(a, *node, (node->GetId() & IdSystemMask) >> IdSystemShift, flags);
    }
}
// Through the events' own road, so that a receiver sending on (to itself, say) meets the same
// bound on their nesting as any other cascade.
void Deliver(Entity* target, Entity* sender, Entity* other, uint32_t targetId, float value) {
    if (!target) {
        return;
    }
    EntityRef from;
    from.InitFromId(sender ? sender->GetId() : 0);
    EntityRef to;
    to.InitFromId(targetId);
    Entity::SendEvent(from, to, other, value);
}
void SendEvent(Entity* a, float b) {
    Deliver(a, nullptr, nullptr, a ? a->GetId() : 0, b);
}
void SendEventFrom(Entity* a, Entity* b, Entity* c, float d) {
    Deliver(a, b, c, a ? a->GetId() : 0, d);
}
void SendEventToPort(Entity* a, int32_t b, float c) {
    const uint32_t id = a ? (a->GetId() & 0x0FFFFFFFu) | (static_cast<uint32_t>(b) << 28) : 0;
    Deliver(a, nullptr, nullptr, id, c);
}
void FireSignal(const char* a, float b) {
    if (!ReadText("FireSignal", a)) {
        return;
    }
    EventRecord event;
    event.value = b;
    // Each receiver of the name is looked at, as a node of a walk is.
    ChargeNodesVisited(uint64_t(SignalReceiver::Trigger(a, event)));
}
void CallMethod(Entity* a, const char* b) {
    if (ReadText("CallMethod", b) && ValidityCheck(a != nullptr, "Entity is none")) {
        CallEntityMethod(a, b, nullptr);
    }
}
void CallMethodInTree(Entity* a, const char* b) {
    if (!ReadText("CallMethodInTree", b) || !ValidityCheck(a != nullptr, "Entity is none")) {
        return;
    }
    if (auto* node = dynamic_cast<Node*>(a)) {
        CallMethodInSubtree(node, b, nullptr, false);
    } else {
        CallEntityMethod(a, b, nullptr);
    }
}
void Start(Entity* a) {
    auto* node = dynamic_cast<Node*>(a);
    if (!node) {
        return;
    }
    const uint64_t serial = node->GetSerial();
    CallMethodInSubtree(node, "quarn_start", nullptr, false);
    if (Entity::FindBySerial(serial)) {
        CallMethodInSubtree(node, "start", nullptr, false);
    }
}
void Deselect() {
    SendSignal("selectnode", nullptr, true);
}
void Select(Entity* a) {
    SendSignal("selectnode", a, true);
}
void Delete(Entity* a) {
    if (a) {
        a->Delete();
    }
}
// Flags of the application state that nothing reads; kept for scripts that set them.
void SetUnusedFlag() {
    unreadFlags |= 1u;
}
void SetSecondUnusedFlag() {
    unreadFlags |= 2u;
}
// The matching ids are collected first: the method may delete any node of the walk.
void ForEachOfClass(Entity* a, const char* b, Entity* c, const char* d) {
    if (!ReadText("ForEachOfClass", b) || !ReadText("ForEachOfClass", d)) {
        return;
    }
    const ClassInfo* wanted = FindClass(b);
    auto* root = dynamic_cast<Node*>(a);
    if (!wanted || !root) {
        return;
    }
    std::vector<uint32_t> ids;
    uint64_t visited = 0;
    for (Node* node = root; node; node = NextInSubtree(node, root, true)) {
        ++visited;
        if (node->GetClass()->IsDerivedFrom(wanted)) {
            ids.push_back(node->GetId());
        }
    }
    ChargeNodesVisited(visited);
    const uint32_t callee = c ? c->GetId() : 0;
    for (uint32_t id : ids) {
        Entity* target = LookupEntity(callee);
        Entity* match = LookupEntity(id);
        if (!target || !match) {
            continue;
        }
        const MethodInfo* method = target->FindMethod(d);
        if (!method) {
            return;
        }
        // The node's id is the method's first argument word.
        std::vector<uint32_t> block(
            static_cast<size_t>(std::max(method->GetReturnWords(), 1) + method->GetArgumentWords()),
            0u);
        if (method->GetArgumentWords() > 0) {
            block[1] = id;
        }
        method->Call(target, block.data());
    }
}
// Scripts hold objects by id: the token of an object is its id.
int32_t ObjectToken(Entity* a) {
    return a ? static_cast<int32_t>(a->GetId()) : 0;
}
Entity* ObjectOfToken(int32_t a) {
    return LookupEntity(static_cast<uint32_t>(a));
}
// Logs a file operation of a script that failed, with the system's reason: the one the file
// system noted, else the error of the call that failed.
void LogFileFailure(const char* function, const char* path, int error) {
    if (!*LastFileFailure() && error != 0) {
        NoteFileFailure(error);
    }
    LogChannelMessage("script", "%s \"%s\" failed%s", function, LoggedPath(path).c_str(),
                      FileFailureSuffix().c_str());
}
// Runs the file operation, which writes; a failure other than finding the wanted entry there
// already is logged, once until a write succeeds again.
template <class Operation>
void DoFileOperation(const char* function, const char* path, Operation operation) {
    ClearFileFailure();
    errno = 0;
    if (!operation() && errno != EEXIST && TellWriteFailure()) {
        LogFileFailure(function, path, errno);
    }
}
bool PathExists(const char* a) {
    return ReadText("PathExists", a) && ScriptMayReach("PathExists", a) &&
           GetFileSystem()->Exists(a);
}
void RemoveFile(const char* a) {
    if (ReadText("RemoveFile", a) && ScriptMayReach("RemoveFile", a)) {
        GetFileSystem()->RemoveFile(a);
    }
}
void CreateFile(const char* a) {
    if (ReadText("CreateFile", a) && ScriptMayReach("CreateFile", a)) {
        DoFileOperation("CreateFile", a, [a] { return GetFileSystem()->CreateEmptyFile(a); });
    }
}
void CopyFile(const char* a, const char* b) {
    if (ReadText("CopyFile", a) && ReadText("CopyFile", b) && ScriptMayReach("CopyFile", a) &&
        ScriptMayReach("CopyFile", b)) {
        DoFileOperation("CopyFile", b, [a, b] { return GetFileSystem()->Copy(a, b); });
    }
}
void MakeFolder(const char* a) {
    if (ReadText("MakeFolder", a) && ScriptMayReach("MakeFolder", a)) {
        DoFileOperation("MakeFolder", a, [a] { return GetFileSystem()->MakeDirectory(a); });
    }
}

// Files --------------------------------------------------------------------------------------

int32_t OpenCurrent(const char* a) {
    listedEntries = 0;
    if (!ReadText("OpenCurrent", a) || !ScriptMayReachNative("OpenCurrent", a)) {
        currentFile.reset();
        return 0;
    }
    currentFile = GetFileSystem()->OpenNativeFile(a);
    return currentFile ? 1 : 0;
}
int32_t ListCurrent(int32_t) {
    // Charged by the file system, by the entries read.
    listedEntries = currentFile ? currentFile->ListFolder() : 0;
    return listedEntries;
}
// Reads the listing the last count made, so walking a folder lists it once.
const char* EntryPath(int32_t, int32_t b) {
    if (!currentFile || b < 0 || b >= listedEntries) {
        return Temp("");
    }
    std::unique_ptr<File> entry = currentFile->GetChild(b);
    return Temp(entry ? entry->GetName() : std::string());
}
int32_t OpenRead(const char* a, int32_t b) {
    const bool native = (static_cast<uint32_t>(b) & OpenNative) != 0;
    if (!ReadText("OpenRead", a) ||
        !(native ? ScriptMayReachNative("OpenRead", a) : ScriptMayReach("OpenRead", a))) {
        return 0;
    }
    ClearFileFailure();
    std::unique_ptr<File> file = GetFileSystem()->Open(a, static_cast<uint32_t>(b));
    if (file) {
        return static_cast<int32_t>(openFiles.Add(std::move(file)));
    }
    // Asking for a file that is not there is how scripts look for one; a file that is there
    // and is not read (a pipe, a folder) is told with the reason.
    if (*LastFileFailure() && GetFileSystem()->Exists(a)) {
        LogFileFailure("OpenRead", a, 0);
    }
    return 0;
}
void CloseFile(int32_t a) {
    openFiles.Remove(static_cast<uint32_t>(a));
}
int32_t FileSize(int32_t a) {
    File* file = openFiles.Find(static_cast<uint32_t>(a));
    return file ? static_cast<int32_t>(file->GetSize()) : 0;
}
int32_t NextByte(int32_t a) {
    File* file = openFiles.Find(static_cast<uint32_t>(a));
    return file ? file->ReadByte() : -1;
}
void TouchEntry(int32_t a, int32_t b) {
    if (File* file = openFiles.Find(static_cast<uint32_t>(a))) {
        file->GetChild(b);
    }
}
const char* DesktopFolder() {
    // Read from the user's folder settings each time.
    ChargePathResolved();
    std::string folder = GetScriptApp().GetDesktopFolder();
    for (char& c : folder) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return Temp(folder);
}
const char* ProgramPath() {
    return Temp(GetScriptApp().GetProgramPath());
}
// The clipboard is another program's to answer: its wait is one of the frame's waits.
const char* ClipboardText() {
    if (bool tell = false; FrameWaitsSpent(tell)) {
        if (tell) {
            LogChannelMessage("script", "ClipboardText answers \"\" until the next frame: %s",
                              FrameWaitsSpentText().c_str());
        }
        return Temp("");
    }
    const auto start = std::chrono::steady_clock::now();
    const std::string text = RemoveCarriageReturns(GetScriptApp().GetClipboardText().c_str());
    CountFrameWait(std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start));
    return Temp(text.size() > 256 ? std::string() : text);
}
const char* GetSetting(const char* a) {
    if (!ChargeText("GetSetting", std::strlen(a))) {
        return Temp("");
    }
    return Temp(GetGameSettings().Get(a));
}
void SetSetting(const char* a, const char* b) {
    const size_t keyLength = std::strlen(a);
    const size_t valueLength = std::strlen(b);
    if (!ChargeTextWork("SetSetting", std::max(keyLength, valueLength), keyLength + valueLength)) {
        return;
    }
    // The game's own settings, saved at once when they change.
    GameSettings& settings = GetGameSettings();
    const std::string refusal = settings.Set(a, b);
    const bool engineSaved = refusal.empty() && SaveChangedUserSettings();
    ScriptContext* context = GetCurrentScriptContext();
    if (!context) {
        return;
    }
    if (!refusal.empty()) {
        context->FailCall("SetSetting: " + refusal);
    }
    // A save costs its syncs to the disk whatever its size, and one that fails is tried again
    // at the next call: each, either file's, is charged as a full file's bytes a step each, so
    // a loop of changes meets the step limit within some 1,500 saves.
    if (settings.GetLastSaveSize() > 0 || engineSaved) {
        context->ChargeSteps(GameSettings::MaxFileBytes);
    }
}

// Host machine and time ----------------------------------------------------------------------

bool True() {
    return true;
}
const char* UserName() {
    // The user data base is read, or asked of a directory service.
    ChargePathResolved();
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_name) {
        return Temp(entry->pw_name);
    }
    const char* user = std::getenv("USER");
    return Temp(user ? user : "");
}
std::tm UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    return parts;
}
Int3 Today() {
    const std::tm now = UtcNow();
    return {now.tm_year + 1900, now.tm_mon + 1, now.tm_mday};
}
Int3 TimeOfDay() {
    const std::tm now = UtcNow();
    return {now.tm_hour, now.tm_min, now.tm_sec};
}
const char* NewGuid() {
    return Temp(Guid::Create().ToHex());
}
// Truncated in double: a float would drop milliseconds after a few hours.
int32_t Milliseconds() {
    const double milliseconds = GetScriptApp().GetTime() * 1000.0;
    return milliseconds >= -2147483648.0 && milliseconds < 2147483648.0
               ? static_cast<int32_t>(milliseconds)
               : INT32_MIN;
}
int32_t VolumeSerial() {
    return static_cast<int32_t>(GetScriptApp().GetVolumeSerial());
}
// No printer exists here: the print dialog is cancelled and every step fails.
int32_t BeginPrint(bool) {
    return 0;
}
Int2 PrinterCaps(int32_t) {
    return {};
}
bool PrintWindow(int32_t, Int2, Int2, Int2, Int2) {
    return false;
}
bool EndPrint(int32_t, bool) {
    return false;
}
int32_t Zero() {
    return 0;
}

// Keyboard and dialogs -----------------------------------------------------------------------

// b is the caption, c the text the field starts with.
const char* EnterString(Int2 a, const char* b, const char* c) {
    if (!ReadText("EnterString", b) || !ReadText("EnterString", c)) {
        return Temp("");
    }
    const EnteredString entered = ShowEnterStringDialog(a.x, a.y, b, c);
    ScriptApp& app = GetScriptApp();
    app.ConsumeKey(entered.accepted ? 50 : 52); // Enter or Esc closed it
    app.HoldKeysDown();
    return MadeText("EnterString", entered.text);
}
// Scripts hold the text windows they opened by handle, never by the window's own id.
int32_t OpenWindow(Int2 a, const char* b, const char* c) {
    // The window keeps both texts.
    if (!ChargeHandedText("OpenWindow", std::strlen(b)) ||
        !ChargeHandedText("OpenWindow", std::strlen(c))) {
        return 0;
    }
    const uint32_t window = OpenTextWindow(a.x, a.y, b, c);
    return window ? static_cast<int32_t>(textWindows.Add(std::make_unique<uint32_t>(window))) : 0;
}
void FocusWindow(int32_t a) {
    if (const uint32_t* window = textWindows.Find(static_cast<uint32_t>(a))) {
        FocusDialogEdit(*window);
    }
}
const char* WindowText(int32_t a) {
    const uint32_t* window = textWindows.Find(static_cast<uint32_t>(a));
    return MadeText("WindowText", window ? GetDialogEditText(*window, true) : std::string());
}
void CloseWindow(int32_t a) {
    if (const uint32_t* window = textWindows.Find(static_cast<uint32_t>(a))) {
        DestroyWindowByHandle(*window);
        textWindows.Remove(static_cast<uint32_t>(a));
    }
}

void TypeCharacter(int32_t a) {
    GetScriptApp().TypeCharacter(static_cast<uint8_t>(a & 0xFF));
}

// Shared data array --------------------------------------------------------------------------

// Whether words b .. b + count - 1 lie inside the array.
bool InArray(int32_t b, int32_t count) {
    return b >= 0 && int64_t{b} + count - 1 < static_cast<int64_t>(dataArray.size());
}
int32_t ResizeArray(int32_t a) {
    if (a < 0 || !ValidityCheck(a <= MaxDataArrayWords,
                                "A data array of %d words is larger than the %d allowed", a,
                                MaxDataArrayWords)) {
        return 0;
    }
    const size_t words = static_cast<size_t>(a);
    const size_t grown = words > dataArray.size() ? (words - dataArray.size()) * 4 : 0;
    if (grown > 0 && !ScriptMayHold("ResizeArray", grown)) {
        return 0;
    }
    ChargeBytesScanned(grown);
    dataArray.resize(words, 0u);
    return 0;
}
// Setters: block 1 is the unused word, block 2 the index, the value from block 3 on.
template <int Count>
void SetWords(Entity*, uint32_t* block) {
    const auto b = static_cast<int32_t>(block[2]);
    if (InArray(b, Count)) {
        std::memcpy(&dataArray[static_cast<size_t>(b)], block + 3, Count * 4);
    }
}
int32_t ArraySize(int32_t) {
    return static_cast<int32_t>(dataArray.size());
}
// Getters: out of range, the result words keep the argument words beneath them.
template <int Count>
void GetWords(Entity*, uint32_t* block) {
    const auto b = static_cast<int32_t>(block[2]);
    if (InArray(b, Count)) {
        std::memcpy(block, &dataArray[static_cast<size_t>(b)], Count * 4);
        return;
    }
    const uint32_t a = block[1];
    block[0] = a;
    if (Count > 1) {
        block[1] = static_cast<uint32_t>(b);
    }
    if (Count > 2) {
        block[2] = 0;
    }
}
Entity* GetEntityWord(int32_t, int32_t b) {
    return InArray(b, 1) ? LookupEntity(dataArray[static_cast<size_t>(b)]) : nullptr;
}
void GetTextWord(Entity*, uint32_t* block) {
    const auto b = static_cast<int32_t>(block[2]);
    const char* text = InArray(b, 1) ? LookupText(dataArray[static_cast<size_t>(b)]) : "";
    if (!ChargeText("GetTextWord", std::strlen(text))) {
        text = "";
    }
    block[0] = TextWordOf(Temp(text));
}

// Sound capture ------------------------------------------------------------------------------

// Made on first use through the audio system, which owns it; forgotten once the current
// audio system no longer lists it.
SoundCaptureBuffer* captureBuffer = nullptr;

SoundCaptureBuffer* Capture() {
    AudioSystem* audio = GetAudioSystem();
    const int count = audio ? audio->GetCaptureBufferCount() : 0;
    for (int index = 0; index < count; ++index) {
        if (audio->GetCaptureBuffer(index) == captureBuffer) {
            return captureBuffer;
        }
    }
    captureBuffer = nullptr;
    return nullptr;
}
void StartCapture(int32_t a, int32_t b, int32_t c, int32_t d, bool e) {
    AudioSystem* audio = GetAudioSystem();
    if (a <= 0 || !audio) {
        return;
    }
    SoundCaptureBuffer* buffer = Capture();
    if (!buffer) {
        buffer = captureBuffer = audio->CreateCaptureBuffer();
    }
    // A capture under way is released before the new one is set up.
    buffer->Destroy();
    if (buffer->Create(0, static_cast<uint32_t>(a), static_cast<uint32_t>(b),
                       static_cast<uint32_t>(c), static_cast<uint32_t>(d))) {
        buffer->Start(e);
    }
}
void StopCapture() {
    if (SoundCaptureBuffer* buffer = Capture()) {
        buffer->Stop();
    }
}
void UpdateCapture() {
    if (SoundCaptureBuffer* buffer = Capture()) {
        buffer->Update();
    }
}
int32_t CapturedCount() {
    SoundCaptureBuffer* buffer = Capture();
    return buffer ? static_cast<int32_t>(buffer->GetSampleCount()) : 0;
}
int32_t CapturedSample(int32_t a) {
    SoundCaptureBuffer* buffer = Capture();
    return buffer && a >= 0
               ? static_cast<int32_t>(buffer->GetCapturedSample(static_cast<uint32_t>(a)))
               : 0;
}

// Classes, scripts, camera and resources -----------------------------------------------------

void InstanceCount(Entity*, uint32_t* block) {
    const ClassInfo* info = GetClassByIndex(static_cast<int32_t>(block[1]));
    block[0] = info && static_cast<int32_t>(block[1]) >= 0
                   ? static_cast<uint32_t>(info->GetInstanceCount())
                   : 0u;
}
void InstanceOf(Entity*, uint32_t* block) {
    const auto index = static_cast<int32_t>(block[1]);
    const ClassInfo* info =
        index >= 0 && index < GetClassCount() ? GetClassByIndex(index) : nullptr;
    Entity* instance = info ? info->GetInstance(static_cast<int32_t>(block[2])) : nullptr;
    block[0] = instance ? instance->GetId() : 0u;
}
bool IsAlive(Entity* a) {
    return a != nullptr;
}
Entity* ScriptByName(const char* a) {
    if (!ReadText("ScriptByName", a)) {
        return nullptr;
    }
    const ClassInfo* scripts = Script::RegisterClass();
    const int count = scripts->GetInstanceCountRecursive();
    for (int index = 0; index < count; ++index) {
        auto* script = dynamic_cast<Script*>(scripts->GetInstance(index));
        const ScriptResource* program = script ? script->GetProgram() : nullptr;
        if (program && CompareNoCase(program->GetScriptName().c_str(), a) == 0) {
            ChargeNodesVisited(uint64_t(index) + 1);
            return script;
        }
    }
    ChargeNodesVisited(uint64_t(count));
    return nullptr;
}
// Read by its words: the class "Camera" may be registered after the library.
void CurrentCameraId(Entity*, uint32_t* block) {
    const Camera* camera = GetCurrentCamera();
    block[0] = camera ? camera->GetId() : 0u;
}
Float3 WorldToScreen(Float3 a) {
    Camera* camera = GetCurrentCamera();
    if (!camera) {
        return {};
    }
    const Float3 local = camera->WorldToLocal(a);
    const Float2 screen = camera->ProjectToScreen(local);
    if (!ValidityCheck(screen.x <= 3.40281e38f && screen.y <= 3.40281e38f,
                       "WorldToScreen was given unreasonable input")) {
        return {};
    }
    return {screen.x, screen.y, local.z};
}
Float3 ScreenToWorld(Float2 a, float b) {
    if (!GetCurrentCamera()) {
        return {0.0f, 0.0f, b};
    }
    return ScreenToWorldAtDistance(a, b);
}
float FrameStep() {
    return FrameTime;
}
int32_t FrameCount() {
    return static_cast<int32_t>(GetScriptApp().GetFrameCount());
}
Int2 ViewSize() {
    return GetScriptApp().GetViewSize();
}
void Pause() {
    GamePaused = true;
}
void Unpause() {
    GamePaused = false;
}
bool Running() {
    return GameRunning;
}
int32_t Blend(int32_t a, int32_t b, float c) {
    return static_cast<int32_t>(BlendColor(static_cast<uint32_t>(a), static_cast<uint32_t>(b),
                                           ScriptFloatToInt(c * 256.9f)));
}

// Only an effect's shader holds the value; any other resource of that name is left alone.
void SetEffectValue(const char* a, float b, float c, float d, float e) {
    Resource* resource = ReadText("SetEffectValue", a) ? FindLoadedResource(a, "") : nullptr;
    if (!resource) {
        return;
    }
    auto* effect = dynamic_cast<EffectShader*>(resource);
    if (Shader* shader = effect ? effect->GetShader() : nullptr) {
        shader->SetParameter(Float4{b, c, d, e});
    }
    resource->Release();
}
void ReloadResource(const char* a) {
    if (ReadText("ReloadResource", a)) {
        ReloadResourceByName(NormalizeResourcePath(a).Text());
    }
}

// The first hit among the root's descendants, parents before their children: a walk of its
// own, so a scene's depth never reaches the native stack's.
bool PickUnder(Node* root, const Float3& origin, const Float3& direction) {
    uint64_t visited = 0;
    bool hit = false;
    for (Node* node = root->GetFirstChild(); node && !hit; node = NextInSubtree(node, root, true)) {
        ++visited;
        RenderObject* object = AsRenderObject(node);
        if (object && object->GetOpacity() > 0.95f && (node->GetFlags() & 3u) == 3u &&
            object->IsVisible()) {
            rayPick.current = PickHit();
            rayPick.current.node = node;
            rayPick.current.object = object;
            if (object->IntersectRay(origin, direction, rayPick)) {
                rayPick.KeepNearestHit();
                hit = true;
            }
        }
    }
    ChargeNodesVisited(visited);
    return hit;
}
float RayPick(Float3 a, Float3 b, int32_t c) {
    auto* root = dynamic_cast<Node*>(LookupEntity(static_cast<uint32_t>(c)));
    if (!root) {
        return -1.0f;
    }
    rayPick.flags = 0x103;
    return PickUnder(root, a, b) ? rayPick.best.distance : -1.0f;
}

// Registration -------------------------------------------------------------------------------

template <auto F>
MethodBinding Typed() {
    return BindMethod<F>();
}
template <MethodThunk F>
MethodBinding Raw() {
    MethodBinding binding;
    binding.thunk = F;
    return binding;
}

struct LibraryRow {
    // The name messages give it: functions are registered under generated names.
    const char* label;
    const char* signature;
    MethodBinding (*bind)();
};

constexpr LibraryRow Rows[] = {
    {"MaxFloat", "(float,float):float", Typed<&MaxFloat>},                          // 0
    {"MinFloat", "(float,float):float", Typed<&MinFloat>},                          // 1
    {"MaxInt", "(int,int):int", Typed<&MaxInt>},                                    // 2
    {"MinInt", "(int,int):int", Typed<&MinInt>},                                    // 3
    {"Cosine", "(float):float", Typed<&Cosine>},                                    // 4
    {"Sine", "(float):float", Typed<&Sine>},                                        // 5
    {"Tangent", "(float):float", Typed<&Tangent>},                                  // 6
    {"ArcTangent", "(float):float", Typed<&ArcTangent>},                            // 7
    {"AngleOf", "(float, float):float", Typed<&AngleOf>},                           // 8
    {"ArcCosine", "(float):float", Typed<&ArcCosine>},                              // 9
    {"ArcSine", "(float):float", Typed<&ArcSine>},                                  // 10
    {"AbsInt", "(int):int", Typed<&AbsInt>},                                        // 11
    {"AbsFloat", "(float):float", Typed<&AbsFloat>},                                // 12
    {"SquareRoot", "(float):float", Typed<&SquareRoot>},                            // 13
    {"RandomInt", "(int):int", Typed<&RandomInt>},                                  // 14
    {"RandomUnit", "():float", Typed<&RandomUnit>},                                 // 15
    {"Noise", "(float):float", Typed<&Noise>},                                      // 16
    {"Fractal", "(float,int,float):float", Typed<&Fractal>},                        // 17
    {"Round", "(float):float", Typed<&Round>},                                      // 18
    {"Floor", "(float):float", Typed<&Floor>},                                      // 19
    {"Ceiling", "(float):float", Typed<&Ceiling>},                                  // 20
    {"Sign", "(float):float", Typed<&Sign>},                                        // 21
    {"Clamp", "(float,float,float):float", Typed<&Clamp>},                          // 22
    {"Lerp", "(float,float,float):float", Typed<&Lerp>},                            // 23
    {"Power", "(float,float):float", Typed<&Power>},                                // 24
    {"FloatToInt", "(float):int", Typed<&FloatToInt>},                              // 25
    {"IntToFloat", "(int):float", Typed<&IntToFloat>},                              // 26
    {"TextToInt", "(string):int", Typed<&TextToInt>},                               // 27
    {"TextToFloat", "(string):float", Typed<&TextToFloat>},                         // 28
    {"IntText", "(int):string", Typed<&IntText>},                                   // 29
    {"FloatText", "(float):string", Typed<&FloatText>},                             // 30
    {"EntityPathText", "(entity):string", Typed<&EntityPathText>},                  // 31
    {"Float3Text", "(float3):string", Typed<&Float3Text>},                          // 32
    {"TextToFloat3", "(string):float3", Typed<&TextToFloat3>},                      // 33
    {"Float2To3", "(float2):float3", Typed<&Float2To3>},                            // 34
    {"Float3To2", "(float3):float2", Raw<&Float3To2>},                              // 35
    {"Print", "(string)", Typed<&Print>},                                           // 36
    {"Message", "(string)", Typed<&Message>},                                       // 37
    {"Assert", "(bool, string)", Typed<&Assert>},                                   // 38
    {"Nothing", "()", Typed<&Nothing>},                                             // 39
    {"Length", "(string):int", Typed<&Length>},                                     // 40
    {"ByteAt", "(string,int):int", Typed<&ByteAt>},                                 // 41
    {"SetByteAt", "(string,int,int)", Raw<&SetByteAt>},                             // 42
    {"CharText", "(int):string", Typed<&CharText>},                                 // 43
    {"Find", "(string,string):int", Typed<&Find>},                                  // 44
    {"Substring", "(string,int,int):string", Typed<&Substring>},                    // 45
    {"AboutX", "(float):quaternion", Typed<&AboutX>},                               // 46
    {"AboutY", "(float):quaternion", Typed<&AboutY>},                               // 47
    {"AboutZ", "(float):quaternion", Typed<&AboutZ>},                               // 48
    {"RandomDirection", "():float3", Typed<&RandomDirection>},                      // 49
    {"HasMouse", "():bool", Typed<&HasMouse>},                                      // 50
    {"MousePosition", "():float2", Typed<&MousePosition>},                          // 51
    {"MouseDelta", "():float2", Typed<&MouseDelta>},                                // 52
    {"MouseWheel", "():int", Typed<&MouseWheel>},                                   // 53
    {"ButtonWentDown", "(int):bool", Typed<&ButtonWentDown>},                       // 54
    {"ButtonClicked", "(int):bool", Typed<&ButtonClicked>},                         // 55
    {"ButtonHeld", "(int):bool", Typed<&ButtonHeld>},                               // 56
    {"ButtonWentUp", "(int):bool", Typed<&ButtonWentUp>},                           // 57
    {"SetButtonTag", "(int,string)", Typed<&SetButtonTag>},                         // 58
    {"ClearButtonTag", "(int)", Typed<&ClearButtonTag>},                            // 59
    {"ButtonTagged", "(int):bool", Typed<&ButtonTagged>},                           // 60
    {"ButtonTag", "(int):string", Typed<&ButtonTag>},                               // 61
    {"ShowCursor", "(bool)", Typed<&ShowCursor>},                                   // 62
    {"MoveCursor", "(float2)", Typed<&MoveCursor>},                                 // 63
    {"FromEuler", "(float3):quaternion", Typed<&FromEuler>},                        // 64
    {"FromRotationVector", "(float3):quaternion", Typed<&FromRotationVector>},      // 65
    {"FromRows", "(float3,float3,float3):quaternion", Typed<&FromRows>},            // 66
    {"Intersect", "(float2,float2,float2,float2):float2", Typed<&Intersect>},       // 67
    {"NewObject", "(string):Node", Typed<&NewObject>},                              // 68
    {"Copy", "(entity):entity", Typed<&Copy>},                                      // 69
    {"Copy", "(entity):entity", Typed<&Copy>},                                      // 70
    {"LoadScene", "(string,Node,bool):Node", Typed<&LoadScene>},                    // 71
    {"SaveScene", "(string,Node,bool,bool)", Typed<&SaveScene>},                    // 72
    {"SendEvent", "(Node, float)", Typed<&SendEvent>},                              // 73
    {"SendEventFrom", "(Node,Entity,Entity,float)", Typed<&SendEventFrom>},         // 74
    {"SendEventToPort", "(Node,int,float)", Typed<&SendEventToPort>},               // 75
    {"FireSignal", "(string, float)", Typed<&FireSignal>},                          // 76
    {"CallMethod", "(Node,string)", Typed<&CallMethod>},                            // 77
    {"CallMethodInTree", "(Node,string)", Typed<&CallMethodInTree>},                // 78
    {"Start", "(Node)", Typed<&Start>},                                             // 79
    {"Deselect", "()", Typed<&Deselect>},                                           // 80
    {"Select", "(Node)", Typed<&Select>},                                           // 81
    {"Delete", "(Node)", Typed<&Delete>},                                           // 82
    {"SetUnusedFlag", "()", Typed<&SetUnusedFlag>},                                 // 83
    {"SetSecondUnusedFlag", "()", Typed<&SetSecondUnusedFlag>},                     // 84
    {"ForEachOfClass", "(Node,string,Node,string)", Typed<&ForEachOfClass>},        // 85
    {"ObjectToken", "(Entity):int", Typed<&ObjectToken>},                           // 86
    {"ObjectOfToken", "(int):Entity", Typed<&ObjectOfToken>},                       // 87
    {"ObjectOfToken", "(int):Entity", Typed<&ObjectOfToken>},                       // 88
    {"PathExists", "(string):bool", Typed<&PathExists>},                            // 89
    {"RemoveFile", "(string)", Typed<&RemoveFile>},                                 // 90
    {"CreateFile", "(string)", Typed<&CreateFile>},                                 // 91
    {"CopyFile", "(string,string)", Typed<&CopyFile>},                              // 92
    {"MakeFolder", "(string)", Typed<&MakeFolder>},                                 // 93
    {"OpenCurrent", "(string):int", Typed<&OpenCurrent>},                           // 94
    {"ListCurrent", "(int):int", Typed<&ListCurrent>},                              // 95
    {"EntryPath", "(int,int):string", Typed<&EntryPath>},                           // 96
    {"OpenRead", "(string,int):int", Typed<&OpenRead>},                             // 97
    {"CloseFile", "(int)", Typed<&CloseFile>},                                      // 98
    {"FileSize", "(int):int", Typed<&FileSize>},                                    // 99
    {"NextByte", "(int):int", Typed<&NextByte>},                                    // 100
    {"TouchEntry", "(int,int)", Typed<&TouchEntry>},                                // 101
    {"True", "():bool", Typed<&True>},                                              // 102
    {"Nothing", "()", Typed<&Nothing>},                                             // 103
    {"UserName", "():string", Typed<&UserName>},                                    // 104
    {"Today", "():int3", Typed<&Today>},                                            // 105
    {"TimeOfDay", "():int3", Typed<&TimeOfDay>},                                    // 106
    {"NewGuid", "():string", Typed<&NewGuid>},                                      // 107
    {"Milliseconds", "():int", Typed<&Milliseconds>},                               // 108
    {"VolumeSerial", "():int", Typed<&VolumeSerial>},                               // 109
    {"DesktopFolder", "():string", Typed<&DesktopFolder>},                          // 110
    {"ProgramPath", "():string", Typed<&ProgramPath>},                              // 111
    {"ClipboardText", "():string", Typed<&ClipboardText>},                          // 112
    {"GetSetting", "(string):string", Typed<&GetSetting>},                          // 113
    {"SetSetting", "(string,string)", Typed<&SetSetting>},                          // 114
    {"BeginPrint", "(bool):int", Typed<&BeginPrint>},                               // 115
    {"PrinterCaps", "(int):int2", Typed<&PrinterCaps>},                             // 116
    {"PrintWindow", "(int,int2,int2,int2,int2):bool", Typed<&PrintWindow>},         // 117
    {"EndPrint", "(int,bool):bool", Typed<&EndPrint>},                              // 118
    {"EnterString", "(int2,string,string):string", Typed<&EnterString>},            // 119
    {"OpenWindow", "(int2,string,string):int", Typed<&OpenWindow>},                 // 120
    {"FocusWindow", "(int)", Typed<&FocusWindow>},                                  // 121
    {"WindowText", "(int):string", Typed<&WindowText>},                             // 122
    {"CloseWindow", "(int)", Typed<&CloseWindow>},                                  // 123
    {"TypeCharacter", "(int)", Typed<&TypeCharacter>},                              // 124
    {"ResizeArray", "(int):int", Typed<&ResizeArray>},                              // 125
    {"SetInt", "(int,int,int)", Raw<&SetWords<1>>},                                 // 126
    {"SetInt2", "(int,int,int2)", Raw<&SetWords<2>>},                               // 127
    {"SetFloat", "(int,int,float)", Raw<&SetWords<1>>},                             // 128
    {"SetFloat2", "(int,int,float2)", Raw<&SetWords<2>>},                           // 129
    {"SetFloat3", "(int,int,float3)", Raw<&SetWords<3>>},                           // 130
    {"SetEntity", "(int,int,Entity)", Raw<&SetWords<1>>},                           // 131
    {"SetString", "(int,int,string)", Raw<&SetWords<1>>},                           // 132
    {"Zero", "():int", Typed<&Zero>},                                               // 133
    {"ArraySize", "(int):int", Typed<&ArraySize>},                                  // 134
    {"GetInt", "(int,int):int", Raw<&GetWords<1>>},                                 // 135
    {"GetInt2", "(int,int):int2", Raw<&GetWords<2>>},                               // 136
    {"GetFloat", "(int,int):float", Raw<&GetWords<1>>},                             // 137
    {"GetFloat2", "(int,int):float2", Raw<&GetWords<2>>},                           // 138
    {"GetFloat3", "(int,int):float3", Raw<&GetWords<3>>},                           // 139
    {"GetEntity", "(int,int):Entity", Typed<&GetEntityWord>},                       // 140
    {"GetString", "(int,string):string", Raw<&GetTextWord>},                        // 141
    {"StartCapture", "(int,int,int,int,bool)", Typed<&StartCapture>},               // 142
    {"StopCapture", "()", Typed<&StopCapture>},                                     // 143
    {"UpdateCapture", "()", Typed<&UpdateCapture>},                                 // 144
    {"CapturedCount", "():int", Typed<&CapturedCount>},                             // 145
    {"CapturedSample", "(int):int", Typed<&CapturedSample>},                        // 146
    {"InstanceCount", "(class):int", Raw<&InstanceCount>},                          // 147
    {"InstanceOf", "(class,int):entity", Raw<&InstanceOf>},                         // 148
    {"IsAlive", "(Entity):bool", Typed<&IsAlive>},                                  // 149
    {"ScriptByName", "(string):Script", Typed<&ScriptByName>},                      // 150
    {"CurrentCamera", "():Camera", Raw<&CurrentCameraId>},                          // 151
    {"WorldToScreen", "(float3):float3", Typed<&WorldToScreen>},                    // 152
    {"ScreenToWorld", "(float2,float):float3", Typed<&ScreenToWorld>},              // 153
    {"FrameStep", "():float", Typed<&FrameStep>},                                   // 154
    {"FrameCount", "():int", Typed<&FrameCount>},                                   // 155
    {"ViewSize", "():int2", Typed<&ViewSize>},                                      // 156
    {"Pause", "()", Typed<&Pause>},                                                 // 157
    {"Unpause", "()", Typed<&Unpause>},                                             // 158
    {"Nothing", "()", Typed<&Nothing>},                                             // 159
    {"Running", "():bool", Typed<&Running>},                                        // 160
    {"Blend", "(int,int,float):int", Typed<&Blend>},                                // 161
    {"SetEffectValue", "(string,float,float,float,float)", Typed<&SetEffectValue>}, // 162
    {"ReloadResource", "(string)", Typed<&ReloadResource>},                         // 163
    {"RayPick", "(float3, float3, int):float", Typed<&RayPick>},                    // 164
};
static_assert(std::size(Rows) == ScriptLibraryFunctionCount);

} // namespace

void SetScriptApp(ScriptApp* app) {
    installedApp = app;
}

ScriptApp& GetScriptApp() {
    return installedApp ? *installedApp : defaultApp;
}

void RegisterScriptLibrary() {
    SetValidityHook(&ScriptValidityHook);
    if (firstIndex >= 0) {
        return;
    }
    firstIndex = GetRegisteredFunctionCount();
    for (int index = 0; index < ScriptLibraryFunctionCount; ++index) {
        auto function = std::make_unique<MethodInfo>(NextShortName(), Rows[index].signature);
        function->SetLabel(Rows[index].label);
        function->SetCallFlags(0);
        function->Bind(Rows[index].bind());
        RegisterFunction(std::move(function));
        if (index == 101) {
            constantName = NextShortName();
            RegisterNamedConstant(constantName.c_str(), 1);
        }
    }
}

void RemoveScriptLibrary() {
    currentFile.reset();
    listedEntries = 0;
    // What scripts left open goes with them: no file may outlive the file system it came from.
    openFiles = HandleTable<File>();
    if (GetValidityHook() == &ScriptValidityHook) {
        SetValidityHook(nullptr);
    }
}

int GetScriptLibraryFirstIndex() {
    return firstIndex;
}

const std::string& GetScriptLibraryConstantName() {
    return constantName;
}

bool IsScriptPrintLine(const char* channel, const char* text) {
    if (!channel || !text || std::strcmp(channel, "script") != 0) {
        return false;
    }
    const std::string_view line(text);
    const size_t dot = line.find_first_not_of("0123456789");
    if (dot == 0 || dot == std::string_view::npos || line[dot] != '.') {
        return false;
    }
    const size_t colon = line.find_first_not_of("0123456789", dot + 1);
    return colon != dot + 1 && colon != std::string_view::npos && line.compare(colon, 2, ": ") == 0;
}

} // namespace quarn
