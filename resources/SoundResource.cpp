#include "resources/SoundResource.h"

#include "audio/AudioSystem.h"
#include "audio/SoundBuffer.h"
#include "codecs/OggVorbis.h"
#include "codecs/WavReader.h"
#include "core/debug/Log.h"
#include "core/filesystem/FileSystem.h"
#include "core/io/File.h"
#include "core/string/Text.h"
#include "resources/ResourceRegistry.h"

#include <algorithm>
#include <new>
#include <utility>

namespace quarn {

namespace {

// A buffer of the audio system holding `samples` (silence when null); null when the audio
// system cannot make it, which it has logged.
SoundBuffer* MakeBuffer(AudioSystem& audio, uint32_t flags, uint32_t frames, uint32_t bits,
                        uint32_t rate, uint32_t channels, const void* samples) {
    SoundBuffer* buffer = audio.CreateSoundBuffer();
    if (!buffer->Create(flags, frames, bits, rate, channels)) {
        audio.DestroySoundBuffer(buffer);
        return nullptr;
    }
    if (samples) {
        buffer->SetData(samples);
    }
    return buffer;
}

// The decoded bytes of every sound loaded from a file.
int64_t heldSoundBytes = 0;

} // namespace

SoundResource::SoundResource(const char* path, const char* options) : Resource(path, options) {
    Load();
}

SoundResource::~SoundResource() {
    DestroyBuffer();
}

void SoundResource::DestroyBuffer() {
    // Without an audio system the buffer went with the system that owned it.
    if (AudioSystem* audio = GetAudioSystem(); audio && buffer_) {
        audio->DestroySoundBuffer(buffer_);
    }
    if (buffer_) {
        ++bufferGeneration_;
    }
    buffer_ = nullptr;
    heldSoundBytes -= std::exchange(heldBytes_, 0u);
}

uint32_t SoundResource::RoomLeft() {
    return static_cast<uint32_t>(
        std::clamp<int64_t>(SceneByteLimit - heldSoundBytes, 0, SoundBuffer::MaxByteSize));
}

void SoundResource::Refuse(const std::string& why) const {
    LogMessage("Sound '%s' is not loaded: %s", GetFullPath(), why.c_str());
}

void SoundResource::RefuseForTotal() const {
    Refuse(StringFormat("it decodes to more than the %u bytes left of the %lld all sounds hold "
                        "together",
                        RoomLeft(), static_cast<long long>(SceneByteLimit)));
}

std::unique_ptr<File> SoundResource::OpenFile() const {
    ClearFileFailure();
    std::unique_ptr<File> file = GetFileSystem()->Open(GetFullPath(), 0);
    if (!file) {
        Refuse("it cannot be opened" + FileFailureSuffix());
    }
    return file;
}

bool SoundResource::TakeSamples(AudioSystem& audio, uint32_t frames, uint32_t bits, uint32_t rate,
                                uint32_t channels, const void* samples) {
    if (const std::string why = SoundBuffer::WhyRefused(frames, bits, rate, channels);
        !why.empty()) {
        Refuse(why);
        return false;
    }
    const uint64_t bytes = uint64_t{frames} * (bits / 8) * channels;
    if (bytes > RoomLeft()) {
        RefuseForTotal();
        return false;
    }
    buffer_ = MakeBuffer(audio, SoundBuffer3D, frames, bits, rate, channels, samples);
    if (!buffer_) {
        // Without a device every sound fails alike, and the run said once that sound is off.
        if (audio.GetStateFlags() & AudioDeviceCreated) {
            Refuse("Failed to create audio buffer");
        }
        return false;
    }
    heldBytes_ = static_cast<uint32_t>(bytes);
    heldSoundBytes += heldBytes_;
    return true;
}

uint32_t SoundResource::GetDataSize() const {
    return buffer_ ? buffer_->GetByteSize() : 0;
}

std::vector<std::string> SoundResource::GetLoadableExtensions() {
    return {"wav", "ogg"}; // as Load tells them apart
}

bool SoundResource::Load() {
    DestroyBuffer();
    const char* path = GetFullPath();
    if (!*path) {
        SetState(ResourceLoaded);
        Unload();
        return false;
    }
    FileSystem* files = GetFileSystem();
    if (!files || !files->Exists(path)) {
        // Reported once, but the placeholder comes back on every load.
        if (GetState() != ResourcePlaceholder) {
            ReportMissingResource(path);
        }
        Unload();
        SetState(ResourcePlaceholder);
        return false;
    }
    SetState(ResourceLoaded);
    UpdateFileTime();
    AudioSystem* audio = GetAudioSystem();
    if (!audio) {
        return false;
    }
    const char* extension = GetExtension();
    bool loaded = false;
    try {
        if (CompareNoCase(extension, "wav") == 0) {
            loaded = LoadWav(*audio);
        } else if (CompareNoCase(extension, "ogg") == 0) {
            loaded = LoadOgg(*audio);
        } else if (CompareNoCase(extension, "mp3") == 0) {
            LogMessage("Mp3 files are not supported in this version: '%s'", path);
        } else {
            LogMessage("Unknown sound format: '%s'", path);
        }
    } catch (const std::bad_alloc&) {
        Refuse("there is not enough memory for it");
    }
    if (!loaded) {
        Unload();
        SetState(ResourceFailed);
        return false;
    }
    SetState(ResourceShared);
    return true;
}

bool SoundResource::LoadWav(AudioSystem& audio) {
    std::unique_ptr<File> file = OpenFile();
    if (!file) {
        return false;
    }
    WavData wav;
    // Samples the device cannot take are refused rather than cut down to a width it can.
    if (ParseWav(*file, wav) != WavOk ||
        !SoundBuffer::IsFormatSupported(wav.bytesPerSample * 8, wav.channels)) {
        LogMessage("Invalid wav file: '%s'", GetFullPath());
        return false;
    }
    return TakeSamples(audio, wav.frameCount, wav.bytesPerSample * 8, wav.sampleRate, wav.channels,
                       wav.samples.data());
}

bool SoundResource::LoadOgg(AudioSystem& audio) {
    std::unique_ptr<File> file = OpenFile();
    if (!file) {
        return false;
    }
    const std::vector<uint8_t> bytes = file->ReadRemaining();
    OggSound sound;
    // Decoding stops at the room left, so the samples never have to fit in memory whole.
    const uint32_t room = RoomLeft();
    const int error = DecodeOggVorbis(
        bytes.data(), static_cast<uint32_t>(std::min<size_t>(bytes.size(), UINT32_MAX)), room,
        sound);
    if (error == OggTooLong && room < SoundBuffer::MaxByteSize) {
        RefuseForTotal();
        return false;
    }
    if (error == OggTooLong) {
        Refuse(StringFormat("it decodes to more than the %u bytes a sound buffer holds",
                            SoundBuffer::MaxByteSize));
        return false;
    }
    if (error != 0) {
        LogMessage("Error while loading ogg file '%s': error code %d", GetFullPath(), error);
        return false;
    }
    return TakeSamples(audio, sound.frameCount, 16, sound.sampleRate, sound.channels,
                       sound.samples.data());
}

void SoundResource::Unload() {
    DestroyBuffer();
    AudioSystem* audio = GetAudioSystem();
    if (!audio) {
        return;
    }
    buffer_ = MakeBuffer(*audio, 0, 1024, 8, 8192, 1, nullptr);
    if (!buffer_ || !buffer_->SetLockState(SoundLockedForWriting)) {
        return;
    }
    // The buzz is written as 8-bit values around 128; samples go in at full 32-bit scale.
    for (uint32_t i = 0; i < 1024; ++i) {
        const int32_t byte = i >= 33 && i <= 255 ? int32_t((i + 8) % 16 * 8 + 64) : 128;
        buffer_->SetSample(i, static_cast<int32_t>(static_cast<uint32_t>(byte - 128) << 24));
    }
    buffer_->SetLockState(SoundUnlocked);
}

SoundResource* GetSoundResource(const char* path, const char* options) {
    return AcquireResource<SoundResource>(path, options);
}

} // namespace quarn
