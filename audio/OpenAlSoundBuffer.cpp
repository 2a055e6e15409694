#include "audio/OpenAlSoundBuffer.h"

#include "audio/OpenAlAudioSystem.h"
#include "audio/OpenAlVoice.h"
#include "core/os/HeldMemory.h"

#include <AL/al.h>

namespace quarn {

int OpenAlSoundBuffer::FormatOf(uint32_t bits, uint32_t channels) {
    if (channels == 1) {
        return bits == 8 ? AL_FORMAT_MONO8 : AL_FORMAT_MONO16;
    }
    return bits == 8 ? AL_FORMAT_STEREO8 : AL_FORMAT_STEREO16;
}

OpenAlSoundBuffer::~OpenAlSoundBuffer() {
    DeleteVoices();
    if (bufferId_ != 0) {
        alDeleteBuffers(1, &bufferId_);
    }
    CountLibraryMemory(-int64_t(libraryBytes_));
}

bool OpenAlSoundBuffer::CreateDeviceBuffer() {
    if (!system_.HasContext()) {
        return false;
    }
    if (bufferId_ == 0) {
        alGetError();
        alGenBuffers(1, &bufferId_);
        if (alGetError() != AL_NO_ERROR) {
            bufferId_ = 0;
            return false;
        }
    }
    return UploadSamples();
}

bool OpenAlSoundBuffer::UploadSamples() {
    // OpenAL refuses new data for a buffer that sources hold. Voices of one buffer share its
    // samples, so those that play let go for the upload and go on where they were.
    struct Held {
        ALuint source;
        ALint state;
        ALint offset;
    };
    std::vector<Held> held;
    for (SoundVoice* voice : voices_) {
        Held hold{static_cast<OpenAlVoice*>(voice)->GetSourceId(), AL_STOPPED, 0};
        alGetSourcei(hold.source, AL_SOURCE_STATE, &hold.state);
        alGetSourcei(hold.source, AL_SAMPLE_OFFSET, &hold.offset);
        alSourceStop(hold.source);
        alSourcei(hold.source, AL_BUFFER, 0);
        held.push_back(hold);
    }
    const ALenum format = FormatOf(GetBitsPerSample(), GetChannels());
    alGetError();
    alBufferData(bufferId_, format, samples_.data(), static_cast<ALsizei>(samples_.size()),
                 static_cast<ALsizei>(GetSampleRate()));
    const bool uploaded = alGetError() == AL_NO_ERROR;
    if (uploaded) {
        // OpenAL keeps a copy of its own beside samples_: the game holds the sound twice.
        CountLibraryMemory(int64_t(samples_.size()) - int64_t(libraryBytes_));
        libraryBytes_ = samples_.size();
    }
    for (const Held& hold : held) {
        alSourcei(hold.source, AL_BUFFER, static_cast<ALint>(bufferId_));
        if (hold.state == AL_PLAYING || hold.state == AL_PAUSED) {
            alSourcei(hold.source, AL_SAMPLE_OFFSET, hold.offset);
            alSourcePlay(hold.source);
            if (hold.state == AL_PAUSED) {
                alSourcePause(hold.source);
            }
        }
    }
    return uploaded;
}

SoundVoice* OpenAlSoundBuffer::DuplicateVoice() {
    ALuint source = 0;
    if (system_.HasContext() && bufferId_ != 0) {
        alGetError();
        alGenSources(1, &source);
        if (alGetError() == AL_NO_ERROR) {
            alSourcei(source, AL_BUFFER, static_cast<ALint>(bufferId_));
        } else {
            source = 0;
        }
    }
    if (source == 0) {
        SetLastError("Failed to duplicate sound buffer");
        return nullptr;
    }
    voices_.push_back(new OpenAlVoice(*this, source));
    return voices_.back();
}

} // namespace quarn
