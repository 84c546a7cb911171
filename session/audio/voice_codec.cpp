#include "session/audio/voice_codec.h"

// Debian's Opus is built with custom modes; the header declares the in-place init
// functions only for callers that say they use them.
#define CUSTOM_MODES 1
#include <opus/opus_custom.h>

#include <cstring>
#include <new>

namespace qel {

void VoiceCodec::ModeDeleter::operator()(OpusCustomMode* mode) const noexcept {
    opus_custom_mode_destroy(mode);
}

VoiceCodec::~VoiceCodec() {
    // The states point into their memory blocks and the mode; blocks go first, then
    // the mode they refer to.
    m_encoder = nullptr;
    m_decoder = nullptr;
    m_encoderMemory.reset();
    m_decoderMemory.reset();
    m_mode.reset();
}

void VoiceCodec::reset() noexcept {
    if (!m_mode) {
        int error = 0;
        m_mode.reset(opus_custom_mode_create(kSampleRate, kFrameSamples, &error));
    }
    if (m_mode && !m_encoder) {
        const int size = opus_custom_encoder_get_size(m_mode.get(), 1);
        m_encoderMemory.reset(new (std::nothrow) unsigned char[static_cast<size_t>(size)]);
        if (m_encoderMemory) {
            auto* encoder = reinterpret_cast<OpusCustomEncoder*>(m_encoderMemory.get());
            if (opus_custom_encoder_init(encoder, m_mode.get(), 1) == OPUS_OK) {
                m_encoder = encoder;
            } else {
                m_encoderMemory.reset();
            }
        }
    }
    if (m_mode && !m_decoder) {
        const int size = opus_custom_decoder_get_size(m_mode.get(), 1);
        m_decoderMemory.reset(new (std::nothrow) unsigned char[static_cast<size_t>(size)]());
        if (m_decoderMemory) {
            auto* decoder = reinterpret_cast<OpusCustomDecoder*>(m_decoderMemory.get());
            if (opus_custom_decoder_init(decoder, m_mode.get(), 1) == OPUS_OK) {
                m_decoder = decoder;
            } else {
                m_decoderMemory.reset();
            }
        }
    }
    // Results of the settings are not examined: every value is valid for this mode.
    if (m_encoder) {
        opus_custom_encoder_ctl(m_encoder, OPUS_RESET_STATE);
    }
    if (m_decoder) {
        opus_custom_decoder_ctl(m_decoder, OPUS_RESET_STATE);
    }
    if (m_encoder) {
        opus_custom_encoder_ctl(m_encoder, OPUS_SET_SIGNAL(OPUS_AUTO));
        opus_custom_encoder_ctl(m_encoder, OPUS_SET_COMPLEXITY(kComplexity));
        opus_custom_encoder_ctl(m_encoder, OPUS_SET_BITRATE(kBitrate));
        opus_custom_encoder_ctl(m_encoder, OPUS_SET_INBAND_FEC(0));
        opus_custom_encoder_ctl(m_encoder, OPUS_SET_DTX(0));
    }
}

int VoiceCodec::encode(const int16_t* pcm, uint8_t* out, int room) noexcept {
    if (!m_encoder) {
        return 0;
    }
    const int bytes = opus_custom_encode(m_encoder, pcm, kFrameSamples, out, room);
    return bytes > 0 ? bytes : 0;
}

bool VoiceCodec::decode(const uint8_t* data, int length, int16_t* pcm) noexcept {
    if (m_decoder) {
        const int samples = opus_custom_decode(m_decoder, data, data ? length : 0, pcm,
                                               kFrameSamples);
        if (samples == kFrameSamples) {
            return true;
        }
    }
    std::memset(pcm, 0, kFrameSamples * sizeof(int16_t));
    return false;
}

}  // namespace qel
