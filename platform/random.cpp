#include "platform/random.h"

#include <atomic>

#include "platform/clock.h"

namespace platform {

uint32_t randomWord() noexcept {
    uint32_t word = 0;
    if (randomBytes(&word, sizeof word)) {
        return word;
    }
    // Not cryptographic, only distinct: the clock, a per-process address and a
    // counter through a 32-bit mixer (the finaliser of MurmurHash3).
    static std::atomic<uint32_t> counter{0};
    uint32_t x = nowMs() ^ static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&counter)) ^
                 (counter.fetch_add(0x9E3779B9u, std::memory_order_relaxed));
    x ^= x >> 16;
    x *= 0x85EBCA6Bu;
    x ^= x >> 13;
    x *= 0xC2B2AE35u;
    x ^= x >> 16;
    return x;
}

}  // namespace platform
