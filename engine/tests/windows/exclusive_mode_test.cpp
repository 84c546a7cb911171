// The call stream's exclusive-mode step against Wine's real WASAPI driver on the sound
// server. Wine gives both devices the same mix rate, so the shared opening never meets
// the rate mismatch that leads to the step; the mismatch alone is staged here, by a
// thin double over the real PortAudio: it reports the default input at 44.1 kHz and
// answers the shared duplex opening as WASAPI answers a mismatched pair
// (paInvalidDevice). The exclusive-mode format queries and the exclusive opening go
// to the real library and driver, and whatever Wine does with them is checked against
// what the engine logged and returned.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>

#include "engine/call_stream.h"
#include "engine/tests/session_log.h"

namespace tallix {
namespace {

using testing::SessionLog;

struct MismatchDouble {
    static inline const PortAudioApi* real = nullptr;
    static inline PaDeviceInfo input{};
    static inline int sharedOpens = 0;
    static inline int exclusiveOpens = 0;
    static inline PaError exclusiveResult = paNoError;

    static const PaDeviceInfo* getDeviceInfo(PaDeviceIndex device) {
        const PaDeviceInfo* info = real->getDeviceInfo(device);
        if (info == nullptr ||
            device != real->getHostApiInfo(real->getDefaultHostApi())->defaultInputDevice) {
            return info;
        }
        input = *info;
        input.defaultSampleRate = 44100;
        return &input;
    }
    static PaError openStream(PaStream** stream, const PaStreamParameters* in,
                              const PaStreamParameters* out, double rate, unsigned long frames,
                              PaStreamFlags flags, PaStreamCallback* callback, void* user) {
        const bool exclusive = (in != nullptr && in->hostApiSpecificStreamInfo != nullptr) ||
                               (out != nullptr && out->hostApiSpecificStreamInfo != nullptr);
        if (!exclusive && in != nullptr && out != nullptr) {
            ++sharedOpens;
            return paInvalidDevice;
        }
        ++exclusiveOpens;
        exclusiveResult = real->openStream(stream, in, out, rate, frames, flags, callback, user);
        return exclusiveResult;
    }
    static PortAudioApi api() {
        real = &systemPortAudio();
        PortAudioApi api = *real;
        api.getDeviceInfo = getDeviceInfo;
        api.openStream = openStream;
        return api;
    }
};

TEST(ExclusiveModeTest, WasapiExclusiveRequestSucceedsOrFallsBackWithItsLogAndCode) {
    const PortAudioApi pa = MismatchDouble::api();
    SessionLog log;
    AudioControls controls;
    DeviceRegistry registry{pa, log.log()};
    StreamSlots slots;
    CallStreams streams{slots, registry, log.log(), controls};
    ASSERT_EQ(registry.probe(), Result::ok) << "no sound server";
    ASSERT_EQ(pa.initialize(), paNoError);
    const bool wasapi = pa.exclusiveModeInfo(pa.getDefaultHostApi()) != nullptr;
    pa.terminate();
    ASSERT_TRUE(wasapi) << "WASAPI is not the host API";

    const Result result = streams.open(nullptr, nullptr);
    std::vector<std::string> lines = log.take();
    std::string all;
    for (const std::string& line : lines) {
        all += "  " + line + "\n";
    }
    auto logged = [&](const std::string& text) { return all.find(text) != std::string::npos; };
    EXPECT_EQ(MismatchDouble::sharedOpens, 1);
    EXPECT_TRUE(logged(
        "2|Failed to create audio streams due to input/output rate mismatch - attempting to grab "
        "in exclusive mode"))
        << all;

    switch (result) {
        case Result::ok:
            std::printf("Wine granted exclusive mode at %d Hz\n", streams.figures().sampleRate);
            EXPECT_EQ(MismatchDouble::exclusiveOpens, 1);
            EXPECT_TRUE(logged("3|Grabbed audio devices in exclusive mode at")) << all;
            EXPECT_TRUE(streams.callOpen());
            EXPECT_GT(streams.figures().sampleRate, 0);
            Sleep(300);
            EXPECT_EQ(Pa_IsStreamActive(slots.call), 1);  // running on the exclusive device
            break;
        case Result::noCommonRate:
            // Wine refused every rate of the exclusive format query.
            std::printf("Wine refused every exclusive-mode rate\n");
            EXPECT_EQ(MismatchDouble::exclusiveOpens, 0);
            EXPECT_TRUE(
                logged("1|Failed to find a sample rate that works for input & output devices"))
                << all;
            EXPECT_FALSE(streams.callOpen());
            break;
        case Result::exclusiveFailed:
            std::printf("Wine accepted an exclusive-mode rate but refused the opening: %s\n",
                        pa.getErrorText(MismatchDouble::exclusiveResult));
            EXPECT_EQ(MismatchDouble::exclusiveOpens, 1);
            EXPECT_TRUE(logged("1|Failed to create audio streams in exclusive mode: ")) << all;
            EXPECT_FALSE(streams.callOpen());
            break;
        default:
            ADD_FAILURE() << "open returned " << static_cast<int>(result) << "\n" << all;
    }
    streams.close();
    EXPECT_FALSE(streams.anyOpen());
}

}  // namespace
}  // namespace tallix
