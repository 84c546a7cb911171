#include "engine/sound_clip.h"

#include <libresample.h>

#include <algorithm>
#include <cstring>

#include "engine/portaudio_converter.h"

namespace tallix {

bool fillFromClip(SoundClip& clip, int16_t* output, unsigned long frames) noexcept {
    auto* out = reinterpret_cast<uint8_t*>(output);
    const size_t capacity = frames * sizeof(int16_t);
    std::memset(out, 0, capacity);
    const int32_t end = clip.playableLength();
    // A looping clip starts over only where its data ends. An odd last byte is no whole
    // sample: a clip that has one left ends there, even when looping, as does a clip
    // without any whole sample.
    const bool startsOver = clip.loop && end > 0 && end == clip.byteLength();
    size_t filled = 0;
    while (filled < capacity) {
        if (clip.position >= end) {
            if (!startsOver) {
                return false;
            }
            clip.position = 0;
        }
        const size_t take =
            std::min(capacity - filled, static_cast<size_t>(end - clip.position));
        std::memcpy(out + filled, clip.bytes.data() + clip.position, take);
        filled += take;
        clip.position += static_cast<int32_t>(take);
    }
    // A clip that ends exactly with this buffer ends now.
    return startsOver || clip.position < end;
}

bool resampleClip(SoundClip& clip, int targetRate) {
    const int count = clip.byteLength() / 2;
    const float factor = static_cast<float>(targetRate) / static_cast<float>(clip.sampleRate);
    // A clip's length is a 32-bit byte count: a rate far below the device's (1 Hz, say)
    // could ask for more samples than that can describe (and the int conversion below
    // would overflow). Such a clip is refused rather than cut.
    const double wanted = static_cast<double>(count) * factor * 1.5;
    if (targetRate <= 0 || !(wanted <= static_cast<double>(kMaxResampledSamples)) ||
        !(factor <= kMaxResampleFactor && factor >= 1.0 / kMaxResampleFactor)) {
        return false;
    }
    std::vector<float> input(static_cast<size_t>(count));
    const auto* samples = reinterpret_cast<const int16_t*>(clip.bytes.data());
    for (int i = 0; i < count; ++i) {
        int16_t sample;
        std::memcpy(&sample, samples + i, sizeof sample);
        input[static_cast<size_t>(i)] = sample / 32768.0f;
    }
    const int capacity = static_cast<int>(wanted);
    std::vector<float> output(static_cast<size_t>(std::max(capacity, 1)));

    void* converter = resample_open(1, factor, factor);
    if (converter == nullptr) {
        return false;
    }
    int used = 0;
    const int produced = resample_process(converter, factor, input.data(), count, 1, &used,
                                          output.data(), capacity);
    resample_close(converter);
    const int made = std::max(produced, 0);

    std::vector<uint8_t> bytes(static_cast<size_t>(made) * 2);
    PaUtilTriangularDitherGenerator dither;
    PaUtil_InitializeTriangularDitherState(&dither);
    PaUtilConverter* convert = PaUtil_SelectConverter(paFloat32, paInt16, paNoFlag);
    if (made > 0) {
        convert(bytes.data(), 1, output.data(), 1, static_cast<unsigned int>(made), &dither);
    }
    // In integers: the same point in time, exactly where it falls on a sample (in
    // floating point, x87 arithmetic of the 32-bit build put it one sample early).
    const int64_t position = static_cast<int64_t>(clip.position / 2) * targetRate / clip.sampleRate * 2;
    clip.bytes = std::move(bytes);
    clip.sampleRate = targetRate;
    clip.position = static_cast<int32_t>(std::min<int64_t>(position, clip.playableLength()));
    return true;
}

}  // namespace tallix
