#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "session/audio/voice_cipher.h"

namespace {

std::array<uint8_t, 32> testKey() {
    std::array<uint8_t, 32> key{};
    const char* text = "0123456789abcdefghijklmnopqrstuv";  // as the server sends it
    std::memcpy(key.data(), text, key.size());
    return key;
}

std::vector<uint8_t> frameOf(size_t n, uint8_t seed) {
    std::vector<uint8_t> f(n);
    for (size_t i = 0; i < n; ++i) {
        f[i] = static_cast<uint8_t>(seed + i * 7);
    }
    return f;
}

TEST(VoiceCipher, SealedPayloadsOpenInAnyOrder) {
    qel::VoiceCipher sender;
    qel::VoiceCipher receiver;
    const auto key = testKey();
    sender.rekey(key.data());
    receiver.rekey(key.data());

    std::vector<std::vector<uint8_t>> plain;
    std::vector<std::vector<uint8_t>> wire;
    for (int i = 0; i < 4; ++i) {
        plain.push_back(frameOf(100 + static_cast<size_t>(i) * 37, static_cast<uint8_t>(i)));
        std::vector<uint8_t> payload(8 + plain.back().size());
        std::memcpy(payload.data() + 8, plain.back().data(), plain.back().size());
        EXPECT_EQ(sender.seal(payload.data(), plain.back().size()), payload.size());
        EXPECT_NE(0, std::memcmp(payload.data() + 8, plain.back().data(), plain.back().size()));
        wire.push_back(payload);
    }
    for (int i : {2, 0, 3, 1}) {
        auto payload = wire[static_cast<size_t>(i)];
        receiver.open(payload.data(), payload.size());
        EXPECT_TRUE(std::equal(plain[static_cast<size_t>(i)].begin(), plain[static_cast<size_t>(i)].end(),
                               payload.begin() + 8))
            << "packet " << i;
        EXPECT_EQ(qel::VoiceCipher::sequenceOf(payload.data()), static_cast<uint32_t>(i));
    }
}

TEST(VoiceCipher, PrefixCarriesNonceWordAndSequenceLittleEndian) {
    qel::VoiceCipher c;
    const auto key = testKey();
    c.rekey(key.data());
    uint8_t a[8 + 16] = {};
    uint8_t b[8 + 16] = {};
    c.seal(a, 16);
    c.seal(b, 16);
    const uint32_t word = c.sendNonceWord();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(a[i], static_cast<uint8_t>(word >> (8 * i)));
        EXPECT_EQ(b[i], static_cast<uint8_t>(word >> (8 * i)));
    }
    EXPECT_EQ(a[4], 0);
    EXPECT_EQ(b[4], 1);
    EXPECT_EQ(c.sendSequence(), 2u);
    // Consecutive sequence numbers: different keystreams from block 0 on (the frames
    // were both zero, so the cipher bytes are the keystreams themselves).
    EXPECT_NE(0, std::memcmp(a + 8, b + 8, 16));
}

TEST(VoiceCipher, RekeyRestartsTheSequenceWithAFreshNonceWord) {
    qel::VoiceCipher c;
    const auto key = testKey();
    c.rekey(key.data());
    uint8_t p[8 + 4] = {};
    c.seal(p, 4);
    const uint32_t firstWord = c.sendNonceWord();
    bool changed = false;
    for (int i = 0; i < 4 && !changed; ++i) {  // a repeat has a chance of 2^-32 each
        c.rekey(key.data());
        changed = c.sendNonceWord() != firstWord;
    }
    EXPECT_TRUE(changed);
    EXPECT_EQ(c.sendSequence(), 0u);
    EXPECT_EQ(0, std::memcmp(c.key(), key.data(), key.size()));
}

TEST(VoiceCipher, PayloadWithoutFrameBytesIsLeftAlone) {
    qel::VoiceCipher c;
    const auto key = testKey();
    c.rekey(key.data());
    uint8_t p[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    c.open(p, sizeof p);
    const uint8_t expected[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(0, std::memcmp(p, expected, 8));
}

}  // namespace
