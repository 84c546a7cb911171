// Two clients in one conference of the real program, over UDP, paced in real time.
#include <gtest/gtest.h>

#include <thread>

#include "tools/qel-server/tests/server_process.h"
#include "tools/qel-server/tests/voice_caller.h"

namespace {

using namespace qelserver::testing;

TEST(QelServerConference, TwoCallersHearEachOther) {
    ServerProcess server({"--seed", "3", "--no-primer"});
    ASSERT_TRUE(server.ready());
    Client alice(server);
    Client bob(server);
    std::string aliceKey;
    std::string bobKey;
    const uint32_t aliceToken = alice.call("conference", true, &aliceKey);
    const uint32_t bobToken = bob.call("conference", true, &bobKey);
    ASSERT_NE(aliceToken, 0u);
    ASSERT_NE(bobToken, 0u);
    VoiceCaller aliceVoice(aliceToken, aliceKey);
    VoiceCaller bobVoice(bobToken, bobKey);

    int aliceHeardBob = 0;
    int bobHeardAlice = 0;
    int received = 0;
    auto listen = [&](Client& who, VoiceCaller& voice, double expect, double own, int& count) {
        while (auto packet = who.udpPacket(0)) {
            ASSERT_EQ(packet->header.type, session::E_QELPT_RTP);
            ++received;
            const std::vector<int16_t> pcm = voice.hear(packet->bytes);
            ASSERT_FALSE(pcm.empty());
            if (tonePower(pcm, expect) > 50 * tonePower(pcm, own)) {
                ++count;
            }
        }
    };
    for (int frame = 0; frame < 50; ++frame) {
        alice.sendUdp(aliceVoice.say(440));
        bob.sendUdp(bobVoice.say(1000));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        listen(alice, aliceVoice, 1000, 440, aliceHeardBob);
        listen(bob, bobVoice, 440, 1000, bobHeardAlice);
    }
    // Real time is not exact: allow the codec's start-up and a few frames of slack.
    EXPECT_GE(received, 80);
    EXPECT_GE(aliceHeardBob, 35);
    EXPECT_GE(bobHeardAlice, 35);
    EXPECT_EQ(server.stop(SIGTERM), 0);
}

}  // namespace
