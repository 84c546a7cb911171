// A sound clip handed over by the Java host: raw 16-bit mono samples in native byte
// order, played once or in a loop.
#pragma once

#include <cstdint>
#include <vector>

namespace tallix {

class SoundPlayer;

struct SoundClip {
    std::vector<uint8_t> bytes;  // the sample data; an odd last byte is never played
    int32_t sampleRate = 0;
    int32_t position = 0;  // byte offset of the next sample to play
    bool loop = false;

    // Set by the player for the stream that plays the clip.
    SoundPlayer* owner = nullptr;
    uint64_t serial = 0;  // tells this playing apart from any earlier one

    int32_t byteLength() const noexcept { return static_cast<int32_t>(bytes.size()); }
    // Bytes of whole samples: where playback ends.
    int32_t playableLength() const noexcept { return byteLength() & ~1; }
};

// Fills `frames` 16-bit samples of `output` from the clip and advances its position:
// true while the clip goes on, false once it has ended (the rest of the buffer is
// silent). A clip ends when no whole sample is left, even when looping: a looping clip
// of odd byte length plays its whole samples once.
// Real-time code: no allocation, lock or wait.
bool fillFromClip(SoundClip& clip, int16_t* output, unsigned long frames) noexcept;

// Resamples the clip to `targetRate` with libresample (high quality, one pass with the
// last-block flag set) and converts back to 16 bits with PortAudio's own dithering,
// clipping converter. The position moves to the same point in time.
// False, with the clip untouched, if the converter cannot be made or the result could
// be longer than kMaxResampledSamples (its byte count must fit the clip's 32 bits), or
// the conversion factor is beyond kMaxResampleFactor either way.
inline constexpr int32_t kMaxResampledSamples = 0x3FFFFFFF;
// libresample sizes its output buffer at 4096 input samples times the conversion
// factor and does not check its allocations: a factor of 48000 (a 1 Hz clip on a 48 kHz
// device) asks for 786 MB, which a 32-bit process does not get, and the library then
// writes through a null pointer. Clips whose rate is further than this factor from the
// device's are refused.
inline constexpr double kMaxResampleFactor = 256.0;
bool resampleClip(SoundClip& clip, int targetRate);

}  // namespace tallix
