// 16-bit PCM WAV files for the call tool: the microphone recording it plays into the
// call and the far-end audio it writes out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qelcall {

struct MonoAudio {
    int rate = 0;
    std::vector<float> samples;  // -1..1
};

// Reads a 16-bit PCM file, mono or stereo (stereo is mixed down). On failure returns
// nothing and sets `error`.
std::optional<MonoAudio> readWav(const std::string& path, std::string& error);

// The same on the file's bytes; `name` only appears in the error text.
std::optional<MonoAudio> parseWav(const uint8_t* bytes, size_t size, const std::string& name,
                                  std::string& error);

// Writes mono 16-bit PCM; false when the file cannot be written.
bool writeWav(const std::string& path, const MonoAudio& audio);

}  // namespace qelcall
