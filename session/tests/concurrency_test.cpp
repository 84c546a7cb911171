// Several threads on one client and one log, as the caller's control, call and
// audio threads use them. Run under ThreadSanitizer by the linux-tsan preset.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "session/voice_client.h"

namespace session {
namespace {

TEST(VoiceClientConcurrency, RequestsFromSeveralThreadsAreSerialisedAndNoSlotIsLost) {
    auto client = VoiceClient::create();
    ASSERT_NE(client, nullptr);
    client->enterState(E_QELCS_CONNECTED);

    constexpr int kPerThread = 150;
    std::atomic<int> dtmfAccepted{0};
    std::atomic<int> namesAccepted{0};
    std::atomic<bool> done{false};
    int dtmfSent = 0;
    int nameLines = 0;
    int statusLines = 0;

    // Stands in for the poll loop: under the client lock it takes every queued
    // packet, as if handing it to the caller, and returns the slot.
    auto drain = [&] {
        platform::SpinGuard guard(client->lock(), kLockPoll);
        if (!guard) {
            return;
        }
        while (sReq* slot = client->requests().pop()) {
            const FieldTable& fields = slot->packet.fields();
            if (slot->packet.type() == E_QELPT_COMMAND) {
                ++dtmfSent;
            }
            for (int i = 0; i < fields.count; ++i) {
                nameLines += fields.entries[i].key == E_FLD_NAME;
                statusLines += fields.entries[i].key == E_FLD_STATUS;
            }
            client->requests().recycle(slot);
        }
    };
    std::thread poller([&] {
        while (!done.load()) {
            drain();
            std::this_thread::yield();
        }
    });
    std::vector<std::thread> requesters;
    requesters.emplace_back([&] {
        for (int i = 0; i < kPerThread; ++i) {
            dtmfAccepted += client->dtmf(static_cast<uint8_t>(i % 16));
            platform::sleepMs(i % 2);  // a control thread, not a tight loop
        }
    });
    requesters.emplace_back([&] {
        for (int i = 0; i < kPerThread; ++i) {
            namesAccepted += client->setName(("user" + std::to_string(i)).c_str());
            platform::sleepMs(i % 2);
        }
    });
    requesters.emplace_back([&] {
        for (int i = 0; i < kPerThread; ++i) {
            client->setStatus((i % 2) ? "busy" : "free");
            platform::sleepMs(i % 2);
            if (i % 10 == 0) {
                client->log().walk();  // a reader of the client's log meanwhile
            }
        }
    });
    for (auto& t : requesters) {
        t.join();
    }
    done = true;
    poller.join();
    drain();

    EXPECT_GT(dtmfAccepted.load(), 0);
    EXPECT_EQ(dtmfSent, dtmfAccepted.load());  // every queued request was sent once
    EXPECT_LE(nameLines, namesAccepted.load());
    EXPECT_GT(nameLines, 0);
    EXPECT_GT(statusLines, 0);
    EXPECT_EQ(client->requests().freeCount(), RequestQueue::kSlots);
    EXPECT_EQ(client->requests().queuedCount(), 0);
    EXPECT_EQ(client->lock().holder(), 0);
}

TEST(LogManagerConcurrency, WritersDuringWalksLoseNothingTheyStored) {
    auto log = LogManager::create();
    ASSERT_NE(log, nullptr);
    log->setLevel(5);
    constexpr int kWriters = 4;
    constexpr int kPerWriter = 4000;
    std::atomic<int> stored{0};
    std::atomic<int> writersLeft{kWriters};

    std::vector<int> lastSeen(kWriters, -1);
    int seen = 0;
    bool ordered = true;
    bool wellFormed = true;
    auto take = [&](const LogWalkEntry* e) {
        int writer = -1;
        int n = -1;
        if (std::sscanf(e->text + 9, "writer %d message %d", &writer, &n) == 2 && writer >= 0 &&
            writer < kWriters) {
            ordered = ordered && n > lastSeen[writer];
            lastSeen[writer] = n;
            ++seen;
        } else if (std::strncmp(e->text + 9, "Repeated ", 9) != 0 &&
                   std::strcmp(e->text + 9, "Network underrun") != 0) {
            wellFormed = false;
        }
        wellFormed = wellFormed && e->text[8] == ' ' && e->length == 17 + std::strlen(e->text + 9) + 1;
    };
    std::thread walker([&] {
        while (writersLeft.load() > 0) {
            if (const LogWalkEntry* e = log->walk()) {
                take(e);
            }
        }
        // The current cycle, then the buffer written meanwhile.
        for (int cycle = 0; cycle < 2; ++cycle) {
            while (const LogWalkEntry* e = log->walk()) {
                take(e);
            }
        }
    });
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            for (int i = 0; i < kPerWriter; ++i) {
                stored += log->log(1 + i % 5, "writer %d message %d", w, i);
                if (i % 100 == 0) {
                    log->logRepeated(kRepeatNetworkUnderrun, 4, "Network underrun");
                }
            }
            --writersLeft;
        });
    }
    for (auto& t : writers) {
        t.join();
    }
    walker.join();

    EXPECT_TRUE(ordered);
    EXPECT_TRUE(wellFormed);
    EXPECT_EQ(seen, stored.load());
    // Only a lock that stayed busy for 20 tries refuses a message, and it is counted.
    EXPECT_LE(kWriters * kPerWriter - stored.load(), static_cast<int>(log->droppedCount()));
}

}  // namespace
}  // namespace session
