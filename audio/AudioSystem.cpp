#include "audio/AudioSystem.h"

#include "audio/SoundBuffer.h"
#include "audio/SoundCaptureBuffer.h"
#include "audio/SoundVoice.h"

#include <algorithm>
#include <cmath>

namespace quarn {

namespace {

AudioSystem* currentAudioSystem = nullptr;

template <class T>
void EraseAndDelete(std::vector<T*>& list, T* item) {
    const auto end = std::remove(list.begin(), list.end(), item);
    if (end == list.end()) {
        return;
    }
    list.erase(end, list.end());
    delete item;
}

} // namespace

int32_t VolumeToHundredths(float factor) {
    if (!(factor >= 0.00001f)) {
        return SilentHundredths;
    }
    // Single precision on purpose: 0.5 must give -600.0001, truncated to -600.
    const float hundredths = std::log10(factor) * 19.93157f * 100.0f;
    if (!(hundredths < 2147483520.0f)) {
        return INT32_MAX;
    }
    return std::max(static_cast<int32_t>(hundredths), SilentHundredths);
}

float HundredthsToVolume(int32_t hundredths) {
    return static_cast<float>(std::pow(10.0, hundredths * 0.01 / 19.93));
}

float HundredthsToGain(int32_t hundredths) {
    return static_cast<float>(std::pow(10.0, hundredths / 2000.0));
}

AudioSystem::AudioSystem() {
    currentAudioSystem = this;
}

AudioSystem::~AudioSystem() {
    if (currentAudioSystem == this) {
        currentAudioSystem = nullptr;
    }
}

AudioSystem* GetAudioSystem() {
    return currentAudioSystem;
}

void AudioSystem::StopAll() {
    for (SoundBuffer* buffer : buffers_) {
        for (int i = 0; i < buffer->GetVoiceCount(); ++i) {
            buffer->GetVoice(i)->Stop();
        }
    }
}

void AudioSystem::SetEnabled(bool enabled) {
    if (!enabled) {
        StopAll();
    }
    enabled_ = enabled;
}

void AudioSystem::DestroySoundBuffer(SoundBuffer* buffer) {
    EraseAndDelete(buffers_, buffer);
}

SoundBuffer* AudioSystem::GetSoundBuffer(int index) const {
    return index >= 0 && index < GetSoundBufferCount() ? buffers_[index] : nullptr;
}

void AudioSystem::DestroyCaptureBuffer(SoundCaptureBuffer* buffer) {
    EraseAndDelete(captureBuffers_, buffer);
}

SoundCaptureBuffer* AudioSystem::GetCaptureBuffer(int index) const {
    return index >= 0 && index < GetCaptureBufferCount() ? captureBuffers_[index] : nullptr;
}

void AudioSystem::DestroyAllBuffers() {
    StopAll();
    for (SoundBuffer* buffer : buffers_) {
        delete buffer;
    }
    buffers_.clear();
    for (SoundCaptureBuffer* buffer : captureBuffers_) {
        delete buffer;
    }
    captureBuffers_.clear();
}

} // namespace quarn
