// Random words from the operating system's random source.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Fills `size` bytes with random bytes from the system's cryptographic source
// (getrandom on Linux, RtlGenRandom on Windows). Returns false only when the system
// refused; the buffer is then left with whatever was written. Thread-safe, may block
// briefly at boot until the kernel's pool is ready, never on a running system.
[[nodiscard]] bool randomBytes(void* out, size_t size) noexcept;

// A 32-bit random word from randomBytes. If the system source fails, falls back to a
// mix of the clock and an address so the result still differs between calls.
uint32_t randomWord() noexcept;

}  // namespace platform
