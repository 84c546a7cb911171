// The conference service with the real cipher and codec: each participant hears the
// others of its room, never itself, and each mix is enciphered with the listener's key.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tools/qel-server/server_core.h"
#include "tools/qel-server/tests/test_packets.h"
#include "tools/qel-server/tests/voice_caller.h"
#include "tools/qel-server/voice_channels.h"

namespace qelserver {
namespace {

using namespace session;
using namespace qelserver::testing;

class ConferenceTest : public ::testing::Test {
  protected:
    // Without the primer, what each participant hears is only the others' voice.
    explicit ConferenceTest(bool primer = false)
        : m_core(optionsWithPrimer(primer), UdpEndpoint{0x7F000001u, 9}, nullptr,
                 makeVoiceChannelFactory()) {}

    static ServerOptions optionsWithPrimer(bool primer) {
        ServerOptions options;
        options.primer = primer;
        return options;
    }

    // Announces on connection `c` and joins the conference with `pin`.
    VoiceCaller& join(ConnId c, const char* pin, const char* service = "conference") {
        m_core.tcpOpened(c, m_now);
        feed(c, control(0, E_QELPT_ANNOUNCE));
        auto out = m_core.takeOutput();
        EXPECT_EQ(out.size(), 1u);
        const ParsedPacket answer = parsePacket(out.at(0).bytes);
        const uint32_t token = answer.header.token;
        m_tokens[c] = token;
        feed(c, control(token, E_QELPT_CONNECT_TO, {{E_FLD_SERVICE, service}, {E_FLD_PIN, pin}}));
        out = m_core.takeOutput();
        EXPECT_EQ(out.size(), 2u);
        m_status = parsePacket(out.at(1).bytes).header.status;
        m_callers[c] = std::make_unique<VoiceCaller>(token, answer.field(E_FLD_ENCKEY));
        return *m_callers[c];
    }

    void feed(ConnId c, const std::vector<uint8_t>& bytes) {
        m_core.tcpData(c, bytes.data(), bytes.size(), m_now);
    }

    // Advances 20 ms, mixes, and returns the voice packets per connection.
    std::map<ConnId, std::vector<std::vector<uint8_t>>> step() {
        m_now += 20;
        m_core.tick(m_now);
        std::map<ConnId, std::vector<std::vector<uint8_t>>> heard;
        for (Outgoing& o : m_core.takeOutput()) {
            if (readHeader(o.bytes.data()).type == E_QELPT_RTP) {
                EXPECT_EQ(readHeader(o.bytes.data()).token, m_tokens[o.connection]);
                heard[o.connection].push_back(std::move(o.bytes));
            }
        }
        return heard;
    }

    ServerCore m_core;
    uint64_t m_now = 1000;
    uint8_t m_status = 0;
    std::map<ConnId, uint32_t> m_tokens;
    std::map<ConnId, std::unique_ptr<VoiceCaller>> m_callers;
};

TEST_F(ConferenceTest, EachParticipantHearsTheOthersOfItsRoomOnly) {
    VoiceCaller& alice = join(1, "7");
    ASSERT_EQ(m_status, E_QELPS_OK);
    VoiceCaller& bob = join(2, "7");
    VoiceCaller& carol = join(3, "8");  // another room
    int checked = 0;
    for (int frame = 0; frame < 25; ++frame) {
        feed(1, alice.say(440));
        feed(2, bob.say(1000));
        feed(3, carol.say(700));
        auto heard = step();
        ASSERT_EQ(heard[1].size(), 1u);
        ASSERT_EQ(heard[2].size(), 1u);
        EXPECT_TRUE(heard[3].empty()) << "nobody else is in room 8";
        // The sequence of what a listener receives counts from 0, as a client's does.
        EXPECT_EQ(voiceSequence(heard[1][0].data()), static_cast<uint32_t>(frame));
        const std::vector<int16_t> atAlice = alice.hear(heard[1][0]);
        const std::vector<int16_t> atBob = bob.hear(heard[2][0]);
        ASSERT_FALSE(atAlice.empty());
        ASSERT_FALSE(atBob.empty());
        if (frame < 5) {
            continue;  // the codec's start-up
        }
        EXPECT_GT(tonePower(atAlice, 1000), 50 * tonePower(atAlice, 440)) << "frame " << frame;
        EXPECT_GT(tonePower(atBob, 440), 50 * tonePower(atBob, 1000)) << "frame " << frame;
        EXPECT_LT(tonePower(atAlice, 700), tonePower(atAlice, 1000) / 50) << "room 8 leaks";
        ++checked;
    }
    EXPECT_EQ(checked, 20);
}

TEST_F(ConferenceTest, ThreeVoicesAreMixedAndALeaverIsNoLongerHeard) {
    VoiceCaller& alice = join(1, "7");
    VoiceCaller& bob = join(2, "7");
    VoiceCaller& carol = join(3, "7");
    for (int frame = 0; frame < 15; ++frame) {
        feed(1, alice.say(440));
        feed(2, bob.say(1000));
        feed(3, carol.say(1500));
        auto heard = step();
        ASSERT_EQ(heard[1].size(), 1u);
        const std::vector<int16_t> atAlice = alice.hear(heard[1][0]);
        if (frame >= 5) {
            // Both others, at comparable strength; not herself.
            const double b = tonePower(atAlice, 1000);
            const double c = tonePower(atAlice, 1500);
            EXPECT_GT(b, 20 * tonePower(atAlice, 440));
            EXPECT_GT(c, 20 * tonePower(atAlice, 440));
            EXPECT_LT(b / c, 4.0);
            EXPECT_GT(b / c, 0.25);
        }
    }
    feed(3, control(m_tokens[3], E_QELPT_DISCONNECT));
    double carolLeft = 0;
    double bobStill = 0;
    for (int frame = 0; frame < 10; ++frame) {
        feed(1, alice.say(440));
        feed(2, bob.say(1000));
        auto heard = step();
        EXPECT_TRUE(heard[3].empty());
        const std::vector<int16_t> atAlice = alice.hear(heard[1].at(0));
        if (frame >= 5) {
            carolLeft += tonePower(atAlice, 1500);
            bobStill += tonePower(atAlice, 1000);
        }
    }
    EXPECT_LT(carolLeft, bobStill / 50);
}

TEST_F(ConferenceTest, ASilentRoomSendsNothingAndALoneSpeakerHearsNothing) {
    VoiceCaller& alice = join(1, "7");
    join(2, "7");
    EXPECT_TRUE(step().empty());
    feed(1, alice.say(440));
    auto heard = step();
    EXPECT_TRUE(heard[1].empty());
    EXPECT_EQ(heard[2].size(), 1u);
}

TEST_F(ConferenceTest, GarbledVoiceIsNotMixed) {
    VoiceCaller& alice = join(1, "7");
    join(2, "7");
    std::vector<uint8_t> tiny = alice.say(440);
    tiny.resize(16 + 9);  // a prefix and one byte: no frame
    tiny[8] = static_cast<uint8_t>(tiny.size());
    feed(1, tiny);
    EXPECT_TRUE(step().empty());
}

class PrimedConferenceTest : public ConferenceTest {
  protected:
    PrimedConferenceTest() : ConferenceTest(true) {}
};

// Clients wait to hear voice before they play and capture: each participant hears
// silence every step until its own first voice, and after that only the others, one
// frame a step either way.
TEST_F(PrimedConferenceTest, ParticipantsHearSilenceUntilTheyFirstSpeak) {
    VoiceCaller& alice = join(1, "7");
    VoiceCaller& bob = join(2, "7");
    auto heard = step();
    ASSERT_EQ(heard[1].size(), 1u);
    ASSERT_EQ(heard[2].size(), 1u);
    const std::vector<int16_t> silence = alice.hear(heard[1][0]);
    ASSERT_EQ(silence.size(), 640u);
    for (const int16_t sample : silence) {
        ASSERT_LE(std::abs(sample), 2);
    }

    feed(1, alice.say(440));
    heard = step();
    ASSERT_EQ(heard[2].size(), 1u) << "the mix replaces the silence, not joins it";
    EXPECT_TRUE(heard[1].empty()) << "alice has spoken: no more silence for her";
    bob.hear(heard[2][0]);

    for (int i = 0; i < 5; ++i) {
        feed(1, alice.say(440));
        heard = step();
        EXPECT_TRUE(heard[1].empty());
        ASSERT_EQ(heard[2].size(), 1u);
        bob.hear(heard[2][0]);
    }
    feed(2, bob.say(1000));
    heard = step();
    EXPECT_EQ(heard[1].size(), 1u);
    EXPECT_TRUE(heard[2].empty()) << "alice sent nothing this step and bob has spoken";
    EXPECT_TRUE(step().empty());
}

std::vector<int16_t> tone(double hz, int frame) {
    std::vector<int16_t> pcm(VoiceChannel::kFrameSamples);
    for (size_t i = 0; i < pcm.size(); ++i) {
        const double t = static_cast<double>(frame * pcm.size() + i) / 32000.0;
        pcm[i] = static_cast<int16_t>(9000 * std::sin(2 * M_PI * hz * t));
    }
    return pcm;
}

// What `channel` makes of five frames of a tone, as a listener with `key` decodes it.
std::vector<int16_t> heardFrom(VoiceChannel& channel, const std::string& key, double hz) {
    std::unique_ptr<VoiceChannel> listener = makeVoiceChannelFactory()(key);
    std::vector<int16_t> heard;
    for (int frame = 0; frame < 5; ++frame) {
        std::vector<uint8_t> payload(1024);
        const size_t length = channel.encode(tone(hz, frame).data(), payload.data(), payload.size());
        EXPECT_GT(length, 8u);
        EXPECT_EQ(payload[4], frame) << "the sequence starts anew";
        std::vector<int16_t> pcm(VoiceChannel::kFrameSamples);
        EXPECT_TRUE(listener->decode(payload.data(), length, pcm.data()));
        heard.insert(heard.end(), pcm.begin(), pcm.end());
    }
    return heard;
}

// What `channel` hears of five frames of a tone sent with `key`.
std::vector<int16_t> heardBy(VoiceChannel& channel, const std::string& key, double hz) {
    std::unique_ptr<VoiceChannel> speaker = makeVoiceChannelFactory()(key);
    std::vector<int16_t> heard;
    for (int frame = 0; frame < 5; ++frame) {
        std::vector<uint8_t> payload(1024);
        const size_t length = speaker->encode(tone(hz, frame).data(), payload.data(), payload.size());
        std::vector<int16_t> pcm(VoiceChannel::kFrameSamples);
        EXPECT_TRUE(channel.decode(payload.data(), length, pcm.data()));
        heard.insert(heard.end(), pcm.begin(), pcm.end());
    }
    return heard;
}

// A codec back from a participant who has gone serves the next one as a new channel
// would: its key is the new one, and neither its encoder nor its decoder remembers.
TEST(VoiceChannelPoolTest, AChannelBackFromAParticipantIsAsNewForTheNext) {
    VoiceChannelPool pool;
    const VoiceChannelFactory pooled = pool.factory();
    const std::string keyA(32, 'a');
    const std::string keyB = "0123456789abcdef0123456789ABCDEF";
    EXPECT_EQ(pooled(std::string(31, 'x')), nullptr);
    {
        std::unique_ptr<VoiceChannel> first = pooled(keyA);
        ASSERT_NE(first, nullptr);
        heardFrom(*first, keyA, 440);
        heardBy(*first, keyA, 440);
    }
    ASSERT_EQ(pool.idle(), 1u);
    std::unique_ptr<VoiceChannel> reused = pooled(keyB);
    ASSERT_NE(reused, nullptr);
    EXPECT_EQ(pool.idle(), 0u);
    std::unique_ptr<VoiceChannel> fresh = makeVoiceChannelFactory()(keyB);
    EXPECT_EQ(heardBy(*reused, keyB, 1000), heardBy(*fresh, keyB, 1000));
    EXPECT_EQ(heardFrom(*reused, keyB, 1000), heardFrom(*fresh, keyB, 1000));
}

}  // namespace
}  // namespace qelserver
