// WAV files through the reader, then as sound resources into buffers of a loopback audio system
// (nothing reaches a sound card).
#include "audio/OpenAlAudioSystem.h"
#include "audio/SoundBuffer.h"
#include "codecs/WavReader.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/MemoryFileSystem.h"
#include "core/io/BufferFile.h"
#include "resources/SoundResource.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) {
        return 0;
    }
    quarn::BufferFile file(data, uint32_t(size));
    quarn::WavData wav;
    if (quarn::ParseWav(file, wav) == quarn::WavOk &&
        (wav.frameCount == 0 ||
         uint64_t(wav.frameCount) * wav.channels * wav.bytesPerSample > wav.samples.size())) {
        std::abort(); // a whole frame at least, and never more frames than bytes
    }

    static quarn::OpenAlAudioSystem* audio = [] {
        setenv("ALSOFT_DRIVERS", "none", 1);
        auto* system = new quarn::OpenAlAudioSystem(quarn::AudioOutput::Loopback);
        system->Init(quarn::AudioInit3D, 16, 22050, 2);
        return system;
    }();
    quarn::MemoryFileSystem files;
    quarn::FileSystem* previous = quarn::GetFileSystem();
    quarn::SetFileSystem(&files);
    files.Add("sound.wav", std::string(reinterpret_cast<const char*>(data), size));
    quarn::SoundResource* sound = quarn::GetSoundResource("sound.wav", nullptr);
    // A buffer always: the file's or the placeholder.
    if (!sound || !sound->GetSoundBuffer() || audio->GetSoundBufferCount() != 1) {
        std::abort();
    }
    sound->Release();
    quarn::SetFileSystem(previous);
    return 0;
}
