#include <gtest/gtest.h>

#include <array>
#include <set>

#include "platform/random.h"

namespace {

TEST(Random, WordsDifferBetweenCalls) {
    std::set<uint32_t> seen;
    for (int i = 0; i < 64; ++i) {
        seen.insert(platform::randomWord());
    }
    // 64 draws of 32 bits: a repeat has a chance of about 5e-7.
    EXPECT_GE(seen.size(), 63u);
}

TEST(Random, BytesCoverEveryBitPosition) {
    std::array<unsigned char, 4096> bytes{};
    ASSERT_TRUE(platform::randomBytes(bytes.data(), bytes.size()));
    // Each bit position is set in about half the bytes; a stuck or unwritten buffer
    // fails this at once.
    for (int bit = 0; bit < 8; ++bit) {
        int ones = 0;
        for (unsigned char b : bytes) {
            ones += (b >> bit) & 1;
        }
        EXPECT_GT(ones, 1800) << "bit " << bit;
        EXPECT_LT(ones, 2300) << "bit " << bit;
    }
    EXPECT_TRUE(platform::randomBytes(bytes.data(), 0));
}

}  // namespace
