#include "tools/qelcall/wav_file.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

namespace qelcall {
namespace {

uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

void put32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        s.push_back(static_cast<char>(v >> (8 * i)));
    }
}
void put16(std::string& s, uint16_t v) {
    s.push_back(static_cast<char>(v));
    s.push_back(static_cast<char>(v >> 8));
}

}  // namespace

std::optional<MonoAudio> readWav(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return std::nullopt;
    }
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    return parseWav(bytes.data(), bytes.size(), path, error);
}

std::optional<MonoAudio> parseWav(const uint8_t* data, size_t length, const std::string& path,
                                  std::string& error) {
    if (length < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0) {
        error = path + " is not a WAV file";
        return std::nullopt;
    }
    int channels = 0;
    int bits = 0;
    MonoAudio audio;
    // Walk the chunks: "fmt " must come before "data"; others (LIST, fact) are skipped.
    size_t pos = 12;
    while (pos + 8 <= length) {
        const uint8_t* chunk = data + pos;
        const size_t size = std::min<size_t>(le32(chunk + 4), length - pos - 8);
        if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16) {
            const uint16_t format = le16(chunk + 8);
            channels = le16(chunk + 10);
            audio.rate = static_cast<int>(le32(chunk + 12));
            bits = le16(chunk + 22);
            if ((format != 1 && format != 0xFFFE) || bits != 16 || channels < 1 || channels > 2) {
                error = path + ": only 16-bit PCM, mono or stereo, is supported";
                return std::nullopt;
            }
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (channels == 0) {
                error = path + ": data before format";
                return std::nullopt;
            }
            const size_t frames = size / (2 * static_cast<size_t>(channels));
            audio.samples.resize(frames);
            for (size_t f = 0; f < frames; ++f) {
                float sum = 0;
                for (int c = 0; c < channels; ++c) {
                    const auto v = static_cast<int16_t>(le16(chunk + 8 + 2 * (f * channels + c)));
                    sum += static_cast<float>(v) / 32768.0f;
                }
                audio.samples[f] = sum / static_cast<float>(channels);
            }
            return audio;
        }
        pos += 8 + size + (size & 1);
    }
    error = path + ": no audio data";
    return std::nullopt;
}

bool writeWav(const std::string& path, const MonoAudio& audio) {
    const auto dataBytes = static_cast<uint32_t>(audio.samples.size() * 2);
    std::string out;
    out.reserve(44 + dataBytes);
    out += "RIFF";
    put32(out, 36 + dataBytes);
    out += "WAVEfmt ";
    put32(out, 16);
    put16(out, 1);
    put16(out, 1);
    put32(out, static_cast<uint32_t>(audio.rate));
    put32(out, static_cast<uint32_t>(audio.rate) * 2);
    put16(out, 2);
    put16(out, 16);
    out += "data";
    put32(out, dataBytes);
    for (float s : audio.samples) {
        const float clamped = std::clamp(s, -1.0f, 1.0f);
        put16(out, static_cast<uint16_t>(static_cast<int16_t>(std::lround(clamped * 32767.0f))));
    }
    std::ofstream file(path, std::ios::binary);
    file.write(out.data(), static_cast<std::streamsize>(out.size()));
    return static_cast<bool>(file);
}

}  // namespace qelcall
