#include "audio/OpenAlCaptureBuffer.h"

#include "audio/OpenAlSoundBuffer.h"

#include <AL/al.h>
#include <AL/alc.h>
#include <algorithm>

namespace quarn {

bool OpenAlCaptureBuffer::Create(uint32_t /*flags*/, uint32_t length, uint32_t bits, uint32_t rate,
                                 uint32_t channels) {
    Destroy();
    if (!SoundBuffer::IsFormatSupported(bits, channels) || length == 0 ||
        length > SoundBuffer::MaxByteSize / (bits / 8 * channels) || rate > INT32_MAX) {
        return false;
    }
    length_ = length;
    bits_ = bits;
    rate_ = rate;
    channels_ = channels;
    const ALCenum format = OpenAlSoundBuffer::FormatOf(bits, channels);
    device_ = alcCaptureOpenDevice(nullptr, rate, format, static_cast<ALCsizei>(length));
    return device_ != nullptr;
}

bool OpenAlCaptureBuffer::Destroy() {
    if (device_) {
        alcCaptureCloseDevice(device_);
        device_ = nullptr;
    }
    return true;
}

void OpenAlCaptureBuffer::Start(bool loop) {
    if (device_) {
        alcCaptureStart(device_);
    }
    loop_ = loop;
    readPosition_ = 0;
    framesTaken_ = 0;
}

void OpenAlCaptureBuffer::Stop() {
    if (device_) {
        alcCaptureStop(device_);
    }
}

uint32_t OpenAlCaptureBuffer::AvailableFrames() {
    ALCint available = 0;
    if (device_) {
        alcGetIntegerv(device_, ALC_CAPTURE_SAMPLES, 1, &available);
    }
    return std::min(static_cast<uint32_t>(std::max(available, 0)), length_);
}

uint32_t OpenAlCaptureBuffer::GetPosition() {
    const uint32_t size = GetByteSize();
    return size == 0
               ? 0
               : uint32_t((readPosition_ + uint64_t(AvailableFrames()) * GetFrameBytes()) % size);
}

uint32_t OpenAlCaptureBuffer::Update() {
    samples_.clear();
    uint32_t frames = AvailableFrames();
    if (!loop_) {
        frames = uint32_t(
            std::min<uint64_t>(frames, length_ - std::min<uint64_t>(framesTaken_, length_)));
    }
    if (frames == 0) {
        return 0;
    }
    const uint32_t frameBytes = GetFrameBytes();
    std::vector<uint8_t> bytes(size_t(frames) * frameBytes);
    alcCaptureSamples(device_, bytes.data(), static_cast<ALCsizei>(frames));
    samples_.reserve(frames);
    PackCapturedFrames(bytes.data(), static_cast<uint32_t>(bytes.size()), frameBytes, samples_);
    framesTaken_ += frames;
    if (!loop_ && framesTaken_ >= length_) {
        alcCaptureStop(device_);
    }
    readPosition_ = uint32_t((readPosition_ + uint64_t(frames) * frameBytes) % GetByteSize());
    return frames;
}

} // namespace quarn
