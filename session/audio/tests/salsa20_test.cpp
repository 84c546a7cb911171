#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "session/audio/salsa20.h"

namespace {

std::vector<uint8_t> fromHex(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

// Keystream bytes [offset, offset + 64) of a fresh state.
template <int Rounds>
std::vector<uint8_t> keystreamAt(const std::vector<uint8_t>& key, const std::vector<uint8_t>& nonce,
                                 size_t offset) {
    qel::Salsa20<Rounds> cipher;
    cipher.keySetup(key.data());
    cipher.nonceSetup(nonce.data());
    std::vector<uint8_t> bytes(offset + 64, 0);
    cipher.crypt(bytes.data(), bytes.size());
    return {bytes.begin() + static_cast<long>(offset), bytes.end()};
}

// eSTREAM verified test vectors for Salsa20/20 with 256-bit keys.
struct Vector {
    const char* name;
    const char* key;
    const char* nonce;
    size_t offset;
    const char* stream;
};

const Vector kVectors[] = {
    {"set 1 vector 0, stream[0..63]",
     "8000000000000000000000000000000000000000000000000000000000000000", "0000000000000000", 0,
     "E3BE8FDD8BECA2E3EA8EF9475B29A6E7003951E1097A5C38D23B7A5FAD9F6844"
     "B22C97559E2723C7CBBD3FE4FC8D9A0744652A83E72A9C461876AF4D7EF1A117"},
    {"set 1 vector 0, stream[192..255]",
     "8000000000000000000000000000000000000000000000000000000000000000", "0000000000000000", 192,
     "57BE81F47B17D9AE7C4FF15429A73E10ACF250ED3A90A93C711308A74C6216A9"
     "ED84CD126DA7F28E8ABF8BB63517E1CA98E712F4FB2E1A6AED9FDC73291FAA17"},
    {"set 1 vector 9, stream[0..63]",
     "0040000000000000000000000000000000000000000000000000000000000000", "0000000000000000", 0,
     "01F191C3A1F2CC6EBED78095A05E062E1228154AF6BAE80A0E1A61DF2AE15FBC"
     "C37286440F66780761413F23B0C2C9E4678C628C5E7FB48C6EC1D82D47117D9F"},
    {"set 6 vector 0, stream[0..63] (non-zero nonce)",
     "0053A6F94C9FF24598EB3E91E4378ADD3083D6297CCF2275C81B6EC11467BA0D", "0D74DB42A91077DE", 0,
     "F5FAD53F79F9DF58C4AEA0D0ED9A9601F278112CA7180D565B420A48019670EA"
     "F24CE493A86263F677B46ACE1924773D2BB25571E1AA8593758FC382B1280B71"},
};

TEST(Salsa20, TwentyRoundsMatchThePublishedVectors) {
    for (const Vector& v : kVectors) {
        EXPECT_EQ(keystreamAt<20>(fromHex(v.key), fromHex(v.nonce), v.offset), fromHex(v.stream))
            << v.name;
    }
}

TEST(Salsa20, StateLayoutFollowsTheReference) {
    std::array<uint8_t, 32> key{};
    for (size_t i = 0; i < key.size(); ++i) {
        key[i] = static_cast<uint8_t>(i + 1);
    }
    const uint8_t nonce[8] = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17};
    qel::Salsa20<4> s;
    s.keySetup(key.data());
    s.setCounter(0x123456789ull);
    s.nonceSetup(nonce);
    const uint32_t* w = s.words();
    EXPECT_EQ(w[0], 0x61707865u);
    EXPECT_EQ(w[5], 0x3320646Eu);
    EXPECT_EQ(w[10], 0x79622D32u);
    EXPECT_EQ(w[15], 0x6B206574u);
    EXPECT_EQ(w[1], 0x04030201u);   // key bytes 0..3
    EXPECT_EQ(w[4], 0x100F0E0Du);   // key bytes 12..15
    EXPECT_EQ(w[11], 0x14131211u);  // key bytes 16..19
    EXPECT_EQ(w[14], 0x201F1E1Du);  // key bytes 28..31
    EXPECT_EQ(w[6], 0x13121110u);
    EXPECT_EQ(w[7], 0x17161514u);
    EXPECT_EQ(w[8], 0u);  // nonce setup restarts the counter
    EXPECT_EQ(w[9], 0u);
}

TEST(Salsa20, CounterCarriesIntoTheHighWord) {
    const auto key = fromHex("0053A6F94C9FF24598EB3E91E4378ADD3083D6297CCF2275C81B6EC11467BA0D");
    qel::Salsa20<4> s;
    s.keySetup(key.data());
    const uint8_t nonce[8] = {};
    s.nonceSetup(nonce);
    s.setCounter(0xFFFFFFFFull);
    uint8_t block[64];
    s.keystreamBlock(block);
    EXPECT_EQ(s.words()[8], 0u);
    EXPECT_EQ(s.words()[9], 1u);
}

// Reference for the reduced cipher, written from the definition: `doubleRounds`
// double rounds of the Salsa20 core over the state, then the state added back.
std::array<uint8_t, 64> referenceBlock(const uint32_t* state, int doubleRounds) {
    auto r = [](uint32_t v, int c) { return (v << c) | (v >> (32 - c)); };
    uint32_t x[16];
    std::memcpy(x, state, sizeof x);
    auto qr = [&](int a, int b, int c, int d) {
        x[b] ^= r(x[a] + x[d], 7);
        x[c] ^= r(x[b] + x[a], 9);
        x[d] ^= r(x[c] + x[b], 13);
        x[a] ^= r(x[d] + x[c], 18);
    };
    for (int i = 0; i < doubleRounds; ++i) {
        qr(0, 4, 8, 12), qr(5, 9, 13, 1), qr(10, 14, 2, 6), qr(15, 3, 7, 11);
        qr(0, 1, 2, 3), qr(5, 6, 7, 4), qr(10, 11, 8, 9), qr(15, 12, 13, 14);
    }
    std::array<uint8_t, 64> out{};
    for (int i = 0; i < 16; ++i) {
        const uint32_t v = x[i] + state[i];
        for (int b = 0; b < 4; ++b) {
            out[static_cast<size_t>(4 * i + b)] = static_cast<uint8_t>(v >> (8 * b));
        }
    }
    return out;
}

TEST(Salsa20, VoiceCipherRunsTwoDoubleRounds) {
    const auto key = fromHex("0053A6F94C9FF24598EB3E91E4378ADD3083D6297CCF2275C81B6EC11467BA0D");
    const auto nonce = fromHex("0D74DB42A91077DE");
    qel::VoiceCipherState s;
    s.keySetup(key.data());
    s.nonceSetup(nonce.data());
    uint32_t state[16];
    std::memcpy(state, s.words(), sizeof state);

    std::array<uint8_t, 64> block{};
    s.keystreamBlock(block.data());
    EXPECT_EQ(block, referenceBlock(state, 2));
    EXPECT_NE(block, referenceBlock(state, 10));  // not the standard 20 rounds
    EXPECT_NE(block, referenceBlock(state, 1));
}

TEST(Salsa20, PartialBlockUsesTheFrontOfAFullBlock) {
    const auto key = fromHex("8000000000000000000000000000000000000000000000000000000000000000");
    const auto nonce = fromHex("0001020304050607");
    const auto full = keystreamAt<4>(key, nonce, 64);  // block 1
    const auto first = keystreamAt<4>(key, nonce, 0);  // block 0

    // A 65-byte frame: 64 bytes of block 0, then the first byte of block 1.
    qel::VoiceCipherState s;
    s.keySetup(key.data());
    s.nonceSetup(nonce.data());
    std::vector<uint8_t> frame(65, 0);
    s.crypt(frame.data(), frame.size());
    EXPECT_TRUE(std::equal(first.begin(), first.end(), frame.begin()));
    EXPECT_EQ(frame[64], full[0]);
    EXPECT_EQ(s.words()[8], 2u);  // two keystream blocks used

    // Zero bytes cost nothing.
    s.crypt(frame.data(), 0);
    EXPECT_EQ(s.words()[8], 2u);
}

}  // namespace
