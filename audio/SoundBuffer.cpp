#include "audio/SoundBuffer.h"

#include "audio/AudioSystem.h"
#include "audio/SoundVoice.h"
#include "core/debug/Log.h"
#include "core/string/Text.h"

#include <algorithm>
#include <cstring>

namespace quarn {

SoundBuffer::~SoundBuffer() {
    DeleteVoices();
}

void SoundBuffer::DeleteVoices() {
    // Each voice takes itself out of the list.
    while (!voices_.empty()) {
        delete voices_.back();
    }
}

bool SoundBuffer::IsFormatSupported(uint32_t bits, uint32_t channels) {
    return (bits == 8 || bits == 16) && (channels == 1 || channels == 2);
}

std::string SoundBuffer::WhyRefused(uint32_t length, uint32_t bits, uint32_t rate,
                                    uint32_t channels) {
    if (!IsFormatSupported(bits, channels)) {
        return StringFormat("its %u-bit samples in %u channel%s are none a sound buffer takes "
                            "(8 or 16 bits in 1 or 2 channels)",
                            bits, channels, channels == 1 ? "" : "s");
    }
    if (rate < MinSampleRate || rate > MaxSampleRate) {
        return StringFormat("its sample rate of %u Hz is outside the %u to %u Hz a sound buffer "
                            "plays",
                            rate, MinSampleRate, MaxSampleRate);
    }
    if (length < 1) {
        return "it holds no sample";
    }
    if (length > MaxByteSize / (bits / 8 * channels)) {
        return StringFormat("it decodes to more than the %u bytes a sound buffer holds",
                            MaxByteSize);
    }
    return "";
}

bool SoundBuffer::Create(uint32_t flags, uint32_t length, uint32_t bits, uint32_t rate,
                         uint32_t channels) {
    const bool valid = WhyRefused(length, bits, rate, channels).empty() && voices_.empty();
    if (valid) {
        length_ = length;
        channels_ = channels;
        bits_ = bits;
        rate_ = rate;
        is3D_ = (flags & SoundBuffer3D) != 0 && channels == 1;
        // Silence: 8-bit samples are unsigned around 128.
        samples_.assign(size_t(length) * GetFrameBytes(), bits == 8 ? 0x80 : 0);
        lockState_ = SoundUnlocked;
        locked_ = false;
        written_ = false;
        created_ = CreateDeviceBuffer();
    }
    if (!valid || !created_) {
        // Given back, not only emptied: without a device every sound fails, and the buffers stay.
        std::vector<uint8_t>().swap(samples_);
        created_ = false;
        SetLastError("Failed to create audio buffer");
        // Without a device every buffer fails alike, and the run said once that sound is off.
        const AudioSystem* audio = GetAudioSystem();
        if (!valid || !audio || (audio->GetStateFlags() & AudioDeviceCreated)) {
            LogMessage("%s", lastError_);
        }
        return false;
    }
    return true;
}

bool SoundBuffer::SetLockState(int32_t state) {
    if (state == lockState_) {
        return true;
    }
    if (state == SoundLockedForReading || state == SoundLockedForWriting) {
        if (!created_) {
            return false;
        }
        locked_ = true;
        written_ = written_ || state == SoundLockedForWriting;
    } else if (state == SoundUnlocked && locked_) {
        if (written_ && !UploadSamples()) {
            return false;
        }
        locked_ = false;
        written_ = false;
    }
    lockState_ = state;
    return true;
}

void SoundBuffer::SetData(const void* source) {
    if (!SetLockState(SoundLockedForWriting)) {
        return;
    }
    std::memcpy(samples_.data(), source, samples_.size());
    SetLockState(SoundUnlocked);
}

void SoundBuffer::SetSample(uint32_t index, int32_t value) {
    if (!locked_ || index >= size_t(length_) * channels_) {
        return;
    }
    if (bits_ == 8) {
        samples_[index] = static_cast<uint8_t>((value >> 24) + 128);
    } else {
        // In the host's order, as the device takes 16-bit samples.
        const auto sample = static_cast<int16_t>(value >> 16);
        std::memcpy(&samples_[size_t(index) * 2], &sample, 2);
    }
}

int32_t SoundBuffer::GetSample(uint32_t index) const {
    if (!locked_ || index >= size_t(length_) * channels_) {
        return 0;
    }
    if (bits_ == 8) {
        return static_cast<int32_t>(static_cast<uint32_t>(samples_[index] - 128) << 24);
    }
    int16_t sample;
    std::memcpy(&sample, &samples_[size_t(index) * 2], 2);
    return static_cast<int32_t>(static_cast<uint32_t>(sample) << 16);
}

int SoundBuffer::SetFlags(uint32_t mask, uint32_t value) {
    if (!voices_.empty()) {
        return 1;
    }
    flags_ = (flags_ & ~mask) | (value & mask);
    return 0;
}

SoundVoice* SoundBuffer::Play(bool loop) {
    SoundVoice* voice = DuplicateVoice();
    if (voice) {
        voice->Play(loop);
    }
    return voice;
}

SoundVoice* SoundBuffer::GetVoice(int index) const {
    return index >= 0 && index < GetVoiceCount() ? voices_[index] : nullptr;
}

void SoundBuffer::RemoveVoice(SoundVoice* voice) {
    voices_.erase(std::remove(voices_.begin(), voices_.end(), voice), voices_.end());
}

} // namespace quarn
