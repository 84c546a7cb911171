// The server's pseudo-random source: every choice (tokens, keys, nonce words,
// impairment) comes from a generator seeded once, so a run can be repeated exactly by
// giving the same --seed and the same traffic.
#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace qelserver {

class SeededRandom {
  public:
    explicit SeededRandom(uint64_t seed) : m_engine(seed) {}

    uint32_t next32() { return static_cast<uint32_t>(m_engine()); }

    // Uniform in [0, bound]; bound 0 gives 0.
    uint32_t upTo(uint32_t bound) {
        return std::uniform_int_distribution<uint32_t>(0, bound)(m_engine);
    }

    // True with the given chance in percent (0 never, 100 always).
    bool chance(double percent) {
        if (percent <= 0) {
            return false;
        }
        return std::uniform_real_distribution<double>(0, 100)(m_engine) < percent;
    }

    // `length` characters from letters and digits: a key that survives any text path.
    std::string text(size_t length) {
        static constexpr char kAlphabet[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        std::string out(length, ' ');
        for (char& c : out) {
            c = kAlphabet[upTo(sizeof(kAlphabet) - 2)];
        }
        return out;
    }

  private:
    std::mt19937_64 m_engine;
};

}  // namespace qelserver
