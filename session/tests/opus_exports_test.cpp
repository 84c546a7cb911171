// The codec entry points that qel exports under the Opus library's own names, found and
// called the way a host does: by name in the loaded qel library.
#include <dlfcn.h>
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
        Dl_info info{};
        EXPECT_NE(dladdr(address, &info), 0) << name;
        EXPECT_NE(std::string(info.dli_fname ? info.dli_fname : "").find("libqel"), std::string::npos)
            << name << " resolves into " << (info.dli_fname ? info.dli_fname : "?");
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

std::vector<opus_int16> tone(double f, int frames) {
    std::vector<opus_int16> pcm(static_cast<size_t>(kFrame * frames));
    for (size_t i = 0; i < pcm.size(); ++i) {
        pcm[i] = static_cast<opus_int16>(8000.0 * std::sin(2.0 * kPi * f * static_cast<double>(i) / kRate));
    }
    return pcm;
}

TEST(QelOpusExports, TextsAreTheOpusLibrarysOwn) {
    platform::DynamicLibrary opusLibrary = platform::DynamicLibrary::open("libopus.so.0");
    ASSERT_TRUE(opusLibrary);
    const auto opusVersion =
        reinterpret_cast<decltype(&::opus_get_version_string)>(opusLibrary.symbol("opus_get_version_string"));
    ASSERT_NE(opusVersion, nullptr);

    const auto version = QEL_ENTRY(opus_get_version_string);
    const auto strerror = QEL_ENTRY(opus_strerror);
    ASSERT_NE(version, nullptr);
    ASSERT_NE(strerror, nullptr);
    EXPECT_NE(reinterpret_cast<void*>(version), reinterpret_cast<void*>(opusVersion));
    EXPECT_STREQ(version(), opusVersion());
    EXPECT_EQ(std::strncmp(version(), "libopus", 7), 0) << version();
    EXPECT_STREQ(strerror(OPUS_BAD_ARG), "invalid argument");
    EXPECT_STREQ(strerror(OPUS_OK), "success");
}

TEST(QelOpusExports, ModeCreationReportsErrorsThroughTheCallersVariable) {
    const auto modeCreate = QEL_ENTRY(opus_custom_mode_create);
    const auto modeDestroy = QEL_ENTRY(opus_custom_mode_destroy);
    ASSERT_NE(modeCreate, nullptr);
    ASSERT_NE(modeDestroy, nullptr);
    int error = 12345;
    EXPECT_EQ(modeCreate(kRate, 7, &error), nullptr);
    EXPECT_EQ(error, OPUS_BAD_ARG);
    OpusCustomMode* mode = modeCreate(kRate, kFrame, &error);
    ASSERT_NE(mode, nullptr);
    EXPECT_EQ(error, OPUS_OK);
    modeDestroy(mode);
}

// A tone encoded and decoded through qel's exports comes back as that tone; the control
// requests reach the codec with their value, their result pointer or no argument.
TEST(QelOpusExports, ATonePassesThroughEncoderAndDecoder) {
    const auto modeCreate = QEL_ENTRY(opus_custom_mode_create);
    const auto modeDestroy = QEL_ENTRY(opus_custom_mode_destroy);
    const auto encoderCreate = QEL_ENTRY(opus_custom_encoder_create);
    const auto encoderDestroy = QEL_ENTRY(opus_custom_encoder_destroy);
    const auto encoderCtl = QEL_ENTRY(opus_custom_encoder_ctl);
    const auto encode = QEL_ENTRY(opus_custom_encode);
    const auto decoderGetSize = QEL_ENTRY(opus_custom_decoder_get_size);
    const auto decoderInit = QEL_ENTRY(opus_custom_decoder_init);
    const auto decoderCtl = QEL_ENTRY(opus_custom_decoder_ctl);
    const auto decode = QEL_ENTRY(opus_custom_decode);
    ASSERT_FALSE(::testing::Test::HasFailure());

    int error = -1;
    OpusCustomMode* mode = modeCreate(kRate, kFrame, &error);
    ASSERT_NE(mode, nullptr);
    OpusCustomEncoder* encoder = encoderCreate(mode, 1, &error);
    ASSERT_NE(encoder, nullptr);
    EXPECT_EQ(error, OPUS_OK);
    const int size = decoderGetSize(mode, 1);
    ASSERT_GT(size, 0);
    std::vector<unsigned char> decoderMemory(static_cast<size_t>(size));
    auto* decoder = reinterpret_cast<OpusCustomDecoder*>(decoderMemory.data());
    ASSERT_EQ(decoderInit(decoder, mode, 1), OPUS_OK);

    EXPECT_EQ(encoderCtl(encoder, OPUS_SET_BITRATE(48000)), OPUS_OK);
    EXPECT_EQ(encoderCtl(encoder, OPUS_SET_LSB_DEPTH(20)), OPUS_OK);
    opus_int32 depth = 0;
    EXPECT_EQ(encoderCtl(encoder, OPUS_GET_LSB_DEPTH(&depth)), OPUS_OK);
    EXPECT_EQ(depth, 20);
    EXPECT_EQ(encoderCtl(encoder, OPUS_GET_BITRATE(&depth)), OPUS_UNIMPLEMENTED)
        << "the codec's own answer to a request its custom mode lacks";
    EXPECT_EQ(encoderCtl(encoder, OPUS_SET_COMPLEXITY(11)), OPUS_BAD_ARG);
    EXPECT_EQ(encoderCtl(encoder, OPUS_RESET_STATE), OPUS_OK);
    EXPECT_EQ(decoderCtl(decoder, OPUS_RESET_STATE), OPUS_OK);
    opus_uint32 range = 1;
    EXPECT_EQ(decoderCtl(decoder, OPUS_GET_FINAL_RANGE(&range)), OPUS_OK);
    EXPECT_EQ(range, 0u) << "nothing decoded since the reset";

    const int frames = 10;
    const std::vector<opus_int16> input = tone(1000.0, frames);
    std::vector<float> output;
    for (int i = 0; i < frames; ++i) {
        unsigned char packet[400];
        const int bytes = encode(encoder, input.data() + i * kFrame, kFrame, packet, sizeof packet);
        ASSERT_GT(bytes, 0) << "frame " << i;
        opus_int16 pcm[kFrame];
        ASSERT_EQ(decode(decoder, packet, bytes, pcm, kFrame), kFrame) << "frame " << i;
        if (i >= frames / 2) {
            output.insert(output.end(), pcm, pcm + kFrame);
        }
    }
    opus_uint32 encoderRange = 0;
    opus_uint32 decoderRange = 0;
    EXPECT_EQ(encoderCtl(encoder, OPUS_GET_FINAL_RANGE(&encoderRange)), OPUS_OK);
    EXPECT_EQ(decoderCtl(decoder, OPUS_GET_FINAL_RANGE(&decoderRange)), OPUS_OK);
    EXPECT_NE(encoderRange, 0u);
    EXPECT_EQ(encoderRange, decoderRange) << "both ends agree on the last packet";
    const double atTone = tonePower(output, 1000.0);
    EXPECT_GT(std::sqrt(atTone), 2000.0) << "the tone's amplitude survives the codec";
    EXPECT_GT(atTone, 100.0 * tonePower(output, 2500.0));

    encoderDestroy(encoder);
    modeDestroy(mode);
}

TEST(QelOpusExports, TheFloatVariantsAndInPlaceEncoderWork) {
    const auto modeCreate = QEL_ENTRY(opus_custom_mode_create);
    const auto modeDestroy = QEL_ENTRY(opus_custom_mode_destroy);
    const auto encoderGetSize = QEL_ENTRY(opus_custom_encoder_get_size);
    const auto encoderInit = QEL_ENTRY(opus_custom_encoder_init);
    const auto encodeFloat = QEL_ENTRY(opus_custom_encode_float);
    const auto decoderCreate = QEL_ENTRY(opus_custom_decoder_create);
    const auto decoderDestroy = QEL_ENTRY(opus_custom_decoder_destroy);
    const auto decodeFloat = QEL_ENTRY(opus_custom_decode_float);
    ASSERT_FALSE(::testing::Test::HasFailure());

    int error = -1;
    OpusCustomMode* mode = modeCreate(kRate, kFrame, &error);
    ASSERT_NE(mode, nullptr);
    std::vector<unsigned char> encoderMemory(static_cast<size_t>(encoderGetSize(mode, 1)));
    ASSERT_FALSE(encoderMemory.empty());
    auto* encoder = reinterpret_cast<OpusCustomEncoder*>(encoderMemory.data());
    ASSERT_EQ(encoderInit(encoder, mode, 1), OPUS_OK);
    OpusCustomDecoder* decoder = decoderCreate(mode, 1, &error);
    ASSERT_NE(decoder, nullptr);

    std::vector<float> output;
    for (int i = 0; i < 8; ++i) {
        float frame[kFrame];
        for (int n = 0; n < kFrame; ++n) {
            frame[n] = 0.25f * static_cast<float>(std::sin(2.0 * kPi * 600.0 * (i * kFrame + n) / kRate));
        }
        unsigned char packet[400];
        const int bytes = encodeFloat(encoder, frame, kFrame, packet, sizeof packet);
        ASSERT_GT(bytes, 0);
        float pcm[kFrame];
        ASSERT_EQ(decodeFloat(decoder, packet, bytes, pcm, kFrame), kFrame);
        if (i >= 4) {
            output.insert(output.end(), pcm, pcm + kFrame);
        }
    }
    EXPECT_GT(std::sqrt(tonePower(output, 600.0)), 0.06);

    decoderDestroy(decoder);
    modeDestroy(mode);
}

}  // namespace
