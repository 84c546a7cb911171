// The codec entry points that qel exports under the Opus library's own names, found and
// called the way a host does: by name in the loaded qel library.
#include <gtest/gtest.h>

#define CUSTOM_MODES 1
#include <opus/opus_custom.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/dynamic_library.h"

namespace {

constexpr int kRate = 48000;
constexpr int kFrame = 960;
constexpr double kPi = 3.14159265358979323846;

const platform::DynamicLibrary& qelLibrary() {
    static platform::DynamicLibrary library = platform::DynamicLibrary::open(QEL_LIBRARY_PATH);
    return library;
}

// The entry point `name` of qel; fails the test when qel lacks it or when the name
// resolves to code outside qel.
template <typename Function>
Function qelEntry(Function, const char* name) {
    void* address = qelLibrary().symbol(name);
    EXPECT_NE(address, nullptr) << name;
    if (address != nullptr) {
        EXPECT_TRUE(qelLibrary().contains(address)) << name << " resolves outside qel";
    }
    return reinterpret_cast<Function>(address);
}

#define QEL_ENTRY(name) qelEntry(&::name, #name)

// Power of frequency `f` in `samples` (Goertzel), per sample.
double tonePower(const std::vector<float>& samples, double f) {
    const double coefficient = 2.0 * std::cos(2.0 * kPi * f / kRate);
    double previous = 0.0;
    double beforePrevious = 0.0;
    for (const float s : samples) {
        const double current = s + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    const double power =
        previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious;
    return power / static_cast<double>(samples.size() * samples.size());
}

TEST(QelOpusExports, TextsAreTheOpusLibrarysOwn) {
    const auto version = QEL_ENTRY(opus_get_version_string);
    const auto strerror = QEL_ENTRY(opus_strerror);
    ASSERT_NE(version, nullptr);
    ASSERT_NE(strerror, nullptr);
#if defined(_WIN32)
    // The library is linked into qel.dll, built from the 1.3.1 source.
    EXPECT_EQ(std::string(version()).rfind("libopus 1.3.1", 0), 0u) << version();
#else
    // qel forwards to the system's library and answers its texts.
    platform::DynamicLibrary opusLibrary = platform::DynamicLibrary::open("libopus.so.0");
    ASSERT_TRUE(opusLibrary);
    const auto opusVersion =
        reinterpret_cast<decltype(&::opus_get_version_string)>(opusLibrary.symbol("opus_get_version_string"));
    ASSERT_NE(opusVersion, nullptr);
    EXPECT_NE(reinterpret_cast<void*>(version), reinterpret_cast<void*>(opusVersion));
    EXPECT_STREQ(version(), opusVersion());
#endif
    EXPECT_EQ(std::strncmp(version(), "libopus", 7), 0) << version();
    EXPECT_STREQ(strerror(OPUS_BAD_ARG), "invalid argument");
    EXPECT_STREQ(strerror(OPUS_OK), "success");
}

// The entry points as qel exports them, each checked to be qel's own.
struct QelOpus {
    decltype(&::opus_custom_mode_create) modeCreate = QEL_ENTRY(opus_custom_mode_create);
    decltype(&::opus_custom_mode_destroy) modeDestroy = QEL_ENTRY(opus_custom_mode_destroy);
    decltype(&::opus_custom_encoder_get_size) encoderGetSize = QEL_ENTRY(opus_custom_encoder_get_size);
    decltype(&::opus_custom_encoder_init) encoderInit = QEL_ENTRY(opus_custom_encoder_init);
    decltype(&::opus_custom_encoder_create) encoderCreate = QEL_ENTRY(opus_custom_encoder_create);
    decltype(&::opus_custom_encoder_destroy) encoderDestroy = QEL_ENTRY(opus_custom_encoder_destroy);
    decltype(&::opus_custom_encode) encode = QEL_ENTRY(opus_custom_encode);
    decltype(&::opus_custom_encode_float) encodeFloat = QEL_ENTRY(opus_custom_encode_float);
    decltype(&::opus_custom_encoder_ctl) encoderCtl = QEL_ENTRY(opus_custom_encoder_ctl);
    decltype(&::opus_custom_decoder_get_size) decoderGetSize = QEL_ENTRY(opus_custom_decoder_get_size);
    decltype(&::opus_custom_decoder_init) decoderInit = QEL_ENTRY(opus_custom_decoder_init);
    decltype(&::opus_custom_decoder_create) decoderCreate = QEL_ENTRY(opus_custom_decoder_create);
    decltype(&::opus_custom_decoder_destroy) decoderDestroy = QEL_ENTRY(opus_custom_decoder_destroy);
    decltype(&::opus_custom_decode) decode = QEL_ENTRY(opus_custom_decode);
    decltype(&::opus_custom_decode_float) decodeFloat = QEL_ENTRY(opus_custom_decode_float);
    decltype(&::opus_custom_decoder_ctl) decoderCtl = QEL_ENTRY(opus_custom_decoder_ctl);
};

class QelOpusCodec : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(HasFailure());
        int error = -1;
        m_mode = m_opus.modeCreate(kRate, kFrame, &error);
        ASSERT_NE(m_mode, nullptr);
        ASSERT_EQ(error, OPUS_OK);
    }
    void TearDown() override {
        if (m_mode != nullptr) {
            m_opus.modeDestroy(m_mode);
        }
    }

    // Encodes and decodes `frames` frames of a sine; returns the decoded second half.
    template <typename Sample, typename Encode, typename Decode>
    std::vector<float> roundTrip(Encode encode, OpusCustomEncoder* encoder, Decode decode,
                                 OpusCustomDecoder* decoder, double frequency, double amplitude) {
        constexpr int frames = 10;
        std::vector<float> output;
        for (int i = 0; i < frames; ++i) {
            Sample frame[kFrame];
            for (int n = 0; n < kFrame; ++n) {
                frame[n] = static_cast<Sample>(amplitude * std::sin(2.0 * kPi * frequency * (i * kFrame + n) / kRate));
            }
            unsigned char packet[400];
            const int bytes = encode(encoder, frame, kFrame, packet, sizeof packet);
            EXPECT_GT(bytes, 0) << "frame " << i;
            Sample pcm[kFrame];
            EXPECT_EQ(decode(decoder, packet, bytes, pcm, kFrame), kFrame) << "frame " << i;
            if (i >= frames / 2) {
                output.insert(output.end(), pcm, pcm + kFrame);
            }
        }
        return output;
    }

    QelOpus m_opus;
    OpusCustomMode* m_mode = nullptr;
};

TEST_F(QelOpusCodec, ModeCreationReportsErrorsThroughTheCallersVariable) {
    int error = 12345;
    EXPECT_EQ(m_opus.modeCreate(kRate, 7, &error), nullptr);
    EXPECT_EQ(error, OPUS_BAD_ARG);
    error = 12345;
    EXPECT_EQ(m_opus.encoderCreate(m_mode, 3, &error), nullptr);
    EXPECT_EQ(error, OPUS_BAD_ARG);
}

// A tone encoded and decoded through qel's exports comes back as that tone; the control
// requests reach the codec with their value, their result pointer or no argument.
TEST_F(QelOpusCodec, ATonePassesThroughEncoderAndDecoder) {
    int error = -1;
    OpusCustomEncoder* encoder = m_opus.encoderCreate(m_mode, 1, &error);
    ASSERT_NE(encoder, nullptr);
    EXPECT_EQ(error, OPUS_OK);
    const int size = m_opus.decoderGetSize(m_mode, 1);
    ASSERT_GT(size, 0);
    std::vector<unsigned char> decoderMemory(static_cast<size_t>(size));
    auto* decoder = reinterpret_cast<OpusCustomDecoder*>(decoderMemory.data());
    ASSERT_EQ(m_opus.decoderInit(decoder, m_mode, 1), OPUS_OK);

    EXPECT_EQ(m_opus.encoderCtl(encoder, OPUS_SET_BITRATE(48000)), OPUS_OK);
    EXPECT_EQ(m_opus.encoderCtl(encoder, OPUS_SET_LSB_DEPTH(20)), OPUS_OK);
    opus_int32 depth = 0;
    EXPECT_EQ(m_opus.encoderCtl(encoder, OPUS_GET_LSB_DEPTH(&depth)), OPUS_OK);
    EXPECT_EQ(depth, 20);
    EXPECT_EQ(m_opus.encoderCtl(encoder, OPUS_GET_BITRATE(&depth)), OPUS_UNIMPLEMENTED)
        << "the codec's own answer to a request its custom mode lacks";
    EXPECT_EQ(m_opus.encoderCtl(encoder, OPUS_SET_COMPLEXITY(11)), OPUS_BAD_ARG);
    EXPECT_EQ(m_opus.encoderCtl(encoder, OPUS_RESET_STATE), OPUS_OK);
    EXPECT_EQ(m_opus.decoderCtl(decoder, OPUS_RESET_STATE), OPUS_OK);
    opus_uint32 range = 1;
    EXPECT_EQ(m_opus.decoderCtl(decoder, OPUS_GET_FINAL_RANGE(&range)), OPUS_OK);
    EXPECT_EQ(range, 0u) << "nothing decoded since the reset";

    const std::vector<float> output =
        roundTrip<opus_int16>(m_opus.encode, encoder, m_opus.decode, decoder, 1000.0, 8000.0);
    opus_uint32 encoderRange = 0;
    opus_uint32 decoderRange = 0;
    EXPECT_EQ(m_opus.encoderCtl(encoder, OPUS_GET_FINAL_RANGE(&encoderRange)), OPUS_OK);
    EXPECT_EQ(m_opus.decoderCtl(decoder, OPUS_GET_FINAL_RANGE(&decoderRange)), OPUS_OK);
    EXPECT_NE(encoderRange, 0u);
    EXPECT_EQ(encoderRange, decoderRange) << "both ends agree on the last packet";
    const double atTone = tonePower(output, 1000.0);
    EXPECT_GT(std::sqrt(atTone), 2000.0) << "the tone's amplitude survives the codec";
    EXPECT_GT(atTone, 100.0 * tonePower(output, 2500.0));
    m_opus.encoderDestroy(encoder);
}

TEST_F(QelOpusCodec, TheFloatVariantsAndInPlaceEncoderWork) {
    std::vector<unsigned char> encoderMemory(static_cast<size_t>(m_opus.encoderGetSize(m_mode, 1)));
    ASSERT_FALSE(encoderMemory.empty());
    auto* encoder = reinterpret_cast<OpusCustomEncoder*>(encoderMemory.data());
    ASSERT_EQ(m_opus.encoderInit(encoder, m_mode, 1), OPUS_OK);
    int error = -1;
    OpusCustomDecoder* decoder = m_opus.decoderCreate(m_mode, 1, &error);
    ASSERT_NE(decoder, nullptr);

    const std::vector<float> output =
        roundTrip<float>(m_opus.encodeFloat, encoder, m_opus.decodeFloat, decoder, 600.0, 0.25);
    EXPECT_GT(std::sqrt(tonePower(output, 600.0)), 0.06);
    EXPECT_GT(tonePower(output, 600.0), 100.0 * tonePower(output, 1500.0));
    m_opus.decoderDestroy(decoder);
}

}  // namespace
