// The voice codec: Opus in custom mode (CELT only), 32 kHz mono, 640-sample frames.
//
// Encoder and decoder live in memory blocks of their own, sized by the library and
// initialised in place, so that no allocation happens after set-up. Objects that
// cannot be created stay absent: encode() then yields nothing and decode() silence.
#pragma once

#include <cstdint>
#include <memory>

struct OpusCustomMode;
struct OpusCustomEncoder;
struct OpusCustomDecoder;

namespace qel {

class VoiceCodec {
public:
    static constexpr int kSampleRate = 32000;
    static constexpr int kFrameSamples = 640;
    static constexpr int kBitrate = 64000;
    // Complexity 0, not 4. In this custom mode (32 kHz, 640-sample frames) the CELT
    // encoder of libopus 1.3.1 at any complexity from 1 up sometimes codes frames whose
    // decoded energy explodes: on speech, 16% of frames at complexity 4 came back as
    // full-scale bursts (a decoder in float gives values in the hundreds of thousands),
    // with no code of ours between encoder and decoder. Complexity 0 leaves out the
    // analyses that choose short blocks and time-frequency resolution, and gave no such
    // frame in 5,000. The setting is the sender's alone: the stream stays one that every
    // decoder of the mode reads.
    static constexpr int kComplexity = 0;

    VoiceCodec() = default;
    ~VoiceCodec();
    VoiceCodec(const VoiceCodec&) = delete;
    VoiceCodec& operator=(const VoiceCodec&) = delete;

    // Creates what is still missing (mode, encoder, decoder); then resets both codec
    // states and applies the encoder settings. Called at every client reset.
    void reset() noexcept;

    bool hasEncoder() const noexcept { return m_encoder != nullptr; }
    bool hasDecoder() const noexcept { return m_decoder != nullptr; }

    // Encodes one 640-sample frame into at most `room` bytes. Returns the byte count,
    // or 0 when nothing was encoded (no encoder, or the encoder failed).
    int encode(const int16_t* pcm, uint8_t* out, int room) noexcept;

    // Decodes one frame into 640 samples; `data` null means a lost frame (the decoder
    // conceals it). Whenever the decoder does not deliver exactly 640 samples, the
    // frame is 640 zero samples. Returns whether real decoder output was written.
    bool decode(const uint8_t* data, int length, int16_t* pcm) noexcept;

private:
    struct ModeDeleter {
        void operator()(OpusCustomMode* mode) const noexcept;
    };

    std::unique_ptr<OpusCustomMode, ModeDeleter> m_mode;
    std::unique_ptr<unsigned char[]> m_encoderMemory;
    std::unique_ptr<unsigned char[]> m_decoderMemory;
    OpusCustomEncoder* m_encoder = nullptr;  // inside m_encoderMemory
    OpusCustomDecoder* m_decoder = nullptr;  // inside m_decoderMemory
};

}  // namespace qel
