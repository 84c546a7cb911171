// Where the pipeline shows its audio to whoever records the call.
//
// Both calls come from the audio callback thread inside audioIO, so an implementation
// must be real-time safe: copy into preallocated memory, no allocation, no lock that
// can block, no file I/O.
#pragma once

#include <cstdint>

namespace qel {

class AudioTap {
public:
    virtual ~AudioTap() = default;

    // One device buffer that went through the pipeline, at the device rate: the
    // capture mix and what was played (before the output gain), `frames` samples each.
    virtual void deviceAudio(const int16_t* captured, const int16_t* played, int frames) noexcept = 0;

    // One 10-ms block of capture after the processing module, 32 kHz mono.
    virtual void processedAudio(const int16_t* samples, int count) noexcept = 0;
};

}  // namespace qel
