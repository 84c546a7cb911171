// Fuzz target for the call tool's WAV reader: any bytes as the microphone file. The
// reader either refuses them with a message or returns samples in -1..1 whose count
// follows from the data chunk it found, and never reads outside the bytes.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/qelcall/wav_file.h"

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so that a read past the end is caught.
    const std::vector<uint8_t> bytes(data, data + size);
    std::string error;
    const std::optional<qelcall::MonoAudio> audio =
        qelcall::parseWav(bytes.data(), bytes.size(), "input", error);
    if (!audio) {
        check(!error.empty());
        return 0;
    }
    // Two bytes a sample at least: the samples cannot outnumber the bytes.
    check(audio->samples.size() * 2 <= size);
    for (float s : audio->samples) {
        check(std::isfinite(s) && s >= -1.0f && s < 1.0f);
    }
    return 0;
}
