#include "script/nodes/SoundNodes.h"

#include "audio/AudioSystem.h"
#include "audio/SoundBuffer.h"
#include "audio/SoundVoice.h"
#include "core/debug/Log.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyText.h"
#include "core/object/Signals.h"
#include "core/scene/Node.h"
#include "core/scene/WitnessProperty.h"
#include "core/scenefile/SceneSaver.h"
#include "core/string/Text.h"
#include "render/AnnotationSink.h"
#include "resources/SoundResource.h"

#include <algorithm>
#include <cstring>

namespace quarn {

ClassInfo* SoundEmitter::classInfo = nullptr;
ClassInfo* SoundReceiver::classInfo = nullptr;

namespace {

constexpr uint32_t MinRangeColor = 0xFFFFFF00;
constexpr uint32_t MaxRangeColor = 0xFFFF8000;

const Property* panProperty = nullptr;
const Property* minRangeProperty = nullptr;
const Property* maxRangeProperty = nullptr;
const Property* soundFlagsProperty = nullptr;

bool FullyEnabledIn(uint32_t flags) {
    return (flags & NodeEnabledMask) == NodeEnabledMask;
}

EntityRef ReferenceTo(uint32_t id) {
    EntityRef reference;
    reference.InitFromId(id);
    return reference;
}

} // namespace

// SoundEmitter ----------------------------------------------------------------------------------

SoundEmitter::SoundEmitter() = default;

SoundEmitter::~SoundEmitter() {
    DeleteVoice();
    if (sound_) {
        sound_->Release();
    }
}

SoundVoice* SoundEmitter::GetVoice() {
    if (voice_ && (!sound_ || sound_->GetBufferGeneration() != voiceGeneration_)) {
        voice_ = nullptr; // deleted with the buffer it played
    }
    return voice_;
}

void SoundEmitter::DeleteVoice() {
    delete GetVoice();
    voice_ = nullptr;
}

uint32_t SoundEmitter::GetChannels() const {
    const SoundBuffer* buffer = sound_ ? sound_->GetSoundBuffer() : nullptr;
    return buffer ? buffer->GetChannels() : 0;
}

void SoundEmitter::SetMinRange(float range) {
    minRange_ = range;
    ForwardRanges();
}

void SoundEmitter::SetMaxRange(float range) {
    maxRange_ = range;
    ForwardRanges();
}

void SoundEmitter::ForwardRanges() {
    if (SoundVoice* voice = GetVoice()) {
        voice->SetMinDistance(minRange_);
        voice->SetMaxDistance(maxRange_);
    }
}

void SoundEmitter::SetPitch(float pitch) {
    pitch_ = pitch;
    if (SoundVoice* voice = GetVoice()) {
        voice->SetPitch(pitch_);
    }
}

void SoundEmitter::SetVolume(float volume) {
    volume_ = volume;
    if (SoundVoice* voice = GetVoice()) {
        voice->SetVolume(volume_);
    }
}

void SoundEmitter::SetPan(float pan) {
    pan_ = pan;
    if (SoundVoice* voice = GetVoice()) {
        voice->SetPan(pan_);
    }
}

float SoundEmitter::GetProgress() const {
    return IsWritingScene() ? givenProgress_ : progress_;
}

void SoundEmitter::SetProgress(float progress) {
    progress_ = progress;
    givenProgress_ = progress;
    SoundVoice* voice = GetVoice();
    const SoundBuffer* buffer = sound_ ? sound_->GetSoundBuffer() : nullptr;
    if (!voice || !buffer || buffer->GetLength() == 0) {
        return;
    }
    // The device refuses a cursor past the last frame, and a NaN has no frame at all.
    const uint32_t last = buffer->GetLength() - 1;
    uint32_t frame = 0;
    if (progress >= 1.0f) {
        frame = last;
    } else if (progress > 0.0f) {
        frame = std::min(last, static_cast<uint32_t>(double(buffer->GetLength()) * progress));
    }
    voice->SetPlayPosition(frame);
}

uint32_t SoundEmitter::GetSoundFlags() const {
    return IsWritingScene() ? givenFlags_ : soundFlags_;
}

void SoundEmitter::SetSoundFlags(uint32_t flags) {
    ApplySoundFlags(flags);
    givenFlags_ = soundFlags_;
}

void SoundEmitter::ApplySoundFlags(uint32_t flags) {
    if (!sound_) {
        soundFlags_ = flags;
        return;
    }
    if ((flags & Sound3D) && GetChannels() > 1) {
        LogChannelMessage("sfx", "3d mode is not available on stereo sounds.");
        flags &= ~Sound3D;
    }
    const uint32_t old = soundFlags_;
    // Stored first: Play and Stop read the new loop bit and set the playing bit themselves.
    soundFlags_ = flags;
    SoundVoice* voice = GetVoice();
    if (!voice) {
        // Nothing has played yet: a scene that names the file before the flags starts the sound
        // here, as one in the saved order (flags, then file) does when the file arrives.
        if (flags & ~old & SoundPlaying) {
            Play();
        }
        return;
    }
    if ((old ^ flags) & Sound3D) {
        voice->Set3DEnabled((flags & Sound3D) != 0);
    }
    if ((old ^ flags) & SoundPlaying) {
        if (flags & SoundPlaying) {
            Play();
        } else {
            Stop();
        }
    }
}

const char* SoundEmitter::GetSoundFile() const {
    return RelativePathOf(sound_);
}

void SoundEmitter::SetSoundFile(const char* path) {
    if (!path) {
        path = "";
    }
    if (sound_ && (CompareNoCase(path, sound_->GetFullPath()) == 0 ||
                   CompareNoCase(path, sound_->GetRelativePath()) == 0)) {
        return;
    }
    DeleteVoice();
    if (sound_) {
        sound_->Release();
    }
    sound_ = GetSoundResource(path, "");
    if (sound_) {
        if (GetChannels() > 1) {
            ApplySoundFlags(soundFlags_ & ~Sound3D);
            givenFlags_ &= ~Sound3D;
        }
        if (soundFlags_ & SoundPlaying) {
            Play();
        }
    }
    SendSignal("propertychange", static_cast<Entity*>(this), true);
}

void SoundEmitter::Play() {
    if (!sound_) {
        return;
    }
    if (IsFullyEnabled()) {
        const bool loop = (soundFlags_ & SoundLoop) != 0;
        if (SoundVoice* voice = GetVoice()) {
            if (voice->UpdateState() == VoicePlaying || progress_ >= 1.0f) {
                progress_ = 0.0f;
            }
            voice->Play(loop);
        } else if (SoundBuffer* buffer = sound_->GetSoundBuffer()) {
            voice_ = buffer->Play(loop);
            voiceGeneration_ = sound_->GetBufferGeneration();
            if (voice_) {
                voice_->Set3DEnabled((soundFlags_ & Sound3D) != 0);
                voice_->SetPosition(GetWorldPosition());
                voice_->SetVelocity(Float3());
                voice_->SetMinDistance(minRange_);
                voice_->SetMaxDistance(maxRange_);
                voice_->SetPan(pan_);
                voice_->SetPitch(pitch_);
                voice_->SetVolume(volume_);
            }
            progress_ = 0.0f;
        }
    }
    // Also while disabled: the sound then starts when the node is enabled.
    soundFlags_ |= SoundPlaying;
}

void SoundEmitter::Stop() {
    if (SoundVoice* voice = GetVoice()) {
        voice->Stop();
        voice->SetVelocity(Float3());
    }
    soundFlags_ &= ~SoundPlaying;
    progress_ = 0.0f;
    previous_ = Float3();
}

void SoundEmitter::Pause() {
    SoundVoice* voice = GetVoice();
    if (voice && voice->UpdateState() == VoicePlaying) {
        voice->Pause();
    }
    soundFlags_ &= ~SoundPlaying;
}

bool SoundEmitter::IsPlaying() {
    SoundVoice* voice = GetVoice();
    return voice && voice->UpdateState() == VoicePlaying;
}

void SoundEmitter::OnNodeFlagsChanged(Entity*, Entity& object, const uint32_t* oldValue,
                                      const uint32_t*) {
    auto* emitter = dynamic_cast<SoundEmitter*>(&object);
    if (!emitter || !(emitter->soundFlags_ & SoundPlaying)) {
        return;
    }
    const bool enabled = emitter->IsFullyEnabled();
    if (enabled == FullyEnabledIn(*oldValue)) {
        return;
    }
    SoundVoice* voice = emitter->GetVoice();
    const bool voicePlays = voice && voice->UpdateState() == VoicePlaying;
    if (enabled) {
        if (!voicePlays) {
            emitter->Play();
        }
    } else if (voicePlays) {
        if (emitter->soundFlags_ & SoundLoop) {
            voice->Pause();
        } else {
            emitter->Stop();
        }
    }
}

const char* SoundEmitter::GetInputName(int port) const {
    switch (port) {
    case 0:
        return "play";
    case 1:
        return "stop";
    default:
        return "";
    }
}

const char* SoundEmitter::GetOutputName(int port) const {
    return port == 0 ? "done" : "";
}

void SoundEmitter::SetPortValue(int port, const EntityRef& reference) {
    if (port == 0) {
        witness_ = reference;
    }
}

EntityRef SoundEmitter::GetPortValue(int port) const {
    return port == 0 ? witness_ : EntityRef();
}

void SoundEmitter::ReceiveEvent(const EventRecord& event) {
    const uint32_t port = event.target.GetId() >> PortShift;
    if (port == 0) {
        Play();
    } else if (port == 1) {
        Stop();
    }
}

void SoundEmitter::Update(float frameTime, int) {
    if (HasFlag(NodeSelected)) {
        if (AnnotationSink* annotations = GetActiveAnnotations()) {
            const Float3 position = GetWorldPosition();
            annotations->AddSphere(position, minRange_, MinRangeColor);
            annotations->AddSphere(position, maxRange_, MaxRangeColor);
        }
    }
    SoundVoice* voice = GetVoice();
    const SoundBuffer* buffer = sound_ ? sound_->GetSoundBuffer() : nullptr;
    if (!voice || !buffer || !(soundFlags_ & SoundPlaying)) {
        return;
    }
    if (buffer->GetLength() > 0) {
        progress_ = float(voice->GetPlayPosition()) / float(buffer->GetLength());
    }
    const bool plays = voice->UpdateState() == VoicePlaying;
    if (IsFullyEnabled() && !plays) {
        soundFlags_ &= ~SoundPlaying;
        if (witness_.GetId() != 0) {
            // May delete this node: nothing follows the event.
            SendEvent(ReferenceTo(GetId()), ReferenceTo(witness_.GetId()), nullptr, 1.0f);
        }
        return;
    }
    if ((soundFlags_ & Sound3D) && plays) {
        const Float3 position = GetWorldPosition();
        voice->SetPosition(position);
        const bool moved = previous_ != Float3();
        if ((soundFlags_ & SoundDoppler) && moved && frameTime > 0.0f) {
            voice->SetVelocity((position - previous_) / frameTime);
        }
        previous_ = position;
    }
}

int SoundEmitter::GetPropertyState(const Property& property) const {
    const bool is3D = (soundFlags_ & Sound3D) != 0;
    if (&property == panProperty) {
        return is3D ? 0 : PropertyEditAny;
    }
    if (&property == minRangeProperty || &property == maxRangeProperty) {
        return is3D ? PropertyEditAny : 0;
    }
    if (&property == soundFlagsProperty) {
        return int(SoundLoop | SoundPlaying) | (GetChannels() == 1 ? int(Sound3D) : 0) |
               (is3D ? int(SoundDoppler) : 0);
    }
    return Pivot::GetPropertyState(property);
}

PathString SoundEmitter::GetDescription() const {
    const char* path = RelativePathOf(sound_);
    const char* slash = std::strrchr(path, '/');
    return PathString(slash ? slash + 1 : path);
}

Entity* SoundEmitter::GetResource() const {
    return sound_;
}

ClassInfo* SoundEmitter::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "SoundEmitter", []() -> Entity* { return new SoundEmitter(); }, &classInfo);
    classInfo->SetParent(Pivot::RegisterClass());
    classInfo->SetCategory("Sfx");
    classInfo->SetFlags(classInfo->GetFlags() | ClassUpdateWhileStopped);
    using E = SoundEmitter;
    soundFlagsProperty =
        classInfo->AddProperty<PropertyBitfield, &E::GetSoundFlags, &E::SetSoundFlags>(
            "soundflags:loop,stream,3d,fadeout,selfdestruct,playing,reverse,doppler");
    minRangeProperty = classInfo->AddProperty<PropertyFloat, &E::GetMinRange, &E::SetMinRange>(
        "minrange:0.0,,,0.01");
    maxRangeProperty = classInfo->AddProperty<PropertyFloat, &E::GetMaxRange, &E::SetMaxRange>(
        "maxrange:0.0,,,0.01");
    classInfo->AddProperty<PropertyFloat, &E::GetPitch, &E::SetPitch>("pitch:0.0,,,0.001");
    classInfo->AddProperty<PropertyFloat, &E::GetVolume, &E::SetVolume>("volume:0.0,1.0");
    panProperty = classInfo->AddProperty<PropertyFloat, &E::GetPan, &E::SetPan>("pan:-1.0,1.0");
    classInfo->AddProperty<PropertyFloat, &E::GetProgress, &E::SetProgress>("progress:0.0,1.0");
    classInfo->AddResourceProperty<&E::GetSoundFile, &E::SetSoundFile>(
        "soundfile:wav", &SoundResource::GetLoadableExtensions);
    AddWitnessProperty(classInfo, "witness:signal", 0);

    // Script-visible under generated names: the order is fixed (compiled scripts hold them).
    classInfo->AddMethod(NextShortName(), "()", BindMethod<&E::Play>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "()", BindMethod<&E::Pause>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "()", BindMethod<&E::Stop>(), MethodScript);
    classInfo->AddMethod(NextShortName(), ":bool", BindMethod<&E::IsPlaying>(), MethodScript);

    // The class has no method of that name, so this registers nothing; kept for its place.
    RegisterClassSignal("start", classInfo);
    Node::RegisterClass()->FindProperty("flags")->AddListener(Property::ListenerOfObject, nullptr,
                                                              classInfo, &E::OnNodeFlagsChanged, 0);
    return classInfo;
}

// SoundReceiver ---------------------------------------------------------------------------------

SoundReceiver::SoundReceiver() {
    DisableOthers();
    if (AudioSystem* audio = GetAudioSystem()) {
        audio->SetMasterVolume(0.0f);
    }
    updateCount_ = 0;
}

void SoundReceiver::DisableOthers() {
    if (!classInfo) {
        return;
    }
    // Collected first: clearing a flag tells listeners, which may change the instance list.
    std::vector<uint64_t> others;
    for (int i = 0; i < classInfo->GetInstanceCountRecursive(); ++i) {
        auto* receiver = dynamic_cast<SoundReceiver*>(classInfo->GetInstance(i));
        if (receiver && receiver != this && receiver->IsFullyEnabled()) {
            others.push_back(receiver->GetSerial());
        }
    }
    for (uint64_t serial : others) {
        if (Node* other = FindLiveNode(serial)) {
            other->SetFlag(NodeEnabled, false);
        }
    }
}

void SoundReceiver::SetVolume(float volume) {
    volume_ = volume;
    AudioSystem* audio = GetAudioSystem();
    if (audio && IsFullyEnabled() && updateCount_ >= 1) {
        audio->SetMasterVolume(volume_);
    }
}

void SoundReceiver::ReceiveEvent(const EventRecord&) {
    if (!IsFullyEnabled()) {
        SetFlag(NodeEnabled, true);
        previous_ = Float3();
    }
}

void SoundReceiver::Update(float frameTime, int) {
    AudioSystem* audio = GetAudioSystem();
    if (!audio) {
        return;
    }
    const Float3 position = GetWorldPosition();
    if (!(previous_ != Float3())) {
        previous_ = position;
    }
    audio->SetListenerPosition(position);
    audio->SetListenerOrientation(GetWorldOrientation());
    audio->SetListenerVelocity(frameTime > 0.0f ? (position - previous_) / frameTime : Float3());
    previous_ = position;
    audio->Update();
    if (updateCount_ == 2) {
        audio->SetMasterVolume(volume_);
    }
    ++updateCount_;
}

void SoundReceiver::OnNodeFlagsChanged(Entity*, Entity& object, const uint32_t* oldValue,
                                       const uint32_t*) {
    auto* receiver = dynamic_cast<SoundReceiver*>(&object);
    if (receiver && receiver->IsFullyEnabled() && !FullyEnabledIn(*oldValue)) {
        receiver->DisableOthers();
    }
}

ClassInfo* SoundReceiver::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "SoundReceiver", []() -> Entity* { return new SoundReceiver(); }, &classInfo);
    classInfo->SetParent(Pivot::RegisterClass());
    classInfo->SetCategory("Sfx");
    classInfo->SetFlags(classInfo->GetFlags() | ClassUpdateWhileStopped);
    using R = SoundReceiver;
    classInfo->AddProperty<PropertyBitfield, &R::GetReceiverFlags, &R::SetReceiverFlags>(
        "receiverflags:active");
    classInfo->AddProperty<PropertyFloat, &R::GetVolume, &R::SetVolume>("volume");
    Node::RegisterClass()->FindProperty("flags")->AddListener(Property::ListenerOfObject, nullptr,
                                                              classInfo, &R::OnNodeFlagsChanged, 0);
    return classInfo;
}

} // namespace quarn
