#include "audio/OpenAlAudioSystem.h"

#include "audio/OpenAlCaptureBuffer.h"
#include "audio/OpenAlSoundBuffer.h"
#include "audio/OpenAlVoice.h"

#define AL_ALEXT_PROTOTYPES
#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace quarn {

namespace {

// The platform's own text, naming the library the sound goes through here.
constexpr const char* NoDeviceText = "Couldn't create OpenAL device. This application requires an "
                                     "OpenAL compatible sound card to run.";
constexpr const char* InitFailedText = "Failed to init audio system.";
// The name OpenAL Soft gives the output of its null back end.
constexpr const char* NullOutputName = "No Output";
// Frames MixUnheard mixes at once.
constexpr uint32_t UnheardChunkFrames = 1024;

// ALSA and OpenAL report on stderr every output they try and fail to open: a machine without a
// sound card would greet the user with a screenful, where the caller says once that sound is
// off. ALSOFT_LOGLEVEL, set by whoever wants OpenAL's own account, keeps it.
ALCdevice* OpenOutputQuietly() {
    if (std::getenv("ALSOFT_LOGLEVEL")) {
        return alcOpenDevice(nullptr);
    }
    std::fflush(stderr);
    const int kept = dup(STDERR_FILENO);
    const int none = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const bool silenced = kept >= 0 && none >= 0 && dup2(none, STDERR_FILENO) >= 0;
    ALCdevice* device = alcOpenDevice(nullptr);
    if (silenced) {
        std::fflush(stderr);
        dup2(kept, STDERR_FILENO);
    }
    for (int descriptor : {kept, none}) {
        if (descriptor >= 0) {
            close(descriptor);
        }
    }
    return device;
}

} // namespace

OpenAlAudioSystem::OpenAlAudioSystem(AudioOutput output) : output_(output) {}

OpenAlAudioSystem::~OpenAlAudioSystem() {
    DestroyAllBuffers();
    if (context_) {
        if (alcGetCurrentContext() == context_) {
            alcMakeContextCurrent(nullptr);
        }
        alcDestroyContext(context_);
    }
    if (device_) {
        alcCloseDevice(device_);
    }
}

bool OpenAlAudioSystem::Init(uint32_t flags, uint32_t bits, uint32_t rate, uint32_t channels) {
    stateFlags_ = 0;
    if (!device_) {
        device_ = output_ == AudioOutput::Loopback ? alcLoopbackOpenDeviceSOFT(nullptr)
                                                   : OpenOutputQuietly();
        if (!device_) {
            lastError_ = NoDeviceText;
            return false;
        }
    }
    stateFlags_ = AudioDeviceCreated | AudioSoftwareMixing;
    bool opened = SoundBuffer::IsFormatSupported(bits, channels) && rate <= INT32_MAX;
    if (opened) {
        // Head-related filtering would make the mix depend on the machine's configuration.
        std::vector<ALCint> attributes = {ALC_FREQUENCY, static_cast<ALCint>(rate), ALC_HRTF_SOFT,
                                          ALC_FALSE};
        // A loopback device also takes the sample format RenderLoopback hands out.
        if (output_ == AudioOutput::Loopback) {
            attributes.insert(attributes.end(), {ALC_FORMAT_CHANNELS_SOFT,
                                                 channels == 1 ? ALC_MONO_SOFT : ALC_STEREO_SOFT,
                                                 ALC_FORMAT_TYPE_SOFT, ALC_FLOAT_SOFT});
        }
        attributes.push_back(0);
        if (context_) {
            opened = alcResetDeviceSOFT(device_, attributes.data()) == ALC_TRUE;
        } else {
            context_ = alcCreateContext(device_, attributes.data());
            opened = context_ != nullptr && alcMakeContextCurrent(context_) == ALC_TRUE;
            if (!opened && context_) {
                alcDestroyContext(context_);
                context_ = nullptr;
            }
        }
    }
    if (!opened) {
        lastError_ = InitFailedText;
        stateFlags_ = 0;
        return false;
    }
    bits_ = bits;
    rate_ = rate;
    channels_ = channels;
    alDistanceModel(AL_INVERSE_DISTANCE_CLAMPED);
    alListenerf(AL_GAIN, 1.0f);
    has3DListener_ = (flags & AudioInit3D) != 0;
    return true;
}

void OpenAlAudioSystem::SetListenerPosition(const Float3& position) {
    if (has3DListener_) {
        listenerPosition_ = position;
        deferred_ = true;
    }
}

void OpenAlAudioSystem::SetListenerOrientation(const Quaternion& rotation) {
    if (has3DListener_) {
        listenerFront_ = rotation.RotateVector({0.0f, 0.0f, 1.0f});
        listenerTop_ = rotation.RotateVector({0.0f, 1.0f, 0.0f});
        deferred_ = true;
    }
}

Quaternion OpenAlAudioSystem::GetListenerOrientation() const {
    if (!has3DListener_) {
        return {};
    }
    const Float3 right = listenerTop_.Cross(listenerFront_);
    Matrix4 rows;
    const Float3 axes[3] = {right, listenerTop_, listenerFront_};
    for (int row = 0; row < 3; ++row) {
        rows.At(row, 0) = axes[row].x;
        rows.At(row, 1) = axes[row].y;
        rows.At(row, 2) = axes[row].z;
    }
    return Quaternion::FromMatrix(rows);
}

void OpenAlAudioSystem::SetMasterVolume(float factor) {
    const int32_t hundredths = VolumeToHundredths(factor);
    if (hundredths <= 0 && context_) {
        alListenerf(AL_GAIN, HundredthsToGain(hundredths));
    }
}

bool OpenAlAudioSystem::Update() {
    if (!deferred_) {
        return true;
    }
    // Finished callbacks may delete voices or buffers, so both lists are indexed afresh.
    bool playing = false;
    for (size_t b = 0; b < buffers_.size(); ++b) {
        for (int v = 0; b < buffers_.size() && v < buffers_[b]->GetVoiceCount(); ++v) {
            if (buffers_[b]->GetVoice(v)->UpdateState() == VoicePlaying) {
                playing = true;
                break;
            }
        }
    }
    if (!playing) {
        return true;
    }
    deferred_ = false;
    return CommitDeferred();
}

bool OpenAlAudioSystem::CommitDeferred() {
    alGetError();
    if (has3DListener_) {
        alListener3f(AL_POSITION, listenerPosition_.x, listenerPosition_.y, -listenerPosition_.z);
        const ALfloat orientation[6] = {listenerFront_.x, listenerFront_.y, -listenerFront_.z,
                                        listenerTop_.x,   listenerTop_.y,   -listenerTop_.z};
        alListenerfv(AL_ORIENTATION, orientation);
    }
    for (SoundBuffer* buffer : buffers_) {
        for (int v = 0; v < buffer->GetVoiceCount(); ++v) {
            static_cast<OpenAlVoice*>(buffer->GetVoice(v))->CommitDeferred(listenerPosition_);
        }
    }
    return alGetError() == AL_NO_ERROR;
}

SoundBuffer* OpenAlAudioSystem::CreateSoundBuffer() {
    buffers_.push_back(new OpenAlSoundBuffer(*this));
    return buffers_.back();
}

SoundCaptureBuffer* OpenAlAudioSystem::CreateCaptureBuffer() {
    captureBuffers_.push_back(new OpenAlCaptureBuffer());
    return captureBuffers_.back();
}

bool OpenAlAudioSystem::RenderLoopback(float* out, uint32_t frames) {
    if (output_ != AudioOutput::Loopback || !context_) {
        return false;
    }
    alcRenderSamplesSOFT(device_, out, static_cast<ALCsizei>(frames));
    return true;
}

bool OpenAlAudioSystem::IsHeard() const {
    if (output_ == AudioOutput::Loopback || !device_) {
        return false;
    }
    const char* name = alcGetString(device_, ALC_ALL_DEVICES_SPECIFIER);
    return !name || std::strcmp(name, NullOutputName) != 0;
}

bool OpenAlAudioSystem::AnyVoicePlays() const {
    for (SoundBuffer* buffer : buffers_) {
        for (int v = 0; v < buffer->GetVoiceCount(); ++v) {
            ALint state = AL_INITIAL;
            alGetSourcei(static_cast<OpenAlVoice*>(buffer->GetVoice(v))->GetSourceId(),
                         AL_SOURCE_STATE, &state);
            if (state == AL_PLAYING) {
                return true;
            }
        }
    }
    return false;
}

void OpenAlAudioSystem::MixUnheard(float seconds) {
    if (output_ != AudioOutput::Loopback || !context_ || !(seconds > 0.0f)) {
        return;
    }
    // Silence would only cost time; a voice started later starts from its own beginning.
    if (!AnyVoicePlays()) {
        unmixedFrames_ = 0.0;
        return;
    }
    unmixedFrames_ += double(std::min(seconds, MostUnheardSeconds)) * rate_;
    mixScratch_.resize(size_t(UnheardChunkFrames) * channels_);
    while (unmixedFrames_ >= 1.0) {
        const auto frames =
            static_cast<uint32_t>(std::min<double>(unmixedFrames_, UnheardChunkFrames));
        alcRenderSamplesSOFT(device_, mixScratch_.data(), static_cast<ALCsizei>(frames));
        unmixedFrames_ -= frames;
    }
}

} // namespace quarn
