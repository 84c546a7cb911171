// The engine's start, a call's start and the sound clip paths with each of their
// allocations failing in turn, through the same guard the JNI methods use: the result
// is the operation's own or "unexpected failure" (which the JNI layer turns into its
// TallixException), the library references and streams are all given back, and the
// next good attempt works. Under ASan nothing leaks.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "engine/engine.h"
#include "engine/guarded.h"
#include "engine/tests/portaudio_double.h"
#include "engine/tests/session_log.h"
#include "tests/allocation_faults.h"

namespace tallix {
namespace {

using testing::PortAudioDouble;
using testing::SessionLog;
using zephra::testing::disarmAllocationFailure;
using zephra::testing::pauseAllocationFailure;
using zephra::testing::resumeAllocationFailure;
using zephra::testing::sweepAllocationFailures;

class AllocationFailure : public ::testing::Test {
  protected:
    void SetUp() override {
        pa.devices = {{"Mic", 1, 0, 48000}, {"Speakers", 0, 2, 48000}, {"Headset", 1, 1, 44100}};
        pa.defaultInput = 0;
        pa.defaultOutput = 1;
        // The double's own records must not be what fails.
        pa.openedRates.reserve(100000);
        pa.openedExclusive.reserve(100000);
        pa.formatQueries.reserve(100000);
        pa.openedDevices.reserve(100000);
        pa.openedOutputChannels.reserve(100000);
    }
    void expectAllGivenBack() {
        EXPECT_EQ(pa.references, 0);
        EXPECT_EQ(pa.openStreams, 0);
    }

    PortAudioDouble pa;
    SessionLog log;
};

// A call host whose thread ends at once: the call's start is what is under test.
class EndingHost : public CallHost {
  public:
    bool threadStarted() override { return false; }
    bool connectTcp(const std::string&, uint16_t) override { return false; }
    bool isTcpConnected() override { return false; }
    bool sendTcpPacket(const uint8_t*, int) override { return false; }
    void disconnectNetwork() override {}
    void callStarted(const std::string&) override {}
    void callEnded(const std::string&) override {}
    void callFailed(const std::string&, const std::string&) override {}
};

TEST_F(AllocationFailure, SoundClipsPlayOrFailAndGiveEverythingBack) {
    const std::vector<int16_t> samples(4410, 1000);
    for (const bool resampled : {false, true}) {
        pa.refusedOutputRates = resampled ? std::vector<int>{44100} : std::vector<int>{};
        int failures = 0;
        const uint64_t total = sweepAllocationFailures([&] {
            pauseAllocationFailure();
            // A fresh player each time, whose first clip also starts its clean-up thread.
            StreamSlots slots;
            DeviceRegistry registry{pa.api(), log.log()};
            auto sounds = std::make_unique<SoundPlayer>(slots, registry, log.log());
            resumeAllocationFailure();
            const Result result = guarded(&log.log(), "_playAudioFile", Result::failed, [&] {
                return sounds->playSound("Speakers", reinterpret_cast<const uint8_t*>(samples.data()),
                                         static_cast<int32_t>(samples.size() * 2), 44100, true);
            });
            disarmAllocationFailure();
            if (result == Result::ok) {
                EXPECT_TRUE(sounds->soundPlaying());
                EXPECT_EQ(sounds->stopSound(), Result::ok);
            } else {
                EXPECT_EQ(result, Result::failed);
                EXPECT_FALSE(sounds->soundPlaying());
                ++failures;
            }
            sounds.reset();
            expectAllGivenBack();
        });
        std::printf("sound clip (%s): %llu allocations, %d failed in turn gave code 3\n",
                    resampled ? "resampled" : "as it is", static_cast<unsigned long long>(total),
                    failures);
        EXPECT_GT(failures, 0);
    }
}

TEST_F(AllocationFailure, EngineStartFailsOrGivesAWorkingEngine) {
    int failures = 0;
    const uint64_t total = sweepAllocationFailures([&] {
        pauseAllocationFailure();
        auto engine = std::make_unique<Engine>(pa.api());
        resumeAllocationFailure();
        const bool started = guarded(&engine->log, "_initLibrary", false,
                                     [&] { return engine->initialise(QEL_LIBRARY_PATH); });
        disarmAllocationFailure();
        if (started) {
            EXPECT_NE(engine->client(), nullptr);
            EXPECT_FALSE(engine->registry.devices().empty());
            // Logging and draining work on what the start made.
            engine->log.log(kInfo, "after start");
            EXPECT_NE(engine->api().logWalk(engine->log.manager()), nullptr);
        } else {
            ++failures;
        }
        engine.reset();
        expectAllGivenBack();
    });
    std::printf("engine start: %llu allocations (operator new), %d failed in turn gave false\n",
                static_cast<unsigned long long>(total), failures);
    EXPECT_GT(failures, 0);
}

TEST_F(AllocationFailure, CallStartFailsOrStartsAndNeverStaysBusy) {
    Engine engine(pa.api());
    ASSERT_TRUE(engine.initialise(QEL_LIBRARY_PATH));
    engine.call.setCallerId("alloc");
    auto startCall = [&] {
        return guarded(&engine.log, "_startCall", Result::failed, [&] {
            return engine.call.start({"1234", "127.0.0.1", 9, "echo"}, nullptr, nullptr, false,
                                     std::make_shared<EndingHost>());
        });
    };
    int failures = 0;
    const uint64_t total = sweepAllocationFailures([&] {
        const Result result = startCall();
        disarmAllocationFailure();
        if (result != Result::ok) {
            EXPECT_EQ(result, Result::failed);
            ++failures;
        }
        ASSERT_TRUE(engine.call.waitIdle(3000));
        EXPECT_FALSE(engine.call.inProgress());
        EXPECT_FALSE(engine.streams.callOpen());
        // Whatever failed, the next start is not refused as busy.
        ASSERT_EQ(startCall(), Result::ok);
        ASSERT_TRUE(engine.call.waitIdle(3000));
        expectAllGivenBack();
    });
    std::printf("call start: %llu allocations, %d failed in turn gave code 3\n",
                static_cast<unsigned long long>(total), failures);
    EXPECT_GT(failures, 0);
}

}  // namespace
}  // namespace tallix
