// The poll loop on a clock the test moves: the schedule, transport detection, the two
// answer timeouts and the events of a whole call.
#include <cstring>

#include "session/tests/session_test_support.h"

namespace session::testing {
namespace {

struct Event {
    int32_t code;
    int32_t length;
    uint32_t at;  // fake clock when poll returned it
    uint8_t packetType;
    std::string text;
};

class PollTest : public SessionTest {
protected:
    // One poll; the event if there was one.
    bool pollOnce(Event& out) {
        PollEvent event;
        std::memset(&event, 0xAA, sizeof event);
        if (!client->poll(event)) {
            EXPECT_EQ(event.code, E_QELEV_NONE);
            EXPECT_EQ(event.length, 0);
            EXPECT_EQ(event.data[0], 0);
            return false;
        }
        out = {event.code, event.length, FakeClock::now, event.data[10], ""};
        if (event.code == E_QELEV_ERROR) {
            out.text.assign(reinterpret_cast<const char*>(event.data));
            EXPECT_EQ(static_cast<size_t>(event.length), out.text.size());
        }
        if (event.code == E_QELEV_UDPADDR) {
            std::memcpy(&udpaddr, event.data, sizeof udpaddr);
        }
        return true;
    }

    // Every event while the clock moves on by `ms`.
    std::vector<Event> pollFor(uint32_t ms) {
        std::vector<Event> events;
        const uint32_t end = FakeClock::now + ms;
        while (static_cast<int32_t>(end - FakeClock::now) > 0) {
            Event e;
            if (pollOnce(e)) {
                events.push_back(e);
            }
        }
        return events;
    }

    // The next event, polling for at most `ms`.
    Event next(uint32_t ms = 100) {
        auto events = pollUntilEvent(ms);
        EXPECT_FALSE(events.empty()) << "no event within " << ms << " ms";
        return events.empty() ? Event{} : events.front();
    }

    std::vector<Event> pollUntilEvent(uint32_t ms) {
        const uint32_t end = FakeClock::now + ms;
        while (static_cast<int32_t>(end - FakeClock::now) > 0) {
            Event e;
            if (pollOnce(e)) {
                return {e};
            }
        }
        return {};
    }

    static std::vector<int32_t> codes(const std::vector<Event>& events) {
        std::vector<int32_t> out;
        for (const Event& e : events) {
            out.push_back(e.code);
        }
        return out;
    }

    // The error comes at the first step after the timeout, then the disconnection, then
    // the DISCONNECT packet.
    static void expectTimeout(const std::vector<Event>& events, uint32_t sent, uint32_t timeout,
                              const char* error) {
        ASSERT_EQ(codes(events), (std::vector<int32_t>{E_QELEV_ERROR, E_QELEV_DISCONNECTED, E_QELEV_SEND_TCP}));
        EXPECT_EQ(events[0].text, error);
        EXPECT_GE(events[0].at - sent, timeout);
        EXPECT_LT(events[0].at - sent, timeout + kTickMs);
        EXPECT_EQ(events[2].packetType, E_QELPT_DISCONNECT);
    }

    uint8_t udpaddr[8] = {};
};

TEST_F(PollTest, IdlePollsKeepATwentyMillisecondRhythmAndReanchorAfterAStall) {
    Event e;
    const uint32_t start = FakeClock::now;
    EXPECT_FALSE(pollOnce(e));
    EXPECT_EQ(FakeClock::now, start) << "the first step is due at once";
    EXPECT_TRUE(logged(messages(*client), "POLL(): Adjusting m_nexttick by -100000"));
    // The wait ends within a millisecond of the step's time.
    for (uint32_t step = 1; step <= 5; ++step) {
        EXPECT_FALSE(pollOnce(e));
        EXPECT_NEAR(FakeClock::now, start + 20 * step, 1);
    }
    FakeClock::now += 700;
    const uint32_t resumed = FakeClock::now;
    EXPECT_FALSE(pollOnce(e));
    EXPECT_EQ(FakeClock::now, resumed) << "a stall is not caught up with a burst of steps";
    EXPECT_FALSE(pollOnce(e));
    EXPECT_NEAR(FakeClock::now, resumed + 20, 1);
}

TEST_F(PollTest, EventsComeOutWithoutWaiting) {
    enter(E_QELCS_CONNECTED);
    client->m_stateCounter = 1;
    for (uint8_t digit = 0; digit < 3; ++digit) {
        ASSERT_TRUE(client->dtmf(digit));
    }
    Event e;
    const uint32_t start = FakeClock::now;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(pollOnce(e));
        EXPECT_EQ(e.code, E_QELEV_SEND_TCP);
        EXPECT_EQ(e.packetType, E_QELPT_COMMAND);
        EXPECT_EQ(FakeClock::now, start);
    }
    EXPECT_FALSE(pollOnce(e));
    EXPECT_GT(FakeClock::now, start) << "only a step without an event waits";
}

TEST_F(PollTest, UdpProbingSendsFourPingsThenOneOverTcp) {
    ASSERT_TRUE(client->announce());
    EXPECT_EQ(next().packetType, E_QELPT_ANNOUNCE);
    receive(announceOk("192.168.7.9:4660"));
    const Event addr = next();
    ASSERT_EQ(addr.code, E_QELEV_UDPADDR);
    const uint8_t expected[8] = {192, 168, 7, 9, 0x34, 0x12, 0, 0};
    EXPECT_EQ(std::memcmp(udpaddr, expected, 8), 0);

    const uint32_t start = FakeClock::now;
    const std::vector<Event> probes = pollFor(6000);
    const uint32_t due[] = {0, 750, 1500, 2250, 3000};
    ASSERT_EQ(probes.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(probes[i].code, i < 4 ? E_QELEV_SEND_UDP : E_QELEV_SEND_TCP);
        EXPECT_EQ(probes[i].packetType, E_QELPT_PING);
        EXPECT_EQ(probes[i].length, 16);
        EXPECT_GE(probes[i].at - start, due[i]);
        EXPECT_LT(probes[i].at - start, due[i] + kTickMs);
    }
    EXPECT_EQ(client->state(), E_QELCS_PROBING) << "no limit on waiting for the answer";
    receive(serverPacket(E_QELPT_PING, E_QELPS_NONE));
    EXPECT_EQ(next().code, E_QELEV_NET_TCP);
    const auto lines = messages(*client);
    EXPECT_TRUE(logged(lines, "Gave up on UDP, switching to TCP"));
    EXPECT_TRUE(logged(lines, "Finished net detection, UDP=0"));
}

TEST_F(PollTest, AWholeCallReportsEachEventOnce) {
    std::vector<Event> events;
    auto add = [&](std::vector<Event> more) { events.insert(events.end(), more.begin(), more.end()); };
    ASSERT_TRUE(client->announce());
    add(pollFor(100));
    receive(announceOk());
    add(pollFor(100));
    receive(serverPacket(E_QELPT_PING, E_QELPS_NONE), true);
    add(pollFor(200));
    ASSERT_TRUE(client->connectVoice("echo", "1234"));
    add(pollFor(100));
    receive(joined({serverPacket(E_QELPT_CONNECT_TO, E_QELPS_TRYING), serverPacket(E_QELPT_CONNECT_TO, E_QELPS_OK)}));
    add(pollFor(200));
    EXPECT_TRUE(client->active());
    ASSERT_TRUE(client->dtmf(11));
    add(pollFor(100));
    ASSERT_TRUE(client->disconnect());
    add(pollFor(300));

    const std::vector<int32_t> expected = {
        E_QELEV_SEND_TCP,  E_QELEV_UDPADDR,   E_QELEV_SEND_UDP,     E_QELEV_NET_UDP, E_QELEV_SEND_TCP,
        E_QELEV_CONNECTED, E_QELEV_SEND_TCP,  E_QELEV_DISCONNECTED, E_QELEV_SEND_TCP};
    EXPECT_EQ(codes(events), expected);
    const std::vector<uint8_t> types = {E_QELPT_ANNOUNCE, E_QELPT_PING, E_QELPT_CONNECT_TO, E_QELPT_COMMAND,
                                        E_QELPT_DISCONNECT};
    std::vector<uint8_t> sent;
    for (const Event& e : events) {
        if (e.code == E_QELEV_SEND_TCP || e.code == E_QELEV_SEND_UDP) {
            sent.push_back(e.packetType);
        }
    }
    EXPECT_EQ(sent, types);
}

TEST_F(PollTest, AnAnswerErrorIsReportedThenTheDisconnection) {
    ASSERT_TRUE(client->announce());
    pollFor(40);
    receive(serverPacket(E_QELPT_ANNOUNCE, E_QELPS_OK, "udpaddr:1.2.3.4:5\n"));
    const std::vector<Event> events = pollFor(200);
    ASSERT_EQ(codes(events), (std::vector<int32_t>{E_QELEV_ERROR, E_QELEV_DISCONNECTED, E_QELEV_SEND_TCP}));
    EXPECT_EQ(events[0].text, "ANNOUNCE error: No ENCKEY in response");
    EXPECT_EQ(events[2].packetType, E_QELPT_DISCONNECT);
    EXPECT_TRUE(logged(messages(*client), "Error: ANNOUNCE error: No ENCKEY in response"));
}

TEST_F(PollTest, AnErrorEndsTheSessionEvenWithNoSlotLeft) {
    enter(E_QELCS_CONNECTING);
    while (sReq* slot = client->requests().take()) {
        initPacket(slot->packet, kServerToken, E_QELPT_UPDATE);
        client->requests().enqueue(slot);
    }
    receive(serverPacket(E_QELPT_CONNECT_TO, E_QELPS_CONNECTFAILED));
    const std::vector<Event> events = pollFor(40);
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[0].code, E_QELEV_ERROR);
    EXPECT_EQ(events[1].code, E_QELEV_DISCONNECTED);
}

TEST_F(PollTest, NoAnnounceAnswerTimesOutAfterThreeSeconds) {
    ASSERT_TRUE(client->announce());
    const uint32_t sent = next().at;
    expectTimeout(pollFor(3500), sent, kAnnounceTimeoutMs, "No response from server");
}

TEST_F(PollTest, AnAnnounceAnswerOverUdpIsIgnoredAndTheRequestTimesOut) {
    ASSERT_TRUE(client->announce());
    pollFor(100);
    receive(announceOk(), true);
    const std::vector<Event> events = pollFor(3500);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0].text, "No response from server");
}

TEST_F(PollTest, NoConnectAnswerTimesOutAfterOneHundredSeconds) {
    enter(E_QELCS_NETREADY);
    ASSERT_TRUE(client->connectVoice("echo", "1"));
    const uint32_t sent = next().at;
    EXPECT_TRUE(pollFor(60000).empty());
    receive(serverPacket(E_QELPT_CONNECT_TO, E_QELPS_TRYING));
    expectTimeout(pollFor(41000), sent, kConnectTimeoutMs, "Service unavailable");
}

TEST_F(PollTest, RequestsWaitWhileTheTransportIsChosen) {
    enter(E_QELCS_NETREADY);
    ASSERT_TRUE(client->setName("Ada"));
    EXPECT_EQ(codes(pollFor(200)), std::vector<int32_t>{E_QELEV_NET_TCP});
    ASSERT_TRUE(client->connectVoice("echo", "1"));
    const std::vector<Event> events = pollFor(100);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].packetType, E_QELPT_UPDATE);
    EXPECT_EQ(events[1].packetType, E_QELPT_CONNECT_TO);
}

TEST(PollOnTheRealClock, IdleStepsAreAboutTwentyMillisecondsApart) {
    auto client = VoiceClient::create();
    ASSERT_NE(client, nullptr);
    PollEvent event;
    EXPECT_FALSE(client->poll(event));
    const uint32_t start = platform::nowMs();
    for (int i = 0; i < 10; ++i) {
        EXPECT_FALSE(client->poll(event));
    }
    const uint32_t took = platform::nowMs() - start;
    EXPECT_GE(took, 180u);
    EXPECT_LT(took, 1000u);
}

}  // namespace
}  // namespace session::testing
