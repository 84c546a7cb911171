// Salsa20 stream cipher with a 32-byte key, its round count fixed at compile time.
//
// The voice path runs it with 4 rounds (VoiceCipherState below): each voice packet is
// short-lived and carries its own nonce, and the server speaks this reduced form. The
// round count is a template parameter so the same code can be checked against the
// published 20-round test vectors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qel {

template <int Rounds>
class Salsa20 {
    static_assert(Rounds > 0 && Rounds % 2 == 0, "Salsa20 runs whole double rounds");

public:
    static constexpr size_t kKeyBytes = 32;
    static constexpr size_t kNonceBytes = 8;
    static constexpr size_t kBlockBytes = 64;

    // Writes the constants "expand 32-byte k" and the key words; nonce and counter
    // stay as they were until nonceSetup.
    void keySetup(const uint8_t* key) noexcept {
        m_state[0] = 0x61707865u;  // "expa"
        m_state[5] = 0x3320646Eu;  // "nd 3"
        m_state[10] = 0x79622D32u; // "2-by"
        m_state[15] = 0x6B206574u; // "te k"
        for (int i = 0; i < 4; ++i) {
            m_state[1 + i] = load32(key + 4 * i);
            m_state[11 + i] = load32(key + 16 + 4 * i);
        }
    }

    // Sets the 8 nonce bytes (words 6 and 7) and restarts the block counter at 0.
    void nonceSetup(const uint8_t* nonce) noexcept {
        m_state[6] = load32(nonce);
        m_state[7] = load32(nonce + 4);
        m_state[8] = 0;
        m_state[9] = 0;
    }

    // XORs the keystream over `count` bytes in place; enciphers and deciphers alike.
    // A final partial block uses the first bytes of a full keystream block and still
    // advances the counter by one.
    void crypt(uint8_t* bytes, size_t count) noexcept {
        uint8_t block[kBlockBytes];
        while (count > 0) {
            keystreamBlock(block);
            const size_t n = count < kBlockBytes ? count : kBlockBytes;
            xorBytes(bytes, block, n);
            bytes += n;
            count -= n;
        }
    }

    // One 64-byte keystream block at the current counter, then the counter advances
    // (word 8 carries into word 9).
    void keystreamBlock(uint8_t* out) noexcept {
        uint32_t x[16];
        std::memcpy(x, m_state, sizeof x);
        for (int i = 0; i < Rounds; i += 2) {
            // Column round.
            quarter(x[0], x[4], x[8], x[12]);
            quarter(x[5], x[9], x[13], x[1]);
            quarter(x[10], x[14], x[2], x[6]);
            quarter(x[15], x[3], x[7], x[11]);
            // Row round.
            quarter(x[0], x[1], x[2], x[3]);
            quarter(x[5], x[6], x[7], x[4]);
            quarter(x[10], x[11], x[8], x[9]);
            quarter(x[15], x[12], x[13], x[14]);
        }
        for (int i = 0; i < 16; ++i) {
            store32(out + 4 * i, x[i] + m_state[i]);
        }
        if (++m_state[8] == 0) {
            ++m_state[9];
        }
    }

    // The sixteen state words (for tests and diagnostics).
    const uint32_t* words() const noexcept { return m_state; }
    void setCounter(uint64_t counter) noexcept {
        m_state[8] = static_cast<uint32_t>(counter);
        m_state[9] = static_cast<uint32_t>(counter >> 32);
    }

private:
    static uint32_t rotl(uint32_t v, int c) noexcept { return (v << c) | (v >> (32 - c)); }

    static void quarter(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d) noexcept {
        b ^= rotl(a + d, 7);
        c ^= rotl(b + a, 9);
        d ^= rotl(c + b, 13);
        a ^= rotl(d + c, 18);
    }

    static uint32_t load32(const uint8_t* p) noexcept {
        return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
    }

    static void store32(uint8_t* p, uint32_t v) noexcept {
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
        p[2] = static_cast<uint8_t>(v >> 16);
        p[3] = static_cast<uint8_t>(v >> 24);
    }

    // Eight bytes at a time through memcpy, which compilers turn into plain loads and
    // stores without alignment assumptions.
    static void xorBytes(uint8_t* dst, const uint8_t* key, size_t n) noexcept {
        size_t i = 0;
        for (; i + 8 <= n; i += 8) {
            uint64_t a;
            uint64_t b;
            std::memcpy(&a, dst + i, 8);
            std::memcpy(&b, key + i, 8);
            a ^= b;
            std::memcpy(dst + i, &a, 8);
        }
        for (; i < n; ++i) {
            dst[i] ^= key[i];
        }
    }

    uint32_t m_state[16] = {};
};

// The voice path's cipher: Salsa20 reduced to 4 rounds (2 double rounds).
using VoiceCipherState = Salsa20<4>;

}  // namespace qel
