#pragma once

#include "resources/Resource.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quarn {

class AudioSystem;
class File;
class SoundBuffer;

// A sound file ("wav" or "ogg") decoded whole into one sound buffer of the current audio system,
// from which the sound nodes play voices. A missing or broken file gets a short generated
// placeholder sound instead, so there is always something to play while there is an audio
// system; without one the resource holds no buffer. Scripts see it as a "ResourceRef".
class SoundResource : public Resource {
public:
    // The bytes all sounds hold decoded together: a few hundred kilobytes of Ogg may decode to
    // a buffer's worth, and a scene naming twenty such files held gigabytes. A sound that would
    // pass it is not loaded (it gets the placeholder), and the log says so. Tests lower it.
    static inline int64_t SceneByteLimit = int64_t{1} << 29;

    // Loads when the path is not empty.
    SoundResource(const char* path, const char* options);
    ~SoundResource() override;

    bool Load() override;
    // The extensions of the files Load reads.
    static std::vector<std::string> GetLoadableExtensions();
    // The placeholder: 1024 frames of 8-bit mono at 8192 Hz, a short buzz after 33 frames of
    // silence.
    void Unload() override;
    uint32_t GetDataSize() const override;

    // Null without an audio system, or when even the placeholder could not be made.
    SoundBuffer* GetSoundBuffer() const { return buffer_; }
    // Counts the buffers destroyed by reloads; the voices of a destroyed buffer went with it, so
    // whoever keeps a voice compares this with the count it saw when it started the voice.
    uint32_t GetBufferGeneration() const { return bufferGeneration_; }

private:
    bool LoadWav(AudioSystem& audio);
    bool LoadOgg(AudioSystem& audio);
    // The file, or null with the line saying why it cannot be opened.
    std::unique_ptr<File> OpenFile() const;
    // Puts the decoded samples in a buffer of their own; false, with the line saying why,
    // when none may or can hold them.
    bool TakeSamples(AudioSystem& audio, uint32_t frames, uint32_t bits, uint32_t rate,
                     uint32_t channels, const void* samples);
    void DestroyBuffer();
    // The bytes SceneByteLimit leaves for another sound.
    static uint32_t RoomLeft();
    // "Sound 'PATH' is not loaded: WHY": every failure names the file.
    void Refuse(const std::string& why) const;
    void RefuseForTotal() const;

    SoundBuffer* buffer_ = nullptr;
    uint32_t heldBytes_ = 0; // the loaded file's, counted in the total of all sounds
    uint32_t bufferGeneration_ = 0;
};

// Acquires a sound by path and options (see AcquireResource); null for an empty path.
SoundResource* GetSoundResource(const char* path, const char* options);

} // namespace quarn
